'use strict';
// Shared fixtures for the plug-in and simulator tests.

const crypto = require('crypto');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { createSim } = require('../../sim');

const ROOT = path.resolve(__dirname, '..', '..');

/**
 * Polls `fn` (synchronous or async) every 10 ms until it answers something truthy, and
 * answers that; fails after `ms`. An exception from `fn` fails at once.
 */
async function poll(what, fn, ms) {
  const end = Date.now() + ms;
  while (Date.now() < end) {
    const v = await fn();
    if (v) return v;
    await new Promise((r) => setTimeout(r, 10));
  }
  throw new Error(`timed out waiting for ${what}`);
}

/** A fresh temporary folder, removed by the returned cleanup. */
function tempDir(prefix = 'cutrelay-js-') {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

/** Writes small media files whose names carry duration and frame rate (see sim/README.md). */
function makeMedia(dir, names) {
  return names.map((n) => {
    const p = path.join(dir, n);
    fs.writeFileSync(p, 'simulated media');
    return p;
  });
}

/**
 * A simulator with its own home folder (no connection file, so the plug-in stays
 * disconnected) and a media folder; disposed after the test.
 */
function simFixture(t, options = {}) {
  const home = tempDir('cutrelay-home-');
  const media = tempDir('cutrelay-media-');
  const sim = createSim(Object.assign({ home, transcribeMs: 5 }, options));
  t.after(() => {
    sim.dispose();
    fs.rmSync(home, { recursive: true, force: true });
    fs.rmSync(media, { recursive: true, force: true });
  });
  return { sim, home, media, plugin: sim.plugin };
}

/** A project with two imported clips (12 s at 25 fps with audio, 3.5 s of audio) and a sequence of both. */
async function editFixture(t, options = {}) {
  const f = simFixture(t, options);
  const [video, audio] = makeMedia(f.media, ['interview_12s_25fps.mp4', 'music_3.5s.wav']);
  await f.sim.ok('new_project', { path: path.join(f.media, 'Edit') });
  const imported = await f.sim.ok('import_media', { paths: [video, audio] });
  await f.sim.ok('create_sequence', { name: 'Cut', fromItems: imported.items.map((i) => i.id) });
  return Object.assign(f, { video, audio, items: imported.items });
}

/** Writes the bridge's connection file under `home` (an object, or raw text to test bad files). */
function writeConnection(home, data) {
  const dir = path.join(home, '.quor', 'cutrelay');
  fs.mkdirSync(dir, { recursive: true });
  fs.writeFileSync(path.join(dir, 'connection.json'), typeof data === 'string' ? data : JSON.stringify(data));
}

/**
 * A proof of the plug-ins' handshake with the bridge (src/hub/handshake.hpp), made with
 * Node's crypto: HMAC-SHA-256 keyed by the token over the label, port and two nonces.
 */
function handshakeProof(label, token, port, first, second) {
  return crypto.createHmac('sha256', token).update(`${label}\n${port}\n${first}\n${second}`).digest('hex');
}

/**
 * Plays the bridge's side of the handshake on a socket that dialled `url`
 * (/ws?nonce=…): sends the challenge with a proof made with `token`, and answers the proof
 * the plug-in's hello must then carry; null (nothing sent) when the URL has no nonce.
 */
function challengeSocket(ws, url, token, port) {
  const nonce = new URL(url, 'ws://127.0.0.1').searchParams.get('nonce');
  if (!nonce) return null;
  const bridgeNonce = crypto.randomBytes(32).toString('hex');
  ws.send(JSON.stringify({ type: 'challenge', nonce: bridgeNonce, proof: handshakeProof('quor-bridge-proof', token, port, nonce, bridgeNonce) }));
  return handshakeProof('quor-plugin-proof', token, port, bridgeNonce, nonce);
}

module.exports = {
  ROOT, tempDir, makeMedia, simFixture, editFixture, poll, writeConnection, handshakeProof, challengeSocket,
};
