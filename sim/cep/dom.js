'use strict';
// ExtendScript's `app` DOM and the QE DOM, as the CEP helper's host.jsx uses them, backed by
// the same application model as the simulated `premierepro` module: a QE razor here is a
// split that the UXP plug-in sees at once, with the effects of the clip on both halves.
//
// Host objects are thin views over model records, created afresh on each access; their
// members live on prototypes (so a script's for-in over them finds no own keys).
// Every QE edit is one undo step of the project, like an edit made in Premiere's UI.

const fs = require('fs');
const path = require('path');
const { SimReject } = require('../premierepro/internal');
const { TrackModel } = require('../premierepro/records');
const { checkTrackItem, sortTrack, splitTrackItem, setTrackItemSpeed } = require('../premierepro/timeline');
const { TPS, formatTicks, parseTimecode, frameAt } = require('./timecode');
const { renderFrameFile } = require('../render');

// How many tracks of one kind a sequence may have in the simulator (see sim/README.md).
const MAX_TRACKS = 99;

// Undo labels of QE edits (Premiere's own wording is not documented; see sim/README.md).
const LABEL = {
  razor: 'Razor', addTracks: 'Add Tracks', removeTrack: 'Delete Tracks', speed: 'Speed/Duration',
};

/**
 * Runs one edit of a project as an undo step: all or nothing. A SimReject from `change`
 * leaves the project as it was and answers false.
 */
function edit(project, label, change) {
  // A fault asked for (premierepro/faults.js): QE answers success and changes nothing, or
  // refuses. A QE edit is one action, so "partial" applies it whole.
  const fault = project._app.faults.current();
  if (fault === 'noop') return true;
  if (fault === 'stale') {
    project._rejections.push({ label, message: 'fault stale: the edit was refused', kind: 'rejected' });
    return false;
  }
  try {
    project.applyEdit(label, change, ['qe']);
  } catch (e) {
    if (e instanceof SimReject) {
      project._rejections.push({ label, message: e.message, kind: 'rejected' });
      return false;
    }
    throw e;
  }
  return true;
}

/** Track ids and default names follow the track's position after tracks come or go. */
function renumber(seq, kind) {
  seq.tracks(kind).forEach((t, i) => {
    const dflt = (kind === 'video' ? 'Video ' : 'Audio ') + (t.id + 1);
    if (t.name === dflt) t.name = (kind === 'video' ? 'Video ' : 'Audio ') + (i + 1);
    t.id = i;
  });
}

/** Splits the clip that spans `at` (strictly inside it) on a track; false when none does. */
function splitTrackAt(track, at) {
  const ti = track.items.find((x) => x.start < at && at < x.end);
  return !!ti && !!splitTrackItem(track, ti, at);
}

/**
 * @param {object} options
 * @param {object} options.app the application model (sim/premierepro/model.js AppModel)
 * @param {string} options.build what app.build answers
 * @param {(text: string) => Error} options.scriptError makes an Error of the script's realm
 * @param {(name: string, value: any) => void} options.defineGlobal sets a global of the script
 * @param {(line: string) => void} [options.onTrace] app.trace and $.writeln output
 */
