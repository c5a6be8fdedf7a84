'use strict';
// Renders what a simulated sequence shows at a time, the way frame export renders it, and
// encodes the picture as PNG, JPEG, TIFF, BMP or TGA. Used by the simulated Exporter and available to
// anything else that needs the Program Monitor's picture (a window snapshot stand-in, say).
//
// The picture: every enabled clip on every visible video track, V1 at the bottom, each
// source drawn as its own deterministic pattern (so different clips give visibly different
// frames), placed by its Motion component (Position, Scale, Scale Width, Uniform Scale,
// Rotation, Anchor Point) and blended with its Opacity over black. Parameters are read at
// the clip's media time, so keyframes animate. A transition at a clip's head or tail fades
// the clip in or out over the transition's duration (every transition is drawn as such a
// fade; a cross dissolve thus passes through a darker middle). Of the added effects, Black
// & White, Invert, Tint, Brightness & Contrast, Lumetri Color (exposure and saturation),
// Crop and the flips are drawn, in chain order; others (blurs among them) and blend modes
// are not.
//
// A source's pattern: a checkerboard of two colours derived from the media path (or the
// item id), 8 squares across, with a progress band along the bottom whose white part grows
// with the media time shown (stills have no band). A nested sequence is rendered itself; a
// Motion Graphics template shows a white title bar in its lower third over transparency.

const crypto = require('crypto');
const zlib = require('zlib');
const jpeg = require('jpeg-js');
const { valueAt } = require('./premierepro/keyframes');
const { rgbPngFile, unfilter } = require('./png');

const TPS = 254016000000n;
const MAX_NESTING = 4;

function colorsFor(key) {
  const h = crypto.createHash('sha1').update(String(key)).digest();
  const c1 = [h[0], h[1], h[2]];
  // The second colour is the first's complement, shifted, so the two always differ.
  const c2 = [(255 - h[0] + h[3] % 32) & 255, (255 - h[1] + h[4] % 32) & 255, (255 - h[2] + h[5] % 32) & 255];
  if (Math.abs(c1[0] - c2[0]) + Math.abs(c1[1] - c2[1]) + Math.abs(c1[2] - c2[2]) < 96) c2[0] = (c2[0] + 128) & 255;
  return [c1, c2];
}

/** The named parameter's value at media time `mt`, or `dflt`. */
function param(ti, componentMatch, name, mt, dflt) {
  const comp = ti.components.find((c) => c.matchName === componentMatch);
  if (!comp) return dflt;
  const p = comp.params.find((x) => x.displayName === name);
  if (!p) return dflt;
  const v = valueAt(p, mt);
  return v === undefined || v === null ? dflt : v;
}

const num = (v, d) => (typeof v === 'number' && isFinite(v) ? v : d);
const point = (v, d) => (v && typeof v === 'object' && typeof v.x === 'number' && typeof v.y === 'number' ? v : d);

/**
 * A source as a sampler: (u, v) in 0…1 of the source frame → writes [r, g, b, a] into
 * `out` and answers true, or answers false where the source is transparent. (It runs once
 * per pixel, so it allocates nothing.)
 */
function sourceSampler(ti, mt, outWidth, depth) {
  const set = (out, r, g, b) => { out[0] = r; out[1] = g; out[2] = b; out[3] = 255; return true; };
  if (ti.graphic) {
    return (u, v, out) => (v >= 0.74 && v < 0.86 && u >= 0.08 && u < 0.62 ? set(out, 255, 255, 255) : false);
  }
  const item = ti.source;
  if (!item) return () => false;
  if (item.sequence) {
    if (depth >= MAX_NESTING) return () => false;
    const s = item.sequence.settings;
    const w = Math.max(1, Math.min(s.width, outWidth));
    const h = Math.max(1, Math.round(w * s.height / s.width));
    const pic = renderSequence(item.sequence, mt, w, h, depth + 1);
    return (u, v, out) => {
      const i = (Math.min(h - 1, Math.floor(v * h)) * w + Math.min(w - 1, Math.floor(u * w))) * 4;
      return set(out, pic[i], pic[i + 1], pic[i + 2]);
    };
  }
  const m = item.media || {};
  const [c1, c2] = colorsFor(m.path || item.id);
  const aspect = (m.height || 1) / (m.width || 1);
  const rows = Math.max(1, Math.round(8 * aspect));
  const dur = Number(m.durationTicks || 0);
  const progress = m.kind === 'still' || !(dur > 0) ? null : Math.max(0, Math.min(1, Number(mt) / dur));
  return (u, v, out) => {
    if (progress !== null && v >= 0.94) return u < progress ? set(out, 255, 255, 255) : set(out, 24, 24, 24);
    const c = (Math.floor(u * 8) + Math.floor(v * rows)) & 1 ? c2 : c1;
    return set(out, c[0], c[1], c[2]);
  };
}

