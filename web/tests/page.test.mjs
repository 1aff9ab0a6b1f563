// The page in headless Chromium (the system's own browser), served as a static host would serve
// it: the piece's PCM against the golden hash, the progress display, playback through WebAudio,
// scores dropped and chosen against what the command line makes of them, and Esc.
//
//   node web/tests/page.test.mjs   with the page built in dist/web and the program in build/
//
// QUOM_WEB_DIR, QUOM_EXE and CHROMIUM name other places for the page, the program and the browser.
import assert from 'node:assert/strict';
import {execFileSync, spawnSync} from 'node:child_process';
import {mkdtempSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join, resolve} from 'node:path';
import {after, before, describe, test} from 'node:test';
import {fileURLToPath} from 'node:url';

import {chromium} from 'playwright-core';

import {serve} from './server.mjs';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const siteDir = process.env.QUOM_WEB_DIR || join(root, 'dist/web');
const quomExe = process.env.QUOM_EXE || join(root, 'build/quom');
const chromiumExe = process.env.CHROMIUM || '/usr/bin/chromium';
// The one golden hash of the piece, where the engine's tests keep it.
const kGolden = /kPiecePcmSha256 =\s*"([0-9a-f]{64})"/.exec(
    readFileSync(join(root, 'tests/render/golden_test.cpp'), 'utf8'))[1];
const kRenderWait = 300000;  // ms: a render of the piece on a busy two-core machine, and more

const work = mkdtempSync(join(tmpdir(), 'quom-web-'));
let site;
const browsers = [];

// A fresh browser with its own profile; `autoplay` lets sound start without a gesture. (Without
// it, mind that every page.evaluate counts as a gesture.)
async function openBrowser(autoplay) {
  const kAutoplay = '--autoplay-policy=no-user-gesture-required';
  const context = await chromium.launchPersistentContext(mkdtempSync(join(work, 'profile-')), {
    executablePath: chromiumExe,
    headless: true,
    args: [
      '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      ...(autoplay ? [kAutoplay] : []),
    ],
    ignoreDefaultArgs: autoplay ? [] : [kAutoplay],
    acceptDownloads: true,
  });
  browsers.push(context);
  return context;
}

// A page of the site that records what the tests look back on: the percentages the display
// showed, the start button's showing (also told to quomStartShown, where the test provides it),
// and the longest time the page's thread was busy while the display was between 0 and 100 %.
async function openPage(context, query = '') {
  const page = context.pages()[0] || await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(String(error)));
  page.errors = errors;
  await page.addInitScript(() => {
    window.seen = {percents: [], startShown: false, longestGap: 0};
    let last = performance.now();
    setInterval(() => {
      const t = performance.now();
      const percents = window.seen.percents;
      if (percents.length && percents[percents.length - 1] !== '100%') {
        window.seen.longestGap = Math.max(window.seen.longestGap, t - last);
      }
      last = t;
    }, 20);
    addEventListener('DOMContentLoaded', () => {
      new MutationObserver(() => {
        const percent = document.getElementById('labProgress').textContent;
        const percents = window.seen.percents;
        if (percent && percents[percents.length - 1] !== percent) percents.push(percent);
        if (!document.getElementById('start').hidden && !window.seen.startShown) {
          window.seen.startShown = true;
          if (window.quomStartShown) window.quomStartShown();
        }
      }).observe(document.getElementById('panel'), {subtree: true, childList: true, attributes: true});
    });
  });
  await page.goto(site.url + query);
  return page;
}

const waitFor = (page, predicate, arg, timeout = 30000) =>
  page.waitForFunction(predicate, arg, {timeout, polling: 100});

// Waits for the render after `renders` earlier ones; fails at once if the engine stops.
async function rendered(page, renders = 0) {
  await waitFor(page, (n) => window.quom && (window.quom.renders > n || window.quom.failure),
      renders, kRenderWait);
  assert.equal(await page.evaluate(() => window.quom.failure), '');
}

const pcmHash = (page) => page.evaluate(async () => {
  const digest = await crypto.subtle.digest('SHA-256', window.quom.pcm);
  return [...new Uint8Array(digest)].map((b) => b.toString(16).padStart(2, '0')).join('');
});

