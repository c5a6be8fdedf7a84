'use strict';
// The plug-in's timeline editing verbs against the simulator: what lands where, linked
// partners, undo labels, answers, and failures that leave the sequence as it was.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { simFixture, makeMedia } = require('./helpers');

const since = require('../../sim/premierepro/since');

// The suite runs once per Premiere version: this file at the newest modelled version,
// timeline-oldest.test.js at the manifest's minimum, through CUTRELAY_PREMIERE_VERSION.
const VERSION = since.normaliseVersion(process.env.CUTRELAY_PREMIERE_VERSION || since.NEWEST);
const TPS = 254016000000;
const failure = (r) => ({ ok: r.ok, errorCode: r.errorCode, error: r.error });

/**
 * A project with a 25 fps sequence "Cut" and three clips: "a" (10 s, video + audio),
 * "b" (6 s, video + audio) and "cutaway" (4 s, video only). Sidecars may be given per name.
 */
async function roughCut(t, sidecars = {}) {
  const f = simFixture(t, { version: VERSION });
  const files = makeMedia(f.media, ['a_10s_25fps.mp4', 'b_6s_25fps.mp4', 'cutaway_4s_25fps.mp4']);
  const side = Object.assign({ cutaway: { hasAudio: false } }, sidecars);
  for (const [name, meta] of Object.entries(side)) {
    const file = files.find((x) => path.basename(x).startsWith(name + '_'));
    fs.writeFileSync(file + '.simmeta.json', JSON.stringify(meta));
  }
  await f.sim.ok('new_project', { path: path.join(f.media, 'Rough') });
  const imported = await f.sim.ok('import_media', { paths: files });
  const [a, b, cutaway] = imported.items.map((i) => i.id);
  // A sequence made from 25 fps media is a 25 fps sequence on every Premiere version
  // (setting the rate needs 26.2); it starts empty once that clip is taken out again.
  await f.sim.ok('create_sequence', { name: 'Cut', fromItems: [a] });
  await f.sim.ok('remove_clips', { clip: 'V1:0' });
  return Object.assign(f, { a, b, cutaway, files });
}

/** Every non-empty track as "label: [start, end, in, out]…" in seconds; disabled clips marked. */
async function layout(sim) {
  const s = await sim.ok('get_sequence', { detail: false });
  const out = {};
  for (const tr of s.videoTracks.concat(s.audioTracks)) {
    if (tr.clips.length) out[tr.track] = tr.clips.map((c) => [c.start.seconds, c.end.seconds, c.inPoint, c.outPoint].concat(c.disabled ? ['off'] : []));
  }
  return out;
}

/** Runs a failing call and checks that neither the sequence nor the undo history changed. */
async function refused(sim, verb, args) {
  const before = await layout(sim);
  const history = sim.undoHistory().length;
  const r = await sim.call(verb, args);
  assert.equal(r.ok, false, `${verb} ${JSON.stringify(args)} should fail`);
  assert.deepEqual(await layout(sim), before, `${verb} changed the sequence`);
  assert.equal(sim.undoHistory().length, history, `${verb} left an undo step`);
  return failure(r);
}

