// Quor Bridge Helper: the ExtendScript side of cutrelay's CEP helper.
//
// Premiere loads this file into its ExtendScript engine when the helper starts
// (<ScriptPath> of CSXS/manifest.xml). main.js calls two entry points through CEP's
// evalScript, and each returns JSON text:
//   quor_hello()            the hello fields (application version, build, project, sequence)
//   quor_dispatch(payload)  runs one verb; payload is the JSON text of {verb, args}
//
// The file is kept to ASCII (non-ASCII text is written as \u escapes): ExtendScript may read
// a file without a byte-order mark in the system's encoding.
//
// ExtendScript is ES3: no JSON object, no let/const, no arrow functions, no
// Array.prototype.forEach or Object.keys. The test suite parses this file as ES3, so any of
// those fails the build.
//
// QE DOM calls act on the ACTIVE sequence only; every verb fetches the QE sequence afresh,
// because QE references go stale when the project or the active sequence changes.

var QUOR_VERBS = {};

// Serialised values nest at most this deep; deeper ones become null. Host objects can
// reference each other in cycles, which would otherwise never end.
var QUOR_MAX_DEPTH = 64;

/** An error carrying a machine-readable code for quor_dispatch to report. */
function quor_fail(code, message) {
  var e = /** @type {any} */ (new Error(message));
  e.quorCode = code;
  return e;
}

function quor_hex4(n) {
  var h = n.toString(16);
  while (h.length < 4) h = "0" + h;
  return h;
}

/**
 * A JSON string literal. Backslash, double quote, line feed, carriage return and tab get
 * their short escapes; the remaining control characters, which JSON forbids raw, become
 * \u00XX so that main.js can always parse what it gets.
 */
function quor_string(s) {
  var out = "\"";
  var i, c, code;
  for (i = 0; i < s.length; i++) {
    c = s.charAt(i);
    code = s.charCodeAt(i);
    if (c === "\\") out += "\\\\";
    else if (c === "\"") out += "\\\"";
    else if (c === "\n") out += "\\n";
    else if (c === "\r") out += "\\r";
    else if (c === "\t") out += "\\t";
    else if (code < 32) out += "\\u" + quor_hex4(code);
    else out += c;
  }
  return out + "\"";
}

function quor_json_at(v, depth) {
  var t, parts, i, k, value;
  if (v === null || v === undefined) return "null";
  t = typeof v;
  if (t === "number") return isFinite(v) ? String(v) : "null";
  if (t === "boolean") return v ? "true" : "false";
  if (t === "string") return quor_string(v);
  if (t === "function") return quor_string(String(v));
  if (depth >= QUOR_MAX_DEPTH) return "null";
  if (v instanceof Array) {
    parts = [];
    for (i = 0; i < v.length; i++) parts.push(quor_json_at(v[i], depth + 1));
    return "[" + parts.join(",") + "]";
  }
  if (t === "object") {
    parts = [];
    for (k in v) {
      if (!Object.prototype.hasOwnProperty.call(v, k)) continue;
      try {
        value = v[k];
      } catch (e) {
        continue; // a host property that cannot be read right now is left out
      }
      if (typeof value === "function") continue;
      parts.push(quor_string(String(k)) + ":" + quor_json_at(value, depth + 1));
    }
    return "{" + parts.join(",") + "}";
  }
  return quor_string(String(v));
}

/** The helper's own JSON serialiser (ExtendScript has no JSON object). */
function quor_json(v) {
  return quor_json_at(v, 0);
}

function quor_isArray(v) {
  return v instanceof Array;
}

// ---------------------------------------------------------------------------------------
// Shared helpers

function quor_helloFields() {
  var project = null;
  var sequence = null;
  try {
    if (app.project) {
      project = app.project.name ? String(app.project.name) : null;
      if (app.project.activeSequence) sequence = String(app.project.activeSequence.name);
    }
  } catch (e) {
    // No project open: both stay null.
  }
  return { premiereVersion: String(app.version), build: String(app.build), project: project, sequence: sequence };
}

/** The active sequence in both DOMs: {seq, qs}. */
function quor_context() {
  var seq = app.project ? app.project.activeSequence : null;
  if (!seq) throw quor_fail("no_sequence", "No active sequence");
  app.enableQE();
  var qs = qe.project.getActiveSequence();
  if (!qs) throw quor_fail("no_sequence", "QE has no active sequence");
  return { seq: seq, qs: qs };
}

