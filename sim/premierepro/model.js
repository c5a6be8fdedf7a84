'use strict';
// The simulated Premiere's state: the application, its open projects, the item tree,
// sequences with tracks and track items (times are BigInt ticks, 254016000000 a second),
// the transaction engine with its undo history, and the project file on disk.
//
// Everything here is reached by script only through the API classes of this folder.

const fs = require('fs');
const path = require('path');
const zlib = require('zlib');
const crypto = require('crypto');
const { TPS, Model, SimReject, snapshot, restore, requireLock } = require('./internal');
const { ticksPerFrameFor } = require('./values');
const { probeMedia } = require('./media');
const { normaliseVersion } = require('./since');
const { normaliseLocale } = require('./locale');
const { EVENTS } = require('./constants');
const { FaultPlan } = require('./faults');

const FIRST_ITEM_ID = 0xf4240;
const DEFAULT_TRACKS = 3;
const PROJECT_FORMAT = 'cutrelay-sim-prproj';
const UNITY_LEVEL = Math.pow(10, -15 / 20);

/** Times are 64-bit tick counts in Premiere (TickTime.TIME_MAX); nothing on a timeline lies later. */
const LATEST = 2n ** 63n - 1n;

function secondsToTicks(s) {
  return BigInt(Math.round(s * 254016000000));
}

// ---------------------------------------------------------------------------------------
// Records

class ItemModel extends Model {
  constructor(project, kind, name) {
    super();
    this._project = project;
    this.id = project ? project.allocateId() : '00000000';
    this.kind = kind; // 'root' | 'bin' | 'clip'
    this.name = name;
    this.parent = null;
    this.children = [];
    this.color = kind === 'bin' ? 0 : 4;
    this.media = null;
    this.sequence = null;
    this.inPoint = null;
    this.outPoint = null;
    this.subclip = null;
    this.xmp = null;
    this.projectMetadata = null;
    this.transcript = null;
    this.offline = false;
    this.markers = [];
  }

  get project() { return this._project; }
  get attached() {
    let n = this;
    while (n.parent) n = n.parent;
    return n.kind === 'root' && this._project && n === this._project.root;
  }

  binPath() {
    const names = [];
    for (let n = this.parent; n && n.kind !== 'root'; n = n.parent) names.unshift(n.name);
    return names.join('/');
  }
}

class TrackModel extends Model {
  constructor(kind, id) {
    super();
    this.kind = kind; // 'video' | 'audio'
    this.id = id;
    this.name = (kind === 'video' ? 'Video ' : 'Audio ') + (id + 1);
    this.muted = false;
    // Locking and targeting are reachable through ExtendScript only; V1 and A1 start targeted.
    this.locked = false;
    this.targeted = id === 0;
    this.items = [];
  }
}

class ParamModel extends Model {
  constructor(displayName, value, range = null) {
    super();
    this.displayName = displayName;
    this.value = value;
    this.range = range; // [min, max] of a numeric parameter, when known (see sim/README.md)
    this.timeVarying = false;
    this.keyframes = []; // {position: bigint, value, interpolation}
  }
}

class ComponentModel extends Model {
  constructor(matchName, displayName, params) {
    super();
    this.matchName = matchName;
    this.displayName = displayName;
    this.params = params.map(([n, v, range]) => new ParamModel(n, v, range || null));
  }
}

/** A marker on a sequence or a clip project item; times are BigInt ticks. */
class MarkerModel extends Model {
  constructor(fields) {
    super();
    this.guid = crypto.randomUUID();
    this.name = '';
    this.comments = '';
    this.type = 'Comment';
    this.start = 0n;
    this.duration = 0n;
    this.colorIndex = 0;
    this.url = '';
    this.target = '';
    Object.assign(this, fields || {});
  }

  toJSON() {
    return Object.assign({}, this, { start: String(this.start), duration: String(this.duration) });
  }

  static fromJSON(j) {
    if (!j || typeof j !== 'object') return null;
    try {
      return new MarkerModel(Object.assign({}, j, { start: BigInt(j.start || 0), duration: BigInt(j.duration || 0) }));
    } catch (e) {
      return null;
    }
  }
}

const readMarkers = (list) => (Array.isArray(list) ? list.map(MarkerModel.fromJSON).filter(Boolean) : []);

