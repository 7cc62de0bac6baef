// The wiring: which control and which dropped file starts what. Loaded after the other scripts.
'use strict';

(function () {
  const { $, say } = window.tonbrix.view;
  const { tape, player, opening, decoding, recorder } = window.tonbrix;
  // Typing in the options rebuilds the WAV (and the rows' times) once the typing pauses.
  const REBUILD_DELAY_MS = 400;

  let rebuildTimer = 0;

  function optionsChanged() {
    player.stop();
    tape.forgetWav();
    player.updateButtons();
    tape.describeRate();
    clearTimeout(rebuildTimer);
    rebuildTimer = setTimeout(() => tape.ensureWav({ quiet: true }), REBUILD_DELAY_MS);
  }

  // `open` gets the files dropped on `zone`.
  function acceptDrops(zone, open) {
    zone.addEventListener('dragover', (event) => {
      event.preventDefault();
      zone.classList.add('dragging');
    });
    zone.addEventListener('dragleave', () => zone.classList.remove('dragging'));
    zone.addEventListener('drop', (event) => {
      event.preventDefault();
      zone.classList.remove('dragging');
      if (event.dataTransfer.files.length > 0) {
        open(event.dataTransfer.files);
      }
    });
  }

  function withErrors(target, action) {
    return (...args) => Promise.resolve(action(...args)).catch((error) => {
      say(target, `Something went wrong: ${error.message || error}`);
    });
  }

  const openTapeSafely = withErrors('tape-messages', opening.openFile);
  const openRecordingsSafely = withErrors('recording-messages', recorder.openFiles);

  $('tape-file').addEventListener('change', (event) => {
    const file = event.target.files[0];
    if (file) {
      openTapeSafely(file);
    }
  });
  // Several recordings chosen or dropped at once are takes of one cassette.
  $('recording-file').addEventListener('change', (event) => {
    if (event.target.files.length > 0) {
      openRecordingsSafely(event.target.files);
    }
  });
  $('add-take').addEventListener('click', () => $('add-take-file').click());
  $('add-take-file').addEventListener('change', (event) => {
    const files = [...event.target.files];
    // Emptied, so that the same file may be chosen again.
    event.target.value = '';
    if (files.length > 0) {
      openRecordingsSafely(files, true);
    }
  });
  acceptDrops($('tape-section'), (files) => openTapeSafely(files[0]));
  acceptDrops($('recording-section'), openRecordingsSafely);
  // A file dropped anywhere else must not make the browser leave the page.
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => event.preventDefault());

  // A file opened in the wrong section moves to the right one, and so does the focus.
  $('digitise-offered').addEventListener('click', () => {
    $('recording-heading').focus();
    openRecordingsSafely([opening.takeOffer()]);
  });
  $('open-offered').addEventListener('click', () => {
    $('tape-heading').focus();
    openTapeSafely(recorder.takeOffer());
  });

  $('block-list').addEventListener('input', () => {
    tape.syncCheckboxes();
    optionsChanged();
  });
  $('tape-blocks').addEventListener('change', () => {
    tape.listCheckedBlocks();
    optionsChanged();
  });
  $('tape-blocks').addEventListener('click', (event) => {
    const button = event.target.closest('button.play-from');
    if (button) {
      withErrors('tape-messages', player.playFromBlock)(Number(button.dataset.block));
    }
  });
  for (const id of ['protocol', 'sample-rate', 'amplitude', 'gap', 'reverse-phase']) {
    $(id).addEventListener('change', optionsChanged);
  }
  $('play').addEventListener('click', withErrors('tape-messages', player.togglePlay));
  $('stop').addEventListener('click', player.stop);
  $('previous-block').addEventListener('click', withErrors('tape-messages', () => player.step(-1)));
  $('next-block').addEventListener('click', withErrors('tape-messages', () => player.step(1)));
  $('progress').addEventListener('input', player.startSeeking);
  $('progress').addEventListener('change', withErrors('tape-messages', player.endSeeking));
  $('download-wav').addEventListener('click', withErrors('tape-messages', tape.downloadWav));
  $('record').addEventListener('click', withErrors('recording-messages', recorder.recordLineIn));
  $('stop-recording').addEventListener('click', withErrors('recording-messages', recorder.stop));
  $('download-image').addEventListener('click', decoding.downloadImage);
  $('download-report').addEventListener('click', decoding.downloadReport);

  window.tonbrix.module.moduleReady.then(() => {
    // The fault marks and their meanings are the module's.
    for (const list of document.querySelectorAll('dl.marks')) {
      for (const { mark, meaning } of window.tonbrix.module.facts.marks) {
        const term = document.createElement('dt');
        term.textContent = mark;
        const description = document.createElement('dd');
        description.textContent = meaning;
        list.append(term, description);
      }
    }
    // The rates are the converter's; the options stand in the order of -sr L, M and H.
    const rates = window.tonbrix.module.facts.sampleRates;
    [...$('sample-rate').options].forEach((option, i) => {
      option.textContent = `${rates[i]} Hz`;
    });
    tape.describeRate();
    document.body.classList.add('ready');
    return withErrors('tape-messages', opening.openFromAddress)();
  });
})();
