// Slide-out menus. A page declares a menu with
//   new ypSlideOutMenu(name, "down", left, top, width, height[, gap])
// (the "new" may be left out) and supplies two elements: name + "Container",
// the clipping frame, and name + "Content", the part that slides. The menu
// opens at (left, top), or below an element with showMenuAttached; gap is the
// distance below that element when no offset is given.
(function () {
  'use strict';

  const SLIDE_MS = 160;
  const HIDE_DELAY_MS = 350;
  const registry = {};

  function ypSlideOutMenu(name, dir, left, top, width, height, gap) {
    if (!(this instanceof ypSlideOutMenu)) return new ypSlideOutMenu(name, dir, left, top, width, height, gap);
    this.name = String(name);
    this.dir = dir || 'down';
    this.left = Number(left) || 0;
    this.top = Number(top) || 0;
    this.width = Number(width) || 0;
    this.height = Number(height) || 0;
    this.gap = Number(gap) || 0;
    this.open = false;
    this.hideTimer = 0;
    this.bound = false;
    registry[this.name] = this;
  }

  ypSlideOutMenu.Registry = registry;

  ypSlideOutMenu.prototype.container = function () {
    return document.getElementById(this.name + 'Container');
  };
  ypSlideOutMenu.prototype.content = function () {
    return document.getElementById(this.name + 'Content');
  };

  ypSlideOutMenu.prototype.prepare = function () {
    const container = this.container();
    if (!container) return null;
    if (container.parentNode !== document.body && document.body) {
      // Page coordinates are only right for a frame hung on the body.
      document.body.appendChild(container);
    }
    container.style.position = 'absolute';
    container.style.overflow = 'hidden';
    if (this.width) container.style.width = this.width + 'px';
    if (this.height) container.style.height = this.height + 'px';
    container.classList.add('slideoutmenu');
    if (!this.bound) {
      this.bound = true;
      container.addEventListener('mouseenter', () => this.cancelHide());
      container.addEventListener('mouseleave', () => ypSlideOutMenu.hideMenu(this.name));
    }
    return container;
  };

  ypSlideOutMenu.prototype.cancelHide = function () {
    if (this.hideTimer) clearTimeout(this.hideTimer);
    this.hideTimer = 0;
  };

  ypSlideOutMenu.prototype.showAt = function (left, top) {
    const container = this.prepare();
    if (!container) return;
    this.cancelHide();
    const room = document.documentElement.scrollWidth || window.innerWidth;
    left = Math.max(0, Math.min(left, room - (this.width || container.offsetWidth)));
    // Near the window's foot the menu opens higher, so none of it is cut off.
    const foot = window.scrollY + window.innerHeight;
    top = Math.max(window.scrollY, Math.min(top, foot - (this.height || container.offsetHeight)));
    container.style.left = Math.round(left) + 'px';
    container.style.top = Math.round(top) + 'px';
    const wasOpen = this.open;
    this.open = true;
    container.style.visibility = 'visible';
    container.style.display = 'block';
    container.classList.add('open');
    const content = this.content();
    if (!content || wasOpen) return;
    const hidden = { down: 'translateY(-100%)', up: 'translateY(100%)', left: 'translateX(100%)', right: 'translateX(-100%)' };
    content.style.transition = 'none';
    content.style.transform = hidden[this.dir] || hidden.down;
    void content.offsetHeight;
    content.style.transition = 'transform ' + SLIDE_MS + 'ms ease-out';
    content.style.transform = 'none';
  };

  ypSlideOutMenu.prototype.close = function () {
    this.cancelHide();
    const container = this.container();
    const wasOpen = this.open;
    this.open = false;
    if (container) {
      // Out of the layout as well: a list a tab made visible would otherwise
      // still be drawn, and clicked, where the menu was.
      container.style.visibility = 'hidden';
      container.style.display = 'none';
      container.classList.remove('open');
    }
    if (wasOpen && typeof ypSlideOutMenu.hideCallback === 'function') {
      try {
        ypSlideOutMenu.hideCallback(this.name);
      } catch (error) {
        setTimeout(() => {
          throw error;
        }, 0);
      }
    }
  };

  // The page may replace this; it runs whenever an open menu closes.
  ypSlideOutMenu.hideCallback = function () {};

  // Rules that hide every declared menu until it is opened.
  ypSlideOutMenu.writeCSS = function () {
    let css = '';
    for (const menu of Object.values(registry)) {
      css +=
        '#' + menu.name + 'Container{position:absolute;left:' + menu.left + 'px;top:' + menu.top +
        'px;width:' + menu.width + 'px;height:' + menu.height + 'px;overflow:hidden;visibility:hidden;display:none;z-index:1000}' +
        '#' + menu.name + 'Content{position:relative;width:100%;height:100%;box-sizing:border-box}';
    }
    let style = document.getElementById('ypSlideOutMenuStyles');
    if (!style) {
      style = document.createElement('style');
      style.id = 'ypSlideOutMenuStyles';
      (document.head || document.documentElement).appendChild(style);
    }
    style.textContent = css;
  };

  ypSlideOutMenu.showMenu = function (name) {
    const menu = registry[name];
    if (menu) menu.showAt(menu.left, menu.top);
  };

  // Opens the menu just below the element (or offset pixels below its top).
  ypSlideOutMenu.showMenuAttached = function (name, elementOrId, offset) {
    const menu = registry[name];
    if (!menu) return;
    const element = typeof elementOrId === 'string' ? document.getElementById(elementOrId) : elementOrId;
    if (!element || !element.getBoundingClientRect) {
      menu.showAt(menu.left, menu.top);
      return;
    }
    const box = element.getBoundingClientRect();
    const left = box.left + window.scrollX;
    const top =
      offset === undefined || offset === null || offset === ''
        ? box.bottom + window.scrollY + menu.gap
        : box.top + window.scrollY + Number(offset);
    menu.showAt(left, top);
  };

  // Closes the menu unless the mouse comes back into it first.
  ypSlideOutMenu.hideMenu = function (name) {
    const menu = registry[name];
    if (!menu || !menu.open) return;
    menu.cancelHide();
    menu.hideTimer = setTimeout(() => menu.close(), HIDE_DELAY_MS);
  };

  ypSlideOutMenu.hide = function (name) {
    const menu = registry[name];
    if (menu) menu.close();
  };

  ypSlideOutMenu.hideAll = function () {
    for (const menu of Object.values(registry)) menu.close();
  };

  ypSlideOutMenu.isVisible = function (name) {
    const menu = registry[name];
    return !!(menu && menu.open);
  };

  window.ypSlideOutMenu = ypSlideOutMenu;
})();
