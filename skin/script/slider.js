// Horizontal sliders. Markup:
//   <div class="slidertrack"><div class="slider" id="..." display="inputid" distance="200"></div></div>
//   <input id="inputid" from="15" to="1440" steps="95" decimals="0" rawvalue="60" onchange="...">
// The knob (class "slider") moves inside its parent, the track, over
// "distance" pixels (default: defaultSliderLength). The display input says
// the range: from, to, the number of steps between them, the decimals shown,
// and format="time" to show minutes as h:mm. Moving the knob writes the value
// into the input (its text, and its rawvalue as property and attribute) and
// fires the input's change event; setSlider moves the knob to the input's rawvalue.

var defaultSliderLength = 100;

(function () {
  'use strict';

  function byId(elementOrId) {
    return typeof elementOrId === 'string' ? document.getElementById(elementOrId) : elementOrId || null;
  }

  function numberAttr(element, name, fallback) {
    const value = parseFloat(element.getAttribute(name));
    return Number.isFinite(value) ? value : fallback;
  }

  function displayOf(knob) {
    return knob ? document.getElementById(knob.getAttribute('display') || '') : null;
  }

  function settings(knob) {
    const display = displayOf(knob);
    const length = Number(window.defaultSliderLength) || 100;
    const distance = Math.max(1, numberAttr(knob, 'distance', length));
    const from = display ? numberAttr(display, 'from', 0) : 0;
    const to = display ? numberAttr(display, 'to', 100) : 100;
    let steps = display ? numberAttr(display, 'steps', NaN) : NaN;
    if (!Number.isFinite(steps) && display) steps = numberAttr(display, 'valuecount', NaN) - 1;
    if (!Number.isFinite(steps) || steps < 1) steps = distance;
    const decimals = display ? Math.max(0, numberAttr(display, 'decimals', 0)) : 0;
    return { display, distance, from, to, steps: Math.round(steps), decimals };
  }

  function rawValue(display) {
    if (!display) return NaN;
    const property = display.rawvalue;
    const raw = property !== undefined && property !== null && property !== '' ? property : display.getAttribute('rawvalue');
    return parseFloat(raw);
  }

  function text(value, s) {
    if (s.display && s.display.getAttribute('format') === 'time') {
      const minutes = Math.round(value);
      return Math.floor(minutes / 60) + ':' + String(minutes % 60).padStart(2, '0');
    }
    return value.toFixed(s.decimals);
  }

  function valueAt(step, s) {
    return Number((s.from + ((s.to - s.from) * step) / s.steps).toFixed(s.decimals));
  }

  function place(knob, step, s) {
    knob.style.left = Math.round((step * s.distance) / s.steps) + 'px';
    knob.sliderStep = step;
  }

  // Moves the knob to a step and, when the value changed, reports it.
  function moveTo(knob, step) {
    const s = settings(knob);
    step = Math.max(0, Math.min(s.steps, Math.round(step)));
    const changed = knob.sliderStep !== step;
    place(knob, step, s);
    if (!changed || !s.display) return;
    const value = valueAt(step, s);
    s.display.rawvalue = value;
    s.display.setAttribute('rawvalue', String(value));
    if ('value' in s.display) s.display.value = text(value, s);
    else s.display.textContent = text(value, s);
    s.display.dispatchEvent(new Event('change', { bubbles: true }));
  }

  function stepFromPageX(knob, pageX) {
    const s = settings(knob);
    const track = knob.parentNode;
    const left = track.getBoundingClientRect().left + window.scrollX;
    const x = pageX - left - knob.offsetWidth / 2;
    return (x / s.distance) * s.steps;
  }

  function build(knob) {
    if (knob.sliderReady) return;
    knob.sliderReady = true;
    const s = settings(knob);
    const track = knob.parentNode;
    if (track && window.getComputedStyle(track).position === 'static') track.style.position = 'relative';
    if (track && !track.style.width) track.style.width = s.distance + knob.offsetWidth + 'px';
    knob.style.position = 'absolute';
    track.classList.add('slidertrack');

    knob.addEventListener('mousedown', (event) => {
      if (event.button !== 0) return;
      event.preventDefault();
      event.stopPropagation();
      const grip = event.pageX - (knob.getBoundingClientRect().left + window.scrollX) - knob.offsetWidth / 2;
      knob.classList.add('sliding');
      const move = (e) => {
        e.preventDefault();
        moveTo(knob, stepFromPageX(knob, e.pageX - grip));
      };
      const up = () => {
        knob.classList.remove('sliding');
        document.removeEventListener('mousemove', move, true);
        document.removeEventListener('mouseup', up, true);
      };
      document.addEventListener('mousemove', move, true);
      document.addEventListener('mouseup', up, true);
    });
    // A press on the track jumps there.
    track.addEventListener('mousedown', (event) => {
      if (event.button !== 0 || event.target === knob) return;
      event.preventDefault();
      moveTo(knob, stepFromPageX(knob, event.pageX));
    });
    setSlider(knob);
  }

  // Builds every slider of the page.
  window.setupsliders = function () {
    for (const knob of Array.from(document.querySelectorAll('.slider[display]'))) {
      try {
        build(knob);
      } catch (error) {
        // One broken slider leaves the others working.
      }
    }
  };

  // Moves a slider to its display input's rawvalue, without reporting a change.
  window.setSlider = function (elementOrId) {
    const knob = byId(elementOrId);
    if (!knob) return;
    const s = settings(knob);
    const raw = rawValue(s.display);
    if (!Number.isFinite(raw)) return;
    const range = s.to - s.from;
    const step = range === 0 ? 0 : Math.max(0, Math.min(s.steps, Math.round(((raw - s.from) / range) * s.steps)));
    place(knob, step, s);
    if (s.display) {
      const shown = text(raw, s);
      if ('value' in s.display) s.display.value = shown;
      else s.display.textContent = shown;
    }
  };
})();
