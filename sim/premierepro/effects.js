'use strict';
// The effect and transition factories, video transitions on clip track items, and the
// insertion of Motion Graphics templates (SequenceEditor.insertMogrtFrom…).

const fs = require('fs');
const path = require('path');
const { view, modelOf, illegalConstructor, SimReject, requireLock } = require('./internal');
const { TrackItemModel, ComponentModel, SequenceModel } = require('./records');
const { clearRange, ensureTrack, sortTrack } = require('./timeline');
const { TickTime, bigOf, fromBig } = require('./values');
const { Constants } = require('./constants');
const { localName } = require('./locale');
const { VIDEO_EFFECTS, AUDIO_EFFECTS, VIDEO_TRANSITIONS, MOGRT_COMPONENT, DEFAULT_TRANSITION_SECONDS } = require('./catalog');

const TPS = 254016000000n;
const copy = (v) => (v !== null && typeof v === 'object' ? Object.assign({}, v) : v);

function videoComponent(matchName) {
  const e = VIDEO_EFFECTS.find((x) => x[0] === matchName);
  return e ? new ComponentModel(e[0], e[1], e[2].map(([n, v]) => [n, copy(v)])) : null;
}

function audioComponent(displayName) {
  const e = AUDIO_EFFECTS.find((x) => x[1] === displayName);
  return e ? new ComponentModel(e[0], e[1], [['Bypass', false]].concat(e[2].map(([n, v]) => [n, copy(v)]))) : null;
}

class TransitionModel {
  constructor(matchName) { this.matchName = matchName; }
}

