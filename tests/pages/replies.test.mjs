import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { imageWidths, launchBrowser, notice, openConnected, run, withService } from './browser.mjs';
import { FINGERPRINT, PHOTO, record } from './fixtures.mjs';
import { startService } from './service.mjs';
import { errorForReply, parseCardReply } from '../../build/linux/kavenor-client/dist/kavenor-client.mjs';

// [page, code, reply, notice kind, words the explanation must hold]
const FAILURES = [
  ['idcardM1.html', '3', '连接设备失败', 'error', 'USB 线'],
  ['idcardM1.html', '4', '卡认证失败', 'error', '平放在读卡区'],
  ['idcardM1.html', '3', '读卡失败', 'error', '放稳'],
  ['idcardM1.html', '6', '设备无此功能', 'error', '不支持这项操作'],
  ['idcardM1.html', '7', '输入参数有误', 'error', '密钥 Key'],
  ['idcardM1.html', '6', 'M1卡认证失败', 'error', '没有找到 M1 卡'],
  ['idcardM1.html', '7', '读M1卡失败', 'error', '不允许读'],
  ['idcardM1.html', '8', '写M1卡失败', 'error', '不允许写'],
  ['idcardM1.html', '9', '读金融卡失败', 'error', '银行卡'],
  ['idcardM1.html', '3', '', 'warn', '不提供这项读取'],
  ['03_idcard.html', '5', '设备无法获取安全模块号', 'error', '不能查询安全模块号'],
  ['03_idcard.html', '5', '获取安全模块号失败', 'error', '格式不对'],
  ['03_idcard.html', '5', '', 'warn', '安全模块记录'],
];

// Scripted replies per code, in the order the table uses them.
function scriptFor(file) {
  const replies = {};
  for (const [page, code, reply] of FAILURES) if (page === file) (replies[code] ??= []).push(reply);
  return replies;
}

