'use strict';
// End to end with both in-app plug-ins: the real bridge binary, the simulator running the
// real UXP plug-in and the real CEP helper, and an agent that speaks HTTP to the bridge.
// Then the same cut with the UXP plug-in alone (--only uxp), which must leave the same
// clip boundaries.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { makeMedia } = require('./helpers');
const { SKIP, until, startBridge, startSim, agent, homeAndWork } = require('./bridge');

/** Both plug-ins answer through the bridge. */
async function bothReady(send) {
  await until('the UXP plug-in', async () => (await send('premiere_ping', { timeoutSec: 2 })).success, 15000);
  await until('the CEP helper', async () => (await send('premiere_extendscript', { code: 'return 1;', timeoutSec: 2 })).success, 15000);
}

/** A project with a 12 s clip (video and audio) and 3.5 s of music, as one sequence. */
async function buildEdit(send, work, name) {
  const [video, audio] = makeMedia(work, [`${name}_12s_25fps.mp4`, `${name}_music_3.5s.wav`]);
  const p = await send('premiere_new_project', { path: path.join(work, name) });
  assert.equal(p.success, true, JSON.stringify(p));
  const imp = await send('premiere_import_media', { paths: [video, audio] });
  assert.equal(imp.success, true, JSON.stringify(imp));
  const c = await send('premiere_create_sequence', { name: 'Cut', fromItems: imp.items.map((i) => i.id) });
  assert.equal(c.success, true, JSON.stringify(c));
}

/** Every track's clip boundaries in ticks, as premiere_get_sequence reports them. */
async function boundaries(send) {
  const s = await send('premiere_get_sequence', {});
  assert.equal(s.success, true, JSON.stringify(s));
  const out = {};
  for (const tr of s.videoTracks.concat(s.audioTracks)) {
    out[tr.track] = tr.clips.map((c) => [c.start.ticks, c.end.ticks]);
  }
  return out;
}

test('razor through the bridge: the CEP helper first, the UXP plug-in alone after', { skip: SKIP, timeout: 120000 }, async (t) => {
  let withHelper;

  await t.test('with both plug-ins the bridge routes razor to the helper\'s QE razor', async (t) => {
    const { home, work } = homeAndWork(t, 'e2e-cep');
    const { port } = await startBridge(t, home);
    const sim = startSim(t, home);
    const send = agent(port);
    await bothReady(send);
    assert.match(sim.out, /plug-in 0\.1\.0 and CEP helper 0\.1\.0 look for /);
    await buildEdit(send, work, 'Both');
    const r = await send('premiere_razor', { time: 5 });
    assert.equal(r.success, true, JSON.stringify(r));
    assert.deepEqual([r.method, r.timecode, r.cutTracks, r.verb], ['qe-razor', '00:00:05:00', ['V1', 'V2', 'V3', 'A1', 'A2', 'A3'], 'premiere_razor']);
    withHelper = await boundaries(send);
    const five = String(5 * 254016000000);
    assert.deepEqual(withHelper.V1, [['0', five], [five, String(12 * 254016000000)]]);
    assert.equal(withHelper.A1.length, 3);

    // The helper's other verbs, through the bridge, on the project the UXP plug-in sees.
    const speed = await send('premiere_set_speed', { clip: 'V1:1', speed: 2 });
    assert.deepEqual([speed.success, speed.speed], [true, 2], JSON.stringify(speed));
    const s = await send('premiere_get_sequence', {});
    assert.equal(s.videoTracks[0].clips[1].end.seconds, 8.5);
    assert.deepEqual((await send('premiere_add_tracks', { video: 1, audio: 2 })).audioTracks, 5);
    assert.equal((await send('premiere_get_sequence', {})).audioTracks.length, 5);
    assert.deepEqual((await send('premiere_remove_track', { track: 'A5' })).removed, 'A5');
    assert.equal((await send('premiere_lock_track', { track: 'V2' })).locked, true);
    assert.equal((await send('premiere_set_track_target', { track: 'V2', targeted: false })).targeted, false);
    const frame = await send('premiere_export_frame_qe', { time: 2 });
    assert.equal(frame.success, true, JSON.stringify(frame));
    assert.match(frame.path, /previews[/\\]qe_2000ms\.png$/);
    assert.ok(fs.existsSync(frame.path));
    const bad = await send('premiere_extendscript', { code: 'var x = 1;\nthrow new Error("nope");' });
    assert.deepEqual([bad.success, bad.errorCode, bad.error], [false, 'extendscript_error', 'nope']);
    const badClip = await send('premiere_set_speed', { clip: 'first', speed: 2 });
    assert.deepEqual([badClip.success, badClip.errorCode, badClip.error], [false, 'bad_clip', 'clip must look like V1:0']);
  });

  await t.test('with --only uxp the helper\'s verbs are unavailable and razor falls back to the UXP plug-in', async (t) => {
    const { home, work } = homeAndWork(t, 'e2e-cep');
    const { port } = await startBridge(t, home);
    const sim = startSim(t, home, ['--only', 'uxp']);
    const send = agent(port);
    await until('the UXP plug-in', async () => (await send('premiere_ping', { timeoutSec: 2 })).success, 15000);
    assert.doesNotMatch(sim.out, /CEP helper/);
    const add = await send('premiere_add_tracks', { video: 1 });
    assert.deepEqual([add.success, add.errorCode], [false, 'cep_not_connected']);
    await buildEdit(send, work, 'Uxp');
    const r = await send('premiere_razor', { time: 5 });
    assert.equal(r.success, true, JSON.stringify(r));
    assert.notEqual(r.method, 'qe-razor');
    assert.ok(withHelper, 'the run with the helper must have succeeded first');
    assert.deepEqual(await boundaries(send), withHelper);
  });
});

test('the helper alone: razor still goes to it, and a runaway script blocks no other request', { skip: SKIP, timeout: 120000 }, async (t) => {
  const { home } = homeAndWork(t, 'e2e-cep');
  const { port } = await startBridge(t, home);
  const sim = startSim(t, home, ['--only', 'cep', '--script-timeout', '3']);
  const send = agent(port);
  await until('the CEP helper', async () => (await send('premiere_extendscript', { code: 'return 1;', timeoutSec: 2 })).success, 15000);
  assert.match(sim.out, /; CEP helper 0\.1\.0 looks for /);
  assert.equal((await send('premiere_ping', {})).success, false);
  const r = await send('premiere_razor', { time: 1 });
  assert.deepEqual([r.success, r.errorCode, r.error], [false, 'no_sequence', 'No active sequence']);

  // The loop holds the simulated Premiere, as it would hold Premiere's main thread; the
  // bridge gives up on that call alone and keeps answering.
  const looping = send('premiere_extendscript', { code: 'while (true) {}', timeoutSec: 1 });
  const described = await send('premiere_describe', {});
  assert.equal(described.success, true);
  const timedOut = await looping;
  assert.deepEqual([timedOut.success, timedOut.errorCode], [false, 'plugin_timeout']);
  const after = await until('the helper to answer again', async () => {
    const a = await send('premiere_extendscript', { code: 'return 6 * 7;', timeoutSec: 2 });
    return a.success ? a : null;
  }, 15000);
  assert.equal(after.value, 42);
});
