// SPDX-License-Identifier: BSD-3-Clause
// Files the user opens or drops, with the folder each came from. A song's companion files (its wave
// bank, DOC.DATA, its ASIF instruments) are looked for among the files of its own folder, as the
// plug-in looks beside the song; a DOC.DATA at the top of what was dropped stands in for the
// plug-in's current folder. Only the first bytes of each file are read here, to tell songs; a
// companion is read when its song asks for it (companions.js).

function folderOf(path) {
  const slash = path.lastIndexOf('/');
  return slash < 0 ? '' : path.slice(0, slash);
}

// From an <input type=file> (a folder picker fills webkitRelativePath).
export function filesFromInput(fileList) {
  return [...fileList].map((file) => ({ file, folder: folderOf(file.webkitRelativePath || '') }));
}

function readAll(reader) {
  return new Promise((resolve, reject) => {
    const entries = [];
    const next = () => reader.readEntries((batch) => {
      if (batch.length === 0) resolve(entries);
      else { entries.push(...batch); next(); }
    }, reject);
    next();
  });
}

async function walk(entry, out) {
  if (entry.isFile) {
    const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
    out.push({ file, folder: folderOf(entry.fullPath.replace(/^\//, '')) });
  } else if (entry.isDirectory) {
    for (const child of await readAll(entry.createReader())) await walk(child, out);
  }
}

// From a drop: files and whole folders, walked to the bottom.
export async function filesFromDrop(dataTransfer) {
  const entries = [...dataTransfer.items]
    .map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null))
    .filter(Boolean);
  if (entries.length === 0) return filesFromInput(dataTransfer.files);
  const out = [];
  for (const entry of entries) await walk(entry, out);
  return out;
}

// Splits opened files into songs, each with the files of its folder (besideSong) and of the top
// folder (shared). isSong(bytes) tells a song by its first 16 bytes.
export async function songsAmong(opened, isSong) {
  const flags = await Promise.all(opened.map(async ({ file }) =>
    isSong(new Uint8Array(await file.slice(0, 16).arrayBuffer()))));
  const songs = opened.filter((_, i) => flags[i]);
  const others = opened.filter((_, i) => !flags[i]);
  const topFolder = opened.reduce((top, { folder }) =>
    (top === null || folder.length < top.length ? folder : top), null);
  const shared = others.filter((f) => f.folder === topFolder).map((f) => f.file);
  return songs
    .sort((a, b) => (a.folder + '/' + a.file.name).localeCompare(b.folder + '/' + b.file.name))
    .map(({ file, folder }) => ({ name: file.name, folder, file,
      besideSong: others.filter((f) => f.folder === folder).map((f) => f.file), shared }));
}

// The disk images and archives among opened files that are not songs: [{name, data} or {name,
// error}]. looksLikeContainer(bytes) tells one by its first bytes (a 140K disk's worth); only those
// are then read whole, up to limit bytes.
const CONTAINER_PROBE_BYTES = 143360 + 1;
export async function containersAmong(opened, looksLikeContainer, limit) {
  const found = [];
  for (const { file, folder } of opened) {
    const name = folder ? `${folder}/${file.name}` : file.name;
    if (!looksLikeContainer(new Uint8Array(await file.slice(0, CONTAINER_PROBE_BYTES).arrayBuffer()))) continue;
    if (file.size > limit) found.push({ name, error: `larger than ${Math.round(limit / 1048576)} MB` });
    else found.push({ name, data: await file.arrayBuffer() });
  }
  return found;
}
