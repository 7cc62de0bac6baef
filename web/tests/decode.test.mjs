// The page's decoding half: recordings of the demo tape, from a file and through a fake
// line-in, must give back the demo image; recordings without a tape must say so.
import assert from 'node:assert/strict';
import { readFileSync, truncateSync, writeFileSync } from 'node:fs';
import { basename, join } from 'node:path';
import { test } from 'node:test';
import {
  button, damagedRecording, decodeBinary, demoImage, downloadFrom, fileInput, openPage, runNative,
  reformatWav, tonbrixBinary, useTemporaryFolder, wavToFlac,
} from './support.mjs';

const temp = useTemporaryFolder();

// A mono 16-bit WAV of `seconds` of silence.
function silentWav(seconds, rate = 22050) {
  const dataBytes = seconds * rate * 2;
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + dataBytes, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20);
  header.writeUInt16LE(1, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE(rate * 2, 28);
  header.writeUInt16LE(2, 32);
  header.writeUInt16LE(16, 34);
  header.write('data', 36);
  header.writeUInt32LE(dataBytes, 40);
  return Buffer.concat([header, Buffer.alloc(dataBytes)]);
}

function exportDemo(name, args) {
  const path = join(temp.folder, name);
  const run = runNative(tonbrixBinary, [...args, '-o', path, demoImage], temp.folder);
  assert.equal(run.code, 0, run.stderr);
  return path;
}

async function decodedRows(page) {
  return page.locator('#decoded-blocks tbody tr').evaluateAll((rows) =>
    rows.map((row) => [...row.cells].map((td) => td.textContent.trim())));
}

