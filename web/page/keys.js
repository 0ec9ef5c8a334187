// SPDX-License-Identifier: BSD-3-Clause
// The keys: the map of `trelmo play` (space, the arrows, n, the track keys, a), with p for the
// previous song and ? for this list. The help box is written from the same map.
import { next, seekBy, setMuteMask, togglePlay } from './player.js';
import { state } from './state.js';

// The keys that mute tracks 1 to 14, in order, as in the terminal.
export const TRACK_KEYS = '1234567890-=[]';

const toggleTrack = (track) => setMuteMask(state.options.mute ^ (1 << track));

// [keys shown, what it does, the event keys, action]
export function keyMap(toggleHelp) {
  return [
    ['space', 'play or pause', [' '], togglePlay],
    ['← →', '5 seconds back or ahead', ['ArrowLeft', 'ArrowRight'], (key) => seekBy(key === 'ArrowLeft' ? -5 : 5)],
    ['↓ ↑', '30 seconds back or ahead', ['ArrowDown', 'ArrowUp'], (key) => seekBy(key === 'ArrowDown' ? -30 : 30)],
    ['n p', 'next or previous song', ['n', 'N', 'p', 'P'], (key) => next(key.toLowerCase() === 'n' ? 1 : -1)],
    ['1 … 9, 0, -, =, [, ]', 'mute or unmute track 1 … 14', [...TRACK_KEYS], (key) => toggleTrack(TRACK_KEYS.indexOf(key))],
    ['a', 'all tracks on again', ['a', 'A'], () => setMuteMask(0)],
    ['?', 'show or hide these keys', ['?'], toggleHelp],
  ];
}

// Answers key presses outside text fields, and fills the help box's list.
export function wireKeys(helpList, toggleHelp) {
  const map = keyMap(toggleHelp);
  const actions = new Map();
  for (const [shown, what, keys, action] of map) {
    for (const key of keys) actions.set(key, action);
    const term = document.createElement('dt');
    term.textContent = shown;
    const description = document.createElement('dd');
    description.textContent = what;
    helpList.append(term, description);
  }
  document.addEventListener('keydown', (event) => {
    if (event.target.closest('select, input:not([type=range]), textarea') || event.ctrlKey || event.metaKey ||
      event.altKey) return;
    const action = actions.get(event.key);
    if (!action) return;
    event.preventDefault();
    action(event.key);
  });
}
