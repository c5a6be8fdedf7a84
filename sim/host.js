'use strict';
// Loads the real uxp-plugin/index.js, unmodified, into its own vm context with what UXP
// gives a panel script: require("premierepro" | "uxp" | "fs" | "os"), WebSocket, crypto,
// timers, console and the panel document. Node's own globals (process, Buffer, …) are absent, as
// they are in UXP.

const fs = require('fs');
const nodeCrypto = require('crypto');
const path = require('path');
const vm = require('vm');
const { createFs, createOs, createUxp } = require('./uxp');
const { createWebSocketClass } = require('./websocket');
const { createDocument } = require('./dom');
const { createTimers, commonJsScope } = require('./sandbox');

const DEFAULT_PLUGIN_DIR = path.join(__dirname, '..', 'uxp-plugin');

const INTEGER_ARRAYS = ['Int8Array', 'Uint8Array', 'Uint8ClampedArray', 'Int16Array', 'Uint16Array', 'Int32Array',
  'Uint32Array', 'BigInt64Array', 'BigUint64Array'];

/**
 * UXP's global `crypto` (Adobe's UXP reference, Global Members > Crypto, "Since: UXP v6.2"):
 * getRandomValues and randomUUID, nothing else (no `subtle`). Bytes come from Node's
 * secure random source. As documented, an array that is not an integer TypedArray is a
 * TypeError and one over 65,536 bytes a QuotaExceededError.
 */
function createCrypto() {
  return {
    getRandomValues(array) {
      const kind = array && Object.prototype.toString.call(array).slice(8, -1);
      if (!INTEGER_ARRAYS.includes(kind)) throw new TypeError('getRandomValues needs an integer-based TypedArray');
      if (array.byteLength > 65536) {
        const e = new Error(`The ArrayBufferView's byte length (${array.byteLength}) exceeds the number of bytes of entropy available via this API (65536)`);
        e.name = 'QuotaExceededError';
        throw e;
      }
      nodeCrypto.randomFillSync(array);
      return array;
    },
    randomUUID: () => nodeCrypto.randomUUID(),
  };
}

/**
 * @param {object} options
 * @param {object} options.ppro the simulated premierepro module
 * @param {string} options.home the home directory the plug-in sees
 * @param {string} [options.pluginDir] folder holding index.js, index.html, manifest.json
 * @param {string} [options.version] host version reported by uxp.host.version
 * @param {string} [options.platform] what os.platform() answers
 * @param {(line: string) => void} [options.onConsole] receives each console line
 * @param {{begin: (verb: string) => number, end: (token: number) => void}} [options.calls] hears of each call delivered and answered
 */
function loadPlugin(options) {
  const pluginDir = path.resolve(options.pluginDir || DEFAULT_PLUGIN_DIR);
  const file = path.join(pluginDir, 'index.js');
  const source = fs.readFileSync(file, 'utf8');
  const document = createDocument(fs.readFileSync(path.join(pluginDir, 'index.html'), 'utf8'));
  let pluginVersion = '0.0.0';
  try {
    pluginVersion = JSON.parse(fs.readFileSync(path.join(pluginDir, 'manifest.json'), 'utf8')).version;
  } catch (e) { /* no manifest */ }

  const dataDir = options.dataDir || path.join(options.home, '.quor', 'cutrelay', 'sim-plugin-data');
  const dirs = { plugin: pluginDir, data: dataDir, temp: path.join(dataDir, 'tmp') };
  const modules = {
    premierepro: options.ppro,
    uxp: createUxp({ version: options.version || '26.3.0', locale: options.locale, pluginVersion }),
    fs: createFs(dirs),
    os: createOs({ home: options.home, platform: options.platform }),
  };
  const timers = createTimers();
  const sockets = new Set();
  const consoleLines = [];
  const say = (args) => {
    const line = args.map((a) => (typeof a === 'string' ? a : String(a))).join(' ');
    consoleLines.push(line);
    if (consoleLines.length > 1000) consoleLines.shift();
    if (options.onConsole) options.onConsole(line);
  };
  const scope = commonJsScope(modules);
  const sandbox = {
    console: { log: (...a) => say(a), error: (...a) => say(a), warn: (...a) => say(a), info: (...a) => say(a) },
    setTimeout: timers.setTimeout,
    clearTimeout: timers.clearTimeout,
    setInterval: timers.setInterval,
    clearInterval: timers.clearInterval,
    // The bridge counts a simulated Premiere as installed and running, and finds the
    // simulator's own export presets (sim/presets) beside the machine's.
    WebSocket: createWebSocketClass(sockets, { simulator: true, presetFolders: [path.join(__dirname, 'presets')] }, options.calls || null),
    crypto: createCrypto(),
    document,
    ...scope,
  };
  sandbox.window = sandbox;
  const context = vm.createContext(sandbox, { name: 'uxp-plugin' });
  vm.runInContext(source, context, { filename: file });

  return {
    exports: scope.module.exports,
    document,
    consoleLines,
    sockets,
    unload() {
      timers.clearAll();
      for (const s of sockets) {
        // Every handler goes: an error or close reported after unloading would schedule a
        // reconnect of a plug-in that no longer runs.
        s.onclose = null;
        s.onerror = null;
        s.onopen = null;
        s.onmessage = null;
        try { s._ws.terminate(); } catch (e) { /* already gone */ }
      }
      sockets.clear();
      // A reconnect may have been scheduled by a close handler that ran just now.
      timers.clearAll();
    },
  };
}

module.exports = { loadPlugin, DEFAULT_PLUGIN_DIR };
