// Quor Bridge — the in-app UXP plug-in of cutrelay.
//
// Runs inside Premiere Pro as a panel script (loaded by index.html), dials out to the
// bridge's loopback WebSocket, and carries out the forwarded verbs against the
// `premierepro` scripting API.
//
// Two rules hold for every verb:
//  * since Premiere 26.3 every create…Action must be built inside project.lockedAccess,
//    whose callback is synchronous: a verb does all its awaited reads first and then
//    builds its actions in one synchronous pass (see `tx`);
//  * everything sent back is JSON-safe; times go out as objects with `seconds`, `ticks`
//    and, where a sequence is known, `timecode` and `frame`.
//
// The same file is loaded unmodified by the simulator in sim/ (through Node's vm module),
// which is why the internals are also exported when a CommonJS `module` exists.

// @ts-check
/**
 * @import { premierepro, Project, Sequence, ProjectItem, FolderItem, ClipProjectItem,
 *   TickTime, VideoTrack, AudioTrack, VideoClipTrackItem, AudioClipTrackItem, Action } from "@adobe/premierepro"
 * @import { UndeclaredPremiere } from "../types/premierepro-undeclared"
 * @import { Media as ReferenceMedia } from "../types/premierepro-errata"
 */

const ppro = require("premierepro");
const uxp = require("uxp");
const fs = require("fs");
const os = require("os");

const PLUGIN_VERSION = "0.1.0";
const PROTOCOL = 1;
const TICKS_PER_SECOND = 254016000000;
const LOG_LINES = 40;

// ---------------------------------------------------------------------------------------
// Panel

/** @type {string[]} */
const panelLog = [];

/** @param {string} id @param {(el: any) => void} fn */
function withElement(id, fn) {
  try {
    const el = document.getElementById(id);
    if (el) fn(el);
  } catch (e) {
    // The panel is cosmetic: a missing element never stops the plug-in.
  }
}

/** @param {string} state "ok" lights green, anything else amber @param {string} text */
function setStatus(state, text) {
  withElement("led", (el) => { el.className = state === "ok" ? "led ok" : "led wait"; });
  withElement("status", (el) => { el.textContent = text; });
}

/** @param {string} text */
function setLast(text) {
  withElement("last", (el) => { el.textContent = text; });
}

/** @param {string} message */
function log(message) {
  let stamp = "";
  try { stamp = new Date().toLocaleTimeString(); } catch (e) { stamp = ""; }
  panelLog.push(stamp + " " + message);
  while (panelLog.length > LOG_LINES) panelLog.shift();
  withElement("log", (el) => { el.textContent = panelLog.join("\n"); });
  try { console.log("[quor] " + message); } catch (e) { /* no console */ }
}

// ---------------------------------------------------------------------------------------
// Errors: every failure inside a verb carries a machine-readable code.

class QuorError extends Error {
  /** @param {string} code @param {string} message */
  constructor(code, message) {
    super(message);
    this.name = "QuorError";
    this.code = code;
  }
}

/** @param {string} code @param {string} message @returns {QuorError} */
function fail(code, message) {
  return new QuorError(code, message);
}

/** The Premiere version the plug-in runs in, as the UXP host reports it ("?" if unknown). */
function hostVersion() {
  try {
    const v = uxp.host.version;
    return v ? String(v) : "?";
  } catch (e) {
    return "?";
  }
}

/**
 * The error for a call that needs a Premiere newer than the running one. Members newer than
 * the manifest's minVersion (25.6) are feature-tested before use and end here when missing,
 * instead of failing with "… is not a function" inside a transaction.
 * @param {string} what what the caller asked for @param {string} member the API member
 * @param {string} since the first Premiere version that offers it
 */
function tooOld(what, member, since) {
  return fail("premiere_too_old", what + " needs Premiere Pro " + since + " or newer (" + member + "); this Premiere is " + hostVersion() + ".");
}

/** @param {unknown} value a reference as the caller sent it, for messages */
function refText(value) {
  if (typeof value === "string") return value;
  try { return JSON.stringify(value); } catch (e) { return String(value); }
}

// ---------------------------------------------------------------------------------------
// JSON safety

/** Absent for an argument or reference: undefined or null. @param {any} v @returns {v is null | undefined} */
function isMissing(v) {
  return v === undefined || v === null;
}

/** @param {number} x */
function round3(x) {
  return Math.round(x * 1000) / 1000;
}

/**
 * JSON.stringify replacer for everything sent to the bridge: time-like objects (a string
 * `ticks`, a numeric `seconds`, no `timecode`) shrink to those two members — a TickTime
 * carries more — and big integers become decimal text.
 * @param {string} _key @param {any} value
 */
function replacer(_key, value) {
  if (typeof value === "bigint") return value.toString();
  if (value !== null && typeof value === "object" && !Array.isArray(value) &&
      typeof value.ticks === "string" && typeof value.seconds === "number" && !("timecode" in value)) {
    return { seconds: value.seconds, ticks: value.ticks };
  }
  return value;
}

/**
 * Makes any value JSON-safe (event data, `eval` results).
 * @param {any} value @param {number} [depth]
 * @returns {any}
 */
