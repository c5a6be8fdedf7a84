'use strict';
// Frame, sequence and interchange export, the Source Monitor and eval: the plug-in's verbs
// against the simulator, and the pictures the simulator renders.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { simFixture, makeMedia, poll } = require('./helpers');
const { decodePNG, encodePNG, renderSequence, renderProgramMonitor, colorsFor } = require('../../sim/render');

const TPS = 254016000000;
const failure = (r) => [r.ok, r.errorCode, r.error];

/** The interview (12 s, 1920×1080) on V1 and A1, the music after it on A1. */
async function fixture(t, options) {
  const f = simFixture(t, Object.assign({ renderMs: 4 }, options));
  const [video, audio, still] = makeMedia(f.media, ['interview_12s_25fps.mp4', 'music_3.5s.wav', 'logo_640x360.png']);
  await f.sim.ok('new_project', { path: path.join(f.media, 'Out') });
  const { items } = await f.sim.ok('import_media', { paths: [video, audio, still] });
  await f.sim.ok('create_sequence', { name: 'Cut', fromItems: items.slice(0, 2).map((i) => i.id) });
  const out = path.join(f.media, 'out');
  fs.mkdirSync(out);
  return Object.assign(f, { items, video, still, out });
}

const pixel = (img, x, y) => Array.from(img.rgba.subarray((y * img.width + x) * 4, (y * img.width + x) * 4 + 3));
/** Premiere finishes writing a frame after the call returns: read it once it decodes. */
async function readImage(file, decode) {
  for (let i = 0; ; i++) {
    try {
      return decode(fs.readFileSync(file));
    } catch (e) {
      if (i >= 400) throw e;
      await new Promise((r) => setTimeout(r, 10));
    }
  }
}
const readPng = (file) => readImage(file, decodePNG);

