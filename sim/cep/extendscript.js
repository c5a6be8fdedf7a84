'use strict';
// The simulated ExtendScript engine: one script realm per helper (a vm context) holding
// host.jsx's globals, the `app` object and, after app.enableQE(), `qe`.
//
// ExtendScript is ES3, and the engine holds scripts to it:
//  * every script text (a loaded .jsx, each evalScript, each `new Function` body) is parsed
//    as ES3 first (acorn, ecmaVersion 3): `let`, arrow functions, template strings, getters
//    in literals and raw U+2028/U+2029 inside string literals are syntax errors;
//  * the realm lacks what ES5 and later added: JSON, Object.keys, Array.isArray,
//    Array.prototype.forEach/map/indexOf …, String.prototype.trim, Function.prototype.bind,
//    Date.now, Promise, Map, Set, Symbol …;
//  * errors carry `line`, the line of the script where they were raised.
// Evaluation is synchronous, like ExtendScript on Premiere's main thread. A script that
// runs past `scriptTimeoutMs` is stopped (Premiere would hang instead; see sim/README.md).

const vm = require('vm');
const fs = require('fs');
const path = require('path');
const acorn = require('acorn');
const { createDom } = require('./dom');

// What CEP hands the callback when a script fails (CSInterface's EvalScript_ErrMessage).
const EVAL_SCRIPT_ERROR = 'EvalScript error.';

// Members that ES5 and later added, removed from the script realm.
const REMOVED_GLOBALS = [
  'JSON', 'Promise', 'Map', 'Set', 'WeakMap', 'WeakSet', 'WeakRef', 'FinalizationRegistry', 'Symbol', 'Proxy',
  'Reflect', 'ArrayBuffer', 'SharedArrayBuffer', 'DataView', 'Int8Array', 'Uint8Array', 'Uint8ClampedArray',
  'Int16Array', 'Uint16Array', 'Int32Array', 'Uint32Array', 'Float32Array', 'Float64Array', 'BigInt',
  'BigInt64Array', 'BigUint64Array', 'Atomics', 'globalThis', 'AggregateError', 'Intl', 'WebAssembly',
];
const REMOVED_MEMBERS = {
  Object: ['keys', 'create', 'defineProperty', 'defineProperties', 'getPrototypeOf', 'getOwnPropertyNames',
    'getOwnPropertyDescriptor', 'getOwnPropertyDescriptors', 'getOwnPropertySymbols', 'freeze', 'isFrozen', 'seal',
    'isSealed', 'preventExtensions', 'isExtensible', 'assign', 'entries', 'values', 'fromEntries', 'is',
    'setPrototypeOf', 'hasOwn', 'groupBy'],
  Array: ['isArray', 'from', 'of'],
  'Array.prototype': ['forEach', 'map', 'filter', 'reduce', 'reduceRight', 'some', 'every', 'indexOf',
    'lastIndexOf', 'find', 'findIndex', 'findLast', 'findLastIndex', 'includes', 'fill', 'entries', 'keys',
    'values', 'flat', 'flatMap', 'at', 'copyWithin', 'toSorted', 'toReversed', 'toSpliced', 'with'],
  'String.prototype': ['trim', 'trimStart', 'trimEnd', 'trimLeft', 'trimRight', 'includes', 'startsWith',
    'endsWith', 'repeat', 'padStart', 'padEnd', 'codePointAt', 'normalize', 'at', 'replaceAll', 'matchAll',
    'isWellFormed', 'toWellFormed'],
  String: ['fromCodePoint', 'raw'],
  'Function.prototype': ['bind'],
  Date: ['now'],
  'Date.prototype': ['toISOString', 'toJSON'],
  Number: ['isInteger', 'isSafeInteger', 'isFinite', 'isNaN', 'parseFloat', 'parseInt'],
  Math: ['trunc', 'sign', 'cbrt', 'log2', 'log10', 'log1p', 'expm1', 'hypot', 'clz32', 'imul', 'fround',
    'sinh', 'cosh', 'tanh', 'asinh', 'acosh', 'atanh'],
};

/** Parses a script as ES3; returns the error message, or null when it is valid. */
function es3Error(text, asFunctionBody) {
  try {
    acorn.parse(text, { ecmaVersion: 3, allowReturnOutsideFunction: !!asFunctionBody, locations: true });
    return null;
  } catch (e) {
    return e && e.message ? e.message : String(e);
  }
}

