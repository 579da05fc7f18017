// The real Linux program in a scratch copy of its app folder (build/linux/app), with the simulated
// reader: its demo card, or what each SDK folder's scenario.ini says.

import { spawn } from 'node:child_process';
import { closeSync, cpSync, existsSync, mkdtempSync, openSync, readFileSync, renameSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

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

export function freePort() {
  return new Promise((done, fail) => {
    const server = createServer();
    server.on('error', fail);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => done(port));
    });
  });
}

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));
const readText = (path) => (existsSync(path) ? readFileSync(path, 'utf8') : '');
const lines = (text) => text.split('\n').filter(Boolean);

// scenario.ini from { key: value } or text; replaced in one step, as the reader reads it at every open.
export function writeScenario(dir, folder, lines) {
  const text = typeof lines === 'string' ? lines
    : Object.entries(lines).map(([key, value]) => `${key}=${value}\n`).join('');
  const path = join(dir, folder, 'scenario.ini');
  writeFileSync(path + '.tmp', text);
  renameSync(path + '.tmp', path);
}

/**
 * Starts the program with [Device] ID = model; returns { baseUrl, wsUrl, port, dir, setScenario,
 * commands, connections, calls, stop }.
 *   deviceName: [Device] DeviceName; security: { AllowedOrigins, DeniedOrigins, ... } the lines of
 *   [Security]; scenarios: { folder: lines } written before the start;
 *   sdk: { folder: variant } puts that simulator variant in the folder (read at start);
 *   port: the port to listen on (else a free one, another if that one is taken meanwhile).
 * What the program did is read from what it shows: commands() the messages it logged (memory-card
 * keys and data as it hides them), connections() the WebSocket connections it opened, calls(folder)
 * the simulated reader's call log there, one { entry, args } per call.
 * [IP] Restart=1 skips the single-instance check, so that programs can run side by side.
 */
export async function startProgram(options) {
  for (let attempt = 1; ; attempt++) {
    const program = await launch({ ...options, port: options.port ?? await freePort() });
    if (program.listening) return program;
    await program.stop();
    if (options.port !== undefined || attempt === 3) throw new Error(`the program did not listen:\n${program.output}`);
  }
}

async function launch({ model, deviceName, security = {}, scenarios = {}, sdk = {}, port }) {
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
  const name = deviceName === undefined ? '' : `DeviceName=${deviceName}\n`;
  const sites = Object.entries(security).map(([key, value]) => `${key}=${value}\n`).join('');
  writeFileSync(join(work, 'Config.ini'), `[IP]\nport=${port}\nRestart=1\n[Device]\nID=${model}\n${name}[Security]\n${sites}`);
  // Standard output into a file: nothing to drain, and every line is there when the test looks.
  const outputPath = join(work, 'output.log');
  const output = openSync(outputPath, 'w');
  const child = spawn(join(work, 'kavenor'), [], { cwd: work, stdio: ['ignore', output, output] });
  closeSync(output);
  running.add(child);
  const exited = new Promise((done) => child.once('exit', done));
  const stop = async () => {
    if (child.exitCode === null && child.signalCode === null) child.kill('SIGKILL');
    await exited;
    running.delete(child);
    rmSync(work, { recursive: true, force: true });
  };
  const shown = () => readText(outputPath);

  // The program says when it listens, and when it cannot.
  const serving = `Kavenor serves on port ${port}:`;
  const failed = `服务未能启动：端口${port}`;
  for (let waited = 0; ; waited += 50) {
    const text = shown();
    if (text.includes(serving)) break;
    if (text.includes(failed) || child.exitCode !== null || waited > 20000) return { listening: false, output: text, stop };
    await sleep(50);
  }
  return {
    listening: true,
    baseUrl: `http://127.0.0.1:${port}/`,
    wsUrl: `ws://127.0.0.1:${port}`,
    port,
    dir: work,
    setScenario: (folder, lines) => writeScenario(work, folder, lines),
    commands: () => lines(shown()).map((line) => /^on_message called with hdl: \S+ and message: (.*)$/.exec(line)?.[1])
      .filter((text) => text !== undefined),
    connections: () => lines(shown()).filter((line) => /\[connect\] WebSocket Connection .* 101$/.test(line)).length,
    calls: (folder) => lines(readText(join(work, folder, 'calls.log'))).map((line) => {
      const [, entry, args = ''] = /^\d+ (\S+) ?(.*)$/.exec(line);
      return { entry, args };
    }),
    stop,
  };
}
