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
const { spawn } = require('child_process');
const { ROOT, tempDir, makeMedia } = require('./helpers');

const BIN = path.resolve(ROOT, process.env.CUTRELAY_BIN || 'build/cutrelay');
const HAVE_BIN = fs.existsSync(BIN);
if (!HAVE_BIN && process.env.CUTRELAY_BIN) throw new Error(`CUTRELAY_BIN=${process.env.CUTRELAY_BIN} does not exist`);
const SKIP = HAVE_BIN ? false : `no bridge binary at ${BIN} (build it or set CUTRELAY_BIN)`;

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function until(what, fn, ms) {
  const end = Date.now() + ms;
  let last;
  while (Date.now() < end) {
    try {
      const v = await fn();
      if (v) return v;
    } catch (e) {
      last = e;
    }
    await sleep(50);
  }
  throw new Error(`timed out waiting for ${what}${last ? ': ' + last.message : ''}`);
}

/** Starts a child process that is killed (by its own pid) when the test ends. */
function start(t, cmd, args, env) {
  const child = spawn(cmd, args, { env: Object.assign({}, process.env, env), stdio: ['ignore', 'pipe', 'pipe'] });
  child.out = '';
  child.err = '';
  child.stdout.on('data', (d) => { child.out += d; });
  child.stderr.on('data', (d) => { child.err += d; });
  t.after(() => { if (child.exitCode === null) child.kill('SIGKILL'); });
  return child;
}

async function startBridge(t, home) {
  const file = path.join(home, '.quor', 'cutrelay', 'connection.json');
  try { fs.rmSync(file); } catch (e) { /* first start */ }
  const bridge = start(t, BIN, ['--port', '0'], { HOME: home });
  const conn = await until('connection.json', () => {
    const c = JSON.parse(fs.readFileSync(file, 'utf8'));
    return c.port && c.token ? c : null;
  }, 5000);
  return { bridge, port: conn.port };
}

function agent(port) {
  return async (command, args = {}) => {
    const res = await fetch(`http://127.0.0.1:${port}/command`, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ command, args }),
      signal: AbortSignal.timeout(10000),
    });
    assert.equal(res.status, 200);
    return res.json();
  };
}

/** Waits until the plug-in answers a ping through the bridge. */
async function pluginReady(send) {
  return until('the plug-in to connect', async () => {
    const r = await send('premiere_ping', { timeoutSec: 2 });
    return r.success ? r : null;
  }, 10000);
}

test('an agent builds and reads a sequence through the bridge', { skip: SKIP, timeout: 60000 }, async (t) => {
  const home = tempDir('cutrelay-e2e-home-');
  const work = tempDir('cutrelay-e2e-work-');
  t.after(() => {
    fs.rmSync(home, { recursive: true, force: true });
    fs.rmSync(work, { recursive: true, force: true });
  });
  const first = await startBridge(t, home);
  const { port } = first;
  const sim = start(t, process.execPath, [path.join(ROOT, 'sim', 'main.js')], { HOME: home });
  const send = agent(port);

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
    const ping = await pluginReady(agent(second.port));
    assert.equal(ping.project, 'Agent.prproj');
  });
});
