// The README's picture of the page: the piece playing, its title mid-pulse.
//
//   node web/tests/screenshot.mjs docs/web.png
import {mkdtempSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';

import {chromium} from 'playwright-core';

import {serve} from './server.mjs';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const profile = mkdtempSync(join(tmpdir(), 'quom-shot-'));
const site = await serve(process.env.QUOM_WEB_DIR || join(root, 'dist/web'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  viewport: {width: 640, height: 400},
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
try {
  const page = context.pages()[0];
  await page.goto(site.url);
  await page.waitForFunction(() => window.quom && window.quom.position > 21.2, null,
      {timeout: 600000, polling: 50});
  await page.screenshot({path: process.argv[2] || 'web.png'});
} finally {
  await context.close();
  await site.close();
  rmSync(profile, {recursive: true, force: true});
}
