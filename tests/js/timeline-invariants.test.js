'use strict';
// Invariants of the editing model, exercised through the plug-in's verbs: a seeded random
// walk of edits on a linked picture/sound pair (V1 + A1) and a cutaway track (V2), checked
// after every step.
//
// The walk keeps V1 and A1 linked: an edit of V1/A1 goes with its partners, or it is made
// with linked:false on V1 and then repeated on A1. Right after the first half A1 must be
// exactly as it was (linked:false touched V1 alone); after the second, and after every
// other step, each V1 clip must have its partner on A1 with the same start, end, in point
// and project item. Edits that would touch one of them alone for good (a cutaway laid on
// V1, a razor of V1 only) are left to the verb tests.
//
// A failure prints its seed; replay it with TIMELINE_SEED=<seed> node --test <this file>.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { simFixture, makeMedia } = require('./helpers');

const TPS = 254016000000n;
const FRAME = TPS / 25n;

/** mulberry32: small, fast and good enough to pick edits. */
function rng(seed) {
  let a = seed >>> 0;
  const next = () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  return {
    next,
    int: (n) => Math.floor(next() * n),
    pick: (list) => list[Math.floor(next() * list.length)],
    chance: (p) => next() < p,
  };
}

/** Whole frames (25 fps) as seconds, so times land on frames and razor needs no snapping. */
const frames = (n) => `${n}f`;

/** The sequence and item state that an undo must restore exactly. */
function fingerprint(project) {
  const seq = project.activeSequence;
  const ti = (x) => [x.source ? x.source.id : null, x.name, String(x.start), String(x.end), String(x.inPoint), x.speed, x.disabled];
  return JSON.stringify({
    video: seq.video.map((t) => [t.name, t.items.map(ti)]),
    audio: seq.audio.map((t) => [t.name, t.items.map(ti)]),
    items: project.items().map((i) => [i.id, i.name, i.inPoint === null ? null : String(i.inPoint), i.outPoint === null ? null : String(i.outPoint)]),
  });
}

/** Checks every invariant of the editing model; returns a list of violations. */
function violations(project) {
  const out = [];
  const seq = project.activeSequence;
  for (const t of seq.allTracks()) {
    const label = (t.kind === 'video' ? 'V' : 'A') + (t.id + 1);
    let prevEnd = 0n;
    for (const [i, x] of t.items.entries()) {
      if (x.start < 0n) out.push(`${label}:${i} starts before zero`);
      if (x.end <= x.start) out.push(`${label}:${i} is empty or reversed`);
      if (i > 0 && x.start < prevEnd) out.push(`${label}:${i} overlaps the clip before it`);
      prevEnd = x.end;
      if (x.source && x.source.media) {
        const media = BigInt(x.source.media.durationTicks);
        if (x.inPoint < 0n || x.outPoint > media) out.push(`${label}:${i} plays outside its media (${x.inPoint}..${x.outPoint} of ${media})`);
      }
      if (x.outPoint - x.inPoint !== x.end - x.start) out.push(`${label}:${i} lasts ${x.end - x.start} but plays ${x.outPoint - x.inPoint} of its source`);
    }
  }
  const v1 = seq.video[0].items;
  const a1 = seq.audio[0].items;
  const key = (x) => [x.source && x.source.id, String(x.start), String(x.end), String(x.inPoint)].join(' ');
  if (v1.map(key).join('|') !== a1.map(key).join('|')) out.push(`V1 and A1 are no longer linked: V1 ${v1.map(key).join(', ')} / A1 ${a1.map(key).join(', ')}`);
  return out;
}

/** The clip answers of get_sequence agree with the model: duration equals the source range. */
async function checkAnswers(sim) {
  const s = await sim.ok('get_sequence', { detail: false });
  for (const tr of s.videoTracks.concat(s.audioTracks)) {
    for (const c of tr.clips) {
      const range = Math.round((c.outPoint - c.inPoint) * 1000);
      assert.ok(Math.abs(Math.round(c.duration * 1000) - range) <= 1, `${c.ref}: duration ${c.duration} vs source ${c.inPoint}..${c.outPoint}`);
    }
  }
}

