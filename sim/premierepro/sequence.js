'use strict';
// Sequences and what hangs off them: settings, tracks, track items, selections, the
// sequence editor, component chains with their parameters and keyframes.

const { view, modelOf, illegalConstructor, SimReject } = require('./internal');
const {
  SequenceModel, TrackModel, TrackItemModel, ComponentModel, ParamModel, ItemModel, MarkerModel, displayFormatFor,
} = require('./records');
const {
  placeItem, clearRange, rippleOpen, removeTrackItems, checkTrackItem, cloneTrackItem, ensureTrack, sortTrack,
  splitTrackItem, linkedItems, lengthAtSpeed,
} = require('./timeline');
const { TickTime, FrameRate, Guid, RectF, PointF, Color, TimeDisplay, bigOf, fromBig, rateFromTicksPerFrame } = require('./values');
const { Constants } = require('./constants');
const { valueAt } = require('./keyframes');
const { localName } = require('./locale');

/** A detached copy of sequence settings, as handed out by Sequence.getSettings. */
class SettingsModel {}

class SelectionModel {
  /** @param {string} origin 'sequence' (Sequence.getSelection) or 'empty' (createEmptySelection) */
  constructor(items, origin = 'sequence') {
    this.items = items;
    this.valid = true;
    this.origin = origin;
  }
}

const MEDIA_TYPE_GUID = { video: '228cda18-3625-4d2d-951e-348879e4ed93', audio: '80b8e3d5-6dca-4195-aefb-cb5f407ab009' };

