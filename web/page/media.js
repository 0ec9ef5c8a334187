// SPDX-License-Identifier: BSD-3-Clause
// The system's media controls (media keys, the lock screen, a phone's notification): what plays,
// and play, pause, next, previous and seeking from there. The position is told again whenever it
// moves other than by playing (a seek, another song, a new length), and with play and pause, so
// that the system's own clock stays right.
import { SAMPLE_RATE } from './engine.js';
import { next, pause, seek, seekBy, start } from './player.js';
import { on, state } from './state.js';

export function wireMediaSession() {
  const session = navigator.mediaSession;
  if (!session) return;
  const handlers = {
    play: start,
    pause,
    stop: () => { pause(); seek(0); },
    nexttrack: () => next(1),
    previoustrack: () => next(-1),
    seekto: (details) => seek(details.seekTime * SAMPLE_RATE),
    seekbackward: (details) => seekBy(-(details.seekOffset || 5)),
    seekforward: (details) => seekBy(details.seekOffset || 5),
  };
  for (const [action, handler] of Object.entries(handlers)) {
    try {
      session.setActionHandler(action, handler);
    } catch {
      // An action this browser does not know.
    }
  }

  const tellPosition = () => {
    const entry = state.playlist[state.current];
    if (!entry || entry.error || !state.length) return;
    const duration = state.length / SAMPLE_RATE;
    session.setPositionState({ duration, playbackRate: 1, position: Math.min(state.frame / SAMPLE_RATE, duration) });
  };

  on('song', ({ entry, info }) => {
    session.metadata = info ? new MediaMetadata({
      title: entry.name.replace(/^.*\//, ''),
      artist: info.kindName,
      album: 'Trelmo',
      artwork: [{ src: 'icon.svg', sizes: 'any', type: 'image/svg+xml' }],
    }) : null;
  });
  on('length', tellPosition);
  on('position', ({ seeked }) => { if (seeked) tellPosition(); });
  on('transport', () => {
    session.playbackState = state.playing ? 'playing' : 'paused';
    tellPosition();
  });
}
