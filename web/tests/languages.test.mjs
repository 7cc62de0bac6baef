// The page at the machine, in each of its languages: the words and numbers of the language,
// the keys a person hits without looking, the screen kept on, and what plays never cut.
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { writeFileSync, truncateSync } from 'node:fs';
import { test } from 'node:test';
import {
  demoImage, fileInput, openPage, runNative, tapeOf32Blocks, tonbrixBinary, useTemporaryFolder,
  wavToFlac,
} from './support.mjs';

const temp = useTemporaryFolder();

// What each language calls things, as a person reads them on the page.
const LANGUAGES = [
  { locale: 'en-GB', lang: 'en', heading: 'Play a tape image', opened: 'tape32.img: 32 blocks.',
    play: 'Play', pause: 'Pause', skip: 'Skip to the playback controls', bits: '1,225 bits',
    playing: /^Playing block 2\b/,
    fromHere: 'Play from here: block 2', picture: "'photo.png' is a picture (PNG)",
    recording: "'big.wav' is a WAV recording", digitise: 'Digitise it' },
  { locale: 'cs-CZ', lang: 'cs', heading: 'Přehrát obraz pásky', opened: 'tape32.img: 32 bloků.',
    play: 'Přehrát', pause: 'Pozastavit', skip: 'Přeskočit na ovládání přehrávání',
    bits: '1\u00a0225 bitů', playing: /^Hraje blok 2\b/, fromHere: 'Hrát odsud: blok 2', picture: '„photo.png“ je obrázek (PNG)',
    recording: '„big.wav“ je nahrávka WAV', digitise: 'Digitalizovat' },
  { locale: 'sk-SK', lang: 'sk', heading: 'Prehrať obraz pásky', opened: 'tape32.img: 32 blokov.',
    play: 'Prehrať', pause: 'Pozastaviť', skip: 'Preskočiť na ovládanie prehrávania',
    bits: '1\u00a0225 bitov', playing: /^Hrá blok 2\b/, fromHere: 'Hrať odtiaľto: blok 2', picture: '„photo.png“ je obrázok (PNG)',
    recording: '„big.wav“ je nahrávka WAV', digitise: 'Digitalizovať' },
];

// Counts the screen wake locks the page takes and lets go of.
function wrapWakeLock() {
  window.wakeLocks = { taken: 0, released: 0 };
  const request = navigator.wakeLock.request.bind(navigator.wakeLock);
  navigator.wakeLock.request = async (type) => {
    const lock = await request(type);
    window.wakeLocks.taken++;
    lock.addEventListener('release', () => window.wakeLocks.released++);
    return lock;
  };
}

test('each language: words, numbers, skip link, shortcut keys, the wake lock, files named', async () => {
  const tape = tapeOf32Blocks(temp.folder);
  const photo = join(temp.folder, 'photo.png');
  writeFileSync(photo, Buffer.from('89504e470d0a1a0a0000000d49484452', 'hex'));
  // A recording larger than any tape image: named by its first bytes and offered, not read.
  const big = join(temp.folder, 'big.wav');
  const head = Buffer.alloc(44);
  head.write('RIFF', 0);
  head.write('WAVE', 8);
  writeFileSync(big, head);
  truncateSync(big, 40 * 1024 * 1024);
  for (const l of LANGUAGES) {
    const { browser, page, errors } = await openPage([], undefined, { locale: l.locale, init: wrapWakeLock });
    const button = (name) => page.getByRole('button', { name, exact: true });
    try {
      assert.equal(await page.evaluate(() => document.documentElement.lang), l.lang);
      await page.getByRole('heading', { name: l.heading }).waitFor();
      await fileInput(page, 0).setInputFiles(tape);
      await page.locator(`#tape-messages:text-is("${l.opened}")`).waitFor();
      assert.match(await page.locator('#rate-hint').textContent(), new RegExp(`^${l.bits}`));

      // The first Tab reaches the skip link, which leads to the transport.
      await page.keyboard.press('Tab');
      const skip = page.getByRole('link', { name: l.skip });
      assert.ok(await skip.evaluate((link) => link === document.activeElement));
      await page.keyboard.press('Enter');
      assert.equal(await page.evaluate(() => document.activeElement.id), 'transport');

      // Space plays and pauses from anywhere but a text field, also on a button just clicked.
      await page.keyboard.press('Space');
      await button(l.pause).waitFor();
      assert.equal(await page.evaluate(() => window.wakeLocks.taken), 1, l.lang);
      await button(l.fromHere).click();
      await page.locator('#now-playing').filter({ hasText: l.playing }).waitFor();
      await page.locator('#next-block').click();
      await page.locator('#tape-blocks tr.playing[data-block="3"]').waitFor();
      await page.keyboard.press('Space');
      await button(l.play).waitFor();
      assert.equal(await page.locator('#tape-blocks tr.playing').getAttribute('data-block'), '3');
      assert.equal(await page.evaluate(() => window.wakeLocks.released), 1, l.lang);
      await page.keyboard.press('ArrowRight');
      await page.locator('#tape-blocks tr.playing[data-block="4"]').waitFor();
      await page.keyboard.press('ArrowLeft');
      await page.locator('#tape-blocks tr.playing[data-block="3"]').waitFor();
      await page.keyboard.press('Escape');
      assert.equal(await page.locator('#play-time').textContent(), '0:00 / 14:26');
      // In a text field the keys are the field's.
      await page.locator('#block-list').focus();
      await page.keyboard.press('Space');
      assert.equal(await button(l.play).count(), 1);

      await fileInput(page, 0).setInputFiles(photo);
      await page.locator('#tape-messages').filter({ hasText: l.picture }).waitFor();
      await fileInput(page, 0).setInputFiles(big);
      await page.locator('#tape-messages').filter({ hasText: l.recording }).waitFor();
      await button(l.digitise).waitFor();
      assert.deepEqual(errors, []);
    } finally {
      await browser.close();
    }
  }
});

