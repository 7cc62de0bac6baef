// What the browser tests share: the page, the native programs to compare with, a headless
// Chromium, temporary folders and downloads.
import { execFileSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { after, before } from 'node:test';
import { chromium } from 'playwright-core';

export const repo = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
export const demoImage = join(repo, 'examples/demo.img');
export const pageDir = process.env.TONBRIX_PAGE_DIR ?? join(repo, 'build/web/page');
export const pageUrl = pathToFileURL(join(pageDir, 'index.html')).href;
export const tonbrixBinary = process.env.TONBRIX_BINARY ?? join(repo, 'build/release/tonbrix');
export const decodeBinary = process.env.TONBRIX_DECODE_BINARY ?? join(repo, 'build/release/tonbrix-decode');

const quietFlags = [
  '--no-sandbox',
  '--autoplay-policy=no-user-gesture-required',
  '--disable-gpu',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  '--no-first-run',
];

// A headless Chromium with the page loaded and its module ready. `extraFlags` e.g. make a
// WAV file the microphone.
// `locale` is the browser's language; `init` runs in the page before its scripts.
export async function openPage(extraFlags = [], viewport = { width: 960, height: 900 },
  { locale = 'en-US', init = null, url = pageUrl } = {}) {
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    args: [...quietFlags, ...extraFlags],
  });
  const context = await browser.newContext({ acceptDownloads: true, viewport, locale });
  const page = await context.newPage();
  if (init) {
    await page.addInitScript(init);
  }
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(url);
  await page.waitForSelector('body.ready');
  return { browser, page, errors };
}

export function fileInput(page, index) {
  return page.locator('input[type=file]').nth(index);
}

export function button(page, name) {
  return page.getByRole('button', { name, exact: true });
}

// Clicks the button and returns the bytes of the file it makes the browser save.
export async function downloadFrom(page, name) {
  const [download] = await Promise.all([page.waitForEvent('download'), button(page, name).click()]);
  return readFileSync(await download.path());
}

export function sha256(bytes) {
  return createHash('sha256').update(bytes).digest('hex');
}

export function temporaryFolder() {
  const folder = mkdtempSync(join(tmpdir(), 'tonbrix-web-'));
  return { folder, remove: () => rmSync(folder, { recursive: true, force: true }) };
}

// A temporary folder for every test of the calling file: made before the first, removed
// after the last. Its `folder` is set once the tests run.
export function useTemporaryFolder() {
  const temp = {};
  before(() => Object.assign(temp, temporaryFolder()));
  after(() => temp.remove());
  return temp;
}

// Runs a native program in `cwd`; returns its exit code, stdout and stderr.
export function runNative(binary, args, cwd) {
  try {
    const stdout = execFileSync(binary, args, { cwd, encoding: 'latin1', stdio: 'pipe' });
    return { code: 0, stdout, stderr: '' };
  } catch (error) {
    return { code: error.status, stdout: error.stdout, stderr: error.stderr };
  }
}

// A tape of 32 blocks: the demo image ten times, and its first two blocks again (its last
// record is the 512-byte headerless block behind its 2-byte length).
export function tapeOf32Blocks(folder) {
  const demo = readFileSync(demoImage);
  const path = join(folder, 'tape32.img');
  writeFileSync(path, Buffer.concat([...Array(10).fill(demo), demo.subarray(0, demo.length - 514)]));
  return path;
}

// The demo tape as tonbrix plays it (22050 Hz, 8 bits), with 100 ms of silence 30 s in, inside
// the body of block 2: the decoder bridges the dropout and marks the bytes under it unknown.
export function damagedRecording(folder) {
  const path = join(folder, 'dropout.wav');
  const run = runNative(tonbrixBinary, ['-o', path, demoImage], folder);
  if (run.code !== 0) {
    throw new Error(run.stderr);
  }
  const wav = readFileSync(path);
  const rate = wav.readUInt32LE(24);
  wav.fill(128, 44 + 30 * rate, 44 + 30.1 * rate);
  writeFileSync(path, wav);
  return path;
}

