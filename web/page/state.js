// SPDX-License-Identifier: BSD-3-Clause
// What the page knows: the player's state, the settings kept between visits, times as the page
// writes and reads them, and the events by which the other parts learn of changes.
import { SAMPLE_RATE } from './engine.js';

export const state = {
  module: null,         // the compiled engine, shared with the worklet
  engine: null,         // the page's engine: the song's facts, its patterns, WAV files
  playlist: [],         // entries: see playlist.js
  current: -1,          // the song the page shows
  inWorklet: -1,        // the song the worklet holds
  startFrame: 0,        // where a song not yet in the worklet starts
  playing: false,
  frame: 0,
  length: 0,
  tracks: 0,
  options: { loops: 1, fade: 0, separation: 100, mute: 0 },
  volume: 100,          // percent
};

// The page tells its parts what happened: 'song' (another song shown), 'position', 'transport'
// (play or pause), 'options', 'length', 'playlist', 'status' (a message).
export const events = new EventTarget();
export function emit(type, detail) { events.dispatchEvent(new CustomEvent(type, { detail })); }
export function on(type, listener) { events.addEventListener(type, (event) => listener(event.detail)); }

// ---- settings kept in localStorage ----------------------------------------------------------------

const SETTINGS_KEY = 'trelmo.settings';
const CHOICES = {
  separation: (v) => Number.isInteger(v) && v >= 0 && v <= 100,
  loops: (v) => [0, 1, 2, 3].includes(v),
  fade: (v) => [0, 2000, 5000, 10000].includes(v),
  volume: (v) => Number.isInteger(v) && v >= 0 && v <= 100,
};

// The kept settings, each only when it is one the page offers; storage may be refused (private
// windows, file: pages): the defaults then stay.
export function loadSettings() {
  let kept = {};
  try {
    kept = JSON.parse(localStorage.getItem(SETTINGS_KEY)) ?? {};
  } catch {
    kept = {};
  }
  const settings = {};
  for (const [key, valid] of Object.entries(CHOICES)) if (valid(kept[key])) settings[key] = kept[key];
  return settings;
}

export function saveSettings() {
  const { separation, loops, fade } = state.options;
  try {
    localStorage.setItem(SETTINGS_KEY, JSON.stringify({ separation, loops, fade, volume: state.volume }));
  } catch {
    // Not kept; the page works the same.
  }
}

// ---- times ----------------------------------------------------------------------------------------

export function formatTime(frames, decimals = 1) {
  if (!Number.isFinite(frames)) return '∞';
  const seconds = frames / SAMPLE_RATE;
  const minutes = Math.floor(seconds / 60);
  const rest = (seconds - minutes * 60).toFixed(decimals).padStart(decimals ? decimals + 3 : 2, '0');
  return `${minutes}:${rest}`;
}

// A time as trelmo's --start reads it, seconds ("83.5") or minutes:seconds ("1:23.5"), in frames;
// null when the text is not one.
export function parseTime(text) {
  const match = /^(?:(\d+):)?(\d+(?:\.\d*)?)$/.exec(text.trim());
  if (!match) return null;
  const seconds = Number(match[2]);
  if (match[1] !== undefined && seconds >= 60) return null;
  return Math.round((Number(match[1] ?? 0) * 60 + seconds) * SAMPLE_RATE);
}
