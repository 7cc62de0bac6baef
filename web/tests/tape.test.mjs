// The page's converter half against the native tonbrix: the table, the WAV bytes, playback
// and the messages for bad input.
import assert from 'node:assert/strict';
import { copyFileSync, readFileSync, truncateSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import {
  button, demoImage, downloadFrom, fileInput, openPage, repo, runNative, sha256,
  tonbrixBinary, useTemporaryFolder,
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

async function pageRows(page) {
  return page.locator('#tape-blocks tbody tr').evaluateAll((rows) =>
    rows.map((row) => [...row.cells].slice(1).map((td) => td.textContent.trim())));
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
  const progress = () => page.locator('#progress').evaluate((bar) => bar.value);
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

test('bad images and a bad block list show the messages of the command line', async () => {
  writeFileSync(join(temp.folder, 'notes.txt'), 'not a tape image at all\n');
  writeFileSync(join(temp.folder, 'empty.img'), '');
  writeFileSync(join(temp.folder, 'cut.img'), readFileSync(demoImage).subarray(0, 2000));
  writeFileSync(join(temp.folder, 'huge.img'), '');
  truncateSync(join(temp.folder, 'huge.img'), 300 * 1024 * 1024);
  const { browser, page, errors } = await openPage();
  const messages = page.locator('#tape-messages');
  try {
    for (const name of ['notes.txt', 'empty.img', 'cut.img']) {
      const native = runNative(tonbrixBinary, ['-list', name], temp.folder);
      assert.equal(native.code, 18);
      await fileInput(page, 0).setInputFiles(join(temp.folder, name));
      await page.locator(`#tape-messages:text("${name}")`).waitFor();
      assert.equal(await messages.textContent(), native.stderr.trim());
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
    assert.deepEqual(labels, ['11025 Hz', '22050 Hz', '44100 Hz']);
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
