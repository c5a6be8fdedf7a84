'use strict';
// The simulated Premiere's projects and application: the item tree and sequences of each
// open project (records.js), the transaction engine with its undo history, the project file
// on disk, and the application with its open projects, events and timers.
//
// Everything here is reached by script only through the API classes of this folder.

const fs = require('fs');
const path = require('path');
const zlib = require('zlib');
const crypto = require('crypto');
const { Model, SimReject, snapshot, restore } = require('./internal');
const { ticksPerFrameFor } = require('./values');
const { probeMedia } = require('./media');
const { normaliseVersion } = require('./since');
const { normaliseLocale } = require('./locale');
const { EVENTS } = require('./constants');
const { FaultPlan } = require('./faults');
const {
  ItemModel, TrackModel, ParamModel, ComponentModel, TrackItemModel, SequenceModel, readMarkers, secondsToTicks,
} = require('./records');

const FIRST_ITEM_ID = 0xf4240;
const PROJECT_FORMAT = 'cutrelay-sim-prproj';

// ---------------------------------------------------------------------------------------
// Projects

class ProjectModel extends Model {
  constructor(app, file) {
    super();
    this._app = app;
    this._lockDepth = 0;
    this._history = [];
    this._redo = [];
    this._rejections = [];
    this._dirty = false;
    this.path = file;
    this.guid = crypto.randomUUID();
    this.nextId = FIRST_ITEM_ID;
    this.root = new ItemModel(this, 'root', '');
    this.sequences = [];
    this.activeSequence = null;
  }

  get app() { return this._app; }
  get name() { return path.basename(this.path); }

  allocateId() {
    const id = this.nextId.toString(16).padStart(8, '0');
    this.nextId += 1;
    return id;
  }

  /** Every item of the tree, pre-order. */
  items() {
    const out = [];
    const walk = (n) => { for (const c of n.children) { out.push(c); walk(c); } };
    walk(this.root);
    return out;
  }

  addChild(parent, child) {
    child.parent = parent;
    parent.children.push(child);
  }

  detach(item) {
    if (item.parent) item.parent.children = item.parent.children.filter((c) => c !== item);
    item.parent = null;
  }

  /** Removing an item from the project also removes its uses on every timeline. */
  removeItem(item) {
    const doomed = [item];
    const walk = (n) => { for (const c of n.children) { doomed.push(c); walk(c); } };
    walk(item);
    this.detach(item);
    for (const d of doomed) {
      if (d.sequence) {
        this.sequences = this.sequences.filter((s) => s !== d.sequence);
        if (this.activeSequence === d.sequence) this.activeSequence = this.sequences[0] || null;
      }
    }
    for (const seq of this.sequences) {
      for (const t of seq.allTracks()) t.items = t.items.filter((ti) => !doomed.includes(ti.source));
    }
  }

  newSequence(name, parent, settings) {
    const item = new ItemModel(this, 'clip', name);
    const seq = new SequenceModel(this, item, settings);
    this.addChild(parent || this.root, item);
    this.sequences.push(seq);
    return seq;
  }

  sequenceByGuid(guid) {
    return this.sequences.find((s) => s.guid === guid) || null;
  }

  trackItemOwner(ti) {
    for (const seq of this.sequences) if (seq.trackOf(ti)) return seq;
    return null;
  }

  // -- transactions ------------------------------------------------------------------

  lockedAccess(callback) {
    this._lockDepth += 1;
    try {
      callback();
    } finally {
      this._lockDepth -= 1;
    }
  }

  /**
   * Runs a transaction: all actions or none, one undo step. A transaction is itself a lock
   * context (Adobe's eslint-plugin-premierepro rule docs call executeTransaction without
   * lockedAccess valid, though not recommended), so actions built in its callback are legal.
   */
  executeTransaction(callback, undoString) {
    const compound = { project: this, actions: [], open: true };
    this._lockDepth += 1;
    try {
      callback(compound);
    } finally {
      this._lockDepth -= 1;
      compound.open = false;
    }
    if (compound.actions.length === 0) return true;
    // A fault asked for (faults.js): success that changes nothing, only the first action
    // applied, or the failure of a stale action.
    const fault = this._app.faults.current();
    if (fault === 'noop') return true;
    if (fault === 'stale') {
      this._rejections.push({ label: undoString || '', message: 'fault stale: an action of the transaction was stale', kind: 'rejected' });
      return false;
    }
    const actions = fault === 'partial' ? compound.actions.slice(0, 1) : compound.actions;
    try {
      this.applyEdit(undoString === undefined ? '' : String(undoString), () => {
        for (const action of actions) action.apply();
      }, actions.map((a) => a.kind));
    } catch (e) {
      this._rejections.push({ label: undoString || '', message: e && e.message ? e.message : String(e), kind: e instanceof SimReject ? 'rejected' : 'error' });
      return false;
    }
    return true;
  }