describe('replies', () => {
  let browser;
  before(async () => { browser = await launchBrowser(); });
  after(async () => { await browser?.close(); });

  for (const file of ['idcardM1.html', '03_idcard.html']) {
    it(`${file} explains every failure text`, async () => {
      await withService(browser, { page: file, replies: scriptFor(file) }, async (page) => {
        for (const [, code, reply, kind, words] of FAILURES.filter(([page]) => page === file)) {
          const shown = await run(page, code);
          const what = `${code} → "${reply}"`;
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
      await withService(browser, { page: '03_idcard.html', delay: { 2: 1200 } }, async (page, service) => {
        await page.fill('#timeout', '3000');
        await page.click('button[data-code="2"]');
        await page.waitForSelector('#countdown:not([hidden])');
        const first = await page.textContent('#countdownText');
        await page.waitForTimeout(400);
        const later = await page.textContent('#countdownText');
        const seconds = (text) => Number(/^剩余 (\d+\.\d) 秒$/.exec(text)?.[1]);
        assert.ok(seconds(first) <= 3 && seconds(later) < seconds(first), `${first} then ${later}`);
        const held = await page.$$eval('button[data-code], #reconnect', (buttons) => buttons.every((b) => b.disabled));
        assert.ok(held, 'every button is disabled while the command is outstanding');

        await page.waitForFunction(() => document.querySelector('#notice').dataset.kind !== 'busy');
        assert.equal((await notice(page)).kind, 'ok');
        assert.equal(await page.isHidden('#countdown'), true);
        assert.equal(await page.isEnabled('button[data-code="3"]'), true);
        assert.deepEqual(service.commands(), ['2?timeout=3000']);
      });
    });

    it('explains an expired wait, and refuses a time-out that is not a number', async () => {
      await withService(browser, { page: 'NFC_idcard.html', model: 3, delay: { 2: 5000 } }, async (page, service) => {
        await page.fill('#timeout', '800');
        const shown = await run(page, '2');
        assert.equal(shown.kind, 'error');
        assert.match(shown.headline, /读卡失败/);
        assert.match(shown.explain, /等待时间内没有读到证件/);

        await page.fill('#timeout', '十秒');
        const refused = await run(page, '2');
        assert.equal(refused.kind, 'error');
        assert.match(refused.explain, /毫秒数/);
        assert.deepEqual(service.commands(), ['2?timeout=800']);
      });
    });
  });

  describe('card layouts', () => {
    const NO_CERT_TYPE = 'ORV5U|大厅1|ORV_GetCertTypeU函数找不到';
    // No known arrangement: the issue count and the Chinese name left out.
    const unknownLayout = record({ without: [13, 15] });
    let service;
    let page;
    before(async () => {
      service = await startService({ page: '03_idcard.html', replies: { 3: [unknownLayout, NO_CERT_TYPE, 'hello'] } });
      page = await openConnected(browser, service);
    });
    after(async () => {
      await page?.close();
      await service?.stop();
    });

    it('numbers the fields of an unexpected layout and still shows the photo', async () => {
      const shown = await run(page, '3');
      assert.equal(shown.kind, 'warn');
      assert.match(shown.explain, /按顺序列出全部字段/);
      const titles = await page.$$eval('#result tbody:not(.prefix) th', (ths) => ths.map((th) => th.textContent));
      assert.equal(titles.length, 16);
      assert.equal(titles[0], '字段 1（证件类型）');
      assert.equal(titles[15], '字段 16（照片）');
      assert.ok((await imageWidths(page)).photo > 0);
    });

    it('shows a record without certificate type as such', async () => {
      const shown = await run(page, '3');
      assert.equal(shown.kind, 'warn');
      assert.match(shown.headline, /GetCertTypeU/);
      const rows = await page.$$eval('#result tr', (trs) => trs.map((tr) => [tr.cells[0].textContent, tr.cells[1].textContent]));
      assert.deepEqual(rows, [['型号标记', 'ORV5U'], ['设备名称', '大厅1'], ['证件记录', 'ORV_GetCertTypeU函数找不到']]);
    });

    it('does not mistake any other text for a card', async () => {
      const shown = await run(page, '3');
      assert.equal(shown.kind, 'warn');
      assert.match(shown.headline, /回复无法识别/);
      assert.deepEqual(page.errors, []);
    });

    it('shortens long Base64 for display, keeping its length', async () => {
      const text = 'ORV5U|大厅1|身份证|' + FINGERPRINT + '|' + PHOTO;
      const shown = await page.evaluate((t) => shorten(t), text);
      assert.equal(shown, 'ORV5U|大厅1|身份证|' + FINGERPRINT.slice(0, 32) + '…［Base64，共 1368 字符］|'
        + PHOTO.slice(0, 32) + `…［Base64，共 ${PHOTO.length} 字符］`);
    });
  });

  // The layouts as the page shows them: the row keys of the record, in order (null: a numbered field
  // the page could not name), from the fields the client library named.
  describe('card layouts as shown', () => {
    const RECORD_5A = ['label', 'name', 'sex', 'nation', 'birth', 'address', 'idNumber', 'department', 'startDate',
      'endDate', 'appMsg', 'fingerprint', 'issues', 'passNumber', 'chineseName', 'certVersion', 'nationCode', 'photo'];
    const RECORD_5U = [...RECORD_5A, 'front', 'back'];
    const without = (keys, ...gone) => keys.filter((k) => !gone.includes(k));
    const numbered = (count, ...last) => ['label', ...Array(count - 1 - last.length).fill(null), ...last];
    // [what, reply, device field as shown, row keys, words of the explanation ('' for none)]
    const CASES = [
      ['ORV5U with every getter', record({ tag: 'ORV5U', device: '大厅1' }), '大厅1', RECORD_5U, ''],
      ['ORV5U, device name holding a bar', record({ tag: 'ORV5U', device: '一楼|窗口2' }), '一楼|窗口2', RECORD_5U, ''],
      ['ORV5U, J card without issue count', record({ tag: 'ORV5U', label: '港澳台居民居住证（J）', without: [13] }), '—',
        without(RECORD_5U, 'issues'), ''],
      ['ORV-5A with issue count', record({ issues: '2' }), '—', RECORD_5A, ''],
      ['ORV-5A without issue count', record({ without: [13] }), '—', without(RECORD_5A, 'issues'), ''],
      ['ORV-5U-HID, I card', record({ tag: 'ORV-5U-HID', label: '外国人永久居住证（I）', issues: '1' }), '—', RECORD_5A, ''],
      ['ORV-5A without both dates', record({ without: [9, 10, 13] }), '—',
        without(RECORD_5A, 'startDate', 'endDate', 'issues'), '有效期起始、有效期截止'],
      ['ORV5U without the back image', record({ tag: 'ORV5U', without: [20] }), '—', numbered(19, 'photo', 'front'),
        '按顺序列出'],
      ['ORV5U without the nation code', record({ tag: 'ORV5U', without: [13, 17] }), '—',
        numbered(18, 'photo', 'front', 'back'), '按顺序列出'],
      ['an unknown model tag', record({ tag: 'ORV-9X' }), '—', RECORD_5A, '证件正面、证件背面'],
    ];
    let service;
    let page;
    before(async () => {
      service = await startService({ page: '03_idcard.html', replies: { 3: CASES.map(([, reply]) => reply) } });
      page = await openConnected(browser, service);
    });
    after(async () => {
      await page?.close();
      await service?.stop();
    });

    // One reply per case, in the order of the table.
    for (const [what, reply, device, keys, words] of CASES) {
      it(`shows ${what}`, async () => {
        const shown = await run(page, '3');
        const named = !keys.includes(null);
        // The page names the fields where the library does; this tells which of the two changed.
        assert.equal(parseCardReply(reply).layoutRecognized, named, 'the client library reads this layout otherwise');
        assert.equal(shown.kind, named ? 'ok' : 'warn', shown.headline);
        if (named) assert.match(shown.headline, /^读卡成功：张三/);
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
