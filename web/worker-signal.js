// The decoding thread's plots: the signal around a damaged block's first unknown byte.
'use strict';

(function () {
  // Runs in the worker only, after threadWav, from its source text (see worker.js), so it may
  // use nothing from outside itself.
  function threadSignal() {
    'use strict';

    const wav = self.thread.wav;
    // How much of the signal either side of a first unknown byte the page plots.
    const PLOT_SECONDS = 0.3;
    // Samples pushed by the page (line-in, or a recording the browser decoded) are kept this
    // long per channel, so that a block reported at its end can still show its damage.
    const HISTORY_SECONDS = 360;

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

    // Keeps the signal around each block's first unknown byte while the history still holds
    // it: a block is often reported only once its end is decoded.
    function snapshot(source, blocks) {
      for (const block of blocks) {
        const key = block.firstUnknownSeconds.toFixed(2);
        if (block.firstUnknownSeconds >= 0 && !source.snapshots.has(key)) {
          const kept = historyWindow(source, block.firstUnknownSeconds);
          if (kept) {
            source.snapshots.set(key, kept);
          }
        }
      }
    }

    // The samples of `channel` around `seconds` in the WAV file of `source`, read again.
    async function fileWindow(source, seconds, channel) {
      const { first, count } = plotRange(seconds, source.rate);
      const end = Math.min(first + count, source.wav.frames);
      const samples = await wav.readChannel(source.file, source.wav, first, end, channel);
      return { first, samples };
    }

    // The samples of `channel` of `source` around `seconds`: read again from its file, or
    // from what was kept of the samples pushed.
    async function signalWindow(source, seconds, channel) {
      if (source.wav) {
        return fileWindow(source, seconds, channel);
      }
      const at = seconds * source.rate;
      const key = seconds.toFixed(2);
      const kept = source.snapshots.get(key) ?? historyWindow(source, seconds) ??
        [...source.snapshots.values()].find((old) =>
          old.first <= at && at < old.first + old.channels[0].length);
      if (!kept) {
        return null;
      }
      // Kept for a merge with later takes, when the samples pushed are gone.
      source.snapshots.set(key, kept);
      // A copy: the plot's samples pass to the page, and the snapshot may serve again.
      return { first: kept.first, samples: kept.channels[channel].slice() };
    }

    // The signal around the first unknown byte of every damaged block shown: each in the take
    // of `takes` that the block names, or in `source` when it names none.
    async function plots(blocks, source, takes) {
      const result = [];
      for (const [index, block] of blocks.entries()) {
        if (block.firstUnknownSeconds < 0) {
          continue;
        }
        const from = block.take ? takes[block.take - 1] : source;
        const window = await signalWindow(from, block.firstUnknownSeconds, from.channel);
        if (window) {
          result.push({ index, rate: from.rate, startSeconds: window.first / from.rate,
            samples: window.samples });
        }
      }
      return result;
    }

    self.thread.signal = { makeHistory, keep, snapshot, plots };
  }

  window.tonbrix.workerSignal = threadSignal;
})();
