// The takes of a cassette and their decoding in the worker: samples or a WAV file in, the
// table of blocks found, the damage, and at the end the tape image, merged from every take
// kept, with its report.
'use strict';

(function () {
  const { $, showMessages, formatTime, cell, fillBlockCells, faultCell, download } =
    window.tonbrix.view;
  const { spawn } = window.tonbrix.worker;
  const i18n = window.tonbrix.i18n;
  const { t } = i18n;

  const state = {
    worker: null,
    // Every recording of the cassette opened so far, the last one being decoded or shown:
    // { id, name, blocks, status, image, report, plots, merged, kept, done, ... }. The worker
    // keeps those that were decoded to their end (`kept`) and merges them; the last one holds
    // what the merge gave.
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

  function keptTakes() {
    return state.takes.filter((take) => take.kept);
  }

  // A recording's name without its extension; a capture's name may hold dots of its own.
  function baseName(name) {
    return name.replace(/\.(wav|w64|rf64|flac|mp3|ogg|oga|opus|aiff?|m4a|webm)$/i, '') || 'tape';
  }

  // A new take named `name`: with `add`, another take of the cassette, else the first of a new
  // one. The one still decoding is cancelled.
  function begin(name, add = false) {
    cancel();
    const kept = add ? keptTakes() : [];
    // Named after the first take, as tonbrix-decode names its output after the first input.
    const base = baseName(kept[0]?.name ?? name);
    const take = { id: state.nextId++, name, blocks: [], status: null, image: null, report: null,
      plots: [], merged: false, kept: false, number: kept.length + 1, imageName: `${base}.img`,
      reportName: `${base}-report.json`, done: false, waiting: null, acknowledged: [], channel: -1 };
    state.takes = [...kept, take];
    $('download-image').disabled = true;
    $('download-report').disabled = true;
    $('add-take').disabled = false;
    renderTable(take);
    showRecordButton();
    return take;
  }

  // With takes decoded, line-in records one more; "New cassette" starts afresh, once asked.
  function showRecordButton() {
    const any = keptTakes().length > 0;
    $('record').dataset.t = any ? 'recordTake' : 'record';
    $('record').textContent = t($('record').dataset.t);
    $('new-cassette').disabled = !any;
  }

  // Asks before the takes decoded so far are dropped; true when none found a block, their
  // image was saved, or the person agrees.
  function mayDiscard() {
    const kept = keptTakes();
    const atRisk = kept.some((take) => take.blocks.length > 0) && !current()?.saved;
    return !atRisk || confirm(t('confirmDiscardTakes', { n: kept.length }));
  }

  function discardAll() {
    if (!mayDiscard()) {
      return;
    }
    cancel();
    state.takes = [];
    $('download-image').disabled = true;
    $('download-report').disabled = true;
    $('add-take').disabled = true;
    i18n.forget('recording-messages');
    $('recording-messages').textContent = '';
    $('decoded-blocks').tBodies[0].replaceChildren();
    $('decoded-blocks').hidden = true;
    $('decoded-legend').hidden = true;
    showRecordButton();
  }

  // What the worker is told of a take as it starts.
  function describeTake(take) {
    return { id: take.id, name: take.name, imageName: take.imageName, addTake: take.number > 1 };
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
        if (!take.done) {
          take.onProgress?.(message);
        }
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
    // The options are named; their values are the module's.
    const facts = window.tonbrix.module.facts;
    return { protocol: facts.protocols[$('decode-protocol').value],
      phase: facts.phases[$('decode-phase').value] };
  }

  // Decodes a WAV file in the worker without reading it whole. Resolves to the worker's last
  // answer: 'finished', 'failed', 'cancelled', or 'notStreamable' with a reason when the file
  // is no WAV that can be read in slices.
  async function streamFile(take, file, onProgress) {
    take.onProgress = onProgress;
    worker().postMessage({ op: 'file', file, ...describeTake(take), ...options() });
    let message = await answer(take);
    if (message.op === 'started') {
      message = await answer(take);
    }
    return message;
  }

  // Starts a take whose samples the page pushes. Resolves to true once the decoder runs.
  async function startPush(take, rate, channels, onProgress) {
    take.onProgress = onProgress;
    worker().postMessage({ op: 'start', rate, channels, ...describeTake(take), ...options() });
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
    worker().postMessage({ op: 'finish', id: take.id });
    await answer(take);
  }

  // The take is decoded: its blocks, or those merged from every take kept, the image when
  // there is one, the report, and the message.
  function complete(take, message) {
    Object.assign(take, { blocks: message.blocks, status: message.status, plots: message.plots,
      kept: message.kept, merged: message.merged });
    const facts = window.tonbrix.module.facts;
    showMessages('recording-messages', message.lines);
    const { damagedBlocks, foreignTake } = facts.status;
    if (message.image && [0, damagedBlocks, foreignTake].includes(message.status)) {
      take.image = message.image;
      take.report = message.report;
      showRecordButton();
      $('download-image').disabled = false;
      $('download-report').disabled = take.report === null;
      const kept = keptTakes().length;
      const errors = $('recording-messages').textContent;
      // In English the program's own lines; else the exit code told in the page's language,
      // the program's lines staying under Program output. What tonbrix-decode's listing and
      // its front end tell besides, the page tells in every language.
      window.tonbrix.i18n.tellWith('recording-messages', () => {
        const what = take.merged ? t('takesMerged', { n: kept }) : take.name;
        const summary = t('decodedSummary', { what, n: take.blocks.length,
          bytes: String(take.image.length) });
        const allWhole = take.blocks.every((block) => block.whole);
        const status = message.status === foreignTake ? 'statusForeignTake'
          : message.status !== damagedBlocks ? null
          : !allWhole ? 'statusDamagedBlocks'
          : message.anyStray ? 'statusBlockMayBeMissing' : 'statusEndedEarly';
        const said = i18n.lang === 'en' || !status ? errors : t(status);
        return [summary, ...endingNotes(take, message), said].join('\n').trim();
      });
    }
    renderTable(take);
  }

  // m:ss.mmm, as tonbrix-decode gives a time in a recording, in the page's language.
  function minutes(seconds) {
    const milliseconds = Math.round(Math.max(0, seconds) * 1000);
    const rest = (milliseconds % 60000) / 1000;
    return `${Math.floor(milliseconds / 60000)}:${rest < 10 ? '0' : ''}${i18n.number(rest, 3)}`;
  }

  // The lines that tonbrix-decode prints about how the takes ended and stand to each other:
  // a recording that ended early, a block that may be missing, a take of another tape, one
  // that shares no block.
  function endingNotes(take, message) {
    const names = keptTakes().map((kept) => kept.name);
    const notes = [];
    if (message.ending) {
      notes.push(t('recordingEndedEarly', { name: take.name, at: minutes(message.ending.seconds),
        frames: String(message.ending.frames) }));
    }
    for (const seconds of message.stray ?? []) {
      notes.push(t('blockMayBeMissing', { at: minutes(seconds) }));
    }
    const standing = message.standing;
    for (const foreign of standing?.foreign ?? []) {
      notes.push(t(standing.foreignMerged ? 'takeForeignMerged' : 'takeForeign', { take: foreign.take,
        name: names[foreign.take - 1], n: foreign.blocks.length, blocks: foreign.blocks.join(', ') }));
    }
    for (const lone of standing?.lone ?? []) {
      notes.push(t('takeLone', { n: lone, name: names[lone - 1] }));
    }
    return notes;
  }

  // The blocks found so far: the channel shown only adds blocks, so its new ones are added
  // to the table, which a long recording makes too long to draw anew every time.
  function showFound(take, message) {
    const grown = message.channel === take.channel && message.blocks.length > take.blocks.length;
    const from = grown ? take.blocks.length : 0;
    take.blocks = message.blocks;
    take.channel = message.channel;
    renderTable(take, from);
    take.onFound?.(take.blocks.length);
  }

  // The takes a merged block came from, and how, when it is more than taking a whole copy.
  function sourcesText(block) {
    const noted = window.tonbrix.module.facts.notedDecisions.includes(block.decision);
    const how = noted ? `, ${t(block.decision)}` : '';
    return block.sources.join('+') + how;
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
    $('takes-heading').hidden = !take.merged;
    $('takes-legend').hidden = !take.merged;
    $('decoded-caption').textContent = take.merged ? t('mergedCaption', { n: keptTakes().length })
      : take.number > 1 ? t('takeCaption', { n: take.number, name: take.name }) : t('blocksFound');
    const takes = keptTakes();
    take.blocks.slice(from).forEach((block, i) => {
      const index = from + i;
      const row = body.insertRow();
      row.className = 'block';
      cell(row, String(index + 1), 'number', 'BLK');
      fillBlockCells(row, block);
      if (take.merged) {
        cell(row, sourcesText(block), '', t('colTakes'));
      }
      cell(row, `${formatTime(block.startSeconds)}–${formatTime(block.endSeconds)}`, 'number', t('colTime'));
      // Named by the decoder's protocol key, in the page's language.
      cell(row, t(block.protocolKey), '', t('protocol'));
      // The checksum state, also when it is good: a person at the deck waits for that word.
      faultCell(row, block, true);
      const shown = take.plots.filter((p) => p.index === index)
        .map((plot) => ({ run: block.runs[plot.run], plot }));
      if (shown.length > 0) {
        const plotRow = body.insertRow();
        plotRow.className = 'plot';
        const td = plotRow.insertCell();
        td.colSpan = take.merged ? 9 : 8;
        const takeOf = (run) => (take.merged ? { number: run.take, name: takes[run.take - 1].name } : null);
        td.append(window.tonbrix.damage.figure(index + 1, shown, takeOf));
      }
    });
  }

  function downloadImage() {
    const take = current();
    if (take && take.image) {
      take.saved = true;
      download(take.image, take.imageName, 'application/octet-stream');
    }
  }

  function downloadReport() {
    const take = current();
    if (take && take.report) {
      download(take.report, take.reportName, 'application/json');
    }
  }

  function redraw() {
    const take = current();
    if (take) {
      renderTable(take);
    }
  }

  window.tonbrix.decoding = {
    redraw, begin, mayDiscard, discardAll, hasTakes: () => keptTakes().length > 0, cancel, current, streamFile, startPush, push, finish, downloadImage, downloadReport,
  };
})();
