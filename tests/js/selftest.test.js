'use strict';
// The self-test for a real Premiere (scripts/selftest): how it judges answers, the media it
// writes, and, against the simulator, that its own read-back catches edits that answer
// success without effect and that it never touches a project that is not its own.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { classify, allOk, totals } = require('../../scripts/selftest-report');
const { writeMedia, SEQUENCE_CUT, TONE_SECONDS } = require('../../scripts/selftest-media');
const { runSelftest, DEFAULTS } = require('../../scripts/selftest-run');
const { startSimulated } = require('../../scripts/selftest-sim');
const { decodePng } = require('../../sim/png');
const { probeMedia } = require('../../sim/premierepro/media');
const { SKIP, agent } = require('./bridge');
const { tempDir } = require('./helpers');

test('the self-test judges each answer', async (t) => {
  const ok = { success: true };
  const cases = [
    ['a read that succeeds works', { kind: 'read', answer: ok }, 'works'],
    ['an edit the plug-in verified', { kind: 'edit', answer: { success: true, verified: true } }, 'verified'],
    ['an edit the self-test read back', { kind: 'edit', answer: ok, readBack: { status: 'confirmed', detail: 'x' } }, 'verified'],
    ['an edit the plug-in could not verify', { kind: 'edit', answer: { success: true, verified: false, _note: 'no API' } }, 'unverifiable'],
    ['an edit nobody could check', { kind: 'edit', answer: ok, readBack: { status: 'unavailable', detail: 'no read verb' } }, 'unverifiable'],
    ['an edit the read-back contradicts, even when the plug-in says verified',
      { kind: 'edit', answer: { success: true, verified: true }, readBack: { status: 'contradicted', detail: 'V1:0 should start at 3 s' } }, 'fails'],
    ['a failure', { kind: 'edit', answer: { success: false, errorCode: 'transaction_failed', error: 'no' } }, 'fails'],
    ['a failure with a reason to skip', { kind: 'edit', answer: { success: false, errorCode: 'x', error: 'y' }, skipOnFailure: 'needs video media' }, 'skipped'],
    ['a verb this Premiere lacks', { kind: 'edit', answer: { success: false, errorCode: 'premiere_too_old', error: 'needs 26.3' } }, 'skipped'],
    ['a CEP verb without the helper', { kind: 'edit', answer: { success: false, errorCode: 'cep_not_connected', error: 'no helper' } }, 'skipped'],
    ['a verb the step skipped', { kind: 'edit', skip: 'would quit Premiere' }, 'skipped'],
    ['no answer at all', { kind: 'read', transportError: 'timed out' }, 'fails'],
  ];
  for (const [name, outcome, result] of cases) {
    await t.test(name, () => assert.equal(classify(/** @type {any} */ (outcome)).result, result));
  }

  await t.test('failures carry the code, the sentence and who found them', () => {
    assert.deepEqual(classify({ kind: 'edit', answer: { success: false, errorCode: 'edit_not_applied', error: 'V1:2 should end at 12.48 s' } }),
      { result: 'fails', label: 'fails', errorCode: 'edit_not_applied', error: 'V1:2 should end at 12.48 s', detectedBy: 'plugin' });
    assert.deepEqual(classify({ kind: 'edit', answer: { success: true }, readBack: { status: 'contradicted', detail: 'A1 is not muted' } }),
      { result: 'fails', label: 'fails', errorCode: 'edit_not_applied', error: 'A1 is not muted', detectedBy: 'selftest' });
    assert.equal(classify({ kind: 'read', answer: { success: true }, readBack: { status: 'contradicted', detail: 'x' } }).errorCode, 'wrong_answer');
    assert.match(classify({ kind: 'edit', answer: { success: true, verified: false, _note: 'transitions cannot be read' } }).note, /transitions cannot be read/);
  });

  await t.test('the exit status is good only when every verb works or was skipped', () => {
    const rows = ['verified', 'unverifiable', 'works', 'skipped'].map((result) => ({ result }));
    assert.equal(allOk(rows), true);
    assert.equal(allOk(rows.concat([{ result: 'fails' }])), false);
    assert.equal(allOk(rows.concat([{ result: 'untested' }])), false);
    assert.deepEqual(totals(rows), { verified: 1, unverifiable: 1, works: 1, fails: 0, skipped: 1, untested: 0 });
  });
});

test('the self-test writes media that reads back', (t) => {
  const dir = tempDir('cutrelay-selftest-media-');
  t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const m = writeMedia(dir);

  const still = decodePng(fs.readFileSync(m.stillA));
  assert.deepEqual([still.width, still.height], [1280, 720]);
  const frames = m.sequenceFiles.map((f) => decodePng(fs.readFileSync(f)));
  assert.equal(frames.length, 60);
  // The picture changes completely at the cut, and the frames of one shot differ.
  assert.notDeepEqual(frames[SEQUENCE_CUT - 1].at(0, 0), frames[SEQUENCE_CUT].at(0, 0));
  assert.deepEqual(frames[0].at(0, 0), frames[SEQUENCE_CUT - 1].at(0, 0));
  assert.notDeepEqual(frames[0].pixels, frames[1].pixels);

  const probed = probeMedia(m.tone);
  assert.deepEqual([probed.kind, probed.duration, probed.sampleRate, probed.audioChannels], ['audio', TONE_SECONDS, 48000, 2]);
  const wav = fs.readFileSync(m.tone);
  let peak = 0;
  let rising = 0;
  for (let at = 48; at < wav.length; at += 4) {
    const v = wav.readInt16LE(at);
    peak = Math.max(peak, Math.abs(v));
    if (wav.readInt16LE(at - 4) < 0 && v >= 0) rising++;
    assert.equal(wav.readInt16LE(at + 2), v, 'the two channels differ');
  }
  assert.ok(Math.abs(peak - 32767 * Math.pow(10, -12 / 20)) < 40, 'peak ' + peak + ' is not -12 dBFS');
  assert.ok(Math.abs(rising / TONE_SECONDS - 440) <= 1, rising / TONE_SECONDS + ' Hz is not 440 Hz');
});

