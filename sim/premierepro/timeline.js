'use strict';
// The timeline rules of the simulated Premiere, each stated once for both faces of it (the
// `premierepro` module's actions and the CEP helper's QE DOM): what a project item lays
// down, placing, clearing, splitting and removing track items, speed, and the checks that
// refuse what Premiere would refuse (they throw SimReject). sim/README.md names the source
// of each rule.

const { SimReject } = require('./internal');
const { TrackModel, TrackItemModel, ComponentModel, ParamModel, scaled } = require('./records');

/** Times are 64-bit tick counts in Premiere (TickTime.TIME_MAX); nothing on a timeline lies later. */
const LATEST = 2n ** 63n - 1n;

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

module.exports = {
  sourceRange, mediaLimit, sortTrack, ensureTrack, cloneTrackItem, clearRange, rippleOpen, placeItem,
  removeTrackItems, splitTrackItem, linkedItems, mediaSpeed, lengthAtSpeed, setTrackItemSpeed, checkTrackItem,
};