// The loudest sample the analyser behind the sound saw in its last window.
const loudness = (page) => page.evaluate(() => {
  const data = new Float32Array(window.quom.analyser.fftSize);
  window.quom.analyser.getFloatTimeDomainData(data);
  return data.reduce((m, v) => Math.max(m, Math.abs(v)), 0);
});

// What the program prints for `args`, run in `dir`: its status, standard output and error.
function quom(args, dir = work) {
  const r = spawnSync(quomExe, args, {cwd: dir, encoding: 'utf8'});
  return {status: r.status, stdout: r.stdout, stderr: r.stderr};
}

// Drops a file with these bytes on the page, as a file manager would.
function drop(page, name, bytes) {
  return page.evaluate(({name, data}) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([new Uint8Array(data)], name));
    document.dispatchEvent(new DragEvent('drop', {dataTransfer: transfer, bubbles: true, cancelable: true}));
  }, {name, data: [...bytes]});
}

before(async () => {
  site = await serve(siteDir);
});

after(async () => {
  for (const b of browsers) await b.close();
  if (site) await site.close();
  rmSync(work, {recursive: true, force: true});
});

describe('the piece', () => {
  let page;

  before(async () => {
    page = await openPage(await openBrowser(true));
    await rendered(page);
  });

  test('renders in the worker to the golden hash, with no shared memory, the page responsive', async () => {
    assert.equal(await pcmHash(page), kGolden);
    assert.equal(await page.evaluate(() => self.crossOriginIsolated), false);
    // Rendered on the page's thread, the piece would stall it for the whole render; a loaded
    // machine stalls it for a while now and then, so the bound grows with the render's time.
    const {gap, seconds} = await page.evaluate(() => ({
      gap: window.seen.longestGap, seconds: window.quom.lastRender.seconds}));
    assert.ok(gap < Math.max(1000, seconds * 250), `the page's thread stalled for ${gap} ms of ${seconds} s`);
    assert.deepEqual(page.errors, []);
  });

  test('the progress display grows to 100 % with the program\'s captions', async () => {
    const panel = await page.evaluate(() => ({
      percent: document.getElementById('labProgress').textContent,
      time: document.getElementById('labTime').textContent,
      prepare: document.getElementById('Label1').textContent,
      bar: document.getElementById('ShProg').style.width,
      percents: window.seen.percents,
    }));
    assert.equal(panel.percent, '100%');
    assert.equal(panel.prepare, 'Prepare');
    assert.match(panel.time, /^\d\d\.\d\d seconds$/);
    assert.equal(panel.bar, '67px');  // 1004 twips
    // On its way: the sign alone first, then whole percents that never fall.
    const values = panel.percents.map((p) => (p === '%' ? 0 : parseInt(p, 10)));
    assert.ok(values.some((v) => v > 0 && v < 100), `no percentage on the way: ${panel.percents}`);
    assert.deepEqual(values, [...values].sort((a, b) => a - b));
  });

  test('plays at once where the browser allows it, handing WebAudio the piece', async () => {
    await waitFor(page, () => window.quom.state === 'playing');
    assert.equal(await page.evaluate(() => window.seen.startShown), false);
    const handed = await page.evaluate(async () => {
      const b = window.quom.audioBuffer;
      const left = b.getChannelData(0);
      const right = b.getChannelData(1);
      const pcm = new Int16Array(b.length * 2);
      for (let i = 0; i < b.length; ++i) {
        pcm[2 * i] = left[i] * 32768;
        pcm[2 * i + 1] = right[i] * 32768;
      }
      const rendered = new Int16Array(window.quom.pcm);
      const digest = await crypto.subtle.digest('SHA-256', pcm.buffer);
      return {
        rate: b.sampleRate,
        frames: b.length,
        hash: [...new Uint8Array(digest)].map((x) => x.toString(16).padStart(2, '0')).join(''),
        first: [...pcm.slice(0, 8)].join() === [...rendered.slice(0, 8)].join(),
        last: [...pcm.slice(-8)].join() === [...rendered.slice(-8)].join(),
      };
    });
    assert.deepEqual(handed, {rate: 44100, frames: 5297673, hash: kGolden, first: true, last: true});
    await waitFor(page, () => window.quom.position > 0.5);
    assert.ok(await loudness(page) > 0, 'the analyser hears nothing');
  });

  test('the title pulses green while it plays', async () => {
    const greens = await page.evaluate(async () => {
      const seen = [];
      for (let i = 0; i < 30; ++i) {
        seen.push(Number(/rgb\(0, (\d+), 0\)/.exec(document.getElementById('LabQuom').style.color)[1]));
        await new Promise((r) => setTimeout(r, 50));
      }
      return seen;
    });
    // A falling saw-tooth of 1.09 s: within 1.5 s both ends of it.
    assert.ok(Math.max(...greens) > 180 && Math.min(...greens) < 80, `greens ${greens}`);
  });

  test('space pauses and resumes, the arrows move five seconds', async () => {
    await page.keyboard.press('Space');
    await waitFor(page, () => window.quom.state === 'paused');
    const at = await page.evaluate(() => window.quom.position);
    await page.waitForTimeout(300);
    assert.equal(await page.evaluate(() => window.quom.position), at);
    await page.keyboard.press('ArrowRight');
    assert.ok(Math.abs(await page.evaluate(() => window.quom.position) - (at + 5)) < 1e-6);
    await page.keyboard.press('ArrowLeft');
    await page.keyboard.press('ArrowLeft');
    assert.ok(Math.abs(await page.evaluate(() => window.quom.position) - Math.max(0, at - 5)) < 1e-6);
    await page.keyboard.press('Space');
    await waitFor(page, () => window.quom.state === 'playing');
  });

  test('the time line seeks; repeat goes on from the start, without it the piece ends', async () => {
    const seekTo = (at) => page.evaluate((to) => {
      const line = document.getElementById('timeline');
      line.value = String(to);
      line.dispatchEvent(new Event('change'));
    }, at);
    const end = 5297673 / 44100;
    await page.check('#repeat');
    await seekTo(end - 0.3);
    await waitFor(page, () => window.quom.position < 1);
    assert.equal(await page.evaluate(() => window.quom.state), 'playing');
    await page.uncheck('#repeat');
    await seekTo(end - 0.3);
    await waitFor(page, () => window.quom.state === 'ended');
    assert.equal(await page.evaluate(() => document.getElementById('LabQuom').style.color), 'rgb(0, 0, 0)');
    await page.click('#play');  // from the start again
    await waitFor(page, () => window.quom.state === 'playing');
    assert.ok(await page.evaluate(() => window.quom.position) < 5);
  });

  test('the WAV download holds the piece', async () => {
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#wav')]);
    const path = join(work, 'download.wav');
    await download.saveAs(path);
    const wav = readFileSync(path);
    assert.equal(download.suggestedFilename(), 'quom.wav');
    assert.equal(wav.toString('latin1', 0, 4) + wav.toString('latin1', 8, 16), 'RIFFWAVEfmt ');
    assert.deepEqual([wav.readUInt16LE(20), wav.readUInt16LE(22), wav.readUInt32LE(24), wav.readUInt16LE(34)],
        [1, 2, 44100, 16]);
    assert.equal(wav.readUInt32LE(40), 5297673 * 4);
    const hash = execFileSync('sha256sum', {input: wav.subarray(44)}).toString().slice(0, 64);
    assert.equal(hash, kGolden);
  });

  test('Esc stops the sound', async () => {
    await waitFor(page, () => window.quom.state === 'playing');
    assert.ok(await loudness(page) > 0);
    await page.keyboard.press('Escape');
    await waitFor(page, () => window.quom.state === 'stopped');
    await page.waitForTimeout(200);  // the analyser's window is 46 ms
    assert.equal(await loudness(page), 0);
    assert.equal(await page.evaluate(() => document.getElementById('LabQuom').style.color), 'rgb(0, 0, 0)');
  });

  describe('scores of one\'s own', () => {
    test('a dropped MIDI file gives the records of quom --score x.mid --print-score', async () => {
      // The piece exported as MIDI reads back to the same records, so it renders to the same bits.
      assert.equal(quom(['--export-midi', 'piece.mid']).status, 0);
      const cli = quom(['--score', 'piece.mid', '--print-score']);
      assert.equal(cli.status, 0);
      const renders = await page.evaluate(() => window.quom.renders);
      await drop(page, 'piece.mid', readFileSync(join(work, 'piece.mid')));
      await rendered(page, renders);
      const records = await page.evaluate(async () => {
        const link = document.getElementById('records');
        return {name: link.download, text: await (await fetch(link.href)).text()};
      });
      assert.deepEqual(records, {name: 'piece.txt', text: cli.stdout});
      assert.equal(await pcmHash(page), kGolden);
      await waitFor(page, () => window.quom.state === 'playing');
    });

    test('a damaged file shows the command line\'s error line and the next file plays', async () => {
      const midi = readFileSync(join(root, 'tests/data/midi/drums.mid'));
      const damaged = [
        ['cut.mid', midi.subarray(0, 30)],
        ['short.bin', Buffer.from([1, 2, 3])],
        ['bad.txt', Buffer.from('0 15 60 100 25\n7 x 60 100 25\n')],
      ];
      for (const [name, bytes] of damaged) {
        writeFileSync(join(work, name), bytes);
        const cli = quom(['--score', name, '--print-score']);
        assert.equal(cli.status, 2);
        await page.setInputFiles('#score', {name, mimeType: 'application/octet-stream', buffer: bytes});
        await waitFor(page, (text) => document.getElementById('message').textContent === text,
            cli.stderr.trimEnd());
        assert.equal(await page.evaluate(() => window.quom.state), 'playing', name);  // untouched
      }
      // The next file: its warning in the command line's words, then its sound.
      writeFileSync(join(work, 'drums.mid'), midi);
      const cli = quom(['--score', 'drums.mid', '--print-score']);
      const renders = await page.evaluate(() => window.quom.renders);
      await drop(page, 'drums.mid', midi);
      await rendered(page, renders);
      assert.equal(await page.evaluate(() => document.getElementById('message').textContent),
          cli.stderr.trimEnd());
      await waitFor(page, () => window.quom.state === 'playing');
      const frames = await page.evaluate(() => window.quom.audioBuffer.length);
      assert.ok(frames > 44100 && frames < 5297673, `drums.mid: ${frames} frames`);
    });
  });
});