/**
 * A stand-in bridge in front of the real one: every command goes through, except that the
 * commands in `swallow` answer success without reaching the plug-in (an edit that did not
 * happen), and `after(command)` runs once a command has been answered.
 */
async function proxy(t, port, { swallow = new Set(), after = async () => {} } = {}) {
  const server = http.createServer(async (req, res) => {
    let body = '';
    for await (const piece of req) body += piece;
    let command = null;
    try { command = JSON.parse(body).command; } catch (e) { command = null; }
    if (swallow.has(command)) {
      res.writeHead(200, { 'Content-Type': 'application/json' });
      res.end(JSON.stringify({ success: true, verb: command }));
      return;
    }
    const answer = await fetch('http://127.0.0.1:' + port + req.url, { method: req.method, headers: { 'Content-Type': 'application/json' }, body });
    const text = await answer.text();
    await after(command);
    res.writeHead(answer.status, { 'Content-Type': 'application/json' });
    res.end(text);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(undefined)));
  t.after(() => { server.closeAllConnections(); server.close(); });
  return /** @type {any} */ (server.address()).port;
}

test('the self-test against the simulator', { skip: SKIP, timeout: 180000 }, async (t) => {
  const sim = await startSimulated('newest');
  t.after(sim.stop);
  const send = agent(sim.port);
  const opts = Object.assign({}, DEFAULTS, { waitSec: 20, transcriptSec: 5 });
  const run = (port, extra = {}) => runSelftest(Object.assign({
    port, opts, log: () => {}, stop: new AbortController().signal, interrupted: () => null, simulated: true, home: sim.home,
  }, extra));
  const row = (report, verb) => report.verbs.find((r) => r.verb === 'premiere_' + verb);

  await t.test('an edit that answers success without effect is caught by the read-back', async () => {
    const lying = ['move_clip', 'set_param', 'lock_track', 'set_item_color'];
    const port = await proxy(t, sim.port, { swallow: new Set(lying.map((v) => 'premiere_' + v)) });
    const { report } = await run(port);
    for (const verb of lying) {
      const r = row(report, verb);
      assert.deepEqual([r.result, r.errorCode, r.detectedBy], ['fails', 'edit_not_applied', 'selftest'], JSON.stringify(r));
    }
    assert.equal(allOk(report.verbs.filter((r) => !lying.includes(r.verb.slice('premiere_'.length)))), true,
      JSON.stringify(report.verbs.filter((r) => r.result === 'fails')));
    assert.equal(report.verbs.length, report.verbCount);
    assert.equal((await send('premiere_get_project')).errorCode, 'no_project', 'the project was not closed');
  });

  await t.test('an interrupted run stops and closes its project', async () => {
    let stop = null;
    const { report } = await run(sim.port, {
      log: (line) => { if (/premiere_create_sequence/.test(line)) stop = 'interrupted (test)'; },
      interrupted: () => stop,
    });
    assert.equal(report.interrupted, 'interrupted (test)');
    assert.equal(row(report, 'create_sequence').result, 'verified');
    assert.equal(row(report, 'append_clip').reason, 'not run: interrupted (test)');
    assert.equal((await send('premiere_get_project')).errorCode, 'no_project', 'the project was not closed');
  });

  const user = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'cutrelay-selftest-user-')), 'Mine.prproj');
  t.after(() => fs.rmSync(path.dirname(user), { recursive: true, force: true }));

  await t.test('when another project becomes active it stops and leaves both projects open', async () => {
    // As if the user opened a project of theirs while the self-test ran.
    const port = await proxy(t, sim.port, {
      after: async (command) => { if (command === 'premiere_set_playhead') await send('premiere_new_project', { path: user }); },
    });
    const { report } = await run(port);
    // Its project stays open, so its files stay too (the note says where); the test removes them.
    const left = report.notes.map((n) => /^The self-test's files were left in (.*)\.$/.exec(n)).find((m) => m);
    assert.ok(left, report.notes.join('\n'));
    t.after(() => fs.rmSync(left[1], { recursive: true, force: true }));
    assert.match(report.stopped, /the active project in Premiere is "Mine/);
    assert.match(row(report, 'append_clip').reason, /^not run: the active project in Premiere is "Mine/);
    assert.ok(report.notes.some((n) => /was not closed because/.test(n)), report.notes.join('\n'));
    const active = await send('premiere_get_project');
    assert.equal(active.path, user);
  });

  await t.test('it refuses to run while a project is open', async () => {
    const outcome = await run(sim.port);
    assert.equal(outcome.report, undefined);
    assert.match(outcome.refused, /^Refusing to run: Premiere has a project open:/);
    assert.ok(outcome.refused.includes(user), outcome.refused);
  });
});
