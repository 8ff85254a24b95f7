// The Lab pages' script, also used by the settings and companion pages for
// their tabs: hover looks of the program's holders, tabs (changeviewtype),
// anchors (setlocation), editing a title in place (join), the search box,
// the new-tag box and its type menu, and the picture viewer.
(function () {
  'use strict';

  function byId(elementOrId) {
    return typeof elementOrId === 'string' ? document.getElementById(elementOrId) : elementOrId || null;
  }

  function callPage(name, ...args) {
    const fn = window[name];
    if (typeof fn === 'function') return fn(...args);
    return undefined;
  }

  function setGlobal(name, value) {
    try {
      // Assigns the page's own binding, whether var, let or a plain global.
      Function('v', name + ' = v')(value);
    } catch (error) {
      window[name] = value;
    }
  }

  function external(method, ...args) {
    try {
      if (window.external && typeof window.external[method] !== 'undefined') {
        window.external[method](...args);
      }
    } catch (error) {
      // Outside the program nothing listens.
    }
  }

  // ------------------------------------------------------------ hover looks
  function hoverClass(element, on) {
    element = byId(element);
    if (element && element.classList) element.classList.toggle('hover', on);
    return element;
  }

  function swapCaps(holder, on) {
    if (!holder || !holder.querySelectorAll) return;
    for (const image of holder.querySelectorAll('img.labtaggoimg, img.deletetagimg')) {
      const base = image.classList.contains('labtaggoimg') ? 'skin/tagleft' : 'skin/tagright';
      image.src = base + (on ? '_over.gif' : '.gif');
    }
  }

  window.tagover = (element) => swapCaps(hoverClass(element, true), true);
  window.tagout = (element) => swapCaps(hoverClass(element, false), false);
  window.searchtagover = (element) => swapCaps(hoverClass(element, true), true);
  window.searchtagout = (element) => swapCaps(hoverClass(element, false), false);
  window.addtagover = (element) => hoverClass(element, true);
  window.addtagout = (element) => hoverClass(element, false);
  window.trackover = (element) => hoverClass(element, true);
  window.trackout = (element) => hoverClass(element, false);
  window.dumptrackover = (element) => hoverClass(element, true);
  window.dumptrackout = (element) => hoverClass(element, false);
  window.searchtrackover = (element) => hoverClass(element, true);
  window.searchtrackout = (element) => hoverClass(element, false);
  window.mixover = (element) => hoverClass(element, true);
  window.mixout = (element) => hoverClass(element, false);
  window.titleover = (element) => hoverClass(element || 'breadcrumbs', true);
  window.titleout = (element) => hoverClass(element || 'breadcrumbs', false);

  // Three-part buttons: a holder whose first three children are left, middle, right.
  function buttonLook(element, suffix) {
    element = byId(element);
    if (!element) return;
    const parts = element.children;
    const names = ['addtagleft', 'tagmiddle', 'addtagright'];
    for (let i = 0; i < 3 && i < parts.length; i++) {
      parts[i].style.backgroundImage = 'url(skin/' + names[i] + suffix + '.gif)';
    }
  }
  window.buttonover = (element) => buttonLook(element, '_over');
  window.buttonout = (element) => buttonLook(element, '');

  // ------------------------------------------------------------ tabs and anchors
  // Shows "view_" + name, hides the other views, selects "tab_" + name.
  window.changeviewtype = function (name) {
    name = String(name);
    for (const view of Array.from(document.querySelectorAll('[id^="view_"]'))) {
      const shown = view.id === 'view_' + name;
      view.style.display = shown ? 'block' : 'none';
      view.style.visibility = shown ? 'visible' : 'hidden';
    }
    for (const tab of Array.from(document.querySelectorAll('[id^="tab_"]'))) {
      tab.classList.toggle('selected', tab.id === 'tab_' + name);
    }
    setGlobal('currenttype', name);
    callPage('updatecurrentview');
    return false;
  };

  // Scrolls to an anchor (an id or a named link); an unknown anchor changes nothing.
  window.setlocation = function (anchor) {
    anchor = String(anchor || '');
    if (!anchor) return;
    const target = document.getElementById(anchor) || document.getElementsByName(anchor)[0];
    if (target && target.scrollIntoView) target.scrollIntoView({ block: 'start' });
  };

  // ------------------------------------------------------------ edit in place
  const ESCAPE = 27;
  const ENTER = 13;
  const TAB = 9;

  function editorFor(view) {
    let editor = document.getElementById(view.id + 'Edit');
    if (!editor) {
      editor = document.createElement('input');
      editor.type = 'text';
      editor.id = view.id + 'Edit';
      editor.className = 'editinplace';
      document.body.appendChild(editor);
    }
    if (!editor.editInPlaceReady) {
      editor.editInPlaceReady = true;
      editor.style.display = 'none';
      editor.addEventListener('keydown', (event) => {
        if (event.keyCode === ENTER || event.keyCode === TAB) {
          event.preventDefault();
          editor.blur();
        }
      });
      editor.addEventListener('keyup', (event) => {
        if (event.keyCode === ESCAPE) {
          editor.editAbandoned = true;
          editor.blur();
        }
      });
      editor.addEventListener('blur', () => closeEditor(editor));
    }
    return editor;
  }

  function openEditor(view, event) {
    const editor = editorFor(view);
    if (editor.editView && editor.editView !== view) editor.blur();
    editor.editView = view;
    editor.editAbandoned = false;
    const box = view.getBoundingClientRect();
    editor.style.display = 'block';
    editor.style.position = 'absolute';
    editor.style.boxSizing = 'border-box';
    editor.style.width = Math.max(60, box.width) + 'px';
    if (editor.tagName === 'TEXTAREA') editor.style.height = box.height + 'px';
    const place = window.ToolMan && window.ToolMan.coordinates;
    if (place) {
      place().topLeftOffset(view).reposition(editor);
    } else {
      editor.style.left = box.left + window.scrollX + 'px';
      editor.style.top = box.top + window.scrollY + 'px';
    }
    editor.value = view.textContent.trim();
    view.style.visibility = 'hidden';
    editor.focus();
    editor.select();
    if (event) {
      event.preventDefault();
      event.stopPropagation();
    }
  }

  function closeEditor(editor) {
    const view = editor.editView;
    if (!view) return;
    editor.editView = null;
    if (!editor.editAbandoned) {
      view.textContent = editor.value;
      external('EditInPlaceUpdate', view.id, view.textContent);
    }
    editor.editAbandoned = false;
    editor.style.display = 'none';
    editor.value = '';
    view.style.visibility = 'visible';
  }

  // Makes the element editable in place by a click (or a double click).
  window.join = function (elementId, onDoubleClick) {
    const view = byId(elementId);
    if (!view || !view.id) return;
    const eventName = onDoubleClick ? 'dblclick' : 'click';
    if (view.editInPlaceJoined === eventName) return;
    view.editInPlaceJoined = eventName;
    view.classList.add('editable');
    view.addEventListener(eventName, (event) => {
      if (view.editInPlaceJoined === eventName) openEditor(view, event);
    });
  };

  // ------------------------------------------------------------ search and new tags
  window.clearsearch = function () {
    const box = byId('searchbox');
    if (box) box.value = '';
    for (const id of ['findgenretags', 'findartisttags', 'findalbumtags', 'findtracklist']) {
      const list = byId(id);
      if (list) list.innerHTML = '';
    }
    if (window.ypSlideOutMenu) window.ypSlideOutMenu.hide('find');
    if (box) box.focus();
    return false;
  };

  const NEW_TAG_PROMPT = 'type selector here';

  window.newtagclick = function () {
    const box = byId('newtag');
    if (!box) return;
    if (box.value === NEW_TAG_PROMPT) box.value = '';
    box.focus();
  };

  // Enter in the new-tag box submits it.
  window.newtagkeypress = function (event) {
    event = event || window.event;
    if (event && (event.keyCode === ENTER || event.key === 'Enter')) {
      const submit = byId('newtagsubmit');
      if (submit) submit.click();
      return false;
    }
    return true;
  };

  window.changetagtype = function (type) {
    const text = byId('tagtypetext');
    if (text) text.textContent = String(type);
    if (window.ypSlideOutMenu) window.ypSlideOutMenu.hideAll();
    return false;
  };

  // ------------------------------------------------------------ tabs' contents
  function lookupText() {
    const lookup = byId('lablookup');
    return lookup ? lookup.textContent.trim() : '';
  }

  function linkInto(id, text, url, address = (query) => url + encodeURIComponent(query)) {
    const box = byId(id);
    if (!box) return;
    const query = lookupText();
    box.innerHTML = '';
    if (!query) return;
    const link = document.createElement('a');
    link.href = address(query);
    link.className = 'outlink';
    link.textContent = text + ' ' + query;
    box.appendChild(link);
  }

  window.getSuggestedTrackTags = function () {
    const box = byId('suggested');
    if (box) box.classList.add('loaded');
  };
  // The encyclopedia's article root is the program's ("wikiroot" of the
  // page); an article is named with underscores for blanks.
  window.getWikipedia = function () {
    const root = byId('wikiroot');
    const base = root ? root.textContent.trim() : '';
    if (!base) {
      const box = byId('wikipedia');
      if (box) box.innerHTML = '';
      return;
    }
    linkInto('wikipedia', 'Read about', base, (query) => base + encodeURIComponent(query.replace(/\s+/g, '_')));
  };
  window.getAmazon = () => linkInto('amazon', 'Shop for', 'https://www.amazon.com/s?k=');
  window.getFlickr = function () {
    linkInto('flickr', 'Pictures of', 'https://www.flickr.com/search/?text=');
    slideshow.index = 0;
  };

  // ------------------------------------------------------------ picture viewer
  const slideshow = { index: 0, timer: 0 };

  function pictures() {
    const holder = byId('flickr');
    return holder ? Array.from(holder.querySelectorAll('img')) : [];
  }

  function showPicture(step) {
    const all = pictures();
    const big = byId('bigimage');
    if (!all.length || !big) return;
    slideshow.index = (slideshow.index + step + all.length) % all.length;
    const source = all[slideshow.index].src;
    if (big.tagName === 'IMG') big.src = source;
    else big.style.backgroundImage = 'url(' + source + ')';
    big.style.display = 'block';
  }

  window.hidebigimage = function () {
    const big = byId('bigimage');
    if (big) big.style.display = 'none';
    if (slideshow.timer) clearInterval(slideshow.timer);
    slideshow.timer = 0;
  };
  window.slideshowback = () => showPicture(-1);
  window.slideshownext = () => showPicture(1);
  window.toggleslideshow = function () {
    if (slideshow.timer) {
      clearInterval(slideshow.timer);
      slideshow.timer = 0;
      return;
    }
    showPicture(0);
    slideshow.timer = setInterval(() => showPicture(1), 4000);
  };

  // Restarts the logo's animation.
  window.reanimate = function () {
    const logo = byId('logo');
    if (logo && logo.tagName === 'IMG') logo.src = logo.src;
  };
})();
