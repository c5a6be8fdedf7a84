'use strict';
// The self-test's simulated Premiere (scripts/selftest --sim): a bridge and the simulator
// in a temporary home, started with the test suite's own helpers and stopped afterwards.

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const ROOT = path.resolve(__dirname, '..');

/**
 * Starts a bridge and the simulator playing Premiere `version` (a version, "oldest" or
 * "newest") in a temporary home, and answers {port, home, version, stop}. The home gets
 * what a Mac with Premiere has and the self-test looks for: an export preset and a Motion
 * Graphics template (stand-ins: the simulator reads neither file's content).
 * @param {string} version @param {string[]} simArgs more arguments for sim/main.js
 */
async function startSimulated(version, simArgs = []) {
  const since = require('../sim/premierepro/since');
  const wanted = version === 'oldest' ? since.OLDEST : version === 'newest' ? since.NEWEST : version;
  const { BIN, startBridge, startSim, until } = require('../tests/js/bridge');
  if (!fs.existsSync(BIN)) {
    process.stderr.write('[selftest] building the bridge (' + BIN + ')\n');
    const built = spawnSync(path.join(ROOT, 'scripts', 'build'), ['--target', 'cutrelay'], { stdio: 'inherit' });
    if (built.status !== 0) throw new Error('building the bridge failed');
  }
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'cutrelay-selftest-home-'));
  /** @type {(() => void)[]} */
  const cleanups = [];
  // The helpers stop what they start when their owner ends (a test, here this harness).
  const owner = { after: (/** @type {() => void} */ fn) => { cleanups.push(fn); } };
  const stop = () => {
    for (const fn of cleanups.reverse()) { try { fn(); } catch (e) { /* already gone */ } }
    fs.rmSync(home, { recursive: true, force: true });
  };
  try {
    const presets = path.join(home, 'Documents', 'Adobe', 'Premiere Pro', 'Selftest');
    fs.mkdirSync(presets, { recursive: true });
    fs.writeFileSync(path.join(presets, 'Selftest H.264.epr'),
      '<?xml version="1.0"?>\n<ExporterPreset><PresetName>Selftest H.264 (simulator stand-in)</PresetName></ExporterPreset>\n');
    const templates = path.join(home, 'Library', 'Application Support', 'Adobe', 'Common', 'Motion Graphics Templates');
    fs.mkdirSync(templates, { recursive: true });
    fs.writeFileSync(path.join(templates, 'Selftest Title.mogrt'), 'simulator stand-in\n');

    const { port } = await startBridge(owner, home);
    const sim = startSim(owner, home, ['--premiere-version', wanted, '--direct-api', ...simArgs]);
    // The simulator refuses an unknown version at once: say so rather than wait.
    const ended = await Promise.race([
      sim.exited.then((code) => ({ code })),
      until('the simulator to start', () => /running/.test(sim.out), 10000).then(() => null),
    ]);
    if (ended) throw new Error('the simulator stopped (exit ' + ended.code + '): ' + sim.err.trim());
    return { port, home, version: wanted, stop };
  } catch (e) {
    stop();
    throw e;
  }
}

module.exports = { startSimulated };