/** One random edit: the verb and its arguments, chosen from what is on the timeline now. */
function nextEdit(r, project, ids) {
  const seq = project.activeSequence;
  const count = (kind, i) => (seq.tracks(kind)[i] ? seq.tracks(kind)[i].items.length : 0);
  const ref = (label, n) => `${label}:${n > 0 && r.chance(0.95) ? r.int(n) : r.int(n + 2)}`;
  const v1 = count('video', 0);
  const v2 = count('video', 1);
  const end = Number(seq.endTime() / FRAME);
  const anyTime = () => frames(r.int(end + 50));
  const av = () => r.pick([ids.a, ids.b, ids.c]);
  const clipOnV1orV2 = () => (v2 > 0 && r.chance(0.3) ? ref('V2', v2) : ref(r.pick(['V1', 'A1']), v1));
  const choices = [
    () => ['append_clip', { item: av() }],
    () => ['insert_clip', { item: av(), time: anyTime() }],
    () => ['overwrite_clip', { item: av(), time: anyTime() }],
    () => ['overwrite_clip', { item: ids.cutaway, time: anyTime(), track: 'V2' }],
    () => ['insert_clip', { item: ids.cutaway, time: anyTime(), track: 'V2', limitShift: r.chance(0.5) }],
    () => ['move_clip', { clip: clipOnV1orV2(), by: frames(r.int(100)) }],
    () => ['move_clip', { clip: clipOnV1orV2(), by: -(r.int(100) / 25) }],
    () => ['move_clip', { clip: clipOnV1orV2(), to: anyTime() }],
    () => ['trim_clip', { clip: clipOnV1orV2(), trimStart: (r.int(60) - 20) / 25 }],
    () => ['trim_clip', { clip: clipOnV1orV2(), trimEnd: (r.int(60) - 20) / 25 }],
    () => ['remove_clips', { clip: clipOnV1orV2(), ripple: r.chance(0.6), shiftOverlapping: r.chance(0.3) }],
    () => ['remove_gap', { clip: clipOnV1orV2() }],
    () => ['razor', { time: anyTime() }],
    () => ['razor', { time: anyTime(), tracks: r.pick([['V2'], ['V1', 'A1'], ['a1', 'v1', 'v2']]) }],
    () => ['duplicate_clip', { clip: v2 > 0 ? ref('V2', v2) : ref('V1', v1), offset: frames(r.int(200)), videoTrackOffset: v2 > 0 ? 0 : 1, insert: r.chance(0.3) }],
    () => ['set_clip_enabled', { clips: [clipOnV1orV2()], enabled: r.chance(0.5) }],
  ];
  if (v1 > 0 && r.chance(0.15)) {
    // The same unlinked edit on V1, then on A1: the pair is linked again afterwards.
    const i = r.int(v1);
    const unlinked = r.pick([
      () => ['move_clip', { by: (r.int(120) - 60) / 25 }],
      () => ['trim_clip', r.chance(0.5) ? { trimStart: (r.int(60) - 20) / 25 } : { trimEnd: (r.int(60) - 20) / 25 }],
      () => ['remove_gap', {}],
      () => ['remove_clips', { ripple: r.chance(0.5) }],
    ])();
    const [verb, extra] = unlinked;
    return [verb, Object.assign({ clip: `V1:${i}`, linked: false }, extra), Object.assign({ clip: `A1:${i}`, linked: false }, extra)];
  }
  return r.pick(choices)();
}

/** The A1 clips as they stand, to show that an edit of V1 alone left them alone. */
const a1Of = (project) => JSON.stringify(project.activeSequence.audio[0].items.map((x) => [x.source && x.source.id, String(x.start), String(x.end), String(x.inPoint)]));

