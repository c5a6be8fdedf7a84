'use strict';
// What differs between Premiere versions, and where the plug-in once relied on the
// simulator copying its own mistakes: members newer than 25.6, Promise-valued media
// times, names and ids Premiere chooses, partial imports, times beyond Premiere's ticks,
// drop-frame display, in/out order, and nesting.

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('path');
const { createSim } = require('../../sim');
const since = require('../../sim/premierepro/since');
const { simFixture, editFixture, makeMedia } = require('./helpers');

test('Premiere versions', async (t) => {
  await t.test('versions are normalised, and ones the simulator does not model are refused', () => {
    assert.equal(since.normaliseVersion('26.2'), '26.2.0');
    assert.equal(since.normaliseVersion(undefined), since.DEFAULT);
    for (const bad of ['25.5', '27.0', 'latest', '26']) assert.throws(() => since.normaliseVersion(bad), /Premiere/, bad);
    assert.throws(() => createSim({ home: '/nonexistent', version: '24.0' }), /models Premiere 25\.6\.0 to 26\.5\.0/);
  });

  await t.test('each version offers exactly the members its table rows admit', () => {
    const surface = (version) => {
      const sim = createSim({ home: '/nonexistent', version });
      try {
        const p = sim.ppro;
        return {
          host: sim.plugin ? sim.app.version : null,
          subclip: typeof p.ClipProjectItem.prototype.createSubClipAction,
          frameRate: typeof p.SequenceSettings.prototype.setVideoFrameRate,
          hasTranscript: typeof p.Transcript.hasTranscript,
          presetPath: typeof p.Project.prototype.createSequenceWithPresetPath,
          getDuration: typeof p.Media.prototype.getDuration,
        };
      } finally {
        sim.dispose();
      }
    };
    const f = 'function';
    const u = 'undefined';
    assert.deepEqual(surface('25.6'), { host: '25.6.0', subclip: u, frameRate: u, hasTranscript: u, presetPath: u, getDuration: u });
    assert.deepEqual(surface('26.2'), { host: '26.2.0', subclip: u, frameRate: f, hasTranscript: u, presetPath: u, getDuration: u });
    assert.deepEqual(surface('26.3'), { host: '26.3.0', subclip: f, frameRate: f, hasTranscript: f, presetPath: f, getDuration: u });
    assert.deepEqual(surface('26.5'), { host: '26.5.0', subclip: f, frameRate: f, hasTranscript: f, presetPath: f, getDuration: f });
  });

  await t.test('every row of the table names its source and a version', () => {
    for (const row of since.SINCE) {
      assert.ok(since.parseVersion(row.since), `${row.class}.${row.member}`);
      assert.ok(since.compareVersions(row.since, since.BASELINE) > 0, `${row.class}.${row.member} is newer than the baseline`);
      assert.ok(typeof row.source === 'string' && row.source.length > 10, `${row.class}.${row.member} has a source`);
    }
  });
});

test('Sequence.setSelection answers a Promise before 26.3 and a boolean from 26.3', async (t) => {
  for (const [version, promise] of [['26.2', true], ['26.3', false]]) {
    const { sim } = await editFixture(t, { version });
    const proj = await sim.ppro.Project.getActiveProject();
    const seq = await proj.getActiveSequence();
    const answer = seq.setSelection(await seq.getSelection());
    assert.equal(answer instanceof Promise, promise, version);
    assert.equal(await answer, true, version);
  }
});

test('media times are Promises in every version; 26.5 adds the getters', async (t) => {
  for (const version of [since.OLDEST, '26.3', since.NEWEST]) {
    await t.test(version, async (t) => {
      const { sim, media } = simFixture(t, { version });
      const [file] = makeMedia(media, ['clip_8s_25fps.mp4']);
      await sim.ok('new_project', { path: path.join(media, 'P') });
      const { items } = await sim.ok('import_media', { path: file });
      assert.equal(items[0].duration, 8, 'the duration reaches the answer');
      const proj = await sim.ppro.Project.getActiveProject();
      const [item] = await (await proj.getRootItem()).getItems();
      const m = await sim.ppro.ClipProjectItem.cast(item).getMedia();
      assert.ok(m.duration instanceof Promise && m.start instanceof Promise);
      assert.equal((await m.duration).seconds, 8);
      if (since.compareVersions(version, '26.5') >= 0) assert.equal(m.getDuration().seconds, 8);
    });
  }
});

