// The recordings that the decoder hears: a file read by the browser, or the line-in as it plays.
'use strict';

(function () {
  const { $, say, megabytes, formatTime, nextFrame } = window.tonbrix.view;
  const { moduleReady } = window.tonbrix.module;
  const decoding = window.tonbrix.decoding;
  // Beyond this the page refuses a recording at once instead of filling the device's memory.
  const MAX_RECORDING_BYTES = 256 * 1024 * 1024;

  // The line-in while it records.
  const state = {
    stream: null,
    context: null,
    node: null,
  };

  async function openFile(file) {
    await stop();
    if (file.size === 0) {
      say('recording-messages', `'${file.name}' is empty.`);
      return;
    }
    if (file.size > MAX_RECORDING_BYTES) {
      say('recording-messages', `'${file.name}' is ${megabytes(file.size)}: more than this page ` +
        `can decode at once (${megabytes(MAX_RECORDING_BYTES)}). Use tonbrix-decode on a computer, ` +
        'or split the recording.');
      return;
    }
    say('recording-messages', `Reading '${file.name}'…`);
    let audio;
    try {
      // The decoder follows any rate, so the browser's own resampling does no harm.
      const context = new OfflineAudioContext(1, 1, 48000);
      audio = await context.decodeAudioData(await file.arrayBuffer());
    } catch (error) {
      say('recording-messages', `'${file.name}' is no recording this browser can play ` +
        `(${error.message || error.name}).`);
      return;
    }
    const channels = Math.min(audio.numberOfChannels, 2);
    if (!(await decoding.start(audio.sampleRate, channels, file.name))) {
      return;
    }
    const module = await moduleReady;
    const decoder = decoding.current();
    const step = audio.sampleRate * 10;
    for (let start = 0; start < audio.length; start += step) {
      if (decoding.current() !== decoder) {
        return; // another recording took over while this one yielded
      }
      const end = Math.min(start + step, audio.length);
      const data = [];
      for (let channel = 0; channel < channels; channel++) {
        data.push(audio.getChannelData(channel).subarray(start, end));
      }
      if (!decoding.feed(module, data)) {
        decoding.release(module);
        return;
      }
      say('recording-messages', `Decoding '${file.name}': ${Math.round((100 * end) / audio.length)} %`);
      await nextFrame();
    }
    await decoding.finish();
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

  async function recordLineIn() {
    await stop();
    let stream;
    try {
      stream = await navigator.mediaDevices.getUserMedia({
        audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
      });
    } catch (error) {
      say('recording-messages', `No line-in: ${error.message || error.name}.`);
      return;
    }
    const context = new AudioContext();
    const source = context.createMediaStreamSource(stream);
    const channels = Math.min(Math.max(source.channelCount, 1), 2);
    if (!(await decoding.start(context.sampleRate, channels, 'line-in'))) {
      stream.getTracks().forEach((track) => track.stop());
      await context.close();
      return;
    }
    const module = await moduleReady;
    // A data: URL, since a page opened from disk may load no other module (not even a blob).
    await context.audioWorklet.addModule(`data:text/javascript,${encodeURIComponent(CAPTURE_WORKLET)}`);
    const node = new AudioWorkletNode(context, 'tape-capture', {
      channelCount: channels, channelCountMode: 'explicit',
    });
    const started = context.currentTime;
    node.port.onmessage = (event) => {
      if (!decoding.current()) {
        return;
      }
      const data = event.data;
      while (data.length < channels) {
        data.push(data[0]);
      }
      if (!decoding.feed(module, data)) {
        stop();
        return;
      }
      say('recording-messages', `Recording from line-in: ${formatTime(context.currentTime - started)}`);
    };
    // Connected to the output only so that it runs; it writes nothing, so it stays silent.
    source.connect(node);
    node.connect(context.destination);
    Object.assign(state, { stream, context, node });
    $('record').disabled = true;
    $('stop-recording').disabled = false;
    $('stop-recording').focus();
  }

  // Ends a line-in recording, if one runs, and finishes its decoding.
  async function stop() {
    if (!state.stream) {
      return;
    }
    state.node.port.onmessage = null;
    state.node.disconnect();
    state.stream.getTracks().forEach((track) => track.stop());
    await state.context.close();
    state.stream = null;
    state.context = null;
    state.node = null;
    $('record').disabled = false;
    $('stop-recording').disabled = true;
    $('record').focus();
    await decoding.finish();
  }

  window.tonbrix.recorder = { openFile, recordLineIn, stop };
})();
