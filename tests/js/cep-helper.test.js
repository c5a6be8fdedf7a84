'use strict';
// The CEP helper's page script (main.js) against a stand-in bridge, its serialiser and
// dispatcher in host.jsx, and the simulated CEP/ExtendScript runtime underneath them.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');
const { WebSocketServer } = require('ws');
const { createSim, HELPER_DIR } = require('../../sim');
const { versionInRange, readManifest } = require('../../sim/cep/runtime');
const { tempDir, editFixture, poll, writeConnection, challengeSocket } = require('./helpers');
const { checkText } = require('./tools/check-es3');

const until = (what, fn, ms = 5000) => poll(what, fn, ms);

/**
 * A stand-in bridge that knows `token`, challenges each socket as the bridge does and
 * records every message the CEP helper sends it (`proofs`: whether each hello's proof was
 * right; the proof is left out of the recorded hello). The UXP plug-in
 * may be connected too; its socket is told apart by its hello and left alone.
 */
async function fakeBridge(t, token = 'secret') {
  const wss = new WebSocketServer({ host: '127.0.0.1', port: 0 });
  await new Promise((r) => wss.once('listening', r));
  const bridge = { port: wss.address().port, token, received: [], urls: [], proofs: [], cep: null };
  wss.on('connection', (ws, req) => {
    const mine = [];
    const expected = challengeSocket(ws, req.url, token, bridge.port);
    ws.on('message', (data) => {
      const text = data.toString();
      let msg = text;
      try { msg = JSON.parse(text); } catch (e) { /* kept as text */ }
      if (msg && msg.type === 'hello' && msg.runtime === 'cep') {
        bridge.cep = ws;
        bridge.urls.push(req.url);
        bridge.proofs.push(expected !== null && msg.proof === expected);
        delete msg.proof;
        bridge.received.push(...mine);
      }
      if (bridge.cep === ws) bridge.received.push(msg);
      else mine.push(msg);
    });
  });
  bridge.send = (msg) => bridge.cep.send(typeof msg === 'string' ? msg : JSON.stringify(msg));
  bridge.close = () => new Promise((r) => { for (const s of wss.clients) s.terminate(); wss.close(() => r()); });
  bridge.of = (type) => bridge.received.filter((m) => m && m.type === type);
  t.after(() => bridge.close());
  return bridge;
}

function homeDir(t) {
  const home = tempDir('cutrelay-cep-home-');
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  return home;
}

function startHelper(t, options) {
  const sim = createSim(Object.assign({ only: 'cep' }, options));
  t.after(() => sim.dispose());
  return sim;
}

/** A copy of the helper whose host.jsx is replaced by `jsx`. */
function helperWith(t, jsx) {
  const dir = tempDir('cutrelay-cep-copy-');
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  fs.cpSync(HELPER_DIR, dir, { recursive: true });
  fs.writeFileSync(path.join(dir, 'host.jsx'), jsx);
  return dir;
}

test('the extension as Premiere loads it', async (t) => {
  await t.test('manifest: invisible, Node enabled, host range and script path', () => {
    const m = readManifest(HELPER_DIR);
    assert.deepEqual(m, {
      bundleId: 'inc.quor.premiere.cep', bundleVersion: '0.1.0', mainPath: './index.html', scriptPath: './host.jsx',
      parameters: ['--enable-nodejs', '--mixed-context'], hostRange: '[15.0,99.9]',
    });
    const xml = fs.readFileSync(path.join(HELPER_DIR, 'CSXS', 'manifest.xml'), 'utf8');
    assert.match(xml, /<AutoVisible>false<\/AutoVisible>/);
    assert.match(xml, /<Type>Custom<\/Type>/);
    assert.deepEqual([...xml.matchAll(/<Event>([^<]+)<\/Event>/g)].map((x) => x[1]),
      ['com.adobe.csxs.events.ApplicationActivate', 'applicationActivate', 'com.adobe.csxs.events.ApplicationInitialized']);
    assert.doesNotMatch(xml, /<Menu>/);
  });

  await t.test('host version ranges include or exclude their ends as written', (t) => {
    assert.equal(versionInRange('26.3.0', '[15.0,99.9]'), true);
    assert.equal(versionInRange('15.0', '[15.0,99.9]'), true);
    assert.equal(versionInRange('14.9.1', '[15.0,99.9]'), false);
    assert.equal(versionInRange('26.0', '[15.0,26.0)'), false);
    assert.equal(versionInRange('26.0', 'nonsense'), false);
    const dir = helperWith(t, fs.readFileSync(path.join(HELPER_DIR, 'host.jsx'), 'utf8'));
    const manifest = path.join(dir, 'CSXS', 'manifest.xml');
    fs.writeFileSync(manifest, fs.readFileSync(manifest, 'utf8').replace('[15.0,99.9]', '[15.0,26.0)'));
    assert.throws(() => createSim({ only: 'cep', helperDir: dir }), /does not accept Premiere 26\.3\.0 \(host range \[15\.0,26\.0\)\)/);
  });

  await t.test('a host.jsx that is not ES3 defines nothing, and every call fails as non-JSON', async (t) => {
    const sim = startHelper(t, { home: homeDir(t), helperDir: helperWith(t, 'function quor_hello() { let x = 1; return x; }') });
    assert.match(sim.cep.engine.loadErrors[0], /host\.jsx: Unexpected token/);
    assert.deepEqual(await sim.cepCall('ping', {}), {
      ok: false, errorCode: 'extendscript_error', error: 'ExtendScript returned non-JSON: EvalScript error.',
    });
  });
});