test('verbs that need a newer Premiere say which', async (t) => {
  const { sim } = await editFixture(t, { version: since.OLDEST });

  await t.test('create_subclip on 25.6 names 26.3 and changes nothing', async () => {
    const before = sim.undoHistory().length;
    const r = await sim.call('create_subclip', { item: 'interview_12s_25fps.mp4', start: 1, end: 2 });
    assert.deepEqual([r.ok, r.errorCode], [false, 'premiere_too_old']);
    assert.equal(r.error, 'premiere_create_subclip needs Premiere Pro 26.3 or newer (ClipProjectItem.createSubClipAction); this Premiere is 25.6.0.');
    assert.equal(sim.undoHistory().length, before);
    assert.equal((await sim.ok('list_project_items', {})).count, 3);
  });

  await t.test('reads fall back to what 25.6 has', async () => {
    const s = await sim.ok('get_sequence_settings', { sequence: 'Cut' });
    assert.equal(s.fps, 25, 'the frame rate comes from the timebase without getVideoFrameRate');
    assert.equal((await sim.ok('get_sequence', { sequence: 'Cut' })).duration.timecode, '00:00:15:13');
  });

  await t.test('no verb fails with a missing member on 25.6', async () => {
    const calls = [
      ['get_project', {}], ['list_project_items', {}], ['create_bin', { name: 'B' }], ['set_source_in_out', { item: 'music_3.5s.wav', in: 1, out: 2 }],
      ['get_sequence', {}], ['get_sequence_settings', {}], ['set_sequence_settings', { width: 1280, height: 720 }],
      ['set_in_out', { in: 1, out: 2, workArea: true }], ['nest_selection', {}], ['duplicate_sequence', {}], ['get_transcript', { item: 'music_3.5s.wav' }],
      ['create_sequence', { presetPath: '/nonexistent.sqpreset' }],
    ];
    for (const [verb, args] of calls) {
      const r = await sim.call(verb, args);
      assert.doesNotMatch(String(r.error), /is not a function|Cannot read properties/, verb);
      assert.notEqual(r.errorCode, 'premiere_error', `${verb}: ${r.error}`);
    }
  });
});

