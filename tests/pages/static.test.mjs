// The page files as the generator writes them: the same bytes every time, one file each with nothing
// loaded from elsewhere, and the shared sources and the client library's UMD file inlined as they are.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { cpSync, existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, it } from 'node:test';
import { launchBrowser, openConnected, openFromFile, run } from './browser.mjs';
import { startProgram } from './real_program.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const root = resolve(here, '..', '..');
const generator = join(root, 'pages', 'make_pages.py');
const FILES = ['03_idcard.html', 'NFC_idcard.html', 'idcardM1.html'];
const source = (path) => readFileSync(join(root, path), 'utf8');
// As the generator inlines a script: "</script" and "<!--" would end it early.
const inlined = (js) => js.replace(/<\/(script)/gi, '<\\/$1').replaceAll('<!--', '<\\!--');

const scratch = [];
const tempDir = (name) => {
  const dir = mkdtempSync(join(tmpdir(), name));
  scratch.push(dir);
  return dir;
};
after(() => { for (const dir of scratch) rmSync(dir, { recursive: true, force: true }); });

// Runs the page generator into `dir`; throws with its error output when it fails.
function makePages(dir) {
  execFileSync('/usr/bin/python3', [generator, dir], { stdio: ['ignore', 'ignore', 'pipe'] });
  return dir;
}
// The pages as the sources make them now, generated once.
let generated;
const read = (file) => readFileSync(join(generated ??= makePages(tempDir('kavenor-generated-pages-')), file));

// The page's text with the contents of its <script> and <style> elements taken out, and those contents.
function split(text) {
  const scripts = [];
  const styles = [];
  const markup = text
    .replace(/(<script\b[^>]*>)([\s\S]*?)(<\/script>)/gi, (_, open, body, close) => { scripts.push(body); return open + close; })
    .replace(/(<style\b[^>]*>)([\s\S]*?)(<\/style>)/gi, (_, open, body, close) => { styles.push(body); return open + close; });
  return { markup, scripts, styles };
}

