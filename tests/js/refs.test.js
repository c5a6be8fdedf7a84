'use strict';
// Track, clip and item references of the plug-in, resolved against the simulator.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { editFixture, simFixture, makeMedia } = require('./helpers');

const BAD_TRACK = (r) => ({ code: 'bad_track', message: `Bad track '${r}'. Use "V1", "V2", "A1"…` });
const BAD_CLIP = (r) => ({ code: 'bad_clip', message: `Bad clip ref '${r}'. Use "V1:0" (track:index) — premiere_get_sequence lists them.` });

test('track references', async (t) => {
  const { plugin } = simFixture(t);
  const parse = (r) => ({ ...plugin.parseTrack(r) });

  await t.test('labels in either case, counted from 1', () => {
    assert.deepEqual(parse('V1'), { kind: 'video', index: 0 });
    assert.deepEqual(parse('a2'), { kind: 'audio', index: 1 });
    assert.deepEqual(parse(undefined), { kind: 'video', index: 0 });
  });

  await t.test('objects with type or kind and a 0-based index', () => {
    assert.deepEqual(parse({ type: 'audio', index: 2 }), { kind: 'audio', index: 2 });
    assert.deepEqual(parse({ kind: 'Audio' }), { kind: 'audio', index: 0 });
    assert.deepEqual(parse({ type: 'video', index: 1 }), { kind: 'video', index: 1 });
  });

  await t.test('anything else is bad_track', () => {
    assert.throws(() => plugin.parseTrack('V0'), BAD_TRACK('V0'));
    assert.throws(() => plugin.parseTrack('X1'), BAD_TRACK('X1'));
    assert.throws(() => plugin.parseTrack(3), BAD_TRACK('3'));
    assert.throws(() => plugin.parseTrack({ index: 1 }), BAD_TRACK('{"index":1}'));
    assert.throws(() => plugin.parseTrack({ type: 'video', index: -1 }), { code: 'bad_track' });
  });
});

test('clip references against a sequence', async (t) => {
  const f = await editFixture(t);
  const { plugin } = f;
  const sc = await plugin.sequenceContext({});
  const find = async (ref) => (await plugin.findClip(sc, ref)).ref;

  await t.test('text, {track, index} and {track, at} forms', async () => {
    assert.equal(await find('V1:0'), 'V1:0');
    assert.equal(await find('a1:1'), 'A1:1');
    assert.equal(await find({ track: 'A1', index: 1 }), 'A1:1');
    assert.equal(await find({ track: 'A1', at: 12 }), 'A1:1', 'a clip starts at its start time');
    assert.equal(await find({ track: 'A1', at: '00:00:11:24' }), 'A1:0', 'and ends before its end time');
  });

  await t.test('clip refs that are malformed or missing', async () => {
    await assert.rejects(plugin.findClip(sc, 'V1'), BAD_CLIP('V1'));
    await assert.rejects(plugin.findClip(sc, 'V1:x'), BAD_CLIP('V1:x'));
    await assert.rejects(plugin.findClip(sc, 7), BAD_CLIP('7'));
    await assert.rejects(plugin.findClip(sc, undefined), { code: 'bad_clip', message: 'clip is required, e.g. "V1:0"' });
  });

  await t.test('clips and tracks that do not exist', async () => {
    await assert.rejects(plugin.findClip(sc, 'V1:1'), { code: 'clip_not_found', message: 'V1 has 1 clips; index 1 is out of range. premiere_get_sequence lists them.' });
    await assert.rejects(plugin.findClip(sc, { track: 'V1', at: 30 }), { code: 'clip_not_found', message: 'No clip on V1 at 30' });
    await assert.rejects(plugin.findClip(sc, 'V9:0'), { code: 'track_not_found', message: "V9 doesn't exist (sequence has 3 video tracks). premiere_add_tracks can add more." });
    await assert.rejects(plugin.findClip(sc, { track: 'A4', index: 0 }), { code: 'track_not_found', message: "A4 doesn't exist (sequence has 3 audio tracks). premiere_add_tracks can add more." });
  });

  await t.test('clips are numbered in time order, whatever order Premiere lists them in', async () => {
    const seq = f.sim.project().activeSequence;
    seq.audio[0].items.reverse();
    assert.equal((await plugin.findClip(sc, 'A1:0')).clip ? (await (await plugin.findClip(sc, 'A1:0')).clip.getName()) : null, 'interview_12s_25fps.mp4');
  });
});

test('item lookup', async (t) => {
  const f = simFixture(t);
  const { sim, plugin } = f;
  const [a, b] = makeMedia(f.media, ['a_2s.mp4', 'b_2s.mp4']);
  await sim.ok('new_project', { path: path.join(f.media, 'Look') });
  await sim.ok('create_bin', { name: 'Shots' });
  const { items } = await sim.ok('import_media', { paths: [a, b], bin: 'Shots' });
  const [ia, ib] = items;
  const proj = await plugin.project();
  const find = async (ref) => (await plugin.findItem(proj, ref)).name;

  await t.test('by id, name and bin-qualified name', async () => {
    assert.equal(await find(ia.id), 'a_2s.mp4');
    assert.equal(await find('b_2s.mp4'), 'b_2s.mp4');
    assert.equal(await find('Shots/b_2s.mp4'), 'b_2s.mp4');
    assert.equal(await find('Shots'), 'Shots');
  });

  await t.test('a key that is one item\'s name and another\'s id finds the first in walk order', async () => {
    await sim.ok('rename_item', { item: ia.id, name: ib.id });
    assert.equal((await plugin.findItem(proj, ib.id)).id, ia.id, 'a comes first and matches by name');
    await sim.ok('rename_item', { item: ia.id, name: 'a_2s.mp4' });
    await sim.ok('rename_item', { item: ib.id, name: ia.id });
    assert.equal((await plugin.findItem(proj, ia.id)).id, ia.id, 'a comes first and matches by id');
    await sim.ok('rename_item', { item: ib.id, name: 'b_2s.mp4' });
  });

  await t.test('media paths: objects, and keys with a slash that name no bin path', async () => {
    assert.equal(await find({ mediaPath: b }), 'b_2s.mp4');
    assert.equal(await find({ path: a.toUpperCase() }), 'a_2s.mp4', 'compared without case');
    assert.equal(await find(b), 'b_2s.mp4');
    assert.equal(await find(b.replace(/\//g, '\\')), 'b_2s.mp4', 'backslashes are slashes');
  });

  await t.test('missing and unknown items', async () => {
    await assert.rejects(plugin.findItem(proj, undefined), { code: 'bad_args', message: "item is required (project item id, name, 'Bin/name', or {mediaPath})" });
    await assert.rejects(plugin.findItem(proj, 'nope'), { code: 'item_not_found', message: 'No project item matching "nope". Call premiere_list_project_items to see ids and names.' });
    await assert.rejects(plugin.findItem(proj, { id: 1 }), { code: 'item_not_found', message: 'No project item matching {"id":1}. Call premiere_list_project_items to see ids and names.' });
  });

  await t.test('bins: the root for none or "/", else a bin item', async () => {
    assert.equal((await plugin.binFor(proj, undefined)).type, sim.ppro.ProjectItem.TYPE_ROOT);
    assert.equal((await plugin.binFor(proj, '/')).type, sim.ppro.ProjectItem.TYPE_ROOT);
    assert.equal((await plugin.binFor(proj, 'Shots')).name, 'Shots');
    await assert.rejects(plugin.binFor(proj, 'a_2s.mp4'), { code: 'not_a_bin', message: "'a_2s.mp4' is not a bin" });
  });
});
