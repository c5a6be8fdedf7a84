'use strict';
// MCP end to end: the official MCP SDK's client against the real bridge (Streamable HTTP at
// /mcp) and the real stdio relay (cutrelay-mcp), with the simulator running the plug-in.
//
// The bridge comes from $CUTRELAY_BIN (default build/cutrelay); the relay is the
// cutrelay-mcp beside it.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const http = require('http');
const net = require('net');
const path = require('path');
const { Client } = require('@modelcontextprotocol/sdk/client/index.js');
const { StreamableHTTPClientTransport } = require('@modelcontextprotocol/sdk/client/streamableHttp.js');
const { StdioClientTransport } = require('@modelcontextprotocol/sdk/client/stdio.js');
const { tempDir, makeMedia } = require('./helpers');
const { BIN, until, start, startSim, homeAndWork } = require('./bridge');

const RELAY = path.join(path.dirname(BIN), 'cutrelay-mcp');
const HAVE_BIN = fs.existsSync(BIN) && fs.existsSync(RELAY);
if (!HAVE_BIN && process.env.CUTRELAY_BIN) throw new Error(`no ${BIN} and ${RELAY} (CUTRELAY_BIN=${process.env.CUTRELAY_BIN})`);
const SKIP = HAVE_BIN ? false : `no bridge and relay binaries at ${BIN} (build them or set CUTRELAY_BIN)`;

const connectionFile = (home) => path.join(home, '.quor', 'cutrelay', 'connection.json');
const readConnection = (home) => JSON.parse(fs.readFileSync(connectionFile(home), 'utf8'));

async function startBridge(t, home) {
  const bridge = start(t, BIN, [], { HOME: home });
  const conn = await until('connection.json', () => {
    const c = readConnection(home);
    return c.pid === bridge.pid ? c : null;
  }, 5000);
  return { bridge, port: conn.port };
}

/** Whether nothing listens on the loopback port any more (a connection is refused). */
function refused(port) {
  return new Promise((resolve) => {
    const socket = net.connect(port, '127.0.0.1');
    socket.on('connect', () => { socket.destroy(); resolve(false); });
    socket.on('error', () => resolve(true));
  });
}

/** Whether a process runs (a zombie, killed but not yet reaped by its parent, does not). */
function alive(pid) {
  try {
    process.kill(pid, 0);
  } catch (e) {
    return false;
  }
  try {
    const stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
    return stat.slice(stat.lastIndexOf(')') + 2)[0] !== 'Z';
  } catch (e) {
    return true;  // no /proc: the signal test has to do
  }
}

/** The answer object of a tool result, read from its text block. */
function answerOf(result) {
  const text = result.content.find((c) => c.type === 'text').text;
  return JSON.parse(text);
}

async function pluginReady(client) {
  return until('the plug-in to answer', async () => {
    const r = await client.callTool({ name: 'premiere_ping', arguments: { timeoutSec: 2 } });
    return r.isError ? null : r;
  }, 15000);
}

/** An export through `client` with a progress callback: what it saw, and the result. */
async function exportWithProgress(client, work, name) {
  const preset = path.join(work, 'Match Source.epr');
  fs.writeFileSync(preset, '<PremiereData/>');
  const output = path.join(work, `${name}.mp4`);
  const seen = [];
  const result = await client.callTool({ name: 'premiere_export_sequence', arguments: { output, preset } }, undefined,
    { onprogress: (p) => seen.push(p) });
  return { seen, result, output };
}

/** Checks what an SDK client saw of an export's progress. */
function checkExportProgress({ seen, result, output }) {
  assert.equal(result.isError, false, JSON.stringify(result.structuredContent));
  assert.ok(fs.existsSync(output));
  assert.match(seen[0].message, /^Asking Premiere to export/, JSON.stringify(seen));
  // An in-app export answers once it has started; its completion may come after the answer
  // (then premiere_events has it), but what is reported is never out of order.
  assert.ok(seen.every((p) => p.total === 100 && (p.progress < 100 || /^(Rendering|Export complete)/.test(p.message))), JSON.stringify(seen));
  for (let i = 1; i < seen.length; i++) assert.ok(seen[i].progress > seen[i - 1].progress, JSON.stringify(seen));
}