function createDom(options) {
  const model = options.app;
  const fail = options.scriptError;

  const activeProject = () => model.activeProject;
  const liveSeq = (seq) => {
    if (!seq.project || !seq.project.sequences.includes(seq)) throw fail('The sequence is no longer in an open project');
    return seq;
  };

  // -- Time ---------------------------------------------------------------------------

  const TICKS = new WeakMap();
  class Time {
    constructor() { TICKS.set(this, 0n); }
    get ticks() { return String(TICKS.get(this)); }
    set ticks(v) {
      const text = String(v).trim();
      TICKS.set(this, /^-?\d+$/.test(text) ? BigInt(text) : 0n);
    }
    get seconds() { return Number(TICKS.get(this)) / Number(TPS); }
    set seconds(v) {
      const s = Number(v);
      TICKS.set(this, Number.isFinite(s) ? BigInt(Math.round(s * Number(TPS))) : 0n);
    }
    setSecondsAsFraction(numerator, denominator) {
      const n = Number(numerator);
      const d = Number(denominator);
      if (!Number.isFinite(n) || !Number.isFinite(d) || d === 0) return false;
      TICKS.set(this, BigInt(Math.round((n / d) * Number(TPS))));
      return true;
    }
    /** Formatted at the frame duration of `frameRate` (a Time) in a TIMEDISPLAY_* format. */
    getFormatted(frameRate, displayFormat) {
      const tpf = frameRate instanceof Time ? TICKS.get(frameRate) : 0n;
      if (tpf <= 0n) throw fail('Time.getFormatted: the frame rate must be a Time of one frame');
      return formatTicks(TICKS.get(this), tpf, displayFormat);
    }
  }
  const timeOf = (ticks) => {
    const t = new Time();
    TICKS.set(t, BigInt(ticks));
    return t;
  };

  // -- Collections --------------------------------------------------------------------

  function collection(countName, list) {
    const c = {};
    Object.defineProperty(c, countName, { value: list.length, enumerable: false });
    list.forEach((x, i) => Object.defineProperty(c, i, { value: x, enumerable: true }));
    return c;
  }

  // -- Standard DOM -------------------------------------------------------------------

  class TrackItem {
    constructor(ti, seq) { Object.defineProperty(this, '_ti', { value: ti }); Object.defineProperty(this, '_seq', { value: seq }); }
    get name() { return this._ti.name; }
    set name(v) { this._ti.name = String(v); }
    get start() { return timeOf(this._ti.start); }
    get end() { return timeOf(this._ti.end); }
    get duration() { return timeOf(this._ti.end - this._ti.start); }
    get inPoint() { return timeOf(this._ti.inPoint); }
    get outPoint() { return timeOf(this._ti.outPoint); }
    get mediaType() { return this._ti.kind === 'audio' ? 'Audio' : 'Video'; }
    get disabled() { return !!this._ti.disabled; }
    get type() { return this._ti.kind === 'audio' ? 2 : 1; }
    get projectItem() { return this._ti.source ? { name: this._ti.source.name, nodeId: this._ti.source.id } : null; }
    getSpeed() { return this._ti.speed; }
    isSpeedReversed() { return this._ti.reversed ? 1 : 0; }
    isSelected() { return !!this._ti.selected; }
  }

  class Track {
    constructor(track, seq) { Object.defineProperty(this, '_t', { value: track }); Object.defineProperty(this, '_seq', { value: seq }); }
    get name() { return this._t.name; }
    get id() { return this._t.id; }
    get mediaType() { return this._t.kind === 'audio' ? 'Audio' : 'Video'; }
    get clips() { return collection('numItems', this._t.items.map((ti) => new TrackItem(ti, this._seq))); }
    get transitions() { return collection('numItems', []); }
    isMuted() { return !!this._t.muted; }
    setMute(isMuted) { this._t.muted = !!Number(isMuted); return 0; }
    isLocked() { return !!this._t.locked; }
    /** 1 locks, 0 unlocks. */
    setLocked(locked) {
      if (this._seq.project._app.faults.current() === null) this._t.locked = !!Number(locked);
    }
    isTargeted() { return !!this._t.targeted; }
    setTargeted(isTargeted, shouldBroadcast) {
      // Under a fault the setter changes nothing (a stale one has no way to say so).
      if (this._seq.project._app.faults.current() === null) this._t.targeted = !!isTargeted;
      return true;
    }
  }

  class Sequence {
    constructor(seq) { Object.defineProperty(this, '_s', { value: seq }); }
    get name() { return this._s.name; }
    get sequenceID() { return this._s.guid; }
    get id() { return this._s.project.sequences.indexOf(this._s); }
    get videoTracks() { const s = liveSeq(this._s); return collection('numTracks', s.video.map((t) => new Track(t, s))); }
    get audioTracks() { const s = liveSeq(this._s); return collection('numTracks', s.audio.map((t) => new Track(t, s))); }
    get end() { return String(this._s.endTime()); }
    get timebase() { return String(this._s.settings.tpf); }
    get zeroPoint() { return String(this._s.zeroPoint); }
    get frameSizeHorizontal() { return this._s.settings.width; }
    get frameSizeVertical() { return this._s.settings.height; }
    get videoDisplayFormat() { return this._s.settings.videoDisplayFormat; }
    getSettings() {
      const st = this._s.settings;
      return {
        videoFrameRate: timeOf(st.tpf), videoDisplayFormat: st.videoDisplayFormat,
        videoFrameWidth: st.width, videoFrameHeight: st.height, videoPixelAspectRatio: st.par,
        videoFieldType: st.fieldType, audioChannelCount: st.channelCount, audioChannelType: st.channelType,
        audioSampleRate: timeOf(BigInt(Math.round(Number(TPS) / st.sampleRate))), audioDisplayFormat: st.audioDisplayFormat,
        editingMode: st.editingMode, maximumBitDepth: st.maxBitDepth, maximumRenderQuality: st.maxRenderQuality,
        compositeLinearColor: st.compositeLinear, previewCodec: st.previewCodec, previewFileFormat: st.previewFileFormat,
        previewFrameWidth: st.previewWidth, previewFrameHeight: st.previewHeight,
      };
    }
    getPlayerPosition() { return timeOf(this._s.playhead); }
    /** `ticks` is a String of ticks. */
    setPlayerPosition(ticks) {
      const text = String(ticks).trim();
      if (!/^\d+$/.test(text)) return false;
      this._s.playhead = BigInt(text);
      return true;
    }
    getSelection() { return this._s.allItems().filter((ti) => ti.selected).map((ti) => new TrackItem(ti, this._s)); }
  }

  class Project {
    constructor(project) { Object.defineProperty(this, '_p', { value: project }); }
    get name() { return this._p.name; }
    get path() { return this._p.path; }
    get documentID() { return this._p.guid; }
    /** The active sequence, or the number 0 when none is active (as Premiere answers). */
    get activeSequence() { return this._p.activeSequence ? new Sequence(this._p.activeSequence) : 0; }
    get sequences() {
      const c = collection('numSequences', this._p.sequences.map((s) => new Sequence(s)));
      return c;
    }
    openSequence(sequenceID) {
      const seq = this._p.sequenceByGuid(String(sequenceID));
      if (!seq) return false;
      this._p.activeSequence = seq;
      return true;
    }
  }

  const traces = [];
  const app = {
    get version() { return model.version; },
    get build() { return options.build; },
    /** The active project; null while no project is open. */
    get project() { return activeProject() ? new Project(activeProject()) : null; },
    get projects() { return collection('numProjects', model.projects.map((p) => new Project(p))); },
    isDocumentOpen() { return model.projects.length > 0; },
    enableQE() {
      options.defineGlobal('qe', qe);
      return true;
    },
    trace(message) { traces.push(String(message)); if (options.onTrace) options.onTrace(String(message)); return true; },
    setSDKEventMessage(message, decorator) { return app.trace(`[${decorator}] ${message}`); },
  };
  for (const k of Object.keys(app)) Object.defineProperty(app, k, { enumerable: false });

  // -- QE DOM -------------------------------------------------------------------------

  /** QE's time values: {ticks, secs, frames, timecode}. */
  function qeTime(seq, ticks) {
    return {
      ticks: String(ticks),
      secs: Number(ticks) / Number(TPS),
      frames: frameAt(ticks, seq.settings.tpf),
      timecode: formatTicks(ticks, seq.settings.tpf, seq.settings.videoDisplayFormat),
    };
  }

  /** The tick of a QE timecode at the sequence's rate, or null when it cannot be read. */
  function ticksOfTimecode(seq, text) {
    const frames = parseTimecode(text, seq.settings.tpf);
    return frames === null ? null : BigInt(frames) * BigInt(seq.settings.tpf);
  }

  /** A track's items as QE lists them: clips, with the gaps before and between them as "Empty" items. */
  function qeItems(track) {
    const out = [];
    let at = 0n;
    for (const ti of track.items) {
      if (ti.start > at) out.push({ gap: true, start: at, end: ti.start });
      out.push({ gap: false, ti });
      if (ti.end > at) at = ti.end;
    }
    return out;
  }

  class QETrackItem {
    constructor(entry, track, seq) {
      Object.defineProperty(this, '_e', { value: entry });
      Object.defineProperty(this, '_t', { value: track });
      Object.defineProperty(this, '_s', { value: seq });
    }
    get type() { return this._e.gap ? 'Empty' : 'Clip'; }
    get name() { return this._e.gap ? '' : this._e.ti.name; }
    get start() { return qeTime(this._s, this._e.gap ? this._e.start : this._e.ti.start); }
    get end() { return qeTime(this._s, this._e.gap ? this._e.end : this._e.ti.end); }
    get duration() { const e = this._e; return qeTime(this._s, e.gap ? e.end - e.start : e.ti.end - e.ti.start); }
    get speed() { return this._e.gap ? 1 : this._e.ti.speed; }
    get reversed() { return this._e.gap ? false : !!this._e.ti.reversed; }
    get mediaType() { return this._t.kind === 'audio' ? 'Audio' : 'Video'; }

    /**
     * Speed/Duration: `speed` 1 is 100 %. `duration` is a timecode or '' to derive it from
     * the speed. The booleans come in the declared order (types-for-adobe-extras
     * qeDom.d.ts: speedFactor, unknown, isReversed, p3, ripple), which is the order of the
     * dialog's boxes: reverse, maintain audio pitch, ripple. Without ripple a longer clip
     * stops at the next clip; with ripple the clips after it on the track move by the
     * change. False when refused.
     */
    setSpeed(speed, duration, reverse, maintainPitch, ripple) {
      const e = this._e;
      const s = Number(speed);
      if (e.gap || !Number.isFinite(s) || s < 0.0001 || s > 100) return false;
      const track = this._t;
      const seq = this._s;
      return edit(seq.project, LABEL.speed, () => {
        const ti = e.ti;
        if (!track.items.includes(ti)) throw new SimReject('The clip is no longer on its track');
        const given = duration === undefined || duration === null || String(duration) === '' ? null : ticksOfTimecode(seq, duration);
        const oldEnd = ti.end;
        const later = track.items.filter((x) => x !== ti && x.start >= oldEnd);
        // The speed rule of the model: the source range stays and the length follows. A
        // duration given sets the length instead.
        setTrackItemSpeed(ti, s, !!reverse);
        if (given !== null) {
          if (given <= 0n) throw new SimReject('Speed/Duration: the clip would have no length');
          ti.end = ti.start + given;
        }
        if (ripple) {
          const delta = ti.end - oldEnd;
          for (const x of later) { x.start += delta; x.end += delta; }
        } else if (later.length > 0) {
          const next = later.reduce((a, b) => (a.start < b.start ? a : b));
          if (ti.end > next.start) ti.end = next.start;
        }
        ti.maintainPitch = !!maintainPitch;
        checkTrackItem(seq, ti);
        sortTrack(track);
      });
    }
  }

  class QETrack {
    constructor(track, seq) {
      Object.defineProperty(this, '_t', { value: track });
      Object.defineProperty(this, '_s', { value: seq });
    }
    get name() { return this._t.name; }
    get index() { return this._s.tracks(this._t.kind).indexOf(this._t); }
    get type() { return this._t.kind === 'audio' ? 'Audio' : 'Video'; }
    get numItems() { return qeItems(this._t).length; }
    getItemAt(i) {
      const entry = qeItems(this._t)[Number(i)];
      return entry ? new QETrackItem(entry, this._t, this._s) : null;
    }
    /** Cuts the clip under the timecode. Locked tracks and unreadable timecodes are left alone. */
    razor(timecode) {
      if (this._t.locked) return false;
      const at = ticksOfTimecode(this._s, timecode);
      if (at === null) return false;
      if (!this._t.items.some((x) => x.start < at && at < x.end)) return true;
      return edit(this._s.project, LABEL.razor, () => { splitTrackAt(this._t, at); });
    }
    isLocked() { return !!this._t.locked; }
    setLock(locked) { this._t.locked = !!locked; return true; }
    isMuted() { return !!this._t.muted; }
    setMute(muted) { this._t.muted = !!muted; return true; }
    setName(name) { this._t.name = String(name); return true; }
  }

  class QESequence {
    constructor(seq) { Object.defineProperty(this, '_s', { value: seq }); }
    get name() { return this._s.name; }
    get guid() { return this._s.guid; }
    get numVideoTracks() { return this._s.video.length; }
    get numAudioTracks() { return this._s.audio.length; }
    get videoFrameRate() { return Number(TPS) / Number(this._s.settings.tpf); }
    get videoDisplayFormat() { return this._s.settings.videoDisplayFormat; }
    get audioDisplayFormat() { return this._s.settings.audioDisplayFormat; }
    get CTI() { return qeTime(this._s, this._s.playhead); }
    get inPoint() { return qeTime(this._s, this._s.inPoint === null ? 0n : this._s.inPoint); }
    get outPoint() { return qeTime(this._s, this._s.outPoint === null ? this._s.endTime() : this._s.outPoint); }
    getVideoTrackAt(i) { const t = liveSeq(this._s).video[Number(i)]; return t ? new QETrack(t, this._s) : null; }
    getAudioTrackAt(i) { const t = liveSeq(this._s).audio[Number(i)]; return t ? new QETrack(t, this._s) : null; }

    /**
     * Adds tracks at positions in the track lists. Omitted arguments take QE's declared
     * defaults (1, 0, 1, 1, 0, 0, 1, 0), so a short call adds an audio track too.
     * Submix tracks are not modelled.
     */
    addTracks(numVideo = 1, videoIndex = 0, numAudio = 1, audioChannelType = 1, audioIndex = 0, numSubmix = 0, submixType = 1, submixIndex = 0) {
      const seq = liveSeq(this._s);
      const count = (v) => { const n = Math.floor(Number(v)); return Number.isFinite(n) && n > 0 ? n : 0; };
      const nv = count(numVideo);
      const na = count(numAudio);
      if (seq.video.length + nv > MAX_TRACKS || seq.audio.length + na > MAX_TRACKS) return false;
      if (nv === 0 && na === 0) return true;
      return edit(seq.project, LABEL.addTracks, () => {
        const add = (kind, n, at, extra) => {
          if (n === 0) return;
          const list = seq.tracks(kind);
          const pos = Math.min(Math.max(0, Math.floor(Number(at)) || 0), list.length);
          const fresh = [];
          for (let i = 0; i < n; i++) {
            const t = new TrackModel(kind, pos + i);
            Object.assign(t, extra);
            fresh.push(t);
          }
          // Tracks after the insertion point keep their names only if they were renamed.
          list.forEach((t, i) => { if (i >= pos && t.name === (kind === 'video' ? 'Video ' : 'Audio ') + (t.id + 1)) t.name = null; });
          list.splice(pos, 0, ...fresh);
          list.forEach((t, i) => { t.id = i; if (t.name === null) t.name = (kind === 'video' ? 'Video ' : 'Audio ') + (i + 1); });
        };
        add('video', nv, videoIndex, {});
        add('audio', na, audioIndex, { channelType: Math.floor(Number(audioChannelType)) || 0 });
      });
    }

    removeVideoTrack(index) { return this._removeTrack('video', index); }
    removeAudioTrack(index) { return this._removeTrack('audio', index); }
    _removeTrack(kind, index) {
      const seq = liveSeq(this._s);
      const list = seq.tracks(kind);
      const i = index === undefined ? list.length - 1 : Math.floor(Number(index));
      // A sequence keeps at least one track of each kind.
      if (!Number.isInteger(i) || i < 0 || i >= list.length || list.length === 1) return false;
      return edit(seq.project, LABEL.removeTrack, () => {
        list.splice(i, 1);
        renumber(seq, kind);
      });
    }

    /** Cuts every unlocked track at the timecode. */
    razor(timecode) {
      const seq = liveSeq(this._s);
      const at = ticksOfTimecode(seq, timecode);
      if (at === null) return false;
      return edit(seq.project, LABEL.razor, () => {
        for (const t of seq.allTracks()) if (!t.locked) splitTrackAt(t, at);
      });
    }

    /**
     * Writes the frame at the timecode as a PNG of the sequence frame size, rendered as
     * the simulated frame export renders it. Premiere appends ".png" to the path it is
     * given, whatever it ends with (Adobe's PProPanel sample passes a path without it and
     * gets the file with it; a path already ending in ".png" becomes "….png.png", as the UXP
     * frame export doubles its extension).
     */
    exportFramePNG(timecode, outputPath) {
      const seq = liveSeq(this._s);
      const at = ticksOfTimecode(seq, timecode);
      if (at === null || typeof outputPath !== 'string' || outputPath === '') return false;
      const file = outputPath + '.png';
      try {
        fs.mkdirSync(path.dirname(file), { recursive: true });
        fs.writeFileSync(file, renderFrameFile(seq, at, seq.settings.width, seq.settings.height, 'png'));
      } catch (e) {
        return false;
      }
      return true;
    }
  }

  const qe = {
    project: {
      getActiveSequence() {
        const p = activeProject();
        return p && p.activeSequence ? new QESequence(p.activeSequence) : null;
      },
      get numSequences() { const p = activeProject(); return p ? p.sequences.length : 0; },
      getSequenceAt(i) { const p = activeProject(); const s = p ? p.sequences[Number(i)] : null; return s ? new QESequence(s) : null; },
      undo() { const p = activeProject(); return p ? p.undo() !== null : false; },
      redo() { const p = activeProject(); return p ? p.redo() !== null : false; },
    },
  };

  return { app, Time, qe, traces };
}

module.exports = { createDom, MAX_TRACKS };
