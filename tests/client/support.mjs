// What the client tests share: the library, a WebSocket for Node, the real program.

import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { existsSync, readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { join } from 'node:path';
import * as Kavenor from '../../build/linux/kavenor-client/dist/kavenor-client.mjs';
import { NodeWebSocket } from './node_websocket.mjs';

export { Kavenor, NodeWebSocket };
export { startProgram } from '../pages/real_program.mjs';
// The package as the build makes it; clientSource() is its UMD file, for <script>.
export const packageDir = new URL('../../build/linux/kavenor-client/', import.meta.url).pathname;
export const clientPath = packageDir + 'dist/kavenor-client.js';
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

// The simulated reader's call log of one SDK folder of a running program: the entry points called.
export function callNames(program, folder) {
  const path = join(program.dir, folder, 'calls.log');
  return existsSync(path) ? readFileSync(path, 'utf8').split('\n').filter(Boolean).map((line) => line.split(' ')[1]) : [];
}

// Resolves once check() is true, trying every 20 ms (no upper bound: the test runner's own time-out).
export async function until(check) {
  while (!check()) await sleep(20);
}

/**
 * A stand-in for a service in a state the real program cannot be put in: GET /status answers
 * `status` (over the product, the library's version and allowed access); commands get `reply` if
 * given, else nothing; `closeWith` closes the connection after the first command with 1008 and that
 * reason, as Kavenor does when its operator gives no answer. Returns { url, close }.
 */
export async function stubService({ status = {}, reply, closeWith } = {}) {
  const server = createServer((request, response) => {
    const cors = { 'Access-Control-Allow-Origin': '*', 'Access-Control-Allow-Private-Network': 'true' };
    if (request.method === 'OPTIONS') return void response.writeHead(204, cors).end();
    response.writeHead(200, { 'Content-Type': 'application/json', ...cors });
    response.end(JSON.stringify({ product: 'Kavenor', version: Kavenor.VERSION, origin: null, access: 'allowed', ...status }));
  });
  const upgraded = new Set();
  server.on('upgrade', (request, socket) => {
    upgraded.add(socket);
    const accept = createHash('sha1').update(request.headers['sec-websocket-key'] + '258EAFA5-E914-47DA-95CA-C5AB0DC85B11').digest('base64');
    socket.write(`HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ${accept}\r\n\r\n`);
    socket.on('error', () => {});
    socket.once('data', () => {
      if (reply !== undefined) {
        const text = Buffer.from(reply);
        assert.ok(text.length < 126, 'a short reply: one length byte');
        socket.write(Buffer.concat([Buffer.from([0x81, text.length]), text]));
      }
      if (closeWith) {
        const reason = Buffer.from(closeWith);
        socket.end(Buffer.concat([Buffer.from([0x88, reason.length + 2, 0x03, 0xf0]), reason]));
      }
    });
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  return {
    url: `ws://127.0.0.1:${server.address().port}`,
    close: () => {
      // Upgraded sockets and kept-alive requests are the stub's to end: they would keep Node running.
      for (const socket of upgraded) socket.destroy();
      server.closeAllConnections();
      server.close();
    },
  };
}
