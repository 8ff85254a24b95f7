// The mix menu, the tag selector and the choosers of schedule items.
// A chooser is the element whose id mixclick/selectorclick get ("itemmix_..."
// of a schedule item, "newmix" of the item editor); the id is left as the text
// of the page's hidden "currentitem", where the window reads it.
(function () {
  'use strict';

  function byId(id) {
    return typeof id === 'string' ? document.getElementById(id) : id || null;
  }

  // A list shown takes its menu's visibility, so a closed menu hides it too.
  function setShown(element, shown) {
    if (!element) return;
    element.style.display = shown ? 'block' : 'none';
    element.style.visibility = shown ? '' : 'hidden';
  }

  // Marks one tab of a group as selected; the group is the given ids.
  function selectTab(selectedId, ids) {
    for (const id of ids) {
      const tab = byId(id);
      if (tab) tab.classList.toggle('selected', id === selectedId);
    }
  }

  function tabFor(element, fallbackId) {
    return element && element.id ? element.id : fallbackId;
  }

  const MIX_TYPES = ['iplaylist', 'zorvamix'];
  const TAG_TYPES = ['genre', 'artist', 'album'];

  // Shows the mix list of one type ("iplaylist" or "zorvamix") in the mix menu.
  window.changemixtype = function (element, type) {
    type = String(type);
    if (!MIX_TYPES.includes(type)) return false;
    for (const other of MIX_TYPES) setShown(byId(other + 'links'), other === type);
    selectTab(tabFor(element, 'show' + type), MIX_TYPES.map((t) => 'show' + t).concat(element && element.id ? [element.id] : []));
    return false;
  };

  window.mixtypemenuover = function (element) {
    if (element && element.classList) element.classList.add('hover');
  };

  window.mixtypemenuout = function (element) {
    if (element && element.classList) element.classList.remove('hover');
  };

  // Shows the tag list of one type ("genre", "artist" or "album") in the selector.
  window.changeselector = function (element, type) {
    type = String(type);
    if (!TAG_TYPES.includes(type)) return false;
    for (const other of TAG_TYPES) setShown(byId(other + 'taglinks'), other === type);
    selectTab(tabFor(element, 'show' + type), TAG_TYPES.map((t) => 'show' + t).concat(element && element.id ? [element.id] : []));
    return false;
  };

  function rememberChooser(chooserId) {
    const holder = byId('currentitem');
    if (!holder) return;
    if ('value' in holder && holder.tagName === 'INPUT') holder.value = chooserId;
    holder.textContent = chooserId;
  }

  function openAt(menuName, chooserId) {
    const menus = window.ypSlideOutMenu;
    if (!menus) return;
    if (menus.hideAll) menus.hideAll();
    if (menus.showMenuAttached) menus.showMenuAttached(menuName, chooserId);
  }

  // Opens the mix menu (menuName) at a chooser and remembers the chooser.
  window.mixclick = function (menuName, chooserId) {
    chooserId = String(chooserId);
    rememberChooser(chooserId);
    openAt(String(menuName), chooserId);
    return false;
  };

  // Opens the tag selector at a chooser, remembers the chooser and tells the
  // program whose tags to mark ("itemmix_" + mix id).
  window.selectorclick = function (menuName, chooserId, mixArgument) {
    chooserId = String(chooserId);
    rememberChooser(chooserId);
    openAt(String(menuName), chooserId);
    try {
      if (window.external && typeof window.external.SetSelectorMix !== 'undefined') {
        window.external.SetSelectorMix(String(mixArgument));
      }
    } catch (error) {
      // Outside the program there is nobody to tell.
    }
    return false;
  };

  // Hover look of a chooser (given by id) or of a list holder (given as element).
  function hover(target, on) {
    const element = byId(target);
    if (!element) return;
    element.classList.toggle('hover', on);
    const image = document.getElementById(element.id + '_img');
    if (image && image.tagName === 'IMG') {
      image.src = on ? 'skin/automator_mix_over.gif' : 'skin/automator_mix.gif';
    }
  }

  window.mixover = function (target) {
    hover(target, true);
  };

  window.mixout = function (target) {
    hover(target, false);
  };

  // A minimum-track-count filter for the tag lists: the value goes to the program.
  window.frequencyfilter = function (threshold) {
    const value = parseInt(threshold, 10);
    if (!Number.isFinite(value)) return;
    try {
      if (window.external && typeof window.external.FrequecyHider !== 'undefined') {
        window.external.FrequecyHider(value);
      }
    } catch (error) {
      // Outside the program the filter has no effect.
    }
  };
})();