test('the ES3 check of host.jsx finds what ExtendScript lacks', () => {
  const found = (text) => checkText(text).map((f) => f.message);
  for (const text of ['let x = 1;', 'var f = () => 1;', 'var o = {a: 1,};', 'var s = `t`;', 'var s = "\u2028";']) {
    assert.match(found(text)[0], /^not ES3: /, text);
  }
  assert.deepEqual(found('var s = JSON.stringify({});'), ['JSON does not exist in ExtendScript']);
  assert.deepEqual(found('var k = Object.keys({}); [].forEach(function () {}); " a ".trim();'),
    ['Object.keys does not exist in ExtendScript', '.forEach() does not exist in ExtendScript (ES3)', '.trim() does not exist in ExtendScript (ES3)']);
  assert.deepEqual(found('var a = "\u00e9";'), ['non-ASCII character: write it as a \\u escape']);
  assert.deepEqual(found('var i = "ab".indexOf("b"); var o = {JSON: 1}; o.JSON = 2; var e = "\\u00e9";'), []);
});

test('the ExtendScript engine', async (t) => {
  const sim = startHelper(t, { home: homeDir(t), scriptTimeoutMs: 300 });
  const ev = (s) => sim.cep.evaluate(s);

  await t.test('holds scripts to ES3 and its library', () => {
    assert.deepEqual(['typeof JSON', 'typeof Object.keys', 'typeof [].forEach', 'typeof "".trim', 'typeof Date.now', 'typeof Map'].map(ev),
      ['undefined', 'undefined', 'undefined', 'undefined', 'undefined', 'undefined']);
    assert.equal(ev('"abc".indexOf("c")'), '2');
    assert.equal(ev('var f = () => 1; f()'), 'EvalScript error.');
    assert.equal(ev('"a\u2028b"'), 'EvalScript error.', 'a raw line separator ends an ES3 string literal');
    assert.equal(ev('"a\\u2028b".length'), '3');
  });

  await t.test('answers the last value as text; a throw or a runaway script is an EvalScript error', () => {
    assert.equal(ev('1 + 1'), '2');
    assert.equal(ev('undefined'), 'undefined');
    assert.equal(ev('throw new Error("x")'), 'EvalScript error.');
    assert.equal(ev('while (true) {}'), 'EvalScript error.');
    assert.equal(ev('quor_json([1])'), '[1]', 'the engine survives a stopped script');
  });

  await t.test('evalScript runs scripts one at a time in the order asked for', async () => {
    // Three calls passed on at once: each sees the effect of the one before.
    const code = (n) => ({ code: 'if (typeof counter === "undefined") counter = 0; counter = counter * 10 + ' + n + '; return counter;' });
    const results = await Promise.all([1, 2, 3].map((n) => sim.cepCall('extendscript', code(n))));
    assert.deepEqual(results.map((r) => r.result.value), [1, 12, 123]);
  });
});

