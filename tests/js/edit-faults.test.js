'use strict';
// Every edit verb against a Premiere that lies (the simulator's faults): under "noop" its
// transactions answer success and change nothing, under "partial" only their first action
// applies. The verb must answer edit_not_applied, and the project must be as it was apart
// from the undo steps that really happened. Edits of a single action apply whole under
// "partial" and must answer verified. At the oldest and the newest modelled Premiere.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { simFixture, makeMedia } = require('./helpers');
const { OLDEST, NEWEST, compareVersions } = require('../../sim/premierepro/since');

const XMP = '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"/></x:xmpmeta>';

// The interview (12 s, video and audio) on V1/A1 from 0 s, the music (3.5 s) on A1 from
// 12 s, and a bin. `multi`: the edit's transaction holds more than one action, so "partial"
// leaves it half done; `reverts`: the verb then takes back what it did itself. `before` runs
// without faults; `since` is the first Premiere with the verb.
const UXP = [
  { verb: 'create_bin', args: { name: 'New' } },
  { verb: 'move_item', args: ({ ids }) => ({ item: ids.interview, bin: 'Bin' }) },
  { verb: 'rename_item', args: ({ ids }) => ({ item: ids.interview, name: 'Renamed' }) },
  { verb: 'delete_item', args: ({ ids }) => ({ item: ids.music }) },
  { verb: 'set_item_color', args: ({ ids }) => ({ item: ids.interview, colorIndex: 3 }) },
  { verb: 'set_source_in_out', args: ({ ids }) => ({ item: ids.interview, in: 1, out: 5 }) },
  { verb: 'create_subclip', args: ({ ids }) => ({ item: ids.interview, start: 1, end: 3 }), since: '26.3.0' },
  { verb: 'set_xmp_metadata', args: ({ ids }) => ({ item: ids.interview, xmp: XMP }) },
  { verb: 'duplicate_sequence', args: {} },
  { verb: 'set_sequence_settings', args: { width: 1280, height: 720 } },
  { verb: 'set_in_out', args: { in: 1, out: 5 }, multi: true },
  { verb: 'insert_clip', args: ({ ids }) => ({ item: ids.music, time: 2 }) },
  { verb: 'overwrite_clip', args: ({ ids }) => ({ item: ids.music, time: 2 }) },
  { verb: 'append_clip', args: ({ ids }) => ({ item: ids.interview }) },
  { verb: 'move_clip', args: { clip: 'V1:0', by: 1 }, multi: true },
  { verb: 'trim_clip', args: { clip: 'V1:0', trimEnd: 1 }, multi: true },
  { verb: 'remove_clips', args: { clip: 'V1:0' } },
  { verb: 'remove_gap', args: { clip: 'V1:0' }, before: [['move_clip', { clip: 'V1:0', by: 2 }], ['move_clip', { clip: 'A1:1', by: 2 }]], multi: true },
  { verb: 'razor', args: { time: 5 }, multi: true, reverts: true },
  { verb: 'set_clip_enabled', args: { clips: ['V1:0', 'A1:0'], enabled: false }, multi: true },
  { verb: 'rename_clip', args: { clip: 'V1:0', name: 'Named' } },
  { verb: 'duplicate_clip', args: { clip: 'V1:0', videoTrackOffset: 1 } },
  { verb: 'rename_track', args: { track: 'V1', name: 'Main' }, since: '26.3.0' },
  { verb: 'add_effect', args: { clip: 'V1:0', name: 'Gaussian Blur' } },
  { verb: 'remove_effect', args: { clip: 'V1:0', component: 'AE.ADBE Gaussian Blur 2' }, before: [['add_effect', { clip: 'V1:0', name: 'Gaussian Blur' }]] },
  { verb: 'set_param', args: { clip: 'V1:0', component: 'Opacity', param: 'Opacity', value: 50 } },
  { verb: 'set_transform', args: { clip: 'V1:0', scale: 50, rotation: 10 }, multi: true, reverts: true },
  { verb: 'add_keyframes', args: { clip: 'V1:0', component: 'Motion', param: 'Scale', keyframes: [{ time: 1, value: 50 }, { time: 3, value: 100 }] }, multi: true, reverts: true },
  { verb: 'remove_keyframes', args: { clip: 'V1:0', component: 'Motion', param: 'Scale', time: 1 },
    before: [['add_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Scale', keyframes: [{ time: 1, value: 50 }, { time: 3, value: 100 }] }]] },
  { verb: 'set_clip_volume', args: { clips: ['A1:0', 'A1:1'], db: -6 }, multi: true, reverts: true },
  { verb: 'audio_fade', args: { clip: 'A1:0', type: 'in', duration: 1 }, multi: true, reverts: true },
  { verb: 'remove_transition', args: { clip: 'V1:0' }, before: [['add_transition', { clip: 'V1:0' }]] },
  { verb: 'add_marker', args: { time: 1, name: 'm' } },
  { verb: 'remove_marker', args: { all: true }, before: [['add_marker', { time: 1, name: 'a' }], ['add_marker', { time: 2, name: 'b' }]], multi: true },
];

