'use strict';
// The Premiere simulator's programmatic API, for tests and tools.
//
//   const { createSim } = require('./sim');
//   const sim = createSim({ home });          // loads uxp-plugin/index.js
//   const r = await sim.call('new_project', { path: '/tmp/a.prproj' });
//   sim.undoHistory();                         // undo labels of the active project
//   await sim.cepCall('razor', { time: 5 });   // the CEP helper's verbs, through its main.js
//   sim.dispose();

const path = require('path');
const { AppModel, createPremiere } = require('./premierepro');
const { loadPlugin } = require('./host');
const { loadHelper } = require('./cep/runtime');

class Sim {
  /**
   * @param {object} [options]
   * @param {string} [options.home] home directory the plug-in sees (default $HOME)
   * @param {string} [options.pluginDir] plug-in folder (default uxp-plugin/)
   * @param {string} [options.version] simulated Premiere version, 25.6.0 to 26.5.0 (default
   *   26.3.0); it offers exactly that version's members (premierepro/since.js). Throws
   *   for a version outside that range.
   * @param {string} [options.platform] what the plug-in's os.platform() answers
   * @param {string} [options.locale] the language Premiere speaks: en_US (default), de_DE or
   *   ja_JP; display names of effects and parameters are translated (premierepro/locale.js)
   * @param {number} [options.transcribeMs] how long simulated speech-to-text takes
   * @param {(line: string) => void} [options.onConsole] the plug-ins' console output
   * @param {boolean} [options.ameInstalled] whether Adobe Media Encoder is installed
   * @param {number} [options.renderMs] how long a simulated render or frame write takes
   * @param {boolean} [options.frameExportDoubleExtension] false: frame export keeps the name as given
   * @param {Record<string, Record<string, string>>} [options.libraries] CC libraries: name → element → .mogrt path
   * @param {'uxp' | 'cep'} [options.only] start only that plug-in (default: both)
   * @param {string} [options.helperDir] CEP helper folder (default cep-helper/)
   * @param {number} [options.scriptTimeoutMs] longest run of one ExtendScript evaluation
   * @param {object | string[]} [options.faults] verbs whose transactions lie:
   *   `{noop: ['add_marker'], partial: ['trim_clip'], stale: ['move_clip']}` or texts such
   *   as "noop=add_marker,move_clip" (premierepro/faults.js)
   */
  constructor(options = {}) {
    if (options.only !== undefined && options.only !== 'uxp' && options.only !== 'cep') {
      throw new Error(`only must be "uxp" or "cep", not ${JSON.stringify(options.only)}`);
    }
    this.options = options;
    this.app = new AppModel(options);
    this.ppro = createPremiere(this.app);
    const home = options.home || process.env.HOME || '';
    const calls = { begin: (verb) => this.app.faults.begin(verb), end: (token) => this.app.faults.end(token) };
    this.host = null;
    this.plugin = null;
    this.cep = null;
    if (options.only !== 'cep') {
      this.host = loadPlugin({
        ppro: this.ppro,
        home,
        pluginDir: options.pluginDir,
        version: this.app.version,
        locale: this.app.locale,
        platform: options.platform,
        onConsole: options.onConsole,
        calls,
      });
      this.plugin = this.host.exports;
    }
    if (options.only !== 'uxp') {
      try {
        this.cep = loadHelper({
          app: this.app,
          home,
          helperDir: options.helperDir,
          scriptTimeoutMs: options.scriptTimeoutMs,
          onConsole: options.onConsole,
          calls,
        });
      } catch (e) {
        this.dispose();
        throw e;
      }
    }
  }

  /**
   * Runs a verb in the CEP helper the way a bridge call does (main.js → evalScript →
   * host.jsx) and returns the members of its result message ({ok, result} or {ok: false,
   * errorCode, error, line}), as they travel on the wire.
   */
  async cepCall(verb, args) {
    if (!this.cep) throw new Error('The CEP helper is not loaded (only: "uxp")');
    const token = this.app.faults.begin(verb);
    try {
      return JSON.parse(JSON.stringify(await this.cep.exports.runCall(verb, args)));
    } finally {
      this.app.faults.end(token);
    }
  }

  /** Like cepCall, but returns the result and throws when the verb failed. */
  async cepOk(verb, args) {
    const r = await this.cepCall(verb, args);
    if (!r.ok) {
      const e = new Error(`${verb} failed in the CEP helper: [${r.errorCode}] ${r.error}`);
      e.result = r;
      throw e;
    }
    return r.result;
  }

  /**
   * Runs a verb the way a bridge call does and returns the result message's members
   * ({ok, result, warnings} or {ok: false, error, errorCode, stack}) as they travel on the
   * wire (serialised with the plug-in's own replacer and parsed again).
   */
  async call(verb, args) {
    if (!this.plugin) throw new Error('The UXP plug-in is not loaded (only: "cep")');
    const token = this.app.faults.begin(verb);
    let out;
    try {
      out = await this.plugin.runVerb(verb, args);
    } finally {
      this.app.faults.end(token);
    }
    return JSON.parse(JSON.stringify(out, this.plugin.replacer));
  }

  /** Like call, but returns the result and throws when the verb failed. */
  async ok(verb, args) {
    const r = await this.call(verb, args);
    if (!r.ok) {
      const e = new Error(`${verb} failed: [${r.errorCode}] ${r.error}`);
      e.result = r;
      throw e;
    }
    return r.result;
  }

  /** The active project's model (or null). */
  project() { return this.app.activeProject; }

  /** Undo labels of a project's history, oldest first. */
  undoHistory(project = this.app.activeProject) {
    return project ? project._history.map((h) => h.label) : [];
  }

  /** Transactions Premiere refused, with the reason. */
  rejections(project = this.app.activeProject) {
    return project ? project._rejections.slice() : [];
  }

  undo(project = this.app.activeProject) { return project ? project.undo() : null; }
  redo(project = this.app.activeProject) { return project ? project.redo() : null; }

  /** What the panel shows: status text, light classes, last verb and log lines. */
  panel() {
    if (!this.host) return null;
    const el = (id) => this.host.document.getElementById(id);
    return {
      status: el('status') ? el('status').textContent : null,
      led: el('led') ? el('led').className : null,
      last: el('last') ? el('last').textContent : null,
      log: this.plugin.panelLog.slice(),
    };
  }

  dispose() {
    if (this.host) this.host.unload();
    if (this.cep) this.cep.unload();
    this.app.dispose();
  }
}

function createSim(options) {
  return new Sim(options);
}

module.exports = {
  Sim, createSim, PLUGIN_DIR: path.join(__dirname, '..', 'uxp-plugin'), HELPER_DIR: path.join(__dirname, '..', 'cep-helper'),
};