test('Esc ends a render; play starts it again', async () => {
  const context = await openBrowser(true);
  const page = await openPage(context);
  const percent = () => page.evaluate(() => document.getElementById('labProgress').textContent);
  await waitFor(page, () => document.getElementById('labProgress').textContent !== '');
  await page.keyboard.press('Escape');
  await waitFor(page, () => window.quom.state === 'idle');
  const stoppedAt = await percent();
  await page.waitForTimeout(500);
  assert.deepEqual(await page.evaluate(() => [window.quom.renders, window.quom.failure]), [0, '']);
  assert.equal(await percent(), stoppedAt);  // no worker left behind to move it
  await page.click('#play');
  await waitFor(page, () => window.quom.state === 'rendering');
  // The new render shows its own progress from the start.
  await waitFor(page, () => /^[1-9]/.test(document.getElementById('labProgress').textContent));
  assert.equal(await page.evaluate(() => window.quom.failure), '');
  await context.close();  // its render would slow the next test down
});

test('a browser that wants a gesture before sound gets a start button; the scalar path gives the same bits', async () => {
  const context = await openBrowser(false);
  // Told by the page, not asked: a question from here would count as a gesture.
  let shown;
  const startShown = new Promise((resolve) => (shown = resolve));
  await context.exposeFunction('quomStartShown', () => shown());
  const page = await openPage(context, '?simd=scalar');
  await Promise.race([startShown, new Promise((_, fail) =>
    setTimeout(() => fail(new Error('no start button')), kRenderWait).unref())]);
  assert.deepEqual(await page.evaluate(() => [window.quom.state, window.quom.audio.state]),
      ['waiting', 'suspended']);
  await page.click('#start');
  await waitFor(page, () => window.quom.state === 'playing');
  assert.equal(await page.isVisible('#start'), false);
  assert.equal(await page.evaluate(() => window.quom.lastRender.simd), 'scalar');
  assert.equal(await pcmHash(page), kGolden);
});