/** The fixed effects every clip has; Premiere does not let them be removed. */
function intrinsicComponents(kind) {
  const fixed = (list) => list.map((c) => Object.assign(c, { intrinsic: true }));
  if (kind === 'video') {
    return fixed([
      new ComponentModel('AE.ADBE Motion', 'Motion', [
        ['Position', { x: 0.5, y: 0.5 }], ['Scale', 100, [0, 10000]], ['Scale Width', 100, [0, 10000]], ['Uniform Scale', true],
        ['Rotation', 0], ['Anchor Point', { x: 0.5, y: 0.5 }], ['Anti-flicker Filter', 0, [0, 1]],
      ]),
      new ComponentModel('AE.ADBE Opacity', 'Opacity', [['Opacity', 100, [0, 100]], ['Blend Mode', 0]]),
    ]);
  }
  return fixed([
    // Level is linear amplitude where 1.0 is +15 dB, so a clip's 0 dB is 10^(-15/20).
    new ComponentModel('ADBE Volume', 'Volume', [['Bypass', false], ['Level', UNITY_LEVEL, [0, 1]]]),
    new ComponentModel('ADBE Channel Volume', 'Channel Volume', [['Bypass', false], ['Left', 1], ['Right', 1]]),
    new ComponentModel('ADBE Panner', 'Panner', [['Balance', 0]]),
  ]);
}

class TrackItemModel extends Model {
  constructor(kind, source, start, end, inPoint) {
    super();
    this.kind = kind;
    this.source = source;
    this.name = source ? source.name : '';
    this.start = start;
    this.end = end;
    this.inPoint = inPoint;
    this.speed = 1;
    this.reversed = false;
    this.disabled = false;
    this.selected = false;
    this.components = intrinsicComponents(kind);
    // Video transitions at the clip's head and tail: {matchName, duration (ticks),
    // alignment, singleSided}, or null.
    this.transitions = { start: null, end: null };
    // Set on the track item of a Motion Graphics template: {template}.
    this.graphic = null;
  }

  get outPoint() { return this.inPoint + scaled(this.end - this.start, this.speed); }
}

function scaled(ticks, speed) {
  return speed === 1 ? ticks : BigInt(Math.round(Number(ticks) * speed));
}

function defaultSettings() {
  return {
    width: 1920, height: 1080, tpf: 8475667200, par: '1:1', fieldType: 0,
    sampleRate: 48000, channelCount: 2, channelType: 1, editingMode: 'Custom',
    previewCodec: 'Apple ProRes 422', previewFileFormat: 'QuickTime', previewWidth: 1920, previewHeight: 1080,
    maxBitDepth: false, maxRenderQuality: false, compositeLinear: false,
    videoDisplayFormat: 102, audioDisplayFormat: 200,
  };
}

// The time display a new sequence starts with, by its frame rate, numbered as
// ExtendScript's TIMEDISPLAY_* constants (the UXP reference publishes no numbers): NTSC
// rates display drop-frame, as Premiere's presets do; unknown rates count frames.
const DISPLAY_BY_TPF = new Map([
  [10594584000, 110], [10584000000, 100], [10160640000, 101], [8475667200, 102],
  [8467200000, 104], [5292000000, 113], [5080320000, 105], [4237833600, 106], [4233600000, 108],
]);

function displayFormatFor(tpf) {
  return DISPLAY_BY_TPF.get(Number(tpf)) || 109;
}

class SequenceModel extends Model {
  constructor(project, item, settings) {
    super();
    this._project = project;
    this.guid = crypto.randomUUID();
    this.item = item;
    this.settings = Object.assign(defaultSettings(), settings || {});
    if (!settings || settings.videoDisplayFormat === undefined) this.settings.videoDisplayFormat = displayFormatFor(this.settings.tpf);
    this.video = [];
    this.audio = [];
    for (let i = 0; i < DEFAULT_TRACKS; i++) this.video.push(new TrackModel('video', i));
    for (let i = 0; i < DEFAULT_TRACKS; i++) this.audio.push(new TrackModel('audio', i));
    this.playhead = 0n;
    this.inPoint = null;
    this.outPoint = null;
    this.zeroPoint = 0n;
    this.workAreaIn = null; // null: the sequence start
    this.workAreaOut = null; // null: the sequence end
    this.workIn = null;
    this.workOut = null;
    this.markers = [];
    item.sequence = this;
  }

