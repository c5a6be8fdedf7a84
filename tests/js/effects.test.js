'use strict';
// The plug-in's effect, keyframe, transition, MOGRT, audio and marker verbs against the
// simulator: answers, error codes and texts, the keyframe time base, undo labels, and bad
// input leaving the project as it was.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { simFixture, makeMedia } = require('./helpers');

const TPS = 254016000000;
const failure = (r) => [r.ok, r.errorCode, r.error];

/**
 * A sequence with the 12 s interview on V1/A1 (0–12 s) and the music on A1 from 12 s, its
 * source in point at 1 s, so sequence and media time differ on A1:1.
 */
async function fixture(t, options) {
  const f = simFixture(t, options);
  const [video, audio] = makeMedia(f.media, ['interview_12s_25fps.mp4', 'music_3.5s.wav']);
  await f.sim.ok('new_project', { path: path.join(f.media, 'Fx') });
  const { items } = await f.sim.ok('import_media', { paths: [video, audio] });
  await f.sim.ok('set_source_in_out', { item: items[1].id, in: 1 });
  await f.sim.ok('create_sequence', { name: 'Cut', fromItems: items.map((i) => i.id) });
  const seq = () => f.sim.project().activeSequence;
  const clip = (kind, track, i) => seq()[kind][track].items[i];
  const param = (ti, comp, name) => ti.components.find((c) => c.displayName === comp).params.find((p) => p.displayName === name);
  return Object.assign(f, { items, seq, clip, param });
}

/** Asserts that a failing call changed nothing: same undo history, same model. */
async function unchanged(f, verb, args) {
  const before = JSON.stringify(f.sim.project().toJSON());
  const history = f.sim.undoHistory().length;
  const r = await f.sim.call(verb, args);
  assert.equal(r.ok, false, `${verb} should fail`);
  assert.equal(f.sim.undoHistory().length, history);
  assert.equal(JSON.stringify(f.sim.project().toJSON()), before);
  return r;
}

