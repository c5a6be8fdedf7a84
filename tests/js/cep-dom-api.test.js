'use strict';
// The simulated ExtendScript DOM offers only what Premiere's DOM has: every member of the
// simulator's app, Project, Sequence, Track, TrackItem, Time, collections and sequence
// settings must be declared by types-for-adobe, or be listed below with its source.
// (The QE DOM has no published declarations; types/extendscript-qe.d.ts is ours.)

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const ts = require('typescript');
const { ROOT, editFixture } = require('./helpers');

const DECLS = path.join(ROOT, 'node_modules', 'types-for-adobe', 'Premiere', '24.0', 'index.d.ts');

// Documented by Adobe's ExtendScript guide although the declarations lack them.
const UNDECLARED = {
  Time: { setSecondsAsFraction: 'ExtendScript guide, Time object' },
  SequenceSettings: { previewCodec: 'ExtendScript guide, SequenceSettings (the declarations spell it previewCode)' },
};

/** Member names of every `declare class` in the declarations. */
function declaredMembers() {
  const source = ts.createSourceFile(DECLS, fs.readFileSync(DECLS, 'utf8'), ts.ScriptTarget.Latest, true);
  const classes = {};
  for (const st of source.statements) {
    if (!ts.isClassDeclaration(st) || !st.name) continue;
    classes[st.name.text] = new Set(st.members.filter((m) => m.name && ts.isIdentifier(m.name)).map((m) => m.name.text));
  }
  return classes;
}

function offered(obj, { own = false } = {}) {
  const names = own ? Object.getOwnPropertyNames(obj) : Object.getOwnPropertyNames(Object.getPrototypeOf(obj));
  return names.filter((n) => n !== 'constructor' && !n.startsWith('_') && !/^\d+$/.test(n));
}

test('the simulated ExtendScript DOM offers only declared members', async (t) => {
  const { sim } = await editFixture(t);
  const declared = declaredMembers();
  const app = sim.cep.engine.dom.app;
  const seq = app.project.activeSequence;
  const track = seq.videoTracks[0];
  const objects = [
    ['Application', app, true],
    ['ProjectCollection', app.projects, true],
    ['Project', app.project, false],
    ['SequenceCollection', app.project.sequences, true],
    ['Sequence', seq, false],
    ['SequenceSettings', seq.getSettings(), true],
    ['TrackCollection', seq.videoTracks, true],
    ['Track', track, false],
    ['TrackItemCollection', track.clips, true],
    ['TrackItem', track.clips[0], false],
    ['Time', new sim.cep.engine.dom.Time(), false],
  ];
  const problems = [];
  for (const [cls, obj, own] of objects) {
    assert.ok(declared[cls], `no declared class ${cls}`);
    for (const name of offered(obj, { own })) {
      if (!declared[cls].has(name) && !(UNDECLARED[cls] && UNDECLARED[cls][name])) problems.push(`${cls}.${name}`);
    }
  }
  assert.deepEqual(problems, []);
});
