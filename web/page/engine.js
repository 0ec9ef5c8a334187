// SPDX-License-Identifier: BSD-3-Clause
// The Trelmo engine as a JavaScript object, over the WebAssembly module built from the same sources
// as the native library. Used on the page (song facts, pattern cells, WAV rendering) and in the audio
// worklet (playback), so it touches nothing that only one of those scopes has (no TextDecoder there).

export const SAMPLE_RATE = 44100;
export const PATTERN_ROWS = 64;
export const MAX_TRACKS = 14;
export const NOTE_STOP = -1;
export const NOTE_BREAK = -2;
export const SOURCE_NAMES = ['missing', 'wave bank', 'ASIF file', 'song'];

// The glue's slot order for a song's description and for one instrument (web/wasm_glue.cpp).
const INFO_SLOTS = ['kind', 'kindName', 'form', 'patterns', 'positions', 'speed', 'tempoWord', 'tempo',
  'tracks', 'bankFile', 'bankUsed', 'bankInCurrentFolder', 'instrumentCount', 'missingCount',
  'lookedFor', 'ends'];
const INFO_STRINGS = new Set(['kindName', 'form', 'bankFile', 'lookedFor']);
const INSTRUMENT_SLOTS = ['number', 'name', 'source', 'file', 'length', 'loopStart', 'loopEnd', 'loops',
  'volume'];
const INSTRUMENT_STRINGS = new Set(['name', 'file']);

// sizeof(trelmo_place) in the 32-bit module: its size member and four ints.
const PLACE_SIZE = 20;

// The largest render asked of the engine at once; the scratch buffer is allocated once for it.
const CHUNK_FRAMES = 4096;

// Instantiates a compiled module. The engine reads songs only from bytes handed to it, but the
// library's code for songs on disk is linked all the same: its few system calls (open, read, stat,
// list a folder) are never reached here and answer "not supported" should they be.
const ENOSYS = 52;
export function instantiate(module) {
  const imports = { env: { emscripten_notify_memory_growth() {} }, wasi_snapshot_preview1: {} };
  for (const { module: from, name, kind } of WebAssembly.Module.imports(module)) {
    if (kind !== 'function' || imports[from]?.[name]) continue;
    imports[from] ??= {};
    imports[from][name] = name === 'proc_exit' ? (code) => { throw new Error(`the engine stopped (${code})`); }
      : from === 'wasi_snapshot_preview1' ? () => ENOSYS : () => -ENOSYS;
  }
  return new WebAssembly.Instance(module, imports).exports;
}

export class Engine {
  constructor(exports) {
    this.x = exports;
    if (this.x._initialize) this.x._initialize();
    this.handle = this.x.trelmo_create();
    if (!this.handle) throw new Error('the engine could not be created');
    // Scratch memory taken once: sound, description slots, a place, levels and a pattern's cells.
    this.soundPtr = this.alloc(CHUNK_FRAMES * 4);
    this.slotsPtr = this.alloc(64 * 4);
    this.cellsPtr = this.alloc(PATTERN_ROWS * MAX_TRACKS * 16);
  }

  alloc(bytes) {
    const p = this.x.malloc(bytes);
    if (!p) throw new Error('out of memory');
    return p;
  }

  // A load may grow the memory, which detaches every view on it: views are made afresh for one-off
  // reads, and the ones the audio thread uses on every quantum are remade only after a growth.
  i32(ptr, count) { return new Int32Array(this.x.memory.buffer, ptr, count); }

  views() {
    if (this.buffer !== this.x.memory.buffer) {
      this.buffer = this.x.memory.buffer;
      this.pcm = new Int16Array(this.buffer, this.soundPtr, CHUNK_FRAMES * 2);
      this.slots = new Int32Array(this.buffer, this.slotsPtr, 64);
    }
  }

  // The library's texts are UTF-8 (names decoded once, in the library); decoded here by hand, since
  // the worklet has no TextDecoder.
  string(ptr) {
    if (!ptr) return '';
    const bytes = new Uint8Array(this.x.memory.buffer);
    let text = '';
    for (let i = ptr; bytes[i] !== 0;) {
      const b = bytes[i];
      const n = b < 0x80 ? 1 : b >= 0xf0 ? 4 : b >= 0xe0 ? 3 : b >= 0xc0 ? 2 : 1;
      let code = n === 1 ? b : b & (0x7f >> n);
      for (let k = 1; k < n; k++) code = (code << 6) | (bytes[i + k] & 0x3f);
      text += String.fromCodePoint(code);
      i += n;
    }
    return text;
  }

