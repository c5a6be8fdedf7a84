'use strict';
// Export and the Source Monitor: Exporter (frame export, real image files), EncoderManager
// (sequence export with encoder events and a Media Encoder queue), ProjectConverter
// (OpenTimelineIO and Final Cut Pro XML files of a sequence) and SourceMonitor.

const fs = require('fs');
const path = require('path');
const { view, modelOf, illegalConstructor } = require('./internal');
const { SequenceModel, ItemModel } = require('./records');
const { bigOf, fromBig } = require('./values');
const { Constants, EVENTS } = require('./constants');
const { probeMedia } = require('./media');
const { renderFrameFile } = require('../render');
const { writeOtio, writeFcpXml } = require('./interchange');

const TPS = 254016000000;
// Image formats Premiere's frame export names; the simulator encodes png, jpg, tif, bmp and tga.
const FRAME_FORMATS = new Set(['bmp', 'dpx', 'gif', 'jpg', 'exr', 'png', 'tga', 'tif']);
const MAX_FRAME_PIXELS = 8192 * 4320;
const EXPORT_TYPES = { QUEUE_TO_AME: 'ExportQueueToAME', QUEUE_TO_APP: 'ExportQueueToApp', IMMEDIATELY: 'ExportImmediately' };

/** A folder we may write a new file into. */
function writableDir(dir) {
  try {
    if (!fs.statSync(dir).isDirectory()) return false;
    fs.accessSync(dir, fs.constants.W_OK);
    return true;
  } catch (e) {
    return false;
  }
}

