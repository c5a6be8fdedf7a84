'use strict';
// Value types of the `premierepro` module: TickTime, FrameRate, Guid, RectF, PointF,
// Color, TimeDisplay. Unlike host objects these may be constructed by script.

const crypto = require('crypto');
const { TPS, TICKS_PER_SECOND } = require('./internal');

const TICKS = Symbol('ticks');
const INVALID = -(2n ** 63n);

// NTSC-family rates are exact fractions of the tick rate; a value near one snaps to it.
const NTSC_TICKS_PER_FRAME = [
  [23.976, 10594584000], [29.97, 8475667200], [47.952, 5297292000],
  [59.94, 4237833600], [119.88, 2118916800],
];

function ticksPerFrameFor(value) {
  for (const [rate, tpf] of NTSC_TICKS_PER_FRAME) {
    if (Math.abs(value - rate) < 0.01) return tpf;
  }
  return Math.round(TICKS_PER_SECOND / value);
}

class TickTime {
  constructor() {
    this[TICKS] = 0n;
  }

  static createWithFrameAndFrameRate(frameCount, frameRate) {
    if (typeof frameCount !== 'number' || !isFinite(frameCount)) throw new TypeError('frameCount must be a number');
    if (!(frameRate instanceof FrameRate)) throw new TypeError('Illegal argument: expected FrameRate');
    return fromBig(BigInt(Math.round(frameCount * frameRate.ticksPerFrame)));
  }

  static createWithSeconds(seconds) {
    if (typeof seconds !== 'number' || !isFinite(seconds)) throw new TypeError('seconds must be a finite number');
    return fromBig(BigInt(Math.round(seconds * TICKS_PER_SECOND)));
  }

  // Declared createWithTicks(ticks: string): a tick count is exact only as decimal text, and
  // a number (which loses exactness past 2^53 ticks, about 9.85 hours) is refused.
  static createWithTicks(ticks) {
    if (typeof ticks !== 'string') throw new TypeError('Illegal argument: createWithTicks expects the tick count as a decimal string');
    const text = ticks.trim();
    if (!/^-?\d+$/.test(text)) throw new TypeError(`Invalid tick count '${ticks}'`);
    const b = BigInt(text);
    if (b > 2n ** 63n - 1n || b < -(2n ** 63n) + 1n) throw new RangeError(`Tick count '${ticks}' is out of range`);
    return fromBig(b);
  }

  static get TIME_ZERO() { return fromBig(0n); }
  static get TIME_ONE_SECOND() { return fromBig(TPS); }
  static get TIME_ONE_MINUTE() { return fromBig(TPS * 60n); }
  static get TIME_ONE_HOUR() { return fromBig(TPS * 3600n); }
  static get TIME_MAX() { return fromBig(2n ** 63n - 1n); }
  static get TIME_MIN() { return fromBig(-(2n ** 63n) + 1n); }
  static get TIME_INVALID() { return fromBig(INVALID); }

  equals(tickTime) { return bigOf(tickTime) === this[TICKS]; }

  alignToNearestFrame(frameRate) {
    const tpf = BigInt(Math.round(rateOf(frameRate).ticksPerFrame));
    const t = this[TICKS];
    const q = t / tpf;
    let lo = q * tpf;
    if (lo > t) lo -= tpf;
    const hi = lo + tpf;
    return fromBig(t - lo < hi - t ? lo : hi);
  }

  alignToFrame(frameRate) {
    const tpf = BigInt(Math.round(rateOf(frameRate).ticksPerFrame));
    const t = this[TICKS];
    let lo = (t / tpf) * tpf;
    if (lo > t) lo -= tpf;
    return fromBig(lo);
  }

  add(tickTime) { return fromBig(this[TICKS] + bigOf(tickTime)); }
  subtract(tickTime) { return fromBig(this[TICKS] - bigOf(tickTime)); }

  multiply(factor) {
    if (typeof factor !== 'number' || !isFinite(factor)) throw new TypeError('factor must be a number');
    return fromBig(BigInt(Math.round(Number(this[TICKS]) * factor)));
  }

  divide(divisor) {
    if (typeof divisor !== 'number' || !isFinite(divisor)) throw new TypeError('divisor must be a number');
    if (divisor === 0) return TickTime.TIME_INVALID;
    return fromBig(BigInt(Math.round(Number(this[TICKS]) / divisor)));
  }

  get seconds() { return Number(this[TICKS]) / TICKS_PER_SECOND; }
  get ticks() { return this[TICKS].toString(); }
  get ticksNumber() { return Number(this[TICKS]); }
}