test('export_frame writes a real PNG of the requested size showing the sequence', async (t) => {
  const f = await fixture(t);
  const { sim } = f;

  await t.test('default size caps the width at 1280; one side derives the other', async () => {
    const r = await sim.ok('export_frame', { dir: f.out, time: 1 });
    assert.deepEqual([r.width, r.height, r.time.timecode], [1280, 720, '00:00:01:00']);
    assert.equal(r.path, path.join(f.out, 'frame_1000ms.png'), 'Premiere doubles the extension; the file gets the name asked for');
    assert.deepEqual(fs.readdirSync(f.out).sort(), ['frame_1000ms.png'], 'no doubled file is left');
    const img = await readPng(r.path);
    assert.deepEqual([img.width, img.height], [1280, 720]);
    const h = await sim.ok('export_frame', { dir: f.out + '/', time: 1, height: 360, name: 'small.PNG' });
    assert.deepEqual([h.width, h.height, h.path], [640, 360, path.join(f.out, 'small.png')], 'a name with the extension gets no second one');
    const small = await readPng(h.path);
    assert.deepEqual([small.width, small.height], [640, 360]);
  });

  await t.test('the picture is the clip\'s pattern, moved by Motion and dimmed by Opacity, black elsewhere', async () => {
    const [c1, c2] = colorsFor(f.video);
    const full = await readPng((await sim.ok('export_frame', { dir: f.out, time: 1, width: 160, name: 'full' })).path);
    assert.deepEqual(pixel(full, 5, 5), c1, 'top-left square');
    assert.deepEqual(pixel(full, 25, 5), c2, 'its neighbour');
    const empty = await readPng((await sim.ok('export_frame', { dir: f.out, time: 20, width: 160, name: 'empty' })).path);
    assert.deepEqual(pixel(empty, 80, 45), [0, 0, 0], 'black past the last clip');
    await sim.ok('set_transform', { clip: 'V1:0', scale: 50, position: [0.75, 0.75], opacity: 50 });
    const moved = await readPng((await sim.ok('export_frame', { dir: f.out, time: 1, width: 160, name: 'moved' })).path);
    assert.deepEqual(pixel(moved, 20, 20), [0, 0, 0], 'the top-left quarter is now empty');
    assert.deepEqual(pixel(moved, 82, 47), c1.map((v) => Math.round(v / 2)), 'half opacity over black');
  });

  await t.test('each source has its own pattern; the upper track covers the lower', async () => {
    await sim.ok('set_transform', { clip: 'V1:0', scale: 100, position: [0.5, 0.5], opacity: 100 });
    await sim.ok('eval', { code: `
      const p = await h.project(); const s = await h.findSequence(p);
      const still = (await h.findItem(p, "logo_640x360.png")).item;
      h.tx(p, "Logo", () => ppro.SequenceEditor.getEditor(s).createOverwriteItemAction(still, ppro.TickTime.createWithSeconds(0), 1, 1));` });
    const img = await readPng((await sim.ok('export_frame', { dir: f.out, time: 1, width: 192, name: 'logo' })).path);
    const [v1] = colorsFor(f.video);
    const [s1, s2] = colorsFor(f.still);
    assert.deepEqual(pixel(img, 2, 2), v1, 'V1 shows at the corner');
    assert.ok([s1, s2].some((c) => JSON.stringify(c) === JSON.stringify(pixel(img, 96, 54))), 'the still (a third of the frame, centred) on V2 covers the middle');
    assert.notDeepEqual(colorsFor(f.video), colorsFor(f.still));
  });

  await t.test('size, format, name and folder errors', async () => {
    assert.deepEqual(failure(await sim.call('export_frame', { time: 1 })), [false, 'bad_args', 'dir is required']);
    const missing = path.join(f.out, 'nope');
    assert.deepEqual(failure(await sim.call('export_frame', { dir: missing })), [false, 'export_failed', `The folder ${missing} does not exist; create it or pass another dir.`]);
    assert.deepEqual(failure(await sim.call('export_frame', { dir: f.out, format: 'heic' })),
      [false, 'bad_args', "format must be one of bmp, dpx, gif, jpg, exr, png, tga, tif (not 'heic')"], 'not a format Premiere writes');
    assert.equal((await sim.ok('export_frame', { dir: f.out, format: 'JPEG', width: 16, name: 'alias' })).path, path.join(f.out, 'alias.jpg'));
    assert.equal((await sim.call('export_frame', { dir: f.out, format: 'png/../x' })).errorCode, 'bad_args');
    assert.equal((await sim.call('export_frame', { dir: f.out, name: '../escape' })).errorCode, 'bad_args');
    assert.equal((await sim.call('export_frame', { dir: f.out, width: 100000 })).errorCode, 'export_failed');
    assert.equal((await sim.call('export_frame', { dir: f.out, width: 16384, height: 16384 })).errorCode, 'export_failed', 'the simulator does not try a 1 GiB frame');
  });

  await t.test('jpg, tif, bmp and tga are written too; gif is not simulated', async () => {
    const jpg = await sim.ok('export_frame', { dir: f.out, format: 'jpg', width: 32, name: 'j' });
    const decoded = await readImage(jpg.path, (buf) => require('jpeg-js').decode(buf));
    assert.deepEqual([decoded.width, decoded.height], [32, 18]);
    const tif = await sim.ok('export_frame', { dir: f.out, format: 'tif', width: 32, name: 't' });
    assert.equal(fs.readFileSync(tif.path).toString('ascii', 0, 2), 'II');
    assert.equal((await sim.call('export_frame', { dir: f.out, format: 'gif', width: 32 })).errorCode, 'export_failed');
    const bmp = await sim.ok('export_frame', { dir: f.out, format: 'BMP', width: 32, name: 'b' });
    assert.equal(fs.readFileSync(bmp.path).toString('ascii', 0, 2), 'BM');
    const tga = await sim.ok('export_frame', { dir: f.out, format: 'tga', width: 32, name: 'g' });
    assert.equal(fs.readFileSync(tga.path).readUInt16LE(12), 32);
  });
});

test('export_frame with a Premiere that keeps the name as given', async (t) => {
  const f = await fixture(t, { frameExportDoubleExtension: false });
  const r = await f.sim.ok('export_frame', { dir: f.out, name: 'one', width: 64 });
  assert.equal(r.path, path.join(f.out, 'one.png'));
  const img = await readPng(r.path);
  assert.deepEqual([img.width, img.height], [64, 36]);
});

