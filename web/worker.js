// The decoding thread: a Web Worker with its own copy of the module, fed a WAV file slice by
// slice or samples as they come, so that the page answers while a recording decodes. It
// keeps the takes of one cassette and merges them.
'use strict';

(function () {
  // The worker's whole program. It never runs on the page: its source text, with the module's,
  // becomes the worker (a page opened from disk may start a worker only from a blob), so it
  // may use nothing from outside itself.
  function threadMain() {
    'use strict';

    const RESULT_PATH = '/result.json';
    const IMAGE_PATH = '/decoded.img';
    const REPORT_PATH = '/report.json';
    // Bytes of WAV read at a time, and how much of the signal either side of a first unknown
    // byte the page plots.
    const SLICE_BYTES = 4 * 1024 * 1024;
    // Slices read ahead while one decodes: reading a file is slower than decoding it at times.
    const READ_AHEAD = 3;
    // The blocks found are told at most this often: each telling costs both threads time.
    const REPORT_MS = 250;
    const PLOT_SECONDS = 0.3;
    // Samples pushed by the page (line-in, or a recording the browser decoded) are kept this
    // long per channel, so that a block reported at its end can still show its damage.
    const HISTORY_SECONDS = 360;
    const WAVE_FORMAT_PCM = 1;
    const WAVE_FORMAT_FLOAT = 3;
    const WAVE_FORMAT_EXTENSIBLE = 0xfffe;

    let lines = null;
    const moduleReady = createTonbrix({
      print: (text) => lines && lines.push({ text, isError: false }),
      printErr: (text) => lines && lines.push({ text, isError: true }),
    });

    // The take being decoded: { id, decoder, rate, channels, file?, wav?, history?, ... }.
    let take = null;
    // The takes of the cassette: the module's (`pointer`), and what this thread needs to read
    // each one's signal again for a plot (`takes`: { rate, channel, file, wav, snapshots }).
    let cassette = null;

    function call(module, name, argTypes, args) {
      lines = [];
      try {
        return { result: module.ccall(name, 'number', argTypes, args), lines };
      } finally {
        lines = null;
      }
    }

    function release(module) {
      if (take && take.decoder) {
        call(module, 'releaseDecoder', ['number'], [take.decoder]);
        module._free(take.buffer);
      }
      take = null;
    }

    // The format of a WAV file whose samples can be read in place, or a reason why not.
    async function readWavHeader(file) {
      const head = new DataView(await file.slice(0, 12).arrayBuffer());
      const tag = (view, at) => String.fromCharCode(...new Uint8Array(view.buffer, at, 4));
      const riff = head.byteLength === 12 && ['RIFF', 'RF64'].includes(tag(head, 0));
      if (!riff || tag(head, 8) !== 'WAVE') {
        return { reason: 'not a WAV file' };
      }
      let format = null;
      for (let at = 12; at + 8 <= file.size;) {
        const chunk = new DataView(await file.slice(at, at + 8).arrayBuffer());
        const id = tag(chunk, 0);
        const size = chunk.getUint32(4, true);
        if (id === 'fmt ') {
          const fmt = new DataView(await file.slice(at + 8, at + 8 + Math.min(size, 40)).arrayBuffer());
          if (fmt.byteLength < 16) {
            return { reason: 'its format chunk is cut short' };
          }
          let code = fmt.getUint16(0, true);
          if (code === WAVE_FORMAT_EXTENSIBLE && fmt.byteLength >= 26) {
            code = fmt.getUint16(24, true);
          }
          format = {
            isFloat: code === WAVE_FORMAT_FLOAT,
            code,
            channels: fmt.getUint16(2, true),
            rate: fmt.getUint32(4, true),
            bits: fmt.getUint16(14, true),
          };
        } else if (id === 'data') {
          if (!format) {
            return { reason: 'its samples come before their format' };
          }
          const { code, bits, isFloat, channels, rate } = format;
          const pcm = code === WAVE_FORMAT_PCM && [8, 16, 24, 32].includes(bits);
          const float = isFloat && (bits === 32 || bits === 64);
          if (!(pcm || float) || channels < 1 || rate < 1) {
            return { reason: 'a sample format this page does not read in slices' };
          }
          // A recorder that was cut off leaves a length beyond the file's end, or none at all
          // (0, or all ones as in RF64, whose true length the page does not need).
          const frameBytes = (channels * bits) / 8;
          const rest = file.size - (at + 8);
          const length = size === 0 || size === 0xffffffff ? rest : Math.min(size, rest);
          return { ...format, dataStart: at + 8, frames: Math.floor(length / frameBytes), frameBytes };
        }
        at += 8 + size + (size & 1);
      }
      return { reason: 'it holds no samples' };
    }

    function forgetCassette(module) {
      if (cassette) {
        call(module, 'releaseTakes', ['number'], [cassette.pointer]);
      }
      cassette = null;
    }

    function startDecoder(module, message, rate, channels) {
      if (!message.addTake || !cassette) {
        forgetCassette(module);
        const made = call(module, 'startTakes', [], []);
        if (!made.result) {
          postMessage({ op: 'failed', id: message.id, lines: made.lines });
          return false;
        }
        cassette = { pointer: made.result, takes: [] };
      }
      const run = call(module, 'startDecoding', ['number', 'number', 'number', 'number'],
        [rate, Math.min(channels, 2), message.protocol, message.phase]);
      if (!run.result) {
        postMessage({ op: 'failed', id: message.id, lines: run.lines });
        return false;
      }
      take = {
        id: message.id, name: message.name, imageName: message.imageName,
        decoder: run.result, rate, channels, fed: 0, shownBlocks: -1,
        shownChannel: -1, reportedAt: -Infinity,
        buffer: 0, bufferBytes: 0, file: null, wav: null, history: null, snapshots: new Map(),
      };
      return true;
    }

    // A heap buffer of at least `bytes`, kept for the take.
    function heapBuffer(module, bytes) {
      if (take.bufferBytes < bytes) {
        module._free(take.buffer);
        take.buffer = module._malloc(bytes);
        take.bufferBytes = bytes;
      }
      return take.buffer;
    }

    function describe(module) {
      call(module, 'describeDecoded', ['number', 'string'], [take.decoder, RESULT_PATH]);
      return JSON.parse(module.FS.readFile(RESULT_PATH, { encoding: 'utf8' }));
    }

    // The file at `path` that the last call wrote, taken out of MEMFS, or null.
    function takeFile(module, path, encoding) {
      if (!module.FS.analyzePath(path).exists) {
        return null;
      }
      const content = module.FS.readFile(path, encoding ? { encoding } : {});
      module.FS.unlink(path);
      return content;
    }

    // Tells the page the blocks found so far when there are more; keeps the signal around a
    // new block's first unknown byte while the history still holds it.
    function report(module, fraction) {
      postMessage({ op: 'progress', id: take.id, fraction, seconds: take.fed / take.rate });
      const now = performance.now();
      if (now - take.reportedAt < REPORT_MS) {
        return;
      }
      take.reportedAt = now;
      const found = describe(module);
      if (found.blocks.length !== take.shownBlocks || found.channel !== take.shownChannel) {
        take.shownBlocks = found.blocks.length;
        take.shownChannel = found.channel;
        postMessage({ op: 'blocks', id: take.id, blocks: found.blocks, channel: found.channel });
      }
      if (take.history) {
        for (const block of found.blocks) {
          const key = block.firstUnknownSeconds.toFixed(2);
          if (block.firstUnknownSeconds >= 0 && !take.snapshots.has(key)) {
            const snapshot = historyWindow(take, block.firstUnknownSeconds);
            if (snapshot) {
              take.snapshots.set(key, snapshot);
            }
          }
        }
      }
    }

    function plotRange(seconds, rate) {
      const first = Math.max(0, Math.round((seconds - PLOT_SECONDS) * rate));
      return { first, count: Math.round(2 * PLOT_SECONDS * rate) };
    }

    // Every channel's samples of `source` (a take) around `seconds`, from what was pushed, or
    // null when they are no longer (or not yet all) held.
    function historyWindow(source, seconds) {
      const { first, count } = plotRange(seconds, source.rate);
      const history = source.history;
      const end = Math.min(first + count, source.fed);
      if (!history || first < source.fed - history.capacity || end - first < count / 2) {
        return null;
      }
      const channels = history.data.map((ring) => {
        const out = new Float32Array(end - first);
        for (let i = first; i < end; i++) {
          out[i - first] = ring[i % history.capacity] / 32767;
        }
        return out;
      });
      return { first, channels };
    }

    // The samples of `channel` around `seconds` in the WAV file of `source`, read again.
    async function fileWindow(source, seconds, channel) {
      const { first, count } = plotRange(seconds, source.rate);
      const wav = source.wav;
      const end = Math.min(first + count, wav.frames);
      const bytes = await source.file
        .slice(wav.dataStart + first * wav.frameBytes, wav.dataStart + end * wav.frameBytes)
        .arrayBuffer();
      const view = new DataView(bytes);
      const size = wav.bits / 8;
      const out = new Float32Array(end - first);
      for (let i = 0; i < out.length; i++) {
        const at = i * wav.frameBytes + channel * size;
        out[i] = wav.isFloat ? (size === 8 ? view.getFloat64(at, true) : view.getFloat32(at, true))
          : size === 1 ? (view.getUint8(at) - 128) / 128
            : size === 2 ? view.getInt16(at, true) / 32768
              : size === 3 ? ((view.getInt16(at + 1, true) * 256) + view.getUint8(at)) / 8388608
                : view.getInt32(at, true) / 2147483648;
      }
      return { first, samples: out };
    }

    // The samples of `channel` of `source` around `seconds`: read again from its file, or
    // from what was kept of the samples pushed.
    async function signalWindow(source, seconds, channel) {
      if (source.wav) {
        return fileWindow(source, seconds, channel);
      }
      const at = seconds * source.rate;
      const key = seconds.toFixed(2);
      const snapshot = source.snapshots.get(key) ?? historyWindow(source, seconds) ??
        [...source.snapshots.values()].find((kept) =>
          kept.first <= at && at < kept.first + kept.channels[0].length);
      if (!snapshot) {
        return null;
      }
      // Kept for a merge with later takes, when the samples pushed are gone.
      source.snapshots.set(key, snapshot);
      // A copy: the plot's samples pass to the page, and the snapshot may serve again.
      return { first: snapshot.first, samples: snapshot.channels[channel].slice() };
    }

    // The signal around the first unknown byte of every damaged block shown: each in the take
    // that the block names, or in `source` when it names none.
    async function plots(blocks, source) {
      const result = [];
      for (const [index, block] of blocks.entries()) {
        if (block.firstUnknownSeconds < 0) {
          continue;
        }
        const from = block.take ? cassette.takes[block.take - 1] : source;
        const window = await signalWindow(from, block.firstUnknownSeconds, from.channel);
        if (window) {
          result.push({ index, rate: from.rate, startSeconds: window.first / from.rate,
            samples: window.samples });
        }
      }
      return result;
    }

    // Ends the take and keeps it; then the tape of all the takes kept so far, its image and its
    // report. A take alone is shown as it was decoded, several as merged.
    async function finish(module) {
      const ended = call(module, 'finishDecoding', ['number', 'number', 'string'],
        [take.decoder, cassette.pointer, take.name]);
      const found = describe(module);
      const source = { rate: take.rate, fed: take.fed, channel: found.channel, file: take.file,
        wav: take.wav, history: take.history, snapshots: take.snapshots };
      if (found.finished) {
        cassette.takes.push(source);
      }
      const lines = ended.lines;
      let status = ended.result;
      let blocks = found.blocks;
      let image = null;
      let report = null;
      const merged = cassette.takes.length > 1;
      if (status === 0) {
        const written = call(module, 'writeMergedTape', ['number', 'string', 'string', 'string'],
          [cassette.pointer, take.imageName, IMAGE_PATH, REPORT_PATH]);
        lines.push(...written.lines);
        status = written.result;
        image = takeFile(module, IMAGE_PATH);
        report = takeFile(module, REPORT_PATH, 'utf8');
        if (merged && image) {
          call(module, 'describeMerged', ['number', 'string'], [cassette.pointer, RESULT_PATH]);
          blocks = JSON.parse(takeFile(module, RESULT_PATH, 'utf8')).blocks;
        }
      }
      const id = take.id;
      const damage = await plots(blocks, source);
      release(module);
      // Only the samples pushed of the take being decoded are held whole.
      source.history = null;
      postMessage({ op: 'finished', id, status, lines, kept: found.finished,
        merged: merged && image !== null, blocks, image, report, plots: damage },
      [...(image ? [image.buffer] : []), ...damage.map((p) => p.samples.buffer)]);
    }

    // Decodes a WAV file slice by slice, reading the next slice while this one decodes.
    async function decodeFile(module, message) {
      const file = message.file;
      const wav = await readWavHeader(file);
      if (wav.reason) {
        postMessage({ op: 'notStreamable', id: message.id, reason: wav.reason });
        return;
      }
      if (!startDecoder(module, message, wav.rate, wav.channels)) {
        return;
      }
      const id = message.id;
      Object.assign(take, { file, wav });
      postMessage({ op: 'started', id, seconds: wav.frames / wav.rate });
      const framesPerSlice = Math.max(1, Math.floor(SLICE_BYTES / wav.frameBytes));
      const reads = [];
      let readFrom = 0;
      const readAhead = () => {
        while (reads.length < READ_AHEAD && readFrom < wav.frames) {
          const end = Math.min(readFrom + framesPerSlice, wav.frames);
          reads.push(file.slice(wav.dataStart + readFrom * wav.frameBytes,
            wav.dataStart + end * wav.frameBytes).arrayBuffer());
          readFrom = end;
        }
      };
      readAhead();
      while (reads.length > 0) {
        const bytes = new Uint8Array(await reads.shift());
        if (!take || take.id !== id || take.cancelled) {
          return; // cancelled while the slice was read; the cancel releases it
        }
        readAhead();
        const pointer = heapBuffer(module, bytes.length);
        module.HEAPU8.set(bytes, pointer);
        const count = bytes.length / wav.frameBytes;
        const run = call(module, 'feedPcm', Array(6).fill('number'),
          [take.decoder, pointer, count, wav.channels, wav.bits, wav.isFloat ? 1 : 0]);
        if (run.result !== 0) {
          release(module);
          postMessage({ op: 'failed', id, lines: run.lines });
          return;
        }
        take.fed += count;
        report(module, take.fed / wav.frames);
      }
      await finish(module);
    }

    function start(module, message) {
      if (!startDecoder(module, message, message.rate, message.channels)) {
        return;
      }
      const capacity = Math.min(2 ** 24, Math.ceil(HISTORY_SECONDS * message.rate));
      take.history = {
        capacity,
        data: Array.from({ length: Math.min(message.channels, 2) }, () => new Int16Array(capacity)),
      };
      postMessage({ op: 'started', id: message.id });
    }

    function push(module, message) {
      if (!take || take.id !== message.id || take.cancelled) {
        return;
      }
      const data = message.channels;
      const count = data[0].length;
      const pointer = heapBuffer(module, count * 4);
      const { capacity } = take.history;
      for (const [channel, ring] of take.history.data.entries()) {
        const samples = data[Math.min(channel, data.length - 1)];
        for (let i = 0; i < count; i++) {
          ring[(take.fed + i) % capacity] = Math.max(-1, Math.min(1, samples[i])) * 32767;
        }
        module.HEAPF32.set(samples, pointer >> 2);
        const run = call(module, 'feedDecoder', ['number', 'number', 'number', 'number'],
          [take.decoder, channel, pointer, count]);
        if (run.result !== 0) {
          const id = take.id;
          release(module);
          postMessage({ op: 'failed', id, lines: run.lines });
          return;
        }
      }
      take.fed += count;
      report(module, message.fraction ?? 0);
    }

    // Messages are handled one at a time, in order, each after the module is ready.
    let queue = Promise.resolve();
    onmessage = (event) => {
      const message = event.data;
      // A cancel takes effect at once, between two slices of a file being decoded.
      if (message.op === 'cancel' && take && take.id === message.id) {
        take.cancelled = true;
      }
      queue = queue.then(() => moduleReady).then((module) => {
        switch (message.op) {
          case 'file': return decodeFile(module, message);
          case 'start': return start(module, message);
          case 'samples': return push(module, message);
          case 'finish': return take && take.id === message.id ? finish(module) : null;
          case 'cancel': return take && take.id === message.id ? release(module) : null;
          default: return null;
        }
      }).catch((error) => {
        postMessage({ op: 'failed', id: message.id, lines: [{ text: String(error), isError: true }] });
      });
    };
  }

  // Starts the thread: the module's source and the worker's program as one blob.
  function spawn() {
    // The module reads `_scriptDir` from the script that wraps it.
    const source = `var _scriptDir;\nvar createTonbrix = ${createTonbrix};\n(${threadMain})();\n`;
    const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
    const worker = new Worker(url);
    URL.revokeObjectURL(url);
    return worker;
  }

  window.tonbrix.worker = { spawn };
})();