function toJsonSafe(value, depth = 0) {
  if (value === undefined) return null;
  if (value === null) return null;
  if (depth > 6) return "[…]";
  if (typeof value === "function") return "[function]";
  if (typeof value !== "object") return value;
  if (typeof value.ticks === "string" && typeof value.seconds === "number") {
    return { seconds: value.seconds, ticks: value.ticks };
  }
  if (Array.isArray(value)) return value.map((v) => toJsonSafe(v, depth + 1));
  /** @type {Record<string, any>} */
  const out = {};
  for (const key of Object.keys(value)) {
    try {
      out[key] = toJsonSafe(value[key], depth + 1);
    } catch (e) {
      // a getter that throws: leave the key out
    }
  }
  if (Object.keys(out).length === 0 && typeof value.toString === "function") {
    // An object with its own text conversion (a Guid, say) is sent as that text.
    try {
      const text = String(value.toString());
      if (!/^\[object [^\]]*\]$/.test(text)) return text;
    } catch (e) {
      // keep the empty object
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Time

/**
 * A frame rate; `drop` says whether timecodes at it are drop-frame (when unknown, the
 * 29.97 and 59.94 rates are).
 * @typedef {{ value: number, ticksPerFrame: number, drop?: boolean }} Rate
 */

/** @param {number} fps @returns {Rate} */
function rateFromValue(fps) {
  return { value: fps, ticksPerFrame: TICKS_PER_SECOND / fps };
}

/**
 * The frame rate behind a sequence context, a Rate, or a bare frames-per-second number.
 * @param {any} x @returns {Rate | null}
 */
function rateOf(x) {
  if (isMissing(x)) return null;
  if (typeof x === "number") return x > 0 && isFinite(x) ? rateFromValue(x) : null;
  if (typeof x !== "object") return null;
  if ("rate" in x) return rateOf(x.rate);
  if (typeof x.value === "number" && x.value > 0) {
    const tpf = typeof x.ticksPerFrame === "number" && x.ticksPerFrame > 0
      ? x.ticksPerFrame : TICKS_PER_SECOND / x.value;
    /** @type {Rate} */
    const rate = { value: x.value, ticksPerFrame: tpf };
    if (typeof x.drop === "boolean") rate.drop = x.drop;
    return rate;
  }
  return null;
}

/** @param {number} fps */
function isDropFrame(fps) {
  return Math.abs(fps - 29.97) <= 0.01 || Math.abs(fps - 59.94) <= 0.01;
}

/** @param {number} n */
function pad2(n) {
  const s = String(Math.abs(n));
  return (n < 0 ? "-" : "") + (s.length < 2 ? "0" + s : s);
}

/**
 * Seconds to a timecode text at `fps` ("HH:MM:SS:FF", or with ";" before the frames when
 * drop-frame). Drop-frame applies only to the rates 29.97 and 59.94, and there only when
 * `drop` is not false (a sequence displaying non-drop timecode passes false). Hours are
 * not wrapped at 24.
 * @param {number} seconds @param {number} fps @param {boolean} [drop]
 */
function secondsToTimecode(seconds, fps, drop) {
  const nominal = Math.round(fps);
  let frames = Math.round(seconds * fps);
  drop = isDropFrame(fps) && drop !== false;
  if (drop) {
    const d = nominal === 60 ? 4 : 2;
    const perMinute = nominal * 60 - d;
    const perTenMinutes = perMinute * 10 + d;
    const tens = Math.trunc(frames / perTenMinutes);
    const rem = frames % perTenMinutes;
    frames += d * 9 * tens;
    if (rem > d) frames += d * Math.trunc((rem - d) / perMinute);
  }
  const ff = frames % nominal;
  const total = Math.trunc(frames / nominal);
  const hh = Math.trunc(total / 3600);
  const mm = Math.trunc(total / 60) % 60;
  const ss = total % 60;
  return pad2(hh) + ":" + pad2(mm) + ":" + pad2(ss) + (drop ? ";" : ":") + pad2(ff);
}

/**
 * Frame count of a timecode text at `fps`; the drop-frame correction applies only to a
 * drop-frame rate written with ";".
 * @param {string} text @param {number} fps
 */
function timecodeToFrames(text, fps) {
  const parts = text.split(/[:;]/).map((p) => parseInt(p, 10));
  const [hh, mm, ss, ff] = parts;
  const nominal = Math.round(fps);
  let frames = ((hh * 60 + mm) * 60 + ss) * nominal + ff;
  if (isDropFrame(fps) && text.indexOf(";") >= 0) {
    const d = nominal === 60 ? 4 : 2;
    const totalMinutes = hh * 60 + mm;
    frames -= d * (totalMinutes - Math.trunc(totalMinutes / 10));
  }
  return frames;
}

/** @param {string} text @param {number} fps */
function timecodeToSeconds(text, fps) {
  return timecodeToFrames(text, fps) / fps;
}

// Premiere keeps times in signed 64-bit ticks; anything beyond is not a time it can hold.
const MAX_TICKS = 2n ** 63n - 1n;

/**
 * A tick count as decimal text, or null when the number is not finite or does not fit in
 * Premiere's 64-bit ticks (1e308 seconds, say): callers answer "bad_time" for that.
 * @param {number} ticks @returns {string | null}
 */
function ticksText(ticks) {
  if (!isFinite(ticks)) return null;
  const b = BigInt(Math.round(ticks));
  return b > MAX_TICKS || b < -MAX_TICKS ? null : b.toString();
}

/** @param {number} seconds @returns {string | null} */
function secondsToTicks(seconds) {
  return ticksText(seconds * TICKS_PER_SECOND);
}

/** @param {number} frames @param {Rate} rate @returns {string | null} */
function framesToTicks(frames, rate) {
  if (Number.isSafeInteger(frames) && Number.isInteger(rate.ticksPerFrame)) {
    const b = BigInt(frames) * BigInt(rate.ticksPerFrame);
    return b > MAX_TICKS || b < -MAX_TICKS ? null : b.toString();
  }
  return ticksText(frames * rate.ticksPerFrame);
}

/** @param {unknown} value @returns {QuorError} */
function badTime(value) {
  return fail("bad_time", "Can't parse time '" + refText(value) + "'. Use seconds (12.5), a timecode (\"00:00:12:15\"), \"300f\", or {ticks}.");
}

/** @param {unknown} value @param {any} sequence @returns {Rate} */
function needRate(value, sequence) {
  const rate = rateOf(sequence);
  if (!rate) throw badTime(value);
  return rate;
}

/**
 * Parses a time value into Premiere ticks (decimal text), or null when no time is given.
 * Forms: {ticks}, {seconds}, {frames}, a number of seconds, "12.5", "12.5s", "-3", "300f",
 * "00:00:12:15" / "00;00;12;15". Frame and timecode forms need the sequence's frame rate.
 * @param {any} value
 * @param {any} [sequence] a sequence context ({rate}), a Rate, or frames per second
 * @returns {string | null}
 */
function toTick(value, sequence) {
  if (isMissing(value)) return null;
  const ticks = parseTicks(value, sequence);
  if (ticks === null) throw badTime(value);
  return ticks;
}

/**
 * The parsing behind toTick; null for a form that parses but overflows Premiere's ticks.
 * @param {any} value @param {any} sequence @returns {string | null}
 */
function parseTicks(value, sequence) {
  if (typeof value === "object" && !Array.isArray(value)) {
    if ("ticks" in value) {
      const t = typeof value.ticks === "number" && Number.isInteger(value.ticks)
        ? BigInt(value.ticks).toString() : String(value.ticks).trim();
      if (!/^-?\d+$/.test(t)) throw badTime(value);
      const b = BigInt(t);
      return b > MAX_TICKS || b < -MAX_TICKS ? null : b.toString();
    }
    if ("seconds" in value) {
      const s = Number(value.seconds);
      if (value.seconds === null || value.seconds === "" || !isFinite(s)) throw badTime(value);
      return secondsToTicks(s);
    }
    if ("frames" in value) {
      const f = Number(value.frames);
      if (value.frames === null || value.frames === "" || !isFinite(f)) throw badTime(value);
      return framesToTicks(f, needRate(value, sequence));
    }
    throw badTime(value);
  }
  if (typeof value === "number") {
    if (!isFinite(value)) throw badTime(value);
    return secondsToTicks(value);
  }
  if (typeof value === "string") {
    const text = value.trim();
    if (/^-?\d+(\.\d+)?s?$/.test(text)) return secondsToTicks(parseFloat(text));
    if (/^\d+f$/.test(text)) return framesToTicks(parseInt(text, 10), needRate(value, sequence));
    if (/^\d+[:;]\d+[:;]\d+[:;]\d+$/.test(text)) {
      const rate = needRate(value, sequence);
      return framesToTicks(timecodeToFrames(text, rate.value), rate);
    }
  }
  throw badTime(value);
}

/** @param {string} ticks decimal text, as createWithTicks is declared @returns {TickTime} */
function tickTime(ticks) {
  return ppro.TickTime.createWithTicks(ticks);
}

/**
 * A time as sent back: seconds (three decimals) and ticks, plus timecode and frame index
 * when a sequence context is given.
 * @param {any} time a TickTime, a tick text or null
 * @param {any} [sequence]
 */
function timeOut(time, sequence) {
  if (isMissing(time)) return null;
  const ticks = typeof time === "object" ? String(time.ticks) : String(time);
  const seconds = Number(ticks) / TICKS_PER_SECOND;
  /** @type {{seconds: number, ticks: string, timecode?: string, frame?: number}} */
  const out = { seconds: round3(seconds), ticks };
  const rate = rateOf(sequence);
  if (rate) {
    try {
      out.timecode = secondsToTimecode(seconds, rate.value, rate.drop);
      out.frame = Math.round(Number(ticks) / rate.ticksPerFrame);
    } catch (e) {
      // leave them out
    }
  }
  return out;
}

/** Seconds of a TickTime, rounded; null when missing. @param {any} t */
function secondsOf(t) {
  if (isMissing(t)) return null;
  return round3(Number(t.ticks) / TICKS_PER_SECOND);
}

// ---------------------------------------------------------------------------------------
// Transactions

/**
 * Runs one undoable edit: inside the project's lockedAccess, an executeTransaction labelled
 * `label` whose callback calls `build()` synchronously and adds each action it returns.
 * @param {Project} project
 * @param {string | undefined | null} label
 * @param {() => any} build returns an Action, a list of them (nested lists allowed) or nothing;
 *   false, null and undefined entries are skipped
 */
function tx(project, label, build) {
  const undo = label || "Quor Bridge";
  let ok = /** @type {boolean} */ (true);
  /** @type {unknown} */
  let error = null;
  let threw = /** @type {boolean} */ (false);
  project.lockedAccess(() => {
    try {
      ok = project.executeTransaction((compound) => {
        const made = build();
        const list = Array.isArray(made) ? made.flat(Infinity) : [made];
        for (const action of list) {
          if (action === false || action === null || action === undefined) continue;
          compound.addAction(/** @type {Action} */ (action));
        }
      }, undo);
    } catch (e) {
      threw = true;
      error = e;
    }
  });
  if (threw) throw error;
  if (ok === false) {
    throw fail("transaction_failed", "Premiere rejected the edit '" + undo + "'. Check the clip/time arguments (e.g. a trim past the media's length).");
  }
  return ok;
}

// ---------------------------------------------------------------------------------------
// Project and sequence lookup

/** @returns {Promise<Project>} */
async function project() {
  const p = await ppro.Project.getActiveProject();
  if (!p) throw fail("no_project", "No project is open in Premiere. Use premiere_open_project or premiere_new_project.");
  return p;
}

/** @param {Project} proj @param {any} ref @returns {Promise<Sequence>} */
async function findSequence(proj, ref) {
  if (isMissing(ref) || ref === "") {
    const active = await proj.getActiveSequence();
    if (!active) throw fail("no_sequence", "No active sequence. Use premiere_create_sequence or premiere_set_active_sequence.");
    return active;
  }
  const key = String(ref);
  const all = await proj.getSequences();
  for (const s of all) {
    let guid = "";
    try { guid = s.guid.toString(); } catch (e) { guid = ""; }
    if (guid === key || s.name === key) return s;
  }
  throw fail("sequence_not_found", "No sequence matching '" + key + "'. Sequences: " + all.map((s) => s.name).join(", "));
}

// Time display formats that show drop-frame timecode, as Premiere numbers them
// (ExtendScript's TIMEDISPLAY_2997DropTimecode and TIMEDISPLAY_5994DropTimecode; UXP names
// only the first, SequenceSettings.VIDEO_DISPLAY_FORMAT_2997, and publishes no numbers).
const DROP_DISPLAY_FORMATS = [102, 106];

/**
 * Whether the sequence displays drop-frame timecode: true or false from its video display
 * format, null when that cannot be read.
 * @param {import("@adobe/premierepro").SequenceSettings} settings @returns {Promise<boolean | null>}
 */
async function dropFrameDisplay(settings) {
  try {
    const format = await settings.getVideoDisplayFormat();
    const type = format ? format.type : undefined;
    if (typeof type !== "number") return null;
    const drop2997 = ppro.SequenceSettings.VIDEO_DISPLAY_FORMAT_2997;
    return (typeof drop2997 === "number" && type === drop2997) || DROP_DISPLAY_FORMATS.indexOf(type) >= 0;
  } catch (e) {
    return null;
  }
}

/** @param {Sequence} seq @returns {Promise<Rate | null>} */
async function sequenceRate(seq) {
  /** @type {Rate | null} */
  let rate = null;
  /** @type {boolean | null} */
  let drop = null;
  try {
    const settings = await seq.getSettings();
    drop = await dropFrameDisplay(settings);
    // getVideoFrameRate arrived in 26.2; older versions give the timebase only.
    if (typeof settings.getVideoFrameRate === "function") {
      const fr = settings.getVideoFrameRate();
      if (fr && typeof fr.value === "number" && fr.value > 0) {
        const tpf = typeof fr.ticksPerFrame === "number" && fr.ticksPerFrame > 0
          ? fr.ticksPerFrame : TICKS_PER_SECOND / fr.value;
        rate = { value: fr.value, ticksPerFrame: tpf };
      }
    }
  } catch (e) {
    // fall back to the timebase below
  }
  if (!rate) {
    try {
      const tpf = Number(await seq.getTimebase());
      if (tpf > 0) rate = { value: TICKS_PER_SECOND / tpf, ticksPerFrame: tpf };
    } catch (e) {
      // no rate known
    }
  }
  if (rate && drop !== null) rate.drop = drop && isDropFrame(rate.value);
  return rate;
}

/** @typedef {{ project: Project, sequence: Sequence, rate: Rate | null }} SeqContext */

/** The active project plus the sequence named by `args.sequence`. @param {any} args @returns {Promise<SeqContext>} */
async function sequenceContext(args) {
  const proj = await project();
  const seq = await findSequence(proj, args ? args.sequence : undefined);
  return { project: proj, sequence: seq, rate: await sequenceRate(seq) };
}

// ---------------------------------------------------------------------------------------
// Project items

/** @typedef {{ item: ProjectItem, name: string, type: string, bin: string, id: string | null }} ItemRecord */

/** @param {number} type */
function typeName(type) {
  const P = ppro.ProjectItem;
  if (type === P.TYPE_BIN) return "bin";
  if (type === P.TYPE_CLIP) return "clip";
  if (type === P.TYPE_FILE) return "file";
  if (type === P.TYPE_ROOT) return "root";
  if (typeof P.TYPE_COMPOUND === "number" && type === P.TYPE_COMPOUND) return "compound";
  if (typeof P.TYPE_STYLE === "number" && type === P.TYPE_STYLE) return "style";
  return String(type);
}

/** @param {ItemRecord} rec */
function qualifiedName(rec) {
  return rec.bin ? rec.bin + "/" + rec.name : rec.name;
}

/**
 * Every item of the project, pre-order from the root, bins descended to depth 32.
 * @param {Project} proj @returns {Promise<ItemRecord[]>}
 */
async function allItems(proj) {
  /** @type {ItemRecord[]} */
  const out = [];
  const root = await proj.getRootItem();
  /** @param {FolderItem} folder @param {string} binPath @param {number} depth */
  async function walk(folder, binPath, depth) {
    const children = await folder.getItems();
    for (const item of children) {
      /** @type {string | null} */
      let id = null;
      try { id = item.getId(); } catch (e) { id = null; }
      const rec = { item, name: item.name, type: typeName(item.type), bin: binPath, id };
      out.push(rec);
      if (rec.type === "bin" && depth < 32) {
        const sub = ppro.FolderItem.cast(item);
        if (sub) await walk(sub, binPath ? binPath + "/" + item.name : item.name, depth + 1);
      }
    }
  }
  await walk(root, "", 0);
  return out;
}

/** @param {string} p */
function normPath(p) {
  return String(p).replace(/\\/g, "/").toLowerCase();
}

/** @param {ProjectItem} item @returns {Promise<string | null>} */
async function mediaPathOf(item) {
  try {
    const clip = ppro.ClipProjectItem.cast(item);
    if (!clip) return null;
    return await clip.getMediaFilePath();
  } catch (e) {
    return null;
  }
}

/**
 * Finds a project item by id, name, bin-qualified name ("Bin/name"), or media path.
 * @param {Project} proj @param {any} ref @param {ItemRecord[]} [records]
 * @returns {Promise<ItemRecord>}
 */
async function findItem(proj, ref, records) {
  if (isMissing(ref)) {
    throw fail("bad_args", "item is required (project item id, name, 'Bin/name', or {mediaPath})");
  }
  const recs = records || await allItems(proj);
  const isObject = typeof ref === "object";
  const key = isObject ? null : String(ref);
  if (key !== null) {
    for (const rec of recs) {
      if (rec.id === key || rec.name === key || qualifiedName(rec) === key) return rec;
    }
  }
  /** @type {any} */
  let path = null;
  if (isObject) path = !isMissing(ref.mediaPath) ? ref.mediaPath : ref.path;
  else if (key !== null && (key.indexOf("/") >= 0 || key.indexOf("\\") >= 0)) path = key;
  if (typeof path === "string" && path !== "") {
    const want = normPath(path);
    for (const rec of recs) {
      if (rec.type !== "clip" && rec.type !== "file") continue;
      const mp = await mediaPathOf(rec.item);
      if (mp && normPath(mp) === want) return rec;
    }
  }
  throw fail("item_not_found", "No project item matching " + JSON.stringify(ref) + ". Call premiere_list_project_items to see ids and names.");
}

/** The bin named by `ref`; the root for none or "/". @param {Project} proj @param {any} ref @returns {Promise<FolderItem>} */
async function binFor(proj, ref) {
  if (isMissing(ref) || ref === "/") return await proj.getRootItem();
  const rec = await findItem(proj, ref);
  const folder = rec.type === "bin" || rec.type === "root" ? ppro.FolderItem.cast(rec.item) : null;
  if (!folder) throw fail("not_a_bin", "'" + refText(ref) + "' is not a bin");
  return folder;
}

/** @param {ProjectItem} item @returns {ClipProjectItem} */
function clipOf(item) {
  const clip = ppro.ClipProjectItem.cast(item);
  if (!clip) throw fail("not_a_clip", "item is not a clip");
  return clip;
}

/**
 * A media's duration. Premiere 25.6 to 26.3 hand out `Media.duration` as a Promise (Adobe's
 * reference; the 26.3 declarations say TickTime); 26.5 adds getDuration() and deprecates
 * the property. The value is awaited either way, so a build that answers plainly works too.
 * @param {import("@adobe/premierepro").Media} declared @returns {Promise<TickTime>}
 */
async function mediaDuration(declared) {
  const media = /** @type {ReferenceMedia} */ (/** @type {unknown} */ (declared));
  if (typeof media.getDuration === "function") {
    const value = media.getDuration();
    return await value;
  }
  return await media.duration;
}

/** @param {ItemRecord} rec @param {boolean} withMedia */
async function describeItem(rec, withMedia) {
  /** @type {Record<string, any>} */
  const out = { id: rec.id, name: rec.name, type: rec.type, bin: rec.bin || "/" };
  if (withMedia && (rec.type === "clip" || rec.type === "file")) {
    /** @type {ClipProjectItem | null} */
    let clip = null;
    try { clip = ppro.ClipProjectItem.cast(rec.item) || null; } catch (e) { clip = null; }
    out.mediaPath = null;
    out.isSequence = false;
    out.offline = false;
    if (clip) {
      try { out.mediaPath = (await clip.getMediaFilePath()) || null; } catch (e) { out.mediaPath = null; }
      try { out.isSequence = !!(await clip.isSequence()); } catch (e) { out.isSequence = false; }
      try { out.offline = !!(await clip.isOffline()); } catch (e) { out.offline = false; }
      try {
        const media = await clip.getMedia();
        const d = media ? secondsOf(await mediaDuration(media)) : null;
        if (d !== null && isFinite(d)) out.duration = d;
      } catch (e) {
        // duration left out
      }
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Tracks and clips

/** @typedef {{ kind: "video" | "audio", index: number }} TrackRef */
/** @typedef {VideoClipTrackItem | AudioClipTrackItem} TrackItem */
/** @typedef {{ clip: TrackItem, start: TickTime, end: TickTime }} TimedClip */
/** @typedef {{ clip: TrackItem, kind: "video" | "audio", track: number, index: number, ref: string, start: TickTime, end: TickTime }} ResolvedClip */

/** @param {TrackRef} t */
function trackLabel(t) {
  return (t.kind === "audio" ? "A" : "V") + (t.index + 1);
}

/** @param {unknown} ref @returns {QuorError} */
function badTrack(ref) {
  return fail("bad_track", "Bad track '" + refText(ref) + "'. Use \"V1\", \"V2\", \"A1\"…");
}

/**
 * "V1", "a2" … or {type|kind, index (0-based)}; missing means V1.
 * @param {any} ref @returns {TrackRef}
 */
function parseTrack(ref) {
  if (isMissing(ref)) return { kind: "video", index: 0 };
  if (typeof ref === "string") {
    const m = /^([vVaA])(\d+)$/.exec(ref.trim());
    if (!m || parseInt(m[2], 10) < 1) throw badTrack(ref);
    return { kind: m[1].toLowerCase() === "a" ? "audio" : "video", index: parseInt(m[2], 10) - 1 };
  }
  if (typeof ref === "object" && !Array.isArray(ref) && (ref.type !== undefined || ref.kind !== undefined)) {
    const kindText = String(ref.type !== undefined ? ref.type : ref.kind).toLowerCase();
    const index = isMissing(ref.index) ? 0 : ref.index;
    if (typeof index !== "number" || !Number.isInteger(index) || index < 0) throw badTrack(ref);
    return { kind: kindText.charAt(0) === "a" ? "audio" : "video", index };
  }
  throw badTrack(ref);
}

/** @param {SeqContext} sc @param {TrackRef} t @returns {Promise<VideoTrack | AudioTrack>} */
async function getTrack(sc, t) {
  const seq = sc.sequence;
  const count = t.kind === "audio" ? await seq.getAudioTrackCount() : await seq.getVideoTrackCount();
  if (t.index >= count) {
    throw fail("track_not_found", trackLabel(t) + " doesn't exist (sequence has " + count + " " + t.kind + " tracks). premiere_add_tracks can add more.");
  }
  return t.kind === "audio" ? await seq.getAudioTrack(t.index) : await seq.getVideoTrack(t.index);
}

/**
 * The clip items of a track (gaps excluded), in time order.
 * @param {VideoTrack | AudioTrack} track @returns {Promise<TimedClip[]>}
 */
async function trackClips(track) {
  /** @type {TrackItem[]} */
  const items = track.getTrackItems(ppro.Constants.TrackItemType.CLIP, false);
  /** @type {TimedClip[]} */
  const out = [];
  for (const clip of items || []) {
    out.push({ clip, start: await clip.getStartTime(), end: await clip.getEndTime() });
  }
  const keyed = out.map((c, i) => ({ c, i, t: BigInt(c.start.ticks) }));
  keyed.sort((a, b) => (a.t < b.t ? -1 : a.t > b.t ? 1 : a.i - b.i));
  return keyed.map((k) => k.c);
}

/** @param {unknown} ref @returns {QuorError} */
function badClip(ref) {
  return fail("bad_clip", "Bad clip ref '" + refText(ref) + "'. Use \"V1:0\" (track:index) — premiere_get_sequence lists them.");
}

/**
 * "V1:0" (track label, colon, 0-based position in time order), {track, index} or {track, at}.
 * @param {any} ref @returns {{ track: TrackRef, index?: number, at?: any }}
 */
function parseClipRef(ref) {
  if (isMissing(ref)) throw fail("bad_clip", "clip is required, e.g. \"V1:0\"");
  if (typeof ref === "string") {
    const m = /^([vVaA]\d+):(\d+)$/.exec(ref.trim());
    if (!m) throw badClip(ref);
    let track;
    try { track = parseTrack(m[1]); } catch (e) { throw badClip(ref); }
    return { track, index: parseInt(m[2], 10) };
  }
  if (typeof ref === "object" && !Array.isArray(ref) && !isMissing(ref.track)) {
    const track = parseTrack(ref.track);
    if (!isMissing(ref.at)) return { track, at: ref.at };
    const index = isMissing(ref.index) ? 0 : ref.index;
    if (typeof index !== "number" || !Number.isInteger(index) || index < 0) throw badClip(ref);
    return { track, index };
  }
  throw badClip(ref);
}

/** @param {SeqContext} sc @param {any} ref @returns {Promise<ResolvedClip>} */
async function findClip(sc, ref) {
  const parsed = parseClipRef(ref);
  const label = trackLabel(parsed.track);
  const clips = await trackClips(await getTrack(sc, parsed.track));
  let index = parsed.index === undefined ? -1 : parsed.index;
  if (parsed.at !== undefined) {
    const t = BigInt(/** @type {string} */ (toTick(parsed.at, sc)));
    index = clips.findIndex((c) => BigInt(c.start.ticks) <= t && t < BigInt(c.end.ticks));
    if (index < 0) throw fail("clip_not_found", "No clip on " + label + " at " + refText(parsed.at));
  } else if (index >= clips.length) {
    throw fail("clip_not_found", label + " has " + clips.length + " clips; index " + index + " is out of range. premiere_get_sequence lists them.");
  }
  const c = clips[index];
  return { clip: c.clip, kind: parsed.track.kind, track: parsed.track.index, index, ref: label + ":" + index, start: c.start, end: c.end };
}

/**
 * @param {{ clip: TrackItem, ref: string, start?: TickTime, end?: TickTime }} rc
 * @param {SeqContext} sc @param {boolean} detail
 */
async function describeClip(rc, sc, detail) {
  const clip = rc.clip;
  /** @template T @param {() => Promise<T>} read @param {T | null} dflt */
  const read = async (read, dflt) => { try { return await read(); } catch (e) { return dflt; } };
  const start = rc.start || await read(async () => await clip.getStartTime(), null);
  const end = rc.end || await read(async () => await clip.getEndTime(), null);
  /** @type {Record<string, any>} */
  const out = {
    ref: rc.ref,
    name: await read(async () => await clip.getName(), null),
    start: timeOut(start, sc),
    end: timeOut(end, sc),
    duration: secondsOf(await read(async () => await clip.getDuration(), null)),
    inPoint: secondsOf(await read(async () => await clip.getInPoint(), null)),
    outPoint: secondsOf(await read(async () => await clip.getOutPoint(), null)),
    disabled: !!(await read(async () => await clip.isDisabled(), false)),
    selected: !!(await read(async () => await clip.getIsSelected(), false)),
  };
  if (detail) {
    out.speed = await read(async () => await clip.getSpeed(), null);
    out.isAdjustmentLayer = !!(await read(async () => await clip.isAdjustmentLayer(), false));
    try {
      const pi = await clip.getProjectItem();
      if (pi) {
        /** @type {string | null} */
        let id = null;
        try { id = pi.getId(); } catch (e) { id = null; }
        out.projectItem = { id, name: pi.name, mediaPath: await mediaPathOf(pi) };
      }
    } catch (e) {
      // project item left out
    }
    try {
      const chain = await clip.getComponentChain();
      const names = [];
      const n = chain.getComponentCount();
      for (let i = 0; i < n; i++) names.push(await chain.getComponentAtIndex(i).getDisplayName());
      out.effects = names;
    } catch (e) {
      // component chain left out
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// Hello

async function helloFields() {
  /** @type {Record<string, any>} */
  const hello = {
    type: "hello", runtime: "uxp", pluginVersion: PLUGIN_VERSION, protocol: PROTOCOL,
    premiereVersion: "?", project: null, sequence: null, os: "?",
  };
  try {
    const v = uxp.host.version;
    if (v) hello.premiereVersion = String(v);
  } catch (e) { /* default */ }
  try {
    const p = await ppro.Project.getActiveProject();
    if (p) {
      hello.project = p.name;
      try {
        const s = await p.getActiveSequence();
        if (s) hello.sequence = s.name;
      } catch (e) { /* default */ }
    }
  } catch (e) { /* default */ }
  try { hello.os = os.platform(); } catch (e) { /* default */ }
  return hello;
}

// ---------------------------------------------------------------------------------------
// Argument helpers

/** @param {any} v @returns {v is string} */
function isText(v) {
  return typeof v === "string" && v !== "";
}

/** @param {any} args */
function argsOf(args) {
  return args !== null && typeof args === "object" && !Array.isArray(args) ? args : {};
}

// ---------------------------------------------------------------------------------------
// Verbs: project, items, sequences

/** @typedef {{ warn: (text: string) => void }} CallContext */
/** @typedef {(args: any, ctx: CallContext) => Promise<any>} Handler */

/** @type {Record<string, Handler>} */
const handlers = {};

handlers.ping = async () => Object.assign({ pong: true }, await helloFields());

handlers.get_project = async () => {
  const proj = await project();
  const records = await allItems(proj);
  const sequences = await proj.getSequences();
  /** @type {Sequence | null} */
  let active = null;
  try { active = (await proj.getActiveSequence()) || null; } catch (e) { active = null; }
  return {
    name: proj.name,
    path: proj.path,
    guid: proj.guid.toString(),
    activeSequence: active ? active.name : null,
    sequences: sequences.map((s) => ({ name: s.name, guid: s.guid.toString() })),
    itemCount: records.length,
    bins: records.filter((r) => r.type === "bin").map(qualifiedName),
  };
};

handlers.open_project = async (args) => {
  const a = argsOf(args);
  if (!isText(a.path)) throw fail("bad_args", "path is required");
  const options = new ppro.OpenProjectOptions();
  if (typeof options.setShowConvertProjectDialog === "function") options.setShowConvertProjectDialog(false);
  if (typeof options.setShowLocateFileDialog === "function") options.setShowLocateFileDialog(false);
  if (typeof options.setShowWarningDialog === "function") options.setShowWarningDialog(false);
  if (typeof options.setAddToMRUList === "function") options.setAddToMRUList(true);
  const proj = await ppro.Project.open(a.path, options);
  if (!proj) throw fail("open_failed", "Premiere couldn't open " + a.path);
  return { name: proj.name, path: proj.path };
};

handlers.new_project = async (args) => {
  const a = argsOf(args);
  if (!isText(a.path)) throw fail("bad_args", "path is required (…/MyProject.prproj)");
  const path = /\.prproj$/i.test(a.path) ? a.path : a.path + ".prproj";
  const proj = await ppro.Project.createProject(path);
  if (!proj) throw fail("create_failed", "Couldn't create " + path + " — does the folder exist?");
  return { name: proj.name, path: proj.path };
};

handlers.save_project = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  if (isText(a.path)) {
    const saved = await proj.saveAs(a.path);
    return { saved, path: a.path };
  }
  const saved = await proj.save();
  return { saved, path: proj.path };
};

handlers.close_project = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  if (a.save === true) await proj.save();
  const options = new ppro.CloseProjectOptions();
  if (typeof options.setPromptIfDirty === "function") options.setPromptIfDirty(false);
  if (typeof options.setShowCancelButton === "function") options.setShowCancelButton(false);
  const closed = await proj.close(options);
  return { closed };
};

handlers.list_project_items = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  let records = await allItems(proj);
  if (typeof a.bin === "string" && a.bin !== "" && a.bin !== "/") {
    const bin = a.bin.replace(/^\/+/, "").replace(/\/+$/, "");
    records = records.filter((r) => r.bin === bin || r.bin.indexOf(bin + "/") === 0);
  }
  if (isText(a.type)) records = records.filter((r) => r.type === a.type);
  if (isText(a.search)) {
    const needle = a.search.toLowerCase();
    records = records.filter((r) => String(r.name).toLowerCase().indexOf(needle) >= 0);
  }
  const limit = typeof a.limit === "number" && Number.isInteger(a.limit) && a.limit > 0 ? a.limit : 500;
  const items = [];
  for (const rec of records.slice(0, limit)) items.push(await describeItem(rec, a.details !== false));
  return { count: records.length, items, truncated: records.length > limit };
};

handlers.import_media = async (args, ctx) => {
  const a = argsOf(args);
  /** @type {string[]} */
  let paths = [];
  if (Array.isArray(a.paths)) paths = a.paths.filter(isText);
  else if (isText(a.paths)) paths = [a.paths];
  else if (isText(a.path)) paths = [a.path];
  if (paths.length === 0) throw fail("bad_args", "paths (array of absolute desktop file paths) is required");
  const proj = await project();
  const before = new Set((await allItems(proj)).map((r) => r.id));
  const bin = await binFor(proj, a.bin);
  const ok = await proj.importFiles(paths, true, ppro.ProjectItem.cast(bin), a.asNumberedStills === true);
  const fresh = (await allItems(proj)).filter((r) => r.id === null || !before.has(r.id));
  if (!ok && fresh.length === 0) {
    throw fail("import_failed", "Premiere refused the import. Check the paths exist on THIS machine: " + paths.join(", "));
  }
  const items = [];
  for (const rec of fresh) items.push(await describeItem(rec, true));
  // importFiles answers one boolean for the lot; name each file that gave no new item so a
  // partial import is not silent.
  const got = new Set(items.map((it) => (typeof it.mediaPath === "string" ? normPath(it.mediaPath) : "")));
  for (const p of paths) {
    if (!got.has(normPath(p))) ctx.warn("No new project item from " + p + " (Premiere refused or skipped the file; check that it exists on this machine and is media).");
  }
  return { imported: items.length, items };
};

/** Ids of a bin's direct children. @param {FolderItem} bin @returns {Promise<Set<string>>} */
async function childIds(bin) {
  const ids = new Set();
  for (const item of await bin.getItems()) {
    try { ids.add(item.getId()); } catch (e) { /* an item without an id cannot be told apart */ }
  }
  return ids;
}

/**
 * A bin's direct children whose ids are not in `before`, in Premiere's order.
 * @param {FolderItem} bin @param {Set<string>} before @returns {Promise<ProjectItem[]>}
 */
async function newChildren(bin, before) {
  const out = [];
  for (const item of await bin.getItems()) {
    /** @type {string | null} */
    let id = null;
    try { id = item.getId(); } catch (e) { id = null; }
    if (id !== null && !before.has(id)) out.push(item);
  }
  return out;
}

handlers.create_bin = async (args) => {
  const a = argsOf(args);
  if (!isText(a.name)) throw fail("bad_args", "name is required");
  const proj = await project();
  const parent = await binFor(proj, a.parent);
  const before = await childIds(parent);
  tx(proj, "Create Bin", () => parent.createBinAction(a.name, a.makeUnique !== false));
  // With makeUnique Premiere may add a number to the name: answer the name the bin got.
  const made = (await newChildren(parent, before)).find((it) => typeName(it.type) === "bin");
  return { created: made ? made.name : a.name, parent: isMissing(a.parent) ? "/" : a.parent };
};

handlers.move_item = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  const target = await binFor(proj, a.bin);
  const parent = rec.item.getParentBin();
  tx(proj, "Move Item", () => parent.createMoveItemAction(rec.item, target));
  return { moved: rec.name, to: isMissing(a.bin) ? "/" : a.bin };
};

handlers.rename_item = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  if (!isText(a.name)) throw fail("bad_args", "name is required");
  tx(proj, "Rename Item", () => rec.item.createSetNameAction(a.name));
  return { renamed: a.name };
};

handlers.delete_item = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  const parent = rec.item.getParentBin();
  tx(proj, "Delete Item", () => parent.createRemoveItemAction(rec.item));
  return { deleted: rec.name };
};

handlers.set_item_color = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  if (typeof a.colorIndex !== "number" || !Number.isInteger(a.colorIndex) || a.colorIndex < 0) {
    throw fail("bad_args", "colorIndex is required (0-15)");
  }
  tx(proj, "Label Color", () => rec.item.createSetColorLabelAction(a.colorIndex));
  return { item: rec.name, colorIndex: a.colorIndex };
};

handlers.set_source_in_out = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  const clip = clipOf(rec.item);
  if (a.clear === true) {
    tx(proj, "Clear In/Out", () => clip.createClearInOutPointsAction());
    return { cleared: true };
  }
  const inTicks = toTick(a.in, null);
  const outTicks = toTick(a.out, null);
  if (inTicks !== null && outTicks !== null) {
    tx(proj, "Source In/Out", () => clip.createSetInOutPointsAction(tickTime(inTicks), tickTime(outTicks)));
  } else if (inTicks !== null) {
    tx(proj, "Source In/Out", () => clip.createSetInPointAction(tickTime(inTicks)));
  } else if (outTicks !== null) {
    tx(proj, "Source In/Out", () => clip.createSetOutPointAction(tickTime(outTicks)));
  }
  return { item: rec.name, in: a.in, out: a.out };
};

