// ToolMan dragsort: lists whose items are reordered by dragging them. While
// an item is dragged it trades places with a neighbour as soon as its middle
// passes the neighbour's middle; on release it settles into its new place.
(function () {
  'use strict';
  const ToolMan = (window.ToolMan = window.ToolMan || {});

  function middle(element) {
    const box = element.getBoundingClientRect();
    return { x: box.left + box.width / 2, y: box.top + box.height / 2 };
  }

  function sibling(item, forward) {
    let node = forward ? item.nextElementSibling : item.previousElementSibling;
    while (node && node.offsetParent === null && node.style.display === 'none') {
      node = forward ? node.nextElementSibling : node.previousElementSibling;
    }
    return node;
  }

  // Moves item in the DOM and shifts the running drag so that it stays under the mouse.
  function moveKeepingPlace(group, place) {
    const item = group.element;
    const before = item.getBoundingClientRect();
    place();
    const after = item.getBoundingClientRect();
    const active = group.active;
    if (active) {
      active.position.x += before.left - after.left;
      active.position.y += before.top - after.top;
    }
    item.style.left = (parseFloat(item.style.left) || 0) + (before.left - after.left) + 'px';
    item.style.top = (parseFloat(item.style.top) || 0) + (before.top - after.top) + 'px';
  }

  function onDragMove(dragEvent) {
    const group = dragEvent.group;
    const item = group.element;
    const list = item.parentNode;
    if (!list) return;
    const vertical = group.axis !== 'horizontal';
    const axis = vertical ? 'y' : 'x';
    for (let guard = 0; guard < 1000; guard++) {
      const here = middle(item)[axis];
      const previous = sibling(item, false);
      const next = sibling(item, true);
      if (previous && here < middle(previous)[axis]) {
        moveKeepingPlace(group, () => list.insertBefore(item, previous));
      } else if (next && here > middle(next)[axis]) {
        moveKeepingPlace(group, () => list.insertBefore(next, item));
      } else {
        break;
      }
    }
  }

  function onDragEnd(dragEvent) {
    const item = dragEvent.group.element;
    item.style.left = '0px';
    item.style.top = '0px';
  }

  const dragsort = {
    // Makes every item of list sortable; each further argument is a function
    // called once per item, with the item, after its drag group exists.
    makeListSortable(list, ...callbacks) {
      list = ToolMan.element ? ToolMan.element(list) : list;
      if (!list || !ToolMan.drag) return;
      for (const item of Array.from(list.children)) {
        let group = item.toolManDragGroup;
        if (!group) {
          group = ToolMan.drag().createSimpleGroup(item);
          if (!group) continue;
          if (window.getComputedStyle(item).position === 'static') item.style.position = 'relative';
          group.register('dragmove', onDragMove);
          group.register('dragend', onDragEnd);
          item.classList.add('sortableitem');
        }
        for (const callback of callbacks) {
          if (typeof callback === 'function') callback(item);
        }
      }
    },
  };

  ToolMan.dragsort = function () {
    return dragsort;
  };
})();
