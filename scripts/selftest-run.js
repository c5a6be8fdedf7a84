'use strict';
// Runs the self-test's plan (selftest-steps.js) against a bridge, as an agent does: one
// JSON command per HTTP request to the bridge's command endpoint.
//
// Nothing of the user's is touched: before any step the self-test refuses to run while
// Premiere has a project open (neither plug-in can tell whether it has unsaved changes);
// every step that acts on "the active project" first checks that the active project is
// still the self-test's own, and the run stops when it is not; the project is closed at
// the end, however the run ends.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { STEPS } = require('./selftest-steps');
const { classify, totals, progressLine } = require('./selftest-report');
const { writeMedia, SEQUENCE_FRAMES, SEQUENCE_CUT, TONE_SECONDS } = require('./selftest-media');

const PREFIX = 'premiere_';

/** The options the self-test runs with unless told otherwise (scripts/selftest --help). */
const DEFAULTS = {
  waitSec: 60, // how long to wait for the plug-in to connect
  transcriptSec: 60, // how long to wait for the tone's transcript
  presetSearch: 'h.264', // which export preset to take from premiere_list_export_presets
  preset: null, // an .epr file instead
  mogrt: null, // a .mogrt file instead of searching for one
  withOpenProjects: false, // run although projects are open
  keep: false, // keep the temporary folder
};

/** Ends a step early: its timed call failed, or the step skips its verb. */
class End extends Error {}
/** A read-back call failed: what the step meant to compare is unknown. */
class ReadFailed extends Error {}

/** The bridge's command endpoint. */
class Bridge {
  /** @param {number} port @param {AbortSignal} stop aborts every call in flight */
  constructor(port, stop) {
    this.port = port;
    this.stop = stop;
    /** @type {Map<string, any>} catalog entries by short verb name */
    this.catalog = new Map();
  }

  /** A verb's time-out as the catalog gives it (or as the call asks), plus a margin. */
  limitMs(verb, args) {
    const entry = this.catalog.get(verb);
    const base = entry && typeof entry.timeoutSeconds === 'number' ? entry.timeoutSeconds : 60;
    const asked = args && Number.isInteger(args.timeoutSec) ? args.timeoutSec : 0;
    return (Math.max(base, asked) + 30) * 1000;
  }

  /**
   * One command; answers {answer, ms}. A request the bridge answers with another HTTP
   * status becomes a failure answer; a connection that fails or times out throws.
   * @param {string} verb short name @param {any} args
   */
  async call(verb, args = {}) {
    if (this.stop.aborted) throw new Error(PREFIX + verb + ': stopped');
    const timer = new AbortController();
    const onStop = () => timer.abort(new Error('stopped'));
    this.stop.addEventListener('abort', onStop);
    const ms = this.limitMs(verb, args);
    const limit = setTimeout(() => timer.abort(new Error('no answer within ' + Math.round(ms / 1000) + ' s')), ms);
    const started = performance.now();
    try {
      const res = await fetch('http://127.0.0.1:' + this.port + '/command', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ command: PREFIX + verb, args }),
        signal: timer.signal,
      });
      const text = await res.text();
      const took = performance.now() - started;
      if (res.status !== 200) return { answer: { success: false, errorCode: 'http_' + res.status, error: text.slice(0, 300) }, ms: took };
      return { answer: JSON.parse(text), ms: took };
    } catch (e) {
      const reason = timer.signal.aborted && timer.signal.reason instanceof Error ? timer.signal.reason.message : (e && e.message) || String(e);
      throw new Error(PREFIX + verb + ': ' + reason);
    } finally {
      clearTimeout(limit);
      this.stop.removeEventListener('abort', onStop);
    }
  }

  /** The answer alone, or null when there is none. @param {string} verb @param {any} args */
  async answer(verb, args = {}) {
    try { return (await this.call(verb, args)).answer; } catch (e) { return null; }
  }
}

