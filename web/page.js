// The page's behaviour: files in and out of the WebAssembly module, the block tables,
// Web Audio playback and the capture of recordings. All tape work happens in the module.
'use strict';

// Beyond these the page refuses a file at once instead of filling the device's memory.
const MAX_IMAGE_BYTES = 16 * 1024 * 1024;
const MAX_RECORDING_BYTES = 256 * 1024 * 1024;
const MAX_FILE_BYTES = 256 * 1024 * 1024; // any file in MEMFS, so a WAV: about 1.6 h at 44.1 kHz
const ENOSPC = 51;
const WAV_HEADER_BYTES = 44;
const WRITE_FAILED = -16; // the converter's code for a failed write
const DAMAGED_BLOCKS = -23; // the decoder's: an image written, but not every block whole
const SAMPLE_RATES = { L: 11025, M: 22050, H: 44100 };
const PROTOCOL_NAMES = { 1: 'PMD 85', 2: 'PMD 85 double', 3: 'Mato' };
const FEED_CHUNK = 16384;
const TAPE_DIR = '/tape';
const RESULT_PATH = '/result.json';

const $ = (id) => document.getElementById(id);

// Everything the module prints while a call runs lands in `sink`.
let sink = null;
const modulePromise = createTonbrix({
  print: (text) => capture(text, false),
  printErr: (text) => capture(text, true),
}).then((module) => {
  module.FS.mkdir(TAPE_DIR);
  module.FS.chdir(TAPE_DIR);
  // MEMFS would grow until the tab dies. A file that outgrows what the page keeps fails
  // like a full disk instead, and the converter reports it with its own message.
  const write = module.FS.write;
  module.FS.write = (stream, buffer, offset, length, position, canOwn) => {
    if ((position ?? stream.position) + length > MAX_FILE_BYTES) {
      throw new module.FS.ErrnoError(ENOSPC);
    }
    return write(stream, buffer, offset, length, position, canOwn);
  };
  return module;
});

function capture(text, isError) {
  if (sink) {
    sink.push({ text, isError });
  }
}

// ---------------------------------------------------------------- messages

function showMessages(target, lines) {
  const output = $('program-output');
  output.textContent = lines.map((line) => line.text).join('\n');
  const errors = lines.filter((line) => line.isError).map((line) => line.text);
  $(target).textContent = errors.join('\n').trim();
}

function say(target, text) {
  $(target).textContent = text;
}

function megabytes(bytes) {
  return `${(bytes / (1024 * 1024)).toFixed(1)} MB`;
}

function formatTime(seconds) {
  const whole = Math.max(0, Math.floor(seconds));
  const minutes = Math.floor(whole / 60);
  return `${minutes}:${String(whole % 60).padStart(2, '0')}`;
}

function hex4(value) {
  return value.toString(16).toUpperCase().padStart(4, '0');
}

function faultText(block) {
  return [block.hce && 'HCE', block.bce && 'BCE', block.ble && 'BLE'].filter(Boolean).join(' ');
}

function cell(row, text, className) {
  const td = row.insertCell();
  td.textContent = text;
  if (className) {
    td.className = className;
  }
  return td;
}

// The listing's columns: a headerless block shows only its length.
function fillBlockCells(row, block) {
  const headerless = block.fileType === '';
  cell(row, headerless ? '...' : `${String(block.fileNumber).padStart(2, '0')}/${block.fileType}`);
  cell(row, headerless ? '' : block.name, 'name');
  cell(row, headerless ? '' : `${block.begin} (${hex4(block.begin)}h)`, 'number');
  cell(row, `${block.length} (${hex4(block.length)}h)`, 'number');
}

// ---------------------------------------------------------------- the converter

// Runs tonbrix in the module with `args`; returns its status and JSON result.
function runTonbrix(module, args) {
  const lines = [];
  sink = lines;
  let status;
  try {
    status = module.ccall('runTonbrix', 'number', ['string', 'string'], [args.join('\n'), RESULT_PATH]);
  } finally {
    sink = null;
  }
  const result = JSON.parse(module.FS.readFile(RESULT_PATH, { encoding: 'utf8' }));
  return { status, result, lines };
}

const tape = {
  name: null, // the image's name in MEMFS, as the command line would be given it
  blocks: [],
  wav: null, // { key, bytes, rate, selection, entryStarts, name }
};

// The name the module sees: the file's own, so that messages read as on the command line.
function memfsName(fileName) {
  const name = fileName.replace(/[\/\n]/g, '_') || 'tape';
  return name.startsWith('-') ? `./${name}` : name;
}

