'use strict';
// Running the real bridge binary and the simulator as child processes, and talking to the
// bridge as an agent does (HTTP on loopback). Used by the end-to-end tests.

const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { spawn } = require('child_process');
const { ROOT, tempDir } = require('./helpers');

const BIN = path.resolve(ROOT, process.env.CUTRELAY_BIN || 'build/cutrelay');
const HAVE_BIN = fs.existsSync(BIN);
if (!HAVE_BIN && process.env.CUTRELAY_BIN) throw new Error(`CUTRELAY_BIN=${process.env.CUTRELAY_BIN} does not exist`);
const SKIP = HAVE_BIN ? false : `no bridge binary at ${BIN} (build it or set CUTRELAY_BIN)`;

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

/** Polls `fn` until it returns something truthy; fails after `ms`. */
async function until(what, fn, ms) {
  const end = Date.now() + ms;
  let last;
  while (Date.now() < end) {
    try {
      const v = await fn();
      if (v) return v;
    } catch (e) {
      last = e;
    }
    await sleep(50);
  }
  throw new Error(`timed out waiting for ${what}${last ? ': ' + last.message : ''}`);
}

/**
 * Starts a child process that is killed (by its own pid) when the test ends. `env` goes over
 * this process's environment; a null value removes a variable. `child.exited` settles with
 * the exit code.
 */
function start(t, cmd, args, env, stdio = ['ignore', 'pipe', 'pipe']) {
  const full = Object.assign({}, process.env, env);
  for (const [k, v] of Object.entries(env || {})) if (v === null) delete full[k];
  const child = spawn(cmd, args, { env: full, stdio });
  child.out = '';
  child.err = '';
  if (child.stdout) child.stdout.on('data', (d) => { child.out += d; });
  if (child.stderr) child.stderr.on('data', (d) => { child.err += d; });
  child.exited = new Promise((resolve) => child.on('exit', resolve));
  t.after(() => { if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL'); });
  return child;
}

/** The bridge on a free port, with `env` over HOME (see start); answers once connection.json is written. */
async function startBridge(t, home, env = {}) {
  const file = path.join(home, '.quor', 'cutrelay', 'connection.json');
  try { fs.rmSync(file); } catch (e) { /* first start */ }
  const bridge = start(t, BIN, ['--port', '0'], Object.assign({ HOME: home }, env));
  const conn = await until('connection.json', () => {
    const c = JSON.parse(fs.readFileSync(file, 'utf8'));
    return c.port && c.token ? c : null;
  }, 5000);
  return { bridge, port: conn.port };
}

/** An agent: sends one command and returns the bridge's JSON answer, waiting at most `ms`. */
function agent(port, ms = 20000) {
  return async (command, args = {}) => {
    const res = await fetch(`http://127.0.0.1:${port}/command`, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ command, args }),
      signal: AbortSignal.timeout(ms),
    });
    assert.equal(res.status, 200);
    return res.json();
  };
}

/** Waits until the plug-in answers a ping through the bridge. */
async function pluginReady(send) {
  return until('the plug-in to connect', async () => {
    const r = await send('premiere_ping', { timeoutSec: 2 });
    return r.success ? r : null;
  }, 10000);
}

/** A fresh home and work folder, cutrelay-<name>-home-… and cutrelay-<name>-work-…, removed after the test. */
function homeAndWork(t, name) {
  const home = tempDir(`cutrelay-${name}-home-`);
  const work = tempDir(`cutrelay-${name}-work-`);
  t.after(() => {
    fs.rmSync(home, { recursive: true, force: true });
    fs.rmSync(work, { recursive: true, force: true });
  });
  return { home, work };
}

/** The simulator (sim/main.js) with extra arguments, e.g. ['--only', 'uxp'], and `env` over HOME (see start). */
function startSim(t, home, args = [], env = {}) {
  return start(t, process.execPath, [path.join(ROOT, 'sim', 'main.js'), ...args], Object.assign({ HOME: home }, env));
}

module.exports = { BIN, SKIP, sleep, until, start, startBridge, startSim, agent, pluginReady, homeAndWork };
