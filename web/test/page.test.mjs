// SPDX-License-Identifier: BSD-3-Clause
// The player page in headless Chromium, against the native trelmo:
//   node page.test.mjs SITE TRELMO CORPUS ARTIFACTS
// The server serves the site with songs beside it (songs/: ECHO.MTP with its bank; nobank/: without),
// and logs every request.
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
function nativeRender(song, start = 0) {
  const key = `${song}@${start}`;
  if (!rendered.has(key)) {
    const out = path.join(artifacts, `${path.basename(song)}.${start}.raw`);
    execFileSync(trelmo, ['render', '-q', '--force', '--format', 'raw', '--start', (start / 44100).toFixed(9), '-o', out, song]);
    rendered.set(key, fs.readFileSync(out));
  }
  return rendered.get(key);
}

const echo = path.join(corpus, 'soundsmith/ECHO.MTP');
const www = path.join(artifacts, 'www');
for (const folder of ['songs', 'nobank']) fs.mkdirSync(path.join(www, folder), { recursive: true });
for (const name of fs.readdirSync(site)) fs.symlinkSync(path.join(site, name), path.join(www, name));
fs.copyFileSync(echo, path.join(www, 'songs/ECHO.MTP'));
fs.copyFileSync(path.join(corpus, 'soundsmith/ECHO.W'), path.join(www, 'songs/ECHO.W'));
fs.copyFileSync(echo, path.join(www, 'nobank/ECHO.MTP'));
const server = spawn('python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1', '--directory', www, '0']);
const requests = [];
server.stderr.on('data', (d) => requests.push(...[...String(d).matchAll(/"GET (\S+) [^"]*" (\d+)/g)].map((m) => `${m[1]} ${m[2]}`)));
const port = await new Promise((resolve) => server.stdout.on('data', (d) => {
  const m = /port (\d+)/.exec(String(d));
  if (m) resolve(m[1]);
}));
const site_ = `http://127.0.0.1:${port}/`;
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
  // A tap on what the page connects to the speakers, to see what actually reaches them; the
  // worklet's node and what it reports; the Media Session's handlers and position states; the
  // opened files read whole.
  await page.evaluateOnNewDocument(() => {
    const connect = AudioNode.prototype.connect;
    AudioNode.prototype.connect = function (target, ...rest) {
      if (target instanceof AudioDestinationNode && !window.tap) {
        window.tap = new AnalyserNode(target.context, { fftSize: 2048 });
        connect.call(this, window.tap);
      }
      return connect.call(this, target, ...rest);
    };
    window.reports = [];
    window.AudioWorkletNode = class extends AudioWorkletNode {
      constructor(context, name, options) {
        super(context, name, options);
        if (name !== 'trelmo') return;
        window.trelmoNode = this;
        this.port.addEventListener('message', (event) => window.reports.push(event.data));
      }
    };
    window.handlers = {};
    window.positions = [];
    const session = navigator.mediaSession;
    const setHandler = session.setActionHandler.bind(session);
    session.setActionHandler = (action, handler) => { window.handlers[action] = handler; setHandler(action, handler); };
    const setPosition = session.setPositionState.bind(session);
    session.setPositionState = (state) => { window.positions.push(state); setPosition(state); };
    window.fileReads = [];
    const read = File.prototype.arrayBuffer;
    File.prototype.arrayBuffer = function () { window.fileReads.push(this.name); return read.call(this); };
  });
  // The worklet's output for ms after start() runs, as 16-bit samples from its first sound on.
  const record = (ms, start) => page.evaluate(async (ms, start) => {
    const context = window.trelmoNode.context;
    const code = `registerProcessor('recorder', class extends AudioWorkletProcessor {
      process([input]) { if (input.length) this.port.postMessage([input[0].slice(), input[1].slice()]); return true; } })`;
    await context.audioWorklet.addModule(URL.createObjectURL(new Blob([code], { type: 'text/javascript' })));
    const recorder = new AudioWorkletNode(context, 'recorder');
    const quanta = [];
    recorder.port.onmessage = (event) => quanta.push(event.data);
    window.trelmoNode.connect(recorder).connect(context.destination);
    await new Promise((resolve) => setTimeout(resolve, 50));
    document.querySelector(start).click();
    await new Promise((resolve) => setTimeout(resolve, ms));
    recorder.disconnect();
    window.trelmoNode.disconnect(recorder);
    const samples = [];
    for (const [left, right] of quanta) left.forEach((v, i) => samples.push(Math.round(v * 32768), Math.round(right[i] * 32768)));
    const first = samples.findIndex((v) => v !== 0);
    return samples.slice(first - (first % 2));
  }, ms, start);
  const fromFirstSound = (pcm) => {
    const samples = new Int16Array(pcm.buffer, pcm.byteOffset, pcm.length / 2);
    const first = samples.findIndex((v) => v !== 0);
    return [...samples.subarray(first - (first % 2))];
  };
  const reported = () => page.evaluate(() => window.reports.filter((r) => r.type === 'status'));
  const lastPosition = () => page.evaluate(() => window.positions.at(-1));
  const waitTitle = (name) => page.waitForFunction((n) => document.querySelector('#title').textContent.endsWith(n), {}, name);
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
  await page.goto(site_);
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
    await waitTitle(name);
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

  // A disk image (named as published): its song is listed by inner path and renders as the loose
  // song with its bank beside it does, the bank taken from inside the image.
  await input.uploadFile(path.join(corpus, 'images/BLUE_HELMET.FTA'));
  await waitTitle('BLUE.HELMET/INTRO/ECHO.MUS');
  const listed = await page.$$eval('#playlist li', (items) => items.map((li) => li.textContent));
  const looseEcho = nativeRender(path.join(corpus, 'wild/ECHO.MUS'));
  const fromImage = await saveWav();
  check(listed.some((text) => text.includes('BLUE.HELMET/INTRO/ECHO.MUS')) && sha(fromImage) === sha(looseEcho),
    `the image's ECHO.MUS is listed by inner path and renders as the loose song (${fromImage.length / 4} frames)`);

  // The same image inside a zip (deflated): the page's own zip reader and inflater.
  const zipped = path.join(artifacts, 'GAME.zip');
  execFileSync('python3', ['-c', 'import sys, zipfile; zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED).write(sys.argv[2], "GAME/BLUE_HELMET.FTA")',
    zipped, path.join(corpus, 'images/BLUE_HELMET.FTA')]);
  await input.uploadFile(zipped);
  await waitTitle('GAME/BLUE_HELMET.FTA/BLUE.HELMET/INTRO/ECHO.MUS');
  check(sha(await saveWav()) === sha(looseEcho), 'a zip holding the image: its ECHO.MUS renders as the loose song');
  // And gzipped, the image's name kept in the gzip header.
  const gzipped = path.join(artifacts, 'GAME.gz');
  fs.copyFileSync(path.join(corpus, 'images/BLUE_HELMET.FTA'), path.join(artifacts, 'DISK.FTA'));
  fs.writeFileSync(gzipped, execFileSync('gzip', ['-c', path.join(artifacts, 'DISK.FTA')]));
  await input.uploadFile(gzipped);
  await waitTitle('DISK.FTA/BLUE.HELMET/INTRO/ECHO.MUS');
  check(sha(await saveWav()) === sha(looseEcho), 'a gzipped image: its ECHO.MUS renders as the loose song');

  // A link to the image: its songs take its place in the playlist.
  fs.copyFileSync(path.join(corpus, 'images/BLUE_HELMET.FTA'), path.join(www, 'songs/BLUE_HELMET.FTA'));
  await page.goto(`${site_}?song=songs/BLUE_HELMET.FTA`);
  await waitTitle('songs/BLUE_HELMET.FTA/BLUE.HELMET/INTRO/ECHO.MUS');
  check(sha(await saveWav()) === sha(looseEcho), 'a linked image lists its songs, and its ECHO.MUS renders as the loose song');

  // A link: the song, its bank fetched beside it and nothing more, #t= as the start, played at once.
  requests.length = 0;
  const linked = Date.now();
  await page.goto(`${site_}?song=songs/ECHO.MTP&song=songs/GONE.MTP&song=nobank/ECHO.MTP#t=0:10`);
  await page.waitForSelector('body[data-first-sound]', { timeout: 10000 });
  console.log(`time from opening a link to the first sound: ${Date.now() - linked} ms seen by the test`);
  const songRequests = requests.filter((r) => /^\/(songs|nobank)\//.test(r));
  check(JSON.stringify(songRequests) === JSON.stringify(['/songs/ECHO.MTP 200', '/songs/ECHO.W 200']),
    `a link fetches the song and its bank only (${songRequests.join(', ')})`);
  check(await page.$eval('body', (b) => b.dataset.companions) === 'ECHO.W', 'the page took the fetched ECHO.W');
  await shows(echo, 'ECHO.MTP by link');
  const firstReport = (await reported())[0];
  check(firstReport?.frame === 441000, `#t=0:10 starts the worklet at frame 441000 (${firstReport?.frame})`);
  const metadata = await page.evaluate(() => ({ title: navigator.mediaSession.metadata?.title,
    artist: navigator.mediaSession.metadata?.artist, state: navigator.mediaSession.playbackState }));
  check(metadata.title === 'ECHO.MTP' && metadata.artist === 'SoundSmith' && metadata.state === 'playing',
    `Media Session: ${JSON.stringify(metadata)}`);
  const duration = nativeRender(echo).length / 4 / 44100;
  let position = await lastPosition();
  check(position?.duration === duration && position?.position === 10, `position state at load: ${JSON.stringify(position)}`);
  await page.click('#copy-link');
  const link = new URL(await page.$eval('#link', (e) => e.value));
  check(link.searchParams.get('song') === 'songs/ECHO.MTP' && /^#t=0:\d\d\.\d{3}$/.test(link.hash), `Copy link gives ${link.search}${link.hash}`);
  const linkSamples = await saveWav();
  check(sha(linkSamples) === sha(nativeRender(echo)), 'ECHO.MTP by link: the page\'s render equals the native one');

  // The order list: a click on position 3 lands on the first frame at which the place shows it.
  await page.click('#play');
  await page.click('#order button[data-position="3"]');
  await page.waitForFunction(() => window.reports.at(-1).seeked && window.reports.at(-1).type === 'status');
  const jumped = (await reported()).at(-1).frame;
  const starts = await page.evaluate(async () => {
    const { Engine, instantiate } = await import('/engine.js');
    const engine = new Engine(instantiate(await WebAssembly.compileStreaming(fetch('/trelmo.wasm'))));
    const data = await (await fetch('/songs/ECHO.MTP')).arrayBuffer();
    engine.load('ECHO.MTP', data, [{ name: 'ECHO.W', data: await (await fetch('/songs/ECHO.W')).arrayBuffer() }]);
    for (let frame = 0; engine.render(1).length; frame++) if (engine.place().position === 3) return frame;
    return -1;
  });
  check(jumped === starts, `a click on order position 3 seeks to frame ${jumped}, where the place turns to it (${starts})`);
  position = await lastPosition();
  check(position?.position === jumped / 44100, `the position state follows the jump (${position?.position} s)`);
  const heard = await record(1500, '#play');
  const native = fromFirstSound(nativeRender(echo, jumped));
  check(heard.length > 44100 && heard.every((v, i) => v === native[i]),
    `from there the worklet plays trelmo render --start ${jumped}'s samples (${heard.length / 2} frames compared)`);

  // Keys, as in trelmo play (outside text fields).
  await page.click('#title');
  await page.keyboard.press('1');
  check(await page.$eval('#track-heads .track', (e) => e.classList.contains('muted')), 'key 1 mutes track 1');
  await page.keyboard.press('a');
  check(!await page.$eval('#track-heads .track', (e) => e.classList.contains('muted')), 'key a brings all tracks back');
  await page.keyboard.press(' ');
  await sleep(300);
  const before = (await reported()).at(-1).frame;
  await page.keyboard.press('ArrowUp');
  await page.waitForFunction(() => window.reports.at(-1).seeked);
  const ahead = (await reported()).at(-1).frame;
  check(ahead === before + 30 * 44100, `space pauses, ↑ seeks 30 s ahead (${before} to ${ahead})`);
  await page.keyboard.press('?');
  check(await page.$eval('#help', (e) => e.open && e.textContent.includes('30 seconds back or ahead')), '? shows the keys');
  await page.keyboard.press('Escape');

  // Media Session actions; a song that cannot be fetched is marked; a song without its bank lists
  // what is missing.
  await page.evaluate(() => window.handlers.nexttrack());
  await page.waitForSelector('#playlist li.failed');
  check((await page.$eval('#status', (e) => e.textContent)).includes('GONE.MTP: could not be fetched (HTTP 404)'),
    'next: a song that cannot be fetched is marked failed, with why');
  await page.evaluate(() => window.handlers.nexttrack());
  await page.waitForFunction(() => !document.querySelector('#missing').hidden);
  await page.screenshot({ path: path.join(artifacts, 'link.png') });
  await page.setViewport({ width: 390, height: 844 });
  await page.screenshot({ path: path.join(artifacts, 'phone.png'), fullPage: true });
  await page.setViewport({ width: 1400, height: 1000 });
  const missing = await page.$eval('#missing', (e) => e.textContent);
  check(missing.includes('1 KILLERKICK') && missing.includes('/nobank/: ECHO.W'), `without its bank: "${missing.slice(0, 90)}…"`);
  await page.evaluate(() => window.handlers.seekto({ seekTime: 20 }));
  position = await lastPosition();
  check(position?.position === 20 && position?.duration === duration, `seekto: position state ${JSON.stringify(position)}`);
  await page.evaluate(() => window.handlers.previoustrack());
  await page.evaluate(() => window.handlers.previoustrack());
  await waitTitle('songs/ECHO.MTP');
  check(await page.evaluate(() => navigator.mediaSession.metadata?.title) === 'ECHO.MTP', 'previous: back to ECHO.MTP');

  // Another site's song, pasted into the address field: one line says why it cannot be had.
  await page.goto(site_);
  await page.waitForSelector('body[data-ready]');
  await page.type('#url', `http://localhost:${port}/songs/ECHO.MTP\n`);
  await page.waitForSelector('#playlist li.failed');
  const crossOrigin = await page.$eval('#status', (e) => e.textContent);
  check(crossOrigin.includes('Access-Control-Allow-Origin'), `cross-origin: "${crossOrigin}"`);

  // Settings survive a reload.
  await page.evaluate(() => {
    const set = (id, value, type) => {
      const e = document.getElementById(id);
      e.value = value;
      e.dispatchEvent(new Event(type));
    };
    set('separation', 40, 'input');
    set('loops', 2, 'change');
    set('fade', 5000, 'change');
    set('volume', 30, 'input');
  });
  await page.reload();
  await page.waitForSelector('body[data-ready]');
  const kept = await page.evaluate(() => ['separation', 'loops', 'fade', 'volume'].map((id) => document.getElementById(id).value));
  check(kept.join() === '40,2,5000,30', `settings kept over a reload (${kept})`);
  await page.evaluate(() => localStorage.clear());

  // A crowded folder: only the files the song asks for are read; a song larger than any is marked.
  const crowd = path.join(artifacts, 'crowd');
  fs.mkdirSync(crowd);
  // The song and bank under the names they carry on their disk, the bank with a ProDOS type suffix.
  fs.copyFileSync(path.join(corpus, 'wild/ECHO.MUS'), path.join(crowd, 'ECHO.MUS'));
  fs.copyFileSync(path.join(corpus, 'wild/ECHO.WAVE'), path.join(crowd, 'ECHO.WAVE#C10000'));
  const others = Array.from({ length: 60 }, (_, i) => path.join(crowd, `OTHER${i}.BIN`));
  for (const file of others) fs.writeFileSync(file, Buffer.alloc(1 << 20, 7));
  fs.writeFileSync(path.join(crowd, 'HUGE.MTP'), fs.readFileSync(echo).subarray(0, 16));
  fs.truncateSync(path.join(crowd, 'HUGE.MTP'), 65 << 20);
  await page.goto(site_);
  await page.waitForSelector('body[data-ready]');
  await (await page.$('#file-input')).uploadFile(...others, path.join(crowd, 'ECHO.MUS'), path.join(crowd, 'ECHO.WAVE#C10000'), path.join(crowd, 'HUGE.MTP'));
  await waitTitle('ECHO.MUS');
  const reads = await page.evaluate(() => window.fileReads);
  check(reads.join() === 'ECHO.MUS,ECHO.WAVE#C10000' && await page.$eval('#missing', (e) => e.hidden),
    `of 63 opened files, only the song and its bank are read, and every instrument found (${reads})`);
  await page.click('#playlist li:nth-child(3)');
  await page.waitForSelector('#playlist li.failed');
  const huge = await page.$eval('#status', (e) => e.textContent);
  check(huge.startsWith('HUGE.MTP: larger than 64 MB'), `a song too large is marked failed: "${huge}"`);

  // An engine that stops during a load (as one out of memory does): the song is marked, and the
  // next load runs on a new engine.
  await page.evaluate(async () => {
    const { Engine } = await import('/engine.js');
    const load = Engine.prototype.load;
    Engine.prototype.load = function () {
      Engine.prototype.load = load;
      throw new Error('the engine stopped (1)');
    };
  });
  await page.click('#playlist li:nth-child(2)');
  await page.waitForSelector('#playlist li:nth-child(2).failed');
  const stopped = await page.$eval('#status', (e) => e.textContent);
  await page.click('#playlist li:nth-child(2)');
  await page.waitForSelector('#playlist li:nth-child(2):not(.failed)');
  check(stopped === 'ECHO.MUS: the engine stopped (1)' && await page.$eval('#missing', (e) => e.hidden),
    `an engine that stops marks the song ("${stopped}"); chosen again, it loads`);

  // Installable, and offline once visited: with the server gone the page opens and plays a file.
  await page.evaluate(() => navigator.serviceWorker.ready);
  const installability = await cdp.send('Page.getInstallabilityErrors');
  check(installability.installabilityErrors.length === 0, `installable (${JSON.stringify(installability.installabilityErrors)})`);
  server.kill();
  await page.reload();
  await page.waitForSelector('body[data-ready]');
  await (await page.$('#file-input')).uploadFile(echo, path.join(corpus, 'soundsmith/ECHO.W'));
  await waitTitle('ECHO.MTP');
  await page.waitForSelector('body[data-first-sound]', { timeout: 10000 });
  check(await loudest(1000) > 0.01, 'with the server stopped, the page opens from its service worker and plays a file');
} finally {
  await browser.close();
  server.kill();
}
console.log(failures ? `${failures} check(s) failed` : 'all page checks passed');
process.exit(failures ? 1 : 0);
