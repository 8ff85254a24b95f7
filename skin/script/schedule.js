// Schedule items on the timeline pages: creating an item, storing it, and
// turning a move or resize into start and end minutes. The page's globals
// hourSize, headingHeight, startTimeoffset and stepsize describe its
// timeline; a page whose timeline starts after midnight (startTimeoffset > 0)
// counts minutes of the day and wraps at midnight.
(function () {
  'use strict';

  const DAY = 1440;
  let newItems = 0;

  function pageNumber(name, fallback) {
    let value;
    try {
      // Globals of the page's inline script: var, let or const alike.
      value = Function('return typeof ' + name + " === 'undefined' ? undefined : " + name)();
    } catch (error) {
      value = undefined;
    }
    value = Number(value);
    return Number.isFinite(value) ? value : fallback;
  }

  function attr(item, name) {
    const raw = item.hasAttribute(name) ? item.getAttribute(name) : item[name];
    const value = parseInt(raw, 10);
    return Number.isFinite(value) ? value : 0;
  }

  // Attributes that page code may also use as properties.
  function defineItemProperty(item, name) {
    Object.defineProperty(item, name, {
      configurable: true,
      get() {
        return attr(item, name);
      },
      set(value) {
        item.setAttribute(name, String(value));
      },
    });
  }

  function clock(minutes, scheduleid) {
    let hours = Math.floor(minutes / 60);
    if (hours > 12 && scheduleid >= 1 && scheduleid <= 10) hours %= 12;
    const mins = String(minutes % 60).padStart(2, '0');
    return String(hours).padStart(2, ' ') + ':' + mins;
  }

  function external(method, ...args) {
    try {
      if (window.external && typeof window.external[method] !== 'undefined') {
        window.external[method](...args);
        return true;
      }
    } catch (error) {
      // Outside the program nothing stores the item.
    }
    return false;
  }

  function itemOf(target) {
    if (!target) return null;
    if (target.nodeType === 1) return target.closest('.scheduleitem') || target;
    if (target.currentTarget && target.currentTarget.nodeType === 1) return itemOf(target.currentTarget);
    if (target.element) return itemOf(target.element);
    return null;
  }

  // A new item in the shape of the program's item fragment.
  window.createScheduleItem = function (scheduleid, start, end) {
    scheduleid = parseInt(scheduleid, 10) || 0;
    start = parseInt(start, 10) || 0;
    end = parseInt(end, 10) || 0;
    const id = 'newsitem_' + ++newItems;
    const item = document.createElement('div');
    item.className = 'scheduleitem';
    item.id = id;
    item.setAttribute('start', String(start));
    item.setAttribute('end', String(end));
    item.setAttribute('mix', 'Use selector to fine tune');
    item.setAttribute('mixid', '0');
    item.setAttribute('scheduleid', String(scheduleid));
    for (const name of ['start', 'end', 'mixid', 'scheduleid']) defineItemProperty(item, name);
    const chooser = 'itemmix_' + id;
    item.innerHTML =
      '<div class="itemtitle" title="Drag to change the schedule time">' +
      '<div class="windowcontrols"><a href="#" title="remove from schedule" class="deleteitem" id="delsitemid_0_' +
      scheduleid + '">x</a></div>' +
      '<div class="itemmix" id="' + chooser + '"><a href="#" title="Choose a mix or playlist for this timeslot"' +
      " onmouseover=\"mixover('" + chooser + "')\" onclick=\"mixclick('mixchanger','" + chooser +
      "');return false;\" onmouseout=\"mixout('" + chooser + "')\"><img id=\"" + chooser +
      '_img" class="mixdropdown" align="bottom" border="0" src="skin/automator_mix.gif"><span> Random selection </span></a></div>' +
      '<span class="nicetime">' + clock(start, scheduleid) + ' - ' + clock(end, scheduleid) + '</span></div>' +
      '<div class="itemdesc"><a href="#" title="Click here to fine tune your music selection"' +
      " onclick=\"selectorclick('mixselect','" + chooser + "', 'itemmix_0');return false;\">" +
      '<img class="selectdropdown" align="bottom" border="0" src="skin/automator_selector.gif">Use selector to fine tune</a></div>' +
      '<div class="itemresize" title="Drag to make the timeslot longer"><img src="skin/resize.gif"></div>';
    return item;
  };

  // Stores a new item through the program.
  window.insertitem = function (item) {
    item = itemOf(item);
    if (!item) return;
    external('InsertScheduleItem', attr(item, 'start'), attr(item, 'end'), attr(item, 'mixid'), attr(item, 'scheduleid'));
  };

  // Records where the mouse was pressed on a timeline, in page coordinates.
  window.timelineOnMouseDownHandler = function (event) {
    event = event || window.event;
    if (!event) return;
    window.starty = event.pageY !== undefined ? event.pageY : event.clientY + (document.scrollingElement || document.body).scrollTop;
  };

  // Start and end minutes of an item from where it now stands on the timeline.
  function timesOf(item) {
    const hourSize = pageNumber('hourSize', 40) || 40;
    const heading = pageNumber('headingHeight', 0);
    const offset = pageNumber('startTimeoffset', 0);
    const step = Math.max(1, pageNumber('stepsize', 1));
    const top = parseFloat(item.style.top) || item.offsetTop;
    const height = parseFloat(item.style.height) || item.offsetHeight;
    const snap = (minutes) => Math.round(minutes / step) * step;
    let start = snap(((top - 1 - heading) * 60) / hourSize);
    const length = Math.max(step, snap(((height + 1) * 60) / hourSize));
    start = Math.max(0, start) + offset;
    let end = start + length;
    if (offset > 0) {
      start %= DAY;
      if (end > DAY) end -= DAY;
    }
    return { start, end };
  }

  function showTimes(item, times) {
    const label = item.querySelector('.nicetime');
    const scheduleid = attr(item, 'scheduleid');
    if (label) label.textContent = clock(times.start, scheduleid) + ' - ' + clock(times.end, scheduleid);
  }

  window.onScheduleItemMove = function (dragEvent) {
    const item = itemOf(dragEvent);
    if (item) showTimes(item, timesOf(item));
  };

  window.onScheduleItemResize = function (dragEvent) {
    const item = itemOf(dragEvent);
    if (item) showTimes(item, timesOf(item));
  };

  // The end of a move or resize: the item takes its new times and the program stores them.
  window.onScheduleItemUpdated = function (dragEvent) {
    const item = itemOf(dragEvent);
    if (!item) return;
    const times = timesOf(item);
    item.setAttribute('start', String(times.start));
    item.setAttribute('end', String(times.end));
    showTimes(item, times);
    external('UpdateScheduleItem', item.id, times.start, times.end, attr(item, 'mixid'), attr(item, 'scheduleid'));
  };

  window.scheduleitemmouseover = function (target) {
    const item = itemOf(target || this);
    if (item) item.classList.add('hover');
  };

  // The normal look of an item: what the page's playing-now look set is taken back.
  window.scheduleitemreset = function (target) {
    const item = itemOf(target || this);
    if (!item) return;
    item.classList.remove('hover');
    item.style.backgroundColor = '';
    item.style.background = '';
    const parts = item.children;
    const title = parts[0];
    if (title) {
      title.style.background = '';
      title.style.color = '';
      for (const link of title.querySelectorAll('a')) link.style.color = '';
    }
    const desc = parts[1];
    if (desc && desc.firstElementChild) desc.firstElementChild.style.color = '';
    const handle = parts[2];
    if (handle) handle.style.background = '';
  };

  // The page is usable: no menu open, no cover over it.
  window.enablewindow = function () {
    if (document.body) document.body.classList.remove('disabled');
    const cover = document.getElementById('windowoverlay');
    if (cover) cover.style.display = 'none';
  };
})();
