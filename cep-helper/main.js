// Quor Bridge Helper — the page script of cutrelay's invisible CEP helper.
//
// Runs in CEP's embedded browser with Node.js enabled (--enable-nodejs, --mixed-context).
// It finds the bridge through ~/.quor/cutrelay/connection.json, connects to its loopback
// WebSocket as the plug-in of runtime "cep", and passes each call on to host.jsx through
// CEP's evalScript. CEP evaluates scripts one at a time in the order they were asked for;
// this side never waits for one answer before passing on the next call.
//
// The helper never gives its token to whoever listens on the port in connection.json: it
// dials /ws?nonce=<a fresh nonce of its own>, and the bridge answers first with
// {type: "challenge", nonce, proof}, proof being HMAC-SHA-256 keyed by the token over
// "quor-bridge-proof\n<port>\n<our nonce>\n<its nonce>". Only when that checks out does the
// helper say hello, with its own proof over "quor-plugin-proof\n<port>\n<its nonce>\n<our
// nonce>", and only then does it answer anything. Otherwise it closes the socket and tries
// again later with its back-off. Node's crypto (CEP runs Node.js) makes the nonce and the
// proofs.
//
// Written for the oldest browser CEP 9 ships (Chromium 61): no optional chaining.
//
// The simulator in sim/ loads this file unmodified; the internals are exported when a
// CommonJS `module` exists.

"use strict";

const crypto = require("crypto");
const fs = require("fs");
const os = require("os");
const path = require("path");

const HELPER_VERSION = "0.1.0";
const PROTOCOL = 1;
const MAX_BACKOFF_MS = 5000;
const NON_JSON_PREVIEW = 500;
// How long an open socket may take to bring the bridge's proof.
const CHALLENGE_TIMEOUT_MS = 10000;

const conn = {
  socket: null,
  backoff: 1000,
  timer: null,
  challengeTimeoutMs: CHALLENGE_TIMEOUT_MS,
};

function nonEmpty(v) {
  return v !== undefined && v !== null && String(v) !== "";
}

function connectionFilePath() {
  return path.join(os.homedir(), ".quor", "cutrelay", "connection.json");
}

/** The bridge's port and token, or null when the file is missing, unreadable or incomplete. */
function readConnectionFile() {
  try {
    const parsed = JSON.parse(fs.readFileSync(connectionFilePath(), "utf8"));
    if (parsed && typeof parsed === "object" && nonEmpty(parsed.port) && nonEmpty(parsed.token)) return parsed;
  } catch (e) {
    // no usable file: the caller retries later
  }
  return null;
}

/** A handshake proof: HMAC-SHA-256 keyed by the token over the label, the port and the two nonces. */
function handshakeProof(label, token, port, first, second) {
  return crypto.createHmac("sha256", token).update(label + "\n" + port + "\n" + first + "\n" + second, "utf8").digest("hex");
}

/** Equality of two texts in time that does not depend on where they differ. */
function sameText(a, b) {
  if (typeof a !== "string" || a.length !== b.length) return false;
  let diff = 0;
  for (let i = 0; i < a.length; i++) diff |= a.charCodeAt(i) ^ b.charCodeAt(i);
  return diff === 0;
}

/**
 * The helper's proof when `data` is the bridge's challenge with a valid proof over
 * `nonce`, else null.
 */
function answerChallenge(data, token, port, nonce) {
  let msg;
  try {
    msg = JSON.parse(typeof data === "string" ? data : String(data));
  } catch (e) {
    return null;
  }
  if (!msg || msg.type !== "challenge" || typeof msg.nonce !== "string") return null;
  if (!sameText(msg.proof, handshakeProof("quor-bridge-proof", token, port, nonce, msg.nonce))) return null;
  return handshakeProof("quor-plugin-proof", token, port, msg.nonce, nonce);
}

/** Evaluates ExtendScript; resolves with CEP's answer text (never rejects). */
function evalScript(script) {
  return new Promise((resolve) => {
    try {
      window.__adobe_cep__.evalScript(script, (answer) => { resolve(answer); });
    } catch (e) {
      resolve("EvalScript error.");
    }
  });
}

/**
 * The script that runs one call in host.jsx. The payload is the JSON text of {verb, args}
 * written a second time as a JSON string literal, so that it reaches ExtendScript as one
 * string argument. ExtendScript is ES3, where U+2028 and U+2029 end a line and are not
 * allowed raw inside a string literal, so they travel as \u escapes (valid JSON and JS).
 */
function dispatchScript(verb, args) {
  const inner = JSON.stringify({ verb, args: args === undefined || args === null ? {} : args })
    .replace(/\u2028/g, "\\u2028")
    .replace(/\u2029/g, "\\u2029");
  return "quor_dispatch(" + JSON.stringify(inner) + ")";
}