handlers.create_subclip = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  const clip = clipOf(rec.item);
  const start = toTick(a.start, null);
  const end = toTick(a.end, null);
  if (start === null || end === null) throw fail("bad_args", "start and end are required (source times of the subclip)");
  const name = isText(a.name) ? a.name : rec.name + " subclip";
  const options = { takeVideo: a.video !== false, takeAudio: a.audio !== false };
  if (typeof clip.createSubClipAction !== "function") {
    throw tooOld("premiere_create_subclip", "ClipProjectItem.createSubClipAction", "26.3");
  }
  // The action returns no item; the subclip appears in the clip's bin when the transaction
  // commits, so it is found there by its new id (as Adobe's subclip sample does).
  /** @type {FolderItem | null} */
  let parent = null;
  try { parent = rec.item.getParentBin() || null; } catch (e) { parent = null; }
  const before = parent ? await childIds(parent) : new Set();
  tx(proj, "Subclip", () => clip.createSubClipAction(name, tickTime(start), tickTime(end), a.hardBoundaries === true, options));
  const fresh = parent ? await newChildren(parent, before) : [];
  const made = fresh.find((it) => it.name === name) || fresh.find((it) => typeName(it.type) === "clip") || null;
  /** @type {string | null} */
  let id = null;
  if (made) { try { id = made.getId(); } catch (e) { id = null; } }
  return { created: made ? made.name : name, id };
};

