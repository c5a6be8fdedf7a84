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
 *   TickTime, VideoTrack, AudioTrack, VideoClipTrackItem, AudioClipTrackItem, Action,
 *   Component, ComponentParam, Keyframe, Marker, Markers, VideoComponentChain, AudioComponentChain } from "@adobe/premierepro"
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
      const ff = parseInt(text.split(/[:;]/)[3], 10);
      if (ff >= Math.round(rate.value)) {
        throw fail("bad_time", "Timecode '" + text + "' has frame " + ff + ", but frames run 0 to " + (Math.round(rate.value) - 1) + " at " + round3(rate.value) + " fps.");
      }
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
// Read-back: an edit is done when Premiere shows it. Premiere can accept a transaction and
// change nothing (an action gone stale, a version difference), so every edit verb states
// what it means to leave behind and reads it back after its transaction.

/**
 * One thing an edit means to leave behind: `subject` should `should` `want`; `read`
 * answers what Premiere kept (null when there is none). With `time` the values are tick
 * texts, equal to the frame; numbers are equal within `tolerance` (default 0.001, relative
 * above 1); anything else by its JSON. `key` names it in `expected` and `found`.
 * @typedef {{ subject: string, key: string, should: string, is: string, want: any, read: () => any, time?: boolean, tolerance?: number }} Expectation
 */

// Ticks of one frame at 24 fps: the rounding allowed for a time without a sequence (source
// in/out points, which Premiere snaps to the media's frames).
const MEDIA_FRAME_TICKS = 10584000000n;

/** @param {Expectation} e @param {any} v a value as sent in `expected` / `found` */
function expectedOut(e, v) {
  if (isMissing(v)) return null;
  if (e.time) return round3(Number(BigInt(v)) / TICKS_PER_SECOND);
  return toJsonSafe(v);
}

/** @param {Expectation} e @param {any} v */
function shown(e, v) {
  if (isMissing(v)) return "nothing";
  if (e.time) return (Number(BigInt(v)) / TICKS_PER_SECOND).toFixed(2) + " s";
  if (typeof v === "number") return String(round3(v));
  if (typeof v === "string") return v;
  return refText(v);
}

/**
 * @param {Expectation} e @param {any} found @param {bigint} frame ticks of one frame
 */
function agrees(e, found, frame) {
  const want = e.want;
  if (isMissing(want) || isMissing(found)) return isMissing(want) && isMissing(found);
  if (e.time) {
    const d = BigInt(want) - BigInt(found);
    return (d < 0n ? -d : d) < frame;
  }
  if (typeof want === "number" && typeof found === "number") {
    const tolerance = e.tolerance === undefined ? 0.001 : e.tolerance;
    return Math.abs(want - found) <= tolerance * Math.max(1, Math.abs(want));
  }
  if (Array.isArray(want) && Array.isArray(found)) {
    return want.length === found.length && want.every((w, i) => agrees(Object.assign({}, e, { want: w }), found[i], frame));
  }
  if (want !== null && typeof want === "object" && found !== null && typeof found === "object") {
    return Object.keys(want).every((k) => agrees(Object.assign({}, e, { want: want[k] }), found[k], frame));
  }
  return JSON.stringify(toJsonSafe(want)) === JSON.stringify(toJsonSafe(found));
}

/**
 * Reads every expectation back and marks the call verified; the first difference fails
 * with "edit_not_applied", carrying `expected` and `found` for every part that differs.
 * @param {CallContext} ctx @param {SeqContext | null} sc @param {Expectation[]} expectations
 */
async function confirmEdit(ctx, sc, expectations) {
  const frame = sc && sc.rate && sc.rate.ticksPerFrame > 0 ? BigInt(Math.round(sc.rate.ticksPerFrame)) : MEDIA_FRAME_TICKS;
  /** @type {{ e: Expectation, found: any }[]} */
  const wrong = [];
  for (const e of expectations) {
    /** @type {any} */
    let found;
    try { found = await e.read(); } catch (err) { found = null; }
    if (!agrees(e, found, frame)) wrong.push({ e, found });
  }
  if (wrong.length > 0) throw notApplied(wrong);
  ctx.verified = true;
}

/** @param {{ e: Expectation, found: any }[]} wrong */
function notApplied(wrong) {
  const { e, found } = wrong[0];
  const more = wrong.length > 1 ? " (and " + (wrong.length - 1) + " more difference" + (wrong.length > 2 ? "s" : "") + ")" : "";
  const err = /** @type {QuorError & { expected?: any, found?: any }} */ (fail("edit_not_applied",
    e.subject + " should " + e.should + " " + shown(e, e.want) + " but " + e.is + " " + shown(e, found) + more +
    ". Premiere took the edit but the project does not show it."));
  /** @type {Record<string, any>} */
  const expected = {};
  /** @type {Record<string, any>} */
  const got = {};
  for (const w of wrong) {
    expected[w.e.key] = expectedOut(w.e, w.e.want);
    got[w.e.key] = expectedOut(w.e, w.found);
  }
  err.expected = expected;
  err.found = got;
  return err;
}

/**
 * Expectations on a clip's times: the `edges` given (tick texts) of `clip`, read from the
 * clip itself.
 * @param {string} ref @param {TrackItem} clip @param {{ start?: string | null, end?: string | null, inPoint?: string | null, outPoint?: string | null }} edges
 * @returns {Expectation[]}
 */
function clipTimes(ref, clip, edges) {
  /** @type {Expectation[]} */
  const out = [];
  /** @type {[string, string, string, () => Promise<string>][]} */
  const reads = [
    ["start", "start at", "starts at", async () => (await clip.getStartTime()).ticks],
    ["end", "end at", "ends at", async () => (await clip.getEndTime()).ticks],
    ["inPoint", "have its in point at", "has it at", async () => (await clip.getInPoint()).ticks],
    ["outPoint", "have its out point at", "has it at", async () => (await clip.getOutPoint()).ticks],
  ];
  for (const [name, should, is, read] of reads) {
    const want = /** @type {Record<string, any>} */ (edges)[name];
    if (isMissing(want)) continue;
    out.push({ subject: ref, key: ref + " " + name, should, is, want, time: true, read });
  }
  return out;
}

/**
 * The start (tick text) of the clip on a track that comes from `itemId` and lasts `length`
 * ticks, nearest `near`; null when there is none.
 * @param {TimelineClip[]} clips @param {string} kind @param {number} track @param {string | null} itemId
 * @param {bigint} length @param {bigint} near
 */
function startOfClip(clips, kind, track, itemId, length, near) {
  /** @type {bigint | null} */
  let best = null;
  for (const c of clips) {
    if (c.kind !== kind || c.track !== track || c.itemId !== itemId) continue;
    if (BigInt(c.end.ticks) - BigInt(c.start.ticks) !== length) continue;
    const s = BigInt(c.start.ticks);
    if (best === null || (s > near ? s - near : near - s) < (best > near ? best - near : near - best)) best = s;
  }
  return best === null ? null : best.toString();
}

/**
 * Expectations that whole clips stand at given starts, read from one fresh reading of the
 * timeline: each of `wanted` (a clip as it was, and where its start should now be) on its
 * own track, same source, same length.
 * @param {SeqContext} sc @param {{ c: TimelineClip, start: string, track?: number, kind?: string }[]} wanted
 * @returns {Expectation[]}
 */
function clipsAt(sc, wanted) {
  /** @type {Promise<TimelineClip[]> | null} */
  let after = null;
  const timeline = () => (after === null ? (after = timelineClips(sc)) : after);
  return wanted.map((w) => {
    const kind = w.kind || w.c.kind;
    const track = w.track === undefined ? w.c.track : w.track;
    const label = trackLabel({ kind: kind === "audio" ? "audio" : "video", index: track });
    const subject = w.c.ref + (label === w.c.ref.split(":")[0] ? "" : " (on " + label + ")");
    return {
      subject, key: subject + " start", should: "start at", is: "starts at", want: w.start, time: true,
      read: async () => startOfClip(await timeline(), kind, track, w.c.itemId,
        BigInt(w.c.end.ticks) - BigInt(w.c.start.ticks), BigInt(w.start)),
    };
  });
}

/**
 * A plain expectation: `subject` should be `want`, read by `read`.
 * @param {string} subject @param {string} what @param {any} want @param {() => any} read
 * @returns {Expectation}
 */
function expectValue(subject, what, want, read) {
  return { subject: subject + (what ? " " + what : ""), key: subject + (what ? " " + what : ""), should: "be", is: "is", want, read };
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

/** @typedef {{ name: string | null, matchName: string | null, start: TickTime, end: TickTime }} TrackTransition */

/**
 * The transitions of a track, in time order: Premiere lists them as track items of type
 * TRANSITION. Empty where it lists none (audio tracks have no transitions in UXP).
 * @param {VideoTrack | AudioTrack} track @returns {Promise<TrackTransition[]>}
 */
async function trackTransitions(track) {
  /** @type {TrackTransition[]} */
  const out = [];
  try {
    for (const item of track.getTrackItems(ppro.Constants.TrackItemType.TRANSITION, false) || []) {
      /** @type {string | null} */
      let name = null;
      /** @type {string | null} */
      let matchName = null;
      try { name = await item.getName(); } catch (e) { name = null; }
      try { matchName = await item.getMatchName(); } catch (e) { matchName = null; }
      out.push({ name, matchName, start: await item.getStartTime(), end: await item.getEndTime() });
    }
  } catch (e) {
    return [];
  }
  return out.sort((a, b) => (BigInt(a.start.ticks) < BigInt(b.start.ticks) ? -1 : 1));
}

/**
 * A clip's transitions: the one over its start and the one over its end, each with its
 * name, match name, duration, span and alignment to the clip's edge ("start": it begins at
 * the edge, "end": it ends there, "center": it spans it).
 * @param {TrackTransition[]} list @param {TickTime} start @param {TickTime} end @param {SeqContext} sc
 */
function clipTransitions(list, start, end, sc) {
  const out = [];
  for (const [position, edge] of /** @type {[string, bigint][]} */ ([["start", BigInt(start.ticks)], ["end", BigInt(end.ticks)]])) {
    const hit = list.find((t) => {
      const from = BigInt(t.start.ticks);
      const to = BigInt(t.end.ticks);
      return position === "start" ? from <= edge && edge < to : from < edge && edge <= to;
    });
    if (!hit) continue;
    const from = BigInt(hit.start.ticks);
    const to = BigInt(hit.end.ticks);
    out.push({
      position, name: hit.name, matchName: hit.matchName, duration: round3(Number(to - from) / TICKS_PER_SECOND),
      start: timeOut(hit.start, sc), end: timeOut(hit.end, sc), alignment: from === edge ? "start" : to === edge ? "end" : "center",
    });
  }
  return out;
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

/**
 * Refuses a desktop file or folder named relative to nothing in particular: Premiere would
 * resolve it against whatever folder it runs in. POSIX, drive-letter and UNC paths are absolute.
 * @param {string} name the argument's name @param {any} value
 */
function needAbsolute(name, value) {
  if (isText(value) && !/^(\/|[A-Za-z]:[\\/]|\\\\)/.test(value)) throw fail("bad_path", name + " must be an absolute path");
}

/** @param {any} args */
function argsOf(args) {
  return args !== null && typeof args === "object" && !Array.isArray(args) ? args : {};
}

// ---------------------------------------------------------------------------------------
// Verbs: project, items, sequences

/** @typedef {{ warn: (text: string) => void, verified?: boolean, unverified?: string }} CallContext */
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
  needAbsolute("path", a.path);
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
  needAbsolute("path", a.path);
  const path = /\.prproj$/i.test(a.path) ? a.path : a.path + ".prproj";
  if (fileExists(path)) throw fail("create_failed", "Couldn't create " + path + ": the file already exists. Open it with premiere_open_project, or pass another path.");
  const proj = await ppro.Project.createProject(path);
  if (!proj) throw fail("create_failed", "Couldn't create " + path + " — does the folder exist?");
  return { name: proj.name, path: proj.path };
};

handlers.save_project = async (args) => {
  const a = argsOf(args);
  const proj = await project();
  if (isText(a.path)) {
    needAbsolute("path", a.path);
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
  // Premiere makes another open project active, if there is one: say which.
  /** @type {Project | null} */
  let now = null;
  try { now = (await ppro.Project.getActiveProject()) || null; } catch (e) { now = null; }
  return { closed, activeProject: now ? { name: now.name, path: now.path } : null };
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
  for (const p of paths) needAbsolute(Array.isArray(a.paths) || isText(a.paths) ? "paths" : "path", p);
  const proj = await project();
  const before = new Set((await allItems(proj)).map((r) => r.id));
  const bin = await binFor(proj, a.bin);
  const ok = await proj.importFiles(paths, true, ppro.ProjectItem.cast(bin), a.asNumberedStills === true);
  const fresh = (await allItems(proj)).filter((r) => r.id === null || !before.has(r.id));
  if (!ok && fresh.length === 0) {
    throw fail("import_failed", "Premiere refused the import: " + paths.map(importProblem).join("; ") + ".");
  }
  const items = [];
  for (const rec of fresh) items.push(await describeItem(rec, true));
  // importFiles answers one boolean for the lot; name each file that gave no new item so a
  // partial import is not silent.
  const got = new Set(items.map((it) => (typeof it.mediaPath === "string" ? normPath(it.mediaPath) : "")));
  let all = true;
  for (const p of paths) {
    if (got.has(normPath(p))) continue;
    all = false;
    ctx.warn("No new project item from " + p + " (" + importProblem(p) + ").");
  }
  // Every file was read back as a new item; the warnings name those that were not.
  if (all) ctx.verified = true;
  return { imported: items.length, items };
};

/** Why Premiere gave no item for a file: it is missing, or else its type is not one Premiere imports. @param {string} p */
function importProblem(p) {
  if (!fileExists(p)) return p + " doesn't exist on this machine";
  const ext = /\.([^.\\/]+)$/.exec(p);
  return p + " is of a type Premiere does not import (" + (ext ? "." + ext[1] : "no extension") + ")";
}

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

/** An item's id, or null. @param {any} item */
function idOf(item) {
  try { return item ? item.getId() || null : null; } catch (e) { return null; }
}

handlers.create_bin = async (args, ctx) => {
  const a = argsOf(args);
  if (!isText(a.name)) throw fail("bad_args", "name is required");
  const proj = await project();
  const parent = await binFor(proj, a.parent);
  const before = await childIds(parent);
  tx(proj, "Create Bin", () => parent.createBinAction(a.name, a.makeUnique !== false));
  // With makeUnique Premiere may add a number to the name: answer the name the bin got.
  const made = (await newChildren(parent, before)).find((it) => typeName(it.type) === "bin");
  const where = isMissing(a.parent) ? "/" : refText(a.parent);
  await confirmEdit(ctx, null, [{ subject: "Bin '" + a.name + "'", key: "bin", should: "be created in", is: "is", want: where, read: () => (made ? where : "missing") }]);
  return { created: made ? made.name : a.name, parent: isMissing(a.parent) ? "/" : a.parent };
};

handlers.move_item = async (args, ctx) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  const target = await binFor(proj, a.bin);
  const parent = rec.item.getParentBin();
  const toRoot = isMissing(a.bin) || a.bin === "/";
  const where = toRoot ? "/" : qualifiedName(await findItem(proj, a.bin));
  tx(proj, "Move Item", () => parent.createMoveItemAction(rec.item, target));
  await confirmEdit(ctx, null, [{ subject: "'" + rec.name + "'", key: "bin", should: "be in", is: "is in", want: where,
    read: async () => {
      const now = (await allItems(proj)).find((r) => r.item === rec.item || (rec.id !== null && r.id === rec.id));
      return now ? now.bin || "/" : null;
    } }]);
  return { moved: rec.name, to: isMissing(a.bin) ? "/" : a.bin };
};

handlers.rename_item = async (args, ctx) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  if (!isText(a.name)) throw fail("bad_args", "name is required");
  tx(proj, "Rename Item", () => rec.item.createSetNameAction(a.name));
  await confirmEdit(ctx, null, [expectValue("'" + rec.name + "'", "name", a.name, () => rec.item.name)]);
  return { renamed: a.name };
};

