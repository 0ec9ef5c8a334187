// SPDX-License-Identifier: BSD-3-Clause
// The playlist: songs from the demo, from opened files, from disk images and archives, and from
// links, and how each one's bytes and companion files are had. An entry is {name, fileName, kind:
// 'demo' | 'file' | 'container' | 'url', url (for the demo and links), file with besideSong and
// shared (for opened files), container and song (for a song inside one), data and files once read,
// length, error}.
import { fetchFailure, fileSource, loadWithCompanions, megabytes, readLimited, urlSource } from './companions.js';
import { state } from './state.js';

export function addDemo(url) {
  state.playlist.push({ name: 'First Light (demo)', fileName: 'FIRST.LIGHT.NTG', kind: 'demo',
    url: new URL(url, location.href).href });
}

// Songs found among opened files (files.js); returns the index of the first.
export function addFileSongs(songs) {
  const first = state.playlist.length;
  for (const song of songs) {
    state.playlist.push({ name: song.folder ? `${song.folder}/${song.name}` : song.name, fileName: song.name,
      kind: 'file', file: song.file, besideSong: song.besideSong, shared: song.shared });
  }
  return first;
}

// The songs of an opened disk image or archive ({name, data}, data its bytes), each titled by its
// inner path; returns the index of the first.
export function addContainerSongs(container, songs) {
  const first = state.playlist.length;
  songs.forEach((path, song) => {
    state.playlist.push({ name: path, fileName: path.slice(path.lastIndexOf('/') + 1), kind: 'container',
      container, song });
  });
  return first;
}

// The container that engine has open, so that choosing its songs one after another reads it once.
const openIn = new WeakMap();
function openContainer(entry, engine) {
  if (openIn.get(engine) === entry.container) return;
  const opened = engine.openContainer(entry.container.name, entry.container.data);
  if (opened.error) throw new Error(opened.error);
  openIn.set(engine, entry.container);
}

function decoded(text) {
  try {
    return decodeURIComponent(text);
  } catch {
    return text;
  }
}

// Songs by URL (absolute, or relative to the page); returns the index of the first, or -1 when no
// text was a URL the page can fetch.
export function addUrls(texts) {
  const first = state.playlist.length;
  for (const text of texts) {
    let url;
    try {
      url = new URL(text.trim(), location.href);
    } catch {
      continue;
    }
    if (url.protocol !== 'http:' && url.protocol !== 'https:') continue;
    url.hash = '';
    // The file name is the path's last part; it is shown with its folder, so that songs of one
    // name in different folders stay apart.
    const parts = url.pathname.split('/').filter(Boolean).map(decoded);
    const fileName = parts.at(-1) ?? url.hostname;
    const name = parts.slice(-2).join('/') || fileName;
    state.playlist.push({ name, fileName, kind: 'url', url: url.href });
  }
  return state.playlist.length > first ? first : -1;
}

// The song's own bytes, read once.
async function songBytes(entry, limit, engine) {
  if (entry.data) return entry.data;
  if (entry.kind === 'container') {
    entry.data = engine.containerSong(entry.song);
    return entry.data;
  }
  if (entry.kind === 'file') {
    if (entry.file.size > limit) throw new Error(`larger than ${megabytes(limit)}, more than any song`);
    entry.data = await entry.file.arrayBuffer();
    return entry.data;
  }
  let response;
  try {
    response = await fetch(entry.url);
  } catch (error) {
    throw new Error(fetchFailure(entry.url, error));
  }
  if (!response.ok) throw new Error(`could not be fetched (HTTP ${response.status})`);
  entry.data = await readLimited(response, limit);
  return entry.data;
}

function sourceOf(entry, limit, engine) {
  const match = (wanted, names) => engine.matchFileName(wanted, names);
  if (entry.kind === 'file') return fileSource(entry.besideSong, entry.shared, limit, match);
  if (entry.kind === 'url') return urlSource(entry.url, limit);
  if (entry.kind === 'container') {
    return {
      where: `in ${entry.container.name}`,
      get: async (name) => {
        openContainer(entry, engine);
        const data = engine.containerCompanion(entry.song, name);
        return data ? { data } : { missing: true };
      },
    };
  }
  return { where: '', get: async () => ({ missing: true }) };
}

// Loads the entry's song into engine, with the companions it asks for. Returns the load's result
// ({status, message, messages, files, notes}) and where companions were looked for; throws when the
// song itself cannot be had.
export async function loadEntry(entry, engine) {
  const limits = engine.limits();
  if (entry.kind === 'container') openContainer(entry, engine);
  const data = await songBytes(entry, limits.song, engine);
  // A link to a disk image or archive stands for its songs: they take its place in the playlist.
  if (entry.kind === 'url' && !engine.detect(new Uint8Array(data, 0, Math.min(16, data.byteLength))) &&
      engine.looksLikeContainer(new Uint8Array(data))) {
    const container = { name: entry.fileName, data };
    const listed = engine.openContainer(container.name, data);
    if (listed.error) throw new Error(listed.error);
    if (listed.songs.length === 0) throw new Error('no SoundSmith or NoiseTracker GS song in it');
    const songs = listed.songs.map((path, song) => ({ name: `${entry.name}/${path}`,
      fileName: path.slice(path.lastIndexOf('/') + 1), kind: 'container', container, song }));
    state.playlist.splice(state.playlist.indexOf(entry), 1, ...songs);
    openIn.set(engine, container);
    return loadEntry(songs[0], engine);
  }
  // Each name is looked for once per entry: choosing the song again fetches nothing again.
  const source = sourceOf(entry, limits.companion, engine);
  entry.answers ??= new Map();
  const get = source.get;
  source.get = async (name) => {
    if (!entry.answers.has(name)) entry.answers.set(name, await get(name));
    return entry.answers.get(name);
  };
  const result = await loadWithCompanions(engine, entry.fileName, data, source);
  entry.files = result.files;
  return { ...result, where: source.where };
}
