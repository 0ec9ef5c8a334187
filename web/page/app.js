// SPDX-License-Identifier: BSD-3-Clause
// The player page: what it shows and how its controls, links and keys reach the player. The parts:
// state.js (what the page knows, kept settings), audio.js (the audio graph), playlist.js and
// companions.js (songs and the files they ask for), player.js (the transport), keys.js, media.js
// (the system's media controls), view.js (the tracker view), wav.js; the worklet plays.
import { prepareAudio, setVolume } from './audio.js';
import { Engine, instantiate } from './engine.js';
import { containersAmong, filesFromDrop, filesFromInput, songsAmong } from './files.js';
import { wireKeys } from './keys.js';
import { wireMediaSession } from './media.js';
import * as player from './player.js';
import { addContainerSongs, addDemo, addFileSongs, addUrls } from './playlist.js';
import { formatTime, loadSettings, on, parseTime, saveSettings, state } from './state.js';
import { SongView } from './view.js';
import { MAX_WAV_FRAMES, renderWav } from './wav.js';

const $ = (id) => document.getElementById(id);

const view = new SongView((track, solo) => player.setMute(track, solo), (position) => player.jumpTo(position));
let dragging = false; // the seek bar is being dragged: the clock shows the thumb

function showStatus(text) { $('status').textContent = text ?? ''; }

// ---- showing ------------------------------------------------------------------------------------

function showPlaylist() {
  const list = $('playlist');
  list.textContent = '';
  state.playlist.forEach((entry, i) => {
    const item = document.createElement('li');
    item.className = i === state.current ? 'current' : '';
    item.textContent = entry.name;
    if (entry.error) {
      item.classList.add('failed');
      item.title = entry.error;
    } else if (entry.length !== undefined) {
      const length = document.createElement('span');
      length.className = 'time';
      length.textContent = formatTime(entry.length, 0);
      item.append(length);
    }
    item.addEventListener('click', () => player.select(i, true));
    list.append(item);
  });
}

function showButtons() {
  const entry = state.playlist[state.current];
  const ready = entry && !entry.error;
  $('play').disabled = !ready;
  $('play').textContent = state.playing ? 'Pause' : 'Play';
  $('previous').disabled = state.current <= 0;
  $('next').disabled = state.current + 1 >= state.playlist.length;
  $('save').disabled = !ready;
  $('seek').disabled = !ready;
  $('copy-link').disabled = !ready || !entry.url;
  $('copy-link').title = entry?.url ? 'Copy a link to this song at this place' : 'Only songs opened by a link can be linked';
}

function showPosition(frame) {
  if (dragging) return;
  $('elapsed').textContent = formatTime(frame);
  $('seek').value = frame;
}

function showLength() {
  const onePass = state.engine.info()?.frames ?? 0;
  $('seek').max = Number.isFinite(state.length) ? state.length : onePass;
  $('length').textContent = formatTime(state.length, 3);
  $('length').title = Number.isFinite(state.length) ? `${state.length} frames at 44100 Hz` : 'plays for ever';
}

function clearSong() {
  $('title').textContent = 'No song';
  $('facts').textContent = '';
  $('missing').hidden = true;
  $('messages').hidden = true;
  document.querySelector('#instruments tbody').textContent = '';
  view.clear();
}

function showSong({ entry, info, loaded }) {
  $('link').hidden = true;
  if (!info) {
    clearSong();
    return;
  }
  $('title').textContent = entry.name;
  const facts = [info.kindName + (info.form ? ` (${info.form})` : ''), `${info.tracks} tracks`,
    `${info.patterns} patterns`, `${info.positions} positions`,
    info.kind === 0 ? `speed ${info.speed}` : `tempo ${info.tempoWord}`];
  if (info.bankFile) facts.push(`wave bank ${info.bankFile}${info.bankUsed ? '' : ' (not usable)'}`);
  if (!info.ends) facts.push('never reaches its end: cut off');
  $('facts').textContent = facts.join(' · ');
  const missing = info.instruments.filter((instrument) => instrument.source === 0);
  $('missing').hidden = missing.length === 0;
  const hint = entry.kind === 'url' ? `Looked for ${loaded.where}: ${info.lookedFor}.`
    : `Looked for: ${info.lookedFor}. Drop them together with the song.`;
  $('missing').textContent = missing.length === 0 ? '' :
    `Missing instruments (silent): ${missing.map((i) => `${i.number} ${i.name}`).join(', ')}.` +
    (info.lookedFor ? ` ${hint}` : '');
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
  const fetched = entry.files.map((file) => file.name);
  document.body.dataset.companions = fetched.join('\n');
  $('messages').hidden = !loaded.messages;
  $('messages').textContent = loaded.messages;
  const engine = state.engine;
  view.setSong(info, engine.orderList(info.positions), (pattern) => engine.patternCells(pattern));
  showPosition(0);
}

// ---- links ----------------------------------------------------------------------------------------

// A link to the playing song at the place it is: ?song=URL#t=m:ss.sss, the song's URL relative
// to the page when it lives on the page's own site.
function linkToHere() {
  const entry = state.playlist[state.current];
  const page = new URL(location.pathname, location.href);
  const song = new URL(entry.url);
  const sameSite = song.origin === page.origin && song.pathname.startsWith(page.pathname.replace(/[^/]*$/, ''));
  page.searchParams.set('song', sameSite ? song.pathname.slice(page.pathname.replace(/[^/]*$/, '').length) : song.href);
  return `${page.href}#t=${formatTime(state.frame, 3)}`;
}

async function copyLink() {
  const link = linkToHere();
  $('link').value = link;
  $('link').hidden = false;
  try {
    await navigator.clipboard.writeText(link);
    showStatus('Link copied.');
  } catch {
    $('link').select();
    showStatus('Copy the link from the field above.');
  }
}