test('placing clips: append, insert, overwrite', async (t) => {
  const f = await roughCut(t);
  const { sim } = f;

  await t.test('append lays clips end to end from zero and describes what it placed', async () => {
    const r = await sim.ok('append_clip', { item: f.a });
    assert.deepEqual([r.mode, r.item, r.at.seconds, r.at.timecode, r.videoTrack, r.audioTrack], ['overwrite', 'a_10s_25fps.mp4', 0, '00:00:00:00', 'V1', 'A1']);
    assert.deepEqual([r.placed.ref, r.placed.start.seconds, r.placed.end.seconds, r.placed.duration], ['V1:0', 0, 10, 10]);
    assert.equal((await sim.ok('append_clip', { item: f.b })).placed.ref, 'V1:1');
    assert.deepEqual(await layout(sim), { V1: [[0, 10, 0, 10], [10, 16, 0, 6]], A1: [[0, 10, 0, 10], [10, 16, 0, 6]] });
    assert.deepEqual(sim.undoHistory().slice(-2), ['Overwrite Clip', 'Overwrite Clip']);
  });

  await t.test('overwrite a cutaway on V2 changes no other track', async () => {
    const r = await sim.ok('overwrite_clip', { item: f.cutaway, time: 8, track: 'V2' });
    assert.deepEqual([r.videoTrack, r.audioTrack, r.placed.ref], ['V2', 'A2', 'V2:0']);
    assert.deepEqual(await layout(sim), {
      V1: [[0, 10, 0, 10], [10, 16, 0, 6]], V2: [[8, 12, 0, 4]], A1: [[0, 10, 0, 10], [10, 16, 0, 6]],
    });
  });

  await t.test('insert splits the clip under the time and ripples every later clip right', async () => {
    const r = await sim.ok('insert_clip', { item: f.b, time: 4 });
    assert.deepEqual([r.mode, r.at.seconds, r.placed.ref], ['insert', 4, 'V1:1']);
    assert.deepEqual(await layout(sim), {
      V1: [[0, 4, 0, 4], [4, 10, 0, 6], [10, 16, 4, 10], [16, 22, 0, 6]],
      V2: [[14, 18, 0, 4]],
      A1: [[0, 4, 0, 4], [4, 10, 0, 6], [10, 16, 4, 10], [16, 22, 0, 6]],
    });
    assert.equal(sim.undoHistory().at(-1), 'Insert Clip');
  });

  await t.test('limitShift keeps the insert to the targeted tracks', async () => {
    await sim.ok('insert_clip', { item: f.cutaway, time: 0, track: 'V3', limitShift: true });
    const l = await layout(sim);
    assert.deepEqual(l.V3, [[0, 4, 0, 4]]);
    assert.deepEqual(l.V2, [[14, 18, 0, 4]], 'V2 is not shifted');
  });

  await t.test('overwrite in the middle of a clip splits it around the new one', async () => {
    sim.undo();
    sim.undo();
    await sim.ok('overwrite_clip', { item: f.cutaway, time: 2, videoTrack: 'V1' });
    assert.deepEqual((await layout(sim)).V1, [[0, 2, 0, 2], [2, 6, 0, 4], [6, 10, 6, 10], [10, 16, 0, 6]]);
    assert.deepEqual((await layout(sim)).A1, [[0, 10, 0, 10], [10, 16, 0, 6]], 'a video-only item leaves the audio alone');
  });

  await t.test('the time defaults to the playhead; audioTrack to the video index', async () => {
    await sim.ok('set_playhead', { time: 20 });
    const r = await sim.ok('overwrite_clip', { item: f.b, track: 'V2' });
    assert.deepEqual([r.at.seconds, r.videoTrack, r.audioTrack], [20, 'V2', 'A2']);
    const r2 = await sim.ok('overwrite_clip', { item: f.b, time: '750f', track: 'V3', audioTrack: 'A3' });
    assert.deepEqual([r2.at.seconds, r2.audioTrack], [30, 'A3']);
  });

  await t.test('bad placements fail and leave everything as it was', async () => {
    assert.deepEqual(await refused(sim, 'insert_clip', {}), { ok: false, errorCode: 'bad_args', error: "item is required (project item id, name, 'Bin/name', or {mediaPath})" });
    assert.equal((await refused(sim, 'overwrite_clip', { item: 'nothing.mov' })).errorCode, 'item_not_found');
    assert.equal((await refused(sim, 'insert_clip', { item: f.a, time: 'later' })).errorCode, 'bad_time');
    assert.deepEqual(await refused(sim, 'append_clip', { item: f.a, track: 'V9' }),
      { ok: false, errorCode: 'track_not_found', error: "V9 doesn't exist (sequence has 3 video tracks). premiere_add_tracks can add more." });
    assert.equal((await refused(sim, 'overwrite_clip', { item: f.a, track: 'X1' })).errorCode, 'bad_track');
    assert.equal((await refused(sim, 'overwrite_clip', { item: f.a, time: -2 })).errorCode, 'transaction_failed');
    assert.equal((await refused(sim, 'overwrite_clip', { item: f.a, time: 36310195 })).errorCode, 'transaction_failed', 'ends past the latest tick Premiere holds');
  });
});