  /**
   * The one way the project changes undoably (a transaction, a QE edit, an edit Premiere
   * makes on its own): all of `change` or nothing, as one undo step named `label`. What
   * `change` throws leaves the project as it was and is thrown on.
   */
  applyEdit(label, change, actions = []) {
    const before = snapshot(this);
    try {
      change();
    } catch (e) {
      restore(before);
      throw e;
    }
    this._history.push({ label, actions, before });
    this._redo = [];
    this.markDirty();
  }

  undo() {
    const step = this._history.pop();
    if (!step) return null;
    const after = snapshot(this);
    restore(step.before);
    this._redo.push({ label: step.label, actions: step.actions, before: after });
    this.markDirty();
    return step.label;
  }

  redo() {
    const step = this._redo.pop();
    if (!step) return null;
    const before = snapshot(this);
    restore(step.before);
    this._history.push({ label: step.label, actions: step.actions, before });
    this.markDirty();
    return step.label;
  }

  markDirty() {
    const was = this._dirty;
    this._dirty = true;
    if (!was) this._app.emit(EVENTS.PROJECT_DIRTY, this);
  }

  // -- import ------------------------------------------------------------------------

  importFile(file, bin) {
    const info = probeMedia(file);
    if (!info) return null;
    const item = new ItemModel(this, 'clip', path.basename(file));
    const tpf = ticksPerFrameFor(info.fps);
    item.media = {
      path: file, kind: info.kind, durationTicks: secondsToTicks(info.duration).toString(), tpf,
      width: info.width, height: info.height, hasVideo: info.hasVideo, hasAudio: info.hasAudio,
      audioChannels: info.audioChannels, sampleRate: info.sampleRate,
      startTicks: secondsToTicks(info.startSeconds).toString(), transcriptSource: info.transcript,
      speed: info.speed, sceneCuts: info.sceneCuts.map((c) => secondsToTicks(c).toString()),
    };
    this.addChild(bin || this.root, item);
    return item;
  }

  // -- files -------------------------------------------------------------------------

  toJSON() {
    const itemJson = (n) => ({
      id: n.id, kind: n.kind, name: n.name, color: n.color, media: n.media,
      sequence: n.sequence ? n.sequence.guid : null,
      inPoint: n.inPoint === null ? null : String(n.inPoint), outPoint: n.outPoint === null ? null : String(n.outPoint),
      subclip: n.subclip, xmp: n.xmp, projectMetadata: n.projectMetadata, transcript: n.transcript,
      offline: n.offline, markers: n.markers, children: n.children.map(itemJson),
    });
    const tiJson = (ti) => ({
      source: ti.source ? ti.source.id : null, name: ti.name, start: String(ti.start), end: String(ti.end),
      inPoint: String(ti.inPoint), speed: ti.speed, reversed: ti.reversed, disabled: ti.disabled,
      graphic: ti.graphic,
      transitions: {
        start: ti.transitions.start && Object.assign({}, ti.transitions.start, { duration: String(ti.transitions.start.duration) }),
        end: ti.transitions.end && Object.assign({}, ti.transitions.end, { duration: String(ti.transitions.end.duration) }),
      },
      components: ti.components.map((c) => ({
        matchName: c.matchName, displayName: c.displayName, intrinsic: !!c.intrinsic,
        params: c.params.map((p) => ({
          displayName: p.displayName, value: p.value, timeVarying: p.timeVarying,
          keyframes: p.keyframes.map((k) => Object.assign({}, k, { position: String(k.position) })),
        })),
      })),
    });
    const trackJson = (t) => ({ id: t.id, name: t.name, muted: t.muted, locked: t.locked, targeted: t.targeted, items: t.items.map(tiJson) });
    const big = (v) => (v === null ? null : String(v));
    return {
      format: PROJECT_FORMAT, version: 1, guid: this.guid, nextId: this.nextId,
      root: itemJson(this.root),
      sequences: this.sequences.map((s) => ({
        guid: s.guid, item: s.item.id, settings: s.settings, video: s.video.map(trackJson), audio: s.audio.map(trackJson),
        playhead: big(s.playhead), inPoint: big(s.inPoint), outPoint: big(s.outPoint), zeroPoint: big(s.zeroPoint),
        workIn: big(s.workIn), workOut: big(s.workOut), markers: s.markers,
      })),
      activeSequence: this.activeSequence ? this.activeSequence.guid : null,
    };
  }