function install(api, app) {
  const ownerOf = (ti) => {
    for (const p of app.projects) {
      const seq = p.trackItemOwner(ti);
      if (seq) return seq;
    }
    return null;
  };

  // -- Factories -----------------------------------------------------------------------

  api.VideoFilterComponent = class VideoFilterComponent extends api.Component {};
  api.AudioFilterComponent = class AudioFilterComponent extends api.Component {};

  api.VideoFilterFactory = class VideoFilterFactory {
    constructor() { illegalConstructor(); }
    static async getMatchNames() { return VIDEO_EFFECTS.map((e) => e[0]); }
    static async getDisplayNames() { return VIDEO_EFFECTS.map((e) => localName(app.locale, e[1])); }
    static async createComponent(matchName) {
      const c = videoComponent(String(matchName));
      if (!c) throw new Error(`No video effect with the match name '${matchName}'`);
      return view(api.VideoFilterComponent, c);
    }
  };

  api.AudioFilterFactory = class AudioFilterFactory {
    constructor() { illegalConstructor(); }
    static async getDisplayNames() { return AUDIO_EFFECTS.map((e) => localName(app.locale, e[1])); }
    static async createComponentByDisplayName(displayName, inAudioClipTrackItem) {
      const ti = modelOf(inAudioClipTrackItem, TrackItemModel, 'AudioClipTrackItem');
      if (ti.kind !== 'audio' || ti.gap) throw new TypeError('Illegal argument: expected AudioClipTrackItem');
      // By the name shown in the language played, as getDisplayNames lists them.
      const e = AUDIO_EFFECTS.find((x) => localName(app.locale, x[1]) === String(displayName));
      const c = e ? audioComponent(e[1]) : null;
      if (!c) throw new Error(`No audio effect named '${displayName}'`);
      return view(api.AudioFilterComponent, c);
    }
  };

  api.TransitionFactory = class TransitionFactory {
    constructor() { illegalConstructor(); }
    static async getVideoTransitionMatchNames() { return VIDEO_TRANSITIONS.slice(); }
    static createVideoTransition(matchName) {
      if (!VIDEO_TRANSITIONS.includes(String(matchName))) throw new Error(`No video transition with the match name '${matchName}'`);
      return view(api.VideoTransition, new TransitionModel(String(matchName)));
    }
  };

  api.VideoTransition = class VideoTransition {
    constructor() { illegalConstructor(); }
    static get TRANSITIONPOSITION_START() { return Constants.TransitionPosition.START; }
    static get TRANSITIONPOSITION_END() { return Constants.TransitionPosition.END; }
  };

  const OPTS = new WeakMap();
  const optsOf = (o) => {
    const d = OPTS.get(o);
    if (!d) throw new TypeError('Illegal argument: expected AddTransitionOptions');
    return d;
  };
  api.AddTransitionOptions = class AddTransitionOptions {
    constructor() { OPTS.set(this, { applyToStart: false, forceSingleSided: false, transitionAlignment: 0, duration: null }); }
    setApplyToStart(applyToStart) { optsOf(this).applyToStart = !!applyToStart; return this; }
    setForceSingleSided(forceSingleSided) { optsOf(this).forceSingleSided = !!forceSingleSided; return this; }
    setTransitionAlignment(transitionAlignment) {
      if (typeof transitionAlignment !== 'number' || !isFinite(transitionAlignment)) throw new TypeError('Illegal argument: transitionAlignment must be a number');
      optsOf(this).transitionAlignment = transitionAlignment;
      return this;
    }
    setDuration(tickTime) {
      if (!(tickTime instanceof TickTime)) throw new TypeError('Illegal argument: expected TickTime');
      optsOf(this).duration = bigOf(tickTime);
      return this;
    }
    get applyToStart() { return optsOf(this).applyToStart; }
    get forceSingleSided() { return optsOf(this).forceSingleSided; }
    get transitionAlignment() { return optsOf(this).transitionAlignment; }
    get duration() { const d = optsOf(this).duration; return fromBig(d === null ? TPS * BigInt(DEFAULT_TRANSITION_SECONDS) : d); }
  };

  // -- Video transitions on clip track items (video only, as in Premiere) ---------------

  const videoItem = (obj) => {
    const ti = modelOf(obj, TrackItemModel, 'VideoClipTrackItem');
    if (ti.kind !== 'video' || ti.gap) throw new TypeError('Illegal argument: expected VideoClipTrackItem');
    return ti;
  };

  const transitionMembers = {
    createAddVideoTransitionAction(videoTransition, addTransitionOptionsProperties = undefined) {
      const ti = videoItem(this);
      const tr = modelOf(videoTransition, TransitionModel, 'VideoTransition');
      const o = addTransitionOptionsProperties === undefined ? null : Object.assign({}, optsOf(addTransitionOptionsProperties));
      const seq = ownerOf(ti);
      return api.action(seq && seq.project, 'VideoClipTrackItem.createAddVideoTransitionAction', () => {
        const owner = ownerOf(ti);
        if (!owner) throw new SimReject('The track item is no longer on a sequence');
        const atStart = !!(o && o.applyToStart);
        const duration = o && o.duration !== null ? o.duration : TPS * BigInt(DEFAULT_TRANSITION_SECONDS);
        if (duration <= 0n) throw new SimReject('A transition must be longer than zero');
        if (duration > ti.end - ti.start) throw new SimReject(`The transition (${Number(duration) / 254016000000} s) is longer than the clip`);
        // Double-sided only where a neighbour butts against that edge and it is not forced single.
        const edge = atStart ? ti.start : ti.end;
        const neighbour = owner.trackOf(ti).items.find((x) => x !== ti && (atStart ? x.end === edge : x.start === edge));
        ti.transitions[atStart ? 'start' : 'end'] = {
          matchName: tr.matchName, duration, alignment: o ? o.transitionAlignment : 0,
          singleSided: !!(o && o.forceSingleSided) || !neighbour,
        };
      });
    },
    createRemoveVideoTransitionAction(transitionPosition = undefined) {
      const ti = videoItem(this);
      const atStart = transitionPosition === Constants.TransitionPosition.START;
      if (transitionPosition !== undefined && !atStart && transitionPosition !== Constants.TransitionPosition.END) {
        throw new TypeError('Illegal argument: transitionPosition must be Constants.TransitionPosition.START or END');
      }
      const seq = ownerOf(ti);
      return api.action(seq && seq.project, 'VideoClipTrackItem.createRemoveVideoTransitionAction', () => {
        const key = atStart ? 'start' : 'end';
        if (!ti.transitions[key]) throw new SimReject(`The clip has no transition at its ${key}`);
        ti.transitions[key] = null;
      });
    },
  };
  for (const [k, fn] of Object.entries(transitionMembers)) {
    Object.defineProperty(api.VideoClipTrackItem.prototype, k, { value: fn, writable: true, configurable: true });
  }

  // -- Motion Graphics templates -------------------------------------------------------

  const tiView = (ti) => view(ti.kind === 'video' ? api.VideoClipTrackItem : api.AudioClipTrackItem, ti);

  /** A template file's contents as the simulator reads them (see sim/README.md). */
  function readTemplate(file) {
    let st;
    try { st = fs.statSync(file); } catch (e) { st = null; }
    if (!st || !st.isFile() || !/\.mogrt$/i.test(file)) throw new Error(`Can't open the Motion Graphics template '${file}'`);
    let meta = {};
    try { meta = JSON.parse(fs.readFileSync(file + '.simmeta.json', 'utf8')) || {}; } catch (e) { meta = {}; }
    const duration = typeof meta.duration === 'number' && meta.duration > 0 ? meta.duration : 10;
    const params = meta.params && typeof meta.params === 'object' ? meta.params : { 'Source Text': 'Title' };
    return { name: path.basename(file).replace(/\.mogrt$/i, ''), file, duration, params };
  }

  /** Lays a template down on a video track (an overwrite); one undo step of its own. */
  function insertTemplate(editor, tpl, time, videoIndex) {
    const s = modelOf(editor, SequenceModel, 'SequenceEditor');
    const p = s.project;
    requireLock(p, 'SequenceEditor.insertMogrt');
    if (!app.projects.includes(p)) throw new Error('The project has been closed');
    const at = bigOf(time);
    if (at < 0n) throw new Error('Cannot insert before the sequence start');
    if (!Number.isInteger(videoIndex) || videoIndex < 0) throw new TypeError('Illegal argument: inVideoTrackIndex must be a non-negative integer');
    const dur = BigInt(Math.round(tpl.duration * 254016000000));
    const ti = new TrackItemModel('video', null, at, at + dur, 0n);
    ti.name = tpl.name;
    ti.graphic = { template: tpl.file };
    ti.components.push(new ComponentModel(MOGRT_COMPONENT, tpl.name, Object.entries(tpl.params)));
    p.applyEdit('Insert Motion Graphics Template', () => {
      const track = ensureTrack(s, 'video', videoIndex);
      clearRange(track, ti.start, ti.end);
      track.items.push(ti);
      sortTrack(track);
    }, ['SequenceEditor.insertMogrt']);
    return [tiView(ti)];
  }

  Object.defineProperty(api.SequenceEditor.prototype, 'insertMogrtFromPath', {
    value: function insertMogrtFromPath(inMGTPath, inTime, inVideoTrackIndex, inAudioTrackIndex) {
      return insertTemplate(this, readTemplate(String(inMGTPath)), inTime, inVideoTrackIndex);
    },
    writable: true,
    configurable: true,
  });
  Object.defineProperty(api.SequenceEditor.prototype, 'insertMogrtFromLibrary', {
    value: function insertMogrtFromLibrary(inLibraryName, inElementName, inTime, inVideoTrackIndex, inAudioTrackIndex) {
      const lib = app.libraries[String(inLibraryName)];
      if (!lib) throw new Error(`No Creative Cloud library named '${inLibraryName}'`);
      const file = lib[String(inElementName)];
      if (!file) throw new Error(`No element '${inElementName}' in the library '${inLibraryName}'`);
      return insertTemplate(this, readTemplate(String(file)), inTime, inVideoTrackIndex);
    },
    writable: true,
    configurable: true,
  });
}

module.exports = { install, videoComponent, audioComponent };
