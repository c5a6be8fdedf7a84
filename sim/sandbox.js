'use strict';
// What both simulated panels (the UXP plug-in and the CEP helper) give the scripts they
// load: timers that can all be cancelled when the panel unloads, and CommonJS names that
// resolve only the modules the real runtime offers.

/** Timers that can all be cancelled when the simulated panel is unloaded. */
function createTimers() {
  const live = new Set();
  return {
    setTimeout(fn, ms, ...args) {
      const h = setTimeout(() => { live.delete(h); fn(...args); }, ms);
      live.add(h);
      return h;
    },
    clearTimeout(h) { live.delete(h); clearTimeout(h); },
    setInterval(fn, ms, ...args) {
      const h = setInterval(fn, ms, ...args);
      live.add(h);
      return h;
    },
    clearInterval(h) { live.delete(h); clearInterval(h); },
    clearAll() {
      for (const h of live) { clearTimeout(h); clearInterval(h); }
      live.clear();
    },
  };
}

/** `module`, `exports` and a `require` that knows only `modules` (by exact id). */
function commonJsScope(modules) {
  const module = { exports: {} };
  return {
    module,
    exports: module.exports,
    require(id) {
      if (Object.prototype.hasOwnProperty.call(modules, id)) return modules[id];
      throw new Error(`Cannot find module '${id}'`);
    },
  };
}

module.exports = { createTimers, commonJsScope };