  static fromJSON(app, file, data) {
    if (!data || data.format !== PROJECT_FORMAT) return null;
    const p = new ProjectModel(app, file);
    p.guid = data.guid || p.guid;
    p.nextId = data.nextId || FIRST_ITEM_ID;
    const byId = new Map();
    const bigOrNull = (v) => (v === null || v === undefined ? null : BigInt(v));
    const readItem = (j, parent) => {
      const n = new ItemModel(null, j.kind, j.name);
      n._project = p;
      Object.assign(n, {
        id: j.id, color: j.color, media: j.media, inPoint: bigOrNull(j.inPoint), outPoint: bigOrNull(j.outPoint),
        subclip: j.subclip, xmp: j.xmp, projectMetadata: j.projectMetadata, transcript: j.transcript,
        offline: !!j.offline, markers: readMarkers(j.markers),
      });
      n._sequenceGuid = j.sequence;
      byId.set(n.id, n);
      if (parent) p.addChild(parent, n);
      for (const c of j.children || []) readItem(c, n);
      return n;
    };
    p.root = readItem(data.root, null);
    const readTrack = (kind, j) => {
      const t = new TrackModel(kind, j.id);
      t.name = j.name;
      t.muted = !!j.muted;
      t.locked = !!j.locked;
      if (typeof j.targeted === 'boolean') t.targeted = j.targeted;
      t.items = j.items.map((x) => {
        const ti = new TrackItemModel(kind, byId.get(x.source) || null, BigInt(x.start), BigInt(x.end), BigInt(x.inPoint));
        Object.assign(ti, { name: x.name, speed: x.speed, reversed: x.reversed, disabled: x.disabled, graphic: x.graphic || null });
        const tr = (v) => (v && typeof v === 'object' ? Object.assign({}, v, { duration: BigInt(v.duration || 0) }) : null);
        if (x.transitions) ti.transitions = { start: tr(x.transitions.start), end: tr(x.transitions.end) };
        ti.components = x.components.map((c) => {
          const cm = new ComponentModel(c.matchName, c.displayName, []);
          if (c.intrinsic) cm.intrinsic = true;
          cm.params = c.params.map((q) => {
            const pm = new ParamModel(q.displayName, q.value, Array.isArray(q.range) ? q.range : null);
            pm.timeVarying = q.timeVarying;
            pm.keyframes = q.keyframes.map((k) => Object.assign({}, k, { position: BigInt(k.position) }));
            return pm;
          });
          return cm;
        });
        return ti;
      });
      return t;
    };
    for (const s of data.sequences || []) {
      const item = byId.get(s.item);
      if (!item) continue;
      const seq = new SequenceModel(p, item, s.settings);
      Object.assign(seq, {
        guid: s.guid, video: s.video.map((t) => readTrack('video', t)), audio: s.audio.map((t) => readTrack('audio', t)),
        playhead: BigInt(s.playhead || 0), inPoint: bigOrNull(s.inPoint), outPoint: bigOrNull(s.outPoint),
        zeroPoint: BigInt(s.zeroPoint || 0), workIn: bigOrNull(s.workIn), workOut: bigOrNull(s.workOut), markers: readMarkers(s.markers),
      });
      p.sequences.push(seq);
    }
    for (const n of byId.values()) delete n._sequenceGuid;
    p.activeSequence = p.sequenceByGuid(data.activeSequence) || null;
    return p;
  }

  writeTo(file) {
    const text = JSON.stringify(this.toJSON(), null, 2);
    fs.writeFileSync(file, zlib.gzipSync(Buffer.from(text, 'utf8')));
  }

