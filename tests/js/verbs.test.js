'use strict';
// The plug-in's project, item and sequence verbs against the simulator: answers, error
// codes and texts, undo labels, and edits that Premiere refuses leaving nothing behind.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { simFixture, editFixture, makeMedia, poll } = require('./helpers');
const { compareVersions } = require('../../sim/premierepro/since');

// The suite runs once per Premiere version: this file at the newest modelled version,
// verbs-oldest.test.js at the manifest's minimum (25.6), through CUTRELAY_PREMIERE_VERSION.
const VERSION = require('../../sim/premierepro/since').normaliseVersion(process.env.CUTRELAY_PREMIERE_VERSION || require('../../sim/premierepro/since').NEWEST);
const has = (since) => compareVersions(VERSION, since) >= 0;
const simFixtureAt = (t, options = {}) => simFixture(t, Object.assign({ version: VERSION }, options));
const editFixtureAt = (t, options = {}) => editFixture(t, Object.assign({ version: VERSION }, options));

const NO_PROJECT = { ok: false, errorCode: 'no_project', error: 'No project is open in Premiere. Use premiere_open_project or premiere_new_project.' };

/** The failure members of a result, for comparison. */
const failure = (r) => ({ ok: r.ok, errorCode: r.errorCode, error: r.error });

test('calls: unknown verbs, bad arguments, errors and warnings', async (t) => {
  const { sim, plugin } = simFixtureAt(t);

  await t.test('a verb without a handler answers not_in_uxp and logs no failure', async () => {
    const r = await sim.call('razor_everything', {});
    assert.deepEqual(r, { ok: false, errorCode: 'not_in_uxp', error: "UXP plugin has no verb 'razor_everything'" });
    assert.ok(!plugin.panelLog.some((l) => l.includes('failed')));
    assert.equal((await sim.call('toString', {})).errorCode, 'not_in_uxp', 'inherited names are not verbs');
  });

  await t.test('every verb survives missing, null and mistyped arguments', async () => {
    for (const verb of Object.keys(plugin.handlers)) {
      for (const args of [undefined, null, 'text', 42, [], { item: {}, path: 5, paths: [1], name: false, sequence: {}, time: {}, bin: 3 }]) {
        const r = await sim.call(verb, args);
        assert.equal(typeof r.ok, 'boolean', `${verb} ${JSON.stringify(args)}`);
        if (!r.ok) assert.match(r.errorCode, /^[a-z_]+$/, `${verb}: ${r.error}`);
      }
    }
  });

  await t.test('uncoded errors are premiere_error with a short stack; results and warnings', async () => {
    plugin.handlers.__throws = async () => { throw new Error('boom'); };
    plugin.handlers.__nothing = async () => undefined;
    plugin.handlers.__warns = async (args, ctx) => { ctx.warn('careful'); return { done: true }; };
    t.after(() => { delete plugin.handlers.__throws; delete plugin.handlers.__nothing; delete plugin.handlers.__warns; });
    const r = await sim.call('__throws', {});
    assert.equal(r.errorCode, 'premiere_error');
    assert.equal(r.error, 'boom');
    assert.ok(r.stack.split('\n').length <= 6);
    assert.ok(plugin.panelLog.at(-1).endsWith('__throws failed: boom'));
    assert.deepEqual(await sim.call('__nothing', {}), { ok: true, result: null });
    assert.deepEqual(await sim.call('__warns', {}), { ok: true, result: { done: true }, warnings: ['careful'] });
  });

  await t.test('verbs that need a project say so', async () => {
    for (const [verb, args] of [['get_project', {}], ['list_project_items', {}], ['import_media', { path: '/x.mp4' }], ['get_sequence', {}], ['create_bin', { name: 'B' }]]) {
      assert.deepEqual(failure(await sim.call(verb, args)), NO_PROJECT, verb);
    }
  });

  await t.test('ping answers pong with the hello fields', async () => {
    const r = await sim.ok('ping', {});
    assert.equal(r.pong, true);
    assert.deepEqual({ type: r.type, runtime: r.runtime, pluginVersion: r.pluginVersion, protocol: r.protocol, premiereVersion: r.premiereVersion, project: r.project, sequence: r.sequence },
      { type: 'hello', runtime: 'uxp', pluginVersion: '0.1.0', protocol: 1, premiereVersion: VERSION, project: null, sequence: null });
    assert.equal(typeof r.os, 'string');
  });
});

