'use strict';
// The plug-in's side of the bridge protocol, against a stand-in bridge: finding the
// connection file, hello, ping/pong, calls and results, events, and reconnecting.

const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('crypto');
const fs = require('fs');
const net = require('net');
const path = require('path');
const { WebSocketServer } = require('ws');
const { createSim, PLUGIN_DIR } = require('../../sim');
const { tempDir, poll, writeConnection, challengeSocket } = require('./helpers');

// Generous: a bound on waiting, not a claim about speed (a loaded CI machine is slow).
const until = (what, fn, ms = 10000) => poll(what, fn, ms);

/**
 * A stand-in bridge that knows `token`: it challenges each socket as the bridge does and
 * records every message it receives; `proofs` says for each hello whether its proof was
 * right (the proof itself is left out of the recorded hello).
 */
async function fakeBridge(t, token = 'secret') {
  const wss = new WebSocketServer({ host: '127.0.0.1', port: 0 });
  await new Promise((r) => wss.once('listening', r));
  const bridge = { port: wss.address().port, token, received: [], sockets: [], urls: [], proofs: [] };
  wss.on('connection', (ws, req) => {
    bridge.urls.push(req.url);
    const expected = challengeSocket(ws, req.url, token, bridge.port);
    if (!expected) { ws.close(); return; }
    bridge.sockets.push(ws);
    ws.on('message', (data) => {
      const text = data.toString();
      let msg = text;
      try { msg = JSON.parse(text); } catch (e) { /* kept as text */ }
      if (msg && msg.type === 'hello') {
        bridge.proofs.push(msg.proof === expected);
        delete msg.proof;
      }
      bridge.received.push(msg);
    });
  });
  bridge.send = (msg) => bridge.sockets.at(-1).send(typeof msg === 'string' ? msg : JSON.stringify(msg));
  bridge.close = () => new Promise((r) => { for (const s of wss.clients) s.terminate(); wss.close(() => r()); });
  bridge.of = (type) => bridge.received.filter((m) => m && m.type === type);
  t.after(() => bridge.close());
  return bridge;
}

/** The UXP plug-in alone: the CEP helper's side of the protocol has its own tests. */
function startSim(t, options) {
  const sim = createSim(Object.assign({ transcribeMs: 5, only: 'uxp' }, options));
  t.after(() => sim.dispose());
  return sim;
}

test('finding the connection file', async (t) => {
  await t.test('home, then file:, then the copy packaged with the plug-in; entries without a token are skipped', async (t) => {
    const bridge = await fakeBridge(t, 'packaged');
    const home = tempDir();
    const pluginDir = tempDir('cutrelay-plugin-');
    t.after(() => { fs.rmSync(home, { recursive: true, force: true }); fs.rmSync(pluginDir, { recursive: true, force: true }); });
    for (const f of ['index.js', 'index.html', 'manifest.json']) fs.copyFileSync(path.join(PLUGIN_DIR, f), path.join(pluginDir, f));
    writeConnection(home, { port: bridge.port, token: '' });
    fs.writeFileSync(path.join(pluginDir, 'connection.json'), JSON.stringify({ port: bridge.port, token: 'packaged' }));
    const sim = startSim(t, { home, pluginDir });
    assert.deepEqual([...sim.plugin.connectionFileCandidates()], [
      path.join(home, '.quor/cutrelay/connection.json'), 'file:' + path.join(home, '.quor/cutrelay/connection.json'), 'plugin:/connection.json',
    ]);
    await until('hello', () => bridge.of('hello').length === 1);
    assert.match(bridge.urls[0], /^\/ws\?nonce=[0-9a-f]{64}$/, 'a fresh nonce, never the token');
    assert.deepEqual(bridge.proofs, [true], 'the hello proves the packaged token');
  });

  await t.test('a Windows-style home directory is joined with backslashes', async (t) => {
    const sim = startSim(t, { home: 'C:\\Users\\ed' });
    assert.equal(sim.plugin.connectionFileCandidates()[0], 'C:\\Users\\ed\\.quor\\cutrelay\\connection.json');
  });

  await t.test('without a file the panel waits and the back-off grows 1, 2, 4, 5, 5 seconds', async (t) => {
    const home = tempDir();
    t.after(() => fs.rmSync(home, { recursive: true, force: true }));
    const sim = startSim(t, { home });
    assert.deepEqual(sim.panel().status, 'Waiting for Quor Bridge (no connection file yet)…');
    assert.equal(sim.panel().led, 'led wait');
    const delays = [];
    const conn = sim.plugin.conn;
    // The load already scheduled the first retry (1 s); replay the retries by hand.
    delays.push(conn.backoff / 2);
    for (let i = 0; i < 4; i++) {
      delays.push(conn.backoff);
      conn.timer = null;
      sim.plugin.connect();
    }
    assert.deepEqual(delays, [1000, 2000, 4000, 5000, 5000]);
  });
});