  get project() { return this._project; }
  get name() { return this.item.name; }
  tracks(kind) { return kind === 'audio' ? this.audio : this.video; }
  allTracks() { return this.video.concat(this.audio); }
  allItems() { return this.allTracks().flatMap((t) => t.items); }

  endTime() {
    let end = 0n;
    for (const ti of this.allItems()) if (ti.end > end) end = ti.end;
    return end;
  }

  trackOf(ti) {
    return this.allTracks().find((t) => t.items.includes(ti)) || null;
  }
}

// ---------------------------------------------------------------------------------------
// Sources: what a project item lays down on a timeline

/** The bounds and the marked range of a clip item, in its media time. */
function sourceRange(item) {
  if (item.sequence) {
    const end = item.sequence.endTime();
    return {
      hasVideo: true, hasAudio: true, still: false, start: 0n, end,
      in: item.inPoint !== null ? item.inPoint : 0n,
      out: item.outPoint !== null ? item.outPoint : end,
    };
  }
  const m = item.media;
  if (!m) throw new SimReject(`'${item.name}' has no media`);
  let start = 0n;
  let end = BigInt(m.durationTicks);
  let hasVideo = m.hasVideo;
  let hasAudio = m.hasAudio;
  if (item.subclip) {
    hasVideo = hasVideo && item.subclip.takeVideo;
    hasAudio = hasAudio && item.subclip.takeAudio;
    if (item.subclip.hard) {
      start = BigInt(item.subclip.start);
      end = BigInt(item.subclip.end);
    }
  }
  const dflt = item.subclip ? { in: BigInt(item.subclip.start), out: BigInt(item.subclip.end) } : { in: start, out: end };
  return {
    hasVideo, hasAudio, still: m.kind === 'still', start, end,
    in: item.inPoint !== null ? item.inPoint : dflt.in,
    out: item.outPoint !== null ? item.outPoint : dflt.out,
  };
}

/** Media length that bounds trims of a track item from this source (null: unbounded). */
function mediaLimit(item) {
  if (!item) return null;
  if (item.sequence) return null;
  const r = sourceRange(item);
  return r.still ? null : r;
}

// ---------------------------------------------------------------------------------------
// Timeline edits (used by actions; they throw SimReject where Premiere would refuse)

function sortTrack(track) {
  track.items.sort((a, b) => (a.start < b.start ? -1 : a.start > b.start ? 1 : 0));
}

function ensureTrack(seq, kind, index) {
  if (!Number.isInteger(index) || index < 0) throw new SimReject(`Bad ${kind} track index ${index}`);
  const list = seq.tracks(kind);
  while (list.length <= index) list.push(new TrackModel(kind, list.length));
  return list[index];
}

function cloneTrackItem(ti) {
  const c = new TrackItemModel(ti.kind, ti.source, ti.start, ti.end, ti.inPoint);
  c.name = ti.name;
  c.speed = ti.speed;
  c.reversed = ti.reversed;
  c.disabled = ti.disabled;
  c.transitions = { start: ti.transitions.start && Object.assign({}, ti.transitions.start), end: ti.transitions.end && Object.assign({}, ti.transitions.end) };
  c.graphic = ti.graphic && Object.assign({}, ti.graphic);
  c.components = ti.components.map((comp) => {
    const cc = new ComponentModel(comp.matchName, comp.displayName, []);
    if (comp.intrinsic) cc.intrinsic = true;
    cc.params = comp.params.map((p) => {
      const pp = new ParamModel(p.displayName, p.value, p.range);
      pp.timeVarying = p.timeVarying;
      pp.keyframes = p.keyframes.map((k) => Object.assign({}, k));
      return pp;
    });
    return cc;
  });
  return c;
}

/** Overwrite: clears [s, e) on a track, trimming or splitting what overlaps (see splitTrackItem). */
function clearRange(track, s, e, except) {
  for (const ti of track.items.slice()) {
    if (ti === except || ti.end <= s || ti.start >= e) continue;
    const covered = splitTrackItem(track, ti, s) || ti;
    splitTrackItem(track, covered, e);
    track.items = track.items.filter((x) => x !== covered);
  }
}

/** Insert: opens a gap of `dur` at `at`, splitting a clip that spans it (see splitTrackItem). */
function rippleOpen(track, at, dur) {
  for (const ti of track.items.slice()) splitTrackItem(track, ti, at);
  for (const ti of track.items) {
    if (ti.start >= at) { ti.start += dur; ti.end += dur; }
  }
  sortTrack(track);
}