test('projects: new, save, close, open', async (t) => {
  const f = simFixtureAt(t);
  const { sim } = f;

  await t.test('new_project checks its path and adds the extension once', async () => {
    assert.deepEqual(failure(await sim.call('new_project', {})), { ok: false, errorCode: 'bad_args', error: 'path is required (…/MyProject.prproj)' });
    const missing = path.join(f.media, 'no-such-dir', 'X');
    assert.deepEqual(failure(await sim.call('new_project', { path: missing })), { ok: false, errorCode: 'create_failed', error: `Couldn't create ${missing}.prproj — does the folder exist?` });
    const r = await sim.ok('new_project', { path: path.join(f.media, 'Upper.PRPROJ') });
    assert.deepEqual(r, { name: 'Upper.PRPROJ', path: path.join(f.media, 'Upper.PRPROJ') });
    const r2 = await sim.ok('new_project', { path: path.join(f.media, 'Show') });
    assert.equal(r2.path, path.join(f.media, 'Show.prproj'));
    assert.ok(fs.existsSync(r2.path));
    assert.deepEqual(failure(await sim.call('new_project', { path: path.join(f.media, 'Show') })), { ok: false, errorCode: 'create_failed',
      error: `Couldn't create ${r2.path}: the file already exists. Open it with premiere_open_project, or pass another path.` });
  });

  await t.test('get_project describes the active project', async () => {
    await sim.ok('create_bin', { name: 'Selects' });
    await sim.ok('create_bin', { name: 'Inner', parent: 'Selects' });
    await sim.ok('create_sequence', { name: 'Main' });
    const p = await sim.ok('get_project', {});
    assert.equal(p.name, 'Show.prproj');
    assert.equal(p.activeSequence, 'Main');
    assert.deepEqual(p.bins, ['Selects', 'Selects/Inner']);
    assert.equal(p.itemCount, 3);
    assert.equal(p.sequences.length, 1);
    assert.match(p.guid, /^[0-9a-f-]{36}$/);
  });

  await t.test('save, close and open bring the project back', async () => {
    assert.deepEqual(await sim.ok('save_project', {}), { saved: true, path: path.join(f.media, 'Show.prproj') });
    const copy = path.join(f.media, 'Copy.prproj');
    assert.deepEqual(await sim.ok('save_project', { path: copy }), { saved: true, path: copy });
    assert.equal((await sim.ok('close_project', {})).closed, true);
    assert.notEqual((await sim.ok('ping', {})).project, 'Copy.prproj');
    assert.deepEqual(failure(await sim.call('open_project', {})), { ok: false, errorCode: 'bad_args', error: 'path is required' });
    const nowhere = path.join(f.media, 'nowhere.prproj');
    assert.deepEqual(failure(await sim.call('open_project', { path: nowhere })), { ok: false, errorCode: 'open_failed', error: `Premiere couldn't open ${nowhere}` });
    assert.deepEqual(await sim.ok('open_project', { path: copy }), { name: 'Copy.prproj', path: copy });
    const p = await sim.ok('get_project', {});
    assert.deepEqual(p.bins, ['Selects', 'Selects/Inner']);
    assert.equal(p.activeSequence, 'Main');
  });
});

