// How a file becomes a tape image: a ZIP holding images (the person picks one), a link in the
// page's address, and what a file that is no tape image is said to be instead.
'use strict';

(function () {
  const { $, say, megabytes } = window.tonbrix.view;
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
      return 'a WAV recording';
    }
    if (startsWith(bytes, 'FORM') && (startsWith(bytes, 'AIFF', 8) || startsWith(bytes, 'AIFC', 8))) {
      return 'an AIFF recording';
    }
    if (startsWith(bytes, 'fLaC')) {
      return 'a FLAC recording';
    }
    if (startsWith(bytes, 'OggS')) {
      return 'an Ogg recording';
    }
    if (startsWith(bytes, 'ID3')) {
      return 'an MP3 recording';
    }
    return null;
  }

  // An MPEG audio frame's sync word: weak evidence, so it counts only for a file that is no
  // tape image.
  const looksLikeMp3 = (bytes) => bytes[0] === 0xff && (bytes[1] & 0xe0) === 0xe0;

  // The file that the tape section could not open, kept for the offer to digitise it.
  let offered = null;

  function offer(file, text) {
    offered = file;
    say('tape-messages', text);
    $('tape-offer').hidden = false;
  }

  function withdrawOffer() {
    offered = null;
    $('tape-offer').hidden = true;
    $('zip-entries').hidden = true;
    $('zip-list').replaceChildren();
  }

  // Opens `file` as the tape: an image, a ZIP of images, or a message saying what it is.
  async function openFile(file) {
    player.stop();
    tape.close();
    player.updateButtons();
    withdrawOffer();
    if (file.size > MAX_IMAGE_BYTES) {
      say('tape-messages', `'${file.name}' is ${megabytes(file.size)}: larger than any tape image ` +
        `this page opens (${megabytes(MAX_IMAGE_BYTES)}). Use tonbrix on a computer for it.`);
      return;
    }
    say('tape-messages', `Reading '${file.name}'…`);
    const bytes = new Uint8Array(await file.arrayBuffer());
    if (isZip(bytes)) {
      chooseFromZip(file.name, bytes);
      return;
    }
    await window.tonbrix.module.moduleReady;
    const kind = recordingKind(bytes, window.tonbrix.module.facts);
    if (kind) {
      offer(file, `'${file.name}' is ${kind}, not a tape image. Digitise it to get the tape image.`);
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
      say('tape-messages', `'${file.name}' is empty: there is no tape image in it.`);
    } else if (looksLikeMp3(bytes)) {
      offer(file, `'${file.name}' looks like an MP3 recording, not a tape image. Digitise it to get ` +
        'the tape image.');
    } else {
      say('tape-messages', `'${file.name}' is not a PMD 85 or Mato tape image: not one block of ` +
        'it could be read. (What tonbrix says is under Program output.)');
    }
  }

  // The files in the ZIP, each a button that opens it; one alone opens at once.
  function chooseFromZip(zipName, bytes) {
    let names;
    try {
      names = window.tonbrix.zip.entries(bytes).map((entry) => entry.name);
    } catch (error) {
      say('tape-messages', `'${zipName}' is a damaged ZIP file (${error.message || error}).`);
      return;
    }
    if (names.length === 0) {
      say('tape-messages', `'${zipName}' holds no files.`);
      return;
    }
    const openEntry = async (name) => {
      let entry;
      try {
        entry = window.tonbrix.zip.extract(bytes, name);
      } catch (error) {
        say('tape-messages', `'${name}' in '${zipName}' cannot be unpacked (${error.message || error}).`);
        return;
      }
      const base = name.split('/').pop();
      await openFile(new File([entry], base));
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
      button.textContent = `Open ${name}`;
      button.addEventListener('click', () => openEntry(name));
      item.append(button);
      return item;
    }));
    $('zip-caption').textContent = `'${zipName}' holds ${names.length} files: choose the tape image.`;
    $('zip-entries').hidden = false;
    say('tape-messages', `Choose the tape image in '${zipName}'.`);
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
      say('tape-messages', `'${link}' is not a link to a tape image.`);
      return;
    }
    say('tape-messages', `Fetching ${url.href}…`);
    let response;
    try {
      response = await fetch(url);
    } catch {
      say('tape-messages', `${url.href} could not be fetched: the server is out of reach or does ` +
        'not let other pages read its files (it sends no Access-Control-Allow-Origin). Save the ' +
        'file and open it here instead.');
      return;
    }
    if (!response.ok) {
      say('tape-messages', `The server refused ${url.href}: ${response.status} ${response.statusText}`.trim() + '.');
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
