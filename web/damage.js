// The signal around each run of a damaged block's bytes in doubt, drawn on a time axis and
// told in words, so that a person sees where the tape dropped out, was noisy or ended. The
// module measures the runs and the stretch shown; the page only draws and names them.
'use strict';

(function () {
  const { t, number } = window.tonbrix.i18n;
  // Room under the signal for the time axis, in CSS pixels.
  const AXIS_HEIGHT = 18;
  // Time steps between the axis's labels, the smallest that leaves each label this much room;
  // each a whole number of the tenths that the labels show.
  const STEPS = [0.1, 0.2, 0.5, 1, 2, 5, 10];
  const LABEL_ROOM = 70;

  // m:ss.s in the language's form: "1:05.3" or "1:05,3".
  function clock(seconds) {
    const tenths = Math.max(0, Math.round(seconds * 10));
    const minutes = Math.floor(tenths / 600);
    const rest = (tenths % 600) / 10;
    return `${minutes}:${rest < 10 ? '0' : ''}${number(rest, 1)}`;
  }

  function drawSignal(context, plot, width, height) {
    const columns = plot.columns;
    const count = columns.length / 2;
    for (let x = 0; x < width; x++) {
      const first = Math.floor((x * count) / width);
      const last = Math.max(first + 1, Math.floor(((x + 1) * count) / width));
      let low = 1;
      let high = -1;
      for (let c = first; c < last; c++) {
        low = Math.min(low, columns[2 * c]);
        high = Math.max(high, columns[2 * c + 1]);
      }
      if (high >= low) {
        const top = ((1 - high) / 2) * height;
        context.fillRect(x, top, 1, Math.max(1, ((high - low) / 2) * height));
      }
    }
  }

  function drawAxis(context, plot, width, height, ratio) {
    const span = plot.toSeconds - plot.fromSeconds;
    const step = STEPS.find((s) => (s / span) * width >= LABEL_ROOM * ratio) ?? STEPS.at(-1);
    context.fillRect(0, height, width, ratio);
    context.textBaseline = 'top';
    for (let tick = Math.ceil(plot.fromSeconds / step); tick * step <= plot.toSeconds; tick++) {
      const at = tick * step;
      const x = Math.round(((at - plot.fromSeconds) / span) * width);
      context.fillRect(x, height, ratio, 4 * ratio);
      const label = clock(at);
      const labelWidth = context.measureText(label).width;
      context.fillText(label, Math.min(width - labelWidth, Math.max(0, x - labelWidth / 2)),
        height + 5 * ratio);
    }
  }

  // The run's stretch shaded, its start and end marked.
  function drawRun(context, plot, run, width, height, ratio) {
    const span = plot.toSeconds - plot.fromSeconds;
    const x = (seconds) => ((seconds - plot.fromSeconds) / span) * width;
    const start = Math.max(0, x(run.startSeconds));
    const end = Math.min(width, Math.max(x(run.endSeconds), start + 2 * ratio));
    context.globalAlpha = 0.2;
    context.fillRect(start, 0, end - start, height);
    context.globalAlpha = 1;
    context.fillRect(Math.round(start) - ratio, 0, 2 * ratio, height);
    context.fillRect(Math.round(end) - ratio, 0, 2 * ratio, height);
  }

  function draw(canvas, run, plot) {
    const style = getComputedStyle(canvas);
    const ratio = window.devicePixelRatio || 1;
    const width = Math.round(Math.max(200, canvas.clientWidth) * ratio);
    const height = Math.round(canvas.clientHeight * ratio);
    canvas.width = width;
    canvas.height = height;
    const context = canvas.getContext('2d');
    const signalHeight = height - AXIS_HEIGHT * ratio;
    context.clearRect(0, 0, width, height);
    context.fillStyle = style.color;
    context.font = `${Math.round(12 * ratio)}px ${style.fontFamily}`;
    drawSignal(context, plot, width, signalHeight);
    drawAxis(context, plot, width, signalHeight, ratio);
    context.fillStyle = style.getPropertyValue('--marker');
    drawRun(context, plot, run, width, signalHeight, ratio);
  }

  // The words for a run, by the state the module gives it, as the listing's notes have it:
  // unknown bytes lay under a dropout, uncertain ones were read in doubt, missing ones a body
  // cut short lacks.
  const STATE_KEYS = { unknown: 'damageDropout', uncertain: 'damageUncertain', missing: 'damageMissing' };

  function runWords(number, run, take) {
    const recording = take ? t('plotInTake', { n: take.number, name: take.name }) : t('plotInRecording');
    return t(STATE_KEYS[run.state], { block: number, n: run.count, recording,
      from: clock(run.startSeconds), to: clock(run.endSeconds) });
  }

  // The figure for block `number`: each damaged run that has a plot (`shown`: [{ run, plot }])
  // with its signal, its time axis and its words, one at a time, with buttons to the others.
  // `takeOf(run)` gives the take ({ number, name }) a run lies in, or null for a recording
  // alone.
  function figure(number, shown, takeOf) {
    const element = document.createElement('figure');
    element.className = 'damage';
    const canvas = document.createElement('canvas');
    canvas.setAttribute('role', 'img');
    const caption = document.createElement('figcaption');
    const words = document.createElement('span');
    caption.append(words);
    element.append(canvas, caption);
    let at = 0;
    const show = () => {
      const { run, plot } = shown[at];
      const take = takeOf(run);
      canvas.setAttribute('aria-label', t(take ? 'plotNameTake' : 'plotName', { n: number,
        take: take?.number, from: clock(plot.fromSeconds), to: clock(plot.toSeconds),
        start: clock(run.startSeconds), end: clock(run.endSeconds) }));
      words.textContent = runWords(number, run, take);
      if (stepper) {
        stepper.count.textContent = t('damageCount', { n: at + 1, of: shown.length });
        stepper.previous.disabled = at === 0;
        stepper.next.disabled = at === shown.length - 1;
      }
      draw(canvas, run, plot);
    };
    const stepper = shown.length > 1 ? makeStepper(number, (by) => {
      at = Math.max(0, Math.min(shown.length - 1, at + by));
      show();
    }) : null;
    if (stepper) {
      caption.append(stepper.bar);
    }
    // Drawn once it has a width, and again when the page's width or theme changes.
    drawings.set(canvas, show);
    new ResizeObserver(show).observe(canvas);
    return element;
  }

  // Buttons to the previous and next damaged run of block `number`, and which is shown.
  function makeStepper(number, move) {
    const bar = document.createElement('span');
    bar.className = 'runs';
    const button = (key, by) => {
      const made = document.createElement('button');
      made.type = 'button';
      made.textContent = t(key);
      made.setAttribute('aria-label', t(`${key}Named`, { n: number }));
      made.addEventListener('click', () => {
        move(by);
        // At either end the button pressed is disabled: focus goes to the other one.
        if (made.disabled) {
          (by < 0 ? next : previous).focus();
        }
      });
      return made;
    };
    const previous = button('damagePrevious', -1);
    const next = button('damageNext', 1);
    const count = document.createElement('span');
    bar.append(previous, count, next);
    return { bar, previous, next, count };
  }

  const drawings = new WeakMap();
  matchMedia('(prefers-color-scheme: dark)').addEventListener('change', () => {
    for (const canvas of document.querySelectorAll('figure.damage canvas')) {
      drawings.get(canvas)?.();
    }
  });

  window.tonbrix.damage = { figure, clock };
})();
