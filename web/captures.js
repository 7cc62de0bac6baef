// Line-in captures kept in the browser's storage (IndexedDB) as they are recorded, until they
// are saved as a WAV file or discarded: a poor decode or a closed tab loses no recording.
'use strict';

(function () {
  const { $, download, formatTime } = window.tonbrix.view;
  const { t } = window.tonbrix.i18n;
  const DATABASE = 'tonbrix-captures';

  let opening = null;

  // The database, or null where the browser keeps none (then captures live only in memory).
  function database() {
    opening ??= new Promise((resolve) => {
      let request;
      try {
        request = indexedDB.open(DATABASE, 1);
      } catch {
        resolve(null);
        return;
      }
      request.onupgradeneeded = () => {
        request.result.createObjectStore('captures', { keyPath: 'id' });
        request.result.createObjectStore('chunks', { keyPath: ['capture', 'index'] });
      };
      request.onsuccess = () => resolve(request.result);
      request.onerror = () => resolve(null);
    });
    return opening;
  }

  function done(transaction) {
    return new Promise((resolve, reject) => {
      transaction.oncomplete = resolve;
      transaction.onerror = () => reject(transaction.error);
      transaction.onabort = () => reject(transaction.error);
    });
  }

  function all(store, query) {
    return new Promise((resolve, reject) => {
      const request = store.getAll(query);
      request.onsuccess = () => resolve(request.result);
      request.onerror = () => reject(request.error);
    });
  }

  // The capture being recorded: { id, name, rate, channels, frames, chunks (when no database) }.
  const memory = new Map();

  async function begin(name, rate, channels) {
    const capture = { id: `${Date.now()}-${Math.random().toString(36).slice(2, 8)}`, name, rate,
      channels, frames: 0, next: 0, chunks: [] };
    memory.set(capture.id, capture);
    const db = await database();
    if (db) {
      const transaction = db.transaction('captures', 'readwrite');
      transaction.objectStore('captures').put(describe(capture));
      await done(transaction).catch(() => {});
    }
    return capture;
  }

  function describe(capture) {
    const { id, name, rate, channels, frames } = capture;
    return { id, name, rate, channels, frames };
  }

  // Keeps a batch of samples, one array per channel, as 16-bit integers interleaved: what the
  // WAV file holds.
  async function append(capture, channels) {
    const frames = channels[0].length;
    const pcm = new Int16Array(frames * capture.channels);
    for (let c = 0; c < capture.channels; c++) {
      const samples = channels[c] ?? channels[0];
      for (let i = 0; i < frames; i++) {
        const s = Math.max(-1, Math.min(1, samples[i]));
        pcm[i * capture.channels + c] = Math.round(s * 32767);
      }
    }
    capture.frames += frames;
    const index = capture.next++;
    const db = await database();
    if (!db) {
      capture.chunks.push(pcm);
      return;
    }
    const transaction = db.transaction(['captures', 'chunks'], 'readwrite');
    transaction.objectStore('chunks').put({ capture: capture.id, index, pcm });
    transaction.objectStore('captures').put(describe(capture));
    await done(transaction).catch(() => capture.chunks.push(pcm));
  }

  function wavHeader(rate, channels, frames) {
    const header = new DataView(new ArrayBuffer(44));
    const text = (at, value) => [...value].forEach((c, i) => header.setUint8(at + i, c.charCodeAt(0)));
    const bytes = frames * channels * 2;
    text(0, 'RIFF');
    header.setUint32(4, 36 + bytes, true);
    text(8, 'WAVE');
    text(12, 'fmt ');
    header.setUint32(16, 16, true);
    header.setUint16(20, 1, true);
    header.setUint16(22, channels, true);
    header.setUint32(24, rate, true);
    header.setUint32(28, rate * channels * 2, true);
    header.setUint16(32, channels * 2, true);
    header.setUint16(34, 16, true);
    text(36, 'data');
    header.setUint32(40, bytes, true);
    return header.buffer;
  }

  // Every capture kept, those in memory and those a closed tab left in the database.
  async function list() {
    const db = await database();
    const stored = db ? await all(db.transaction('captures').objectStore('captures')) : [];
    const byId = new Map(stored.map((capture) => [capture.id, capture]));
    for (const capture of memory.values()) {
      byId.set(capture.id, describe(capture));
    }
    return [...byId.values()];
  }

  async function wavOf(id) {
    const db = await database();
    const kept = memory.get(id);
    let parts = kept?.chunks ?? [];
    let info = kept ? describe(kept) : null;
    if (db) {
      const transaction = db.transaction(['captures', 'chunks']);
      info ??= await new Promise((resolve) => {
        const request = transaction.objectStore('captures').get(id);
        request.onsuccess = () => resolve(request.result);
      });
      const chunks = await all(transaction.objectStore('chunks'),
        IDBKeyRange.bound([id, 0], [id, Infinity]));
      parts = [...chunks.map((chunk) => chunk.pcm), ...parts];
    }
    const frames = parts.reduce((sum, part) => sum + part.length, 0) / info.channels;
    return { info, blob: new Blob([wavHeader(info.rate, info.channels, frames), ...parts],
      { type: 'audio/wav' }) };
  }

  async function forget(id) {
    memory.delete(id);
    const db = await database();
    if (db) {
      const transaction = db.transaction(['captures', 'chunks'], 'readwrite');
      transaction.objectStore('captures').delete(id);
      transaction.objectStore('chunks').delete(IDBKeyRange.bound([id, 0], [id, Infinity]));
      await done(transaction).catch(() => {});
    }
    await show();
  }

  async function save(id) {
    const { info, blob } = await wavOf(id);
    download(blob, `${info.name}.wav`, 'audio/wav');
    await forget(id);
  }

  // The list under the recording buttons: each capture kept, with Save and Discard. The one
  // being recorded (`recording`) has none yet.
  let recording = null;
  async function show() {
    const captures = (await list()).filter((capture) => capture.id !== recording);
    const items = captures.map((capture) => {
      const item = document.createElement('li');
      const text = document.createElement('span');
      text.textContent = t('captureKept', { name: capture.name,
        time: formatTime(capture.frames / capture.rate) });
      const saveButton = document.createElement('button');
      saveButton.type = 'button';
      saveButton.textContent = t('saveCapture');
      saveButton.setAttribute('aria-label', t('saveCaptureNamed', { name: capture.name }));
      saveButton.addEventListener('click', () => save(capture.id));
      const discard = document.createElement('button');
      discard.type = 'button';
      discard.textContent = t('discardCapture');
      discard.setAttribute('aria-label', t('discardCaptureNamed', { name: capture.name }));
      discard.addEventListener('click', () => {
        if (confirm(t('confirmDiscardCapture', { name: capture.name }))) {
          forget(capture.id);
        }
      });
      item.append(text, ' ', saveButton, ' ', discard);
      return item;
    });
    $('capture-list').replaceChildren(...items);
    $('captures').hidden = items.length === 0;
  }

  function recordingNow(id) {
    recording = id;
    return show();
  }

  window.tonbrix.captures = { begin, append, show, recordingNow };
})();