// The CEP helper's QE and DOM edits: one action each.
const CEP = [
  { verb: 'razor', args: { time: 5, tracks: ['V1'] } },
  { verb: 'set_speed', args: { clip: 'V1:0', speed: 2 } },
  { verb: 'add_tracks', args: { video: 1 } },
  { verb: 'remove_track', args: { track: 'V3' } },
  { verb: 'lock_track', args: { track: 'V1' } },
  { verb: 'set_track_target', args: { track: 'V2' } },
];

async function fixture(t, version) {
  const f = simFixture(t, { version });
  const [interview, music] = makeMedia(f.media, ['interview_12s_25fps.mp4', 'music_3.5s.wav']);
  await f.sim.ok('new_project', { path: path.join(f.media, 'Faults') });
  const { items } = await f.sim.ok('import_media', { paths: [interview, music] });
  await f.sim.ok('create_sequence', { name: 'Cut', fromItems: items.map((i) => i.id) });
  await f.sim.ok('create_bin', { name: 'Bin' });
  return Object.assign(f, { ids: { interview: items[0].id, music: items[1].id } });
}

const state = (sim) => JSON.stringify(sim.project().toJSON());

/**
 * Runs `call` under a fault and answers it with the state left after undoing the undo
 * steps it took.
 */
async function underFault(sim, faults, call) {
  const steps = sim.undoHistory().length;
  sim.app.faults.set(faults);
  let r;
  try {
    r = await call();
  } finally {
    sim.app.faults.set({});
  }
  const left = state(sim);
  const taken = sim.undoHistory().length - steps;
  for (let i = 0; i < taken; i++) sim.undo();
  return { r, taken, left };
}

for (const version of [OLDEST, NEWEST]) {
  test(`edits that Premiere does not apply answer edit_not_applied (Premiere ${version})`, async (t) => {
    for (const c of UXP) {
      if (c.since && compareVersions(version, c.since) < 0) continue;
      await t.test(c.verb, async (t) => {
        const f = await fixture(t, version);
        const { sim } = f;
        for (const [verb, args] of c.before || []) await sim.ok(verb, args);
        const args = typeof c.args === 'function' ? c.args(f) : c.args;
        const start = state(sim);

        const noop = await underFault(sim, { noop: [c.verb] }, () => sim.call(c.verb, args));
        assert.equal(noop.r.errorCode, 'edit_not_applied', `noop: ${JSON.stringify(noop.r)}`);
        assert.match(noop.r.error, / should .* but /);
        assert.ok(noop.r.expected && noop.r.found, 'the parts that differ travel with the error');
        assert.equal(state(sim), start, 'noop: the project is as it was');

        const partial = await underFault(sim, { partial: [c.verb] }, () => sim.call(c.verb, args));
        if (c.multi) assert.equal(partial.r.errorCode, 'edit_not_applied', `partial: ${JSON.stringify(partial.r)}`);
        else assert.equal(partial.r.ok && partial.r.result.verified, true, `partial of one action: ${JSON.stringify(partial.r)}`);
        if (c.reverts) assert.equal(partial.left, start, 'partial: the verb took back what it did');
        assert.equal(state(sim), start, 'partial: the project is as it was once its undo steps are undone');

        const real = await sim.call(c.verb, args);
        assert.equal(real.ok && real.result.verified, true, `no fault: ${JSON.stringify(real)}`);
      });
    }

    await t.test('the CEP helper', async (t) => {
      const f = await fixture(t, version);
      const { sim } = f;
      for (const c of CEP) {
        const start = state(sim);
        const noop = await underFault(sim, { noop: [c.verb] }, () => sim.cepCall(c.verb, c.args));
        assert.equal(noop.r.errorCode, 'edit_not_applied', `${c.verb} noop: ${JSON.stringify(noop.r)}`);
        assert.ok(noop.r.expected && noop.r.found, c.verb);
        assert.equal(state(sim), start, `${c.verb} noop: the project is as it was`);
        const real = await sim.cepCall(c.verb, c.args);
        assert.equal(real.ok && real.result.verified, true, `${c.verb}: ${JSON.stringify(real)}`);
      }
    });

    await t.test('a transition Premiere does not list leaves add_transition unverified', async (t) => {
      const f = await fixture(t, version);
      const { r } = await underFault(f.sim, { noop: ['add_transition'] }, () => f.sim.call('add_transition', { clip: 'V1:0' }));
      assert.equal(r.result.verified, false);
      assert.match(r.result._note, /Not verified: Premiere lists no transition at the clip's end/);
    });

    await t.test('stale: the transaction fails and nothing changes', async (t) => {
      const f = await fixture(t, version);
      const { sim } = f;
      const start = state(sim);
      const r = await underFault(sim, { stale: ['trim_clip'] }, () => sim.call('trim_clip', { clip: 'V1:0', trimEnd: 1 }));
      assert.deepEqual([r.r.errorCode, r.taken, state(sim)], ['transaction_failed', 0, start]);
    });
  });
}
