'use strict';
// Project, its options, Action and CompoundAction.

const fs = require('fs');
const path = require('path');
const { view, modelOf, peekModel, illegalConstructor, requireLock } = require('./internal');
const { ProjectModel } = require('./model');
const { ItemModel, SequenceModel, defaultSettings } = require('./records');
const { placeItem } = require('./timeline');
const { Guid, ticksPerFrameFor } = require('./values');
const { EVENTS } = require('./constants');

/** An action: an edit that does nothing until a transaction commits it. */
class ActionModel {
  constructor(project, kind, apply) {
    this.project = project;
    this.kind = kind;
    this.apply = apply;
    this.used = false;
  }
}

function install(api, app) {
  /** Builds an action (only inside lockedAccess, as Premiere 26.3 enforces). */
  api.action = (project, kind, apply) => {
    requireLock(project, kind);
    return view(api.Action, new ActionModel(project, kind, apply));
  };

  api.Action = class Action {
    constructor() { illegalConstructor(); }
  };

  api.CompoundAction = class CompoundAction {
    constructor() { illegalConstructor(); }

    addAction(action) {
      const compound = modelOf(this, Object, 'CompoundAction');
      const a = modelOf(action, ActionModel, 'Action');
      if (!compound.open) throw new Error('CompoundAction.addAction: the transaction has already ended');
      if (a.project !== compound.project || a.used) return false;
      a.used = true;
      compound.actions.push(a);
      return true;
    }

    get empty() { return modelOf(this, Object, 'CompoundAction').actions.length === 0; }
  };

  // Declared constructible and callable; Adobe's project sample calls
  // `ppro.OpenProjectOptions()` without `new`. So both are constructor functions that
  // construct when called, with their setters and getters on the prototype.
  function optionsClass(name, defaults, names) {
    const Class = function () {
      if (!new.target) return new Class();
      this._o = Object.assign({}, defaults);
    };
    Object.defineProperty(Class, 'name', { value: name });
    for (const n of names) {
      const setter = 'set' + n.charAt(0).toUpperCase() + n.slice(1);
      Object.defineProperty(Class.prototype, setter, {
        value: { [setter](v) { this._o[n] = !!v; return this; } }[setter], writable: true, configurable: true,
      });
      Object.defineProperty(Class.prototype, n, { get() { return this._o[n]; }, configurable: true });
    }
    return Class;
  }

  api.OpenProjectOptions = optionsClass('OpenProjectOptions',
    { showConvertProjectDialog: true, showLocateFileDialog: true, showWarningDialog: true, addToMRUList: true },
    ['showConvertProjectDialog', 'showLocateFileDialog', 'showWarningDialog', 'addToMRUList']);

  api.CloseProjectOptions = optionsClass('CloseProjectOptions',
    { promptIfDirty: true, showCancelButton: true, isAppBeingPreparedToQuit: false, saveWorkspace: true },
    ['promptIfDirty', 'showCancelButton', 'isAppBeingPreparedToQuit', 'saveWorkspace']);
  const projectOf = (p) => modelOf(p, ProjectModel, 'Project');
  const liveProject = (p) => {
    const m = projectOf(p);
    if (!app.projects.includes(m)) throw new Error('The project has been closed');
    return m;
  };

  /** Frame size, rate and audio of a new sequence from a preset file (JSON or .sqpreset XML). */
  function presetSettings(presetPath) {
    let text;
    try {
      text = fs.readFileSync(presetPath, 'utf8');
    } catch (e) {
      return null;
    }
    const s = {};
    try {
      const j = JSON.parse(text);
      if (j.width > 0) s.width = j.width;
      if (j.height > 0) s.height = j.height;
      if (j.fps > 0) s.tpf = ticksPerFrameFor(j.fps);
      if (j.sampleRate > 0) s.sampleRate = j.sampleRate;
      return s;
    } catch (e) {
      // not JSON: look for the frame size and time base of a sequence preset
    }
    let m = /<FrameRect>\s*0\s*,\s*0\s*,\s*(\d+)\s*,\s*(\d+)\s*<\/FrameRect>/i.exec(text);
    if (m) { s.width = parseInt(m[1], 10); s.height = parseInt(m[2], 10); }
    m = /<FrameRate>\s*(\d+)\s*<\/FrameRate>/i.exec(text);
    if (m && parseInt(m[1], 10) > 0) s.tpf = parseInt(m[1], 10);
    return s;
  }

  api.Project = class Project {
    constructor() { illegalConstructor(); }

    static async createProject(path) {
      const m = app.createProject(String(path));
      return m ? view(api.Project, m) : null;
    }

    static isProject(projectPath) {
      return ProjectModel.readFrom(app, String(projectPath)) !== null;
    }

    static async open(path, openProjectOptions = undefined) {
      if (openProjectOptions !== undefined && !(openProjectOptions instanceof api.OpenProjectOptions)) {
        throw new TypeError('Illegal argument: expected OpenProjectOptions');
      }
      const m = app.openProject(String(path));
      return m ? view(api.Project, m) : null;
    }

    static async getActiveProject() {
      return app.activeProject ? view(api.Project, app.activeProject) : null;
    }

    static getProject(projectGuid) {
      const g = projectGuid instanceof Guid ? projectGuid.toString() : null;
      if (g === null) throw new TypeError('Illegal argument: expected Guid');
      const m = app.projects.find((p) => p.guid === g);
      return m ? view(api.Project, m) : null;
    }

    async getActiveSequence() {
      const m = liveProject(this);
      return m.activeSequence ? view(api.Sequence, m.activeSequence) : null;
    }

    async setActiveSequence(sequence) {
      const m = liveProject(this);
      const s = modelOf(sequence, SequenceModel, 'Sequence');
      if (!m.sequences.includes(s)) return false;
      m.activeSequence = s;
      app.emit(EVENTS.SEQUENCE_ACTIVATED, null, {});
      return true;
    }

    async createSequence(name, presetPath = undefined) {
      const m = liveProject(this);
      let settings = {};
      if (presetPath !== undefined && presetPath !== null && presetPath !== '') {
        settings = presetSettings(String(presetPath));
        if (!settings) return null;
      }
      const seq = m.newSequence(String(name), null, settings);
      m.activeSequence = seq;
      m.markDirty();
      return view(api.Sequence, seq);
    }

    async createSequenceWithPresetPath(name, presetPath) {
      const settings = presetSettings(String(presetPath));
      if (!settings) return null;
      const m = liveProject(this);
      const seq = m.newSequence(String(name), null, settings);
      m.activeSequence = seq;
      m.markDirty();
      return view(api.Sequence, seq);
    }

    async createSequenceFromMedia(name, clipProjectItems = undefined, targetBin = undefined) {
      const m = liveProject(this);
      const clips = (clipProjectItems || []).map((c) => modelOf(c, ItemModel, 'ClipProjectItem'));
      for (const c of clips) {
        if (c.kind !== 'clip' || c._project !== m) throw new TypeError('Illegal argument: expected ClipProjectItem of this project');
      }
      let bin = m.root;
      if (targetBin !== undefined && targetBin !== null) {
        bin = modelOf(targetBin, ItemModel, 'ProjectItem');
        if (bin.kind !== 'bin' && bin.kind !== 'root') throw new TypeError('Illegal argument: targetBin is not a bin');
      }
      const settings = {};
      const first = clips.find((c) => c.media && c.media.hasVideo && c.media.kind !== 'still') || clips.find((c) => c.media && c.media.hasVideo);
      if (first) Object.assign(settings, { width: first.media.width, height: first.media.height, tpf: first.media.tpf, previewWidth: first.media.width, previewHeight: first.media.height });
      const audio = clips.find((c) => c.media && c.media.hasAudio);
      if (audio) settings.sampleRate = audio.media.sampleRate || defaultSettings().sampleRate;
      const seq = m.newSequence(String(name), bin, settings);
      let at = 0n;
      for (const c of clips) {
        const placed = placeItem(seq, c, at, 0, 0, false, false);
        at = placed[0].end;
      }
      m.activeSequence = seq;
      m.markDirty();
      return view(api.Sequence, seq);
    }

    async deleteSequence(sequence) {
      const m = liveProject(this);
      const s = modelOf(sequence, SequenceModel, 'Sequence');
      if (!m.sequences.includes(s)) return false;
      m.removeItem(s.item);
      m.markDirty();
      return true;
    }

    async getInsertionBin() {
      return view(api.ProjectItem, liveProject(this).root);
    }

    async openSequence(sequence) {
      const m = liveProject(this);
      return m.sequences.includes(modelOf(sequence, SequenceModel, 'Sequence'));
    }

    async closeSequence(sequence) {
      const m = liveProject(this);
      return m.sequences.includes(modelOf(sequence, SequenceModel, 'Sequence'));
    }

    async importFiles(filePaths, suppressUI = undefined, targetBin = undefined, asNumberedStills = undefined) {
      const m = liveProject(this);
      if (!Array.isArray(filePaths)) throw new TypeError('Illegal argument: filePaths must be an array of strings');
      let bin = m.root;
      if (targetBin !== undefined && targetBin !== null) {
        bin = modelOf(targetBin, ItemModel, 'ProjectItem');
        if ((bin.kind !== 'bin' && bin.kind !== 'root') || !bin.attached) throw new TypeError('Illegal argument: targetBin is not a bin of this project');
      }
      let ok = filePaths.length > 0;
      for (const f of filePaths) {
        if (typeof f !== 'string' || !m.importFile(f, bin)) ok = false;
      }
      m.markDirty();
      return ok;
    }

    async close(closeProjectOptions = undefined) {
      const m = projectOf(this);
      if (closeProjectOptions !== undefined && !(closeProjectOptions instanceof api.CloseProjectOptions)) {
        throw new TypeError('Illegal argument: expected CloseProjectOptions');
      }
      return app.closeProject(m);
    }

    async save() {
      const m = liveProject(this);
      try {
        m.writeTo(m.path);
      } catch (e) {
        return false;
      }
      m._dirty = false;
      return true;
    }

    async saveAs(path_) {
      const m = liveProject(this);
      const target = path.resolve(String(path_));
      try {
        m.writeTo(target);
      } catch (e) {
        return false;
      }
      m.path = target;
      m._dirty = false;
      return true;
    }

    getSequence(guid) {
      const m = liveProject(this);
      if (!(guid instanceof Guid)) throw new TypeError('Illegal argument: expected Guid');
      const s = m.sequenceByGuid(guid.toString());
      return s ? view(api.Sequence, s) : null;
    }

    async getSequences() {
      return liveProject(this).sequences.map((s) => view(api.Sequence, s));
    }

    async getRootItem() {
      return view(api.FolderItem, liveProject(this).root);
    }

    executeTransaction(callback, undoString = undefined) {
      const m = liveProject(this);
      if (typeof callback !== 'function') throw new TypeError('executeTransaction: callback must be a function');
      return m.executeTransaction((compound) => callback(view(api.CompoundAction, compound)), undoString);
    }

    lockedAccess(callback) {
      const m = liveProject(this);
      if (typeof callback !== 'function') throw new TypeError('lockedAccess: callback must be a function');
      // The callback runs synchronously; an async callback holds the lock only until its
      // first await, exactly as in Premiere.
      m.lockedAccess(() => { callback(); });
    }

    get guid() { return Guid.fromString(projectOf(this).guid); }
    get name() { return projectOf(this).name; }
    get path() { return projectOf(this).path; }
  };

  api.peekModel = peekModel;
}

module.exports = { install, ActionModel };
