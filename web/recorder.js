// The recordings that the decoder hears: a file, streamed when it is a WAV and else decoded by
// the browser, or the line-in as it plays, with its level.
'use strict';

(function () {
  const { $, say, megabytes, formatTime, nextFrame } = window.tonbrix.view;
  const { tape, decoding, captures } = window.tonbrix;
  const { t, tell, percent } = window.tonbrix.i18n;
  // Seconds of samples handed to the worker at a time from a recording the browser decoded.
  const PUSH_SECONDS = 10;
  // The level meter's warnings: a peak this close to full scale has probably been clipped; a
  // peak below QUIET over QUIET_SECONDS is either a gap between blocks or a deck turned down.
  const CLIPPING = 0.99;
  const QUIET = 0.05;
  const QUIET_SECONDS = 3;

  // The line-in while it records.
  const state = {
    stream: null,
    context: null,
    node: null,
    take: null,
    loudAt: 0, // context time of the last peak above QUIET
    clippedAt: -Infinity,
  };

  function progressSaying(name) {
    let shown = -1;
    // Whole percents only, so that a screen reader hears a few steps, not every slice.
    return (message) => {
      const step = Math.floor(10 * message.fraction);
      if (step !== shown) {
        shown = step;
        tell('recording-messages', 'decodingProgress', { name, percent: percent(step / 10) });
      }
    };
  }

  // A tape image opened here, kept for the offer to open it as a tape.
  let offered = null;

  function takeOffer() {
    const file = offered;
    offered = null;
    $('recording-offer').hidden = true;
    return file;
  }

  // Opens `file` as the first take of a cassette or, with `add`, as another take of it.
  async function openFile(file, add) {
    await stop();
    takeOffer();
    const take = decoding.begin(file.name, add);
    if (file.size === 0) {
      tell('recording-messages', 'emptyRecording', { name: file.name });
      return;
    }
    tell('recording-messages', 'reading', { name: file.name });
    const streamed = await decoding.streamFile(take, file, progressSaying(file.name));
    if (streamed.op !== 'notStreamable') {
      return;
    }
    // A recording that the browser must decode whole is refused beyond what the page keeps of
    // any file, instead of filling the device's memory; a WAV is read in slices.
    const limit = window.tonbrix.module.facts.maxFileBytes;
    if (file.size > limit) {
      tell('recording-messages', 'tooLargeToDecode', { name: file.name, size: megabytes(file.size),
        limit: megabytes(limit) });
      return;
    }
    let audio;
    try {
      // Decoded at the file's own rate where its header tells it, so that the report's rate
      // and sample offsets are the file's; else the decoder follows the browser's rate.
      const bytes = await file.arrayBuffer();
      const context = new OfflineAudioContext(1, 1, ownRate(new Uint8Array(bytes, 0, 32)) ?? 48000);
      audio = await context.decodeAudioData(bytes);
    } catch (error) {
      if (await tape.isTapeImage(new Uint8Array(await file.arrayBuffer()))) {
        offered = file;
        tell('recording-messages', 'isTapeImage', { name: file.name });
        $('recording-offer').hidden = false;
        return;
      }
      tell('recording-messages', 'cannotPlay', { name: file.name, error: error.message || error.name });
      return;
    }
    const channels = Math.min(audio.numberOfChannels, window.tonbrix.module.facts.maxChannels);
    if (decoding.current() !== take ||
        !(await decoding.startPush(take, audio.sampleRate, channels, progressSaying(file.name)))) {
      return;
    }
    const step = audio.sampleRate * PUSH_SECONDS;
    for (let start = 0; start < audio.length && !take.done; start += step) {
      const end = Math.min(start + step, audio.length);
      const data = [];
      for (let channel = 0; channel < channels; channel++) {
        data.push(audio.getChannelData(channel).slice(start, end));
      }
      await decoding.push(take, data, end / audio.length);
      await nextFrame();
    }
    await decoding.finish(take);
  }

  // The sample rate in a FLAC file's STREAMINFO, which follows its marker and block header;
  // null for other files or rates the browser cannot decode at.
  function ownRate(head) {
    const flac = head.length >= 21 && head[0] === 0x66 && head[1] === 0x4c && head[2] === 0x61 &&
      head[3] === 0x43 && (head[4] & 0x7f) === 0;
    const rate = flac ? (head[18] << 12) | (head[19] << 4) | (head[20] >> 4) : 0;
    return rate >= 8000 && rate <= 384000 ? rate : null;
  }

  // Files waiting to be decoded, each { file, add }, and the loop that decodes them in turn.
  let pending = [];
  let draining = null;

  // Decodes `files` one after another as takes of one cassette: a new one, or with `add`
  // the one open. Files added while others decode wait for them.
  function openFiles(files, add = false) {
    if (!add && !decoding.mayDiscard()) {
      return Promise.resolve();
    }
    const entries = [...files].map((file, i) => ({ file, add: add || i > 0 }));
    if (add) {
      pending.push(...entries);
    } else {
      pending = entries;
      decoding.cancel();
    }
    draining ??= (async () => {
      $('cancel-decoding').hidden = false;
      try {
        while (pending.length > 0) {
          const next = pending.shift();
          await openFile(next.file, next.add);
        }
      } finally {
        draining = null;
        $('cancel-decoding').hidden = true;
      }
    })();
    return draining;
  }

  // Stops the files being decoded, and those waiting; the takes decoded before stay.
  function cancelFiles() {
    if (!draining) {
      return;
    }
    pending = [];
    decoding.cancel();
    tell('recording-messages', 'decodingCancelled');
  }

  // Runs in the audio thread and passes the samples on in batches of 8192 frames: a message
  // per 128-frame quantum would cost more than decoding them. Messages queue up while the
  // page is busy, so no sample is lost, unlike with a ScriptProcessorNode.
  const CAPTURE_WORKLET = `
registerProcessor('tape-capture', class extends AudioWorkletProcessor {
  constructor() {
    super();
    this.batch = [];
    this.filled = 0;
  }
  process(inputs) {
    const input = inputs[0];
    if (input.length === 0) {
      return true;
    }
    if (this.batch.length !== input.length) {
      this.batch = input.map(() => new Float32Array(8192));
      this.filled = 0;
    }
    const count = input[0].length;
    input.forEach((channel, i) => this.batch[i].set(channel, this.filled));
    this.filled += count;
    if (this.filled + count > 8192) {
      this.port.postMessage(this.batch.map((channel) => channel.slice(0, this.filled)));
      this.filled = 0;
    }
    return true;
  }
});
`;

  // "line-in 2024-05-01 14.03": a capture's name when none is typed, unique to the minute.
  function captureName() {
    const typed = $('capture-name').value.trim();
    if (typed) {
      return typed;
    }
    const now = new Date();
    const two = (n) => String(n).padStart(2, '0');
    return `line-in ${now.getFullYear()}-${two(now.getMonth() + 1)}-${two(now.getDate())} ` +
      `${two(now.getHours())}.${two(now.getMinutes())}`;
  }

  // The meter shows the peak of the last batch; the warning under it what the last seconds
  // were like.
  function showLevel(data, now) {
    let peak = 0;
    for (const samples of data) {
      for (let i = 0; i < samples.length; i++) {
        peak = Math.max(peak, Math.abs(samples[i]));
      }
    }
    const meter = $('level');
    meter.value = peak;
    meter.setAttribute('aria-valuetext', t('ofFullScale', { percent: percent(peak) }));
    if (peak >= QUIET) {
      state.loudAt = now;
    }
    if (peak >= CLIPPING) {
      state.clippedAt = now;
    }
    let warning = '';
    if (now - state.clippedAt < QUIET_SECONDS) {
      warning = t('clipping');
    } else if (now - state.loudAt > QUIET_SECONDS) {
      warning = t('quiet');
    }
    if ($('level-warning').textContent !== warning) {
      $('level-warning').textContent = warning;
    }
  }

  async function recordLineIn() {
    pending = [];
    await stop();
    let stream;
    try {
      stream = await navigator.mediaDevices.getUserMedia({
        audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
      });
    } catch (error) {
      tell('recording-messages', 'noLineIn', { error: error.message || error.name });
      return;
    }
    const context = new AudioContext();
    const source = context.createMediaStreamSource(stream);
    const channels = Math.min(Math.max(source.channelCount, 1),
      window.tonbrix.module.facts.maxChannels);
    // A capture is one more take of the cassette whose takes are decoded, before or after
    // recordings opened as files.
    const take = decoding.begin(captureName(), decoding.hasTakes());
    if (!(await decoding.startPush(take, context.sampleRate, channels))) {
      stream.getTracks().forEach((track) => track.stop());
      await context.close();
      return;
    }
    let announced = 0;
    take.onFound = (found) => {
      if (found > announced) {
        announced = found;
        tell('recording-messages', 'recordingFound', { name: take.name, n: found });
      }
    };
    tell('recording-messages', 'recordingFrom', { name: take.name });
    $('recording-time').textContent = t('recordingTime', { time: formatTime(0) });
    const capture = await captures.begin(take.name, context.sampleRate, channels);
    await captures.recordingNow(capture.id);
    window.tonbrix.awake.hold('recorder');
    // A data: URL, since a page opened from disk may load no other module (not even a blob).
    await context.audioWorklet.addModule(`data:text/javascript,${encodeURIComponent(CAPTURE_WORKLET)}`);
    const node = new AudioWorkletNode(context, 'tape-capture', {
      channelCount: channels, channelCountMode: 'explicit',
    });
    const started = context.currentTime;
    node.port.onmessage = (event) => {
      const data = event.data;
      while (data.length < channels) {
        data.push(data[0]);
      }
      showLevel(data, context.currentTime);
      // Kept before the samples pass to the worker, which takes their buffers.
      captures.append(capture, data);
      decoding.push(take, data);
      // Once a second, beside the meter: the messages, a live region, change only when there
      // is news.
      const seconds = Math.floor(context.currentTime - started);
      if (seconds !== state.shownSeconds) {
        state.shownSeconds = seconds;
        $('recording-time').textContent = t('recordingTime', { time: formatTime(seconds) });
      }
    };
    // Connected to the output only so that it runs; it writes nothing, so it stays silent.
    source.connect(node);
    node.connect(context.destination);
    Object.assign(state, { stream, context, node, take, loudAt: started, clippedAt: -Infinity,
      shownSeconds: 0 });
    $('level-line').hidden = false;
    $('record').disabled = true;
    $('stop-recording').disabled = false;
    $('stop-recording').focus();
  }

  // Ends a line-in recording, if one runs, and finishes its decoding.
  async function stop() {
    if (!state.stream) {
      return;
    }
    const take = state.take;
    const hadFocus = document.activeElement === $('stop-recording');
    state.node.port.onmessage = null;
    state.node.disconnect();
    state.stream.getTracks().forEach((track) => track.stop());
    await state.context.close();
    Object.assign(state, { stream: null, context: null, node: null, take: null });
    $('level-line').hidden = true;
    $('level-warning').textContent = '';
    window.tonbrix.awake.release('recorder');
    await captures.recordingNow(null);
    $('record').disabled = false;
    $('stop-recording').disabled = true;
    if (hadFocus) {
      $('record').focus();
    }
    await decoding.finish(take);
  }

  window.tonbrix.recorder = { openFiles, cancelFiles, recordLineIn, stop, takeOffer };
})();