handlers.get_metadata = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  /** @type {Record<string, any>} */
  const out = { projectMetadata: null };
  try { out.projectMetadata = await ppro.Metadata.getProjectMetadata(rec.item); } catch (e) { out.projectMetadata = null; }
  if (a.xmp === true) {
    try { out.xmp = await ppro.Metadata.getXMPMetadata(rec.item); } catch (e) { out.xmp = null; }
  }
  return out;
};

handlers.set_xmp_metadata = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  if (typeof a.xmp !== "string") throw fail("bad_args", "xmp (the XMP packet as text) is required");
  tx(proj, "Set Metadata", () => ppro.Metadata.createSetXMPMetadataAction(rec.item, a.xmp));
  return { item: rec.name };
};

handlers.transcribe = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  const clip = clipOf(rec.item);
  // Documented on Adobe's Transcript reference page but absent from the 26.3 typings.
  const transcript = /** @type {UndeclaredPremiere} */ (/** @type {unknown} */ (ppro)).Transcript;
  if (!transcript || typeof transcript.transcribeClipProjectItem !== "function") {
    throw fail("premiere_error", "This Premiere has no Transcript.transcribeClipProjectItem; transcribe the clip in the Text panel.");
  }
  const started = isText(a.language)
    ? await transcript.transcribeClipProjectItem(clip, { languageCode: a.language })
    : await transcript.transcribeClipProjectItem(clip);
  return { started };
};