test('answers report what Premiere did', async (t) => {
  const f = await editFixture(t, { version: since.NEWEST });
  const { sim } = f;

  await t.test('create_bin answers the name Premiere made unique', async () => {
    assert.deepEqual(await sim.ok('create_bin', { name: 'Selects' }), { created: 'Selects', parent: '/', verified: true });
    assert.deepEqual(await sim.ok('create_bin', { name: 'Selects' }), { created: 'Selects 01', parent: '/', verified: true });
    assert.deepEqual(await sim.ok('create_bin', { name: 'Selects', makeUnique: false }), { created: 'Selects', parent: '/', verified: true });
  });

  await t.test('import_media warns about each path that gave no new item', async () => {
    const [fresh] = makeMedia(f.media, ['broll_5s.mp4']);
    const missing = path.join(f.media, 'gone.mp4');
    const unsupported = makeMedia(f.media, ['notes.txt'])[0];
    const r = await sim.call('import_media', { paths: [fresh, missing, unsupported] });
    assert.equal(r.ok, true);
    assert.deepEqual(r.result.items.map((i) => i.name), ['broll_5s.mp4']);
    assert.deepEqual(r.warnings.map((w) => w.split(' (')[0]), [`No new project item from ${missing}`, `No new project item from ${unsupported}`]);
    const clean = await sim.call('import_media', { paths: makeMedia(f.media, ['more_2s.mp4']) });
    assert.equal('warnings' in clean, false, 'a complete import warns of nothing');
  });

  await t.test('NTSC frame rates are set exactly, not through a rounded value', async () => {
    for (const [fps, tpf] of [[23.976, 10594584000], [29.97, 8475667200], [59.94, 4237833600], [25, 10160640000]]) {
      const r = await sim.ok('set_sequence_settings', { sequence: 'Cut', fps });
      assert.equal(sim.project().sequences[0].settings.tpf, tpf, String(fps));
      assert.equal(r.fps, fps);
    }
  });

  await t.test('times that do not fit in Premiere ticks are bad_time', async () => {
    for (const time of [1e308, -1e308, { seconds: 1e300 }, { ticks: '9'.repeat(40) }, { frames: 1e300 }, '99999999999999:00:00:00', `${'9'.repeat(400)}f`]) {
      const r = await sim.call('set_playhead', { sequence: 'Cut', time });
      assert.equal(r.errorCode, 'bad_time', JSON.stringify(time));
      assert.match(r.error, /^Can't parse time /);
    }
    assert.equal((await sim.call('set_in_out', { sequence: 'Cut', out: 1e308 })).errorCode, 'bad_time');
  });
});

test('timecodes follow the sequence display format', async (t) => {
  const { sim, media } = simFixture(t, { version: since.NEWEST });
  const [ntsc] = makeMedia(media, ['ntsc_70s_29.97fps.mp4']);
  await sim.ok('new_project', { path: path.join(media, 'T') });
  const { items } = await sim.ok('import_media', { path: ntsc });
  await sim.ok('create_sequence', { name: 'NTSC', fromItems: [items[0].id] });

  await t.test('a new 29.97 sequence displays drop-frame', async () => {
    assert.equal((await sim.ok('set_playhead', { time: 60.06 })).playhead.timecode, '00:01:00;02');
  });

  await t.test('switched to non-drop display, the same time is non-drop', async () => {
    sim.project().sequences[0].settings.videoDisplayFormat = sim.ppro.SequenceSettings.VIDEO_DISPLAY_FORMAT_2997_NON_DROP;
    const r = await sim.ok('set_playhead', { time: 60.06 });
    assert.equal(r.playhead.timecode, '00:01:00:00');
    assert.equal(r.playhead.frame, 1800);
  });
});

test('sequence in/out and nesting', async (t) => {
  const { sim } = await editFixture(t, { version: since.NEWEST });

  await t.test('both points moved past the current out point in one step', async () => {
    await sim.ok('set_in_out', { sequence: 'Cut', in: 1, out: 3 });
    const r = await sim.ok('set_in_out', { sequence: 'Cut', in: 5, out: 8 });
    assert.deepEqual([r.inPoint.seconds, r.outPoint.seconds], [5, 8]);
    const back = await sim.ok('set_in_out', { sequence: 'Cut', in: 0.5, out: 2 });
    assert.deepEqual([back.inPoint.seconds, back.outPoint.seconds], [0.5, 2]);
    assert.equal((await sim.call('set_in_out', { sequence: 'Cut', in: 9, out: 4 })).errorCode, 'transaction_failed');
  });

  await t.test('nest_selection nests the selection bounds and restores in/out', async () => {
    sim.project().sequences[0].audio[0].items.find((ti) => ti.start > 0n).selected = true; // the music, 12–15.5 s
    const before = await sim.ok('get_sequence', { sequence: 'Cut' });
    const r = await sim.call('nest_selection', { sequence: 'Cut' });
    assert.deepEqual(r, { ok: true, result: { nested: 'Cut_Sub_01', verified: true } });
    const sub = await sim.ok('get_sequence', { sequence: 'Cut_Sub_01' });
    assert.equal(sub.duration.seconds, 3.5);
    assert.deepEqual(sub.audioTracks[0].clips.map((c) => [c.name, c.start.seconds, c.end.seconds]), [['music_3.5s.wav', 0, 3.5]]);
    assert.deepEqual(sub.videoTracks[0].clips, [], 'the video ends where the music starts');
    const after = await sim.ok('get_sequence', { sequence: 'Cut' });
    assert.deepEqual([after.inPoint, after.outPoint], [before.inPoint, before.outPoint]);
    assert.deepEqual(sim.undoHistory().slice(-2), ['Nest Selection', 'Nest Selection']);
  });

  await t.test('without a selection nothing is nested, and the answer says why', async () => {
    for (const ti of sim.project().sequences[0].allItems()) ti.selected = false;
    const r = await sim.call('nest_selection', { sequence: 'Cut' });
    assert.deepEqual(r.result, { nested: null });
    assert.match(r.warnings[0], /No clips are selected in Cut/);
  });
});

test('createSubsequence takes the range between the in and out points', async (t) => {
  const { sim } = await editFixture(t, { version: since.NEWEST });
  await sim.ok('set_in_out', { sequence: 'Cut', in: 10, out: 13 });
  const proj = await sim.ppro.Project.getActiveProject();
  const seq = (await proj.getSequences()).find((s) => s.name === 'Cut');
  const sub = await seq.createSubsequence(false);
  const out = await sim.ok('get_sequence', { sequence: sub.name });
  assert.equal(out.duration.seconds, 3);
  assert.deepEqual(out.audioTracks[0].clips.map((c) => [c.name, c.start.seconds, c.end.seconds, c.inPoint]),
    [['interview_12s_25fps.mp4', 0, 2, 10], ['music_3.5s.wav', 2, 3, 0]], 'clips crossing a point are trimmed to it');
});