/** Lists, describes, checks readiness and edits through one connected client. */
async function exerciseTools(t, client, work) {
  await t.test('lists every verb as a tool, in catalog order', async () => {
    const { tools } = await client.listTools();
    assert.equal(tools.length, 91);
    assert.equal(tools[0].name, 'premiere_describe');
    assert.equal(tools[90].name, 'premiere_export_frame_qe');
    const insert = tools.find((x) => x.name === 'premiere_insert_clip');
    assert.match(insert.description, /^Insert a project item at a time/);
    assert.deepEqual(insert.inputSchema.required, ['item']);
    assert.equal(insert.inputSchema.additionalProperties, false);
    assert.deepEqual(insert.inputSchema.properties.time.oneOf.map((f) => f.type), ['number', 'string', 'object']);
    assert.equal(insert.inputSchema.properties.timeoutSec.type, 'integer');
    assert.equal(insert.annotations.destructiveHint, false);
    assert.equal(tools.find((x) => x.name === 'premiere_get_sequence').annotations.readOnlyHint, true);
  });

  await t.test('premiere_describe answers the catalog as text and structured content', async () => {
    const r = await client.callTool({ name: 'premiere_describe', arguments: {} });
    assert.equal(r.isError, false);
    assert.equal(r.structuredContent.catalog.verbCount, 91);
    assert.deepEqual(answerOf(r), r.structuredContent);
  });

  await t.test('premiere_readiness says the plug-in is connected', async () => {
    await pluginReady(client);
    const r = await client.callTool({ name: 'premiere_readiness', arguments: {} });
    const answer = answerOf(r);
    assert.equal(answer.verb, 'premiere_readiness');
    assert.equal(answer.pluginConnected, true, JSON.stringify(answer));
  });

  await t.test('editing verbs run in Premiere; failures come back as tool errors', async () => {
    const [video] = makeMedia(work, ['shot_4s_25fps.mp4']);
    const p = await client.callTool({ name: 'premiere_new_project', arguments: { path: path.join(work, 'Mcp') } });
    assert.equal(p.isError, false, JSON.stringify(p));
    const imp = await client.callTool({ name: 'premiere_import_media', arguments: { paths: [video] } });
    assert.equal(imp.structuredContent.imported, 1, JSON.stringify(imp.structuredContent));
    const seq = await client.callTool({ name: 'premiere_create_sequence', arguments: { name: 'Mcp cut', fromItems: [imp.structuredContent.items[0].id] } });
    assert.equal(seq.isError, false, JSON.stringify(seq.structuredContent));
    const bad = await client.callTool({ name: 'premiere_get_sequence', arguments: { sequence: 'Nope' } });
    assert.equal(bad.isError, true);
    assert.equal(bad.structuredContent.errorCode, 'sequence_not_found');
    // Several calls in flight at once on one session.
    const many = await Promise.all([1, 2, 3, 4].map(() => client.callTool({ name: 'premiere_get_sequence', arguments: {} })));
    assert.deepEqual(many.map((r) => r.structuredContent.name), ['Mcp cut', 'Mcp cut', 'Mcp cut', 'Mcp cut']);
  });

  await t.test('an export reports its progress while it runs, then answers', async () => {
    checkExportProgress(await exportWithProgress(client, work, 'with-progress'));
  });

  await t.test('a contact sheet reports each frame it reads', async () => {
    const seen = [];
    const r = await client.callTool({ name: 'premiere_contact_sheet', arguments: { count: 2, width: 64 } }, undefined,
      { onprogress: (p) => seen.push(p) });
    assert.equal(r.isError, false, JSON.stringify(r.structuredContent));
    assert.deepEqual(seen.map((p) => [p.progress, p.total, p.message]),
      [[0, undefined, 'Exporting the frames in Premiere'], [1, 2, 'Read frame 1 of 2'], [2, 2, 'Read frame 2 of 2']]);
  });

  await t.test('premiere_preview_frame comes back as an image block', async () => {
    const r = await client.callTool({ name: 'premiere_preview_frame', arguments: { time: 1 } });
    assert.equal(r.isError, false, JSON.stringify(r.structuredContent));
    const image = r.content.find((c) => c.type === 'image');
    assert.ok(image, 'an image content block');
    assert.equal(image.mimeType, 'image/png');
    assert.equal(Buffer.from(image.data, 'base64').subarray(1, 4).toString('latin1'), 'PNG');
    assert.ok(!r.content[0].text.includes(image.data));
    assert.match(r.structuredContent.image.base64, /content\[1\]/);
  });

  await t.test('an unknown tool, or arguments its schema refuses, is a JSON-RPC error naming them', async () => {
    await assert.rejects(client.callTool({ name: 'premiere_nothing', arguments: {} }), (e) => e.code === -32602 && /premiere_nothing/.test(e.message));
    await assert.rejects(client.callTool({ name: 'premiere_get_sequence', arguments: { sequnce: 'Mcp cut' } }),
      (e) => e.code === -32602 && /`sequnce` is not an argument here/.test(e.message));
    await assert.rejects(client.callTool({ name: 'premiere_trim_clip', arguments: { clip: 'V1 0' } }),
      (e) => e.code === -32602 && /`clip` must look like/.test(e.message));
  });
}