// The songs and start time a link asks for: ?song=URL (one or more) and #t=TIME.
async function openLink() {
  const songs = new URLSearchParams(location.search).getAll('song');
  if (songs.length === 0) return false;
  const first = addUrls(songs);
  if (first < 0) {
    showStatus('The link names no song that can be fetched (http or https).');
    return false;
  }
  const time = /(?:^#|&)t=([^&]*)/.exec(location.hash)?.[1];
  const frame = time ? parseTime(decodeURIComponent(time)) : 0;
  if (frame === null) showStatus(`"${time}" is not a time: the song starts at its beginning.`);
  await player.select(first, false, frame ?? 0);
  await player.startIfAllowed();
  if (!state.playing && !state.playlist[first].error) showStatus('Press Play (or space) to listen.');
  return true;
}

async function openUrlField(event) {
  event.preventDefault();
  const first = addUrls([$('url').value]);
  if (first < 0) {
    showStatus('That is not an http or https address.');
    return;
  }
  $('url').value = '';
  await player.select(first, true);
}

// ---- controls -----------------------------------------------------------------------------------

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
  engine.setLoops(state.options.loops);
  button.textContent = 'Save as WAV';
  button.disabled = false;
}

// Songs among the opened files, and the songs inside the disk images and archives among them.
async function addFiles(opened) {
  const engine = state.engine;
  const songs = await songsAmong(opened, (bytes) => engine.detect(bytes));
  const notes = [];
  let first = songs.length ? addFileSongs(songs) : -1;
  const songFiles = new Set(songs.map((song) => song.file));
  const containers = await containersAmong(opened.filter(({ file }) => !songFiles.has(file)),
    (bytes) => engine.looksLikeContainer(bytes), engine.limits().container);
  for (const { name, data, error } of containers) {
    const listed = error ? { error } : engine.openContainer(name, data);
    if (listed.error) notes.push(`${name}: ${listed.error}`);
    else if (listed.songs.length === 0) notes.push(`${name}: no SoundSmith or NoiseTracker GS song in it.`);
    else {
      const at = addContainerSongs({ name, data }, listed.songs);
      if (first < 0) first = at;
    }
  }
  if (first < 0) {
    showStatus(notes.join(' ') || `No SoundSmith or NoiseTracker GS song among the ${opened.length} file(s).`);
    return;
  }
  showPlaylist();
  await player.select(first, true);
}

function toggleHelp() {
  const help = $('help');
  if (help.open) help.close();
  else help.showModal();
}

// The kept settings into the controls and the player.
function applySettings() {
  const kept = loadSettings();
  Object.assign(state.options, ...['separation', 'loops', 'fade'].filter((k) => k in kept).map((k) => ({ [k]: kept[k] })));
  state.volume = kept.volume ?? state.volume;
  $('separation').value = state.options.separation;
  $('separation-value').textContent = `${state.options.separation}%`;
  $('loops').value = state.options.loops;
  $('fade').value = state.options.fade;
  $('volume').value = state.volume;
  setVolume(state.volume);
}

function wire() {
  on('song', (song) => { showSong(song); showPlaylist(); showButtons(); });
  on('playlist', showPlaylist);
  on('transport', () => { showButtons(); if (!state.playing) view.silence(); });
  on('length', showLength);
  on('options', () => view.showMute(state.options.mute));
  on('status', showStatus);
  on('position', ({ frame, place, levels }) => {
    showPosition(frame);
    if (place) view.update(place, levels, state.options.mute);
  });

  $('play').addEventListener('click', player.togglePlay);
  $('next').addEventListener('click', () => player.next(1));
  $('previous').addEventListener('click', () => player.next(-1));
  $('demo').addEventListener('click', () => player.select(0, true));
  $('save').addEventListener('click', saveWav);
  $('copy-link').addEventListener('click', copyLink);
  $('help-button').addEventListener('click', toggleHelp);
  $('url-form').addEventListener('submit', openUrlField);
  $('file-input').addEventListener('change', (event) => addFiles(filesFromInput(event.target.files)));
  $('folder-input').addEventListener('change', (event) => addFiles(filesFromInput(event.target.files)));
  const seekBar = $('seek');
  seekBar.addEventListener('input', () => { dragging = true; $('elapsed').textContent = formatTime(+seekBar.value); });
  seekBar.addEventListener('change', () => { dragging = false; player.seek(+seekBar.value); });
  $('separation').addEventListener('input', (event) => {
    $('separation-value').textContent = `${event.target.value}%`;
    player.optionsChanged({ separation: +event.target.value });
  });
  $('loops').addEventListener('change', (event) => player.optionsChanged({ loops: +event.target.value }));
  $('fade').addEventListener('change', (event) => player.optionsChanged({ fade: +event.target.value }));
  $('volume').addEventListener('input', (event) => {
    state.volume = +event.target.value;
    setVolume(state.volume);
    saveSettings();
  });
  wireKeys($('key-list'), toggleHelp);
  wireMediaSession();

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
  } catch (error) {
    showStatus(`The player could not start: ${error.message}`);
    return;
  }
  addDemo('first-light.ntg');
  wire();
  applySettings();
  const audio = prepareAudio(state.module, player.fromWorklet)
    .catch((error) => showStatus(`Sound cannot start here: ${error.message}`));
  if ('serviceWorker' in navigator) {
    navigator.serviceWorker.register('sw.js').catch(() => { /* the page works without it, online */ });
  }
  await audio;
  if (!(await openLink())) await player.select(0, false);
  document.body.dataset.ready = 'yes';
}

boot();