// Rewrites the 8-bit mono WAV that tonbrix makes as a sound card might have recorded it: in
// `channels` channels (the others at half the level), as `bits`-bit integers or floats, with
// the extensible format header if asked.
export function reformatWav(input, output, { bits = 16, float = false, channels = 2, extensible = false } = {}) {
  const source = readFileSync(input);
  const rate = source.readUInt32LE(24);
  const samples = source.length - 44;
  const width = bits / 8;
  const data = Buffer.alloc(samples * channels * width);
  const full = 2 ** (bits - 1);
  for (let i = 0, at = 0; i < samples; i++) {
    const level = (source[44 + i] - 128) / 128;
    for (let c = 0; c < channels; c++, at += width) {
      const sample = c === 0 ? level : level / 2;
      if (float) {
        width === 4 ? data.writeFloatLE(sample, at) : data.writeDoubleLE(sample, at);
      } else if (width === 1) {
        data[at] = Math.round(sample * 127) + 128;
      } else if (width === 2) {
        data.writeInt16LE(Math.round(sample * (full - 1)), at);
      } else {
        data.writeIntLE(Math.round(sample * (full - 1)), at, width);
      }
    }
  }
  const fmt = Buffer.alloc(extensible ? 40 : 16);
  fmt.writeUInt16LE(extensible ? 0xfffe : float ? 3 : 1, 0);
  fmt.writeUInt16LE(channels, 2);
  fmt.writeUInt32LE(rate, 4);
  fmt.writeUInt32LE(rate * channels * width, 8);
  fmt.writeUInt16LE(channels * width, 12);
  fmt.writeUInt16LE(bits, 14);
  if (extensible) {
    fmt.writeUInt16LE(22, 16);
    fmt.writeUInt16LE(bits, 18);
    fmt.writeUInt32LE(channels === 1 ? 4 : 3, 20);
    // The subformat GUID: the format code, then the fixed tail every such GUID shares.
    fmt.writeUInt16LE(float ? 3 : 1, 24);
    Buffer.from('000000001000800000aa00389b71', 'hex').copy(fmt, 26);
  }
  const chunk = (id, body) => {
    const head = Buffer.alloc(8);
    head.write(id, 0);
    head.writeUInt32LE(body.length, 4);
    return [head, body];
  };
  const body = Buffer.concat([Buffer.from('WAVE'), ...chunk('fmt ', fmt), ...chunk('data', data)]);
  writeFileSync(output, Buffer.concat(chunk('RIFF', body)));
}

// `input`, an 8-bit mono WAV as tonbrix writes it, as a 16-bit mono FLAC file at the same
// rate. The frames are stored verbatim: lossless, so any FLAC decoder gives the samples back.
export function wavToFlac(input, output) {
  const wav = readFileSync(input);
  const rate = wav.readUInt32LE(24);
  const samples = wav.subarray(44);
  const BLOCK = 4096;
  const crc = (bytes, poly, bits) => {
    let value = 0;
    const top = 1 << (bits - 1);
    const mask = (1 << bits) - 1;
    for (const byte of bytes) {
      value ^= byte << (bits - 8);
      for (let i = 0; i < 8; i++) {
        value = value & top ? ((value << 1) ^ poly) & mask : (value << 1) & mask;
      }
    }
    return value;
  };
  // A frame's number as FLAC writes it: in UTF-8's form.
  const utf8 = (n) => (n < 0x80 ? [n] : n < 0x800 ? [0xc0 | (n >> 6), 0x80 | (n & 63)]
    : [0xe0 | (n >> 12), 0x80 | ((n >> 6) & 63), 0x80 | (n & 63)]);
  const info = Buffer.alloc(38);
  info.writeUInt32BE(0x80000022, 0); // the last metadata block: STREAMINFO, 34 bytes
  info.writeUInt16BE(BLOCK, 4);
  info.writeUInt16BE(BLOCK, 6);
  // Rate (20 bits), channels - 1 (3), bits - 1 (5), then 36 bits of sample count.
  info.writeUInt32BE(((rate << 12) | (0 << 9) | (15 << 4)) >>> 0, 14);
  info.writeUInt32BE(samples.length, 18);
  const frames = [];
  for (let start = 0, number = 0; start < samples.length; start += BLOCK, number++) {
    const count = Math.min(BLOCK, samples.length - start);
    const header = Buffer.from([0xff, 0xf8, 0x70, 0x08, ...utf8(number), (count - 1) >> 8, (count - 1) & 255]);
    const body = Buffer.alloc(1 + 2 * count);
    body[0] = 0x02; // a verbatim subframe
    for (let i = 0; i < count; i++) {
      body.writeInt16BE((samples[start + i] - 128) * 256, 1 + 2 * i);
    }
    const headed = Buffer.concat([header, Buffer.from([crc(header, 0x07, 8)]), body]);
    const footer = Buffer.alloc(2);
    footer.writeUInt16BE(crc(headed, 0x8005, 16));
    frames.push(headed, footer);
  }
  writeFileSync(output, Buffer.concat([Buffer.from('fLaC'), info, ...frames]));
}
