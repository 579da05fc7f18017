import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { imageWidths, launchBrowser, notice, openConnected, run, withProgram } from './browser.mjs';
import { startProgram } from './real_program.mjs';
import { errorForReply } from '../../build/linux/kavenor-client/dist/kavenor-client.mjs';

// The SDK folder of each model's reader, and a reader on the port every driver tries first.
const FOLDER = { 0: 'ORV5U', 1: 'ORV5A', 3: 'ORV5ULN', 7: 'ORV5A' };
const ON_PORT_1 = { ports: '1' };
const CARD = { ...ON_PORT_1, GetPeopleNameU: '张三' };

// Programs by name, started when a test first asks for one, each with its page; stopped at the end.
function programs(options) {
  const started = {};
  return {
    async page(browser, name) {
      started[name] ??= (async () => {
        const program = await startProgram(options[name]);
        return { program, folder: FOLDER[options[name].model], page: await openConnected(browser, program) };
      })();
      return started[name];
    },
    async stop() {
      for (const entry of Object.values(started)) {
        const { program, page } = await entry.catch(() => ({}));
        await page?.close();
        await program?.stop();
      }
    },
  };
}

// The last reply the page got, whole (the page's own variable).
const replyOf = (page) => page.evaluate(() => lastReply);

// [model (its page), code, lines of its reader's scenario, reply, notice kind, words the explanation must hold]
// Not here, as the program never sends them to a page: "输入参数有误" (the page's client refuses a key,
// block or data it would not take before sending) and "设备无法获取安全模块号" (only 03_idcard.html asks,
// and it is the page of the two models that do have the module number).
const FAILURES = [
  [1, '3', { ports: '' }, '连接设备失败', 'error', 'USB 线'],
  [1, '4', { card: 0 }, '卡认证失败', 'error', '平放在读卡区'],
  [1, '3', { 'result.ORV_Read_FPContent': 0 }, '读卡失败', 'error', '放稳'],
  [1, '6', { card: 0 }, 'M1卡认证失败', 'error', '没有找到 M1 卡'],
  // The card's key is not the page's ffffffffffff.
  [1, '7', { 'm1.key': '000000000000' }, '读M1卡失败', 'error', '不允许读'],
  [1, '8', { 'm1.key': '000000000000' }, '写M1卡失败', 'error', '不允许写'],
  [1, '9', { card: 0 }, '读金融卡失败', 'error', '银行卡'],
  // A model outside the list reads neither an identity card nor a bank card.
  [7, '9', {}, '设备无此功能', 'error', '不支持这项操作'],
  [7, '3', {}, '', 'warn', '不提供这项读取'],
  [0, '5', { sam: '5-1-2019' }, '获取安全模块号失败', 'error', '格式不对'],
  [3, '5', { 'result.ORV_GetCompleteSAMID': 0 }, '', 'warn', '安全模块记录'],
];