/** "V1", "a2" ... -> {video, index (0-based), label}. */
function quor_trackRef(ref) {
  var m = /^([VvAa])([0-9]+)$/.exec(String(ref));
  if (!m || parseInt(m[2], 10) < 1) throw quor_fail("bad_track", "Bad track '" + ref + "' (use V1, A2 \u2026)");
  var video = m[1] === "V" || m[1] === "v";
  var index = parseInt(m[2], 10) - 1;
  return { video: video, index: index, label: (video ? "V" : "A") + (index + 1) };
}

/** Fails unless the track exists on the active sequence. */
function quor_checkTrack(ctx, t) {
  var count = t.video ? ctx.seq.videoTracks.numTracks : ctx.seq.audioTracks.numTracks;
  if (t.index >= count) {
    throw quor_fail("track_not_found", t.label + " doesn't exist (sequence has " + count + " " +
      (t.video ? "video" : "audio") + " tracks). premiere_add_tracks can add more.");
  }
}

function quor_qeTrack(ctx, t) {
  quor_checkTrack(ctx, t);
  var qt = t.video ? ctx.qs.getVideoTrackAt(t.index) : ctx.qs.getAudioTrackAt(t.index);
  if (!qt) throw quor_fail("qe_missing", "QE has no track " + t.label + " on the active sequence");
  return qt;
}

function quor_domTrack(ctx, t) {
  quor_checkTrack(ctx, t);
  return t.video ? ctx.seq.videoTracks[t.index] : ctx.seq.audioTracks[t.index];
}

/** Seconds -> a timecode in the sequence's frame rate and display format. */
function quor_timecode(seq, seconds) {
  var s = Number(seconds);
  if (seconds === null || seconds === undefined || seconds === "" || !isFinite(s) || s < 0) {
    throw quor_fail("bad_time", "Can't use time '" + seconds + "' here: give seconds as a number (12.5).");
  }
  var t = new Time();
  t.seconds = s;
  var settings = seq.getSettings();
  return String(t.getFormatted(settings.videoFrameRate, settings.videoDisplayFormat));
}

/**
 * The clip at `index` on a QE track, counting real clips only: QE lists the gaps between
 * clips as items of type "Empty", the standard DOM (and so the UXP clip refs) does not.
 */
function quor_qeClip(qtrack, index) {
  var n = -1;
  var i, item;
  for (i = 0; i < qtrack.numItems; i++) {
    item = qtrack.getItemAt(i);
    if (!item || item.type === "Empty") continue;
    n++;
    if (n === index) return item;
  }
  throw quor_fail("clip_not_found", "No clip index " + index + " on that track");
}

/**
 * Read-back: QE can answer success and change nothing, so each edit reads back what it
 * meant to change. The error names the first difference; `expected` and `found` travel
 * with it.
 */
function quor_notApplied(subject, key, should, want, is, found) {
  var e = quor_fail("edit_not_applied", subject + " should " + should + " " + want + " but " + is + " " + found +
    ". Premiere took the edit but the project does not show it.");
  e.quorExpected = {};
  e.quorFound = {};
  e.quorExpected[key] = want;
  e.quorFound[key] = found;
  return e;
}

/** The standard DOM's clips of a track (gaps are not listed there). */
function quor_domClips(ctx, video, index) {
  return (video ? ctx.seq.videoTracks[index] : ctx.seq.audioTracks[index]).clips;
}

/** Whether a clip of the track spans `seconds` (strictly inside it). */
function quor_spans(clips, seconds) {
  for (var i = 0; i < clips.numItems; i++) {
    if (Number(clips[i].start.seconds) < seconds && seconds < Number(clips[i].end.seconds)) return true;
  }
  return false;
}

/** A count argument: a non-negative integer, anything else counts as absent (0). */
function quor_count(v) {
  return typeof v === "number" && isFinite(v) && v >= 0 && Math.floor(v) === v ? v : 0;
}

// ---------------------------------------------------------------------------------------
// Verbs

QUOR_VERBS.ping = function (args) {
  return quor_helloFields();
};

