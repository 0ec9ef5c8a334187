// The player page: the playlist, the transport, the options and the song's view. The page keeps one
// engine of its own for what it shows and saves (the song's facts, its patterns, WAV files); the
// audio worklet keeps another that plays. Both run the same WebAssembly module, compiled once here.
import { Engine, instantiate, SAMPLE_RATE } from './engine.js';
import { filesFromDrop, filesFromInput, readSong, songsAmong } from './files.js';
import { SongView } from './view.js';
import { MAX_WAV_FRAMES, renderWav } from './wav.js';

const $ = (id) => document.getElementById(id);
const SEEK_STEP_FRAMES = 5 * SAMPLE_RATE;

const state = {
  module: null,
  engine: null,         // the page's engine
  context: null,
  node: null,           // the worklet's node
  playlist: [],         // {name, fileName, data | file + companions, length, error}
  current: -1,          // the song the page shows
  inWorklet: -1,        // the song the worklet holds
  startFrame: 0,        // where a song not yet in the worklet starts
  playing: false,
  frame: 0,
  length: 0,
  seeking: false,
  options: { loops: 1, fade: 0, separation: 100, mute: 0 },
  tracks: 0,
  loadCount: 0,
};

const view = new SongView((track, solo) => setMute(track, solo));

function formatTime(frames, decimals = 1) {
  if (!Number.isFinite(frames)) return '∞';
  const seconds = frames / SAMPLE_RATE;
  const minutes = Math.floor(seconds / 60);
  const rest = (seconds - minutes * 60).toFixed(decimals).padStart(decimals ? decimals + 3 : 2, '0');
  return `${minutes}:${rest}`;
}

function showStatus(text) { $('status').textContent = text; }

// ---- audio --------------------------------------------------------------------------------------

// The context and the worklet are set up as soon as the page is ready, so that the first click
// only has to resume them (browsers start a context suspended until the user acts).
function prepareAudio() {
  state.audioReady ??= (async () => {
    const context = new AudioContext({ sampleRate: SAMPLE_RATE });
    await context.audioWorklet.addModule('worklet.js');
    const node = new AudioWorkletNode(context, 'trelmo', {
      numberOfInputs: 0,
      outputChannelCount: [2],
      processorOptions: { module: state.module },
    });
    node.port.onmessage = (event) => fromWorklet(event.data);
    node.onprocessorerror = () => showStatus('The audio thread stopped with an error.');
    node.connect(context.destination);
    state.context = context;
    state.node = node;
  })();
  return state.audioReady;
}

async function ensureAudio() {
  await prepareAudio();
  if (state.context.state !== 'running') await state.context.resume();
}

function toWorklet(message) { state.node?.port.postMessage(message); }

function fromWorklet(message) {
  switch (message.type) {
    case 'status':
      if (state.inWorklet !== state.current) return;
      state.frame = message.frame;
      if (!state.seeking) showPosition(message.frame);
      view.update(message.place, message.levels, state.options.mute);
      break;
    case 'sound':
      if (!document.body.dataset.firstSound) document.body.dataset.firstSound = performance.now().toFixed(0);
      break;
    case 'ended':
      state.playing = false;
      view.silence();
      if (state.current + 1 < state.playlist.length) select(state.current + 1, true);
      else showButtons();
      break;
    case 'loaded':
      if (message.status !== 0) showStatus('The audio thread could not load the song.');
      break;
    case 'error':
      showStatus(`Audio thread: ${message.message}`);
      break;
  }
}

// ---- songs --------------------------------------------------------------------------------------

// Shows song index on the page; with play, plays it from its start.
async function select(index, play) {
  const entry = state.playlist[index];
  if (!entry) return;
  const count = ++state.loadCount;
  let bytes;
  try {
    bytes = entry.bytes ?? (entry.bytes = await readSong(entry));
  } catch (error) {
    entry.error = `could not be read (${error.message})`;
  }
  if (count !== state.loadCount) return; // a later choice overtook this one
  state.current = index;
  state.playing = false;
  state.frame = 0;
  state.startFrame = 0;
  state.options.mute = 0;
  toWorklet({ type: 'pause' });
  view.silence();
  if (bytes) {
    const engine = state.engine;
    applyOptions(engine);
    const result = engine.load(entry.fileName, bytes.data, bytes.files);
    if (result.status === 0) {
      entry.error = null;
      // The worklet gets only the companion files the song took.
      entry.used = bytes.files.filter((file) => result.used.includes(file.name));
      showSong(entry, engine.info(), result.messages);
    } else {
      entry.error = result.message;
    }
  }
  showPlaylist();
  if (entry.error) {
    clearSong(`${entry.name}: ${entry.error}`);
    return;
  }
  showStatus('');
  if (play) await start();
  showButtons();
}

