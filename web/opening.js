// How a file becomes a tape image: a ZIP holding images (the person picks one), a link in the
// page's address, and what a file that is no tape image is said to be instead.
'use strict';

(function () {
  const { $, say, megabytes } = window.tonbrix.view;
  const { t, tell } = window.tonbrix.i18n;
  const { tape, player } = window.tonbrix;
  // Beyond this the page refuses an image (or a ZIP of them) at once instead of filling the
  // device's memory.
  const MAX_IMAGE_BYTES = 16 * 1024 * 1024;

  // The first bytes of the recordings that browsers play, and of a ZIP file.
  const startsWith = (bytes, text, at = 0) =>
    [...text].every((char, i) => bytes[at + i] === char.charCodeAt(0));
  const isZip = (bytes) => startsWith(bytes, 'PK\x03\x04') || startsWith(bytes, 'PK\x05\x06');

  // `facts`: the module's, which know how a WAV file starts.
  function recordingKind(bytes, facts) {
    if (facts.wavForms.some((tag) => startsWith(bytes, tag)) && startsWith(bytes, facts.waveTag, 8)) {
      return 'kindWav';
    }
    if (startsWith(bytes, 'FORM') && (startsWith(bytes, 'AIFF', 8) || startsWith(bytes, 'AIFC', 8))) {
      return 'kindAiff';
    }
    if (startsWith(bytes, 'fLaC')) {
      return 'kindFlac';
    }
    if (startsWith(bytes, 'OggS')) {
      return 'kindOgg';
    }
    if (startsWith(bytes, 'ID3')) {
      return 'kindMp3';
    }
    return null;
  }

  // Files people keep beside their tapes, by their first bytes: [text, format, magic, at].
  const OTHER_KINDS = [
    ['kindPicture', 'PNG', '\x89PNG'], ['kindPicture', 'JPEG', '\xff\xd8\xff'],
    ['kindPicture', 'GIF', 'GIF8'], ['kindPicture', 'BMP', 'BM'], ['kindPicture', 'WebP', 'WEBP', 8],
    ['kindArchive', 'RAR', 'Rar!'], ['kindArchive', '7z', '7z\xbc\xaf'], ['kindArchive', 'gzip', '\x1f\x8b'],
    ['kindDocument', 'PDF', '%PDF'], ['kindProgram', 'EXE', 'MZ'], ['kindProgram', 'ELF', '\x7fELF'],
    ['kindVideo', 'MP4', 'ftyp', 4], ['kindVideo', 'Matroska', '\x1a\x45\xdf\xa3'],
  ];

  function otherKind(bytes) {
    const found = OTHER_KINDS.find(([, , magic, at = 0]) => startsWith(bytes, magic, at));
    return found ? t(found[0], { format: found[1] }) : null;
  }

  // Text is what a tape image almost never is: printable throughout, no control bytes.
  function looksLikeText(bytes) {
    const head = bytes.subarray(0, 4096);
    return head.length > 0 && head.every((b) => b >= 0x20 || b === 0x09 || b === 0x0a || b === 0x0d);
  }

  // An MPEG audio frame's sync word: weak evidence, so it counts only for a file that is no
  // tape image.
  const looksLikeMp3 = (bytes) => bytes[0] === 0xff && (bytes[1] & 0xe0) === 0xe0;

  // The file that the tape section could not open, kept for the offer to digitise it.
  let offered = null;

  function offer(file, key, params) {
    offered = file;
    tell('tape-messages', key, params);
    $('tape-offer').hidden = false;
  }

  // `keepZip` leaves a ZIP's list of files standing, so that another of them can be chosen.
  function withdrawOffer(keepZip = false) {
    offered = null;
    $('tape-offer').hidden = true;
    if (!keepZip) {
      $('zip-entries').hidden = true;
      $('zip-list').replaceChildren();
    }
  }

  // Opens `file` as the tape: an image, a ZIP of images, or a message saying what it is.
  async function openFile(file, keepZip = false) {
    player.stop();
    tape.close();
    player.updateButtons();
    withdrawOffer(keepZip);
    // A recording or a photo is named by its first bytes, whatever its size: a long recording
    // is read only by the decoder, once.
    const head = new Uint8Array(await file.slice(0, 16).arrayBuffer());
    await window.tonbrix.module.moduleReady;
    const kind = recordingKind(head, window.tonbrix.module.facts);
    if (kind) {
      offer(file, 'isRecording', { name: file.name, kind: t(kind) });
      return;
    }
    const other = otherKind(head);
    if (other) {
      tell('tape-messages', 'isOther', { name: file.name, kind: other });
      return;
    }
    if (file.size > MAX_IMAGE_BYTES) {
      tell('tape-messages', 'tooLarge', { name: file.name, size: megabytes(file.size),
        limit: megabytes(MAX_IMAGE_BYTES) });
      return;
    }
    tell('tape-messages', 'reading', { name: file.name });
    const bytes = new Uint8Array(await file.arrayBuffer());
    if (isZip(bytes)) {
      chooseFromZip(file.name, bytes);
      return;
    }
    await openImage(file, bytes);
    player.updateButtons();
  }

  async function openImage(file, bytes) {
    const opened = await tape.open(file.name, bytes);
    if (opened === 'opened') {
      // Built at once, so that every row shows where it plays.
      await tape.ensureWav({ quiet: true });
    }
    if (opened !== 'notTape') {
      return;
    }
    if (bytes.length === 0) {
      tell('tape-messages', 'empty', { name: file.name });
    } else if (looksLikeMp3(bytes)) {
      offer(file, 'isRecording', { name: file.name, kind: t('kindMp3') });
    } else if (looksLikeText(bytes)) {
      tell('tape-messages', 'isOther', { name: file.name, kind: t('kindText') });
    } else {
      tell('tape-messages', 'notTape', { name: file.name });
    }
  }

  // The files in the ZIP, each a button that opens it; one alone opens at once.
  function chooseFromZip(zipName, bytes) {
    let names;
    try {
      names = window.tonbrix.zip.entries(bytes).map((entry) => entry.name);
    } catch (error) {
      tell('tape-messages', 'damagedZip', { name: zipName, error: error.message || error });
      return;
    }
    // What comes with a tape in a ZIP (notes, pictures) is not offered beside it.
    const tapes = names.filter((name) => !/\.(txt|nfo|diz|md|html?|pdf|jpe?g|png|gif|bmp)$/i.test(name));
    if (tapes.length > 0) {
      names = tapes;
    }
    if (names.length === 0) {
      tell('tape-messages', 'emptyZip', { name: zipName });
      return;
    }
    const openEntry = async (name) => {
      let entry;
      try {
        entry = window.tonbrix.zip.extract(bytes, name);
      } catch (error) {
        tell('tape-messages', 'cannotUnpack', { entry: name, name: zipName, error: error.message || error });
        return;
      }
      const base = name.split('/').pop();
      await openFile(new File([entry], base), true);
    };
    if (names.length === 1) {
      openEntry(names[0]);
      return;
    }
    const list = $('zip-list');
    list.replaceChildren(...names.map((name) => {
      const item = document.createElement('li');
      const button = document.createElement('button');
      button.type = 'button';
      button.dataset.name = name;
      button.textContent = t('openEntry', { name });
      button.addEventListener('click', () => openEntry(name));
      item.append(button);
      return item;
    }));
    tell('zip-caption', 'zipHolds', { name: zipName, n: names.length });
    $('zip-entries').hidden = false;
    tell('tape-messages', 'chooseInZip', { name: zipName });
  }

  // The tape named by the page's address, `?tape=URL`, for servers that let pages read it.
  async function openFromAddress() {
    const link = new URLSearchParams(location.search).get('tape');
    if (!link) {
      return;
    }
    let url;
    try {
      url = new URL(link, location.href);
    } catch {
      tell('tape-messages', 'badLink', { link });
      return;
    }
    tell('tape-messages', 'fetching', { url: url.href });
    let response;
    try {
      response = await fetch(url);
    } catch {
      tell('tape-messages', 'unreachable', { url: url.href });
      return;
    }
    if (!response.ok) {
      tell('tape-messages', 'refused', { url: url.href,
        status: `${response.status} ${response.statusText}`.trim() });
      return;
    }
    const name = decodeURIComponent(url.pathname.split('/').pop()) || 'tape';
    await openFile(new File([await response.blob()], name));
  }

  // The file offered is handed to the decoding section.
  function takeOffer() {
    const file = offered;
    withdrawOffer();
    return file;
  }

  window.tonbrix.opening = { openFile, openFromAddress, takeOffer, withdrawOffer, isZip };
})();
