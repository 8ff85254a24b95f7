// A few shorthands for the Lab pages' inline script: element lookup, input
// values, show and hide, class names, and a plain request helper.
(function () {
  'use strict';

  function $(...ids) {
    const found = ids.map((id) => (typeof id === 'string' ? document.getElementById(id) : id));
    return ids.length === 1 ? found[0] : found;
  }

  window.$ = $;
  window.$$ = (selector) => Array.from(document.querySelectorAll(selector));
  window.$F = function (id) {
    const element = $(id);
    return element && 'value' in element ? element.value : null;
  };

  window.Element = window.Element || {};
  Object.assign(window.Element, {
    show(...ids) {
      for (const element of ids.map((id) => $(id))) if (element) element.style.display = '';
    },
    hide(...ids) {
      for (const element of ids.map((id) => $(id))) if (element) element.style.display = 'none';
    },
    toggle(...ids) {
      for (const element of ids.map((id) => $(id))) {
        if (element) element.style.display = element.style.display === 'none' ? '' : 'none';
      }
    },
    visible(id) {
      const element = $(id);
      return !!element && element.style.display !== 'none';
    },
    addClassName(id, name) {
      const element = $(id);
      if (element) element.classList.add(name);
    },
    removeClassName(id, name) {
      const element = $(id);
      if (element) element.classList.remove(name);
    },
    hasClassName(id, name) {
      const element = $(id);
      return !!element && element.classList.contains(name);
    },
    update(id, html) {
      const element = $(id);
      if (element) element.innerHTML = html === undefined ? '' : String(html);
    },
  });

  // new Ajax.Request(url, { method, parameters, onSuccess, onFailure, onComplete })
  window.Ajax = window.Ajax || {};
  window.Ajax.Request = function (url, options) {
    options = options || {};
    const request = new XMLHttpRequest();
    const method = (options.method || 'get').toUpperCase();
    let body = null;
    if (options.parameters) {
      const params =
        typeof options.parameters === 'string' ? options.parameters : new URLSearchParams(options.parameters).toString();
      if (method === 'GET') url += (url.includes('?') ? '&' : '?') + params;
      else body = params;
    }
    request.open(method, url, options.asynchronous !== false);
    if (body !== null) request.setRequestHeader('Content-Type', 'application/x-www-form-urlencoded');
    request.onreadystatechange = () => {
      if (request.readyState !== 4) return;
      const ok = request.status >= 200 && request.status < 300;
      const handler = ok ? options.onSuccess : options.onFailure;
      if (typeof handler === 'function') handler(request);
      if (typeof options.onComplete === 'function') options.onComplete(request);
    };
    try {
      request.send(body);
    } catch (error) {
      if (typeof options.onFailure === 'function') options.onFailure(request);
    }
    this.transport = request;
  };
})();