handlers.get_transcript = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  const clip = clipOf(rec.item);
  const none = () => fail("no_transcript", "No transcript yet — premiere_transcribe first (takes a while).");
  if (typeof ppro.Transcript.hasTranscript === "function" && !ppro.Transcript.hasTranscript(clip)) throw none();
  const text = await ppro.Transcript.exportToJSON(clip);
  if (isMissing(text) || text === "") throw none();
  try {
    return { transcript: JSON.parse(text) };
  } catch (e) {
    return { transcript: text };
  }
};

handlers.list_sequences = async () => {
  const proj = await project();
  const sequences = await proj.getSequences();
  let activeGuid = null;
  try {
    const active = await proj.getActiveSequence();
    if (active) activeGuid = active.guid.toString();
  } catch (e) { activeGuid = null; }
  const out = [];
  for (const s of sequences) {
    const guid = s.guid.toString();
    let duration = null;
    try { duration = secondsOf(await s.getEndTime()); } catch (e) { duration = null; }
    out.push({ name: s.name, guid, active: guid === activeGuid, duration });
  }
  return { sequences: out };
};

/** The sequence named by a verb that needs one (no default to the active sequence). @param {any} args */
async function requiredSequence(args) {
  const a = argsOf(args);
  if (isMissing(a.sequence) || a.sequence === "") {
    throw fail("bad_args", "sequence is required (name or GUID)");
  }
  const proj = await project();
  return { proj, seq: await findSequence(proj, a.sequence) };
}

