// SPDX-License-Identifier: BSD-3-Clause
// The audio graph: the worklet that plays (worklet.js), a gain for the volume, the speakers. The
// context and the worklet are set up as soon as the page is ready, so that the first click only has
// to resume them (browsers start a context suspended until the user acts).
import { SAMPLE_RATE } from './engine.js';

let ready = null;
let context = null;
let node = null;
let gain = null;
let volume = 1;

// The slider's percent to a gain: squared, so that the lower half of the slider is not nearly all
// of what can be heard.
const gainOf = (percent) => (percent / 100) ** 2;

// Builds the graph once; onMessage receives the worklet's messages.
export function prepareAudio(module, onMessage) {
  ready ??= (async () => {
    context = new AudioContext({ sampleRate: SAMPLE_RATE });
    await context.audioWorklet.addModule('worklet.js');
    node = new AudioWorkletNode(context, 'trelmo', {
      numberOfInputs: 0,
      outputChannelCount: [2],
      processorOptions: { module },
    });
    node.port.onmessage = (event) => onMessage(event.data);
    node.onprocessorerror = () => onMessage({ type: 'error', message: 'the audio thread stopped' });
    gain = new GainNode(context, { gain: volume });
    node.connect(gain).connect(context.destination);
  })();
  return ready;
}

// Resolves once sound can be heard: after a click, or at once where the browser lets a page play.
export async function resumeAudio() {
  await ready;
  if (context.state !== 'running') await context.resume();
}

// True when sound can start without a click: the context runs, or resumes within a moment (a
// browser that wants a click first leaves it suspended).
export async function audioAllowed() {
  await ready;
  if (context.state === 'running') return true;
  context.resume().catch(() => {});
  await new Promise((resolve) => setTimeout(resolve, 300));
  return context.state === 'running';
}

export function toWorklet(message) { node?.port.postMessage(message); }

export function setVolume(percent) {
  volume = gainOf(percent);
  gain?.gain.setTargetAtTime(volume, context.currentTime, 0.01);
}
