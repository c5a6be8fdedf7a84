'use strict';
// The Premiere simulator's programmatic API, for tests and tools.
//
//   const { createSim } = require('./sim');
//   const sim = createSim({ home });          // loads uxp-plugin/index.js
//   const r = await sim.call('new_project', { path: '/tmp/a.prproj' });
//   sim.undoHistory();                         // undo labels of the active project
//   sim.dispose();

const path = require('path');
const { AppModel, createPremiere } = require('./premierepro');
const { loadPlugin } = require('./host');

class Sim {
  /**
   * @param {object} [options]
   * @param {string} [options.home] home directory the plug-in sees (default $HOME)
   * @param {string} [options.pluginDir] plug-in folder (default uxp-plugin/)
   * @param {string} [options.version] simulated Premiere version, 25.6.0 to 26.5.0 (default
   *   26.3.0); it offers exactly that version's members (premierepro/since.js). Throws
   *   for a version outside that range.
   * @param {string} [options.platform] what the plug-in's os.platform() answers
   * @param {number} [options.transcribeMs] how long simulated speech-to-text takes
   * @param {(line: string) => void} [options.onConsole] the plug-in's console output
   * @param {boolean} [options.ameInstalled] whether Adobe Media Encoder is installed
   * @param {number} [options.renderMs] how long a simulated render or frame write takes
   * @param {boolean} [options.frameExportDoubleExtension] false: frame export keeps the name as given
   * @param {Record<string, Record<string, string>>} [options.libraries] CC libraries: name → element → .mogrt path
   */
  constructor(options = {}) {
    this.options = options;
    this.app = new AppModel(options);
    this.ppro = createPremiere(this.app);
    this.host = loadPlugin({
      ppro: this.ppro,
      home: options.home || process.env.HOME || '',
      pluginDir: options.pluginDir,
      version: this.app.version,
      platform: options.platform,
      onConsole: options.onConsole,
    });
    this.plugin = this.host.exports;
  }

  /**
   * Runs a verb the way a bridge call does and returns the result message's members
   * ({ok, result, warnings} or {ok: false, error, errorCode, stack}) as they travel on the
   * wire (serialised with the plug-in's own replacer and parsed again).
   */
  async call(verb, args) {
    const out = await this.plugin.runVerb(verb, args);
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
    const el = (id) => this.host.document.getElementById(id);
    return {
      status: el('status') ? el('status').textContent : null,
      led: el('led') ? el('led').className : null,
      last: el('last') ? el('last').textContent : null,
      log: this.plugin.panelLog.slice(),
    };
  }

  dispose() {
    this.host.unload();
    this.app.dispose();
  }
}

function createSim(options) {
  return new Sim(options);
}

module.exports = { Sim, createSim, PLUGIN_DIR: path.join(__dirname, '..', 'uxp-plugin') };
