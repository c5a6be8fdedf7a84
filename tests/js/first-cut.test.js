'use strict';
// Answers an agent relies on while making a first cut, by verb family: audio levels and
// fades, markers, values Premiere cannot hold, placement, loose names, paths and messages.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { simFixture, makeMedia } = require('./helpers');

const failure = (r) => [r.ok, r.errorCode, r.error];

/** The 12 s interview on V1/A1 and the music on A1 from 12 s (in point 1 s, 2.5 s long). */
async function fixture(t, options) {
  const f = simFixture(t, options);
  const [video, audio] = makeMedia(f.media, ['interview_12s_25fps.mp4', 'music_3.5s.wav']);
  await f.sim.ok('new_project', { path: path.join(f.media, 'Cut') });
  const { items } = await f.sim.ok('import_media', { paths: [video, audio] });
  await f.sim.ok('set_source_in_out', { item: items[1].id, in: 1 });
  await f.sim.ok('create_sequence', { name: 'Cut', fromItems: items.map((i) => i.id) });
  return Object.assign(f, { items, video, audio, seq: () => f.sim.project().activeSequence });
}

test('audio: a fade keeps the level the clip has', async (t) => {
  const { sim } = await fixture(t);

  await t.test('a fade out without db fades from the static level', async () => {
    await sim.ok('set_clip_volume', { clip: 'A1:1', db: -12 });
    await sim.ok('audio_fade', { clip: 'A1:1', type: 'out', duration: 1 });
    assert.equal((await sim.ok('audio_probe', { clip: 'A1:1', time: 12.5 })).dbEstimate, -12);
    assert.equal((await sim.ok('audio_probe', { clip: 'A1:1', time: 13.5 })).dbEstimate, -12);
  });

  await t.test('a fade in without db meets a keyed level where it ends', async () => {
    await sim.ok('add_keyframes', { clip: 'A1:0', component: 'Volume', param: 'Level',
      keyframes: [{ time: 0, value: Math.pow(10, -21 / 20) }, { time: 12, value: Math.pow(10, -21 / 20) }] });
    await sim.ok('audio_fade', { clip: 'A1:0', type: 'in', duration: 2 });
    assert.equal((await sim.ok('audio_probe', { clip: 'A1:0', time: 2 })).dbEstimate, -6);
    await sim.ok('audio_fade', { clip: 'A1:0', type: 'out', duration: 2, db: -3 });
    assert.equal((await sim.ok('audio_probe', { clip: 'A1:0', time: 10 })).dbEstimate, -3);
  });
});

test('markers: types in any case; unknown types warn', async (t) => {
  const { sim } = await fixture(t);
  const r = await sim.call('add_marker', { time: 1, type: 'Chapter' });
  assert.equal(r.warnings, undefined);
  const weird = await sim.call('add_marker', { time: 2, type: 'Scene' });
  assert.deepEqual(weird.warnings, ["Marker type 'Scene' is none of comment, chapter, weblink; made a comment marker."]);
  await sim.ok('add_marker', { time: 3, type: 'WebLink' });
  const { markers } = await sim.ok('list_markers', {});
  assert.deepEqual(markers.map((m) => m.type), ['Chapter', 'Comment', 'WebLink']);
});