/** What one step does and sees; handed to the step as `t`. */
class StepContext {
  /** @param {any} ctx @param {Bridge} bridge @param {string} verb */
  constructor(ctx, bridge, verb) {
    this.ctx = ctx;
    this.bridge = bridge;
    this.verb = verb;
    /** @type {any} */
    this.answer = undefined;
    /** @type {number | null} */
    this.ms = null;
    /** @type {string | null} */
    this.transportError = null;
    /** @type {{ ok: boolean, detail: string }[]} */
    this.checks = [];
    /** @type {string | null} */
    this.unavailableReason = null;
    /** @type {string | null} */
    this.skipReason = null;
    /** @type {string | null} */
    this.failureReason = null;
    /** @type {string[] | null} */
    this.failureCodes = null;
    /** @type {string[]} */
    this.notes = [];
  }

  /** The step's one timed call; the step ends here when it fails. */
  async call(args) {
    if (this.answer !== undefined) throw new Error('a step makes one timed call');
    try {
      const r = await this.bridge.call(this.verb, args);
      this.answer = r.answer;
      this.ms = r.ms;
    } catch (e) {
      this.answer = null;
      this.transportError = e.message;
      throw new End();
    }
    if (!this.answer || this.answer.success !== true) throw new End();
    return this.answer;
  }

  /** An untimed read; a failed read ends the read-back as unavailable. */
  async read(verb, args) {
    let a;
    try { a = (await this.bridge.call(verb, args)).answer; } catch (e) { throw new ReadFailed(e.message); }
    if (!a || a.success !== true) throw new ReadFailed(PREFIX + verb + ' answered ' + (a ? a.errorCode + ': ' + a.error : 'nothing'));
    return a;
  }

  /** An untimed call whose answer (or null) the step inspects itself. */
  async send(verb, args) {
    return this.bridge.answer(verb, args);
  }

  expect(ok, whenWrong, whenRight = '') {
    this.checks.push(ok ? { ok: true, detail: whenRight } : { ok: false, detail: whenWrong });
  }

  unavailable(why) { this.unavailableReason = why; }

  skip(why) {
    this.skipReason = why;
    throw new End();
  }

  /** A failure (with one of `codes`, or any) means the verb can't run here, for `why`. @param {string} why @param {string[]} [codes] */
  skipOnFailure(why, codes) {
    this.failureReason = why;
    this.failureCodes = codes || null;
  }

  /** The reason to skip rather than fail, if the timed call's failure is one. */
  skipReasonForFailure() {
    const code = this.answer ? this.answer.errorCode : null;
    return this.failureReason !== null && (this.failureCodes === null || this.failureCodes.includes(code)) ? this.failureReason : null;
  }

  note(text) { this.notes.push(text); }

  /** What the self-test's own read-back found. */
  readBack() {
    const wrong = this.checks.find((c) => !c.ok);
    if (wrong) return { status: 'contradicted', detail: wrong.detail };
    if (this.checks.length > 0 && this.unavailableReason === null) {
      return { status: 'confirmed', detail: this.checks.map((c) => c.detail).filter((d) => d).join('; ') };
    }
    return this.unavailableReason === null ? null : { status: 'unavailable', detail: this.unavailableReason };
  }
}

/** @param {string | null | undefined} name */
function stem(name) {
  return String(name || '').replace(/\.prproj$/i, '');
}

/**
 * The projects open in Premiere, as far as the plug-ins can tell: the active one (UXP) and,
 * when the CEP helper is connected, every open one (ExtendScript's app.projects).
 * Answers {projects, unknown}: `unknown` explains why the answer may be incomplete.
 * @param {Bridge} bridge @param {boolean} cep
 */
