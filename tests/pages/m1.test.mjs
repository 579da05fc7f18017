import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { join } from 'node:path';
import { launchBrowser, notice, openConnected, resultFields, run, screenshotDir } from './browser.mjs';
import { startProgram } from './real_program.mjs';

const ZEROS = '0'.repeat(32);
// The card: its own key on block 12, the others the transport key ffffffffffff; a bank card too.
const READER = { ports: '1', 'm1.key.12': 'a0a1a2a3a4a5', 'bank.number': '6222020200112233445', 'bank.second': '01' };

describe('idcardM1.html memory-card and bank-card commands', () => {
  let browser;
  let program;
  let page;
  before(async () => {
    browser = await launchBrowser();
    program = await startProgram({ model: 1, scenarios: { ORV5A: READER } });
    page = await openConnected(browser, program);
  });
  after(async () => {
    await browser?.close();
    await program?.stop();
  });

  // The last command as the program logged it (it hides keys and block data), and the last
  // memory-card call that reached the reader, with its arguments.
  const lastCommand = () => program.commands().at(-1);
  const lastCardCall = () => {
    const { entry, args } = program.calls('ORV5A').filter((call) => call.entry.startsWith('ORV_M1_')).at(-1);
    return `${entry} ${args}`;
  };
  async function fill(key, block, data) {
    await page.fill('#m1Key', key);
    await page.fill('#m1Block', block);
    await page.fill('#m1Data', data);
  }

  it('builds the block commands from the default fields', async () => {
    await run(page, '7');
    assert.equal(lastCommand(), '7?Key=***|Block=4');
    assert.equal(lastCardCall(), 'ORV_M1_Read mode=0 block=4 key=ffffffffffff');
    await run(page, '8');
    assert.equal(lastCommand(), '8?Key=***|Block=4|WriteBuf=***');
    assert.equal(lastCardCall(), `ORV_M1_Write mode=0 block=4 key=ffffffffffff data=${ZEROS}`);
    assert.match((await notice(page)).headline, /^第 4 块已写入/);
  });

  it('writes a block and reads it back, fields typed with spaces', async () => {
    await fill('A0 A1 A2 A3 A4 A5', ' 012 ', '00 11 22 33 44 55 66 77 88 99 aa bb cc dd ee ff');
    assert.match((await run(page, '8')).headline, /^第 12 块已写入/);
    assert.equal(lastCardCall(), 'ORV_M1_Write mode=0 block=12 key=a0a1a2a3a4a5 data=00112233445566778899aabbccddeeff');
    const shown = await run(page, '7');
    assert.equal(lastCardCall(), 'ORV_M1_Read mode=0 block=12 key=a0a1a2a3a4a5');
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
      const before = program.commands().length;
      const shown = await run(page, code);
      assert.equal(shown.kind, 'error');
      assert.equal(shown.headline, '输入有误');
      assert.ok(shown.explain !== '', 'the error says what is wrong');
      assert.equal(program.commands().length, before);
      assert.deepEqual(await shownResult(), { rows: 0, raw: '', copy: false });
      assert.match(await page.textContent('#rawMeta'), /没有发送命令/);
    });
  }

  it('asks before writing a sector trailer; a cancelled write shows only that', async () => {
    await readBlockFirst();
    await fill('ffffffffffff', '7', ZEROS);
    const before = program.commands().length;
    page.once('dialog', (dialog) => dialog.dismiss());
    await page.click('button[data-code="8"]');
    await page.waitForFunction(() => document.querySelector('#notice').dataset.kind === 'warn');
    assert.equal(program.commands().length, before);
    assert.equal(await page.isEnabled('button[data-code="8"]'), true);
    const shown = await notice(page);
    assert.equal(shown.headline, '已取消写入');
    assert.match(shown.explain, /第 7 块.*没有写入/);
    assert.deepEqual(await shownResult(), { rows: 0, raw: '', copy: false });
    await page.screenshot({ path: join(screenshotDir(), 'idcardM1-cancelled.png'), fullPage: true });

    page.once('dialog', (dialog) => dialog.accept());
    await run(page, '8');
    assert.equal(lastCardCall(), `ORV_M1_Write mode=0 block=7 key=ffffffffffff data=${ZEROS}`);
  });

  it('shows the card request and the bank-card number', async () => {
    await run(page, '6');
    assert.equal(lastCommand(), '6');
    assert.equal(lastCardCall(), 'ORV_M1_Request mode=0');
    const card = await resultFields(page);
    assert.equal(card.request, '04 00');
    assert.match(card.cardId, /^04 03 02 01/);

    await run(page, '9');
    assert.deepEqual(await resultFields(page), { cardNumber: '6222 0202 0011 2233 445', extra: '01' });
    assert.deepEqual(page.errors, []);
  });
});