function install(api, app) {
  const seqOf = (obj) => modelOf(obj, SequenceModel, 'Sequence');
  const liveSeq = (obj) => {
    const s = seqOf(obj);
    if (!app.projects.includes(s.project) || !s.project.sequences.includes(s)) throw new Error('The sequence is no longer in an open project');
    return s;
  };
  const tiOf = (obj) => modelOf(obj, TrackItemModel, 'VideoClipTrackItem or AudioClipTrackItem');
  const ownerOf = (ti) => {
    for (const p of app.projects) {
      const seq = p.trackItemOwner(ti);
      if (seq) return seq;
    }
    return null;
  };
  const liveTi = (obj) => {
    const ti = tiOf(obj);
    const seq = ownerOf(ti);
    if (!seq) throw new Error('The track item is no longer on a sequence');
    return { ti, seq };
  };
  const tiView = (ti) => view(ti.kind === 'video' ? api.VideoClipTrackItem : api.AudioClipTrackItem, ti);
  const T = (b) => fromBig(b);

  // -- Sequence ----------------------------------------------------------------------------

  api.Sequence = class Sequence {
    constructor() { illegalConstructor(); }

    async getSequenceVideoTimeDisplayFormat() { const td = new TimeDisplay(); td.type = liveSeq(this).settings.videoDisplayFormat; return td; }
    async getSequenceAudioTimeDisplayFormat() { const td = new TimeDisplay(); td.type = liveSeq(this).settings.audioDisplayFormat; return td; }
    async getPlayerPosition() { return T(liveSeq(this).playhead); }

    async setPlayerPosition(positionTime = undefined) {
      const s = liveSeq(this);
      const t = positionTime === undefined ? 0n : bigOf(positionTime);
      s.playhead = t < 0n ? 0n : t;
      return true;
    }

    async clearSelection() {
      for (const ti of liveSeq(this).allItems()) ti.selected = false;
      return true;
    }

    setSelection(trackItemSelection) {
      const s = liveSeq(this);
      const sel = selectionOf(trackItemSelection);
      const chosen = sel.items.filter((ti) => s.trackOf(ti));
      for (const ti of s.allItems()) ti.selected = chosen.includes(ti);
      return true;
    }

    async getVideoTrackCount() { return liveSeq(this).video.length; }
    async getAudioTrackCount() { return liveSeq(this).audio.length; }
    async getCaptionTrackCount() { liveSeq(this); return 0; }

    async getVideoTrack(trackIndex) {
      const s = liveSeq(this);
      const t = s.video[trackIndex];
      if (!t) throw new Error(`Video track index ${trackIndex} is out of range`);
      return view(api.VideoTrack, t);
    }

    async getAudioTrack(trackIndex) {
      const s = liveSeq(this);
      const t = s.audio[trackIndex];
      if (!t) throw new Error(`Audio track index ${trackIndex} is out of range`);
      return view(api.AudioTrack, t);
    }

    async getSettings() {
      return view(api.SequenceSettings, Object.assign(new SettingsModel(), liveSeq(this).settings));
    }

    createSetSettingsAction(sequenceSettings) {
      const s = seqOf(this);
      const wanted = Object.assign({}, modelOf(sequenceSettings, SettingsModel, 'SequenceSettings'));
      return api.action(s.project, 'Sequence.createSetSettingsAction', () => {
        if (!(wanted.width > 0) || !(wanted.height > 0) || wanted.width > 16384 || wanted.height > 16384) {
          throw new SimReject(`Frame size ${wanted.width}x${wanted.height} is not allowed`);
        }
        if (!(wanted.tpf > 0)) throw new SimReject('The frame rate must be positive');
        // The display formats Premiere offers depend on the timebase; a new rate whose
        // display format was left alone gets that rate's default (inferred, not documented).
        if (wanted.tpf !== s.settings.tpf && wanted.videoDisplayFormat === s.settings.videoDisplayFormat) {
          wanted.videoDisplayFormat = displayFormatFor(wanted.tpf);
        }
        s.settings = wanted;
      });
    }

    createCloneAction() {
      const s = seqOf(this);
      return api.action(s.project, 'Sequence.createCloneAction', () => {
        const p = s.project;
        if (!p.sequences.includes(s)) throw new SimReject('The sequence is no longer in the project');
        const copy = p.newSequence(s.name + ' Copy', s.item.parent || p.root, Object.assign({}, s.settings));
        copy.video = s.video.map((t) => cloneTrack(t));
        copy.audio = s.audio.map((t) => cloneTrack(t));
        Object.assign(copy, { playhead: s.playhead, inPoint: s.inPoint, outPoint: s.outPoint, zeroPoint: s.zeroPoint });
      });
    }

    // A new sequence holding what lies between the sequence's in and out points (the whole
    // sequence when they are not set), as the ExtendScript guide documents createSubsequence
    // and the UXP reference does not contradict; clips crossing a point are trimmed to it.
    // Track targeting is not modelled, so every track is taken whatever the argument says.
    async createSubsequence(ignoreTrackTargeting = undefined) {
      const s = liveSeq(this);
      const from = s.inPoint === null ? 0n : s.inPoint;
      const to = s.outPoint === null ? s.endTime() : s.outPoint;
      const p = s.project;
      let n = 1;
      const names = new Set(p.sequences.map((x) => x.name));
      while (names.has(`${s.name}_Sub_${String(n).padStart(2, '0')}`)) n++;
      const sub = p.newSequence(`${s.name}_Sub_${String(n).padStart(2, '0')}`, s.item.parent || p.root, Object.assign({}, s.settings));
      for (const kind of ['video', 'audio']) {
        s.tracks(kind).forEach((t, i) => {
          const track = ensureTrack(sub, kind, i);
          for (const ti of t.items) {
            if (ti.end <= from || ti.start >= to) continue;
            const c = cloneTrackItem(ti);
            if (c.start < from) {
              c.inPoint += BigInt(Math.round(Number(from - c.start) * c.speed));
              c.start = from;
            }
            if (c.end > to) c.end = to;
            c.start -= from;
            c.end -= from;
            track.items.push(c);
          }
          sortTrack(track);
        });
      }
      p.markDirty();
      return view(api.Sequence, sub);
    }

    async isDoneAnalyzingForVideoEffects() { liveSeq(this); return true; }
    async getZeroPoint() { return T(liveSeq(this).zeroPoint); }
    async getEndTime() { return T(liveSeq(this).endTime()); }
    async getInPoint() { const s = liveSeq(this); return T(s.inPoint === null ? 0n : s.inPoint); }
    async getOutPoint() { const s = liveSeq(this); return T(s.outPoint === null ? s.endTime() : s.outPoint); }

    createSetInPointAction(tickTime) {
      const s = seqOf(this);
      const t = bigOf(tickTime);
      return api.action(s.project, 'Sequence.createSetInPointAction', () => {
        if (t < 0n) throw new SimReject('The in point cannot be negative');
        if (s.outPoint !== null && t >= s.outPoint) throw new SimReject('The in point must be before the out point');
        s.inPoint = t;
      });
    }

    createSetOutPointAction(tickTime) {
      const s = seqOf(this);
      const t = bigOf(tickTime);
      return api.action(s.project, 'Sequence.createSetOutPointAction', () => {
        if (t <= 0n) throw new SimReject('The out point must be after the sequence start');
        if (s.inPoint !== null && t <= s.inPoint) throw new SimReject('The out point must be after the in point');
        s.outPoint = t;
      });
    }

    createSetZeroPointAction(tickTime) {
      const s = seqOf(this);
      const t = bigOf(tickTime);
      return api.action(s.project, 'Sequence.createSetZeroPointAction', () => {
        if (t < 0n) throw new SimReject('The zero point cannot be negative');
        s.zeroPoint = t;
      });
    }

    async getProjectItem() { return view(api.ProjectItem, liveSeq(this).item); }

    async getSelection() {
      const s = liveSeq(this);
      return view(api.TrackItemSelection, new SelectionModel(s.allItems().filter((ti) => ti.selected)));
    }

    async getFrameSize() {
      const s = liveSeq(this);
      const r = new RectF();
      r.width = s.settings.width;
      r.height = s.settings.height;
      return r;
    }

    async getTimebase() { return String(liveSeq(this).settings.tpf); }

    get guid() { return Guid.fromString(seqOf(this).guid); }
    get name() { return seqOf(this).name; }
  };

  function cloneTrack(t) {
    const c = new TrackModel(t.kind, t.id);
    c.name = t.name;
    c.muted = t.muted;
    c.items = t.items.map(cloneTrackItem);
    return c;
  }

  // -- SequenceSettings: a detached copy, applied with Sequence.createSetSettingsAction ----

  const setOf = (obj) => modelOf(obj, SettingsModel, 'SequenceSettings');
  const PAR = { SQUARE: '1:1', DVNTSC: '10:11', DVNTSCWide: '40:33', DVPAL: '59:54', DVPALWide: '118:81', Anamorphic: '2:1', HDAnamorphic1080: '4:3', DVCProHD: '3:2' };

  api.SequenceSettings = class SequenceSettings {
    constructor() { illegalConstructor(); }
    async getMaximumBitDepth() { return setOf(this).maxBitDepth; }
    async setMaximumBitDepth(useMaxBitDepth) { setOf(this).maxBitDepth = !!useMaxBitDepth; return true; }
    async getMaxRenderQuality() { return setOf(this).maxRenderQuality; }
    async setMaxRenderQuality(useMaxRenderQuality) { setOf(this).maxRenderQuality = !!useMaxRenderQuality; return true; }
    async getAudioChannelCount() { return setOf(this).channelCount; }
    async getAudioChannelType() { return setOf(this).channelType; }
    async getAudioDisplayFormat() { const td = new TimeDisplay(); td.type = setOf(this).audioDisplayFormat; return td; }
    async setAudioDisplayFormat(audioDisplay) { setOf(this).audioDisplayFormat = audioDisplay.type; return true; }
    async getAudioSampleRate() { return rateFromTicksPerFrame(254016000000 / setOf(this).sampleRate); }
    async setAudioSampleRate(inRate) {
      if (!(inRate instanceof FrameRate)) throw new TypeError('Illegal argument: expected FrameRate');
      setOf(this).sampleRate = Math.round(inRate.value);
      return true;
    }
    async getVideoDisplayFormat() { const td = new TimeDisplay(); td.type = setOf(this).videoDisplayFormat; return td; }
    async setVideoDisplayFormat(audioDisplay) { setOf(this).videoDisplayFormat = audioDisplay.type; return true; }
    async getVideoFieldType() { return setOf(this).fieldType; }
    async setVideoFieldType(videoFiledType) { setOf(this).fieldType = videoFiledType; return true; }
    getVideoFrameRate() { return rateFromTicksPerFrame(setOf(this).tpf); }
    setVideoFrameRate(inVideoFrameRate) {
      if (!(inVideoFrameRate instanceof FrameRate)) throw new TypeError('Illegal argument: expected FrameRate');
      setOf(this).tpf = inVideoFrameRate.ticksPerFrame;
      return true;
    }
    async getVideoFrameRect() { const r = new RectF(); r.width = setOf(this).width; r.height = setOf(this).height; return r; }
    async setVideoFrameRect(inVideoFrameRect) {
      if (!(inVideoFrameRect instanceof RectF)) throw new TypeError('Illegal argument: expected RectF');
      setOf(this).width = inVideoFrameRect.width;
      setOf(this).height = inVideoFrameRect.height;
      return true;
    }
    async getVideoPixelAspectRatio() { return setOf(this).par; }
    async setVideoPixelAspectRatio(inPixelAspectRatio) { setOf(this).par = String(inPixelAspectRatio); return true; }
    async getCompositeInLinearColor() { return setOf(this).compositeLinear; }
    async setCompositeInLinearColor(useCompositeInLinearColor) { setOf(this).compositeLinear = !!useCompositeInLinearColor; return true; }
    async getEditingMode() { return setOf(this).editingMode; }
    async setEditingMode(inEditingModeName) { setOf(this).editingMode = String(inEditingModeName); return true; }
    async getPreviewFileFormat() { return setOf(this).previewFileFormat; }
    async setPreviewFileFormat(inPreviewCodec) { setOf(this).previewFileFormat = String(inPreviewCodec); return true; }
    async getPreviewCodec() { return setOf(this).previewCodec; }
    async setPreviewCodec(inPreviewCodec) { setOf(this).previewCodec = String(inPreviewCodec); return true; }
    async getPreviewFrameRect() { const r = new RectF(); r.width = setOf(this).previewWidth; r.height = setOf(this).previewHeight; return r; }
    async setPreviewFrameRect(inPreviewVideoRect) { setOf(this).previewWidth = inPreviewVideoRect.width; setOf(this).previewHeight = inPreviewVideoRect.height; return true; }

    static get PAR_SQUARE() { return PAR.SQUARE; }
    static get PAR_DVNTSC() { return PAR.DVNTSC; }
    static get PAR_DVNTSCWide() { return PAR.DVNTSCWide; }
    static get PAR_DVPAL() { return PAR.DVPAL; }
    static get PAR_DVPALWide() { return PAR.DVPALWide; }
    static get PAR_Anamorphic() { return PAR.Anamorphic; }
    static get PAR_HDAnamorphic1080() { return PAR.HDAnamorphic1080; }
    static get PAR_DVCProHD() { return PAR.DVCProHD; }
    static get VIDEO_FIELDTYPE_PROGRESSIVE() { return 0; }
    static get VIDEO_FIELDTYPE_UPPER_FIRST() { return 1; }
    static get VIDEO_FIELDTYPE_LOWER_FIRST() { return 2; }
    // ExtendScript's TIMEDISPLAY_* numbering; the reference publishes no values (a guess).
    static get VIDEO_DISPLAY_FORMAT_23976() { return 110; }
    static get VIDEO_DISPLAY_FORMAT_25() { return 101; }
    static get VIDEO_DISPLAY_FORMAT_2997() { return 102; }
    static get VIDEO_DISPLAY_FORMAT_2997_NON_DROP() { return 103; }
    static get VIDEO_DISPLAY_FORMAT_16mm() { return 111; }
    static get VIDEO_DISPLAY_FORMAT_35mm() { return 112; }
    static get VIDEO_DISPLAY_FORMAT_FRAMES() { return 109; }
    static get AUDIO_CHANNEL_TYPE_MONO() { return 0; }
    static get AUDIO_CHANNEL_TYPE_STEREO() { return 1; }
    static get AUDIO_CHANNEL_TYPE_51() { return 2; }
    static get AUDIO_CHANNEL_TYPE_MULTI() { return 3; }
  };

  // -- Tracks --------------------------------------------------------------------------

  const trackOf = (obj) => modelOf(obj, TrackModel, 'VideoTrack or AudioTrack');
  const trackOwner = (t) => {
    for (const p of app.projects) for (const s of p.sequences) if (s.video.includes(t) || s.audio.includes(t)) return s;
    return null;
  };

  function trackItems(t, trackItemType, includeEmptyTrackItems) {
    const TYPES = Constants.TrackItemType;
    const out = [];
    if (trackItemType === TYPES.CLIP || trackItemType === TYPES.EMPTY) {
      let cursor = 0n;
      for (const ti of t.items) {
        if (includeEmptyTrackItems && ti.start > cursor) out.push(gapView(t, cursor, ti.start));
        if (trackItemType === TYPES.CLIP) out.push(tiView(ti));
        cursor = ti.end;
      }
    }
    if (trackItemType === TYPES.TRANSITION && t.kind === 'video') {
      for (const ti of t.items) {
        for (const atStart of [true, false]) {
          const tr = ti.transitions[atStart ? 'start' : 'end'];
          if (tr) out.push(transitionView(tr, atStart ? ti.start : ti.end - tr.duration, atStart ? ti.start + tr.duration : ti.end));
        }
      }
    }
    return out;
  }

  // A transition as a TRANSITION track item: its match name, a name and its span, which
  // lies inside the clip as the transition is drawn; readable, not editable.
  function transitionView(tr, start, end) {
    const item = new TrackItemModel('video', null, start, end, 0n);
    item.name = tr.matchName.replace(/^AE\.ADBE /, '');
    item.transition = tr.matchName;
    return tiView(item);
  }

  // A gap is an EMPTY track item: readable, but not editable.
  function gapView(t, start, end) {
    const gap = new TrackItemModel(t.kind, null, start, end, 0n);
    gap.name = '';
    gap.gap = true;
    return tiView(gap);
  }

  const trackMembers = {
    createSetNameAction(name) {
      const t = trackOf(this);
      const s = trackOwner(t);
      const text = String(name);
      return api.action(s && s.project, 'Track.createSetNameAction', () => {
        if (!s) throw new SimReject('The track is no longer in a sequence');
        t.name = text;
      });
    },
    async setMute(mute) { trackOf(this).muted = !!mute; return true; },
    async getMediaType() { return Guid.fromString(MEDIA_TYPE_GUID[trackOf(this).kind]); },
    async getIndex() { const t = trackOf(this); const s = trackOwner(t); return s ? s.tracks(t.kind).indexOf(t) : -1; },
    async isMuted() { return trackOf(this).muted; },
    getTrackItems(trackItemType, includeEmptyTrackItems) { return trackItems(trackOf(this), trackItemType, !!includeEmptyTrackItems); },
  };

  for (const kind of ['VideoTrack', 'AudioTrack']) {
    const Class = class {
      constructor() { illegalConstructor(); }
      get name() { return trackOf(this).name; }
      get id() { return trackOf(this).id; }
      static get EVENT_TRACK_CHANGED() { return `${kind}.trackChanged`; }
      static get EVENT_TRACK_INFO_CHANGED() { return `${kind}.trackInfoChanged`; }
      static get EVENT_TRACK_LOCK_CHANGED() { return `${kind}.trackLockChanged`; }
    };
    Object.defineProperty(Class, 'name', { value: kind });
    for (const [k, fn] of Object.entries(trackMembers)) {
      Object.defineProperty(Class.prototype, k, { value: fn, writable: true, configurable: true });
    }
    api[kind] = Class;
  }

  // -- Track items ---------------------------------------------------------------------

  const editable = (obj, what) => {
    const ti = tiOf(obj);
    if (ti.gap) throw new Error(`${what}: an empty track item cannot be edited`);
    const seq = ownerOf(ti);
    return { ti, seq };
  };

  /** An action on one track item; it re-validates the item after the change. */
  function tiAction(obj, what, change) {
    const { ti, seq } = editable(obj, what);
    return api.action(seq && seq.project, what, () => {
      const owner = ownerOf(ti);
      if (!owner) throw new SimReject('The track item is no longer on a sequence');
      change(ti, owner);
      checkTrackItem(owner, ti);
      sortTrack(owner.trackOf(ti));
    });
  }

  const itemMembers = {
    async getMatchName() { const ti = tiOf(this); return ti.transition || (ti.gap ? '' : (ti.kind === 'video' ? 'AE.ADBE Clip' : 'ADBE Audio Clip')); },
    async getName() { return tiOf(this).name; },
    async getIsSelected() { return !!tiOf(this).selected; },
    async getSpeed() { return tiOf(this).speed; },
    async isAdjustmentLayer() { return false; },
    async isSpeedReversed() { return tiOf(this).reversed ? 1 : 0; },
    createMoveAction(tickTime) {
      const d = bigOf(tickTime);
      return tiAction(this, 'TrackItem.createMoveAction', (ti, seq) => {
        if (ti.start + d < 0n) throw new SimReject('Cannot move a track item before the sequence start');
        ti.start += d;
        ti.end += d;
        // A move overwrites whatever it lands on.
        clearRange(seq.trackOf(ti), ti.start, ti.end, ti);
      });
    },
    async getInPoint() { return T(tiOf(this).inPoint); },
    async getOutPoint() { return T(tiOf(this).outPoint); },
    createSetInPointAction(tickTime) {
      const t = bigOf(tickTime);
      return tiAction(this, 'TrackItem.createSetInPointAction', (ti) => {
        // The source out point stays; the clip's end follows (at the clip's speed).
        const out = ti.outPoint;
        ti.inPoint = t;
        ti.end = ti.start + lengthAtSpeed(out - t, ti.speed);
      });
    },
    createSetOutPointAction(tickTime) {
      const t = bigOf(tickTime);
      return tiAction(this, 'TrackItem.createSetOutPointAction', (ti) => { ti.end = ti.start + lengthAtSpeed(t - ti.inPoint, ti.speed); });
    },
    async getStartTime() { return T(tiOf(this).start); },
    async getEndTime() { return T(tiOf(this).end); },
    createSetStartAction(tickTime) {
      const t = bigOf(tickTime);
      // A head trim keeps the clip in sync: start and source in point move together.
      return tiAction(this, 'TrackItem.createSetStartAction', (ti) => {
        const d = t - ti.start;
        ti.inPoint += ti.speed === 1 ? d : BigInt(Math.round(Number(d) * ti.speed));
        ti.start = t;
      });
    },
    createSetEndAction(tickTime) {
      const t = bigOf(tickTime);
      return tiAction(this, 'TrackItem.createSetEndAction', (ti) => { ti.end = t; });
    },
    async getDuration() { const ti = tiOf(this); return T(ti.end - ti.start); },
    async getType() {
      const ti = tiOf(this);
      return ti.transition ? Constants.TrackItemType.TRANSITION : ti.gap ? Constants.TrackItemType.EMPTY : Constants.TrackItemType.CLIP;
    },
    async isDisabled() { return !!tiOf(this).disabled; },
    createSetDisabledAction(disabled) {
      const v = !!disabled;
      return tiAction(this, 'TrackItem.createSetDisabledAction', (ti) => { ti.disabled = v; });
    },
    createSetNameAction(inName) {
      const v = String(inName);
      return tiAction(this, 'TrackItem.createSetNameAction', (ti) => { ti.name = v; });
    },
    async getMediaType() { return Guid.fromString(MEDIA_TYPE_GUID[tiOf(this).kind]); },
    async getTrackIndex() {
      const { ti, seq } = liveTi(this);
      return seq.tracks(ti.kind).indexOf(seq.trackOf(ti));
    },
    async getProjectItem() {
      const ti = tiOf(this);
      return ti.source ? view(api.ProjectItem, ti.source) : null;
    },
    async getComponentChain() {
      const ti = tiOf(this);
      return view(ti.kind === 'video' ? api.VideoComponentChain : api.AudioComponentChain, ti);
    },
  };

  for (const kind of ['VideoClipTrackItem', 'AudioClipTrackItem']) {
    const Class = class {
      constructor() { illegalConstructor(); }
      static get TRACKITEMTYPE_EMPTY() { return Constants.TrackItemType.EMPTY; }
      static get TRACKITEMTYPE_CLIP() { return Constants.TrackItemType.CLIP; }
      static get TRACKITEMTYPE_TRANSITION() { return Constants.TrackItemType.TRANSITION; }
      static get TRACKITEMTYPE_PREVIEW() { return Constants.TrackItemType.PREVIEW; }
      static get TRACKITEMTYPE_FEEDBACK() { return Constants.TrackItemType.FEEDBACK; }
    };
    Object.defineProperty(Class, 'name', { value: kind });
    for (const [k, fn] of Object.entries(itemMembers)) {
      Object.defineProperty(Class.prototype, k, { value: fn, writable: true, configurable: true });
    }
    api[kind] = Class;
  }

  // -- Selections --------------------------------------------------------------------

  const selectionOf = (obj) => {
    const sel = modelOf(obj, SelectionModel, 'TrackItemSelection');
    if (!sel.valid) throw new Error('TrackItemSelection: the selection is only valid inside its creation callback');
    return sel;
  };

  api.TrackItemSelection = class TrackItemSelection {
    constructor() { illegalConstructor(); }
    static createEmptySelection(callback0) {
      if (typeof callback0 !== 'function') throw new TypeError('createEmptySelection: callback must be a function');
      const sel = new SelectionModel([], 'empty');
      try {
        callback0(view(api.TrackItemSelection, sel));
      } finally {
        sel.valid = false;
      }
      return true;
    }
    addItem(trackItem, skipDuplicateCheck = undefined) {
      const sel = selectionOf(this);
      const ti = tiOf(trackItem);
      if (ti.gap) return false;
      if (!skipDuplicateCheck && sel.items.includes(ti)) return false;
      if (!sel.items.includes(ti)) sel.items.push(ti);
      return true;
    }
    removeItem(trackItem) {
      const sel = selectionOf(this);
      const ti = tiOf(trackItem);
      const before = sel.items.length;
      sel.items = sel.items.filter((x) => x !== ti);
      return sel.items.length < before;
    }
    async getTrackItems() { return selectionOf(this).items.map(tiView); }
  };

  // -- SequenceEditor ------------------------------------------------------------------

  const editorOf = (obj) => modelOf(obj, SequenceModel, 'SequenceEditor');
  const clipItem = (obj) => {
    const m = modelOf(obj, ItemModel, 'ProjectItem');
    return m;
  };
  const trackIndex = (v, what) => {
    if (typeof v !== 'number' || !Number.isInteger(v)) throw new TypeError(`Illegal argument: ${what} must be an integer`);
    return v;
  };

  // Insert and overwrite: arguments are checked when the action is made, the edit happens
  // when the transaction commits.
  function placeAction(editor, name, projectItem, time, videoTrackIndex, audioTrackIndex, insert, limitShift) {
    const s = editorOf(editor);
    const item = clipItem(projectItem);
    const at = bigOf(time);
    const v = trackIndex(videoTrackIndex, 'videoTrackIndex');
    const a = trackIndex(audioTrackIndex, 'audioTrackIndex');
    return api.action(s.project, name, () => {
      if (!item.attached || item._project !== s.project) throw new SimReject('The item is not in this project');
      placeItem(s, item, at, v, a, insert, limitShift);
    });
  }

  api.SequenceEditor = class SequenceEditor {
    constructor() { illegalConstructor(); }
    static getEditor(sequenceObject) { return view(api.SequenceEditor, seqOf(sequenceObject)); }
    static async getInstalledMogrtPath() { return ''; }

    createRemoveItemsAction(trackItemSelection, ripple, mediaType, shiftOverLapping = undefined) {
      const s = editorOf(this);
      const sel = selectionOf(trackItemSelection);
      // AdobeDocs/uxp-premiere-pro-samples issue #82: a selection built with
      // createEmptySelection makes this throw at once, even used inside its callback; the
      // sequence's own selection (getSelection) works. Inferred from that report.
      if (sel.origin === 'empty') throw new Error('The script object is no longer valid.');
      const items = sel.items.slice();
      const doRipple = !!ripple;
      const shift = !!shiftOverLapping;
      return api.action(s.project, 'SequenceEditor.createRemoveItemsAction', () => {
        const mine = items.filter((ti) => s.trackOf(ti));
        if (mine.length === 0) throw new SimReject('Nothing of this sequence is in the selection');
        removeTrackItems(s, mine, doRipple, shift);
      });
    }

    createInsertProjectItemAction(projectItem, time, videoTrackIndex, audioTrackIndex, limitShift) {
      return placeAction(this, 'SequenceEditor.createInsertProjectItemAction', projectItem, time,
        videoTrackIndex, audioTrackIndex, true, !!limitShift);
    }

    createOverwriteItemAction(projectItem, time, videoTrackIndex, audioTrackIndex) {
      return placeAction(this, 'SequenceEditor.createOverwriteItemAction', projectItem, time,
        videoTrackIndex, audioTrackIndex, false, false);
    }

    createCloneTrackItemAction(trackItem, timeOffset, videoTrackVerticalOffset, audioTrackVerticalOffset, alignToVideo, isInsert) {
      const s = editorOf(this);
      const ti = tiOf(trackItem);
      const d = bigOf(timeOffset);
      const dv = trackIndex(videoTrackVerticalOffset, 'videoTrackVerticalOffset');
      const da = trackIndex(audioTrackVerticalOffset, 'audioTrackVerticalOffset');
      return api.action(s.project, 'SequenceEditor.createCloneTrackItemAction', () => {
        const track = s.trackOf(ti);
        if (!track) throw new SimReject('The track item is not on this sequence');
        const index = s.tracks(ti.kind).indexOf(track) + (ti.kind === 'video' ? dv : da);
        const target = ensureTrack(s, ti.kind, index);
        const c = cloneTrackItem(ti);
        c.start += d;
        c.end += d;
        if (c.start < 0n) throw new SimReject('Cannot place a clone before the sequence start');
        if (isInsert) rippleOpen(target, c.start, c.end - c.start);
        else clearRange(target, c.start, c.end);
        target.items.push(c);
        sortTrack(target);
      });
    }
  };

  // -- Scene edit detection ------------------------------------------------------------

  /**
   * Premiere analyses the selected video clips and acts at every detected cut. The
   * analysis here is the media's `sceneCuts` list (media time); a cut counts when it lies
   * strictly inside a clip's source range. Each call is one undo step of its own.
   */
  function detectScenes(items, op) {
    const U = api.SequenceUtils;
    const bySequence = new Map();
    for (const ti of items) {
      const seq = ownerOf(ti);
      if (!bySequence.has(seq)) bySequence.set(seq, []);
      bySequence.get(seq).push(ti);
    }
    for (const [seq, list] of bySequence) {
      const label = op === U.SEQUENCE_OPERATION_APPLYCUT ? 'Scene Edit Detection'
        : op === U.SEQUENCE_OPERATION_CREATEMARKER ? 'Scene Edit Detection (Markers)' : 'Scene Edit Detection (Subclips)';
      seq.project.applyEdit(label, () => {
        for (const ti of list) {
          const cuts = ((ti.source.media && ti.source.media.sceneCuts) || []).map((c) => BigInt(c))
            .filter((c) => ti.inPoint < c && c < ti.outPoint);
          if (cuts.length === 0) continue;
          const at = cuts.map((c) => ti.start + BigInt(Math.floor(Number(c - ti.inPoint) / ti.speed)));
          if (op === U.SEQUENCE_OPERATION_APPLYCUT) {
            // The linked audio is cut with the picture, as in the panel with linked selection on.
            for (const piece of [ti].concat(linkedItems(seq, ti))) {
              const track = seq.trackOf(piece);
              let current = piece;
              for (const t of at) current = splitTrackItem(track, current, t) || current;
            }
          } else if (op === U.SEQUENCE_OPERATION_CREATEMARKER) {
            for (const t of at) {
              seq.markers.push(new MarkerModel({ start: t }));
            }
          } else {
            const bounds = [ti.inPoint].concat(cuts, [ti.outPoint]);
            const parent = ti.source.parent || seq.project.root;
            for (let i = 0; i + 1 < bounds.length; i++) {
              const sub = new ItemModel(seq.project, 'clip', `${ti.source.name} Scene ${i + 1}`);
              sub.media = ti.source.media;
              sub.subclip = { start: bounds[i].toString(), end: bounds[i + 1].toString(), hard: false, takeVideo: true, takeAudio: true };
              seq.project.addChild(parent, sub);
            }
          }
        }
      });
    }
  }

  // -- SequenceUtils -------------------------------------------------------------------

  // The work area bar, from Adobe's sample (workAreaUtils.ts, 26.5 beta declarations):
  // synchronous getters and setters answering true or false. Direct calls, not undoable
  // actions; the sample calls them without a lock, so none is required. A setter that
  // would put the in point at or after the out point answers false (inferred).
  api.WorkAreaUtils = class WorkAreaUtils {
    constructor() { illegalConstructor(); }
    static getWorkAreaInPoint(sequence) { const s = liveSeq(sequence); return T(s.workAreaIn === null ? 0n : s.workAreaIn); }
    static getWorkAreaOutPoint(sequence) { const s = liveSeq(sequence); return T(workOut(s)); }
    static setWorkAreaInPoint(sequence, inPoint) { return setWorkArea(liveSeq(sequence), bigOf(inPoint), null); }
    static setWorkAreaOutPoint(sequence, outPoint) { return setWorkArea(liveSeq(sequence), null, bigOf(outPoint)); }
    static setWorkAreaInOutPoints(sequence, inPoint, outPoint) { return setWorkArea(liveSeq(sequence), bigOf(inPoint), bigOf(outPoint)); }
  };

  function workOut(s) {
    return s.workAreaOut === null ? s.endTime() : s.workAreaOut;
  }

  function setWorkArea(s, inT, outT) {
    const from = inT === null ? (s.workAreaIn === null ? 0n : s.workAreaIn) : inT;
    const to = outT === null ? workOut(s) : outT;
    if (from < 0n || to <= from) return false;
    if (inT !== null) s.workAreaIn = inT;
    if (outT !== null) s.workAreaOut = outT;
    return true;
  }

  api.SequenceUtils = class SequenceUtils {
    constructor() { illegalConstructor(); }
    static async performSceneEditDetectionOnSelection(clipOperation, trackItemSelection) {
      // The selection is read at the call, so a selection handed in from its creation
      // callback works although the promise settles after the callback has returned.
      const sel = selectionOf(trackItemSelection);
      const ops = [api.SequenceUtils.SEQUENCE_OPERATION_APPLYCUT, api.SequenceUtils.SEQUENCE_OPERATION_CREATEMARKER, api.SequenceUtils.SEQUENCE_OPERATION_CREATESUBCLIP];
      if (!ops.includes(clipOperation)) throw new Error(`Unknown scene edit operation '${clipOperation}'`);
      const items = sel.items.filter((ti) => ti.kind === 'video' && ti.source && ownerOf(ti));
      if (items.length === 0) return false;
      detectScenes(items, clipOperation);
      return true;
    }
    static get SEQUENCE_OPERATION_APPLYCUT() { return 'ApplyCut'; }
    static get SEQUENCE_OPERATION_CREATEMARKER() { return 'CreateMarker'; }
    static get SEQUENCE_OPERATION_CREATESUBCLIP() { return 'CreateSubclip'; }
  };

  // -- Component chains, components, parameters, keyframes ------------------------------

  const chainOf = (obj) => modelOf(obj, TrackItemModel, 'ComponentChain');
  const compOf = (obj) => modelOf(obj, ComponentModel, 'Component');
  const paramOf = (obj) => modelOf(obj, ParamModel, 'ComponentParam');

  const chainMembers = {
    createInsertComponentAction(component, componentInsertionIndex) {
      const ti = chainOf(this);
      const comp = compOf(component);
      const seq = ownerOf(ti);
      return api.action(seq && seq.project, 'ComponentChain.createInsertComponentAction', () => {
        if (!Number.isInteger(componentInsertionIndex) || componentInsertionIndex < 0 || componentInsertionIndex > ti.components.length) {
          throw new SimReject(`Component index ${componentInsertionIndex} is out of range`);
        }
        if (ti.components.includes(comp)) throw new SimReject('The component is already in the chain');
        ti.components.splice(componentInsertionIndex, 0, comp);
      });
    },
    createAppendComponentAction(component) {
      const ti = chainOf(this);
      const comp = compOf(component);
      const seq = ownerOf(ti);
      return api.action(seq && seq.project, 'ComponentChain.createAppendComponentAction', () => {
        if (ti.components.includes(comp)) throw new SimReject('The component is already in the chain');
        ti.components.push(comp);
      });
    },
    createRemoveComponentAction(component) {
      const ti = chainOf(this);
      const comp = compOf(component);
      const seq = ownerOf(ti);
      return api.action(seq && seq.project, 'ComponentChain.createRemoveComponentAction', () => {
        const i = ti.components.indexOf(comp);
        if (i < 0) throw new SimReject('The component is not in this chain');
        if (comp.intrinsic) throw new SimReject(`'${comp.displayName}' is a fixed effect and cannot be removed`);
        ti.components.splice(i, 1);
      });
    },
    getComponentAtIndex(componentIndex) {
      const ti = chainOf(this);
      const c = ti.components[componentIndex];
      if (!c) throw new Error(`Component index ${componentIndex} is out of range`);
      return view(api.Component, c);
    },
    getComponentCount() { return chainOf(this).components.length; },
  };
  for (const kind of ['VideoComponentChain', 'AudioComponentChain']) {
    const Class = class { constructor() { illegalConstructor(); } };
    Object.defineProperty(Class, 'name', { value: kind });
    for (const [k, fn] of Object.entries(chainMembers)) Object.defineProperty(Class.prototype, k, { value: fn, writable: true, configurable: true });
    api[kind] = Class;
  }

  api.Component = class Component {
    constructor() { illegalConstructor(); }
    getParam(paramIndex = undefined) {
      const c = compOf(this);
      const p = c.params[paramIndex === undefined ? 0 : paramIndex];
      if (!p) throw new Error(`Parameter index ${paramIndex} is out of range`);
      return view(api.ComponentParam, p);
    }
    async getMatchName() { return compOf(this).matchName; }
    async getDisplayName() { return localName(app.locale, compOf(this).displayName); }
    getParamCount() { return compOf(this).params.length; }
  };

  const toValue = (v) => {
    if (v instanceof PointF) return { x: v.x, y: v.y };
    if (v instanceof Color) return { red: v.red, green: v.green, blue: v.blue, alpha: v.alpha };
    return v;
  };
  const fromValue = (v) => {
    if (v && typeof v === 'object' && 'x' in v) return new PointF(v.x, v.y);
    if (v && typeof v === 'object' && 'red' in v) return new Color(v.red, v.green, v.blue, v.alpha);
    return v;
  };
  const sameKind = (a, b) => (a !== null && typeof a === 'object') === (b !== null && typeof b === 'object') &&
    (typeof a === 'object' ? ('x' in a) === ('x' in b) : typeof a === typeof b);
  const ownerProject = (p) => {
    for (const proj of app.projects) for (const s of proj.sequences) for (const ti of s.allItems()) for (const c of ti.components) if (c.params.includes(p)) return proj;
    return null;
  };

  const KF = new WeakMap();
  api.Keyframe = class Keyframe {
    constructor() { illegalConstructor(); }
    async getTemporalInterpolationMode() { return KF.get(this).interpolation; }
    async setTemporalInterpolationMode(temporalInterpolationMode) { KF.get(this).interpolation = temporalInterpolationMode; return true; }
    get value() { return { value: fromValue(KF.get(this).value) }; }
    set value(v) { KF.get(this).value = toValue(v && typeof v === 'object' && 'value' in v ? v.value : v); }
    get position() { return T(KF.get(this).position); }
    set position(t) { KF.get(this).position = bigOf(t); }
    static get INTERPOLATION_MODE_LINEAR() { return 0; }
    static get INTERPOLATION_MODE_HOLD() { return 4; }
    static get INTERPOLATION_MODE_BEZIER() { return 5; }
    static get INTERPOLATION_MODE_TIME() { return 6; }
    static get INTERPOLATION_MODE_TIME_TRANSITION_START() { return 7; }
    static get INTERPOLATION_MODE_TIME_TRANSITION_END() { return 8; }
  };
  const keyframe = (data) => {
    const k = Object.create(api.Keyframe.prototype);
    KF.set(k, data);
    return k;
  };
  const kfData = (k) => {
    const d = KF.get(k);
    if (!d) throw new TypeError('Illegal argument: expected Keyframe');
    return d;
  };

  /**
   * An action on a parameter. `check` (when given) validates it against the parameter as
   * it is when the action is made, and again when it is committed: Premiere 26.3's
   * changelog warns that actions "contain data that can quickly become stale", and Adobe's
   * keyframe sample builds each dependent action only after the step it depends on has
   * been committed (time-varying on, then the keyframe, then its interpolation). An action
   * made too early therefore makes its transaction fail, as it is taken to in Premiere
   * (inferred: Premiere documents no error for it).
   */
  const paramAction = (obj, what, change, check = null) => {
    const p = paramOf(obj);
    let stale = null;
    if (check) {
      try { check(p); } catch (e) { if (!(e instanceof SimReject)) throw e; stale = `${what} was made too early: ${e.message}`; }
    }
    return api.action(ownerProject(p), what, () => {
      if (stale !== null) throw new SimReject(stale);
      if (check) check(p);
      change(p);
    });
  };
  const needKeyframe = (t) => (p) => { if (!p.keyframes.some((k) => k.position === t)) throw new SimReject('No keyframe at that time'); };

  api.ComponentParam = class ComponentParam {
    constructor() { illegalConstructor(); }
    createKeyframe(inValue) {
      const p = paramOf(this);
      const v = toValue(inValue);
      if (!sameKind(v, p.value)) throw new TypeError(`Value of the wrong type for parameter '${p.displayName}'`);
      // A number outside the parameter's range is held at the nearer end, as its slider does.
      const held = p.range && typeof v === 'number' ? Math.min(p.range[1], Math.max(p.range[0], v)) : v;
      return keyframe({ position: 0n, value: held, interpolation: 0 });
    }
    async getValueAtTime(time) { return fromValue(valueAt(paramOf(this), bigOf(time))); }
    findNearestKeyframe(inTime, outTime) {
      const p = paramOf(this);
      const a = bigOf(inTime);
      const b = bigOf(outTime);
      const k = p.keyframes.find((x) => x.position >= a && x.position <= b);
      return k ? keyframe(k) : null;
    }
    findNextKeyframe(inTime) {
      const t = bigOf(inTime);
      const k = paramOf(this).keyframes.find((x) => x.position > t);
      return k ? keyframe(k) : null;
    }
    findPreviousKeyframe(inTime) {
      const t = bigOf(inTime);
      const k = paramOf(this).keyframes.filter((x) => x.position < t).pop();
      return k ? keyframe(k) : null;
    }
    createRemoveKeyframeAction(inTime, UpdateUI = undefined) {
      const t = bigOf(inTime);
      return paramAction(this, 'ComponentParam.createRemoveKeyframeAction', (p) => {
        p.keyframes = p.keyframes.filter((k) => k.position !== t);
      }, needKeyframe(t));
    }
    createRemoveKeyframeRangeAction(inTime, outTime, UpdateUI = undefined) {
      const a = bigOf(inTime);
      const b = bigOf(outTime);
      return paramAction(this, 'ComponentParam.createRemoveKeyframeRangeAction', (p) => {
        p.keyframes = p.keyframes.filter((k) => k.position < a || k.position > b);
      });
    }
    createSetValueAction(inKeyFrame, inSafeForPlayback = undefined) {
      const d = Object.assign({}, kfData(inKeyFrame));
      return paramAction(this, 'ComponentParam.createSetValueAction', (p) => {
        p.value = d.value;
      }, (p) => { if (p.timeVarying) throw new SimReject(`'${p.displayName}' is keyframed; add a keyframe or switch time-variation off`); });
    }
    createAddKeyframeAction(inKeyFrame) {
      const d = Object.assign({}, kfData(inKeyFrame));
      return paramAction(this, 'ComponentParam.createAddKeyframeAction', (p) => {
        // Keyframes stay sorted by position; one at the same position is replaced.
        const ks = p.keyframes;
        let lo = 0;
        let hi = ks.length;
        while (lo < hi) {
          const mid = (lo + hi) >> 1;
          if (ks[mid].position < d.position) lo = mid + 1;
          else hi = mid;
        }
        ks.splice(lo, lo < ks.length && ks[lo].position === d.position ? 1 : 0, d);
      }, (p) => { if (!p.timeVarying) throw new SimReject(`'${p.displayName}' is not time-varying`); });
    }
    createSetTimeVaryingAction(inTimeVarying) {
      const on = !!inTimeVarying;
      return paramAction(this, 'ComponentParam.createSetTimeVaryingAction', (p) => {
        if (!on && p.timeVarying && p.keyframes.length) p.value = p.keyframes[0].value;
        p.timeVarying = on;
        if (!on) p.keyframes = [];
      });
    }
    async getStartValue() {
      const p = paramOf(this);
      return keyframe({ position: 0n, value: p.timeVarying && p.keyframes.length ? p.keyframes[0].value : p.value, interpolation: 0 });
    }
    getKeyframeListAsTickTimes() { return paramOf(this).keyframes.map((k) => T(k.position)); }
    getKeyframePtr(time = undefined) {
      const p = paramOf(this);
      const t = time === undefined ? 0n : bigOf(time);
      const k = p.keyframes.find((x) => x.position === t);
      return k ? keyframe(k) : keyframe({ position: t, value: valueAt(p, t), interpolation: 0 });
    }
    isTimeVarying() { return paramOf(this).timeVarying; }
    createSetInterpolationAtKeyframeAction(inTime, InterpolationMode, UpdateUI = undefined) {
      const t = bigOf(inTime);
      return paramAction(this, 'ComponentParam.createSetInterpolationAtKeyframeAction', (p) => {
        p.keyframes.find((x) => x.position === t).interpolation = InterpolationMode;
      }, needKeyframe(t));
    }
    async areKeyframesSupported() { return true; }
    get displayName() { return localName(app.locale, paramOf(this).displayName); }
  };
}

module.exports = { install };
