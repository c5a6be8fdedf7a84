'use strict';
// What Adobe's own material shows working in a real Premiere, held against the plug-in
// through a simulator that is as strict: the sequence's own selection for removals, a
// razor that keeps both halves whole, keyframes in steps, localised names, the interchange
// exports' version, the QE speed order and frame names, and moves read back. Runs at the
// newest modelled Premiere (premiere-patterns-oldest.test.js: the oldest).

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const fs = require('fs');
const { simFixture, makeMedia } = require('./helpers');
const since = require('../../sim/premierepro/since');

const VERSION = process.env.CUTRELAY_PREMIERE_VERSION || since.NEWEST;
const TPS = 254016000000;
const sec = (t) => Number(t) / TPS;

async function fixture(t, options = {}) {
  const f = simFixture(t, Object.assign({ version: VERSION }, options));
  const [video, music] = makeMedia(f.media, ['interview_12s_25fps.mp4', 'music_6s.wav']);
  await f.sim.ok('new_project', { path: path.join(f.media, 'P') });
  const { items } = await f.sim.ok('import_media', { paths: [video, music] });
  await f.sim.ok('create_sequence', { name: 'Cut', fromItems: [items[0].id] });
  const seq = () => f.sim.project().activeSequence;
  return Object.assign(f, { items, seq });
}

test('removals go through the sequence\'s own selection, and the user keeps theirs', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  await sim.ok('append_clip', { item: f.items[0].id });
  await sim.ok('select_clips', { clip: 'V1:1' });
  // Premiere (issue #82 on Adobe's samples) refuses a createEmptySelection selection here.
  const direct = await sim.call('eval', { code: `
    const p = await h.project(); const s = await h.findSequence(p);
    const item = (await s.getVideoTrack(0)).getTrackItems(ppro.Constants.TrackItemType.CLIP, false)[0];
    let error = null;
    ppro.TrackItemSelection.createEmptySelection((sel) => {
      sel.addItem(item, true);
      try { p.lockedAccess(() => ppro.SequenceEditor.getEditor(s).createRemoveItemsAction(sel, false, ppro.Constants.MediaType.ANY)); }
      catch (e) { error = e.message; }
    });
    return error;` });
  assert.equal(direct.result.value, 'The script object is no longer valid.');
  assert.deepEqual(await sim.ok('remove_clips', { clip: 'V1:0' }), { removed: ['V1:0', 'A1:0'], ripple: false, verified: true });
  const selected = f.seq().allItems().filter((ti) => ti.selected).map((ti) => [ti.kind, sec(ti.start)]);
  assert.deepEqual(selected, [['video', 12], ['audio', 12]], 'the second clip and its audio stay selected');
  const scenes = await sim.call('scene_edit_detection', { clip: 'V1:0' });
  assert.equal(scenes.ok, true);
});

