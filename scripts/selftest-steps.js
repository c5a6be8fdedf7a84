'use strict';
// The self-test's plan: one step per catalog verb, in the order an agent would build and
// take apart a small edit of its own. Each step makes its verb's one timed call and then
// reads back, through the read verbs, what the call should have changed, comparing it
// with what the state was before.
//
// A step's `t` (see selftest-run.js) offers:
//   t.ctx                 what earlier steps learnt (project, items, sequence, media …)
//   t.call(args)          the timed call of the step's verb; ends the step when it fails
//   t.read(verb, args)    an untimed read; ends the read-back (as unavailable) when it fails
//   t.send(verb, args)    an untimed call whose answer the step inspects itself
//   t.expect(ok, whenWrong, whenRight)  one read-back comparison
//   t.unavailable(why)    the change cannot be read back (and why)
//   t.skip(why)           the verb is not run (and why)
//   t.skipOnFailure(why, codes?)  a failure of the timed call (with one of `codes`, or any)
//                         means "can't run here" (and why)
//   t.note(text)          a remark for the report

const fs = require('fs');
const path = require('path');

/** @param {any} x a time object or a number of seconds */
function sec(x) {
  if (typeof x === 'number') return x;
  return x && typeof x.seconds === 'number' ? x.seconds : NaN;
}

/** @param {number} a @param {number} b @param {number} tol */
function near(a, b, tol) {
  return typeof a === 'number' && isFinite(a) && Math.abs(a - b) <= tol;
}

/** @param {number} x */
function s3(x) {
  return isFinite(x) ? String(Math.round(x * 1000) / 1000) + ' s' : String(x);
}

/** Half a frame of the sequence (plus rounding of the answers' three decimals). @param {any} seq */
function tol(seq) {
  return (seq && seq.fps > 0 ? 0.5 / seq.fps : 0.02) + 0.0015;
}

/** A track of a get_sequence answer by label ("V1", "A2"). @param {any} seq @param {string} label */
function track(seq, label) {
  const all = (seq.videoTracks || []).concat(seq.audioTracks || []);
  const found = all.find((tr) => tr.track === label);
  return found || { track: label, name: null, muted: false, clips: [] };
}

/** @param {any} seq @param {string} label */
function clips(seq, label) {
  return track(seq, label).clips || [];
}

/**
 * A path for comparing: symbolic links resolved where the file exists (macOS's temporary
 * folders live under /var, a link to /private/var, and Premiere may answer either), then
 * forward slashes and lower case.
 * @param {string} p
 */
function norm(p) {
  let text = String(p || '');
  try { text = fs.realpathSync.native(text); } catch (e) { /* not on disk (yet): as given */ }
  return text.replace(/\\/g, '/').replace(/\/+$/, '').toLowerCase();
}

/** The width and height of PNG bytes, or null when they are not a PNG. @param {Buffer | null} bytes */
function pngSize(bytes) {
  if (!bytes || bytes.length < 24 || bytes.readUInt32BE(0) !== 0x89504e47 || bytes.toString('ascii', 12, 16) !== 'IHDR') return null;
  return { width: bytes.readUInt32BE(16), height: bytes.readUInt32BE(20) };
}

/** @param {string} file */
function readIfAny(file) {
  try { return fs.readFileSync(file); } catch (e) { return null; }
}

/**
 * Waits (up to `ms`) for one of the files `candidates()` names to exist with a size that
 * stays the same for 200 ms; answers it, or null.
 * @param {() => string[]} candidates @param {number} ms
 */
async function stableFile(candidates, ms) {
  const end = Date.now() + ms;
  let last = -1;
  for (;;) {
    const found = candidates().find((f) => { try { return fs.statSync(f).isFile(); } catch (e) { return false; } });
    if (found) {
      const size = fs.statSync(found).size;
      if (size > 0 && size === last) return found;
      last = size;
    }
    if (Date.now() >= end) return found || null;
    await new Promise((r) => setTimeout(r, 200));
  }
}

const XMP_TEXT = 'cutrelay self-test';

/** Adds a dc:description to an XMP packet (or makes a minimal packet). @param {any} xmp */
function withDescription(xmp) {
  const description = '<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/"><dc:description><rdf:Alt>' +
    '<rdf:li xml:lang="x-default">' + XMP_TEXT + '</rdf:li></rdf:Alt></dc:description></rdf:Description>';
  if (typeof xmp === 'string' && xmp.indexOf('</rdf:RDF>') >= 0) return xmp.replace('</rdf:RDF>', description + '</rdf:RDF>');
  return '<?xpacket begin="\ufeff" id="W5M0MpCehiHzreSzNTczkc9d"?>\n<x:xmpmeta xmlns:x="adobe:ns:meta/">' +
    '<rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">' + description + '</rdf:RDF></x:xmpmeta>\n<?xpacket end="w"?>';
}

// ---------------------------------------------------------------------------------------
// Reads used by several steps

/** @param {any} t */
async function sequence(t) {
  return t.read('get_sequence', { sequence: t.ctx.seq.guid });
}

/** @param {any} t */
async function items(t) {
  return (await t.read('list_project_items', { limit: 5000 })).items || [];
}

/** @param {any} t @param {string} clip */
async function effects(t, clip) {
  return (await t.read('get_clip_effects', { clip, sequence: t.ctx.seq.guid })).components || [];
}

/** A parameter of a get_clip_effects answer. @param {any[]} comps @param {string} component @param {string} param */
function param(comps, component, param) {
  const c = comps.find((x) => String(x.displayName).toLowerCase() === component.toLowerCase() || x.matchName === component);
  return c ? (c.params || []).find((p) => String(p.name).toLowerCase() === param.toLowerCase()) || null : null;
}

/** @param {any} t */
async function markers(t) {
  return (await t.read('list_markers', { sequence: t.ctx.seq.guid })).markers || [];
}

/** @param {any} t */
async function sequences(t) {
  return (await t.read('list_sequences', {})).sequences || [];
}

/** @param {any} t */
async function selection(t) {
  return t.read('get_selection', { sequence: t.ctx.seq.guid });
}

/** Runs ExtendScript as a read; null when the CEP helper can't answer. @param {any} t @param {string} code */
async function esRead(t, code) {
  const a = await t.send('extendscript', { code });
  return a && a.success ? a.value : null;
}

/** Runs UXP code as a read; null when eval can't answer. @param {any} t @param {string} code @param {any} args */
async function uxpRead(t, code, args) {
  const a = await t.send('eval', { code, args });
  return a && a.success ? a.value : null;
}

/** The track add_tracks added, which the track steps work on (never one of the others). @param {any} t */
function addedTrack(t) {
  if (!t.ctx.addedTrack) t.skip('needs the video track premiere_add_tracks should have added');
  return t.ctx.addedTrack;
}

// ---------------------------------------------------------------------------------------
// The steps

