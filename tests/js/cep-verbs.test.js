'use strict';
// The CEP helper's nine verbs, run through its real main.js and host.jsx in the simulator,
// and checked through the UXP plug-in's view of the same project.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { renderFrameFile } = require('../../sim/render');
const { editFixture, simFixture, makeMedia } = require('./helpers');

const TPS = 254016000000;

/** [ref, start s, end s] of each clip on a track, as the UXP plug-in lists them. */
async function layout(sim, track) {
  const s = await sim.ok('get_sequence', {});
  const list = track[0] === 'V' ? s.videoTracks : s.audioTracks;
  const t = list[parseInt(track.slice(1), 10) - 1];
  return t.clips.map((c) => [c.ref, c.start.seconds, c.end.seconds]);
}

/** A sequence of four 4-second clips on V1/A1 with the second removed: clip, gap, clip, clip. */
async function gappedFixture(t) {
  const f = simFixture(t);
  const files = makeMedia(f.media, ['a_4s_25fps.mp4', 'b_4s_25fps.mp4', 'c_4s_25fps.mp4', 'd_4s_25fps.mp4']);
  await f.sim.ok('new_project', { path: path.join(f.media, 'Gaps') });
  const imported = await f.sim.ok('import_media', { paths: files });
  await f.sim.ok('create_sequence', { name: 'Gapped', fromItems: imported.items.map((i) => i.id) });
  // Setting up the gap on the model directly: the timeline verbs are not what is tested here.
  const seq = f.sim.project().activeSequence;
  for (const track of [seq.video[0], seq.audio[0]]) track.items.splice(1, 1);
  return f;
}

