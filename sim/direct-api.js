'use strict';
// A stand-in for the companion desktop application's direct API, so that
// premiere_monitor_snapshot can be tried without a Mac: a small HTTP service on a loopback
// port that lists the desktop's windows (the simulated Premiere's main window, one of its
// floating panels and a Finder window) and captures one as a PNG. Like the application, it
// leaves its port in ~/.quor/direct-api-port while it runs.
//
//   const api = new DirectApiStandIn({ app: sim.app, home });
//   await api.start();     // listens on 127.0.0.1, writes the port file
//   await api.stop();      // closes, removes the port file
//
// What the application answers is not published; sim/README.md lists what is guessed.

const fs = require('fs');
const http = require('http');
const path = require('path');
const { Picture, encodePng } = require('./png');
const { TPS } = require('./premierepro/internal');

const MAX_BODY = 1 << 20;
const TOKEN_HEADER = 'x-quor-bridge-token';

// The desktop the stand-in shows. Sizes are points of a 1280 × 800 screen.
const MAIN = { hwnd: 101, rect: { x: 0, y: 25, width: 1280, height: 775 } };
const PANEL = { hwnd: 102, rect: { x: 900, y: 120, width: 360, height: 240 } };
const FINDER = { hwnd: 103, appBundleId: 'com.apple.finder', title: 'Desktop', rect: { x: 0, y: 0, width: 1280, height: 800 } };

const COLOURS = {
  window: [29, 29, 29],
  panel: [35, 35, 35],
  header: [48, 48, 48],
  ruler: [42, 42, 42],
  video: [155, 143, 214],
  audio: [95, 163, 138],
  disabled: [85, 85, 85],
  muted: [60, 96, 84],
  playhead: [58, 142, 230],
};

/** Frame export's renderer (render.js), or null while the simulator has none. */
function frameRenderer() {
  try {
    return require('./render');
  } catch (e) {
    if (e && e.code === 'MODULE_NOT_FOUND' && String(e.message).includes("'./render'")) return null;
    throw e;
  }
}

/**
 * The Program Monitor's picture, `width` × `height` pixels: the active sequence at its
 * playhead, rendered as frame export renders it. Without a renderer the monitor shows
 * black, as Premiere's does over an empty spot of the timeline.
 */
function programMonitorPicture(app, width, height) {
  const pic = new Picture(width, height, [0, 0, 0]);
  const renderer = frameRenderer();
  if (!renderer || typeof renderer.renderProgramMonitor !== 'function') return pic;
  const rgba = renderer.renderProgramMonitor(app, width, height);
  for (let i = 0, j = 0; j < pic.pixels.length; i += 4, j += 3) {
    pic.pixels[j] = rgba[i];
    pic.pixels[j + 1] = rgba[i + 1];
    pic.pixels[j + 2] = rgba[i + 2];
  }
  return pic;
}

/** Draws the sequence's tracks and clips, with the playhead, into `box` of `pic`. */
function drawTimeline(pic, seq, box) {
  pic.fillRect(box.x, box.y, box.width, box.height, COLOURS.panel);
  if (!seq) return;
  const headerWidth = 64;
  const rulerHeight = 14;
  const gap = 6;
  const tracks = seq.video.slice().reverse().concat(seq.audio);
  const rows = Math.max(1, tracks.length);
  const rowHeight = Math.max(4, Math.min(24, Math.floor((box.height - rulerHeight - gap - 2 * rows) / rows)));
  const laneX = box.x + headerWidth;
  const laneWidth = box.width - headerWidth;
  // What is visible: the whole edit, or at least ten seconds, with a little room after it.
  let end = seq.endTime();
  if (seq.playhead > end) end = seq.playhead;
  const span = Math.max(Number(end) / Number(TPS), 10) * 1.1;
  const xOf = (ticks) => laneX + (Number(ticks) / Number(TPS) / span) * laneWidth;

  pic.fillRect(laneX, box.y, laneWidth, rulerHeight, COLOURS.ruler);
  let y = box.y + rulerHeight + 2;
  tracks.forEach((track, i) => {
    if (i === seq.video.length) y += gap;
    pic.fillRect(box.x, y, headerWidth - 2, rowHeight, COLOURS.header);
    for (const item of track.items) {
      let colour = track.kind === 'video' ? COLOURS.video : COLOURS.audio;
      if (item.disabled) colour = COLOURS.disabled;
      else if (track.kind === 'audio' && track.muted) colour = COLOURS.muted;
      const x0 = xOf(item.start);
      // One pixel between neighbours, as Premiere draws clip edges.
      pic.fillRect(x0, y, Math.max(1, xOf(item.end) - x0 - 1), rowHeight, colour);
    }
    y += rowHeight + 2;
  });
  pic.fillRect(xOf(seq.playhead) - 1, box.y, 2, box.height, COLOURS.playhead);
}