test('MCP over Streamable HTTP at /mcp', { skip: SKIP, timeout: 90000 }, async (t) => {
  const { home, work } = homeAndWork(t, 'mcp');
  const { port } = await startBridge(t, home);
  startSim(t, home);
  const url = new URL(`http://127.0.0.1:${port}/mcp`);
  const transport = new StreamableHTTPClientTransport(url);
  const client = new Client({ name: 'cutrelay-test', version: '1.0.0' });
  await client.connect(transport);
  t.after(() => client.close());

  await t.test('the session speaks the newest revision and carries instructions', () => {
    assert.equal(transport.protocolVersion, '2025-11-25');
    assert.ok(transport.sessionId);
    assert.deepEqual(client.getServerVersion(), { name: 'cutrelay', version: '0.1.0' });
    assert.match(client.getInstructions(), /premiere_readiness/);
  });

  await exerciseTools(t, client, work);

  await t.test('HTTP refusals a client can meet', async () => {
    const raw = (method, headers, body) => new Promise((resolve, reject) => {
      const req = http.request({ host: '127.0.0.1', port, path: '/mcp', method, headers }, (res) => {
        let text = '';
        res.on('data', (d) => { text += d; });
        res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, text }));
      });
      req.on('error', reject);
      if (body !== undefined) req.write(body);
      req.end();
    });
    const json = { 'Content-Type': 'application/json', Accept: 'application/json, text/event-stream' };
    const ping = JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'ping' });
    assert.equal((await raw('GET', { Accept: 'text/event-stream' })).status, 405);
    assert.equal((await raw('POST', json, ping)).status, 400);
    const unknown = await raw('POST', Object.assign({ 'Mcp-Session-Id': 'nope' }, json), ping);
    assert.equal(unknown.status, 404);
    assert.equal(JSON.parse(unknown.text).id, 1);
    const session = { 'Mcp-Session-Id': transport.sessionId };
    assert.equal((await raw('POST', Object.assign({ 'MCP-Protocol-Version': '2020-01-01' }, session, json), ping)).status, 400);
    assert.equal(JSON.parse((await raw('POST', Object.assign({}, session, json), '{"jsonrpc":')).text).error.code, -32700);
    assert.equal((await raw('POST', Object.assign({ Host: 'evil.example' }, session, json), ping)).status, 403);
    assert.equal((await raw('POST', Object.assign({ Origin: 'https://evil.example' }, session, json), ping)).status, 403);
    assert.equal((await raw('POST', Object.assign({}, session, json), 'x'.repeat(2097153))).status, 413);
    const nested = '['.repeat(100000) + ']'.repeat(100000);
    assert.equal(JSON.parse((await raw('POST', Object.assign({}, session, json), nested)).text).error.code, -32700);
    assert.equal((await raw('POST', Object.assign({}, session, json), '{"jsonrpc":"2.0","method":"notifications/initialized"}')).status, 202);
  });

  await t.test('a client that leaves mid-call harms no one', async () => {
    // A bridge of its own without a plug-in, where premiere_wait_for_plugin keeps waiting.
    const lone = tempDir('cutrelay-mcp-lone-');
    t.after(() => fs.rmSync(lone, { recursive: true, force: true }));
    const other = await startBridge(t, lone);
    const loneClient = new Client({ name: 'cutrelay-test', version: '1.0.0' });
    const loneTransport = new StreamableHTTPClientTransport(new URL(`http://127.0.0.1:${other.port}/mcp`));
    await loneClient.connect(loneTransport);
    t.after(() => loneClient.close());
    const body = JSON.stringify({ jsonrpc: '2.0', id: 9, method: 'tools/call', params: { name: 'premiere_wait_for_plugin', arguments: { timeoutSec: 30 } } });
    const req = http.request({ host: '127.0.0.1', port: other.port, path: '/mcp', method: 'POST', headers: { 'Content-Type': 'application/json', 'Mcp-Session-Id': loneTransport.sessionId } });
    req.on('error', () => {});
    await new Promise((resolve) => req.end(body, resolve));
    req.destroy();
    // The same while its progress streams: the client reads the first event and leaves.
    const streamed = JSON.stringify({ jsonrpc: '2.0', id: 10, method: 'tools/call', params: { name: 'premiere_wait_for_plugin', arguments: { timeoutSec: 30 }, _meta: { progressToken: 'p' } } });
    await new Promise((resolve) => {
      const sse = http.request({ host: '127.0.0.1', port: other.port, path: '/mcp', method: 'POST', headers: { 'Content-Type': 'application/json', Accept: 'text/event-stream', 'Mcp-Session-Id': loneTransport.sessionId } }, (res) => {
        assert.equal(res.headers['content-type'], 'text/event-stream');
        res.once('data', (d) => { assert.match(String(d), /notifications\/progress/); sse.destroy(); resolve(); });
      });
      sse.on('error', () => {});
      sse.end(streamed);
    });
    const r = await loneClient.callTool({ name: 'premiere_describe', arguments: {} });
    assert.equal(r.isError, false);
    assert.equal(other.bridge.exitCode, null);
    const main = await client.callTool({ name: 'premiere_get_sequence', arguments: {} });
    assert.equal(main.structuredContent.name, 'Mcp cut');
  });

  await t.test('ending the session makes its id unknown', async () => {
    const id = transport.sessionId;
    await transport.terminateSession();
    const res = await fetch(url, { method: 'POST', headers: { 'Content-Type': 'application/json', Accept: 'application/json', 'Mcp-Session-Id': id }, body: '{"jsonrpc":"2.0","id":1,"method":"ping"}' });
    assert.equal(res.status, 404);
  });
});