function clearTapeDirectory(module) {
  for (const entry of module.FS.readdir(TAPE_DIR)) {
    if (entry !== '.' && entry !== '..') {
      module.FS.unlink(`${TAPE_DIR}/${entry}`);
    }
  }
}

async function openTape(file) {
  stopPlayback();
  tape.name = null;
  tape.blocks = [];
  tape.wav = null;
  renderTapeTable();
  updateTapeButtons();
  if (file.size > MAX_IMAGE_BYTES) {
    say('tape-messages', `'${file.name}' is ${megabytes(file.size)}: larger than any tape image ` +
      `this page opens (${megabytes(MAX_IMAGE_BYTES)}). Use tonbrix on a computer for it.`);
    return;
  }
  say('tape-messages', `Reading '${file.name}'…`);
  const [module, buffer] = await Promise.all([modulePromise, file.arrayBuffer()]);
  clearTapeDirectory(module);
  const name = memfsName(file.name);
  module.FS.writeFile(name, new Uint8Array(buffer));
  const run = runTonbrix(module, ['-list', name]);
  showMessages('tape-messages', run.lines);
  if (run.status !== 0) {
    module.FS.unlink(name);
    return;
  }
  tape.name = name;
  tape.blocks = run.result.blocks;
  $('block-list').value = compressList(tape.blocks.map((_, i) => i + 1));
  renderTapeTable();
  updateTapeButtons();
  say('tape-messages', `${file.name}: ${tape.blocks.length} block${tape.blocks.length === 1 ? '' : 's'}.`);
}

// "1,2,3,5" as "1-3,5": the list that the checkboxes stand for.
function compressList(numbers) {
  const parts = [];
  for (let i = 0; i < numbers.length;) {
    let j = i;
    while (j + 1 < numbers.length && numbers[j + 1] === numbers[j] + 1) {
      j++;
    }
    parts.push(j > i ? `${numbers[i]}-${numbers[j]}` : `${numbers[i]}`);
    i = j + 1;
  }
  return parts.join(',');
}

// The numbers named by a block list, for the checkboxes only; the module reads the list itself.
function listedNumbers(text) {
  const numbers = new Set();
  for (const part of text.split(',')) {
    const match = /^\s*(\d+)\s*(?:-\s*(\d+)\s*)?$/.exec(part);
    if (match) {
      const first = Number(match[1]);
      const last = Math.min(match[2] ? Number(match[2]) : first, tape.blocks.length);
      for (let n = first; n <= last; n++) {
        numbers.add(n);
      }
    }
  }
  return numbers;
}

function renderTapeTable() {
  const table = $('tape-blocks');
  const body = table.tBodies[0];
  body.replaceChildren();
  table.hidden = tape.blocks.length === 0;
  $('tape-caption').textContent = `Blocks of ${tape.name ?? 'the tape'}`;
  tape.blocks.forEach((block, index) => {
    const number = index + 1;
    const row = body.insertRow();
    row.dataset.block = number;
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.id = `play-block-${number}`;
    box.setAttribute('aria-label', `Play block ${number}`);
    box.addEventListener('change', checkboxesChanged);
    row.insertCell().append(box);
    cell(row, String(number), 'number');
    fillBlockCells(row, block);
    cell(row, faultText(block), 'faults');
  });
  syncCheckboxes();
}

function syncCheckboxes() {
  const listed = listedNumbers($('block-list').value);
  for (const box of $('tape-blocks').querySelectorAll('tbody input[type=checkbox]')) {
    box.checked = listed.has(Number(box.closest('tr').dataset.block));
  }
}

function checkboxesChanged() {
  const checked = [...$('tape-blocks').querySelectorAll('tbody input[type=checkbox]')]
    .filter((box) => box.checked)
    .map((box) => Number(box.closest('tr').dataset.block));
  $('block-list').value = compressList(checked);
  optionsChanged();
}

// The command line that the options stand for, without the input name.
function exportArguments() {
  const args = ['-blk', $('block-list').value.trim()];
  const protocol = $('protocol').value;
  if (protocol === 'dbl') {
    args.push('-dbl');
  } else if (protocol === 'mato') {
    args.push('-mato');
  }
  if ($('reverse-phase').checked) {
    args.push('-rph');
  }
  args.push('-sr', $('sample-rate').value, '-amp', $('amplitude').value, '-gap', $('gap').value);
  return args;
}