async function openProjects(bridge, cep) {
  /** @type {{ name: string, path: string }[]} */
  const projects = [];
  let unknown = null;
  const active = await bridge.answer('get_project', {});
  if (active && active.success) projects.push({ name: active.name, path: active.path });
  else if (!active || active.errorCode !== 'no_project') unknown = 'the UXP plug-in could not say which project is open (' + (active ? active.errorCode : 'no answer') + ')';
  if (cep) {
    const code = 'var out = []; var all = app.projects; for (var i = 0; i < all.numProjects; i++) { ' +
      'out.push({ name: String(all[i].name), path: String(all[i].path) }); } return out;';
    const es = await bridge.answer('extendscript', { code });
    if (es && es.success && es.value instanceof Array) {
      for (const p of es.value) if (!projects.some((q) => q.path === p.path)) projects.push(p);
    }
  }
  return { projects, unknown };
}

/** Finds .mogrt files under `dir` (a bounded walk). @param {string} dir */
function findMogrt(dir) {
  let seen = 0;
  /** @param {string} at @param {number} depth @returns {string | null} */
  const walk = (at, depth) => {
    if (depth > 8 || ++seen > 20000) return null;
    let entries;
    try { entries = fs.readdirSync(at, { withFileTypes: true }); } catch (e) { return null; }
    for (const e of entries) if (e.isFile() && /\.mogrt$/i.test(e.name)) return path.join(at, e.name);
    for (const e of entries) {
      if (!e.isDirectory()) continue;
      const found = walk(path.join(at, e.name), depth + 1);
      if (found) return found;
    }
    return null;
  };
  return walk(dir, 0);
}

/**
 * Runs the whole self-test. Answers {report}, or {refused} (a project is open) or
 * {problem} (it could not start); prints one line per verb through `log` as it goes.
 * @param {{ port: number, opts: any, log: (line: string) => void, stop: AbortSignal,
 *   interrupted: () => string | null, simulated?: boolean, home?: string }} o  `home` is
 *   the home folder of the user Premiere runs as (where their templates are)
 */