async function start() {
  try {
    await ensureAudio();
  } catch (error) {
    showStatus(`Sound cannot start here: ${error.message}`);
    return;
  }
  if (state.inWorklet !== state.current) {
    const entry = state.playlist[state.current];
    state.inWorklet = state.current;
    toWorklet({ type: 'load', name: entry.fileName, data: entry.bytes.data, files: entry.used,
      options: state.options, frame: state.startFrame, play: true });
  } else {
    if (state.frame >= state.length) seek(0);
    toWorklet({ type: 'play' });
  }
  state.playing = true;
  showButtons();
}

function pause() {
  toWorklet({ type: 'pause' });
  state.playing = false;
  view.silence();
  showButtons();
}

function togglePlay() {
  if (state.current < 0) return;
  if (state.playing) pause();
  else start();
}

function next(step = 1) {
  const index = state.current + step;
  if (index >= 0 && index < state.playlist.length) select(index, state.playing || step > 0);
}

function seek(frame) {
  frame = Math.max(0, Math.min(Math.round(frame), Number.isFinite(state.length) ? state.length : frame));
  state.frame = frame;
  if (state.inWorklet === state.current) toWorklet({ type: 'seek', frame });
  else state.startFrame = frame;
  showPosition(frame);
}

async function addFiles(opened) {
  const songs = await songsAmong(opened, (bytes) => state.engine.detect(bytes));
  if (songs.length === 0) {
    showStatus(`No SoundSmith or NoiseTracker GS song among the ${opened.length} file(s).`);
    return;
  }
  const first = state.playlist.length;
  for (const song of songs) {
    state.playlist.push({ name: song.folder ? `${song.folder}/${song.name}` : song.name, fileName: song.name,
      file: song.file, companions: song.companions });
  }
  showPlaylist();
  await select(first, true);
}

// ---- options ------------------------------------------------------------------------------------

function applyOptions(engine) {
  const { loops, fade, separation, mute } = state.options;
  engine.setLoops(loops);
  engine.setFade(fade);
  engine.setSeparation(separation);
  engine.setMuteMask(mute);
}

function optionsChanged(changes) {
  Object.assign(state.options, changes);
  applyOptions(state.engine);
  toWorklet({ type: 'options', options: changes });
  showLength();
}

function setMute(track, solo) {
  const all = (1 << state.tracks) - 1;
  const alone = all & ~(1 << track);
  let mute = state.options.mute;
  if (solo) mute = mute === alone ? 0 : alone;
  else mute ^= 1 << track;
  optionsChanged({ mute });
  document.querySelectorAll('#track-heads .track').forEach((head, t) => head.classList.toggle('muted', (mute >> t) & 1));
}

async function saveWav() {
  const entry = state.playlist[state.current];
  const engine = state.engine;
  const button = $('save');
  button.disabled = true;
  if (state.options.loops === 0) engine.setLoops(1); // a song played for ever is saved once through
  try {
    const blob = await renderWav(engine, (done) => { button.textContent = `Rendering ${Math.round(done * 100)}%`; });
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = entry.fileName.replace(/\.(mtp|ntg)$/i, '') + '.wav';
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    if (engine.length() > MAX_WAV_FRAMES) showStatus(`Saved the first ${formatTime(MAX_WAV_FRAMES, 0)} only.`);
  } catch (error) {
    showStatus(`Saving failed: ${error.message}`);
  }
  applyOptions(engine);
  button.textContent = 'Save as WAV';
  button.disabled = false;
}

// ---- showing ------------------------------------------------------------------------------------

function showPlaylist() {
  const list = $('playlist');
  list.textContent = '';
  state.playlist.forEach((entry, i) => {
    const item = document.createElement('li');
    item.className = i === state.current ? 'current' : '';
    item.textContent = entry.name;
    if (entry.length !== undefined) {
      const length = document.createElement('span');
      length.className = 'time';
      length.textContent = formatTime(entry.length, 0);
      item.append(length);
    }
    if (entry.error) item.classList.add('failed');
    item.addEventListener('click', () => select(i, true));
    list.append(item);
  });
}

function showButtons() {
  const ready = state.current >= 0 && !state.playlist[state.current].error;
  $('play').disabled = !ready;
  $('play').textContent = state.playing ? 'Pause' : 'Play';
  $('next').disabled = state.current + 1 >= state.playlist.length;
  $('save').disabled = !ready;
  $('seek').disabled = !ready;
}

function showPosition(frame) {
  $('elapsed').textContent = formatTime(frame);
  $('seek').value = frame;
}

function showLength() {
  state.length = state.engine.length();
  const entry = state.playlist[state.current];
  if (entry) entry.length = state.length;
  const onePass = state.engine.info()?.frames ?? 0;
  const shown = Number.isFinite(state.length) ? state.length : onePass;
  $('seek').max = shown;
  $('length').textContent = formatTime(state.length, 3);
  $('length').title = Number.isFinite(state.length) ? `${state.length} frames at 44100 Hz` : 'plays for ever';
  showPlaylist();
}

