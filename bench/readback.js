#!/usr/bin/env node
'use strict';
// What the edit read-backs cost in the simulator: each verb runs N times (undone after
// each run) with the plug-in of a git revision without read-backs and with the working
// tree's, and the median time per call is printed for both (after a warm-up pass).
//
//   node bench/readback.js [REV=main] [N=200]

const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { createSim } = require('../sim');

const ROOT = path.join(__dirname, '..');
const [rev = 'main', n = '200'] = process.argv.slice(2);
const RUNS = Number(n);

const CASES = [
  ['rename_clip', { clip: 'V1:0', name: 'N' }],
  ['trim_clip', { clip: 'V1:0', trimEnd: 1 }],
  ['move_clip', { clip: 'V1:0', by: 1 }],
  ['set_param', { clip: 'V1:0', component: 'Opacity', param: 'Opacity', value: 50 }],
  ['add_keyframes', { clip: 'V1:0', component: 'Motion', param: 'Scale', keyframes: [{ time: 1, value: 50 }, { time: 3, value: 100 }] }],
  ['add_marker', { time: 1, name: 'm' }],
  ['overwrite_clip', { item: 'music_3.5s.wav', time: 2 }],
];

function pluginAt(revision) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'cutrelay-plugin-'));
  for (const f of ['index.js', 'index.html', 'manifest.json']) {
    fs.writeFileSync(path.join(dir, f), execFileSync('git', ['-C', ROOT, 'show', `${revision}:uxp-plugin/${f}`]));
  }
  return dir;
}

async function timings(pluginDir) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'cutrelay-home-'));
  const media = fs.mkdtempSync(path.join(os.tmpdir(), 'cutrelay-media-'));
  const sim = createSim({ home, pluginDir });
  const files = ['interview_12s_25fps.mp4', 'music_3.5s.wav'].map((f) => path.join(media, f));
  for (const f of files) fs.writeFileSync(f, 'simulated media');
  await sim.ok('new_project', { path: path.join(media, 'Bench') });
  const { items } = await sim.ok('import_media', { paths: files });
  await sim.ok('create_sequence', { name: 'Cut', fromItems: items.map((i) => i.id) });
  const out = {};
  for (const [verb, args] of CASES) {
    const times = [];
    for (let i = 0; i < RUNS; i++) {
      const steps = sim.undoHistory().length;
      const t0 = process.hrtime.bigint();
      await sim.ok(verb, args);
      times.push(Number(process.hrtime.bigint() - t0) / 1e6);
      while (sim.undoHistory().length > steps) sim.undo();
    }
    times.sort((a, b) => a - b);
    out[verb] = times[Math.floor(times.length / 2)];
  }
  sim.dispose();
  return out;
}

(async () => {
  const old = pluginAt(rev);
  const now = path.join(ROOT, 'uxp-plugin');
  // A first pass of each warms the JIT up; the second is the one reported.
  await timings(old);
  await timings(now);
  const before = await timings(old);
  const after = await timings(now);
  process.stdout.write(`verb              ${rev} (ms)  read-back (ms)  added (ms)\n`);
  for (const [verb] of CASES) {
    process.stdout.write(`${verb.padEnd(18)}${before[verb].toFixed(3).padStart(9)}  ${after[verb].toFixed(3).padStart(14)}  ${(after[verb] - before[verb]).toFixed(3).padStart(10)}\n`);
  }
})();
