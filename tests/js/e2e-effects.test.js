'use strict';
// End to end through the real bridge and the simulator: effects and keyframes read back,
// a frame exported as a PNG and checked pixel by pixel, a sequence export whose events
// arrive in premiere_events, and an OpenTimelineIO file checked against the sequence.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { makeMedia } = require('./helpers');
const { SKIP, until, startBridge, startSim, agent, pluginReady, homeAndWork } = require('./bridge');
const { decodePNG, colorsFor } = require('../../sim/render');

test('an agent styles, exports and inspects a cut through the bridge', { skip: SKIP, timeout: 90000 }, async (t) => {
  const { home, work } = homeAndWork(t, 'e2e');
  const { port } = await startBridge(t, home);
  startSim(t, home);
  const send = agent(port);
  await pluginReady(send);

  const [video, audio] = makeMedia(work, ['interview_12s_25fps.mp4', 'music_3.5s.wav']);
  const ok = async (command, args) => {
    const r = await send(command, args);
    assert.equal(r.success, true, `${command}: ${JSON.stringify(r)}`);
    return r;
  };
  await ok('premiere_new_project', { path: path.join(work, 'Styled') });
  const imp = await ok('premiere_import_media', { paths: [video, audio] });
  await ok('premiere_create_sequence', { name: 'Styled cut', fromItems: imp.items.map((i) => i.id) });

  await t.test('an effect and its keyframes read back with get_clip_effects', async () => {
    await ok('premiere_add_effect', { clip: 'V1:0', name: 'Gaussian Blur' });
    await ok('premiere_add_keyframes', { clip: 'V1:0', component: 'Gaussian Blur', param: 'Blurriness', keyframes: [{ time: 0, value: 0 }, { time: '00:00:02:00', value: 30 }] });
    const fx = await ok('premiere_get_clip_effects', { clip: 'V1:0', time: 1 });
    const blur = fx.components.find((c) => c.matchName === 'AE.ADBE Gaussian Blur 2');
    assert.deepEqual(blur.params[0], { index: 0, name: 'Blurriness', value: 15, animated: true, keyframes: [0, 2] });
    assert.ok(Array.isArray(fx.pitfalls) || typeof fx._hint === 'string', 'the answer is decorated');
    const bad = await send('premiere_set_param', { clip: 'V1:0', component: 'Blurry', param: 'x', value: 1 });
    assert.deepEqual([bad.success, bad.errorCode], [false, 'component_not_found']);
    assert.match(bad.error, /^No component 'Blurry' on this clip\. It has: Motion \(AE\.ADBE Motion\), Opacity \(AE\.ADBE Opacity\), Gaussian Blur/);
  });

  await t.test('an exported frame is a PNG of the asked size showing the scaled clip', async () => {
    await ok('premiere_set_transform', { clip: 'V1:0', scale: 50 });
    const r = await ok('premiere_export_frame', { dir: work, time: 1, width: 320 });
    assert.deepEqual([r.width, r.height], [320, 180]);
    const img = await until('the frame file', () => {
      const buf = fs.readFileSync(r.path);
      return buf.length > 0 ? decodePNG(buf) : null;
    }, 5000);
    assert.deepEqual([img.width, img.height], [320, 180]);
    const at = (x, y) => Array.from(img.rgba.subarray((y * 320 + x) * 4, (y * 320 + x) * 4 + 3));
    assert.deepEqual(at(5, 5), [0, 0, 0], 'black outside the half-size picture');
    assert.deepEqual(at(82, 47), colorsFor(video)[0], 'the clip pattern inside it');
    const dflt = await ok('premiere_export_frame', { time: 1, width: 64 });
    assert.ok(dflt.path.startsWith(path.join(home, '.quor', 'cutrelay', 'previews')), 'the bridge supplies the previews folder');
  });

  await t.test('an immediate sequence export reports its completion in premiere_events', async () => {
    const before = (await ok('premiere_events', {})).lastSeq;
    const preset = path.join(work, 'Match Source.epr');
    fs.writeFileSync(preset, '<PremiereData/>');
    const output = path.join(work, 'styled.mp4');
    const r = await ok('premiere_export_sequence', { output, preset });
    assert.deepEqual([r.started, r.output, r.mode], [true, output, 'immediate']);
    assert.ok(fs.existsSync(output));
    const events = await until('export_complete', async () => {
      const e = await ok('premiere_events', { sinceSeq: before });
      return e.events.some((x) => x.kind === 'export_complete') ? e.events : null;
    }, 5000);
    const kinds = events.map((e) => e.kind).filter((k) => k.startsWith('export_'));
    assert.deepEqual(kinds, ['export_complete'], 'Premiere sends render progress for Media Encoder jobs only');
    assert.deepEqual(events.find((e) => e.kind === 'export_complete').data, { mode: 'immediate', state: 0, output });
    const ame = await send('premiere_export_sequence', { output, preset, mode: 'ame' });
    assert.deepEqual([ame.success, ame.errorCode], [false, 'ame_missing']);
    // presetPath, the name premiere_list_export_presets' tip uses, is another name for preset.
    const aliased = await ok('premiere_export_sequence', { output: path.join(work, 'aliased.mp4'), presetPath: preset });
    assert.equal(aliased.started, true);
    assert.ok(fs.existsSync(path.join(work, 'aliased.mp4')));
  });

  await t.test('eval that never resolves times out alone; the plug-in keeps answering', async () => {
    const r = await send('premiere_eval', { code: 'await new Promise(() => {});', timeoutSec: 1 });
    assert.deepEqual([r.success, r.errorCode], [false, 'plugin_timeout']);
    const v = await ok('premiere_eval', { code: 'return args.x + 1', args: { x: 41 } });
    assert.equal(v.value, 42);
    const bad = await send('premiere_eval', { code: 'return {' });
    assert.deepEqual([bad.success, bad.errorCode], [false, 'bad_args']);
  });

  await t.test('an OpenTimelineIO file matches the sequence', async () => {
    const seq = await ok('premiere_get_sequence', {});
    const output = path.join(work, 'styled.otio');
    await ok('premiere_export_interchange', { output });
    const tl = JSON.parse(fs.readFileSync(output, 'utf8'));
    assert.equal(tl.name, seq.name);
    const tracks = tl.tracks.children;
    assert.equal(tracks.filter((x) => x.kind === 'Video').length, seq.videoTracks.length);
    const a1 = tracks.filter((x) => x.kind === 'Audio')[0].children;
    assert.deepEqual(a1.map((c) => [c.name, c.source_range.duration.value / c.source_range.duration.rate]),
      seq.audioTracks[0].clips.map((c) => [c.name, c.duration]));
  });
});