test('export_frames: spacing, the 1…64 clamp, explicit times, first failure stops', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  const r = await sim.ok('export_frames', { dir: f.out, count: 4, start: 0, end: 8, width: 16, prefix: 'cs' });
  assert.deepEqual(r.frames.map((x) => [path.basename(x.path), x.time.seconds]),
    [['cs_000.png', 1], ['cs_001.png', 3], ['cs_002.png', 5], ['cs_003.png', 7]]);
  assert.equal((await sim.ok('export_frames', { dir: f.out, count: 100, width: 8 })).frames.length, 64);
  const zero = await sim.ok('export_frames', { dir: f.out, count: 0, width: 8 });
  assert.deepEqual([zero.frames.length, zero.frames[0].time.seconds], [8, round(15.5 / 16)]);
  const times = await sim.ok('export_frames', { dir: f.out, times: ['00:00:02:00', 5], width: 8 });
  assert.deepEqual(times.frames.map((x) => x.time.seconds), [2, 5]);
  assert.equal((await sim.call('export_frames', { dir: f.out, times: [1, 'soon', 3], width: 8 })).errorCode, 'bad_time');
  assert.equal((await sim.call('export_frames', { dir: f.out, times: new Array(65).fill(1) })).errorCode, 'bad_args');
});

function round(x) {
  return Math.round(x * 1000) / 1000;
}

test('export_sequence: arguments, Media Encoder, events, the rendered file', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  const preset = path.join(f.media, 'H264.epr');
  fs.writeFileSync(preset, '<PremiereData/>');
  const output = path.join(f.out, 'cut.mp4');

  await t.test('output and preset are required', async () => {
    assert.deepEqual(failure(await sim.call('export_sequence', { preset })), [false, 'bad_args', 'output (absolute file path on this machine) is required']);
    assert.deepEqual(failure(await sim.call('export_sequence', { output })),
      [false, 'bad_args', 'preset (.epr path) is required — premiere_list_export_presets finds them']);
  });

  await t.test('a missing preset or output folder fails as Premiere does', async () => {
    const r = await sim.call('export_sequence', { output, preset: path.join(f.media, 'gone.epr') });
    assert.deepEqual([r.errorCode, r.error], ['premiere_error', `Export preset not found: ${path.join(f.media, 'gone.epr')}`]);
    assert.match((await sim.call('export_sequence', { output: path.join(f.out, 'no', 'x.mp4'), preset })).error, /does not exist or is not writable/);
  });

  await t.test('immediate export renders the file and reports completion through the operation-complete event', async () => {
    const sent = [];
    sim.plugin.conn.socket = { readyState: 1, send: (text) => sent.push(JSON.parse(text)) };
    t.after(() => { sim.plugin.conn.socket = null; });
    assert.deepEqual(await sim.ok('export_sequence', { output, preset }), { started: true, output, mode: 'immediate' });
    await poll('export_complete', () => sent.some((m) => m.kind === 'export_complete'), 5000);
    assert.deepEqual(sent.filter((m) => m.type === 'event' && m.kind.startsWith('export_')).map((m) => [m.kind, m.data]),
      [['export_complete', { mode: 'immediate', state: 0, output }]], 'no encoder events: those are for Media Encoder jobs');
    const rendered = JSON.parse(fs.readFileSync(output, 'utf8'));
    assert.deepEqual([rendered.start, rendered.end, rendered.frames], [0, 15.5, 388]);
    await sim.ok('set_in_out', { in: 2, out: 4 });
    await sim.ok('export_sequence', { output, preset, range: 'inout' });
    assert.deepEqual([JSON.parse(fs.readFileSync(output, 'utf8')).start, JSON.parse(fs.readFileSync(output, 'utf8')).end], [2, 4]);
    const encoderListeners = sim.app.listeners.filter((l) => l.target === sim.app.encoder);
    assert.deepEqual(encoderListeners.map((l) => l.name).sort(),
      ['EncoderEvent.renderCancel', 'EncoderEvent.renderComplete', 'EncoderEvent.renderError', 'EncoderEvent.renderProgress', 'EncoderEvent.renderQueue']);
  });

  await t.test('ame mode needs Media Encoder', async () => {
    assert.deepEqual(failure(await sim.call('export_sequence', { output, preset, mode: 'ame' })),
      [false, 'ame_missing', 'Adobe Media Encoder isn\'t installed; use mode:"immediate".']);
  });

  await t.test('an unknown mode passes no export type and Premiere refuses it', async () => {
    assert.equal((await sim.call('export_sequence', { output, preset, mode: 'later' })).errorCode, 'premiere_error');
  });
});

