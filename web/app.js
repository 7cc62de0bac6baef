// The wiring: which control and which dropped file starts what. Loaded after the other scripts.
'use strict';

(function () {
  const { $, say } = window.tonbrix.view;
  const { tape, player, opening, decoding, recorder, i18n } = window.tonbrix;
  const { t } = i18n;
  // The options that the page remembers for the next visit, by the id of their control.
  const REMEMBERED = ['protocol', 'sample-rate', 'amplitude', 'gap', 'reverse-phase',
    'pause-between-files', 'decode-protocol', 'decode-phase'];
  const SETTINGS_KEY = 'tonbrix.settings';
  // Typing in the options rebuilds the WAV (and the rows' times) once the typing pauses.
  const REBUILD_DELAY_MS = 400;

  let rebuildTimer = 0;

  // What plays goes on playing: the new WAV is used from the next Play or jump.
  function optionsChanged() {
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
      say(target, t('somethingWrong', { error: error.message || error }));
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
  // Typing in Amplitude or Gap rebuilds once the typing pauses, not at every key.
  for (const id of ['amplitude', 'gap']) {
    $(id).addEventListener('input', () => {
      clearTimeout(rebuildTimer);
      rebuildTimer = setTimeout(optionsChanged, REBUILD_DELAY_MS);
    });
  }

  function loadSettings() {
    try {
      return JSON.parse(localStorage.getItem(SETTINGS_KEY)) ?? {};
    } catch {
      return {};
    }
  }

  function saveSettings() {
    const settings = {};
    for (const id of REMEMBERED) {
      settings[id] = $(id).type === 'checkbox' ? $(id).checked : $(id).value;
    }
    try {
      localStorage.setItem(SETTINGS_KEY, JSON.stringify(settings));
    } catch {
      // Not remembered; the page works on.
    }
  }

  const settings = loadSettings();
  for (const id of REMEMBERED) {
    if (id in settings) {
      if ($(id).type === 'checkbox') {
        $(id).checked = settings[id] === true;
      } else {
        $(id).value = String(settings[id]);
      }
    }
    $(id).addEventListener('change', saveSettings);
  }

  // The keys a person at the machine hits without looking for the buttons. A text field keeps
  // every key; a slider keeps its arrows and a checkbox its Space.
  const SHORTCUTS = {
    ' ': () => player.togglePlay(),
    ArrowLeft: () => player.step(-1),
    ArrowRight: () => player.step(1),
    Escape: () => player.stop(),
  };
  document.addEventListener('keydown', (event) => {
    const action = SHORTCUTS[event.key];
    if (!action || event.defaultPrevented || event.altKey || event.ctrlKey || event.metaKey ||
        $('play').disabled) {
      return;
    }
    const target = event.target;
    if (target.closest('select, textarea, [contenteditable]')) {
      return;
    }
    if (target instanceof HTMLInputElement) {
      const keeps = { range: ['ArrowLeft', 'ArrowRight'], checkbox: [' '] }[target.type];
      if (!keeps || keeps.includes(event.key)) {
        return;
      }
    }
    event.preventDefault();
    withErrors('tape-messages', action)();
  });
  // On the slider Page Up and Page Down jump a block; End goes to the last block, not past it.
  $('progress').addEventListener('keydown', (event) => {
    const jumps = { PageUp: () => player.step(1), PageDown: () => player.step(-1),
      End: () => player.toLastBlock() };
    if (jumps[event.key]) {
      event.preventDefault();
      withErrors('tape-messages', jumps[event.key])();
    }
  });

  // Focus moved by Tab never lands under the transport bar that sticks to the screen's foot.
  new ResizeObserver(([entry]) => {
    document.documentElement.style.setProperty('--bar-height',
      `${Math.ceil(entry.borderBoxSize[0].blockSize)}px`);
  }).observe($('transport'));

  $('language').value = i18n.lang;
  $('language').addEventListener('change', () => i18n.setLanguage($('language').value));
  // What the scripts drew in the language before is drawn again.
  i18n.onChange(() => {
    fillMarks();
    fillRates();
    tape.redraw();
    decoding.redraw();
    window.tonbrix.captures.show();
    player.updateButtons();
    for (const button of $('zip-list').querySelectorAll('button')) {
      button.textContent = t('openEntry', { name: button.dataset.name });
    }
  });
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
  $('new-cassette').addEventListener('click', decoding.discardAll);
  $('cancel-decoding').addEventListener('click', recorder.cancelFiles);
  $('download-report').addEventListener('click', decoding.downloadReport);

  // The fault marks are the module's; their meanings are said in the page's language.
  function fillMarks() {
    const facts = window.tonbrix.module.facts;
    if (!facts) {
      return;
    }
    for (const list of document.querySelectorAll('dl.marks')) {
      list.replaceChildren();
      for (const { mark } of facts.marks) {
        const term = document.createElement('dt');
        term.textContent = mark;
        const description = document.createElement('dd');
        description.textContent = t(window.tonbrix.view.meaningKey(mark));
        list.append(term, description);
      }
    }
  }

  // The rates are the converter's; the options and the table of what loaded stand in the
  // order of -sr L, M and H.
  function fillRates() {
    const rates = window.tonbrix.module.facts?.sampleRates;
    if (!rates) {
      return;
    }
    const named = rates.map((rate) => `${i18n.number(rate)} Hz`);
    [...$('sample-rate').options].forEach((option, i) => {
      option.textContent = named[i];
    });
    [...document.querySelectorAll('table.models tbody th')].forEach((th, i) => {
      th.textContent = `${named[i]} (-sr ${'LMH'[i]})`;
    });
    tape.describeRate();
  }

  // Installable and offline only where a service worker may run: not from file://.
  if (/^https?:$/.test(location.protocol) && 'serviceWorker' in navigator) {
    const manifest = document.createElement('link');
    manifest.rel = 'manifest';
    manifest.href = 'manifest.webmanifest';
    document.head.append(manifest);
    navigator.serviceWorker.register('sw.js').catch(() => {
      // The page works as it does from disk.
    });
  }

  i18n.translateDocument();
  fillMarks();
  // A closed tab's captures are still kept: offered at once.
  window.tonbrix.captures.show();
  player.updateButtons();

  window.tonbrix.module.moduleReady.then(() => {
    fillMarks();
    fillRates();
    document.body.classList.add('ready');
    return withErrors('tape-messages', opening.openFromAddress)();
  });
})();
