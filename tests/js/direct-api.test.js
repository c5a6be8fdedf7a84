'use strict';
// The simulator's stand-in for the companion application's direct API: what it lists, what
// its captures show, its port file, and bad requests.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const { editFixture, simFixture } = require('./helpers');
const { DirectApiStandIn, frameRenderer, MAIN, PANEL, COLOURS } = require('../../sim/direct-api');
const { Picture, encodePng, decodePng } = require('../../sim/png');

async function post(port, body, headers = {}) {
  const res = await fetch(`http://127.0.0.1:${port}/command`, {
    method: 'POST',
    headers: Object.assign({ 'Content-Type': 'application/json' }, headers),
    body: typeof body === 'string' ? body : JSON.stringify(body),
    signal: AbortSignal.timeout(10000),
  });
  return { status: res.status, body: await res.json() };
}

function standIn(t, f, options = {}) {
  const api = new DirectApiStandIn(Object.assign({ app: f.sim.app, home: f.home }, options));
  t.after(() => api.stop());
  return api;
}

test('PNG pictures survive a round trip', () => {
  const pic = new Picture(5, 3, [1, 2, 3]);
  pic.fillRect(1, 1, 2, 5, [200, 100, 50]); // clipped at the bottom
  const back = decodePng(encodePng(pic));
  assert.deepEqual([back.width, back.height], [5, 3]);
  assert.deepEqual(back.at(0, 0), [1, 2, 3]);
  assert.deepEqual(back.at(2, 2), [200, 100, 50]);
  assert.deepEqual(back.at(3, 1), [1, 2, 3]);
  const bytes = encodePng(pic);
  bytes[bytes.length - 20] ^= 0xff;
  assert.throws(() => decodePng(bytes), /CRC/);
});

test('windows: Premiere main window named after the project, a smaller panel, Finder', async (t) => {
  const f = await editFixture(t);
  const api = standIn(t, f);
  const windows = api.windows();
  assert.equal(windows.length, 3);
  const [main, panel, finder] = windows;
  assert.equal(main.appBundleId, 'com.adobe.PremierePro.26');
  assert.equal(main.title, `Adobe Premiere Pro 2026 - ${f.sim.project().path}`);
  assert.match(main.title, /\.prproj$/);
  assert.equal(panel.appBundleId, main.appBundleId);
  assert.ok(panel.rect.width * panel.rect.height < main.rect.width * main.rect.height);
  assert.equal(finder.appBundleId, 'com.apple.finder');
  // Changing an answer does not change the desktop.
  main.rect.width = 1;
  assert.equal(api.windows()[0].rect.width, MAIN.rect.width);
});

test('without a project the main window carries the application name only', (t) => {
  const f = simFixture(t, { version: '25.6' });
  const api = standIn(t, f);
  assert.equal(api.windows()[0].title, 'Adobe Premiere Pro 2025');
  assert.equal(api.windows()[0].appBundleId, 'com.adobe.PremierePro.25');
  const pic = api.capture(MAIN.hwnd);
  assert.deepEqual([pic.width, pic.height], [MAIN.rect.width, MAIN.rect.height]);
});

