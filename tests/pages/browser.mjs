// Headless Debian Chromium with a fresh profile, and the screenshot folder.

import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';
import { startProgram } from './real_program.mjs';

const ARGS = ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
  '--disable-sync', '--no-first-run'];

export async function launchBrowser() {
  const profile = mkdtempSync(join(tmpdir(), 'kavenor-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, args: ARGS,
    viewport: { width: 1180, height: 900 }, locale: 'zh-CN',
  });
  return {
    context,   // for permissions and routes across pages
    async newPage() {
      const page = await context.newPage();
      page.setDefaultTimeout(8000);   // every wait here is for a local service: fail fast
      page.on('pageerror', (error) => { page.errors.push(error); });
      page.errors = [];
      return page;
    },
    async close() {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

let screenshots;
export function screenshotDir() {
  screenshots ??= process.env.KAVENOR_SCREENSHOTS || mkdtempSync(join(tmpdir(), 'kavenor-screenshots-'));
  mkdirSync(screenshots, { recursive: true });
  return screenshots;
}

// The page `program` serves (the one of its model), once it has connected.
export async function openConnected(browser, program) {
  const page = await browser.newPage();
  await page.goto(program.baseUrl);
  await page.waitForSelector('#connState[data-state="open"]');
  return page;
}

// Where a page opened from a file connects first.
export const DEFAULT_SERVICE = /^ws:\/\/127\.0\.0\.1:7415\/?$/;

// A page file of `program`'s app folder opened from disk, as an operator may open it, then given the
// program's address. Its first connection, to the default address, goes to `standIn` (a Playwright
// WebSocket route handler), so that no service running on this machine is touched.
export async function openFromFile(browser, program, file, standIn = () => {}) {
  const page = await browser.newPage();
  await page.routeWebSocket(DEFAULT_SERVICE, standIn);
  await page.goto(pathToFileURL(join(program.dir, file)).href);
  await page.waitForSelector('#connState[data-state="open"]');
  await page.fill('#serviceUrl', program.wsUrl);
  await page.click('#reconnect');
  // The log, newest line first: connected after the switch to the program's address.
  await page.waitForFunction((url) => {
    const lines = [...document.querySelectorAll('#log li')].map((li) => li.textContent);
    const switched = lines.findIndex((line) => line.endsWith('连接 ' + url));
    return switched > 0 && lines.slice(0, switched).some((line) => line.endsWith('已连接'));
  }, program.wsUrl);
  return page;
}

// Runs body(page, program) on the page of a program started with `options`.
export async function withProgram(browser, options, body) {
  const program = await startProgram(options);
  let page;
  try {
    page = await openConnected(browser, program);
    await body(page, program);
  } finally {
    await page?.close();
    await program.stop();
  }
}

// Clicks a command button and waits for the reply to be shown.
export async function run(page, code) {
  await page.click(`button[data-code="${code}"]`);
  await page.waitForFunction(() => document.querySelector('#notice').dataset.kind !== 'busy');
  return notice(page);
}

export function notice(page) {
  return page.evaluate(() => {
    const box = document.querySelector('#notice');
    return {
      kind: box.dataset.kind,
      headline: box.querySelector('.headline')?.textContent ?? '',
      explain: box.querySelector('.explain')?.textContent ?? '',
    };
  });
}

// Texts of the result table, by field key.
export function resultFields(page) {
  return page.evaluate(() => Object.fromEntries(
    [...document.querySelectorAll('#result tr[data-field]')].map((tr) => [tr.dataset.field, tr.cells[1].textContent])));
}

export function imageWidths(page) {
  return page.evaluate(() => Object.fromEntries(
    [...document.querySelectorAll('#result img')].map((img) => [img.dataset.field, img.naturalWidth])));
}
