// SPDX-License-Identifier: BSD-3-Clause
// The transport: choosing a song, play, pause, seeking, jumping to an order position, the options
// and muting. The page's engine describes the chosen song; the worklet's engine plays it. Whatever
// fails (a song that cannot be had, an engine that stops) marks the song's entry and says why.
import { audioAllowed, resumeAudio, toWorklet } from './audio.js';
import { Engine, instantiate, SAMPLE_RATE } from './engine.js';
import { loadEntry } from './playlist.js';
import { emit, saveSettings, state } from './state.js';

let loadCount = 0;

function applyOptions(engine) {
  const { loops, fade, separation, mute } = state.options;
  engine.setLoops(loops);
  engine.setFade(fade);
  engine.setSeparation(separation);
  engine.setMuteMask(mute);
}

// An engine that threw may have been left half way through a change: the page starts a new one.
function renewEngine() {
  state.engine = new Engine(instantiate(state.module));
  applyOptions(state.engine);
}

function fail(index, message) {
  const entry = state.playlist[index];
  if (!entry) {
    emit('status', message);
    return;
  }
  entry.error = message;
  if (index === state.inWorklet) state.inWorklet = -1;
  if (index === state.current) {
    state.playing = false;
    toWorklet({ type: 'pause' });
    emit('song', { entry, info: null });
    emit('transport');
  }
  emit('playlist');
  emit('status', `${entry.name}: ${message}`);
}

// Shows song index; with play, plays it. frame is where it starts.
export async function select(index, play, frame = 0) {
  let entry = state.playlist[index];
  if (!entry) return;
  const count = ++loadCount;
  state.current = index;
  state.playing = false;
  toWorklet({ type: 'pause' });
  emit('status', `Loading ${entry.name}…`);
  let loaded = null;
  try {
    applyOptions(state.engine);
    loaded = await loadEntry(entry, state.engine);
    if (loaded.status !== 0) throw new Error(loaded.message);
    // A linked image or archive has just been replaced by its songs.
    if (state.playlist[index] !== entry) emit('playlist');
    entry = state.playlist[index];
    entry.error = null;
  } catch (error) {
    if (count !== loadCount) return;
    if (error instanceof WebAssembly.RuntimeError || /engine|memory/.test(error.message)) renewEngine();
    fail(index, error.message);
    return;
  }
  if (count !== loadCount) return; // a later choice overtook this one
  state.frame = 0;
  state.startFrame = 0;
  state.options.mute = 0;
  state.engine.setMuteMask(0);
  const info = state.engine.info();
  state.tracks = Math.min(info.tracks, 14);
  emit('song', { entry, info, loaded });
  emit('status', loaded.notes.join(' '));
  showLength();
  if (frame > 0) seek(frame);
  if (play) await start();
  emit('transport');
}

export async function start() {
  if (state.current < 0 || state.playlist[state.current].error) return;
  try {
    await resumeAudio();
  } catch (error) {
    emit('status', `Sound cannot start here: ${error.message}`);
    return;
  }
  if (state.inWorklet !== state.current) {
    const entry = state.playlist[state.current];
    state.inWorklet = state.current;
    toWorklet({ type: 'load', name: entry.fileName, data: entry.data, files: entry.files,
      options: state.options, frame: state.startFrame, play: true });
  } else {
    if (state.frame >= state.length) seek(0);
    toWorklet({ type: 'play' });
  }
  state.playing = true;
  emit('transport');
}

// Where the browser lets a page sound without a click, a song opened by a link starts at once.
export async function startIfAllowed() {
  if (await audioAllowed()) await start();
}

export function pause() {
  toWorklet({ type: 'pause' });
  state.playing = false;
  emit('transport');
}

export function togglePlay() {
  if (state.playing) pause();
  else start();
}

export function next(step = 1) {
  const index = state.current + step;
  if (index >= 0 && index < state.playlist.length) select(index, state.playing || step > 0);
}

export function seek(frame) {
  const end = Number.isFinite(state.length) ? state.length : Infinity;
  frame = Math.max(0, Math.min(Math.round(frame), end));
  state.frame = frame;
  if (state.inWorklet === state.current) toWorklet({ type: 'seek', frame });
  else state.startFrame = frame;
  emit('position', { frame, seeked: true });
}

export function seekBy(seconds) { seek(state.frame + seconds * SAMPLE_RATE); }

// Jumps to the first frame of an order position in the pass being played. The engine that holds
// the place answers: the worklet's once the song plays there, the page's before.
export function jumpTo(position) {
  if (state.current < 0) return;
  if (state.inWorklet === state.current) {
    toWorklet({ type: 'jump', position });
    return;
  }
  state.engine.seek(state.startFrame);
  const frame = state.engine.positionFrame(position);
  state.engine.seek(0);
  if (frame >= 0) seek(frame);
}

// The length as the page's engine has it, or as the playing engine reports it: a loop count changed
// while a song plays can move its end (see trelmo_set_loops).
function showLength(length = state.engine.length()) {
  state.length = length;
  const entry = state.playlist[state.current];
  if (entry) entry.length = state.length;
  emit('length');
  emit('playlist');
}

export function optionsChanged(changes) {
  Object.assign(state.options, changes);
  applyOptions(state.engine);
  toWorklet({ type: 'options', options: changes });
  emit('options');
  showLength();
  saveSettings();
}

export function setMuteMask(mute) {
  optionsChanged({ mute: mute & ((1 << state.tracks) - 1) });
}

// A click mutes or unmutes a track; with solo, the track plays alone (or all play again).
export function setMute(track, solo) {
  const all = (1 << state.tracks) - 1;
  const alone = all & ~(1 << track);
  const mute = state.options.mute;
  setMuteMask(solo ? (mute === alone ? 0 : alone) : mute ^ (1 << track));
}

// What the worklet reports.
export function fromWorklet(message) {
  switch (message.type) {
    case 'status':
      if (state.inWorklet !== state.current) return;
      state.frame = message.frame;
      if (message.length !== state.length) showLength(message.length);
      emit('position', { frame: message.frame, place: message.place, levels: message.levels,
        seeked: message.seeked });
      break;
    case 'sound':
      if (!document.body.dataset.firstSound) document.body.dataset.firstSound = performance.now().toFixed(0);
      break;
    case 'ended':
      if (state.inWorklet !== state.current) return;
      state.playing = false;
      emit('transport');
      if (state.current + 1 < state.playlist.length) select(state.current + 1, true);
      break;
    case 'loaded':
      if (message.status !== 0) fail(state.inWorklet, `the audio thread could not load it (${message.message})`);
      break;
    case 'error':
      fail(state.inWorklet, `the audio thread stopped: ${message.message}`);
      break;
  }
}
