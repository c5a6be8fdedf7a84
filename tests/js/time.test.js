'use strict';
// Time parsing and formatting of the plug-in (toTick, timeOut, drop-frame timecode).

const test = require('node:test');
const assert = require('node:assert/strict');
const { simFixture } = require('./helpers');

const TPS = 254016000000;
const NTSC = { rate: { value: TPS / 8475667200, ticksPerFrame: 8475667200 } }; // 29.97
const NTSC60 = { rate: { value: TPS / 4237833600, ticksPerFrame: 4237833600 } }; // 59.94
const PAL = { rate: { value: 25, ticksPerFrame: 10160640000 } };
const BAD_TIME = (v) => ({ code: 'bad_time', message: `Can't parse time '${v}'. Use seconds (12.5), a timecode ("00:00:12:15"), "300f", or {ticks}.` });

test('timecode formatting and reading', async (t) => {
  const { plugin } = simFixture(t);
  const tc = (s, seq) => plugin.timeOut(plugin.toTick(s, seq), seq).timecode;

  await t.test('29.97 drop-frame examples', () => {
    assert.equal(tc(60, NTSC), '00:00:59;28');
    assert.equal(tc(60.06, NTSC), '00:01:00;02');
    assert.equal(tc(600, NTSC), '00:10:00;00');
    assert.equal(tc(3600, NTSC), '01:00:00;00');
    assert.equal(Number(plugin.toTick('00:01:00;02', NTSC)) / TPS, 60.06);
  });

  await t.test('25 fps rounds half a frame up', () => {
    assert.equal(plugin.secondsToTimecode(12.5, 25), '00:00:12:13');
    assert.equal(tc(12.5, PAL), '00:00:12:13');
  });

  await t.test('59.94 drops four frame numbers a minute', () => {
    assert.equal(tc(60, NTSC60), '00:00:59;56');
    assert.equal(tc(3600, NTSC60), '01:00:00;00');
    assert.equal(plugin.timecodeToSeconds('00:01:00;04', NTSC60.rate.value) * NTSC60.rate.value, 3600);
  });

  await t.test('hours are not wrapped at 24', () => {
    assert.equal(plugin.secondsToTimecode(25 * 3600, 25), '25:00:00:00');
  });

  await t.test('";" at a non-drop rate reads without the drop correction', () => {
    assert.equal(Number(plugin.toTick('00:01:00;02', PAL)) / TPS, 60.08);
    assert.equal(Number(plugin.toTick('00:01:00:02', PAL)), Number(plugin.toTick('00:01:00;02', PAL)));
  });

  await t.test('every drop-frame timecode reads back to its own frame', () => {
    for (const seq of [NTSC, NTSC60]) {
      const fps = seq.rate.value;
      for (let frame = 0; frame < 40000; frame += 7) {
        const text = plugin.secondsToTimecode(frame / fps, fps);
        const back = Math.round(plugin.timecodeToSeconds(text, fps) * fps);
        assert.equal(back, frame, `${text} at ${fps}`);
      }
    }
  });

  await t.test('drop-frame rates are recognised within 0.01', () => {
    assert.equal(plugin.isDropFrame(29.97), true);
    assert.equal(plugin.isDropFrame(29.979), true);
    assert.equal(plugin.isDropFrame(59.94), true);
    assert.equal(plugin.isDropFrame(30), false);
    assert.equal(plugin.isDropFrame(23.976), false);
  });
});

