'use strict';
// How the self-test judges each verb's answer, and the report it writes (JSON and Markdown).
//
// A verb's outcome is what the self-test saw: the answer of its one timed call (or none,
// when the step was skipped), the step's kind ("read" for verbs that only read, "edit" for
// everything that changes the project, writes files or moves state), and what the
// self-test's own read-back found ("confirmed", "contradicted" or "unavailable").

const LABELS = {
  verified: 'works, verified',
  unverifiable: 'works, not verifiable',
  works: 'works',
  fails: 'fails',
  skipped: 'skipped',
  untested: 'untested',
};

/** Results that leave the exit status at 0. */
const OK_RESULTS = new Set(['verified', 'unverifiable', 'works', 'skipped']);

/**
 * Error codes that mean "this Premiere or this machine cannot run the verb", not that the
 * verb is broken: the verb is reported as skipped with the answer's own sentence.
 */
const UNAVAILABLE = {
  premiere_too_old: 'needs a newer Premiere Pro',
  cep_not_connected: 'needs the CEP helper, which is not connected',
};

/**
 * @typedef {{ status: 'confirmed' | 'contradicted' | 'unavailable', detail: string }} ReadBack
 * @typedef {{
 *   kind: 'read' | 'edit', skip?: string | null, answer?: any, transportError?: string | null,
 *   selftestError?: string | null, readBack?: ReadBack | null, skipOnFailure?: string | null,
 *   note?: string | null
 * }} Outcome
 * @typedef {{ result: keyof LABELS, label: string, errorCode?: string, error?: string,
 *   detectedBy?: 'plugin' | 'selftest', reason?: string, note?: string }} Verdict
 */

/**
 * Judges one verb.
 * - no answer (the connection failed or timed out), or the self-test itself broke before
 *   the call → fails ("no_answer", "selftest_error");
 * - skipped by the step (with its reason), or a failure that only says this Premiere or
 *   machine can't run it (premiere_too_old, cep_not_connected, or the step's own reason,
 *   e.g. "needs video media") → skipped;
 * - any other failure → fails, with the answer's code and sentence;
 * - success that the self-test's own read-back contradicts → fails, "edit_not_applied"
 *   (or "wrong_answer" for a read), detected by the self-test;
 * - success of a read → works; success of anything else → works, verified when the
 *   plug-in said `verified: true` or the self-test's read-back confirmed it; else works,
 *   not verifiable, with the plug-in's `_note` or the reason the self-test could not check.
 * @param {Outcome} o @returns {Verdict}
 */
function classify(o) {
  const verdict = (/** @type {keyof LABELS} */ result, extra = {}) => Object.assign({ result, label: LABELS[result] }, extra);
  const noteOf = (/** @type {string[]} */ ...parts) => {
    const text = parts.filter((p) => typeof p === 'string' && p !== '').join('; ');
    return text === '' ? {} : { note: text };
  };
  if (o.skip) return verdict('skipped', { reason: o.skip });
  if (o.selftestError) return verdict('fails', { errorCode: 'selftest_error', error: o.selftestError });
  if (o.transportError) return verdict('fails', { errorCode: 'no_answer', error: o.transportError });
  const a = o.answer;
  if (!a || typeof a !== 'object' || a.success !== true) {
    const code = a && typeof a.errorCode === 'string' ? a.errorCode : 'unknown_error';
    const error = a && typeof a.error === 'string' ? a.error : JSON.stringify(a);
    if (Object.prototype.hasOwnProperty.call(UNAVAILABLE, code)) return verdict('skipped', { reason: UNAVAILABLE[code] + ': ' + error, errorCode: code });
    if (o.skipOnFailure) return verdict('skipped', { reason: o.skipOnFailure + ' (it answered ' + code + ': ' + error + ')', errorCode: code });
    return verdict('fails', Object.assign({ errorCode: code, error }, code === 'edit_not_applied' ? { detectedBy: 'plugin' } : {}));
  }
  const rb = o.readBack || null;
  if (rb && rb.status === 'contradicted') {
    return verdict('fails', { errorCode: o.kind === 'read' ? 'wrong_answer' : 'edit_not_applied', error: rb.detail, detectedBy: 'selftest' });
  }
  if (o.kind === 'read') return verdict('works', noteOf(o.note || ''));
  const pluginNote = typeof a._note === 'string' ? a._note : '';
  const confirmed = rb && rb.status === 'confirmed';
  const extra = o.note || '';
  if (a.verified === true) {
    return verdict('verified', noteOf('the plug-in read it back', confirmed ? 'so did the self-test: ' + rb.detail : '', extra));
  }
  if (confirmed) {
    return verdict('verified', noteOf('read back by the self-test: ' + rb.detail, a.verified === false ? 'the plug-in could not: ' + pluginNote : '', extra));
  }
  if (a.verified === false) return verdict('unverifiable', noteOf(pluginNote || 'the plug-in answered verified: false without a note', extra));
  return verdict('unverifiable', noteOf('the plug-in did not say whether the change happened', rb ? rb.detail : 'the self-test has no read-back for it', extra));
}

