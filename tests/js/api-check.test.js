'use strict';
// The machine checks of API fidelity catch what they are there to catch, and the
// plug-in's package files have the layout the bridge ships.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const ts = require('typescript');
const check = require('./tools/check-api');

const PROBE = path.join(check.ROOT, 'uxp-plugin', '__probe__.js');
const DTS = [
  path.join(check.ROOT, 'node_modules', '@adobe', 'cc-ext-uxp-types', 'uxp', 'index.d.ts'),
  path.join(check.ROOT, 'types', 'premierepro.d.ts'),
  path.join(check.ROOT, 'types', 'uxp-runtime.d.ts'),
];

/** Type-checks a probe script (as if it sat next to index.js) and runs the plug-in rules on it. */
function probe(body) {
  const text = `// @ts-check\nconst ppro = require("premierepro");\n${body}\nmodule.exports = {};\n`;
  const program = check.createProgram({ [PROBE]: text }, DTS.concat([PROBE]));
  const diagnostics = ts.getPreEmitDiagnostics(program, program.getSourceFile(PROBE))
    .map((d) => ts.flattenDiagnosticMessageText(d.messageText, '\n'));
  return { diagnostics, findings: check.checkPluginFile(program, PROBE) };
}

test('tsc --checkJs against the declarations', async (t) => {
  await t.test('correct use passes', () => {
    const r = probe(`async function f() {
      const p = await ppro.Project.getActiveProject();
      const seqs = await p.getSequences();
      const settings = await seqs[0].getSettings();
      return settings.getVideoFrameRate().value + seqs.length;
    }`);
    assert.deepEqual(r.diagnostics, []);
    assert.deepEqual(r.findings, []);
  });

  await t.test('a member that does not exist, a wrong argument count, a Promise used as its value', () => {
    const r = probe(`async function f() {
      const p = await ppro.Project.getActiveProject();
      await p.saveAll();
      await p.saveAs();
      const s = p.getActiveSequence();
      return s.name;
    }`);
    assert.equal(r.diagnostics.length, 3, r.diagnostics.join('\n'));
    assert.match(r.diagnostics.join('\n'), /saveAll/);
    assert.match(r.diagnostics.join('\n'), /Expected 1 arguments, but got 0/);
    assert.match(r.diagnostics.join('\n'), /'name' does not exist on type 'Promise<Sequence>'/);
  });
});