handlers.delete_item = async (args, ctx) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  const parent = rec.item.getParentBin();
  tx(proj, "Delete Item", () => parent.createRemoveItemAction(rec.item));
  await confirmEdit(ctx, null, [{ subject: "'" + rec.name + "'", key: "item", should: "be", is: "is", want: "deleted",
    read: async () => ((await allItems(proj)).some((r) => r.item === rec.item || (rec.id !== null && r.id === rec.id)) ? "still in the project" : "deleted") }]);
  return { deleted: rec.name };
};

handlers.set_item_color = async (args, ctx) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  if (typeof a.colorIndex !== "number" || !Number.isInteger(a.colorIndex) || a.colorIndex < 0) {
    throw fail("bad_args", "colorIndex is required (0-15)");
  }
  tx(proj, "Label Color", () => rec.item.createSetColorLabelAction(a.colorIndex));
  await confirmEdit(ctx, null, [expectValue("'" + rec.name + "'", "label colour", a.colorIndex, async () => await rec.item.getColorLabelIndex())]);
  return { item: rec.name, colorIndex: a.colorIndex };
};

handlers.set_source_in_out = async (args, ctx) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  const clip = clipOf(rec.item);
  const subject = "'" + rec.name + "'";
  if (a.clear === true) {
    const was = [(await clip.getInPoint(ppro.Constants.MediaType.ANY)).ticks, (await clip.getOutPoint(ppro.Constants.MediaType.ANY)).ticks];
    tx(proj, "Clear In/Out", () => clip.createClearInOutPointsAction());
    // Cleared points are the media's own bounds: points that were set must have moved.
    const marked = BigInt(was[0]) > 0n;
    await confirmEdit(ctx, null, [{ subject, key: "in/out", should: "have its in and out points", is: "has them", want: "cleared",
      read: async () => (marked && (await clip.getInPoint(ppro.Constants.MediaType.ANY)).ticks === was[0] && (await clip.getOutPoint(ppro.Constants.MediaType.ANY)).ticks === was[1] ? "as they were" : "cleared") }]);
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
  /** @type {Expectation[]} */
  const points = [];
  if (inTicks !== null) points.push({ subject, key: "in", should: "have its in point at", is: "has it at", want: inTicks, time: true, read: async () => (await clip.getInPoint(ppro.Constants.MediaType.ANY)).ticks });
  if (outTicks !== null) points.push({ subject, key: "out", should: "have its out point at", is: "has it at", want: outTicks, time: true, read: async () => (await clip.getOutPoint(ppro.Constants.MediaType.ANY)).ticks });
  await confirmEdit(ctx, null, points);
  return { item: rec.name, in: a.in, out: a.out };
};

handlers.create_subclip = async (args, ctx) => {
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
  await confirmEdit(ctx, null, [{ subject: "Subclip '" + name + "'", key: "subclip", should: "be", is: "is", want: "created", read: () => (made ? "created" : "missing") }]);
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

handlers.set_xmp_metadata = async (args, ctx) => {
  const a = argsOf(args);
  const proj = await project();
  const rec = await findItem(proj, a.item);
  if (typeof a.xmp !== "string") throw fail("bad_args", "xmp (the XMP packet as text) is required");
  /** @returns {Promise<string | null>} */
  const xmp = async () => { try { return String(await ppro.Metadata.getXMPMetadata(rec.item)); } catch (e) { return null; } };
  const before = await xmp();
  tx(proj, "Set Metadata", () => ppro.Metadata.createSetXMPMetadataAction(rec.item, a.xmp));
  // Premiere may rewrite the packet it keeps, so what is read back is that it changed.
  if (before !== a.xmp) {
    await confirmEdit(ctx, null, [{ subject: "The XMP metadata of '" + rec.name + "'", key: "xmp", should: "be", is: "is", want: "changed",
      read: async () => ((await xmp()) === before ? "as it was" : "changed") }]);
  } else {
    ctx.verified = true;
  }
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

handlers.set_active_sequence = async (args, ctx) => {
  const { proj, seq } = await requiredSequence(args);
  try { await proj.openSequence(seq); } catch (e) { /* opening is best effort */ }
  await proj.setActiveSequence(seq);
  await confirmEdit(ctx, null, [expectValue("The active sequence", "", seq.name, async () => {
    const active = await proj.getActiveSequence();
    return active && active.guid.toString() === seq.guid.toString() ? seq.name : active ? active.name : null;
  })]);
  return { active: seq.name };
};

/** Whether a project has a sequence of that GUID. @param {Project} proj @param {string} guid */
async function hasSequence(proj, guid) {
  return (await proj.getSequences()).some((s) => s.guid.toString() === guid);
}

handlers.create_sequence = async (args, ctx) => {
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
    needAbsolute("presetPath", a.presetPath);
    seq = typeof proj.createSequenceWithPresetPath === "function"
      ? await proj.createSequenceWithPresetPath(name, a.presetPath)
      : await proj.createSequence(name, a.presetPath);
  } else {
    seq = await proj.createSequence(name);
  }
  if (!seq) throw fail("create_failed", "Premiere didn't create the sequence");
  const made = seq;
  await confirmEdit(ctx, null, [{ subject: "Sequence '" + made.name + "'", key: "sequence", should: "be", is: "is", want: "in the project",
    read: async () => ((await hasSequence(proj, made.guid.toString())) ? "in the project" : "missing") }]);
  try { await proj.setActiveSequence(seq); } catch (e) { /* activation is best effort */ }
  return { name: seq.name, guid: seq.guid.toString() };
};

handlers.duplicate_sequence = async (args, ctx) => {
  const sc = await sequenceContext(argsOf(args));
  const before = (await sc.project.getSequences()).length;
  tx(sc.project, "Duplicate Sequence", () => sc.sequence.createCloneAction());
  await confirmEdit(ctx, null, [expectValue("The project", "sequence count", before + 1, async () => (await sc.project.getSequences()).length)]);
  return { duplicated: sc.sequence.name };
};

handlers.delete_sequence = async (args, ctx) => {
  const { proj, seq } = await requiredSequence(args);
  const name = seq.name;
  const guid = seq.guid.toString();
  const deleted = await proj.deleteSequence(seq);
  await confirmEdit(ctx, null, [{ subject: "Sequence '" + name + "'", key: "sequence", should: "be", is: "is", want: "deleted",
    read: async () => ((await hasSequence(proj, guid)) ? "still in the project" : "deleted") }]);
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
  const made = sub;
  await confirmEdit(ctx, sc, [
    { subject: "The nested sequence", key: "nested duration", should: "last", is: "lasts", want: (to - from).toString(), time: true,
      read: async () => (made ? (await made.getEndTime()).ticks : null) },
    ...sequencePoints(sc, oldIn, oldOut),
  ]);
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
      const transitions = detail && kind === "video" ? await trackTransitions(track) : [];
      for (let i = 0; i < timed.length; i++) {
        const described = await describeClip({ clip: timed[i].clip, ref: trackLabel(t) + ":" + i, start: timed[i].start, end: timed[i].end }, sc, detail);
        if (detail && kind === "video") described.transitions = clipTransitions(transitions, timed[i].start, timed[i].end, sc);
        clips.push(described);
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

handlers.set_sequence_settings = async (args, ctx) => {
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
  const after = await sequenceSettingsOut(sc);
  /** @type {Expectation[]} */
  const wanted = [];
  const subject = "'" + sc.sequence.name + "'";
  if (positive(a.width) && positive(a.height)) {
    wanted.push(expectValue(subject, "width", a.width, () => after.width), expectValue(subject, "height", a.height, () => after.height));
  }
  if (positive(a.fps)) wanted.push(Object.assign(expectValue(subject, "fps", a.fps, () => after.fps), { tolerance: 0.0005 }));
  if (typeof a.maxBitDepth === "boolean") wanted.push(expectValue(subject, "maxBitDepth", a.maxBitDepth, () => after.maxBitDepth));
  if (typeof a.maxRenderQuality === "boolean") wanted.push(expectValue(subject, "maxRenderQuality", a.maxRenderQuality, () => after.maxRenderQuality));
  await confirmEdit(ctx, sc, wanted);
  return after;
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

/**
 * Expectations on a sequence's in and out points (tick texts; null: not checked).
 * @param {SeqContext} sc @param {string | null} inTicks @param {string | null} outTicks @returns {Expectation[]}
 */
function sequencePoints(sc, inTicks, outTicks) {
  const subject = "'" + sc.sequence.name + "'";
  /** @type {Expectation[]} */
  const out = [];
  if (inTicks !== null) out.push({ subject, key: "inPoint", should: "have its in point at", is: "has it at", want: inTicks, time: true, read: async () => (await sc.sequence.getInPoint()).ticks });
  if (outTicks !== null) out.push({ subject, key: "outPoint", should: "have its out point at", is: "has it at", want: outTicks, time: true, read: async () => (await sc.sequence.getOutPoint()).ticks });
  return out;
}

handlers.set_in_out = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const inTicks = toTick(a.in, sc);
  const outTicks = toTick(a.out, sc);
  const seq = sc.sequence;
  await setSequenceInOut(sc, inTicks, outTicks, "Sequence In/Out");
  await confirmEdit(ctx, sc, sequencePoints(sc, inTicks, outTicks));
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
// Verbs: timeline editing
//
// Clip positions in references are positions in time order at the moment of the call;
// every edit can shift them, so each verb resolves all of its references before it
// changes anything and never reuses a position across two transactions.

/** @typedef {ResolvedClip & { itemId: string | null }} TimelineClip */

/** @param {TrackItem} clip @returns {Promise<string | null>} */
async function projectItemIdOf(clip) {
  try {
    const pi = await clip.getProjectItem();
    return pi ? pi.getId() || null : null;
  } catch (e) {
    return null;
  }
}

/**
 * Every clip of every track, video tracks first, each with its ref and project item id.
 * @param {SeqContext} sc @returns {Promise<TimelineClip[]>}
 */
async function timelineClips(sc) {
  /** @type {TimelineClip[]} */
  const out = [];
  for (const kind of /** @type {const} */ (["video", "audio"])) {
    const count = kind === "video" ? await sc.sequence.getVideoTrackCount() : await sc.sequence.getAudioTrackCount();
    for (let index = 0; index < count; index++) {
      const t = { kind, index };
      const clips = await trackClips(kind === "video" ? await sc.sequence.getVideoTrack(index) : await sc.sequence.getAudioTrack(index));
      for (let i = 0; i < clips.length; i++) {
        const c = clips[i];
        out.push({ clip: c.clip, kind, track: index, index: i, ref: trackLabel(t) + ":" + i, start: c.start, end: c.end, itemId: await projectItemIdOf(c.clip) });
      }
    }
  }
  return out;
}

/**
 * The linked partners of a clip: clips on other tracks with the same start, end and
 * project item. A clip whose project item id cannot be read has none.
 * @param {TimelineClip} target @param {TimelineClip[]} all
 */
function partnersOf(target, all) {
  if (target.itemId === null) return [];
  return all.filter((c) => !(c.kind === target.kind && c.track === target.track) &&
    c.itemId === target.itemId && c.start.ticks === target.start.ticks && c.end.ticks === target.end.ticks);
}

/**
 * Resolves `clips` (a list) or else `clip` into track clips, each once. With `withPartners`
 * (and unless `linked` is false) the partners of every target follow the targets.
 * @param {SeqContext} sc @param {any} a @param {boolean} withPartners
 * @returns {Promise<{ targets: TimelineClip[], all: TimelineClip[] }>}
 */
async function targetSet(sc, a, withPartners) {
  /** @type {any[]} */
  let refs;
  if (Array.isArray(a.clips) && a.clips.length > 0) refs = a.clips;
  else if (!isMissing(a.clip)) refs = [a.clip];
  else throw fail("bad_args", "clip or clips is required");
  /** @type {ResolvedClip[]} */
  const resolved = [];
  for (const ref of refs) resolved.push(await findClip(sc, ref));
  const all = await timelineClips(sc);
  const byRef = new Map(all.map((c) => [c.ref, c]));
  /** @type {TimelineClip[]} */
  const targets = [];
  const seen = new Set();
  const add = (/** @type {TimelineClip | undefined} */ c) => {
    if (c && !seen.has(c.ref)) { seen.add(c.ref); targets.push(c); }
  };
  for (const r of resolved) add(byRef.get(r.ref));
  if (withPartners && a.linked !== false) {
    for (const t of targets.slice()) for (const p of partnersOf(t, all)) add(p);
  }
  return { targets, all };
}

/**
 * Makes `clips` the sequence's whole selection and answers that selection. Premiere's own
 * selection is the one its edits accept: a selection made by
 * TrackItemSelection.createEmptySelection makes createRemoveItemsAction throw "The script
 * object is no longer valid" (AdobeDocs/uxp-premiere-pro-samples issue #82), so, as in
 * Adobe's sequence sample, the sequence's selection is cleared, read, filled and set.
 * Items that are no longer on the timeline are skipped.
 * @param {Sequence} seq @param {TrackItem[]} clips
 */
async function selectOnly(seq, clips) {
  await seq.clearSelection();
  const selection = await seq.getSelection();
  for (const c of clips) {
    try { selection.addItem(c, false); } catch (e) { /* gone from the timeline */ }
  }
  // setSelection answers a boolean since Premiere 26.3 and a Promise before; either is awaited.
  const done = Promise.resolve(seq.setSelection(selection));
  if ((await done) === false) throw fail("selection_failed", "Premiere didn't take the track item selection");
  return selection;
}

/**
 * Runs `use` with the sequence's selection holding exactly `clips`, then gives the user
 * back the selection they had (less what `use` took off the timeline).
 * @template T
 * @param {Sequence} seq @param {TrackItem[]} clips @param {(selection: any) => Promise<T> | T} use
 * @returns {Promise<T>}
 */
async function withSelection(seq, clips, use) {
  /** @type {TrackItem[]} */
  let before = [];
  try { before = await (await seq.getSelection()).getTrackItems(); } catch (e) { before = []; }
  try {
    return await use(await selectOnly(seq, clips));
  } finally {
    try { await selectOnly(seq, before); } catch (e) { /* the edit stands; only the highlight is lost */ }
  }
}

/** @param {string} a @param {string} b tick texts @returns {string} */
function tickSum(a, b) {
  return (BigInt(a) + BigInt(b)).toString();
}

/** @param {string} a @param {string} b tick texts @returns {string} */
function tickDiff(a, b) {
  return (BigInt(a) - BigInt(b)).toString();
}

/** A track argument as a 0-based index of the given kind, whatever letter it carries. @param {any} ref @param {number} dflt */
function trackIndexArg(ref, dflt) {
  return isMissing(ref) ? dflt : parseTrack(ref).index;
}

/**
 * insert_clip, overwrite_clip and append_clip: lays a project item's marked range on a
 * video and an audio track at one time. `videoTrack: false` or `audioTrack: false` keeps
 * only the other half: Premiere always places both, so the unwanted half goes onto a track
 * of its kind that is empty from the time on (one past the last when none is, which makes
 * Premiere add the track) and is removed there again.
 * @param {any} args @param {CallContext} ctx @param {"insert" | "overwrite" | "append"} how
 */
async function placeClip(args, ctx, how) {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rec = await findItem(sc.project, a.item);
  const noVideo = a.videoTrack === false;
  const noAudio = a.audioTrack === false;
  if (noVideo && noAudio) throw fail("bad_args", "videoTrack and audioTrack can't both be false: nothing would be placed");
  let videoIndex = trackIndexArg(!noVideo && !isMissing(a.videoTrack) ? a.videoTrack : a.track, 0);
  let audioIndex = noAudio ? videoIndex : trackIndexArg(a.audioTrack, videoIndex);
  /** @type {string | null} */
  let at;
  if (how === "append") {
    const along = noVideo ? { kind: /** @type {const} */ ("audio"), index: audioIndex } : parseTrack(isMissing(a.track) ? "V1" : a.track);
    const clips = await trackClips(await getTrack(sc, along));
    at = clips.length > 0 ? clips[clips.length - 1].end.ticks : "0";
  } else {
    at = toTick(a.time, sc);
    if (at === null) at = (await sc.sequence.getPlayerPosition()).ticks;
  }
  const when = /** @type {string} */ (at);
  /** @type {"video" | "audio" | null} */
  const scratch = noVideo ? "video" : noAudio ? "audio" : null;
  const counts = { video: await sc.sequence.getVideoTrackCount(), audio: await sc.sequence.getAudioTrackCount() };
  if (scratch === "video") videoIndex = await freeTrack(sc, "video", BigInt(when), MAX_TICKS, []);
  if (scratch === "audio") audioIndex = await freeTrack(sc, "audio", BigInt(when), MAX_TICKS, []);
  const editor = ppro.SequenceEditor.getEditor(sc.sequence);
  const insert = how === "insert";
  const label = insert ? "Insert Clip" : "Overwrite Clip";
  tx(sc.project, label, () => insert
    ? editor.createInsertProjectItemAction(rec.item, tickTime(when), videoIndex, audioIndex, a.limitShift === true)
    : editor.createOverwriteItemAction(rec.item, tickTime(when), videoIndex, audioIndex));
  let steps = 1;
  if (scratch !== null) {
    const index = scratch === "video" ? videoIndex : audioIndex;
    const unwanted = await clipAt(sc, scratch, index, when, rec.id);
    if (unwanted) {
      await withSelection(sc.sequence, [unwanted], (selection) => tx(sc.project, label, () =>
        editor.createRemoveItemsAction(selection, false, ppro.Constants.MediaType.ANY, false)));
      steps += 1;
    }
    const after = scratch === "video" ? await sc.sequence.getVideoTrackCount() : await sc.sequence.getAudioTrackCount();
    if (after > counts[scratch]) {
      ctx.warn("Premiere added track " + trackLabel({ kind: scratch, index }) + " while placing; it is empty.");
    }
  }
  // What this call placed: the item's clips starting at the time on the tracks it aimed at.
  const mine = (await timelineClips(sc)).filter((c) => c.start.ticks === when && c.itemId === rec.id &&
    (c.kind === "video" ? !noVideo && c.track === videoIndex : !noAudio && c.track === audioIndex));
  const first = mine.length > 0 ? mine[0] : null;
  await confirmEdit(ctx, sc, [{
    subject: "'" + rec.name + "'", key: "placed", should: "be placed at", is: "is at", want: when, time: true,
    read: async () => {
      if (first) return first.start.ticks;
      // Premiere may have snapped the time to a frame: the item's clip nearest it on those tracks.
      const on = (await timelineClips(sc)).filter((c) => c.itemId === rec.id &&
        (c.kind === "video" ? !noVideo && c.track === videoIndex : !noAudio && c.track === audioIndex));
      const near = on.sort((x, y) => Math.abs(Number(BigInt(x.start.ticks) - BigInt(when))) - Math.abs(Number(BigInt(y.start.ticks) - BigInt(when))))[0];
      return near ? near.start.ticks : null;
    },
  }]);
  return withStepsNote({
    mode: insert ? "insert" : "overwrite", item: rec.name, at: timeOut(when, sc),
    videoTrack: noVideo ? null : "V" + (videoIndex + 1), audioTrack: noAudio ? null : "A" + (audioIndex + 1),
    placed: first ? await describeClip(first, sc, false) : null, clips: mine.map((c) => c.ref),
  }, steps);
}

handlers.insert_clip = async (args, ctx) => placeClip(args, ctx, "insert");
handlers.overwrite_clip = async (args, ctx) => placeClip(args, ctx, "overwrite");
handlers.append_clip = async (args, ctx) => placeClip(args, ctx, "append");

handlers.move_clip = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const by = toTick(a.by, sc);
  const to = by === null ? toTick(a.to, sc) : null;
  if (by === null && to === null) throw fail("bad_args", "Pass to (new start time) or by (offset, may be negative)");
  const { targets, all } = await targetSet(sc, a, true);
  const moves = targets.map((c) => ({ c, shift: by !== null ? by : tickDiff(/** @type {string} */ (to), c.start.ticks) }));
  // Each move overwrites what it lands on, so a clip moving right goes before the clips
  // to its left and one moving left before those to its right: targets that move by
  // the same amount never land on each other.
  const key = (/** @type {{c: TimelineClip, shift: string}} */ m) => BigInt(m.c.start.ticks) * (BigInt(m.shift) > 0n ? -1n : 1n);
  moves.sort((x, y) => (key(x) < key(y) ? -1 : key(x) > key(y) ? 1 : 0));
  tx(sc.project, "Move Clip", () => moves.map((m) => m.c.clip.createMoveAction(tickTime(m.shift))));
  await confirmEdit(ctx, sc, moveExpectations(sc, moves, all));
  const moved = new Set(targets.map((c) => c.ref));
  const left = targets.filter((c) => partnersOf(c, all).some((p) => !moved.has(p.ref)));
  if (left.length > 0) {
    // A forum report on Adobe's developer forum: moving only the audio of a linked pair
    // back breaks the link. Premiere's link state is not readable from UXP.
    ctx.warn("Moved " + left.map((c) => c.ref).join(", ") + " without the clips linked to it; Premiere may unlink them.");
  }
  return { moved: targets.map((c) => c.ref), _note: "Moving can overwrite neighbors; call premiere_get_sequence to see the result." };
};

/**
 * What a move means for the timeline: every moved clip where it was sent (same track,
 * length and source), and every clip the moves did not land on where it was. (A report on
 * Adobe's developer forum: a move past a clip of the same source on the same track can
 * leave that clip invisible.) Clips the moves landed on may be trimmed or gone: moving
 * overwrites.
 * @param {SeqContext} sc @param {{ c: TimelineClip, shift: string }[]} moves @param {TimelineClip[]} before
 * @returns {Expectation[]}
 */
function moveExpectations(sc, moves, before) {
  const landed = moves.map((m) => ({
    kind: m.c.kind, track: m.c.track, from: BigInt(m.c.start.ticks) + BigInt(m.shift), to: BigInt(m.c.end.ticks) + BigInt(m.shift),
  }));
  const movedRefs = new Set(moves.map((m) => m.c.ref));
  const stay = before.filter((c) => !movedRefs.has(c.ref) &&
    !landed.some((l) => l.kind === c.kind && l.track === c.track && BigInt(c.start.ticks) < l.to && l.from < BigInt(c.end.ticks)));
  return clipsAt(sc, [
    ...moves.map((m) => ({ c: m.c, start: tickSum(m.c.start.ticks, m.shift) })),
    ...stay.map((c) => ({ c, start: c.start.ticks })),
  ]);
}

handlers.trim_clip = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  const startAt = toTick(a.start, sc);
  const trimStart = toTick(a.trimStart, sc);
  const endAt = toTick(a.end, sc);
  const trimEnd = toTick(a.trimEnd, sc);
  const inPoint = toTick(a.inPoint, sc);
  const outPoint = toTick(a.outPoint, sc);
  const newStart = startAt !== null ? startAt : trimStart !== null ? tickSum(rc.start.ticks, trimStart) : null;
  const newEnd = endAt !== null ? endAt : trimEnd !== null ? tickDiff(rc.end.ticks, trimEnd) : null;
  const { targets } = await targetSet(sc, { clip: rc.ref, linked: a.linked }, true);
  const partners = targets.slice(1);
  tx(sc.project, "Trim Clip", () => targets.map((c) => [
    newStart !== null && c.clip.createSetStartAction(tickTime(newStart)),
    newEnd !== null && c.clip.createSetEndAction(tickTime(newEnd)),
    inPoint !== null && c.clip.createSetInPointAction(tickTime(inPoint)),
    outPoint !== null && c.clip.createSetOutPointAction(tickTime(outPoint)),
  ]));
  await confirmEdit(ctx, sc, targets.flatMap((c) => clipTimes(c.ref, c.clip, { start: newStart, end: newEnd, inPoint, outPoint })));
  /** @type {any} */
  let after = null;
  try { after = await describeClip(await findClip(sc, rc.ref), sc, false); } catch (e) { after = null; }
  return { clip: rc.ref, linked: partners.map((c) => c.ref), after };
};

handlers.remove_clips = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const { targets } = await targetSet(sc, a, true);
  const ripple = a.ripple === true;
  const editor = ppro.SequenceEditor.getEditor(sc.sequence);
  await withSelection(sc.sequence, targets.map((c) => c.clip), (selection) =>
    tx(sc.project, ripple ? "Ripple Delete" : "Delete Clips", () =>
      editor.createRemoveItemsAction(selection, ripple, ppro.Constants.MediaType.ANY, a.shiftOverlapping === true)));
  /** @type {Promise<TimelineClip[]> | null} */
  let after = null;
  await confirmEdit(ctx, sc, targets.map((c) => ({
    subject: c.ref, key: c.ref, should: "be", is: "is", want: "removed",
    read: async () => ((await (after === null ? (after = timelineClips(sc)) : after)).some((x) => x.kind === c.kind && x.track === c.track &&
      x.itemId === c.itemId && x.start.ticks === c.start.ticks && x.end.ticks === c.end.ticks) ? "still there" : "removed"),
  })));
  return { removed: targets.map((c) => c.ref), ripple };
};

handlers.remove_gap = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  const all = await timelineClips(sc);
  const onTrack = (/** @type {TimelineClip} */ c) => all.filter((x) => x.kind === c.kind && x.track === c.track);
  const self = /** @type {TimelineClip} */ (all.find((c) => c.ref === rc.ref));
  const previousEnd = (/** @type {TimelineClip} */ c) => (c.index > 0 ? BigInt(onTrack(c)[c.index - 1].end.ticks) : 0n);
  const start = BigInt(self.start.ticks);
  const gap = start - previousEnd(self);
  if (gap <= 0n) return { gap: 0 };
  const gapSeconds = round3(Number(gap) / TICKS_PER_SECOND);
  /** @type {TimelineClip[]} */
  const moving = onTrack(self).filter((c) => c.index >= self.index);
  if (a.linked !== false) {
    for (const p of partnersOf(self, all)) {
      if (start - previousEnd(p) < gap) {
        throw fail("gap_blocked", p.ref + " can't shift left by " + gapSeconds + "s without overlapping the clip before it. Pass linked:false to close the gap on " + trackLabel({ kind: self.kind, index: self.track }) + " only.");
      }
      for (const c of onTrack(p)) if (c.index >= p.index) moving.push(c);
    }
  }
  // Leftmost first: every clip moves into room that is already free.
  moving.sort((x, y) => (BigInt(x.start.ticks) < BigInt(y.start.ticks) ? -1 : 1));
  const shift = (-gap).toString();
  tx(sc.project, "Close Gap", () => moving.map((c) => c.clip.createMoveAction(tickTime(shift))));
  await confirmEdit(ctx, sc, clipsAt(sc, moving.map((c) => ({ c, start: tickSum(c.start.ticks, shift) }))));
  return { closed: gapSeconds, movedClips: moving.length };
};

