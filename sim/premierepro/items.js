'use strict';
// Project panel items: ProjectItem, FolderItem, ClipProjectItem, Media; and the static
// Metadata and Transcript namespaces that work on them.

const { view, modelOf, illegalConstructor, SimReject, toBig } = require('./internal');
const { ItemModel } = require('./records');
const { sourceRange } = require('./timeline');
const { TickTime, bigOf, fromBig } = require('./values');

const TYPE = { clip: 1, bin: 2, root: 3, file: 4, style: 5, compound: 6 };

function install(api, app) {
  const item = (obj) => modelOf(obj, ItemModel, 'ProjectItem');
  const live = (m) => {
    if (!m._project || !app.projects.includes(m._project)) throw new Error('The project of this item has been closed');
    return m;
  };
  const clipModel = (obj) => {
    const m = item(obj);
    if (m.kind !== 'clip') throw new TypeError('Illegal argument: expected ClipProjectItem');
    return m;
  };
  const act = (m, kind, apply) => api.action(live(m)._project, kind, apply);

  /** Bounds of source in/out points: the media, a hard subclip's range, or a sequence. */
  function pointBounds(m) {
    const r = sourceRange(m);
    return { start: r.start, end: r.still ? null : r.end, range: r };
  }

  function checkPoints(m, inPoint, outPoint) {
    const b = pointBounds(m);
    if (inPoint !== null && (inPoint < b.start || (b.end !== null && inPoint > b.end))) {
      throw new SimReject(`In point outside the media of '${m.name}'`);
    }
    if (outPoint !== null && (outPoint < b.start || (b.end !== null && outPoint > b.end))) {
      throw new SimReject(`Out point outside the media of '${m.name}'`);
    }
    const i = inPoint !== null ? inPoint : b.range.in;
    const o = outPoint !== null ? outPoint : b.range.out;
    if (i >= o) throw new SimReject(`In point must be before the out point of '${m.name}'`);
  }

  // Shared members of every item view (declared on ProjectItem, FolderItem and ClipProjectItem).
  const common = {
    createSetNameAction(inName) {
      const m = item(this);
      const name = String(inName);
      return act(m, 'ProjectItem.createSetNameAction', () => {
        if (name.trim() === '') throw new SimReject('An item name cannot be empty');
        if (m.kind === 'root') throw new SimReject('The root bin cannot be renamed');
        m.name = name;
      });
    },
    async getColorLabelIndex() { return item(this).color; },
    createSetColorLabelAction(inColorLabelIndex) {
      const m = item(this);
      return act(m, 'ProjectItem.createSetColorLabelAction', () => {
        if (!Number.isInteger(inColorLabelIndex) || inColorLabelIndex < 0 || inColorLabelIndex > 15) {
          throw new SimReject(`Label colour index ${inColorLabelIndex} is outside 0-15`);
        }
        m.color = inColorLabelIndex;
      });
    },
    async getProject() { return view(api.Project, live(item(this))._project); },
  };
  const commonGetters = {
    type() { return TYPE[item(this).kind]; },
    name() { return item(this).name; },
  };

  function mixin(Class, names) {
    for (const n of names) {
      if (n in common) Object.defineProperty(Class.prototype, n, { value: common[n], writable: true, configurable: true });
      else Object.defineProperty(Class.prototype, n, { get: commonGetters[n], configurable: true });
    }
  }

  api.ProjectItem = class ProjectItem {
    constructor() { illegalConstructor(); }
    static cast(item_) { return view(api.ProjectItem, item(item_)); }
    static get TYPE_CLIP() { return TYPE.clip; }
    static get TYPE_BIN() { return TYPE.bin; }
    static get TYPE_ROOT() { return TYPE.root; }
    static get TYPE_FILE() { return TYPE.file; }
    static get TYPE_STYLE() { return TYPE.style; }
    static get TYPE_COMPOUND() { return TYPE.compound; }
    getId() { return item(this).id; }
    getParentBin() {
      const m = item(this);
      return m.parent ? view(api.FolderItem, m.parent) : null;
    }
  };
  mixin(api.ProjectItem, ['createSetNameAction', 'getColorLabelIndex', 'createSetColorLabelAction', 'getProject', 'type', 'name']);

  api.FolderItem = class FolderItem {
    constructor() { illegalConstructor(); }
    static cast(projectItem) {
      const m = item(projectItem);
      return m.kind === 'bin' || m.kind === 'root' ? view(api.FolderItem, m) : null;
    }

    createBinAction(name, makeUnique) {
      const parent = item(this);
      const base = String(name);
      return act(parent, 'FolderItem.createBinAction', () => {
        if (base.trim() === '') throw new SimReject('A bin name cannot be empty');
        if (!parent.attached) throw new SimReject('The parent bin is no longer in the project');
        let final = base;
        if (makeUnique) {
          const taken = new Set(parent.children.map((c) => c.name));
          for (let n = 1; taken.has(final); n++) final = base + ' ' + String(n).padStart(2, '0');
        }
        const bin = new ItemModel(parent._project, 'bin', final);
        parent._project.addChild(parent, bin);
      });
    }

    createRenameBinAction(name) {
      const m = item(this);
      const text = String(name);
      return act(m, 'FolderItem.createRenameBinAction', () => {
        if (text.trim() === '' || m.kind === 'root') throw new SimReject('Cannot rename this bin to that name');
        m.name = text;
      });
    }

    async getItems() {
      return live(item(this)).children.map((c) => view(api.ProjectItem, c));
    }

    createRemoveItemAction(item_) {
      const parent = item(this);
      const child = item(item_);
      return act(parent, 'FolderItem.createRemoveItemAction', () => {
        if (child.parent !== parent) throw new SimReject(`'${child.name}' is not in bin '${parent.name || '/'}'`);
        parent._project.removeItem(child);
      });
    }

    createMoveItemAction(item_, newParent) {
      const parent = item(this);
      const child = item(item_);
      const target = modelOf(newParent, ItemModel, 'FolderItem');
      return act(parent, 'FolderItem.createMoveItemAction', () => {
        if (child.parent !== parent) throw new SimReject(`'${child.name}' is not in bin '${parent.name || '/'}'`);
        if (target.kind !== 'bin' && target.kind !== 'root') throw new SimReject('The target is not a bin');
        if (!target.attached || target._project !== parent._project) throw new SimReject('The target bin is not in this project');
        for (let n = target; n; n = n.parent) if (n === child) throw new SimReject('A bin cannot be moved into itself');
        parent._project.detach(child);
        parent._project.addChild(target, child);
      });
    }
  };
  mixin(api.FolderItem, ['createSetNameAction', 'getColorLabelIndex', 'createSetColorLabelAction', 'getProject', 'type', 'name']);

  const CONTENT = { any: 0, sequence: 1, media: 2 };

  api.ClipProjectItem = class ClipProjectItem {
    constructor() { illegalConstructor(); }
    static cast(projectItem) {
      const m = item(projectItem);
      return m.kind === 'clip' ? view(api.ClipProjectItem, m) : null;
    }

    async isSequence() { return !!clipModel(this).sequence; }
    async isOffline() { return clipModel(this).offline; }
    async canChangeMediaPath() { return !!clipModel(this).media; }
    async isMergedClip() { return false; }
    async isMulticamClip() { return false; }
    async getContentType() { return clipModel(this).sequence ? CONTENT.sequence : CONTENT.media; }

    async getSequence() {
      const m = clipModel(this);
      return m.sequence ? view(api.Sequence, m.sequence) : null;
    }

    async getMediaFilePath() {
      const m = clipModel(this);
      return m.media ? m.media.path : '';
    }

    async findItemsMatchingMediaPath(matchString, ignoreSubclips = undefined) {
      const m = live(clipModel(this));
      const want = String(matchString);
      return m._project.items()
        .filter((c) => c.media && c.media.path === want && !(ignoreSubclips && c.subclip))
        .map((c) => view(api.ProjectItem, c));
    }

    async getMedia() {
      const m = clipModel(this);
      if (!m.media && !m.sequence) return null;
      return view(api.Media, m);
    }

    async getInPoint(mediaType) {
      const m = clipModel(this);
      return fromBig(sourceRange(m).in);
    }

    async getOutPoint(mediaType) {
      const m = clipModel(this);
      return fromBig(sourceRange(m).out);
    }

    async getComponentChain(mediaType) { return ''; }

    createSetInPointAction(tickTime) {
      const m = clipModel(this);
      const t = bigOf(tickTime);
      return act(m, 'ClipProjectItem.createSetInPointAction', () => {
        checkPoints(m, t, m.outPoint);
        m.inPoint = t;
      });
    }

    createSetOutPointAction(tickTime) {
      const m = clipModel(this);
      const t = bigOf(tickTime);
      return act(m, 'ClipProjectItem.createSetOutPointAction', () => {
        checkPoints(m, m.inPoint, t);
        m.outPoint = t;
      });
    }

    createSetInOutPointsAction(inPoint, outPoint) {
      const m = clipModel(this);
      const i = bigOf(inPoint);
      const o = bigOf(outPoint);
      return act(m, 'ClipProjectItem.createSetInOutPointsAction', () => {
        checkPoints(m, i, o);
        m.inPoint = i;
        m.outPoint = o;
      });
    }

    createClearInOutPointsAction() {
      const m = clipModel(this);
      return act(m, 'ClipProjectItem.createClearInOutPointsAction', () => {
        m.inPoint = null;
        m.outPoint = null;
      });
    }

    createSubClipAction(name, startTime, endTime, hasHardBoundaries, options = undefined) {
      const m = clipModel(this);
      const s = bigOf(startTime);
      const e = bigOf(endTime);
      const opts = options && typeof options === 'object' ? options : {};
      const takeVideo = opts.takeVideo !== false;
      const takeAudio = opts.takeAudio !== false;
      const subName = String(name);
      return act(m, 'ClipProjectItem.createSubClipAction', () => {
        if (!m.media) throw new SimReject(`'${m.name}' has no media to make a subclip of`);
        const b = pointBounds(m);
        if (s < b.start || (b.end !== null && e > b.end) || s >= e) throw new SimReject('Subclip range outside the media');
        if (!(takeVideo && m.media.hasVideo) && !(takeAudio && m.media.hasAudio)) throw new SimReject('A subclip needs video or audio');
        if (!m.parent) throw new SimReject('The clip is no longer in the project');
        const sub = new ItemModel(m._project, 'clip', subName);
        sub.media = m.media;
        sub.subclip = { start: s.toString(), end: e.toString(), hard: !!hasHardBoundaries, takeVideo, takeAudio };
        m._project.addChild(m.parent, sub);
      });
    }

    createSetOfflineAction() {
      const m = clipModel(this);
      return act(m, 'ClipProjectItem.createSetOfflineAction', () => {
        if (!m.media) throw new SimReject('Only media clips can be made offline');
        m.offline = true;
      });
    }
  };
  mixin(api.ClipProjectItem, ['createSetNameAction', 'getColorLabelIndex', 'createSetColorLabelAction', 'getProject', 'type', 'name']);

  api.Media = class Media {
    constructor() { illegalConstructor(); }
    createSetStartAction(time) {
      const m = clipModel(this);
      const t = bigOf(time);
      return act(m, 'Media.createSetStartAction', () => {
        if (!m.media) throw new SimReject('A sequence has no media start');
        if (t < 0n) throw new SimReject('Media start cannot be negative');
        m.media.startTicks = t.toString();
      });
    }
    // Premiere 25.6 to 26.3 hand out both properties as Promises (the reference page; the
    // declarations' bare TickTime is wrong, see errata.js). 26.5 deprecates them in favour
    // of the synchronous getStart()/getDuration(), gated in since.js.
    get start() {
      const m = clipModel(this);
      return Promise.resolve(mediaStart(m));
    }
    get duration() {
      const m = clipModel(this);
      return Promise.resolve(mediaDuration(m));
    }
    getStart() { return mediaStart(clipModel(this)); }
    getDuration() { return mediaDuration(clipModel(this)); }
  };

  function mediaStart(m) {
    return fromBig(m.media ? toBig(m.media.startTicks) : m.sequence.zeroPoint);
  }

  function mediaDuration(m) {
    const r = sourceRange(m);
    return fromBig(r.end - r.start);
  }

  // -- Metadata --------------------------------------------------------------------------

  const esc = (s) => String(s).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');

  function defaultXmp(m) {
    return '<?xpacket begin="\ufeff" id="W5M0MpCehiHzreSzNTczkc9d"?>\n' +
      '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">' +
      '<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:xmpDM="http://ns.adobe.com/xmp/1.0/DynamicMedia/">' +
      `<dc:title><rdf:Alt><rdf:li xml:lang="x-default">${esc(m.name)}</rdf:li></rdf:Alt></dc:title>` +
      '</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end="w"?>';
  }

  function defaultProjectMetadata(m) {
    const r = m.kind === 'clip' && (m.media || m.sequence) ? sourceRange(m) : null;
    return '<?xml version="1.0"?>\n<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">' +
      '<rdf:Description rdf:about="" xmlns:premierePrivateProjectMetaData="http://ns.adobe.com/premierePrivateProjectMetaData/1.0/">' +
      `<premierePrivateProjectMetaData:Column.Intrinsic.Name>${esc(m.name)}</premierePrivateProjectMetaData:Column.Intrinsic.Name>` +
      (m.media ? `<premierePrivateProjectMetaData:Column.Intrinsic.FilePath>${esc(m.media.path)}</premierePrivateProjectMetaData:Column.Intrinsic.FilePath>` : '') +
      (r ? `<premierePrivateProjectMetaData:Column.Intrinsic.MediaDuration>${r.end - r.start}</premierePrivateProjectMetaData:Column.Intrinsic.MediaDuration>` : '') +
      '</rdf:Description></rdf:RDF></x:xmpmeta>';
  }

  api.Metadata = class Metadata {
    constructor() { illegalConstructor(); }
    static async getProjectMetadata(projectItem) {
      const m = live(item(projectItem));
      return m.projectMetadata !== null ? m.projectMetadata : defaultProjectMetadata(m);
    }
    static async getXMPMetadata(projectItem) {
      const m = live(item(projectItem));
      return m.xmp !== null ? m.xmp : defaultXmp(m);
    }
    static createSetProjectMetadataAction(projectItem, metadata, updatedFields) {
      const m = item(projectItem);
      const text = String(metadata);
      if (!Array.isArray(updatedFields)) throw new TypeError('Illegal argument: updatedFields must be an array');
      return act(m, 'Metadata.createSetProjectMetadataAction', () => { m.projectMetadata = text; });
    }
    static createSetXMPMetadataAction(projectItem, metadata) {
      const m = item(projectItem);
      const text = String(metadata);
      return act(m, 'Metadata.createSetXMPMetadataAction', () => {
        if (!/<x:xmpmeta[\s>]/.test(text) && !/<rdf:RDF[\s>]/.test(text)) throw new SimReject('Not an XMP packet');
        m.xmp = text;
      });
    }
    static async getProjectColumnsMetadata(projectItem) {
      const m = live(item(projectItem));
      const cols = [{ ColumnID: 'Column.Intrinsic.Name', ColumnValue: m.name }];
      if (m.kind === 'clip' && (m.media || m.sequence)) {
        const r = sourceRange(m);
        cols.push({ ColumnID: 'Column.Intrinsic.MediaStart', ColumnValue: String(r.start) });
        cols.push({ ColumnID: 'Column.Intrinsic.MediaEnd', ColumnValue: String(r.end) });
      }
      return JSON.stringify(cols);
    }
    static get METADATA_TYPE_INTEGER() { return 0; }
    static get METADATA_TYPE_REAL() { return 1; }
    static get METADATA_TYPE_TEXT() { return 2; }
    static get METADATA_TYPE_BOOLEAN() { return 3; }
  };

  // -- Transcript ------------------------------------------------------------------------

  const LANGUAGES = [
    { displayString: 'English', languageCode: 'en-US', locale: 'en_US' },
    { displayString: 'German', languageCode: 'de-DE', locale: 'de_DE' },
    { displayString: 'French', languageCode: 'fr-FR', locale: 'fr_FR' },
    { displayString: 'Spanish', languageCode: 'es-ES', locale: 'es_ES' },
    { displayString: 'Japanese', languageCode: 'ja-JP', locale: 'ja_JP' },
  ];

  function generatedTranscript(m, language) {
    const r = sourceRange(m);
    const seconds = Number(r.end - r.start) / 254016000000;
    const words = ['This', 'is', 'a', 'simulated', 'transcript', 'of', m.name + '.'];
    const step = seconds / words.length;
    return {
      language: language || 'en-US',
      segments: [{
        start: 0, duration: seconds, speaker: 'speaker-1', language: language || 'en-US',
        words: words.map((w, i) => ({ text: w, start: i * step, duration: step, confidence: 1, type: 'word' })),
      }],
      speakers: [{ id: 'speaker-1', name: 'Speaker 1' }],
    };
  }

  const SEGMENTS = new WeakMap();

  api.TextSegments = class TextSegments {
    constructor() { illegalConstructor(); }
    static importFromJSON(json, callback1) {
      let parsed;
      try { parsed = JSON.parse(String(json)); } catch (e) { return false; }
      const seg = Object.create(api.TextSegments.prototype);
      SEGMENTS.set(seg, parsed);
      callback1(seg);
      return true;
    }
  };

  api.Transcript = class Transcript {
    constructor() { illegalConstructor(); }
    static importFromJSON(jsonString) {
      const parsed = JSON.parse(String(jsonString));
      const seg = Object.create(api.TextSegments.prototype);
      SEGMENTS.set(seg, parsed);
      return seg;
    }
    static createImportTextSegmentsAction(textSegments, clipProjectItem) {
      const m = clipModel(clipProjectItem);
      if (!SEGMENTS.has(textSegments)) throw new TypeError('Illegal argument: expected TextSegments');
      const data = SEGMENTS.get(textSegments);
      return act(m, 'Transcript.createImportTextSegmentsAction', () => {
        if (!m.media || !m.media.hasAudio) throw new SimReject('Only clips with audio carry a transcript');
        m.transcript = JSON.parse(JSON.stringify(data));
      });
    }
    static querySupportedLanguages() { return LANGUAGES.map((l) => Object.assign({}, l)); }
    static hasTranscript(clipProjectItem) { return clipModel(clipProjectItem).transcript !== null; }
    static async exportToJSON(clipProjectItem) {
      const m = clipModel(clipProjectItem);
      return m.transcript === null ? '' : JSON.stringify(m.transcript);
    }
    // Not in the 26.3 typings; documented on Adobe's Transcript reference page.
    static async transcribeClipProjectItem(clipProjectItem, options = undefined) {
      const m = live(clipModel(clipProjectItem));
      if (!m.media || !m.media.hasAudio) return false;
      const language = options && typeof options === 'object' && options.languageCode ? String(options.languageCode) : undefined;
      if (language && !LANGUAGES.some((l) => l.languageCode.toLowerCase() === language.toLowerCase())) return false;
      // Speech-to-text runs on in the background; the transcript appears a little later.
      app.later(app.transcribeMs, () => {
        m.transcript = m.media.transcriptSource || generatedTranscript(m, language);
      });
      return true;
    }
  };
}

module.exports = { install, TYPE };
