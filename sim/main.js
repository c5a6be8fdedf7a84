#!/usr/bin/env node
'use strict';
// Runs the Premiere simulator with the real UXP plug-in and the real CEP helper loaded.
// Each finds the bridge through $HOME/.quor/cutrelay/connection.json by itself and keeps
// reconnecting.
//
//   node sim/main.js [--verbose] [--platform darwin] [--premiere-version 25.6] [--locale de_DE] [--only uxp|cep]
//                    [--script-timeout 30] [--ame-installed] [--direct-api]
//                    [--fault noop=VERB[,VERB…]] [--fault partial=VERB] [--fault stale=VERB]
//
// --premiere-version picks the Premiere the simulator plays (25.6.0 to 26.5.0, default
// 26.3.0): it offers exactly the members that version has (premierepro/since.js).
// --locale picks the language of Premiere's user interface (en_US, de_DE or ja_JP): effect,
// component and parameter display names are translated, match names stay.
// --only starts one of the two plug-ins. --script-timeout <s> stops an ExtendScript
// evaluation that runs longer (default 30 s; Premiere itself would hang).
// --ame-installed makes Adobe Media Encoder count as installed.
// --fault makes the named verbs' transactions lie (repeatable): noop answers success and
// changes nothing, partial applies only the first action of the compound action, stale fails
// the transaction as a stale action would (premierepro/faults.js).
// --direct-api also serves a stand-in for the companion application's direct API (window
// list and capture, sim/direct-api.js) and leaves its port in ~/.quor/direct-api-port.
// With CUTRELAY_EXIT_WITH_STDIN=1 in its environment it ends when its standard input does
// (cutrelay-mcp starts it so, to take it along when the relay goes).

const { createSim } = require('./index');
const { DirectApiStandIn } = require('./direct-api');

/** The value after `--name`, or `--name=value`; undefined when absent. */
function option(argv, name) {
  const i = argv.indexOf(name);
  if (i >= 0) return argv[i + 1];
  const eq = argv.find((a) => a.startsWith(name + '='));
  return eq === undefined ? undefined : eq.slice(name.length + 1);
}

function main(argv) {
  const verbose = argv.includes('--verbose') || argv.includes('-v');
  const platform = option(argv, '--platform');
  const version = option(argv, '--premiere-version');
  const locale = option(argv, '--locale');
  const only = option(argv, '--only');
  if (argv.some((a) => a === '--only' || a.startsWith('--only=')) && only !== 'uxp' && only !== 'cep') {
    process.stderr.write('[cutrelay-sim] --only takes "uxp" or "cep"\n');
    process.exit(2);
  }
  const timeoutText = option(argv, '--script-timeout');
  const scriptTimeout = timeoutText === undefined ? undefined : Number(timeoutText);
  if (scriptTimeout !== undefined && !(scriptTimeout > 0)) {
    process.stderr.write('[cutrelay-sim] --script-timeout takes a number of seconds\n');
    process.exit(2);
  }
  const faults = argv.flatMap((a, i) => (a === '--fault' ? [argv[i + 1] === undefined ? '' : argv[i + 1]] : a.startsWith('--fault=') ? [a.slice(8)] : []));
  const home = process.env.HOME || process.env.USERPROFILE || '';
  let sim;
  try {
    sim = createSim({
      home,
      platform,
      version,
      locale,
      ameInstalled: argv.includes('--ame-installed'),
      faults,
      only,
      scriptTimeoutMs: scriptTimeout === undefined ? undefined : scriptTimeout * 1000,
      onConsole: verbose ? (line) => process.stderr.write(line + '\n') : undefined,
    });
  } catch (e) {
    process.stderr.write(`[cutrelay-sim] ${e.message}\n`);
    process.exit(2);
  }
  const loaded = [];
  if (sim.plugin) loaded.push(`plug-in ${sim.plugin.PLUGIN_VERSION}`);
  if (sim.cep) loaded.push(`CEP helper ${sim.cep.exports.HELPER_VERSION}`);
  process.stdout.write(`[cutrelay-sim] Premiere ${sim.app.version} simulator running; ${loaded.join(' and ')} ${loaded.length > 1 ? 'look' : 'looks'} for ${home}/.quor/cutrelay/connection.json\n`);
  if (sim.app.faults.byVerb.size > 0) {
    process.stdout.write(`[cutrelay-sim] faults: ${[...sim.app.faults.byVerb].map(([v, m]) => `${m}=${v}`).join(' ')}\n`);
  }
  let directApi = null;
  if (argv.includes('--direct-api')) {
    directApi = new DirectApiStandIn({ app: sim.app, home, token: process.env.QUOR_BRIDGE_TOKEN });
    directApi.start().then(
      (port) => process.stdout.write(`[cutrelay-sim] direct API stand-in on 127.0.0.1:${port}\n`),
      (e) => process.stderr.write(`[cutrelay-sim] direct API stand-in not started: ${e.message}\n`),
    );
    // The port file must not outlive the process, however it ends.
    process.on('exit', () => directApi.removePortFile());
  }
  // Stay alive even while no socket or reconnect timer is pending.
  const keepAlive = setInterval(() => {}, 60 * 60 * 1000);
  const stop = () => {
    clearInterval(keepAlive);
    if (directApi) directApi.removePortFile();
    sim.dispose();
    process.exit(0);
  };
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
  // Started by cutrelay-mcp, whose pipe is our standard input: end when the relay does,
  // however it ends (the pipe closes even when the relay is killed).
  if (process.env.CUTRELAY_EXIT_WITH_STDIN === '1') {
    process.stdin.on('end', stop);
    process.stdin.on('error', stop);
    process.stdin.resume();
  }
}

main(process.argv.slice(2));
