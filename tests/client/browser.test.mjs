// The client in Chromium: inlined into the page the program serves, imported by a module, and used
// from pages of other sites, where the browser's local network access rules decide.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { launchBrowser } from '../pages/browser.mjs';
import { readFileSync } from 'node:fs';
import { freePort } from '../pages/real_program.mjs';
import { callNames, clientSource, NodeWebSocket, ON_PORT_1, packageDir, startProgram, stubService, until } from './support.mjs';

// Reads the card through the global Kavenor; the picture sizes as the browser decodes them.
function readThroughPage(page, url) {
  return page.evaluate(async (serviceUrl) => {
    const size = (src) => new Promise((done) => {
      const img = Object.assign(new Image(), { src });
      img.onload = () => done([img.naturalWidth, img.naturalHeight]);
    });
    const client = new Kavenor.KavenorClient(serviceUrl ? { url: serviceUrl } : {});
    try {
      const card = await client.readCard();
      const sam = await client.readSecurityModuleNumber();
      return { url: client.url, name: card.name, photo: await size(card.photo), back: await size(card.cardBack), sam: sam.number };
    } catch (e) {
      return { code: e.code, reason: e.reason, en: e.meaning?.en, isKavenorError: e instanceof Kavenor.KavenorError };
    } finally {
      client.close();
    }
  }, url ?? null);
}

describe('the client in Chromium', () => {
  let browser;
  let program;
  before(async () => {
    browser = await launchBrowser();
    program = await startProgram({ model: 0, security: { AllowedOrigins: 'https://allowed.example.com' }, scenarios: { ORV5U: ON_PORT_1 } });
  });
  after(async () => {
    await browser?.close();
    await program?.stop();
  });

  for (const how of ['inlined', 'imported as an ES module']) {
    it(`${how} into the page the program serves, it reads the demo card from the address it is given`, async () => {
      const page = await browser.newPage();
      await page.route(program.baseUrl + 'kavenor-client.mjs', (route) => route.fulfill({ contentType: 'text/javascript',
        body: readFileSync(packageDir + 'dist/kavenor-client.mjs', 'utf8') }));
      await page.goto(program.baseUrl);
      if (how === 'inlined') await page.addScriptTag({ content: clientSource() });
      else await page.addScriptTag({ type: 'module', content: "import * as Kavenor from './kavenor-client.mjs'; window.Kavenor = Kavenor;" });
      await page.waitForFunction(() => typeof globalThis.Kavenor?.KavenorClient === 'function');
      assert.deepEqual(await readThroughPage(page, program.wsUrl), { url: program.wsUrl, name: '张三丰', photo: [102, 126], back: [428, 270],
        sam: '05.01-00002019-0000123456-0000000007' });
      assert.deepEqual(page.errors, []);
      await page.close();
    });
  }

  // origin, permission granted (Chromium grants it to secure origins only), reasons accepted (null: the card is read)
  const ORIGINS = [
    ['http://counter.example.com', false, ['INSECURE_PAGE']],
    // Headless Chromium answers the prompt itself.
    ['https://counter.example.com', false, ['LOCAL_NETWORK_DENIED', 'LOCAL_NETWORK_NOT_ALLOWED']],
    ['https://allowed.example.com', true, null],
    // The browser lets it through; the service does not: its /status says so, with the origin to add.
    ['https://other.example.com', true, ['ORIGIN_NOT_ALLOWED']],
  ];
  for (const [origin, granted, reasons] of ORIGINS) {
    it(`a page of ${origin}, local network access ${granted ? '' : 'not '}granted: ${reasons ?? 'the card is read'}`, async () => {
      if (granted) await browser.context.grantPermissions(['local-network-access'], { origin });
      const page = await browser.newPage();
      await page.route(origin + '/**', (route) => route.fulfill({ contentType: 'text/html', body: '<!doctype html><title>counter</title>' }));
      await page.goto(origin + '/counter');
      await page.addScriptTag({ content: clientSource() });
      assert.equal(await page.evaluate(() => new Kavenor.KavenorClient().url), 'ws://127.0.0.1:7415');
      const shown = await readThroughPage(page, program.wsUrl);
      if (reasons) assert.ok(shown.code === 'CONNECTION_FAILED' && shown.isKavenorError && reasons.includes(shown.reason), JSON.stringify(shown));
      else assert.equal(shown.name, '张三丰', JSON.stringify(shown));
      if (shown.reason === 'ORIGIN_NOT_ALLOWED') assert.ok(shown.en.includes(`add ${origin} to [Security] AllowedOrigins`), shown.en);
      assert.deepEqual(page.errors, []);
      await page.close();
      await browser.context.clearPermissions();
    });
  }
});