/** Counts per result, in a fixed order. @param {{ result: string }[]} rows */
function totals(rows) {
  /** @type {Record<string, number>} */
  const out = {};
  for (const key of Object.keys(LABELS)) out[key] = 0;
  for (const r of rows) out[r.result] = (out[r.result] || 0) + 1;
  return out;
}

/** The one-line totals text. @param {Record<string, number>} t */
function totalsLine(t) {
  return Object.keys(LABELS).filter((k) => t[k] > 0 || k === 'fails').map((k) => t[k] + ' ' + LABELS[k]).join('; ');
}

/** @param {{ result: string }[]} rows */
function allOk(rows) {
  return rows.every((r) => OK_RESULTS.has(r.result));
}

/** What the row says beyond its result: the error, the reason, or the note. @param {any} r */
function detailOf(r) {
  if (r.result === 'fails') return (r.errorCode ? r.errorCode + ': ' : '') + (r.error || '') + (r.detectedBy === 'selftest' ? ' (found by the self-test\'s read-back)' : '');
  if (r.result === 'skipped' || r.result === 'untested') return r.reason || '';
  return r.note || '';
}

/** @param {number | null | undefined} ms */
function msText(ms) {
  return typeof ms === 'number' ? Math.round(ms) + ' ms' : '';
}

/** The line printed as each verb finishes. @param {any} r @param {number} n @param {number} of */
function progressLine(r, n, of) {
  const width = String(of).length;
  const detail = detailOf(r);
  return '[' + String(n).padStart(width) + '/' + of + '] ' + r.verb.padEnd(34) + ' ' + r.label +
    (r.ms !== null && r.ms !== undefined ? ' (' + msText(r.ms) + ')' : '') + (detail ? ' — ' + detail : '');
}

/** @param {string} text */
function cell(text) {
  return String(text).replace(/\\/g, '\\\\').replace(/\|/g, '\\|').replace(/\r?\n/g, ' ');
}

/**
 * The Markdown report: a heading with the environment, the totals, notes, and one table
 * row per catalog verb in catalog order.
 * @param {any} report the JSON report
 */
function markdown(report) {
  const env = report.environment;
  const lines = [
    '# cutrelay self-test: Premiere Pro ' + env.premiereVersion,
    '',
    '- When: ' + report.startedAt + ' (' + Math.round(report.durationMs / 1000) + ' s)',
    '- Premiere Pro: ' + env.premiereVersion + (env.simulated ? ' (the simulator)' : '') + ' on ' + env.os,
    '- UXP plug-in: ' + env.pluginVersion + '; CEP helper: ' + (env.cepHelper || 'not connected') + '; bridge: ' + env.bridgeVersion,
    '- Totals (' + report.verbCount + ' verbs): ' + totalsLine(report.totals),
  ];
  if (report.interrupted) lines.push('- Interrupted: ' + report.interrupted);
  if (report.stopped) lines.push('- Stopped early: ' + report.stopped);
  lines.push('');
  if (report.notes.length > 0) {
    lines.push('Notes:', '');
    for (const n of report.notes) lines.push('- ' + n);
    lines.push('');
  }
  lines.push('| # | Verb | Runs in | Premiere | Result | Detail | Time |', '|---|---|---|---|---|---|---|');
  report.verbs.forEach((r, i) => {
    lines.push('| ' + [i + 1, '`' + r.verb + '`', r.runsIn, r.premiereVersion, r.label, cell(detailOf(r)), msText(r.ms)].join(' | ') + ' |');
  });
  return lines.join('\n') + '\n';
}

module.exports = { LABELS, OK_RESULTS, classify, totals, totalsLine, allOk, detailOf, progressLine, markdown };