test('toTick forms', async (t) => {
  const { plugin } = simFixture(t);
  const secs = (v, seq) => Number(plugin.toTick(v, seq)) / TPS;

  await t.test('seconds as text, text with s, number and object agree', () => {
    for (const v of ['12.5', '12.5s', ' 12.5 ', 12.5, { seconds: 12.5 }]) assert.equal(plugin.toTick(v, null), '3175200000000', JSON.stringify(v));
  });

  await t.test('frames, negative seconds, ticks', () => {
    assert.equal(secs('300f', PAL), 12);
    assert.equal(secs({ frames: 300 }, PAL), 12);
    assert.equal(plugin.toTick('-3', null), String(-3 * TPS));
    assert.equal(plugin.toTick({ ticks: '123' }, null), '123');
    assert.equal(plugin.toTick({ ticks: 254016000000 }, null), '254016000000');
    // ticks win over seconds in the same object
    assert.equal(plugin.toTick({ ticks: '5', seconds: 99 }, null), '5');
  });

  await t.test('missing time is no time', () => {
    assert.equal(plugin.toTick(undefined, PAL), null);
    assert.equal(plugin.toTick(null, PAL), null);
  });

  await t.test('unparseable values fail with bad_time', () => {
    assert.throws(() => plugin.toTick('1:2', PAL), BAD_TIME('1:2'));
    assert.throws(() => plugin.toTick('abc', PAL), BAD_TIME('abc'));
    assert.throws(() => plugin.toTick('12.5.1', PAL), BAD_TIME('12.5.1'));
    assert.throws(() => plugin.toTick(true, PAL), BAD_TIME('true'));
    assert.throws(() => plugin.toTick([1], PAL), BAD_TIME('[1]'));
    assert.throws(() => plugin.toTick({ ticks: 'x' }, PAL), BAD_TIME('{"ticks":"x"}'));
    assert.throws(() => plugin.toTick({ minutes: 1 }, PAL), BAD_TIME('{"minutes":1}'));
  });

  await t.test('frame and timecode forms need a frame rate', () => {
    assert.throws(() => plugin.toTick('300f', null), { code: 'bad_time' });
    assert.throws(() => plugin.toTick('00:00:01:00', null), { code: 'bad_time' });
    assert.throws(() => plugin.toTick({ frames: 3 }, null), { code: 'bad_time' });
  });
});

test('time objects sent back', async (t) => {
  const { plugin } = simFixture(t);

  await t.test('with a sequence: seconds, ticks, timecode and frame', () => {
    assert.deepEqual({ ...plugin.timeOut('3175200000000', PAL) }, { seconds: 12.5, ticks: '3175200000000', timecode: '00:00:12:13', frame: 313 });
  });

  await t.test('without a sequence: seconds and ticks only; seconds rounded to three decimals', () => {
    assert.deepEqual({ ...plugin.timeOut(String(Math.round(1.23456 * TPS)), null) }, { seconds: 1.235, ticks: String(Math.round(1.23456 * TPS)) });
    assert.equal(plugin.timeOut(null, PAL), null);
  });

  await t.test('the wire replacer trims time-like objects and writes big integers as text', () => {
    const text = JSON.stringify({ a: { seconds: 1, ticks: '254016000000', extra: 1 }, b: { seconds: 1, ticks: '1', timecode: 'x' }, c: 12n }, plugin.replacer);
    assert.deepEqual(JSON.parse(text), { a: { seconds: 1, ticks: '254016000000' }, b: { seconds: 1, ticks: '1', timecode: 'x' }, c: '12' });
  });

  await t.test('toJsonSafe bounds depth and flattens host objects', () => {
    let deep = { v: 1 };
    for (let i = 0; i < 10; i++) deep = { d: deep };
    const safe = JSON.stringify(plugin.toJsonSafe(deep));
    assert.match(safe, /"\[…\]"/);
    assert.deepEqual(JSON.parse(JSON.stringify(plugin.toJsonSafe({ f() {}, u: undefined, t: { seconds: 2, ticks: '2', x: 1 } }))), { f: '[function]', u: null, t: { seconds: 2, ticks: '2' } });
    class Named { toString() { return 'named!'; } }
    assert.equal(plugin.toJsonSafe(new Named()), 'named!');
    const throwing = { ok: 1, get bad() { throw new Error('no'); } };
    assert.deepEqual(JSON.parse(JSON.stringify(plugin.toJsonSafe(throwing))), { ok: 1 });
  });
});
