// The real Linux program in a scratch copy of its app folder (build/linux/app), with the simulated
// reader's demo card: what a newcomer sees after the run command.

import { spawn } from 'node:child_process';
import { cpSync, existsSync, mkdtempSync, renameSync, rmSync, writeFileSync } from 'node:fs';
import { connect } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { freePort } from './service.mjs';

const here = dirname(fileURLToPath(import.meta.url));
export const appDir = resolve(here, '..', '..', 'build', 'linux', 'app');
// The simulated reader built without some entry points, one folder per variant (no_GetEndDateU ...).
export const simulatorDir = resolve(here, '..', '..', 'build', 'linux', 'bin', 'sim');
export const SDK_FOLDERS = ['ORV5A', 'ORV5U', 'ORV5ULN'];

// Programs still running if the test process ends early.
const running = new Set();
process.on('exit', () => {
  for (const child of running) child.kill('SIGKILL');
});

function accepts(port) {
  return new Promise((done) => {
    const socket = connect(port, '127.0.0.1');
    socket.once('connect', () => { socket.destroy(); done(true); });
    socket.once('error', () => done(false));
  });
}

// scenario.ini from { key: value } or text; replaced in one step, as the reader reads it at every open.
export function writeScenario(dir, folder, lines) {
  const text = typeof lines === 'string' ? lines
    : Object.entries(lines).map(([key, value]) => `${key}=${value}\n`).join('');
  const path = join(dir, folder, 'scenario.ini');
  writeFileSync(path + '.tmp', text);
  renameSync(path + '.tmp', path);
}

/**
 * Starts the program with [Device] ID = model; returns { baseUrl, wsUrl, port, dir, setScenario, stop }.
 *   deviceName: [Device] DeviceName; security: { AllowedOrigins, DeniedOrigins, ... } the lines of
 *   [Security]; scenarios: { folder: lines } written before the start;
 *   sdk: { folder: variant } puts that simulator variant in the folder (read at start).
 * [IP] Restart=1 skips the single-instance check, so that programs can run side by side.
 */
export async function startProgram({ model, deviceName, security = {}, scenarios = {}, sdk = {} }) {
  if (!existsSync(join(appDir, 'kavenor'))) throw new Error(`${appDir}/kavenor is not built`);
  const work = mkdtempSync(join(tmpdir(), 'kavenor-app-'));
  cpSync(appDir, work, { recursive: true });
  for (const name of ['Config.ini', ...SDK_FOLDERS.flatMap((f) => [`${f}/scenario.ini`, `${f}/calls.log`])]) {
    rmSync(join(work, name), { force: true });
  }
  for (const [folder, variant] of Object.entries(sdk)) {
    cpSync(join(simulatorDir, variant, 'libkadrel.so'), join(work, folder, 'libkadrel.so'));
  }
  for (const [folder, lines] of Object.entries(scenarios)) writeScenario(work, folder, lines);
  const port = await freePort();
  const name = deviceName === undefined ? '' : `DeviceName=${deviceName}\n`;
  const sites = Object.entries(security).map(([key, value]) => `${key}=${value}\n`).join('');
  writeFileSync(join(work, 'Config.ini'), `[IP]\nport=${port}\nRestart=1\n[Device]\nID=${model}\n${name}[Security]\n${sites}`);
  const child = spawn(join(work, 'kavenor'), [], { cwd: work, stdio: 'ignore' });
  running.add(child);
  const exited = new Promise((done) => child.once('exit', done));
  const stop = async () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
    await exited;
    running.delete(child);
    rmSync(work, { recursive: true, force: true });
  };
  for (let waited = 0; !(await accepts(port)); waited += 50) {
    if (waited > 10000 || child.exitCode !== null) { await stop(); throw new Error('the program did not listen'); }
    await new Promise((done) => setTimeout(done, 50));
  }
  return {
    baseUrl: `http://127.0.0.1:${port}/`,
    wsUrl: `ws://127.0.0.1:${port}`,
    port,
    dir: work,
    setScenario: (folder, lines) => writeScenario(work, folder, lines),
    stop,
  };
}
