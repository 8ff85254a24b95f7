// ToolMan coordinates: points in page (document) coordinates and the
// operations that measure and place elements with them.
(function () {
  'use strict';
  const ToolMan = (window.ToolMan = window.ToolMan || {});

  class Coordinate {
    constructor(x, y) {
      this.x = Number(x) || 0;
      this.y = Number(y) || 0;
    }
    toString() {
      return '(' + this.x + ',' + this.y + ')';
    }
    plus(other) {
      return new Coordinate(this.x + other.x, this.y + other.y);
    }
    minus(other) {
      return new Coordinate(this.x - other.x, this.y - other.y);
    }
    min(other) {
      return new Coordinate(Math.min(this.x, other.x), Math.min(this.y, other.y));
    }
    max(other) {
      return new Coordinate(Math.max(this.x, other.x), Math.max(this.y, other.y));
    }
    constrainTo(one, two) {
      const low = one.min(two);
      const high = one.max(two);
      return this.max(low).min(high);
    }
    distance(other) {
      return Math.hypot(this.x - other.x, this.y - other.y);
    }
    equals(other) {
      return !!other && this.x === other.x && this.y === other.y;
    }
    // Moves element so that its top left corner lies at this page position,
    // whatever its offset parent is.
    reposition(element) {
      element = ToolMan.element ? ToolMan.element(element) : element;
      if (!element) return;
      const style = window.getComputedStyle(element);
      if (style.position === 'static') element.style.position = 'absolute';
      element.style.left = '0px';
      element.style.top = '0px';
      const origin = coordinates.topLeftPosition(element);
      element.style.left = Math.round(this.x - origin.x) + 'px';
      element.style.top = Math.round(this.y - origin.y) + 'px';
    }
  }

  function pageOf(element) {
    const box = element.getBoundingClientRect();
    return new Coordinate(box.left + window.scrollX, box.top + window.scrollY);
  }

  const coordinates = {
    Coordinate,
    create(x, y) {
      return new Coordinate(x, y);
    },
    origin() {
      return new Coordinate(0, 0);
    },
    // Page position of the element's top left corner.
    topLeftPosition(element) {
      element = ToolMan.element ? ToolMan.element(element) : element;
      return element ? pageOf(element) : new Coordinate(0, 0);
    },
    // The same, as the point that reposition() places another element at.
    topLeftOffset(element) {
      return coordinates.topLeftPosition(element);
    },
    bottomRightPosition(element) {
      return coordinates.topLeftPosition(element).plus(coordinates.size(element));
    },
    bottomRightOffset(element) {
      return coordinates.bottomRightPosition(element);
    },
    size(element) {
      element = ToolMan.element ? ToolMan.element(element) : element;
      if (!element) return new Coordinate(0, 0);
      return new Coordinate(element.offsetWidth, element.offsetHeight);
    },
    mousePosition(event) {
      event = event || window.event;
      return new Coordinate(event.pageX, event.pageY);
    },
    mouseOffset(event) {
      return coordinates.mousePosition(event);
    },
    clientSize() {
      return new Coordinate(document.documentElement.clientWidth, document.documentElement.clientHeight);
    },
    scrollOffset() {
      return new Coordinate(window.scrollX, window.scrollY);
    },
  };

  ToolMan.coordinates = function () {
    return coordinates;
  };
})();