/** The pid the relay's log gives for what it started ("started … (pid N)"), or null. */
function startedPid(log, what) {
  const m = new RegExp(`started ${what}.*\\(pid (\\d+)\\)`).exec(log);
  return m ? Number(m[1]) : null;
}

test('MCP over stdio through cutrelay-mcp', { skip: SKIP, timeout: 90000 }, async (t) => {
  const { home, work } = homeAndWork(t, 'mcp-stdio');
  const transport = new StdioClientTransport({ command: RELAY, args: [], env: { HOME: home, PATH: process.env.PATH, CUTRELAY_SIMULATOR: '1' }, stderr: 'pipe' });
  let relayLog = '';
  transport.stderr.on('data', (d) => { relayLog += d; });
  const client = new Client({ name: 'cutrelay-test', version: '1.0.0' });
  await client.connect(transport);
  let closed = false;
  t.after(async () => { if (!closed) await client.close(); });

  // No bridge ran: the relay started its own, which wrote the connection file, and the
  // simulator beside it, as make run does.
  const first = readConnection(home);
  assert.ok(alive(first.pid));
  assert.equal(startedPid(relayLog, '.*/cutrelay '), first.pid);
  const simulator = startedPid(relayLog, 'the Premiere simulator');
  assert.ok(simulator && alive(simulator), relayLog);

  await exerciseTools(t, client, work);

  await t.test('a bridge that goes away is restarted on the next request', async () => {
    process.kill(first.pid, 'SIGKILL');
    await until('the bridge to stop', () => !alive(first.pid) || null, 5000);
    // A killed process shows as a zombie while its other threads still hold its sockets;
    // a request sent then would be lost with the bridge, not refused and sent again.
    await until('the bridge\'s port to close', async () => (await refused(first.port)) || null, 5000);
    const r = await client.callTool({ name: 'premiere_describe', arguments: {} });
    assert.equal(r.isError, false);
    const second = readConnection(home);
    assert.notEqual(second.pid, first.pid);
    assert.ok(alive(second.pid));
    assert.equal((await client.listTools()).tools.length, 91);
  });

  await t.test('closing standard input stops the bridge and the simulator the relay started', async () => {
    const { pid } = readConnection(home);
    assert.ok(alive(simulator));  // the simulator outlived the first bridge
    await client.close();
    closed = true;
    await until('the relay\'s bridge to stop', () => !alive(pid) || null, 10000);
    await until('the relay\'s simulator to stop', () => !alive(simulator) || null, 10000);
  });
});