  putString(text) {
    const p = this.alloc(text.length + 1);
    const bytes = new Uint8Array(this.x.memory.buffer, p, text.length + 1);
    for (let i = 0; i < text.length; i++) {
      const c = text.charCodeAt(i);
      bytes[i] = c < 256 ? c : 63; // '?': IIgs names are 8-bit
    }
    bytes[text.length] = 0;
    return p;
  }

  putBytes(data) {
    const bytes = new Uint8Array(data);
    const p = this.alloc(Math.max(1, bytes.length));
    new Uint8Array(this.x.memory.buffer, p, bytes.length).set(bytes);
    return p;
  }

  // True when the bytes (the first 16 are enough) begin like a song.
  detect(bytes) {
    const p = this.putBytes(bytes);
    const song = this.x.trelmo_detect(p, bytes.byteLength) === 1;
    this.x.free(p);
    return song;
  }

  // Loads a song from its bytes; files are [{name, data}], each registered under the name the
  // library asks for. Returns {status, message, messages, asked}: asked lists every companion name
  // the load asked for, in order, found or not.
  load(name, data, files = []) {
    this.x.web_files_clear();
    for (const file of files) {
      const namePtr = this.putString(file.name);
      const dataPtr = this.putBytes(file.data);
      this.x.web_file_add(namePtr, dataPtr, file.data.byteLength);
      this.x.free(namePtr);
      this.x.free(dataPtr);
    }
    const namePtr = this.putString(name);
    const dataPtr = this.putBytes(data);
    const status = this.x.web_load(this.handle, dataPtr, data.byteLength, namePtr);
    this.x.free(namePtr);
    this.x.free(dataPtr);
    this.x.web_files_clear();
    const asked = [];
    for (let i = 0, n = this.x.web_asked_count(); i < n; i++) asked.push(this.string(this.x.web_asked_name(i)));
    return { status, message: this.string(this.x.trelmo_status_message(status)),
      messages: this.string(this.x.web_messages()), asked };
  }

  // Which of names stands for the companion name wanted, by the library's rule (case, ProDOS type
  // suffixes): an index into names, or -1.
  matchFileName(wanted, names) {
    const wantedPtr = this.putString(wanted);
    const pointers = names.map((name) => this.putString(name));
    const listPtr = this.alloc(Math.max(1, pointers.length) * 4);
    this.i32(listPtr, pointers.length).set(pointers);
    const index = this.x.trelmo_match_file_name(wantedPtr, listPtr, pointers.length);
    for (const p of [wantedPtr, listPtr, ...pointers]) this.x.free(p);
    return index;
  }

  // The library's size limits: {song, companion, container} in bytes.
  limits() {
    return { song: this.x.web_max_song_bytes(), companion: this.x.web_max_companion_bytes(),
      container: this.x.web_max_container_bytes() };
  }

  // True when the bytes (a 140K disk's worth is enough) begin like a disk image or archive.
  looksLikeContainer(bytes) {
    const p = this.putBytes(bytes);
    const container = this.x.web_looks_like_container(p, bytes.byteLength) === 1;
    this.x.free(p);
    return container;
  }

  // Opens a disk image or archive, closing the one before (one is open at a time, in this
  // module). Returns {songs: [inner path]} or {error}.
  openContainer(name, data) {
    const namePtr = this.putString(name);
    const dataPtr = this.putBytes(data);
    const count = this.x.web_container_open(dataPtr, data.byteLength, namePtr);
    this.x.free(namePtr);
    this.x.free(dataPtr);
    if (count < 0) return { error: this.string(this.x.web_container_error()) };
    const songs = [];
    for (let i = 0; i < count; i++) songs.push(this.string(this.x.web_container_song_path(i)));
    return { songs };
  }

  extracted() {
    return new Uint8Array(this.x.memory.buffer, this.x.web_extracted(), this.x.web_extracted_size()).slice().buffer;
  }

  // The bytes of song number song of the open container; throws with the reason.
  containerSong(song) {
    if (this.x.web_container_song(song) !== 1) throw new Error(this.string(this.x.web_container_error()));
    return this.extracted();
  }

  // The file of that song's folder that stands for the companion name, as the library picks it
  // inside a container; undefined when there is none.
  containerCompanion(song, name) {
    const namePtr = this.putString(name);
    const found = this.x.web_container_companion(song, namePtr) === 1;
    this.x.free(namePtr);
    return found ? this.extracted() : undefined;
  }