test('effects: listing, adding, reading back, removing', async (t) => {
  const f = await fixture(t);
  const { sim } = f;

  await t.test('list_effects by kind, with search; a bad kind is refused', async () => {
    const v = await sim.ok('list_effects', { search: 'GAUSS' });
    assert.deepEqual(v, { kind: 'video', count: 1, effects: [{ matchName: 'AE.ADBE Gaussian Blur 2', displayName: 'Gaussian Blur' }] });
    const a = await sim.ok('list_effects', { kind: 'audio', search: 'reverb' });
    assert.ok(a.count >= 2 && a.effects.every((e) => Object.keys(e).join() === 'displayName' && /reverb/i.test(e.displayName)));
    const tr = await sim.ok('list_effects', { kind: 'transition' });
    assert.ok(tr.effects.some((e) => e.matchName === 'AE.ADBE Cross Dissolve New'));
    assert.ok((await sim.ok('list_effects', {})).count >= 50, 'a catalogue large enough to search');
    assert.deepEqual(failure(await sim.call('list_effects', { kind: 'fx' })), [false, 'bad_args', 'kind must be video, audio, or transition']);
  });

  await t.test('add_effect by display name (any case) on video, by name on audio, at an index', async () => {
    assert.deepEqual(await sim.ok('add_effect', { clip: 'V1:0', name: 'gaussian BLUR' }), { added: 'gaussian BLUR', clips: ['V1:0'], verified: true });
    await sim.ok('add_effect', { clip: 'V1:0', matchName: 'AE.ADBE Mosaic', index: 0 });
    await sim.ok('add_effect', { clips: ['A1:0', 'A1:1'], name: 'Studio Reverb' });
    assert.deepEqual(f.clip('video', 0, 0).components.map((c) => c.displayName), ['Mosaic', 'Motion', 'Opacity', 'Gaussian Blur']);
    assert.deepEqual(f.clip('audio', 0, 1).components.map((c) => c.displayName).at(-1), 'Studio Reverb');
    assert.deepEqual(sim.undoHistory().slice(-3), ['Add Effect', 'Add Effect', 'Add Effect']);
  });

  await t.test('unknown effects answer effect_not_found; a bad target among several adds nothing', async () => {
    assert.deepEqual(failure(await sim.call('add_effect', { clip: 'V1:0', name: 'Glow Deluxe' })),
      [false, 'effect_not_found', "No video effect named 'Glow Deluxe'. premiere_list_effects {kind:\"video\", search:\"…\"} lists them."]);
    assert.deepEqual(failure(await sim.call('add_effect', { clip: 'V1:0', matchName: 'AE.ADBE Nothing' })),
      [false, 'effect_not_found', "Premiere couldn't create effect 'AE.ADBE Nothing'"]);
    assert.deepEqual(failure(await unchanged(f, 'add_effect', { clips: ['A1:0', 'V1:0'], name: 'Studio Reverb' })),
      [false, 'effect_not_found', "No video effect named 'Studio Reverb'. premiere_list_effects {kind:\"video\", search:\"…\"} lists them."]);
  });

  await t.test('get_clip_effects lists every component and parameter with values', async () => {
    const r = await sim.ok('get_clip_effects', { clip: 'V1:0' });
    assert.equal(r.clip, 'V1:0');
    const motion = r.components.find((c) => c.matchName === 'AE.ADBE Motion');
    assert.deepEqual(motion.params.map((p) => p.name), ['Position', 'Scale', 'Scale Width', 'Uniform Scale', 'Rotation', 'Anchor Point', 'Anti-flicker Filter']);
    assert.deepEqual(motion.params[0], { index: 0, name: 'Position', value: [0.5, 0.5], animated: false, keyframes: [] });
    const audio = await sim.ok('get_clip_effects', { clip: 'A1:0' });
    assert.deepEqual(audio.components[0].params.map((p) => [p.name, p.value]), [['Bypass', false], ['Level', Math.pow(10, -15 / 20)]]);
  });

  await t.test('component and parameter look-ups list what exists', async () => {
    const c = await sim.call('remove_effect', { clip: 'A1:1', component: 'Echo' });
    assert.deepEqual(failure(c), [false, 'component_not_found',
      "No component 'Echo' on this clip. It has: Volume (ADBE Volume), Channel Volume (ADBE Channel Volume), Panner (ADBE Panner), Studio Reverb (ADBE Studio Reverb)"]);
    const p = await sim.call('set_param', { clip: 'V1:0', component: 'opacity', param: 'Alpha', value: 1 });
    assert.deepEqual(failure(p), [false, 'param_not_found', "No parameter 'Alpha'. Parameters: Opacity, Blend Mode"]);
    assert.equal((await sim.call('set_param', { clip: 'V1:0', component: 9, param: 0, value: 1 })).errorCode, 'component_not_found');
  });

  await t.test('remove_effect by name, match name or index; fixed effects stay', async () => {
    assert.deepEqual(await sim.ok('remove_effect', { clip: 'V1:0', component: 'AE.ADBE Mosaic' }), { clip: 'V1:0', removed: 'Mosaic', verified: true });
    assert.deepEqual(await sim.ok('remove_effect', { clip: 'V1:0', component: 2 }), { clip: 'V1:0', removed: 'Gaussian Blur', verified: true });
    assert.equal(sim.undoHistory().at(-1), 'Remove Effect');
    assert.equal((await sim.call('remove_effect', { clip: 'V1:0', component: 'Motion' })).errorCode, 'transaction_failed');
    assert.deepEqual(f.clip('video', 0, 0).components.map((c) => c.displayName), ['Motion', 'Opacity']);
  });
});