test('import and list items', async (t) => {
  const f = simFixtureAt(t);
  const { sim } = f;
  const [clip, music, still] = makeMedia(f.media, ['clip_8s_23.976fps.mov', 'music.wav', 'logo.png']);
  fs.writeFileSync(music + '.simmeta.json', JSON.stringify({ duration: 30.5 }));
  await sim.ok('new_project', { path: path.join(f.media, 'Imports') });

  await t.test('import_media needs paths and reports what Premiere refused', async () => {
    assert.deepEqual(failure(await sim.call('import_media', {})), { ok: false, errorCode: 'bad_args', error: 'paths (array of absolute desktop file paths) is required' });
    assert.deepEqual(failure(await sim.call('import_media', { paths: [] })), { ok: false, errorCode: 'bad_args', error: 'paths (array of absolute desktop file paths) is required' });
    const gone = [path.join(f.media, 'gone.mp4'), path.join(f.media, 'notes.txt')];
    fs.writeFileSync(gone[1], 'not media');
    assert.deepEqual(failure(await sim.call('import_media', { paths: gone })),
      { ok: false, errorCode: 'import_failed', error: `Premiere refused the import: ${gone[0]} doesn't exist on this machine; ${gone[1]} is of a type Premiere does not import (.txt).` });
  });

  await t.test('imported files become clips with durations; a single path works too', async () => {
    const r = await sim.ok('import_media', { paths: [clip, music, path.join(f.media, 'gone.mp4')] });
    assert.equal(r.imported, 2);
    assert.deepEqual(r.items.map((i) => [i.name, i.type, i.bin, i.duration, i.mediaPath, i.offline, i.isSequence]), [
      ['clip_8s_23.976fps.mov', 'clip', '/', 8, clip, false, false],
      ['music.wav', 'clip', '/', 30.5, music, false, false],
    ]);
    await sim.ok('create_bin', { name: 'Art' });
    const one = await sim.ok('import_media', { path: still, bin: 'Art' });
    assert.deepEqual(one.items.map((i) => [i.name, i.bin, i.duration]), [['logo.png', 'Art', 5]]);
  });

  await t.test('only new items are answered when a file is imported again', async () => {
    const again = await sim.ok('import_media', { paths: [clip] });
    assert.equal(again.imported, 1);
    assert.equal(again.items[0].name, 'clip_8s_23.976fps.mov');
    const all = await sim.ok('list_project_items', { search: 'CLIP_8' });
    assert.equal(all.count, 2);
  });

  await t.test('list_project_items filters by bin, type and name; limit and truncation', async () => {
    const all = await sim.ok('list_project_items', {});
    assert.equal(all.count, 5);
    assert.equal(all.truncated, false);
    assert.deepEqual((await sim.ok('list_project_items', { bin: 'Art' })).items.map((i) => i.name), ['logo.png']);
    assert.deepEqual((await sim.ok('list_project_items', { type: 'bin' })).items.map((i) => i.name), ['Art']);
    const limited = await sim.ok('list_project_items', { limit: 2 });
    assert.deepEqual([limited.count, limited.items.length, limited.truncated], [5, 2, true]);
    const zero = await sim.ok('list_project_items', { limit: 0 });
    assert.deepEqual([zero.items.length, zero.truncated], [5, false]);
    const bare = await sim.ok('list_project_items', { details: false, type: 'clip' });
    assert.deepEqual(Object.keys(bare.items[0]).sort(), ['bin', 'id', 'name', 'type']);
  });
});

