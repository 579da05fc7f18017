// What the package tests share: the package as the build makes it, the tools pinned in this
// folder's lock, the product's version and a static web server for built pages.
import { readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { extname, join, normalize } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = fileURLToPath(new URL('.', import.meta.url));
export const packageDir = join(here, '..', '..', 'build', 'linux', 'kavenor-client');
export const bin = (name) => join(here, 'node_modules', '.bin', name);

// The one version, as the project() line of CMakeLists.txt gives it.
export function productVersion() {
  const cmake = readFileSync(join(here, '..', '..', 'CMakeLists.txt'), 'utf8');
  return /^project\(Kavenor VERSION (\d+\.\d+\.\d+)\b/m.exec(cmake)[1];
}

const TYPES = { '.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css' };

// Serves the files under `dir` on 127.0.0.1; returns { origin, close }.
export async function serveFolder(dir) {
  const server = createServer((request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const file = join(dir, path.endsWith('/') ? path + 'index.html' : path);
    let body;
    try {
      body = file.startsWith(dir) ? readFileSync(file) : null;
    } catch {
      body = null;
    }
    response.writeHead(body ? 200 : 404, { 'Content-Type': TYPES[extname(file)] ?? 'application/octet-stream' });
    response.end(body ?? 'not found');
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  return {
    origin: `http://127.0.0.1:${server.address().port}`,
    close: () => new Promise((done) => { server.closeAllConnections(); server.close(done); }),
  };
}
