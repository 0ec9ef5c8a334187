// SPDX-License-Identifier: BSD-3-Clause
// "Save as WAV": the song rendered on the page, by the page's own engine, into a 44100 Hz 16-bit
// stereo WAV file. The render runs in slices so the page stays responsive.
import { SAMPLE_RATE } from './engine.js';

const SLICE_SECONDS = 0.05;
// A damaged song that never ends is measured up to a limit of hours; a file is cut off here.
export const MAX_WAV_FRAMES = 20 * 60 * SAMPLE_RATE;

function header(dataBytes) {
  const view = new DataView(new ArrayBuffer(44));
  const text = (offset, s) => [...s].forEach((c, i) => view.setUint8(offset + i, c.charCodeAt(0)));
  text(0, 'RIFF');
  view.setUint32(4, 36 + dataBytes, true);
  text(8, 'WAVE');
  text(12, 'fmt ');
  view.setUint32(16, 16, true);
  view.setUint16(20, 1, true); // PCM
  view.setUint16(22, 2, true);
  view.setUint32(24, SAMPLE_RATE, true);
  view.setUint32(28, SAMPLE_RATE * 4, true);
  view.setUint16(32, 4, true);
  view.setUint16(34, 16, true);
  text(36, 'data');
  view.setUint32(40, dataBytes, true);
  return view.buffer;
}

// Renders the engine's song from its start to its end; progress(fraction) is called now and then.
// Returns a Blob holding the WAV file. The engine's options decide the sound and the length.
export async function renderWav(engine, progress) {
  if (!Number.isFinite(engine.length())) throw new Error('a song that plays for ever has no end to save');
  const total = Math.min(engine.length(), MAX_WAV_FRAMES);
  engine.seek(0);
  const pcm = new Int16Array(total * 2);
  let done = 0;
  let ended = false;
  while (done < total && !ended) {
    const sliceEnd = performance.now() + SLICE_SECONDS * 1000;
    while (done < total && !ended && performance.now() < sliceEnd) {
      const chunk = engine.render(total - done);
      pcm.set(chunk, done * 2);
      done += chunk.length / 2;
      ended = chunk.length === 0;
    }
    progress(done / total);
    await new Promise((resolve) => setTimeout(resolve, 0));
  }
  engine.seek(0);
  return new Blob([header(done * 4), pcm.subarray(0, done * 2)], { type: 'audio/wav' });
}
