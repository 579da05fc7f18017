// Every HTML and JavaScript example of docs/web-developers.md, taken from the guide as it stands and
// run in Chromium against the real program with its demo card, so that the guide cannot drift from
// the library. A page of a development server (http://localhost:5173) holds the example; the
// service's usual address (127.0.0.1:7415) is routed to the program. A comment "// → text" in an
// example names what it shows (on the page or in the console); "<!-- example: ... -->" before one
// names the reader (ORV5A) or "no card".
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { after, before, describe, it } from 'node:test';
import { launchBrowser } from '../pages/browser.mjs';
import { NodeWebSocket, ON_PORT_1, packageDir, sleep, startProgram } from './support.mjs';

const GUIDE = new URL('../../docs/web-developers.md', import.meta.url);
const PAGE = 'http://localhost:5173';
const SERVICE = '127.0.0.1:7415';
// A page script has no end to wait for: should the example's promise never settle, this ends the test.
const HANG_GUARD_MS = 120000;

// [{ language, code, hint, line }] of every ```html and ```js block.
function examples() {
  const lines = readFileSync(GUIDE, 'utf8').split('\n');
  const found = [];
  for (let i = 0; i < lines.length; i++) {
    const fence = /^```(html|js)$/.exec(lines[i]);
    if (!fence) continue;
    const end = lines.indexOf('```', i + 1);
    const hint = /^<!-- example: (.*) -->$/.exec(lines[i - 1] ?? '');
    found.push({ language: fence[1], code: lines.slice(i + 1, end).join('\n'), hint: hint ? hint[1] : '', line: i + 1 });
    i = end;
  }
  return found;
}

function pageOf({ language, code }) {
  if (language === 'html') return code;
  const imports = JSON.stringify({ imports: { 'kavenor-client': '/kavenor-client.mjs' } });
  // What follows the example's code runs once its last await is over: then all it shows is shown.
  return `<!doctype html><meta charset="utf-8"><script type="importmap">${imports}</script>\n<script type="module">\n${code}\n`
    + ';document.documentElement.dataset.exampleDone = "yes";\n</script>\n';
}

// Sends the page's WebSocket to the program: what a connection to the usual address would reach.
function forward(route, program) {
  const server = new NodeWebSocket(program.wsUrl);
  const early = [];
  server.onopen = () => { for (const message of early.splice(0)) server.send(message); };
  server.onmessage = (event) => route.send(event.data);
  server.onclose = (event) => route.close({ code: event.code === 1005 ? 1000 : event.code, reason: event.reason });
  route.onMessage((message) => (server.open ? server.send(message) : early.push(message)));
  route.onClose(() => server.close());
}

const LIBRARY = {
  '/kavenor-client.js': readFileSync(packageDir + 'dist/kavenor-client.js', 'utf8'),
  '/kavenor-client.mjs': readFileSync(packageDir + 'dist/kavenor-client.mjs', 'utf8'),
};

describe('the examples of the developers\' guide', () => {
  let browser;
  const programs = new Map();
  before(async () => { browser = await launchBrowser(); });
  after(async () => {
    await browser?.close();
    for (const program of programs.values()) await program.stop();
  });

  // One program per reader and card the examples ask for.
  async function programFor(hint) {
    const model = hint.includes('ORV5A') ? 1 : 0;
    const noCard = hint.includes('no card');
    const key = `${model} ${noCard}`;
    if (!programs.has(key)) {
      const folder = model === 1 ? 'ORV5A' : 'ORV5U';
      programs.set(key, await startProgram({ model, security: { AllowedOrigins: '*' },
        scenarios: { [folder]: noCard ? { ...ON_PORT_1, card: 0 } : ON_PORT_1 } }));
    }
    return programs.get(key);
  }

  const all = examples();
  it('the guide has its examples', () => {
    assert.ok(all.length >= 7, `${all.length} examples`);
    assert.ok(all.every((example) => /\/\/ → /.test(example.code)), 'each names what it shows');
  });

  for (const example of all) {
    it(`line ${example.line} (${example.language}${example.hint ? ', ' + example.hint : ''}) runs and shows what it says`, { timeout: HANG_GUARD_MS }, async () => {
      const program = await programFor(example.hint);
      const page = await browser.newPage();
      const said = [];
      const dialogs = [];
      page.on('console', (message) => said.push(message.text()));
      page.on('dialog', (dialog) => { dialogs.push(dialog.message()); dialog.dismiss(); });
      await page.route(`${PAGE}/**`, (route) => {
        const path = new URL(route.request().url()).pathname;
        if (LIBRARY[path]) return route.fulfill({ contentType: 'text/javascript', body: LIBRARY[path] });
        return route.fulfill({ contentType: 'text/html; charset=utf-8', body: pageOf(example) });
      });
      await page.route(`http://${SERVICE}/**`, async (route) => {
        const url = new URL(route.request().url());
        await route.fulfill({ response: await route.fetch({ url: program.baseUrl + url.pathname.slice(1) + url.search }) });
      });
      await page.routeWebSocket(`ws://${SERVICE}/`, (route) => forward(route, program));
      await page.goto(PAGE + '/');
      const expected = [...example.code.matchAll(/\/\/ → (.+)$/gm)].map((m) => m[1].trim());
      const shown = async () => said.join('\n') + '\n' + await page.evaluate(() => document.body.innerText);
      for (;;) {
        assert.deepEqual([page.errors.map(String), dialogs], [[], []], `line ${example.line}`);
        const done = await page.evaluate(() => document.documentElement.dataset.exampleDone === 'yes');
        const text = await shown();
        const missing = expected.filter((words) => !text.includes(words));
        if (!missing.length) break;
        assert.ok(!done, `line ${example.line} ended without showing ${JSON.stringify(missing)}:\n${text}`);
        await sleep(50);
      }
      await page.close();
    });
  }
});
