// ToolMan events: listener registration and the mouse position of an event.
(function () {
  'use strict';
  const ToolMan = (window.ToolMan = window.ToolMan || {});

  const events = {
    register(element, type, handler, options) {
      if (element && element.addEventListener) element.addEventListener(type, handler, options);
    },
    unregister(element, type, handler, options) {
      if (element && element.removeEventListener) element.removeEventListener(type, handler, options);
    },
    fix(event) {
      return event || window.event || null;
    },
    stop(event) {
      if (!event) return;
      event.preventDefault();
      event.stopPropagation();
    },
    // Page position (document coordinates) of a mouse event.
    pagePosition(event) {
      return { x: event.pageX, y: event.pageY };
    },
  };

  ToolMan.events = function () {
    return events;
  };
})();