test('a killed cutrelay-mcp takes its bridge and simulator with it', { skip: SKIP, timeout: 60000 }, async (t) => {
  const home = tempDir('cutrelay-mcp-killed-home-');
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  const relay = start(t, RELAY, [], { HOME: home, CUTRELAY_SIMULATOR: '1' }, ['pipe', 'pipe', 'pipe']);
  relay.stdin.write(JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'initialize', params: { protocolVersion: '2025-11-25', capabilities: {}, clientInfo: { name: 'raw', version: '1' } } }) + '\n');
  await until('the answer', () => relay.out.includes('"id":1') || null, 20000);
  const bridge = readConnection(home).pid;
  const simulator = startedPid(relay.err, 'the Premiere simulator');
  assert.ok(alive(bridge) && simulator && alive(simulator), relay.err);
  relay.kill('SIGKILL');
  await until('the bridge to end', () => !alive(bridge) || null, 10000);
  await until('the simulator to end', () => !alive(simulator) || null, 10000);
});

test('cutrelay-mcp uses a bridge that already runs, and survives bad input', { skip: SKIP, timeout: 60000 }, async (t) => {
  const home = tempDir('cutrelay-mcp-raw-home-');
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  const { bridge } = await startBridge(t, home);
  const relay = start(t, RELAY, [], { HOME: home }, ['pipe', 'pipe', 'pipe']);
  const lines = () => relay.out.split('\n').filter(Boolean).map((l) => JSON.parse(l));
  const byId = async (id) => until(`answer ${id}`, () => lines().find((m) => m.id === id), 10000);

  relay.stdin.write('this is not json\n');
  relay.stdin.write('\n');
  relay.stdin.write('{"jsonrpc":"2.0","id":"early","method":"tools/list"}\n');
  relay.stdin.write('{"jsonrpc":"2.0","method":"notifications/early"}\n');
  relay.stdin.write('x'.repeat(3 * 1024 * 1024) + '\n');
  relay.stdin.write('{"jsonrpc":"2.0","id":"big","method":"tools/call","params":{"name":"premiere_eval","arguments":{"code":"' + 'x'.repeat(3 * 1024 * 1024) + '"}}}\n');
  relay.stdin.write(JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'initialize', params: { protocolVersion: '2025-03-26', capabilities: {}, clientInfo: { name: 'raw', version: '1' } } }) + '\n');
  assert.equal((await byId(1)).result.protocolVersion, '2025-03-26');
  relay.stdin.write('{"jsonrpc":"2.0","method":"notifications/initialized"}\n');
  relay.stdin.write('[{"jsonrpc":"2.0","id":2,"method":"ping"},{"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"premiere_describe","arguments":5}}]\n');
  relay.stdin.write('{"jsonrpc":"2.0","id":4,"method":"tools/call","params":{"name":"premiere_readiness"}}\n');
  const batch = await until('the batch answer', () => lines().find((m) => Array.isArray(m)), 10000);
  assert.deepEqual(batch.map((m) => m.id), [2, 3]);
  assert.equal(batch[1].error.code, -32602);
  const ready = await byId(4);
  assert.equal(ready.result.structuredContent, undefined);  // 2025-03-26 has no structured content
  assert.equal(answerOf(ready.result).verb, 'premiere_readiness');

  const all = lines();
  assert.equal(all.filter((m) => m.error && m.error.code === -32700).length, 1);
  const tooLarge = all.filter((m) => m.error && m.error.code === -32600 && /too large/.test(m.error.message));
  assert.deepEqual(tooLarge.map((m) => m.id), [null, 'big']);  // the id, where the line's start shows it
  assert.equal(all.find((m) => m.id === 'early').error.code, -32600);  // before initialize: no session
  assert.equal(all.filter((m) => !Array.isArray(m) && m.id === null).length, 2);  // the notification got nothing
  assert.equal(all.find((m) => m.id === 'big').error.code, -32600);
  assert.equal(readConnection(home).pid, bridge.pid);  // no second bridge
  assert.doesNotMatch(relay.err, /started/);

  // Standard input closing in the middle of a message: that message is answered as
  // unreadable and the relay ends, leaving the bridge it did not start running.
  relay.stdin.end('{"jsonrpc":"2.0","id":5,"meth');
  await until('the relay to exit', () => relay.exitCode !== null || null, 10000);
  assert.equal(relay.exitCode, 0);
  assert.equal(lines().filter((m) => m.error && m.error.code === -32700).length, 2);
  assert.ok(alive(bridge.pid));
});

