// The module's decoder: samples in, the table of blocks found, and the tape image at the end.
'use strict';

(function () {
  const { $, say, showMessages, formatTime, cell, fillBlockCells, faultText, download } =
    window.tonbrix.view;
  const { moduleReady, callModule, readResult, TAPE_DIR, RESULT_PATH } = window.tonbrix.module;
  // Samples per call, per channel: the size of the one buffer the module lends the page.
  const FEED_CHUNK = 16384;

  const state = {
    decoder: 0, // the module's decoder, or 0
    samplesPointer: 0,
    channels: 0,
    name: '',
    image: null,
    shownBlocks: -1,
  };

  // Starts a decoding with the page's options, releasing one still running. False after a
  // message from the module.
  async function start(sampleRate, channels, name) {
    const module = await moduleReady;
    release(module);
    state.image = null;
    state.shownBlocks = -1;
    state.name = name;
    state.channels = channels;
    $('download-image').disabled = true;
    renderTable([]);
    const call = callModule(module, 'startDecoding', 'number', ['number', 'number', 'number', 'number'],
      [sampleRate, channels, Number($('decode-protocol').value), Number($('decode-phase').value)]);
    state.decoder = call.result;
    if (!state.decoder) {
      showMessages('recording-messages', call.lines);
      return false;
    }
    state.samplesPointer = module._malloc(FEED_CHUNK * 4);
    return true;
  }

  function release(module) {
    if (state.decoder) {
      callModule(module, 'releaseDecoder', null, ['number'], [state.decoder]);
      module._free(state.samplesPointer);
      state.decoder = 0;
      state.samplesPointer = 0;
    }
  }

  // Hands the module one stretch of samples per channel; shows new blocks as they appear.
  function feed(module, channelData) {
    const lines = [];
    const length = channelData[0].length;
    for (let start = 0; start < length; start += FEED_CHUNK) {
      const count = Math.min(FEED_CHUNK, length - start);
      for (let channel = 0; channel < state.channels; channel++) {
        const samples = channelData[channel].subarray(start, start + count);
        module.HEAPF32.set(samples, state.samplesPointer >> 2);
        const call = callModule(module, 'feedDecoder', 'number', ['number', 'number', 'number', 'number'],
          [state.decoder, channel, state.samplesPointer, count]);
        lines.push(...call.lines);
        if (call.result !== 0) {
          showMessages('recording-messages', lines);
          return false;
        }
      }
    }
    showBlocks(module, false);
    return true;
  }

  function showBlocks(module, finished) {
    callModule(module, 'describeDecoded', 'number', ['number', 'number', 'string'],
      [state.decoder, finished ? 1 : 0, RESULT_PATH]);
    const result = readResult(module);
    if (finished || result.blocks.length !== state.shownBlocks) {
      state.shownBlocks = result.blocks.length;
      renderTable(result.blocks);
    }
  }

  function renderTable(blocks) {
    const table = $('decoded-blocks');
    const body = table.tBodies[0];
    body.replaceChildren();
    table.hidden = blocks.length === 0;
    blocks.forEach((block, index) => {
      const row = body.insertRow();
      cell(row, String(index + 1), 'number');
      fillBlockCells(row, block);
      cell(row, formatTime(block.seconds), 'number');
      cell(row, block.protocolName, '');
      // The checksum state, also when it is good: a person at the deck waits for that word.
      const faults = faultText(block);
      cell(row, faults || 'OK', faults ? 'faults' : 'whole');
    });
  }

  // Completes the decoding and keeps the tape image that tonbrix-decode would write.
  async function finish() {
    const module = await moduleReady;
    if (!state.decoder) {
      return;
    }
    const imagePath = `${TAPE_DIR}/decoded.img`;
    const call = callModule(module, 'finishDecoding', 'number', ['number', 'string', 'string'],
      [state.decoder, state.name, imagePath]);
    showBlocks(module, true);
    showMessages('recording-messages', call.lines);
    const status = call.result;
    if (status === 0 || status === window.tonbrix.module.facts.status.damagedBlocks) {
      state.image = module.FS.readFile(imagePath);
      module.FS.unlink(imagePath);
      $('download-image').disabled = false;
      const summary = `${state.name}: ${state.shownBlocks} block` +
        `${state.shownBlocks === 1 ? '' : 's'}, ${state.image.length} bytes of tape image.`;
      say('recording-messages', [summary, $('recording-messages').textContent].join('\n').trim());
    }
    release(module);
  }

  function downloadImage() {
    if (state.image) {
      const base = state.name.replace(/\.[^./]*$/, '') || 'tape';
      download(state.image, `${base}.img`, 'application/octet-stream');
    }
  }

  // The decoder that runs, or 0: a caller that yielded checks that it is still its own.
  function current() {
    return state.decoder;
  }

  window.tonbrix.decoding = { start, feed, finish, release, current, downloadImage };
})();