test('talking to the bridge', async (t) => {
  const bridge = await fakeBridge(t);
  const home = tempDir();
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  writeConnection(home, { port: bridge.port, token: 'secret', pid: 1 });
  const sim = startSim(t, { home, platform: 'darwin' });
  await until('hello', () => bridge.of('hello').length === 1);

  await t.test('hello once the bridge has proved it knows the token, with the plug-in\'s own proof', () => {
    assert.deepEqual(bridge.proofs, [true]);
    assert.deepEqual(bridge.of('hello')[0], {
      type: 'hello', runtime: 'uxp', pluginVersion: '0.1.0', protocol: 1, premiereVersion: '26.3.0',
      project: null, sequence: null, os: 'darwin',
      // added by the simulator's WebSocket, not by the plug-in
      simulator: true, presetFolders: [path.join(__dirname, '..', '..', 'sim', 'presets')],
    });
    assert.equal(sim.panel().status, `Connected (port ${bridge.port})`);
    assert.equal(sim.panel().led, 'led ok');
    assert.ok(sim.panel().log.some((l) => / connected$/.test(l)));
    assert.ok(sim.host.consoleLines.includes('[quor] connected'));
  });

  await t.test('ping gets a pong; other messages and non-JSON are ignored', async () => {
    bridge.send('not json');
    bridge.send({ type: 'welcome', bridgeVersion: '0.1.0', protocol: 1 });
    bridge.send({ type: 'ping' });
    await until('pong', () => bridge.of('pong').length === 1);
    assert.deepEqual(bridge.of('pong')[0], { type: 'pong' });
    assert.equal(bridge.received.filter((m) => m.type !== 'hello' && m.type !== 'pong').length, 0);
  });

  await t.test('calls are answered with their id; unknown verbs with not_in_uxp', async () => {
    bridge.send({ type: 'call', id: 7, verb: 'ping', args: {} });
    bridge.send({ type: 'call', id: 8, verb: 'no_such_verb' });
    bridge.send({ type: 'call', id: 9, verb: 'get_project' });
    await until('three results', () => bridge.of('result').length === 3);
    const byId = Object.fromEntries(bridge.of('result').map((r) => [r.id, r]));
    assert.equal(byId[7].ok, true);
    assert.equal(byId[7].result.pong, true);
    assert.deepEqual(byId[8], { type: 'result', id: 8, ok: false, errorCode: 'not_in_uxp', error: "UXP plugin has no verb 'no_such_verb'" });
    assert.deepEqual([byId[9].ok, byId[9].errorCode], [false, 'no_project']);
    assert.equal(typeof byId[9].stack, 'string');
    assert.equal(sim.panel().last, 'Last: get_project');
  });

  await t.test('calls are not queued: each answers with its own id', async () => {
    const before = bridge.of('result').length;
    for (let i = 0; i < 20; i++) bridge.send({ type: 'call', id: 100 + i, verb: i % 2 ? 'ping' : 'list_sequences' });
    await until('20 results', () => bridge.of('result').length === before + 20);
    const ids = bridge.of('result').slice(before).map((r) => r.id).sort((a, b) => a - b);
    assert.deepEqual(ids, Array.from({ length: 20 }, (_, i) => 100 + i));
  });

  await t.test('project events are pushed with a refreshed hello', async () => {
    const media = tempDir('cutrelay-media-');
    t.after(() => fs.rmSync(media, { recursive: true, force: true }));
    await sim.ok('new_project', { path: path.join(media, 'Evented') });
    await until('events', () => bridge.of('event').length >= 2 && bridge.of('hello_update').length >= 2);
    const kinds = bridge.of('event').map((e) => e.kind);
    assert.ok(kinds.includes('project_opened') && kinds.includes('project_activated'), kinds.join());
    assert.equal(typeof bridge.of('event')[0].at, 'number');
    assert.equal(bridge.of('hello_update').at(-1).fields.project, 'Evented.prproj');
  });

  await t.test('closing the project refreshes the hello so it names no closed project', async () => {
    const before = bridge.of('hello_update').length;
    await sim.ok('close_project', {});
    await until('hello_update after close', () => bridge.of('hello_update').slice(before).some((m) => m.fields.project === null));
    assert.equal(bridge.of('hello_update').at(-1).fields.project, null);
  });

  await t.test('when the bridge goes away the panel says so and the plug-in retries', async () => {
    await bridge.close();
    await until('disconnect', () => sim.panel().status === 'Disconnected — retrying…');
    assert.equal(sim.panel().led, 'led wait');
    assert.notEqual(sim.plugin.conn.timer, null);
  });
});