test('a recording of the demo tape decodes to the image tonbrix-decode writes', async (t) => {
  const recording = exportDemo('demo.wav', []);
  const nativeImage = join(temp.folder, 'native.img');
  const native = runNative(decodeBinary, ['-f', '-o', nativeImage, recording], temp.folder);
  assert.equal(native.code, 0, native.stderr);
  const { browser, page, errors } = await openPage();
  try {
    const started = Date.now();
    await fileInput(page, 1).setInputFiles(recording);
    await button(page, 'Download tape image').waitFor({ state: 'visible' });
    await page.waitForFunction(() => !document.getElementById('download-image').disabled);
    const image = await downloadFrom(page, 'Download tape image');
    assert.deepEqual(image, readFileSync(demoImage));
    assert.deepEqual(image, readFileSync(nativeImage));
    const rows = await decodedRows(page);
    assert.deepEqual(rows[1].slice(0, 5), ['2', '01/M', 'DEMOGAME', '32768 (8000h)', '6143 (17FFh)']);
    assert.deepEqual(rows.map((row) => `${row[6]} ${row[7]}`), Array(3).fill('PMD 85 OK'));
    t.diagnostic(`decoded a 77 s recording in ${Date.now() - started} ms`);
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

test('recordings that hold no tape, or none at all, get a message', async () => {
  writeFileSync(join(temp.folder, 'silence.wav'), silentWav(3));
  writeFileSync(join(temp.folder, 'notes.wav'), 'these are not samples\n'.repeat(20));
  writeFileSync(join(temp.folder, 'empty.wav'), '');
  writeFileSync(join(temp.folder, 'huge.wav'), '');
  truncateSync(join(temp.folder, 'huge.wav'), 300 * 1024 * 1024);
  // A WAV file is read in slices, so its size is no reason to refuse it: 300 MB of silence.
  const longSilence = silentWav(0);
  longSilence.writeUInt32LE(300 * 1024 * 1024 - 8, 4);
  longSilence.writeUInt32LE(300 * 1024 * 1024 - 44, 40);
  writeFileSync(join(temp.folder, 'long-silence.wav'), longSilence);
  truncateSync(join(temp.folder, 'long-silence.wav'), 300 * 1024 * 1024);
  const silence = runNative(decodeBinary, ['-list', 'silence.wav'], temp.folder);
  assert.equal(silence.code, 22);
  const expected = [
    ['silence.wav', silence.stderr.trim()],
    ['notes.wav', "'notes.wav' is no recording this browser can play"],
    ['empty.wav', "'empty.wav' is empty."],
    ['huge.wav', "'huge.wav' is 300.0 MB"],
    ['long-silence.wav', silence.stderr.trim().replace('silence.wav', 'long-silence.wav')],
  ];
  const { browser, page, errors } = await openPage();
  try {
    for (const [name, message] of expected) {
      await fileInput(page, 1).setInputFiles(join(temp.folder, name));
      await page.locator(`#recording-messages:text("${name}")`).waitFor();
      await page.waitForFunction((text) =>
        document.getElementById('recording-messages').textContent.startsWith(text), message);
      assert.ok(await button(page, 'Download tape image').isDisabled(), name);
    }
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

// Chromium's fake microphone skips 10 ms of its file whenever its timer thread misses a
// turn, which on a virtual machine happens even when it is idle; such a run cannot give the
// image back, and must then say so. A run with the whole capture must give the exact image.
test('the demo tape played into the fake line-in decodes to the demo image', async (t) => {
  // Double speed and short gaps: the fake microphone plays in real time (43 s).
  const recording = exportDemo('line-in.wav', ['-dbl', '-gap', '1', '-sr', 'H']);
  const demo = readFileSync(demoImage);
  let image;
  let rows = [];
  for (let attempt = 1; attempt <= 3 && !demo.equals(image ?? Buffer.alloc(0)); attempt++) {
    const { browser, page, errors } = await openPage([
      '--use-fake-ui-for-media-stream',
      '--use-fake-device-for-media-stream',
      `--use-file-for-fake-audio-capture=${recording}%noloop`,
      '--disable-features=AudioServiceOutOfProcess',
      '--disable-background-timer-throttling',
      '--disable-renderer-backgrounding',
    ]);
    try {
      // The live region changes at the start, when a block is found and at the end: not with
      // the running time, which would talk over a screen reader every second.
      await page.evaluate(() => {
        window.liveChanges = 0;
        new MutationObserver(() => window.liveChanges++).observe(
          document.getElementById('recording-messages'), { childList: true, characterData: true, subtree: true });
      });
      await button(page, 'Record from line-in').click();
      // The meter follows the signal: the leader tone swings to about 70 % of full scale.
      const meter = page.getByRole('meter', { name: 'Input level' });
      await page.waitForFunction(() => document.getElementById('level').value > 0.5);
      assert.match(await meter.getAttribute('aria-valuetext'), /^\d+\s?% of full scale$/);
      await page.locator('#decoded-blocks tbody tr.block:nth-child(3)').waitFor({ timeout: 90000 });
      assert.match(await page.locator('#recording-time').textContent(), /^Recorded 0:[2-5]\d$/);
      const changes = await page.evaluate(() => window.liveChanges);
      assert.ok(changes >= 2 && changes <= 6, `${changes} changes of the live region`);
      await button(page, 'Stop recording').click();
      assert.ok(await meter.isHidden());
      await page.waitForFunction(() => !document.getElementById('download-image').disabled);
      const [download] = await Promise.all([page.waitForEvent('download'),
        button(page, 'Download tape image').click()]);
      // Named by the date and time of the capture when no name was typed.
      assert.match(download.suggestedFilename(), /^line-in \d{4}-\d\d-\d\d \d\d\.\d\d\.img$/);
      image = readFileSync(await download.path());
      assert.deepEqual(errors, []);
      rows = await page.locator('#decoded-blocks tbody tr.block').evaluateAll((trs) =>
        trs.map((tr) => [...tr.cells].map((td) => td.textContent.trim())));
      if (!demo.equals(image)) {
        t.diagnostic(`attempt ${attempt}: the capture lost samples (${JSON.stringify(rows)})`);
      }
    } finally {
      await browser.close();
    }
  }
  if (demo.equals(image)) {
    return;
  }
  // Every capture lost samples: the blocks must still all be there, with their headers, and
  // what was lost must be marked, never silently wrong.
  const expected = runNative(tonbrixBinary, ['-list', demoImage]).stdout;
  assert.equal(rows.length, 3);
  for (const row of rows) {
    if (row[1] !== '...') {
      assert.match(expected, new RegExp(`${row[1]} ${row[2]}`), JSON.stringify(row));
    }
  }
  assert.ok(rows.some((row) => row.at(-1) !== 'OK'), JSON.stringify(rows));
});

test('a recording of a damaged tape still gives its image, and says so as tonbrix-decode does', async () => {
  const damaged = readFileSync(demoImage);
  damaged[3000] ^= 0x5a; // inside the body of block 2
  writeFileSync(join(temp.folder, 'damaged.img'), damaged);
  const recording = join(temp.folder, 'damaged.wav');
  assert.equal(runNative(tonbrixBinary, ['-o', recording, 'damaged.img'], temp.folder).code, 0);
  const native = runNative(decodeBinary, ['-f', '-o', 'native.img', 'damaged.wav'], temp.folder);
  assert.equal(native.code, 23);
  const { browser, page, errors } = await openPage();
  try {
    await fileInput(page, 1).setInputFiles(recording);
    await page.waitForFunction(() => !document.getElementById('download-image').disabled);
    assert.deepEqual(await downloadFrom(page, 'Download tape image'), damaged);
    assert.equal(await page.locator('#recording-messages').textContent(),
      `damaged.wav: 3 blocks, ${damaged.length} bytes of tape image.\n${native.stderr.trim()}`);
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

// The 8-bit WAV that tonbrix writes as a mu-law WAV: a format the worker cannot read in
// slices, so the browser decodes it and the page hands the samples over.
function muLawWav(input, output) {
  const source = readFileSync(input);
  const rate = source.readUInt32LE(24);
  const data = Buffer.from(source.subarray(44).map((byte) => {
    const sample = (byte - 128) * 256;
    const magnitude = Math.min(Math.abs(sample), 32635) + 0x84;
    const exponent = Math.max(0, Math.floor(Math.log2(magnitude)) - 7);
    const mantissa = (magnitude >> (exponent + 3)) & 0x0f;
    return ~((sample < 0 ? 0x80 : 0) | (exponent << 4) | mantissa) & 0xff;
  }));
  const header = Buffer.alloc(44);
  header.write('RIFF', 0);
  header.writeUInt32LE(36 + data.length, 4);
  header.write('WAVEfmt ', 8);
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(7, 20);
  header.writeUInt16LE(1, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE(rate, 28);
  header.writeUInt16LE(1, 32);
  header.writeUInt16LE(8, 34);
  header.write('data', 36);
  header.writeUInt32LE(data.length, 40);
  writeFileSync(output, Buffer.concat([header, data]));
}

// Read in slices the signal is read again around the damage; handed over, it is kept as it
// passes.
test('a dropout in a body is plotted, with the damage in words, whether the WAV is read in slices or not',
  async () => {
    const recording = damagedRecording(temp.folder);
    const native = runNative(decodeBinary, ['-f', '-o', 'native.img', recording], temp.folder);
    assert.equal(native.code, 23);
    const muLaw = join(temp.folder, 'dropout-mulaw.wav');
    muLawWav(recording, muLaw);
    const { browser, page, errors } = await openPage();
    try {
      for (const path of [recording, muLaw]) {
        await fileInput(page, 1).setInputFiles(path);
        await page.locator(`#recording-messages:text("${basename(path)}: 3 blocks")`).waitFor();
        const plot = page.getByRole('img', { name: /^Signal of block 2 from 0:29\.\d to 0:30\.\d, the damage marked from 0:30\.0/ });
        await plot.waitFor();
        const caption = await page.locator('figure.damage figcaption').textContent();
        assert.match(caption, /^Block 2: a dropout in the recording from 0:30\.0 to 0:30\.1; \d+ bytes were not read\./);
        assert.equal(await page.locator('figure.damage').count(), 1);
        const marks = page.locator('#decoded-blocks tr.block').nth(1).locator('abbr');
        assert.equal(await marks.getAttribute('title'), 'Body checksum error: some of the body\'s bytes are wrong');
        if (path === recording) {
          assert.deepEqual(await downloadFrom(page, 'Download tape image'),
            readFileSync(join(temp.folder, 'native.img')));
        }
      }
      assert.deepEqual(errors, []);
    } finally {
      await browser.close();
    }
  });

// Ten minutes of tape as a sound card records it (16-bit stereo, 44.1 kHz), read in slices by
// the worker: the page must answer meanwhile and give the native image.
test('a long recording decodes in the worker without a long task on the page', async (t) => {
  const blocks = Array(8).fill('1-3').join(',');
  const mono = join(temp.folder, 'long8.wav');
  assert.equal(runNative(tonbrixBinary, ['-sr', 'H', '-blk', blocks, '-o', mono, demoImage]).code, 0);
  const recording = join(temp.folder, 'long.wav');
  reformatWav(mono, recording);
  let started = Date.now();
  const native = runNative(decodeBinary, ['-f', '-o', 'native.img', recording], temp.folder);
  const nativeMs = Date.now() - started;
  assert.equal(native.code, 0, native.stderr);
  const { browser, page, errors } = await openPage();
  try {
    await fileInput(page, 1).setInputFiles(damagedRecording(temp.folder));
    await page.waitForFunction(() => !document.getElementById('download-image').disabled);
    await page.evaluate(() => {
      window.longTasks = [];
      new PerformanceObserver((list) => {
        window.longTasks.push(...list.getEntries().map((entry) => Math.round(entry.duration)));
      }).observe({ type: 'longtask' });
    });
    // The damaged take, never saved, is dropped once the person agrees.
    page.once('dialog', (dialog) => dialog.accept());
    started = Date.now();
    await fileInput(page, 1).setInputFiles(recording);
    // The image of the last recording cannot be downloaded while this one is read.
    assert.ok(await button(page, 'Download tape image').isDisabled());
    await page.locator('#recording-messages:text("Decoding \'long.wav\'")').waitFor();
    const details = page.locator('#output-details');
    await details.locator('summary').click();
    assert.equal(await details.getAttribute('open'), '');
    await page.waitForFunction(() => !document.getElementById('download-image').disabled, null,
      { timeout: 120000 });
    t.diagnostic(`10 minutes of 16-bit stereo: ${Date.now() - started} ms in the page, ${nativeMs} ms natively`);
    assert.deepEqual(await page.evaluate(() => window.longTasks.filter((ms) => ms > 200)), []);
    assert.deepEqual(await downloadFrom(page, 'Download tape image'),
      readFileSync(join(temp.folder, 'native.img')));
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

test('WAV files of every sample format the worker reads in slices give the native image', async () => {
  const recording = damagedRecording(temp.folder);
  const formats = [
    { bits: 8, channels: 1 },
    { bits: 24, channels: 2, extensible: true },
    { bits: 32, channels: 1 },
    { bits: 32, float: true, channels: 2 },
    { bits: 64, float: true, channels: 1, extensible: true },
  ];
  const { browser, page, errors } = await openPage();
  const captions = new Set();
  try {
    for (const format of formats) {
      const name = `${format.bits}${format.float ? 'f' : ''}-${format.channels}${format.extensible ? 'x' : ''}.wav`;
      reformatWav(recording, join(temp.folder, name), format);
      const native = runNative(decodeBinary, ['-f', '-o', 'native.img', name], temp.folder);
      assert.equal(native.code, 23, `${name}: ${native.stderr}`);
      await fileInput(page, 1).setInputFiles(join(temp.folder, name));
      await page.locator(`#recording-messages:text("${name}: 3 blocks")`).waitFor();
      // The samples were read in slices: the worker reads the plot's signal again from the file.
      // Its words tell whether every format found the same damage.
      await page.getByRole('img', { name: /^Signal of block 2/ }).waitFor();
      captions.add(await page.locator('figure.damage figcaption').textContent());
      assert.deepEqual(await downloadFrom(page, 'Download tape image'),
        readFileSync(join(temp.folder, 'native.img')), name);
    }
    assert.equal(captions.size, 1, [...captions].join('\n'));
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

// A take of the 8-bit mono `recording`: [start, end) seconds of it, with each dropout
// ([seconds, length]) silenced.
function takeOf(recording, name, dropouts, start = 0, end = Infinity) {
  const wav = readFileSync(recording);
  const rate = wav.readUInt32LE(24);
  const at = (seconds) => Math.min(44 + Math.round(seconds * rate), wav.length);
  for (const [from, length] of dropouts) {
    wav.fill(128, at(from), at(from + length));
  }
  const data = wav.subarray(at(start), at(end));
  const header = Buffer.from(wav.subarray(0, 44));
  header.writeUInt32LE(36 + data.length, 4);
  header.writeUInt32LE(data.length, 40);
  writeFileSync(join(temp.folder, name), Buffer.concat([header, data]));
  return name;
}

test('three damaged takes merge into the exact image, with each block\'s takes and the report', async () => {
  const recording = exportDemo('clean.wav', []);
  // Dropouts of 50 to 300 ms in LOADER and in other bytes of DEMOGAME and the last block.
  const takes = [
    takeOf(recording, 'take1.wav', [[5.0, 0.05], [30.0, 0.3]]),
    takeOf(recording, 'take2.wav', [[45.0, 0.2]]),
    takeOf(recording, 'take3.wav', [[30.5, 0.1], [73.0, 0.15]]),
  ];
  for (const take of takes) {
    assert.equal(runNative(decodeBinary, ['-list', take], temp.folder).code, 23, `${take} alone`);
  }
  const native = runNative(decodeBinary,
    ['-f', '-o', 'take1.img', '-report', 'take1-report.json', ...takes], temp.folder);
  assert.equal(native.code, 0, native.stderr);
  const listing = native.stdout.slice(native.stdout.indexOf(' Takes: 3'),
    native.stdout.indexOf('Writing tape image'));
  // The Takes column of the native listing, with how a block was made when a note says so.
  const nativeTakes = listing.split('\n').flatMap((line, i, lines) => {
    const row = line.match(/^ +\d+: .*\t ([\d+]+) +\d+\.\ds/);
    const note = lines[i + 1] ?? '';
    const how = note.includes('recovered from') ? ', recovered'
      : note.includes('whole copies differ') ? ', disputed' : '';
    return row ? [row[1] + how] : [];
  });
  assert.ok(nativeTakes.some((takesOfBlock) => takesOfBlock.endsWith(', recovered')), listing);
  const { browser, page, errors } = await openPage();
  try {
    await fileInput(page, 1).setInputFiles(join(temp.folder, takes[0]));
    await page.locator('#recording-messages:text("take1.wav: 3 blocks")').waitFor();
    assert.ok(await page.getByRole('columnheader', { name: 'Takes' }).isHidden());
    // The button opens a file chooser; the test hands the files to it directly.
    assert.ok(await button(page, 'Add another take').isEnabled());
    await fileInput(page, 2).setInputFiles(takes.slice(1).map((name) => join(temp.folder, name)));
    await page.locator('#recording-messages:text("3 takes merged: 3 blocks")').waitFor();
    const image = await downloadFrom(page, 'Download tape image');
    assert.deepEqual(image, readFileSync(demoImage));
    assert.deepEqual(image, readFileSync(join(temp.folder, 'take1.img')));
    assert.ok((await page.locator('#program-output').textContent()).includes(listing), listing);
    assert.ok(await page.getByRole('columnheader', { name: 'Takes' }).isVisible());
    // Every block had a damaged copy: each row has its plot row under it.
    const rows = await decodedRows(page);
    assert.deepEqual(rows.filter((row) => row.length > 1).map((row) => row[5]), nativeTakes);
    assert.equal(await page.locator('figure.damage').count(), nativeTakes.length);
    const report = (await downloadFrom(page, 'Download report')).toString();
    assert.equal(report, readFileSync(join(temp.folder, 'take1-report.json'), 'latin1'));
    assert.deepEqual(JSON.parse(report).takes.map((take) => take.name), takes);
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

// The merged block is damaged where the only take that holds it dropped out: the plot shows
// that take's signal (it starts 2 s into the tape) around the lost byte, not the last take's.
test('a damaged merged block is plotted from the take it came from', async () => {
  const recording = exportDemo('clean.wav', []);
  const takes = [takeOf(recording, 'late.wav', [[30, 0.1]], 2), takeOf(recording, 'early.wav', [], 0, 10)];
  const native = runNative(decodeBinary, ['-f', '-o', 'native.img', ...takes], temp.folder);
  assert.equal(native.code, 23);
  const { browser, page, errors } = await openPage();
  try {
    await fileInput(page, 1).setInputFiles(takes.map((name) => join(temp.folder, name)));
    await page.locator('#recording-messages:text("2 takes merged: 3 blocks")').waitFor();
    assert.equal(await page.locator('#recording-messages').textContent(),
      `2 takes merged: 3 blocks, ${readFileSync(demoImage).length} bytes of tape image.\n` +
      native.stderr.trim());
    assert.deepEqual((await decodedRows(page)).filter((row) => row.length > 1).map((row) => row[5]),
      ['1+2', '1', '1']);
    await page.getByRole('img', { name: /^Signal of block 2 in take 1 from 0:27\.\d to 0:28\.\d/ })
      .waitFor();
    assert.match(await page.locator('figure.damage figcaption').textContent(),
      /^Block 2: a dropout in take 1 \(late\.wav\) from 0:28\.0 to 0:28\.1; \d+ bytes were not read\./);
    assert.deepEqual(await downloadFrom(page, 'Download tape image'),
      readFileSync(join(temp.folder, 'native.img')));
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

// Of three takes, only the second drops out in block 2, for a second and again briefly: the
// merged block is whole, and its plot shows take 2, the whole second with the signal on both
// sides, on a time axis, named as a dropout in the page's language, and the later runs too.
test('every damaged run of a merged block is shown in the take it lies in, and named', async () => {
  const recording = exportDemo('clean.wav', []);
  const takes = [takeOf(recording, 'a.wav', []), takeOf(recording, 'b.wav', [[30, 1], [33, 0.1]]),
    takeOf(recording, 'c.wav', [])];
  const { browser, page, errors } = await openPage([], undefined, { locale: 'cs-CZ' });
  try {
    await fileInput(page, 1).setInputFiles(takes.map((name) => join(temp.folder, name)));
    const plot = page.getByRole('img', { name: /^Signál bloku 2 v záznamu 2 od / });
    await plot.waitFor();
    const clock = /(\d+):(\d\d,\d)/g;
    const times = (text) => [...text.matchAll(clock)].map(([, m, s]) => 60 * m + Number(s.replace(',', '.')));
    const [from, to, start, end] = times(await plot.getAttribute('aria-label'));
    assert.ok(from < start - 0.2 && start < 30.1 && end > 30.9 && to > end + 0.2, `${from} ${start} ${end} ${to}`);
    const caption = page.locator('figure.damage figcaption');
    assert.match(await caption.textContent(), /^Blok 2: výpadek signálu v záznamu 2 \(b\.wav\) od 0:30,0 do 0:31,0; \d+ bajtů se nepřečetlo\./);
    // The time axis is drawn under the signal: its labels leave ink in the canvas's last rows.
    assert.ok(await plot.evaluate((canvas) => {
      const rows = canvas.getContext('2d').getImageData(0, canvas.height - 12, canvas.width, 8).data;
      return rows.some((value, i) => i % 4 === 3 && value > 0);
    }));
    await page.getByRole('button', { name: 'Další poškození v bloku 2' }).press('Enter');
    assert.match(await caption.textContent(), /^Blok 2: .*v záznamu 2 \(b\.wav\) od 0:3[1-3],\d/);
    assert.match(await caption.textContent(), /Poškození 2 z [3-9]/);
    assert.equal(await page.locator('figure.damage').count(), 1);
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

// What tonbrix-decode notes besides its exit code, the page tells by the module's facts, in
// its own language: the bytes in doubt below a block, a take of another tape (whose image of
// the others is offered all the same), a recording that ended early, a block whose leader
// a long dropout took.
test('the listing\'s notes and the run\'s ending are told in the page\'s language', async () => {
  const recording = exportDemo('clean.wav', []);
  const dropout = takeOf(recording, 'dropout2.wav', [[30, 1], [33, 0.1]]);
  const stray = takeOf(recording, 'stray.wav', [[71, 1.8]]);
  const strayDecode = runNative(decodeBinary, ['-list', stray], temp.folder);
  assert.equal(strayDecode.code, 23, strayDecode.stderr);
  const [, strayAt] = strayDecode.stdout.match(/A block may be missing at (\d+:\d\d\.\d{3}): /);
  const other = readFileSync(demoImage);
  for (let i = 0; i < 100; i++) { // LOADER's body changed, its checksum still good
    other[67 + i] = (other[67 + i] + 1) % 256;
    other[217 + i] = (other[217 + i] + 255) % 256;
  }
  writeFileSync(join(temp.folder, 'other.img'), other);
  assert.equal(runNative(tonbrixBinary, ['-o', 'other.wav', 'other.img'], temp.folder).code, 0);
  const wav = readFileSync(recording);
  const cut = Buffer.from(wav.subarray(0, 44 + 40 * wav.readUInt32LE(24)));
  writeFileSync(join(temp.folder, 'cut.wav'), cut); // its header still states the whole length
  const listing = runNative(decodeBinary, ['-list', dropout], temp.folder).stdout;
  const notes = [...listing.matchAll(/ (\d+) (unknown|uncertain|missing) bytes?,/g)].map(([, n, state]) => `${n} ${state} bytes`);
  assert.ok(notes.length >= 2, listing);
  const foreign = runNative(decodeBinary, ['-f', '-o', 'foreign.img', 'clean.wav', 'clean.wav', 'other.wav'], temp.folder);
  assert.equal(foreign.code, 26, foreign.stderr);
  const ended = runNative(decodeBinary, ['-f', '-o', 'cut.img', 'cut.wav'], temp.folder);
  assert.equal(ended.code, 23, ended.stderr);
  const [, at, frames] = ended.stderr.match(/ended early at (\d+:\d\d\.\d{3}): decoded the (\d+) /);
  const messages = (page) => page.locator('#recording-messages').textContent();
  for (const lang of ['en', 'cs', 'sk']) {
    const { browser, page, errors } = await openPage([], undefined, { locale: lang });
    // The takes decoded before are dropped, as the person agrees.
    page.on('dialog', (dialog) => dialog.accept());
    const newCassette = button(page, { en: 'New cassette', cs: 'Nová kazeta', sk: 'Nová kazeta' }[lang]);
    try {
      await fileInput(page, 1).setInputFiles(join(temp.folder, dropout));
      await page.locator('figure.damage').waitFor();
      if (lang === 'en') {
        assert.equal(await page.locator('#decoded-blocks tr.block').nth(1).locator('td.faults').textContent(),
          `BCE, ${notes.join(', ')}`);
      }
      await newCassette.click();
      await fileInput(page, 1).setInputFiles(['clean.wav', 'clean.wav', 'other.wav'].map((name) => join(temp.folder, name)));
      await page.waitForFunction(() => !document.getElementById('download-image').disabled);
      const said = await messages(page);
      const name = { en: 'Take 3 (other.wav) holds another tape: its block 1 contradicts',
        cs: 'Záznam 3 (other.wav) je z jiné kazety: jeho blok 1 odporuje',
        sk: 'Záznam 3 (other.wav) je z inej kazety: jeho blok 1 odporuje' }[lang];
      assert.ok(said.includes(name), said);
      assert.deepEqual(await downloadFrom(page, { en: 'Download tape image', cs: 'Stáhnout obraz pásky',
        sk: 'Stiahnuť obraz pásky' }[lang]), readFileSync(join(temp.folder, 'foreign.img')));
      await newCassette.click();
      await fileInput(page, 1).setInputFiles(join(temp.folder, 'cut.wav'));
      await page.waitForFunction(() => !document.getElementById('download-image').disabled);
      const text = await messages(page);
      if (lang === 'en') {
        assert.equal(text.split('\n').slice(1).join('\n'), ended.stderr.trim().replace(/\n\n/g, '\n'));
      } else {
        assert.ok(text.includes(`${at.replace('.', ',')}: `) && text.includes(` ${frames} `), text);
      }
      await newCassette.click();
      await fileInput(page, 1).setInputFiles(join(temp.folder, stray));
      await page.waitForFunction(() => !document.getElementById('download-image').disabled);
      const missing = { en: `A block may be missing at ${strayAt}: `,
        cs: `V čase ${strayAt.replace('.', ',')} možná chybí blok: `,
        sk: `V čase ${strayAt.replace('.', ',')} možno chýba blok: ` }[lang];
      assert.ok((await messages(page)).includes(missing), await messages(page));
      assert.deepEqual(errors, []);
    } finally {
      await browser.close();
    }
  }
});

// The browser decodes a FLAC file itself; at the file's own rate, so that the report holds
// the file's rate and sample offsets, as tonbrix-decode's does.
test('the report of a 44.1 kHz FLAC file is the one tonbrix-decode writes', async () => {
  const flac = join(temp.folder, 'demo44.flac');
  wavToFlac(exportDemo('demo44.wav', ['-sr', 'H']), flac);
  const native = runNative(decodeBinary,
    ['-f', '-o', 'demo44.img', '-report', 'demo44-report.json', 'demo44.flac'], temp.folder);
  assert.equal(native.code, 0, native.stderr);
  const { browser, page, errors } = await openPage();
  try {
    await fileInput(page, 1).setInputFiles(flac);
    await page.waitForFunction(() => !document.getElementById('download-report').disabled);
    assert.deepEqual(await downloadFrom(page, 'Download tape image'), readFileSync(demoImage));
    assert.equal((await downloadFrom(page, 'Download report')).toString('latin1'),
      readFileSync(join(temp.folder, 'demo44-report.json'), 'latin1'));
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

test('Cancel decoding stops a long recording and keeps nothing of it', async () => {
  // Two hours of silence: far more than the test waits for.
  const path = join(temp.folder, 'two-hours.wav');
  const header = silentWav(0, 48000);
  header.writeUInt32LE(2 * 3600 * 48000 * 2, 40);
  writeFileSync(path, header);
  truncateSync(path, 44 + 2 * 3600 * 48000 * 2);
  const { browser, page, errors } = await openPage([], undefined, { locale: 'cs-CZ' });
  try {
    await fileInput(page, 1).setInputFiles(path);
    await page.locator('#recording-messages:text("Dekóduji „two-hours.wav“")').waitFor();
    await button(page, 'Zrušit dekódování').click();
    await page.locator('#recording-messages:text-is("Dekódování zrušeno.")').waitFor();
    await button(page, 'Zrušit dekódování').waitFor({ state: 'hidden' });
    // Progress that was on its way does not overwrite the message.
    await page.waitForTimeout(500);
    assert.equal(await page.locator('#recording-messages').textContent(), 'Dekódování zrušeno.');
    assert.ok(await button(page, 'Stáhnout obraz pásky').isDisabled());
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});
