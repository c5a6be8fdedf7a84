#!/usr/bin/env node
'use strict';
// Runs the Premiere simulator with the real UXP plug-in and the real CEP helper loaded.
// Each finds the bridge through $HOME/.quor/cutrelay/connection.json by itself and keeps
// reconnecting.
//
//   node sim/main.js [--verbose] [--platform darwin] [--only uxp|cep]

const { createSim } = require('./index');

function main(argv) {
  const verbose = argv.includes('--verbose') || argv.includes('-v');
  const pi = argv.indexOf('--platform');
  const platform = pi >= 0 ? argv[pi + 1] : undefined;
  const oi = argv.indexOf('--only');
  const only = oi >= 0 ? argv[oi + 1] : undefined;
  if (oi >= 0 && only !== 'uxp' && only !== 'cep') {
    process.stderr.write('[cutrelay-sim] --only takes "uxp" or "cep"\n');
    process.exit(2);
  }
  const home = process.env.HOME || process.env.USERPROFILE || '';
  const sim = createSim({
    home,
    platform,
    only,
    onConsole: verbose ? (line) => process.stderr.write(line + '\n') : undefined,
  });
  const loaded = [];
  if (sim.plugin) loaded.push(`plug-in ${sim.plugin.PLUGIN_VERSION}`);
  if (sim.cep) loaded.push(`CEP helper ${sim.cep.exports.HELPER_VERSION}`);
  process.stdout.write(`[cutrelay-sim] Premiere ${sim.app.version} simulator running; ${loaded.join(' and ')} ${loaded.length > 1 ? 'look' : 'looks'} for ${home}/.quor/cutrelay/connection.json\n`);
  // Stay alive even while no socket or reconnect timer is pending.
  const keepAlive = setInterval(() => {}, 60 * 60 * 1000);
  const stop = () => {
    clearInterval(keepAlive);
    sim.dispose();
    process.exit(0);
  };
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
}

main(process.argv.slice(2));
