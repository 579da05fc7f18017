// Prints the size of the package's ES module as a page ships it: as built, minified by Vite (the
// same minifier a page's build uses) and gzipped. No goal; the test command prints it to be watched.
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { build } from 'vite';
import { packageDir } from './support.mjs';

const entry = join(packageDir, 'dist', 'kavenor-client.mjs');
const output = await build({
  configFile: false,
  logLevel: 'silent',
  build: { write: false, minify: true, lib: { entry, formats: ['es'], fileName: 'kavenor-client' } },
});
const chunk = [output].flat()[0].output.find((file) => file.type === 'chunk');
const minified = Buffer.from(chunk.code);
console.log(`client library, ES module: ${readFileSync(entry).length} bytes, minified ${minified.length}, `
  + `minified and gzipped ${gzipSync(minified, { level: 9 }).length}`);