describe('replies', () => {
  let browser;
  before(async () => { browser = await launchBrowser(); });
  after(async () => {
    await readers.stop();
    await browser?.close();
  });

  for (const model of new Set(FAILURES.map(([m]) => m))) {
    it(`the page of model ${model} explains every failure text`, async () => {
      await withProgram(browser, { model, scenarios: { [FOLDER[model]]: ON_PORT_1 } }, async (page, program) => {
        for (const [, code, lines, reply, kind, words] of FAILURES.filter(([m]) => m === model)) {
          program.setScenario(FOLDER[model], { ...ON_PORT_1, ...lines });
          const shown = await run(page, code);
          const what = `${code} with ${JSON.stringify(lines)} → "${reply}"`;
          assert.equal(await replyOf(page), reply, what);
          assert.equal(shown.kind, kind, what);
          assert.ok(shown.headline.includes(reply === '' ? '回复为空' : reply), `${what}: ${shown.headline}`);
          assert.ok(shown.explain.includes(words), `${what}: ${shown.explain}`);
          // The page explains a failure in the client library's words, never in words of its own.
          assert.equal(shown.explain, errorForReply(reply, code).meaning.zh, what);
          assert.equal(await page.textContent('#raw'), reply === '' ? '（空回复）' : reply);
        }
        assert.deepEqual(page.errors, []);
      });
    });
  }

  describe('waiting read', () => {
    it('counts down while code 2 is outstanding, with the buttons held', async () => {
      const scenarios = { ORV5U: { ...ON_PORT_1, card: 0 } };
      await withProgram(browser, { model: 0, scenarios }, async (page, program) => {
        await page.fill('#timeout', '60000');
        await page.click('button[data-code="2"]');
        await page.waitForSelector('#countdown:not([hidden])');
        const first = await page.textContent('#countdownText');
        await page.waitForTimeout(400);
        const later = await page.textContent('#countdownText');
        const seconds = (text) => Number(/^剩余 (\d+\.\d) 秒$/.exec(text)?.[1]);
        assert.ok(seconds(first) <= 60 && seconds(later) < seconds(first), `${first} then ${later}`);
        const held = await page.$$eval('button[data-code], #reconnect', (buttons) => buttons.every((b) => b.disabled));
        assert.ok(held, 'every button is disabled while the command is outstanding');

        // The card is placed: the next attempt reads it.
        program.setScenario('ORV5U', CARD);
        await page.waitForFunction(() => document.querySelector('#notice').dataset.kind !== 'busy');
        assert.equal((await notice(page)).kind, 'ok');
        assert.equal(await page.isHidden('#countdown'), true);
        assert.equal(await page.isEnabled('button[data-code="3"]'), true);
        assert.deepEqual(program.commands(), ['2?timeout=60000|format=json']);
      });
    });

    it('explains an expired wait, and refuses a time-out that is not a number', async () => {
      // The NFC page's models read no identity card: the wait always runs out.
      await withProgram(browser, { model: 4 }, async (page, program) => {
        assert.match(await page.title(), /NFC/);
        await page.fill('#timeout', '800');
        const shown = await run(page, '2');
        assert.equal(shown.kind, 'error');
        assert.match(shown.headline, /读卡失败/);
        assert.match(shown.explain, /等待时间内没有读到证件/);

        await page.fill('#timeout', '十秒');
        const refused = await run(page, '2');
        assert.equal(refused.kind, 'error');
        assert.match(refused.explain, /毫秒数/);
        assert.deepEqual(program.commands(), ['2?timeout=800|format=json']);
      });
    });
  });

  // The readers the card records come from.
  const readers = programs({
    ORV5U: { model: 0, deviceName: '一楼|窗口2', scenarios: { ORV5U: CARD } },
    ORV5A: { model: 1, scenarios: { ORV5A: CARD } },
    // An SDK without GetEndDateU: neither date is asked for.
    'ORV5U-LN without GetEndDateU': { model: 3, sdk: { ORV5ULN: 'no_GetEndDateU' }, scenarios: { ORV5ULN: CARD } },
    'ORV5U without GetCertTypeU': { model: 0, sdk: { ORV5U: 'no_GetCertTypeU' }, scenarios: { ORV5U: CARD } },
  });
  // Reads a card on the named reader with these scenario lines; returns its page.
  async function read(name, code, lines = {}) {
    const { program, folder, page } = await readers.page(browser, name);
    program.setScenario(folder, { ...CARD, ...lines });
    return { page, shown: await run(page, code) };
  }

  describe('card layouts', () => {
    it('shows a name holding the separator as it is, every field in its place', async () => {
      const { page, shown } = await read('ORV5U', '3', { GetPeopleNameU: '张|三' });
      assert.equal(shown.kind, 'ok');
      assert.match(shown.headline, /^读卡成功：张\|三/);
      const fields = await page.$$eval('#result tbody:not(.prefix) tr', (trs) => Object.fromEntries(
        trs.map((tr) => [tr.dataset.field, tr.cells[1].textContent])));
      assert.deepEqual([fields.name, fields.sex, fields.idNumber], ['张|三', '男', '110101199001010000']);
      assert.deepEqual(Object.keys(await imageWidths(page)).sort(), ['back', 'front', 'photo']);
      assert.ok((await imageWidths(page)).photo > 0);
    });

    it('shows a record without certificate type as such', async () => {
      const { page, shown } = await read('ORV5U without GetCertTypeU', '3');
      assert.equal(shown.kind, 'warn');
      assert.match(shown.headline, /GetCertTypeU/);
      const rows = await page.$$eval('#result tr', (trs) => trs.map((tr) => [tr.cells[0].textContent, tr.cells[1].textContent]));
      assert.deepEqual(rows, [['型号标记', 'ORV5U'], ['设备名称', '大厅1'], ['证件记录', 'ORV_GetCertTypeU函数找不到']]);
    });

    it('does not mistake a reply of no known form for data', async () => {
      // A security-module text holding the separator.
      const { page, shown } = await read('ORV5U', '5', { sam: '5-1-2019-123456-7|8' });
      assert.equal(await replyOf(page), '05.01-00002019-0000123456-00000007|8');
      assert.equal(shown.kind, 'warn');
      assert.match(shown.headline, /回复无法识别/);
      assert.deepEqual(page.errors, []);
    });

    it('shortens long Base64 for display, keeping its length', async () => {
      const { page } = await read('ORV5U', '3');
      const reply = await replyOf(page);
      const record = JSON.parse(reply);
      // The fingerprint (1024 bytes), the photo and the two card images.
      const long = ['fingerprint', 'photo', 'cardFront', 'cardBack'].map((key) => record[key]);
      assert.deepEqual(long.map((value) => value.length).slice(0, 2), [1368, 51816]);
      let shortened = reply;
      for (const value of long) shortened = shortened.replace(value, `${value.slice(0, 32)}…［Base64，共 ${value.length} 字符］`);
      assert.equal(await page.textContent('#raw'), shortened);
    });
  });

  // The records as the page shows them: the row keys, in order.
  describe('card layouts as shown', () => {
    const RECORD_5A = ['label', 'name', 'sex', 'nation', 'birth', 'address', 'idNumber', 'department', 'startDate',
      'endDate', 'appMsg', 'fingerprint', 'issues', 'passNumber', 'chineseName', 'certVersion', 'nationCode', 'photo'];
    const RECORD_5U = [...RECORD_5A, 'front', 'back'];
    const without = (keys, ...gone) => keys.filter((k) => !gone.includes(k));
    // [what, reader, scenario lines, device field as shown, row keys, words of the explanation ('' for none)]
    const CASES = [
      // The resident card on ORV5U has no issue count.
      ['ORV5U with every getter, device name holding a bar', 'ORV5U', {}, '一楼|窗口2', without(RECORD_5U, 'issues'), ''],
      ['ORV5U, J card without issue count', 'ORV5U', { GetCertTypeU: 'J', 'result.GetIssuesNumU': 0 }, '一楼|窗口2',
        without(RECORD_5U, 'issues'), ''],
      ['ORV5U, Y card: the old card number in place of the pass number', 'ORV5U',
        { GetCertTypeU: 'Y', GetOldIDCardNumberU: 'OLD-987', GetIssuesNumU: 2 }, '一楼|窗口2',
        RECORD_5U.map((k) => (k === 'passNumber' ? 'oldCardNumber' : k)), ''],
      ['ORV-5A with issue count', 'ORV5A', { GetIssuesNumU: 2 }, '—', RECORD_5A, ''],
      ['ORV-5A without issue count', 'ORV5A', { 'result.GetIssuesNumU': 0 }, '—', without(RECORD_5A, 'issues'), ''],
      ['ORV-5U-HID, I card without both dates', 'ORV5U-LN without GetEndDateU', { GetCertTypeU: 'I', GetIssuesNumU: 1 },
        '—', without(RECORD_5A, 'startDate', 'endDate'), '有效期起始、有效期截止'],
    ];

    for (const [what, reader, lines, device, keys, words] of CASES) {
      it(`shows ${what}`, async () => {
        const { page, shown } = await read(reader, '3', lines);
        assert.equal(shown.kind, 'ok', shown.headline);
        assert.match(shown.headline, /^读卡成功：张三/);
        assert.ok(words === '' ? shown.explain === '' : shown.explain.includes(words), shown.explain);
        const prefix = await page.$$eval('#result tbody.prefix td', (tds) => tds.map((td) => td.textContent));
        assert.equal(prefix[1], device);
        const rows = await page.$$eval('#result tbody:not(.prefix) tr', (trs) => trs.map((tr) => tr.dataset.field ?? null));
        assert.deepEqual(rows, keys);
        const images = keys.filter((k) => ['photo', 'front', 'back'].includes(k));
        assert.deepEqual(Object.keys(await imageWidths(page)).sort(), images.sort());
      });
    }
  });
});
