#!/usr/bin/env node
'use strict';
// Runs the Premiere simulator with the real UXP plug-in loaded. The plug-in finds the
// bridge through $HOME/.quor/cutrelay/connection.json by itself and keeps reconnecting.
//
//   node sim/main.js [--verbose] [--platform darwin] [--ame-installed]

const { createSim } = require('./index');

function main(argv) {
  const verbose = argv.includes('--verbose') || argv.includes('-v');
  const pi = argv.indexOf('--platform');
  const platform = pi >= 0 ? argv[pi + 1] : undefined;
  const home = process.env.HOME || process.env.USERPROFILE || '';
  const sim = createSim({
    home,
    platform,
    ameInstalled: argv.includes('--ame-installed'),
    onConsole: verbose ? (line) => process.stderr.write(line + '\n') : undefined,
  });
  process.stdout.write(`[cutrelay-sim] Premiere ${sim.app.version} simulator running; plug-in ${sim.plugin.PLUGIN_VERSION} looks for ${home}/.quor/cutrelay/connection.json\n`);
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