test('moving, trimming and removing keep linked partners together', async (t) => {
  const f = await roughCut(t);
  const { sim } = f;
  for (const item of [f.a, f.b]) await sim.ok('append_clip', { item });
  await sim.ok('overwrite_clip', { item: f.cutaway, time: 20, track: 'V2' });

  await t.test('move by a negative offset moves the partner by the same shift', async () => {
    const r = await sim.ok('move_clip', { clip: 'V1:1', by: 2 });
    assert.deepEqual(r, { moved: ['V1:1', 'A1:1'], _note: 'Moving can overwrite neighbors; call premiere_get_sequence to see the result.', verified: true });
    await sim.ok('move_clip', { clips: ['A1:1'], by: -1 });
    assert.deepEqual(await layout(sim), { V1: [[0, 10, 0, 10], [11, 17, 0, 6]], V2: [[20, 24, 0, 4]], A1: [[0, 10, 0, 10], [11, 17, 0, 6]] });
    assert.equal(sim.undoHistory().at(-1), 'Move Clip');
  });

  await t.test('move to a time, and several clips on one track by the same offset', async () => {
    await sim.ok('move_clip', { clip: 'V2:0', to: '00:00:30:00' });
    assert.deepEqual((await layout(sim)).V2, [[30, 34, 0, 4]]);
    await sim.ok('move_clip', { clips: ['V1:0', 'V1:1'], by: 1 });
    assert.deepEqual((await layout(sim)).V1, [[1, 11, 0, 10], [12, 18, 0, 6]], 'neither clip overwrote the other');
    await sim.ok('move_clip', { clips: ['V1:0', 'V1:1'], by: -1 });
  });

  await t.test('linked:false moves the clip alone', async () => {
    await sim.ok('move_clip', { clip: 'V1:1', by: 1, linked: false });
    const l = await layout(sim);
    assert.deepEqual([l.V1[1], l.A1[1]], [[12, 18, 0, 6], [11, 17, 0, 6]]);
    await sim.ok('move_clip', { clip: 'V1:1', by: -1, linked: false });
  });

  await t.test('bad moves are refused whole', async () => {
    assert.deepEqual(await refused(sim, 'move_clip', { clip: 'V1:0' }), { ok: false, errorCode: 'bad_args', error: 'Pass to (new start time) or by (offset, may be negative)' });
    assert.deepEqual(await refused(sim, 'move_clip', { by: 1 }), { ok: false, errorCode: 'bad_args', error: 'clip or clips is required' });
    assert.equal((await refused(sim, 'move_clip', { clip: 'V1:1', by: -20 })).errorCode, 'transaction_failed');
    assert.equal((await refused(sim, 'move_clip', { clip: 'V1:1', by: 36310195 })).errorCode, 'transaction_failed', 'past the latest tick Premiere holds');
    assert.deepEqual(await refused(sim, 'move_clip', { clips: ['V1:0', 'V9:99'], by: 1 }),
      { ok: false, errorCode: 'track_not_found', error: "V9 doesn't exist (sequence has 3 video tracks). premiere_add_tracks can add more." });
    assert.deepEqual(await refused(sim, 'move_clip', { clip: 'V1:7', by: 1 }),
      { ok: false, errorCode: 'clip_not_found', error: 'V1 has 2 clips; index 7 is out of range. premiere_get_sequence lists them.' });
    assert.deepEqual(await refused(sim, 'move_clip', { clip: 'first', by: 1 }),
      { ok: false, errorCode: 'bad_clip', error: "Bad clip ref 'first'. Use \"V1:0\" (track:index) — premiere_get_sequence lists them." });
  });

  await t.test('a head trim moves the in point with the start, on the partner too', async () => {
    const r = await sim.ok('trim_clip', { clip: 'V1:1', trimStart: 1.5, trimEnd: '25f' });
    assert.deepEqual([r.clip, r.linked, r.after.ref, r.after.start.seconds, r.after.end.seconds, r.after.inPoint, r.after.outPoint],
      ['V1:1', ['A1:1'], 'V1:1', 12.5, 16, 1.5, 5]);
    assert.deepEqual((await layout(sim)).A1[1], [12.5, 16, 1.5, 5]);
    assert.equal(sim.undoHistory().at(-1), 'Trim Clip');
  });

  await t.test('start wins over trimStart; source in/out set the length', async () => {
    await sim.ok('trim_clip', { clip: 'V1:1', start: 12, trimStart: 3 });
    assert.deepEqual((await layout(sim)).V1[1], [12, 16, 1, 5]);
    await sim.ok('trim_clip', { clip: 'V1:1', outPoint: 6 });
    assert.deepEqual((await layout(sim)).A1[1], [12, 17, 1, 6]);
  });

  await t.test('trims past the media, to nothing, or onto a neighbour are refused', async () => {
    assert.equal((await refused(sim, 'trim_clip', { clip: 'V1:1', trimStart: -2 })).errorCode, 'transaction_failed', 'head before the media start');
    const tail = await refused(sim, 'trim_clip', { clip: 'V1:0', end: 11 });
    assert.deepEqual(tail, { ok: false, errorCode: 'transaction_failed', error: "Premiere rejected the edit 'Trim Clip'. Check the clip/time arguments (e.g. a trim past the media's length)." });
    assert.equal((await refused(sim, 'trim_clip', { clip: 'V1:1', end: 12 })).errorCode, 'transaction_failed', 'zero length');
    assert.equal((await refused(sim, 'trim_clip', { clip: 'V1:1', start: 9 })).errorCode, 'transaction_failed', 'onto V1:0');
    assert.deepEqual(await refused(sim, 'trim_clip', {}), { ok: false, errorCode: 'bad_clip', error: 'clip is required, e.g. "V1:0"' });
  });

  await t.test('close the gap before a clip, with its partner', async () => {
    assert.deepEqual(await sim.ok('remove_gap', { clip: 'V1:0' }), { gap: 0 });
    assert.deepEqual(await sim.ok('remove_gap', { clip: 'V1:1' }), { closed: 2, movedClips: 2, verified: true });
    assert.deepEqual(await layout(sim), { V1: [[0, 10, 0, 10], [10, 15, 1, 6]], V2: [[30, 34, 0, 4]], A1: [[0, 10, 0, 10], [10, 15, 1, 6]] });
    assert.equal(sim.undoHistory().at(-1), 'Close Gap');
  });

  await t.test('a partner that cannot follow blocks the gap unless linked is false', async () => {
    await sim.ok('move_clip', { clip: 'V1:1', by: 3 });
    await sim.ok('move_clip', { clip: 'A1:0', by: 2, linked: false });
    assert.deepEqual(await refused(sim, 'remove_gap', { clip: 'V1:1' }), {
      ok: false, errorCode: 'gap_blocked',
      error: "A1:1 can't shift left by 3s without overlapping the clip before it. Pass linked:false to close the gap on V1 only.",
    });
    assert.deepEqual(await sim.ok('remove_gap', { clip: 'V1:1', linked: false }), { closed: 3, movedClips: 1, verified: true });
    assert.deepEqual(await sim.ok('remove_gap', { clip: 'V2:0' }), { closed: 30, movedClips: 1, verified: true }, 'the first clip closes up to zero');
  });

  await t.test('ripple delete closes the hole on its tracks only', async () => {
    sim.undo();
    sim.undo();
    sim.undo();
    sim.undo();
    const r = await sim.ok('remove_clips', { clip: 'V1:0', ripple: true });
    assert.deepEqual(r, { removed: ['V1:0', 'A1:0'], ripple: true, verified: true });
    assert.deepEqual(await layout(sim), { V1: [[0, 5, 1, 6]], V2: [[30, 34, 0, 4]], A1: [[0, 5, 1, 6]] });
    assert.equal(sim.undoHistory().at(-1), 'Ripple Delete');
  });

  await t.test('shiftOverlapping also closes other tracks where the span is free', async () => {
    sim.undo();
    await sim.ok('remove_clips', { clip: 'V1:0', ripple: true, shiftOverlapping: true });
    assert.deepEqual((await layout(sim)).V2, [[20, 24, 0, 4]]);
    sim.undo();
  });

  await t.test('a plain delete leaves the hole', async () => {
    const r = await sim.ok('remove_clips', { clips: ['V1:1'], linked: false });
    assert.deepEqual(r, { removed: ['V1:1'], ripple: false, verified: true });
    assert.deepEqual((await layout(sim)).V1, [[0, 10, 0, 10]]);
    assert.equal(sim.undoHistory().at(-1), 'Delete Clips');
    assert.deepEqual(await refused(sim, 'remove_clips', { clips: [] }), { ok: false, errorCode: 'bad_args', error: 'clip or clips is required' });
    assert.equal((await refused(sim, 'remove_clips', { clips: ['V1:0', 'A1:5'] })).errorCode, 'clip_not_found');
  });
});