/** Places a project item's marked range on a sequence (overwrite or insert). */
function placeItem(seq, item, at, videoIndex, audioIndex, insert, limitShift) {
  if (at < 0n) throw new SimReject('Cannot place an item before the sequence start');
  if (item.sequence === seq) throw new SimReject('A sequence cannot be placed into itself');
  if (item.kind !== 'clip') throw new SimReject(`'${item.name}' is not a clip`);
  const r = sourceRange(item);
  const dur = r.out - r.in;
  if (dur <= 0n) throw new SimReject(`'${item.name}' has an empty in/out range`);
  // A clip whose media carries a speed (sidecar) plays its marked range in less or more
  // timeline time; flooring keeps the out point inside the marked range.
  const speed = mediaSpeed(item);
  const len = lengthAtSpeed(dur, speed);
  if (len <= 0n) throw new SimReject(`'${item.name}' is shorter than one tick at speed ${speed}`);
  if (at + len > LATEST) throw new SimReject('Cannot place an item after the latest time Premiere can hold');
  const targets = [];
  if (r.hasVideo) targets.push(ensureTrack(seq, 'video', videoIndex));
  if (r.hasAudio) targets.push(ensureTrack(seq, 'audio', audioIndex));
  if (targets.length === 0) throw new SimReject(`'${item.name}' has neither video nor audio to place`);
  if (insert) {
    for (const t of limitShift ? targets : seq.allTracks()) rippleOpen(t, at, len);
  } else {
    for (const t of targets) clearRange(t, at, at + len);
  }
  const placed = [];
  for (const t of targets) {
    const ti = new TrackItemModel(t.kind, item, at, at + dur, r.in);
    if (speed !== 1) setTrackItemSpeed(ti, speed);
    t.items.push(ti);
    sortTrack(t);
    placed.push(ti);
  }
  return placed;
}

/**
 * Removes track items; with ripple, later items on the same track close up. With
 * `shiftOverlapping` as well, a track that lost nothing also closes up behind each removed
 * span, but only where that span is empty on it (shifting would otherwise overlap).
 */
function removeTrackItems(seq, items, ripple, shiftOverlapping) {
  const touched = new Set();
  const removed = [];
  for (const track of seq.allTracks()) {
    const gone = track.items.filter((ti) => items.includes(ti));
    if (gone.length === 0) continue;
    touched.add(track);
    removed.push(...gone);
    track.items = track.items.filter((ti) => !items.includes(ti));
    if (ripple) {
      gone.sort((a, b) => (a.start > b.start ? -1 : 1));
      for (const g of gone) closeUp(track, g.start, g.end);
    }
    sortTrack(track);
  }
  if (!ripple || !shiftOverlapping) return;
  // Spans merged across tracks, right to left, so earlier spans keep their positions.
  const spans = removed.map((g) => [g.start, g.end]).sort((a, b) => (a[0] < b[0] ? -1 : 1));
  const merged = [];
  for (const [a, b] of spans) {
    const last = merged[merged.length - 1];
    if (last && a <= last[1]) { if (b > last[1]) last[1] = b; } else merged.push([a, b]);
  }
  for (const track of seq.allTracks()) {
    if (touched.has(track)) continue;
    for (const [a, b] of merged.slice().reverse()) {
      if (track.items.some((ti) => ti.start < b && a < ti.end)) continue;
      closeUp(track, a, b);
    }
    sortTrack(track);
  }
}

/** Moves every item at or after `end` left by `end - start`. */
function closeUp(track, start, end) {
  const d = end - start;
  for (const ti of track.items) {
    if (ti.start >= end) { ti.start -= d; ti.end -= d; }
  }
}

/**
 * The one way a track item is cut in two at sequence time `t` (strictly inside it; null
 * otherwise): the QE razor, scene edit detection, and the splits and trims of insert,
 * overwrite and move. The left part is `ti`, the right part a copy with its components,
 * keyframes and name; returns the right part. The halves share the source range: forwards,
 * the right half plays on from where the left stopped; reversed, the left half plays the
 * end of the range and the right half its beginning. The head transition stays with the
 * left half and the tail one goes to the right half.
 */