test('bins and item edits', async (t) => {
  const f = simFixtureAt(t);
  const { sim } = f;
  const [clip] = makeMedia(f.media, ['take_4s.mp4']);
  await sim.ok('new_project', { path: path.join(f.media, 'Bins') });
  const { items: [take] } = await sim.ok('import_media', { paths: [clip] });

  await t.test('create_bin makes names unique unless told not to', async () => {
    assert.deepEqual(await sim.ok('create_bin', { name: 'B' }), { created: 'B', parent: '/', verified: true });
    await sim.ok('create_bin', { name: 'B' });
    await sim.ok('create_bin', { name: 'B', makeUnique: false });
    assert.deepEqual((await sim.ok('list_project_items', { type: 'bin' })).items.map((i) => i.name), ['B', 'B 01', 'B']);
    assert.deepEqual(await sim.ok('create_bin', { name: 'Deep', parent: 'B 01' }), { created: 'Deep', parent: 'B 01', verified: true });
    assert.deepEqual(failure(await sim.call('create_bin', { name: 'X', parent: take.id })), { ok: false, errorCode: 'not_a_bin', error: `'${take.id}' is not a bin` });
    assert.equal((await sim.call('create_bin', {})).errorCode, 'bad_args');
  });

  await t.test('move, rename, colour and delete are undoable steps with their labels', async () => {
    assert.deepEqual(await sim.ok('move_item', { item: take.id, bin: 'B 01/Deep' }), { moved: 'take_4s.mp4', to: 'B 01/Deep', verified: true });
    assert.deepEqual(await sim.ok('rename_item', { item: take.id, name: 'Best take' }), { renamed: 'Best take', verified: true });
    assert.deepEqual(await sim.ok('set_item_color', { item: 'B 01/Deep/Best take', colorIndex: 7 }), { item: 'Best take', colorIndex: 7, verified: true });
    assert.deepEqual(await sim.ok('move_item', { item: take.id }), { moved: 'Best take', to: '/', verified: true });
    const found = (await sim.ok('list_project_items', { search: 'best' })).items[0];
    assert.equal(found.bin, '/');
    assert.deepEqual(sim.undoHistory().slice(-4), ['Move Item', 'Rename Item', 'Label Color', 'Move Item']);
    sim.undo();
    sim.undo();
    assert.equal(sim.project().items().find((i) => i.id === take.id).binPath(), 'B 01/Deep', 'undo restores the bin');
  });

  await t.test('edits Premiere refuses fail as transaction_failed and change nothing', async () => {
    const history = sim.undoHistory().length;
    const r = await sim.call('set_item_color', { item: take.id, colorIndex: 16 });
    assert.deepEqual(failure(r), { ok: false, errorCode: 'transaction_failed', error: "Premiere rejected the edit 'Label Color'. Check the clip/time arguments (e.g. a trim past the media's length)." });
    assert.equal((await sim.call('set_item_color', { item: take.id, colorIndex: '3' })).errorCode, 'bad_args');
    assert.equal((await sim.call('move_item', { item: 'B 01', bin: 'B 01/Deep' })).errorCode, 'transaction_failed', 'a bin cannot go into itself');
    assert.equal((await sim.call('rename_item', { item: take.id })).errorCode, 'bad_args');
    assert.equal(sim.undoHistory().length, history);
  });

  await t.test('delete_item removes the item and its uses on timelines', async () => {
    await sim.ok('create_sequence', { name: 'S', fromItems: [take.id] });
    assert.equal((await sim.ok('get_sequence', {})).videoTracks[0].clips.length, 1);
    assert.deepEqual(await sim.ok('delete_item', { item: take.id }), { deleted: 'Best take', verified: true });
    assert.equal((await sim.ok('get_sequence', {})).videoTracks[0].clips.length, 0);
    assert.equal((await sim.call('delete_item', { item: take.id })).errorCode, 'item_not_found');
    assert.equal(sim.undoHistory().at(-1), 'Delete Item');
  });
});