test('plug-in rules beyond the type check', async (t) => {
  await t.test('an unawaited Promise and an awaited synchronous call', () => {
    const r = probe(`async function f() {
      const p = await ppro.Project.getActiveProject();
      const saved = p.save();
      const g = await p.getSequence(p.guid);
      return [saved, g];
    }`);
    assert.equal(r.findings.length, 2, r.findings.join('\n'));
    assert.match(r.findings[0], /save\(\) returns a Promise and must be awaited/);
    assert.match(r.findings[1], /getSequence\(\) is synchronous in the declarations/);
  });

  await t.test('actions outside the lock, and async lock callbacks', () => {
    const r = probe(`
      function tx(project, label, build) { project.lockedAccess(() => { project.executeTransaction((ca) => { ca.addAction(build()); }, label); }); }
      async function f() {
        const p = await ppro.Project.getActiveProject();
        const root = await p.getRootItem();
        const early = root.createBinAction("early", true);
        tx(p, "ok", () => root.createBinAction("fine", true));
        p.lockedAccess(() => { root.createBinAction("also fine", true); });
        p.lockedAccess(async () => { await p.save(); });
        return early;
      }`);
    assert.deepEqual(r.diagnostics, []);
    assert.equal(r.findings.length, 2, r.findings.join('\n'));
    assert.match(r.findings[0], /createBinAction\(\) must be built inside lockedAccess/);
    assert.match(r.findings[1], /callback of lockedAccess\(\) runs synchronously/);
  });

  await t.test('reference errata: a Promise-valued property read without await', () => {
    const r = probe(`/** @param {import("../types/premierepro-errata").Media} media */
      async function f(media) {
        const bad = media.duration;
        const good = await media.start;
        const d = typeof media.getDuration === "function" ? media.getDuration() : await media.duration;
        return [bad, good, d];
      }`);
    assert.deepEqual(r.diagnostics, []);
    assert.equal(r.findings.length, 1, r.findings.join('\n'));
    assert.match(r.findings[0], /Media\.duration is a Promise .* must be awaited/);
  });

  await t.test('members no admitted version offers are reported with the version they need', () => {
    const found = check.unreachableMembers([{ name: 'Sequence#future', since: '27.0', where: ['1'] }, { name: 'Sequence#name', since: '25.6', where: ['2'] }]);
    assert.equal(found.length, 1);
    assert.match(found[0], /^Sequence#future: needs Premiere 27\.0, newer than any version/);
  });

  await t.test('the real plug-in passes both', () => {
    const program = check.createProgram({}, DTS.concat([check.PLUGIN, path.join(check.ROOT, 'types', 'premierepro-undeclared.d.ts')]));
    assert.deepEqual(ts.getPreEmitDiagnostics(program).map((d) => ts.flattenDiagnosticMessageText(d.messageText, '\n')), []);
    assert.deepEqual(check.checkPluginFile(program, check.PLUGIN), []);
  });
});

test('the simulator surface check', async (t) => {
  const program = check.createProgram({}, DTS.concat([check.PLUGIN]));

  await t.test('finds shapes that differ from the declarations', () => {
    class Project {
      static async getActiveProject() { return null; }
      static open(path) { return path; }          // declared Promise-returning
      save() { return true; }                     // declared Promise-returning
      async saveAs() { return true; }             // one required parameter declared
      static get TYPE_X() { return 1; }           // not declared
      get name() { return ''; }
      set name(v) { }                             // declared read-only
    }
    class Secret {}
    const { findings } = check.checkModuleSurface(program, { Project, Secret, Constants: { TrackItemType: { CLIP: 1, BLOB: 9 } } }, []);
    assert.deepEqual(findings.sort(), [
      'Constants.TrackItemType.BLOB: not declared',
      'Project#name: declared read-only, offered writable',
      'Project#save: declared Promise-returning, offered synchronous',
      'Project#saveAs: declared with 1 required parameter(s), offered with 0',
      'Project.TYPE_X: offered as a static member but not declared',
      'Project.open: declared Promise-returning, offered synchronous',
      'premierepro.Secret: not declared',
    ]);
  });

  await t.test('members listed as documented elsewhere are accepted and reported', () => {
    class Transcript { static async transcribeClipProjectItem(clip, options = undefined) { return !!clip && !options; } }
    const list = [{ className: 'Transcript', member: 'transcribeClipProjectItem', static: true }];
    const r = check.checkModuleSurface(program, { Transcript }, list);
    assert.deepEqual(r.findings, []);
    assert.deepEqual(r.report.undeclaredUsed, ['Transcript.transcribeClipProjectItem']);
  });

  await t.test('the real simulator matches at every modelled version', () => {
    const r = check.checkAllVersions(program);
    assert.deepEqual(r.findings, []);
    assert.deepEqual(r.reports.map((x) => x.version), require('../../sim/premierepro/since').VERSIONS);
    assert.ok(r.reports.every((x) => x.members > 300));
    assert.ok(r.reports[0].members < r.reports.at(-1).members, 'newer versions offer more');
  });

  await t.test('every erratum is in the corrected declarations, with the reference type', () => {
    const prog = check.createProgram({}, DTS.concat([check.ERRATA_DTS]));
    const checker = prog.getTypeChecker();
    const sf = prog.getSourceFile(check.ERRATA_DTS);
    const aliases = new Map();
    ts.forEachChild(sf, (n) => { if (ts.isTypeAliasDeclaration(n)) aliases.set(n.name.text, checker.getTypeAtLocation(n.name)); });
    for (const e of require('../../sim/premierepro/errata')) {
      assert.ok(e.source && e.reference && e.declared, `${e.class}.${e.member} has its source`);
      const type = aliases.get(e.class + (e.static ? 'Static' : ''));
      assert.ok(type, `${e.class} is corrected in premierepro-errata.d.ts`);
      const sym = checker.getPropertyOfType(type, e.member);
      assert.ok(sym, `${e.class}.${e.member} is there`);
      const text = checker.typeToString(checker.getTypeOfSymbolAtLocation(sym, sf));
      assert.match(text, e.kind === 'property' ? /^Promise</ : /=> Promise</, `${e.class}.${e.member}: ${text}`);
    }
  });
});

test('package files of the plug-in', async (t) => {
  const dir = path.join(check.ROOT, 'uxp-plugin');

  await t.test('manifest.json: 1323 bytes, 32 lines, members in the shipped order', () => {
    const text = fs.readFileSync(path.join(dir, 'manifest.json'), 'utf8');
    assert.equal(Buffer.byteLength(text), 1323);
    assert.equal(text.split('\n').length - 1, 32);
    assert.ok(text.endsWith('}\n'));
    const m = JSON.parse(text);
    assert.deepEqual(Object.keys(m), ['manifestVersion', 'id', 'name', 'version', 'main', 'host', 'entrypoints', 'icons', 'requiredPermissions']);
    assert.deepEqual([m.id, m.name, m.version, m.host.minVersion], ['inc.quor.premiere.bridge', 'Quor Bridge', '0.1.0', '25.6.0']);
    assert.deepEqual(m.entrypoints[0].icons.map((i) => i.species), [['generic'], ['generic']]);
    assert.deepEqual(m.icons.map((i) => [i.path, i.species]), [['icons/dark.png', ['pluginList']], ['icons/light.png', ['pluginList']]]);
    assert.deepEqual(m.requiredPermissions, { network: { domains: 'all' }, localFileSystem: 'fullAccess', allowCodeGenerationFromStrings: true });
  });

  await t.test('index.html: 770 bytes, loads index.js, has the elements the script updates', () => {
    const html = fs.readFileSync(path.join(dir, 'index.html'), 'utf8');
    assert.equal(Buffer.byteLength(html), 770);
    assert.match(html, /<script src="index\.js"><\/script>/);
    for (const id of ['led', 'status', 'last', 'log']) assert.match(html, new RegExp(`id="${id}"`));
    assert.match(html, />Connecting…</);
    for (const c of ['#3fb950', '#d29922', '#888', '#232323', '#ddd']) assert.ok(html.includes(c), c);
  });

  await t.test('icons: the four PNGs the manifest names, 8-bit RGBA with one IDAT chunk', () => {
    const want = { 'dark@1x.png': [23, 327], 'dark@2x.png': [46, 630], 'light@1x.png': [23, 319], 'light@2x.png': [46, 617] };
    for (const [name, [side, bytes]] of Object.entries(want)) {
      const png = fs.readFileSync(path.join(dir, 'icons', name));
      assert.equal(png.length, bytes, name);
      assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20), png[24], png[25], png[28]], [side, side, 8, 6, 0], name);
      const chunks = [];
      for (let i = 8; i < png.length; i += 12 + png.readUInt32BE(i)) chunks.push(png.toString('ascii', i + 4, i + 8));
      assert.deepEqual(chunks, ['IHDR', 'IDAT', 'IEND'], name);
    }
  });
});
