// The real Linux program in a scratch copy of its app folder (build/linux/app), with the simulated
// reader's demo card: what a newcomer sees after the run command.

import { spawn } from 'node:child_process';
import { cpSync, existsSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { connect } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { freePort } from './service.mjs';

const here = dirname(fileURLToPath(import.meta.url));
export const appDir = resolve(here, '..', '..', 'build', 'linux', 'app');

function accepts(port) {
  return new Promise((done) => {
    const socket = connect(port, '127.0.0.1');
    socket.once('connect', () => { socket.destroy(); done(true); });
    socket.once('error', () => done(false));
  });
}

// Starts the program with [Device] ID = model; returns { baseUrl, port, stop }.
export async function startProgram({ model }) {
  if (!existsSync(join(appDir, 'kavenor'))) throw new Error(`${appDir}/kavenor is not built`);
  const work = mkdtempSync(join(tmpdir(), 'kavenor-app-'));
  cpSync(appDir, work, { recursive: true });
  rmSync(join(work, 'Config.ini'), { force: true });
  const port = await freePort();
  writeFileSync(join(work, 'Config.ini'), `[IP]\nport=${port}\n[Device]\nID=${model}\n`);
  const child = spawn(join(work, 'kavenor'), [], { cwd: work, stdio: 'ignore' });
  const stop = async () => {
    child.kill('SIGKILL');
    await new Promise((done) => (child.exitCode !== null || child.signalCode !== null ? done() : child.once('exit', done)));
    rmSync(work, { recursive: true, force: true });
  };
  for (let waited = 0; !(await accepts(port)); waited += 50) {
    if (waited > 10000 || child.exitCode !== null) { await stop(); throw new Error('the program did not listen'); }
    await new Promise((done) => setTimeout(done, 50));
  }
  return { baseUrl: `http://127.0.0.1:${port}/`, port, stop };
}