test('sockets that fail without a close, or never finish connecting, are retried', async (t) => {
  // A listener that accepts TCP but never answers the WebSocket upgrade: the socket stays
  // connecting for as long as the peer keeps quiet.
  const held = new Set();
  const server = net.createServer((sock) => { held.add(sock); sock.on('error', () => {}); });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  t.after(() => new Promise((r) => { for (const s of held) s.destroy(); server.close(() => r()); }));
  const home = tempDir();
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  const sim = startSim(t, { home });
  const conn = sim.plugin.conn;
  writeConnection(home, { port: server.address().port, token: 'x' });
  /** Starts a fresh attempt now instead of waiting for the scheduled one. */
  const attempt = () => {
    clearTimeout(conn.timer);
    conn.timer = null;
    sim.plugin.connect();
    assert.equal(conn.socket.readyState, 0, 'connecting');
  };

  await t.test('an error event alone schedules the retry', () => {
    attempt();
    const ws = conn.socket;
    ws.onerror({ type: 'error' });
    assert.equal(conn.socket, null);
    assert.notEqual(conn.timer, null, 'a retry is scheduled');
    assert.equal(sim.panel().status, 'Disconnected — retrying…');
    const timer = conn.timer;
    ws.onclose({ type: 'close' });
    assert.equal(conn.timer, timer, 'a close after the error schedules nothing more');
    ws.close();
  });

  await t.test('a socket stuck connecting is given up after the connect timeout', async () => {
    conn.connectTimeoutMs = 20;
    attempt();
    await until('give-up', () => conn.socket === null);
    assert.ok(sim.panel().log.some((l) => l.endsWith('connect timed out')));
    assert.notEqual(conn.timer, null, 'a retry is scheduled');
  });
});

test('the panel keeps the last 40 log lines', async (t) => {
  const home = tempDir();
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  const sim = startSim(t, { home });
  for (let i = 0; i < 45; i++) await sim.call('get_project', {});
  const log = sim.panel().log;
  assert.equal(log.length, 40);
  assert.match(log.at(-1), /get_project failed: No project is open/);
  assert.equal(sim.host.consoleLines.filter((l) => l.startsWith('[quor] get_project failed')).length, 45);
});

test('the plug-in\'s SHA-256 and HMAC-SHA-256 agree with Node\'s crypto', async (t) => {
  const home = tempDir();
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  const { sha256, hmacSha256, utf8Bytes, toHex, newNonce } = startSim(t, { home }).plugin;
  const node = (alg, data, key) => (key === undefined ? crypto.createHash(alg).update(data) : crypto.createHmac(alg, key).update(data)).digest('hex');

  await t.test('digests of every length around the block and padding edges, and of random data', () => {
    const lengths = [0, 1, 3, 31, 32, 55, 56, 57, 63, 64, 65, 111, 112, 119, 120, 127, 128, 129, 1000, 4099];
    for (const n of lengths) {
      const data = crypto.randomBytes(n);
      assert.equal(toHex(sha256(data)), node('sha256', data), `length ${n}`);
    }
    assert.equal(toHex(sha256(utf8Bytes('abc'))), 'ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad');
  });

  await t.test('HMAC with short, block-sized and long keys (RFC 2104 hashes keys over 64 bytes)', () => {
    for (const keyLength of [0, 1, 20, 63, 64, 65, 131]) {
      const key = crypto.randomBytes(keyLength);
      const data = crypto.randomBytes(keyLength * 3 + 7);
      assert.equal(toHex(hmacSha256(key, data)), node('sha256', data, key), `key of ${keyLength} bytes`);
    }
    // RFC 4231, test case 2.
    assert.equal(toHex(hmacSha256(utf8Bytes('Jefe'), utf8Bytes('what do ya want for nothing?'))),
      '5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843');
  });

  await t.test('texts are hashed as UTF-8, as Node and the bridge hash them', () => {
    for (const text of ['', 'plain', 'é', '€ and 😀', 'se cret&/', 'lone \ud800 surrogate']) {
      assert.deepEqual([...utf8Bytes(text)], [...Buffer.from(text, 'utf8')], JSON.stringify(text));
    }
  });

  await t.test('nonces are 32 fresh bytes from UXP\'s secure random source', () => {
    const seen = new Set(Array.from({ length: 50 }, () => newNonce()));
    assert.equal(seen.size, 50);
    for (const n of seen) assert.match(n, /^[0-9a-f]{64}$/);
  });
});