test('parameters and keyframes: values, time base, interpolation, removal', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  const music = () => f.clip('audio', 0, 1); // 12–14.5 s, in point 1 s

  await t.test('set_param converts points and colours and answers what was sent', async () => {
    const r = await sim.ok('set_param', { clip: 'V1:0', component: 'Motion', param: 'position', value: [0.25, 0.75] });
    assert.deepEqual(r, { set: [{ clip: 'V1:0', component: 'Motion', param: 'Position', value: [0.25, 0.75], keyframedAt: null }], verified: true });
    await sim.ok('set_param', { clip: 'V1:0', component: 'Motion', param: 'Anchor Point', value: { x: 0.1, y: 0.2 } });
    assert.deepEqual(f.param(f.clip('video', 0, 0), 'Motion', 'Position').value, { x: 0.25, y: 0.75 });
    assert.deepEqual(f.param(f.clip('video', 0, 0), 'Motion', 'Anchor Point').value, { x: 0.1, y: 0.2 });
    await sim.ok('add_effect', { clip: 'V1:0', name: 'Tint' });
    await sim.ok('set_param', { clip: 'V1:0', component: 'Tint', param: 'Map Black To', value: { red: 1, green: 0, blue: 0.5 } });
    assert.deepEqual(f.param(f.clip('video', 0, 0), 'Tint', 'Map Black To').value, { red: 1, green: 0, blue: 0.5, alpha: 1 });
    assert.equal(sim.undoHistory().at(-1), 'Set Param');
  });

  await t.test('a value of the wrong shape is refused and changes nothing', async () => {
    const r = await unchanged(f, 'set_param', { clips: ['V1:0'], component: 'Motion', param: 'Scale', value: [1, 2] });
    assert.equal(r.errorCode, 'bad_value');
    assert.match(r.error, /^Value \[1,2\] doesn't fit parameter 'Scale'/);
    assert.equal((await unchanged(f, 'set_param', { clip: 'V1:0', component: 'Motion', param: 'Scale' })).errorCode, 'bad_args');
    for (const value of [['a', 1], { x: 1 , y: null }, { red: 1, green: 'x', blue: 0 }]) {
      assert.equal((await unchanged(f, 'set_param', { clip: 'V1:0', component: 'Motion', param: 'Position', value })).errorCode, 'bad_value', JSON.stringify(value));
    }
  });

  await t.test('keyframes take sequence time by default and clip time on request', async () => {
    const r = await sim.ok('set_param', { clip: 'A1:1', component: 'Volume', param: 'Level', value: 0.5, time: 13 });
    assert.equal(r.set[0].keyframedAt, 13);
    await sim.ok('set_param', { clip: 'A1:1', component: 'Volume', param: 'Level', value: 0.25, time: 3, timeBase: 'clip' });
    assert.deepEqual(f.param(music(), 'Volume', 'Level').keyframes.map((k) => Number(k.position) / TPS), [2, 3]);
    assert.equal(sim.undoHistory().at(-1), 'Keyframe');
    const read = await sim.ok('get_clip_effects', { clip: 'A1:1', time: 13.5 });
    const level = read.components[0].params[1];
    assert.deepEqual([level.animated, level.keyframes], [true, [13, 14]]);
    assert.ok(Math.abs(level.value - 0.375) < 1e-9, 'linear between the keyframes');
    const byClipTime = await sim.ok('get_clip_effects', { clip: 'A1:1', time: 2.5, timeBase: 'clip' });
    assert.ok(Math.abs(byClipTime.components[0].params[1].value - 0.375) < 1e-9);
  });

  await t.test('a static value on a keyframed parameter is refused with advice', async () => {
    const r = await unchanged(f, 'set_param', { clip: 'A1:1', component: 'Volume', param: 'Level', value: 1 });
    assert.deepEqual(failure(r), [false, 'param_animated', "'Level' has keyframes; pass time to add one, or premiere_remove_keyframes {all:true} to make it static first."]);
  });

  await t.test('add_keyframes validates the whole list first', async () => {
    for (const keyframes of [undefined, [], [{ time: 1 }], [{ value: 1 }], [[1, 2]], 'x', [{ time: 1, value: 2 }, null]]) {
      const r = await unchanged(f, 'add_keyframes', { clip: 'V1:0', component: 'Opacity', param: 'Opacity', keyframes });
      assert.deepEqual(failure(r), [false, 'bad_args', 'keyframes: [{time, value}, …] is required'], JSON.stringify(keyframes));
    }
    assert.equal((await unchanged(f, 'add_keyframes', { clip: 'V1:0', component: 'Opacity', param: 'Opacity', keyframes: [{ time: 1, value: 50 }, { time: 'later', value: 2 }] })).errorCode, 'bad_time');
    assert.equal((await unchanged(f, 'add_keyframes', { clip: 'V1:0', component: 'Opacity', param: 'Opacity', keyframes: [{ time: 1, value: 50 }, { time: 2, value: 'x' }] })).errorCode, 'bad_value');
  });

  await t.test('add_keyframes with hold interpolation holds; linear ramps', async () => {
    const r = await sim.ok('add_keyframes', { clip: 'V1:0', component: 'Opacity', param: 'Opacity', interpolation: 'hold', keyframes: [{ time: 0, value: 0 }, { time: '2s', value: 100 }] });
    assert.deepEqual(r, { clip: 'V1:0', param: 'Opacity', keyframes: 2,
      _note: "Premiere's scripting API has no undo group, so this took 3 undo steps (Edit > Undo 3 times reverts it).", verified: true });
    assert.deepEqual(sim.undoHistory().slice(-3), ['Add Keyframes', 'Add Keyframes', 'Add Keyframes'], 'time-varying on, keyframes, interpolation: one step each, as in Adobe\'s sample');
    const at = async (time) => (await sim.ok('get_clip_effects', { clip: 'V1:0', time })).components[1].params[0].value;
    assert.equal(await at(1), 0);
    await sim.ok('add_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Scale', interpolation: 'linear', keyframes: [{ time: 0, value: 100 }, { time: '50f', value: 50 }] });
    assert.equal((await sim.ok('get_clip_effects', { clip: 'V1:0', time: 1 })).components[0].params[1].value, 75);
    assert.deepEqual(f.param(f.clip('video', 0, 0), 'Opacity', 'Opacity').keyframes.map((k) => k.interpolation), [4, 4]);
  });

  await t.test('remove_keyframes: one, a range, then all (static again)', async () => {
    await sim.ok('add_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Rotation', keyframes: [1, 2, 3, 4].map((s) => ({ time: s, value: s * 10 })) });
    const rot = () => f.param(f.clip('video', 0, 0), 'Motion', 'Rotation');
    assert.deepEqual(await sim.ok('remove_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Rotation', time: 1 }), { clip: 'V1:0', removed: true, verified: true });
    await sim.ok('remove_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Rotation', start: 2, end: 3 });
    assert.deepEqual(rot().keyframes.map((k) => Number(k.position) / TPS), [4]);
    assert.equal(sim.undoHistory().at(-1), 'Remove Keyframes');
    assert.deepEqual(await sim.ok('remove_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Rotation', all: true }), { clip: 'V1:0', cleared: true, verified: true });
    assert.deepEqual([rot().timeVarying, rot().keyframes.length, rot().value], [false, 0, 40]);
    assert.equal(sim.undoHistory().at(-1), 'Clear Keyframes');
    assert.equal((await sim.call('remove_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Rotation' })).errorCode, 'bad_args');
  });

  await t.test('set_transform sets in order, and checks every value before setting any', async () => {
    const r = await sim.ok('set_transform', { clip: 'V1:0', anchor: { x: 0.5, y: 0.5 }, rotation: 15, position: [0.4, 0.6] });
    assert.deepEqual(r, { clip: 'V1:0', set: ['Motion.Position=[0.4,0.6]', 'Motion.Rotation=15', 'Motion.Anchor Point={"x":0.5,"y":0.5}'], verified: true });
    const keyed = await sim.ok('set_transform', { clip: 'V1:0', opacity: 40, scale: 80, time: 1 });
    assert.deepEqual(keyed.set, ['Motion.Scale=80', 'Opacity.Opacity=40']);
    assert.deepEqual(sim.undoHistory().slice(-2), ['Set Param', 'Keyframe'], 'static values in one step; keyframes (both already animated) in one');
    assert.equal(keyed._note, undefined);
    assert.equal((await unchanged(f, 'set_transform', { clip: 'V1:0', rotation: 5, anchor: 'middle' })).errorCode, 'bad_value');
    assert.equal((await sim.call('set_transform', { clip: 'V9:0', scale: 1 })).errorCode, 'track_not_found');
  });
});