test('the language chosen is remembered, and the page redraws in it without reloading', async () => {
  const { browser, page, errors } = await openPage([], undefined, { locale: 'de-DE' });
  try {
    // A language the page lacks falls back to English.
    await page.getByRole('heading', { name: 'Play a tape image' }).waitFor();
    await fileInput(page, 0).setInputFiles(tapeOf32Blocks(temp.folder));
    await page.getByRole('combobox', { name: 'Language' }).selectOption('sk');
    await page.getByRole('button', { name: 'Hrať odtiaľto: blok 32' }).waitFor();
    await page.locator('#tape-messages:text-is("tape32.img: 32 blokov.")').waitFor();
    await page.reload();
    await page.waitForSelector('body.ready');
    await page.getByRole('heading', { name: 'Prehrať obraz pásky' }).waitFor();
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

test('changing the block list while a tape plays does not cut what plays', async () => {
  const { browser, page, errors } = await openPage();
  try {
    await fileInput(page, 0).setInputFiles(tapeOf32Blocks(temp.folder));
    await page.getByRole('button', { name: 'Play from here: block 5' }).click();
    await page.locator('#tape-blocks tr.playing[data-block="5"]').waitFor();
    await page.getByRole('checkbox', { name: 'Play block 9' }).uncheck();
    await page.locator('#block-list').fill('1-5,7');
    // Past the rebuild: still playing block 5, and the time goes on.
    await page.waitForTimeout(1000);
    const time = await page.locator('#play-time').textContent();
    await page.locator('#play-time').filter({ hasNotText: time }).waitFor();
    assert.equal(await page.locator('#tape-blocks tr.playing').getAttribute('data-block'), '5');
    assert.equal(await page.locator('#play').textContent(), 'Pause');
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
  }
});

// Every Tab stop is checked on a desktop and a phone: none may hide under the sticky bar.
test('focus moved by Tab never lands under the transport bar', async () => {
  for (const viewport of [{ width: 1366, height: 768 }, { width: 390, height: 844 }]) {
    const { browser, page } = await openPage([], viewport);
    try {
      await fileInput(page, 0).setInputFiles(tapeOf32Blocks(temp.folder));
      await page.locator('#tape-blocks tbody tr').nth(31).waitFor();
      const hidden = [];
      for (let stop = 0; stop < 120; stop++) {
        await page.keyboard.press('Tab');
        const found = await page.evaluate(() => {
          const element = document.activeElement;
          const bar = document.getElementById('transport').getBoundingClientRect();
          const box = element.getBoundingClientRect();
          const under = !element.closest('#transport') && box.bottom > bar.top + 1 &&
            box.top < bar.bottom;
          return under ? element.id || element.getAttribute('aria-label') : null;
        });
        if (found) {
          hidden.push(found);
        }
      }
      assert.deepEqual(hidden, [], `${viewport.width}x${viewport.height}`);
    } finally {
      await browser.close();
    }
  }
});

// The converter runs in its own thread and the decoder in its; the page only draws.
test('no main-thread task over 100 ms to open a tape, change a setting, play, or decode a FLAC',
  async (t) => {
    const wav = join(temp.folder, 'demo44.wav');
    assert.equal(runNative(tonbrixBinary, ['-sr', 'H', '-o', wav, demoImage], temp.folder).code, 0);
    wavToFlac(wav, join(temp.folder, 'demo44.flac'));
    const { browser, page, errors } = await openPage([], undefined, {
      init: () => {
        window.longTasks = [];
        new PerformanceObserver((list) => {
          window.longTasks.push(...list.getEntries().map((entry) => Math.round(entry.duration)));
        }).observe({ type: 'longtask' });
      },
    });
    const actions = [
      ['opening a 32-block tape', async () => {
        await fileInput(page, 0).setInputFiles(tapeOf32Blocks(temp.folder));
        await page.locator('#tape-blocks tr[data-block="32"] .start').filter({ hasText: /\d/ }).waitFor();
      }],
      ['changing the rate', async () => {
        await page.getByRole('combobox', { name: 'Sample rate' }).selectOption('H');
        await page.locator('#tape-blocks tr[data-block="32"] .start').filter({ hasText: /\d/ }).waitFor();
      }],
      ['starting playback', async () => {
        await page.getByRole('button', { name: 'Play', exact: true }).click();
        await page.getByRole('button', { name: 'Pause', exact: true }).waitFor();
      }],
      ['decoding a FLAC file', async () => {
        await fileInput(page, 1).setInputFiles(join(temp.folder, 'demo44.flac'));
        await page.getByRole('button', { name: 'Download tape image' }).and(page.locator(':enabled'))
          .waitFor();
      }],
    ];
    try {
      for (const [name, action] of actions) {
        await page.evaluate(() => window.longTasks.splice(0));
        await action();
        // Long tasks are reported a moment after they end.
        await page.waitForTimeout(500);
        const tasks = await page.evaluate(() => window.longTasks.splice(0));
        t.diagnostic(`${name}: long tasks ${JSON.stringify(tasks)} ms`);
        assert.deepEqual(tasks.filter((ms) => ms > 100), [], name);
      }
      assert.deepEqual(errors, []);
    } finally {
      await browser.close();
    }
  });