test('source in/out, subclips, metadata, transcripts', async (t) => {
  const f = await editFixtureAt(t);
  const { sim } = f;
  const clipId = f.items[0].id;
  const model = () => sim.project().items().find((i) => i.id === clipId);

  await t.test('set_source_in_out sets, clears, and refuses points outside the media', async () => {
    assert.deepEqual(await sim.ok('set_source_in_out', { item: clipId, in: 2, out: '8s' }), { item: 'interview_12s_25fps.mp4', in: 2, out: '8s', verified: true });
    assert.deepEqual([model().inPoint, model().outPoint], [2n * 254016000000n, 8n * 254016000000n]);
    const r = await sim.call('set_source_in_out', { item: clipId, in: 1, out: 13 });
    assert.equal(r.errorCode, 'transaction_failed');
    assert.deepEqual([model().inPoint, model().outPoint], [2n * 254016000000n, 8n * 254016000000n], 'neither point changed');
    assert.equal((await sim.call('set_source_in_out', { item: clipId, in: '00:00:01:00' })).errorCode, 'bad_time', 'no sequence, so no timecodes');
    assert.deepEqual(await sim.ok('set_source_in_out', { item: clipId, clear: true }), { cleared: true, verified: true });
    assert.equal(model().inPoint, null);
    assert.deepEqual(sim.undoHistory().slice(-2), ['Source In/Out', 'Clear In/Out']);
    const bin = await sim.ok('create_bin', { name: 'NotAClip' });
    assert.deepEqual(failure(await sim.call('set_source_in_out', { item: bin.created, in: 1 })), { ok: false, errorCode: 'not_a_clip', error: 'item is not a clip' });
  });

  await t.test('create_subclip names the subclip, answers its id and checks its range', { skip: !has('26.3') && 'no createSubClipAction before 26.3' }, async () => {
    const first = await sim.ok('create_subclip', { item: clipId, start: 1, end: 3 });
    assert.equal(first.created, 'interview_12s_25fps.mp4 subclip');
    const second = await sim.ok('create_subclip', { item: clipId, start: 4, end: 6, name: 'Answer', audio: false, hardBoundaries: true });
    assert.equal(second.created, 'Answer');
    const answer = (await sim.ok('list_project_items', { search: 'Answer' })).items[0];
    assert.equal(second.id, answer.id, 'the id is read back from the bin');
    assert.notEqual(first.id, second.id);
    assert.equal(answer.duration, 2, 'a hard subclip is its range long');
    assert.equal((await sim.call('create_subclip', { item: clipId, start: 11, end: 20 })).errorCode, 'transaction_failed');
    assert.equal((await sim.call('create_subclip', { item: clipId, start: 1 })).errorCode, 'bad_args');
  });

  await t.test('metadata reads and XMP writes', async () => {
    const m = await sim.ok('get_metadata', { item: clipId });
    assert.deepEqual(Object.keys(m), ['projectMetadata']);
    assert.match(m.projectMetadata, /Column\.Intrinsic\.Name>interview_12s_25fps\.mp4</);
    const xmp = '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"/></x:xmpmeta>';
    assert.deepEqual(await sim.ok('set_xmp_metadata', { item: clipId, xmp }), { item: 'interview_12s_25fps.mp4', verified: true });
    assert.equal((await sim.ok('get_metadata', { item: clipId, xmp: true })).xmp, xmp);
    assert.equal((await sim.call('set_xmp_metadata', { item: clipId, xmp: 'plain text' })).errorCode, 'transaction_failed');
    assert.equal((await sim.call('set_xmp_metadata', { item: clipId })).errorCode, 'bad_args');
    assert.equal(sim.undoHistory().at(-1), 'Set Metadata');
  });

  await t.test('transcripts: none yet, then transcribe, then export', async () => {
    assert.deepEqual(failure(await sim.call('get_transcript', { item: clipId })),
      { ok: false, errorCode: 'no_transcript', error: 'No transcript yet — premiere_transcribe first (takes a while).' });
    assert.deepEqual(await sim.ok('transcribe', { item: clipId, language: 'en-US' }), { started: true });
    // Speech-to-text finishes after the verb answers.
    const { transcript } = await poll('the transcript', async () => {
      const r = await sim.call('get_transcript', { item: clipId });
      return r.ok && r.result;
    }, 5000);
    assert.equal(transcript.language, 'en-US');
    assert.ok(transcript.segments[0].words.length > 0);
  });
});