/** @typedef {TimelineClip & { label: string, speed: number }} RazorSpan */

handlers.razor = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const parsed = toTick(a.time, sc);
  if (parsed === null) throw fail("bad_args", "time is required");
  let at = parsed;
  const probe = tickTime(at);
  if (sc.rate && typeof probe.alignToNearestFrame === "function") {
    try {
      // The sequence's own FrameRate carries its exact ticks per frame (29.97 is 30000/1001).
      /** @type {any} */
      let rate = null;
      try { rate = (await sc.sequence.getSettings()).getVideoFrameRate(); } catch (e) { rate = null; }
      if (!rate || !(rate.ticksPerFrame > 0)) rate = ppro.FrameRate.createWithValue(sc.rate.value);
      at = probe.alignToNearestFrame(rate).ticks;
    } catch (e) {
      at = parsed;
    }
  }
  const t = BigInt(at);
  const wanted = Array.isArray(a.tracks) ? a.tracks.map((x) => String(x).toUpperCase()) : null;
  /** @type {RazorSpan[]} */
  const spans = [];
  for (const c of await timelineClips(sc)) {
    const label = trackLabel({ kind: c.kind, index: c.track });
    if (wanted && wanted.indexOf(label) < 0) continue;
    if (!(BigInt(c.start.ticks) < t && t < BigInt(c.end.ticks))) continue;
    /** @type {number} */
    let speed = 1;
    try { const s = await c.clip.getSpeed(); if (typeof s === "number" && isFinite(s)) speed = s; } catch (e) { speed = 1; }
    spans.push(Object.assign({}, c, { label, speed }));
  }
  /** @type {string[]} */
  const cutTracks = [];
  if (spans.length === 0) {
    ctx.warn("No clip spans that time on the chosen tracks — nothing was cut.");
    return { cutTracks, at: timeOut(at, sc), method: "uxp-overwrite" };
  }
  /** @type {RazorSpan[][]} */
  const groups = [];
  for (const s of spans) {
    const g = s.itemId === null ? undefined : groups.find((x) => x[0].itemId === s.itemId && x[0].start.ticks === s.start.ticks && x[0].end.ticks === s.end.ticks);
    if (g) g.push(s); else groups.push([s]);
  }
  // Every group is checked before any is cut, so a razor that cannot be done changes nothing.
  for (const group of groups) {
    if (Math.abs(group[0].speed - 1) > 0.000001) {
      throw fail("razor_speed", "This clip has a speed change; the UXP razor fallback can't keep sync. Connect the CEP helper (premiere_install_plugin + restart Premiere) for a true razor.");
    }
  }
  let steps = 0;
  for (const group of groups) {
    steps += await razorGroup(sc, group, at, ctx);
    for (const m of group) cutTracks.push(m.label);
  }
  // Each cut clip is now two: its left half up to the cut, its right half from it.
  await confirmEdit(ctx, sc, clipsAt(sc, spans.flatMap((m) => [
    { c: Object.assign({}, m, { ref: m.ref + " left half", end: tickTime(at) }), start: m.start.ticks },
    { c: Object.assign({}, m, { ref: m.ref + " right half", start: tickTime(at) }), start: at },
  ])));
  return withStepsNote({ cutTracks, at: timeOut(at, sc), method: "uxp-overwrite" }, steps);
};

/**
 * The first track of a kind that is free over [from, to) and is not one of `busy`, or one
 * past the last (an edit aimed there makes Premiere add the track).
 * @param {SeqContext} sc @param {"video" | "audio"} kind @param {bigint} from @param {bigint} to @param {number[]} busy
 */
async function freeTrack(sc, kind, from, to, busy) {
  const count = kind === "video" ? await sc.sequence.getVideoTrackCount() : await sc.sequence.getAudioTrackCount();
  for (let i = 0; i < count; i++) {
    if (busy.indexOf(i) >= 0) continue;
    const clips = await trackClips(await getTrack(sc, { kind, index: i }));
    if (clips.every((c) => BigInt(c.end.ticks) <= from || BigInt(c.start.ticks) >= to)) return i;
  }
  return count;
}

/**
 * The clip of `kind` on track `index` that starts at `start` and comes from `itemId`.
 * @param {SeqContext} sc @param {"video" | "audio"} kind @param {number} index @param {string} start @param {string | null} itemId
 */
async function clipAt(sc, kind, index, start, itemId) {
  for (const c of await trackClips(await getTrack(sc, { kind, index }))) {
    if (c.start.ticks === start && (await projectItemIdOf(c.clip)) === itemId) return c.clip;
  }
  return null;
}

/**
 * Cuts one linked group at `at` from the clips themselves, so both halves keep everything
 * a clip carries (effects, keyframes, volume, name, disabled state, transitions). UXP has
 * no razor and cannot move a clip to another track, so each member is cloned onto a track
 * that is free under it, the original is trimmed to the left half and the clone to the
 * right half (a head trim keeps the picture in sync), the right half is cloned back onto
 * the original's track and the scratch copy removed. Answers the undo steps taken.
 * @param {SeqContext} sc @param {RazorSpan[]} group @param {string} at @param {CallContext} ctx
 */