test('razor', async (t) => {
  await t.test('cuts every track at the timecode; the UXP plug-in sees both halves', async (t) => {
    const { sim } = await editFixture(t);
    const r = await sim.cepOk('razor', { time: 5 });
    assert.deepEqual(r, { cutTracks: ['V1', 'V2', 'V3', 'A1', 'A2', 'A3'], timecode: '00:00:05:00', method: 'qe-razor', verified: true });
    assert.deepEqual(await layout(sim, 'V1'), [['V1:0', 0, 5], ['V1:1', 5, 12]]);
    assert.deepEqual(await layout(sim, 'A1'), [['A1:0', 0, 5], ['A1:1', 5, 12], ['A1:2', 12, 15.5]]);
    const s = await sim.ok('get_sequence', {});
    assert.deepEqual([s.videoTracks[0].clips[1].inPoint, s.videoTracks[0].clips[1].outPoint], [5, 12]);
    assert.deepEqual(sim.undoHistory().slice(-2), ['Razor', 'Razor']);
  });

  await t.test('the right half keeps the clip\'s effects and their values', async (t) => {
    const { sim } = await editFixture(t);
    const left = sim.project().activeSequence.video[0].items[0];
    left.components[0].params[1].value = 42; // Motion > Scale
    await sim.cepOk('razor', { time: 6, tracks: ['V1'] });
    const [a, b] = sim.project().activeSequence.video[0].items;
    assert.deepEqual(b.components.map((c) => c.matchName), a.components.map((c) => c.matchName));
    assert.equal(b.components[0].params[1].value, 42);
    assert.notEqual(b.components[0], a.components[0], 'the halves must not share one component record');
  });

  await t.test('lower-case labels razor only those tracks; a single label is a list of one', async (t) => {
    const { sim } = await editFixture(t);
    assert.deepEqual((await sim.cepOk('razor', { time: 2, tracks: ['v1', 'a1'] })).cutTracks, ['V1', 'A1']);
    assert.deepEqual((await sim.cepOk('razor', { time: 3, tracks: 'A1' })).cutTracks, ['A1']);
    assert.deepEqual(await layout(sim, 'V1'), [['V1:0', 0, 2], ['V1:1', 2, 12]]);
    assert.equal((await layout(sim, 'A1')).length, 4);
  });

  await t.test('a cut on a clip boundary, in a gap or on a locked track changes nothing', async (t) => {
    const { sim } = await editFixture(t);
    await sim.cepOk('razor', { time: 12 });
    await sim.cepOk('razor', { time: 40 });
    await sim.cepOk('lock_track', { track: 'V1' });
    await sim.cepOk('razor', { time: 4, tracks: ['V1'] });
    assert.deepEqual(await layout(sim, 'V1'), [['V1:0', 0, 12]]);
    assert.equal(sim.undoHistory().includes('Razor'), false);
  });

  await t.test('halves of a fast or reversed clip cover the source range between them', async (t) => {
    const { sim } = await gappedFixture(t);
    await sim.cepOk('set_speed', { clip: 'V1:0', speed: 2, reverse: true });
    await sim.cepOk('set_speed', { clip: 'A1:0', speed: 2 });
    await sim.cepOk('razor', { time: 0.4, tracks: ['V1', 'A1'] });
    const seq = sim.project().activeSequence;
    const span = (ti) => [Number(ti.inPoint) / TPS, Number(ti.outPoint) / TPS];
    assert.deepEqual(seq.video[0].items.slice(0, 2).map(span), [[3.2, 4], [0, 3.2]]);
    assert.deepEqual(seq.audio[0].items.slice(0, 2).map(span), [[0, 0.8], [0.8, 4]]);
  });

  await t.test('a reversed clip splits the same way under the razor and under a UXP insert or overwrite', async (t) => {
    const { sim } = await gappedFixture(t);
    await sim.cepOk('set_speed', { clip: 'V1:0', speed: 1, reverse: true });
    await sim.cepOk('set_speed', { clip: 'V1:1', speed: 1, reverse: true });
    const seq = sim.project().activeSequence;
    const span = (ti) => [Number(ti.start) / TPS, Number(ti.end) / TPS, Number(ti.inPoint) / TPS, Number(ti.outPoint) / TPS];
    await sim.cepOk('razor', { time: 3, tracks: ['V1'] });
    await sim.ok('insert_clip', { item: 'b_4s_25fps.mp4', time: 1 });
    await sim.ok('overwrite_clip', { item: 'b_4s_25fps.mp4', time: 13 });
    // Played backwards, the earlier part on the timeline holds the later part of the source.
    assert.deepEqual(seq.video[0].items.map(span), [
      [0, 1, 3, 4], [1, 5, 0, 4], [5, 7, 1, 3], [7, 8, 0, 1], // a: inserted at 1, razored at 3
      [12, 13, 3, 4], [13, 17, 0, 4], // c, reversed, overwritten from 13 by b
      [17, 20, 1, 4], // d, forwards, its head overwritten
    ]);
  });

  await t.test('the head transition stays on the left half and the tail one goes right', async (t) => {
    const { sim } = await editFixture(t);
    const ti = sim.project().activeSequence.video[0].items[0];
    const dissolve = (at) => ({ matchName: 'ADBE Cross Dissolve (new)', duration: BigInt(TPS), alignment: at, singleSided: true });
    ti.transitions = { start: dissolve(0), end: dissolve(1) };
    await sim.cepOk('razor', { time: 6, tracks: ['V1'] });
    const [a, b] = sim.project().activeSequence.video[0].items;
    assert.deepEqual([!!a.transitions.start, !!a.transitions.end, !!b.transitions.start, !!b.transitions.end], [true, false, false, true]);
  });

  await t.test('a QE razor is one undo step per track', async (t) => {
    const { sim } = await editFixture(t);
    await sim.cepOk('razor', { time: 5, tracks: ['V1'] });
    assert.equal(sim.undo(), 'Razor');
    assert.deepEqual(await layout(sim, 'V1'), [['V1:0', 0, 12]]);
  });

  await t.test('times that are not non-negative seconds are refused before anything is cut', async (t) => {
    const { sim } = await editFixture(t);
    for (const time of [undefined, 'soon', -1, null, { seconds: 2 }]) {
      const r = await sim.cepCall('razor', { time });
      assert.deepEqual([r.ok, r.errorCode], [false, 'bad_time'], JSON.stringify(time));
    }
    assert.deepEqual(await layout(sim, 'V1'), [['V1:0', 0, 12]]);
  });

  await t.test('drop-frame timecode at 29.97 fps', async (t) => {
    const f = simFixture(t);
    const [clip] = makeMedia(f.media, ['ntsc_120s_29.97fps.mp4']);
    await f.sim.ok('new_project', { path: path.join(f.media, 'Ntsc') });
    const imp = await f.sim.ok('import_media', { paths: [clip] });
    await f.sim.ok('create_sequence', { name: 'N', fromItems: [imp.items[0].id] });
    const r = await f.sim.cepOk('razor', { time: 60, tracks: ['V1'] });
    assert.equal(r.timecode, '00;00;59;28');
    const cut = f.sim.project().activeSequence.video[0].items[1].start;
    assert.equal(cut, 1798n * BigInt(f.sim.project().activeSequence.settings.tpf));
  });
});

