'use strict';
// UXP's global WebSocket (client only), on top of the `ws` package: numeric readyState,
// handler properties onopen / onmessage / onerror / onclose, send and close.

const WS = require('ws');

// `helloExtras`, when given, is merged into every hello the script sends: the one way the
// simulator tells the bridge that the plug-in it hosts runs in a simulated Premiere.
//
// `calls`, when given ({begin(verb) → token, end(token)}), hears of each call message
// delivered to the script and of the result it sends back: how the simulator knows which
// verb runs (premierepro/faults.js).
function createWebSocketClass(sockets, helloExtras = null, calls = null) {
  class WebSocket {
    constructor(url, protocols = undefined) {
      const socket = protocols === undefined ? new WS(String(url)) : new WS(String(url), protocols);
      this._ws = socket;
      this.onopen = null;
      this.onmessage = null;
      this.onerror = null;
      this.onclose = null;
      this.binaryType = 'arraybuffer';
      this._calls = new Map(); // call id → token of `calls`
      sockets.add(this);
      const fire = (name, event) => {
        const h = this[name];
        if (typeof h === 'function') h.call(this, event);
      };
      socket.on('open', () => fire('onopen', { type: 'open' }));
      socket.on('message', (data, isBinary) => {
        let payload;
        if (!isBinary) payload = data.toString('utf8');
        else {
          const buf = Array.isArray(data) ? Buffer.concat(data) : Buffer.from(data);
          payload = buf.buffer.slice(buf.byteOffset, buf.byteOffset + buf.byteLength);
        }
        if (calls && typeof payload === 'string' && payload.includes('"call"')) {
          try {
            const m = JSON.parse(payload);
            if (m && m.type === 'call' && typeof m.verb === 'string') this._calls.set(m.id, calls.begin(m.verb));
          } catch (e) { /* not JSON: the script will say so */ }
        }
        fire('onmessage', { type: 'message', data: payload });
      });
      socket.on('error', (err) => fire('onerror', { type: 'error', message: err && err.message }));
      socket.on('close', (code, reason) => {
        sockets.delete(this);
        for (const token of this._calls.values()) calls.end(token);
        this._calls.clear();
        fire('onclose', { type: 'close', code, reason: reason ? reason.toString() : '' });
      });
    }

    get readyState() { return this._ws.readyState; }
    get url() { return this._ws.url; }
    get protocol() { return this._ws.protocol; }
    get bufferedAmount() { return this._ws.bufferedAmount; }

    send(data) {
      if (this._ws.readyState !== 1) throw new Error('WebSocket is not open');
      if (helloExtras && typeof data === 'string' && data.includes('"hello"')) {
        try {
          const message = JSON.parse(data);
          if (message && message.type === 'hello') data = JSON.stringify(Object.assign(message, helloExtras));
        } catch (e) { /* not JSON: sent as it is */ }
      }
      this._ended(data);
      this._ws.send(data);
    }

    /** The script answered a call: that verb is no longer running. */
    _ended(data) {
      if (this._calls.size === 0 || typeof data !== 'string' || !data.includes('"result"')) return;
      try {
        const m = JSON.parse(data);
        if (m && m.type === 'result' && this._calls.has(m.id)) {
          calls.end(this._calls.get(m.id));
          this._calls.delete(m.id);
        }
      } catch (e) { /* not JSON */ }
    }

    close(code = 1000, reason = '') {
      this._ws.close(code, reason);
    }
  }
  WebSocket.CONNECTING = 0;
  WebSocket.OPEN = 1;
  WebSocket.CLOSING = 2;
  WebSocket.CLOSED = 3;
  return WebSocket;
}

module.exports = { createWebSocketClass };