test('export_sequence to Media Encoder queues, starts the batch and sends events', async (t) => {
  const f = await fixture(t, { ameInstalled: true });
  const { sim } = f;
  const preset = path.join(f.media, 'H264.epr');
  fs.writeFileSync(preset, '<PremiereData/>');
  const output = path.join(f.out, 'queued.mp4');
  const sent = [];
  const ws = { readyState: 1, send: (text) => sent.push(JSON.parse(text)) };
  sim.plugin.conn.socket = ws;
  t.after(() => { sim.plugin.conn.socket = null; });

  assert.deepEqual(await sim.ok('export_sequence', { output, preset, mode: 'ame' }), { started: true, output, mode: 'ame' });
  await poll('export_complete', () => sent.some((m) => m.kind === 'export_complete'), 5000);
  const exportKinds = () => sent.filter((m) => m.type === 'event' && m.kind.startsWith('export_')).map((m) => m.kind);
  assert.deepEqual(exportKinds(),
    ['export_queued', 'export_progress', 'export_progress', 'export_progress', 'export_progress', 'export_complete']);
  const done = sent.find((m) => m.kind === 'export_complete');
  assert.deepEqual([done.data.mode, done.data.outputFiles], ['encoder', [output]]);
  const progress = sent.filter((m) => m.kind === 'export_progress').map((m) => m.data.progress);
  assert.deepEqual(progress, [0.25, 0.5, 0.75, 1]);
  assert.ok(sent.filter((m) => m.type === 'event' && m.kind.startsWith('export_')).every((m) => m.data.jobID === done.data.jobID), 'one job id throughout');
  assert.equal(typeof done.at, 'number');
  assert.ok(fs.existsSync(output));

  sent.length = 0;
  assert.equal((await sim.ok('export_sequence', { output, preset, mode: 'queue' })).started, true);
  await poll('export_queued', () => sent.some((m) => m.kind === 'export_queued'), 5000);
  assert.deepEqual(exportKinds(), ['export_queued'], "Premiere's own queue waits for the user");
});

