// SPDX-License-Identifier: BSD-3-Clause
// A song's companion files (its wave bank, DOC.DATA, its ASIF instruments), found by the names the
// library asks for and only those: the song is loaded, every name it asked for and that is not yet
// known is looked for in turn, and the song is loaded again after each find, since what it asks next
// can depend on what it found. A file is read only when its name is asked, so a folder crowded with
// other files costs nothing. Sources answer get(name) with {data} or {missing, reason}.

// The one place the page matches a name the library asks for to the files it has: by the library's
// own rule (letters in either case, ProDOS type suffixes such as GOLF.WAVE#060000), through
// match(wanted, names), which answers an index into names or -1. Returns the file or undefined.
export function pickFile(match, files, asked) {
  return files[match(asked, files.map((file) => file.name))];
}

export const megabytes = (bytes) => `${Math.round(bytes / 1048576)} MB`;

// Files the user opened: those of the song's own folder, then the top folder's as the shared place
// a DOC.DATA may also be (the plug-in's current folder).
export function fileSource(besideSong, shared, limit, match) {
  return {
    where: 'among the opened files',
    async get(name) {
      const file = pickFile(match, besideSong, name) ??
        (pickFile(match, [{ name: 'DOC.DATA' }], name) ? pickFile(match, shared, name) : undefined);
      if (!file) return { missing: true };
      if (file.size > limit) return { missing: true, reason: `${file.name} is larger than ${megabytes(limit)}` };
      return { data: await file.arrayBuffer() };
    },
  };
}

// Why a fetch failed, in one line. The browser says no more than "failed to fetch" when another
// site does not allow this page to read its files, so the likely causes are named.
export function fetchFailure(url, error) {
  const other = new URL(url, location.href).origin !== location.origin;
  return other
    ? `${url} could not be fetched: its server does not let other sites read it (it must send ` +
      'Access-Control-Allow-Origin), or it cannot be reached.'
    : `${url} could not be fetched (${error.message}).`;
}

// Reads a response's body, refusing one larger than limit bytes before reading it all.
export async function readLimited(response, limit) {
  const declared = Number(response.headers.get('Content-Length'));
  if (declared > limit) throw new RangeError(`larger than ${megabytes(limit)}`);
  const reader = response.body.getReader();
  const chunks = [];
  let size = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (done) break;
    size += value.byteLength;
    if (size > limit) {
      reader.cancel();
      throw new RangeError(`larger than ${megabytes(limit)}`);
    }
    chunks.push(value);
  }
  const bytes = new Uint8Array(size);
  let at = 0;
  for (const chunk of chunks) {
    bytes.set(chunk, at);
    at += chunk.byteLength;
  }
  return bytes.buffer;
}

// Files beside a song on a web server. A server's names have one spelling, so a name is tried as the
// song spells it, then in upper and in lower case; the first that exists wins.
export function urlSource(songUrl, limit) {
  const folder = new URL('.', songUrl);
  return {
    where: `at ${folder.href}`,
    async get(name) {
      for (const spelling of new Set([name, name.toUpperCase(), name.toLowerCase()])) {
        const url = new URL(encodeURIComponent(spelling), folder).href;
        let response;
        try {
          response = await fetch(url);
        } catch (error) {
          return { missing: true, reason: fetchFailure(url, error) };
        }
        if (response.status === 404 || response.status === 410) continue;
        if (!response.ok) return { missing: true, reason: `${url}: HTTP ${response.status}` };
        try {
          return { data: await readLimited(response, limit), fetched: spelling };
        } catch (error) {
          return { missing: true, reason: `${url}: ${error.message}` };
        }
      }
      return { missing: true };
    },
  };
}

// Loads a song into engine with what source has of the names it asks for. Returns the last load's
// result with files (what was found, as [{name, data}]) and notes (why some were not).
export async function loadWithCompanions(engine, fileName, data, source) {
  const found = new Map();
  const known = new Set();
  const notes = [];
  for (;;) {
    const result = engine.load(fileName, data, [...found.values()]);
    let foundOne = false;
    for (const name of result.asked) {
      if (known.has(name)) continue;
      known.add(name);
      const answer = await source.get(name);
      if (answer.reason) notes.push(answer.reason);
      if (answer.data) {
        found.set(name, { name, data: answer.data });
        foundOne = true;
        break;
      }
    }
    if (!foundOne) return { ...result, files: [...found.values()], notes };
  }
}