  // The frame at which an order position starts in the pass being played, or -1.
  positionFrame(position) { return this.x.web_position_frame(this.handle, position); }

  info() {
    const count = this.x.web_info(this.handle, this.slotsPtr);
    if (count === 0) return null;
    const slots = this.i32(this.slotsPtr, count);
    const info = {};
    INFO_SLOTS.forEach((key, i) => { info[key] = INFO_STRINGS.has(key) ? this.string(slots[i]) : slots[i]; });
    info.frames = this.x.web_pass_frames(this.handle);
    info.instruments = [];
    for (let i = 0; i < info.instrumentCount; i++) {
      const n = this.x.web_instrument(this.handle, i, this.slotsPtr);
      const s = this.i32(this.slotsPtr, n);
      const instrument = {};
      INSTRUMENT_SLOTS.forEach((key, j) => {
        instrument[key] = INSTRUMENT_STRINGS.has(key) ? this.string(s[j]) : s[j] >>> 0;
      });
      instrument.sourceName = SOURCE_NAMES[instrument.source] || '?';
      info.instruments.push(instrument);
    }
    return info;
  }

  // Frames as the options play the song; Infinity when it loops for ever.
  length() {
    const frames = this.x.web_length(this.handle);
    return frames < 0 ? Infinity : frames;
  }

  position() { return this.x.web_position(this.handle); }
  seek(frame) { return this.x.web_seek(this.handle, frame); }

  setLoops(count) { return this.x.trelmo_set_loops(this.handle, count); }
  setFade(milliseconds) { return this.x.trelmo_set_fade(this.handle, milliseconds); }
  setSeparation(percent) { return this.x.trelmo_set_stereo_separation(this.handle, percent); }
  setMuteMask(mask) { return this.x.trelmo_set_mute_mask(this.handle, mask); }

  // Renders up to frames (at most CHUNK_FRAMES) frames; returns an Int16Array view of them,
  // interleaved, valid until the next call. Allocates nothing but the view object.
  render(frames) {
    const n = this.x.trelmo_render(this.handle, this.soundPtr, Math.min(frames, CHUNK_FRAMES));
    return new Int16Array(this.x.memory.buffer, this.soundPtr, n * 2);
  }

  // Renders into two float channels (the worklet's output), padding with silence after the end.
  // Returns the frames the song gave.
  renderFloat(left, right) {
    const frames = Math.min(left.length, CHUNK_FRAMES);
    const n = this.x.trelmo_render(this.handle, this.soundPtr, frames);
    this.views();
    const pcm = this.pcm;
    for (let i = 0; i < n; i++) {
      left[i] = pcm[2 * i] / 32768;
      right[i] = pcm[2 * i + 1] / 32768;
    }
    left.fill(0, n);
    right.fill(0, n);
    return n;
  }

  // {position, pattern, row, tick}, into out when given.
  place(out = {}) {
    this.views();
    const s = this.slots;
    s[0] = PLACE_SIZE; // the record's size member, set by the caller
    if (this.x.trelmo_get_place(this.handle, this.slotsPtr) !== 0) return null;
    out.position = s[1];
    out.pattern = s[2];
    out.row = s[3];
    out.tick = s[4];
    return out;
  }

  orderList(positions) {
    const list = [];
    for (let i = 0; i < positions; i++) list.push(this.x.trelmo_order_pattern(this.handle, i));
    return list;
  }

  // A pattern's cells: rows of {note, instrument, effect, parameter}, one per track.
  patternCells(pattern) {
    const n = this.x.trelmo_pattern_cells(this.handle, pattern, this.cellsPtr, PATTERN_ROWS * MAX_TRACKS, 16);
    if (n <= 0) return [];
    const s = this.i32(this.cellsPtr, n * 4);
    const tracks = n / PATTERN_ROWS;
    const rows = [];
    for (let r = 0; r < PATTERN_ROWS; r++) {
      const row = [];
      for (let t = 0; t < tracks; t++) {
        const c = (r * tracks + t) * 4;
        row.push({ note: s[c], instrument: s[c + 1], effect: s[c + 2], parameter: s[c + 3] });
      }
      rows.push(row);
    }
    return rows;
  }

  // Each track's level into out (an Int32Array of MAX_TRACKS).
  levels(out) {
    this.x.trelmo_track_levels(this.handle, this.slotsPtr, MAX_TRACKS);
    this.views();
    for (let i = 0; i < MAX_TRACKS; i++) out[i] = this.slots[i];
    return out;
  }
}