/** The main window as the user would see it: project panel, Program Monitor, timeline. */
function drawMainWindow(app) {
  const { width, height } = MAIN.rect;
  const pic = new Picture(width, height, COLOURS.window);
  const project = app.activeProject;
  const seq = project ? project.activeSequence : null;

  // Project panel on the left, Program Monitor to its right, timeline underneath.
  pic.fillRect(8, 8, 420, 440, COLOURS.panel);
  const monitor = { x: 436, y: 8, width: 836, height: 440 };
  pic.fillRect(monitor.x, monitor.y, monitor.width, monitor.height, COLOURS.panel);
  const frameW = seq ? seq.settings.width : 1920;
  const frameH = seq ? seq.settings.height : 1080;
  const scale = Math.min((monitor.width - 16) / frameW, (monitor.height - 40) / frameH);
  const pw = Math.max(1, Math.floor(frameW * scale));
  const ph = Math.max(1, Math.floor(frameH * scale));
  pic.blit(programMonitorPicture(app, pw, ph), monitor.x + Math.floor((monitor.width - pw) / 2), monitor.y + 8);
  drawTimeline(pic, seq, { x: 8, y: 456, width: width - 16, height: height - 464 });
  return pic;
}

class DirectApiStandIn {
  /**
   * @param {object} options
   * @param {any} options.app the simulator's AppModel
   * @param {string} options.home where ~/.quor/direct-api-port goes
   * @param {string} [options.token] when set, requests must carry it in X-Quor-Bridge-Token
   */
  constructor({ app, home, token }) {
    this.app = app;
    this.portFile = path.join(home, '.quor', 'direct-api-port');
    this.token = token || '';
    this.server = null;
    this.port = 0;
  }

  /** Premiere's year-named release for the simulated version: 26.x is "2026". */
  year() { return 2000 + Number(String(this.app.version).split('.')[0]); }

  windows() {
    const major = String(this.app.version).split('.')[0];
    const bundle = `com.adobe.PremierePro.${major}`;
    const project = this.app.activeProject;
    const title = `Adobe Premiere Pro ${this.year()}` + (project ? ` - ${project.path}` : '');
    return [
      { appBundleId: bundle, title, hwnd: MAIN.hwnd, rect: MAIN.rect },
      { appBundleId: bundle, title: project ? `Lumetri Scopes - ${project.name}` : 'Lumetri Scopes', hwnd: PANEL.hwnd, rect: PANEL.rect },
      { appBundleId: FINDER.appBundleId, title: FINDER.title, hwnd: FINDER.hwnd, rect: FINDER.rect },
    ].map((w) => Object.assign({}, w, { rect: Object.assign({}, w.rect) }));
  }

  /** The window's picture, or null for an unknown hwnd. */
  capture(hwnd) {
    if (hwnd === MAIN.hwnd) return drawMainWindow(this.app);
    if (hwnd === PANEL.hwnd) return new Picture(PANEL.rect.width, PANEL.rect.height, COLOURS.panel);
    if (hwnd === FINDER.hwnd) return new Picture(FINDER.rect.width, FINDER.rect.height, [236, 236, 236]);
    return null;
  }

