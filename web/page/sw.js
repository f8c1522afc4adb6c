// The page's service worker. It keeps one release of the page, its module and its clips, so
// that after the first visit the game starts without a network, and it serves them with the
// cross-origin isolation headers that the game's shared memory needs, whatever the host sends.
// build.sh writes the release's name and its files (each with the start of its SHA-256) in.
'use strict';

const kRelease = '@RELEASE@';
const kFiles = '@FILES@';
const kCache = 'vesquin-' + kRelease;
const kDownloadsAtOnce = 3;
const scope = self.registration.scope;
const kept = new Map(kFiles.map(([file, digest]) => [new URL(file, scope).href, digest]));

async function digestOf(bytes) {
  const hash = new Uint8Array(await crypto.subtle.digest('SHA-256', bytes));
  return Array.from(hash.subarray(0, 8), (b) => b.toString(16).padStart(2, '0')).join('');
}

// Every file of this release, checked against its digest, or none: a host that changed
// some files meanwhile holds another release, which its own service worker will bring.
// A few downloads at a time, so that the page's own, on its first visit, are not held up.
async function keepRelease() {
  const queue = Array.from(kept);
  const answers = [];
  const download = async () => {
    for (let next = queue.shift(); next; next = queue.shift()) {
      const [url, digest] = next;
      const response = await fetch(url, {cache: 'no-cache'});
      if (!response.ok) throw new Error(`${url}: ${response.status}`);
      const bytes = await response.arrayBuffer();
      if (await digestOf(bytes) !== digest) throw new Error(`${url} is of another release`);
      answers.push([url, new Response(bytes, {status: 200, headers: response.headers})]);
    }
  };
  await Promise.all(Array.from({length: kDownloadsAtOnce}, download));
  const cache = await caches.open(kCache);
  await Promise.all(answers.map(([url, response]) => cache.put(url, response)));
}

self.addEventListener('install', (event) => event.waitUntil(keepRelease()));

// The page asks for this once it has seen a newer release waiting, before its game starts.
self.addEventListener('message', (event) => {
  if (event.data === 'take-over') self.skipWaiting();
});

self.addEventListener('activate', (event) => event.waitUntil((async () => {
  for (const name of await caches.keys()) {
    if (name.startsWith('vesquin-') && name !== kCache) await caches.delete(name);
  }
  await self.clients.claim();
})()));

function isolated(response) {
  const headers = new Headers(response.headers);
  headers.set('Cross-Origin-Opener-Policy', 'same-origin');
  headers.set('Cross-Origin-Embedder-Policy', 'require-corp');
  headers.set('Cross-Origin-Resource-Policy', 'same-origin');
  return new Response(response.body, {status: response.status, statusText: response.statusText, headers});
}

async function answer(request, key) {
  const cached = await caches.match(key, {cacheName: kCache});
  return isolated(cached || await fetch(request));
}

// The page from the cache whatever its query; its own files from the cache; anything else
// (the score table above all) from the network as it is.
self.addEventListener('fetch', (event) => {
  const request = event.request;
  if (request.method !== 'GET') return;
  const url = new URL(request.url);
  if (request.mode === 'navigate') {
    const page = url.origin + url.pathname;
    if (page === scope || page === scope + 'index.html') event.respondWith(answer(request, scope + 'index.html'));
    return;
  }
  if (kept.has(url.href)) event.respondWith(answer(request, url.href));
});