// Builds the WAV for the current options, or returns the one already built for them.
async function ensureWav() {
  if (!tape.name) {
    return null;
  }
  const args = [...exportArguments(), tape.name];
  const key = args.join('\n');
  if (tape.wav && tape.wav.key === key) {
    return tape.wav;
  }
  const module = await modulePromise;
  say('tape-messages', 'Making the WAV…');
  await nextFrame();
  const run = runTonbrix(module, args);
  showMessages('tape-messages', run.lines);
  const output = run.result.output;
  if (run.status !== 0) {
    if (output && module.FS.analyzePath(output).exists) {
      module.FS.unlink(output);
    }
    if (run.status === WRITE_FAILED) {
      $('tape-messages').textContent += `\nThe page keeps at most ${megabytes(MAX_FILE_BYTES)} of ` +
        'WAV: choose fewer blocks or a shorter gap, or use tonbrix.';
    }
    return null;
  }
  const bytes = module.FS.readFile(output);
  module.FS.unlink(output);
  tape.wav = {
    key,
    bytes,
    name: output.replace(/^\.\//, ''),
    rate: SAMPLE_RATES[$('sample-rate').value],
    selection: run.result.selection,
    entryStarts: run.result.entryStarts,
  };
  const seconds = (bytes.length - WAV_HEADER_BYTES) / tape.wav.rate;
  say('tape-messages', `${tape.wav.name}: ${formatTime(seconds)}, ${megabytes(bytes.length)}.`);
  return tape.wav;
}

function nextFrame() {
  return new Promise((resolve) => setTimeout(resolve, 0));
}

function download(bytes, name, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

async function downloadWav() {
  const wav = await ensureWav();
  if (wav) {
    download(wav.bytes, wav.name, 'audio/wav');
  }
}

function optionsChanged() {
  stopPlayback();
  tape.wav = null;
  updateTapeButtons();
}

function updateTapeButtons() {
  const ready = tape.name !== null;
  $('play').disabled = !ready || player.playing;
  $('pause').disabled = !player.playing;
  $('stop').disabled = !player.playing && player.offset === 0;
  $('download-wav').disabled = !ready;
}

// ---------------------------------------------------------------- playback

const player = {
  context: null,
  buffer: null,
  bufferFor: null, // the wav that `buffer` holds
  source: null,
  playing: false,
  offset: 0, // seconds into the WAV where playback stands while paused
  startedAt: 0, // context time at which offset 0 would have played
  timer: 0,
};

function audioBufferOf(wav) {
  const samples = wav.bytes.length - WAV_HEADER_BYTES;
  const buffer = player.context.createBuffer(1, Math.max(samples, 1), wav.rate);
  const data = buffer.getChannelData(0);
  for (let i = 0; i < samples; i++) {
    data[i] = (wav.bytes[WAV_HEADER_BYTES + i] - 128) / 128;
  }
  return buffer;
}

async function play() {
  const wav = await ensureWav();
  if (!wav || player.playing) {
    return;
  }
  player.context ??= new AudioContext();
  await player.context.resume();
  if (player.bufferFor !== wav) {
    player.buffer = audioBufferOf(wav);
    player.bufferFor = wav;
    player.offset = 0;
  }
  const source = player.context.createBufferSource();
  source.buffer = player.buffer;
  source.connect(player.context.destination);
  source.onended = () => {
    if (player.source === source && player.playing) {
      stopPlayback();
    }
  };
  source.start(0, player.offset);
  player.source = source;
  player.startedAt = player.context.currentTime - player.offset;
  player.playing = true;
  player.timer = setInterval(showPlayback, 100);
  showPlayback();
  updateTapeButtons();
}

function haltSource() {
  if (player.source) {
    player.source.onended = null;
    player.source.stop();
    player.source.disconnect();
    player.source = null;
  }
  clearInterval(player.timer);
  player.playing = false;
}

function pause() {
  if (!player.playing) {
    return;
  }
  player.offset = elapsedSeconds();
  haltSource();
  showPlayback();
  updateTapeButtons();
}

function stopPlayback() {
  haltSource();
  player.offset = 0;
  showPlayback();
  updateTapeButtons();
}

function elapsedSeconds() {
  if (!player.playing) {
    return player.offset;
  }
  return Math.min(player.context.currentTime - player.startedAt, player.buffer.duration);
}

// Progress bar, time and the row of the block whose sound is playing.
function showPlayback() {
  const total = player.buffer && player.bufferFor === tape.wav ? player.buffer.duration : 0;
  const elapsed = total > 0 ? elapsedSeconds() : 0;
  const progress = $('progress');
  progress.max = total || 1;
  progress.value = elapsed;
  progress.setAttribute('aria-valuetext', `${formatTime(elapsed)} of ${formatTime(total)}`);
  $('play-time').textContent = `${formatTime(elapsed)} / ${formatTime(total)}`;
  let playingBlock = 0;
  if (player.playing || elapsed > 0) {
    const wav = player.bufferFor;
    const byteOffset = WAV_HEADER_BYTES + elapsed * wav.rate;
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

// ---------------------------------------------------------------- digitising

const recorder = {
  decoder: 0, // the module's decoder, or 0
  samplesPointer: 0,
  channels: 0,
  name: '',
  image: null,
  shownBlocks: -1,
  stream: null,
  context: null,
  node: null,
};

async function startDecoding(sampleRate, channels, name) {
  const module = await modulePromise;
  releaseDecoder(module);
  recorder.image = null;
  recorder.shownBlocks = -1;
  recorder.name = name;
  recorder.channels = channels;
  $('download-image').disabled = true;
  renderDecodedTable([]);
  const lines = [];
  sink = lines;
  try {
    recorder.decoder = module.ccall('startDecoding', 'number', ['number', 'number', 'number', 'number'],
      [sampleRate, channels, Number($('decode-protocol').value), Number($('decode-phase').value)]);
  } finally {
    sink = null;
  }
  if (!recorder.decoder) {
    showMessages('recording-messages', lines);
    return false;
  }
  recorder.samplesPointer = module._malloc(FEED_CHUNK * 4);
  return true;
}

function releaseDecoder(module) {
  if (recorder.decoder) {
    module.ccall('releaseDecoder', null, ['number'], [recorder.decoder]);
    module._free(recorder.samplesPointer);
    recorder.decoder = 0;
    recorder.samplesPointer = 0;
  }
}

// Hands the module one stretch of samples per channel; shows new blocks as they appear.
function feedChannels(module, channelData) {
  const lines = [];
  sink = lines;
  try {
    const length = channelData[0].length;
    for (let start = 0; start < length; start += FEED_CHUNK) {
      const count = Math.min(FEED_CHUNK, length - start);
      for (let channel = 0; channel < recorder.channels; channel++) {
        module.HEAPF32.set(channelData[channel].subarray(start, start + count), recorder.samplesPointer >> 2);
        const status = module.ccall('feedDecoder', 'number', ['number', 'number', 'number', 'number'],
          [recorder.decoder, channel, recorder.samplesPointer, count]);
        if (status !== 0) {
          showMessages('recording-messages', lines);
          return false;
        }
      }
    }
  } finally {
    sink = null;
  }
  showDecodedBlocks(module, false);
  return true;
}

function describeDecoded(module, finished) {
  const lines = [];
  sink = lines;
  try {
    module.ccall('describeDecoded', 'number', ['number', 'number', 'string'],
      [recorder.decoder, finished ? 1 : 0, RESULT_PATH]);
  } finally {
    sink = null;
  }
  return JSON.parse(module.FS.readFile(RESULT_PATH, { encoding: 'utf8' }));
}

function showDecodedBlocks(module, finished) {
  const result = describeDecoded(module, finished);
  if (finished || result.blocks.length !== recorder.shownBlocks) {
    recorder.shownBlocks = result.blocks.length;
    renderDecodedTable(result.blocks);
  }
}

function renderDecodedTable(blocks) {
  const table = $('decoded-blocks');
  const body = table.tBodies[0];
  body.replaceChildren();
  table.hidden = blocks.length === 0;
  blocks.forEach((block, index) => {
    const row = body.insertRow();
    cell(row, String(index + 1), 'number');
    fillBlockCells(row, block);
    cell(row, formatTime(block.seconds), 'number');
    cell(row, PROTOCOL_NAMES[block.protocol] ?? '', '');
    // The checksum state, also when it is good: a person at the deck waits for that word.
    const faults = faultText(block);
    cell(row, faults || 'OK', faults ? 'faults' : 'whole');
  });
}

// Completes the decoding and keeps the tape image that tonbrix-decode would write.
async function finishDecoding() {
  const module = await modulePromise;
  if (!recorder.decoder) {
    return;
  }
  const lines = [];
  sink = lines;
  const imagePath = `${TAPE_DIR}/decoded.img`;
  let status;
  try {
    status = module.ccall('finishDecoding', 'number', ['number', 'string', 'string'],
      [recorder.decoder, recorder.name, imagePath]);
  } finally {
    sink = null;
  }
  showDecodedBlocks(module, true);
  showMessages('recording-messages', lines);
  if (status === 0 || status === DAMAGED_BLOCKS) {
    recorder.image = module.FS.readFile(imagePath);
    module.FS.unlink(imagePath);
    $('download-image').disabled = false;
    const summary = `${recorder.name}: ${recorder.shownBlocks} block` +
      `${recorder.shownBlocks === 1 ? '' : 's'}, ${recorder.image.length} bytes of tape image.`;
    say('recording-messages', [summary, $('recording-messages').textContent].join('\n').trim());
  }
  releaseDecoder(module);
}

async function openRecording(file) {
  await stopRecording();
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
  if (!(await startDecoding(audio.sampleRate, channels, file.name))) {
    return;
  }
  const module = await modulePromise;
  const decoder = recorder.decoder;
  const step = audio.sampleRate * 10;
  for (let start = 0; start < audio.length; start += step) {
    if (recorder.decoder !== decoder) {
      return; // another recording took over while this one yielded
    }
    const end = Math.min(start + step, audio.length);
    const data = [];
    for (let channel = 0; channel < channels; channel++) {
      data.push(audio.getChannelData(channel).subarray(start, end));
    }
    if (!feedChannels(module, data)) {
      releaseDecoder(module);
      return;
    }
    say('recording-messages', `Decoding '${file.name}': ${Math.round((100 * end) / audio.length)} %`);
    await nextFrame();
  }
  await finishDecoding();
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
  await stopRecording();
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
  if (!(await startDecoding(context.sampleRate, channels, 'line-in'))) {
    stream.getTracks().forEach((track) => track.stop());
    await context.close();
    return;
  }
  const module = await modulePromise;
  // A data: URL, since a page opened from disk may load no other module (not even a blob).
  await context.audioWorklet.addModule(`data:text/javascript,${encodeURIComponent(CAPTURE_WORKLET)}`);
  const node = new AudioWorkletNode(context, 'tape-capture', {
    channelCount: channels, channelCountMode: 'explicit',
  });
  const started = context.currentTime;
  node.port.onmessage = (event) => {
    if (!recorder.decoder) {
      return;
    }
    const data = event.data;
    while (data.length < channels) {
      data.push(data[0]);
    }
    if (!feedChannels(module, data)) {
      stopRecording();
      return;
    }
    say('recording-messages', `Recording from line-in: ${formatTime(context.currentTime - started)}`);
  };
  // Connected to the output only so that it runs; it writes nothing, so it stays silent.
  source.connect(node);
  node.connect(context.destination);
  Object.assign(recorder, { stream, context, node });
  $('record').disabled = true;
  $('stop-recording').disabled = false;
  $('stop-recording').focus();
}

async function stopRecording() {
  if (!recorder.stream) {
    return;
  }
  recorder.node.port.onmessage = null;
  recorder.node.disconnect();
  recorder.stream.getTracks().forEach((track) => track.stop());
  await recorder.context.close();
  recorder.stream = null;
  recorder.context = null;
  recorder.node = null;
  $('record').disabled = false;
  $('stop-recording').disabled = true;
  $('record').focus();
  await finishDecoding();
}

function downloadImage() {
  if (recorder.image) {
    const base = recorder.name.replace(/\.[^./]*$/, '') || 'tape';
    download(recorder.image, `${base}.img`, 'application/octet-stream');
  }
}

// ---------------------------------------------------------------- wiring

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
const openRecordingSafely = withErrors('recording-messages', openRecording);

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
  syncCheckboxes();
  optionsChanged();
});
for (const id of ['protocol', 'sample-rate', 'amplitude', 'gap', 'reverse-phase']) {
  $(id).addEventListener('change', optionsChanged);
}
$('play').addEventListener('click', withErrors('tape-messages', play));
$('pause').addEventListener('click', pause);
$('stop').addEventListener('click', stopPlayback);
$('download-wav').addEventListener('click', withErrors('tape-messages', downloadWav));
$('record').addEventListener('click', withErrors('recording-messages', recordLineIn));
$('stop-recording').addEventListener('click', withErrors('recording-messages', stopRecording));
$('download-image').addEventListener('click', downloadImage);

modulePromise.then(() => document.body.classList.add('ready'));
