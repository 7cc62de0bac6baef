// The decoding thread's module: the take being decoded, the cassette's takes, and their end.
'use strict';

(function () {
  // Runs in the worker only, after threadSignal, from its source text (see worker.js), so it
  // may use nothing from outside itself but the module's factory.
  function threadDecoder() {
    'use strict';

    const { signal, calls } = self.thread;
    const RESULT_PATH = calls.RESULT_PATH;
    const IMAGE_PATH = '/decoded.img';
    const REPORT_PATH = '/report.json';
    // The blocks found are told at most this often: each telling costs both threads time.
    const REPORT_MS = 250;

    // The facts are read first: the thread's other pieces take them from self.thread.
    const moduleReady = createTonbrix(calls.printing).then((module) => {
      self.thread.facts = calls.readFacts(module);
      return module;
    });

    // The take being decoded: { id, rate, channels, file?, wav?, history?, ... }.
    let take = null;
    // The takes of the cassette: the module's (`pointer`), and what this thread needs to read
    // each one's signal again for a plot (`takes`: { rate, channel, file, wav, snapshots }).
    let cassette = null;

    function call(module, name, argTypes, args) {
      return calls.call(module, name, 'number', argTypes, args);
    }

    function release(module) {
      if (take && cassette) {
        call(module, 'releaseDecoding', ['number'], [cassette.pointer]);
        module._free(take.buffer);
      }
      take = null;
    }

    function forgetCassette(module) {
      release(module);
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
      const run = call(module, 'startDecoding', ['number', 'string', ...Array(4).fill('number')],
        [cassette.pointer, message.name, rate, channels, message.protocol, message.phase]);
      if (run.result !== 0) {
        postMessage({ op: 'failed', id: message.id, lines: run.lines });
        return false;
      }
      take = {
        id: message.id, name: message.name, imageName: message.imageName,
        rate, channels, fed: 0, shownBlocks: -1,
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
      call(module, 'describeDecoded', ['number', 'string'], [cassette.pointer, RESULT_PATH]);
      return calls.readResult(module);
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
        signal.snapshot(take, found.blocks);
      }
    }

    // Ends the take and keeps it; then the tape of all the takes kept so far, its image and its
    // report. A take alone is shown as it was decoded, several as merged.
    async function finish(module) {
      const endedEarly = Boolean(take.wav?.cutShort);
      const ended = call(module, 'finishDecoding', ['number', 'number'],
        [cassette.pointer, endedEarly ? 1 : 0]);
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
      let standing = null;
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
          ({ blocks, ...standing } = JSON.parse(takeFile(module, RESULT_PATH, 'utf8')));
        }
      }
      // Where a block may be missing, in this take and in any, as the report tells it.
      const reported = report ? JSON.parse(report).takes : [];
      const stray = (found.finished && reported.at(-1)?.blockMayBeMissingAt) || [];
      const anyStray = reported.some((kept) => kept.blockMayBeMissingAt.length > 0);
      const id = take.id;
      // Told as tonbrix-decode tells it: where, and how many sample frames it held.
      const ending = endedEarly ? { seconds: take.fed / take.rate, frames: take.fed } : null;
      const damage = await signal.plots(blocks, source, cassette.takes);
      release(module);
      // Only the samples pushed of the take being decoded are held whole.
      source.history = null;
      postMessage({ op: 'finished', id, status, lines, kept: found.finished,
        merged: merged && image !== null, blocks, image, report, plots: damage, standing, ending,
        stray, anyStray },
      [...(image ? [image.buffer] : []), ...damage.map((p) => p.columns.buffer)]);
    }

    self.thread.decoder = {
      moduleReady,
      // The take being decoded, or null: a getter, as a new take replaces it.
      get take() {
        return take;
      },
      // The module's cassette, whose take is being decoded.
      get cassette() {
        return cassette.pointer;
      },
      call, release, startDecoder, heapBuffer, report, finish,
    };
  }

  window.tonbrix.workerDecoder = threadDecoder;
})();
