// The script the host runs at the start of every document of its pages
// (Page.addScriptToEvaluateOnNewDocument). Fixed text: values cross only as
// JSON arguments and answers, never as script. The one exception is the
// host's own settings (event type names and whether it gives
// window.external), given as JSON to the start of each new document so the
// page need not stop to ask for them.
#pragma once

namespace platform::chromium {

// The name of the page function that stops for the host's answer.
inline constexpr const char* kPauseFunction = "zorvaHostPause";
// The binding (Runtime.addBinding) through which the page tells the host of
// what needs no answer, without stopping.
inline constexpr const char* kTellBinding = "zorvaHostTell";

// A function expression: called with the host's settings ({types, external})
// it takes them; called with nothing it asks the host (the page stops).
inline constexpr const char* kPageScript = R"JS((function (preset) {
  'use strict';
  if (window !== window.top) return;
  let host = window.__zorvaHost;
  if (!host) {
    const refs = [];
    const handles = new WeakMap();
    const handleOf = (node) => {
      if (!node || node.nodeType !== 1) return 0;
      let h = handles.get(node);
      if (!h) {
        refs.push(new WeakRef(node));
        h = refs.length;
        handles.set(node, h);
      }
      return h;
    };
    const nodeOf = (h) => {
      const ref = refs[h - 1];
      return ref ? ref.deref() || null : null;
    };
    // The host reads pendingSlot.request and sets pendingSlot.answer while
    // the page stands here. The slot lives in this closure, where the
    // debugger can always reach it (an optimised function's own variables
    // may be gone). Reading the request marks the slot heard: a page that
    // already stands in the debugger (the host runs page script while it
    // answers) does not stop a second time, and nobody hears it.
    let pendingSlot = null;
    function zorvaHostPause(request) {
      const outer = pendingSlot;
      const slot = {
        heard: false,
        get request() { this.heard = true; return request; },
        answer: null,
        released: false,
      };
      pendingSlot = slot;
      try {
        debugger;
      } finally {
        pendingSlot = outer;
      }
      return slot;
    }
    // window.external calls that nobody heard wait here, in order, until the
    // page runs on: after the answer of the pause it stands in, or as its
    // next task when that pause was another page's.
    const waiting = [];
    let retryPosted = false;
    const report = (error) => {
      if (typeof reportError === 'function') reportError(error);
      else setTimeout(() => { throw error; }, 0);
    };
    const externalError = (slot) => {
      const r = slot.answer;
      if (!slot.heard || !r || typeof r !== 'object') return 'window.external is not available';
      return typeof r.error === 'string' ? r.error : null;
    };
    const runWaiting = (retry) => {
      while (waiting.length && pendingSlot === null) {
        const slot = zorvaHostPause(waiting[0]);
        if (!slot.heard && !retry) {
          postRetry();
          return;
        }
        waiting.shift();
        const error = externalError(slot);
        if (error !== null) report(new Error(error));
      }
    };
    const postRetry = () => {
      if (retryPosted) return;
      retryPosted = true;
      setTimeout(() => {
        retryPosted = false;
        runWaiting(true);
      }, 0);
    };
    // A shown page takes no input while it stands in the debugger: a button
    // let go then is lost, and with it the click. The press that is held is
    // kept; when the host finds the button already up after a pause in the
    // press, the release and the click it lost are given to the page.
    let press = null;
    const replayRelease = () => {
      const p = press;
      press = null;
      if (!p || !p.target.isConnected) return;
      const init = {
        bubbles: true, cancelable: true, view: window, button: p.button, clientX: p.clientX,
        clientY: p.clientY, screenX: p.screenX, screenY: p.screenY,
      };
      p.target.dispatchEvent(new MouseEvent('mouseup', init));
      if (p.target.isConnected) p.target.dispatchEvent(new MouseEvent('click', init));
    };
    window.addEventListener('mousedown', (e) => {
      press = e.isTrusted ? {
        target: e.target, button: e.button, clientX: e.clientX, clientY: e.clientY,
        screenX: e.screenX, screenY: e.screenY, lost: false,
      } : press;
    }, true);
    window.addEventListener('mouseup', (e) => { if (e.isTrusted) press = null; }, true);
    // A press that moves starts a selection, where the host may move the
    // window instead. Where nothing can be selected (user-select: none) the
    // browser announces no selection: the page hears one all the same.
    let dragFrom = null;
    window.addEventListener('mousedown', (e) => {
      dragFrom = e.isTrusted && e.button === 0 ? { press: e, target: e.target, x: e.screenX, y: e.screenY } : null;
    }, true);
    for (const t of ['selectstart', 'dragstart', 'mouseup']) {
      window.addEventListener(t, (e) => { if (e.isTrusted) dragFrom = null; }, true);
    }
    window.addEventListener('mousemove', (e) => {
      const d = dragFrom;
      if (!d || !e.isTrusted) return;
      if (!(e.buttons & 1)) {
        dragFrom = null;
        return;
      }
      if (e.screenX === d.x && e.screenY === d.y) return;
      dragFrom = null;
      // A press the page took for a drag of its own is not the window's.
      if (d.press.defaultPrevented) return;
      const n = d.target;
      if (!(n instanceof Element) || !n.isConnected || getComputedStyle(n).userSelect !== 'none') return;
      if (n.closest('[draggable="true"]')) return;
      n.dispatchEvent(new Event('selectstart', { bubbles: true, cancelable: true }));
    }, true);
    // A pause for the host; the calls that waited on it follow its answer.
    const askHost = (request) => {
      const held = press;
      // Where in the window the button went down (window pixels), so a
      // window moved for this press follows the pointer from there.
      if (held) {
        request.press = {
          x: Math.round(held.clientX * window.devicePixelRatio),
          y: Math.round(held.clientY * window.devicePixelRatio),
        };
      }
      const slot = zorvaHostPause(request);
      if (held && slot.released && press === held && !held.lost) {
        held.lost = true;
        setTimeout(() => { if (press === held) replayRelease(); }, 0);
      }
      if (waiting.length && pendingSlot === null) runWaiting(false);
      return slot.heard ? slot.answer : null;
    };
    // A page standing for the host takes no keys: those typed meanwhile are
    // lost. What needs no answer (a key let go has no browser action left to
    // cancel; the browser's own keys are cancelled here) is told to the host
    // through the binding, in order, and the page runs on.
    const tellBinding = typeof window.zorvaHostTell === 'function' ? window.zorvaHostTell : null;
    const tellHost = (request) => {
      if (!tellBinding) {
        askHost(request);
        return;
      }
      try {
        tellBinding(JSON.stringify(request));
      } catch (e) {
        askHost(request);
      }
    };
    const toValue = (v) => {
      if (v === undefined || v === null) return null;
      if (typeof v === 'number' && Number.isInteger(v) && v >= -2147483648 && v <= 2147483647) return v;
      if (typeof v === 'boolean') return v ? -1 : 0;
      return String(v);
    };
    const asciiLower = (s) => s.replace(/[A-Z]+/g, (m) => m.toLowerCase());
    const textTypes = new Set(['text', 'password', 'search', 'email', 'url', 'tel', 'number']);
    const isField = (n) => n instanceof HTMLInputElement || n instanceof HTMLTextAreaElement;
    const isCheck = (n) => n instanceof HTMLInputElement && (n.type === 'checkbox' || n.type === 'radio');
    const byId = (id) => {
      if (typeof id !== 'string' || id === '') return null;
      let e = document.getElementById(id);
      if (!e) {
        const low = asciiLower(id);
        for (const c of document.querySelectorAll('[id]')) {
          if (asciiLower(c.id) === low) { e = c; break; }
        }
      }
      return e;
    };
    const pageOps = {
      find(id) { return handleOf(byId(id)); },
      setHtmlById(id, v) { const n = byId(id); if (n) n.innerHTML = v; return !!n; },
      setTextById(id, v) { const n = byId(id); if (n) n.textContent = v; return !!n; },
      setClassById(id, v) { const n = byId(id); if (n) n.setAttribute('class', v); return !!n; },
      // Ids one a line; those that differ only in letter case found through
      // one look at the page, not one per id.
      setStyleByIds(ids, styles) {
        let byLower = null;
        for (const id of String(ids).split('\n')) {
          if (id === '') continue;
          let n = document.getElementById(id);
          if (!n) {
            if (!byLower) {
              byLower = new Map();
              for (const c of document.querySelectorAll('[id]')) {
                const key = asciiLower(c.id);
                if (!byLower.has(key)) byLower.set(key, c);
              }
            }
            n = byLower.get(asciiLower(id)) || null;
          }
          if (!n || !n.style) continue;
          for (const [p, v] of styles) {
            if (v === '') n.style.removeProperty(p); else n.style.setProperty(p, v);
          }
        }
        return true;
      },
      setTitle(v) { document.title = v; return true; },
      body() { return handleOf(document.body); },
      root() { return handleOf(document.documentElement); },
      active() { return handleOf(document.activeElement); },
      callScript(name, args) {
        const f = window[name];
        if (typeof f !== 'function') return { unknown: true };
        return { value: toValue(f.apply(window, args)) };
      },
    };
    const elementOps = {
      inDoc(n) { return n.isConnected && n.ownerDocument === document; },
      tag(n) { return n.tagName.toUpperCase(); },
      parent(n) { return handleOf(n.parentElement); },
      children(n) { return Array.from(n.children, handleOf); },
      getHtml(n) { return n.innerHTML; },
      setHtml(n, v) { n.innerHTML = v; return true; },
      getText(n) { return n.textContent; },
      setText(n, v) { n.textContent = v; return true; },
      hasAttr(n, a) { try { return n.hasAttribute(a); } catch (e) { return false; } },
      getAttr(n, a) { try { const v = n.getAttribute(a); return v === null ? '' : v; } catch (e) { return ''; } },
      setAttr(n, a, v) { try { n.setAttribute(a, v); return true; } catch (e) { return false; } },
      removeAttr(n, a) { try { n.removeAttribute(a); } catch (e) { } return true; },
      getStyle(n, p) { return n.style ? n.style.getPropertyValue(p) : ''; },
      setStyle(n, p, v) {
        if (!n.style) return false;
        if (v === '') n.style.removeProperty(p); else n.style.setProperty(p, v);
        return true;
      },
      getValue(n) { if (isField(n)) return n.value; const v = n.getAttribute('value'); return v === null ? '' : v; },
      setValue(n, v) { if (isField(n)) n.value = v; else n.setAttribute('value', v); return true; },
      getChecked(n) { return isCheck(n) && n.checked; },
      setChecked(n, v) { if (isCheck(n)) n.checked = !!v; return true; },
      isTextEdit(n) {
        if (n instanceof HTMLInputElement) return textTypes.has(n.type);
        if (n instanceof HTMLTextAreaElement) return true;
        const c = n.getAttribute('contenteditable');
        return c !== null && (c === '' || asciiLower(c) === 'true');
      },
      centre(n) {
        n.scrollIntoView({ block: 'nearest', inline: 'nearest' });
        const r = n.getBoundingClientRect();
        if (r.width === 0 && r.height === 0) return null;
        return [r.left + r.width / 2, r.top + r.height / 2];
      },
      // Settles (true) once no animation of a finite length runs on the
      // element or an element around it.
      async still(n) {
        for (;;) {
          const running = [];
          for (let e = n; e; e = e.parentElement) {
            for (const a of e.getAnimations()) {
              if (a.playState === 'running' && Number.isFinite(a.effect.getComputedTiming().endTime)) {
                running.push(a.finished.catch(() => null));
              }
            }
          }
          if (!running.length) return true;
          await Promise.all(running);
        }
      },
      fire(n, type) {
        const init = { bubbles: true, cancelable: true, view: window };
        const ev = type === 'click' || type === 'dblclick' || type.startsWith('mouse') || type === 'contextmenu'
          ? new MouseEvent(type, init) : new Event(type, init);
        return n.dispatchEvent(ev);
      },
    };
    const run = (op, args) => {
      if (!Array.isArray(args)) args = [];
      if (Object.prototype.hasOwnProperty.call(pageOps, op)) return pageOps[op](...args);
      if (!Object.prototype.hasOwnProperty.call(elementOps, op)) return null;
      const n = nodeOf(args[0]);
      return n ? elementOps[op](n, ...args.slice(1)) : null;
    };

    const onEvent = (e) => {
      const t = e.target;
      if (!t || t.nodeType !== 1) return;
      const request = {
        kind: 'event', type: e.type, element: handleOf(t), keyCode: e.keyCode | 0,
        ctrlKey: !!e.ctrlKey, shiftKey: !!e.shiftKey, altKey: !!e.altKey,
      };
      if (e.type === 'keyup') {
        tellHost(request);
        return;
      }
      const answer = askHost(request);
      if (answer === false) e.preventDefault();
    };
    // After the page's own handlers: a link that only moves to a "#" of this
    // page never becomes a request, so the host is asked here.
    const onClickDone = (e) => {
      if (e.defaultPrevented) return;
      const t = e.target;
      if (!t || !t.closest) return;
      const a = t.closest('a[href], area[href]');
      if (!a) return;
      const url = a.href;
      const hash = url.indexOf('#');
      if (hash < 0) return;
      const here = location.href;
      const mark = here.indexOf('#');
      if (url.slice(0, hash) !== (mark < 0 ? here : here.slice(0, mark))) return;
      if (askHost({ kind: 'navigate', url: url }) === false) e.preventDefault();
    };
    // The browser's own keys (F5, Ctrl+R reload; Ctrl+P print; Ctrl+W,
    // Ctrl+F4 close) go to the host's key handling and never act here.
    const onBrowserKey = (e) => {
      const k = e.keyCode | 0;
      if (k !== 116 && !(e.ctrlKey && !e.altKey && (k === 80 || k === 82 || k === 87 || k === 115))) return;
      e.preventDefault();
      tellHost({
        kind: 'key', keyCode: k, ctrlKey: !!e.ctrlKey, shiftKey: !!e.shiftKey, altKey: !!e.altKey,
      });
    };
    window.addEventListener('keydown', onBrowserKey, true);
    const external = new Proxy(Object.create(null), {
      get(target, name) {
        if (typeof name !== 'string' || name === 'then') return undefined;
        return function (...args) {
          const request = { kind: 'external', name: name, args: args.map(toValue) };
          // Behind calls still waiting, this one waits too, to keep the order.
          const slot = waiting.length ? null : zorvaHostPause(request);
          if (!slot || !slot.heard) {
            // Called while the page stands for the host: the call goes once
            // the page runs on, and gives nothing back; an error it meets
            // then is a script error of the page.
            waiting.push(request);
            if (pendingSlot === null) postRetry();
            return undefined;
          }
          if (waiting.length && pendingSlot === null) runWaiting(false);
          const error = externalError(slot);
          if (error !== null) throw new Error(error);
          return slot.answer.value === null ? undefined : slot.answer.value;
        };
      },
    });
    let types = [];
    const configure = (config) => {
      if (!config || typeof config !== 'object') config = {};
      for (const t of types) window.removeEventListener(t, onEvent, true);
      types = Array.isArray(config.types) ? config.types.filter((t) => typeof t === 'string') : [];
      for (const t of types) window.addEventListener(t, onEvent, true);
      window.addEventListener('click', onClickDone, false);
      Object.defineProperty(window, 'external', {
        value: config.external ? external : undefined, configurable: true, enumerable: false, writable: false,
      });
      return true;
    };
    pageOps.configure = configure;
    host = {
      run: run,
      install(settings) {
        if (settings && typeof settings === 'object') {
          configure({ types: settings.types, external: !!settings.external && location.protocol === 'file:' });
        } else {
          configure(askHost({ kind: 'hello', url: location.href }));
        }
      },
    };
    Object.defineProperty(window, '__zorvaHost', { value: host });
  }
  host.install(preset);
}))JS";

// Runs one operation of the page script: (operation, [arguments]).
inline constexpr const char* kRunFunction = "function (op, args) { return window.__zorvaHost.run(op, args); }";

// Runs the writes the host held back, in order (a write to an element that
// is gone does nothing), then one operation as kRunFunction does:
// ([[operation, [arguments]]...], operation or null, [arguments]).
inline constexpr const char* kBatchFunction = R"JS(function (writes, op, args) {
  const host = window.__zorvaHost;
  for (const w of writes) {
    try { host.run(w[0], w[1]); } catch (e) { }
  }
  return op === null ? null : host.run(op, args);
})JS";

}  // namespace platform::chromium
