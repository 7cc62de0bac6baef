// The decoding thread: a Web Worker with its own copy of the module, fed a WAV file slice by
// slice or samples as they come, so that the page answers while a recording decodes. It
// keeps the takes of one cassette and merges them.
'use strict';

(function () {
  // The worker's message loop. It never runs on the page: its source text, with the module's
  // and that of the thread's other pieces, becomes the worker (a page opened from disk may
  // start a worker only from a blob), so it may use nothing from outside them.
  function threadMain() {
    'use strict';

    const { wav: wavReader, signal, decoder } = self.thread;

    // Decodes a WAV file slice by slice, reading the next slice while this one decodes.
    async function decodeFile(module, message) {
      const file = message.file;
      const wav = await wavReader.readHeader(file);
      if (wav.reason) {
        postMessage({ op: 'notStreamable', id: message.id, reason: wav.reason });
        return;
      }
      if (!decoder.startDecoder(module, message, wav.rate, wav.channels)) {
        return;
      }
      const id = message.id;
      Object.assign(decoder.take, { file, wav });
      postMessage({ op: 'started', id, seconds: wav.frames / wav.rate });
      const slices = wavReader.slices(file, wav);
      for (let bytes; (bytes = await slices.next()) !== null;) {
        const take = decoder.take;
        if (!take || take.id !== id || take.cancelled) {
          return; // cancelled while the slice was read; the cancel releases it
        }
        slices.readAhead();
        const pointer = decoder.heapBuffer(module, bytes.length);
        module.HEAPU8.set(bytes, pointer);
        const count = bytes.length / wav.frameBytes;
        const run = decoder.call(module, 'feedPcm', Array(6).fill('number'),
          [decoder.cassette, pointer, count, wav.channels, wav.bits, wav.isFloat ? 1 : 0]);
        if (run.result !== 0) {
          decoder.release(module);
          postMessage({ op: 'failed', id, lines: run.lines });
          return;
        }
        take.fed += count;
        decoder.report(module, take.fed / wav.frames);
      }
      await decoder.finish(module);
    }

    function start(module, message) {
      if (!decoder.startDecoder(module, message, message.rate, message.channels)) {
        return;
      }
      decoder.take.history = signal.makeHistory(message.rate, message.channels);
      postMessage({ op: 'started', id: message.id });
    }

    function push(module, message) {
      const take = decoder.take;
      if (!take || take.id !== message.id || take.cancelled) {
        return;
      }
      const data = message.channels;
      const count = data[0].length;
      const pointer = decoder.heapBuffer(module, count * 4);
      for (let channel = 0; channel < take.history.data.length; channel++) {
        const samples = data[Math.min(channel, data.length - 1)];
        signal.keep(take.history, channel, take.fed, samples, count);
        module.HEAPF32.set(samples, pointer >> 2);
        const run = decoder.call(module, 'feedDecoder', ['number', 'number', 'number', 'number'],
          [decoder.cassette, channel, pointer, count]);
        if (run.result !== 0) {
          const id = take.id;
          decoder.release(module);
          postMessage({ op: 'failed', id, lines: run.lines });
          return;
        }
      }
      take.fed += count;
      decoder.report(module, message.fraction ?? 0);
    }

    function isCurrent(message) {
      return decoder.take && decoder.take.id === message.id;
    }

    // Messages are handled one at a time, in order, each after the module is ready.
    let queue = Promise.resolve();
    onmessage = (event) => {
      const message = event.data;
      // A cancel takes effect at once, between two slices of a file being decoded.
      if (message.op === 'cancel' && isCurrent(message)) {
        decoder.take.cancelled = true;
      }
      queue = queue.then(() => decoder.moduleReady).then((module) => {
        switch (message.op) {
          case 'file': return decodeFile(module, message);
          case 'start': return start(module, message);
          case 'samples': return push(module, message);
          case 'finish': return isCurrent(message) ? decoder.finish(module) : null;
          case 'cancel': return isCurrent(message) ? decoder.release(module) : null;
          default: return null;
        }
      }).catch((error) => {
        postMessage({ op: 'failed', id: message.id, lines: [{ text: String(error), isError: true }] });
      });
    };
  }

  // Starts the thread: the module's source and the worker's pieces as one blob, each piece
  // after those it uses.
  function spawn() {
    const { workerWav, workerSignal, workerDecoder, module } = window.tonbrix;
    const pieces = [workerWav, workerSignal, workerDecoder, threadMain]
      .map((piece) => `(${piece})();\n`).join('');
    // The module reads `_scriptDir` from the script that wraps it; the calls into it are made
    // as the page makes them.
    const source = `var _scriptDir;\nvar createTonbrix = ${createTonbrix};\n` +
      `self.thread = { calls: (${module.moduleCalls})() };\n${pieces}`;
    const url = URL.createObjectURL(new Blob([source], { type: 'text/javascript' }));
    const worker = new Worker(url);
    URL.revokeObjectURL(url);
    return worker;
  }

  window.tonbrix.worker = { spawn };
})();
