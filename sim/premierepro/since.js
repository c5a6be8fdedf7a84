'use strict';
// Which Premiere Pro version first offers each member of the `premierepro` module.
//
// One row per member that is newer than the baseline: { class, member, static, since,
// source }. A member without a row is taken to exist since BASELINE (25.6, the first
// release of Adobe's generally available UXP reference, whose pages mark every original
// member "Since: 25.6"). createPremiere() removes every member whose `since` is newer than
// the simulated version, so a plug-in call that needs a newer Premiere fails here exactly
// as it would in the real one ("… is not a function").
//
// To add a member: add a row here (class and member exactly as the module spells them,
// `static: true` for members of the class itself, `since` as "major.minor", and where the
// version comes from). If the simulator does not offer the member yet, the row still
// documents it; tests/js/since.test.js only insists that offered members agree with rows.

/** Premiere versions the simulator models, oldest first. */
const VERSIONS = ['25.6.0', '26.0.0', '26.2.0', '26.3.0', '26.5.0'];
const BASELINE = '25.6';
const OLDEST = VERSIONS[0];
const NEWEST = VERSIONS[VERSIONS.length - 1];
/** What createSim() plays when no version is asked for: the version of the declarations. */
const DEFAULT = '26.3.0';

const REF = 'developer.adobe.com/premiere-pro/uxp/ppro-reference/classes/';
const CHANGELOG_263 = "Adobe's Premiere UXP changelog, 26.3.0";
const SAMPLES = 'AdobeDocs/uxp-premiere-pro-samples';

const SINCE = [
  { class: 'Project', member: 'isProject', static: true, since: '26.2', source: REF + 'project ("Since: 26.2")' },
  { class: 'Project', member: 'closeSequence', since: '26.2', source: REF + 'project ("Since: 26.2")' },
  { class: 'Project', member: 'createSequenceWithPresetPath', since: '26.3', source: REF + 'project; ' + CHANGELOG_263 },
  { class: 'ClipProjectItem', member: 'createSubClipAction', since: '26.3', source: REF + 'clipprojectitem; ' + CHANGELOG_263 + ' ("Added ClipProjectItem.createSubClipAction")' },
  { class: 'ClipProjectItem', member: 'getOriginatingProjectPath', since: '26.2', source: REF + 'clipprojectitem ("Since: 26.2")' },
  { class: 'SequenceSettings', member: 'getVideoFrameRate', since: '26.2', source: REF + 'sequencesettings ("Since: 26.2"); ' + SAMPLES + ' commit 908eead (Dec 2025) first uses it' },
  { class: 'SequenceSettings', member: 'setVideoFrameRate', since: '26.2', source: REF + 'sequencesettings ("Since: 26.2"); ' + SAMPLES + ' commit 908eead' },
  { class: 'VideoTrack', member: 'createSetNameAction', since: '26.3', source: REF + 'videotrack; ' + CHANGELOG_263 + ' ("Added createSetNameAction to AudioTrack, CaptionTrack and VideoTrack")' },
  { class: 'AudioTrack', member: 'createSetNameAction', since: '26.3', source: REF + 'audiotrack; ' + CHANGELOG_263 },
  { class: 'Transcript', member: 'hasTranscript', static: true, since: '26.3', source: REF + 'transcript ("Since: 26.3"); ' + CHANGELOG_263 },
  { class: 'Transcript', member: 'querySupportedLanguages', static: true, since: '26.3', source: REF + 'transcript ("Since: 26.3"); ' + CHANGELOG_263 },
  { class: 'Marker', member: 'guid', since: '26.3', source: REF + 'marker; ' + CHANGELOG_263 + ' ("Marker objects gained a unique guid property")' },
  { class: 'SourceMonitor', member: 'setPosition', static: true, since: '26.3', source: CHANGELOG_263 + ' ("SourceMonitor.setPosition added")' },
  { class: 'ProjectConverter', member: 'exportAAF', static: true, since: '26.3', source: CHANGELOG_263 },
  { class: 'ProjectConverter', member: 'AAF_EXPORT_AUDIO_FORMAT_AIFF', static: true, since: '26.3', source: REF + 'projectconverter (arrived with exportAAF); ' + CHANGELOG_263 },
  { class: 'ProjectConverter', member: 'AAF_EXPORT_AUDIO_FORMAT_WAV', static: true, since: '26.3', source: REF + 'projectconverter (arrived with exportAAF); ' + CHANGELOG_263 },
  { class: 'ProjectConverter', member: 'exportAsOpenTimelineIO', static: true, since: '26.2', source: REF + 'projectconverter ("Since: 26.2")' },
  { class: 'ProjectConverter', member: 'exportAsFinalCutProXML', static: true, since: '26.2', source: REF + 'projectconverter ("Since: 26.2")' },
  // After the member rows, which offered() and sinceOf() read first.
  { class: 'ProjectConverter', member: '*', since: '26.2', source: REF + 'projectconverter (the class: "Since: 26.2")' },
  { class: 'EncoderManager', member: 'startBatchEncode', since: '26.3', source: CHANGELOG_263 },
  { class: 'EncoderManager', member: 'launchEncoder', since: '26.3', source: CHANGELOG_263 },
  { class: 'EncoderManager', member: 'setEmbeddedXMPEnabled', since: '26.3', source: CHANGELOG_263 },
  { class: 'EncoderManager', member: 'setSidecarXMPEnabled', since: '26.3', source: CHANGELOG_263 },
  { class: 'Media', member: 'getStart', since: '26.5', source: SAMPLES + ' commit b6b0fba (Jul 2026, "Replace deprecated Media properties with functions", types 26.5.0-beta.59); not on the reference pages yet' },
  { class: 'Media', member: 'getDuration', since: '26.5', source: SAMPLES + ' commit b6b0fba (Jul 2026), as getStart' },
  { class: 'WorkAreaUtils', member: '*', since: '26.5', source: SAMPLES + ' commit a9d762f (Jul 2026) uses it without a type error once the sample moved to the 26.5.0 beta types; absent from the 26.3 declarations and reference. Inferred, not confirmed by a reference page' },
];

