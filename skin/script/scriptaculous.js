// Visual effects for the Lab pages: fade in, fade out and a highlight flash,
// each on an element or an element id, with an optional { duration } in seconds.
(function () {
  'use strict';

  function element(id) {
    return typeof id === 'string' ? document.getElementById(id) : id || null;
  }

  function animate(target, frames, options, done) {
    const el = element(target);
    if (!el) return null;
    const duration = ((options && options.duration) || 0.5) * 1000;
    if (!el.animate) {
      if (done) done(el);
      return null;
    }
    const run = el.animate(frames, { duration, easing: 'ease-in-out' });
    run.onfinish = () => done && done(el);
    return run;
  }

  window.Effect = {
    Appear(target, options) {
      const el = element(target);
      if (el) el.style.display = '';
      return animate(el, [{ opacity: 0 }, { opacity: 1 }], options, (e) => (e.style.opacity = ''));
    },
    Fade(target, options) {
      return animate(target, [{ opacity: 1 }, { opacity: 0 }], options, (e) => (e.style.display = 'none'));
    },
    Highlight(target, options) {
      const colour = (options && options.startcolor) || '#f7dcc6';
      return animate(target, [{ backgroundColor: colour }, { backgroundColor: 'transparent' }], options);
    },
  };
})();
