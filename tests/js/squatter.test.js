'use strict';
// Another process on the bridge's port. When the bridge is gone (killed, crashed, stopped
// by cutrelay-mcp) any local process, another user's included, may listen on the port that
// connection.json still names. Both plug-ins dial it within seconds; neither may give it
// the token, nor run anything it sends, until it has proved that it knows the token.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { WebSocketServer } = require('ws');
const { createSim } = require('../../sim');
const { tempDir, poll, writeConnection, handshakeProof, challengeSocket } = require('./helpers');

const until = (what, fn, ms = 10000) => poll(what, fn, ms);
const TOKEN = 'squatters-never-see-this-token-0123456789abcdefgh';

/**
 * A process on the port that does not know the token. It records everything that reaches
 * it (request URLs and headers, every frame) and plays `behave(ws, req)` on each socket.
 */
async function squatter(t, behave) {
  const wss = new WebSocketServer({ host: '127.0.0.1', port: 0 });
  await new Promise((r) => wss.once('listening', r));
  const s = { port: wss.address().port, seen: [], messages: [], sockets: 0 };
  wss.on('connection', (ws, req) => {
    s.sockets += 1;
    s.seen.push(req.url, JSON.stringify(req.headers));
    ws.on('message', (data) => {
      const text = data.toString();
      s.seen.push(text);
      try { s.messages.push(JSON.parse(text)); } catch (e) { s.messages.push(text); }
    });
    behave(ws, req, s);
  });
  s.close = () => new Promise((r) => { for (const c of wss.clients) c.terminate(); wss.close(() => r()); });
  t.after(() => s.close());
  return s;
}

/** Both plug-ins, pointed at `port` with the real token, retrying quickly. */
function plugins(t, port) {
  const home = tempDir('cutrelay-squat-home-');
  const work = tempDir('cutrelay-squat-work-');
  t.after(() => {
    fs.rmSync(home, { recursive: true, force: true });
    fs.rmSync(work, { recursive: true, force: true });
  });
  writeConnection(home, { port, token: TOKEN, pid: 1 });
  const lines = [];
  const sim = createSim({ home, transcribeMs: 5, onConsole: (l) => lines.push(l) });
  t.after(() => sim.dispose());
  sim.plugin.conn.challengeTimeoutMs = 300;
  sim.cep.exports.conn.challengeTimeoutMs = 300;
  return { sim, lines, work, home };
}

/** The calls a squatter would like to run: code in Premiere through both plug-ins. */
function attack(ws, marker) {
  const calls = [
    { type: 'ping' },
    { type: 'call', id: 1, verb: 'eval', args: { code: `require("fs").writeFileSync(${JSON.stringify(marker)}, "pwned"); return 1;` } },
    { type: 'call', id: 2, verb: 'extendscript', args: { code: 'return app.version;' } },
    { type: 'call', id: 3, verb: 'new_project', args: { path: marker + '.prproj' } },
  ];
  for (const c of calls) {
    try { ws.send(JSON.stringify(c)); } catch (e) { /* the plug-in already left */ }
  }
}

function assertNothingGiven(s, p, marker) {
  const everything = s.seen.join('\n');
  assert.equal(everything.includes(TOKEN), false, 'the token never reaches the squatter');
  for (const url of s.seen.filter((x) => x.startsWith('/ws'))) assert.match(url, /^\/ws\?nonce=[0-9a-f]{64}$/);
  const types = s.messages.map((m) => (m && m.type) || typeof m);
  assert.deepEqual(types, [], 'no hello, pong or result: nothing at all is sent to it');
  assert.equal(fs.existsSync(marker), false, 'eval did not run');
  assert.equal(p.sim.cep.evaluated.some((x) => x.startsWith('quor_dispatch')), false, 'no ExtendScript call ran');
  assert.equal(p.sim.project() || null, null, 'no project was made');
}