test('transitions, audio levels and fades', async (t) => {
  const f = await fixture(t);
  const { sim } = f;

  await t.test('add_transition finds a match name from a loose name and applies it', async () => {
    const r = await sim.ok('add_transition', { clip: 'V1:0', name: 'dip to black', duration: 0.5 });
    assert.deepEqual(r, { transition: 'AE.ADBE Dip To Black', clips: ['V1:0'], position: 'end', verified: true });
    assert.equal((await sim.ok('add_transition', { clip: 'V1:0', name: 'cross zoom', position: 'start', singleSided: true, alignment: 1 })).transition, 'AE.ADBE CrossZoom');
    const tr = f.clip('video', 0, 0).transitions;
    assert.deepEqual([tr.end.matchName, Number(tr.end.duration) / TPS, tr.start.matchName, tr.start.singleSided, tr.start.alignment], ['AE.ADBE Dip To Black', 0.5, 'AE.ADBE CrossZoom', true, 1]);
    // Both read back, from get_clip_effects and get_sequence alike.
    const listed = [{ position: 'start', name: 'CrossZoom', matchName: 'AE.ADBE CrossZoom', duration: 1, start: 0, end: 1, alignment: 'start' },
      { position: 'end', name: 'Dip To Black', matchName: 'AE.ADBE Dip To Black', duration: 0.5, start: 11.5, end: 12, alignment: 'end' }];
    const seconds = (list) => list.map((x) => Object.assign({}, x, { start: x.start.seconds, end: x.end.seconds }));
    assert.deepEqual(seconds((await sim.ok('get_clip_effects', { clip: 'V1:0' })).transitions), listed);
    assert.deepEqual(seconds((await sim.ok('get_sequence', {})).videoTracks[0].clips[0].transitions), listed);
    assert.equal((await sim.ok('add_transition', { clip: 'V1:0' })).transition, 'AE.ADBE Cross Dissolve New');
    assert.deepEqual(sim.undoHistory().slice(-3), ['Add Transition', 'Add Transition', 'Add Transition']);
  });

  await t.test('transition errors: unknown name, audio clips, longer than the clip', async () => {
    assert.deepEqual(failure(await sim.call('add_transition', { clip: 'V1:0', name: 'Star Wipe' })),
      [false, 'transition_not_found', "No transition like 'Star Wipe'. premiere_list_effects {kind:\"transition\"} lists match names."]);
    assert.deepEqual(failure(await unchanged(f, 'add_transition', { clips: ['V1:0', 'A1:0'] })),
      [false, 'video_only', 'UXP only supports video transitions. For audio, use premiere_add_keyframes on Volume>Level to fade.']);
    assert.equal((await sim.call('add_transition', { clip: 'V1:0', duration: 30 })).errorCode, 'transaction_failed');
    assert.equal((await sim.call('remove_transition', { clip: 'A1:0' })).errorCode, 'video_only');
  });

  await t.test('remove_transition at the start or the end', async () => {
    assert.deepEqual(await sim.ok('remove_transition', { clip: 'V1:0', position: 'start' }), { clip: 'V1:0', removed: 'start', verified: true });
    assert.deepEqual(await sim.ok('remove_transition', { clip: 'V1:0' }), { clip: 'V1:0', removed: 'end', verified: true });
    assert.deepEqual(f.clip('video', 0, 0).transitions, { start: null, end: null });
    assert.equal((await sim.call('remove_transition', { clip: 'V1:0' })).errorCode, 'transaction_failed');
  });

  await t.test('set_clip_volume converts dB to Premiere\'s level', async () => {
    const level = () => f.param(f.clip('audio', 0, 0), 'Volume', 'Level').value;
    for (const [db, want] of [[15, 1], [-6, 0.0891], [0, 0.1778]]) {
      const r = await sim.ok('set_clip_volume', { clip: 'A1:0', db });
      assert.equal(r.set[0].db, db);
      assert.ok(Math.abs(level() - want) < 1e-4, `${db} dB`);
    }
    assert.deepEqual((await sim.ok('set_clip_volume', { clip: 'A1:0', level: 0.5 })).set, [{ clip: 'A1:0', db: null, level: 0.5 }]);
    assert.equal(sim.undoHistory().at(-1), 'Clip Volume');
    assert.equal((await unchanged(f, 'set_clip_volume', { clip: 'A1:0', level: -1 })).errorCode, 'bad_args');
    assert.deepEqual(failure(await unchanged(f, 'set_clip_volume', { clips: ['A1:0', 'V1:0'], db: -3 })),
      [false, 'audio_only', 'V1:0 is a video clip — volume lives on the linked audio clip (A-track).']);
  });

  await t.test('audio_probe reads the level back as dB; video clips have no Volume', async () => {
    await sim.ok('set_clip_volume', { clip: 'A1:0', db: -6 });
    assert.deepEqual(await sim.ok('audio_probe', { clip: 'A1:0' }), { clip: 'A1:0', levelRaw: Math.pow(10, -21 / 20), dbEstimate: -6 });
    assert.deepEqual(failure(await sim.call('audio_probe', { clip: 'V1:0' })),
      [false, 'no_volume', 'This clip has no Volume component — is it an audio clip? Use an A-track ref like "A1:0".']);
  });

  await t.test('audio_fade out keyframes the last second in media time', async () => {
    const r = await sim.ok('audio_fade', { clip: 'A1:1', type: 'out', duration: 1 });
    assert.deepEqual([r.clip, r.fade, r.seconds], ['A1:1', 'out', 1]);
    const p = f.param(f.clip('audio', 0, 1), 'Volume', 'Level');
    // in point 1 s, 2.5 s long (12–14.5 s): keyframes at media times 2.5 and 3.5 s.
    assert.deepEqual(p.keyframes.map((k) => Number(k.position) / TPS), [2.5, 3.5]);
    assert.ok(Math.abs(p.keyframes[0].value - Math.pow(10, -15 / 20)) < 1e-12);
    assert.ok(Math.abs(p.keyframes[1].value - Math.pow(10, -111 / 20)) < 1e-12);
    assert.equal(sim.undoHistory().at(-1), 'Audio Fade');
    const probe = await sim.ok('audio_probe', { clip: 'A1:1', time: 14.5 });
    assert.equal(probe.dbEstimate, -96);
  });

  await t.test('audio_fade refuses video clips and fades longer than the clip', async () => {
    assert.deepEqual(failure(await sim.call('audio_fade', { clip: 'V1:0' })), [false, 'audio_only', 'Use an audio clip ref (A1:0)']);
    assert.equal((await unchanged(f, 'audio_fade', { clip: 'A1:1', duration: 4 })).errorCode, 'bad_args');
  });
});