test('quor_json, the helper\'s serialiser', async (t) => {
  const sim = startHelper(t, { home: homeDir(t) });
  const json = (expr) => sim.cep.evaluate('quor_json(' + expr + ')');

  await t.test('scalars, including the values JSON has no text for', () => {
    assert.deepEqual(['null', 'undefined', '0', '-1.5', '1/0', 'NaN', 'true', 'false'].map(json),
      ['null', 'null', '0', '-1.5', 'null', 'null', 'true', 'false']);
  });

  await t.test('strings: the short escapes, other control characters as \\u00XX', () => {
    const text = json('"q\\"b\\\\n\\nr\\rt\\tc\\u0001e\\u001f/é"');
    assert.equal(text, '"q\\"b\\\\n\\nr\\rt\\tc\\u0001e\\u001f/é"');
    assert.equal(JSON.parse(text), 'q"b\\n\nr\rt\tc\u0001e\u001f/é');
  });

  await t.test('arrays and objects: own keys in order, functions left out, holes as null', () => {
    assert.equal(json('[1, undefined, "a", [], {}]'), '[1,null,"a",[],{}]');
    assert.equal(json('(function () { function P() { this.b = 2; this.a = 1; this.f = function () {}; } P.prototype.inherited = 3; return new P(); })()'), '{"b":2,"a":1}');
    assert.equal(json('{u: undefined, "needs \\"quote\\"": 1}'), '{"u":null,"needs \\"quote\\"":1}');
  });

  await t.test('a property that throws when read is left out', () => {
    sim.cep.engine.context.quorTestThrowing = Object.defineProperty({ a: 1 }, 'b', {
      enumerable: true, get() { throw new Error('not now'); },
    });
    assert.equal(json('quorTestThrowing'), '{"a":1}');
  });

  await t.test('a cycle ends in null at the depth limit instead of never ending', () => {
    const text = json('(function () { var o = {}; o.self = o; return o; })()');
    let depth = 0;
    for (let v = JSON.parse(text); v !== null; v = v.self) depth += 1;
    assert.equal(depth, 64);
  });
});

test('talking to the bridge', async (t) => {
  const bridge = await fakeBridge(t, 'se cret&/');
  const home = homeDir(t);
  const { sim } = await editFixture(t, { home });
  // The file appears once the project is open, so the hello has something to report.
  writeConnection(home, { port: bridge.port, token: 'se cret&/', pid: 1 });
  sim.cep.exports.connect();

  await t.test('hello carries quor_hello()\'s fields and the helper\'s own', async () => {
    const hello = await until('hello', () => bridge.of('hello')[0]);
    assert.match(bridge.urls[0], /^\/ws\?nonce=[0-9a-f]{64}$/, 'a fresh nonce, never the token');
    assert.deepEqual(bridge.proofs, [true], 'the hello proves the token, odd characters and all');
    assert.deepEqual(hello, {
      type: 'hello', runtime: 'cep', helperVersion: '0.1.0', protocol: 1,
      premiereVersion: '26.3.0', build: '1', project: 'Edit.prproj', sequence: 'Cut',
    });
  });

  await t.test('ping gets a pong; other messages and non-JSON are ignored', async () => {
    bridge.send('not json');
    bridge.send('[1,2]');
    bridge.send({ type: 'welcome', protocol: 1 });
    bridge.send({ type: 'ping' });
    await until('pong', () => bridge.of('pong').length === 1);
    assert.deepEqual(bridge.of('pong')[0], { type: 'pong' });
    assert.equal(bridge.received.filter((m) => m.type !== 'hello' && m.type !== 'pong').length, 0);
  });

  await t.test('calls: results carry their id; arguments survive the double encoding', async () => {
    const tricky = 'quote " backslash \\ newline \n tab \t sep \u2028 para \u2029 end\'s </script> é 😀';
    bridge.send({ type: 'call', id: 1, verb: 'extendscript', args: { code: 'return args.s + "|" + args.s.length;', args: { s: tricky } } });
    bridge.send({ type: 'call', id: 2, verb: 'ping' });
    bridge.send({ type: 'call', id: 3, verb: 'get_sequence', args: {} });
    bridge.send({ type: 'call', id: 4, verb: 'extendscript', args: { code: 'return "a" + String.fromCharCode(2);' } });
    await until('four results', () => bridge.of('result').length === 4);
    const byId = Object.fromEntries(bridge.of('result').map((r) => [r.id, r]));
    assert.deepEqual(byId[1], { type: 'result', id: 1, ok: true, result: { value: tricky + '|' + tricky.length } });
    assert.deepEqual(byId[2].result, { premiereVersion: '26.3.0', build: '1', project: 'Edit.prproj', sequence: 'Cut' });
    assert.deepEqual(byId[3], { type: 'result', id: 3, ok: false, errorCode: 'not_in_cep', error: "CEP helper has no verb 'get_sequence'" });
    assert.equal(byId[4].result.value, 'a\u0002');
  });

  await t.test('calls passed on back to back are answered in order', async () => {
    const before = bridge.of('result').length;
    for (let i = 0; i < 10; i++) bridge.send({ type: 'call', id: 100 + i, verb: i % 2 ? 'ping' : 'add_tracks', args: i % 2 ? {} : { video: 1 } });
    await until('ten results', () => bridge.of('result').length === before + 10);
    const results = bridge.of('result').slice(before);
    assert.deepEqual(results.map((r) => r.id), Array.from({ length: 10 }, (_, i) => 100 + i));
    assert.deepEqual(results.filter((r) => r.id % 2 === 0).map((r) => r.result.videoTracks), [4, 5, 6, 7, 8]);
  });

  await t.test('when the bridge goes away the helper schedules a retry', async () => {
    await bridge.close();
    await until('disconnect', () => sim.cep.exports.conn.socket === null);
    assert.notEqual(sim.cep.exports.conn.timer, null);
  });
});