test('values Premiere cannot hold are refused', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  const scale = () => f.seq().video[0].items[0].components[0].params[1].value;

  await t.test('a timecode frame at or past the frame rate is bad_time', async () => {
    assert.deepEqual(failure(await sim.call('set_playhead', { time: '00:00:10:25' })),
      [false, 'bad_time', "Timecode '00:00:10:25' has frame 25, but frames run 0 to 24 at 25 fps."]);
    assert.equal((await sim.ok('set_playhead', { time: '00:00:10:24' })).playhead.seconds, 10.96);
  });

  await t.test('values outside a parameter\'s range are bad_value with the range', async () => {
    assert.deepEqual(failure(await sim.call('set_transform', { clip: 'V1:0', scale: -50 })),
      [false, 'bad_value', "Value -50 is outside the range of 'Scale' (0 to 10000)."]);
    assert.equal((await sim.call('set_param', { clip: 'V1:0', component: 'Opacity', param: 'Opacity', value: 150 })).errorCode, 'bad_value');
    assert.equal((await sim.call('add_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Scale',
      keyframes: [{ time: 0, value: 50 }, { time: 1, value: 20000 }] })).errorCode, 'bad_value');
    assert.equal((await sim.call('set_clip_volume', { clip: 'A1:0', db: 20 })).errorCode, 'bad_value');
    assert.equal(scale(), 100);
    await sim.ok('set_transform', { clip: 'V1:0', scale: 0 });
    assert.equal(scale(), 0);
  });

  await t.test('a reversed range is bad_args', async () => {
    const dir = path.join(f.media, 'frames');
    require('fs').mkdirSync(dir);
    assert.deepEqual(failure(await sim.call('export_frames', { dir, start: 8, end: 2, count: 3 })),
      [false, 'bad_args', 'start (8s) is after end (2s)']);
    assert.equal((await sim.call('remove_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Scale', start: 5, end: 1 })).errorCode, 'bad_args');
  });
});

test('placement: placed names this call\'s clips; one half only on request', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  const music = f.items[1].id;
  const refs = (track) => track.items.map((ti) => [ti.source ? ti.source.name : null, Number(ti.start) / 254016000000]);

  await t.test('an audio item placed at 0 names its audio clip, not the clip already on V1', async () => {
    const r = await sim.ok('overwrite_clip', { item: music, time: 0, audioTrack: 'A2' });
    assert.equal(r.placed.ref, 'A2:0');
    assert.deepEqual(r.clips, ['A2:0']);
  });

  await t.test('an A/V item placed on V2/A3 names both halves', async () => {
    const r = await sim.ok('overwrite_clip', { item: f.items[0].id, time: 20, track: 'V2', audioTrack: 'A3' });
    assert.deepEqual([r.placed.ref, r.clips], ['V2:0', ['V2:0', 'A3:0']]);
  });

  await t.test('audioTrack false places the video only, for overwrite, insert and append', async () => {
    const r = await sim.ok('overwrite_clip', { item: f.items[0].id, time: 40, track: 'V2', audioTrack: false });
    assert.deepEqual([r.audioTrack, r.clips], [null, ['V2:1']]);
    assert.ok(f.seq().audio.every((tr) => tr.items.every((ti) => ti.start !== 40n * 254016000000n)), 'no audio at 40 s');
    const audioTracks = f.seq().audio.length;
    const ins = await sim.call('insert_clip', { item: f.items[0].id, time: 0, track: 'V3', audioTrack: false, limitShift: true });
    assert.deepEqual(ins.result.clips, ['V3:0']);
    assert.deepEqual(ins.warnings, [`Premiere added track A${audioTracks + 1} while placing; it is empty.`], 'no audio track was free from 0 s on');
    assert.equal(f.seq().audio[audioTracks].items.length, 0);
    const app = await sim.ok('append_clip', { item: f.items[0].id, track: 'V2', audioTrack: false });
    assert.deepEqual([app.at.seconds, app.clips], [52, ['V2:2']]);
    assert.deepEqual(refs(f.seq().audio[0]).map((x) => x[1]), [0, 12], 'A1 untouched');
  });

  await t.test('videoTrack false places the audio only; both false is refused', async () => {
    const r = await sim.ok('overwrite_clip', { item: f.items[0].id, time: 60, videoTrack: false, audioTrack: 'A2' });
    assert.deepEqual([r.videoTrack, r.clips], [null, ['A2:1']]);
    assert.ok(f.seq().video.every((tr) => tr.items.every((ti) => ti.start !== 60n * 254016000000n)), 'no video at 60 s');
    assert.equal((await sim.call('insert_clip', { item: music, videoTrack: false, audioTrack: false })).errorCode, 'bad_args');
  });
});