test('cutrelay-mcp reports a request lost with its bridge and opens the session again', { skip: SKIP, timeout: 60000 }, async (t) => {
  // A stand-in bridge that serves /mcp but drops the connection of every tool call, as a
  // bridge that dies mid-call would.
  const home = tempDir('cutrelay-mcp-lost-home-');
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  const seen = [];
  const auth = new Set();
  const server = http.createServer((req, res) => {
    let body = '';
    auth.add(req.headers.authorization);
    req.on('data', (d) => { body += d; });
    req.on('end', () => {
      const m = JSON.parse(body);
      seen.push(m.method);
      const send = (status, obj, headers = {}) => {
        res.writeHead(status, Object.assign({ 'Content-Type': 'application/json' }, headers));
        res.end(obj ? JSON.stringify(obj) : undefined);
      };
      if (m.method === 'initialize') return send(200, { jsonrpc: '2.0', id: m.id, result: { protocolVersion: '2025-11-25', capabilities: {}, serverInfo: { name: 'stand-in', version: '0' } } }, { 'Mcp-Session-Id': `s${seen.length}` });
      if (!req.headers['mcp-session-id']) return send(400, { jsonrpc: '2.0', id: m.id ?? null, error: { code: -32600, message: 'no session' } });
      if (m.id === undefined) return send(202);
      if (m.method === 'tools/call') return req.socket.destroy();
      return send(200, { jsonrpc: '2.0', id: m.id, result: {} });
    });
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  t.after(() => server.close());
  fs.mkdirSync(path.dirname(connectionFile(home)), { recursive: true });
  fs.writeFileSync(connectionFile(home), JSON.stringify({ port: server.address().port, pid: process.pid, token: 'tok' }));

  const relay = start(t, RELAY, [], { HOME: home }, ['pipe', 'pipe', 'pipe']);
  const lines = () => relay.out.split('\n').filter(Boolean).map((l) => JSON.parse(l));
  const byId = async (id) => until(`answer ${id}`, () => lines().find((m) => m.id === id), 10000);
  relay.stdin.write(JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'initialize', params: { protocolVersion: '2025-11-25', capabilities: {}, clientInfo: { name: 'raw', version: '1' } } }) + '\n');
  await byId(1);
  relay.stdin.write('{"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"premiere_ping"}}\n');
  const lost = await byId(2);
  assert.equal(lost.error.code, -32000);
  assert.match(lost.error.message, /stopped while this request was running/);
  relay.stdin.write('{"jsonrpc":"2.0","id":3,"method":"ping"}\n');
  assert.deepEqual((await byId(3)).result, {});
  assert.equal(seen.filter((m) => m === 'initialize').length, 2);  // the session opened again
  assert.deepEqual([...auth], ['Bearer tok']);  // every request carries the bridge's token
  relay.stdin.end();
  await until('the relay to exit', () => relay.exitCode !== null || null, 10000);
});

