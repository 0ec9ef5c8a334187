// The player page in headless Chromium, against the native trelmo:
//   node page.test.mjs SITE TRELMO CORPUS ARTIFACTS
import { execFileSync, spawn } from 'node:child_process';
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const [site, trelmo, corpus, artifacts] = process.argv.slice(2).map((p) => path.resolve(p));
fs.rmSync(artifacts, { recursive: true, force: true });
const downloads = path.join(artifacts, 'downloads');
fs.mkdirSync(downloads, { recursive: true });
const sha = (bytes) => createHash('sha256').update(bytes).digest('hex');
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
let failures = 0;
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures++;
}

const rendered = new Map();
function nativeRender(song) {
  if (!rendered.has(song)) {
    const out = path.join(artifacts, `${path.basename(song)}.raw`);
    execFileSync(trelmo, ['render', '-q', '--force', '--format', 'raw', '-o', out, song]);
    rendered.set(song, fs.readFileSync(out));
  }
  return rendered.get(song);
}

const server = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1', '--directory', site, '0']);
const port = await new Promise((resolve) => server.stdout.on('data', (d) => {
  const m = /port (\d+)/.exec(String(d));
  if (m) resolve(m[1]);
}));
const browser = await puppeteer.launch({
  executablePath: '/usr/lib/chromium/chromium-headless-shell',
  headless: 'shell',
  args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update', '--no-first-run'],
});
try {
  const page = await browser.newPage();
  await page.setViewport({ width: 1400, height: 1000 });
  page.on('pageerror', (error) => check(false, `no page error: ${error.message}`));
  const cdp = await page.createCDPSession();
  await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  // A tap on whatever the page connects to the speakers, to see what actually reaches them.
  await page.evaluateOnNewDocument(() => {
    const connect = AudioNode.prototype.connect;
    AudioNode.prototype.connect = function (target, ...rest) {
      if (target instanceof AudioDestinationNode) {
        window.tap = new AnalyserNode(target.context, { fftSize: 2048 });
        connect.call(this, window.tap);
      }
      return connect.call(this, target, ...rest);
    };
  });
  // The loudest sample the speakers got over a while.
  const loudest = (ms) => page.evaluate(async (ms) => {
    const data = new Float32Array(2048);
    let peak = 0;
    for (const end = performance.now() + ms; performance.now() < end;) {
      window.tap.getFloatTimeDomainData(data);
      for (const v of data) peak = Math.max(peak, Math.abs(v));
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
    return peak;
  }, ms);
  const seekValue = () => page.$eval('#seek', (e) => +e.value);
  const saveWav = async () => {
    for (const f of fs.readdirSync(downloads)) fs.rmSync(path.join(downloads, f));
    await page.click('#save');
    for (let i = 0; i < 600; i++) {
      const done = fs.readdirSync(downloads).filter((f) => f.endsWith('.wav'));
      if (done.length) return fs.readFileSync(path.join(downloads, done[0])).subarray(44);
      await sleep(100);
    }
    throw new Error('no WAV was saved');
  };
  const shows = async (song, ownName) => {
    const [lengthTitle, instruments] = await Promise.all([page.$eval('#length', (e) => e.title),
      page.$$eval('#instruments tbody tr', (rows) => rows.map((r) => r.cells[1].textContent + '|' + r.cells[2].textContent))]);
    const info = JSON.parse(execFileSync(trelmo, ['info', '--json', '-q', song]))[0];
    check(parseInt(lengthTitle, 10) === nativeRender(song).length / 4, `${ownName}: the page shows the exact length (${lengthTitle})`);
    check(instruments.length === info.instruments.length && instruments.every((text) => !text.endsWith('|missing')),
      `${ownName}: the page lists its ${instruments.length} instruments, none missing`);
  };

  const opened = Date.now();
  await page.goto(`http://127.0.0.1:${port}/`);
  await page.waitForSelector('body[data-ready]');
  await page.click('#demo');
  await page.waitForSelector('body[data-first-sound]', { timeout: 10000 });
  const firstSound = await page.$eval('body', (b) => +b.dataset.firstSound);
  console.log(`time from opening the page to the first sound: ${firstSound} ms (${Date.now() - opened} ms seen by the test)`);
  const seekBefore = await seekValue();
  check(await loudest(2500) > 0.01, 'the demo sounds through the AudioWorklet');
  check(await seekValue() > seekBefore, 'the seek bar moves while the demo plays');
  const heads = await page.$$('#track-heads .track');
  for (const head of heads) await head.click();
  await sleep(300);
  check(await loudest(500) === 0, `muting all ${heads.length} tracks silences the output`);
  for (const head of heads) await head.click();
  check(await loudest(1000) > 0.01, 'unmuting them brings the sound back');

  const input = await page.$('#file-input');
  const songs = [[path.join(corpus, 'soundsmith/ECHO.MTP'), path.join(corpus, 'soundsmith/ECHO.W')],
    [path.join(site, 'first-light.ntg')]];
  for (const [song, ...companions] of songs) {
    const name = path.basename(song);
    await input.uploadFile(song, ...companions);
    await page.waitForFunction((n) => document.querySelector('#title').textContent.endsWith(n), {}, name);
    await shows(song, name);
    const native = nativeRender(song);
    const pageSamples = await saveWav();
    check(pageSamples.length === native.length && sha(pageSamples) === sha(native),
      `${name}: the page's render equals the native one (${native.length / 4} frames, sha256 ${sha(native).slice(0, 16)})`);
    if (name === 'ECHO.MTP') {
      await sleep(3000);
      await page.screenshot({ path: path.join(artifacts, 'page.png') });
      const second = (await page.$$('#track-heads .track'))[1];
      await page.keyboard.down('Shift');
      await second.click();
      await page.keyboard.up('Shift');
      check(sha(await saveWav()) !== sha(native), 'ECHO.MTP: with track 2 alone the page renders other samples');
      await page.keyboard.down('Shift');
      await second.click();
      await page.keyboard.up('Shift');
    }
  }
} finally {
  await browser.close();
  server.kill();
}
console.log(failures ? `${failures} check(s) failed` : 'all page checks passed');
process.exit(failures ? 1 : 0);