async function razorGroup(sc, group, at, ctx) {
  const editor = ppro.SequenceEditor.getEditor(sc.sequence);
  const first = group[0];
  const from = BigInt(first.start.ticks);
  const to = BigInt(first.end.ticks);
  /** @type {Record<string, number>} */
  const scratch = {};
  /** @type {("video" | "audio")[]} */
  const added = [];
  for (const kind of /** @type {const} */ (["video", "audio"])) {
    const members = group.filter((m) => m.kind === kind);
    if (members.length === 0) continue;
    scratch[kind] = await freeTrack(sc, kind, from, to, members.map((m) => m.track));
    const count = kind === "video" ? await sc.sequence.getVideoTrackCount() : await sc.sequence.getAudioTrackCount();
    if (scratch[kind] === count) added.push(kind);
  }
  const offsets = (/** @type {RazorSpan} */ m, /** @type {number} */ target) => (m.kind === "video" ? [target - m.track, 0] : [0, target - m.track]);
  let steps = 0;
  /** @type {TrackItem[]} */
  let copies = [];
  const dropCopies = async () => {
    const live = copies;
    copies = [];
    if (live.length === 0) return;
    await withSelection(sc.sequence, live, (selection) =>
      tx(sc.project, "Razor (cleanup)", () => editor.createRemoveItemsAction(selection, false, ppro.Constants.MediaType.ANY)));
    steps += 1;
  };
  let trimmed = false;
  try {
    tx(sc.project, "Razor (copy)", () => group.map((m) => {
      const [dv, da] = offsets(m, scratch[m.kind]);
      return editor.createCloneTrackItemAction(m.clip, tickTime("0"), dv, da, true, false);
    }));
    steps += 1;
    for (const m of group) {
      const copy = await clipAt(sc, m.kind, scratch[m.kind], first.start.ticks, m.itemId);
      if (copy) copies.push(copy);
    }
    if (copies.length !== group.length) {
      throw notApplied([{ e: expectValue(first.ref, "copies for the cut", group.length, () => copies.length), found: copies.length }]);
    }
    const lefts = group.map((m) => m.clip);
    const rights = copies.slice();
    tx(sc.project, "Razor (trim)", () => [
      lefts.map((c) => c.createSetEndAction(tickTime(at))),
      rights.map((c) => c.createSetStartAction(tickTime(at))),
    ]);
    trimmed = true;
    steps += 1;
    tx(sc.project, "Razor (place)", () => group.map((m, i) => {
      const [dv, da] = offsets(m, scratch[m.kind]);
      return editor.createCloneTrackItemAction(rights[i], tickTime("0"), -dv, -da, true, false);
    }));
    steps += 1;
  } catch (e) {
    // Undo what was done: the trimmed clips get their tails back, the copies go.
    try {
      if (trimmed) tx(sc.project, "Razor (revert trim)", () => group.map((m) => m.clip.createSetEndAction(tickTime(m.end.ticks))));
      await dropCopies();
    } catch (ignored) {
      // the failure being reported is the one that matters
    }
    throw e;
  }
  await dropCopies();
  // A razor leaves a clip's head transition on the left half and its tail transition on the
  // right one; the copies carried both, so the cut edges lose theirs (where there is one).
  for (let i = 0; i < group.length; i++) {
    const m = group[i];
    if (m.kind !== "video") continue;
    const P = ppro.Constants.TransitionPosition;
    const right = await clipAt(sc, "video", m.track, at, m.itemId);
    /** @type {[any, number][]} */
    const edges = [[m.clip, P.END], [right, P.START]];
    for (const [clip, position] of edges) {
      if (!clip) continue;
      try {
        tx(sc.project, "Razor (transitions)", () => /** @type {VideoClipTrackItem} */ (clip).createRemoveVideoTransitionAction(position));
        steps += 1;
      } catch (e) {
        // no transition on that edge
      }
    }
  }
  for (const kind of added) {
    ctx.warn("The cut needed a free " + kind + " track to build the right half on, so Premiere added " +
      trackLabel({ kind, index: scratch[kind] }) + "; it is empty now (UXP can't remove tracks).");
  }
  return steps;
}

handlers.set_clip_enabled = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const { targets } = await targetSet(sc, a, false);
  const enabled = a.enabled !== false;
  tx(sc.project, "Enable/Disable", () => targets.map((c) => c.clip.createSetDisabledAction(!enabled)));
  await confirmEdit(ctx, sc, targets.map((c) => expectValue(c.ref, "enabled", enabled, async () => !(await c.clip.isDisabled()))));
  return { clips: targets.map((c) => c.ref), enabled };
};

handlers.rename_clip = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  if (typeof a.name !== "string") throw fail("bad_args", "name is required");
  const name = a.name;
  tx(sc.project, "Rename Clip", () => rc.clip.createSetNameAction(name));
  await confirmEdit(ctx, sc, [expectValue(rc.ref, "name", name, async () => await rc.clip.getName())]);
  return { clip: rc.ref, name };
};

/** A whole number of tracks (may be negative); anything else counts as absent. @param {any} v */
function trackOffset(v) {
  return typeof v === "number" && Number.isInteger(v) ? v : 0;
}

handlers.duplicate_clip = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  const offset = toTick(a.offset, sc) || "0";
  const self = /** @type {TimelineClip} */ ((await timelineClips(sc)).find((c) => c.ref === rc.ref) || Object.assign({ itemId: null }, rc));
  const editor = ppro.SequenceEditor.getEditor(sc.sequence);
  tx(sc.project, "Duplicate Clip", () => editor.createCloneTrackItemAction(rc.clip, tickTime(offset),
    trackOffset(a.videoTrackOffset), trackOffset(a.audioTrackOffset), a.alignToVideo !== false, a.insert === true));
  const copy = Object.assign({}, self, { ref: rc.ref + " copy" });
  const track = rc.track + trackOffset(rc.kind === "video" ? a.videoTrackOffset : a.audioTrackOffset);
  await confirmEdit(ctx, sc, clipsAt(sc, [{ c: copy, start: tickSum(rc.start.ticks, offset), track }]));
  return { duplicated: rc.ref };
};

handlers.select_clips = async (args) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const { targets } = await targetSet(sc, a, true);
  await selectOnly(sc.sequence, targets.map((c) => c.clip));
  return { selected: targets.map((c) => c.ref) };
};

handlers.get_selection = async (args) => {
  const sc = await sequenceContext(argsOf(args));
  const selection = await sc.sequence.getSelection();
  const items = [];
  for (const ti of await selection.getTrackItems()) {
    items.push({
      name: await ti.getName(),
      start: timeOut(await ti.getStartTime(), sc),
      end: timeOut(await ti.getEndTime(), sc),
      track: await ti.getTrackIndex(),
    });
  }
  return { count: items.length, items };
};

handlers.clear_selection = async (args) => {
  const sc = await sequenceContext(argsOf(args));
  return { cleared: await sc.sequence.clearSelection() };
};

handlers.scene_edit_detection = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const operation = isMissing(a.operation) ? "cut" : a.operation;
  const U = ppro.SequenceUtils;
  /** @type {Record<string, string>} */
  const ops = { cut: U.SEQUENCE_OPERATION_APPLYCUT, marker: U.SEQUENCE_OPERATION_CREATEMARKER, subclip: U.SEQUENCE_OPERATION_CREATESUBCLIP };
  if (typeof operation !== "string" || !Object.prototype.hasOwnProperty.call(ops, operation)) {
    throw fail("bad_args", "operation must be \"cut\", \"marker\" or \"subclip\"");
  }
  const { targets } = await targetSet(sc, a, false);
  const started = await withSelection(sc.sequence, targets.map((c) => c.clip), async (selection) =>
    await U.performSceneEditDetectionOnSelection(ops[operation], selection));
  ctx.unverified = "Premiere detects the scenes after the call returns; premiere_get_sequence shows the cuts once it is done";
  return { started, operation };
};

handlers.set_track_mute = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const ref = parseTrack(a.track);
  const track = await getTrack(sc, ref);
  await track.setMute(a.mute !== false);
  await confirmEdit(ctx, sc, [expectValue(trackLabel(ref), "muted", a.mute !== false, async () => !!(await track.isMuted()))]);
  return { track: trackLabel(ref), muted: !!(await track.isMuted()) };
};

handlers.rename_track = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const ref = parseTrack(a.track);
  const track = await getTrack(sc, ref);
  if (typeof a.name !== "string") throw fail("bad_args", "name is required");
  const name = a.name;
  if (typeof track.createSetNameAction !== "function") {
    throw tooOld("premiere_rename_track", (ref.kind === "audio" ? "AudioTrack" : "VideoTrack") + ".createSetNameAction", "26.3");
  }
  tx(sc.project, "Rename Track", () => track.createSetNameAction(name));
  await confirmEdit(ctx, sc, [expectValue(trackLabel(ref), "name", name, async () => (await getTrack(sc, ref)).name)]);
  return { track: trackLabel(ref), name };
};

// ---------------------------------------------------------------------------------------
// Verbs: effects, keyframes, transitions, MOGRTs, audio, markers, export, Source Monitor,
// eval. Keyframe positions live in the clip's media time; see `keyTicks`.

/** @typedef {{ index: number, component: Component, displayName: string, matchName: string }} ComponentEntry */

/**
 * What a name given by a caller means among `list`. Names are compared in lower case with
 * white space removed. A candidate one of whose names equals the wanted one wins (the first
 * such); otherwise, for a name of three letters or more, the candidates with a name
 * containing it: one is a loose `hit`, several leave `hit` null with them as `candidates`.
 * @template T
 * @param {T[]} list @param {(c: T) => (string | null | undefined)[]} namesOf @param {string} wanted
 * @returns {{ hit: T | null, loose: boolean, candidates: T[] }}
 */
function matchByName(list, namesOf, wanted) {
  const squash = (/** @type {any} */ n) => String(n).toLowerCase().replace(/\s+/g, "");
  const key = squash(wanted);
  const names = (/** @type {T} */ c) => namesOf(c).filter((n) => typeof n === "string" && n !== "").map(squash);
  const exact = list.find((c) => names(c).indexOf(key) >= 0);
  if (exact !== undefined) return { hit: exact, loose: false, candidates: [exact] };
  const partial = key.length < 3 ? [] : list.filter((c) => names(c).some((n) => n.indexOf(key) >= 0));
  return { hit: partial.length === 1 ? partial[0] : null, loose: partial.length === 1, candidates: partial };
}

/**
 * Warns that a name was taken loosely and says what it was taken for.
 * @param {CallContext} ctx @param {string} what @param {any} wanted @param {string} used
 */
function warnLoose(ctx, what, wanted, used) {
  ctx.warn("No " + what + " is named exactly '" + refText(wanted) + "'; used " + used + ".");
}

/** A call context that passes each distinct warning on once (for verbs with several targets). @param {CallContext} ctx @returns {CallContext} */
function warnOnce(ctx) {
  const seen = new Set();
  return { warn: (text) => { if (!seen.has(text)) { seen.add(text); ctx.warn(text); } } };
}

/**
 * The candidates of an ambiguous name, for the end of a not-found message ("" when there are none).
 * @param {string[]} names
 */
function candidatesNote(names) {
  return names.length > 1 ? " Several match; did you mean one of: " + names.join(", ") + "?" : "";
}

/** The target set without linked partners: the clips named by `clips` or `clip`, each once. @param {SeqContext} sc @param {any} a */
async function clipTargets(sc, a) {
  return (await targetSet(sc, a, false)).targets;
}

/** A clip's component chain with each component's names, in chain order. @param {TrackItem} clip */
async function componentsOf(clip) {
  const chain = await clip.getComponentChain();
  /** @type {ComponentEntry[]} */
  const out = [];
  const n = chain.getComponentCount();
  for (let i = 0; i < n; i++) {
    const component = chain.getComponentAtIndex(i);
    out.push({ index: i, component, displayName: await component.getDisplayName(), matchName: await component.getMatchName() });
  }
  return out;
}

// The fixed effects every clip carries. Their display names and those of their parameters
// are localised (a German Premiere shows "Bewegung" and "Skalierung"), so they are found by
// match name, and their parameters by position: the order in which each component defines
// them, the order of the Effect Controls panel (Component.getParam: "the actual is defined
// exclusively by the component itself"). The English names stay usable as references.
// `ranges` are the values Premiere holds for a numeric parameter (the limits of its
// Effect Controls slider); a value outside is refused rather than silently clamped.
/** @type {Record<string, { matchName: string, name: string, params: string[], ranges?: Record<string, [number, number]> }>} */
const FIXED = {
  motion: { matchName: "AE.ADBE Motion", name: "Motion", params: ["Position", "Scale", "Scale Width", "Uniform Scale", "Rotation", "Anchor Point", "Anti-flicker Filter"],
    ranges: { "Scale": [0, 10000], "Scale Width": [0, 10000], "Anti-flicker Filter": [0, 1] } },
  opacity: { matchName: "AE.ADBE Opacity", name: "Opacity", params: ["Opacity", "Blend Mode"], ranges: { "Opacity": [0, 100] } },
  volume: { matchName: "ADBE Volume", name: "Volume", params: ["Bypass", "Level"], ranges: { "Level": [0, 1] } },
  channelVolume: { matchName: "ADBE Channel Volume", name: "Channel Volume", params: ["Bypass", "Left", "Right"] },
  panner: { matchName: "ADBE Panner", name: "Panner", params: ["Balance"] },
};

/** The fixed effect with that match name, if it is one. @param {string} matchName */
function fixedByMatchName(matchName) {
  for (const key of Object.keys(FIXED)) if (FIXED[key].matchName === matchName) return FIXED[key];
  return null;
}

/** @param {ComponentEntry[]} list @param {any} ref */
function componentNotFound(list, ref) {
  return fail("component_not_found", "No component '" + refText(ref) + "' on this clip. It has: " +
    list.map((c) => c.displayName + " (" + c.matchName + ")").join(", "));
}

/**
 * A component by chain index (number), match name, display name or, for the fixed effects,
 * their English name (any case); 0 when the reference is missing. Given a call context, a
 * name that is part of exactly one component's names finds it, with a warning.
 * @param {TrackItem} clip @param {any} ref @param {CallContext} [ctx]
 * @returns {Promise<ComponentEntry & { chain: VideoComponentChain | AudioComponentChain }>}
 */
async function findComponent(clip, ref, ctx) {
  const chain = await clip.getComponentChain();
  const list = await componentsOf(clip);
  const r = isMissing(ref) ? 0 : ref;
  let hit;
  if (typeof r === "number") {
    hit = list.find((c) => c.index === r);
  } else {
    const fixed = (/** @type {ComponentEntry} */ c) => { const f = fixedByMatchName(c.matchName); return f ? f.name : null; };
    const m = matchByName(list, (c) => [c.displayName, c.matchName, fixed(c)], String(r));
    if (m.hit && m.loose && ctx) warnLoose(ctx, "component", r, "'" + m.hit.displayName + "' (" + m.hit.matchName + ")");
    hit = m.hit && (!m.loose || ctx) ? m.hit : null;
    if (!hit) {
      const e = componentNotFound(list, r);
      e.message += candidatesNote(m.candidates.map((c) => c.displayName));
      throw e;
    }
  }
  if (!hit) throw componentNotFound(list, r);
  return Object.assign({ chain }, hit);
}

/**
 * A fixed effect of a clip by its match name; a clip without it (a Motion on an audio
 * clip, say) fails with "component_not_found".
 * @param {TrackItem} clip @param {string} key a key of FIXED
 */
async function fixedComponent(clip, key) {
  const list = await componentsOf(clip);
  const hit = list.find((c) => c.matchName === FIXED[key].matchName);
  if (!hit) throw componentNotFound(list, FIXED[key].name);
  return hit;
}

/** @param {Component} component */
function paramsOf(component) {
  const params = [];
  const n = component.getParamCount();
  for (let i = 0; i < n; i++) params.push(component.getParam(i));
  return params;
}

/**
 * A parameter of a component by index (number), display name or, on a fixed effect (given
 * its match name), its English name (any case). Given a call context, a name that is part
 * of exactly one parameter's names finds it, with a warning.
 * @param {Component} component @param {any} ref @param {string} [matchName] the component's
 * @param {CallContext} [ctx]
 * @returns {ComponentParam}
 */