function sourceSize(ti, seq) {
  if (ti.source && ti.source.sequence) return [ti.source.sequence.settings.width, ti.source.sequence.settings.height];
  if (ti.source && ti.source.media && ti.source.media.width > 0) return [ti.source.media.width, ti.source.media.height];
  return [seq.settings.width, seq.settings.height];
}

/**
 * Renders the sequence model at `time` (BigInt ticks, sequence time) to `width` × `height`
 * RGBA pixels (opaque), as frame export does.
 */
function renderSequence(seq, time, width, height, depth = 0) {
  const t = BigInt(time);
  const out = new Uint8Array(width * height * 4);
  for (let i = 3; i < out.length; i += 4) out[i] = 255;
  const seqW = seq.settings.width;
  const seqH = seq.settings.height;
  for (const track of seq.video) {
    if (track.muted) continue;
    for (const ti of track.items) {
      if (ti.disabled || ti.gap || t < ti.start || t >= ti.end) continue;
      drawLayer(out, width, height, seq, ti, t, seqW, seqH, depth);
    }
  }
  return out;
}

/** How far a head or tail transition has faded the clip in at `t` (1: not at all). */
function transitionAlpha(ti, t) {
  let a = 1;
  const tr = ti.transitions || {};
  if (tr.start && tr.start.duration > 0n && t < ti.start + tr.start.duration) a *= Number(t - ti.start) / Number(tr.start.duration);
  if (tr.end && tr.end.duration > 0n && t >= ti.end - tr.end.duration) a *= Number(ti.end - t) / Number(tr.end.duration);
  return Math.max(0, Math.min(1, a));
}

/**
 * The clip's added effects that the renderer draws, in chain order, at media time `mt`:
 * geometric ones ({flipU, flipV, crop}) change where the source is read, colour ones map a
 * sampled colour in place. Any other effect is left out of the picture.
 */
