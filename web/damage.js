// The signal around a damaged block's first unknown byte, drawn and told in words, so that a
// person sees whether the tape dropped out, was noisy or ran at the wrong speed.
'use strict';

(function () {
  const { t, number, percent: asPercent } = window.tonbrix.i18n;
  // The level is the peak of each stretch of this length.
  const LEVEL_SECONDS = 0.01;
  // A level below this share of the one before the damage counts as the signal vanishing.
  const DROPOUT_SHARE = 0.25;

  // Peaks of |sample| over stretches of LEVEL_SECONDS.
  function levels(samples, rate) {
    const size = Math.max(1, Math.round(rate * LEVEL_SECONDS));
    const out = [];
    for (let i = 0; i < samples.length; i += size) {
      let peak = 0;
      for (let j = i; j < Math.min(i + size, samples.length); j++) {
        peak = Math.max(peak, Math.abs(samples[j]));
      }
      out.push(peak);
    }
    return out;
  }

  function median(values) {
    const sorted = [...values].sort((a, b) => a - b);
    return sorted.length ? sorted[Math.floor(sorted.length / 2)] : 0;
  }

  const percent = (value) => asPercent(value);
  const seconds = (value) => `${number(value, 2)} s`;

  // What the plot shows, in words: the level before, at and after the first unknown byte.
  function describe(block, plot) {
    const level = levels(plot.samples, plot.rate);
    const at = Math.round((block.firstUnknownSeconds - plot.startSeconds) / LEVEL_SECONDS);
    const before = median(level.slice(0, Math.max(1, at)));
    const lowest = Math.min(...level.slice(Math.max(0, at - 5), at + 10));
    const after = median(level.slice(at + 10));
    const words = t('plotLevels', { before: percent(before), lowest: percent(lowest),
      after: percent(after) });
    return `${words} ${t(lowest < before * DROPOUT_SHARE ? 'plotDropout' : 'plotHolds')}`;
  }

  function draw(canvas, block, plot) {
    const style = getComputedStyle(canvas);
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(200, canvas.clientWidth) * ratio;
    const height = canvas.clientHeight * ratio;
    canvas.width = width;
    canvas.height = height;
    const context = canvas.getContext('2d');
    context.clearRect(0, 0, width, height);
    context.fillStyle = style.color;
    const samples = plot.samples;
    const perColumn = samples.length / width;
    for (let x = 0; x < width; x++) {
      const first = Math.floor(x * perColumn);
      const last = Math.min(samples.length, Math.max(first + 1, Math.floor((x + 1) * perColumn)));
      let low = 1;
      let high = -1;
      for (let i = first; i < last; i++) {
        low = Math.min(low, samples[i]);
        high = Math.max(high, samples[i]);
      }
      const top = ((1 - high) / 2) * height;
      context.fillRect(x, top, 1, Math.max(1, ((high - low) / 2) * height));
    }
    const marker = ((block.firstUnknownSeconds - plot.startSeconds) / (samples.length / plot.rate)) * width;
    context.fillStyle = style.getPropertyValue('--marker');
    context.fillRect(Math.round(marker) - ratio, 0, 2 * ratio, height);
  }

  // The figure for block `number`: the waveform with the first unknown byte marked, and its
  // caption, which is also the plot's text alternative. Of a tape merged from several takes,
  // `take` ({ number, name }) says in which the signal lies; else it is null.
  function figure(number, block, plot, take) {
    const element = document.createElement('figure');
    element.className = 'damage';
    const canvas = document.createElement('canvas');
    const end = plot.startSeconds + plot.samples.length / plot.rate;
    const name = t(take ? 'plotNameTake' : 'plotName', { n: number, take: take?.number,
      from: seconds(plot.startSeconds), to: seconds(end), at: seconds(block.firstUnknownSeconds) });
    canvas.setAttribute('role', 'img');
    canvas.setAttribute('aria-label', name);
    const caption = document.createElement('figcaption');
    const recording = take ? t('plotInTake', { n: take.number, name: take.name }) : t('plotInRecording');
    caption.textContent = `${t('plotCaption', { block: number, n: block.unknownBytes,
      at: seconds(block.firstUnknownSeconds), recording })} ${describe(block, plot)}`;
    element.append(canvas, caption);
    // Drawn once it has a width, and again when the page's width or theme changes.
    const redraw = () => draw(canvas, block, plot);
    drawings.set(canvas, redraw);
    new ResizeObserver(redraw).observe(canvas);
    return element;
  }

  const drawings = new WeakMap();
  matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => {
    for (const canvas of document.querySelectorAll('figure.damage canvas')) {
      drawings.get(canvas)?.();
    }
  });

  window.tonbrix.damage = { figure };
})();