test('razor without the CEP helper', async (t) => {
  const f = await roughCut(t, { b: { speed: 2 } });
  const { sim } = f;
  await sim.ok('append_clip', { item: f.a });
  await sim.ok('overwrite_clip', { item: f.cutaway, time: 2, track: 'V2' });

  await t.test('each linked group is cut into halves that join exactly, built from copies of the clip', async () => {
    const before = sim.undoHistory().length;
    const r = await sim.call('razor', { time: 4 });
    assert.deepEqual(r.result.cutTracks, ['V1', 'A1', 'V2'], 'one linked group after the other');
    assert.deepEqual([r.result.method, r.result.at.timecode], ['uxp-overwrite', '00:00:04:00']);
    assert.equal(r.warnings, undefined, 'free tracks were there for the copies');
    assert.deepEqual(await layout(sim), { V1: [[0, 4, 0, 4], [4, 10, 4, 10]], V2: [[2, 4, 0, 2], [4, 6, 2, 4]], A1: [[0, 4, 0, 4], [4, 10, 4, 10]] });
    const steps = ['Razor (copy)', 'Razor (trim)', 'Razor (place)', 'Razor (cleanup)'];
    assert.deepEqual(sim.undoHistory().slice(before), steps.concat(steps));
    assert.match(r.result._note, /no undo group, so this took 8 undo steps/);
  });

  await t.test('the time snaps to the nearest frame; a boundary cuts nothing and warns', async () => {
    const r = await sim.call('razor', { time: 4.01 });
    assert.deepEqual(r.result.cutTracks, []);
    assert.deepEqual(r.warnings, ['No clip spans that time on the chosen tracks — nothing was cut.']);
    const past = await sim.call('razor', { time: 500 });
    assert.deepEqual([past.result.cutTracks, past.warnings.length], [[], 1]);
    assert.equal((await refused(sim, 'razor', { time: 'noon' })).errorCode, 'bad_time');
    assert.deepEqual(await refused(sim, 'razor', {}), { ok: false, errorCode: 'bad_args', error: 'time is required' });
  });

  await t.test('one half of a linked pair is cut alone; with no free track the copy goes on a new one', async () => {
    const r = await sim.call('razor', { time: 7, tracks: ['v1'] });
    assert.deepEqual([r.result.cutTracks, r.warnings], [['V1'], undefined]);
    const l = await layout(sim);
    assert.deepEqual(l.V1, [[0, 4, 0, 4], [4, 7, 4, 7], [7, 10, 7, 10]]);
    assert.deepEqual(l.A1, [[0, 4, 0, 4], [4, 10, 4, 10]], 'the audio under the cut is untouched');
    await sim.ok('overwrite_clip', { item: f.a, time: 0, track: 'V3', audioTrack: 'A2' });
    await sim.ok('overwrite_clip', { item: f.a, time: 0, track: 'V2', audioTrack: 'A3' });
    const crowded = await sim.call('razor', { time: 5, tracks: ['V3'] });
    assert.deepEqual(crowded.warnings, ["The cut needed a free video track to build the right half on, so Premiere added V4; it is empty now (UXP can't remove tracks)."]);
    const s = await sim.ok('get_sequence', { detail: false });
    assert.deepEqual(s.videoTracks.map((tr) => tr.clips.length), [3, 1, 2, 0]);
    for (let i = 0; i < 6; i++) sim.undo();
  });

  await t.test('when a step fails the cut clips get their tails back and the copies go', async () => {
    const Editor = sim.ppro.SequenceEditor.prototype;
    const original = Editor.createCloneTrackItemAction;
    let calls = 0;
    Editor.createCloneTrackItemAction = function (...xs) {
      calls += 1;
      if (calls > 1) throw new Error('track is locked');
      return original.apply(this, xs);
    };
    const before = await layout(sim);
    try {
      const r = await sim.call('razor', { time: 9, tracks: ['V1'] });
      assert.deepEqual([r.ok, r.errorCode, r.error], [false, 'premiere_error', 'track is locked']);
    } finally {
      Editor.createCloneTrackItemAction = original;
    }
    assert.deepEqual(await layout(sim), before);
    assert.deepEqual(sim.undoHistory().slice(-4), ['Razor (copy)', 'Razor (trim)', 'Razor (revert trim)', 'Razor (cleanup)']);
  });

  await t.test('a clip with a speed change cannot be cut in UXP', async () => {
    const placed = await sim.ok('overwrite_clip', { item: f.b, time: 20 });
    assert.deepEqual([placed.placed.start.seconds, placed.placed.end.seconds, placed.placed.inPoint, placed.placed.outPoint], [20, 23, 0, 6]);
    assert.equal((await sim.ok('get_sequence', {})).videoTracks[0].clips.at(-1).speed, 2);
    assert.deepEqual(await refused(sim, 'razor', { time: 21 }), {
      ok: false, errorCode: 'razor_speed',
      error: 'This clip has a speed change; the UXP razor fallback can\'t keep sync. Connect the CEP helper (premiere_install_plugin + restart Premiere) for a true razor.',
    });
  });

  await t.test('a speed change anywhere under the cut refuses the whole razor before cutting', async () => {
    await sim.ok('overwrite_clip', { item: f.a, time: 39 });
    await sim.ok('overwrite_clip', { item: f.b, time: 40, track: 'V2' });
    assert.equal((await refused(sim, 'razor', { time: 41 })).errorCode, 'razor_speed', 'V1/A1 are not cut although they come first');
  });
});

