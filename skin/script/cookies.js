// Small remembered values of the pages. Pages from file URLs may keep no
// cookies, so the values fall back to the page's local storage.

function setCookie(name, value, days) {
  const expires = days ? '; expires=' + new Date(Date.now() + days * 864e5).toUTCString() : '';
  document.cookie = encodeURIComponent(name) + '=' + encodeURIComponent(value) + expires + '; path=/';
  try {
    window.localStorage.setItem('cookie:' + name, String(value));
  } catch (error) {
    // No storage: the cookie alone it is.
  }
}

function getCookie(name) {
  const key = encodeURIComponent(name) + '=';
  for (const part of document.cookie.split(';')) {
    const item = part.trim();
    if (item.startsWith(key)) return decodeURIComponent(item.slice(key.length));
  }
  try {
    return window.localStorage.getItem('cookie:' + name);
  } catch (error) {
    return null;
  }
}

function deleteCookie(name) {
  document.cookie = encodeURIComponent(name) + '=; expires=Thu, 01 Jan 1970 00:00:00 GMT; path=/';
  try {
    window.localStorage.removeItem('cookie:' + name);
  } catch (error) {
    // Nothing stored.
  }
}