function install(api, app) {
  const liveSeq = (obj) => {
    const s = modelOf(obj, SequenceModel, 'Sequence');
    if (!app.projects.includes(s.project) || !s.project.sequences.includes(s)) throw new Error('The sequence is no longer in an open project');
    return s;
  };

  // -- Exporter ------------------------------------------------------------------------

  api.Exporter = class Exporter {
    constructor() { illegalConstructor(); }

    /**
     * Renders the frame now and writes the file a moment later (Premiere writes it after
     * the Promise has resolved); the name gets the format's extension appended again unless
     * the simulator was told otherwise, as Adobe's frame-export sample reports.
     */
    static async exportSequenceFrame(sequence, time, filename, filepath, width, height) {
      const s = liveSeq(sequence);
      const t = bigOf(time);
      const name = String(filename);
      const file = path.isAbsolute(name) ? name : path.join(String(filepath), name);
      const ext = path.extname(file).slice(1).toLowerCase();
      if (!FRAME_FORMATS.has(ext)) return false;
      const ok = (v) => Number.isInteger(v) && v > 0 && v <= 16384;
      if (!ok(width) || !ok(height)) return false;
      // The simulator renders in memory: it refuses frames above 8K (a guard of its own).
      if (width * height > MAX_FRAME_PIXELS) return false;
      if (!writableDir(path.dirname(file))) return false;
      const bytes = renderFrameFile(s, t, width, height, ext);
      if (!bytes) return false;
      const target = app.frameExportDoubleExtension ? file + '.' + ext : file;
      const half = Math.floor(bytes.length / 2);
      const step = Math.max(1, Math.round(app.renderMs / 4));
      app.later(step, () => {
        try { fs.writeFileSync(target, bytes.subarray(0, half)); } catch (e) { return; }
        app.later(step, () => { try { fs.appendFileSync(target, bytes.subarray(half)); } catch (e) { /* folder gone */ } });
      });
      return true;
    }
  };

  // -- EncoderManager ------------------------------------------------------------------

  // Events, as Adobe's event sample (eventManager.ts) and the EncoderManager reference give
  // them: the EncoderManager's render events are "broadcast" for Media Encoder jobs, with
  // `jobID` and, per event, `progressAmount` (0…1), `outputFiles` or `inErrorNumber`; an
  // export inside Premiere (immediate) reports through the global operation-complete event
  // for exported media, with `state`, and "currently this only fires on successful exports".
  const enc = app.encoder;
  const emit = (name, payload) => app.emit(name, enc, payload);
  let jobs = 0;

  /** Renders one job: the output file after `renderMs`; Media Encoder jobs report progress. */
  function render(job) {
    return new Promise((resolve) => {
      const queued = job.target !== 'immediate';
      const steps = [0.25, 0.5, 0.75, 1];
      let i = 0;
      const tick = () => {
        if (i < steps.length) {
          if (queued) emit(EVENTS.RENDER_PROGRESS, { jobID: job.id, progressAmount: steps[i] });
          i += 1;
          app.later(Math.max(1, Math.round(app.renderMs / steps.length)), tick);
          return;
        }
        try {
          fs.writeFileSync(job.output, job.content);
        } catch (e) {
          if (queued) emit(EVENTS.RENDER_ERROR, { jobID: job.id, inErrorNumber: 1 });
          resolve(false);
          return;
        }
        if (queued) emit(EVENTS.RENDER_COMPLETE, { jobID: job.id, outputFiles: [job.output] });
        else app.emit(EVENTS.EXPORT_MEDIA_COMPLETE, null, { state: Constants.OperationCompleteState.SUCCESS });
        resolve(true);
      };
      tick();
    });
  }

  function exportTypeOf(t) {
    const C = Constants.ExportType;
    if (t === C.IMMEDIATELY || t === EXPORT_TYPES.IMMEDIATELY) return 'immediate';
    if (t === C.QUEUE_TO_AME || t === EXPORT_TYPES.QUEUE_TO_AME) return 'ame';
    if (t === C.QUEUE_TO_APP || t === EXPORT_TYPES.QUEUE_TO_APP) return 'app';
    throw new TypeError(`Illegal argument: unknown export type '${t}'`);
  }

  api.EncoderManager = class EncoderManager {
    constructor() { illegalConstructor(); }
    static getManager() { return view(api.EncoderManager, enc); }

    async exportSequence(sequence, exportType, outputFile = undefined, presetFile = undefined, exportFull = undefined) {
      modelOf(this, null, 'EncoderManager');
      const s = liveSeq(sequence);
      const kind = exportTypeOf(exportType);
      if (outputFile === undefined || presetFile === undefined) {
        throw new Error('The sequence has no export settings applied; pass an output file and a preset');
      }
      const output = String(outputFile);
      const preset = String(presetFile);
      let st;
      try { st = fs.statSync(preset); } catch (e) { st = null; }
      if (!st || !st.isFile()) throw new Error(`Export preset not found: ${preset}`);
      if (!writableDir(path.dirname(path.resolve(output)))) throw new Error(`Can't write the output file ${output}: the folder does not exist or is not writable`);
      const full = exportFull !== false;
      const from = full ? 0n : (s.inPoint === null ? 0n : s.inPoint);
      const to = full ? s.endTime() : (s.outPoint === null ? s.endTime() : s.outPoint);
      jobs += 1;
      const job = { id: `job-${jobs}`, target: kind, output, content: renderedFileText(s, preset, from, to) };
      if (to <= from) return false;
      if (kind === 'immediate') return render(job);
      if (kind === 'ame' && !app.ameInstalled) return false;
      enc.queue.push(job);
      emit(EVENTS.RENDER_QUEUE, { jobID: job.id });
      return true;
    }

    /** Renders the Media Encoder queue, one job after the other. */
    async startBatchEncode() {
      if (!app.ameInstalled) return false;
      const batch = enc.queue.filter((j) => j.target === 'ame');
      enc.queue = enc.queue.filter((j) => j.target !== 'ame');
      (async () => { for (const j of batch) await render(j); })();
      return true;
    }

    async launchEncoder() { return app.ameInstalled; }
    get isAMEInstalled() { return app.ameInstalled; }

    static get EXPORT_QUEUE_TO_AME() { return EXPORT_TYPES.QUEUE_TO_AME; }
    static get EXPORT_QUEUE_TO_APP() { return EXPORT_TYPES.QUEUE_TO_APP; }
    static get EXPORT_IMMEDIATELY() { return EXPORT_TYPES.IMMEDIATELY; }
    static get EVENT_RENDER_COMPLETE() { return EVENTS.RENDER_COMPLETE; }
    static get EVENT_RENDER_ERROR() { return EVENTS.RENDER_ERROR; }
    static get EVENT_RENDER_CANCEL() { return EVENTS.RENDER_CANCEL; }
    static get EVENT_RENDER_QUEUE() { return EVENTS.RENDER_QUEUE; }
    static get EVENT_RENDER_PROGRESS() { return EVENTS.RENDER_PROGRESS; }
  };

  /** What the simulator writes as a rendered movie: a description, not playable media. */
  function renderedFileText(s, preset, from, to) {
    return JSON.stringify({
      format: 'cutrelay-sim-render',
      sequence: s.name,
      preset,
      width: s.settings.width,
      height: s.settings.height,
      fps: TPS / s.settings.tpf,
      start: Number(from) / TPS,
      end: Number(to) / TPS,
      frames: Math.max(0, Math.round(Number(to - from) / s.settings.tpf)),
    }, null, 2) + '\n';
  }

  // -- ProjectConverter ----------------------------------------------------------------

  const writeFile = (file, text) => {
    const target = path.resolve(String(file));
    if (!writableDir(path.dirname(target))) return false;
    try {
      fs.writeFileSync(target, text);
      return true;
    } catch (e) {
      return false;
    }
  };

  api.ProjectConverter = class ProjectConverter {
    constructor() { illegalConstructor(); }
    static async exportAsOpenTimelineIO(sequence, outputFilePath, suppressUI = undefined) {
      return writeFile(outputFilePath, writeOtio(liveSeq(sequence)));
    }
    static async exportAsFinalCutProXML(sequence, outputFilePath, suppressUI = undefined) {
      return writeFile(outputFilePath, writeFcpXml(liveSeq(sequence)));
    }
    static async exportAAF(sequence, filePath, aafExportOptions = undefined) {
      liveSeq(sequence);
      throw new Error('The Premiere simulator cannot write AAF files; export otio or fcpxml instead');
    }
    static get AAF_EXPORT_AUDIO_FORMAT_AIFF() { return Constants.AAFExportAudioFormat.AIFF; }
    static get AAF_EXPORT_AUDIO_FORMAT_WAV() { return Constants.AAFExportAudioFormat.WAV; }
  };

  // -- SourceMonitor -------------------------------------------------------------------

  const mon = app.sourceMonitor;
  const durationOf = () => {
    if (mon.item && mon.item.sequence) return mon.item.sequence.endTime();
    const m = mon.item ? mon.item.media : mon.file;
    return m ? BigInt(m.durationTicks) : 0n;
  };
  // The position moves on while playing; it is computed when read.
  const position = () => {
    if (!mon.playing) return mon.position;
    const moved = BigInt(Math.round((Date.now() - mon.playStarted) / 1000 * TPS * mon.playing));
    let p = mon.position + moved;
    const end = durationOf();
    if (p > end) p = end;
    if (p < 0n) p = 0n;
    return p;
  };
  const load = (item, file) => {
    Object.assign(mon, { item, file, position: 0n, playing: 0, playStarted: 0 });
    return true;
  };

  api.SourceMonitor = class SourceMonitor {
    constructor() { illegalConstructor(); }
    static async openFilePath(filePath) {
      const info = probeMedia(String(filePath));
      if (!info) return false;
      return load(null, { path: String(filePath), durationTicks: String(Math.round(info.duration * TPS)) });
    }
    static async openProjectItem(projectItem) {
      const item = modelOf(projectItem, ItemModel, 'ProjectItem');
      if (item.kind !== 'clip' || !item.attached) return false;
      return load(item, null);
    }
    static async closeClip() {
      if (!mon.item && !mon.file) return false;
      return load(null, null);
    }
    static async closeAllClips() { return load(null, null); }
    static async getPosition() { return fromBig(position()); }
    static async setPosition(position_) {
      const t = bigOf(position_);
      if (!mon.item && !mon.file) return false;
      const end = durationOf();
      mon.position = t < 0n ? 0n : t > end ? end : t;
      if (mon.playing) mon.playStarted = Date.now();
      return true;
    }
    static async play(speed = undefined) {
      if (!mon.item && !mon.file) return false;
      const v = speed === undefined ? 1 : Number(speed);
      if (!isFinite(v)) throw new TypeError('Illegal argument: speed must be a number');
      mon.position = position();
      mon.playStarted = Date.now();
      mon.playing = v;
      return true;
    }
    static async getProjectItem() { return mon.item ? view(api.ProjectItem, mon.item) : null; }
  };
}

module.exports = { install, EXPORT_TYPES };