/**
 * @typedef {{ verb: string, kind: 'read' | 'edit', stage: 'bridge' | 'project' | 'items' | 'timeline',
 *   guard?: boolean, run: (t: any) => Promise<void> }} Step
 */

/** @type {Step[]} */
const STEPS = [
  // --- The bridge and the plug-ins, before anything of Premiere's is touched -------------
  { verb: 'describe', kind: 'read', stage: 'bridge', async run(t) {
    const a = await t.call({});
    const c = a.catalog || {};
    t.expect(Array.isArray(c.verbs) && c.verbCount === c.verbs.length,
      'verbCount ' + c.verbCount + ' does not match the ' + (c.verbs || []).length + ' verbs listed');
  } },
  { verb: 'readiness', kind: 'read', stage: 'bridge', async run(t) {
    const a = await t.call({});
    t.expect(typeof a.state === 'string', 'no state in the answer');
  } },
  { verb: 'status', kind: 'read', stage: 'bridge', async run(t) {
    const a = await t.call({});
    t.expect(typeof a.bridgeVersion === 'string', 'no bridgeVersion in the answer');
  } },
  { verb: 'wait_for_plugin', kind: 'read', stage: 'bridge', async run(t) {
    const a = await t.call({ timeoutSec: t.ctx.opts.waitSec });
    t.expect(a.connected === true, 'the plug-in did not connect');
  } },
  { verb: 'ping', kind: 'read', stage: 'bridge', async run(t) {
    const a = await t.call({});
    t.expect(a.pong === true && typeof a.premiereVersion === 'string', 'no pong and Premiere version in the answer');
  } },
  { verb: 'plugin_info', kind: 'read', stage: 'bridge', async run(t) {
    const a = await t.call({});
    t.ctx.pluginInfo = a;
  } },
  { verb: 'install_plugin', kind: 'edit', stage: 'bridge', async run(t) {
    const info = t.ctx.pluginInfo || {};
    const v = (/** @type {any} */ x) => JSON.stringify(x === undefined ? null : x);
    t.skip('it would reinstall the plug-ins the self-test is talking to and change CEP settings; checked with premiere_plugin_info instead (installed ' +
      v(info.installedVersion) + ', bundled ' + v(info.bundledVersion) + ')');
  } },
  { verb: 'launch', kind: 'read', stage: 'bridge', async run(t) {
    if (!t.ctx.env.premiereRunning) {
      t.skip(t.ctx.env.premiereInstalled
        ? 'the bridge does not see Premiere Pro running, so launch would start an application'
        : 'the bridge finds no Premiere Pro install on this machine (' + (t.ctx.env.simulated ? 'the plug-ins run in the simulator' : 'nothing to launch') + ')');
    }
    // With Premiere already running and no project, launch only answers alreadyRunning.
    t.note('Premiere already runs, so launch has nothing to start');
    const a = await t.call({ wait: false });
    t.expect(a.alreadyRunning === true, 'launch did not answer alreadyRunning although Premiere runs: ' + JSON.stringify(a));
  } },
  { verb: 'quit', kind: 'read', stage: 'bridge', async run(t) {
    if (t.ctx.env.premiereRunning) {
      t.skip(t.ctx.env.simulated ? 'the simulated Premiere counts as running, and quit would only ask it to quit'
        : 'would quit the running Premiere Pro (the user\'s)');
    }
    // Not running as far as the bridge can see: quit only answers wasRunning false.
    t.note('Premiere is not seen running, so quit has nothing to quit');
    const a = await t.call({});
    t.expect(a.wasRunning === false, 'quit did not answer wasRunning: false: ' + JSON.stringify(a));
  } },
  { verb: 'list_export_presets', kind: 'read', stage: 'bridge', async run(t) {
    const a = await t.call({ search: t.ctx.opts.presetSearch });
    const found = (a.presets || []).map((p) => p.path).filter((p) => typeof p === 'string');
    if (!t.ctx.preset && found.length > 0) t.ctx.preset = found[0];
  } },

  // --- A project of its own -------------------------------------------------------------
  { verb: 'new_project', kind: 'edit', stage: 'bridge', async run(t) {
    const a = await t.call({ path: t.ctx.projectPath });
    t.ctx.project = { name: a.name, path: a.path || t.ctx.projectPath };
    t.ctx.projectOpen = true;
    const p = await t.read('get_project', {});
    t.expect(norm(p.path) === norm(t.ctx.project.path),
      'the active project is ' + p.path + ', not ' + t.ctx.project.path, 'get_project shows ' + p.name);
  } },
  { verb: 'save_project', kind: 'edit', stage: 'project', async run(t) {
    const a = await t.call({});
    const file = await stableFile(() => [t.ctx.project.path], 10000);
    t.expect(a.saved !== false && file !== null, t.ctx.project.path + ' is not on disk after saving', t.ctx.project.path + ' is on disk');
  } },
  { verb: 'import_media', kind: 'edit', stage: 'project', async run(t) {
    const m = t.ctx.media;
    const files = [m.stillA, m.stillB, m.spare, m.tone];
    const a = await t.call({ paths: files });
    const got = a.items || [];
    const byPath = (/** @type {string} */ f) => got.find((it) => norm(it.mediaPath) === norm(f));
    const [stillA, stillB, spare, tone] = files.map(byPath);
    t.ctx.items = { stillA, stillB, spare, tone };
    const listed = await items(t);
    const missing = files.filter((f) => !listed.some((it) => norm(it.mediaPath) === norm(f)));
    t.expect(missing.length === 0 && stillA && stillB && spare && tone,
      'not in the project after importing: ' + missing.map((f) => path.basename(f)).join(', '), 'list_project_items shows all ' + files.length + ' files');
    // The numbered stills, as one clip: video media made without an encoder.
    const seq = await t.send('import_media', { paths: [m.sequence], asNumberedStills: true });
    const fresh = seq && seq.success ? seq.items || [] : [];
    const frames = fresh.find((it) => norm(it.mediaPath).indexOf(norm(path.dirname(m.sequence))) === 0) || fresh[0] || null;
    if (frames) {
      t.ctx.items.frames = frames;
      const d = frames.duration;
      // A clip of the frames (not a single still) lasts SEQUENCE_FRAMES frames at a common rate.
      t.ctx.haveVideo = typeof d === 'number' && [23.976, 24, 25, 29.97, 30, 50, 59.94, 60].some((fps) => Math.abs(d * fps - t.ctx.sequenceFrames) < 0.6);
      t.note('numbered stills imported as ' + (t.ctx.haveVideo ? 'one clip of ' + s3(d) : 'a still (no video media for the verbs that need it)'));
    } else {
      t.note('the numbered stills did not import' + (seq && seq.error ? ': ' + seq.error : ''));
    }
  } },
  { verb: 'list_project_items', kind: 'read', stage: 'items', async run(t) {
    const a = await t.call({});
    t.expect((a.items || []).some((it) => it.id === t.ctx.items.stillA.id), 'the imported still is not listed');
  } },
  { verb: 'get_project', kind: 'read', stage: 'project', async run(t) {
    const a = await t.call({});
    t.expect(norm(a.path) === norm(t.ctx.project.path), 'get_project answered ' + a.path + ', not the self-test\'s project');
  } },
  { verb: 'create_bin', kind: 'edit', stage: 'project', async run(t) {
    const a = await t.call({ name: 'Selftest Bin' });
    t.ctx.bin = a.created || 'Selftest Bin';
    const listed = await items(t);
    t.expect(listed.some((it) => it.type === 'bin' && it.name === t.ctx.bin),
      'no bin named ' + t.ctx.bin + ' in the project', 'list_project_items shows bin ' + t.ctx.bin);
  } },
  { verb: 'move_item', kind: 'edit', stage: 'items', async run(t) {
    const spare = t.ctx.items.spare;
    await t.call({ item: spare.id, bin: t.ctx.bin });
    const it = (await items(t)).find((x) => x.id === spare.id);
    t.expect(it && it.bin === t.ctx.bin,
      spare.name + ' is in bin ' + (it ? it.bin : '(gone)') + ', not ' + t.ctx.bin, spare.name + ' is in ' + t.ctx.bin);
  } },
  { verb: 'rename_item', kind: 'edit', stage: 'items', async run(t) {
    const spare = t.ctx.items.spare;
    await t.call({ item: spare.id, name: 'Selftest Spare' });
    const it = (await items(t)).find((x) => x.id === spare.id);
    t.expect(it && it.name === 'Selftest Spare',
      'the item is named ' + (it ? it.name : '(gone)') + ', not Selftest Spare', 'list_project_items shows the new name');
  } },
  { verb: 'set_item_color', kind: 'edit', stage: 'items', async run(t) {
    const spare = t.ctx.items.spare;
    await t.call({ item: spare.id, colorIndex: 5 });
    // No read verb shows label colours; the UXP API reads them back through eval.
    const got = await uxpRead(t, 'const r = await h.findItem(await h.project(), args.id); return await r.item.getColorLabelIndex();', { id: spare.id });
    if (typeof got !== 'number') t.unavailable('no read verb shows label colours, and eval could not read it');
    else t.expect(got === 5, 'the label colour is ' + got + ', not 5', 'eval reads label colour 5');
  } },
  { verb: 'get_metadata', kind: 'read', stage: 'items', async run(t) {
    const a = await t.call({ item: t.ctx.items.stillA.id, xmp: true });
    t.ctx.xmp = a.xmp;
  } },
  { verb: 'set_xmp_metadata', kind: 'edit', stage: 'items', async run(t) {
    const id = t.ctx.items.stillA.id;
    await t.call({ item: id, xmp: withDescription(t.ctx.xmp) });
    const back = await t.read('get_metadata', { item: id, xmp: true });
    t.expect(typeof back.xmp === 'string' && back.xmp.indexOf(XMP_TEXT) >= 0,
      'the XMP read back lacks the description written', 'get_metadata shows the description written');
  } },

  // --- A sequence and its timeline --------------------------------------------------------
  { verb: 'create_sequence', kind: 'edit', stage: 'items', async run(t) {
    const a = await t.call({ name: 'Selftest Sequence', fromItems: [t.ctx.items.stillA.id] });
    t.ctx.seq = { name: a.name, guid: a.guid };
    const all = await sequences(t);
    const mine = all.find((s) => s.guid === a.guid);
    const s = await sequence(t);
    t.expect(mine && mine.active && clips(s, 'V1').length === 1,
      'the new sequence is ' + (mine ? (mine.active ? '' : 'not active and ') + 'holds ' + clips(s, 'V1').length + ' clips on V1' : 'not listed'),
      'list_sequences shows it active with the still on V1');
  } },
  { verb: 'list_sequences', kind: 'read', stage: 'timeline', async run(t) {
    const a = await t.call({});
    t.expect((a.sequences || []).some((s) => s.guid === t.ctx.seq.guid), 'the self-test\'s sequence is not listed');
  } },
  { verb: 'get_sequence', kind: 'read', stage: 'timeline', async run(t) {
    const a = await t.call({ sequence: t.ctx.seq.guid });
    t.expect(a.guid === t.ctx.seq.guid && Array.isArray(a.videoTracks), 'get_sequence answered another sequence or no tracks');
  } },
  { verb: 'get_sequence_settings', kind: 'read', stage: 'timeline', async run(t) {
    const a = await t.call({ sequence: t.ctx.seq.guid });
    t.expect(a.width > 0 && a.height > 0, 'no frame size in the answer');
  } },
  { verb: 'set_sequence_settings', kind: 'edit', stage: 'timeline', async run(t) {
    const was = await t.read('get_sequence_settings', { sequence: t.ctx.seq.guid });
    const [width, height] = was.width === 1920 ? [1280, 720] : [1920, 1080];
    await t.call({ sequence: t.ctx.seq.guid, width, height, maxRenderQuality: was.maxRenderQuality !== true });
    const s = await t.read('get_sequence_settings', { sequence: t.ctx.seq.guid });
    t.expect(s.width === width && s.height === height && s.maxRenderQuality === (was.maxRenderQuality !== true),
      'the settings read back are ' + s.width + '×' + s.height + ', maxRenderQuality ' + s.maxRenderQuality + ', not ' + width + '×' + height + ' and ' + (was.maxRenderQuality !== true),
      'get_sequence_settings shows ' + width + '×' + height + ', maxRenderQuality ' + s.maxRenderQuality);
  } },
  { verb: 'set_playhead', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ time: 1.5, sequence: t.ctx.seq.guid });
    const s = await sequence(t);
    t.expect(near(sec(s.playhead), 1.5, tol(s)),
      'the playhead is at ' + s3(sec(s.playhead)) + ', not 1.5 s', 'get_sequence shows the playhead at ' + s3(sec(s.playhead)));
  } },
  { verb: 'append_clip', kind: 'edit', stage: 'timeline', async run(t) {
    const before = clips(await sequence(t), 'V1');
    await t.call({ item: t.ctx.items.stillB.id, track: 'V1' });
    const s = await sequence(t);
    const after = clips(s, 'V1');
    const lastEnd = before.length ? sec(before[before.length - 1].end) : 0;
    const added = after[after.length - 1];
    t.expect(after.length === before.length + 1 && added && near(sec(added.start), lastEnd, tol(s)),
      'V1 holds ' + after.length + ' clips (was ' + before.length + ')' + (added ? ', the last starting at ' + s3(sec(added.start)) : '') + '; expected one more starting at ' + s3(lastEnd),
      'V1:' + (after.length - 1) + ' starts at ' + s3(lastEnd));
  } },
  { verb: 'overwrite_clip', kind: 'edit', stage: 'timeline', async run(t) {
    const before = await sequence(t);
    await t.call({ item: t.ctx.items.tone.id, time: 0, track: 'V1', audioTrack: 'A1' });
    const s = await sequence(t);
    const a1 = clips(s, 'A1');
    const got = a1.find((c) => near(sec(c.start), 0, tol(s)));
    t.expect(got && near(got.duration, t.ctx.toneSeconds, tol(s)) && clips(s, 'V1').length === clips(before, 'V1').length,
      'A1 should hold the ' + t.ctx.toneSeconds + ' s tone at 0 s (V1 untouched) but holds ' + JSON.stringify(a1.map((c) => [sec(c.start), c.duration])),
      'A1:0 is the tone, 0 to ' + s3(t.ctx.toneSeconds));
  } },
  { verb: 'insert_clip', kind: 'edit', stage: 'timeline', async run(t) {
    const before = await sequence(t);
    await t.call({ item: t.ctx.items.stillA.id, time: 2, track: 'V2', audioTrack: 'A2', limitShift: true });
    const s = await sequence(t);
    const v2 = clips(s, 'V2');
    const spans = (/** @type {any} */ seq, /** @type {string} */ label) => JSON.stringify(clips(seq, label).map((c) => [sec(c.start), sec(c.end)]));
    const same = (/** @type {string} */ label) => spans(s, label) === spans(before, label);
    t.expect(v2.length === 1 && near(sec(v2[0].start), 2, tol(s)) && same('V1') && same('A1'),
      'V2 should hold one clip at 2 s with V1 and A1 unchanged; V2 holds ' + JSON.stringify(v2.map((c) => sec(c.start))) + (same('V1') && same('A1') ? '' : ' and V1/A1 moved'),
      'V2:0 starts at 2 s, V1 and A1 unchanged');
  } },
  { verb: 'move_clip', kind: 'edit', stage: 'timeline', async run(t) {
    const was = clips(await sequence(t), 'V2')[0];
    await t.call({ clip: 'V2:0', by: 1 });
    const s = await sequence(t);
    const now = clips(s, 'V2')[0];
    const want = sec(was.start) + 1;
    t.expect(now && near(sec(now.start), want, tol(s)),
      'V2:0 should start at ' + s3(want) + ' but starts at ' + s3(now ? sec(now.start) : NaN), 'V2:0 starts at ' + s3(want));
  } },
  { verb: 'trim_clip', kind: 'edit', stage: 'timeline', async run(t) {
    const was = clips(await sequence(t), 'V2')[0];
    await t.call({ clip: 'V2:0', trimEnd: 1 });
    const s = await sequence(t);
    const now = clips(s, 'V2')[0];
    const want = sec(was.end) - 1;
    t.expect(now && near(sec(now.end), want, tol(s)) && near(sec(now.start), sec(was.start), tol(s)),
      'V2:0 should end at ' + s3(want) + ' but ends at ' + s3(now ? sec(now.end) : NaN), 'V2:0 ends at ' + s3(want));
  } },
  { verb: 'duplicate_clip', kind: 'edit', stage: 'timeline', async run(t) {
    const was = clips(await sequence(t), 'V2');
    await t.call({ clip: 'V2:0', offset: 6 });
    const s = await sequence(t);
    const now = clips(s, 'V2');
    const want = sec(was[0].start) + 6;
    t.expect(now.length === was.length + 1 && now.some((c) => near(sec(c.start), want, tol(s))),
      'V2 should gain a copy at ' + s3(want) + ' but holds clips at ' + now.map((c) => s3(sec(c.start))).join(', '), 'V2:1 is a copy at ' + s3(want));
  } },
  { verb: 'rename_clip', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ clip: 'V2:1', name: 'Selftest Copy' });
    const c = clips(await sequence(t), 'V2')[1];
    t.expect(c && c.name === 'Selftest Copy', 'V2:1 is named ' + (c ? c.name : '(gone)') + ', not Selftest Copy', 'get_sequence shows the new name');
  } },
  { verb: 'set_clip_enabled', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ clip: 'V2:1', enabled: false });
    const c = clips(await sequence(t), 'V2')[1];
    t.expect(c && c.disabled === true, 'V2:1 is still enabled', 'get_sequence shows V2:1 disabled');
  } },
  { verb: 'remove_gap', kind: 'edit', stage: 'timeline', async run(t) {
    const was = clips(await sequence(t), 'V2');
    await t.call({ clip: 'V2:1' });
    const s = await sequence(t);
    const now = clips(s, 'V2');
    const want = sec(was[0].end);
    t.expect(now[1] && near(sec(now[1].start), want, tol(s)),
      'V2:1 should start at ' + s3(want) + ' but starts at ' + s3(now[1] ? sec(now[1].start) : NaN), 'V2:1 now starts at ' + s3(want));
  } },
  { verb: 'razor', kind: 'edit', stage: 'timeline', async run(t) {
    const before = await sequence(t);
    const first = clips(before, 'V1')[0];
    const fps = before.fps > 0 ? before.fps : 25;
    const at = Math.round((sec(first.start) + (sec(first.end) - sec(first.start)) / 2) * fps) / fps;
    const a = await t.call({ time: at, tracks: ['V1'] });
    t.note('method ' + a.method);
    const s = await sequence(t);
    const v1 = clips(s, 'V1');
    t.expect(v1.length === clips(before, 'V1').length + 1 && near(sec(v1[0].end), at, tol(s)) && near(sec(v1[1].start), at, tol(s)),
      'V1:0 should be cut at ' + s3(at) + ' but V1 holds ' + JSON.stringify(v1.map((c) => [sec(c.start), sec(c.end)])), 'V1:0 ends and V1:1 starts at ' + s3(at));
  } },
  { verb: 'remove_clips', kind: 'edit', stage: 'timeline', async run(t) {
    const was = clips(await sequence(t), 'V1');
    await t.call({ clip: 'V1:1', ripple: true });
    const s = await sequence(t);
    const now = clips(s, 'V1');
    const want = sec(was[1].start);
    t.expect(now.length === was.length - 1 && now[1] && near(sec(now[1].start), want, tol(s)),
      'after the ripple delete V1 should hold ' + (was.length - 1) + ' clips with V1:1 at ' + s3(want) + ' but holds ' + JSON.stringify(now.map((c) => sec(c.start))),
      'V1:1 is gone and the next clip moved up to ' + s3(want));
  } },
  { verb: 'select_clips', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ clip: 'V1:0' });
    const sel = await selection(t);
    t.expect(sel.count >= 1, 'nothing is selected', 'get_selection shows ' + sel.count + ' selected');
  } },
  { verb: 'get_selection', kind: 'read', stage: 'timeline', async run(t) {
    const a = await t.call({ sequence: t.ctx.seq.guid });
    t.expect(a.count >= 1, 'the selection made by select_clips is not listed');
  } },
  { verb: 'nest_selection', kind: 'edit', stage: 'timeline', async run(t) {
    const before = await sequences(t);
    const a = await t.call({});
    const after = await sequences(t);
    t.expect(typeof a.nested === 'string' && after.length === before.length + 1 && after.some((s) => s.name === a.nested),
      'no new sequence ' + JSON.stringify(a.nested) + ' in list_sequences', 'list_sequences shows ' + a.nested);
  } },
  { verb: 'clear_selection', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ sequence: t.ctx.seq.guid });
    const sel = await selection(t);
    t.expect(sel.count === 0, sel.count + ' clips are still selected', 'get_selection is empty');
  } },
  { verb: 'set_in_out', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ in: 0.5, out: 4, sequence: t.ctx.seq.guid });
    const s = await sequence(t);
    t.expect(near(sec(s.inPoint), 0.5, tol(s)) && near(sec(s.outPoint), 4, tol(s)),
      'in/out read back as ' + s3(sec(s.inPoint)) + ' / ' + s3(sec(s.outPoint)) + ', not 0.5 s / 4 s', 'get_sequence shows in 0.5 s, out 4 s');
  } },
  { verb: 'set_track_mute', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ track: 'A1', mute: true });
    const tr = track(await sequence(t), 'A1');
    t.expect(tr.muted === true, 'A1 is not muted', 'get_sequence shows A1 muted');
  } },
  { verb: 'rename_track', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ track: 'V2', name: 'Selftest V2' });
    const tr = track(await sequence(t), 'V2');
    t.expect(tr.name === 'Selftest V2', 'V2 is named ' + tr.name + ', not Selftest V2', 'get_sequence shows V2 renamed');
  } },
  { verb: 'add_tracks', kind: 'edit', stage: 'timeline', async run(t) {
    const before = await sequence(t);
    await t.call({ video: 1, audio: 1 });
    const s = await sequence(t);
    const v = s.videoTracks.length;
    const a = s.audioTracks.length;
    if (v === before.videoTracks.length + 1) t.ctx.addedTrack = 'V' + v;
    t.expect(v === before.videoTracks.length + 1 && a === before.audioTracks.length + 1,
      'the sequence has ' + v + ' video and ' + a + ' audio tracks, not ' + (before.videoTracks.length + 1) + ' and ' + (before.audioTracks.length + 1),
      'get_sequence shows ' + v + ' video and ' + a + ' audio tracks');
  } },
  { verb: 'lock_track', kind: 'edit', stage: 'timeline', async run(t) {
    const label = addedTrack(t);
    await t.call({ track: label, locked: true });
    // No read verb shows track locks; ExtendScript does.
    const got = await esRead(t, 'return app.project.activeSequence.videoTracks[' + (Number(label.slice(1)) - 1) + '].isLocked() ? 1 : 0;');
    if (got === null) t.unavailable('no read verb shows track locks, and ExtendScript could not read it');
    else t.expect(Number(got) === 1, label + ' is not locked', 'ExtendScript reads ' + label + ' locked');
  } },
  { verb: 'set_track_target', kind: 'edit', stage: 'timeline', async run(t) {
    const label = addedTrack(t);
    await t.call({ track: label, targeted: true });
    const got = await esRead(t, 'return app.project.activeSequence.videoTracks[' + (Number(label.slice(1)) - 1) + '].isTargeted() ? 1 : 0;');
    if (got === null) t.unavailable('no read verb shows track targeting, and ExtendScript could not read it');
    else t.expect(Number(got) === 1, label + ' is not targeted', 'ExtendScript reads ' + label + ' targeted');
  } },
  { verb: 'remove_track', kind: 'edit', stage: 'timeline', async run(t) {
    const label = addedTrack(t);
    // Unlocked first: the track was locked by the step before.
    await t.send('lock_track', { track: label, locked: false });
    const before = await sequence(t);
    await t.call({ track: label });
    const s = await sequence(t);
    t.expect(s.videoTracks.length === before.videoTracks.length - 1,
      'the sequence still has ' + s.videoTracks.length + ' video tracks', label + ' is gone');
  } },
  { verb: 'scene_edit_detection', kind: 'edit', stage: 'timeline', async run(t) {
    const frames = t.ctx.items.frames;
    if (!frames) t.skip('needs video media: the numbered stills did not import');
    // The frames go to the end of V1; their picture changes completely half-way.
    const placed = await t.send('append_clip', { item: frames.id, track: 'V1' });
    if (!placed || !placed.success) t.skip('needs the frames on the timeline, and append_clip failed: ' + (placed ? placed.error : 'no answer'));
    const s0 = await sequence(t);
    const v1 = clips(s0, 'V1');
    t.ctx.framesClip = 'V1:' + (v1.length - 1);
    const clip = v1[v1.length - 1];
    const before = await markers(t);
    if (!t.ctx.haveVideo) t.skipOnFailure('needs video media (the numbered stills came in as a still)');
    const a = await t.call({ clip: t.ctx.framesClip, operation: 'marker' });
    // The analysis may finish after the answer: wait a little for the marker.
    const mid = sec(clip.start) + (sec(clip.end) - sec(clip.start)) * t.ctx.sequenceCut / t.ctx.sequenceFrames;
    let found = null;
    for (let i = 0; i < 50 && !found; i++) {
      const now = await markers(t);
      found = now.find((m) => !before.some((b) => b.guid === m.guid && sec(b.start) === sec(m.start)) && near(sec(m.start), mid, 2 * tol(s0)));
      if (!found) await new Promise((r) => setTimeout(r, 200));
    }
    if (!t.ctx.haveVideo) t.unavailable('the numbered stills came in as a still, which has no scene cut to find (answered started: ' + JSON.stringify(a.started) + ')');
    else t.expect(found !== undefined && found !== null, 'no marker at the cut (' + s3(mid) + ') within 10 s', 'a marker at the cut, ' + s3(mid));
  } },
  { verb: 'set_speed', kind: 'edit', stage: 'timeline', async run(t) {
    const ref = t.ctx.framesClip || 'V2:0';
    if (!t.ctx.haveVideo) t.skipOnFailure('needs video media (it ran on a still)');
    const before = clips(await sequence(t), ref.split(':')[0])[Number(ref.split(':')[1])];
    await t.call({ clip: ref, speed: 2 });
    const s = await sequence(t);
    const now = clips(s, ref.split(':')[0])[Number(ref.split(':')[1])];
    const want = before.duration / 2;
    t.expect(now && near(now.duration, want, 2 * tol(s)),
      ref + ' should last ' + s3(want) + ' at double speed but lasts ' + s3(now ? now.duration : NaN),
      ref + ' lasts ' + s3(want) + ', speed ' + (now ? now.speed : '?'));
  } },
  { verb: 'list_effects', kind: 'read', stage: 'project', async run(t) {
    const a = await t.call({ kind: 'video', search: 'gaussian' });
    t.expect(a.count >= 1, 'no video effect matches "gaussian"');
  } },
  { verb: 'add_effect', kind: 'edit', stage: 'timeline', async run(t) {
    const before = await effects(t, 'V1:0');
    await t.call({ clip: 'V1:0', name: 'Gaussian Blur' });
    const after = await effects(t, 'V1:0');
    t.expect(after.length === before.length + 1 && after.some((c) => c.displayName === 'Gaussian Blur'),
      'V1:0 has no Gaussian Blur component', 'get_clip_effects lists Gaussian Blur');
  } },
  { verb: 'get_clip_effects', kind: 'read', stage: 'timeline', async run(t) {
    const a = await t.call({ clip: 'V1:0', sequence: t.ctx.seq.guid });
    t.expect((a.components || []).length >= 2, 'fewer than two components (Motion, Opacity)');
  } },
  { verb: 'set_param', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ clip: 'V1:0', component: 'Gaussian Blur', param: 'Blurriness', value: 25 });
    const p = param(await effects(t, 'V1:0'), 'Gaussian Blur', 'Blurriness');
    t.expect(p && near(p.value, 25, 0.001),
      'Blurriness is ' + (p ? JSON.stringify(p.value) : '(missing)') + ', not 25', 'get_clip_effects shows Blurriness 25');
  } },
  { verb: 'add_keyframes', kind: 'edit', stage: 'timeline', async run(t) {
    const c = clips(await sequence(t), 'V1')[0];
    const at = [sec(c.start) + 0.2, sec(c.start) + 1];
    t.ctx.keyTimes = at;
    await t.call({ clip: 'V1:0', component: 'Opacity', param: 'Opacity', keyframes: [{ time: at[0], value: 100 }, { time: at[1], value: 40 }] });
    const s = await sequence(t);
    const p = param(await effects(t, 'V1:0'), 'Opacity', 'Opacity');
    const keys = p ? p.keyframes || [] : [];
    t.expect(p && p.animated && at.every((x) => keys.some((k) => near(k, x, tol(s)))),
      'Opacity keyframes read back as ' + JSON.stringify(keys) + ', not at ' + JSON.stringify(at), 'Opacity keyframed at ' + at.map(s3).join(' and '));
  } },
  { verb: 'remove_keyframes', kind: 'edit', stage: 'timeline', async run(t) {
    const at = t.ctx.keyTimes || [0.2, 1];
    await t.call({ clip: 'V1:0', component: 'Opacity', param: 'Opacity', time: at[1] });
    const s = await sequence(t);
    const p = param(await effects(t, 'V1:0'), 'Opacity', 'Opacity');
    const keys = p ? p.keyframes || [] : [];
    t.expect(keys.length === 1 && near(keys[0], at[0], tol(s)),
      'Opacity keyframes read back as ' + JSON.stringify(keys) + ', not just ' + s3(at[0]), 'only the keyframe at ' + s3(at[0]) + ' is left');
  } },
  { verb: 'set_transform', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ clip: 'V1:0', scale: 80, rotation: 15 });
    const comps = await effects(t, 'V1:0');
    const scale = param(comps, 'Motion', 'Scale');
    const rotation = param(comps, 'Motion', 'Rotation');
    t.expect(scale && near(scale.value, 80, 0.001) && rotation && near(rotation.value, 15, 0.001),
      'Motion reads back Scale ' + (scale ? scale.value : '?') + ', Rotation ' + (rotation ? rotation.value : '?') + ', not 80 and 15', 'get_clip_effects shows Scale 80, Rotation 15');
  } },
  { verb: 'remove_effect', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ clip: 'V1:0', component: 'Gaussian Blur' });
    const after = await effects(t, 'V1:0');
    t.expect(!after.some((c) => c.displayName === 'Gaussian Blur'),
      'Gaussian Blur is still on V1:0', 'get_clip_effects no longer lists Gaussian Blur');
  } },
  { verb: 'add_transition', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ clip: 'V1:0', name: 'Cross Dissolve', duration: 0.5, position: 'end' });
    const seen = await transitions(t);
    if (seen === null) t.unavailable('no read verb lists transitions yet');
    else t.expect(seen.some((x) => /dissolve/i.test(String(x.name || x.matchName))),
      'no dissolve among V1:0\'s transitions ' + JSON.stringify(seen), 'a dissolve is listed on V1:0');
  } },
  { verb: 'remove_transition', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ clip: 'V1:0', position: 'end' });
    const seen = await transitions(t);
    if (seen === null) t.unavailable('no read verb lists transitions yet');
    else t.expect(!seen.some((x) => /dissolve/i.test(String(x.name || x.matchName))),
      'the dissolve is still listed on V1:0', 'no transition is listed on V1:0');
  } },
  { verb: 'insert_mogrt', kind: 'edit', stage: 'timeline', async run(t) {
    if (!t.ctx.mogrt) t.skip('needs a Motion Graphics template (.mogrt): none found (' + t.ctx.mogrtSearched + '); pass --mogrt FILE');
    const before = clips(await sequence(t), 'V3');
    await t.call({ path: t.ctx.mogrt, time: 0, track: 'V3' });
    const s = await sequence(t);
    const after = clips(s, 'V3');
    t.expect(after.length === before.length + 1 && after.some((c) => near(sec(c.start), 0, tol(s))),
      'V3 gained no graphic at 0 s', 'V3:0 is the graphic at 0 s');
  } },
  { verb: 'set_clip_volume', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ clip: 'A1:0', db: -6 });
    const p = await t.read('audio_probe', { clip: 'A1:0', sequence: t.ctx.seq.guid });
    t.expect(near(p.dbEstimate, -6, 0.05), 'A1:0 reads ' + p.dbEstimate + ' dB, not -6 dB', 'audio_probe reads -6 dB');
  } },
  { verb: 'audio_probe', kind: 'read', stage: 'timeline', async run(t) {
    const a = await t.call({ clip: 'A1:0', sequence: t.ctx.seq.guid });
    t.expect(typeof a.levelRaw === 'number', 'no Volume level in the answer');
  } },
  { verb: 'audio_fade', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ clip: 'A1:0', type: 'in', duration: 1 });
    const s = await sequence(t);
    const c = clips(s, 'A1')[0];
    const p = param(await effects(t, 'A1:0'), 'Volume', 'Level');
    const keys = p ? p.keyframes || [] : [];
    const want = [sec(c.start), sec(c.start) + 1];
    t.expect(want.every((x) => keys.some((k) => near(k, x, tol(s)))),
      'Volume keyframes read back as ' + JSON.stringify(keys) + ', not at ' + JSON.stringify(want), 'Volume keyframed at ' + want.map(s3).join(' and '));
  } },
  { verb: 'add_marker', kind: 'edit', stage: 'timeline', async run(t) {
    await t.call({ time: 3, name: 'Selftest Marker', comments: 'made by the cutrelay self-test', colorIndex: 4, sequence: t.ctx.seq.guid });
    const s = await sequence(t);
    const m = (await markers(t)).find((x) => x.name === 'Selftest Marker');
    t.expect(m && near(sec(m.start), 3, tol(s)) && m.colorIndex === 4,
      m ? 'the marker reads back at ' + s3(sec(m.start)) + ' with colour ' + m.colorIndex + ', not 3 s and 4' : 'no marker named Selftest Marker', 'list_markers shows it at 3 s, colour 4');
  } },
  { verb: 'list_markers', kind: 'read', stage: 'timeline', async run(t) {
    const a = await t.call({ sequence: t.ctx.seq.guid });
    const m = (a.markers || []).find((x) => x.name === 'Selftest Marker');
    t.ctx.markerGuid = m ? m.guid : null;
    t.expect(m !== undefined, 'the marker added by add_marker is not listed');
  } },
  { verb: 'remove_marker', kind: 'edit', stage: 'timeline', async run(t) {
    const by = t.ctx.markerGuid ? { guid: t.ctx.markerGuid } : { name: 'Selftest Marker' };
    t.note('removed by ' + Object.keys(by)[0]);
    await t.call(Object.assign({ sequence: t.ctx.seq.guid }, by));
    t.expect(!(await markers(t)).some((x) => x.name === 'Selftest Marker'), 'the marker is still listed', 'list_markers no longer shows it');
  } },
  { verb: 'set_source_in_out', kind: 'edit', stage: 'items', async run(t) {
    const tone = t.ctx.items.tone;
    await t.call({ item: tone.id, in: 1, out: 3 });
    // No read verb shows a source clip's in/out points; the UXP API reads them through eval.
    const got = await uxpRead(t, 'const r = await h.findItem(await h.project(), args.id); const c = ppro.ClipProjectItem.cast(r.item); ' +
      'const M = ppro.Constants.MediaType.AUDIO; return [(await c.getInPoint(M)).seconds, (await c.getOutPoint(M)).seconds];', { id: tone.id });
    if (!Array.isArray(got)) t.unavailable('no read verb shows source in/out points, and eval could not read them');
    else t.expect(near(got[0], 1, 0.001) && near(got[1], 3, 0.001),
      'the source in/out read back as ' + JSON.stringify(got) + ', not [1, 3]', 'eval reads in 1 s, out 3 s');
  } },
  { verb: 'create_subclip', kind: 'edit', stage: 'items', async run(t) {
    const a = await t.call({ item: t.ctx.items.tone.id, start: 1, end: 3, name: 'Selftest Subclip' });
    const listed = await items(t);
    t.expect(listed.some((it) => it.name === (a.created || 'Selftest Subclip')),
      'no item named ' + (a.created || 'Selftest Subclip'), 'list_project_items shows ' + (a.created || 'Selftest Subclip'));
  } },
  { verb: 'transcribe', kind: 'edit', stage: 'items', async run(t) {
    const a = await t.call({ item: t.ctx.items.tone.id });
    // Speech-to-text runs in the background: the transcript appearing is the read-back.
    const end = Date.now() + t.ctx.opts.transcriptSec * 1000;
    let got = null;
    for (;;) {
      got = await t.send('get_transcript', { item: t.ctx.items.tone.id });
      if ((got && got.success) || !got || got.errorCode !== 'no_transcript' || Date.now() >= end) break;
      await new Promise((r) => setTimeout(r, 500));
    }
    t.ctx.transcript = !!(got && got.success);
    if (t.ctx.transcript) t.expect(true, '', 'get_transcript shows a transcript of the tone');
    else t.unavailable('no transcript of the tone appeared within ' + t.ctx.opts.transcriptSec + ' s (answered started: ' + JSON.stringify(a.started) + '; the tone has no speech)');
  } },
  { verb: 'get_transcript', kind: 'read', stage: 'items', async run(t) {
    if (!t.ctx.transcript) t.skipOnFailure('needs speech: the self-test\'s tone has none, and no transcript appeared within ' + t.ctx.opts.transcriptSec + ' s',
      ['no_transcript']);
    await t.call({ item: t.ctx.items.tone.id });
  } },
  { verb: 'duplicate_sequence', kind: 'edit', stage: 'timeline', async run(t) {
    const before = await sequences(t);
    await t.call({ sequence: t.ctx.seq.guid });
    const after = await sequences(t);
    const copy = after.find((s) => !before.some((b) => b.guid === s.guid));
    t.ctx.copy = copy || null;
    t.expect(after.length === before.length + 1 && copy, 'no new sequence in list_sequences', 'list_sequences shows ' + (copy ? copy.name : ''));
  } },
  { verb: 'set_active_sequence', kind: 'edit', stage: 'timeline', async run(t) {
    const target = t.ctx.copy || t.ctx.seq;
    await t.call({ sequence: target.guid });
    const active = (await sequences(t)).find((s) => s.active);
    // Back to the self-test's own sequence, which the later steps (and the CEP helper) use.
    await t.send('set_active_sequence', { sequence: t.ctx.seq.guid });
    t.expect(active && active.guid === target.guid,
      (active ? active.name : 'no sequence') + ' is active, not ' + target.name, 'list_sequences shows ' + target.name + ' active');
  } },
  { verb: 'delete_sequence', kind: 'edit', stage: 'timeline', async run(t) {
    if (!t.ctx.copy) t.skip('needs the copy made by duplicate_sequence, which is missing');
    const copy = t.ctx.copy;
    await t.call({ sequence: copy.guid });
    t.expect(!(await sequences(t)).some((s) => s.guid === copy.guid), copy.name + ' is still listed', copy.name + ' is gone');
  } },
  { verb: 'export_frame', kind: 'edit', stage: 'timeline', async run(t) {
    const a = await t.call({ dir: t.ctx.dirs.frames, time: 1, width: 320, name: 'selftest_frame' });
    const file = await stableFile(() => [a.path], 10000);
    const size = file ? pngSize(readIfAny(file)) : null;
    t.expect(size && size.width === 320,
      (file || a.path) + ' is ' + (size ? 'a PNG ' + size.width + ' wide, not 320' : 'missing or not a PNG'),
      'a PNG 320×' + (size ? size.height : '?') + ' at ' + path.basename(file || ''));
  } },
  { verb: 'export_frames', kind: 'edit', stage: 'timeline', async run(t) {
    const a = await t.call({ dir: t.ctx.dirs.frames, count: 3, width: 160, prefix: 'selftest_frames' });
    const files = [];
    for (const f of a.frames || []) files.push(await stableFile(() => [f.path], 10000));
    const pngs = files.filter((f) => f && pngSize(readIfAny(f)));
    t.expect(pngs.length === 3, pngs.length + ' of 3 frames are PNG files on disk', '3 PNG files on disk');
  } },
  { verb: 'preview_frame', kind: 'edit', stage: 'timeline', async run(t) {
    const a = await t.call({ time: 1, width: 320, dir: t.ctx.dirs.frames });
    const bytes = a.image && typeof a.image.base64 === 'string' ? Buffer.from(a.image.base64, 'base64') : null;
    const size = bytes ? pngSize(bytes) : null;
    t.expect(size && size.width === 320,
      'the inline image is ' + (size ? size.width + ' wide, not 320' : 'missing or not a PNG'), 'an inline PNG 320×' + (size ? size.height : '?'));
  } },
  { verb: 'contact_sheet', kind: 'edit', stage: 'timeline', async run(t) {
    const a = await t.call({ count: 3, width: 160, dir: t.ctx.dirs.frames });
    const good = (a.frames || []).filter((f) => f.image && pngSize(Buffer.from(String(f.image.base64), 'base64')));
    t.expect(good.length === 3, good.length + ' of 3 frames came back as inline PNGs', '3 inline PNGs');
  } },
  { verb: 'read_file_base64', kind: 'read', stage: 'bridge', async run(t) {
    const file = t.ctx.media.stillA;
    const a = await t.call({ path: file });
    const got = typeof a.base64 === 'string' ? Buffer.from(a.base64, 'base64') : null;
    t.expect(got !== null && got.equals(fs.readFileSync(file)), 'the bytes answered differ from ' + path.basename(file));
  } },
  { verb: 'monitor_snapshot', kind: 'edit', stage: 'timeline', async run(t) {
    t.skipOnFailure('needs the Quor Bridge companion application\'s direct API', ['qb_unreachable']);
    const a = await t.call({ time: 1, settleMs: 200 });
    const size = a.image && typeof a.image.base64 === 'string' ? pngSize(Buffer.from(a.image.base64, 'base64')) : null;
    t.expect(size !== null, 'no PNG of the window in the answer', 'a PNG of Premiere\'s window, ' + (size ? size.width + '×' + size.height : ''));
  } },
  { verb: 'export_frame_qe', kind: 'edit', stage: 'timeline', async run(t) {
    const target = path.join(t.ctx.dirs.frames, 'selftest_qe_frame.png');
    await t.call({ time: 1, path: target });
    const file = await stableFile(() => [target, target + '.png'], 10000);
    t.expect(file !== null && pngSize(readIfAny(file)) !== null, target + ' is missing or not a PNG', 'a PNG at ' + path.basename(file || ''));
  } },
  { verb: 'export_sequence', kind: 'edit', stage: 'timeline', async run(t) {
    if (!t.ctx.preset) t.skip('needs an export preset (.epr): premiere_list_export_presets found none; pass --preset FILE');
    const output = path.join(t.ctx.dirs.export, 'selftest_export.mp4');
    t.note('preset ' + t.ctx.preset);
    await t.call({ output, preset: t.ctx.preset, mode: 'immediate', range: 'inout', timeoutSec: 600 });
    // The encoder may add its own extension: any file of that name in the folder counts.
    const dir = t.ctx.dirs.export;
    const written = () => {
      try { return fs.readdirSync(dir).filter((n) => n.startsWith('selftest_export')).map((n) => path.join(dir, n)); } catch (e) { return []; }
    };
    const file = await stableFile(written, 30000);
    t.expect(file !== null,
      'no rendered file in ' + t.ctx.dirs.export, path.basename(file || '') + ' written (' + (file ? fs.statSync(file).size : 0) + ' bytes)');
  } },
  { verb: 'export_interchange', kind: 'edit', stage: 'timeline', async run(t) {
    const output = path.join(t.ctx.dirs.export, 'selftest.otio');
    await t.call({ output, format: 'otio' });
    const file = await stableFile(() => [output], 10000);
    let parsed = null;
    try { parsed = file ? JSON.parse(fs.readFileSync(file, 'utf8')) : null; } catch (e) { parsed = null; }
    t.expect(parsed !== null, output + ' is missing or not OpenTimelineIO JSON', 'OpenTimelineIO JSON written');
  } },
  { verb: 'source_monitor', kind: 'edit', stage: 'items', async run(t) {
    const still = t.ctx.items.stillA;
    const a = await t.call({ item: still.id });
    t.expect(a.item === still.name,
      'the Source Monitor shows ' + JSON.stringify(a.item) + ', not ' + still.name, 'the Source Monitor shows ' + still.name);
    // Seeking is the verb's other half (Premiere 26.3 and newer).
    const seek = await t.send('source_monitor', { time: 1 });
    if (seek && seek.errorCode === 'premiere_too_old') t.note('seeking not tried: ' + seek.error);
    else t.expect(seek && seek.success && near(seek.position, 1, 0.05), 'seeking to 1 s answered ' + JSON.stringify(seek), 'it seeks to 1 s');
  } },
  { verb: 'eval', kind: 'edit', stage: 'project', async run(t) {
    const a = await t.call({ code: 'return (await h.project()).path;' });
    t.expect(norm(a.value) === norm(t.ctx.project.path),
      'eval answered ' + JSON.stringify(a.value) + ', not the project path', 'it answered the project\'s path');
  } },
  { verb: 'extendscript', kind: 'edit', stage: 'project', async run(t) {
    const a = await t.call({ code: 'return String(app.project.path);' });
    t.expect(norm(a.value) === norm(t.ctx.project.path),
      'ExtendScript answered ' + JSON.stringify(a.value) + ', not the project path', 'it answered the project\'s path');
  } },
  { verb: 'events', kind: 'read', stage: 'bridge', async run(t) {
    const a = await t.call({ sinceSeq: 0 });
    t.expect(Array.isArray(a.events), 'no events list in the answer');
  } },
  { verb: 'delete_item', kind: 'edit', stage: 'items', async run(t) {
    const spare = t.ctx.items.spare;
    await t.call({ item: spare.id });
    t.expect(!(await items(t)).some((it) => it.id === spare.id), 'the item is still in the project', 'list_project_items no longer shows it');
  } },
  { verb: 'close_project', kind: 'edit', stage: 'project', async run(t) {
    await t.call({ save: true });
    t.ctx.projectOpen = false;
    const p = await t.send('get_project', {});
    t.expect(!(p && p.success && norm(p.path) === norm(t.ctx.project.path)),
      'the project is still the active one', 'it is no longer the active project');
  } },
  { verb: 'open_project', kind: 'edit', stage: 'project', guard: false, async run(t) {
    // Only the self-test's own project, closed by the step before, is opened.
    await t.call({ path: t.ctx.project.path });
    t.ctx.projectOpen = true;
    const p = await t.read('get_project', {});
    t.expect(norm(p.path) === norm(t.ctx.project.path), 'the active project is ' + p.path, 'get_project shows it open again');
  } },
];

/** The transitions of V1:0 as a read verb lists them, or null while none does. @param {any} t */
async function transitions(t) {
  const c = clips(await sequence(t), 'V1')[0];
  if (c && Array.isArray(c.transitions)) return c.transitions;
  const fx = await t.read('get_clip_effects', { clip: 'V1:0', sequence: t.ctx.seq.guid });
  return Array.isArray(fx.transitions) ? fx.transitions : null;
}

module.exports = { STEPS };
