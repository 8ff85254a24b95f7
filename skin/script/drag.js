// ToolMan drag: drag groups. A group moves its element by a handle and,
// given a resize handle, changes the element's size by it. Listeners get one
// drag event object: { type, group, element, event, mouse, delta, position, size }.
// Transforms get (coordinate, dragEvent) and return the coordinate to use
// (a new one, or the one they were given after changing it): while moving the
// coordinate is the element's top left position, while resizing its size.
(function () {
  'use strict';
  const ToolMan = (window.ToolMan = window.ToolMan || {});

  function point(x, y) {
    const coordinates = ToolMan.coordinates && ToolMan.coordinates();
    return coordinates ? coordinates.create(x, y) : { x, y };
  }

  function styleNumber(element, property) {
    const value = parseFloat(window.getComputedStyle(element)[property]);
    return Number.isFinite(value) ? value : 0;
  }

  // A click that ends a real drag is not a click on what lies under the mouse.
  function swallowNextClick() {
    const swallow = (event) => {
      event.stopPropagation();
      event.preventDefault();
    };
    window.addEventListener('click', swallow, true);
    setTimeout(() => window.removeEventListener('click', swallow, true), 0);
  }

  class DragGroup {
    constructor(element, handle, resizeHandle) {
      this.element = element;
      this.handle = handle || element;
      this.resizeHandle = resizeHandle || null;
      this.axis = null; // null, 'vertical' or 'horizontal'
      this.transforms = [];
      this.listeners = {};
      this.threshold = 3;
      this.active = null;
      element.toolManDragGroup = this;
      this._onMove = (event) => this._move(event);
      this._onUp = (event) => this._end(event);
      this.handle.addEventListener('mousedown', (event) => this._begin(event, 'drag'));
      if (this.resizeHandle) {
        this.resizeHandle.addEventListener('mousedown', (event) => this._begin(event, 'size'));
      }
    }

    verticalOnly() {
      this.axis = 'vertical';
      return this;
    }
    horizontalOnly() {
      this.axis = 'horizontal';
      return this;
    }
    setThreshold(pixels) {
      this.threshold = Number(pixels) || 0;
      return this;
    }
    addTransform(fn) {
      if (typeof fn === 'function') this.transforms.push(fn);
      return this;
    }
    // Events: dragstart, dragmove, dragend, sizestart, sizemove, sizeend.
    register(type, fn) {
      if (typeof fn !== 'function') return this;
      (this.listeners[type] = this.listeners[type] || []).push(fn);
      return this;
    }
    unregister(type, fn) {
      const list = this.listeners[type];
      if (list) this.listeners[type] = list.filter((f) => f !== fn);
      return this;
    }

    _fire(type, event, extra) {
      const dragEvent = Object.assign(
        { type, group: this, element: this.element, event: event || null },
        extra || {}
      );
      for (const fn of (this.listeners[type] || []).slice()) {
        try {
          fn(dragEvent);
        } catch (error) {
          // A failing listener must not leave the drag half done.
          setTimeout(() => {
            throw error;
          }, 0);
        }
      }
      return dragEvent;
    }

    _transform(coordinate, dragEvent) {
      for (const fn of this.transforms) {
        const result = fn(coordinate, dragEvent);
        if (result && typeof result === 'object' && 'y' in result) coordinate = result;
        else if (typeof result === 'number') coordinate = point(coordinate.x, result);
      }
      return coordinate;
    }

    _begin(event, mode) {
      if (event.button !== 0) return;
      const target = event.target;
      if (target && target.closest && target.closest('input, select, textarea, option')) return;
      if (mode === 'drag' && this.resizeHandle && this.resizeHandle.contains(target)) return;
      event.preventDefault();
      event.stopPropagation();
      const element = this.element;
      if (mode === 'drag' && window.getComputedStyle(element).position === 'static') {
        element.style.position = 'relative';
      }
      this.active = {
        mode,
        started: false,
        mouse: point(event.pageX, event.pageY),
        position: point(styleNumber(element, 'left'), styleNumber(element, 'top')),
        size: point(element.offsetWidth, element.offsetHeight),
      };
      document.addEventListener('mousemove', this._onMove, true);
      document.addEventListener('mouseup', this._onUp, true);
    }

    _move(event) {
      const active = this.active;
      if (!active) return;
      event.preventDefault();
      let dx = event.pageX - active.mouse.x;
      let dy = event.pageY - active.mouse.y;
      if (this.axis === 'vertical') dx = 0;
      if (this.axis === 'horizontal') dy = 0;
      if (!active.started) {
        if (Math.abs(dx) < this.threshold && Math.abs(dy) < this.threshold) return;
        active.started = true;
        ToolMan.css && ToolMan.css().addClass(this.element, active.mode === 'drag' ? 'dragging' : 'sizing');
        this._fire(active.mode + 'start', event, { mouse: point(event.pageX, event.pageY) });
      }
      const extra = { mouse: point(event.pageX, event.pageY), delta: point(dx, dy) };
      if (active.mode === 'drag') {
        let position = point(active.position.x + dx, active.position.y + dy);
        position = this._transform(position, Object.assign({ type: 'transform', group: this }, extra));
        if (this.axis !== 'vertical') this.element.style.left = position.x + 'px';
        if (this.axis !== 'horizontal') this.element.style.top = position.y + 'px';
        extra.position = position;
      } else {
        let size = point(Math.max(4, active.size.x + dx), Math.max(4, active.size.y + dy));
        size = this._transform(size, Object.assign({ type: 'transform', group: this }, extra));
        if (this.axis !== 'vertical') this.element.style.width = Math.max(4, size.x) + 'px';
        if (this.axis !== 'horizontal') this.element.style.height = Math.max(4, size.y) + 'px';
        extra.size = size;
      }
      this._fire(active.mode + 'move', event, extra);
    }

    _end(event) {
      const active = this.active;
      this.active = null;
      document.removeEventListener('mousemove', this._onMove, true);
      document.removeEventListener('mouseup', this._onUp, true);
      if (!active || !active.started) return;
      ToolMan.css && ToolMan.css().removeClass(this.element, active.mode === 'drag' ? 'dragging' : 'sizing');
      swallowNextClick();
      this._fire(active.mode + 'end', event, { mouse: point(event.pageX, event.pageY) });
    }
  }

  const drag = {
    DragGroup,
    // A group that moves element by handle (default: the element itself)
    // and resizes it by resizeHandle (optional).
    createSimpleGroup(element, handle, resizeHandle) {
      element = ToolMan.element ? ToolMan.element(element) : element;
      if (!element) return null;
      if (element.toolManDragGroup) return element.toolManDragGroup;
      return new DragGroup(
        element,
        (ToolMan.element ? ToolMan.element(handle) : handle) || element,
        ToolMan.element ? ToolMan.element(resizeHandle) : resizeHandle
      );
    },
  };

  ToolMan.drag = function () {
    return drag;
  };
})();
