'use strict';
// The simulated CEP runtime for the helper extension: it reads CSXS/manifest.xml, loads
// the ScriptPath (host.jsx) into the ExtendScript engine, and runs the page script
// (main.js) in its own vm context with what a CEP page started with --enable-nodejs and
// --mixed-context has: window.__adobe_cep__.evalScript, require("crypto" | "fs" | "os" | "path"),
// WebSocket, timers and console.
//
// evalScript is asynchronous for the page, as in CEP: scripts are queued and evaluated one
// at a time in the order asked for, each callback running after its script has finished.

const nodeCrypto = require('crypto');
const fs = require('fs');
const nodeOs = require('os');
const path = require('path');
const vm = require('vm');
const { ExtendScriptEngine } = require('./extendscript');
const { createWebSocketClass } = require('../websocket');
const { createTimers, commonJsScope } = require('../sandbox');

const DEFAULT_HELPER_DIR = path.join(__dirname, '..', '..', 'cep-helper');

/** The values of the manifest the runtime acts on (a small reader, not a general XML parser). */
function readManifest(helperDir) {
  const text = fs.readFileSync(path.join(helperDir, 'CSXS', 'manifest.xml'), 'utf8');
  const tag = (name) => {
    const m = new RegExp(`<${name}>([^<]*)</${name}>`).exec(text);
    return m ? m[1].trim() : null;
  };
  const attr = (element, name) => {
    const m = new RegExp(`<${element}\\b[^>]*\\b${name}="([^"]*)"`).exec(text);
    return m ? m[1] : null;
  };
  return {
    bundleId: attr('ExtensionManifest', 'ExtensionBundleId'),
    bundleVersion: attr('ExtensionManifest', 'ExtensionBundleVersion'),
    mainPath: tag('MainPath'),
    scriptPath: tag('ScriptPath'),
    parameters: [...text.matchAll(/<Parameter>([^<]*)<\/Parameter>/g)].map((m) => m[1].trim()),
    hostRange: attr('Host', 'Version'),
  };
}

/** Whether a Premiere version lies in a manifest range such as "[15.0,99.9]" or "[15.0,26.0)". */
function versionInRange(version, range) {
  const m = /^([[(])\s*([\d.]+)\s*,\s*([\d.]+)\s*([\])])$/.exec(String(range || '').trim());
  if (!m) return false;
  const num = (v) => String(v).split('.').map((x) => parseInt(x, 10) || 0);
  const cmp = (a, b) => {
    const x = num(a);
    const y = num(b);
    for (let i = 0; i < Math.max(x.length, y.length); i++) {
      if ((x[i] || 0) !== (y[i] || 0)) return (x[i] || 0) < (y[i] || 0) ? -1 : 1;
    }
    return 0;
  };
  const lo = cmp(version, m[2]);
  const hi = cmp(version, m[3]);
  return (m[1] === '[' ? lo >= 0 : lo > 0) && (m[4] === ']' ? hi <= 0 : hi < 0);
}

/**
 * @param {object} options
 * @param {object} options.app the application model shared with the premierepro module
 * @param {string} options.home the home directory the page's os.homedir() answers
 * @param {string} [options.helperDir] the extension folder (default cep-helper/)
 * @param {string} [options.build] what app.build answers
 * @param {number} [options.scriptTimeoutMs] longest run of one ExtendScript evaluation
 * @param {(line: string) => void} [options.onConsole] page console and ExtendScript trace output
 * @param {{begin: (verb: string) => number, end: (token: number) => void}} [options.calls] hears of each call delivered and answered
 */
