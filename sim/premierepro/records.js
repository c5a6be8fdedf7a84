'use strict';
// The simulated Premiere's records: project items, sequences with their tracks and track
// items, components with their parameters and keyframes, and markers (times are BigInt
// ticks, 254016000000 a second). The rules that change them on a timeline are in
// timeline.js; the projects that hold them, with transactions, undo and files, in model.js.
//
// Everything here is reached by script only through the API classes of this folder.

const crypto = require('crypto');
const { Model } = require('./internal');

const DEFAULT_TRACKS = 3;
const UNITY_LEVEL = Math.pow(10, -15 / 20);

function secondsToTicks(s) {
  return BigInt(Math.round(s * 254016000000));
}

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

module.exports = {
  ItemModel, TrackModel, ParamModel, ComponentModel, MarkerModel, TrackItemModel, SequenceModel,
  readMarkers, scaled, secondsToTicks, defaultSettings, displayFormatFor,
};