test('markers on sequences and clip items; MOGRTs', async (t) => {
  const f = await fixture(t);
  const { sim } = f;

  await t.test('add_marker at the playhead, with type, duration and colour; list_markers reads them', async () => {
    await sim.ok('set_playhead', { time: 3 });
    const r = await sim.ok('add_marker', { name: 'Intro', comments: 'cold open', duration: 1.5, type: 'chapter', colorIndex: 6 });
    assert.deepEqual(r, { added: 'Intro', at: { seconds: 3, ticks: String(3 * TPS), timecode: '00:00:03:00', frame: 75 }, verified: true });
    assert.deepEqual(sim.undoHistory().slice(-2), ['Add Marker', 'Marker Color']);
    await sim.ok('add_marker', { time: 1, type: 'nonsense' });
    const list = await sim.ok('list_markers', {});
    assert.equal(list.count, 2);
    const [first, second] = list.markers;
    assert.deepEqual([first.name, first.type, first.start.seconds, first.duration, first.colorIndex], ['', 'Comment', 1, 0, 0]);
    assert.deepEqual([second.name, second.comments, second.type, second.duration, second.colorIndex], ['Intro', 'cold open', 'Chapter', 1.5, 6]);
    assert.match(second.guid, /^[0-9a-f-]{36}$/);
  });

  await t.test('clip item markers have no timecode', async () => {
    await sim.ok('add_marker', { item: f.items[0].id, time: 2, name: 'take' });
    const list = await sim.ok('list_markers', { item: 'interview_12s_25fps.mp4' });
    assert.deepEqual(list.markers.map((m) => [m.name, m.start]), [['take', { seconds: 2, ticks: String(2 * TPS) }]]);
    assert.equal((await sim.ok('list_markers', {})).count, 2, 'the sequence keeps its own');
  });

  await t.test('remove_marker by guid, by name, all; nothing matching is an error', async () => {
    const { markers } = await sim.ok('list_markers', {});
    assert.deepEqual(await sim.ok('remove_marker', { guid: markers[1].guid }), { removed: 1, verified: true });
    assert.deepEqual(await sim.ok('remove_marker', { item: f.items[0].id, name: 'take' }), { removed: 1, verified: true });
    assert.deepEqual(failure(await sim.call('remove_marker', {})), [false, 'marker_not_found', 'No matching marker (pass guid, name, or all:true)']);
    assert.deepEqual(await sim.ok('remove_marker', { all: true }), { removed: 1, verified: true });
    assert.equal(sim.undoHistory().at(-1), 'Remove Marker');
    sim.undo();
    assert.equal((await sim.ok('list_markers', {})).count, 1, 'undo brings the marker back');
  });

  await t.test('insert_mogrt lays a graphic on V2 whose text parameter can be set', async () => {
    const [tpl] = makeMedia(f.media, ['Lower Third.mogrt']);
    fs.writeFileSync(tpl + '.simmeta.json', JSON.stringify({ duration: 4, params: { 'Source Text': 'Name', Size: 40 } }));
    const r = await sim.ok('insert_mogrt', { path: tpl, time: 2 });
    assert.deepEqual(r, { inserted: 1, track: 'V2', _note: "Edit its text with premiere_get_clip_effects then premiere_set_param on the Graphic's text param.", verified: true });
    const fx = await sim.ok('get_clip_effects', { clip: 'V2:0' });
    const graphic = fx.components.at(-1);
    assert.deepEqual([graphic.displayName, graphic.params.map((p) => [p.name, p.value])], ['Lower Third', [['Source Text', 'Name'], ['Size', 40]]]);
    await sim.ok('set_param', { clip: 'V2:0', component: 'Lower Third', param: 'Source Text', value: 'Ada Lovelace' });
    const placed = f.clip('video', 1, 0);
    assert.deepEqual([Number(placed.start) / TPS, Number(placed.end) / TPS, placed.components.at(-1).params[0].value], [2, 6, 'Ada Lovelace']);
  });

  await t.test('insert_mogrt needs a template; missing files and libraries fail', async () => {
    assert.equal((await sim.call('insert_mogrt', {})).errorCode, 'bad_args');
    assert.equal((await sim.call('insert_mogrt', { path: path.join(f.media, 'none.mogrt') })).errorCode, 'premiere_error');
    assert.equal((await sim.call('insert_mogrt', { library: 'Brand', element: 'Title' })).errorCode, 'premiere_error');
  });
});

