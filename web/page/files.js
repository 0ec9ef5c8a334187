// Files the user opens or drops, with the folder each came from. A song's companion files (its wave
// bank, DOC.DATA, its ASIF instruments) are looked for among the files of its own folder, as the
// plug-in looks beside the song; a DOC.DATA at the top of what was dropped stands in for the
// plug-in's current folder. The engine itself matches the names, without regard to case.

// Larger files are neither songs nor companions: a wave bank is 64 KB, a song a few hundred.
const LARGEST_FILE = 16 * 1024 * 1024;

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

// Splits opened files into songs, each with the files that may be its companions.
// isSong(bytes) tells a song by its first 16 bytes.
export async function songsAmong(opened, isSong) {
  const usable = opened.filter(({ file }) => file.size <= LARGEST_FILE);
  const flags = await Promise.all(usable.map(async ({ file }) =>
    isSong(new Uint8Array(await file.slice(0, 16).arrayBuffer()))));
  const songs = usable.filter((_, i) => flags[i]);
  const others = usable.filter((_, i) => !flags[i]);
  const topFolder = usable.reduce((top, { folder }) =>
    (top === null || folder.length < top.length ? folder : top), null);
  const sharedBank = others.filter((f) => f.folder === topFolder && f.file.name.toUpperCase() === 'DOC.DATA');
  return songs
    .sort((a, b) => (a.folder + '/' + a.file.name).localeCompare(b.folder + '/' + b.file.name))
    .map(({ file, folder }) => {
      const companions = others.filter((f) => f.folder === folder);
      if (!companions.some((f) => f.file.name.toUpperCase() === 'DOC.DATA')) companions.push(...sharedBank);
      return { name: file.name, folder, file, companions: companions.map((f) => f.file) };
    });
}

// The bytes of a song and of its companions, ready for Engine.load.
export async function readSong(entry) {
  const data = await entry.file.arrayBuffer();
  const files = await Promise.all(entry.companions.map(async (file) =>
    ({ name: file.name, data: await file.arrayBuffer() })));
  return { data, files };
}
