'use strict';
// A smoke run of the Windows bridge under Wine (scripts/windows): cutrelay.exe starts, writes
// its connection file under the Windows home (%USERPROFILE%, which Wine sets itself), answers
// /health, /command and /mcp, and the simulator, running on Linux, connects to it over /ws
// (HMAC handshake included) and answers a forwarded verb. First cutrelay-mcp.exe, the stdio
// relay, starts a bridge of its own and ends it when its input ends.
//
//   node scripts/windows-smoke.js <wine> <cutrelay.exe>
// with WINEPREFIX set to a prefix made by `wineboot --init`.

const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { start, startSim, until, agent, pluginReady } = require('../tests/js/bridge');

const [wine, exe] = process.argv.slice(2);
const prefix = process.env.WINEPREFIX;
if (!wine || !exe || !prefix) {
  process.stderr.write('usage: WINEPREFIX=<prefix> node scripts/windows-smoke.js <wine> <cutrelay.exe>\n');
  process.exit(2);
}

/** The Linux path of a path on Wine's drive C:. */
function linuxPath(windowsPath) {
  const m = /^C:\\(.*)$/i.exec(windowsPath);
  assert.ok(m, `${windowsPath} is not on drive C:`);
  return path.join(prefix, 'drive_c', ...m[1].split('\\').filter(Boolean));
}

const cleanups = [];
const owner = { after: (fn) => { cleanups.push(fn); } };
let passed = 0;

async function step(name, fn) {
  await fn();
  passed += 1;
  process.stdout.write(`ok ${passed} - ${name}\n`);
}

async function post(port, route, body, headers = {}) {
  const res = await fetch(`http://127.0.0.1:${port}${route}`, {
    method: 'POST',
    headers: Object.assign({ 'Content-Type': 'application/json' }, headers),
    body: JSON.stringify(body),
    signal: AbortSignal.timeout(20000),
  });
  return { status: res.status, text: await res.text() };
}

async function main() {
  const profile = spawnSync(wine, ['cmd', '/c', 'echo %USERPROFILE%'], { encoding: 'utf8' }).stdout.trim();
  assert.match(profile, /^C:\\/i, 'Wine names no USERPROFILE');
  const file = path.join(linuxPath(profile), '.quor', 'cutrelay', 'connection.json');
  try { fs.rmSync(file); } catch (e) { /* first run */ }
  let port = 0;
  let bridge;

  await step('cutrelay-mcp.exe starts the bridge beside it, answers, and the bridge ends with it', async () => {
    const relay = spawnSync(wine, [path.join(path.dirname(exe), 'cutrelay-mcp.exe')], {
      input: JSON.stringify({
        jsonrpc: '2.0', id: 1, method: 'initialize',
        params: { protocolVersion: '2025-06-18', capabilities: {}, clientInfo: { name: 'windows-smoke', version: '1' } },
      }) + '\n',
      encoding: 'utf8',
      env: Object.assign({}, process.env, { CUTRELAY_SIMULATOR: '0' }),
      timeout: 120000,
    });
    assert.equal(relay.status, 0, relay.stderr);
    assert.equal(JSON.parse(relay.stdout.split('\n')[0]).id, 1);
    assert.match(relay.stderr, /started .*cutrelay\.exe/);
    // The bridge it started saw its standard input end and took its connection file back.
    await until('the relay\'s bridge to end', () => !fs.existsSync(file), 20000);
  });

  await step('the bridge starts and writes connection.json under the Windows home', async () => {
    bridge = start(owner, wine, [exe, '--port', '0'], { WINEDEBUG: '-all' });
    const conn = await until('connection.json', () => {
      const c = JSON.parse(fs.readFileSync(file, 'utf8'));
      return c.port && c.token ? c : null;
    }, 60000);
    port = conn.port;
    const started = await until('the start-up line', () => /listening on 127\.0\.0\.1:\d+ data=(.*)/.exec(bridge.out + bridge.err), 10000);
    assert.equal(started[1].trim().toLowerCase(), (profile + '\\.quor\\cutrelay').toLowerCase());
    assert.match(conn.url, /^ws:\/\/127\.0\.0\.1:\d+\/ws\?token=/);
  });

  await step('/health answers', async () => {
    const res = await fetch(`http://127.0.0.1:${port}/health`, { signal: AbortSignal.timeout(20000) });
    const health = await res.json();
    assert.equal(health.ok, true);
    assert.equal(health.pluginConnected, false);
  });

  const send = agent(port);
  await step('/command answers premiere_ping with the not-connected answer', async () => {
    const r = await send('premiere_ping');
    assert.equal(r.success, false);
    assert.equal(r.errorCode, 'plugin_not_connected');
  });

  await step('/mcp answers initialize', async () => {
    const r = await post(port, '/mcp', {
      jsonrpc: '2.0', id: 1, method: 'initialize',
      params: { protocolVersion: '2025-06-18', capabilities: {}, clientInfo: { name: 'windows-smoke', version: '1' } },
    }, { Accept: 'application/json, text/event-stream' });
    assert.equal(r.status, 200);
    const answer = JSON.parse(r.text.replace(/^(event|data): ?/gm, '').split('\n').find((l) => l.startsWith('{')));
    assert.equal(answer.id, 1);
    assert.ok(answer.result.capabilities.tools);
  });

  await step('the simulator on Linux connects over /ws and a forwarded verb answers', async () => {
    const sim = startSim(owner, linuxPath(profile));
    await until('the simulator to start', () => /running/.test(sim.out), 15000);
    const pong = await pluginReady(send);
    assert.equal(pong.runtime, 'uxp');
    const project = await send('premiere_get_project');
    assert.equal(project.verb, 'premiere_get_project');
    assert.notEqual(project.errorCode, 'plugin_not_connected');
    const health = await (await fetch(`http://127.0.0.1:${port}/health`)).json();
    assert.equal(health.pluginConnected, true);
  });
}

main().then(
  () => {
    for (const fn of cleanups.reverse()) { try { fn(); } catch (e) { /* gone */ } }
    process.stdout.write(`windows smoke: ${passed} passed, 0 failed\n`);
  },
  (e) => {
    for (const fn of cleanups.reverse()) { try { fn(); } catch (err) { /* gone */ } }
    process.stdout.write(`not ok ${passed + 1} - ${e.stack || e}\n`);
    process.stdout.write(`windows smoke: ${passed} passed, 1 failed\n`);
    process.exitCode = 1;
  },
);