function findParam(component, ref, matchName, ctx) {
  const params = paramsOf(component);
  /** @type {ComponentParam | null} */
  let hit = null;
  let note = "";
  if (typeof ref === "number") {
    hit = Number.isInteger(ref) && ref >= 0 && ref < params.length ? params[ref] : null;
  } else if (!isMissing(ref)) {
    const fixed = matchName === undefined ? null : fixedByMatchName(matchName);
    const english = fixed && fixed.params.length === params.length ? fixed.params : [];
    const m = matchByName(params.map((p, i) => i), (i) => [params[i].displayName, english[i]], String(ref));
    if (m.hit !== null && m.loose && ctx) warnLoose(ctx, "parameter", ref, "'" + params[m.hit].displayName + "'");
    hit = m.hit !== null && (!m.loose || ctx) ? params[m.hit] : null;
    note = candidatesNote(m.candidates.map((i) => params[i].displayName));
  }
  if (!hit) throw fail("param_not_found", "No parameter '" + refText(ref) + "'. Parameters: " + params.map((p) => p.displayName).join(", ") + note);
  return hit;
}

/**
 * A fixed effect's parameter by its place in the component (see FIXED); a component whose
 * parameters are not the expected ones fails rather than set the wrong one.
 * @param {ComponentEntry} entry @param {string} key a key of FIXED @param {string} name English parameter name
 */
function fixedParam(entry, key, name) {
  const params = paramsOf(entry.component);
  const i = FIXED[key].params.indexOf(name);
  if (params.length !== FIXED[key].params.length || i < 0) {
    throw fail("param_not_found", "'" + entry.displayName + "' (" + entry.matchName + ") doesn't have the parameters expected (" +
      FIXED[key].params.join(", ") + "); it has: " + params.map((p) => p.displayName).join(", "));
  }
  return params[i];
}

/** Volume: Premiere's linear Level has 0 dB at 10^(-15/20) and +15 dB at 1.0. @param {number} db */
function dbToLevel(db) {
  return Math.pow(10, (db - 15) / 20);
}

/** @param {number} level */
function levelToDb(level) {
  return level > 0 ? 20 * Math.log10(level) + 15 : -Infinity;
}

/** A value as a caller sends it → what Premiere takes: [x, y] and {x, y} → PointF, {red…} → Color. @param {any} v */
function toParamValue(v) {
  /** @param {any[]} parts */
  const numbers = (parts) => {
    if (!parts.every(finiteNumber)) throw fail("bad_value", "Value " + refText(v) + " needs numbers for every coordinate or colour component.");
    return parts;
  };
  if (Array.isArray(v) && v.length === 2) {
    const [x, y] = numbers(v);
    return new ppro.PointF(x, y);
  }
  if (v !== null && typeof v === "object" && !Array.isArray(v)) {
    if ("x" in v && "y" in v) {
      const [x, y] = numbers([v.x, v.y]);
      return new ppro.PointF(x, y);
    }
    if ("red" in v) {
      const [r, g, b, alpha] = numbers([v.red, v.green, v.blue, isMissing(v.alpha) ? 1 : v.alpha]);
      return new ppro.Color(r, g, b, alpha);
    }
  }
  if (typeof v === "number" && !isFinite(v)) throw fail("bad_value", "Value must be a finite number.");
  return v;
}

/** A value Premiere gives → JSON: points as [x, y], colours as {red, green, blue, alpha}. @param {any} v */
function fromParamValue(v) {
  if (v !== null && typeof v === "object") {
    if (typeof v.x === "number" && typeof v.y === "number") return [v.x, v.y];
    if (typeof v.red === "number") return { red: v.red, green: v.green, blue: v.blue, alpha: v.alpha };
  }
  return toJsonSafe(v);
}

/** A parameter's value at a media time (ticks), or null when Premiere can't say. @param {ComponentParam} param @param {string} ticks */
async function paramValueAt(param, ticks) {
  /** @param {any} v */
  const unwrap = (v) => (v !== null && typeof v === "object" && "value" in v ? v.value : v);
  try {
    return fromParamValue(unwrap(await param.getValueAtTime(tickTime(ticks))));
  } catch (e) {
    // fall back to the start value
  }
  try {
    const kf = await param.getStartValue();
    return fromParamValue(unwrap(unwrap(kf.value)));
  } catch (e) {
    return null;
  }
}

/** @typedef {{ start: bigint, inPoint: bigint }} ClipBase */

/** @param {ResolvedClip} rc @returns {Promise<ClipBase>} */
async function clipBase(rc) {
  return { start: BigInt(rc.start.ticks), inPoint: BigInt((await rc.clip.getInPoint()).ticks) };
}

/**
 * A keyframe time as Premiere keeps it (the clip's media time): sequence time by default,
 * converted as time − clip start + in point; with timeBase "clip" the time as given.
 * @param {any} value @param {any} timeBase @param {ClipBase} base @param {SeqContext} sc @returns {string | null}
 */
function keyTicks(value, timeBase, base, sc) {
  const t = toTick(value, sc);
  if (t === null) return null;
  if (timeBase === "clip") return t;
  return (BigInt(t) - base.start + base.inPoint).toString();
}

/** A keyframe position (media time) in sequence seconds. @param {any} position @param {ClipBase} base */
function keySeconds(position, base) {
  return round3(Number(BigInt(position.ticks) - base.inPoint + base.start) / TICKS_PER_SECOND);
}

/**
 * Refuses a number outside the range Premiere holds for a fixed effect's parameter.
 * @param {ComponentEntry} entry the parameter's component @param {ComponentParam} param @param {any} value
 */
function checkRange(entry, param, value) {
  const fixed = fixedByMatchName(entry.matchName);
  if (!fixed || !fixed.ranges || typeof value !== "number") return;
  const params = paramsOf(entry.component);
  const i = params.findIndex((p) => p.displayName === param.displayName);
  const range = i >= 0 && params.length === fixed.params.length ? fixed.ranges[fixed.params[i]] : undefined;
  if (range && (value < range[0] || value > range[1])) {
    throw fail("bad_value", "Value " + value + " is outside the range of '" + param.displayName + "' (" + range[0] + " to " + range[1] + ").");
  }
}

/** @param {ComponentParam} param @param {any} value @returns {Keyframe} */
function makeKeyframe(param, value) {
  try {
    return param.createKeyframe(toParamValue(value));
  } catch (e) {
    throw fail("bad_value", "Value " + refText(value) + " doesn't fit parameter '" + param.displayName + "' (" + (e && e.message ? e.message : String(e)) + "). Read its current value with premiere_get_clip_effects and send the same shape.");
  }
}

/** @param {ComponentParam} param @param {string | null} ticks */
function checkStatic(param, ticks) {
  if (ticks === null && param.isTimeVarying()) {
    throw fail("param_animated", "'" + param.displayName + "' has keyframes; pass time to add one, or premiere_remove_keyframes {all:true} to make it static first.");
  }
}

/** @typedef {{ param: ComponentParam, kf: Keyframe, ticks: string | null }} ValueEdit */

/**
 * Sets values: static ones (ticks null) in one transaction; keyframes as Adobe's keyframe
 * sample adds them, in separate transactions, each built once what it depends on is there:
 * first the parameters that are not time-varying yet are switched on, then the keyframes
 * are added, then (with `mode`) their interpolation is set. Premiere 26.3 warns that actions
 * carry data that goes stale, so an "add keyframe" built before its parameter is
 * time-varying is not to be trusted. The scripting API has no undo group, so each
 * transaction is an undo step of its own; answers how many ran. `confirm` reads the result
 * back. When a later step or the read-back fails, what was done is taken back (best
 * effort: the static values set back, the keyframes added removed, the parameters switched
 * on switched off) before the error goes out.
 * @param {Project} project @param {string} label @param {ValueEdit[]} edits @param {number | null} mode
 * @param {() => Promise<void>} confirm
 */
async function applyValues(project, label, edits, mode, confirm) {
  const fixed = edits.filter((e) => e.ticks === null);
  const keyed = edits.filter((e) => e.ticks !== null);
  const params = [...new Set(keyed.map((e) => e.param))];
  const switched = params.filter((p) => !p.isTimeVarying());
  /** @type {Map<ComponentParam, Set<string>>} */
  const had = new Map(params.map((p) => [p, new Set(p.getKeyframeListAsTickTimes().map((t) => String(t.ticks)))]));
  /** @type {{ param: ComponentParam, kf: Keyframe }[]} */
  const olds = [];
  for (const e of fixed) olds.push({ param: e.param, kf: await e.param.getStartValue() });
  // Switching keyframing off keeps a keyframe's value: the static values to put back.
  /** @type {{ param: ComponentParam, kf: Keyframe }[]} */
  const statics = [];
  for (const p of switched) statics.push({ param: p, kf: await p.getStartValue() });
  let steps = 0;
  let setFixed = false;
  let added = false;
  if (fixed.length > 0) {
    tx(project, label, () => fixed.map((e) => e.param.createSetValueAction(e.kf, true)));
    setFixed = true;
    steps += 1;
  }
  try {
    if (keyed.length > 0) {
      if (switched.length > 0) {
        tx(project, label, () => switched.map((p) => p.createSetTimeVaryingAction(true)));
        steps += 1;
      }
      tx(project, label, () => keyed.map((e) => e.param.createAddKeyframeAction(e.kf)));
      added = true;
      steps += 1;
      if (mode !== null) {
        tx(project, label, () => keyed.map((e) => e.param.createSetInterpolationAtKeyframeAction(tickTime(/** @type {string} */ (e.ticks)), mode, true)));
        steps += 1;
      }
    }
    await confirm();
  } catch (e) {
    try {
      if (setFixed) tx(project, label, () => olds.map((o) => o.param.createSetValueAction(o.kf, true)));
      if (added) {
        const fresh = keyed.filter((k) => !(/** @type {Set<string>} */ (had.get(k.param))).has(/** @type {string} */ (k.ticks)) && switched.indexOf(k.param) < 0);
        if (fresh.length > 0) tx(project, label, () => fresh.map((k) => k.param.createRemoveKeyframeAction(tickTime(/** @type {string} */ (k.ticks)), true)));
      }
      if (switched.length > 0) {
        tx(project, label, () => switched.map((p) => p.createSetTimeVaryingAction(false)));
        tx(project, label, () => statics.map((o) => o.param.createSetValueAction(o.kf, true)));
      }
    } catch (ignored) {
      // the original failure is the one to report
    }
    throw e;
  }
  return steps;
}

/**
 * What value edits mean to leave behind: each static value set, each keyframe there with
 * its value. `subject` names an edit's clip and parameter.
 * @param {ValueEdit[]} edits @param {(e: ValueEdit) => string} subject @returns {Expectation[]}
 */
function valueExpectations(edits, subject) {
  /** @param {any} v */
  const unwrap = (v) => (v !== null && typeof v === "object" && "value" in v ? v.value : v);
  return edits.map((e) => {
    const want = fromParamValue(unwrap(unwrap(e.kf.value)));
    const ticks = e.ticks;
    if (ticks === null) return expectValue(subject(e), "", want, () => paramValueAt(e.param, "0"));
    const at = subject(e) + " keyframe at " + round3(Number(BigInt(ticks)) / TICKS_PER_SECOND) + " s (media time)";
    return expectValue(at, "", want, async () =>
      (e.param.getKeyframeListAsTickTimes().some((t) => String(t.ticks) === ticks) ? await paramValueAt(e.param, ticks) : null));
  });
}

/**
 * The answer's `_note` for a verb that took more than one undo step.
 * @param {Record<string, any>} answer @param {number} steps
 */
function withStepsNote(answer, steps) {
  if (steps > 1) {
    answer._note = "Premiere's scripting API has no undo group, so this took " + steps + " undo steps (Edit > Undo " + steps + " times reverts it).";
  }
  return answer;
}

/** The Level parameter of an audio clip's Volume component (by match name and place). @param {TrackItem} clip */
async function volumeParam(clip) {
  const list = await componentsOf(clip);
  const hit = list.find((c) => c.matchName === FIXED.volume.matchName);
  if (!hit) throw fail("no_volume", "This clip has no Volume component — is it an audio clip? Use an A-track ref like \"A1:0\".");
  return fixedParam(hit, "volume", "Level");
}

/** @param {any} v */
function finiteNumber(v) {
  return typeof v === "number" && isFinite(v);
}

/** @param {any} v */
function count(v) {
  return typeof v === "number" && Number.isInteger(v) && v >= 0 ? v : 0;
}

handlers.list_effects = async (args) => {
  const a = argsOf(args);
  const kind = isMissing(a.kind) ? "video" : a.kind;
  /** @type {any[]} */
  let effects;
  if (kind === "video") {
    const matchNames = await ppro.VideoFilterFactory.getMatchNames();
    const displayNames = await ppro.VideoFilterFactory.getDisplayNames();
    effects = matchNames.map((m, i) => ({ matchName: m, displayName: displayNames[i] === undefined ? null : displayNames[i] }));
  } else if (kind === "audio") {
    effects = (await ppro.AudioFilterFactory.getDisplayNames()).map((d) => ({ displayName: d }));
  } else if (kind === "transition") {
    effects = (await ppro.TransitionFactory.getVideoTransitionMatchNames()).map((m) => ({ matchName: m }));
  } else {
    throw fail("bad_args", "kind must be video, audio, or transition");
  }
  if (isText(a.search)) {
    const q = a.search.toLowerCase();
    effects = effects.filter((e) => [e.matchName, e.displayName].some((n) => typeof n === "string" && n.toLowerCase().indexOf(q) >= 0));
  }
  return { kind, count: effects.length, effects };
};

handlers.get_clip_effects = async (args) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  const base = await clipBase(rc);
  const at = isMissing(a.time) ? base.inPoint.toString() : /** @type {string} */ (keyTicks(a.time, a.timeBase, base, sc));
  const components = [];
  for (const c of await componentsOf(rc.clip)) {
    const params = [];
    const n = c.component.getParamCount();
    for (let i = 0; i < n; i++) {
      const p = c.component.getParam(i);
      let animated = false;
      try { animated = !!p.isTimeVarying(); } catch (e) { animated = false; }
      /** @type {number[]} */
      let keyframes = [];
      try { keyframes = p.getKeyframeListAsTickTimes().map((k) => keySeconds(k, base)); } catch (e) { keyframes = []; }
      params.push({ index: i, name: p.displayName, value: await paramValueAt(p, at), animated, keyframes });
    }
    components.push({ index: c.index, displayName: c.displayName, matchName: c.matchName, params });
  }
  /** @type {Record<string, any>} */
  const out = { clip: rc.ref, components };
  if (rc.kind === "video") out.transitions = clipTransitions(await trackTransitions(await getTrack(sc, { kind: "video", index: rc.track })), rc.start, rc.end, sc);
  return out;
};