  /** One command's answer: {success, output} with output as JSON text, or {success: false, error}. */
  handle(body) {
    if (!body || typeof body !== 'object' || Array.isArray(body) || typeof body.command !== 'string') {
      return { success: false, error: 'expected {command, args}' };
    }
    const args = body.args && typeof body.args === 'object' ? body.args : {};
    if (body.command === 'desktop_list_windows') {
      return { success: true, output: JSON.stringify({ success: true, data: { windows: this.windows() } }) };
    }
    if (body.command === 'desktop_screenshot_window') {
      const picture = this.capture(args.hwnd);
      if (!picture) return { success: false, error: `no window with hwnd ${JSON.stringify(args.hwnd === undefined ? null : args.hwnd)}` };
      const png = encodePng(picture);
      return {
        success: true,
        output: JSON.stringify({ success: true, data: { image: png.toString('base64'), width: picture.width, height: picture.height } }),
      };
    }
    return { success: false, error: `unknown command ${body.command}` };
  }

  /** Listens on 127.0.0.1 (port 0: any free port) and writes the port file. Resolves to the port. */
  start(port = 0) {
    this.server = http.createServer((req, res) => this.serve(req, res));
    return new Promise((resolve, reject) => {
      this.server.once('error', reject);
      this.server.listen(port, '127.0.0.1', () => {
        const address = this.server && this.server.address();
        this.port = address && typeof address === 'object' ? address.port : 0;
        fs.mkdirSync(path.dirname(this.portFile), { recursive: true });
        fs.writeFileSync(this.portFile, `${this.port}\n`);
        resolve(this.port);
      });
    });
  }

  /** Stops listening and removes the port file, unless another instance has replaced it. */
  stop() {
    this.removePortFile();
    const server = this.server;
    this.server = null;
    if (!server) return Promise.resolve();
    return new Promise((resolve) => {
      server.close(() => resolve(undefined));
      server.closeAllConnections();
    });
  }

  /** Synchronous, so it can run from a process 'exit' handler. */
  removePortFile() {
    try {
      if (this.port && fs.readFileSync(this.portFile, 'utf8').trim() === String(this.port)) fs.rmSync(this.portFile);
    } catch (e) { /* already gone */ }
  }

  serve(req, res) {
    const reply = (status, answer) => {
      const text = JSON.stringify(answer);
      res.writeHead(status, { 'Content-Type': 'application/json', 'Content-Length': Buffer.byteLength(text) });
      res.end(text);
    };
    if (req.method !== 'POST' || req.url !== '/command') {
      req.resume();
      reply(404, { success: false, error: 'POST /command only' });
      return;
    }
    if (this.token && req.headers[TOKEN_HEADER] !== this.token) {
      req.resume();
      reply(401, { success: false, error: 'bad or missing token' });
      return;
    }
    const chunks = [];
    let size = 0;
    let refused = false;
    req.on('data', (d) => {
      if (refused) return;
      size += d.length;
      if (size > MAX_BODY) {
        refused = true;
        reply(413, { success: false, error: 'request body too large' });
        return;
      }
      chunks.push(d);
    });
    req.on('end', () => {
      if (refused) return;
      let body;
      try {
        body = JSON.parse(Buffer.concat(chunks).toString('utf8'));
      } catch (e) {
        reply(400, { success: false, error: 'body is not JSON' });
        return;
      }
      let answer;
      try {
        answer = this.handle(body);
      } catch (e) {
        answer = { success: false, error: `capture failed: ${e.message}` };
      }
      reply(200, answer);
    });
    req.on('error', () => { /* the client went away; nothing to answer */ });
  }
}

module.exports = { DirectApiStandIn, drawMainWindow, drawTimeline, programMonitorPicture, frameRenderer, MAIN, PANEL, COLOURS };
