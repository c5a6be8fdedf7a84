'use strict';
// End to end: the real bridge binary, the simulator with the real plug-in, and an agent
// that speaks HTTP to the bridge only.
//
// The bridge comes from $CUTRELAY_BIN (default build/cutrelay). Without a binary these
// tests are skipped, unless CUTRELAY_BIN names one explicitly.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { makeMedia } = require('./helpers');
const { SKIP, until, startBridge, startSim, agent, pluginReady, homeAndWork } = require('./bridge');

/** This file's agents give up on an answer after 10 s. */
const AGENT_MS = 10000;

test('an agent builds and reads a sequence through the bridge', { skip: SKIP, timeout: 60000 }, async (t) => {
  const { home, work } = homeAndWork(t, 'e2e');
  const first = await startBridge(t, home);
  const { port } = first;
  const sim = startSim(t, home);
  const send = agent(port, AGENT_MS);

  await t.test('the simulator starts with one line and the plug-in says hello', async () => {
    const ping = await pluginReady(send);
    assert.match(sim.out, /^\[cutrelay-sim\] .*connection\.json\n$/);
    assert.deepEqual([ping.pong, ping.runtime, ping.pluginVersion, ping.premiereVersion, ping.project], [true, 'uxp', '0.1.0', '26.3.0', null]);
  });

  const [video, audio] = makeMedia(work, ['interview_12s_25fps.mp4', 'music_3.5s.wav']);
  let ids;

  await t.test('create a project and import two media files', async () => {
    const p = await send('premiere_new_project', { path: path.join(work, 'Agent') });
    assert.equal(p.success, true, JSON.stringify(p));
    assert.equal(p.path, path.join(work, 'Agent.prproj'));
    const imp = await send('premiere_import_media', { paths: [video, audio] });
    assert.equal(imp.success, true, JSON.stringify(imp));
    assert.equal(imp.imported, 2);
    assert.deepEqual(imp.items.map((i) => [i.name, i.duration]), [['interview_12s_25fps.mp4', 12], ['music_3.5s.wav', 3.5]]);
    ids = imp.items.map((i) => i.id);
  });

  await t.test('build a sequence from them and read it back', async () => {
    const c = await send('premiere_create_sequence', { name: 'Agent cut', fromItems: ids });
    assert.equal(c.success, true, JSON.stringify(c));
    const s = await send('premiere_get_sequence', {});
    assert.equal(s.success, true, JSON.stringify(s));
    assert.deepEqual([s.name, s.guid, s.fps, s.width, s.height], ['Agent cut', c.guid, 25, 1920, 1080]);
    assert.deepEqual(s.duration, { seconds: 15.5, ticks: String(15.5 * 254016000000), timecode: '00:00:15:13', frame: 388 });
    const v1 = s.videoTracks[0].clips;
    assert.deepEqual(v1.map((x) => [x.ref, x.name, x.start.timecode, x.end.timecode, x.end.frame, x.projectItem.id]),
      [['V1:0', 'interview_12s_25fps.mp4', '00:00:00:00', '00:00:12:00', 300, ids[0]]]);
    const a1 = s.audioTracks[0].clips;
    assert.deepEqual(a1.map((x) => [x.ref, x.start.seconds, x.start.ticks, x.end.seconds, x.duration, x.inPoint, x.outPoint]), [
      ['A1:0', 0, '0', 12, 12, 0, 12],
      ['A1:1', 12, String(12 * 254016000000), 15.5, 3.5, 0, 3.5],
    ]);
    assert.deepEqual(s.videoTracks.slice(1).concat(s.audioTracks.slice(1)).map((tr) => tr.clips.length), [0, 0, 0, 0]);
  });

  await t.test('a simulated Premiere counts as installed and running and offers its export presets', async () => {
    const ready = await send('premiere_readiness', {});
    assert.deepEqual([ready.ready, ready.state, ready.premiereInstalled, ready.premiereRunning], [true, 'ready', true, true]);
    assert.doesNotMatch(JSON.stringify(ready), /Creative Cloud/);
    const status = await send('premiere_status', {});
    assert.deepEqual([status.simulator, status.premiereInstalled, status.premiereRunning], [true, true, true]);
    const found = await send('premiere_list_export_presets', { search: 'h.264' });
    assert.deepEqual(found.presets.map((p) => [p.name, p.format]), [['H.264 1080p', 'H264']]);
    const all = await send('premiere_list_export_presets', {});
    assert.ok(['Apple ProRes 422', 'Waveform Audio 48 kHz 16-bit'].every((n) => all.presets.some((p) => p.name === n)));
    assert.ok(!fs.existsSync(path.join(home, 'Documents')), "nothing is written into the user's Adobe folders");
    const output = path.join(work, 'found-preset.mp4');
    const r = await send('premiere_export_sequence', { output, preset: found.presets[0].path });
    assert.deepEqual([r.success, r.output], [true, output], JSON.stringify(r));
  });

  await t.test('errors come back as answers with their codes', async () => {
    const r = await send('premiere_get_sequence', { sequence: 'Nope' });
    assert.deepEqual([r.success, r.errorCode, r.error], [false, 'sequence_not_found', "No sequence matching 'Nope'. Sequences: Agent cut"]);
    const b = await send('premiere_set_playhead', { time: 'soon' });
    assert.deepEqual([b.success, b.errorCode], [false, 'bad_time']);
    const s = await send('premiere_set_playhead', { time: '00:00:14:12' });
    assert.equal(s.playhead.frame, 362);
  });

  await t.test('the plug-in reconnects to a restarted bridge', async () => {
    const state = await send('premiere_get_project', {});
    assert.equal(state.name, 'Agent.prproj');
    first.bridge.kill('SIGKILL');
    await until('the bridge to stop', () => first.bridge.exitCode !== null || first.bridge.signalCode !== null, 5000);
    const second = await startBridge(t, home); // a new port and token in the connection file
    const ping = await pluginReady(agent(second.port, AGENT_MS));
    assert.equal(ping.project, 'Agent.prproj');
  });
});