async function walk(t, seed, steps) {
  const f = simFixture(t);
  const { sim } = f;
  const files = makeMedia(f.media, ['a_10s_25fps.mp4', 'b_6s_25fps.mp4', 'c_8s_25fps.mp4', 'cutaway_4s_25fps.mp4']);
  fs.writeFileSync(files[3] + '.simmeta.json', JSON.stringify({ hasAudio: false }));
  await sim.ok('new_project', { path: path.join(f.media, `Walk${seed}`) });
  const imported = await sim.ok('import_media', { paths: files });
  const [a, b, c, cutaway] = imported.items.map((i) => i.id);
  await sim.ok('create_sequence', { name: 'Walk' });
  await sim.ok('set_sequence_settings', { fps: 25 });
  const project = sim.project();
  const r = rng(seed);
  const tally = { ok: 0, failed: 0, undone: 0, unlinked: 0 };

  for (let step = 0; step < steps; step++) {
    const [verb, args, again] = nextEdit(r, project, { a, b, c, cutaway });
    const where = `seed ${seed}, step ${step}: ${verb} ${JSON.stringify(args)}${again ? ' then on A1' : ''} (replay: TIMELINE_SEED=${seed})`;
    const before = fingerprint(project);
    const history = project._history.length;
    const spans = verb === 'razor' ? razorSpans(project, args) : null;
    const a1 = a1Of(project);
    const res = await sim.call(verb, args);
    if (!res.ok) {
      tally.failed++;
      assert.match(res.errorCode, /^(transaction_failed|clip_not_found|gap_blocked)$/, `${where}: ${res.errorCode} ${res.error}`);
      assert.equal(fingerprint(project), before, `${where}: a refused edit changed the sequence`);
      assert.equal(project._history.length, history, `${where}: a refused edit left an undo step`);
      continue;
    }
    tally.ok++;
    if (again) {
      assert.equal(a1Of(project), a1, `${where}: linked:false on V1 changed A1`);
      assert.deepEqual(violations(project).filter((v) => !v.startsWith('V1 and A1')), [], where);
      const second = await sim.call(verb, again);
      assert.equal(second.ok, true, `${where}: the same edit on A1 failed: ${second.error}`);
      tally.unlinked++;
    }
    const problems = violations(project);
    assert.deepEqual(problems, [], where);
    if (spans) checkRazor(project, spans, where);
    const after = fingerprint(project);
    const added = project._history.length - history;
    if (added > 0 && r.chance(0.25)) {
      for (let i = 0; i < added; i++) project.undo();
      assert.equal(fingerprint(project), before, `${where}: undo did not restore the state before the edit`);
      for (let i = 0; i < added; i++) project.redo();
      assert.equal(fingerprint(project), after, `${where}: redo did not bring the edit back`);
      tally.undone++;
    }
    if (step % 25 === 0) await checkAnswers(sim);
  }
  await checkAnswers(sim);
  return tally;
}

/** What a razor is about to cut: the clips strictly spanning the time on the wanted tracks. */
function razorSpans(project, args) {
  const seq = project.activeSequence;
  const t = BigInt(String(args.time).replace('f', '')) * FRAME;
  const wanted = args.tracks ? args.tracks.map((x) => x.toUpperCase()) : null;
  const out = [];
  for (const track of seq.allTracks()) {
    const label = (track.kind === 'video' ? 'V' : 'A') + (track.id + 1);
    if (wanted && !wanted.includes(label)) continue;
    for (const x of track.items) {
      if (x.start < t && t < x.end) out.push({ track, label, source: x.source, start: x.start, end: x.end, inPoint: x.inPoint, t });
    }
  }
  return out;
}

/** After a razor, each cut clip is two clips whose sequence and source ranges join at the time. */
function checkRazor(project, spans, where) {
  for (const s of spans) {
    const left = s.track.items.find((x) => x.start === s.start && x.end === s.t);
    const right = s.track.items.find((x) => x.start === s.t && x.end === s.end);
    assert.ok(left && right, `${where}: ${s.label} was not cut into [start, t) and [t, end)`);
    assert.equal(left.source, s.source, `${where}: left half of ${s.label} changed source`);
    assert.equal(right.source, s.source, `${where}: right half of ${s.label} changed source`);
    assert.equal(left.inPoint, s.inPoint, `${where}: left half of ${s.label} moved its in point`);
    assert.equal(right.inPoint, s.inPoint + (s.t - s.start), `${where}: right half of ${s.label} does not continue the source`);
  }
}

const seeds = process.env.TIMELINE_SEED ? [Number(process.env.TIMELINE_SEED)] : [1, 2, 3];
const steps = process.env.TIMELINE_STEPS ? Number(process.env.TIMELINE_STEPS) : 150;

test('a random walk of edits keeps the editing model consistent', async (t) => {
  for (const seed of seeds) {
    await t.test(`seed ${seed}`, async (tt) => {
      const tally = await walk(tt, seed, steps);
      // The walk must really edit: most steps succeed, some are refused, some are undone.
      assert.ok(tally.ok > steps / 2, `seed ${seed}: only ${tally.ok} of ${steps} edits succeeded`);
      assert.ok(tally.failed > 0 && tally.undone > 0 && tally.unlinked > 0, `seed ${seed}: ${JSON.stringify(tally)}`);
    });
  }
});
