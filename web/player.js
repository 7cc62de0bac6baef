// Playback of the tape's WAV through Web Audio: the transport bar, its position and the block
// that plays, and the stops between files that multi-load games need.
'use strict';

(function () {
  const { $, say, formatTime } = window.tonbrix.view;
  const tape = window.tonbrix.tape;
  // "Previous" within this many seconds of a block's start goes to the block before it.
  const RESTART_SECONDS = 2;

  const state = {
    context: null,
    buffer: null,
    bufferFor: null, // the wav that `buffer` holds
    source: null,
    playing: false,
    offset: 0, // seconds into the WAV where playback stands while paused
    startedAt: 0, // context time at which offset 0 would have played
    pauseAt: Infinity, // seconds into the WAV where playback pauses by itself
    timer: 0,
    seeking: false, // the position slider is being dragged
  };

  function audioBufferOf(wav) {
    // The module's WAV holds a byte per sample (facts.wav.bits is 8), unsigned around the
    // level of silence, its channels interleaved.
    const facts = window.tonbrix.module.facts;
    const header = facts.wavHeaderLength;
    const { channels, silence } = facts.wav;
    const frames = Math.floor((wav.bytes.length - header) / channels);
    const buffer = state.context.createBuffer(channels, Math.max(frames, 1), wav.rate);
    for (let channel = 0; channel < channels; channel++) {
      const data = buffer.getChannelData(channel);
      for (let i = 0; i < frames; i++) {
        data[i] = (wav.bytes[header + i * channels + channel] - silence) / silence;
      }
    }
    return buffer;
  }

  // The WAV for the current options, with its sound ready; null after a message.
  async function prepare() {
    if (tape.nothingChosen()) {
      say('tape-messages', 'No block is chosen: tick a block or write a block list.');
      return null;
    }
    const wav = await tape.ensureWav();
    if (!wav) {
      return null;
    }
    state.context ??= new AudioContext();
    if (state.bufferFor !== wav) {
      state.buffer = audioBufferOf(wav);
      state.bufferFor = wav;
      state.offset = 0;
    }
    return wav;
  }

  // The start of the next file after `seconds` when the person asked to stop between files:
  // the entry of a header block, whose gap the machine waits through.
  function nextFileStart(wav, seconds) {
    if (!$('pause-between-files').checked) {
      return Infinity;
    }
    const blocks = tape.state.blocks;
    const entry = wav.starts.findIndex((start, i) =>
      start > seconds + 0.05 && blocks[wav.selection[i] - 1]?.kind !== 'headerless');
    return entry >= 0 ? wav.starts[entry] : Infinity;
  }

  async function play(from = null) {
    const wav = await prepare();
    if (!wav) {
      return;
    }
    if (from !== null) {
      haltSource();
      state.offset = from;
    } else if (state.playing) {
      return;
    }
    await state.context.resume();
    if (state.offset >= state.buffer.duration) {
      state.offset = 0;
    }
    const source = state.context.createBufferSource();
    source.buffer = state.buffer;
    source.connect(state.context.destination);
    state.startedAt = state.context.currentTime - state.offset;
    state.pauseAt = nextFileStart(wav, state.offset);
    source.onended = () => {
      if (state.source !== source || !state.playing) {
        return;
      }
      if (state.pauseAt < state.buffer.duration) {
        haltSource();
        state.offset = state.pauseAt;
        showPlayback();
        updateButtons();
      } else {
        stop();
      }
    };
    source.start(0, state.offset);
    if (state.pauseAt < Infinity) {
      source.stop(state.startedAt + state.pauseAt);
    }
    state.source = source;
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

  function togglePlay() {
    return state.playing ? pause() : play();
  }

  function stop() {
    haltSource();
    state.offset = 0;
    state.pauseAt = Infinity;
    showPlayback();
    updateButtons();
  }

  // Moves to `seconds` into the WAV, playing on if it played.
  function seek(seconds) {
    if (state.playing) {
      return play(seconds);
    }
    state.offset = seconds;
    showPlayback();
    return undefined;
  }

  function elapsedSeconds() {
    if (!state.playing) {
      return state.offset;
    }
    return Math.min(state.context.currentTime - state.startedAt, state.buffer.duration);
  }

  // The entry of the selection that plays at `seconds`, or -1 before the first.
  function entryAt(wav, seconds) {
    let entry = -1;
    while (entry + 1 < wav.starts.length && wav.starts[entry + 1] <= seconds + 1e-6) {
      entry++;
    }
    return entry;
  }

  async function playFromBlock(number) {
    const wav = await prepare();
    if (!wav) {
      return;
    }
    const entry = tape.entryOf(wav, number);
    if (entry < 0) {
      say('tape-messages', `Block ${number} is not in the block list: tick it to play it.`);
      return;
    }
    await play(wav.starts[entry]);
  }

  async function step(direction) {
    const wav = await prepare();
    if (!wav) {
      return;
    }
    const elapsed = elapsedSeconds();
    let entry = entryAt(wav, elapsed);
    if (direction > 0) {
      entry = Math.min(entry + 1, wav.starts.length - 1);
    } else if (entry >= 0 && elapsed - wav.starts[entry] < RESTART_SECONDS) {
      entry = Math.max(entry - 1, 0);
    }
    await seek(wav.starts[Math.max(entry, 0)]);
  }

  // The slider, the time and the row of the block whose sound is playing.
  function showPlayback() {
    const wav = state.bufferFor === tape.state.wav ? state.bufferFor : null;
    const total = wav ? state.buffer.duration : 0;
    const elapsed = wav ? elapsedSeconds() : 0;
    const position = $('progress');
    position.max = String(total || 1);
    if (!state.seeking) {
      position.value = String(elapsed);
    }
    position.setAttribute('aria-valuetext', `${formatTime(elapsed)} of ${formatTime(total)}`);
    $('play-time').textContent = `${formatTime(elapsed)} / ${formatTime(total)}`;
    const entry = wav && (state.playing || elapsed > 0) ? entryAt(wav, elapsed) : -1;
    const playingBlock = entry >= 0 ? wav.selection[entry] : 0;
    for (const row of $('tape-blocks').tBodies[0].rows) {
      const current = Number(row.dataset.block) === playingBlock;
      row.classList.toggle('playing', current);
      if (current) {
        row.setAttribute('aria-current', 'true');
      } else {
        row.removeAttribute('aria-current');
      }
    }
    $('now-playing').textContent = nowPlaying(wav, playingBlock, elapsed);
  }

  function nowPlaying(wav, number, elapsed) {
    if (!wav) {
      return tape.state.name ? 'Ready to play.' : 'No tape open.';
    }
    const block = tape.state.blocks[number - 1];
    const what = block
      ? `block ${number}${block.fileType ? `, ${block.fileNumber}/${block.fileType} ${block.name.trim()}` : ''}`
      : 'the lead-in';
    if (state.playing) {
      return `Playing ${what}.`;
    }
    if (elapsed > 0 && state.pauseAt === elapsed) {
      return `Stopped before the next file (${what}): press Play when the machine asks for it.`;
    }
    return elapsed > 0 ? `Paused in ${what}.` : 'Ready to play.';
  }

  // The transport follows the tape: nothing plays before an image is open. The buttons stay
  // enabled while a tape is open, so that none loses the keyboard focus under the person's
  // finger.
  function updateButtons() {
    const ready = tape.state.name !== null;
    for (const id of ['play', 'stop', 'previous-block', 'next-block', 'download-wav']) {
      $(id).disabled = !ready;
    }
    $('progress').disabled = !ready;
    $('play').textContent = state.playing ? 'Pause' : 'Play';
    showPlayback();
  }

  function startSeeking() {
    state.seeking = true;
  }

  function endSeeking() {
    state.seeking = false;
    seek(Number($('progress').value));
  }

  window.tonbrix.player = {
    play, pause, togglePlay, stop, playFromBlock, step, updateButtons, startSeeking, endSeeking,
  };
})();
