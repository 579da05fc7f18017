// The pages as the program itself serves them, reading the simulated reader's demo card.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { join } from 'node:path';
import { imageWidths, launchBrowser, openConnected, resultFields, run, screenshotDir } from './browser.mjs';
import { startProgram } from './real_program.mjs';

const CASES = [
  { model: 0, title: /读卡测试/, tag: 'ORV5U', images: ['back', 'front', 'photo'] },
  { model: 1, title: /读卡测试/, tag: 'ORV-5A', images: ['photo'] },
  { model: 3, title: /读卡测试/, tag: 'ORV-5U-HID', images: ['photo'] },
];

describe('pages served by the program', () => {
  let browser;
  before(async () => { browser = await launchBrowser(); });
  after(async () => { await browser?.close(); });

  for (const c of CASES) {
    it(`model ${c.model}: the page it serves reads the demo card`, async () => {
      const program = await startProgram({ model: c.model });
      try {
        const page = await openConnected(browser, program);
        assert.match(await page.title(), c.title);
        const shown = await run(page, '3');
        assert.equal(shown.kind, 'ok', shown.headline);
        const rows = await page.$$eval('#result tr', (trs) => Object.fromEntries(
          trs.map((tr) => [tr.cells[0].textContent, tr.cells[1].textContent])));
        assert.equal(rows['型号标记'], c.tag);
        const fields = await resultFields(page);
        assert.ok(fields.name && fields.name !== '—', 'a name is shown');
        const widths = await imageWidths(page);
        assert.deepEqual(Object.keys(widths).sort(), c.images);
        for (const key of c.images) assert.ok(widths[key] > 0, `${key} rendered`);
        await page.screenshot({ path: join(screenshotDir(), `program-model${c.model}.png`), fullPage: true });
        assert.deepEqual(page.errors, []);
        await page.close();
      } finally {
        await program.stop();
      }
    });
  }

  it('model 1: the memory-card block read answers with the identifier and the block', async () => {
    const program = await startProgram({ model: 1 });
    try {
      const page = await openConnected(browser, program);
      const shown = await run(page, '7');
      assert.equal(shown.kind, 'ok', shown.headline);
      assert.match(await page.textContent('#raw'), /^([0-9a-f]{2} ){4}\|([0-9a-f]{2} ){16}$/m);
      await page.close();
    } finally {
      await program.stop();
    }
  });
});