function splitTrackItem(track, ti, t) {
  if (!(ti.start < t && t < ti.end)) return null;
  const right = cloneTrackItem(ti);
  right.start = t;
  right.end = ti.end;
  if (ti.reversed) {
    right.inPoint = ti.inPoint;
    ti.inPoint += scaled(ti.end - t, ti.speed);
  } else {
    right.inPoint = ti.inPoint + scaled(t - ti.start, ti.speed);
  }
  ti.end = t;
  ti.transitions = { start: ti.transitions.start, end: null };
  right.transitions = { start: null, end: right.transitions.end };
  track.items.push(right);
  sortTrack(track);
  return right;
}

/** The items on other tracks that Premiere keeps linked to `ti`: same source, same span. */
function linkedItems(seq, ti) {
  if (!ti.source) return [];
  const own = seq.trackOf(ti);
  return seq.allTracks().filter((t) => t !== own)
    .flatMap((t) => t.items.filter((x) => x.source === ti.source && x.start === ti.start && x.end === ti.end));
}

/** Speed a sidecar gives a media file (1 when none). */
function mediaSpeed(item) {
  const s = item && item.media && typeof item.media.speed === 'number' ? item.media.speed : 1;
  return s > 0 && isFinite(s) ? s : 1;
}

/** Timeline ticks that `source` ticks of media take at `speed`, floored so the source range is never exceeded. */
function lengthAtSpeed(source, speed) {
  return speed === 1 ? source : BigInt(Math.floor(Number(source) / speed));
}

/**
 * The one way to change a track item's speed (sidecars at placement, the QE setSpeed):
 * the source range stays, the item's length on the timeline follows, the start stays.
 */
function setTrackItemSpeed(ti, speed, reversed = ti.reversed) {
  if (!(typeof speed === 'number' && speed > 0 && isFinite(speed))) throw new SimReject(`Speed ${speed} is not allowed`);
  const source = ti.outPoint - ti.inPoint;
  const len = lengthAtSpeed(source, speed);
  if (len <= 0n) throw new SimReject(`At speed ${speed} the clip would be shorter than one tick`);
  ti.speed = speed;
  ti.reversed = !!reversed;
  ti.end = ti.start + len;
}

/** Checks that a track item stays within its media and does not overlap a neighbour. */
function checkTrackItem(seq, ti) {
  if (ti.start < 0n) throw new SimReject('A track item cannot start before the sequence start');
  if (ti.end <= ti.start) throw new SimReject('A track item must be longer than zero');
  if (ti.end > LATEST) throw new SimReject('A track item cannot end after the latest time Premiere can hold');
  const limit = mediaLimit(ti.source);
  if (limit) {
    if (ti.inPoint < limit.start) throw new SimReject(`Trim past the head of '${ti.name}': the media starts earlier`);
    if (ti.outPoint > limit.end) throw new SimReject(`Trim past the tail of '${ti.name}': the media is only ${Number(limit.end - limit.start) / 254016000000} s long`);
  }
  const track = seq.trackOf(ti);
  if (track) {
    for (const other of track.items) {
      if (other !== ti && other.start < ti.end && ti.start < other.end) {
        throw new SimReject(`'${ti.name}' would overlap '${other.name}' on ${track.kind === 'video' ? 'V' : 'A'}${track.id + 1}`);
      }
    }
  }
}

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
    const before = snapshot(this);
    try {
      for (const action of actions) action.apply();
    } catch (e) {
      restore(before);
      this._rejections.push({ label: undoString || '', message: e && e.message ? e.message : String(e), kind: e instanceof SimReject ? 'rejected' : 'error' });
      return false;
    }
    this._history.push({ label: undoString === undefined ? '' : String(undoString), actions: actions.map((a) => a.kind), before });
    this._redo = [];
    this.markDirty();
    return true;
  }

  /** An edit Premiere makes on its own (not through a script transaction): one undo step. */
  applyEdit(label, change) {
    const before = snapshot(this);
    try {
      change();
    } catch (e) {
      restore(before);
      throw e;
    }
    this._history.push({ label, actions: [], before });
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

module.exports = {
  displayFormatFor,
  AppModel, ProjectModel, ItemModel, SequenceModel, TrackModel, TrackItemModel, ComponentModel, ParamModel, MarkerModel,
  sourceRange, placeItem, clearRange, rippleOpen, removeTrackItems, checkTrackItem, cloneTrackItem,
  ensureTrack, sortTrack, secondsToTicks, defaultSettings, TPS,
  splitTrackItem, linkedItems, setTrackItemSpeed, mediaSpeed, lengthAtSpeed,
};
