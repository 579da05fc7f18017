// What the client tests share: the library, a WebSocket for Node, the real program.

import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import * as Kavenor from '../../client/kavenor-client.js';
import { NodeWebSocket } from './node_websocket.mjs';

export { Kavenor, NodeWebSocket };
export { startProgram } from '../pages/real_program.mjs';
export const clientPath = new URL('../../client/kavenor-client.js', import.meta.url).pathname;
export const clientSource = () => readFileSync(clientPath, 'utf8');
export const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
// A reader on the port every driver tries first, so that no read scans for it.
export const ON_PORT_1 = { ports: '1' };

// A client of the program whose WebSocket logs every socket made, command sent and reply received.
export function clientOf(program, options = {}) {
  const log = [];
  class Logged extends NodeWebSocket {
    constructor(url) {
      super(url);
      log.push('socket');
    }

    set onmessage(deliver) { this._deliver = deliver; }
    get onmessage() {
      return this._deliver && ((event) => { log.push(`reply ${event.data.slice(0, 40)}`); this._deliver(event); });
    }

    send(text) { log.push(`send ${text}`); super.send(text); }
  }
  return Object.assign(new Kavenor.KavenorClient({ url: program.wsUrl, WebSocket: Logged, ...options }), { log });
}

// Awaits the rejection with a KavenorError of `code`; returns the error.
export async function rejectsWith(promise, code) {
  const error = await promise.then(() => assert.fail(`resolved, ${code} expected`), (e) => e);
  assert.ok(error instanceof Kavenor.KavenorError, String(error));
  assert.equal(error.code, code, error.message);
  assert.ok(error.meaning.zh && error.meaning.en);
  return error;
}

// [width, height] of a BMP data URL's picture.
export function bmpSize(url) {
  const bytes = Buffer.from(url.replace(/^data:image\/bmp;base64,/, ''), 'base64');
  assert.equal(bytes.toString('latin1', 0, 2), 'BM');
  return [bytes.readInt32LE(18), Math.abs(bytes.readInt32LE(22))];
}
