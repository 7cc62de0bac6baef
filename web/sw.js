// Lets a copy of the page served over http(s) open without a network: every file of the page
// is kept in the browser's cache, and taken from there when the network fails. The network
// comes first, so that a new version of the page is seen as soon as it is served.
'use strict';

const CACHE = 'tonbrix-page';
// The page's files, filled in by the build.
const FILES = [@TONBRIX_PAGE_CACHE@];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(['./', ...FILES]))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(self.clients.claim());
});

self.addEventListener('fetch', (event) => {
  const request = event.request;
  // A ?tape= link elsewhere is the person's business, not the page's cache.
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) {
    return;
  }
  event.respondWith((async () => {
    const cache = await caches.open(CACHE);
    try {
      const response = await fetch(request);
      if (response.ok && FILES.some((file) => request.url.endsWith(`/${file}`))) {
        await cache.put(request, response.clone());
      }
      return response;
    } catch (error) {
      // The page's address may carry ?tape=: the page itself is the same.
      const kept = await cache.match(request, { ignoreSearch: true });
      if (kept) {
        return kept;
      }
      throw error;
    }
  })());
});