test('the UXP razor keeps both halves whole: effects, keyframes, volume, name, state, transitions', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  await sim.ok('append_clip', { item: f.items[0].id });
  await sim.ok('add_effect', { clip: 'V1:0', name: 'Gaussian Blur' });
  await sim.ok('set_param', { clip: 'V1:0', component: 'AE.ADBE Gaussian Blur 2', param: 0, value: 20 });
  await sim.ok('add_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Scale', keyframes: [{ time: 1, value: 50 }, { time: 9, value: 130 }] });
  await sim.ok('set_clip_volume', { clip: 'A1:0', db: -6 });
  await sim.ok('rename_clip', { clip: 'V1:0', name: 'Hero' });
  await sim.ok('set_clip_enabled', { clip: 'V1:0', enabled: false });
  await sim.ok('add_transition', { clip: 'V1:0', position: 'start', singleSided: true });
  await sim.ok('add_transition', { clip: 'V1:0', name: 'Dip To Black' });
  const r = await sim.ok('razor', { time: 4 });
  assert.deepEqual(r.cutTracks, ['V1', 'A1']);

  const effects = async (clip) => (await sim.ok('get_clip_effects', { clip, time: 5 })).components
    .map((c) => [c.matchName, c.params.map((p) => [p.name, p.value, p.keyframes])]);
  const [left, right] = [await effects('V1:0'), await effects('V1:1')];
  assert.deepEqual(left, right, 'the same components, values at one time, and keyframes on both halves');
  assert.deepEqual(left.map((c) => c[0]), ['AE.ADBE Motion', 'AE.ADBE Opacity', 'AE.ADBE Gaussian Blur 2']);
  assert.deepEqual(left[0][1][1], ['Scale', 90, [1, 9]]);
  assert.deepEqual(left[2][1][0], ['Blurriness', 20, []]);
  const level = async (clip) => (await sim.ok('audio_probe', { clip })).dbEstimate;
  assert.deepEqual([await level('A1:0'), await level('A1:1')], [-6, -6]);
  const s = await sim.ok('get_sequence', {});
  assert.deepEqual(s.videoTracks[0].clips.slice(0, 2).map((c) => [c.name, c.disabled, c.start.seconds, c.end.seconds, c.inPoint]),
    [['Hero', true, 0, 4, 0], ['Hero', true, 4, 12, 4]]);
  const [a, b] = f.seq().video[0].items;
  assert.deepEqual([a.transitions.start && a.transitions.start.matchName, a.transitions.end, b.transitions.start, b.transitions.end && b.transitions.end.matchName],
    ['AE.ADBE Cross Dissolve New', null, null, 'AE.ADBE Dip To Black'], 'the head transition stays left, the tail one goes right');
  assert.deepEqual(f.seq().video.map((tr) => tr.items.length), [3, 0, 0], 'no copy is left behind');
});

test('keyframes are built in steps; an action made before its parameter is time-varying fails', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  const early = await sim.call('eval', { code: `
    const p = await h.project(); const rc = await h.findClip({ project: p, sequence: await h.findSequence(p), rate: null }, "V1:0");
    const c = await h.findComponent(rc.clip, "AE.ADBE Opacity"); const param = c.component.getParam(0);
    const kf = param.createKeyframe(50); kf.position = ppro.TickTime.createWithSeconds(1);
    let ok;
    p.lockedAccess(() => { ok = p.executeTransaction((ca) => { ca.addAction(param.createSetTimeVaryingAction(true)); ca.addAction(param.createAddKeyframeAction(kf)); }, "Early"); });
    return ok;` });
  assert.equal(early.result.value, false, 'the add-keyframe action was stale when made');
  const r = await sim.ok('set_param', { clip: 'V1:0', component: 'Opacity', param: 'Opacity', value: 50, time: 1 });
  assert.match(r._note, /no undo group, so this took 2 undo steps/);
  assert.deepEqual(f.seq().video[0].items[0].components[1].params[0].keyframes.map((k) => [sec(k.position), k.value]), [[1, 50]]);
  const fade = await sim.ok('audio_fade', { clip: 'A1:0', duration: 2 });
  assert.equal(fade.seconds, 2);
});

test('interchange exports need Premiere 26.2', async (t) => {
  const f = await fixture(t);
  const output = path.join(f.media, 'cut.otio');
  const r = await f.sim.call('export_interchange', { output });
  if (since.compareVersions(VERSION, '26.2') < 0) {
    assert.deepEqual([r.ok, r.errorCode], [false, 'premiere_too_old']);
    assert.match(r.error, /^OpenTimelineIO export needs Premiere Pro 26\.2 or newer \(ProjectConverter\.exportAsOpenTimelineIO\)/);
    assert.equal(fs.existsSync(output), false);
  } else {
    assert.equal(r.ok, true);
  }
  assert.equal((await f.sim.call('export_interchange', { output, format: 'edl' })).errorCode, 'bad_args');
});

test('moves are read back; a move Premiere gets wrong fails loudly', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  await sim.ok('append_clip', { item: f.items[0].id });
  const alone = await sim.call('move_clip', { clip: 'A1:1', by: 1, linked: false });
  assert.deepEqual(alone.warnings, ['Moved A1:1 without the clips linked to it; Premiere may unlink them.']);
  const Item = sim.ppro.VideoClipTrackItem.prototype;
  const original = Item.createMoveAction;
  Item.createMoveAction = function (offset) { return original.call(this, offset.add(offset)); };
  try {
    const r = await sim.call('move_clip', { clip: 'V1:1', by: 2 });
    assert.deepEqual([r.ok, r.errorCode], [false, 'edit_not_applied']);
    assert.match(r.error, /^V1:1 should start at 14.00 s but starts at 16.00 s/);
    assert.deepEqual([r.expected['V1:1 start'], r.found['V1:1 start']], [14, 16]);
  } finally {
    Item.createMoveAction = original;
  }
});