test('cutrelay-mcp reuses its connections and bounds what it holds, with few descriptors', { skip: SKIP, timeout: 60000 }, async (t) => {
  // A stand-in bridge that answers every request after a moment, counting connections.
  const home = tempDir('cutrelay-mcp-many-home-');
  t.after(() => fs.rmSync(home, { recursive: true, force: true }));
  let connections = 0;
  const server = http.createServer((req, res) => {
    let body = '';
    req.on('data', (d) => { body += d; });
    req.on('end', () => setTimeout(() => {
      const m = JSON.parse(body);
      const headers = { 'Content-Type': 'application/json' };
      if (m.method === 'initialize') headers['Mcp-Session-Id'] = 's1';
      if (m.id === undefined) { res.writeHead(202); res.end(); return; }
      res.writeHead(m.method === 'initialize' || req.headers['mcp-session-id'] ? 200 : 400, headers);
      res.end(JSON.stringify({ jsonrpc: '2.0', id: m.id, result: m.method === 'initialize' ? { protocolVersion: '2025-11-25', capabilities: {}, serverInfo: { name: 's', version: '0' } } : {} }));
    }, 5));
  });
  server.on('connection', () => { connections++; });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  t.after(() => server.close());
  fs.mkdirSync(path.dirname(connectionFile(home)), { recursive: true });
  fs.writeFileSync(connectionFile(home), JSON.stringify({ port: server.address().port, pid: process.pid, token: 't' }));

  // 64 descriptors: a connection per message would run out after some fifty.
  const relay = start(t, 'sh', ['-c', 'ulimit -n 64 && exec "$0"', RELAY], { HOME: home }, ['pipe', 'pipe', 'pipe']);
  const count = 400;
  let text = JSON.stringify({ jsonrpc: '2.0', id: 0, method: 'initialize', params: { protocolVersion: '2025-11-25', capabilities: {}, clientInfo: { name: 'raw', version: '1' } } }) + '\n';
  for (let i = 1; i <= count; i++) text += JSON.stringify({ jsonrpc: '2.0', id: i, method: 'ping' }) + '\n';
  relay.stdin.write(text);
  const answers = await until('every answer', () => {
    const lines = relay.out.split('\n').filter(Boolean).map((l) => JSON.parse(l));
    return lines.length >= count + 1 ? lines : null;
  }, 30000);
  assert.deepEqual(answers.filter((m) => m.error), [], relay.err);
  assert.ok(connections <= 16, `${connections} connections for ${count + 1} messages`);
  assert.doesNotMatch(relay.err, /started|Too many open files/);
  relay.stdin.end();
  await until('the relay to exit', () => relay.exitCode !== null || null, 10000);
});
