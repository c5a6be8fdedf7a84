'use strict';
// The simulator's faults on request: transactions of named verbs that answer success and
// change nothing, apply only their first action, or fail as stale; other verbs untouched.

const test = require('node:test');
const assert = require('node:assert/strict');
const { editFixture } = require('./helpers');
const { parseFaults } = require('../../sim/premierepro/faults');

test('faults asked for: modes, verb lists, the bridge prefix, and refusals', () => {
  assert.deepEqual([...parseFaults(['noop=add_marker,premiere_move_clip', 'stale=razor'])],
    [['add_marker', 'noop'], ['move_clip', 'noop'], ['razor', 'stale']]);
  assert.deepEqual([...parseFaults({ partial: 'trim_clip' })], [['trim_clip', 'partial']]);
  assert.throws(() => parseFaults(['lie=add_marker']), /unknown fault "lie"/);
  assert.throws(() => parseFaults(['noop=']), /names no verb/);
  assert.throws(() => parseFaults(['add_marker']), /MODE=VERB/);
});

test('noop, partial and stale touch only the named verb\'s transactions', async (t) => {
  const f = await editFixture(t, { faults: { noop: ['rename_clip'] } });
  const { sim } = f;
  const model = () => sim.project().activeSequence;
  const steps = sim.undoHistory().length;
  const name = model().video[0].items[0].name;
  // The plug-in is told nothing: Premiere said yes.
  const r = await sim.call('rename_clip', { clip: 'V1:0', name: 'Other' });
  assert.equal(model().video[0].items[0].name, name);
  assert.equal(sim.undoHistory().length, steps);
  assert.notEqual(r.errorCode, 'transaction_failed');
  await sim.ok('add_marker', { time: 1, name: 'real' });
  assert.equal(sim.undoHistory().length, steps + 1);

  // partial: the trim's first action (V1's start) applies, the partner's does not.
  sim.app.faults.set({ partial: ['trim_clip'] });
  await sim.call('trim_clip', { clip: 'V1:0', trimStart: 2 });
  const v = model().video[0].items[0];
  const a = model().audio[0].items[0];
  assert.notEqual(v.start, a.start);

  // stale: the transaction fails as Premiere refuses a stale action; nothing changes.
  sim.app.faults.set(['stale=add_marker']);
  const before = JSON.stringify(model().markers || null);
  const s = await sim.call('add_marker', { time: 3, name: 'stale' });
  assert.equal(s.ok, false);
  assert.equal(s.errorCode, 'transaction_failed');
  assert.equal(JSON.stringify(model().markers || null), before);
  assert.equal(sim.rejections().at(-1).message, 'fault stale: an action of the transaction was stale');

  // The CEP helper's QE edits lie the same way.
  sim.app.faults.set({ noop: ['razor', 'lock_track'] });
  const clipsBefore = model().video[0].items.length;
  await sim.cepCall('razor', { time: 5 });
  assert.equal(model().video[0].items.length, clipsBefore);
  await sim.cepCall('lock_track', { track: 'V1' });
  assert.equal(model().video[0].locked, false);
  assert.equal(sim.app.faults.inFlight.size, 0);
});
