// The tape image: opening it in the converter's thread, and the WAV made from it for the
// options chosen.
'use strict';

(function () {
  const { $, showMessages, megabytes, formatTime, download } = window.tonbrix.view;
  const { moduleReady } = window.tonbrix.module;
  const { call } = window.tonbrix.tapeThread;
  const table = window.tonbrix.tapeTable;
  const { t, tell, keep, number, list } = window.tonbrix.i18n;
  const { compressList, showTimes } = table;

  const state = {
    name: null, // the image's name in MEMFS, as the command line would be given it
    blocks: [],
    wav: null, // { key, bytes, rate, selection, entryStarts, name, seconds }
    building: null, // { key, promise } of the WAV being built
  };

  // The name the module sees: the file's own, so that messages read as on the command line.
  function memfsName(fileName) {
    const name = fileName.replace(/[\/\n]/g, '_') || 'tape';
    return name.startsWith('-') ? `./${name}` : name;
  }

  // Forgets the open image; the caller stops what plays first.
  function close() {
    state.name = null;
    state.blocks = [];
    state.wav = null;
    state.building = null;
    $('block-list').value = '';
    table.render(state.blocks, state.name);
  }

  // Lists the image `bytes` named `fileName` in the module and keeps it as the open image.
  // Returns 'opened', or after a message 'failed' or, when not one block could be read,
  // 'notTape' (the caller says what the file is instead).
  async function open(fileName, bytes) {
    const name = memfsName(fileName);
    const { run } = await call({ op: 'open', name, bytes });
    showMessages('tape-messages', run.lines);
    if (run.status !== 0) {
      return run.result.blocks.length === 0 ? 'notTape' : 'failed';
    }
    state.name = name;
    state.blocks = run.result.blocks;
    $('block-list').value = compressList(state.blocks.map((_, i) => i + 1));
    table.render(state.blocks, state.name);
    tell('tape-messages', 'opened', { name: fileName, n: state.blocks.length });
    showFirstRows();
    return 'opened';
  }

  // The rows of a tape just opened are what the person looks for next, and on a laptop they
  // lie under the transport bar: unless the first ones are in view, the page scrolls to the
  // message that the tape opened, or, where the rows are still out of view from there, to
  // the table itself.
  function showFirstRows(shown = 3) {
    const rows = $('tape-blocks').tBodies[0].rows;
    const last = rows[Math.min(shown, rows.length) - 1];
    if (!last) {
      return;
    }
    const foot = Math.min(window.innerHeight, $('transport').getBoundingClientRect().top);
    const bottom = last.getBoundingClientRect().bottom;
    const top = rows[0].getBoundingClientRect().top;
    if (top >= 0 && bottom <= foot) {
      return;
    }
    const messages = $('tape-messages').getBoundingClientRect().top;
    const by = bottom - messages <= foot ? messages : $('tape-blocks').getBoundingClientRect().top;
    window.scrollBy({ top: by, behavior: 'instant' });
  }

  // True when the module reads at least one block of `bytes` and the whole as a tape image.
  async function isTapeImage(bytes) {
    const { run } = await call({ op: 'probe', bytes });
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
    // Asked twice for the same WAV (a Play while the rows' times are built): built once.
    if (state.building?.key !== key) {
      state.building = { key, promise: build(args, key, quiet) };
    }
    return state.building.promise;
  }

  async function build(args, key, quiet) {
    await moduleReady;
    const facts = window.tonbrix.module.facts;
    const name = state.name;
    const restore = keep('tape-messages');
    tell('tape-messages', 'makingWav');
    const { run, bytes } = await call({ op: 'export', args });
    if (state.building?.key === key) {
      state.building = null;
    }
    // Another image or other options since: this WAV is no longer wanted.
    if (state.name !== name || [...exportArguments(), state.name].join('\n') !== key) {
      restore();
      return state.wav;
    }
    showMessages('tape-messages', run.lines);
    if (quiet && run.status === 0) {
      restore();
    }
    const output = run.result.output;
    if (run.status !== 0) {
      if (run.status === facts.status.writeOutput) {
        tell('tape-messages', 'wavTooBig', { size: megabytes(facts.maxFileBytes) });
      }
      showTimes(null);
      return null;
    }
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