test('selection, clip and track attributes, scene detection', async (t) => {
  const f = await roughCut(t, { a: { sceneCuts: [2.5, 7, 40] } });
  const { sim } = f;
  await sim.ok('append_clip', { item: f.a });
  await sim.ok('append_clip', { item: f.b });

  await t.test('select_clips selects the partners too; get and clear read it back', async () => {
    assert.deepEqual(await sim.ok('select_clips', { clip: 'V1:1' }), { selected: ['V1:1', 'A1:1'] });
    const sel = await sim.ok('get_selection', {});
    assert.deepEqual([sel.count, sel.items.map((i) => [i.name, i.start.seconds, i.end.seconds, i.track])],
      [2, [['b_6s_25fps.mp4', 10, 16, 0], ['b_6s_25fps.mp4', 10, 16, 0]]]);
    assert.equal((await sim.ok('get_sequence', {})).videoTracks[0].clips[1].selected, true);
    assert.deepEqual(await sim.ok('clear_selection', {}), { cleared: true });
    assert.equal((await sim.ok('get_selection', {})).count, 0);
  });

  await t.test('a selection is usable only inside its creation callback', () => {
    const ppro = sim.ppro;
    let kept = null;
    assert.equal(ppro.TrackItemSelection.createEmptySelection((s) => { kept = s; }), true);
    assert.throws(() => kept.addItem(null), /only valid inside its creation callback/);
  });

  await t.test('enable, rename and duplicate', async () => {
    assert.deepEqual(await sim.ok('set_clip_enabled', { clips: ['V1:0'], enabled: false }), { clips: ['V1:0'], enabled: false, verified: true });
    assert.deepEqual((await layout(sim)).V1[0], [0, 10, 0, 10, 'off']);
    assert.deepEqual((await layout(sim)).A1[0], [0, 10, 0, 10], 'partners are not disabled');
    assert.equal(sim.undoHistory().at(-1), 'Enable/Disable');
    await sim.ok('set_clip_enabled', { clip: 'V1:0' });
    assert.deepEqual(await sim.ok('rename_clip', { clip: 'V1:1', name: 'B-roll' }), { clip: 'V1:1', name: 'B-roll', verified: true });
    assert.equal((await sim.ok('get_sequence', {})).videoTracks[0].clips[1].name, 'B-roll');
    assert.equal((await refused(sim, 'rename_clip', { clip: 'V1:1' })).errorCode, 'bad_args');
    assert.deepEqual(await sim.ok('duplicate_clip', { clip: 'V1:1', offset: 10, videoTrackOffset: 1 }), { duplicated: 'V1:1', verified: true });
    assert.deepEqual((await layout(sim)).V2, [[20, 26, 0, 6]]);
    assert.equal(sim.undoHistory().at(-1), 'Duplicate Clip');
    assert.equal((await refused(sim, 'duplicate_clip', { clip: 'V1:1', videoTrackOffset: -1 })).errorCode, 'transaction_failed');
  });

  await t.test('tracks: mute reads back, rename is undoable', async () => {
    assert.deepEqual(await sim.ok('set_track_mute', { track: 'A1' }), { track: 'A1', muted: true, verified: true });
    assert.deepEqual(await sim.ok('set_track_mute', { track: 'A1', mute: false }), { track: 'A1', muted: false, verified: true });
    if (typeof sim.ppro.VideoTrack.prototype.createSetNameAction === 'function') {
      assert.deepEqual(await sim.ok('rename_track', { track: 'V2', name: 'Cutaways' }), { track: 'V2', name: 'Cutaways', verified: true });
      assert.equal((await sim.ok('get_sequence', {})).videoTracks[1].name, 'Cutaways');
      assert.equal(sim.undoHistory().at(-1), 'Rename Track');
    } else {
      assert.deepEqual(await refused(sim, 'rename_track', { track: 'V2', name: 'Cutaways' }), {
        ok: false, errorCode: 'premiere_too_old',
        error: `premiere_rename_track needs Premiere Pro 26.3 or newer (VideoTrack.createSetNameAction); this Premiere is ${sim.app.version}.`,
      });
    }
    assert.equal((await refused(sim, 'set_track_mute', { track: 'A7' })).errorCode, 'track_not_found');
    assert.equal((await refused(sim, 'rename_track', { track: 5, name: 'x' })).errorCode, 'bad_track');
  });

  await t.test('scene edit detection cuts at the listed scene changes inside the clip', async () => {
    assert.deepEqual(await sim.ok('scene_edit_detection', { clip: 'V1:0' }), { started: true, operation: 'cut', _note: 'Not verified: Premiere detects the scenes after the call returns; premiere_get_sequence shows the cuts once it is done.', verified: false });
    const l = await layout(sim);
    assert.deepEqual(l.V1.slice(0, 3), [[0, 2.5, 0, 2.5], [2.5, 7, 2.5, 7], [7, 10, 7, 10]]);
    assert.deepEqual(l.A1.slice(0, 3), l.V1.slice(0, 3), 'the linked audio is cut with it');
    assert.equal(sim.undoHistory().at(-1), 'Scene Edit Detection');
    sim.undo();
  });

  await t.test('markers, subclips, and media without scene cuts', async () => {
    assert.deepEqual(await sim.ok('scene_edit_detection', { clip: 'V1:0', operation: 'marker' }), { started: true, operation: 'marker', _note: 'Not verified: Premiere detects the scenes after the call returns; premiere_get_sequence shows the cuts once it is done.', verified: false });
    const markers = await sim.ok('list_markers', {});
    assert.deepEqual(markers.markers.map((m) => [m.start.seconds, m.type]), [[2.5, 'Comment'], [7, 'Comment']]);
    await sim.ok('scene_edit_detection', { clip: 'V1:0', operation: 'subclip' });
    const subs = await sim.ok('list_project_items', { search: 'Scene' });
    assert.deepEqual(subs.items.map((i) => i.name), ['a_10s_25fps.mp4 Scene 1', 'a_10s_25fps.mp4 Scene 2', 'a_10s_25fps.mp4 Scene 3']);
    const before = await layout(sim);
    assert.deepEqual(await sim.ok('scene_edit_detection', { clips: ['V1:1'] }), { started: true, operation: 'cut', _note: 'Not verified: Premiere detects the scenes after the call returns; premiere_get_sequence shows the cuts once it is done.', verified: false });
    assert.deepEqual(await layout(sim), before, 'no sceneCuts, no cuts');
    assert.deepEqual(await refused(sim, 'scene_edit_detection', { clip: 'V1:0', operation: 'split' }),
      { ok: false, errorCode: 'bad_args', error: 'operation must be "cut", "marker" or "subclip"' });
  });
});

