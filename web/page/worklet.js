// SPDX-License-Identifier: BSD-3-Clause
// The audio thread's side of the player: the engine renders straight into each 128-frame quantum.
// Loading and option changes arrive as messages between quanta; the engine allocates nothing while a
// song plays and nothing here waits. Where the song is, and how loud each track is, goes back to the
// page about forty times a second.
import { Engine, instantiate, MAX_TRACKS } from './engine.js';

const REPORT_FRAMES = 1024;

class TrelmoProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.playing = false;
    this.loaded = false;
    this.heard = false;
    this.sinceReport = 0;
    this.levels = new Int32Array(MAX_TRACKS);
    this.place = {};
    this.module = options.processorOptions.module;
    this.renew();
    this.port.onmessage = (event) => {
      try {
        this.handle(event.data);
      } catch (error) {
        this.fail(error);
      }
    };
  }

  // A new engine: at the start, and after one threw (it may have been left half way through).
  renew() {
    this.playing = false;
    this.loaded = false;
    try {
      this.engine = new Engine(instantiate(this.module));
    } catch (error) {
      // The page learns nothing from processorerror but that the constructor failed.
      this.port.postMessage({ type: 'error', message: String(error.message ?? error) });
    }
  }

  fail(error) {
    this.renew();
    this.port.postMessage({ type: 'error', message: String(error.message ?? error) });
  }

  handle(message) {
    const engine = this.engine;
    switch (message.type) {
      case 'load': {
        this.playing = false;
        this.setOptions(message.options);
        const result = engine.load(message.name, message.data, message.files);
        this.loaded = result.status === 0;
        if (this.loaded && message.frame) engine.seek(message.frame);
        this.playing = this.loaded && message.play;
        this.heard = false;
        this.port.postMessage({ type: 'loaded', status: result.status, message: result.message });
        this.report(true);
        break;
      }
      case 'play':
        this.playing = this.loaded;
        break;
      case 'pause':
        this.playing = false;
        break;
      case 'seek':
        if (this.loaded) engine.seek(message.frame);
        this.report(true);
        break;
      case 'jump': {
        // The first frame of an order position in the pass this engine is playing.
        const frame = this.loaded ? engine.positionFrame(message.position) : -1;
        if (frame >= 0) engine.seek(frame);
        this.report(true);
        break;
      }
      case 'options':
        this.setOptions(message.options);
        if (this.loaded) this.report();
        break;
    }
  }

  setOptions(options) {
    if (!options) return;
    const engine = this.engine;
    if (options.loops !== undefined) engine.setLoops(options.loops);
    if (options.fade !== undefined) engine.setFade(options.fade);
    if (options.separation !== undefined) engine.setSeparation(options.separation);
    if (options.mute !== undefined) engine.setMuteMask(options.mute);
  }

  process(inputs, outputs) {
    if (!this.playing) return true;
    const [left, right] = outputs[0];
    let frames;
    try {
      frames = this.engine.renderFloat(left, right);
    } catch (error) {
      this.fail(error);
      return true;
    }
    if (!this.heard) {
      for (let i = 0; i < frames; i++) {
        if (left[i] !== 0 || right[i] !== 0) {
          this.heard = true;
          this.port.postMessage({ type: 'sound' });
          break;
        }
      }
    }
    this.sinceReport += left.length;
    if (frames < left.length) {
      this.playing = false;
      this.report();
      this.port.postMessage({ type: 'ended' });
    } else if (this.sinceReport >= REPORT_FRAMES) {
      this.report();
    }
    return true;
  }

  // seeked: the place moved other than by playing.
  report(seeked = false) {
    this.sinceReport = 0;
    const engine = this.engine;
    engine.place(this.place);
    engine.levels(this.levels);
    // The length too: a loop count changed while a song plays can move its end (see trelmo_set_loops).
    this.port.postMessage({ type: 'status', frame: engine.position(), place: this.place,
      levels: this.levels, playing: this.playing, seeked, length: engine.length() });
  }
}

registerProcessor('trelmo', TrelmoProcessor);
