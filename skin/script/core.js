// ToolMan: the small toolkit behind the pages' drag and drop. core.js holds
// the namespace and the junk drawer of list helpers; the other parts live in
// events.js, css.js, coordinates.js, drag.js and dragsort.js. Every part adds
// itself to the one namespace, so any load order works.
(function () {
  'use strict';
  const ToolMan = (window.ToolMan = window.ToolMan || {});

  // Resolves an element or an element id; null when there is none.
  ToolMan.element = function (elementOrId) {
    if (!elementOrId) return null;
    if (typeof elementOrId === 'string') return document.getElementById(elementOrId);
    return elementOrId.nodeType === 1 ? elementOrId : null;
  };

  // Attributes that other engines exposed as properties: read either.
  ToolMan.attribute = function (element, name) {
    if (!element) return null;
    if (element.hasAttribute && element.hasAttribute(name)) return element.getAttribute(name);
    const value = element[name];
    return value === undefined ? null : value;
  };

  const junkdrawer = {
    // The element children of a list, in document order.
    items(list) {
      list = ToolMan.element(list);
      return list ? Array.from(list.children) : [];
    },

    // Map from each item's listID value to the item.
    _itemsByID(list) {
      const map = {};
      for (const item of junkdrawer.items(list)) {
        const id = ToolMan.attribute(item, 'listID');
        if (id !== null && id !== '') map[String(id)] = item;
      }
      return map;
    },

    // The listID values of the items in their current order, joined by sep.
    serializeList(list, sep) {
      return junkdrawer
        .items(list)
        .map((item) => ToolMan.attribute(item, 'listID'))
        .filter((id) => id !== null)
        .join(sep === undefined ? ':' : sep);
    },

    // Puts the items back in the order of the given listID values.
    restoreListOrder(list, order, sep) {
      list = ToolMan.element(list);
      if (!list || !order) return;
      const byId = junkdrawer._itemsByID(list);
      for (const id of String(order).split(sep === undefined ? ':' : sep)) {
        if (byId[id]) list.appendChild(byId[id]);
      }
    },

    getValue(elementOrId) {
      const element = ToolMan.element(elementOrId);
      if (!element) return null;
      return 'value' in element ? element.value : element.textContent;
    },
  };

  ToolMan.junkdrawer = function () {
    return junkdrawer;
  };
})();
