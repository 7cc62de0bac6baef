// Playback of the tape's WAV through Web Audio: the transport bar, its position and the block
// that plays, and the stops between files that multi-load games need.
'use strict';

(function () {
  const { $, formatTime, nextFrame } = window.tonbrix.view;
  const { t, tell } = window.tonbrix.i18n;
  const tape = window.tonbrix.tape;
  // "Previous" within this many seconds of a block's start goes to the block before it.
  const RESTART_SECONDS = 2;
  const CONVERT_SAMPLES = 2 * 1024 * 1024;

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
    shownBlock: -1, // the block whose row was last marked as playing
    following: true, // the page scrolls to the playing row until the person scrolls
  };

  // Converted a stretch at a time, letting the page answer between them: a long tape at
  // the high rate is tens of millions of samples. The module's WAV holds a byte per sample
  // (facts.wav.bits is 8), unsigned around the level of silence, its channels interleaved.
  async function audioBufferOf(wav) {
    const facts = window.tonbrix.module.facts;
    const header = facts.wavHeaderLength;
    const { channels, silence } = facts.wav;
    const frames = Math.floor((wav.bytes.length - header) / channels);
    const buffer = state.context.createBuffer(channels, Math.max(frames, 1), wav.rate);
    for (let channel = 0; channel < channels; channel++) {
      const data = buffer.getChannelData(channel);
      for (let first = 0; first < frames; first += CONVERT_SAMPLES) {
        const last = Math.min(frames, first + CONVERT_SAMPLES);
        for (let i = first; i < last; i++) {
          data[i] = (wav.bytes[header + i * channels + channel] - silence) / silence;
        }
        await nextFrame();
      }
    }
    return buffer;
  }

  // The WAV for the current options, with its sound ready; null after a message.
  async function prepare() {
    if (tape.nothingChosen()) {
      tell('tape-messages', 'nothingChosen');
      return null;
    }
    const wav = await tape.ensureWav();
    if (!wav) {
      return null;
    }
    state.context ??= new AudioContext();
    if (state.bufferFor !== wav) {
      // The options changed since this sound was made: the new one goes on from the start of
      // the block that stood at the old position, if it still plays that block.
      const old = state.bufferFor;
      const at = old ? elapsedSeconds() : 0;
      const block = old && (state.playing || at > 0) ? old.selection[entryAt(old, at)] : 0;
      const entry = block ? tape.entryOf(wav, block) : -1;
      haltSource();
      const buffer = await audioBufferOf(wav);
      if (tape.state.wav !== wav) {
        return null; // the options changed again meanwhile
      }
      state.buffer = buffer;
      state.bufferFor = wav;
      state.offset = entry >= 0 ? wav.starts[entry] : 0;
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
    state.following = true;
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
        rest();
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
    window.tonbrix.awake.hold('player');
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

  // Playback ended here until the person starts it again: the screen may go dark.
  function rest() {
    haltSource();
    window.tonbrix.awake.release('player');
  }

  function pause() {
    if (!state.playing) {
      return;
    }
    state.offset = elapsedSeconds();
    rest();
    showPlayback();
    updateButtons();
  }

  function togglePlay() {
    return state.playing ? pause() : play();
  }

  function stop() {
    rest();
    state.offset = 0;
    state.pauseAt = Infinity;
    showPlayback();
    updateButtons();
  }

  // Moves to `seconds` into the WAV, playing on if it played (or if `resume`).
  function seek(seconds, resume = state.playing) {
    if (resume) {
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
      tell('tape-messages', 'notInList', { n: number });
      return;
    }
    await play(wav.starts[entry]);
  }

  async function step(direction) {
    const wasPlaying = state.playing;
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
    await seek(wav.starts[Math.max(entry, 0)], wasPlaying);
  }

  // The start of the last block, where End on the slider goes: the very end would stop.
  async function toLastBlock() {
    const wasPlaying = state.playing;
    const wav = await prepare();
    if (wav) {
      await seek(wav.starts.at(-1), wasPlaying);
    }
  }

  // "block 3, 05/? NAME", the block as the rows and the machine name it.
  function describeBlock(number) {
    const block = tape.state.blocks[number - 1];
    if (!block) {
      return t('leadIn');
    }
    const file = block.fileType
      ? `, ${String(block.fileNumber).padStart(2, '0')}/${block.fileType} ${block.name.trim()}` : '';
    return `${t('blockN', { n: number })}${file}`;
  }

  // The slider, the time and the row of the block whose sound is playing.
  function showPlayback() {
    // What plays goes on playing after the options change; its sound is the one shown.
    const wav = state.bufferFor && (state.playing || state.bufferFor === tape.state.wav)
      ? state.bufferFor : null;
    // Before the first Play the length is the WAV's, which the rows' times already show.
    const total = wav ? state.buffer.duration : tape.state.wav?.seconds ?? 0;
    const elapsed = wav ? elapsedSeconds() : 0;
    const position = $('progress');
    position.max = String(total || 1);
    if (!state.seeking) {
      position.value = String(elapsed);
    }
    position.setAttribute('aria-valuetext',
      t('timeOf', { elapsed: formatTime(elapsed), total: formatTime(total) }));
    $('play-time').textContent = `${formatTime(elapsed)} / ${formatTime(total)}`;
    const entry = wav && (state.playing || elapsed > 0) ? entryAt(wav, elapsed) : -1;
    const playingBlock = entry >= 0 ? wav.selection[entry] : 0;
    for (const row of $('tape-blocks').tBodies[0].rows) {
      const current = Number(row.dataset.block) === playingBlock;
      row.classList.toggle('playing', current);
      if (current) {
        row.setAttribute('aria-current', 'true');
        if (state.playing && state.following && playingBlock !== state.shownBlock) {
          row.scrollIntoView({ block: 'nearest' });
        }
      } else {
        row.removeAttribute('aria-current');
      }
    }
    // Written only when it changes: the line is announced, so it must not chatter.
    const now = nowPlaying(wav, playingBlock, elapsed);
    if ($('now-playing').textContent !== now) {
      $('now-playing').textContent = now;
      tellMediaSession(now);
    }
    state.shownBlock = playingBlock;
  }

  // The lock screen and a headset's buttons: what plays, and the transport's actions.
  function tellMediaSession(now) {
    const session = navigator.mediaSession;
    if (!session || typeof MediaMetadata === 'undefined') {
      return;
    }
    session.metadata = tape.state.name
      ? new MediaMetadata({ title: now, artist: 'Tonbrix', album: tape.state.name }) : null;
    session.playbackState = state.playing ? 'playing' : tape.state.name ? 'paused' : 'none';
  }

  if (navigator.mediaSession) {
    const actions = {
      play: () => play(), pause, stop, previoustrack: () => step(-1), nexttrack: () => step(1),
    };
    for (const [action, handler] of Object.entries(actions)) {
      try {
        navigator.mediaSession.setActionHandler(action, () => {
          if (tape.state.name) {
            handler();
          }
        });
      } catch {
        // An action this browser does not know.
      }
    }
  }

  // The person scrolled: the page stops following the playing row until Play is pressed.
  for (const type of ['wheel', 'touchmove']) {
    window.addEventListener(type, () => {
      state.following = false;
    }, { passive: true });
  }

  function nowPlaying(wav, number, elapsed) {
    if (!wav) {
      return tape.state.name ? t('ready') : t('noTape');
    }
    const what = describeBlock(number);
    if (state.playing) {
      return t('playing', { what });
    }
    if (elapsed > 0 && state.pauseAt === elapsed) {
      return t('stoppedBeforeFile', { what });
    }
    return elapsed > 0 ? t('pausedIn', { what }) : t('ready');
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
    $('play').textContent = state.playing ? t('pause') : t('play');
    showPlayback();
  }

  function startSeeking() {
    state.seeking = true;
  }

  function endSeeking() {
    state.seeking = false;
    seek(Number($('progress').value));
  }

  // Made while the page loads: the first one a page makes takes over a tenth of a second,
  // which at the first Play would hold up the page. It stays suspended until Play resumes it.
  state.context = new AudioContext();

  window.tonbrix.player = {
    play, pause, togglePlay, stop, playFromBlock, step, toLastBlock, updateButtons, startSeeking,
    endSeeking, isPlaying: () => state.playing,
  };
})();
