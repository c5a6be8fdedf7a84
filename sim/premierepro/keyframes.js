'use strict';
// The value of a parameter at a time (in the clip's media time, where Premiere keeps
// keyframe positions). Numbers, points and colours interpolate linearly between
// keyframes; a hold keyframe keeps its value up to the next one; other values (booleans,
// text, popups given as text) step. Bezier keyframes are stored with their mode but
// interpolated linearly (the curve's handles are not modelled).

const HOLD = 4;

function lerp(a, b, f) {
  if (typeof a === 'number' && typeof b === 'number') return a + (b - a) * f;
  if (a && b && typeof a === 'object' && typeof b === 'object') {
    if ('x' in a && 'x' in b) return { x: a.x + (b.x - a.x) * f, y: a.y + (b.y - a.y) * f };
    if ('red' in a && 'red' in b) {
      const out = {};
      for (const k of ['red', 'green', 'blue', 'alpha']) out[k] = a[k] + (b[k] - a[k]) * f;
      return out;
    }
  }
  return a;
}

/** @param {{value: any, timeVarying: boolean, keyframes: {position: bigint, value: any, interpolation: number}[]}} p */
function valueAt(p, t) {
  if (!p.timeVarying || p.keyframes.length === 0) return p.value;
  const ks = p.keyframes;
  if (t <= ks[0].position) return ks[0].value;
  if (t >= ks[ks.length - 1].position) return ks[ks.length - 1].value;
  for (let i = 0; i < ks.length - 1; i++) {
    const a = ks[i];
    const b = ks[i + 1];
    if (t >= a.position && t < b.position) {
      if (a.interpolation === HOLD) return a.value;
      const f = Number(t - a.position) / Number(b.position - a.position);
      return lerp(a.value, b.value, f);
    }
  }
  return p.value;
}

module.exports = { valueAt, HOLD };