function clearSong(message) {
  $('title').textContent = 'No song';
  $('facts').textContent = '';
  $('missing').hidden = true;
  $('messages').hidden = true;
  document.querySelector('#instruments tbody').textContent = '';
  view.clear();
  showStatus(message);
  showButtons();
}

function showSong(entry, info, messages) {
  state.tracks = Math.min(info.tracks, 14);
  $('title').textContent = entry.name;
  const facts = [info.kindName + (info.form ? ` (${info.form})` : ''), `${info.tracks} tracks`,
    `${info.patterns} patterns`, `${info.positions} positions`,
    info.kind === 0 ? `speed ${info.speed}` : `tempo ${info.tempoWord}`];
  if (info.bankFile) facts.push(`wave bank ${info.bankFile}${info.bankUsed ? '' : ' (not usable)'}`);
  if (!info.ends) facts.push('never reaches its end: cut off');
  $('facts').textContent = facts.join(' · ');
  const missing = info.instruments.filter((instrument) => instrument.source === 0);
  $('missing').hidden = missing.length === 0;
  $('missing').textContent = missing.length === 0 ? '' :
    `Missing instruments (silent): ${missing.map((i) => `${i.number} ${i.name}`).join(', ')}.` +
    (info.lookedFor ? ` Looked for: ${info.lookedFor}. Drop them together with the song.` : '');
  const body = document.querySelector('#instruments tbody');
  body.textContent = '';
  for (const instrument of info.instruments) {
    const row = body.insertRow();
    row.className = instrument.source === 0 ? 'missing' : '';
    for (const value of [instrument.number, instrument.name, instrument.sourceName, instrument.file,
      instrument.length, instrument.loops ? `${instrument.loopStart}–${instrument.loopEnd}` : '—', instrument.volume]) {
      row.insertCell().textContent = value;
    }
  }
  $('messages').hidden = !messages;
  $('messages').textContent = messages;
  const engine = state.engine;
  view.setSong(info, engine.orderList(info.positions), (pattern) => engine.patternCells(pattern));
  showLength();
  showPosition(0);
}

// ---- wiring -------------------------------------------------------------------------------------

function wire() {
  $('play').addEventListener('click', togglePlay);
  $('next').addEventListener('click', () => next(1));
  $('demo').addEventListener('click', () => select(0, true));
  $('save').addEventListener('click', saveWav);
  $('file-input').addEventListener('change', (event) => addFiles(filesFromInput(event.target.files)));
  $('folder-input').addEventListener('change', (event) => addFiles(filesFromInput(event.target.files)));
  const seekBar = $('seek');
  seekBar.addEventListener('input', () => { state.seeking = true; $('elapsed').textContent = formatTime(+seekBar.value); });
  seekBar.addEventListener('change', () => { state.seeking = false; seek(+seekBar.value); });
  $('separation').addEventListener('input', (event) => {
    $('separation-value').textContent = `${event.target.value}%`;
    optionsChanged({ separation: +event.target.value });
  });
  $('loops').addEventListener('change', (event) => optionsChanged({ loops: +event.target.value }));
  $('fade').addEventListener('change', (event) => optionsChanged({ fade: +event.target.value }));

  document.addEventListener('keydown', (event) => {
    if (event.target.closest('select, input[type=text]') || event.ctrlKey || event.metaKey || event.altKey) return;
    const keys = {
      ' ': togglePlay,
      ArrowLeft: () => seek(state.frame - SEEK_STEP_FRAMES),
      ArrowRight: () => seek(state.frame + SEEK_STEP_FRAMES),
      ArrowUp: () => next(-1),
      ArrowDown: () => next(1),
      n: () => next(1),
    };
    const action = keys[event.key];
    if (!action) return;
    event.preventDefault();
    action();
  });

  const veil = $('drop-veil');
  document.addEventListener('dragover', (event) => { event.preventDefault(); veil.hidden = false; });
  document.addEventListener('dragleave', (event) => { if (!event.relatedTarget) veil.hidden = true; });
  document.addEventListener('drop', async (event) => {
    event.preventDefault();
    veil.hidden = true;
    addFiles(await filesFromDrop(event.dataTransfer));
  });
}

async function boot() {
  try {
    state.module = await WebAssembly.compileStreaming(fetch('trelmo.wasm'));
    state.engine = new Engine(instantiate(state.module));
    const demo = await (await fetch('first-light.ntg')).arrayBuffer();
    state.playlist.push({ name: 'First Light (demo)', fileName: 'FIRST.LIGHT.NTG', bytes: { data: demo, files: [] },
      used: [] });
  } catch (error) {
    showStatus(`The player could not start: ${error.message}`);
    return;
  }
  wire();
  await select(0, false);
  document.body.dataset.ready = 'yes';
  prepareAudio().catch((error) => showStatus(`Sound cannot start here: ${error.message}`));
}

boot();
