// Starts and stops the service the page tests talk to. For now that is
// mock_service.py; swapping in the real program only touches this file.

import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { freePort } from './real_program.mjs';

const here = dirname(fileURLToPath(import.meta.url));
export const generator = resolve(here, '..', '..', 'pages', 'make_pages.py');

// Runs the page generator into `dir`; throws with its error output when it fails.
export function makePages(dir) {
  execFileSync('/usr/bin/python3', [generator, dir], { stdio: ['ignore', 'ignore', 'pipe'] });
  return dir;
}

// The pages as the build makes them, generated once per test process into a scratch folder.
let generated;
export function pagesDir() {
  if (!generated) {
    generated = makePages(mkdtempSync(join(tmpdir(), 'kavenor-generated-pages-')));
    const dir = generated;
    process.on('exit', () => rmSync(dir, { recursive: true, force: true }));
  }
  return generated;
}

// Reader model index ([Device] ID) whose test page is the one asked for.
const MODEL_FOR_PAGE = { '03_idcard.html': 0, 'idcardM1.html': 1, 'NFC_idcard.html': 4 };

// Services still running if the test process ends early.
const running = new Set();
process.on('exit', () => {
  for (const pid of running) {
    try { process.kill(pid, 'SIGKILL'); } catch { /* already gone */ }
  }
});


/**
 * Starts a service that answers WebSocket commands as reader model `model`
 * (default: the model whose page `page` is) and serves `page` (default: the
 * page of that model) to every plain HTTP request on the same port.
 *   replies: { code: text } fixed replies; delay: { code: ms } (code 2: when the card is placed);
 *   deviceName: device field of ORV5U replies; port: a given port (else a free one).
 * Returns { baseUrl, port, stop(), commands(), connections() }: commands() lists the
 * command texts received so far, connections() the number of WebSocket connections.
 */
export async function startService(options = {}) {
  // A free port can be taken by someone else before the service binds it: try another.
  for (let attempt = 1; ; attempt++) {
    try {
      return await launch({ ...options, port: options.port ?? await freePort() });
    } catch (error) {
      if (options.port !== undefined || attempt === 3) throw error;
    }
  }
}

async function launch({ page, model, replies, delay, deviceName, port }) {
  const work = mkdtempSync(join(tmpdir(), 'kavenor-pages-'));
  const log = join(work, 'commands.jsonl');
  // In a file: long card replies would not fit in one argument.
  const script = join(work, 'script.json');
  writeFileSync(script, JSON.stringify({ replies: replies ?? {}, delay: delay ?? {}, ...(deviceName ? { deviceName } : {}) }));
  const child = spawn('/usr/bin/python3', [
    join(here, 'mock_service.py'), '--port', String(port), '--model', String(model ?? MODEL_FOR_PAGE[page] ?? 0),
    '--pages', pagesDir(), '--log', log, '--script', '@' + script, ...(page ? ['--page', page] : []),
  ], { stdio: ['ignore', 'pipe', 'pipe'] });
  running.add(child.pid);
  const exited = new Promise((done) => child.once('exit', () => { running.delete(child.pid); done(); }));
  const alive = () => child.exitCode === null && child.signalCode === null;
  const stop = async () => {
    if (alive()) {
      child.ref();   // keep the test process up until the service has gone
      process.kill(child.pid, 'SIGTERM');
      await exited;
    }
    rmSync(work, { recursive: true, force: true });
  };

  let stderr = '';
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  try {
    await new Promise((done, fail) => {
      const timer = setTimeout(() => fail(new Error('service did not start:\n' + stderr)), 10000);
      child.stdout.on('data', (chunk) => {
        if (String(chunk).includes('listening on')) { clearTimeout(timer); done(); }
      });
      exited.then(() => { clearTimeout(timer); fail(new Error(`service exited:\n${stderr}`)); });
    });
  } catch (error) {
    await stop();
    throw error;
  }

  // A service a failed test forgot must not keep the test process alive.
  child.unref();
  child.stdout.unref();
  child.stderr.unref();

  const events = () => existsSync(log)
    ? readFileSync(log, 'utf8').split('\n').filter(Boolean).map((line) => JSON.parse(line))
    : [];
  return {
    port,
    baseUrl: `http://127.0.0.1:${port}`,
    commands: () => events().filter((e) => e.event === 'message').map((e) => e.text),
    connections: () => events().filter((e) => e.event === 'connect').length,
    stop,
  };
}