test('the CEP helper: QE setSpeed in the declared order, and the frame file it names is there', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  await sim.ok('append_clip', { item: f.items[0].id });
  await sim.cepOk('set_speed', { clip: 'V1:0', speed: 2 });
  assert.deepEqual(f.seq().video[0].items.map((ti) => [sec(ti.start), sec(ti.end)]), [[0, 6], [12, 24]], 'no ripple unless asked');
  await sim.cepOk('set_speed', { clip: 'V1:0', speed: 1, ripple: true });
  assert.deepEqual(f.seq().video[0].items.map((ti) => [sec(ti.start), sec(ti.end)]), [[0, 12], [18, 30]], 'ripple moves the next clip');
  for (const name of ['still', 'shot.png']) {
    const r = await sim.cepOk('export_frame_qe', { time: 1, path: path.join(f.media, name) });
    assert.equal(r.path, path.join(f.media, name.replace(/\.png$/, '') + '.png'));
    assert.ok(fs.existsSync(r.path));
  }
  assert.equal(fs.existsSync(path.join(f.media, 'shot.png.png')), false);
});

for (const locale of ['de_DE', 'ja_JP']) {
  test(`localised names (${locale}): fixed effects by match name, parameters by place, names in any language`, async (t) => {
    const f = await fixture(t, { locale });
    const { sim } = f;
    const ti = () => f.seq().video[0].items[0];
    const value = (clip, match, i) => clip.components.find((c) => c.matchName === match).params[i].value;
    const t1 = await sim.ok('set_transform', { clip: 'V1:0', scale: 50, position: [0.25, 0.5], opacity: 40 });
    assert.deepEqual(t1.set, ['Motion.Scale=50', 'Motion.Position=[0.25,0.5]', 'Opacity.Opacity=40']);
    assert.deepEqual([value(ti(), 'AE.ADBE Motion', 1), value(ti(), 'AE.ADBE Motion', 0), value(ti(), 'AE.ADBE Opacity', 0)], [50, { x: 0.25, y: 0.5 }, 40]);
    const shown = (await sim.ok('get_clip_effects', { clip: 'V1:0' })).components[0];
    assert.notEqual(shown.displayName, 'Motion', 'Premiere shows the local name');
    // The English name, the local name and the match name all reach the same parameter.
    for (const [component, param, v] of [['Motion', 'Rotation', 10], [shown.displayName, shown.params[4].name, 20], ['AE.ADBE Motion', 4, 30]]) {
      await sim.ok('set_param', { clip: 'V1:0', component, param, value: v });
      assert.equal(value(ti(), 'AE.ADBE Motion', 4), v);
    }
    await sim.ok('set_clip_volume', { clip: 'A1:0', db: -6 });
    assert.equal((await sim.ok('audio_probe', { clip: 'A1:0' })).dbEstimate, -6);
    await sim.ok('audio_fade', { clip: 'A1:0', type: 'in', duration: 1 });
    assert.equal((await sim.ok('audio_probe', { clip: 'A1:0', time: 0 })).dbEstimate, -96);
    await sim.ok('add_keyframes', { clip: 'A1:0', component: 'Volume', param: 'Level', keyframes: [{ time: 5, value: 0.5 }] });
    const blur = (await sim.ok('list_effects', { search: 'ADBE Gaussian Blur' })).effects[0];
    assert.notEqual(blur.displayName, 'Gaussian Blur');
    await sim.ok('add_effect', { clip: 'V1:0', name: blur.displayName });
    assert.equal(ti().components.at(-1).matchName, 'AE.ADBE Gaussian Blur 2');
    const none = await sim.call('set_transform', { clip: 'A1:0', scale: 50 });
    assert.equal(none.errorCode, 'component_not_found', 'an audio clip has no Motion');
    assert.equal((await sim.call('set_param', { clip: 'V1:0', component: 'Motion', param: 'Zoom', value: 1 })).errorCode, 'param_not_found');
  });
}