test('markers, transitions, keyframes and graphics survive saving and reopening', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  const [tpl] = makeMedia(f.media, ['Title.mogrt']);
  await sim.ok('add_marker', { time: 4, name: 'keep', colorIndex: 2, duration: 1 });
  await sim.ok('add_marker', { item: f.items[1].id, time: 0.5, name: 'hit' });
  await sim.ok('add_transition', { clip: 'V1:0', duration: 0.5 });
  await sim.ok('add_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Scale', keyframes: [{ time: 0, value: 100 }, { time: 1, value: 120 }] });
  await sim.ok('insert_mogrt', { path: tpl, time: 1 });
  const saved = await sim.ok('save_project', {});
  await sim.ok('close_project', {});
  await sim.ok('open_project', { path: saved.path });
  const markers = (await sim.ok('list_markers', {})).markers;
  assert.deepEqual(markers.map((m) => [m.name, m.start.seconds, m.duration, m.colorIndex]), [['keep', 4, 1, 2]]);
  assert.deepEqual((await sim.ok('list_markers', { item: f.items[1].id })).markers.map((m) => m.name), ['hit']);
  assert.equal(Number(f.clip('video', 0, 0).transitions.end.duration) / TPS, 0.5);
  const fx = await sim.ok('get_clip_effects', { clip: 'V1:0', time: 0.5 });
  assert.deepEqual([fx.components[0].params[1].value, fx.components[0].params[1].keyframes], [110, [0, 1]]);
  assert.equal((await sim.ok('get_clip_effects', { clip: 'V2:0' })).components.at(-1).displayName, 'Title');
  assert.equal((await sim.call('remove_effect', { clip: 'V1:0', component: 'Opacity' })).errorCode, 'transaction_failed', 'fixed effects stay fixed');
});
