'use strict';
// What the simulated Premiere learns about a file when it imports it.
//
// In order of precedence:
//   1. a sidecar "<file>.simmeta.json" next to the file, whose members override the rest:
//      duration (seconds), fps, width, height, hasVideo, hasAudio, audioChannels,
//      sampleRate, startSeconds, transcript (Adobe transcript JSON, used by transcription),
//      speed (the speed of every clip placed from it), sceneCuts (seconds of media time
//      where scene edit detection finds a cut; none means no cuts);
//   2. the file name: "_12.5s" sets the duration, "_25fps" the frame rate, "_1280x720" the
//      frame size (e.g. "interview_42s_23.976fps_1920x1080.mp4");
//   3. the WAV header of .wav files (sample rate, channels, duration);
//   4. defaults by extension (below).
// Files whose extension Premiere would not import are refused (null).

const fs = require('fs');
const path = require('path');

const VIDEO = ['.mp4', '.mov', '.m4v', '.mxf', '.avi', '.mkv', '.mts', '.m2ts', '.webm', '.mpg', '.mpeg'];
const AUDIO = ['.wav', '.mp3', '.aif', '.aiff', '.m4a', '.aac', '.flac', '.ogg'];
const STILL = ['.png', '.jpg', '.jpeg', '.tif', '.tiff', '.psd', '.gif', '.bmp', '.exr', '.tga'];

/** Premiere's default duration for still images. */
const STILL_SECONDS = 5;

function readWav(file) {
  try {
    const fd = fs.openSync(file, 'r');
    try {
      const head = Buffer.alloc(4096);
      const n = fs.readSync(fd, head, 0, head.length, 0);
      if (n < 12 || head.toString('ascii', 0, 4) !== 'RIFF' || head.toString('ascii', 8, 12) !== 'WAVE') return null;
      let pos = 12;
      let fmt = null;
      while (pos + 8 <= n) {
        const id = head.toString('ascii', pos, pos + 4);
        const size = head.readUInt32LE(pos + 4);
        if (id === 'fmt ' && pos + 24 <= n) {
          fmt = { channels: head.readUInt16LE(pos + 10), sampleRate: head.readUInt32LE(pos + 12), byteRate: head.readUInt32LE(pos + 16) };
        } else if (id === 'data' && fmt && fmt.byteRate > 0) {
          return { audioChannels: fmt.channels, sampleRate: fmt.sampleRate, duration: size / fmt.byteRate };
        }
        pos += 8 + size + (size % 2);
      }
      return null;
    } finally {
      fs.closeSync(fd);
    }
  } catch (e) {
    return null;
  }
}

/**
 * @returns {null | {kind: 'video'|'audio'|'still', duration: number, fps: number, width: number,
 *   height: number, hasVideo: boolean, hasAudio: boolean, audioChannels: number,
 *   sampleRate: number, startSeconds: number, transcript: any, speed: number, sceneCuts: number[]}}
 */
function probeMedia(file) {
  let stat;
  try {
    stat = fs.statSync(file);
  } catch (e) {
    return null;
  }
  if (!stat.isFile()) return null;
  const ext = path.extname(file).toLowerCase();
  let info;
  if (VIDEO.includes(ext)) {
    info = { kind: 'video', duration: 10, fps: 25, width: 1920, height: 1080, hasVideo: true, hasAudio: true, audioChannels: 2, sampleRate: 48000 };
  } else if (AUDIO.includes(ext)) {
    info = { kind: 'audio', duration: 10, fps: 25, width: 0, height: 0, hasVideo: false, hasAudio: true, audioChannels: 2, sampleRate: 48000 };
    if (ext === '.wav') Object.assign(info, readWav(file) || {});
  } else if (STILL.includes(ext)) {
    info = { kind: 'still', duration: STILL_SECONDS, fps: 25, width: 1920, height: 1080, hasVideo: true, hasAudio: false, audioChannels: 0, sampleRate: 48000 };
  } else {
    return null;
  }
  info.startSeconds = 0;
  info.transcript = null;
  info.speed = 1;
  info.sceneCuts = [];
  const base = path.basename(file, ext);
  let m = /_(\d+(?:\.\d+)?)s(?=$|[_.\-\s])/.exec(base);
  if (m) info.duration = parseFloat(m[1]);
  m = /_(\d+(?:\.\d+)?)fps(?=$|[_.\-\s])/.exec(base);
  if (m) info.fps = parseFloat(m[1]);
  m = /_(\d+)x(\d+)(?=$|[_.\-\s])/.exec(base);
  if (m) { info.width = parseInt(m[1], 10); info.height = parseInt(m[2], 10); }
  try {
    const side = JSON.parse(fs.readFileSync(file + '.simmeta.json', 'utf8'));
    if (side && typeof side === 'object') {
      for (const k of ['duration', 'fps', 'width', 'height', 'audioChannels', 'sampleRate', 'startSeconds']) {
        if (typeof side[k] === 'number' && isFinite(side[k]) && side[k] >= 0) info[k] = side[k];
      }
      for (const k of ['hasVideo', 'hasAudio']) if (typeof side[k] === 'boolean') info[k] = side[k];
      if (side.transcript !== undefined) info.transcript = side.transcript;
      if (typeof side.speed === 'number' && side.speed > 0 && isFinite(side.speed)) info.speed = side.speed;
      if (Array.isArray(side.sceneCuts)) {
        info.sceneCuts = side.sceneCuts.filter((c) => typeof c === 'number' && isFinite(c) && c > 0).sort((a, b) => a - b);
      }
    }
  } catch (e) {
    // no sidecar
  }
  if (!(info.duration > 0) || !(info.fps > 0)) return null;
  return info;
}

module.exports = { probeMedia, STILL_SECONDS, VIDEO, AUDIO, STILL };