test('connecting', async (t) => {
  await t.test('a connection file without port or token is no connection file; the back-off grows to 5 s', async (t) => {
    for (const content of ['{"port": 1234, "token": ""}', '{"token": "x"}', 'not json', '[]']) {
      const home = homeDir(t);
      writeConnection(home, content);
      const sim = startHelper(t, { home });
      assert.equal(sim.cep.exports.readConnectionFile(), null, content);
      assert.equal(sim.cep.exports.conn.socket, null);
    }
    const sim = startHelper(t, { home: homeDir(t) });
    const conn = sim.cep.exports.conn;
    const delays = [conn.backoff / 2];
    for (let i = 0; i < 4; i++) {
      delays.push(conn.backoff);
      clearTimeout(conn.timer);
      conn.timer = null;
      sim.cep.exports.connect();
    }
    assert.deepEqual(delays, [1000, 2000, 4000, 5000, 5000]);
  });

  await t.test('when quor_hello() answers no JSON, the hello has the helper\'s fields only', async (t) => {
    const bridge = await fakeBridge(t);
    const home = homeDir(t);
    writeConnection(home, { port: bridge.port, token: 'secret' });
    startHelper(t, { home, helperDir: helperWith(t, 'function quor_hello() { return "not json"; }') });
    const hello = await until('hello', () => bridge.of('hello')[0]);
    assert.deepEqual(hello, { type: 'hello', runtime: 'cep', helperVersion: '0.1.0', protocol: 1 });
  });

  await t.test('a non-JSON answer becomes extendscript_error with the first 500 characters', async (t) => {
    const long = 'x'.repeat(600);
    const sim = startHelper(t, { home: homeDir(t), helperDir: helperWith(t, `function quor_dispatch(p) { return "${long}"; }`) });
    const r = await sim.cepCall('ping', {});
    assert.deepEqual(r, { ok: false, errorCode: 'extendscript_error', error: 'ExtendScript returned non-JSON: ' + 'x'.repeat(500) });
  });

  await t.test('arguments nested too deeply to pass on fail that call only', async (t) => {
    const sim = startHelper(t, { home: homeDir(t) });
    const deep = {};
    let cur = deep;
    for (let i = 0; i < 20000; i++) { cur.a = {}; cur = cur.a; }
    const r = await sim.cepCall('extendscript', { code: 'return 1;', args: deep });
    assert.deepEqual([r.ok, r.errorCode], [false, 'bad_args']);
    assert.match(r.error, /^The arguments could not be passed to ExtendScript: /);
    assert.deepEqual(await sim.cepCall('extendscript', { code: 'return args;', args: [[[1]], 'x'] }), { ok: true, result: { value: [[[1]], 'x'] } });
  });

  await t.test('a looping script fails that call only; the next one runs', async (t) => {
    const { sim } = await editFixture(t, { scriptTimeoutMs: 200 });
    const looping = sim.cepCall('extendscript', { code: 'while (true) {}' });
    const after = sim.cepCall('ping', {});
    assert.deepEqual(await looping, { ok: false, errorCode: 'extendscript_error', error: 'ExtendScript returned non-JSON: EvalScript error.' });
    assert.equal((await after).ok, true);
  });
});

test('sim/main.js refuses an --only it does not know', (t) => {
  const r = spawnSync(process.execPath, [path.join(__dirname, '..', '..', 'sim', 'main.js'), '--only', 'both'], {
    env: Object.assign({}, process.env, { HOME: homeDir(t) }), encoding: 'utf8', timeout: 20000,
  });
  assert.equal(r.status, 2);
  assert.equal(r.stderr, '[cutrelay-sim] --only takes "uxp" or "cep"\n');
});
