import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { join } from 'node:path';
import { imageWidths, launchBrowser, openConnected, openFromFile, resultFields, run, screenshotDir } from './browser.mjs';
import { startProgram } from './real_program.mjs';

// A reader on the port every driver tries first, so that no read scans for it.
const ON_PORT_1 = { ports: '1' };

// program: the one whose page this is (the page follows its model); reader: where the card read
// comes from when that program reads none, with the page opened from its file.
const PAGES = [
  { file: '03_idcard.html', program: { model: 0, scenarios: { ORV5U: { ...ON_PORT_1, GetPeopleNameU: '李明华' } } },
    codes: ['2', '3', '4', '5'],
    expect: { tag: 'ORV5U', device: '大厅1', label: '身份证', name: '李明华' }, images: ['photo', 'front', 'back'] },
  { file: 'idcardM1.html', program: { model: 1, scenarios: { ORV5A: { ...ON_PORT_1, GetPeopleNameU: '李明华' } } },
    codes: ['2', '3', '4', '6', '7', '8', '9'],
    expect: { tag: 'ORV-5A', device: '—', label: '身份证', name: '李明华', passNumber: '—' }, images: ['photo'] },
  // The NFC readers' models (4 and 5) read no identity card in the program.
  { file: 'NFC_idcard.html', program: { model: 4 },
    reader: { model: 3, security: { AllowedOrigins: 'null' }, scenarios: { ORV5ULN: {
      ...ON_PORT_1, GetCertTypeU: 'J', GetPeopleNameU: '陈嘉欣', GetIssuesNumU: 1, GetPassCheckIDU: 'H10293847' } } },
    codes: ['2', '3', '4'],
    expect: { tag: 'ORV-5U-HID', label: '港澳台居住证（J）', name: '陈嘉欣', issues: '1', passNumber: 'H10293847' },
    images: ['photo'] },
];

describe('test pages', () => {
  let browser;
  before(async () => { browser = await launchBrowser(); });
  after(async () => { await browser?.close(); });

  for (const target of PAGES) {
    describe(target.file, () => {
      let program;
      let reader;
      before(async () => {
        program = await startProgram(target.program);
        if (target.reader) reader = await startProgram(target.reader);
      });
      after(async () => {
        await program?.stop();
        await reader?.stop();
      });

      it('loads, connects to its own host and port, and offers its commands', async () => {
        const page = await openConnected(browser, program);
        assert.equal(await page.inputValue('#serviceUrl'), `ws://127.0.0.1:${program.port}`);
        assert.equal(await page.textContent('#connState'), '已连接');
        assert.match(await page.title(), /读卡测试/);   // the page's own charset declaration was honoured
        const codes = await page.$$eval('button[data-code]', (buttons) => buttons.map((b) => b.dataset.code).sort());
        assert.deepEqual(codes, target.codes);
        // The program may write its line a moment after the page has seen the connection open.
        while (program.connections() === 0) await page.waitForTimeout(50);
        assert.equal(program.connections(), 1);
        assert.deepEqual(page.errors, []);
        await page.close();
      });

      it('reads a card into a labelled table and renders its images', async () => {
        const page = reader ? await openFromFile(browser, reader, target.file) : await openConnected(browser, program);
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
        // The reader's 102 × 126 photo, a 24-bit BMP.
        assert.match(await page.textContent('#raw'), /［Base64，共 51816 字符］/);
        await page.screenshot({ path: join(screenshotDir(), target.file.replace('.html', '.png')), fullPage: true });
        assert.deepEqual(page.errors, []);
        await page.close();
      });
    });
  }

  it('reconnects when the button is pressed, never by itself', async () => {
    const first = await startProgram({ model: 0, scenarios: { ORV5U: ON_PORT_1 } });
    let second;
    let page;
    try {
      page = await openConnected(browser, first);
      await first.stop();
      await page.waitForSelector('#connState[data-state="closed"]');
      assert.equal(await page.textContent('#connState'), '连接已断开');
      assert.equal(await page.isDisabled('button[data-code="3"]'), true);

      second = await startProgram({ model: 0, scenarios: { ORV5U: ON_PORT_1 }, port: first.port });
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

  it('opened from a file, talks to 127.0.0.1:7415 until given another address', async () => {
    const program = await startProgram({ model: 3, security: { AllowedOrigins: 'null' }, scenarios: { ORV5ULN: { ...ON_PORT_1, card: 0 } } });
    const atDefault = [];
    let page;
    try {
      page = await openFromFile(browser, program, 'NFC_idcard.html', (ws) => {
        atDefault.push('connected');
        ws.onMessage((message) => atDefault.push(message));
      });
      assert.deepEqual(atDefault, ['connected']);
      assert.match(await page.textContent('#log'), /连接 ws:\/\/127\.0\.0\.1:7415/);
      const shown = await run(page, '4');
      assert.deepEqual(program.commands(), ['4?format=json']);
      assert.deepEqual(atDefault, ['connected'], 'nothing sent to the default address');
      assert.equal(shown.kind, 'error');
      assert.match(shown.headline, /卡认证失败/);
    } finally {
      await page?.close();
      await program.stop();
    }
  });
});
