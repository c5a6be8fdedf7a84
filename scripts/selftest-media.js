'use strict';
// The self-test's own media, written on the spot with nothing but Node: PNG stills (the
// simulator's PNG writer, zlib's deflate), numbered PNGs that Premiere imports as one clip
// (asNumberedStills) and a WAV tone (RIFF, 16-bit PCM). None needs a video encoder.

const fs = require('fs');
const path = require('path');
const { Picture, encodePng } = require('../sim/png');

/**
 * A mono or stereo 16-bit PCM WAV of a sine tone with 10 ms fades at both ends.
 * @param {{ seconds: number, sampleRate?: number, channels?: number, hz?: number, dbfs?: number }} o
 */
function encodeWAV({ seconds, sampleRate = 48000, channels = 2, hz = 440, dbfs = -12 }) {
  const frames = Math.round(seconds * sampleRate);
  const bytes = frames * channels * 2;
  const out = Buffer.alloc(44 + bytes);
  out.write('RIFF', 0, 'ascii');
  out.writeUInt32LE(36 + bytes, 4);
  out.write('WAVE', 8, 'ascii');
  out.write('fmt ', 12, 'ascii');
  out.writeUInt32LE(16, 16);
  out.writeUInt16LE(1, 20); // PCM
  out.writeUInt16LE(channels, 22);
  out.writeUInt32LE(sampleRate, 24);
  out.writeUInt32LE(sampleRate * channels * 2, 28);
  out.writeUInt16LE(channels * 2, 32);
  out.writeUInt16LE(16, 34);
  out.write('data', 36, 'ascii');
  out.writeUInt32LE(bytes, 40);
  const amplitude = 32767 * Math.pow(10, dbfs / 20);
  const fade = Math.max(1, Math.round(sampleRate / 100));
  for (let i = 0; i < frames; i++) {
    const ramp = Math.min(1, i / fade, (frames - 1 - i) / fade);
    const v = Math.round(amplitude * ramp * Math.sin(2 * Math.PI * hz * i / sampleRate));
    for (let c = 0; c < channels; c++) out.writeInt16LE(v, 44 + (i * channels + c) * 2);
  }
  return out;
}

/**
 * A PNG of a flat colour with a lighter bar whose height follows `phase` (0…1), so the
 * frames of a sequence differ from one another.
 * @param {number} width @param {number} height @param {[number, number, number]} rgb @param {number} phase
 */
function stillPNG(width, height, rgb, phase) {
  const picture = new Picture(width, height, rgb);
  const light = /** @type {[number, number, number]} */ (rgb.map((v) => Math.min(255, v + 70)));
  picture.fillRect(width / 8, height * (0.1 + phase * 0.7), width * 3 / 4, Math.max(2, height / 12), light);
  return encodePng(picture);
}

// What the image sequence holds: SEQUENCE_FRAMES frames whose picture changes completely
// half-way (a scene cut for scene edit detection), at whatever rate Premiere gives stills.
const SEQUENCE_FRAMES = 60;
const SEQUENCE_CUT = 30;
const TONE_SECONDS = 6;

/**
 * Writes the self-test's media into `dir` and answers their paths:
 * `stillA`, `stillB`, `spare` (PNG stills 1280×720), `sequence` (the first of the numbered
 * PNGs, 320×180), `sequenceFiles` (all of them) and `tone` (a stereo 48 kHz WAV of
 * TONE_SECONDS).
 * @param {string} dir
 */
function writeMedia(dir) {
  fs.mkdirSync(dir, { recursive: true });
  const still = (/** @type {string} */ name, /** @type {[number, number, number]} */ rgb) => {
    const file = path.join(dir, name);
    fs.writeFileSync(file, stillPNG(1280, 720, rgb, 0.5));
    return file;
  };
  const stillA = still('selftest_still_a_1280x720.png', [40, 90, 160]);
  const stillB = still('selftest_still_b_1280x720.png', [160, 90, 40]);
  const spare = still('selftest_spare_1280x720.png', [60, 140, 60]);

  const seqDir = path.join(dir, 'sequence');
  fs.mkdirSync(seqDir, { recursive: true });
  const sequenceFiles = [];
  for (let i = 0; i < SEQUENCE_FRAMES; i++) {
    const rgb = /** @type {[number, number, number]} */ (i < SEQUENCE_CUT ? [200, 60, 60] : [40, 60, 200]);
    const file = path.join(seqDir, 'selftest_frames_' + String(i).padStart(3, '0') + '.png');
    fs.writeFileSync(file, stillPNG(320, 180, rgb, (i % SEQUENCE_CUT) / SEQUENCE_CUT));
    sequenceFiles.push(file);
  }
  // The simulator reads no pixels and imports numbered stills as one still; its sidecar
  // tells it what Premiere sees in these frames (length at 25 fps, the cut). Premiere
  // itself never reads this file.
  fs.writeFileSync(sequenceFiles[0] + '.simmeta.json', JSON.stringify({
    duration: SEQUENCE_FRAMES / 25, fps: 25, width: 320, height: 180, sceneCuts: [SEQUENCE_CUT / 25],
  }));

  const tone = path.join(dir, 'selftest_tone_' + TONE_SECONDS + 's.wav');
  fs.writeFileSync(tone, encodeWAV({ seconds: TONE_SECONDS }));
  return { stillA, stillB, spare, sequence: sequenceFiles[0], sequenceFiles, tone };
}

module.exports = { stillPNG, encodeWAV, writeMedia, SEQUENCE_FRAMES, SEQUENCE_CUT, TONE_SECONDS };