handlers.set_active_sequence = async (args) => {
  const { proj, seq } = await requiredSequence(args);
  try { await proj.openSequence(seq); } catch (e) { /* opening is best effort */ }
  await proj.setActiveSequence(seq);
  return { active: seq.name };
};

handlers.create_sequence = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  const name = isText(a.name) ? a.name : "Sequence";
  const from = Array.isArray(a.fromItems) ? a.fromItems
    : !isMissing(a.fromItems) && a.fromItems !== "" ? [a.fromItems] : [];
  /** @type {Sequence | null} */
  let seq = null;
  if (from.length > 0) {
    const records = await allItems(proj);
    /** @type {ClipProjectItem[]} */
    const clips = [];
    for (const ref of from) clips.push(clipOf((await findItem(proj, ref, records)).item));
    if (!isMissing(a.bin)) {
      const bin = await binFor(proj, a.bin);
      seq = await proj.createSequenceFromMedia(name, clips, ppro.ProjectItem.cast(bin));
    } else {
      seq = await proj.createSequenceFromMedia(name, clips);
    }
  } else if (isText(a.presetPath)) {
    seq = typeof proj.createSequenceWithPresetPath === "function"
      ? await proj.createSequenceWithPresetPath(name, a.presetPath)
      : await proj.createSequence(name, a.presetPath);
  } else {
    seq = await proj.createSequence(name);
  }
  if (!seq) throw fail("create_failed", "Premiere didn't create the sequence");
  try { await proj.setActiveSequence(seq); } catch (e) { /* activation is best effort */ }
  return { name: seq.name, guid: seq.guid.toString() };
};

handlers.duplicate_sequence = async (args) => {
  const sc = await sequenceContext(argsOf(args));
  tx(sc.project, "Duplicate Sequence", () => sc.sequence.createCloneAction());
  return { duplicated: sc.sequence.name };
};

handlers.delete_sequence = async (args) => {
  const { proj, seq } = await requiredSequence(args);
  const name = seq.name;
  const deleted = await proj.deleteSequence(seq);
  return { deleted, name };
};

// Sequence.createSubsequence makes a new sequence of what lies between the sequence's in
// and out points (ExtendScript guide; the UXP reference says nothing else), not of the
// selection. To nest the selected clips, the in/out points are moved to the selection's
// bounds for the call and put back afterwards: two undo steps labelled "Nest Selection".
// The new sequence then holds everything within those bounds on every targeted track,
// selected or not.
handlers.nest_selection = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const seq = sc.sequence;
  const selection = await seq.getSelection();
  const chosen = selection ? await selection.getTrackItems() : [];
  /** @type {bigint | null} */
  let from = null;
  /** @type {bigint | null} */
  let to = null;
  for (const item of chosen) {
    const start = BigInt((await item.getStartTime()).ticks);
    const end = BigInt((await item.getEndTime()).ticks);
    if (from === null || start < from) from = start;
    if (to === null || end > to) to = end;
  }
  if (from === null || to === null || to <= from) {
    ctx.warn("No clips are selected in " + seq.name + "; nothing was nested.");
    return { nested: null };
  }
  const oldIn = (await seq.getInPoint()).ticks;
  const oldOut = (await seq.getOutPoint()).ticks;
  await setSequenceInOut(sc, from.toString(), to.toString(), "Nest Selection");
  /** @type {Sequence | null} */
  let sub = null;
  try {
    sub = await seq.createSubsequence(a.ignoreTrackTargeting === true);
  } finally {
    try {
      await setSequenceInOut(sc, oldIn, oldOut, "Nest Selection");
    } catch (e) {
      ctx.warn("The sequence in/out points could not be put back: " + (e && e.message ? e.message : String(e)));
    }
  }
  return { nested: sub ? sub.name : null };
};

