import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { describe, it } from 'node:test';
import { pagesDir } from './service.mjs';

const FILES = ['03_idcard.html', 'idcardM1.html', 'NFC_idcard.html'];
const read = (file) => readFileSync(join(pagesDir, file));

function between(text, open, close) {
  const start = text.indexOf(open);
  const end = text.indexOf(close, start);
  assert.ok(start >= 0 && end > start, `${open} … ${close}`);
  return text.slice(start, end);
}

describe('page files', () => {
  for (const file of FILES) {
    it(`${file} is one self-contained UTF-8 file`, () => {
      const bytes = read(file);
      const text = new TextDecoder('utf-8', { fatal: true }).decode(bytes);
      // Served without a content type, so the charset must be seen early.
      assert.ok(bytes.subarray(0, 1024).toString('latin1').includes('<meta charset="utf-8">'));
      assert.ok(text.startsWith('<!doctype html>'));
      const EXTERNAL = [/<script[^>]*\ssrc\s*=/i, /<link[^>]*rel\s*=\s*["']?stylesheet/i,
        /(?:src|href)\s*=\s*["']?(?:https?:)?\/\//i, /@import|@font-face|url\(\s*["']?(?:https?:)?\/\//i];
      for (const pattern of EXTERNAL) assert.ok(!pattern.test(text), `${file} loads something: ${pattern}`);
    });
  }

  it('the three pages share one style sheet and one common script', () => {
    const texts = FILES.map((file) => read(file).toString('utf8'));
    const style = texts.map((t) => between(t, '<style>', '</style>'));
    const shared = texts.map((t) => between(t, '/* ---- shared by the three test pages', '/* ---- end of the shared part'));
    for (let i = 1; i < FILES.length; i++) {
      assert.ok(style[i] === style[0], `${FILES[i]} style differs from ${FILES[0]}`);
      assert.ok(shared[i] === shared[0], `${FILES[i]} shared script differs from ${FILES[0]}`);
    }
  });
});
