// The decoding thread's plots: the signal around each run of a damaged block's bytes in doubt.
'use strict';

(function () {
  // Runs in the worker only, after threadWav, from its source text (see worker.js), so it may
  // use nothing from outside itself.
  function threadSignal() {
    'use strict';

    const wav = self.thread.wav;
    // Samples pushed by the page (line-in, or a recording the browser decoded) are kept this
    // long per channel, so that a block reported at its end can still show its damage.
    const HISTORY_SECONDS = 360;
    // A plot is drawn from the lowest and highest sample of this many stretches: more than a
    // screen is wide, and a few kilobytes however long the stretch shown.
    const COLUMNS = 2000;

    // A ring per channel that the decoder reads for the samples pushed.
    function makeHistory(rate, channels) {
      const capacity = Math.min(2 ** 24, Math.ceil(HISTORY_SECONDS * rate));
      return {
        capacity,
        data: Array.from({ length: Math.min(channels, self.thread.facts.maxChannels) },
          () => new Int16Array(capacity)),
      };
    }

    // Keeps `count` samples of `channel`, the first of them sample `fed` of the take.
    function keep(history, channel, fed, samples, count) {
      const ring = history.data[channel];
      for (let i = 0; i < count; i++) {
        ring[(fed + i) % history.capacity] = Math.max(-1, Math.min(1, samples[i])) * 32767;
      }
    }

    // The samples of a run's stretch (`fromSeconds` to `toSeconds`, which the module sets).
    function plotRange(run, rate) {
      const first = Math.round(run.fromSeconds * rate);
      return { first, count: Math.max(1, Math.round(run.toSeconds * rate) - first) };
    }

    const runKey = (run) => `${run.fromSeconds.toFixed(3)}-${run.toSeconds.toFixed(3)}`;

    // Every channel's samples of `source` (a take) in the stretch of `run`, from what was
    // pushed, or null when they are no longer (or not yet all) held.
    function historyWindow(source, run) {
      const { first, count } = plotRange(run, source.rate);
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

    // Keeps the signal of each damaged run while the history still holds it: a block is
    // often reported only once its end is decoded.
    function snapshot(source, blocks) {
      for (const run of blocks.flatMap((block) => block.runs)) {
        const key = runKey(run);
        if (!source.snapshots.has(key)) {
          const kept = historyWindow(source, run);
          if (kept) {
            source.snapshots.set(key, kept);
          }
        }
      }
    }

    // The samples of `channel` of `source` in the stretch of `run`: read again from its file,
    // or from what was kept of the samples pushed.
    async function signalWindow(source, run, channel) {
      if (source.wav) {
        const { first, count } = plotRange(run, source.rate);
        const end = Math.min(first + count, source.wav.frames);
        return first < end
          ? { first, samples: await wav.readChannel(source.file, source.wav, first, end, channel) }
          : null;
      }
      const key = runKey(run);
      const kept = source.snapshots.get(key) ?? historyWindow(source, run);
      if (!kept) {
        return null;
      }
      // Kept for a merge with later takes, when the samples pushed are gone.
      source.snapshots.set(key, kept);
      return { first: kept.first, samples: kept.channels[channel] };
    }

    // The lowest and highest sample of each of COLUMNS stretches, alternately.
    function columns(samples) {
      const out = new Float32Array(2 * COLUMNS);
      const perColumn = samples.length / COLUMNS;
      for (let x = 0; x < COLUMNS; x++) {
        const first = Math.floor(x * perColumn);
        const last = Math.min(samples.length, Math.max(first + 1, Math.floor((x + 1) * perColumn)));
        let low = 1;
        let high = -1;
        for (let i = first; i < last; i++) {
          low = Math.min(low, samples[i]);
          high = Math.max(high, samples[i]);
        }
        out[2 * x] = low;
        out[2 * x + 1] = high;
      }
      return out;
    }

    // The signal of every damaged run of every block shown, each in the take that the run
    // names, or in `source` when it names none: { index (the block's), run (the run's in
    // the block), fromSeconds, toSeconds, columns }.
    async function plots(blocks, source, takes) {
      const result = [];
      for (const [index, block] of blocks.entries()) {
        for (const [number, run] of block.runs.entries()) {
          const from = run.take ? takes[run.take - 1] : source;
          const window = from && await signalWindow(from, run, from.channel);
          if (window) {
            result.push({ index, run: number, fromSeconds: window.first / from.rate,
              toSeconds: (window.first + window.samples.length) / from.rate,
              columns: columns(window.samples) });
          }
        }
      }
      return result;
    }

    self.thread.signal = { makeHistory, keep, snapshot, plots };
  }

  window.tonbrix.workerSignal = threadSignal;
})();