/** A TickTime of an exact tick count (BigInt). */
function fromBig(b) {
  const t = new TickTime();
  t[TICKS] = b;
  return t;
}

/** A FrameRate of an exact number of ticks per frame. */
function rateFromTicksPerFrame(tpf) {
  const r = new FrameRate();
  r[TPF] = Number(tpf);
  return r;
}

/** The exact tick count of a TickTime argument; anything else is an illegal argument. */
function bigOf(t) {
  if (!(t instanceof TickTime)) throw new TypeError('Illegal argument: expected TickTime');
  return t[TICKS];
}

const TPF = Symbol('ticksPerFrame');

class FrameRate {
  constructor() {
    this[TPF] = ticksPerFrameFor(25);
  }

  // Nothing in Adobe's reference says createWithValue rounds 29.97 to the NTSC rate
  // 30000/1001, so it does not: the ticks per frame are the tick rate over the value,
  // rounded to a whole tick (a guess; see sim/README.md). Exact NTSC rates are made by
  // setting ticksPerFrame.
  static createWithValue(value) {
    if (typeof value !== 'number' || !(value > 0) || !isFinite(value)) throw new TypeError('Frame rate value must be a positive number');
    const r = new FrameRate();
    r[TPF] = Math.max(1, Math.round(TICKS_PER_SECOND / value));
    return r;
  }

  equals(frameRate) { return frameRate instanceof FrameRate && frameRate[TPF] === this[TPF]; }
  get ticksPerFrame() { return this[TPF]; }
  set ticksPerFrame(v) {
    if (typeof v !== 'number' || !(v > 0)) throw new TypeError('ticksPerFrame must be a positive number');
    this[TPF] = v;
  }
  get value() { return TICKS_PER_SECOND / this[TPF]; }
}

function rateOf(r) {
  if (!(r instanceof FrameRate)) throw new TypeError('Illegal argument: expected FrameRate');
  return r;
}

const TEXT = Symbol('guid');

class Guid {
  constructor() { this[TEXT] = crypto.randomUUID(); }
  static fromString(stringValue) {
    const g = new Guid();
    g[TEXT] = String(stringValue);
    return g;
  }
  toString() { return this[TEXT]; }
}

function field(name, dflt, check) {
  const key = Symbol(name);
  return {
    key,
    get() { return key in this ? this[key] : dflt; },
    set(v) {
      if (check) check(v, name);
      this[key] = v;
    },
  };
}

const num = (v, name) => { if (typeof v !== 'number' || !isFinite(v)) throw new TypeError(`${name} must be a number`); };

function defineFields(Class, names, dflt) {
  for (const name of names) {
    const f = field(name, dflt, num);
    Object.defineProperty(Class.prototype, name, { get: f.get, set: f.set, configurable: true, enumerable: false });
  }
}

// RectF and PointF are declared both constructible and callable (`new (): RectF; (): RectF`)
// and Adobe's samples call such classes without `new`, so they are plain constructor
// functions that construct when called.
function RectF() {
  if (!new.target) return new RectF();
}
defineFields(RectF, ['width', 'height'], 0);

function PointF(x = undefined, y = undefined) {
  if (!new.target) return new PointF(x, y);
  if (x !== undefined) this.x = x;
  if (y !== undefined) this.y = y;
}
Object.defineProperty(PointF.prototype, 'distanceTo', {
  value: function distanceTo(point) {
    if (!(point instanceof PointF)) throw new TypeError('Illegal argument: expected PointF');
    return Math.hypot(point.x - this.x, point.y - this.y);
  },
  writable: true, configurable: true, enumerable: false,
});
defineFields(PointF, ['x', 'y'], 0);

class Color {
  constructor(red = undefined, green = undefined, blue = undefined, alpha = undefined) {
    if (red !== undefined) this.red = red;
    if (green !== undefined) this.green = green;
    if (blue !== undefined) this.blue = blue;
    if (alpha !== undefined) this.alpha = alpha;
  }
  equals(colorObject) {
    return colorObject instanceof Color && ['red', 'green', 'blue', 'alpha'].every((k) => colorObject[k] === this[k]);
  }
}
defineFields(Color, ['red', 'green', 'blue'], 0);
defineFields(Color, ['alpha'], 1);

class TimeDisplay {}
defineFields(TimeDisplay, ['type'], 0);

module.exports = { TickTime, FrameRate, Guid, RectF, PointF, Color, TimeDisplay, bigOf, fromBig, rateFromTicksPerFrame, ticksPerFrameFor, INVALID };