/** Parses host.jsx's answer; text that is not JSON becomes an "extendscript_error" result. */
function parseAnswer(answer) {
  const text = answer === undefined || answer === null ? "" : String(answer);
  try {
    const parsed = JSON.parse(text);
    if (parsed && typeof parsed === "object" && !Array.isArray(parsed)) return parsed;
  } catch (e) {
    // fall through
  }
  return { ok: false, errorCode: "extendscript_error", error: "ExtendScript returned non-JSON: " + text.slice(0, NON_JSON_PREVIEW) };
}

/** Runs one verb in ExtendScript; resolves with the members of its result message. */
async function runCall(verb, args) {
  let script;
  try {
    script = dispatchScript(verb, args);
  } catch (e) {
    // Arguments nested too deeply to write out again: this call fails, nothing else does.
    return { ok: false, errorCode: "bad_args", error: "The arguments could not be passed to ExtendScript: " + (e && e.message ? e.message : String(e)) };
  }
  return parseAnswer(await evalScript(script));
}

/** The hello message: quor_hello()'s fields plus this helper's own. */
async function helloMessage() {
  let fields = {};
  try {
    const parsed = JSON.parse(String(await evalScript("quor_hello()")));
    if (parsed && typeof parsed === "object" && !Array.isArray(parsed)) fields = parsed;
  } catch (e) {
    // only the helper's own fields go out
  }
  return Object.assign(fields, { type: "hello", runtime: "cep", helperVersion: HELPER_VERSION, protocol: PROTOCOL });
}

/** Sends on the given socket (the current one by default) only while it is open. */
function send(message, socket) {
  const ws = socket || conn.socket;
  if (!ws || ws.readyState !== 1) return;
  try {
    ws.send(JSON.stringify(message));
  } catch (e) {
    // the close handler reconnects
  }
}

function scheduleReconnect() {
  if (conn.timer) return;
  const delay = conn.backoff;
  conn.timer = setTimeout(() => { conn.timer = null; connect(); }, delay);
  conn.backoff = Math.min(conn.backoff * 2, MAX_BACKOFF_MS);
}

async function handleMessage(data, socket) {
  let msg;
  try {
    msg = JSON.parse(typeof data === "string" ? data : String(data));
  } catch (e) {
    return;
  }
  if (!msg || typeof msg !== "object") return;
  if (msg.type === "ping") {
    send({ type: "pong" }, socket);
    return;
  }
  if (msg.type !== "call") return;
  const out = await runCall(msg.verb, msg.args);
  // The answer goes back on the socket the call came from; after a reconnect the bridge
  // has already failed that call.
  send(Object.assign({}, out, { type: "result", id: msg.id }), socket);
}

function connect() {
  if (conn.socket && (conn.socket.readyState === 0 || conn.socket.readyState === 1)) return;
  const file = readConnectionFile();
  if (!file) {
    scheduleReconnect();
    return;
  }
  const port = String(file.port);
  const token = String(file.token);
  const nonce = crypto.randomBytes(32).toString("hex");
  let ws;
  try {
    ws = new WebSocket("ws://127.0.0.1:" + port + "/ws?nonce=" + nonce);
  } catch (e) {
    scheduleReconnect();
    return;
  }
  conn.socket = ws;
  let verified = false;
  let challengeTimer = null;
  // The peer did not prove it knows the token: it gets nothing, and the close retries.
  const refuse = () => {
    if (verified || ws.readyState > 1) return;
    console.log("[quor] the process on port " + port + " does not know the token");
    try { ws.close(); } catch (e) { /* already going */ }
  };
  ws.onopen = () => {
    challengeTimer = setTimeout(refuse, conn.challengeTimeoutMs);
  };
  ws.onmessage = (event) => {
    const data = event ? event.data : undefined;
    if (verified) {
      handleMessage(data, ws);
      return;
    }
    const proof = answerChallenge(data, token, port, nonce);
    if (proof === null) {
      refuse();
      return;
    }
    verified = true;
    clearTimeout(challengeTimer);
    conn.backoff = 1000;
    helloMessage().then((hello) => { send(Object.assign(hello, { proof }), ws); });
  };
  ws.onerror = () => { /* a close follows */ };
  ws.onclose = () => {
    clearTimeout(challengeTimer);
    if (conn.socket === ws) conn.socket = null;
    scheduleReconnect();
  };
}

connect();

if (typeof module !== "undefined" && module && module.exports) {
  module.exports = {
    HELPER_VERSION, PROTOCOL, conn, readConnectionFile, connectionFilePath, dispatchScript, parseAnswer,
    runCall, helloMessage, handleMessage, connect, send, handshakeProof, answerChallenge,
  };
}
