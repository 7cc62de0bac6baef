// Playback of the tape's WAV through Web Audio, with its progress and the block that plays.
'use strict';

(function () {
  const { $, formatTime } = window.tonbrix.view;
  const tape = window.tonbrix.tape;

  const state = {
    context: null,
    buffer: null,
    bufferFor: null, // the wav that `buffer` holds
    source: null,
    playing: false,
    offset: 0, // seconds into the WAV where playback stands while paused
    startedAt: 0, // context time at which offset 0 would have played
    timer: 0,
  };

  function headerLength() {
    return window.tonbrix.module.facts.wavHeaderLength;
  }

  function audioBufferOf(wav) {
    const header = headerLength();
    const samples = wav.bytes.length - header;
    const buffer = state.context.createBuffer(1, Math.max(samples, 1), wav.rate);
    const data = buffer.getChannelData(0);
    for (let i = 0; i < samples; i++) {
      data[i] = (wav.bytes[header + i] - 128) / 128;
    }
    return buffer;
  }

  async function play() {
    const wav = await tape.ensureWav();
    if (!wav || state.playing) {
      return;
    }
    state.context ??= new AudioContext();
    await state.context.resume();
    if (state.bufferFor !== wav) {
      state.buffer = audioBufferOf(wav);
      state.bufferFor = wav;
      state.offset = 0;
    }
    const source = state.context.createBufferSource();
    source.buffer = state.buffer;
    source.connect(state.context.destination);
    source.onended = () => {
      if (state.source === source && state.playing) {
        stop();
      }
    };
    source.start(0, state.offset);
    state.source = source;
    state.startedAt = state.context.currentTime - state.offset;
    state.playing = true;
    state.timer = setInterval(showPlayback, 100);
    showPlayback();
    updateButtons();
  }

  function haltSource() {
    if (state.source) {
      state.source.onended = null;
      state.source.stop();
      state.source.disconnect();
      state.source = null;
    }
    clearInterval(state.timer);
    state.playing = false;
  }

  function pause() {
    if (!state.playing) {
      return;
    }
    state.offset = elapsedSeconds();
    haltSource();
    showPlayback();
    updateButtons();
  }

  function stop() {
    haltSource();
    state.offset = 0;
    showPlayback();
    updateButtons();
  }

  function elapsedSeconds() {
    if (!state.playing) {
      return state.offset;
    }
    return Math.min(state.context.currentTime - state.startedAt, state.buffer.duration);
  }

  // Progress bar, time and the row of the block whose sound is playing.
  function showPlayback() {
    const total = state.buffer && state.bufferFor === tape.state.wav ? state.buffer.duration : 0;
    const elapsed = total > 0 ? elapsedSeconds() : 0;
    const progress = $('progress');
    progress.max = total || 1;
    progress.value = elapsed;
    progress.setAttribute('aria-valuetext', `${formatTime(elapsed)} of ${formatTime(total)}`);
    $('play-time').textContent = `${formatTime(elapsed)} / ${formatTime(total)}`;
    let playingBlock = 0;
    if (state.playing || elapsed > 0) {
      const wav = state.bufferFor;
      const byteOffset = headerLength() + elapsed * wav.rate;
      for (let i = 0; i < wav.entryStarts.length && wav.entryStarts[i] <= byteOffset; i++) {
        playingBlock = wav.selection[i];
      }
    }
    for (const row of $('tape-blocks').tBodies[0].rows) {
      const current = Number(row.dataset.block) === playingBlock;
      row.classList.toggle('playing', current);
      if (current) {
        row.setAttribute('aria-current', 'true');
      } else {
        row.removeAttribute('aria-current');
      }
    }
  }

  // The transport follows the tape: nothing plays or downloads before an image is open.
  function updateButtons() {
    const ready = tape.state.name !== null;
    $('play').disabled = !ready || state.playing;
    $('pause').disabled = !state.playing;
    $('stop').disabled = !state.playing && state.offset === 0;
    $('download-wav').disabled = !ready;
  }

  window.tonbrix.player = { play, pause, stop, updateButtons };
})();