describe('generated page files', () => {
  it('are byte for byte the same from one run of the generator to the next', () => {
    const first = makePages(tempDir('kavenor-pages-a-'));
    // Another time zone, locale, hash seed and working folder must change nothing.
    const second = tempDir('kavenor-pages-b-');
    execFileSync('/usr/bin/python3', [generator, second], {
      cwd: tmpdir(), stdio: ['ignore', 'ignore', 'pipe'],
      env: { ...process.env, TZ: 'Asia/Shanghai', LC_ALL: 'C', PYTHONHASHSEED: '12345', SOURCE_DATE_EPOCH: '1' },
    });
    for (const file of FILES) {
      const a = readFileSync(join(first, file));
      assert.ok(a.length > 10000, `${file} written`);
      assert.ok(a.equals(readFileSync(join(second, file))), `${file} differs between two runs`);
    }
  });

  it('of the Linux build are the ones the sources make now', { skip: !existsSync(join(root, 'build/linux/app/kavenor')) }, () => {
    for (const file of FILES) {
      assert.ok(readFileSync(join(root, 'build/linux/app', file)).equals(read(file)),
        `build/linux/app/${file} is not what the sources make: run scripts/build.sh linux`);
    }
  });

  for (const file of FILES) {
    it(`${file} is one self-contained UTF-8 file`, () => {
      const bytes = read(file);
      const text = new TextDecoder('utf-8', { fatal: true }).decode(bytes);
      // Served without a content type, so the charset must be seen early.
      assert.ok(bytes.subarray(0, 1024).toString('latin1').includes('<meta charset="utf-8">'));
      assert.ok(text.startsWith('<!doctype html>'));
      assert.ok(text.includes('<link rel="icon" href="data:,">'), 'the empty icon keeps the browser from asking');
      const { markup, scripts, styles } = split(text);
      assert.equal(scripts.length, 2, 'the client library and the page script');
      assert.equal(styles.length, 1);
      assert.doesNotMatch(markup, /<script\b[^>]*\ssrc\s*=/i);
      assert.doesNotMatch(markup, /<link\b(?![^>]*rel="icon")[^>]*>/i, 'no link but the icon');
      for (const [, , value] of markup.matchAll(/\s(src|href|srcset|action|poster|data)\s*=\s*["']?([^"'\s>]*)/gi)) {
        assert.ok(value.startsWith('data:') || value.startsWith('#'), `${file} refers to ${value}`);
      }
      const inlineStyles = [...markup.matchAll(/\sstyle\s*=\s*"([^"]*)"/gi)].map((m) => m[1]);
      for (const css of [...styles, ...inlineStyles]) {
        assert.doesNotMatch(css, /@import|@font-face/i);
        for (const [, url] of css.matchAll(/url\(\s*["']?([^"')]*)/gi)) assert.ok(url.startsWith('data:'), url);
      }
    });

    it(`${file} inlines the client library, the shared script and the style sheet as they are`, () => {
      const { scripts, styles } = split(read(file).toString('utf8'));
      const client = inlined(source('build/linux/kavenor-client/dist/kavenor-client.js'));
      const ended = (js) => (js.endsWith('\n') ? js : js + '\n');
      assert.ok(scripts[0] === '\n' + ended(client), 'the first script is the client library, unchanged');
      assert.ok(scripts[1].startsWith('\n' + inlined(source('pages/src/page.js'))), 'the page script opens with page.js');
      assert.ok(styles[0].includes(source('pages/src/style.css')), 'the style sheet');
    });
  }

  describe('the generator refuses a broken source', () => {
    // [file under the copied tree, change, words of the error]
    const BROKEN = [
      ['pages/src/NFC_idcard.page', (t) => t.replace('@@ models\n', '@@ model\n'), "unknown section 'model'"],
      ['pages/src/NFC_idcard.page', (t) => t.replace(/@@ reference\n/, ''), 'missing section(s) reference'],
      ['pages/src/NFC_idcard.page', (t) => 'stray\n' + t, 'text before the first section'],
      ['pages/src/page.html', (t) => t.replace('{{models}}', '{{model}}'), 'unknown placeholder {{model}}'],
      ['pages/src/style.css', (t) => t + 'body { background: url(https://example.com/a.png); }\n', 'loads something'],
      ['pages/src/style.css', (t) => t + '@import "other.css";\n', 'loads something'],
      ['pages/src/page.js', (t) => t.replace('\n', '\r\n'), 'carriage return'],
    ];
    for (const [path, change, words] of BROKEN) {
      it(`${path}: ${words}`, () => {
        const tree = tempDir('kavenor-pages-src-');
        cpSync(join(root, 'pages'), join(tree, 'pages'), { recursive: true, filter: (p) => !p.endsWith('.html') || p.includes('/src/') });
        cpSync(join(root, 'client'), join(tree, 'client'), { recursive: true });
        cpSync(join(root, 'CMakeLists.txt'), join(tree, 'CMakeLists.txt'));
        writeFileSync(join(tree, path), change(readFileSync(join(tree, path), 'utf8')));
        const out = join(tree, 'out');
        const result = spawnSync('/usr/bin/python3', [join(tree, 'pages/make_pages.py'), out], { encoding: 'utf8' });
        assert.equal(result.status, 1, result.stderr);
        assert.ok(result.stderr.includes(words), result.stderr);
        assert.equal(existsSync(join(out, 'NFC_idcard.html')), false, 'nothing written');
      });
    }
  });

  describe('in Chromium', () => {
    let browser;
    before(async () => { browser = await launchBrowser(); });
    after(async () => { await browser?.close(); });

    // A reader model whose card the page shows in full; the NFC page's models read none, so that page
    // is opened from its file and given the address of an ORV5U-LN's program.
    const READS = {
      '03_idcard.html': { model: 0 },
      'idcardM1.html': { model: 1 },
      'NFC_idcard.html': { model: 3, security: { AllowedOrigins: 'null' }, fromFile: true },
    };
    for (const file of FILES) {
      it(`${file} asks for nothing but itself, also when showing a card`, async () => {
        const { fromFile, ...options } = READS[file];
        const program = await startProgram(options);
        const requests = [];
        const record = (request) => requests.push(request.url());
        browser.context.on('request', record);
        try {
          const page = fromFile ? await openFromFile(browser, program, file) : await openConnected(browser, program);
          assert.equal((await run(page, '3')).kind, 'ok');
          assert.equal(await page.evaluate(() => typeof Kavenor.KavenorClient), 'function');
          assert.ok(requests.includes(page.url()), 'the page itself was seen');
          const elsewhere = requests.filter((url) => url !== page.url() && !url.startsWith('data:'));
          assert.deepEqual(elsewhere, []);
          assert.deepEqual(page.errors, []);
          await page.close();
        } finally {
          browser.context.off('request', record);
          await program.stop();
        }
      });
    }
  });
});
