// ToolMan css: class-list helpers and read access to computed styles.
(function () {
  'use strict';
  const ToolMan = (window.ToolMan = window.ToolMan || {});

  const css = {
    hasClass(element, name) {
      return !!(element && element.classList && element.classList.contains(name));
    },
    addClass(element, name) {
      if (element && element.classList) element.classList.add(name);
    },
    removeClass(element, name) {
      if (element && element.classList) element.classList.remove(name);
    },
    toggleClass(element, name, on) {
      if (element && element.classList) element.classList.toggle(name, on);
    },
    readStyle(element, property) {
      if (!element) return '';
      return window.getComputedStyle(element).getPropertyValue(property);
    },
    // Hides or shows an element the way the pages do: display and visibility together.
    show(element, display) {
      if (!element) return;
      element.style.display = display || 'block';
      element.style.visibility = 'visible';
    },
    hide(element) {
      if (!element) return;
      element.style.display = 'none';
      element.style.visibility = 'hidden';
    },
  };

  ToolMan.css = function () {
    return css;
  };
})();