handlers.add_effect = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  if (!isText(a.matchName) && !isText(a.name)) throw fail("bad_args", "matchName (video) or name is required — premiere_list_effects lists them");
  const targets = await clipTargets(sc, a);
  const label = isText(a.name) ? a.name : a.matchName;
  // A name is looked up once per kind: exactly (any case) or, when only one effect has
  // it as part of its name, loosely with a warning.
  /** @type {string | null} */
  let videoMatchName = isText(a.matchName) ? a.matchName : null;
  /** @type {string | null} */
  let audioName = null;
  /** @type {{ chain: VideoComponentChain | AudioComponentChain, component: any }[]} */
  const adds = [];
  for (const rc of targets) {
    let component = null;
    if (rc.kind === "video") {
      if (videoMatchName === null) {
        const matchNames = await ppro.VideoFilterFactory.getMatchNames();
        const displayNames = await ppro.VideoFilterFactory.getDisplayNames();
        const m = matchByName(matchNames.map((n, i) => i), (i) => [displayNames[i], matchNames[i]], String(a.name));
        if (m.hit === null) {
          throw fail("effect_not_found", "No video effect named '" + a.name + "'. premiere_list_effects {kind:\"video\", search:\"…\"} lists them." +
            candidatesNote(m.candidates.map((i) => String(displayNames[i]))));
        }
        if (m.loose) warnLoose(ctx, "video effect", a.name, "'" + displayNames[m.hit] + "' (" + matchNames[m.hit] + ")");
        videoMatchName = matchNames[m.hit];
      }
      try { component = await ppro.VideoFilterFactory.createComponent(videoMatchName); } catch (e) { component = null; }
    } else {
      if (audioName === null) {
        const names = (await ppro.AudioFilterFactory.getDisplayNames()).map(String);
        const m = matchByName(names, (n) => [n], String(label));
        if (m.hit === null && m.candidates.length > 1) {
          throw fail("effect_not_found", "No audio effect named '" + label + "'." + candidatesNote(m.candidates));
        }
        if (m.hit !== null && m.loose) warnLoose(ctx, "audio effect", label, "'" + m.hit + "'");
        audioName = m.hit !== null ? m.hit : String(label);
      }
      const audioClip = /** @type {AudioClipTrackItem} */ (rc.clip);
      const name = audioName;
      try { component = await ppro.AudioFilterFactory.createComponentByDisplayName(name, audioClip); } catch (e) { component = null; }
    }
    if (!component) throw fail("effect_not_found", "Premiere couldn't create effect '" + label + "'");
    adds.push({ chain: await rc.clip.getComponentChain(), component });
  }
  const index = typeof a.index === "number" && Number.isInteger(a.index) && a.index >= 0 ? a.index : null;
  /** @type {number[]} */
  const counts = [];
  for (const rc of targets) counts.push((await componentsOf(rc.clip)).length);
  tx(sc.project, "Add Effect", () => adds.map((x) => (index === null
    ? x.chain.createAppendComponentAction(x.component)
    : x.chain.createInsertComponentAction(x.component, index))));
  await confirmEdit(ctx, sc, targets.map((rc, i) => expectValue(rc.ref, "component count", counts[i] + 1, async () => (await componentsOf(rc.clip)).length)));
  return { added: label, clips: targets.map((t) => t.ref) };
};

handlers.remove_effect = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  if (isMissing(a.component)) throw fail("bad_args", "component is required (index, name or matchName) — premiere_get_clip_effects lists them");
  const c = await findComponent(rc.clip, a.component, ctx);
  const had = (await componentsOf(rc.clip)).length;
  tx(sc.project, "Remove Effect", () => c.chain.createRemoveComponentAction(c.component));
  await confirmEdit(ctx, sc, [expectValue(rc.ref, "component count", had - 1, async () => (await componentsOf(rc.clip)).length)]);
  return { clip: rc.ref, removed: c.displayName };
};

/**
 * Resolves what set_param does to each target before anything changes, so that a bad
 * component, parameter, time or value leaves the project as it was.
 * @param {SeqContext} sc @param {ResolvedClip[]} targets @param {any} a @param {CallContext} ctx
 */
async function paramEdits(sc, targets, a, ctx) {
  if (a.value === undefined) throw fail("bad_args", "value is required (number, bool, [x,y] or {red,green,blue,alpha})");
  const once = warnOnce(ctx);
  const edits = [];
  for (const rc of targets) {
    const c = await findComponent(rc.clip, a.component, once);
    const param = findParam(c.component, a.param, c.matchName, once);
    const ticks = keyTicks(a.time, a.timeBase, await clipBase(rc), sc);
    checkRange(c, param, a.value);
    const kf = makeKeyframe(param, a.value);
    if (ticks !== null) kf.position = tickTime(ticks);
    checkStatic(param, ticks);
    edits.push({ rc, c, param, kf, ticks });
  }
  return edits;
}

handlers.set_param = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const edits = await paramEdits(sc, await clipTargets(sc, a), a, ctx);
  const keyed = !isMissing(a.time);
  const steps = await applyValues(sc.project, keyed ? "Keyframe" : "Set Param", edits, null,
    () => confirmEdit(ctx, sc, valueExpectations(edits, (e) => /** @type {any} */ (e).rc.ref + " " + e.param.displayName)));
  return withStepsNote({
    set: edits.map((e) => ({
      clip: e.rc.ref, component: e.c.displayName, param: e.param.displayName, value: a.value,
      keyframedAt: keyed ? a.time : null,
    })),
  }, steps);
};

const INTERPOLATION = /** @type {Record<string, () => number>} */ ({
  linear: () => ppro.Keyframe.INTERPOLATION_MODE_LINEAR,
  hold: () => ppro.Keyframe.INTERPOLATION_MODE_HOLD,
  bezier: () => ppro.Keyframe.INTERPOLATION_MODE_BEZIER,
});

handlers.add_keyframes = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  const list = a.keyframes;
  const shaped = (/** @type {any} */ k) => k !== null && typeof k === "object" && !Array.isArray(k) && !isMissing(k.time) && k.value !== undefined;
  if (!Array.isArray(list) || list.length === 0 || !list.every(shaped)) throw fail("bad_args", "keyframes: [{time, value}, …] is required");
  const c = await findComponent(rc.clip, a.component, ctx);
  const param = findParam(c.component, a.param, c.matchName, ctx);
  const base = await clipBase(rc);
  const keys = list.map((k) => {
    const ticks = /** @type {string} */ (keyTicks(k.time, a.timeBase, base, sc));
    checkRange(c, param, k.value);
    const kf = makeKeyframe(param, k.value);
    kf.position = tickTime(ticks);
    return { ticks, kf };
  });
  const mode = typeof a.interpolation === "string" && Object.prototype.hasOwnProperty.call(INTERPOLATION, a.interpolation)
    ? INTERPOLATION[a.interpolation]() : null;
  const edits = keys.map((k) => ({ param, kf: k.kf, ticks: k.ticks }));
  const steps = await applyValues(sc.project, "Add Keyframes", edits, mode,
    () => confirmEdit(ctx, sc, valueExpectations(edits, () => rc.ref + " " + param.displayName)));
  return withStepsNote({ clip: rc.ref, param: param.displayName, keyframes: keys.length }, steps);
};

handlers.remove_keyframes = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  const c = await findComponent(rc.clip, a.component, ctx);
  const param = findParam(c.component, a.param, c.matchName, ctx);
  if (a.all === true) {
    tx(sc.project, "Clear Keyframes", () => param.createSetTimeVaryingAction(false));
    await confirmEdit(ctx, sc, [expectValue(rc.ref + " " + param.displayName, "keyframed", false, () => !!param.isTimeVarying())]);
    return { clip: rc.ref, cleared: true };
  }
  const base = await clipBase(rc);
  const from = keyTicks(isMissing(a.start) ? a.time : a.start, a.timeBase, base, sc);
  const to = keyTicks(a.end, a.timeBase, base, sc);
  if (from === null) throw fail("bad_args", "Pass all:true, time (one keyframe), or start and end (a range)");
  if (to !== null && BigInt(from) > BigInt(to)) throw fail("bad_args", "start is after end: pass the range from the earlier time to the later one");
  tx(sc.project, "Remove Keyframes", () => (to === null
    ? param.createRemoveKeyframeAction(tickTime(from), true)
    : param.createRemoveKeyframeRangeAction(tickTime(from), tickTime(to), true)));
  const lo = BigInt(from);
  const hi = to === null ? lo : BigInt(to);
  await confirmEdit(ctx, sc, [expectValue(rc.ref + " " + param.displayName, "keyframes in the range", 0,
    () => param.getKeyframeListAsTickTimes().filter((t) => BigInt(t.ticks) >= lo && BigInt(t.ticks) <= hi).length)]);
  return { clip: rc.ref, removed: true };
};

handlers.set_transform = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  const wanted = [
    ["scale", "motion", "Scale"], ["position", "motion", "Position"], ["rotation", "motion", "Rotation"],
    ["anchor", "motion", "Anchor Point"], ["opacity", "opacity", "Opacity"],
  ].filter(([key]) => a[key] !== undefined);
  // Every value is checked before the first one is set.
  const ticks = keyTicks(a.time, a.timeBase, await clipBase(rc), sc);
  /** @type {(ValueEdit & { key: string, component: string, name: string })[]} */
  const edits = [];
  for (const [key, fixed, name] of wanted) {
    const entry = await fixedComponent(rc.clip, fixed);
    const param = fixedParam(entry, fixed, name);
    checkRange(entry, param, a[key]);
    const kf = makeKeyframe(param, a[key]);
    if (ticks !== null) kf.position = tickTime(ticks);
    checkStatic(param, ticks);
    edits.push({ param, kf, ticks, key, component: FIXED[fixed].name, name });
  }
  const steps = await applyValues(sc.project, ticks !== null ? "Keyframe" : "Set Param", edits, null,
    () => confirmEdit(ctx, sc, valueExpectations(edits, (e) => rc.ref + " " + /** @type {any} */ (e).component + "." + /** @type {any} */ (e).name)));
  return withStepsNote({ clip: a.clip, set: edits.map((e) => e.component + "." + e.name + "=" + JSON.stringify(a[e.key])) }, steps);
};

// UXP lists video transitions by match name only. Their names are the match names without
// the "AE.ADBE " prefix, except where the Effects panel shows another name.
/** @type {Record<string, string>} */
const TRANSITION_NAMES = { "AE.ADBE Cross Dissolve New": "Cross Dissolve", "AE.ADBE MorphCut": "Morph Cut" };

handlers.add_transition = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const targets = await clipTargets(sc, a);
  let matchName = isText(a.matchName) ? a.matchName : null;
  const wanted = isText(a.name) ? a.name : "Cross Dissolve";
  if (matchName === null) {
    const names = await ppro.TransitionFactory.getVideoTransitionMatchNames();
    const m = matchByName(names, (n) => [n, n.replace(/^AE\.ADBE /, ""), TRANSITION_NAMES[n]], wanted);
    if (m.hit === null) {
      throw fail("transition_not_found", "No transition like '" + wanted + "'. premiere_list_effects {kind:\"transition\"} lists match names." + candidatesNote(m.candidates));
    }
    if (m.loose) warnLoose(ctx, "transition", wanted, m.hit);
    matchName = m.hit;
  }
  for (const rc of targets) {
    if (rc.kind !== "video") throw fail("video_only", "UXP only supports video transitions. For audio, use premiere_add_keyframes on Volume>Level to fade.");
  }
  const duration = toTick(a.duration, sc);
  const atStart = a.position === "start";
  const name = /** @type {string} */ (matchName);
  // One transaction for every clip: a clip Premiere refuses leaves none with a transition.
  tx(sc.project, "Add Transition", () => targets.map((rc) => {
    let transition;
    try {
      transition = ppro.TransitionFactory.createVideoTransition(name);
    } catch (e) {
      throw fail("transition_not_found", "No transition like '" + name + "'. premiere_list_effects {kind:\"transition\"} lists match names.");
    }
    const options = new ppro.AddTransitionOptions();
    options.setApplyToStart(atStart);
    if (duration !== null) options.setDuration(tickTime(duration));
    if (a.singleSided === true) options.setForceSingleSided(true);
    if (finiteNumber(a.alignment)) options.setTransitionAlignment(a.alignment);
    return /** @type {VideoClipTrackItem} */ (rc.clip).createAddVideoTransitionAction(transition, options);
  }));
  const position = atStart ? "start" : "end";
  await confirmTransitions(ctx, sc, targets, position, name);
  return { transition: matchName, clips: targets.map((t) => t.ref), position: isMissing(a.position) ? "end" : a.position };
};

/**
 * Reads transitions back: each clip should have `matchName` at its `position` edge (null:
 * none there). Premiere's listing of transitions (track items of type TRANSITION) is not
 * documented, so a transition that is not listed makes the answer unverified rather than
 * failed; one that is listed where none should be, or another one, fails.
 * @param {CallContext} ctx @param {SeqContext} sc @param {ResolvedClip[]} clips @param {string} position @param {string | null} matchName
 */
async function confirmTransitions(ctx, sc, clips, position, matchName) {
  /** @type {Expectation[]} */
  const wanted = [];
  let listed = true;
  for (const rc of clips) {
    const now = await findClip(sc, rc.ref).catch(() => rc);
    const at = clipTransitions(await trackTransitions(await getTrack(sc, { kind: "video", index: rc.track })), now.start, now.end, sc)
      .find((t) => t.position === position);
    if (matchName !== null && !at) listed = false;
    wanted.push(expectValue(rc.ref, "transition at its " + position, matchName, () => (at ? at.matchName : null)));
  }
  if (listed) {
    await confirmEdit(ctx, sc, wanted);
  } else {
    ctx.unverified = "Premiere lists no transition at the clip's " + position + " (its listing of transitions is not documented); check the timeline";
  }
}

handlers.remove_transition = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  if (rc.kind !== "video") throw fail("video_only", "UXP only supports video transitions. For audio, use premiere_add_keyframes on Volume>Level to fade.");
  const clip = /** @type {VideoClipTrackItem} */ (rc.clip);
  const P = ppro.Constants.TransitionPosition;
  tx(sc.project, "Remove Transition", () => clip.createRemoveVideoTransitionAction(a.position === "start" ? P.START : P.END));
  await confirmTransitions(ctx, sc, [rc], a.position === "start" ? "start" : "end", null);
  return { clip: rc.ref, removed: isMissing(a.position) ? "end" : a.position };
};

handlers.insert_mogrt = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const fromLibrary = isText(a.library) && isText(a.element);
  if (!isText(a.path) && !fromLibrary) throw fail("bad_args", "path (a .mogrt file) or library with element is required");
  needAbsolute("path", a.path);
  const ticks = toTick(a.time, sc) || "0";
  const track = parseTrack(isMissing(a.track) ? "V2" : a.track);
  const audioIndex = typeof a.audioTrack === "string" ? parseTrack(a.audioTrack).index : count(a.audioTrack);
  const editor = ppro.SequenceEditor.getEditor(sc.sequence);
  /** @type {any[]} */
  let items = [];
  sc.project.lockedAccess(() => {
    items = isText(a.path)
      ? editor.insertMogrtFromPath(a.path, tickTime(ticks), track.index, audioIndex)
      : editor.insertMogrtFromLibrary(a.library, a.element, tickTime(ticks), track.index, audioIndex);
  });
  if (!items || items.length === 0) {
    throw fail("mogrt_failed", "Premiere inserted nothing from " + (isText(a.path) ? a.path : a.library + "/" + a.element) + ".");
  }
  const graphic = items[0];
  await confirmEdit(ctx, sc, [{ subject: "The graphic", key: "graphic start", should: "start at", is: "starts at", want: ticks, time: true,
    read: async () => (await graphic.getStartTime()).ticks }]);
  return {
    inserted: items.length, track: trackLabel(track),
    _note: "Edit its text with premiere_get_clip_effects then premiere_set_param on the Graphic's text param.",
  };
};

handlers.set_clip_volume = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const targets = await clipTargets(sc, a);
  for (const rc of targets) {
    if (rc.kind !== "audio") throw fail("audio_only", rc.ref + " is a video clip — volume lives on the linked audio clip (A-track).");
  }
  if (finiteNumber(a.level) && a.level < 0) throw fail("bad_args", "level must be 0 or more (linear; 1.0 is +15 dB) — or pass db");
  const level = finiteNumber(a.level) ? a.level : dbToLevel(finiteNumber(a.db) ? a.db : 0);
  if (level > 1) throw fail("bad_value", "Level " + round3(level) + " is outside the range of 'Level' (0 to 1, that is up to +15 dB).");
  const edits = [];
  for (const rc of targets) {
    const param = await volumeParam(rc.clip);
    const ticks = keyTicks(a.time, a.timeBase, await clipBase(rc), sc);
    const kf = makeKeyframe(param, level);
    if (ticks !== null) kf.position = tickTime(ticks);
    checkStatic(param, ticks);
    edits.push({ rc, param, kf, ticks });
  }
  const steps = await applyValues(sc.project, isMissing(a.time) ? "Clip Volume" : "Volume Keyframe", edits, null,
    () => confirmEdit(ctx, sc, valueExpectations(edits, (e) => /** @type {any} */ (e).rc.ref + " Volume level")));
  return withStepsNote({ set: edits.map((e) => ({ clip: e.rc.ref, db: isMissing(a.db) ? null : a.db, level })) }, steps);
};