function effectsOf(ti, mt) {
  const geo = { flipU: false, flipV: false, crop: null };
  const colour = [];
  const at = (comp, name, dflt) => {
    const p = comp.params.find((x) => x.displayName === name);
    const v = p ? valueAt(p, mt) : dflt;
    return v === undefined || v === null ? dflt : v;
  };
  const clamp = (v) => (v < 0 ? 0 : v > 255 ? 255 : v);
  const luma = (c) => 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
  for (const comp of ti.components) {
    if (comp.intrinsic) continue;
    switch (comp.matchName) {
      case 'AE.ADBE Horizontal Flip': geo.flipU = !geo.flipU; break;
      case 'AE.ADBE Vertical Flip': geo.flipV = !geo.flipV; break;
      case 'AE.ADBE Crop': {
        const pc = (n) => Math.max(0, Math.min(100, num(at(comp, n, 0), 0))) / 100;
        const c = geo.crop || { l: 0, t: 0, r: 0, b: 0 };
        geo.crop = { l: Math.max(c.l, pc('Left')), t: Math.max(c.t, pc('Top')), r: Math.max(c.r, pc('Right')), b: Math.max(c.b, pc('Bottom')) };
        break;
      }
      case 'AE.ADBE Black&White':
        colour.push((c) => { const y = Math.round(luma(c)); c[0] = y; c[1] = y; c[2] = y; });
        break;
      case 'AE.ADBE Invert': {
        const keep = num(at(comp, 'Blend With Original', 0), 0) / 100;
        colour.push((c) => { for (let k = 0; k < 3; k++) c[k] = Math.round((255 - c[k]) * (1 - keep) + c[k] * keep); });
        break;
      }
      case 'AE.ADBE Tint': {
        const lo = at(comp, 'Map Black To', { red: 0, green: 0, blue: 0 });
        const hi = at(comp, 'Map White To', { red: 1, green: 1, blue: 1 });
        const amount = num(at(comp, 'Amount to Tint', 100), 100) / 100;
        const chan = ['red', 'green', 'blue'];
        colour.push((c) => {
          const y = luma(c) / 255;
          for (let k = 0; k < 3; k++) {
            const tinted = 255 * (num(lo[chan[k]], 0) + (num(hi[chan[k]], 1) - num(lo[chan[k]], 0)) * y);
            c[k] = clamp(Math.round(c[k] * (1 - amount) + tinted * amount));
          }
        });
        break;
      }
      case 'AE.ADBE Brightness & Contrast 2': {
        const b = num(at(comp, 'Brightness', 0), 0);
        const k2 = 1 + num(at(comp, 'Contrast', 0), 0) / 100;
        colour.push((c) => { for (let k = 0; k < 3; k++) c[k] = clamp(Math.round((c[k] - 128) * k2 + 128 + b)); });
        break;
      }
      case 'AE.ADBE Lumetri': {
        const gain = Math.pow(2, num(at(comp, 'Exposure', 0), 0));
        const sat = num(at(comp, 'Saturation', 100), 100) / 100;
        colour.push((c) => {
          const y = luma(c);
          for (let k = 0; k < 3; k++) c[k] = clamp(Math.round((y + (c[k] - y) * sat) * gain));
        });
        break;
      }
      default:
        break;
    }
  }
  return { geo, colour };
}