test('export_interchange writes OpenTimelineIO and Final Cut Pro XML of the sequence', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  await sim.ok('add_marker', { time: 2, name: 'beat', colorIndex: 1 });

  await t.test('OTIO: Timeline, Stack, Tracks, Clips and Gaps at the sequence rate', async () => {
    const output = path.join(f.out, 'cut.otio');
    assert.deepEqual(await sim.ok('export_interchange', { output }), { exported: true, format: 'otio', output });
    const tl = JSON.parse(fs.readFileSync(output, 'utf8'));
    assert.deepEqual([tl.OTIO_SCHEMA, tl.name, tl.tracks.OTIO_SCHEMA], ['Timeline.1', 'Cut', 'Stack.1']);
    const tracks = tl.tracks.children;
    assert.deepEqual(tracks.map((x) => [x.kind, x.children.length]), [['Video', 1], ['Video', 0], ['Video', 0], ['Audio', 2], ['Audio', 0], ['Audio', 0]]);
    const [clip] = tracks[0].children;
    assert.deepEqual([clip.OTIO_SCHEMA, clip.name, clip.source_range.start_time.value, clip.source_range.duration.value, clip.source_range.duration.rate],
      ['Clip.2', 'interview_12s_25fps.mp4', 0, 300, 25]);
    assert.equal(clip.media_references.DEFAULT_MEDIA.target_url, 'file://' + f.video);
    assert.deepEqual(tl.tracks.markers.map((m) => [m.name, m.color, m.marked_range.start_time.value]), [['beat', 'RED', 50]]);
  });

  await t.test('a gap becomes a Gap of the right length', async () => {
    await sim.ok('add_marker', { time: 0 });
    const output = path.join(f.out, 'gap.otio');
    // Move the music 2 s later through eval, the way an agent would without a verb.
    await sim.ok('eval', { code: `
      const p = await h.project(); const s = await h.findSequence(p);
      const c = await h.findClip({ project: p, sequence: s, rate: null }, "A1:1");
      h.tx(p, "Nudge", () => c.clip.createMoveAction(ppro.TickTime.createWithSeconds(2)));` });
    await sim.ok('export_interchange', { output });
    const a1 = JSON.parse(fs.readFileSync(output, 'utf8')).tracks.children[3].children;
    assert.deepEqual(a1.map((c) => [c.OTIO_SCHEMA, c.source_range.duration.value]), [['Clip.2', 300], ['Gap.1', 50], ['Clip.2', 87.5]]);
  });

  await t.test('FCP XML: xmeml with clip items in frames', async () => {
    const output = path.join(f.out, 'cut.xml');
    assert.deepEqual(await sim.ok('export_interchange', { output, format: 'fcpxml' }), { exported: true, format: 'fcpxml', output });
    const xml = fs.readFileSync(output, 'utf8');
    assert.match(xml, /^<\?xml version="1.0" encoding="UTF-8"\?>\n<!DOCTYPE xmeml>\n<xmeml version="4">/);
    assert.match(xml, /<clipitem id="clipitem-1">\s*<name>interview_12s_25fps.mp4<\/name>[\s\S]*?<start>0<\/start>\s*<end>300<\/end>/);
    assert.equal((xml.match(/<clipitem /g) || []).length, 3);
    assert.equal((xml.match(/<file id="file-1">/g) || []).length, 1, 'a file is described once, then referenced');
  });

  await t.test('AAF, bad formats, missing output and unwritable folders', async () => {
    const aaf = await sim.call('export_interchange', { output: path.join(f.out, 'cut.aaf'), format: 'aaf' });
    assert.deepEqual([aaf.errorCode, aaf.error], ['premiere_error', 'The Premiere simulator cannot write AAF files; export otio or fcpxml instead']);
    assert.deepEqual(failure(await sim.call('export_interchange', { output: path.join(f.out, 'x'), format: 'edl' })), [false, 'bad_args', 'format must be otio, fcpxml, or aaf']);
    assert.deepEqual(failure(await sim.call('export_interchange', {})), [false, 'bad_args', 'output path is required']);
    assert.equal((await sim.call('export_interchange', { output: path.join(f.out, 'no', 'x.otio') })).errorCode, 'export_failed');
  });
});

test('source_monitor opens files and items, seeks, plays and closes', async (t) => {
  const f = await fixture(t);
  const { sim } = f;
  assert.deepEqual(await sim.ok('source_monitor', { item: 'music_3.5s.wav', time: '1.5s' }), { item: 'music_3.5s.wav', position: 1.5 });
  assert.deepEqual(await sim.ok('source_monitor', { path: f.video, time: 20 }), { item: null, position: 12 }, 'a seek stops at the end');
  const playing = await sim.ok('source_monitor', { time: 1, play: true, speed: 2 });
  assert.ok(playing.position >= 1);
  assert.deepEqual(await sim.ok('source_monitor', { close: true }), { closed: true });
  assert.deepEqual(failure(await sim.call('source_monitor', { path: path.join(f.media, 'nothing.mov') })),
    [false, 'open_failed', `The Source Monitor couldn't open ${path.join(f.media, 'nothing.mov')}`]);
  assert.equal((await sim.call('source_monitor', { item: 'nope' })).errorCode, 'item_not_found');
});

