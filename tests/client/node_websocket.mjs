// A minimal ws:// client on node:net with the browser's interface (on* handlers, send, close, the
// close event's code and reason), for the client library under Node 20, which has no WebSocket.
// Unfragmented text frames are all the service sends; pings and binary messages are not handled. A
// subclass may send an Origin header, as a page of that site would (`origin`).

import { createHash, randomBytes } from 'node:crypto';
import { connect } from 'node:net';

export class NodeWebSocket {
  constructor(url, protocols, origin) {
    const u = URL.canParse(url) ? new URL(url) : null;
    if (u?.protocol !== 'ws:') throw Object.assign(new Error(`not a ws:// address: ${url}`), { name: 'SyntaxError' });
    this.url = url;
    this.open = false;
    this.onopen = this.onmessage = this.onerror = this.onclose = null;
    this._buffer = Buffer.alloc(0);
    const key = randomBytes(16).toString('base64');
    this._accept = createHash('sha1').update(key + '258EAFA5-E914-47DA-95CA-C5AB0DC85B11').digest('base64');
    this._socket = connect(Number(u.port || 80), u.hostname.replace(/^\[|\]$/g, ''), () => this._socket.write(
      `GET / HTTP/1.1\r\nHost: ${u.host}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n`
      + (origin ? `Origin: ${origin}\r\n` : '') + `Sec-WebSocket-Key: ${key}\r\nSec-WebSocket-Version: 13\r\n\r\n`));
    this._closeEvent = { type: 'close', code: 1006, reason: '' };
    this._socket.on('data', (chunk) => this._onData(chunk));
    this._socket.on('error', () => this.onerror?.({ type: 'error' }));
    this._socket.on('close', () => { this.open = false; this.onclose?.(this._closeEvent); });
  }

  send(text) {
    if (!this.open) throw new Error('InvalidStateError: not open');
    this._socket.write(frame(1, Buffer.from(text)));
  }

  close() {
    if (this.open) this._socket.end(frame(8, Buffer.from([3, 232])));
    else this._socket.destroy();
  }

  _onData(chunk) {
    let b = Buffer.concat([this._buffer, chunk]);
    if (!this.open) {
      const end = b.indexOf('\r\n\r\n');
      if (end < 0) return void (this._buffer = b);
      if (!b.subarray(0, end).toString().includes(`Sec-WebSocket-Accept: ${this._accept}`)) return this._socket.destroy();
      b = b.subarray(end + 4);
      this.open = true;
      this.onopen?.({ type: 'open' });
    }
    for (;;) {
      let [length, at] = [b[1] & 0x7f, 2];
      if (length === 126) [length, at] = [b.length >= 4 ? b.readUInt16BE(2) : Infinity, 4];
      if (length === 127) [length, at] = [b.length >= 10 ? Number(b.readBigUInt64BE(2)) : Infinity, 10];
      if (b.length < 2 || b.length < at + length) break;
      const opcode = b[0] & 0x0f;
      if (opcode === 1) this.onmessage?.({ type: 'message', data: b.toString('utf8', at, at + length) });
      if (opcode === 8) {
        if (length >= 2) this._closeEvent = { type: 'close', code: b.readUInt16BE(at), reason: b.toString('utf8', at + 2, at + length) };
        this._socket.end();
      }
      b = b.subarray(at + length);
    }
    this._buffer = b;
  }
}

function frame(opcode, payload) {
  const n = payload.length;
  const head = n < 126 ? Buffer.from([0x80 | opcode, 0x80 | n]) : Buffer.from([0x80 | opcode, 0xfe, n >> 8, n & 0xff]);
  const mask = randomBytes(4);
  return Buffer.concat([head, mask, payload.map((byte, i) => byte ^ mask[i % 4])]);
}