// Members whose shape changed: before `until` the method returned a Promise of what it
// returns synchronously now.
const PROMISE_UNTIL = [
  { class: 'Sequence', member: 'setSelection', until: '26.3', source: CHANGELOG_263 + ' (breaking: "Sequence.setSelection is now synchronous and returns a boolean directly instead of a Promise")' },
];

/** "26.3.1" → [26, 3, 1]; anything unparsable → null. */
function parseVersion(v) {
  const m = /^(\d+)\.(\d+)(?:\.(\d+))?/.exec(String(v === undefined || v === null ? '' : v).trim());
  return m ? [Number(m[1]), Number(m[2]), Number(m[3] || 0)] : null;
}

/** Negative, zero or positive as a is older than, equal to or newer than b. */
function compareVersions(a, b) {
  const x = parseVersion(a);
  const y = parseVersion(b);
  if (!x || !y) throw new Error(`Bad Premiere version '${!x ? a : b}'`);
  for (let i = 0; i < 3; i++) if (x[i] !== y[i]) return x[i] - y[i];
  return 0;
}

/**
 * The full version text the simulator plays for a requested one: "26.2" → "26.2.0".
 * Refuses versions outside the modelled range, since nothing is known about them.
 */
function normaliseVersion(v) {
  if (v === undefined || v === null || v === '') return DEFAULT;
  const p = parseVersion(v);
  if (!p) throw new Error(`Bad Premiere version '${v}' (use e.g. 25.6 or 26.3.0)`);
  const text = p.join('.');
  if (compareVersions(text, OLDEST) < 0 || compareVersions(text, NEWEST) > 0) {
    throw new Error(`The simulator models Premiere ${OLDEST} to ${NEWEST}, not ${text}`);
  }
  return text;
}

/** True when `version` offers the member (members without a row are baseline members). */
function offered(version, className, member, isStatic = false) {
  for (const row of SINCE) {
    if (row.class !== className) continue;
    if (row.member === '*' || (row.member === member && !!row.static === !!isStatic)) {
      return compareVersions(version, row.since) >= 0;
    }
  }
  return true;
}

/** The version a member needs ("25.6" for baseline members). */
function sinceOf(className, member, isStatic = false) {
  const row = SINCE.find((r) => r.class === className && (r.member === '*' || (r.member === member && !!r.static === !!isStatic)));
  return row ? row.since : BASELINE;
}

module.exports = { SINCE, PROMISE_UNTIL, VERSIONS, BASELINE, OLDEST, NEWEST, DEFAULT, parseVersion, compareVersions, normaliseVersion, offered, sinceOf };
