// The tape image: opening it in the module, and the WAV made from it for the options chosen.
'use strict';

(function () {
  const { $, say, showMessages, megabytes, formatTime, nextFrame, download } = window.tonbrix.view;
  const { moduleReady, callModule, readResult, MAX_FILE_BYTES, TAPE_DIR, RESULT_PATH } =
    window.tonbrix.module;
  const table = window.tonbrix.tapeTable;
  const { t, tell, keep, number, list } = window.tonbrix.i18n;
  const { compressList, showTimes } = table;

  const state = {
    name: null, // the image's name in MEMFS, as the command line would be given it
    blocks: [],
    wav: null, // { key, bytes, rate, selection, entryStarts, name, seconds }
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
    $('block-list').value = '';
    table.render(state.blocks, state.name);
  }

  // Lists the image `bytes` named `fileName` in the module and keeps it as the open image.
  // Returns 'opened', or after a message 'failed' or, when not one block could be read,
  // 'notTape' (the caller says what the file is instead).
  async function open(fileName, bytes) {
    const module = await moduleReady;
    clearTapeDirectory(module);
    const name = memfsName(fileName);
    module.FS.writeFile(name, bytes);
    const run = runTonbrix(module, ['-list', name]);
    showMessages('tape-messages', run.lines);
    if (run.status !== 0) {
      module.FS.unlink(name);
      return run.result.blocks.length === 0 ? 'notTape' : 'failed';
    }
    state.name = name;
    state.blocks = run.result.blocks;
    $('block-list').value = compressList(state.blocks.map((_, i) => i + 1));
    table.render(state.blocks, state.name);
    tell('tape-messages', 'opened', { name: fileName, n: state.blocks.length });
    return 'opened';
  }

  // True when the module reads at least one block of `bytes` and the whole as a tape image.
  async function isTapeImage(bytes) {
    const module = await moduleReady;
    const probe = '/probe.img';
    module.FS.writeFile(probe, bytes);
    const run = runTonbrix(module, ['-list', probe]);
    module.FS.unlink(probe);
    return run.status === 0 && run.result.blocks.length > 0;
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

  function nothingChosen() {
    return $('block-list').value.trim() === '';
  }

  // Builds the WAV for the current options, or returns the one already built for them.
  // `quiet` leaves the messages alone unless something fails.
  async function ensureWav({ quiet = false } = {}) {
    if (!state.name || nothingChosen()) {
      return null;
    }
    const args = [...exportArguments(), state.name];
    const key = args.join('\n');
    if (state.wav && state.wav.key === key) {
      return state.wav;
    }
    const module = await moduleReady;
    const facts = window.tonbrix.module.facts;
    const restore = keep('tape-messages');
    tell('tape-messages', 'makingWav');
    await nextFrame();
    const run = runTonbrix(module, args);
    showMessages('tape-messages', run.lines);
    if (quiet && run.status === 0) {
      restore();
    }
    const output = run.result.output;
    if (run.status !== 0) {
      if (output && module.FS.analyzePath(output).exists) {
        module.FS.unlink(output);
      }
      if (run.status === facts.status.writeOutput) {
        tell('tape-messages', 'wavTooBig', { size: megabytes(MAX_FILE_BYTES) });
      }
      showTimes(null);
      return null;
    }
    const bytes = module.FS.readFile(output);
    module.FS.unlink(output);
    const rate = run.result.sampleRate;
    state.wav = {
      key,
      bytes,
      name: output.replace(/^\.\//, ''),
      rate,
      selection: run.result.selection,
      // Where each entry of the selection starts and the WAV ends, in seconds of sound.
      starts: run.result.entryStarts.map((start) => (start - facts.wavHeaderLength) / rate),
      seconds: (bytes.length - facts.wavHeaderLength) / rate,
    };
    if (!quiet) {
      tell('tape-messages', 'wavMade', { name: state.wav.name, time: formatTime(state.wav.seconds),
        size: megabytes(bytes.length) });
    }
    showTimes(state.wav);
    return state.wav;
  }

  async function downloadWav() {
    if (nothingChosen()) {
      tell('tape-messages', 'nothingChosen');
      return;
    }
    const wav = await ensureWav();
    if (wav) {
      download(wav.bytes, wav.name, 'audio/wav');
    }
  }

  // The options changed: the WAV is built anew.
  function forgetWav() {
    state.wav = null;
    showTimes(null);
  }

  // What the chosen rate does on the machine: PMD 85 loading as tried on an emulated PMD 85-2A
  // and 85-3 with their own monitor ROMs, for each -sr rate at normal and double speed.
  const LOADING = {
    normal: [['neverLoaded', 1150], ['alwaysLoaded'], ['alwaysLoaded']],
    double: [['alwaysLoaded'], ['failedOneInSix'], ['alwaysLoaded']],
  };

  function describeRate() {
    const facts = window.tonbrix.module.facts;
    const protocol = $('protocol').value;
    const hint = $('rate-hint');
    const speed = { pmd: 'normal', dbl: 'double' }[protocol];
    hint.classList.remove('warning');
    if (!facts || !speed) {
      hint.textContent = facts ? t('matoNotTried') : '';
      return;
    }
    const index = $('sample-rate').selectedIndex;
    const [result, limit] = LOADING[speed][index];
    const bits = t('bitsPerSecond', { bits: number(facts.pmdBitRates[speed][index]) });
    let text = `${bits}${limit ? `, ${t('underLimit', { limit: number(limit) })}` : ''}. ` +
      t('emulatedResult', { result: t(result) });
    if (result !== 'alwaysLoaded') {
      const good = LOADING[speed].map(([loads], i) => (loads === 'alwaysLoaded' ? i : -1))
        .filter((i) => i >= 0).map((i) => `${number(facts.sampleRates[i])} Hz`);
      text += ` ${t('chooseRates', { rates: list(good) })}`;
      hint.classList.add('warning');
    }
    hint.textContent = text;
  }

  // The table and the hint in the page's language, after a switch.
  function redraw() {
    table.render(state.blocks, state.name);
    showTimes(state.wav);
    describeRate();
  }

  window.tonbrix.tape = {
    state, open, close, redraw, isTapeImage, ensureWav, nothingChosen, downloadWav, forgetWav,
    describeRate, syncCheckboxes: table.syncCheckboxes,
    listCheckedBlocks: table.listCheckedBlocks, entryOf: table.entryOf,
  };
})();