test('set_speed', async (t) => {
  await t.test('index 2 on clip, gap, clip, clip is the third real clip', async (t) => {
    const { sim } = await gappedFixture(t);
    assert.deepEqual(await layout(sim, 'V1'), [['V1:0', 0, 4], ['V1:1', 8, 12], ['V1:2', 12, 16]]);
    const r = await sim.cepOk('set_speed', { clip: 'V1:2', speed: '2' });
    assert.deepEqual(r, { clip: 'V1:2', speed: 2, reverse: false, ripple: false, verified: true });
    assert.deepEqual(await layout(sim, 'V1'), [['V1:0', 0, 4], ['V1:1', 8, 12], ['V1:2', 12, 14]]);
    const s = await sim.ok('get_sequence', {});
    assert.equal(s.videoTracks[0].clips[2].name, 'd_4s_25fps.mp4');
  });

  await t.test('slower without ripple stops at the next clip; with ripple the rest moves', async (t) => {
    const { sim } = await gappedFixture(t);
    await sim.cepOk('set_speed', { clip: 'V1:1', speed: 0.5 });
    assert.deepEqual(await layout(sim, 'V1'), [['V1:0', 0, 4], ['V1:1', 8, 12], ['V1:2', 12, 16]]);
    await sim.cepOk('set_speed', { clip: 'V1:0', speed: 0.5, ripple: true, reverse: true });
    assert.deepEqual(await layout(sim, 'V1'), [['V1:0', 0, 8], ['V1:1', 12, 16], ['V1:2', 16, 20]]);
    const first = sim.project().activeSequence.video[0].items[0];
    assert.deepEqual([first.speed, first.reversed, first.outPoint], [0.5, true, 4n * BigInt(TPS)]);
  });

  await t.test('bad references and speeds are refused', async (t) => {
    const { sim } = await gappedFixture(t);
    const cases = [
      [{ clip: 'V1', speed: 2 }, 'bad_clip', 'clip must look like V1:0'],
      [{ clip: 'X1:0', speed: 2 }, 'bad_clip', 'clip must look like V1:0'],
      [{ clip: 'V0:0', speed: 2 }, 'bad_track', "Bad track 'V0' (use V1, A2 …)"],
      [{ clip: 'V9:0', speed: 2 }, 'track_not_found', null],
      [{ clip: 'V1:3', speed: 2 }, 'clip_not_found', 'No clip index 3 on that track'],
      [{ clip: 'V1:0', speed: 0 }, 'bad_speed', null],
      [{ clip: 'V1:0', speed: 'fast' }, 'bad_speed', null],
      [{ clip: 'V1:0', speed: true }, 'bad_speed', null],
      [{ clip: 'V1:0' }, 'bad_speed', null],
      [{ clip: 'V1:0', speed: 1e9 }, 'speed_failed', null],
    ];
    for (const [args, code, message] of cases) {
      const r = await sim.cepCall('set_speed', args);
      assert.deepEqual([r.ok, r.errorCode], [false, code], JSON.stringify(args));
      if (message) assert.equal(r.error, message);
      assert.equal(typeof r.line, 'number');
    }
    assert.deepEqual(await layout(sim, 'V1'), [['V1:0', 0, 4], ['V1:1', 8, 12], ['V1:2', 12, 16]]);
  });
});

