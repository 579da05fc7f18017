// The type declarations, checked by the TypeScript compiler as a web developer's code would be.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { dirname, join } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const here = join(dirname(fileURLToPath(import.meta.url)), 'types');
const tsc = spawnSync('tsc', ['--version']).status === 0;
const options = ['--noEmit', '--strict', '--target', 'es2017', '--module', 'commonjs', '--moduleResolution', 'node'];

function check(file) {
  const run = spawnSync('tsc', [...options, join(here, file)], { encoding: 'utf8' });
  return { ok: run.status === 0, output: run.stdout + run.stderr };
}

test('the declarations fit a module import and the global of a plain script', { skip: !tsc && 'no tsc' }, () => {
  for (const file of ['usage.ts', 'global.ts']) {
    const { ok, output } = check(file);
    assert.ok(ok, `${file}:\n${output}`);
  }
});

test('the declarations refuse a wrong option, a missing argument and an unknown field', { skip: !tsc && 'no tsc' }, () => {
  const { ok, output } = check('misuse.ts');
  assert.ok(!ok);
  for (const line of [4, 5, 6]) assert.match(output, new RegExp(`misuse\\.ts\\(${line},`), output);
});
