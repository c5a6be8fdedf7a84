'use strict';
// The UXP runtime modules the plug-in requires besides `premierepro`: `uxp` (host and
// versions), `fs` (UXP's Node-style file API with its path schemes) and `os`.

const nodeFs = require('fs');
const nodePath = require('path');
const nodeOs = require('os');

/**
 * Maps a UXP path to a native one. Schemes: "plugin:" (the plug-in folder, read-only),
 * "plugin-data:", "plugin-temp:", "file:"; a path without a scheme is a native path.
 */
function nativePath(p, dirs) {
  const text = String(p);
  const m = /^(plugin|plugin-data|plugin-temp|file):(.*)$/.exec(text);
  if (!m) return { path: text, readOnly: false };
  const rest = m[2];
  if (m[1] === 'file') return { path: rest.replace(/^\/\/(?=\/)/, ''), readOnly: false };
  const base = m[1] === 'plugin' ? dirs.plugin : m[1] === 'plugin-data' ? dirs.data : dirs.temp;
  const rel = rest.replace(/^\/+/, '');
  const full = nodePath.resolve(base, rel);
  if (full !== base && !full.startsWith(base + nodePath.sep)) throw new Error(`Path escapes the ${m[1]} folder: ${text}`);
  return { path: full, readOnly: m[1] === 'plugin' };
}

function createFs(dirs) {
  const encodingOf = (options) => (options && typeof options === 'object' && options.encoding ? String(options.encoding) : null);
  const toArrayBuffer = (buf) => buf.buffer.slice(buf.byteOffset, buf.byteOffset + buf.byteLength);
  const decode = (buf, enc) => {
    const e = enc.toLowerCase();
    if (e === 'utf-8' || e === 'utf8') return buf.toString('utf8');
    if (e === 'utf-16le') return buf.toString('utf16le');
    if (e === 'utf-16be') return Buffer.from(buf).swap16().toString('utf16le');
    throw new Error(`Unsupported encoding ${enc}`);
  };
  const writable = (p) => {
    const np = nativePath(p, dirs);
    if (np.readOnly) throw new Error(`The plugin folder is read-only: ${p}`);
    return np.path;
  };
  return {
    readFileSync(path, options) {
      const buf = nodeFs.readFileSync(nativePath(path, dirs).path);
      const enc = encodingOf(options);
      return enc ? decode(buf, enc) : toArrayBuffer(buf);
    },
    async readFile(path, options) {
      const buf = await nodeFs.promises.readFile(nativePath(path, dirs).path);
      const enc = encodingOf(options);
      return enc ? decode(buf, enc) : toArrayBuffer(buf);
    },
    writeFileSync(path, data, options) {
      const target = writable(path);
      const buf = typeof data === 'string' ? Buffer.from(data, 'utf8') : Buffer.from(data instanceof ArrayBuffer ? new Uint8Array(data) : data);
      const flag = options && options.flag ? options.flag : 'w';
      nodeFs.writeFileSync(target, buf, { flag });
      return buf.length;
    },
    async writeFile(path, data, options) {
      return this.writeFileSync(path, data, options);
    },
    lstatSync(path) { return nodeFs.lstatSync(nativePath(path, dirs).path); },
    async lstat(path) { return nodeFs.lstatSync(nativePath(path, dirs).path); },
    readdirSync(path) { return nodeFs.readdirSync(nativePath(path, dirs).path); },
    async readdir(path) { return nodeFs.readdirSync(nativePath(path, dirs).path); },
    async mkdir(path, options) { nodeFs.mkdirSync(writable(path), { recursive: !!(options && options.recursive) }); },
    async unlink(path) { nodeFs.unlinkSync(writable(path)); },
    async rename(oldPath, newPath) { nodeFs.renameSync(writable(oldPath), writable(newPath)); },
    async copyFile(src, dest) { nodeFs.copyFileSync(nativePath(src, dirs).path, writable(dest)); },
  };
}

function createOs(options) {
  return {
    platform: () => options.platform || process.platform,
    release: () => nodeOs.release(),
    arch: () => nodeOs.arch(),
    homedir: () => options.home,
    cpus: () => nodeOs.cpus().map((c) => ({ model: c.model, speed: c.speed })),
    totalmem: () => nodeOs.totalmem(),
    freemem: () => nodeOs.freemem(),
  };
}

function createUxp(options) {
  return {
    host: { name: 'premierepro', version: options.version, uiLocale: options.locale || 'en_US' },
    versions: { uxp: 'uxp-8.1.0', plugin: options.pluginVersion },
  };
}

module.exports = { createFs, createOs, createUxp, nativePath };
