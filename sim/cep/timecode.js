'use strict';
// Premiere's time display formats (the TIMEDISPLAY_* codes of ExtendScript) for the
// simulated Time.getFormatted and for reading the timecodes QE operations are given.
// Frame counts are exact: ticks and ticks-per-frame are BigInts.

const TPS = 254016000000n;

const FORMAT = {
  TC24: 100, TC25: 101, DROP2997: 102, NONDROP2997: 103, TC30: 104, TC50: 105, DROP5994: 106,
  NONDROP5994: 107, TC60: 108, FRAMES: 109, TC23976: 110, FEET16: 111, FEET35: 112, TC48: 113,
  AUDIO_SAMPLES: 200, AUDIO_MS: 201,
};

/** Frames per second of a ticks-per-frame value. */
function fpsOf(tpf) {
  return Number(TPS) / Number(tpf);
}

/** 29.97 and 59.94 are the rates with a drop-frame count. */
function isDropRate(fps) {
  return Math.abs(fps - 29.97) <= 0.01 || Math.abs(fps - 59.94) <= 0.01;
}

const pad2 = (n) => (n < 10 ? '0' + n : String(n));

/** The whole frame that contains `ticks` (Premiere shows the frame a time falls in). */
function frameAt(ticks, tpf) {
  const t = BigInt(ticks);
  const f = BigInt(tpf);
  if (f <= 0n) return 0;
  const q = t / f;
  return Number(t < 0n && q * f !== t ? q - 1n : q);
}

/** Frame count → "HH:MM:SS:FF", or "HH;MM;SS;FF" with the drop-frame count. */
function framesToTimecode(frames, fps, drop) {
  const nominal = Math.round(fps);
  let f = Math.max(0, frames);
  if (drop) {
    const d = nominal === 60 ? 4 : 2;
    const perMinute = nominal * 60 - d;
    const perTen = perMinute * 10 + d;
    const tens = Math.floor(f / perTen);
    const rem = f % perTen;
    f += d * 9 * tens;
    if (rem > d) f += d * Math.floor((rem - d) / perMinute);
  }
  const ff = f % nominal;
  const total = Math.floor(f / nominal);
  const sep = drop ? ';' : ':';
  return [pad2(Math.floor(total / 3600)), pad2(Math.floor(total / 60) % 60), pad2(total % 60), pad2(ff)].join(sep);
}

/**
 * Time.getFormatted: `ticks` shown in a display format at a frame duration of `tpf` ticks.
 * Timecode formats count frames at the given rate; the drop-frame count applies only to
 * the drop-frame formats at 29.97 or 59.94 fps.
 */
function formatTicks(ticks, tpf, format) {
  const fps = fpsOf(tpf);
  const frames = frameAt(ticks, tpf);
  const code = Number(format);
  if (code === FORMAT.FRAMES) return String(frames);
  if (code === FORMAT.FEET35 || code === FORMAT.FEET16) {
    const perFoot = code === FORMAT.FEET35 ? 16 : 40;
    return Math.floor(frames / perFoot) + '+' + pad2(frames % perFoot);
  }
  const drop = (code === FORMAT.DROP2997 || code === FORMAT.DROP5994) && isDropRate(fps);
  return framesToTimecode(frames, fps, drop);
}

/**
 * A timecode as QE reads it, at the sequence's frame duration: "HH:MM:SS:FF" (";" marks
 * the drop-frame count at 29.97/59.94), a bare frame count, or "feet+frames" (35 mm).
 * Returns the frame number, or null for text that is none of these.
 */
function parseTimecode(text, tpf) {
  const s = String(text).trim();
  const fps = fpsOf(tpf);
  const nominal = Math.round(fps);
  let m = /^(\d+)[:;](\d+)[:;](\d+)([:;])(\d+)$/.exec(s);
  if (m) {
    const [hh, mm, ss, ff] = [m[1], m[2], m[3], m[5]].map((x) => parseInt(x, 10));
    if (mm > 59 || ss > 59 || ff >= nominal) return null;
    let frames = ((hh * 60 + mm) * 60 + ss) * nominal + ff;
    if (s.indexOf(';') >= 0 && isDropRate(fps)) {
      const d = nominal === 60 ? 4 : 2;
      const minutes = hh * 60 + mm;
      frames -= d * (minutes - Math.floor(minutes / 10));
    }
    return frames;
  }
  if (/^\d+$/.test(s)) return parseInt(s, 10);
  m = /^(\d+)\+(\d+)$/.exec(s);
  if (m) return parseInt(m[1], 10) * 16 + parseInt(m[2], 10);
  return null;
}

module.exports = { TPS, FORMAT, fpsOf, isDropRate, frameAt, framesToTimecode, formatTicks, parseTimecode };
