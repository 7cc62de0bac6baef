// The page's converter half against the native tonbrix: the table, the WAV bytes, playback
// and the messages for bad input.
import assert from 'node:assert/strict';
import { copyFileSync, readFileSync, truncateSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { join } from 'node:path';
import { test } from 'node:test';
import { strToU8, zipSync } from 'fflate';
import {
  button, damagedRecording, demoImage, downloadFrom, fileInput, openPage, pageUrl, repo, runNative,
  sha256, tapeOf32Blocks, tonbrixBinary, useTemporaryFolder,
} from './support.mjs';

const temp = useTemporaryFolder();

// The rows of `tonbrix -list` as the page's columns: BLK, NR/T, name, begin, length, faults.
function listingRows(listing) {
  const rows = [];
  for (const line of listing.split('\n')) {
    const header = /^\s*(\d+): (\d\d\/.) (.{8})\t\s*(\d+ \(\w{4}h\))\t\s*(\d+ \(\w{4}h\))\t(.*)$/.exec(line);
    const headerless = /^\s*(\d+): \.\.\.\t+\s*(\d+ \(\w{4}h\))$/.exec(line);
    if (header) {
      const faults = header[6].trim().split(/\s+/).filter(Boolean).join(' ');
      rows.push([header[1], header[2], header[3].trim(), header[4], header[5], faults]);
    } else if (headerless) {
      rows.push([headerless[1], '...', '', '', headerless[2], '']);
    }
  }
  return rows;
}

// The columns that the listing has too: BLK to Faults.
async function pageRows(page) {
  return page.locator('#tape-blocks tbody tr').evaluateAll((rows) =>
    rows.map((row) => [...row.cells].slice(1, 7).map((td) => td.textContent.trim())));
}

test('the table of the demo image and of a damaged copy shows what tonbrix -list shows', async () => {
  const damaged = readFileSync(demoImage);
  damaged[3000] ^= 0x5a; // inside the body of block 2
  writeFileSync(join(temp.folder, 'damaged.img'), damaged);
  copyFileSync(demoImage, join(temp.folder, 'demo.img'));
  const { browser, page, errors } = await openPage();
  try {
    for (const name of ['demo.img', 'damaged.img']) {
      const native = runNative(tonbrixBinary, ['-list', name], temp.folder);
      assert.equal(native.code, 0);
      const expected = listingRows(native.stdout);
      assert.equal(expected.length, 3);
      await fileInput(page, 0).setInputFiles(join(temp.folder, name));
      await page.locator(`#tape-caption:text("Blocks of ${name}")`).waitFor();
      assert.deepEqual(await pageRows(page), expected, name);
    }
    assert.match((await pageRows(page))[1][5], /BCE/);
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

// Each case: what to set on the page, and the same choice as tonbrix arguments.
const exportCases = [
  { name: 'defaults', set: async () => {}, args: [] },
  {
    name: 'Mato, low rate, full level, short gap, repeats',
    set: async (page) => {
      await page.locator('#protocol').selectOption('mato');
      await page.locator('#sample-rate').selectOption('L');
      await page.locator('#amplitude').fill('127');
      await page.locator('#gap').fill('1');
      await page.locator('#block-list').fill('3,1,1');
    },
    args: ['-mato', '-sr', 'L', '-amp', '127', '-gap', '1', '-blk', '3,1,1'],
  },
  {
    name: 'double speed, reversed phase, high rate, block 1 unticked',
    set: async (page) => {
      await page.locator('#protocol').selectOption('dbl');
      await page.locator('#sample-rate').selectOption('H');
      await page.locator('#reverse-phase').check();
      await page.locator('#play-block-1').uncheck();
      assert.equal(await page.locator('#block-list').inputValue(), '2-3');
    },
    args: ['-dbl', '-rph', '-sr', 'H', '-blk', '2-3'],
  },
];

test('Download WAV gives the bytes tonbrix writes with the same options', async (t) => {
  const { browser, page, errors } = await openPage();
  try {
    for (const c of exportCases) {
      // The page remembers the options; each case starts from the defaults.
      await page.evaluate(() => localStorage.clear());
      await page.reload();
      await page.waitForSelector('body.ready');
      const started = Date.now();
      await fileInput(page, 0).setInputFiles(demoImage);
      await page.locator('#tape-blocks tbody tr').first().waitFor();
      await c.set(page);
      const wav = await downloadFrom(page, 'Download WAV');
      t.diagnostic(`${c.name}: ${wav.length} bytes, ${Date.now() - started} ms from opening the image`);
      const output = join(temp.folder, 'native.wav');
      const native = runNative(tonbrixBinary, [...c.args, '-o', output, demoImage], temp.folder);
      assert.equal(native.code, 0, native.stderr);
      assert.equal(sha256(wav), sha256(readFileSync(output)), c.name);
    }
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

test('playback advances the progress bar and the highlight; pause holds it, stop rewinds', async () => {
  const { browser, page, errors } = await openPage();
  const playingBlock = () => page.locator('#tape-blocks tr.playing').getAttribute('data-block');
  const progress = () => page.locator('#progress').evaluate((bar) => bar.valueAsNumber);
  try {
    await fileInput(page, 0).setInputFiles(demoImage);
    await page.locator('#tape-blocks tbody tr').first().waitFor();
    // Block 3 (headerless, 3 s at double speed) first, then block 1 after a 1 s gap.
    await page.locator('#protocol').selectOption('dbl');
    await page.locator('#gap').fill('1');
    await page.locator('#block-list').fill('3,1');
    await button(page, 'Play').click();
    await page.locator('#tape-blocks tr.playing[data-block="3"][aria-current="true"]').waitFor();
    const early = await progress();
    await page.locator('#tape-blocks tr.playing[data-block="1"]').waitFor({ timeout: 15000 });
    assert.ok((await progress()) > early);
    assert.equal(await page.locator('#tape-blocks tr.playing').count(), 1);
    await page.screenshot({ path: join(repo, 'build/web/page.png') });

    await button(page, 'Pause').click();
    const paused = await progress();
    await page.waitForTimeout(400);
    assert.equal(await progress(), paused);
    assert.equal(await playingBlock(), '1');
    await button(page, 'Stop').click();
    assert.equal(await progress(), 0);
    assert.equal(await page.locator('#tape-blocks tr.playing').count(), 0);
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

// A file of which not one block reads is no tape image, and the page says so in its own
// words; a cut image is a damaged one, and gets the command line's message.
test('bad images and a bad block list show the messages of the command line', async () => {
  writeFileSync(join(temp.folder, 'notes.txt'), 'not a tape image at all\n');
  writeFileSync(join(temp.folder, 'empty.img'), '');
  writeFileSync(join(temp.folder, 'photo.jpg'), Buffer.from('ffd8ffe000104a46494600010100', 'hex'));
  writeFileSync(join(temp.folder, 'cut.img'), readFileSync(demoImage).subarray(0, 2000));
  writeFileSync(join(temp.folder, 'huge.img'), '');
  truncateSync(join(temp.folder, 'huge.img'), 300 * 1024 * 1024);
  const { browser, page, errors } = await openPage();
  const messages = page.locator('#tape-messages');
  try {
    // What the module rejects is named by the page, a photo before the module sees it.
    const expected = {
      'notes.txt': "'notes.txt' is a text file, not a PMD 85 or Mato tape image",
      'photo.jpg': "'photo.jpg' is a picture (JPEG), not a PMD 85 or Mato tape image",
      'empty.img': "'empty.img' is empty",
    };
    for (const name of ['notes.txt', 'photo.jpg', 'empty.img', 'cut.img']) {
      const native = runNative(tonbrixBinary, ['-list', name], temp.folder);
      assert.equal(native.code, 18);
      await fileInput(page, 0).setInputFiles(join(temp.folder, name));
      await page.locator('#tape-messages').filter({ hasText: name }).filter({ hasNotText: 'Reading' })
        .waitFor();
      if (expected[name]) {
        assert.ok((await messages.textContent()).startsWith(expected[name]), name);
        if (name !== 'photo.jpg') {
          assert.match(await page.locator('#program-output').textContent(), /corrupted at file offset/);
        }
      } else {
        assert.equal(await messages.textContent(), native.stderr.trim());
      }
      assert.ok(await page.locator('#tape-blocks').isHidden());
      assert.ok(await button(page, 'Download WAV').isDisabled());
    }
    await fileInput(page, 0).setInputFiles(join(temp.folder, 'huge.img'));
    await page.locator('#tape-messages:text("300.0 MB")').waitFor();

    await fileInput(page, 0).setInputFiles(demoImage);
    await page.locator('#tape-blocks tbody tr').first().waitFor();
    await page.locator('#block-list').fill('2,9-x');
    await button(page, 'Download WAV').click();
    const native = runNative(tonbrixBinary, ['-blk', '2,9-x', demoImage], temp.folder);
    await page.locator('#tape-messages:text("block list")').waitFor();
    assert.equal(await messages.textContent(), native.stderr.trim());
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

test("the rates, the length of a WAV and the page's limit on it are the module's", async () => {
  const { browser, page, errors } = await openPage();
  try {
    const labels = await page.locator('#sample-rate option').allTextContents();
    assert.deepEqual(labels, ['11,025 Hz', '22,050 Hz', '44,100 Hz']);
    await fileInput(page, 0).setInputFiles(demoImage);
    await page.locator('#tape-blocks tbody tr').first().waitFor();
    await page.locator('#sample-rate').selectOption('L');
    await button(page, 'Download WAV').click();
    // 948420 samples at 11025 Hz after the header, in a file of 948464 bytes.
    await page.locator('#tape-messages:text("demo.wav: 1:26, 0.9 MB.")').waitFor();

    await page.locator('#sample-rate').selectOption('H');
    await page.locator('#gap').fill('7000');
    await button(page, 'Download WAV').click();
    await page.locator('#tape-messages:text("The page keeps at most 256.0 MB of WAV")').waitFor();
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

// "1:03" as seconds.
const seconds = (text) => text.split(':').reduce((sum, part) => sum * 60 + Number(part), 0);

test('a 32-block tape plays from any row, steps by block, keeps the focus, and stops between files',
  async () => {
    const { browser, page, errors } = await openPage();
    const focused = () => page.evaluate(() => document.activeElement.id);
    const position = () => page.locator('#progress').evaluate((bar) => bar.valueAsNumber);
    const row = (n) => page.locator(`#tape-blocks tr[data-block="${n}"]`);
    try {
      await fileInput(page, 0).setInputFiles(tapeOf32Blocks(temp.folder));
      await row(32).locator('.start').filter({ hasText: /\d/ }).waitFor();
      const start20 = seconds(await row(20).locator('.start').textContent());
      await button(page, 'Play from here: block 20').click();
      await page.locator('#tape-blocks tr.playing[data-block="20"][aria-current="true"]').waitFor();
      assert.ok((await position()) >= start20, `${await position()} before ${start20}`);
      assert.match(await page.locator('#now-playing').textContent(), /^Playing block 20, 01\/M DEMOGAME/);

      // Space on the one Play/Pause button pauses and plays again, and the focus stays on it.
      await button(page, 'Pause').focus();
      await page.keyboard.press('Space');
      await button(page, 'Play').waitFor();
      const paused = await position();
      assert.equal(await focused(), 'play');
      await page.keyboard.press('Space');
      await button(page, 'Pause').waitFor();
      assert.equal(await focused(), 'play');
      assert.ok((await position()) >= paused);

      await button(page, 'Next block').click();
      await page.locator('#tape-blocks tr.playing[data-block="21"]').waitFor();
      assert.equal(await focused(), 'next-block');
      await button(page, 'Stop').click();
      assert.equal(await position(), 0);
      assert.equal(await focused(), 'stop');

      // Multi-load games: block 7's file plays, then the tape waits before block 8's header.
      await page.getByLabel('Stop before each file (multi-load games)').check();
      await page.locator('#protocol').selectOption('dbl');
      await page.locator('#gap').fill('1');
      await page.locator('#gap').dispatchEvent('change');
      await row(32).locator('.start').filter({ hasText: /\d/ }).waitFor();
      const start8 = seconds(await row(8).locator('.start').textContent());
      await button(page, 'Play from here: block 7').click();
      await page.locator('#now-playing:text("Stopped before the next file")').waitFor({ timeout: 20000 });
      assert.equal(Math.floor(await position()), start8);
      await button(page, 'Play').waitFor();

      // Nothing ticked: Play says so instead of playing a second of silence.
      await page.locator('#block-list').fill('');
      await page.locator('#block-list').dispatchEvent('input');
      await button(page, 'Play').click();
      await page.locator('#tape-messages:text("No block is chosen")').waitFor();
      assert.equal(await focused(), 'play');
      assert.equal(await page.locator('#tape-blocks tr.playing').count(), 0);
      assert.deepEqual(errors, []);
    } finally {
      await browser.close();
    }
  });

test('a recording opened as a tape and a tape opened as a recording each move to the other side',
  async () => {
    const recording = damagedRecording(temp.folder);
    const { browser, page, errors } = await openPage();
    try {
      await fileInput(page, 0).setInputFiles(recording);
      await page.locator("#tape-messages:text(\"'dropout.wav' is a WAV recording, not a tape image\")").waitFor();
      await button(page, 'Digitise it').click();
      assert.equal(await page.evaluate(() => document.activeElement.id), 'recording-heading');
      await page.locator('#decoded-blocks tbody tr.block').nth(2).waitFor();

      // The take decoded is dropped for the new cassette once the person agrees.
      page.once('dialog', (dialog) => dialog.accept());
      await fileInput(page, 1).setInputFiles(demoImage);
      await page.locator("#recording-messages:text(\"'demo.img' is a tape image, not a recording.\")").waitFor();
      await button(page, 'Open it as a tape image').click();
      await page.locator('#tape-caption:text("Blocks of demo.img")').waitFor();
      assert.deepEqual(errors, []);
    } finally {
      await browser.close();
    }
  });

// A server on the loopback that lets pages read /demo.img and /tapes.zip, refuses /gone.img,
// and serves /private.img without letting other pages read it.
async function tapeServer(zip) {
  const server = createServer((request, response) => {
    const open = { 'Access-Control-Allow-Origin': '*' };
    if (request.url === '/demo.img') {
      response.writeHead(200, open).end(readFileSync(demoImage));
    } else if (request.url === '/tapes.zip') {
      response.writeHead(200, open).end(zip);
    } else if (request.url === '/private.img') {
      response.writeHead(200).end(readFileSync(demoImage));
    } else {
      response.writeHead(404, open).end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, base: `http://127.0.0.1:${server.address().port}` };
}

test('a ZIP of tape images opens the one chosen, and ?tape= opens a link or says why not', async () => {
  const zip = zipSync({
    'readme.txt': strToU8('Two tapes'),
    'games/demo.img': readFileSync(demoImage),
    'games/tape32.img': readFileSync(tapeOf32Blocks(temp.folder)),
  });
  writeFileSync(join(temp.folder, 'tapes.zip'), zip);
  writeFileSync(join(temp.folder, 'one.zip'), zipSync({ 'only.img': readFileSync(demoImage) }));
  const { server, base } = await tapeServer(zip);
  const { browser, page, errors } = await openPage();
  const rows = page.locator('#tape-blocks tbody tr');
  try {
    await fileInput(page, 0).setInputFiles(join(temp.folder, 'tapes.zip'));
    await button(page, 'Open games/tape32.img').click();
    await page.locator('#tape-caption:text("Blocks of tape32.img")').waitFor();
    assert.equal(await rows.count(), 32);
    await fileInput(page, 0).setInputFiles(join(temp.folder, 'one.zip'));
    await page.locator('#tape-caption:text("Blocks of only.img")').waitFor();
    assert.equal(await rows.count(), 3);

    await page.goto(`${pageUrl}?tape=${encodeURIComponent(`${base}/tapes.zip`)}`);
    await button(page, 'Open games/demo.img').click();
    await page.locator('#tape-caption:text("Blocks of demo.img")').waitFor();
    for (const [path, message] of [
      ['/gone.img', `The server refused ${base}/gone.img: 404 Not Found.`],
      ['/private.img', `${base}/private.img could not be fetched`],
    ]) {
      await page.goto(`${pageUrl}?tape=${encodeURIComponent(base + path)}`);
      await page.locator(`#tape-messages:text("${message}")`).waitFor();
    }
    await page.goto(`${pageUrl}?tape=${encodeURIComponent(`${base}/demo.img`)}`);
    await page.locator('#tape-caption:text("Blocks of demo.img")').waitFor();
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
    server.close();
  }
});