  static readFrom(app, file) {
    try {
      const raw = fs.readFileSync(file);
      const text = raw[0] === 0x1f && raw[1] === 0x8b ? zlib.gunzipSync(raw).toString('utf8') : raw.toString('utf8');
      return ProjectModel.fromJSON(app, file, JSON.parse(text));
    } catch (e) {
      return null;
    }
  }
}

// ---------------------------------------------------------------------------------------
// The application

/** Premiere's encoder: the target of encoder events and its Media Encoder queue. */
class EncoderModel {
  constructor() {
    this.queue = [];
  }
}

class AppModel {
  constructor(options = {}) {
    this.version = normaliseVersion(options.version);
    // The language of the user interface: display names of effects and parameters (locale.js).
    this.locale = normaliseLocale(options.locale);
    this.projects = [];
    this.activeProject = null;
    this.listeners = []; // {target, name, handler}
    this.immediates = new Set();
    this.timers = new Set();
    this.sourceMonitor = { item: null, file: null, position: 0n, playing: false };
    this.transcribeMs = options.transcribeMs === undefined ? 20 : options.transcribeMs;
    // Export: whether Media Encoder is installed, how long renders take, and whether frame
    // export doubles the file extension (as Adobe's frame-export sample reports).
    this.ameInstalled = !!options.ameInstalled;
    this.renderMs = options.renderMs === undefined ? 40 : options.renderMs;
    this.frameExportDoubleExtension = options.frameExportDoubleExtension !== false;
    this.encoder = new EncoderModel();
    // Creative Cloud libraries: {libraryName: {elementName: path of a .mogrt}}.
    this.libraries = options.libraries || {};
    // Faults on request for named verbs (faults.js).
    this.faults = new FaultPlan(options.faults);
  }

  emit(name, target, payload) {
    const hit = this.listeners.filter((l) => l.name === name && (l.target === null || l.target === target));
    if (hit.length === 0) return;
    const h = setImmediate(() => {
      this.immediates.delete(h);
      for (const l of hit) {
        try { l.handler(payload); } catch (e) { /* a listener's error stays in the listener */ }
      }
    });
    this.immediates.add(h);
  }

  later(ms, fn) {
    const t = setTimeout(() => { this.timers.delete(t); fn(); }, ms);
    this.timers.add(t);
  }

  projectAt(file) {
    const want = path.resolve(file);
    return this.projects.find((p) => path.resolve(p.path) === want) || null;
  }

  activate(project) {
    this.activeProject = project;
    this.emit(EVENTS.PROJECT_ACTIVATED, null, { name: project.name, path: project.path, id: project.guid, project });
  }

  createProject(file) {
    const dir = path.dirname(path.resolve(file));
    try {
      if (!fs.statSync(dir).isDirectory()) return null;
    } catch (e) {
      return null;
    }
    if (fs.existsSync(file) || this.projectAt(file)) return null;
    const p = new ProjectModel(this, path.resolve(file));
    try {
      p.writeTo(p.path);
    } catch (e) {
      return null;
    }
    this.projects.push(p);
    this.emit(EVENTS.PROJECT_OPENED, null, { name: p.name, path: p.path, id: p.guid, project: p });
    this.activate(p);
    return p;
  }

  openProject(file) {
    const open = this.projectAt(file);
    if (open) {
      this.activate(open);
      return open;
    }
    const p = ProjectModel.readFrom(this, path.resolve(file));
    if (!p) return null;
    this.projects.push(p);
    this.emit(EVENTS.PROJECT_OPENED, null, { name: p.name, path: p.path, id: p.guid, project: p });
    this.activate(p);
    return p;
  }

  closeProject(p) {
    if (!this.projects.includes(p)) return false;
    this.projects = this.projects.filter((x) => x !== p);
    if (this.activeProject === p) this.activeProject = this.projects[this.projects.length - 1] || null;
    this.emit(EVENTS.PROJECT_CLOSED, null, { name: p.name, path: p.path, id: p.guid });
    return true;
  }

  dispose() {
    for (const h of this.immediates) clearImmediate(h);
    for (const t of this.timers) clearTimeout(t);
    this.immediates.clear();
    this.timers.clear();
    this.listeners = [];
  }
}

module.exports = { AppModel, ProjectModel };