test('every timeline verb keeps the connection usable after bad arguments', async (t) => {
  const f = await roughCut(t);
  const { sim } = f;
  await sim.ok('append_clip', { item: f.a });
  const verbs = ['insert_clip', 'overwrite_clip', 'append_clip', 'move_clip', 'trim_clip', 'remove_clips', 'remove_gap', 'razor',
    'set_clip_enabled', 'rename_clip', 'duplicate_clip', 'select_clips', 'get_selection', 'clear_selection', 'scene_edit_detection',
    'set_track_mute', 'rename_track'];
  const junk = [{}, { clip: 5 }, { clip: 'V9:99' }, { clips: 'V1:0' }, { clips: [null] }, { clip: { track: 'V1', at: 'x' } },
    { time: [], tracks: 'V1', item: {} }, { track: 'Z', name: 7 }, { clip: 'V1:0', by: 'x', to: {}, offset: 'q', trimStart: {} }];
  for (const verb of verbs) {
    for (const args of junk) {
      const before = await layout(sim);
      const r = await sim.call(verb, args);
      if (!r.ok) {
        assert.match(r.errorCode, /^[a-z_]+$/, `${verb} ${JSON.stringify(args)}`);
        assert.deepEqual(await layout(sim), before, `${verb} ${JSON.stringify(args)} changed the sequence`);
      }
    }
  }
  assert.equal((await sim.call('ping', {})).ok, true);
});