test('a process on the port that does not know the token gets nothing and runs nothing', async (t) => {
  await t.test('one that answers with a forged challenge and sends calls at once', async (t) => {
    const s = await squatter(t, (ws, req, self) => {
      const nonce = new URL(req.url, 'ws://x').searchParams.get('nonce') || '';
      ws.send(JSON.stringify({ type: 'challenge', nonce: 'ab'.repeat(32), proof: handshakeProof('quor-bridge-proof', 'a guess', self.port, nonce, 'ab'.repeat(32)) }));
      attack(ws, self.marker);
    });
    const p = plugins(t, s.port);
    s.marker = path.join(p.work, 'marker');
    const refusal = `[quor] the process on port ${s.port} does not know the token`;
    await until('both plug-ins to refuse twice', () => p.lines.filter((l) => l === refusal).length >= 4);
    assert.ok(s.sockets >= 4, 'both plug-ins keep trying, with their back-off');
    assertNothingGiven(s, p, s.marker);
    assert.match(p.sim.panel().status, /retrying/);
  });

  await t.test('one that says nothing (a bridge of an older protocol, or a silent listener)', async (t) => {
    const s = await squatter(t, () => {});
    const p = plugins(t, s.port);
    const refusal = `[quor] the process on port ${s.port} does not know the token`;
    await until('both plug-ins to give up on it', () => p.lines.filter((l) => l === refusal).length >= 2);
    assertNothingGiven(s, p, path.join(p.work, 'marker'));
  });

  await t.test('one that sends calls, pings or garbage without any challenge', async (t) => {
    const s = await squatter(t, (ws, req, self) => {
      ws.send('not json');
      attack(ws, self.marker);
    });
    const p = plugins(t, s.port);
    s.marker = path.join(p.work, 'marker');
    const refusal = `[quor] the process on port ${s.port} does not know the token`;
    await until('both plug-ins to refuse', () => p.lines.filter((l) => l === refusal).length >= 2);
    assertNothingGiven(s, p, s.marker);
  });

  await t.test('one that replays a proof it saw for another nonce or reflects the plug-in\'s nonce', async (t) => {
    // A proof made with the real token, but over a nonce of an earlier connection: the
    // plug-in's fresh nonce makes it worthless.
    const stale = handshakeProof('quor-bridge-proof', TOKEN, 0, 'cd'.repeat(32), 'ab'.repeat(32));
    const s = await squatter(t, (ws, req, self) => {
      const nonce = new URL(req.url, 'ws://x').searchParams.get('nonce') || '';
      const proof = self.sockets % 2 ? stale : handshakeProof('quor-bridge-proof', TOKEN, self.port + 1, nonce, 'ab'.repeat(32));
      ws.send(JSON.stringify({ type: 'challenge', nonce: 'ab'.repeat(32), proof }));
      attack(ws, self.marker);
    });
    const p = plugins(t, s.port);
    s.marker = path.join(p.work, 'marker');
    const refusal = `[quor] the process on port ${s.port} does not know the token`;
    await until('both plug-ins to refuse twice', () => p.lines.filter((l) => l === refusal).length >= 4);
    assertNothingGiven(s, p, s.marker);
  });
});

test('once the real bridge holds the port again, both plug-ins connect and prove themselves', async (t) => {
  const wss = new WebSocketServer({ host: '127.0.0.1', port: 0 });
  await new Promise((r) => wss.once('listening', r));
  const port = wss.address().port;
  t.after(() => new Promise((r) => { for (const c of wss.clients) c.terminate(); wss.close(() => r()); }));
  let honest = false;
  const hellos = [];
  wss.on('connection', (ws, req) => {
    if (!honest) return;  // the squatter: silent
    const expected = challengeSocket(ws, req.url, TOKEN, port);
    ws.on('message', (data) => {
      const msg = JSON.parse(data.toString());
      if (msg.type === 'hello') hellos.push([msg.runtime, msg.proof === expected]);
    });
  });
  const p = plugins(t, port);
  const refusal = `[quor] the process on port ${port} does not know the token`;
  await until('both plug-ins to refuse the silent one', () => p.lines.filter((l) => l === refusal).length >= 2);
  honest = true;
  await until('both hellos', () => hellos.length >= 2, 15000);
  assert.deepEqual(hellos.sort(), [['cep', true], ['uxp', true]]);
  await until('the panel', () => p.sim.panel().status === `Connected (port ${port})`);
});