test('names: exact wins, a unique part is used with a warning, an ambiguous one lists the candidates', async (t) => {
  const { sim } = await fixture(t);

  await t.test('transitions', async () => {
    const exact = await sim.call('add_transition', { clip: 'V1:0', name: 'cross dissolve' });
    assert.deepEqual([exact.result.transition, exact.warnings], ['AE.ADBE Cross Dissolve New', undefined]);
    const r = await sim.call('add_transition', { clip: 'V1:0', name: 'Dissolve' });
    assert.deepEqual(failure(r), [false, 'transition_not_found', "No transition like 'Dissolve'. premiere_list_effects {kind:\"transition\"} lists match names." +
      ' Several match; did you mean one of: AE.ADBE Cross Dissolve New, AE.ADBE Film Dissolve, AE.ADBE Additive Dissolve, AE.ADBE Non-Additive Dissolve?']);
    const loose = await sim.call('add_transition', { clip: 'V1:0', name: 'Film Diss' });
    assert.deepEqual([loose.result.transition, loose.warnings], ['AE.ADBE Film Dissolve', ["No transition is named exactly 'Film Diss'; used AE.ADBE Film Dissolve."]]);
  });

  await t.test('effects, components and parameters', async () => {
    const fx = await sim.call('add_effect', { clip: 'V1:0', name: 'gaussian' });
    assert.deepEqual(fx.warnings, ["No video effect is named exactly 'gaussian'; used 'Gaussian Blur' (AE.ADBE Gaussian Blur 2)."]);
    assert.equal((await sim.call('add_effect', { clip: 'V1:0', name: 'Blur' })).errorCode, 'effect_not_found');
    const set = await sim.call('set_param', { clip: 'V1:0', component: 'gauss', param: 'blurri', value: 5 });
    assert.equal(set.ok, true);
    assert.equal(set.warnings.length, 2);
    const amb = await sim.call('set_param', { clip: 'V1:0', component: 'Motion', param: 'Scale', value: 50 });
    assert.equal(amb.warnings, undefined, 'an exact name beats the names that contain it');
    assert.match((await sim.call('set_param', { clip: 'V1:0', component: 'Motion', param: 'Sca', value: 50 })).error, /did you mean one of: Scale, Scale Width, Uniform Scale\?$/);
    assert.equal((await sim.call('set_param', { clip: 'V1:0', component: 'Motion', param: 'nc', value: 1 })).errorCode, 'param_not_found', 'two letters or fewer match exactly only');
  });
});

test('paths and messages', async (t) => {
  const f = await fixture(t);
  const { sim } = f;

  await t.test('every argument naming a desktop file or folder must be absolute', async () => {
    const cases = [
      ['export_interchange', { output: 'rel.otio' }, 'output'],
      ['export_sequence', { output: 'out.mp4', preset: path.join(f.media, 'x.epr') }, 'output'],
      ['export_sequence', { output: path.join(f.media, 'out.mp4'), preset: 'presets/x.epr' }, 'preset'],
      ['export_frame', { dir: 'frames' }, 'dir'],
      ['export_frames', { dir: './frames', count: 2 }, 'dir'],
      ['import_media', { paths: [f.video, 'music_3.5s.wav'] }, 'paths'],
      ['open_project', { path: 'Cut.prproj' }, 'path'],
      ['new_project', { path: 'Other' }, 'path'],
      ['save_project', { path: 'copy.prproj' }, 'path'],
      ['create_sequence', { name: 'X', presetPath: 'HD.sqpreset' }, 'presetPath'],
      ['insert_mogrt', { path: 'title.mogrt' }, 'path'],
      ['source_monitor', { path: 'clip.mp4' }, 'path'],
    ];
    for (const [verb, args, arg] of cases) {
      assert.deepEqual(failure(await sim.call(verb, args)), [false, 'bad_path', `${arg} must be an absolute path`], verb);
    }
    assert.equal(require('fs').existsSync(path.join(process.cwd(), 'rel.otio')), false);
    assert.equal((await sim.cepCall('export_frame_qe', { time: 0, path: 'still.png' })).errorCode, 'bad_path');
  });

  await t.test('close_project says which project is active now', async () => {
    const other = path.join(f.media, 'Other.prproj');
    await sim.ok('new_project', { path: other });
    assert.deepEqual(await sim.ok('close_project', {}), { closed: true, activeProject: { name: 'Cut.prproj', path: path.join(f.media, 'Cut.prproj') } });
    assert.deepEqual(await sim.ok('close_project', {}), { closed: true, activeProject: null });
  });
});