async function runSelftest(o) {
  const { opts, log } = o;
  const bridge = new Bridge(o.port, o.stop);
  const startedAt = new Date();

  const described = await bridge.answer('describe', {});
  if (!described || !described.success || !described.catalog || !Array.isArray(described.catalog.verbs)) {
    return { problem: 'The bridge on port ' + o.port + ' did not answer premiere_describe' + (described ? ': ' + JSON.stringify(described).slice(0, 200) : '') + '.' };
  }
  const catalog = described.catalog.verbs;
  for (const v of catalog) bridge.catalog.set(String(v.name).replace(/^premiere_/, ''), v);

  log('Waiting up to ' + opts.waitSec + ' s for the Quor Bridge plug-in in Premiere Pro…');
  const waited = await bridge.answer('wait_for_plugin', { timeoutSec: opts.waitSec });
  if (!waited || waited.connected !== true) {
    return { problem: 'The plug-in inside Premiere Pro is not connected' + (waited && waited._hint ? ': ' + waited._hint : '.') };
  }
  if (o.interrupted()) return { problem: o.interrupted() + ' before it started' };
  const status = (await bridge.answer('status', {})) || {};
  const hello = (await bridge.answer('ping', {})) || {};

  const { projects, unknown } = await openProjects(bridge, status.cepHelperConnected === true);
  if ((projects.length > 0 || unknown) && !opts.withOpenProjects) {
    const list = projects.map((p) => '  ' + p.name + ' (' + p.path + ')').join('\n');
    return {
      refused: 'Refusing to run: ' + (projects.length > 0 ? 'Premiere has a project open:\n' + list + '\n' : unknown + '.\n') +
        'Neither plug-in can tell whether an open project has unsaved changes, and the self-test never risks them.\n' +
        'Save and close your project(s) in Premiere (File > Close All Projects) and run it again, or, once everything\n' +
        'is saved, pass --with-open-projects to run beside them (the self-test still works only on its own project).',
    };
  }

  const work = fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'cutrelay-selftest-')));
  const dirs = { work, media: path.join(work, 'media'), frames: path.join(work, 'frames'), export: path.join(work, 'export') };
  for (const d of [dirs.frames, dirs.export]) fs.mkdirSync(d, { recursive: true });
  const media = writeMedia(dirs.media);

  const mogrtRoots = [path.join(o.home || os.homedir(), 'Library', 'Application Support', 'Adobe', 'Common', 'Motion Graphics Templates')]
    .concat((status.installs || []).map((i) => path.dirname(String(i.app))));
  let mogrt = opts.mogrt || null;
  for (const root of mogrtRoots) if (!mogrt) mogrt = findMogrt(root);

  const ctx = {
    opts,
    dirs,
    media,
    projectPath: path.join(work, path.basename(work) + '.prproj'),
    sequenceFrames: SEQUENCE_FRAMES,
    sequenceCut: SEQUENCE_CUT,
    toneSeconds: TONE_SECONDS,
    preset: opts.preset || null,
    mogrt,
    mogrtSearched: mogrtRoots.join(', '),
    env: {
      premiereVersion: String(hello.premiereVersion || '?'),
      os: String(hello.os || '?'),
      pluginVersion: String(hello.pluginVersion || '?'),
      cepHelper: status.cepHelper && status.cepHelper.helperVersion ? String(status.cepHelper.helperVersion) : status.cepHelperConnected ? 'connected' : null,
      bridgeVersion: String(status.bridgeVersion || '?'),
      premiereRunning: status.premiereRunning === true,
      premiereInstalled: status.premiereInstalled === true,
      simulated: o.simulated === true,
    },
    /** @type {{ name: string, path: string } | null} */
    project: null,
    projectOpen: false,
    items: {},
    /** @type {{ name: string, guid: string } | null} */
    seq: null,
    haveVideo: false,
    /** @type {string | null} */
    stop: null,
  };
  const notes = [];
  if (projects.length > 0) notes.push('Run with --with-open-projects beside: ' + projects.map((p) => p.path).join(', ') + '.');
  if (unknown) notes.push('Run with --with-open-projects although ' + unknown + '.');

  const byVerb = new Map(STEPS.map((s) => [s.verb, s]));
  const plan = STEPS.filter((s) => bridge.catalog.has(s.verb));
  const untested = catalog.map((v) => String(v.name).replace(/^premiere_/, '')).filter((v) => !byVerb.has(v));
  for (const s of STEPS) if (!bridge.catalog.has(s.verb)) notes.push('The catalog has no ' + PREFIX + s.verb + '; its step was not run.');
  /** @type {Map<string, any>} */
  const rows = new Map();
  const count = plan.length + untested.length;

  const guard = async () => {
    const ping = await bridge.answer('ping', {});
    if (!ping || !ping.success) return 'Premiere could not be asked which project is active (' + (ping ? ping.errorCode : 'no answer') + ')';
    if (!ctx.project || stem(ping.project) !== stem(ctx.project.name)) {
      return 'the active project in Premiere is ' + JSON.stringify(ping.project) + ', not the self-test\'s own ' + (ctx.project ? ctx.project.name : '');
    }
    return null;
  };

  const gate = (/** @type {any} */ step) => {
    if (step.stage === 'bridge') return null;
    if (!ctx.project) return 'needs the self-test\'s own project, which premiere_new_project did not make';
    if (step.stage === 'items' && !(ctx.items.stillA && ctx.items.tone && ctx.items.spare)) return 'needs the self-test\'s media in the project, which premiere_import_media did not import';
    if (step.stage === 'timeline' && !ctx.seq) return 'needs the self-test\'s sequence, which premiere_create_sequence did not make';
    return null;
  };

  /** Runs one step and answers its report row. @param {any} step */
  const runStep = async (step) => {
    const t = new StepContext(ctx, bridge, step.verb);
    /** @type {string | null} */
    let skip = o.interrupted() || ctx.stop ? 'not run: ' + (o.interrupted() || ctx.stop) : gate(step);
    if (!skip && step.stage !== 'bridge' && step.guard !== false) {
      const wrong = await guard();
      if (wrong) {
        ctx.stop = wrong + '; stopped so that nothing else is touched';
        skip = 'not run: ' + ctx.stop;
      }
    }
    /** @type {string | null} */
    let selftestError = null;
    let readBack = null;
    if (!skip) {
      try {
        await step.run(t);
      } catch (e) {
        const text = e && e.message ? e.message : String(e);
        if (e instanceof ReadFailed) t.unavailable('read-back failed: ' + text);
        else if (!(e instanceof End) && t.answer === undefined) selftestError = 'the self-test failed before the call: ' + text;
        else if (!(e instanceof End)) t.unavailable('the self-test\'s read-back failed: ' + text);
      }
      // A call cut short by a second interrupt says nothing about the verb.
      if (t.transportError && o.stop.aborted) skip = 'stopped while it ran: ' + o.interrupted();
      readBack = t.readBack();
    }
    const verdict = classify({
      kind: step.kind,
      skip: skip || t.skipReason,
      answer: t.answer,
      transportError: t.transportError,
      selftestError,
      readBack,
      skipOnFailure: t.skipReasonForFailure(),
      note: t.notes.join('; '),
    });
    return Object.assign({
      verb: PREFIX + step.verb,
      runsIn: bridge.catalog.get(step.verb).runsIn,
      premiereVersion: ctx.env.premiereVersion,
      ms: t.ms === null ? null : Math.round(t.ms * 10) / 10,
      pluginVerified: t.answer && typeof t.answer.verified === 'boolean' ? t.answer.verified : null,
      readBack: readBack ? readBack.status : null,
    }, verdict);
  };

  for (const step of plan) {
    rows.set(step.verb, await runStep(step));
    log(progressLine(rows.get(step.verb), rows.size, count));
  }
  for (const verb of untested) {
    const row = {
      verb: PREFIX + verb, runsIn: bridge.catalog.get(verb).runsIn, premiereVersion: ctx.env.premiereVersion,
      ms: null, pluginVerified: null, readBack: null,
      result: 'untested', label: 'untested', reason: 'this self-test has no step for it (a verb newer than the self-test)',
    };
    rows.set(verb, row);
    log(progressLine(row, rows.size, count));
  }

  // Closing is never cut short: a second interrupt stops the verb in flight, not this.
  bridge.stop = new AbortController().signal;
  const closing = await closeOwnProject(bridge, ctx, guard);
  if (closing) notes.push(closing);
  if (ctx.projectOpen) notes.push('The self-test\'s files were left in ' + work + '.');
  else if (opts.keep) notes.push('The self-test\'s files are in ' + work + ' (--keep).');
  else fs.rmSync(work, { recursive: true, force: true });

  const verbs = catalog.map((v) => rows.get(String(v.name).replace(/^premiere_/, '')));
  const finishedAt = new Date();
  const report = {
    tool: 'cutrelay self-test',
    startedAt: startedAt.toISOString(),
    finishedAt: finishedAt.toISOString(),
    durationMs: finishedAt.getTime() - startedAt.getTime(),
    environment: ctx.env,
    interrupted: o.interrupted(),
    stopped: ctx.stop,
    verbCount: catalog.length,
    totals: totals(verbs),
    notes,
    verbs,
  };
  return { report };
}

/**
 * Closes the self-test's project if it is still open and still the active one (close acts
 * on the active project, which must never be the user's). Answers a note for the report
 * when something is left open, else null.
 * @param {Bridge} bridge @param {any} ctx @param {() => Promise<string | null>} guard
 */
async function closeOwnProject(bridge, ctx, guard) {
  if (!ctx.project || !ctx.projectOpen) return null;
  const wrong = await guard();
  if (wrong) return 'The self-test\'s project ' + ctx.project.path + ' was not closed because ' + wrong + '; close it in Premiere (File > Close Project).';
  const closed = await bridge.answer('close_project', { save: true });
  if (closed && closed.success) {
    ctx.projectOpen = false;
    return null;
  }
  return 'Closing the self-test\'s project failed (' + (closed ? closed.errorCode + ': ' + closed.error : 'no answer') + '); close ' + ctx.project.path + ' in Premiere.';
}

module.exports = { runSelftest, DEFAULTS };
