// The wiring: which control and which dropped file starts what. Loaded after the other scripts.
'use strict';

(function () {
  const { $, say } = window.tonbrix.view;
  const { tape, player, decoding, recorder } = window.tonbrix;

  async function openTape(file) {
    player.stop();
    tape.close();
    player.updateButtons();
    await tape.open(file);
    player.updateButtons();
  }

  function optionsChanged() {
    player.stop();
    tape.forgetWav();
    player.updateButtons();
  }

  function acceptDrops(zone, open) {
    zone.addEventListener('dragover', (event) => {
      event.preventDefault();
      zone.classList.add('dragging');
    });
    zone.addEventListener('dragleave', () => zone.classList.remove('dragging'));
    zone.addEventListener('drop', (event) => {
      event.preventDefault();
      zone.classList.remove('dragging');
      const file = event.dataTransfer.files[0];
      if (file) {
        open(file);
      }
    });
  }

  function withErrors(target, action) {
    return (...args) => Promise.resolve(action(...args)).catch((error) => {
      say(target, `Something went wrong: ${error.message || error}`);
    });
  }

  const openTapeSafely = withErrors('tape-messages', openTape);
  const openRecordingSafely = withErrors('recording-messages', recorder.openFile);

  $('tape-file').addEventListener('change', (event) => {
    const file = event.target.files[0];
    if (file) {
      openTapeSafely(file);
    }
  });
  $('recording-file').addEventListener('change', (event) => {
    const file = event.target.files[0];
    if (file) {
      openRecordingSafely(file);
    }
  });
  acceptDrops($('tape-section'), openTapeSafely);
  acceptDrops($('recording-section'), openRecordingSafely);
  // A file dropped anywhere else must not make the browser leave the page.
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => event.preventDefault());

  $('block-list').addEventListener('input', () => {
    tape.syncCheckboxes();
    optionsChanged();
  });
  // The only inputs in the table are the blocks' checkboxes.
  $('tape-blocks').addEventListener('change', () => {
    tape.listCheckedBlocks();
    optionsChanged();
  });
  for (const id of ['protocol', 'sample-rate', 'amplitude', 'gap', 'reverse-phase']) {
    $(id).addEventListener('change', optionsChanged);
  }
  $('play').addEventListener('click', withErrors('tape-messages', player.play));
  $('pause').addEventListener('click', player.pause);
  $('stop').addEventListener('click', player.stop);
  $('download-wav').addEventListener('click', withErrors('tape-messages', tape.downloadWav));
  $('record').addEventListener('click', withErrors('recording-messages', recorder.recordLineIn));
  $('stop-recording').addEventListener('click', withErrors('recording-messages', recorder.stop));
  $('download-image').addEventListener('click', decoding.downloadImage);

  window.tonbrix.module.moduleReady.then(() => {
    // The rates are the converter's; the options stand in the order of -sr L, M and H.
    const rates = window.tonbrix.module.facts.sampleRates;
    [...$('sample-rate').options].forEach((option, i) => {
      option.textContent = `${rates[i]} Hz`;
    });
    document.body.classList.add('ready');
  });
})();
