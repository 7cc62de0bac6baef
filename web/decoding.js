// The takes of a cassette and their decoding in the worker: samples or a WAV file in, the
// table of blocks found, the damage, and the tape image at the end.
'use strict';

(function () {
  const { $, say, showMessages, formatTime, cell, fillBlockCells, faultCell, download } =
    window.tonbrix.view;
  const { spawn } = window.tonbrix.worker;

  const state = {
    worker: null,
    // Every recording of the cassette opened so far, the last one being decoded or shown:
    // { id, name, blocks, status, image, plots, done, wait }. Only the last one gives the image
    // for now; the takes are kept apart so that several can be merged.
    takes: [],
    nextId: 1,
  };

  function current() {
    return state.takes.at(-1) ?? null;
  }

  function worker() {
    if (!state.worker) {
      state.worker = spawn();
      state.worker.onmessage = (event) => receive(event.data);
    }
    return state.worker;
  }

  // A new take named `name` replaces the one shown; the one still decoding is cancelled.
  function begin(name) {
    cancel();
    const take = { id: state.nextId++, name, blocks: [], status: null, image: null, plots: [],
      done: false, waiting: null, acknowledged: [], channel: -1 };
    state.takes = [take];
    $('download-image').disabled = true;
    renderTable(take);
    return take;
  }

  function cancel() {
    const take = current();
    if (take && !take.done) {
      take.done = true;
      worker().postMessage({ op: 'cancel', id: take.id });
      take.waiting?.resolve({ op: 'cancelled' });
      take.acknowledged.splice(0).forEach((resolve) => resolve());
    }
  }

  // The next answer of the worker about `take` that ends a step: started, finished, failed.
  function answer(take) {
    return new Promise((resolve) => {
      take.waiting = { resolve };
    });
  }

  function receive(message) {
    const take = current();
    if (!take || take.id !== message.id) {
      return; // about a take that was cancelled
    }
    switch (message.op) {
      case 'blocks':
        showFound(take, message);
        return;
      case 'progress':
        take.onProgress?.(message);
        take.acknowledged.shift()?.();
        return;
      case 'failed':
        take.done = true;
        showMessages('recording-messages', message.lines);
        break;
      case 'finished':
        take.done = true;
        complete(take, message);
        break;
      default:
        break;
    }
    if (take.done) {
      take.acknowledged.splice(0).forEach((resolve) => resolve());
    }
    const waiting = take.waiting;
    take.waiting = null;
    waiting?.resolve(message);
  }

  function options() {
    return { protocol: Number($('decode-protocol').value), phase: Number($('decode-phase').value) };
  }

  // Decodes a WAV file in the worker without reading it whole. Resolves to the worker's last
  // answer: 'finished', 'failed', 'cancelled', or 'notStreamable' with a reason when the file
  // is no WAV that can be read in slices.
  async function streamFile(take, file, onProgress) {
    take.onProgress = onProgress;
    worker().postMessage({ op: 'file', id: take.id, file, name: take.name, ...options() });
    let message = await answer(take);
    if (message.op === 'started') {
      message = await answer(take);
    }
    return message;
  }

  // Starts a take whose samples the page pushes. Resolves to true once the decoder runs.
  async function startPush(take, rate, channels, onProgress) {
    take.onProgress = onProgress;
    worker().postMessage({ op: 'start', id: take.id, rate, channels, ...options() });
    return (await answer(take)).op === 'started';
  }

  // Hands over one stretch of samples per channel; the arrays pass to the worker. Resolves
  // once the worker has decoded them, so that a caller with much to push can pace itself.
  function push(take, channels, fraction) {
    if (take.done) {
      return Promise.resolve();
    }
    worker().postMessage({ op: 'samples', id: take.id, channels, fraction },
      channels.map((samples) => samples.buffer));
    return new Promise((resolve) => take.acknowledged.push(resolve));
  }

  // Ends a pushed take and waits for its image.
  async function finish(take) {
    if (take.done) {
      return;
    }
    worker().postMessage({ op: 'finish', id: take.id, name: take.name });
    await answer(take);
  }

  // The take is decoded: its blocks, its image when there is one, and its message.
  function complete(take, message) {
    take.blocks = message.blocks;
    take.status = message.status;
    take.plots = message.plots;
    showMessages('recording-messages', message.lines);
    const facts = window.tonbrix.module.facts;
    if (message.image && (message.status === 0 || message.status === facts.status.damagedBlocks)) {
      take.image = message.image;
      $('download-image').disabled = false;
      const count = take.blocks.length;
      const summary = `${take.name}: ${count} block${count === 1 ? '' : 's'}, ` +
        `${take.image.length} bytes of tape image.`;
      say('recording-messages', [summary, $('recording-messages').textContent].join('\n').trim());
    }
    renderTable(take);
  }

  // The blocks found so far: the channel shown only adds blocks, so its new ones are added
  // to the table, which a long recording makes too long to draw anew every time.
  function showFound(take, message) {
    const grown = message.channel === take.channel && message.blocks.length > take.blocks.length;
    const from = grown ? take.blocks.length : 0;
    take.blocks = message.blocks;
    take.channel = message.channel;
    renderTable(take, from);
  }

  // The table of the take's blocks from `from` on; those before stay as they are.
  function renderTable(take, from = 0) {
    const table = $('decoded-blocks');
    const body = table.tBodies[0];
    if (from === 0) {
      body.replaceChildren();
    }
    table.hidden = take.blocks.length === 0;
    $('decoded-legend').hidden = table.hidden;
    take.blocks.slice(from).forEach((block, i) => {
      const index = from + i;
      const row = body.insertRow();
      row.className = 'block';
      cell(row, String(index + 1), 'number', 'BLK');
      fillBlockCells(row, block);
      cell(row, `${formatTime(block.seconds)}–${formatTime(block.endSeconds)}`, 'number', 'Time');
      cell(row, block.protocolName, '', 'Protocol');
      // The checksum state, also when it is good: a person at the deck waits for that word.
      faultCell(row, block, true);
      const plot = take.plots.find((p) => p.index === index);
      if (plot) {
        const plotRow = body.insertRow();
        plotRow.className = 'plot';
        const td = plotRow.insertCell();
        td.colSpan = 8;
        td.append(window.tonbrix.damage.figure(index + 1, block, plot));
      }
    });
  }

  function downloadImage() {
    const take = current();
    if (take && take.image) {
      // Only a recording's own extension goes: a capture's name may hold dots of its own.
      const base = take.name.replace(/\.(wav|w64|rf64|flac|mp3|ogg|oga|opus|aiff?|m4a|webm)$/i, '') ||
        'tape';
      download(take.image, `${base}.img`, 'application/octet-stream');
    }
  }

  window.tonbrix.decoding = { begin, cancel, current, streamFile, startPush, push, finish, downloadImage };
})();
