// Takes that are safe: a line-in capture joins the takes already decoded, is kept in the
// browser until saved or discarded (also across a reload), and nothing decoded is dropped
// without asking.
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { test } from 'node:test';
import {
  button, decodeBinary, demoImage, downloadFrom, fileInput, openPage, runNative, tonbrixBinary,
  useTemporaryFolder,
} from './support.mjs';

const temp = useTemporaryFolder();

function exportDemo(name, args) {
  const path = join(temp.folder, name);
  assert.equal(runNative(tonbrixBinary, [...args, '-o', path, demoImage], temp.folder).code, 0);
  return path;
}

test('a capture after a file is the second take, asks before it is dropped, and is saved as a WAV',
  async () => {
    const file = exportDemo('demo.wav', []);
    const line = exportDemo('line-in.wav', ['-dbl', '-gap', '1', '-sr', 'H']);
    const { browser, page, errors } = await openPage([
      '--use-fake-ui-for-media-stream',
      '--use-fake-device-for-media-stream',
      `--use-file-for-fake-audio-capture=${line}%noloop`,
      '--disable-features=AudioServiceOutOfProcess',
      '--disable-background-timer-throttling',
      '--disable-renderer-backgrounding',
    ]);
    try {
      await fileInput(page, 1).setInputFiles(file);
      await page.waitForFunction(() => !document.getElementById('download-image').disabled);
      await page.locator('#capture-name').fill('side A');
      await button(page, 'Record another take from line-in').click();
      await page.locator('#decoded-caption:text("Blocks found in take 2, side A")').waitFor();
      await page.locator('#decoded-blocks tbody tr.block:nth-child(3)').waitFor({ timeout: 90000 });
      await button(page, 'Stop recording').click();
      await page.locator('#decoded-caption:text("Blocks of the tape, merged from 2 takes")').waitFor();

      // A new recording would drop both takes, unsaved: the page asks, and keeps them when told
      // no.
      const asked = new Promise((resolve) => page.once('dialog', async (dialog) => {
        resolve(dialog.message());
        await dialog.dismiss();
      }));
      await fileInput(page, 1).setInputFiles(exportDemo('other.wav', []));
      assert.equal(await asked, 'Discard the 2 takes decoded so far and start a new cassette?');
      assert.equal(await page.locator('#decoded-caption').textContent(),
        'Blocks of the tape, merged from 2 takes');
      assert.deepEqual(await downloadFrom(page, 'Download tape image'), readFileSync(demoImage));

      // The capture outlives the tab: after a reload it is still there to be saved.
      await page.reload();
      await page.waitForSelector('body.ready');
      const wav = await downloadFrom(page, 'Save as WAV: side A');
      assert.equal(wav.toString('latin1', 0, 4), 'RIFF');
      assert.equal(wav.readUInt32LE(40), wav.length - 44);
      writeFileSync(join(temp.folder, 'side A.wav'), wav);
      const listed = runNative(decodeBinary, ['-list', 'side A.wav'], temp.folder);
      assert.ok([0, 23].includes(listed.code), listed.stderr);
      assert.match(listed.stdout, /DEMOGAME/);
      await page.getByRole('list', { name: /kept in this browser/ }).waitFor({ state: 'hidden' });
      await page.reload();
      await page.waitForSelector('body.ready');
      assert.ok(await page.locator('#captures').isHidden());
      assert.deepEqual(errors, []);
    } finally {
      await browser.close();
    }
  });
