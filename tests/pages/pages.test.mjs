import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { imageWidths, launchBrowser, notice, openConnected, resultFields, run, screenshotDir } from './browser.mjs';
import { pagesDir, startService } from './service.mjs';

const PAGES = [
  { file: '03_idcard.html', model: 0, codes: ['2', '3', '4', '5'],
    expect: { tag: 'ORV5U', device: '大厅1', label: '身份证', name: '李明华', issues: '—' }, images: ['photo', 'front', 'back'] },
  { file: 'idcardM1.html', model: 1, codes: ['2', '3', '4', '6', '7', '8', '9'],
    expect: { tag: 'ORV-5A', device: '—', label: '身份证', name: '李明华', passNumber: '—' }, images: ['photo'] },
  { file: 'NFC_idcard.html', model: 3, codes: ['2', '3', '4'],
    expect: { tag: 'ORV-5U-HID', label: '港澳台居住证（J）', name: '陈嘉欣', issues: '1', passNumber: 'H10293847' },
    images: ['photo'] },
];

describe('test pages', () => {
  let browser;
  before(async () => { browser = await launchBrowser(); });
  after(async () => { await browser?.close(); });

  for (const target of PAGES) {
    describe(target.file, () => {
      let service;
      before(async () => { service = await startService({ page: target.file, model: target.model }); });
      after(async () => { await service?.stop(); });

      it('loads, connects to its own host and port, and offers its commands', async () => {
        const page = await openConnected(browser, service);
        assert.equal(await page.inputValue('#serviceUrl'), `ws://127.0.0.1:${service.port}`);
        assert.equal(await page.textContent('#connState'), '已连接');
        assert.match(await page.title(), /读卡测试/);   // the page's own charset declaration was honoured
        const codes = await page.$$eval('button[data-code]', (buttons) => buttons.map((b) => b.dataset.code).sort());
        assert.deepEqual(codes, target.codes);
        assert.equal(service.connections(), 1);
        assert.deepEqual(page.errors, []);
        await page.close();
      });

      it('reads a card into a labelled table and renders its images', async () => {
        const page = await openConnected(browser, service);
        const shown = await run(page, '3');
        assert.equal(shown.kind, 'ok', shown.headline);
        const fields = await resultFields(page);
        const rows = await page.$$eval('#result tr', (trs) => Object.fromEntries(
          trs.map((tr) => [tr.cells[0].textContent, tr.cells[1].textContent])));
        assert.equal(rows['型号标记'], target.expect.tag);
        if ('device' in target.expect) assert.equal(rows['设备名称'], target.expect.device);
        for (const [key, text] of Object.entries(target.expect)) {
          if (key !== 'tag' && key !== 'device') assert.equal(fields[key], text, key);
        }
        assert.match(fields.fingerprint, /^有（1024 字节/);
        const widths = await imageWidths(page);
        assert.deepEqual(Object.keys(widths).sort(), target.images.slice().sort());
        for (const key of target.images) assert.ok(widths[key] > 0, `${key} rendered`);
        assert.match(await page.textContent('#raw'), /［Base64，共 51816 字符］/);
        await page.screenshot({ path: join(screenshotDir(), target.file.replace('.html', '.png')), fullPage: true });
        assert.deepEqual(page.errors, []);
        await page.close();
      });
    });
  }

  it('reconnects when the button is pressed, never by itself', async () => {
    const first = await startService({ page: '03_idcard.html' });
    let second;
    let page;
    try {
      page = await openConnected(browser, first);
      await first.stop();
      await page.waitForSelector('#connState[data-state="closed"]');
      assert.equal(await page.textContent('#connState'), '连接已断开');
      assert.equal(await page.isDisabled('button[data-code="3"]'), true);

      second = await startService({ page: '03_idcard.html', port: first.port });
      await page.waitForTimeout(1000);
      assert.equal(second.connections(), 0, 'no connection attempt without the button');
      await page.click('#reconnect');
      await page.waitForSelector('#connState[data-state="open"]');
      assert.equal((await run(page, '3')).kind, 'ok');
      assert.equal(second.connections(), 1);
    } finally {
      await page?.close();
      await first.stop();
      await second?.stop();
    }
  });

  it('opened from a file, talks to the service at 127.0.0.1:7415', async () => {
    const page = await browser.newPage();
    const sent = [];
    // Stands in for the service on the default port, so nothing real is touched.
    await page.routeWebSocket(/^ws:\/\/127\.0\.0\.1:7415\/?$/, (ws) => {
      ws.onMessage((message) => { sent.push(message); ws.send('卡认证失败'); });
    });
    await page.goto(pathToFileURL(join(pagesDir(), 'NFC_idcard.html')).href);
    await page.waitForSelector('#connState[data-state="open"]');
    assert.equal(await page.inputValue('#serviceUrl'), 'ws://127.0.0.1:7415');
    const shown = await run(page, '4');
    assert.deepEqual(sent, ['4']);
    assert.equal(shown.kind, 'error');
    assert.match(shown.headline, /卡认证失败/);
    await page.close();
  });
});