QUOR_VERBS.razor = function (args) {
  var ctx = quor_context();
  var timecode = quor_timecode(ctx.seq, args.time);
  var wanted = null;
  var list = args.tracks;
  var i, label;
  // A single label is taken as a list of one rather than as "all tracks".
  if (typeof list === "string") list = [list];
  if (quor_isArray(list)) {
    wanted = {};
    for (i = 0; i < list.length; i++) wanted[String(list[i]).toUpperCase()] = true;
  }
  var cut = [];
  var videoCount = ctx.qs.numVideoTracks;
  var audioCount = ctx.qs.numAudioTracks;
  var seconds = Number(args.time);
  // Tracks with a clip across the cut must have one clip more afterwards (a locked track
  // is not cut, as in Premiere's own razor).
  var checks = [];
  var clips, j;
  for (i = 0; i < videoCount + audioCount; i++) {
    var video = i < videoCount;
    var index = video ? i : i - videoCount;
    label = (video ? "V" : "A") + (index + 1);
    if (wanted && !wanted[label]) continue;
    clips = quor_domClips(ctx, video, index);
    var domTrack = video ? ctx.seq.videoTracks[index] : ctx.seq.audioTracks[index];
    if (!domTrack.isLocked() && quor_spans(clips, seconds)) checks.push({ video: video, index: index, label: label, count: clips.numItems });
    if (video) ctx.qs.getVideoTrackAt(index).razor(timecode);
    else ctx.qs.getAudioTrackAt(index).razor(timecode);
    cut.push(label);
  }
  for (j = 0; j < checks.length; j++) {
    var n = quor_domClips(ctx, checks[j].video, checks[j].index).numItems;
    if (n !== checks[j].count + 1) {
      throw quor_notApplied(checks[j].label, checks[j].label + " clips", "have", (checks[j].count + 1) + " clips", "has", n + "");
    }
  }
  return { cutTracks: cut, timecode: timecode, method: "qe-razor", verified: true };
};

QUOR_VERBS.set_speed = function (args) {
  var m = /^([VvAa][0-9]+):([0-9]+)$/.exec(String(args.clip));
  if (!m) throw quor_fail("bad_clip", "clip must look like V1:0");
  var speed = Number(args.speed);
  var given = typeof args.speed === "number" || (typeof args.speed === "string" && args.speed !== "");
  if (!given || !isFinite(speed) || speed <= 0) {
    throw quor_fail("bad_speed", "speed must be a positive number (1 = 100%, 0.5 = half speed)");
  }
  var ctx = quor_context();
  var item = quor_qeClip(quor_qeTrack(ctx, quor_trackRef(m[1])), parseInt(m[2], 10));
  var reverse = args.reverse === true;
  var ripple = args.ripple === true;
  // QE's declared order (types-for-adobe-extras, qeDom.d.ts): speed, duration ("" = from the
  // speed), reverse, then the dialog's next box, Maintain Audio Pitch, then Ripple Edit.
  if (typeof item.setSpeed !== "function") throw quor_fail("qe_missing", "This Premiere's QE track item has no setSpeed");
  var done = item.setSpeed(speed, "", reverse, args.maintainPitch !== false, ripple);
  if (done === false) throw quor_fail("speed_failed", "Premiere refused speed " + speed + " for clip " + args.clip);
  var t = quor_trackRef(m[1]);
  var clip = quor_domClips(ctx, t.video, t.index)[parseInt(m[2], 10)];
  var now = clip ? Number(clip.getSpeed()) : NaN;
  if (!(Math.abs(now - speed) <= 0.001 * Math.max(1, speed))) {
    throw quor_notApplied(args.clip, "speed", "play at speed", speed + "", "plays at", isFinite(now) ? now + "" : "nothing");
  }
  if ((clip.isSpeedReversed() ? true : false) !== reverse) {
    throw quor_notApplied(args.clip, "reverse", "be reversed:", reverse + "", "is", !reverse + "");
  }
  return { clip: args.clip, speed: speed, reverse: reverse, ripple: ripple, verified: true };
};

QUOR_VERBS.add_tracks = function (args) {
  var ctx = quor_context();
  var video = quor_count(args.video);
  var audio = quor_count(args.audio);
  var type = args.audioType === "mono" ? 0 : args.audioType === "5.1" ? 2 : 1;
  var videoBefore = ctx.seq.videoTracks.numTracks;
  var audioBefore = ctx.seq.audioTracks.numTracks;
  // All eight arguments: QE's defaults would add an audio track nobody asked for.
  if (video > 0 || audio > 0) ctx.qs.addTracks(video, ctx.qs.numVideoTracks, audio, type, ctx.qs.numAudioTracks, 0, 0, 0);
  var videoAfter = ctx.seq.videoTracks.numTracks;
  var audioAfter = ctx.seq.audioTracks.numTracks;
  if (videoAfter !== videoBefore + video) {
    throw quor_notApplied("The sequence", "videoTracks", "have", (videoBefore + video) + " video tracks", "has", videoAfter + "");
  }
  if (audioAfter !== audioBefore + audio) {
    throw quor_notApplied("The sequence", "audioTracks", "have", (audioBefore + audio) + " audio tracks", "has", audioAfter + "");
  }
  return { videoTracks: videoAfter, audioTracks: audioAfter, verified: true };
};