class ExtendScriptEngine {
  /**
   * @param {object} options
   * @param {object} options.app the application model shared with the premierepro module
   * @param {string} [options.build] what app.build answers
   * @param {number} [options.scriptTimeoutMs] longest run of one script (default 30 s)
   * @param {(line: string) => void} [options.onConsole] $.writeln and app.trace output
   */
  constructor(options) {
    this.scriptTimeoutMs = options.scriptTimeoutMs || 30000;
    this.files = new Set(['evalScript']);
    this.loadErrors = [];
    this.context = vm.createContext({}, { name: 'extendscript' });
    const realm = vm.runInContext('({ Error: Error, SyntaxError: SyntaxError, Function: Function, Array: Array })', this.context);
    this.realm = realm;
    this.installErrorLines();
    this.installFunctionCheck();
    this.removeLaterFeatures();

    const say = (line) => { if (options.onConsole) options.onConsole(line); };
    const dom = createDom({
      app: options.app,
      build: options.build || '1',
      scriptError: (message) => new realm.Error(message),
      defineGlobal: (name, value) => { this.context[name] = value; },
      onTrace: say,
    });
    this.dom = dom;
    this.context.app = dom.app;
    this.context.Time = dom.Time;
    this.context.$ = { writeln: (...a) => { say(a.map(String).join(' ')); }, write: (...a) => { say(a.map(String).join(' ')); } };
  }

  /** Errors of the script realm answer `line`: the script line where they were made. */
  installErrorLines() {
    const files = this.files;
    const lineOf = (stack) => {
      if (typeof stack !== 'string') return undefined;
      for (const frame of stack.split('\n').slice(1)) {
        const m = /\(?([^()\s]*):(\d+):\d+\)?\s*$/.exec(frame);
        if (!m) continue;
        // Function bodies run as "<anonymous>" with two header lines before the body.
        if (m[1] === '<anonymous>') return Math.max(1, parseInt(m[2], 10) - 2);
        if (files.has(m[1])) return parseInt(m[2], 10);
      }
      return undefined;
    };
    Object.defineProperty(this.realm.Error.prototype, 'line', {
      configurable: true,
      get() { return lineOf(this.stack); },
      set(v) { Object.defineProperty(this, 'line', { value: v, writable: true, configurable: true, enumerable: true }); },
    });
  }

  /** `new Function(args…, body)` parses its body as ES3 first. */
  installFunctionCheck() {
    const realm = this.realm;
    const Original = realm.Function;
    function ES3Function(...args) {
      const body = args.length > 0 ? String(args[args.length - 1]) : '';
      const problem = es3Error(body, true);
      if (problem) throw new realm.SyntaxError(problem);
      return Original(...args);
    }
    ES3Function.prototype = Original.prototype;
    this.context.Function = ES3Function;
  }

  removeLaterFeatures() {
    // Built-ins live on the realm's own global object, not on the sandbox: delete them there.
    const remove = vm.runInContext('(function (names) { for (var i = 0; i < names.length; i++) delete this[names[i]]; })', this.context);
    remove.call(vm.runInContext('this', this.context), REMOVED_GLOBALS);
    const lookup = vm.runInContext('({ Object: Object, Array: Array, "Array.prototype": Array.prototype, String: String, ' +
      '"String.prototype": String.prototype, "Function.prototype": Function.prototype, Date: Date, ' +
      '"Date.prototype": Date.prototype, Number: Number, Math: Math })', this.context);
    for (const [owner, names] of Object.entries(REMOVED_MEMBERS)) {
      for (const n of names) delete lookup[owner][n];
    }
  }

  /** An array of the script realm (so `instanceof Array` holds in scripts). */
  scriptArray(list) {
    const a = new this.realm.Array();
    for (const x of list) a.push(x);
    return a;
  }

  /**
   * Loads a .jsx file into the realm, as Premiere does with an extension's ScriptPath. A
   * file that fails to parse or run is recorded in loadErrors and defines nothing further.
   */
  loadFile(file) {
    const name = path.resolve(file);
    this.files.add(name);
    let text;
    try {
      text = fs.readFileSync(name, 'utf8');
    } catch (e) {
      this.loadErrors.push(`${name}: ${e.message}`);
      return false;
    }
    const problem = es3Error(text, false);
    if (problem) {
      this.loadErrors.push(`${name}: ${problem}`);
      return false;
    }
    try {
      vm.runInContext(text, this.context, { filename: name, timeout: this.scriptTimeoutMs });
      return true;
    } catch (e) {
      this.loadErrors.push(`${name}: ${e && e.message ? e.message : String(e)}`);
      return false;
    }
  }

  /**
   * Evaluates one script and returns what CEP hands evalScript's callback: the value of
   * its last statement as text, or "EvalScript error." when it fails to parse, throws or
   * runs too long.
   */
  evaluate(script) {
    const text = String(script);
    if (es3Error(text, false)) return EVAL_SCRIPT_ERROR;
    try {
      const value = vm.runInContext(text, this.context, { filename: 'evalScript', timeout: this.scriptTimeoutMs });
      return String(value);
    } catch (e) {
      return EVAL_SCRIPT_ERROR;
    }
  }
}

module.exports = { ExtendScriptEngine, EVAL_SCRIPT_ERROR, es3Error };
