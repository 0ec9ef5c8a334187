// SPDX-License-Identifier: BSD-3-Clause
// The song as it plays, drawn like a tracker: the order list, the current pattern's rows scrolling
// past a fixed line, and a level meter on each track's head (click mutes, shift-click solos). A
// click on an order position jumps there.
import { NOTE_BREAK, NOTE_STOP } from './engine.js';

const NOTE_NAMES = ['C-', 'C#', 'D-', 'D#', 'E-', 'F-', 'F#', 'G-', 'G#', 'A-', 'A#', 'B-'];
const LEVEL_MAX = 255 * 128;
// A meter falls by this share of full scale per second, so short notes stay visible.
const METER_FALL = 1.5;

const hex = (value, digits) => value.toString(16).toUpperCase().padStart(digits, '0');

export function noteName(note) {
  if (note === 0) return '---';
  if (note === NOTE_STOP) return 'STP';
  if (note === NOTE_BREAK) return 'NXT';
  return NOTE_NAMES[(note - 1) % 12] + Math.floor((note - 1) / 12);
}

export function cellText(cell) {
  const instrument = cell.instrument ? String(cell.instrument).padStart(2, '0') : '..';
  const effect = cell.effect || cell.parameter ? hex(cell.effect, 1) + hex(cell.parameter, 2) : '...';
  return `${noteName(cell.note).padEnd(3)} ${instrument} ${effect}`;
}

export class SongView {
  // onTrack(track, solo) answers a click on a track, onPosition(position) one on the order list.
  constructor(onTrack, onPosition) {
    this.order = document.getElementById('order');
    this.heads = document.getElementById('track-heads');
    this.pattern = document.getElementById('pattern');
    this.onTrack = onTrack;
    this.onPosition = onPosition;
    this.clear();
    requestAnimationFrame((t) => this.animate(t));
  }

  clear() {
    this.order.textContent = '';
    this.heads.textContent = '';
    this.pattern.textContent = '';
    this.tracks = 0;
    this.shownPattern = -1;
    this.shownPosition = -1;
    this.rowElements = [];
    this.meters = [];
    this.levels = new Float32Array(14);
    this.targets = new Float32Array(14);
  }

  // cellsOf(pattern) gives a pattern's rows of cells.
  setSong(info, orderList, cellsOf) {
    this.clear();
    this.cellsOf = cellsOf;
    this.tracks = Math.min(info.tracks, 14);
    orderList.forEach((pattern, position) => {
      const item = document.createElement('button');
      item.textContent = String(pattern).padStart(2, '0');
      item.title = `Position ${position}: pattern ${pattern}. Click to play from here.`;
      item.dataset.position = position;
      item.addEventListener('click', () => this.onPosition(position));
      this.order.append(item);
    });
    const corner = document.createElement('div');
    corner.className = 'corner';
    this.heads.append(corner);
    for (let t = 0; t < this.tracks; t++) {
      const head = document.createElement('button');
      head.className = 'track';
      head.dataset.track = t;
      head.title = 'Click: mute or unmute. Shift-click: this track alone.';
      head.innerHTML = `<span class="label">Track ${t + 1}</span><span class="meter"><span></span></span>`;
      head.addEventListener('click', (event) => this.onTrack(t, event.shiftKey));
      this.heads.append(head);
      this.meters.push(head.querySelector('.meter span'));
    }
    this.showPattern(orderList.length > 0 ? orderList[0] : 0);
    this.update({ position: 0, pattern: this.shownPattern, row: 0, tick: 0 }, null, 0);
  }

  showPattern(pattern) {
    this.shownPattern = pattern;
    this.pattern.textContent = '';
    this.rowElements = this.cellsOf(pattern).map((cells, r) => {
      const row = document.createElement('div');
      row.className = r % 16 === 0 ? 'row bar' : r % 4 === 0 ? 'row beat' : 'row';
      const number = document.createElement('span');
      number.className = 'number';
      number.textContent = String(r).padStart(2, '0');
      row.append(number);
      for (const cell of cells) {
        const span = document.createElement('span');
        span.className = cell.note || cell.instrument || cell.effect || cell.parameter ? 'cell' : 'cell empty';
        span.textContent = cellText(cell);
        row.append(span);
      }
      this.pattern.append(row);
      return row;
    });
  }

  // place: where the song is; levels: the tracks' levels (or null); mute: the mute mask.
  update(place, levels, mute) {
    if (!place || this.tracks === undefined) return;
    if (place.pattern !== this.shownPattern) this.showPattern(place.pattern);
    if (place.position !== this.shownPosition) {
      this.order.children[this.shownPosition]?.classList.remove('current');
      const item = this.order.children[place.position];
      item?.classList.add('current');
      item?.scrollIntoView({ block: 'nearest', inline: 'center' });
      this.shownPosition = place.position;
    }
    this.current?.classList.remove('current');
    this.current = this.rowElements[place.row];
    this.current?.classList.add('current');
    // The current row stays on the middle line; the pattern moves under it.
    const rowHeight = this.current ? this.current.offsetHeight : 16;
    const middle = this.pattern.parentElement.clientHeight / 2 - rowHeight / 2;
    this.pattern.style.transform = `translateY(${Math.round(middle - place.row * rowHeight)}px)`;
    this.showMute(mute);
    if (levels) for (let t = 0; t < this.tracks; t++) this.targets[t] = Math.sqrt(levels[t] / LEVEL_MAX);
  }

  showMute(mute) {
    [...this.heads.querySelectorAll('.track')].forEach((head, t) => head.classList.toggle('muted', (mute >> t) & 1));
  }

  // Meters rise at once and fall slowly.
  animate(time) {
    const seconds = this.lastTime === undefined ? 0 : Math.min(0.1, (time - this.lastTime) / 1000);
    this.lastTime = time;
    for (let t = 0; t < this.meters.length; t++) {
      const target = this.targets[t];
      this.levels[t] = target >= this.levels[t] ? target : Math.max(target, this.levels[t] - METER_FALL * seconds);
      this.meters[t].style.width = `${(this.levels[t] * 100).toFixed(1)}%`;
    }
    requestAnimationFrame((t) => this.animate(t));
  }

  // Stops the meters when playback stops.
  silence() { this.targets.fill(0); }
}
