// The tape image: opening it in the module, its block table and list, and the WAV made from it.
'use strict';

(function () {
  const { $, say, showMessages, megabytes, formatTime, cell, fillBlockCells, faultText, nextFrame,
    download } = window.tonbrix.view;
  const { moduleReady, callModule, readResult, MAX_FILE_BYTES, TAPE_DIR, RESULT_PATH } =
    window.tonbrix.module;
  // Beyond this the page refuses an image at once instead of filling the device's memory.
  const MAX_IMAGE_BYTES = 16 * 1024 * 1024;

  const state = {
    name: null, // the image's name in MEMFS, as the command line would be given it
    blocks: [],
    wav: null, // { key, bytes, rate, selection, entryStarts, name }
  };

  // Runs tonbrix in the module with `args`; returns its status, JSON result and lines.
  function runTonbrix(module, args) {
    const run = callModule(module, 'runTonbrix', 'number', ['string', 'string'],
      [args.join('\n'), RESULT_PATH]);
    return { status: run.result, result: readResult(module), lines: run.lines };
  }

  // The name the module sees: the file's own, so that messages read as on the command line.
  function memfsName(fileName) {
    const name = fileName.replace(/[\/\n]/g, '_') || 'tape';
    return name.startsWith('-') ? `./${name}` : name;
  }

  function clearTapeDirectory(module) {
    for (const entry of module.FS.readdir(TAPE_DIR)) {
      if (entry !== '.' && entry !== '..') {
        module.FS.unlink(`${TAPE_DIR}/${entry}`);
      }
    }
  }

  // Forgets the open image; the caller stops what plays first.
  function close() {
    state.name = null;
    state.blocks = [];
    state.wav = null;
    renderTable();
  }

  // Lists `file` in the module and keeps it as the open image. Returns after a message either way.
  async function open(file) {
    if (file.size > MAX_IMAGE_BYTES) {
      say('tape-messages', `'${file.name}' is ${megabytes(file.size)}: larger than any tape image ` +
        `this page opens (${megabytes(MAX_IMAGE_BYTES)}). Use tonbrix on a computer for it.`);
      return;
    }
    say('tape-messages', `Reading '${file.name}'…`);
    const [module, buffer] = await Promise.all([moduleReady, file.arrayBuffer()]);
    clearTapeDirectory(module);
    const name = memfsName(file.name);
    module.FS.writeFile(name, new Uint8Array(buffer));
    const run = runTonbrix(module, ['-list', name]);
    showMessages('tape-messages', run.lines);
    if (run.status !== 0) {
      module.FS.unlink(name);
      return;
    }
    state.name = name;
    state.blocks = run.result.blocks;
    $('block-list').value = compressList(state.blocks.map((_, i) => i + 1));
    renderTable();
    const count = state.blocks.length;
    say('tape-messages', `${file.name}: ${count} block${count === 1 ? '' : 's'}.`);
  }

  // "1,2,3,5" as "1-3,5": the list that the checkboxes stand for.
  function compressList(numbers) {
    const parts = [];
    for (let i = 0; i < numbers.length;) {
      let j = i;
      while (j + 1 < numbers.length && numbers[j + 1] === numbers[j] + 1) {
        j++;
      }
      parts.push(j > i ? `${numbers[i]}-${numbers[j]}` : `${numbers[i]}`);
      i = j + 1;
    }
    return parts.join(',');
  }

  // The numbers named by a block list, for the checkboxes only; the module reads the list itself.
  function listedNumbers(text) {
    const numbers = new Set();
    for (const part of text.split(',')) {
      const match = /^\s*(\d+)\s*(?:-\s*(\d+)\s*)?$/.exec(part);
      if (match) {
        const first = Number(match[1]);
        const last = Math.min(match[2] ? Number(match[2]) : first, state.blocks.length);
        for (let n = first; n <= last; n++) {
          numbers.add(n);
        }
      }
    }
    return numbers;
  }

  function renderTable() {
    const table = $('tape-blocks');
    const body = table.tBodies[0];
    body.replaceChildren();
    table.hidden = state.blocks.length === 0;
    $('tape-caption').textContent = `Blocks of ${state.name ?? 'the tape'}`;
    state.blocks.forEach((block, index) => {
      const number = index + 1;
      const row = body.insertRow();
      row.dataset.block = number;
      const box = document.createElement('input');
      box.type = 'checkbox';
      box.id = `play-block-${number}`;
      box.setAttribute('aria-label', `Play block ${number}`);
      row.insertCell().append(box);
      cell(row, String(number), 'number');
      fillBlockCells(row, block);
      cell(row, faultText(block), 'faults');
    });
    syncCheckboxes();
  }

  function checkboxes() {
    return [...$('tape-blocks').querySelectorAll('tbody input[type=checkbox]')];
  }

  // The block list was typed: the checkboxes follow it.
  function syncCheckboxes() {
    const listed = listedNumbers($('block-list').value);
    for (const box of checkboxes()) {
      box.checked = listed.has(Number(box.closest('tr').dataset.block));
    }
  }

  // A checkbox was clicked: the block list follows the checkboxes.
  function listCheckedBlocks() {
    const checked = checkboxes()
      .filter((box) => box.checked)
      .map((box) => Number(box.closest('tr').dataset.block));
    $('block-list').value = compressList(checked);
  }

  // The command line that the options stand for, without the input name.
  function exportArguments() {
    const args = ['-blk', $('block-list').value.trim()];
    const protocol = $('protocol').value;
    if (protocol === 'dbl') {
      args.push('-dbl');
    } else if (protocol === 'mato') {
      args.push('-mato');
    }
    if ($('reverse-phase').checked) {
      args.push('-rph');
    }
    args.push('-sr', $('sample-rate').value, '-amp', $('amplitude').value, '-gap', $('gap').value);
    return args;
  }

  // Builds the WAV for the current options, or returns the one already built for them.
  async function ensureWav() {
    if (!state.name) {
      return null;
    }
    const args = [...exportArguments(), state.name];
    const key = args.join('\n');
    if (state.wav && state.wav.key === key) {
      return state.wav;
    }
    const module = await moduleReady;
    const facts = window.tonbrix.module.facts;
    say('tape-messages', 'Making the WAV…');
    await nextFrame();
    const run = runTonbrix(module, args);
    showMessages('tape-messages', run.lines);
    const output = run.result.output;
    if (run.status !== 0) {
      if (output && module.FS.analyzePath(output).exists) {
        module.FS.unlink(output);
      }
      if (run.status === facts.status.writeOutput) {
        $('tape-messages').textContent += `\nThe page keeps at most ${megabytes(MAX_FILE_BYTES)} of ` +
          'WAV: choose fewer blocks or a shorter gap, or use tonbrix.';
      }
      return null;
    }
    const bytes = module.FS.readFile(output);
    module.FS.unlink(output);
    state.wav = {
      key,
      bytes,
      name: output.replace(/^\.\//, ''),
      rate: run.result.sampleRate,
      selection: run.result.selection,
      entryStarts: run.result.entryStarts,
    };
    const seconds = (bytes.length - facts.wavHeaderLength) / state.wav.rate;
    say('tape-messages', `${state.wav.name}: ${formatTime(seconds)}, ${megabytes(bytes.length)}.`);
    return state.wav;
  }

  async function downloadWav() {
    const wav = await ensureWav();
    if (wav) {
      download(wav.bytes, wav.name, 'audio/wav');
    }
  }

  // The options changed: the next play or download builds the WAV again.
  function forgetWav() {
    state.wav = null;
  }

  window.tonbrix.tape = {
    state, open, close, syncCheckboxes, listCheckedBlocks, ensureWav, downloadWav, forgetWav,
  };
})();