QUOR_VERBS.remove_track = function (args) {
  var ctx = quor_context();
  var t = quor_trackRef(args.track);
  quor_checkTrack(ctx, t);
  var before = t.video ? ctx.seq.videoTracks.numTracks : ctx.seq.audioTracks.numTracks;
  if (t.video) ctx.qs.removeVideoTrack(t.index);
  else ctx.qs.removeAudioTrack(t.index);
  var after = t.video ? ctx.seq.videoTracks.numTracks : ctx.seq.audioTracks.numTracks;
  if (after !== before - 1) {
    throw quor_notApplied("The sequence", t.video ? "videoTracks" : "audioTracks", "have", (before - 1) + (t.video ? " video" : " audio") + " tracks", "has", after + "");
  }
  return { removed: args.track, verified: true };
};

QUOR_VERBS.lock_track = function (args) {
  var ctx = quor_context();
  var locked = args.locked !== false;
  var track = quor_domTrack(ctx, quor_trackRef(args.track));
  track.setLocked(locked ? 1 : 0);
  if ((track.isLocked() ? true : false) !== locked) throw quor_notApplied(args.track, "locked", "be locked:", locked + "", "is", !locked + "");
  return { track: args.track, locked: locked, verified: true };
};

QUOR_VERBS.set_track_target = function (args) {
  var ctx = quor_context();
  var targeted = args.targeted !== false;
  var track = quor_domTrack(ctx, quor_trackRef(args.track));
  track.setTargeted(targeted, true);
  if ((track.isTargeted() ? true : false) !== targeted) throw quor_notApplied(args.track, "targeted", "be targeted:", targeted + "", "is", !targeted + "");
  return { track: args.track, targeted: targeted, verified: true };
};

QUOR_VERBS.export_frame_qe = function (args) {
  if (typeof args.path !== "string" || !/[^\/\\.]/.test(args.path.replace(/\.png$/i, ""))) {
    throw quor_fail("bad_path", "path must name the PNG file to write");
  }
  // A relative name would land in whatever folder Premiere runs in.
  if (!/^(\/|[A-Za-z]:[\\\/]|\\\\)/.test(args.path)) throw quor_fail("bad_path", "path must be an absolute path");
  var ctx = quor_context();
  var timecode = quor_timecode(ctx.seq, args.time);
  // Premiere adds ".png" to the name it is given (Adobe's PProPanel sample passes none), so
  // it gets the name without it and the answer names the file that is written.
  var base = args.path.replace(/\.png$/i, "");
  if (typeof ctx.qs.exportFramePNG !== "function") throw quor_fail("qe_missing", "This Premiere's QE sequence has no exportFramePNG");
  if (ctx.qs.exportFramePNG(timecode, base) === false) throw quor_fail("export_failed", "Premiere did not export the frame to " + base + ".png");
  return { path: base + ".png", timecode: timecode };
};

QUOR_VERBS.extendscript = function (args) {
  app.enableQE();
  var fn = new Function("args", args.code === undefined || args.code === null ? "" : String(args.code));
  return { value: fn(args.args === undefined || args.args === null ? {} : args.args) };
};

// ---------------------------------------------------------------------------------------
// Entry points

function quor_hello() {
  return quor_json(quor_helloFields());
}

function quor_dispatch(payload) {
  try {
    // ExtendScript has no JSON parser; the payload is JSON text that main.js made.
    var request = eval("(" + payload + ")");
    var verb = request ? request.verb : undefined;
    if (typeof verb !== "string" || !Object.prototype.hasOwnProperty.call(QUOR_VERBS, verb)) {
      return quor_json({ ok: false, errorCode: "not_in_cep", error: "CEP helper has no verb '" + verb + "'" });
    }
    var args = request.args === undefined || request.args === null ? {} : request.args;
    return quor_json({ ok: true, result: QUOR_VERBS[verb](args) });
  } catch (e) {
    var isObject = e !== null && typeof e === "object";
    var out = {
      ok: false,
      errorCode: isObject && e.quorCode ? String(e.quorCode) : "extendscript_error",
      error: isObject && e.message !== undefined ? String(e.message) : String(e),
      line: isObject && e.line !== undefined ? e.line : null
    };
    if (isObject && e.quorExpected) {
      out.expected = e.quorExpected;
      out.found = e.quorFound;
    }
    return quor_json(out);
  }
}