test('tracks', async (t) => {
  await t.test('add_tracks appends after the last track and reports the counts', async (t) => {
    const { sim } = await editFixture(t);
    assert.deepEqual(await sim.cepOk('add_tracks', {}), { videoTracks: 3, audioTracks: 3, verified: true });
    assert.equal(sim.undoHistory().includes('Add Tracks'), false);
    assert.deepEqual(await sim.cepOk('add_tracks', { video: 2, audio: 1, audioType: '5.1' }), { videoTracks: 5, audioTracks: 4, verified: true });
    const s = await sim.ok('get_sequence', {});
    assert.deepEqual([s.videoTracks.length, s.audioTracks.length], [5, 4]);
    assert.equal(s.videoTracks[0].clips.length, 1, 'existing tracks keep their clips');
    const seq = sim.project().activeSequence;
    assert.deepEqual([seq.video[4].name, seq.audio[3].name, seq.audio[3].channelType], ['Video 5', 'Audio 4', 2]);
    // Counts that are not non-negative integers count as absent.
    assert.deepEqual(await sim.cepOk('add_tracks', { video: -1, audio: 1.5 }), { videoTracks: 5, audioTracks: 4, verified: true });
  });

  await t.test('add_tracks fails when Premiere adds fewer tracks than asked for', async (t) => {
    const { sim } = await editFixture(t);
    const r = await sim.cepCall('add_tracks', { video: 1000 });
    assert.deepEqual([r.ok, r.errorCode], [false, 'edit_not_applied']);
    assert.equal(sim.project().activeSequence.video.length, 3);
  });

  await t.test('remove_track takes the track and its clips; the last track of a kind stays', async (t) => {
    const { sim } = await editFixture(t);
    assert.deepEqual(await sim.cepOk('remove_track', { track: 'a1' }), { removed: 'a1', verified: true });
    const s = await sim.ok('get_sequence', {});
    assert.equal(s.audioTracks.length, 2);
    assert.equal(s.audioTracks.every((tr) => tr.clips.length === 0), true);
    assert.deepEqual(sim.project().activeSequence.audio.map((tr) => tr.name), ['Audio 1', 'Audio 2']);
    await sim.cepOk('remove_track', { track: 'A2' });
    const r = await sim.cepCall('remove_track', { track: 'A1' });
    assert.deepEqual([r.ok, r.errorCode], [false, 'edit_not_applied']);
    for (const [track, code] of [['A2', 'track_not_found'], ['Z1', 'bad_track'], [undefined, 'bad_track']]) {
      assert.equal((await sim.cepCall('remove_track', { track })).errorCode, code);
    }
  });

  await t.test('lock_track and set_track_target act through the standard DOM', async (t) => {
    const { sim } = await editFixture(t);
    const state = async () => (await sim.cepOk('extendscript', {
      code: 'var s = app.project.activeSequence; return [s.videoTracks[1].isLocked(), s.videoTracks[1].isTargeted(), s.audioTracks[0].isTargeted()];',
    })).value;
    assert.deepEqual(await state(), [false, false, true]);
    assert.deepEqual(await sim.cepOk('lock_track', { track: 'V2' }), { track: 'V2', locked: true, verified: true });
    assert.deepEqual(await sim.cepOk('set_track_target', { track: 'V2' }), { track: 'V2', targeted: true, verified: true });
    assert.deepEqual(await sim.cepOk('set_track_target', { track: 'A1', targeted: false }), { track: 'A1', targeted: false, verified: true });
    assert.deepEqual(await state(), [true, true, false]);
    assert.deepEqual(await sim.cepOk('lock_track', { track: 'V2', locked: false }), { track: 'V2', locked: false, verified: true });
    assert.deepEqual((await state())[0], false);
    assert.equal((await sim.cepCall('lock_track', { track: 'V7' })).errorCode, 'track_not_found');
  });

  await t.test('locks and targets are saved with the project', async (t) => {
    const { sim } = await editFixture(t);
    await sim.cepOk('lock_track', { track: 'A2' });
    const file = sim.project().path;
    await sim.ok('save_project', {});
    await sim.ok('close_project', {});
    await sim.ok('open_project', { path: file });
    const seq = sim.project().activeSequence || sim.project().sequences[0];
    assert.deepEqual(seq.audio.map((tr) => [tr.locked, tr.targeted]), [[false, true], [true, false], [false, false]]);
  });
});

