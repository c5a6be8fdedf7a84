'use strict';
// End to end for the picture verbs: the real bridge, the simulator with the real plug-in
// and its direct-API stand-in, and an agent that speaks HTTP to the bridge only.
//
// The bridge comes from $CUTRELAY_BIN (default build/cutrelay); without a binary these tests
// are skipped, unless CUTRELAY_BIN names one explicitly.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { makeMedia } = require('./helpers');
const { decodePng } = require('../../sim/png');
const { SKIP, until, startBridge, startSim, agent, pluginReady, homeAndWork } = require('./bridge');

const PNG_SIGNATURE = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);

/** Pictures take a while: this file's agents wait up to 60 s for an answer. */
const AGENT_MS = 60000;

test('an agent looks at its edit: window snapshot and frame preview', { skip: SKIP, timeout: 120000 }, async (t) => {
  const { home, work } = homeAndWork(t, 'frames');
  // The bridge must find the stand-in through the port file, as it finds the application.
  const env = { QUOR_DIRECT_API_URL: null, QUOR_BRIDGE_TOKEN: null };
  const portFile = path.join(home, '.quor', 'direct-api-port');
  const { bridge, port } = await startBridge(t, home, env);
  const sim = startSim(t, home, ['--direct-api'], env);
  const send = agent(port, AGENT_MS);
  await pluginReady(send);
  await until('the direct-API port file', () => fs.existsSync(portFile), 5000);

  const [video] = makeMedia(work, ['interview_12s_25fps.mp4']);
  assert.equal((await send('premiere_new_project', { path: path.join(work, 'Look') })).success, true);
  const imp = await send('premiere_import_media', { paths: [video] });
  assert.equal((await send('premiere_create_sequence', { name: 'Cut', fromItems: [imp.items[0].id] })).success, true);

  await t.test('monitor_snapshot captures the main window after moving the playhead', async () => {
    const r = await send('premiere_monitor_snapshot', { time: 6, settleMs: 0 });
    assert.equal(r.success, true, JSON.stringify(r).slice(0, 400));
    assert.equal(r.window.title, `Adobe Premiere Pro 2026 - ${path.join(work, 'Look.prproj')}`);
    assert.equal(r.image.mime, 'image/png');
    const pic = decodePng(Buffer.from(r.image.base64, 'base64'));
    assert.deepEqual([pic.width, pic.height], [1280, 775]);
    const seq = await send('premiere_get_sequence');
    assert.equal(seq.playhead.seconds, 6);
  });

  await t.test('preview_frame returns the frame at the playhead inline', async () => {
    const r = await send('premiere_preview_frame');
    assert.equal(r.success, true, JSON.stringify(r).slice(0, 400));
    assert.equal(r.savedTo, r.path);
    assert.ok(r.savedTo.startsWith(path.join(home, '.quor', 'cutrelay', 'previews')));
    const bytes = Buffer.from(r.image.base64, 'base64');
    assert.equal(r.image.bytes, bytes.length);
    assert.ok(bytes.subarray(0, 8).equals(PNG_SIGNATURE), 'a PNG');
    assert.equal(bytes.readUInt32BE(16), 960, 'the default width');
    const again = await send('premiere_read_file_base64', { path: r.savedTo });
    assert.equal(again.base64, r.image.base64);
  });

  await t.test('the port file goes with the simulator', async () => {
    sim.kill('SIGTERM');
    await sim.exited;
    assert.equal(fs.existsSync(portFile), false);
    const r = await send('premiere_monitor_snapshot');
    assert.equal(r.errorCode, 'qb_unreachable');
    assert.equal(r.error, 'Quor Bridge direct API not found (QUOR_DIRECT_API_URL unset)');
  });
  bridge.kill('SIGKILL');
});