test('eval runs an async body with ppro, helpers, args and require', async (t) => {
  const f = await fixture(t);
  const { sim } = f;

  await t.test('scope and result', async () => {
    const r = await sim.ok('eval', { code: 'return { helpers: Object.keys(h).sort(), n: args.n * 2, host: require("uxp").host.version, seq: (await h.findSequence(await h.project())).name };', args: { n: 21 } });
    assert.deepEqual(r.value.helpers, ['allItems', 'componentsOf', 'dbToLevel', 'findClip', 'findComponent', 'findItem', 'findParam', 'findSequence',
      'getTrack', 'handlers', 'levelToDb', 'parseTrack', 'project', 'timeOut', 'toTick', 'trackClips', 'tx'].sort());
    assert.deepEqual([r.value.n, r.value.host, r.value.seq], [42, '26.3.0', 'Cut']);
    assert.deepEqual(await sim.ok('eval', { code: 'return (await h.handlers.list_effects({ search: "mosaic" })).count' }), { value: 1 });
  });

  await t.test('results that are not JSON become JSON-safe', async () => {
    const r = await sim.ok('eval', { code: 'const o = { big: 2n ** 70n, fn() {}, nothing: undefined, t: ppro.TickTime.createWithSeconds(1) }; o.self = o; return o;' });
    assert.equal(r.value.big, '1180591620717411303424');
    assert.equal(r.value.fn, '[function]');
    assert.equal(r.value.nothing, null);
    assert.deepEqual(r.value.t, { seconds: 1, ticks: String(TPS) });
    let depth = 0;
    for (let o = r.value; o && typeof o === 'object'; o = o.self) depth += 1;
    assert.ok(depth <= 8, 'a cycle is cut off');
    assert.deepEqual(await sim.ok('eval', { code: 'return' }), { value: null });
  });

  await t.test('missing code, syntax errors and throws are errors; the project is untouched', async () => {
    const before = sim.undoHistory().length;
    assert.deepEqual(failure(await sim.call('eval', {})),
      [false, 'bad_args', 'code is required: the body of an async function. In scope: ppro, h (helpers), args. `return` a JSON-able value.']);
    assert.match((await sim.call('eval', { code: 'return {' })).error, /^code doesn't parse: /);
    const thrown = await sim.call('eval', { code: 'throw new RangeError("nope")' });
    assert.deepEqual([thrown.errorCode, thrown.error], ['premiere_error', 'nope']);
    assert.equal(sim.undoHistory().length, before);
  });
});

test('rendering: PNG round trip, nested sequences, rotation', async (t) => {
  await t.test('encodePNG output decodes to the same pixels', () => {
    const rgba = new Uint8Array(3 * 2 * 4).map((_, i) => (i % 4 === 3 ? 255 : i * 9));
    const img = decodePNG(encodePNG(3, 2, rgba));
    assert.deepEqual([img.width, img.height, Array.from(img.rgba)], [3, 2, Array.from(rgba)]);
  });

  await t.test('a transition fades the clip over its duration', async () => {
    const f = await fixture(t);
    const { sim } = f;
    await sim.ok('add_transition', { clip: 'V1:0', name: 'Dip to Black', duration: 2 });
    const seq = sim.project().activeSequence;
    const [c1] = colorsFor(f.video);
    const at = (s) => Array.from(renderSequence(seq, BigInt(Math.round(s * TPS)), 16, 9).subarray(0, 3));
    assert.deepEqual(at(5), c1, 'untouched before the transition');
    assert.deepEqual(at(11), c1.map((v) => Math.round(v / 2)), 'half way through the last two seconds');
  });

  await t.test('colour and geometry effects change the picture', async () => {
    const f = await fixture(t);
    const { sim } = f;
    const seq = sim.project().activeSequence;
    const [c1, c2] = colorsFor(f.video);
    const at = (x, y) => Array.from(renderSequence(seq, BigInt(TPS), 16, 9).subarray((y * 16 + x) * 4, (y * 16 + x) * 4 + 3));
    await sim.ok('add_effect', { clip: 'V1:0', name: 'Horizontal Flip' });
    assert.deepEqual(at(0, 0), c2, 'the flipped row starts with the other square (8 squares across)');
    await sim.ok('remove_effect', { clip: 'V1:0', component: 'Horizontal Flip' });
    await sim.ok('add_effect', { clip: 'V1:0', name: 'Invert' });
    assert.deepEqual(at(0, 0), c1.map((v) => 255 - v));
    await sim.ok('add_effect', { clip: 'V1:0', name: 'Black & White' });
    const grey = at(0, 0);
    assert.ok(grey[0] === grey[1] && grey[1] === grey[2], 'grey after black & white');
    await sim.ok('add_effect', { clip: 'V1:0', name: 'Crop' });
    await sim.ok('set_param', { clip: 'V1:0', component: 'Crop', param: 'Left', value: 50 });
    assert.deepEqual(at(2, 4), [0, 0, 0], 'cropped away');
    assert.notDeepEqual(at(12, 4), [0, 0, 0]);
  });

  await t.test('a nested sequence shows its own contents', async () => {
    const f = await fixture(t);
    const { sim } = f;
    const outer = await sim.ok('create_sequence', { name: 'Outer', fromItems: ['Cut'] });
    assert.ok(outer.guid);
    const seq = sim.project().activeSequence;
    const inner = renderSequence(sim.project().sequences[0], 1n * BigInt(TPS), 32, 18);
    const nested = renderSequence(seq, 1n * BigInt(TPS), 32, 18);
    assert.deepEqual(Array.from(nested.subarray(0, 4)), Array.from(inner.subarray(0, 4)));
  });

  await t.test('the Program Monitor shows the active sequence at the playhead', async () => {
    const f = await fixture(t);
    const { sim } = f;
    await sim.ok('set_playhead', { time: 20 });
    assert.deepEqual(Array.from(renderProgramMonitor(sim.app, 4, 2).subarray(0, 4)), [0, 0, 0, 255], 'past the end: black');
    await sim.ok('set_playhead', { time: 1 });
    assert.deepEqual(Array.from(renderProgramMonitor(sim.app, 4, 2).subarray(0, 3)), colorsFor(f.video)[0]);
    await sim.ok('close_project', {});
    assert.deepEqual(Array.from(renderProgramMonitor(sim.app, 2, 1)), [0, 0, 0, 255, 0, 0, 0, 255], 'no project: black');
  });

  await t.test('rotation by 180° mirrors the picture', async () => {
    const f = await fixture(t);
    const { sim } = f;
    const seq = sim.project().activeSequence;
    const before = renderSequence(seq, BigInt(TPS), 16, 9);
    await sim.ok('set_transform', { clip: 'V1:0', rotation: 180 });
    const after = renderSequence(seq, BigInt(TPS), 16, 9);
    // The top-left square turns up bottom-right (above the progress band of the source).
    assert.deepEqual(Array.from(after.subarray((8 * 16 + 15) * 4, (8 * 16 + 15) * 4 + 3)), Array.from(before.subarray(0, 3)));
  });
});

test('on Premiere 25.6, members that arrived with 26.3 are feature-tested', async (t) => {
  const f = await fixture(t, { version: '25.6', ameInstalled: true });
  const { sim } = f;
  assert.deepEqual(failure(await sim.call('source_monitor', { item: 'music_3.5s.wav', time: 1 })),
    [false, 'premiere_too_old', 'Seeking the Source Monitor needs Premiere Pro 26.3 or newer (SourceMonitor.setPosition); this Premiere is 25.6.0.']);
  assert.deepEqual(await sim.ok('source_monitor', {}), { item: null, position: 0 }, 'nothing was opened');
  assert.deepEqual(failure(await sim.call('export_interchange', { output: path.join(f.out, 'x.aaf'), format: 'aaf' })),
    [false, 'premiere_too_old', 'AAF export needs Premiere Pro 26.3 or newer (ProjectConverter.exportAAF); this Premiere is 25.6.0.']);
  await sim.ok('add_marker', { time: 1, name: 'old' });
  assert.deepEqual((await sim.ok('list_markers', {})).markers.map((m) => [m.name, m.guid]), [['old', null]], 'markers have no GUID before 26.3');
  assert.equal((await sim.call('remove_marker', { guid: 'x' })).errorCode, 'premiere_too_old');
  assert.deepEqual(await sim.ok('remove_marker', { name: 'old' }), { removed: 1, verified: true });
  const preset = path.join(f.media, 'p.epr');
  fs.writeFileSync(preset, '<PremiereData/>');
  const output = path.join(f.out, 'q.mp4');
  const queued = await sim.call('export_sequence', { output, preset, mode: 'ame' });
  assert.deepEqual([queued.result.started, queued.warnings], [true, ["Queued in Media Encoder; this Premiere (before 26.3) can't start the queue — start it in Media Encoder."]]);
  assert.equal(sim.app.encoder.queue.length, 1);
});
