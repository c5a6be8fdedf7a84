'use strict';
// The verb catalog (src/catalog/verbs.json) against what really runs: every verb a row
// routes to a plug-in has a handler there and every handler has a row; every argument the
// argument summary names is in the schema and every schema property is either named by
// the summary or marked `unlisted`; and the tool schemas the bridge serves over MCP are
// valid JSON Schema 2020-12 with every property typed and described.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const Ajv2020 = require('ajv/dist/2020');
const { ROOT, simFixture } = require('./helpers');
const { SKIP, startBridge, homeAndWork } = require('./bridge');

const catalog = JSON.parse(fs.readFileSync(path.join(ROOT, 'src', 'catalog', 'verbs.json'), 'utf8'));

// Handlers that answer without a row of their own, and why.
const EXEMPT = {
  cep: { ping: 'the CEP helper answers ping too, but the catalog sends ping to the UXP plug-in' },
};

/** Splits `text` at `sep` where no bracket, parenthesis or quotation is open. */
function splitTop(text, sep) {
  const parts = [];
  let depth = 0;
  let quoted = false;
  let start = 0;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (c === '"') quoted = !quoted;
    if (quoted) continue;
    if (c === sep && depth === 0) {
      parts.push(text.slice(start, i));
      start = i + 1;
    } else if ('[{('.includes(c)) {
      depth++;
    } else if (']})'.includes(c) && depth > 0) {
      depth--;
    }
  }
  parts.push(text.slice(start));
  return parts;
}

/**
 * The members an argument summary names: `{item, time?(note), track?|videoTrack?:"V1"}` names
 * item, time, track and videoTrack. A value after ':' or '=' runs to the next alternative
 * that is itself a member ("|matchName?"); after a top-level ';' comes prose.
 */
function summaryMembers(summary) {
  let body = summary.trim().replace(/^\{/, '').replace(/\}$/, '');
  body = splitTop(body, ';')[0];
  const names = [];
  for (const segment of splitTop(body, ',')) {
    let rest = segment.trim();
    for (;;) {
      const m = /^([A-Za-z_]\w*)\??\s*(\([^)]*\))?\s*/.exec(rest);
      if (!m) break;
      names.push(m[1]);
      rest = rest.slice(m[0].length);
      if (rest.startsWith(':') || rest.startsWith('=')) {
        const choices = splitTop(rest.slice(1), '|');
        const next = choices.findIndex((c, k) => k > 0 && /^\s*[A-Za-z_]\w*\?/.test(c));
        if (next < 0) break;
        rest = choices.slice(next).join('|').trim();
        continue;
      }
      if (rest.startsWith('|') || rest.startsWith('&')) {
        rest = rest.slice(1).trim();
        continue;
      }
      break;
    }
  }
  return names;
}

test('the summary reader finds the members an agent would', () => {
  assert.deepEqual(summaryMembers('{}'), []);
  assert.deepEqual(summaryMembers('{item, time?(default playhead), track?|videoTrack?:"V1", audioTrack?:"A1", limitShift?}'),
    ['item', 'time', 'track', 'videoTrack', 'audioTrack', 'limitShift']);
  assert.deepEqual(summaryMembers('{clip|clips, name?:"Cross Dissolve"|matchName?, duration?:1, position?:end|start}'),
    ['clip', 'clips', 'name', 'matchName', 'duration', 'position']);
  assert.deepEqual(summaryMembers('{clip|clips, component, param, value (number|bool|[x,y]|{red,green,blue,alpha}), time?}'),
    ['clip', 'clips', 'component', 'param', 'value', 'time']);
  assert.deepEqual(summaryMembers('{code: async-function body; in scope: ppro, h (helpers: findClip, toTick, tx, …), args, require}'), ['code']);
  assert.deepEqual(summaryMembers('{path?|library&element, time?, track?:"V2"}'), ['path', 'library', 'element', 'time', 'track']);
  assert.deepEqual(summaryMembers('{sequence: name|guid}'), ['sequence']);
});