function drawLayer(out, width, height, seq, ti, t, seqW, seqH, depth) {
  const mt = ti.inPoint + (ti.speed === 1 ? t - ti.start : BigInt(Math.round(Number(t - ti.start) * ti.speed)));
  const M = 'AE.ADBE Motion';
  const pos = point(param(ti, M, 'Position', mt), { x: 0.5, y: 0.5 });
  const anchor = point(param(ti, M, 'Anchor Point', mt), { x: 0.5, y: 0.5 });
  const scale = num(param(ti, M, 'Scale', mt), 100) / 100;
  const uniform = param(ti, M, 'Uniform Scale', mt, true) !== false;
  const scaleW = uniform ? scale : num(param(ti, M, 'Scale Width', mt), 100) / 100;
  const rot = num(param(ti, M, 'Rotation', mt), 0) * Math.PI / 180;
  const alpha = Math.max(0, Math.min(1, num(param(ti, 'AE.ADBE Opacity', 'Opacity', mt), 100) / 100)) * transitionAlpha(ti, t);
  if (alpha <= 0 || scale === 0 || scaleW === 0) return;
  const [srcW, srcH] = sourceSize(ti, seq);
  const sample = sourceSampler(ti, mt, width, depth);
  const cos = Math.cos(-rot);
  const sin = Math.sin(-rot);
  const px = pos.x * seqW;
  const py = pos.y * seqH;
  const ax = anchor.x * srcW;
  const ay = anchor.y * srcH;
  const { geo, colour } = effectsOf(ti, mt);
  const crop = geo.crop;
  const c = new Uint8Array(4);
  for (let oy = 0; oy < height; oy++) {
    const Y = (oy + 0.5) * seqH / height - py;
    for (let ox = 0; ox < width; ox++) {
      const X = (ox + 0.5) * seqW / width - px;
      const u = (X * cos - Y * sin) / scaleW + ax;
      const v = (X * sin + Y * cos) / scale + ay;
      if (u < 0 || v < 0 || u >= srcW || v >= srcH) continue;
      let su = u / srcW;
      let sv = v / srcH;
      if (crop && (su < crop.l || sv < crop.t || su >= 1 - crop.r || sv >= 1 - crop.b)) continue;
      if (geo.flipU) su = 1 - su - 1e-9;
      if (geo.flipV) sv = 1 - sv - 1e-9;
      if (!sample(su, sv, c)) continue;
      for (let k = 0; k < colour.length; k++) colour[k](c);
      const a = alpha * c[3] / 255;
      const i = (oy * width + ox) * 4;
      out[i] = Math.round(out[i] * (1 - a) + c[0] * a);
      out[i + 1] = Math.round(out[i + 1] * (1 - a) + c[1] * a);
      out[i + 2] = Math.round(out[i + 2] * (1 - a) + c[2] * a);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Encoders

/** RGBA pixels → a PNG file (8-bit RGB, no alpha: frames are opaque). */
function encodePNG(width, height, rgba) {
  const raw = Buffer.alloc((width * 3 + 1) * height);
  for (let y = 0; y < height; y++) {
    const row = y * (width * 3 + 1);
    raw[row] = 0;
    for (let x = 0; x < width; x++) {
      const s = (y * width + x) * 4;
      const d = row + 1 + x * 3;
      raw[d] = rgba[s];
      raw[d + 1] = rgba[s + 1];
      raw[d + 2] = rgba[s + 2];
    }
  }
  return rgbPngFile(width, height, raw);
}

/** Decodes the PNGs encodePNG writes (8-bit RGB or RGBA, any filter) → {width, height, rgba}. */
function decodePNG(buf) {
  if (buf.length < 8 || buf.readUInt32BE(0) !== 0x89504e47) throw new Error('not a PNG file');
  let pos = 8;
  let width = 0;
  let height = 0;
  let type = 0;
  const idat = [];
  while (pos + 8 <= buf.length) {
    const len = buf.readUInt32BE(pos);
    const name = buf.toString('ascii', pos + 4, pos + 8);
    const data = buf.subarray(pos + 8, pos + 8 + len);
    if (name === 'IHDR') {
      width = data.readUInt32BE(0);
      height = data.readUInt32BE(4);
      if (data[8] !== 8 || (data[9] !== 2 && data[9] !== 6)) throw new Error('only 8-bit RGB/RGBA PNGs are read');
      type = data[9];
    } else if (name === 'IDAT') {
      idat.push(data);
    } else if (name === 'IEND') {
      break;
    }
    pos += 12 + len;
  }
  const bpp = type === 6 ? 4 : 3;
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const px = unfilter(raw, width, height, bpp);
  const rgba = new Uint8Array(width * height * 4);
  for (let i = 0; i < width * height; i++) {
    rgba[i * 4] = px[i * bpp];
    rgba[i * 4 + 1] = px[i * bpp + 1];
    rgba[i * 4 + 2] = px[i * bpp + 2];
    rgba[i * 4 + 3] = bpp === 4 ? px[i * bpp + 3] : 255;
  }
  return { width, height, rgba };
}

/** RGBA → a 24-bit bottom-up BMP file. */
function encodeBMP(width, height, rgba) {
  const stride = (width * 3 + 3) & ~3;
  const size = 54 + stride * height;
  const b = Buffer.alloc(size);
  b.write('BM', 0, 'ascii');
  b.writeUInt32LE(size, 2);
  b.writeUInt32LE(54, 10);
  b.writeUInt32LE(40, 14);
  b.writeInt32LE(width, 18);
  b.writeInt32LE(height, 22);
  b.writeUInt16LE(1, 26);
  b.writeUInt16LE(24, 28);
  b.writeUInt32LE(stride * height, 34);
  for (let y = 0; y < height; y++) {
    const row = 54 + (height - 1 - y) * stride;
    for (let x = 0; x < width; x++) {
      const s = (y * width + x) * 4;
      b[row + x * 3] = rgba[s + 2];
      b[row + x * 3 + 1] = rgba[s + 1];
      b[row + x * 3 + 2] = rgba[s];
    }
  }
  return b;
}

/** RGBA → an uncompressed 24-bit top-down TGA file. */
function encodeTGA(width, height, rgba) {
  const b = Buffer.alloc(18 + width * height * 3);
  b[2] = 2;
  b.writeUInt16LE(width, 12);
  b.writeUInt16LE(height, 14);
  b[16] = 24;
  b[17] = 0x20; // top-left origin
  for (let i = 0; i < width * height; i++) {
    b[18 + i * 3] = rgba[i * 4 + 2];
    b[18 + i * 3 + 1] = rgba[i * 4 + 1];
    b[18 + i * 3 + 2] = rgba[i * 4];
  }
  return b;
}

/** RGBA → a baseline JPEG file (quality 90). */
function encodeJPEG(width, height, rgba) {
  return jpeg.encode({ data: Buffer.from(rgba.buffer, rgba.byteOffset, rgba.byteLength), width, height }, 90).data;
}

/** RGBA → an uncompressed 8-bit RGB TIFF (little-endian, one strip). */
function encodeTIFF(width, height, rgba) {
  const entries = [
    [256, 4, 1, width], [257, 4, 1, height], [258, 3, 3, 0], [259, 3, 1, 1], [262, 3, 1, 2],
    [273, 4, 1, 0], [277, 3, 1, 3], [278, 4, 1, height], [279, 4, 1, width * height * 3],
  ];
  const ifd = 8;
  const ifdSize = 2 + entries.length * 12 + 4;
  const bitsAt = ifd + ifdSize;
  const dataAt = bitsAt + 6;
  const b = Buffer.alloc(dataAt + width * height * 3);
  b.write('II', 0, 'ascii');
  b.writeUInt16LE(42, 2);
  b.writeUInt32LE(ifd, 4);
  b.writeUInt16LE(entries.length, ifd);
  entries.forEach(([tag, type, n, value], i) => {
    const at = ifd + 2 + i * 12;
    b.writeUInt16LE(tag, at);
    b.writeUInt16LE(type, at + 2);
    b.writeUInt32LE(n, at + 4);
    if (tag === 258) b.writeUInt32LE(bitsAt, at + 8);
    else if (tag === 273) b.writeUInt32LE(dataAt, at + 8);
    else if (type === 3) b.writeUInt16LE(value, at + 8);
    else b.writeUInt32LE(value, at + 8);
  });
  for (let k = 0; k < 3; k++) b.writeUInt16LE(8, bitsAt + k * 2);
  for (let i = 0; i < width * height; i++) {
    b[dataAt + i * 3] = rgba[i * 4];
    b[dataAt + i * 3 + 1] = rgba[i * 4 + 1];
    b[dataAt + i * 3 + 2] = rgba[i * 4 + 2];
  }
  return b;
}

/** The encoders by file extension; gif, dpx and exr (which Premiere also writes) are not simulated. */
const ENCODERS = { png: encodePNG, bmp: encodeBMP, tga: encodeTGA, jpg: encodeJPEG, tif: encodeTIFF };

/**
 * What the Program Monitor shows: the active project's active sequence at its playhead, at
 * `width` × `height` (black without a sequence). For stand-ins of window captures.
 * @param {import('./premierepro/model').AppModel} app
 */
function renderProgramMonitor(app, width, height) {
  const p = app.activeProject;
  const seq = p && p.activeSequence;
  if (!seq) {
    const black = new Uint8Array(width * height * 4);
    for (let i = 3; i < black.length; i += 4) black[i] = 255;
    return black;
  }
  return renderSequence(seq, seq.playhead, width, height);
}

/** Renders a sequence model at `time` and encodes it; null for a format without an encoder. */
function renderFrameFile(seq, time, width, height, format) {
  const enc = ENCODERS[String(format).toLowerCase()];
  if (!enc) return null;
  return enc(width, height, renderSequence(seq, time, width, height));
}

module.exports = { renderSequence, renderProgramMonitor, renderFrameFile, encodePNG, decodePNG, encodeBMP, encodeTGA, encodeJPEG, encodeTIFF, colorsFor, ENCODERS, TPS };