test('an agent makes a rough cut through the bridge', { skip: SKIP, timeout: 60000 }, async (t) => {
  const { home, work } = homeAndWork(t, 'e2e');
  const { port } = await startBridge(t, home);
  startSim(t, home, ['--only', 'uxp']);
  const send = agent(port, AGENT_MS);
  await pluginReady(send);

  const files = makeMedia(work, ['intro_8s_25fps.mp4', 'talk_20s_25fps.mp4', 'broll_5s_25fps.mp4']);
  fs.writeFileSync(files[1] + '.simmeta.json', JSON.stringify({ sceneCuts: [6] }));
  const must = async (command, args) => {
    const r = await send(command, args);
    assert.equal(r.success, true, `${command}: ${JSON.stringify(r)}`);
    assert.equal(r.verb, command);
    return r;
  };
  /** V1, V2 and A1 as [ref, start, end, inPoint] rows, read back with get_sequence. */
  const read = async () => {
    const s = await must('premiere_get_sequence', { detail: false });
    const rows = (tr) => tr.clips.map((c) => [c.ref, c.start.seconds, c.end.seconds, c.inPoint]);
    return { V1: rows(s.videoTracks[0]), V2: rows(s.videoTracks[1]), A1: rows(s.audioTracks[0]) };
  };

  await must('premiere_new_project', { path: path.join(work, 'Rough') });
  const imported = await must('premiere_import_media', { paths: files });
  const [intro, talk, broll] = imported.items.map((i) => i.id);
  await must('premiere_create_sequence', { name: 'Rough cut' });
  await must('premiere_set_sequence_settings', { fps: 25 });

  await t.test('append, insert and overwrite build the cut', async () => {
    assert.equal((await must('premiere_append_clip', { item: intro })).at.seconds, 0);
    assert.equal((await must('premiere_append_clip', { item: talk })).at.seconds, 8);
    const ins = await must('premiere_insert_clip', { item: broll, time: '00:00:18:00' });
    assert.equal(ins.placed.ref, 'V1:2');
    await must('premiere_overwrite_clip', { item: broll, time: 2, track: 'V2' });
    assert.deepEqual(await read(), {
      V1: [['V1:0', 0, 8, 0], ['V1:1', 8, 18, 0], ['V1:2', 18, 23, 0], ['V1:3', 23, 33, 10]],
      V2: [['V2:0', 2, 7, 0]],
      A1: [['A1:0', 0, 8, 0], ['A1:1', 8, 18, 0], ['A1:2', 18, 23, 0], ['A1:3', 23, 33, 10]],
    });
  });

  await t.test('trim, razor, remove with ripple and close the gap', async () => {
    const trim = await must('premiere_trim_clip', { clip: 'V1:0', trimStart: 2 });
    assert.deepEqual([trim.linked, trim.after.start.seconds, trim.after.inPoint], [['A1:0'], 2, 2]);
    const cut = await send('premiere_razor', { time: 28 });
    assert.deepEqual([cut.success, cut.cutTracks, cut.method], [true, ['V1', 'A1'], 'uxp-overwrite']);
    assert.deepEqual(await must('premiere_remove_clips', { clip: 'V1:4', ripple: true }).then((r) => r.removed), ['V1:4', 'A1:4']);
    assert.deepEqual(await must('premiere_remove_gap', { clip: 'V1:0' }).then((r) => [r.closed, r.movedClips]), [2, 8]);
    assert.deepEqual(await read(), {
      V1: [['V1:0', 0, 6, 2], ['V1:1', 6, 16, 0], ['V1:2', 16, 21, 0], ['V1:3', 21, 26, 10]],
      V2: [['V2:0', 2, 7, 0]],
      A1: [['A1:0', 0, 6, 2], ['A1:1', 6, 16, 0], ['A1:2', 16, 21, 0], ['A1:3', 21, 26, 10]],
    });
  });

  await t.test('select, disable, rename, duplicate, scene detection and tracks', async () => {
    assert.deepEqual((await must('premiere_select_clips', { clip: 'V2:0' })).selected, ['V2:0', 'A2:0']);
    assert.equal((await must('premiere_get_selection', {})).count, 2);
    assert.equal((await must('premiere_clear_selection', {})).cleared, true);
    await must('premiere_set_clip_enabled', { clip: 'V2:0', enabled: false });
    await must('premiere_rename_clip', { clip: 'V2:0', name: 'Cutaway' });
    await must('premiere_duplicate_clip', { clip: 'V2:0', offset: 20 });
    assert.deepEqual((await must('premiere_scene_edit_detection', { clip: 'V1:1' })).started, true);
    assert.deepEqual((await must('premiere_set_track_mute', { track: 'A1' })).muted, true);
    await must('premiere_rename_track', { track: 'V2', name: 'B-roll' });
    const s = await must('premiere_get_sequence', {});
    assert.deepEqual(s.videoTracks[1].clips.map((c) => [c.name, c.disabled, c.start.seconds]), [['Cutaway', true, 2], ['Cutaway', true, 22]]);
    assert.deepEqual(s.videoTracks[0].clips.map((c) => [c.start.seconds, c.end.seconds]).slice(1, 3), [[6, 12], [12, 16]], 'cut at the scene change 6 s into the talk');
    assert.deepEqual([s.videoTracks[1].name, s.audioTracks[0].muted], ['B-roll', true]);
  });

  await t.test('bad references fail alone with their codes and texts', async () => {
    const before = await read();
    const r = await send('premiere_move_clip', { clip: 'V9:99', by: 1 });
    assert.deepEqual([r.success, r.errorCode, r.error], [false, 'track_not_found', "V9 doesn't exist (sequence has 3 video tracks). premiere_add_tracks can add more."]);
    const g = await send('premiere_trim_clip', { clip: 'V1:0', trimStart: -5 });
    assert.deepEqual([g.success, g.errorCode], [false, 'transaction_failed']);
    const m = await send('premiere_remove_clips', {});
    assert.deepEqual([m.errorCode, m.error], ['bad_args', 'clip or clips is required']);
    assert.deepEqual(await read(), before);
    assert.equal((await send('premiere_ping', {})).success, true, 'the plug-in is still connected');
  });
});