test('the main window capture shows the sequence: clips on their tracks and the playhead', async (t) => {
  const f = await editFixture(t);
  const api = standIn(t, f);
  const seq = f.sim.project().activeSequence;
  await f.sim.ok('set_playhead', { time: 6 });
  const answer = api.handle({ command: 'desktop_screenshot_window', args: { hwnd: MAIN.hwnd } });
  assert.equal(answer.success, true);
  const output = JSON.parse(answer.output);
  const pic = decodePng(Buffer.from(output.data.image, 'base64'));
  assert.deepEqual([pic.width, pic.height], [MAIN.rect.width, MAIN.rect.height]);

  // Every pixel column of the timeline: where the video clip's colour shows, and the playhead.
  const columns = (colour) => {
    const xs = [];
    for (let x = 0; x < pic.width; x++) {
      for (let y = 456; y < pic.height; y++) {
        if (pic.at(x, y).every((v, i) => v === colour[i])) { xs.push(x); break; }
      }
    }
    return xs;
  };
  const video = columns(COLOURS.video);
  const audio = columns(COLOURS.audio);
  const playhead = columns(COLOURS.playhead);
  assert.ok(video.length > 100, 'the 12 s clip is drawn');
  assert.ok(audio.length > 0, 'its audio too');
  assert.ok(playhead.length >= 1 && playhead.length <= 2, `one playhead line, got ${playhead.length} columns`);
  // The playhead at 6 s sits half-way along the 12 s video clip.
  const mid = (video[0] + video[video.length - 1]) / 2;
  assert.ok(Math.abs(playhead[0] - mid) <= 3, `playhead at ${playhead[0]}, clip middle ${mid}`);
  // The Program Monitor's picture (whatever is not panel grey inside the monitor panel) keeps
  // the sequence's aspect ratio.
  const inPicture = (x, y) => !pic.at(x, y).every((v, i) => v === COLOURS.panel[i]);
  let width = 0;
  for (let x = 437; x < pic.width - 1; x++) if (inPicture(x, 100)) width++;
  const x = 437 + Math.floor((pic.width - 437) / 2);
  let height = 0;
  for (let y = 9; y < 447; y++) if (inPicture(x, y)) height++;
  assert.ok(Math.abs(width / height - seq.settings.width / seq.settings.height) < 0.02, `${width} × ${height}`);
  // With frame export's renderer in the simulator, the clip under the playhead shows.
  if (frameRenderer()) {
    assert.ok(!pic.at(x, 100).every((v) => v === 0), 'the monitor shows the frame at the playhead');
  }
});

test('the HTTP service: commands, port file, token and bad requests', async (t) => {
  const f = await editFixture(t);
  const api = standIn(t, f, { token: 's3cret' });
  const port = await api.start();
  const portFile = path.join(f.home, '.quor', 'direct-api-port');
  assert.equal(fs.readFileSync(portFile, 'utf8'), `${port}\n`);
  const auth = { 'X-Quor-Bridge-Token': 's3cret' };

  let r = await post(port, { command: 'desktop_list_windows', args: {} }, auth);
  assert.equal(r.status, 200);
  assert.equal(typeof r.body.output, 'string');
  assert.equal(JSON.parse(r.body.output).data.windows[0].hwnd, MAIN.hwnd);

  r = await post(port, { command: 'desktop_screenshot_window', args: { hwnd: PANEL.hwnd } }, auth);
  const panel = decodePng(Buffer.from(JSON.parse(r.body.output).data.image, 'base64'));
  assert.deepEqual([panel.width, panel.height], [PANEL.rect.width, PANEL.rect.height]);

  r = await post(port, { command: 'desktop_screenshot_window', args: { hwnd: 'nope' } }, auth);
  assert.deepEqual(r.body, { success: false, error: 'no window with hwnd "nope"' });
  assert.equal((await post(port, { command: 'desktop_list_windows' })).status, 401);
  assert.equal((await post(port, { command: 'desktop_list_windows' }, { 'X-Quor-Bridge-Token': 'x' })).status, 401);
  assert.equal((await post(port, '{"command":', auth)).status, 400);
  assert.equal((await post(port, 'x'.repeat(2 << 20), auth)).status, 413);
  for (const body of [[], 'text', { command: 5 }, null]) {
    r = await post(port, body, auth);
    assert.equal(r.body.success, false, JSON.stringify(body));
  }
  assert.match((await post(port, { command: 'desktop_click' }, auth)).body.error, /unknown command desktop_click/);
  // Still serving after all that.
  assert.equal((await post(port, { command: 'desktop_list_windows' }, auth)).body.success, true);

  await api.stop();
  assert.equal(fs.existsSync(portFile), false);
});

test('stopping leaves a port file that another instance wrote', async (t) => {
  const f = simFixture(t);
  const first = standIn(t, f);
  await first.start();
  const second = standIn(t, f);
  const port = await second.start();
  await first.stop();
  assert.equal(fs.readFileSync(path.join(f.home, '.quor', 'direct-api-port'), 'utf8'), `${port}\n`);
});