test('sequences', async (t) => {
  const f = await editFixtureAt(t);
  const { sim } = f;

  await t.test('get_sequence lists every track and clip with times and timecodes', async () => {
    const s = await sim.ok('get_sequence', {});
    assert.deepEqual([s.name, s.width, s.height, s.fps, s.duration.seconds, s.duration.timecode], ['Cut', 1920, 1080, 25, 15.5, '00:00:15:13']);
    assert.deepEqual(s.videoTracks.map((tr) => [tr.track, tr.clips.length]), [['V1', 1], ['V2', 0], ['V3', 0]]);
    assert.deepEqual(s.audioTracks[0].clips.map((c) => [c.ref, c.start.timecode, c.end.seconds, c.projectItem.id]),
      [['A1:0', '00:00:00:00', 12, f.items[0].id], ['A1:1', '00:00:12:00', 15.5, f.items[1].id]]);
    const lean = await sim.ok('get_sequence', { detail: false });
    assert.equal('speed' in lean.videoTracks[0].clips[0], false);
    assert.equal('projectItem' in lean.videoTracks[0].clips[0], false);
  });

  await t.test('sequence lookup: by name or GUID, errors list the names', async () => {
    const { guid } = await sim.ok('create_sequence', {});
    assert.equal((await sim.ok('get_sequence', { sequence: guid })).name, 'Sequence');
    assert.deepEqual(failure(await sim.call('get_sequence', { sequence: 'Nope' })),
      { ok: false, errorCode: 'sequence_not_found', error: "No sequence matching 'Nope'. Sequences: Cut, Sequence" });
    const list = await sim.ok('list_sequences', {});
    assert.deepEqual(list.sequences.map((s) => [s.name, s.active, s.duration]), [['Cut', false, 15.5], ['Sequence', true, 0]]);
    assert.deepEqual(await sim.ok('set_active_sequence', { sequence: 'Cut' }), { active: 'Cut', verified: true });
    assert.equal((await sim.call('set_active_sequence', {})).errorCode, 'bad_args');
  });

  await t.test('an empty sequence lists its tracks with empty clip lists', async () => {
    const s = await sim.ok('get_sequence', { sequence: 'Sequence' });
    assert.deepEqual(s.videoTracks.concat(s.audioTracks).map((tr) => tr.clips.length), [0, 0, 0, 0, 0, 0]);
  });

  await t.test('create_sequence from items into a bin, from a missing preset, from unknown items', async () => {
    await sim.ok('create_bin', { name: 'Seqs' });
    await sim.ok('create_sequence', { name: 'Music only', fromItems: ['music_3.5s.wav'], bin: 'Seqs' });
    assert.equal((await sim.ok('list_project_items', { bin: 'Seqs' })).items[0].isSequence, true);
    assert.deepEqual(failure(await sim.call('create_sequence', { presetPath: path.join(f.media, 'none.sqpreset') })),
      { ok: false, errorCode: 'create_failed', error: "Premiere didn't create the sequence" });
    assert.equal((await sim.call('create_sequence', { fromItems: ['ghost'] })).errorCode, 'item_not_found');
    assert.equal((await sim.call('create_sequence', { fromItems: ['Seqs'] })).errorCode, 'not_a_clip');
  });

  await t.test('duplicate and delete', async () => {
    assert.deepEqual(await sim.ok('duplicate_sequence', { sequence: 'Cut' }), { duplicated: 'Cut', verified: true });
    assert.equal(sim.undoHistory().at(-1), 'Duplicate Sequence');
    const copy = await sim.ok('get_sequence', { sequence: 'Cut Copy' });
    assert.equal(copy.audioTracks[0].clips.length, 2);
    assert.deepEqual(await sim.ok('delete_sequence', { sequence: 'Cut Copy' }), { deleted: true, name: 'Cut Copy', verified: true });
    assert.equal((await sim.call('get_sequence', { sequence: 'Cut Copy' })).errorCode, 'sequence_not_found');
  });

  await t.test('settings: read, change, refuse', async () => {
    const before = await sim.ok('get_sequence_settings', { sequence: 'Cut' });
    assert.deepEqual([before.width, before.height, before.fps, before.audioSampleRate, before.maxBitDepth], [1920, 1080, 25, 48000, false]);
    if (!has('26.2')) {
      const r = await sim.call('set_sequence_settings', { sequence: 'Cut', width: 1280, height: 720, fps: 29.97 });
      assert.equal(r.errorCode, 'premiere_too_old');
      assert.match(r.error, /needs Premiere Pro 26\.2 or newer \(SequenceSettings\.setVideoFrameRate\); this Premiere is 25\.6\.0/);
      assert.equal((await sim.ok('get_sequence_settings', { sequence: 'Cut' })).width, 1920, 'nothing changed');
      return;
    }
    const after = await sim.ok('set_sequence_settings', { sequence: 'Cut', width: 1280, height: 720, fps: 29.97, maxBitDepth: true });
    assert.deepEqual([after.width, after.height, after.fps, after.maxBitDepth], [1280, 720, 29.97, true]);
    assert.equal(sim.undoHistory().at(-1), 'Sequence Settings');
    const same = await sim.ok('set_sequence_settings', { sequence: 'Cut', width: 640 });
    assert.equal(same.width, 1280, 'a width without a height changes nothing');
    assert.equal((await sim.call('set_sequence_settings', { sequence: 'Cut', width: 99999, height: 10 })).errorCode, 'transaction_failed');
    assert.equal((await sim.ok('get_sequence_settings', { sequence: 'Cut' })).width, 1280);
    assert.equal((await sim.ok('get_sequence', { sequence: 'Cut' })).duration.timecode, '00:00:15;15', 'timecodes follow the new rate');
  });

  await t.test('playhead and in/out', async () => {
    // At 29.97 after the settings change above; 25.6 cannot change the rate, so 25 fps there.
    const tc = has('26.2') ? '00:00:05;00' : '00:00:05:00';
    assert.deepEqual((await sim.ok('set_playhead', { sequence: 'Cut', time: tc })).playhead.timecode, tc);
    assert.equal((await sim.call('set_playhead', { sequence: 'Cut' })).errorCode, 'bad_args');
    assert.equal((await sim.call('set_playhead', { sequence: 'Cut', time: '1:2' })).errorCode, 'bad_time');
    const r = await sim.call('set_in_out', { sequence: 'Cut', in: 2, out: 10, workArea: true });
    assert.deepEqual([r.result.inPoint.seconds, r.result.outPoint.seconds], [2, 10]);
    if (has('26.5')) {
      assert.equal(r.warnings, undefined);
      const WA = sim.ppro.WorkAreaUtils;
      const seq = (await (await sim.ppro.Project.getActiveProject()).getSequences()).find((x) => x.name === 'Cut');
      assert.deepEqual([WA.getWorkAreaInPoint(seq).seconds, WA.getWorkAreaOutPoint(seq).seconds], [2, 10]);
    } else {
      assert.match(r.warnings[0], /doesn't expose the work area/);
    }
    const bad = await sim.call('set_in_out', { sequence: 'Cut', in: 12, out: 11 });
    assert.equal(bad.errorCode, 'transaction_failed');
    const now = await sim.ok('get_sequence', { sequence: 'Cut' });
    assert.deepEqual([now.inPoint.seconds, now.outPoint.seconds], [2, 10], 'neither point of the refused edit was applied');
  });

  await t.test('nest_selection without a selection nests nothing', async () => {
    assert.deepEqual(await sim.ok('nest_selection', { sequence: 'Cut' }), { nested: null });
  });
});