function loadHelper(options) {
  const helperDir = path.resolve(options.helperDir || DEFAULT_HELPER_DIR);
  const manifest = readManifest(helperDir);
  if (!versionInRange(options.app.version, manifest.hostRange)) {
    throw new Error(`The helper's manifest does not accept Premiere ${options.app.version} (host range ${manifest.hostRange})`);
  }
  const nodeEnabled = manifest.parameters.includes('--enable-nodejs');
  const say = (line) => { if (options.onConsole) options.onConsole(line); };

  const engine = new ExtendScriptEngine({
    app: options.app, build: options.build, scriptTimeoutMs: options.scriptTimeoutMs, onConsole: say,
  });
  if (manifest.scriptPath) {
    engine.loadFile(path.join(helperDir, manifest.scriptPath));
    for (const e of engine.loadErrors) say(`[extendscript] ${e}`);
  }

  // -- the evalScript queue -----------------------------------------------------------
  const queue = [];
  const immediates = new Set();
  let draining = false;
  let unloaded = false;
  const later = (fn) => {
    const h = setImmediate(() => { immediates.delete(h); if (!unloaded) fn(); });
    immediates.add(h);
  };
  const evaluated = [];
  function drain() {
    const job = queue.shift();
    if (!job) {
      draining = false;
      return;
    }
    const answer = engine.evaluate(job.script);
    evaluated.push(job.script);
    if (evaluated.length > 200) evaluated.shift();
    if (typeof job.callback === 'function') {
      later(() => {
        try { job.callback(answer); } catch (e) { say(`[cep] evalScript callback threw: ${e && e.message}`); }
      });
    }
    later(drain);
  }
  const cep = {
    evalScript(script, callback) {
      queue.push({ script: String(script), callback });
      if (!draining) {
        draining = true;
        later(drain);
      }
    },
    getHostEnvironment() {
      return JSON.stringify({ appName: 'PPRO', appVersion: options.app.version, appLocale: 'en_US' });
    },
  };

  // -- the page -----------------------------------------------------------------------
  const timers = createTimers();
  const os = Object.assign({}, nodeOs, { homedir: () => options.home });
  // Node's own modules, as --enable-nodejs gives them (the helper uses these four).
  const modules = { crypto: nodeCrypto, fs, os, path };
  const sockets = new Set();
  const scope = commonJsScope(modules);
  const sandbox = {
    console: { log: (...a) => say(a.join(' ')), error: (...a) => say(a.join(' ')), warn: (...a) => say(a.join(' ')), info: (...a) => say(a.join(' ')) },
    setTimeout: timers.setTimeout,
    clearTimeout: timers.clearTimeout,
    setInterval: timers.setInterval,
    clearInterval: timers.clearInterval,
    WebSocket: createWebSocketClass(sockets, null, options.calls || null),
    __adobe_cep__: cep,
    encodeURIComponent,
  };
  if (nodeEnabled) Object.assign(sandbox, scope);
  sandbox.window = sandbox;
  const context = vm.createContext(sandbox, { name: 'cep-helper' });
  const mainFile = path.join(helperDir, manifest.mainPath || 'index.html');
  const html = fs.readFileSync(mainFile, 'utf8');
  for (const m of html.matchAll(/<script\s+src="([^"]+)"\s*><\/script>/g)) {
    const file = path.join(path.dirname(mainFile), m[1]);
    vm.runInContext(fs.readFileSync(file, 'utf8'), context, { filename: file });
  }

  return {
    exports: scope.module.exports,
    manifest,
    engine,
    sockets,
    /** Scripts evaluated so far, oldest first (the newest 200). */
    evaluated,
    /** Evaluates ExtendScript now, outside the queue (for tests and tools). */
    evaluate: (script) => engine.evaluate(script),
    unload() {
      unloaded = true;
      timers.clearAll();
      for (const h of immediates) clearImmediate(h);
      immediates.clear();
      queue.length = 0;
      for (const s of sockets) {
        s.onclose = null;
        s.onmessage = null;
        try { s._ws.terminate(); } catch (e) { /* already gone */ }
      }
      sockets.clear();
    },
  };
}

module.exports = { loadHelper, readManifest, versionInRange, DEFAULT_HELPER_DIR };
