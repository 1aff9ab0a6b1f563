// The page's render time in headless Chromium: the piece rendered RUNS times on each vector path
// (a fresh page each time; the time is the engine's call alone, not the page's loading), with the
// median and the range. Beside the wall time, the processor time the browser's processes took
// from the first progress refresh to the end, and the render worker's thread alone (Linux only),
// which a busy machine disturbs less.
// A benchmark, not a test: nothing is asserted beyond the bits.
//
//   node web/tests/bench.mjs [RUNS] [PATH...]     e.g. node web/tests/bench.mjs 5 simd128 scalar
import {mkdtempSync, readFileSync, readdirSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath} from 'node:url';

import {chromium} from 'playwright-core';

import {serve} from './server.mjs';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const runs = Number(process.argv[2] || 3);
const paths = process.argv.length > 3 ? process.argv.slice(3) : ['simd128', 'scalar'];
const kGolden = /kPiecePcmSha256 =\s*"([0-9a-f]{64})"/.exec(
    readFileSync(join(root, 'tests/render/golden_test.cpp'), 'utf8'))[1];

const profile = mkdtempSync(join(tmpdir(), 'quom-bench-'));

// Seconds of processor time taken so far by the processes started with our profile, all their
// threads and the render worker's threads alone (the engine's own time, which the page's thread,
// the compositor and the audio do not disturb).
function browserSeconds() {
  let ticks = 0;
  let worker = 0;
  const times = (stat) => {
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    return Number(fields[11]) + Number(fields[12]);  // utime and stime
  };
  for (const pid of readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      if (!readFileSync(`/proc/${pid}/cmdline`, 'latin1').includes(profile)) continue;
      ticks += times(readFileSync(`/proc/${pid}/stat`, 'latin1'));
      for (const tid of readdirSync(`/proc/${pid}/task`)) {
        const task = `/proc/${pid}/task/${tid}`;
        if (readFileSync(`${task}/comm`, 'latin1').startsWith('DedicatedWorker')) {
          worker += times(readFileSync(`${task}/stat`, 'latin1'));
        }
      }
    } catch {
      // gone meanwhile
    }
  }
  return {all: ticks / 100, worker: worker / 100};  // USER_HZ
}
const site = await serve(process.env.QUOM_WEB_DIR || join(root, 'dist/web'));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
const page = context.pages()[0];
console.log(`${await context.browser()?.version() ?? 'Chromium'}: the piece, ${runs} render(s) a path`);
try {
  for (const path of paths) {
    const seconds = [];
    const cpu = [];
    const engine = [];
    for (let i = 0; i < runs; ++i) {
      await page.goto(`${site.url}?simd=${path}`);
      await page.waitForFunction(() => document.getElementById('labProgress').textContent !== '',
          null, {timeout: 600000, polling: 20});
      const before = browserSeconds();
      await page.waitForFunction(() => window.quom && (window.quom.renders > 0 || window.quom.failure),
          null, {timeout: 600000, polling: 200});
      const after = browserSeconds();
      cpu.push(after.all - before.all);
      engine.push(after.worker - before.worker);
      const r = await page.evaluate(async () => {
        const digest = await crypto.subtle.digest('SHA-256', window.quom.pcm);
        const hex = [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join('');
        return {...window.quom.lastRender, same: hex};
      });
      if (r.same !== kGolden) throw new Error(`${path}: the render differs from the golden one`);
      seconds.push(r.seconds);
      await page.keyboard.press('Escape');
    }
    const median = (v) => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)].toFixed(2);
    const list = (v) => v.map((x) => x.toFixed(2)).join(', ');
    console.log(`  ${path.padEnd(8)} wall: median ${median(seconds)} s (${list(seconds)}); ` +
        `processor: median ${median(cpu)} s (${list(cpu)}), ` +
        `the worker's thread ${median(engine)} s (${list(engine)})`);
  }
} finally {
  await context.close();
  await site.close();
  rmSync(profile, {recursive: true, force: true});
}