handlers.get_sequence = async (args) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const seq = sc.sequence;
  const detail = a.detail !== false;
  /** @type {Record<string, any>} */
  const out = { name: seq.name, guid: seq.guid.toString(), width: null, height: null, fps: null };
  try {
    const size = await seq.getFrameSize();
    out.width = size.width;
    out.height = size.height;
  } catch (e) { /* unreadable */ }
  if (sc.rate) out.fps = round3(sc.rate.value || TICKS_PER_SECOND / sc.rate.ticksPerFrame);
  /** @param {() => Promise<TickTime>} read */
  const timeAt = async (read) => { try { return timeOut(await read(), sc); } catch (e) { return null; } };
  out.duration = await timeAt(async () => await seq.getEndTime());
  out.playhead = await timeAt(async () => await seq.getPlayerPosition());
  out.inPoint = await timeAt(async () => await seq.getInPoint());
  out.outPoint = await timeAt(async () => await seq.getOutPoint());
  for (const kind of /** @type {const} */ (["video", "audio"])) {
    const count = kind === "video" ? await seq.getVideoTrackCount() : await seq.getAudioTrackCount();
    const tracks = [];
    for (let index = 0; index < count; index++) {
      const t = { kind, index };
      const track = kind === "video" ? await seq.getVideoTrack(index) : await seq.getAudioTrack(index);
      let muted = false;
      try { muted = !!(await track.isMuted()); } catch (e) { muted = false; }
      const clips = [];
      const timed = await trackClips(track);
      for (let i = 0; i < timed.length; i++) {
        clips.push(await describeClip({ clip: timed[i].clip, ref: trackLabel(t) + ":" + i, start: timed[i].start, end: timed[i].end }, sc, detail));
      }
      tracks.push({ track: trackLabel(t), name: track.name, muted, clips });
    }
    out[kind === "video" ? "videoTracks" : "audioTracks"] = tracks;
  }
  return out;
};

/** @param {SeqContext} sc */
async function sequenceSettingsOut(sc) {
  const settings = await sc.sequence.getSettings();
  /** @template T @param {() => Promise<T>} read */
  const read = async (read) => { try { const v = await read(); return v === undefined ? null : v; } catch (e) { return null; } };
  /** @type {Record<string, any>} */
  const out = { width: null, height: null, fps: null };
  try {
    const rect = await settings.getVideoFrameRect();
    out.width = rect.width;
    out.height = rect.height;
  } catch (e) { /* unreadable */ }
  const rate = await sequenceRate(sc.sequence);
  out.fps = rate ? round3(rate.value) : null;
  out.pixelAspectRatio = await read(async () => await settings.getVideoPixelAspectRatio());
  out.fieldType = await read(async () => await settings.getVideoFieldType());
  try { out.audioSampleRate = (await settings.getAudioSampleRate()).value; } catch (e) { out.audioSampleRate = null; }
  out.audioChannelCount = await read(async () => await settings.getAudioChannelCount());
  out.editingMode = await read(async () => await settings.getEditingMode());
  out.previewCodec = await read(async () => await settings.getPreviewCodec());
  out.maxBitDepth = await read(async () => await settings.getMaximumBitDepth());
  out.maxRenderQuality = await read(async () => await settings.getMaxRenderQuality());
  return out;
}

handlers.get_sequence_settings = async (args) => sequenceSettingsOut(await sequenceContext(argsOf(args)));

// NTSC rates are exact fractions (24000/1001 …) that a decimal value only approximates, so
// they are set through their exact ticks per frame rather than trusting createWithValue.
const NTSC_TICKS_PER_FRAME = [[23.976, 10594584000], [29.97, 8475667200], [47.952, 5297292000], [59.94, 4237833600], [119.88, 2118916800]];

/** @param {number} fps */
function frameRate(fps) {
  const rate = ppro.FrameRate.createWithValue(fps);
  for (const [value, tpf] of NTSC_TICKS_PER_FRAME) {
    if (Math.abs(fps - value) < 0.01) rate.ticksPerFrame = tpf;
  }
  return rate;
}

handlers.set_sequence_settings = async (args) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const settings = await sc.sequence.getSettings();
  const positive = (/** @type {any} */ v) => typeof v === "number" && isFinite(v) && v > 0;
  if (positive(a.fps) && typeof settings.setVideoFrameRate !== "function") {
    throw tooOld("Changing a sequence's frame rate", "SequenceSettings.setVideoFrameRate", "26.2");
  }
  if (positive(a.width) && positive(a.height)) {
    const rect = new ppro.RectF();
    rect.width = a.width;
    rect.height = a.height;
    await settings.setVideoFrameRect(rect);
  }
  if (positive(a.fps)) settings.setVideoFrameRate(frameRate(a.fps));
  if (typeof a.maxBitDepth === "boolean") await settings.setMaximumBitDepth(a.maxBitDepth);
  if (typeof a.maxRenderQuality === "boolean") await settings.setMaxRenderQuality(a.maxRenderQuality);
  tx(sc.project, "Sequence Settings", () => sc.sequence.createSetSettingsAction(settings));
  return sequenceSettingsOut(sc);
};

handlers.set_playhead = async (args) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const ticks = toTick(a.time, sc);
  if (ticks === null) throw fail("bad_args", "time is required");
  await sc.sequence.setPlayerPosition(tickTime(ticks));
  return { playhead: timeOut(await sc.sequence.getPlayerPosition(), sc) };
};

/**
 * Sets a sequence's in and/or out point in one transaction. Premiere may check each point
 * against the other as it stands when the action applies, so when the new in point is not
 * before the current out point the out point is set first; either reading then accepts a
 * valid pair.
 * @param {SeqContext} sc @param {string | null} inTicks @param {string | null} outTicks @param {string} label
 */
async function setSequenceInOut(sc, inTicks, outTicks, label) {
  const seq = sc.sequence;
  let outFirst = false;
  if (inTicks !== null && outTicks !== null) {
    try { outFirst = BigInt(inTicks) >= BigInt((await seq.getOutPoint()).ticks); } catch (e) { outFirst = false; }
  }
  tx(sc.project, label, () => {
    const setIn = inTicks !== null && seq.createSetInPointAction(tickTime(inTicks));
    const setOut = outTicks !== null && seq.createSetOutPointAction(tickTime(outTicks));
    return outFirst ? [setOut, setIn] : [setIn, setOut];
  });
}

handlers.set_in_out = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const inTicks = toTick(a.in, sc);
  const outTicks = toTick(a.out, sc);
  const seq = sc.sequence;
  await setSequenceInOut(sc, inTicks, outTicks, "Sequence In/Out");
  if (a.workArea === true && (inTicks !== null || outTicks !== null)) {
    // Work-area calls appear in Adobe's samples but not in the 26.3 typings or reference.
    const workArea = /** @type {UndeclaredPremiere} */ (/** @type {unknown} */ (ppro)).WorkAreaUtils;
    if (!workArea) {
      ctx.warn("This Premiere doesn't expose the work area to UXP; only the sequence in/out points were set.");
    } else {
      let set = /** @type {boolean} */ (true);
      sc.project.lockedAccess(() => {
        if (inTicks !== null && outTicks !== null) set = workArea.setWorkAreaInOutPoints(seq, tickTime(inTicks), tickTime(outTicks));
        else if (inTicks !== null) set = workArea.setWorkAreaInPoint(seq, tickTime(inTicks));
        else if (outTicks !== null) set = workArea.setWorkAreaOutPoint(seq, tickTime(outTicks));
      });
      if (set === false) ctx.warn("Premiere refused the work area; only the sequence in/out points were set.");
    }
  }
  /** @param {() => Promise<TickTime>} read */
  const timeAt = async (read) => { try { return timeOut(await read(), sc); } catch (e) { return null; } };
  return { inPoint: await timeAt(async () => await seq.getInPoint()), outPoint: await timeAt(async () => await seq.getOutPoint()) };
};

