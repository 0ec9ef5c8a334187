// SPDX-License-Identifier: BSD-3-Clause
// The page's service worker: it keeps the site's files, so that the page, once visited, opens and
// plays dropped files without a network, and can be installed as an app. The build writes the
// version (a hash of every file) and the list of files below (write_sw.cmake); a new version
// replaces the old files at once.
const CACHE = 'trelmo-dev';
const FILES = [];

self.addEventListener('install', (event) => {
  event.waitUntil((async () => {
    const cache = await caches.open(CACHE);
    await cache.addAll(['./', ...FILES]);
    await self.skipWaiting();
  })());
});

self.addEventListener('activate', (event) => {
  event.waitUntil((async () => {
    for (const key of await caches.keys()) if (key !== CACHE) await caches.delete(key);
    await self.clients.claim();
  })());
});

// The site's own files come from the cache (the page under any ?song= link too); everything else,
// songs by link included, from the network as usual.
self.addEventListener('fetch', (event) => {
  const url = new URL(event.request.url);
  if (event.request.method !== 'GET' || url.origin !== self.location.origin) return;
  const scope = new URL(self.registration.scope);
  const name = url.pathname.slice(scope.pathname.length);
  const page = event.request.mode === 'navigate' && (name === '' || name === 'index.html');
  if (!page && !FILES.includes(name)) return;
  event.respondWith((async () => {
    const cache = await caches.open(CACHE);
    return (await cache.match(page ? './' : name)) ?? fetch(event.request);
  })());
});
