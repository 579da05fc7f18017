// The package as a web developer meets it: packed by npm, installed into an empty folder, then
// imported and required by Node, type-checked by TypeScript and bundled by Vite into a page that
// reads the demo card in Chromium through the real program.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, describe, it } from 'node:test';
import { launchBrowser } from '../pages/browser.mjs';
import { startProgram } from '../pages/real_program.mjs';
import { bin, packageDir, productVersion, serveFolder } from './support.mjs';

const version = productVersion();

// Writes { relative path: text } under `dir`.
function writeFiles(dir, files) {
  for (const [path, text] of Object.entries(files)) {
    mkdirSync(join(dir, path, '..'), { recursive: true });
    writeFileSync(join(dir, path), text);
  }
}

function node(project, args) {
  return execFileSync(process.execPath, args, { cwd: project, encoding: 'utf8' }).trim();
}

describe('the kavenor-client package, installed from its .tgz', () => {
  let work;
  let project;
  before(() => {
    work = mkdtempSync(join(tmpdir(), 'kavenor-package-'));
    const tgz = execFileSync('npm', ['pack', '--silent', '--pack-destination', work, packageDir], { encoding: 'utf8' }).trim();
    assert.equal(tgz, `kavenor-client-${version}.tgz`);
    project = join(work, 'counter-page');
    writeFiles(project, { 'package.json': JSON.stringify({ name: 'counter-page', private: true, type: 'module' }) });
    // The package has no dependencies: nothing comes from the registry.
    execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund', '--loglevel=error', join(work, tgz)], { cwd: project });
  });
  after(() => rmSync(work, { recursive: true, force: true }));

  it('Node imports it as an ES module and requires it as CommonJS, both with the product\'s version', () => {
    const installed = JSON.parse(readFileSync(join(project, 'node_modules', 'kavenor-client', 'package.json'), 'utf8'));
    assert.equal(installed.version, version);
    const show = 'console.log(typeof KavenorClient, typeof parseCardReply, VERSION)';
    assert.equal(node(project, ['--input-type=module', '-e',
      `import { KavenorClient, parseCardReply, VERSION } from 'kavenor-client'; ${show}`]), `function function ${version}`);
    assert.equal(node(project, ['--input-type=commonjs', '-e',
      `const { KavenorClient, parseCardReply, VERSION } = require('kavenor-client'); ${show}`]), `function function ${version}`);
  });

  // moduleResolution: the files compiled (a .cts file is a CommonJS module, typed by the require condition)
  const RESOLUTIONS = [['bundler', 'esnext', ['src/use.ts']], ['node16', 'node16', ['src/use.ts', 'src/use.cts']]];
  for (const [resolution, module, files] of RESOLUTIONS) {
    it(`tsc --strict compiles a module that uses the types, with moduleResolution ${resolution}`, () => {
      writeFiles(project, {
        'src/use.ts': [
          "import { KavenorClient, KavenorError, type CardRecord } from 'kavenor-client';",
          "const client = new KavenorClient({ url: 'ws://127.0.0.1:7415', timeoutMs: 5000 });",
          'export async function nameOnCard(): Promise<string> {',
          '  try {',
          '    const card: CardRecord = await client.readCard();',
          "    return card.name ?? '';",
          '  } catch (e) {',
          '    if (e instanceof KavenorError) return e.code;',
          '    throw e;',
          '  }',
          '}',
          '// @ts-expect-error: a client has no port option',
          'new KavenorClient({ port: 7415 });',
          '',
        ].join('\n'),
        'src/use.cts': [
          "import kavenor = require('kavenor-client');",
          'export const client: kavenor.KavenorClient = new kavenor.KavenorClient();',
          'export const version: string = kavenor.VERSION;',
          '',
        ].join('\n'),
        [`tsconfig.${resolution}.json`]: JSON.stringify({
          compilerOptions: { strict: true, noEmit: true, target: 'es2020', lib: ['es2020', 'dom'], module, moduleResolution: resolution, types: [] },
          files,
        }),
      });
      const run = spawnSync(bin('tsc'), ['-p', `tsconfig.${resolution}.json`], { cwd: project, encoding: 'utf8' });
      assert.equal(run.status, 0, run.stdout + run.stderr);
    });
  }

  describe('bundled by Vite', () => {
    let browser;
    let program;
    let site;
    before(async () => {
      writeFiles(project, {
        'index.html': '<!doctype html><meta charset="utf-8"><title>counter</title><p id="out"></p><script type="module" src="/main.js"></script>\n',
        'main.js': [
          "import { KavenorClient } from 'kavenor-client';",
          "const out = document.getElementById('out');",
          "const client = new KavenorClient({ url: new URLSearchParams(location.search).get('service') });",
          'client.readCard().then(',
          '  (card) => { out.textContent = `${card.name} ${card.idNumber}`; out.dataset.done = "card"; },',
          '  (e) => { out.textContent = e.code; out.dataset.done = "error"; });',
          '',
        ].join('\n'),
      });
      execFileSync(bin('vite'), ['build', '--logLevel', 'error'], { cwd: project, stdio: ['ignore', 'ignore', 'inherit'] });
      site = await serveFolder(join(project, 'dist'));
      program = await startProgram({ model: 0, security: { AllowedOrigins: site.origin, AskOperator: 0 }, scenarios: { ORV5U: { ports: '1' } } });
      browser = await launchBrowser();
    });
    after(async () => {
      await browser?.close();
      await program?.stop();
      await site?.close();
    });

    it('vite build succeeds and the built page reads the demo card', async () => {
      const page = await browser.newPage();
      await page.goto(`${site.origin}/?service=${encodeURIComponent(program.wsUrl)}`);
      await page.waitForSelector('#out[data-done]');
      assert.equal(await page.textContent('#out'), '张三丰 110101199001010000');
      assert.deepEqual(page.errors, []);
      await page.close();
    });

    it('the program tells the same version at /status', async () => {
      const status = await (await fetch(program.baseUrl + 'status', { headers: { Origin: site.origin } })).json();
      assert.deepEqual([status.product, status.version, status.access], ['Kavenor', version, 'allowed']);
    });
  });
});
