'use strict';
// A minimal PNG writer and reader for the simulator's pictures: 8-bit RGB, no interlace,
// filter 0 on every row, one IDAT chunk (RFC 2083). The reader accepts what the writer
// writes, for tests that look at pixels. The CRC, chunk, row and file pieces also serve the
// frame encoders in render.js.

const zlib = require('zlib');

const SIGNATURE = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

function crc32(buf) {
  let c = 0xffffffff;
  for (let i = 0; i < buf.length; i++) c = CRC_TABLE[(c ^ buf[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, crc]);
}

/** An RGB picture: `pixels` holds width × height × 3 bytes, row by row. */
class Picture {
  /** @param {number} width @param {number} height @param {[number, number, number]} [fill] */
  constructor(width, height, fill = [0, 0, 0]) {
    this.width = width;
    this.height = height;
    this.pixels = Buffer.alloc(width * height * 3);
    this.fillRect(0, 0, width, height, fill);
  }

  /** Fills the rectangle, clipped to the picture; fractional edges are rounded. */
  fillRect(x, y, w, h, [r, g, b]) {
    const x0 = Math.max(0, Math.round(x));
    const y0 = Math.max(0, Math.round(y));
    const x1 = Math.min(this.width, Math.round(x + w));
    const y1 = Math.min(this.height, Math.round(y + h));
    for (let yy = y0; yy < y1; yy++) {
      for (let xx = x0; xx < x1; xx++) {
        const i = (yy * this.width + xx) * 3;
        this.pixels[i] = r;
        this.pixels[i + 1] = g;
        this.pixels[i + 2] = b;
      }
    }
  }

  /** Copies another picture's pixels to (x, y), clipped. */
  blit(src, x, y) {
    for (let sy = 0; sy < src.height; sy++) {
      const ty = y + sy;
      if (ty < 0 || ty >= this.height) continue;
      for (let sx = 0; sx < src.width; sx++) {
        const tx = x + sx;
        if (tx < 0 || tx >= this.width) continue;
        src.pixels.copy(this.pixels, (ty * this.width + tx) * 3, (sy * src.width + sx) * 3, (sy * src.width + sx) * 3 + 3);
      }
    }
  }

  /** @returns {[number, number, number]} */
  at(x, y) {
    const i = (y * this.width + x) * 3;
    return [this.pixels[i], this.pixels[i + 1], this.pixels[i + 2]];
  }
}

/** An 8-bit RGB PNG file around `raw`, the scanlines each led by its filter byte. */
function rgbPngFile(width, height, raw) {
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8; // bit depth
  ihdr[9] = 2; // colour type: RGB
  return Buffer.concat([
    SIGNATURE,
    chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw, { level: 6 })),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

/** The picture as PNG bytes. */
function encodePng(picture) {
  const { width, height, pixels } = picture;
  const stride = width * 3;
  const raw = Buffer.alloc((stride + 1) * height);
  for (let y = 0; y < height; y++) pixels.copy(raw, y * (stride + 1) + 1, y * stride, (y + 1) * stride);
  return rgbPngFile(width, height, raw);
}

/**
 * Undoes the row filters (0 to 4) of inflated scanlines `raw`, `width` pixels a row and
 * `bpp` bytes a pixel; answers the bare pixel bytes.
 */
function unfilter(raw, width, height, bpp) {
  const stride = width * bpp;
  const px = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const f = raw[y * (stride + 1)];
    for (let x = 0; x < stride; x++) {
      const cur = raw[y * (stride + 1) + 1 + x];
      const a = x >= bpp ? px[y * stride + x - bpp] : 0;
      const b = y > 0 ? px[(y - 1) * stride + x] : 0;
      const c = x >= bpp && y > 0 ? px[(y - 1) * stride + x - bpp] : 0;
      let v = cur;
      if (f === 1) v = cur + a;
      else if (f === 2) v = cur + b;
      else if (f === 3) v = cur + ((a + b) >> 1);
      else if (f === 4) {
        const p = a + b - c;
        const pa = Math.abs(p - a);
        const pb = Math.abs(p - b);
        const pc = Math.abs(p - c);
        v = cur + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
      }
      px[y * stride + x] = v & 255;
    }
  }
  return px;
}

/** Reads back a PNG written by encodePng (8-bit RGB, filter 0); throws on anything else. */
function decodePng(bytes) {
  if (!Buffer.isBuffer(bytes) || bytes.length < 8 || !bytes.subarray(0, 8).equals(SIGNATURE)) throw new Error('not a PNG');
  let at = 8;
  let width = 0;
  let height = 0;
  const idat = [];
  while (at + 12 <= bytes.length) {
    const len = bytes.readUInt32BE(at);
    const type = bytes.toString('latin1', at + 4, at + 8);
    const data = bytes.subarray(at + 8, at + 8 + len);
    if (crc32(bytes.subarray(at + 4, at + 8 + len)) !== bytes.readUInt32BE(at + 8 + len)) throw new Error(`bad CRC in ${type}`);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0);
      height = data.readUInt32BE(4);
      if (data[8] !== 8 || data[9] !== 2 || data[12] !== 0) throw new Error('only 8-bit RGB without interlace is read here');
    } else if (type === 'IDAT') {
      idat.push(data);
    } else if (type === 'IEND') {
      break;
    }
    at += 12 + len;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const picture = new Picture(width, height);
  const stride = width * 3;
  for (let y = 0; y < height; y++) {
    if (raw[y * (stride + 1)] !== 0) throw new Error('only filter 0 is read here');
    raw.copy(picture.pixels, y * stride, y * (stride + 1) + 1, (y + 1) * (stride + 1));
  }
  return picture;
}

module.exports = { Picture, encodePng, decodePng, crc32, chunk, rgbPngFile, unfilter, SIGNATURE };