handlers.audio_fade = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  if (rc.kind !== "audio") throw fail("audio_only", "Use an audio clip ref (A1:0)");
  const type = a.type === "out" ? "out" : "in";
  const fade = BigInt(/** @type {string} */ (toTick(isMissing(a.duration) ? 1 : a.duration, sc)));
  const length = BigInt(rc.end.ticks) - BigInt(rc.start.ticks);
  if (fade <= 0n || fade > length) {
    throw fail("bad_args", "duration must be more than 0 and at most the clip's length (" + round3(Number(length) / TICKS_PER_SECOND) + "s)");
  }
  const param = await volumeParam(rc.clip);
  const base = await clipBase(rc);
  const spanStart = base.inPoint;
  const spanEnd = base.inPoint + length;
  const silent = dbToLevel(-96);
  const inner = type === "in" ? spanStart + fade : spanEnd - fade;
  // Without db the fade keeps the clip's level where the fade meets it (static or keyed).
  let level = finiteNumber(a.db) ? dbToLevel(a.db) : await paramValueAt(param, inner.toString());
  if (typeof level !== "number" || !isFinite(level)) level = dbToLevel(0);
  const points = type === "in"
    ? [[spanStart, silent], [inner, level]]
    : [[inner, level], [spanEnd, silent]];
  const edits = points.map(([t, v]) => {
    const kf = makeKeyframe(param, v);
    kf.position = tickTime(t.toString());
    return { param, kf, ticks: t.toString() };
  });
  const steps = await applyValues(sc.project, "Audio Fade", edits, null,
    () => confirmEdit(ctx, sc, valueExpectations(edits, () => rc.ref + " Volume level")));
  return withStepsNote({ clip: rc.ref, fade: type, seconds: round3(Number(fade) / TICKS_PER_SECOND) }, steps);
};

handlers.audio_probe = async (args) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const rc = await findClip(sc, a.clip);
  const param = await volumeParam(rc.clip);
  const base = await clipBase(rc);
  const at = isMissing(a.time) ? base.inPoint.toString() : /** @type {string} */ (keyTicks(a.time, a.timeBase, base, sc));
  const levelRaw = await paramValueAt(param, at);
  const db = typeof levelRaw === "number" ? levelToDb(levelRaw) : NaN;
  return { clip: rc.ref, levelRaw, dbEstimate: isFinite(db) ? round3(db) : null };
};

/**
 * The marker owner: the clip project item named by `item`, else the sequence. Times of an
 * item's markers have no sequence (no timecode).
 * @param {any} a @returns {Promise<{ owner: Sequence | ClipProjectItem, project: Project, sc: SeqContext | null }>}
 */
async function markerOwner(a) {
  if (!isMissing(a.item)) {
    const proj = await project();
    return { owner: clipOf((await findItem(proj, a.item)).item), project: proj, sc: null };
  }
  const sc = await sequenceContext(a);
  return { owner: sc.sequence, project: sc.project, sc };
}

// The highest marker colour index (Premiere's marker colours are 0-7).
const MARKER_COLORS = 7;

/** @param {Marker} m */
function markerGuid(m) {
  try { return "guid" in m && m.guid ? m.guid.toString() : null; } catch (e) { return null; }
}

handlers.list_markers = async (args) => {
  const a = argsOf(args);
  const o = await markerOwner(a);
  const markers = (await ppro.Markers.getMarkers(o.owner)).getMarkers().map((m) => ({
    guid: markerGuid(m), name: m.getName(), comments: m.getComments(), start: timeOut(m.getStart(), o.sc),
    duration: secondsOf(m.getDuration()), type: m.getType(), colorIndex: m.getColorIndex(),
  }));
  return { count: markers.length, markers };
};

const MARKER_TYPES = ["comment", "chapter", "weblink"];

handlers.add_marker = async (args, ctx) => {
  const a = argsOf(args);
  const o = await markerOwner(a);
  let start = toTick(a.time, o.sc);
  if (start === null) start = o.sc ? String((await o.sc.sequence.getPlayerPosition()).ticks) : "0";
  const duration = toTick(a.duration, o.sc) || "0";
  const M = ppro.Marker;
  const kind = isMissing(a.type) ? "comment" : String(a.type).toLowerCase();
  if (MARKER_TYPES.indexOf(kind) < 0) {
    ctx.warn("Marker type '" + refText(a.type) + "' is none of " + MARKER_TYPES.join(", ") + "; made a comment marker.");
  }
  const type = kind === "chapter" ? M.MARKER_TYPE_CHAPTER : kind === "weblink" ? M.MARKER_TYPE_WEBLINK : M.MARKER_TYPE_COMMENT;
  const name = isMissing(a.name) ? "" : String(a.name);
  const comments = isMissing(a.comments) ? "" : String(a.comments);
  const colorIndex = isMissing(a.colorIndex) ? null : a.colorIndex;
  if (colorIndex !== null && !(Number.isInteger(colorIndex) && colorIndex >= 0 && colorIndex <= MARKER_COLORS)) {
    throw fail("bad_args", "colorIndex must be a whole number from 0 to " + MARKER_COLORS);
  }
  const markers = await ppro.Markers.getMarkers(o.owner);
  const at = /** @type {string} */ (start);
  const guids = new Set(markers.getMarkers().map(markerGuid));
  tx(o.project, "Add Marker", () => markers.createAddMarkerAction(name, type, tickTime(at), tickTime(duration), comments));
  // The new marker: at that time with that name, and not one that was there before.
  const made = async () => (await ppro.Markers.getMarkers(o.owner)).getMarkers().find((m) =>
    String(m.getStart().ticks) === at && m.getName() === name && (markerGuid(m) === null || !guids.has(markerGuid(m)))) || null;
  const marker = await made();
  if (colorIndex !== null && marker) {
    try {
      tx(o.project, "Marker Color", () => marker.createSetColorByIndexAction(colorIndex));
    } catch (e) {
      // The marker goes again, so a failure leaves nothing behind.
      try { tx(o.project, "Remove Marker", () => markers.createRemoveMarkerAction(marker)); } catch (ignored) { /* the first failure counts */ }
      throw e;
    }
  }
  const subject = "Marker '" + name + "'";
  /** @type {Expectation[]} */
  const wanted = [{ subject, key: "marker", should: "be at", is: "is at", want: at, time: true,
    read: async () => { const m = await made(); return m ? m.getStart().ticks : null; } }];
  if (marker) {
    wanted.push({ subject, key: "duration", should: "last", is: "lasts", want: duration, time: true, read: () => marker.getDuration().ticks });
    wanted.push(expectValue(subject, "type", type, () => marker.getType()));
    if (colorIndex !== null) wanted.push(expectValue(subject, "colorIndex", colorIndex, () => marker.getColorIndex()));
  }
  await confirmEdit(ctx, o.sc, wanted);
  return { added: name, at: timeOut(at, o.sc) };
};

handlers.remove_marker = async (args, ctx) => {
  const a = argsOf(args);
  const o = await markerOwner(a);
  const markers = await ppro.Markers.getMarkers(o.owner);
  const all = markers.getMarkers();
  if (!isMissing(a.guid) && a.all !== true && all.length > 0 && all.every((m) => markerGuid(m) === null)) {
    throw tooOld("Removing a marker by guid (pass name or all:true instead)", "Marker.guid", "26.3");
  }
  const doomed = all.filter((m) => a.all === true ||
    (!isMissing(a.guid) && markerGuid(m) === String(a.guid)) || (!isMissing(a.name) && m.getName() === String(a.name)));
  if (doomed.length === 0) throw fail("marker_not_found", "No matching marker (pass guid, name, or all:true)");
  tx(o.project, "Remove Marker", () => doomed.map((m) => markers.createRemoveMarkerAction(m)));
  await confirmEdit(ctx, o.sc, [expectValue("The markers", "count", all.length - doomed.length, async () => (await ppro.Markers.getMarkers(o.owner)).getMarkers().length)]);
  return { removed: doomed.length };
};

// Frame export resolves before the file is on disk; how long to wait for it to appear.
const FRAME_WAIT_MS = 5000;
// A frame file counts as written once its size has stayed the same this long.
const FRAME_SETTLE_MS = 100;
// The formats Exporter.exportSequenceFrame writes (its reference page), chosen by the
// name's extension; "jpeg" and "tiff" are taken as their short forms.
const FRAME_FORMATS = ["bmp", "dpx", "gif", "jpg", "exr", "png", "tga", "tif"];

/** @param {string} p */
function fileExists(p) {
  try { fs.lstatSync(p); return true; } catch (e) { return false; }
}

/** @param {string} p @returns {number} the size, or -1 when there is no such file */
function fileSize(p) {
  try { return Number(/** @type {any} */ (fs.lstatSync(p)).size); } catch (e) { return -1; }
}

/** @param {number} ms */
function pause(ms) {
  return new Promise((resolve) => { setTimeout(() => resolve(undefined), ms); });
}

/**
 * Waits for the first of `candidates` to appear and stop growing; answers it, or null.
 * @param {string[]} candidates
 */
async function settledFile(candidates) {
  let found = candidates.find(fileExists);
  for (let waited = 0; !found && waited < FRAME_WAIT_MS; waited += 25) {
    await pause(25);
    found = candidates.find(fileExists);
  }
  if (!found) return null;
  let size = fileSize(found);
  for (let still = 0, waited = 0; still < FRAME_SETTLE_MS && waited < FRAME_WAIT_MS; waited += 25) {
    await pause(25);
    const now = fileSize(found);
    still = now === size && now > 0 ? still + 25 : 0;
    size = now;
  }
  return found;
}

handlers.export_frame = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  const ticks = toTick(a.time, sc) || String((await sc.sequence.getPlayerPosition()).ticks);
  const size = await sc.sequence.getFrameSize();
  const sw = size.width;
  const sh = size.height;
  let width = count(a.width);
  let height = count(a.height);
  if (width === 0 && height === 0) width = Math.min(sw, 1280);
  if (height === 0) height = Math.round(sh * width / sw);
  else if (width === 0) width = Math.round(sw * height / sh);
  const asked = isText(a.format) ? a.format.toLowerCase() : "png";
  const format = asked === "jpeg" ? "jpg" : asked === "tiff" ? "tif" : asked;
  if (FRAME_FORMATS.indexOf(format) < 0) throw fail("bad_args", "format must be one of " + FRAME_FORMATS.join(", ") + " (not '" + refText(a.format) + "')");
  const ending = "." + format;
  let base = isText(a.name) ? a.name : "frame_" + Math.round(Number(ticks) / TICKS_PER_SECOND * 1000) + "ms";
  if (base.toLowerCase().endsWith(ending) && base.length > ending.length) base = base.slice(0, -ending.length);
  if (/[\\/]/.test(base)) throw fail("bad_args", "name must be a file name without folders; put the folder in dir");
  if (!isText(a.dir)) throw fail("bad_args", "dir is required");
  needAbsolute("dir", a.dir);
  const dir = a.dir;
  const ok = await ppro.Exporter.exportSequenceFrame(sc.sequence, tickTime(ticks), base + ending, dir, width, height);
  if (!ok) {
    if (!fileExists(dir)) throw fail("export_failed", "The folder " + dir + " does not exist; create it or pass another dir.");
    throw fail("export_failed", "exportSequenceFrame failed (dir " + dir + ")");
  }
  // Premiere appends the format's extension to the name it is given ("output.png" becomes
  // "output.png.png": Adobe's frame-export sample, "we do double extension"). The name
  // carries the extension because it chooses the format, so the doubled file is renamed
  // to the name asked for once it is written; the answer names the file that is there.
  const sep = dir.indexOf("\\") >= 0 ? "\\" : "/";
  const expected = dir.replace(/[\\/]+$/, "") + sep + base + ending;
  const doubled = expected + ending;
  const found = await settledFile([expected, doubled]);
  if (!found) throw fail("export_failed", "Premiere reported the frame exported, but neither " + expected + " nor " + doubled + " appeared.");
  let path = found;
  if (found === doubled && !fileExists(expected)) {
    try {
      // Without a callback UXP's fs.rename answers a Promise (its reference).
      await /** @type {any} */ (fs).rename(doubled, expected);
      path = expected;
    } catch (e) {
      ctx.warn("Premiere wrote " + doubled + " and it could not be renamed to " + expected + ".");
    }
  }
  return { path, time: timeOut(ticks, sc), width, height };
};

handlers.export_frames = async (args) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  /** @type {any[]} */
  let times;
  if (Array.isArray(a.times) && a.times.length > 0) {
    if (a.times.length > 64) throw fail("bad_args", "times holds at most 64 entries");
    times = a.times;
  } else {
    const n = Math.max(1, Math.min(64, count(a.count) || 8));
    const from = BigInt(toTick(a.start, sc) || "0");
    const to = BigInt(toTick(a.end, sc) || String((await sc.sequence.getEndTime()).ticks));
    if (from > to) throw fail("bad_args", "start (" + round3(Number(from) / TICKS_PER_SECOND) + "s) is after end (" + round3(Number(to) / TICKS_PER_SECOND) + "s)");
    times = [];
    for (let i = 0; i < n; i++) times.push({ ticks: (from + (to - from) * BigInt(2 * i + 1) / BigInt(2 * n)).toString() });
  }
  const prefix = isText(a.prefix) ? a.prefix : "frame";
  const frames = [];
  for (let i = 0; i < times.length; i++) {
    const name = prefix + "_" + String(i).padStart(3, "0");
    frames.push(await handlers.export_frame(Object.assign({}, a, { time: times[i], name }), { warn: () => undefined }));
  }
  return { frames };
};

// Export events are registered on the first sequence export, once. Premiere reports a
// Media Encoder job through the EncoderManager's render events (queued, progress with
// `progressAmount` 0…1, complete with `outputFiles`, error with `inErrorNumber`, cancel, each
// with `jobID`), and an export rendered inside Premiere only through the global
// operation-complete event for exported media (`state`), which "currently only fires on
// successful exports" (Adobe's event sample, eventManager.ts). Both end up as export_* events.
let encoderEventsRegistered = false;
/** Outputs of immediate exports that have not reported completion yet, oldest first. */
const immediateOutputs = /** @type {string[]} */ ([]);

function registerEncoderEvents() {
  if (encoderEventsRegistered) return;
  encoderEventsRegistered = true;
  /** @param {string} kind @param {any} data */
  const post = (kind, data) => send({ type: "event", kind, data, at: Date.now() });
  try {
    const E = ppro.EncoderManager;
    const manager = E.getManager();
    /** @type {[string, string][]} */
    const kinds = [
      [E.EVENT_RENDER_PROGRESS, "export_progress"], [E.EVENT_RENDER_COMPLETE, "export_complete"],
      [E.EVENT_RENDER_ERROR, "export_error"], [E.EVENT_RENDER_CANCEL, "export_cancel"], [E.EVENT_RENDER_QUEUE, "export_queued"],
    ];
    for (const [name, kind] of kinds) {
      ppro.EventManager.addEventListener(manager, name, (/** @type {any} */ ev) => {
        const data = toJsonSafe(ev) || {};
        if (typeof data.progressAmount === "number") data.progress = data.progressAmount;
        post(kind, Object.assign({ mode: "encoder" }, data));
      });
    }
  } catch (e) {
    log("encoder events unavailable: " + e);
  }
  try {
    ppro.EventManager.addGlobalEventListener(ppro.Constants.OperationCompleteEvent.EXPORT_MEDIA_COMPLETE, (/** @type {any} */ ev) => {
      const S = ppro.Constants.OperationCompleteState;
      const state = ev && typeof ev.state === "number" ? ev.state : null;
      const output = immediateOutputs.shift();
      const data = { mode: "immediate", state, output: output === undefined ? null : output };
      post(state === null || state === S.SUCCESS ? "export_complete" : state === S.CANCELLED ? "export_cancel" : "export_error", data);
    });
  } catch (e) {
    log("export-complete events unavailable: " + e);
  }
}

