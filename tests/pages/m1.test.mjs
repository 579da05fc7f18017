import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { join } from 'node:path';
import { launchBrowser, notice, openConnected, resultFields, run, screenshotDir } from './browser.mjs';
import { startService } from './service.mjs';

const ZEROS = '0'.repeat(32);

describe('idcardM1.html memory-card and bank-card commands', () => {
  let browser;
  let service;
  let page;
  before(async () => {
    browser = await launchBrowser();
    service = await startService({ page: 'idcardM1.html', model: 1 });
    page = await openConnected(browser, service);
  });
  after(async () => {
    await browser?.close();
    await service?.stop();
  });

  const lastCommand = () => service.commands().at(-1);
  async function fill(key, block, data) {
    await page.fill('#m1Key', key);
    await page.fill('#m1Block', block);
    await page.fill('#m1Data', data);
  }

  it('builds the block commands from the default fields', async () => {
    await run(page, '7');
    assert.equal(lastCommand(), '7?Key=ffffffffffff|Block=4');
    await run(page, '8');
    assert.equal(lastCommand(), `8?Key=ffffffffffff|Block=4|WriteBuf=${ZEROS}`);
    assert.match((await notice(page)).headline, /^第 4 块已写入/);
  });

  it('writes a block and reads it back, fields typed with spaces', async () => {
    await fill('A0 A1 A2 A3 A4 A5', ' 012 ', '00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff');
    await run(page, '8');
    // The client writes the hex digits in lower case.
    assert.equal(lastCommand(), '8?Key=a0a1a2a3a4a5|Block=12|WriteBuf=00112233445566778899aabbccddeeff');
    const shown = await run(page, '7');
    assert.equal(lastCommand(), '7?Key=a0a1a2a3a4a5|Block=12');
    assert.match(shown.headline, /^第 12 块已读出/);
    const fields = await resultFields(page);
    assert.equal(fields.cardId, '04 03 02 01（十六进制 04030201，十进制 67305985）');
    assert.equal(fields.data, '00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff');
    assert.equal(fields.text, '··"3DUfw········');
    await page.screenshot({ path: join(screenshotDir(), 'idcardM1-block.png'), fullPage: true });
  });

  // [field, bad value, command it would have gone with]
  const BAD_INPUT = [
    ['#m1Key', 'fffffffffff', '7'],
    ['#m1Key', 'gggggggggggg', '8'],
    ['#m1Block', '256', '7'],
    ['#m1Block', '-1', '8'],
    ['#m1Data', ZEROS.slice(1), '8'],
  ];
  // What the result and raw reply panels show, to tell an old result from none.
  const shownResult = () => page.evaluate(() => ({
    rows: document.querySelectorAll('#result tr').length,
    raw: document.querySelector('#raw').textContent,
    copy: !document.querySelector('#copyRaw').disabled,
  }));

  // A block read, so that there is a result that must not outlive the next command.
  async function readBlockFirst() {
    await fill('ffffffffffff', '4', ZEROS);
    assert.equal((await run(page, '7')).kind, 'ok');
    const shown = await shownResult();
    assert.ok(shown.rows > 0 && shown.raw !== '' && shown.copy, 'the block read is shown');
  }

  for (const [field, value, code] of BAD_INPUT) {
    it(`refuses ${field} = "${value}" without sending, and clears the last result`, async () => {
      await readBlockFirst();
      await page.fill(field, value);
      const before = service.commands().length;
      const shown = await run(page, code);
      assert.equal(shown.kind, 'error');
      assert.equal(shown.headline, '输入有误');
      assert.ok(shown.explain !== '', 'the error says what is wrong');
      assert.equal(service.commands().length, before);
      assert.deepEqual(await shownResult(), { rows: 0, raw: '', copy: false });
      assert.match(await page.textContent('#rawMeta'), /没有发送命令/);
    });
  }

  it('asks before writing a sector trailer; a cancelled write shows only that', async () => {
    await readBlockFirst();
    await fill('ffffffffffff', '7', ZEROS);
    const before = service.commands().length;
    page.once('dialog', (dialog) => dialog.dismiss());
    await page.click('button[data-code="8"]');
    await page.waitForFunction(() => document.querySelector('#notice').dataset.kind === 'warn');
    assert.equal(service.commands().length, before);
    assert.equal(await page.isEnabled('button[data-code="8"]'), true);
    const shown = await notice(page);
    assert.equal(shown.headline, '已取消写入');
    assert.match(shown.explain, /第 7 块.*没有写入/);
    assert.deepEqual(await shownResult(), { rows: 0, raw: '', copy: false });
    await page.screenshot({ path: join(screenshotDir(), 'idcardM1-cancelled.png'), fullPage: true });

    page.once('dialog', (dialog) => dialog.accept());
    await run(page, '8');
    assert.equal(lastCommand(), `8?Key=ffffffffffff|Block=7|WriteBuf=${ZEROS}`);
  });

  it('shows the card request and the bank-card number', async () => {
    await run(page, '6');
    assert.equal(lastCommand(), '6');
    const card = await resultFields(page);
    assert.equal(card.request, '04 00');
    assert.match(card.cardId, /^04 03 02 01/);

    await run(page, '9');
    assert.deepEqual(await resultFields(page), { cardNumber: '6222 0202 0011 2233 445', extra: '01' });
    assert.deepEqual(page.errors, []);
  });
});