test('every row has a handler where it runs, and every handler a row', (t) => {
  const { plugin } = simFixture(t);
  const uxp = new Set(Object.keys(plugin.handlers));
  const hostJsx = fs.readFileSync(path.join(ROOT, 'cep-helper', 'host.jsx'), 'utf8');
  const cep = new Set([...hostJsx.matchAll(/^QUOR_VERBS\.(\w+)\s*=\s*function/gm)].map((m) => m[1]));
  assert.ok(uxp.size > 60 && cep.size > 5, 'the handler lists were read');
  const rows = new Map(catalog.verbs.map((v) => [v.name, v.runsIn]));
  for (const [name, runsIn] of rows) {
    if (runsIn === 'uxp-plugin' || runsIn === 'cep-helper|uxp-plugin') assert.ok(uxp.has(name), `${name}: no handler in the UXP plug-in`);
    if (runsIn === 'cep-helper' || runsIn === 'cep-helper|uxp-plugin') assert.ok(cep.has(name), `${name}: no handler in the CEP helper`);
    if (runsIn === 'bridge') assert.ok(!uxp.has(name) && !cep.has(name), `${name} runs in the bridge, yet a plug-in has a handler for it`);
  }
  for (const name of uxp) {
    const runsIn = rows.get(name);
    assert.ok(runsIn === 'uxp-plugin' || runsIn === 'cep-helper|uxp-plugin', `UXP handler ${name} has no row routed to the UXP plug-in`);
  }
  for (const name of cep) {
    if (EXEMPT.cep[name]) continue;
    const runsIn = rows.get(name);
    assert.ok(runsIn === 'cep-helper' || runsIn === 'cep-helper|uxp-plugin', `CEP handler ${name} has no row routed to the CEP helper`);
  }
});

test('schema properties and the argument summary name the same arguments', () => {
  for (const verb of catalog.verbs) {
    const named = summaryMembers(verb.input);
    for (const member of named) assert.ok(member in verb.params, `${verb.name}: the summary names ${member}, the schema lacks it`);
    for (const [name, param] of Object.entries(verb.params)) {
      const mentioned = new RegExp(`(^|[^A-Za-z0-9_])${name}($|[^A-Za-z0-9_])`).test(verb.input);
      if (param.unlisted) {
        assert.ok(!mentioned, `${verb.name}.${name} is marked unlisted, yet the summary mentions it`);
      } else {
        assert.ok(mentioned, `${verb.name}.${name} is not mentioned in the summary ${verb.input} (mark it unlisted if that is right)`);
      }
    }
    for (const [alias, canonical] of Object.entries(verb.aliases || {})) {
      assert.ok(verb.params[alias] && verb.params[canonical], `${verb.name}: alias ${alias} -> ${canonical} needs both params`);
    }
  }
});

/** Every property schema at any depth under `schema`, with its path. */
function* subschemas(schema, where) {
  yield [where, schema];
  for (const [name, s] of Object.entries(schema.properties || {})) yield* subschemas(s, `${where}.${name}`);
  if (schema.items) yield* subschemas(schema.items, `${where}[]`);
  for (const [i, s] of (schema.oneOf || []).entries()) yield* subschemas(s, `${where}|${i}`);
}

test('the tools the bridge serves have valid, typed and described schemas', { skip: SKIP, timeout: 30000 }, async (t) => {
  const { home } = homeAndWork(t, 'catalog');
  const { port } = await startBridge(t, home);
  const post = async (body, session) => {
    const headers = { 'Content-Type': 'application/json', Accept: 'application/json, text/event-stream' };
    if (session) headers['Mcp-Session-Id'] = session;
    const res = await fetch(`http://127.0.0.1:${port}/mcp`, { method: 'POST', headers, body: JSON.stringify(body) });
    return { session: res.headers.get('mcp-session-id'), body: await res.json() };
  };
  const init = await post({ jsonrpc: '2.0', id: 1, method: 'initialize', params: { protocolVersion: '2025-11-25', capabilities: {}, clientInfo: { name: 't', version: '1' } } });
  const { tools } = (await post({ jsonrpc: '2.0', id: 2, method: 'tools/list' }, init.session)).body.result;
  assert.equal(tools.length, catalog.verbs.length);

  const ajv = new Ajv2020({ strict: true, allErrors: true });
  for (const tool of tools) {
    const schema = tool.inputSchema;
    assert.ok(ajv.validateSchema(schema), `${tool.name}: ${ajv.errorsText(ajv.errors)}`);
    ajv.compile(schema);  // strict mode: unknown keywords or contradictions throw
    assert.equal(schema.type, 'object');
    assert.equal(schema.additionalProperties, false, tool.name);
    for (const name of schema.required || []) assert.ok(name in schema.properties, `${tool.name}: required ${name} is not a property`);
    for (const [name, property] of Object.entries(schema.properties)) {
      assert.equal(typeof property.description, 'string', `${tool.name}.${name} has no description`);
      assert.ok(/^[A-Z"`].*[.)]$/.test(property.description), `${tool.name}.${name}: "${property.description}" is not a sentence`);
      for (const [where, s] of subschemas(property, `${tool.name}.${name}`)) {
        assert.ok(s.type || s.oneOf, `${where} has no type`);
      }
      if ('default' in property) {
        assert.ok(ajv.validate(property, property.default), `${tool.name}.${name}: the default ${JSON.stringify(property.default)} breaks its own schema`);
      }
    }
    const row = catalog.verbs.find((v) => `premiere_${v.name}` === tool.name);
    if (row.runsIn !== 'bridge') assert.equal(schema.properties.timeoutSec.type, 'integer', `${tool.name} takes timeoutSec`);
  }
});