handlers.export_sequence = async (args, ctx) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  if (!isText(a.output)) throw fail("bad_args", "output (absolute file path on this machine) is required");
  if (!isText(a.preset)) throw fail("bad_args", "preset (.epr path) is required — premiere_list_export_presets finds them");
  needAbsolute("output", a.output);
  needAbsolute("preset", a.preset);
  const mode = isText(a.mode) ? a.mode : "immediate";
  const T = ppro.Constants.ExportType;
  const type = mode === "immediate" ? T.IMMEDIATELY : mode === "ame" ? T.QUEUE_TO_AME : mode === "queue" ? T.QUEUE_TO_APP : undefined;
  const manager = ppro.EncoderManager.getManager();
  if (mode === "ame" && !manager.isAMEInstalled) throw fail("ame_missing", "Adobe Media Encoder isn't installed; use mode:\"immediate\".");
  registerEncoderEvents();
  if (mode === "immediate") immediateOutputs.push(a.output);
  /** @type {boolean} */
  let started = false;
  try {
    started = await manager.exportSequence(sc.sequence, /** @type {any} */ (type), a.output, a.preset, a.range !== "inout");
  } finally {
    // Premiere reports immediate exports only when they succeed.
    if (!started && mode === "immediate") immediateOutputs.splice(immediateOutputs.lastIndexOf(a.output), 1);
  }
  if (!started) throw fail("export_failed", "Premiere didn't start the export to " + a.output + " (is the sequence, or its in/out range, empty?)");
  if (mode === "ame" && a.startQueue !== false) {
    if (typeof manager.startBatchEncode !== "function") {
      ctx.warn("Queued in Media Encoder; this Premiere (before 26.3) can't start the queue — start it in Media Encoder.");
    } else {
      try { await manager.startBatchEncode(); } catch (e) { /* the queue can still be started in Media Encoder */ }
    }
  }
  return { started, output: a.output, mode };
};

handlers.export_interchange = async (args) => {
  const a = argsOf(args);
  const sc = await sequenceContext(a);
  if (!isText(a.output)) throw fail("bad_args", "output path is required");
  needAbsolute("output", a.output);
  const format = isMissing(a.format) ? "otio" : a.format;
  // ProjectConverter arrived in Premiere 26.2 and its AAF export in 26.3 (reference "Since").
  /** @type {Record<string, [string, string, string]>} */
  const exporters = {
    otio: ["OpenTimelineIO export", "exportAsOpenTimelineIO", "26.2"],
    fcpxml: ["Final Cut Pro XML export", "exportAsFinalCutProXML", "26.2"],
    aaf: ["AAF export", "exportAAF", "26.3"],
  };
  if (typeof format !== "string" || !Object.prototype.hasOwnProperty.call(exporters, format)) {
    throw fail("bad_args", "format must be otio, fcpxml, or aaf");
  }
  const [what, member, since] = exporters[format];
  /** @type {any} */
  const PC = ppro.ProjectConverter;
  if (!PC || typeof PC[member] !== "function") throw tooOld(what, "ProjectConverter." + member, since);
  const exported = format === "aaf"
    ? await ppro.ProjectConverter.exportAAF(sc.sequence, a.output)
    : format === "fcpxml"
      ? await ppro.ProjectConverter.exportAsFinalCutProXML(sc.sequence, a.output, true)
      : await ppro.ProjectConverter.exportAsOpenTimelineIO(sc.sequence, a.output, true);
  if (!exported) throw fail("export_failed", "Premiere couldn't write " + a.output + " — does the folder exist and is it writable?");
  return { exported, format, output: a.output };
};

handlers.source_monitor = async (args) => {
  const a = argsOf(args);
  const SM = ppro.SourceMonitor;
  if (a.close === true) return { closed: await SM.closeAllClips() };
  const t = toTick(a.time, null);
  // Refused before anything is opened.
  if (t !== null && typeof SM.setPosition !== "function") throw tooOld("Seeking the Source Monitor", "SourceMonitor.setPosition", "26.3");
  if (isText(a.path)) {
    needAbsolute("path", a.path);
    if (!(await SM.openFilePath(a.path))) throw fail("open_failed", "The Source Monitor couldn't open " + a.path);
  } else if (!isMissing(a.item)) {
    const proj = await project();
    const rec = await findItem(proj, a.item);
    if (!(await SM.openProjectItem(rec.item))) throw fail("open_failed", "The Source Monitor couldn't open " + rec.name);
  }
  if (t !== null) await SM.setPosition(tickTime(t));
  if (a.play === true) await SM.play(finiteNumber(a.speed) ? a.speed : 1);
  /** @type {string | null} */
  let item = null;
  try {
    const pi = await SM.getProjectItem();
    item = pi ? pi.name : null;
  } catch (e) { item = null; }
  return { item, position: secondsOf(await SM.getPosition()) };
};

const AsyncFunction = Object.getPrototypeOf(async function () { /* only its constructor is used */ }).constructor;

handlers.eval = async (args) => {
  const a = argsOf(args);
  if (!isText(a.code)) {
    throw fail("bad_args", "code is required: the body of an async function. In scope: ppro, h (helpers), args. `return` a JSON-able value.");
  }
  /** @type {any} */
  let fn;
  try {
    fn = new AsyncFunction("ppro", "h", "args", "require", a.code);
  } catch (e) {
    throw fail("bad_args", "code doesn't parse: " + (e && e.message ? e.message : String(e)));
  }
  const h = {
    project, findSequence, findItem, findClip, getTrack, trackClips, toTick, timeOut, tx,
    componentsOf, findComponent, findParam, dbToLevel, levelToDb, allItems, parseTrack, handlers,
  };
  const scope = a.args !== null && typeof a.args === "object" ? a.args : {};
  // The snippet gets the panel script's own require (UXP modules: uxp, fs, os, …).
  const req = (/** @type {string} */ id) => require(id);
  return { value: toJsonSafe(await fn(ppro, h, scope, req)) };
};

// ---------------------------------------------------------------------------------------
// SHA-256 (FIPS 180-4) and HMAC-SHA-256 (RFC 2104) for the handshake with the bridge. UXP
// offers secure random numbers (crypto.getRandomValues, UXP 6.2) but no digest, so these
// are written out here; tests check them against Node's crypto.

const SHA256_K = [
  0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
  0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
  0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
  0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
  0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
  0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
  0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
  0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
];

/** @param {number} x @param {number} n */
function rotr(x, n) {
  return (x >>> n) | (x << (32 - n));
}

/** @param {ArrayLike<number>} bytes @returns {Uint8Array} the 32-byte digest */
function sha256(bytes) {
  const h = [0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19];
  const length = bytes.length;
  // The message, a 1 bit, zeros, then its length in bits as a 64-bit big-endian number.
  const padded = new Uint8Array(Math.ceil((length + 9) / 64) * 64);
  padded.set(bytes);
  padded[length] = 0x80;
  const bits = length * 8;
  const high = Math.floor(bits / 0x100000000);
  for (let i = 0; i < 4; i++) {
    padded[padded.length - 8 + i] = (high >>> (24 - 8 * i)) & 0xff;
    padded[padded.length - 4 + i] = (bits >>> (24 - 8 * i)) & 0xff;
  }
  const w = new Int32Array(64);
  for (let block = 0; block < padded.length; block += 64) {
    for (let t = 0; t < 16; t++) {
      const i = block + 4 * t;
      w[t] = (padded[i] << 24) | (padded[i + 1] << 16) | (padded[i + 2] << 8) | padded[i + 3];
    }
    for (let t = 16; t < 64; t++) {
      const s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >>> 3);
      const s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >>> 10);
      w[t] = (w[t - 16] + s0 + w[t - 7] + s1) | 0;
    }
    let [a, b, c, d, e, f, g, hh] = h;
    for (let t = 0; t < 64; t++) {
      const t1 = (hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + SHA256_K[t] + w[t]) | 0;
      const t2 = ((rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c))) | 0;
      hh = g; g = f; f = e; e = (d + t1) | 0;
      d = c; c = b; b = a; a = (t1 + t2) | 0;
    }
    h[0] = (h[0] + a) | 0; h[1] = (h[1] + b) | 0; h[2] = (h[2] + c) | 0; h[3] = (h[3] + d) | 0;
    h[4] = (h[4] + e) | 0; h[5] = (h[5] + f) | 0; h[6] = (h[6] + g) | 0; h[7] = (h[7] + hh) | 0;
  }
  const out = new Uint8Array(32);
  for (let i = 0; i < 32; i++) out[i] = (h[i >> 2] >>> (24 - 8 * (i & 3))) & 0xff;
  return out;
}

/** @param {ArrayLike<number>} key @param {ArrayLike<number>} data @returns {Uint8Array} */
function hmacSha256(key, data) {
  const block = new Uint8Array(64);
  block.set(key.length > 64 ? sha256(key) : key);
  const inner = new Uint8Array(64 + data.length);
  const outer = new Uint8Array(64 + 32);
  for (let i = 0; i < 64; i++) {
    inner[i] = block[i] ^ 0x36;
    outer[i] = block[i] ^ 0x5c;
  }
  inner.set(data, 64);
  outer.set(sha256(inner), 64);
  return sha256(outer);
}

/** The UTF-8 bytes of a text (a lone surrogate becomes U+FFFD, as TextEncoder does). @param {string} text */
function utf8Bytes(text) {
  /** @type {number[]} */
  const out = [];
  for (const ch of text) {
    let c = /** @type {number} */ (ch.codePointAt(0));
    if (c >= 0xd800 && c <= 0xdfff) c = 0xfffd;
    if (c < 0x80) out.push(c);
    else if (c < 0x800) out.push(0xc0 | (c >> 6), 0x80 | (c & 0x3f));
    else if (c < 0x10000) out.push(0xe0 | (c >> 12), 0x80 | ((c >> 6) & 0x3f), 0x80 | (c & 0x3f));
    else out.push(0xf0 | (c >> 18), 0x80 | ((c >> 12) & 0x3f), 0x80 | ((c >> 6) & 0x3f), 0x80 | (c & 0x3f));
  }
  return out;
}

/** @param {ArrayLike<number>} bytes */
function toHex(bytes) {
  let out = "";
  for (let i = 0; i < bytes.length; i++) out += (bytes[i] < 16 ? "0" : "") + bytes[i].toString(16);
  return out;
}

// ---------------------------------------------------------------------------------------
// Connection to the bridge
//
// The plug-in never gives its token to whoever listens on the port in connection.json: it
// dials /ws?nonce=<its own fresh nonce>, the bridge answers first with
// {type: "challenge", nonce, proof}, proof being HMAC-SHA-256 keyed by the token over
// "quor-bridge-proof\n<port>\n<our nonce>\n<its nonce>". Only when that checks out does the
// plug-in say hello, with its own proof over "quor-plugin-proof\n<port>\n<its nonce>\n<our
// nonce>", and only then does it answer anything. A process that does not know the token
// (another program that took the port after the bridge went away) gets nothing and runs
// nothing: the socket is closed and retried later with the usual back-off.

// A socket still connecting after this long is given up and retried: a loopback bridge
// answers at once, so a hang means a stuck socket, which would otherwise block every retry.
const CONNECT_TIMEOUT_MS = 10000;
// How long an open socket may take to bring the bridge's proof.
const CHALLENGE_TIMEOUT_MS = 10000;

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
  challengeTimeoutMs: CHALLENGE_TIMEOUT_MS,
};

/** A fresh nonce: 32 bytes from UXP's secure random source, in hexadecimal. */
function newNonce() {
  const bytes = new Uint8Array(32);
  try {
    crypto.getRandomValues(bytes);
  } catch (e) {
    // Only a runtime without crypto gets here. The nonce need not be secret, only unlikely
    // to repeat; the token stays the secret either way.
    for (let i = 0; i < bytes.length; i++) bytes[i] = Math.floor(Math.random() * 256);
  }
  return toHex(bytes);
}

/**
 * A handshake proof: HMAC-SHA-256 keyed by the token over the label, the port and the two
 * nonces, each on its own line.
 * @param {string} label @param {string} token @param {string} port @param {string} first @param {string} second
 */
function handshakeProof(label, token, port, first, second) {
  return toHex(hmacSha256(utf8Bytes(token), utf8Bytes(label + "\n" + port + "\n" + first + "\n" + second)));
}

/** Equality of two texts in time that does not depend on where they differ. @param {any} a @param {string} b */
function sameText(a, b) {
  if (typeof a !== "string" || a.length !== b.length) return false;
  let diff = 0;
  for (let i = 0; i < a.length; i++) diff |= a.charCodeAt(i) ^ b.charCodeAt(i);
  return diff === 0;
}

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
    const token = String(file.token);
    const nonce = newNonce();
    // The runtime takes the URL alone, like any WebSocket; the UXP typings list `protocols` as required.
    const ws = new (/** @type {new (url: string) => WebSocket} */ (/** @type {unknown} */ (WebSocket)))(
      "ws://127.0.0.1:" + port + "/ws?nonce=" + nonce);
    setStatus("wait", "Connecting to bridge on port " + port + "…");
    conn.socket = ws;
    let verified = false;
    /** Forgets this socket (once), closes it and retries with back-off. */
    const lost = () => {
      if (conn.socket !== ws) return;
      conn.socket = null;
      clearConnectTimer();
      try { ws.close(); } catch (e) { /* already going */ }
      setStatus("wait", "Disconnected — retrying…");
      scheduleReconnect();
    };
    /** The peer did not prove it knows the token: it gets nothing more. */
    const refuse = () => {
      if (conn.socket !== ws) return;
      log("the process on port " + port + " does not know the token");
      lost();
    };
    clearConnectTimer();
    conn.connectTimer = setTimeout(() => {
      conn.connectTimer = null;
      if (conn.socket !== ws || ws.readyState !== 0) return;
      log("connect timed out");
      lost();
    }, conn.connectTimeoutMs);
    ws.onopen = () => {
      clearConnectTimer();
      conn.connectTimer = setTimeout(() => {
        conn.connectTimer = null;
        if (!verified) refuse();
      }, conn.challengeTimeoutMs);
    };
    ws.onmessage = (event) => {
      const data = event ? event.data : undefined;
      if (verified) {
        handleMessage(data);
        return;
      }
      /** @type {any} */
      let msg = null;
      try { msg = JSON.parse(typeof data === "string" ? data : String(data)); } catch (e) { msg = null; }
      const expected = msg && msg.type === "challenge" && typeof msg.nonce === "string"
        ? handshakeProof("quor-bridge-proof", token, port, nonce, msg.nonce) : "";
      if (!expected || !sameText(msg.proof, expected)) {
        refuse();
        return;
      }
      verified = true;
      clearConnectTimer();
      conn.backoff = 1000;
      setStatus("ok", "Connected (port " + port + ")");
      log("connected");
      const proof = handshakeProof("quor-plugin-proof", token, port, msg.nonce, nonce);
      helloFields().then((fields) => send(Object.assign(fields, { proof })), () => undefined);
    };
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
  // An edit that did not happen says what it meant and what Premiere kept.
  if (e && typeof e === "object" && "expected" in e && "found" in e) {
    out.expected = e.expected;
    out.found = e.found;
  }
  return out;
}

/**
 * An edit's answer with its read-back: `verified` true when everything it meant was read
 * back, false with a `_note` naming what could not be checked (`ctx.unverified`).
 * @param {CallContext} ctx @param {any} result
 */
function withVerification(ctx, result) {
  if (result === null || typeof result !== "object" || Array.isArray(result)) return result;
  if (typeof ctx.unverified === "string") {
    result.verified = false;
    const note = "Not verified: " + ctx.unverified + ".";
    result._note = typeof result._note === "string" ? result._note + " " + note : note;
  } else if (ctx.verified === true) {
    result.verified = true;
  }
  return result;
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
  /** @type {CallContext} */
  const ctx = { warn: (/** @type {any} */ text) => { warnings.push(String(text)); } };
  try {
    const result = withVerification(ctx, await handler(isMissing(args) ? {} : args, ctx));
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
    timelineClips, partnersOf, targetSet, withSelection,
    componentsOf, findComponent, findParam, dbToLevel, levelToDb, toParamValue, keyTicks,
    helloFields, readConnectionFile, connectionFileCandidates, connect, send, runVerb, handleMessage,
    sha256, hmacSha256, utf8Bytes, toHex, newNonce, handshakeProof,
  };
}