// The errors that say why a call failed, as a page of an allowed site meets them.
describe('why a call failed, in Chromium', () => {
  const SITE = 'https://counter.example.com';
  const OTHER = 'https://other.example.com';
  let browser;
  let program;
  let page;
  before(async () => {
    browser = await launchBrowser();
    program = await startProgram({ model: 0, security: { AllowedOrigins: `${SITE},${OTHER}`, AskOperator: 0 },
      scenarios: { ORV5U: { ...ON_PORT_1, 'delay.ORV_GetSAMID': 2000 } } });
    await browser.context.grantPermissions(['local-network-access'], { origin: SITE });
    page = await browser.newPage();
    await page.route(SITE + '/**', (route) => route.fulfill({ contentType: 'text/html', body: '<!doctype html><title>counter</title>' }));
    await page.goto(SITE + '/counter');
    await page.addScriptTag({ content: clientSource() });
  });
  after(async () => {
    await browser?.close();
    await program?.stop();
  });

  // Runs `call` (a method and its arguments) on a client of `url` in the page; the error's code and more.
  const failure = (url, method, args) => page.evaluate(async ([serviceUrl, name, params]) => {
    const client = new Kavenor.KavenorClient({ url: serviceUrl, timeoutMs: 300 });
    try {
      await client[name](...params);
      return { code: 'none' };
    } catch (e) {
      const told = { code: e.code, reason: e.reason, busy: e.busy, requiresUpdate: e.requiresUpdate, isKavenorError: e instanceof Kavenor.KavenorError };
      return Object.fromEntries(Object.entries(told).filter(([, value]) => value !== null && value !== undefined));
    } finally {
      client.close();
    }
  }, [url, method, args]);

  it('a stopped service: CONNECTION_FAILED, not reachable', async () => {
    assert.deepEqual(await failure(`ws://127.0.0.1:${await freePort()}`, 'readCard', []),
      { code: 'CONNECTION_FAILED', reason: 'SERVICE_UNREACHABLE', isKavenorError: true });
  });

  it('an unknown command: UNKNOWN_COMMAND, nothing sent', async () => {
    assert.deepEqual(await failure(program.wsUrl, 'sendCommand', ['hello']), { code: 'UNKNOWN_COMMAND', isKavenorError: true });
  });

  it('behind a page of another site: SERVICE_BUSY', async () => {
    const reads = () => callNames(program, 'ORV5U').filter((name) => name === 'ORV_GetSAMID').length;
    const before = reads();
    const other = new NodeWebSocket(program.wsUrl, undefined, OTHER);
    other.onopen = () => other.send('5');
    const answered = new Promise((done) => { other.onmessage = done; });
    await until(() => reads() > before);
    assert.deepEqual(await failure(program.wsUrl, 'readCard', []),
      { code: 'SERVICE_BUSY', busy: { running: true, waiting: 0 }, isKavenorError: true });
    await answered;
    other.close();
  });

  it('a service too old for the library: VERSION_MISMATCH, the service to update', async () => {
    const stub = await stubService({ status: { version: '1.0.0' } });
    try {
      assert.deepEqual(await failure(stub.url, 'readCard', []),
        { code: 'VERSION_MISMATCH', requiresUpdate: { service: true, library: false }, isKavenorError: true });
    } finally {
      stub.close();
    }
  });
});