test('export_frame_qe', async (t) => {
  await t.test('writes the frame at the timecode as the simulated frame export renders it', async (t) => {
    const { sim, media } = await editFixture(t);
    const file = path.join(media, 'out', 'frame.png');
    assert.deepEqual(await sim.cepOk('export_frame_qe', { time: 1.5, path: file }), { path: file, timecode: '00:00:01:12' });
    const png = fs.readFileSync(file);
    assert.deepEqual([...png.subarray(0, 8)], [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
    assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [1920, 1080]);
    const seq = sim.project().activeSequence;
    const expected = renderFrameFile(seq, 37n * BigInt(seq.settings.tpf), 1920, 1080, 'png');
    assert.ok(png.equals(expected), 'the QE frame must be the picture of frame 37');
  });

  await t.test('QE adds .png to a path without it; bad input is refused', async (t) => {
    const { sim, media } = await editFixture(t);
    const base = path.join(media, 'bare');
    await sim.cepOk('export_frame_qe', { time: 0, path: base });
    assert.ok(fs.existsSync(base + '.png'));
    assert.equal((await sim.cepCall('export_frame_qe', { time: 0 })).errorCode, 'bad_path');
    assert.equal((await sim.cepCall('export_frame_qe', { time: 'x', path: base })).errorCode, 'bad_time');
  });
});

test('extendscript and dispatch', async (t) => {
  await t.test('runs the code with args and the QE DOM enabled', async (t) => {
    const { sim } = await editFixture(t);
    const r = await sim.cepOk('extendscript', {
      code: 'var q = qe.project.getActiveSequence(); return {n: args.n * 2, seq: app.project.activeSequence.name, items: q.getVideoTrackAt(0).numItems};',
      args: { n: 21 },
    });
    assert.deepEqual(r, { value: { n: 42, seq: 'Cut', items: 1 } });
    assert.deepEqual(await sim.cepOk('extendscript', { code: 'return typeof args;' }), { value: 'object' });
    assert.deepEqual(await sim.cepOk('extendscript', {}), { value: null });
  });

  await t.test('errors carry their code, message and line; ES5 and later is not ExtendScript', async (t) => {
    const { sim } = await simFixture(t);
    const thrown = await sim.cepCall('extendscript', { code: 'var a = 1;\nvar b = 2;\nthrow new Error("third line");' });
    assert.deepEqual(thrown, { ok: false, errorCode: 'extendscript_error', error: 'third line', line: 3 });
    const coded = await sim.cepCall('extendscript', { code: 'var e = new Error("mine"); e.quorCode = "my_code"; throw e;' });
    assert.deepEqual([coded.errorCode, coded.error], ['my_code', 'mine']);
    assert.deepEqual(await sim.cepCall('extendscript', { code: 'throw "plain";' }), { ok: false, errorCode: 'extendscript_error', error: 'plain', line: null });
    for (const code of ['return JSON.stringify(args);', 'return [1].map(function (x) { return x; });', 'let x = 1; return x;', 'return (() => 1)();']) {
      const r = await sim.cepCall('extendscript', { code });
      assert.deepEqual([r.ok, r.errorCode], [false, 'extendscript_error'], code);
    }
  });

  await t.test('verbs the helper lacks answer not_in_cep; no sequence answers no_sequence', async (t) => {
    const { sim } = await simFixture(t);
    assert.deepEqual(await sim.cepCall('get_project', {}), { ok: false, errorCode: 'not_in_cep', error: "CEP helper has no verb 'get_project'" });
    assert.equal((await sim.cepCall('toString', {})).errorCode, 'not_in_cep');
    const r = await sim.cepCall('razor', { time: 1 });
    assert.deepEqual([r.ok, r.errorCode, r.error, typeof r.line], [false, 'no_sequence', 'No active sequence', 'number']);
    assert.deepEqual(await sim.cepOk('ping', {}), { premiereVersion: '26.3.0', build: '1', project: null, sequence: null });
  });
});