// ---------------------------------------------------------------------------------------
// Connection to the bridge

// A socket still connecting after this long is given up and retried: a loopback bridge
// answers at once, so a hang means a stuck socket, which would otherwise block every retry.
const CONNECT_TIMEOUT_MS = 10000;

const conn = {
  /** @type {WebSocket | null} */
  socket: null,
  backoff: 1000,
  connecting: false,
  /** @type {any} */
  timer: null,
  /** @type {any} */
  connectTimer: null,
  connectTimeoutMs: CONNECT_TIMEOUT_MS,
};

/** @param {any} v */
function nonEmpty(v) {
  return !isMissing(v) && String(v) !== "";
}

/** The candidate places of connection.json, in the order they are tried. */
function connectionFileCandidates() {
  let home = "";
  try { home = os.homedir() || ""; } catch (e) { home = ""; }
  const sep = home.indexOf("\\") >= 0 ? "\\" : "/";
  const path = [home, ".quor", "cutrelay", "connection.json"].join(sep);
  return [path, "file:" + path, "plugin:/connection.json"];
}

/** @returns {{ port: any, token: any } | null} */
function readConnectionFile() {
  for (const candidate of connectionFileCandidates()) {
    try {
      const text = fs.readFileSync(candidate, { encoding: "utf-8" });
      const parsed = JSON.parse(String(text));
      if (parsed && typeof parsed === "object" && nonEmpty(parsed.port) && nonEmpty(parsed.token)) return parsed;
    } catch (e) {
      // try the next place
    }
  }
  return null;
}

function clearConnectTimer() {
  if (conn.connectTimer) clearTimeout(conn.connectTimer);
  conn.connectTimer = null;
}

function scheduleReconnect() {
  if (conn.timer) return;
  const delay = conn.backoff;
  conn.timer = setTimeout(() => { conn.timer = null; connect(); }, delay);
  conn.backoff = Math.min(conn.backoff * 2, 5000);
}

/** @param {any} message */
function send(message) {
  const ws = conn.socket;
  if (!ws || ws.readyState !== 1) return;
  /** @type {string} */
  let text;
  try {
    text = JSON.stringify(message, replacer);
  } catch (e) {
    if (message && message.type === "result") {
      text = JSON.stringify({ type: "result", id: message.id, ok: false, errorCode: "premiere_error", error: "The result could not be serialised: " + String(e) });
    } else {
      return;
    }
  }
  try { ws.send(text); } catch (e) { /* the close handler reconnects */ }
}

function connect() {
  if (conn.connecting) return;
  if (conn.socket && (conn.socket.readyState === 0 || conn.socket.readyState === 1)) return;
  conn.connecting = true;
  try {
    const file = readConnectionFile();
    if (!file) {
      setStatus("wait", "Waiting for Quor Bridge (no connection file yet)…");
      scheduleReconnect();
      return;
    }
    const port = String(file.port);
    const url = "ws://127.0.0.1:" + port + "/ws?token=" + encodeURIComponent(String(file.token));
    // The runtime takes the URL alone, like any WebSocket; the UXP typings list `protocols` as required.
    const ws = new (/** @type {new (url: string) => WebSocket} */ (/** @type {unknown} */ (WebSocket)))(url);
    setStatus("wait", "Connecting to bridge on port " + port + "…");
    conn.socket = ws;
    /** Forgets this socket (once) and retries with back-off. */
    const lost = () => {
      if (conn.socket !== ws) return;
      conn.socket = null;
      clearConnectTimer();
      setStatus("wait", "Disconnected — retrying…");
      scheduleReconnect();
    };
    clearConnectTimer();
    conn.connectTimer = setTimeout(() => {
      conn.connectTimer = null;
      if (conn.socket !== ws || ws.readyState !== 0) return;
      log("connect timed out");
      try { ws.close(); } catch (e) { /* already going */ }
      lost();
    }, conn.connectTimeoutMs);
    ws.onopen = () => {
      clearConnectTimer();
      conn.backoff = 1000;
      setStatus("ok", "Connected (port " + port + ")");
      log("connected");
      helloFields().then(send, () => undefined);
    };
    ws.onmessage = (event) => { handleMessage(event ? event.data : undefined); };
    // A close normally follows an error, but not every runtime sends one after a failed
    // attempt; both lead to one retry (the schedule ignores a second request).
    ws.onclose = lost;
    ws.onerror = lost;
  } catch (e) {
    log("connect error: " + e);
    scheduleReconnect();
  } finally {
    conn.connecting = false;
  }
}

/** @param {any} e */
function errorResult(e) {
  /** @type {Record<string, any>} */
  const out = {
    ok: false,
    error: e && typeof e === "object" && "message" in e ? String(e.message) : String(e),
    errorCode: e && typeof e === "object" && typeof e.code === "string" && e.code ? e.code : "premiere_error",
  };
  if (e && typeof e === "object" && typeof e.stack === "string" && e.stack) {
    out.stack = e.stack.split("\n").slice(0, 6).join("\n");
  }
  return out;
}

/**
 * Runs one verb and returns the members of its result message (without type and id).
 * @param {any} verb @param {any} args
 */
async function runVerb(verb, args) {
  const handler = typeof verb === "string" && Object.prototype.hasOwnProperty.call(handlers, verb) ? handlers[verb] : null;
  if (!handler) return { ok: false, errorCode: "not_in_uxp", error: "UXP plugin has no verb '" + verb + "'" };
  /** @type {string[]} */
  const warnings = [];
  const ctx = { warn: (/** @type {any} */ text) => { warnings.push(String(text)); } };
  try {
    const result = await handler(isMissing(args) ? {} : args, ctx);
    /** @type {Record<string, any>} */
    const out = { ok: true, result: result === undefined ? null : result };
    if (warnings.length > 0) out.warnings = warnings;
    return out;
  } catch (e) {
    const out = errorResult(e);
    log(verb + " failed: " + out.error);
    return out;
  }
}

/** @param {any} data the text of one WebSocket message */
async function handleMessage(data) {
  /** @type {any} */
  let msg;
  try {
    msg = JSON.parse(typeof data === "string" ? data : String(data));
  } catch (e) {
    return;
  }
  if (!msg || typeof msg !== "object") return;
  if (msg.type === "ping") {
    send({ type: "pong" });
    return;
  }
  if (msg.type !== "call") return;
  const id = msg.id;
  setLast("Last: " + msg.verb);
  try {
    const out = await runVerb(msg.verb, msg.args);
    send(Object.assign({ type: "result", id }, out));
  } catch (e) {
    send(Object.assign({ type: "result", id }, errorResult(e)));
  }
}

// ---------------------------------------------------------------------------------------
// Project events: pushed as events, followed by a refreshed hello.

/** @param {string} kind */
async function onProjectEvent(kind) {
  send({ type: "event", kind, at: Date.now() });
  try {
    send({ type: "hello_update", fields: await helloFields() });
  } catch (e) { /* nothing to update */ }
}

function registerProjectEvents() {
  try {
    const E = ppro.Constants.ProjectEvent;
    ppro.EventManager.addGlobalEventListener(E.OPENED, () => { onProjectEvent("project_opened"); });
    ppro.EventManager.addGlobalEventListener(E.ACTIVATED, () => { onProjectEvent("project_activated"); }, true);
    ppro.EventManager.addGlobalEventListener(E.DIRTY, () => { onProjectEvent("project_dirty"); }, true);
    // After a close the stored hello would still name the closed project: refresh it.
    ppro.EventManager.addGlobalEventListener(E.CLOSED, () => {
      helloFields().then((fields) => send({ type: "hello_update", fields }), () => undefined);
    }, true);
  } catch (e) {
    log("project events unavailable: " + e);
  }
}

registerProjectEvents();
connect();

if (typeof module !== "undefined" && module && module.exports) {
  module.exports = {
    PLUGIN_VERSION, PROTOCOL, TICKS_PER_SECOND, handlers, panelLog, conn,
    fail, QuorError, replacer, toJsonSafe, round3,
    isDropFrame, secondsToTimecode, timecodeToSeconds, toTick, timeOut, rateOf,
    tx, project, findSequence, sequenceContext, sequenceRate,
    allItems, findItem, binFor, describeItem, typeName,
    parseTrack, trackLabel, getTrack, trackClips, parseClipRef, findClip, describeClip,
    helloFields, readConnectionFile, connectionFileCandidates, connect, send, runVerb, handleMessage,
  };
}
