// The page as people see it: axe-core finds no violation in either theme on a desktop and a
// phone, nothing scrolls sideways, every control is big enough to hit, and screenshots of
// both sizes land in build/web/ to be looked at.
import assert from 'node:assert/strict';
import { copyFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join } from 'node:path';
import { test } from 'node:test';
import {
  damagedRecording, fileInput, openPage, repo, tapeOf32Blocks, useTemporaryFolder,
} from './support.mjs';

const temp = useTemporaryFolder();
const axeSource = createRequire(import.meta.url).resolve('axe-core/axe.min.js');

const sizes = [
  { name: 'desktop', viewport: { width: 1366, height: 768 } },
  { name: 'phone', viewport: { width: 390, height: 844 } },
];

// The page with everything it can show: a tape playing, two takes of a recording merged with
// a damaged block's plot, both legends open.
async function fullPage(viewport, locale) {
  const opened = await openPage([], viewport, { locale });
  const { page } = opened;
  await fileInput(page, 0).setInputFiles(tapeOf32Blocks(temp.folder));
  await page.locator('#tape-blocks tbody tr').nth(31).waitFor();
  await page.locator('button.play-from[data-block="2"]').click();
  await page.locator('#tape-blocks tr.playing').waitFor();
  const take = damagedRecording(temp.folder);
  const again = join(temp.folder, 'dropout-again.wav');
  copyFileSync(take, again);
  await fileInput(page, 1).setInputFiles([take, again]);
  await page.locator('figure.damage canvas').first().waitFor();
  for (const summary of await page.locator('details.legend summary').all()) {
    await summary.click();
  }
  return opened;
}

test('no axe-core violations, no sideways scroll and targets of 24 px, in both themes and sizes',
  async () => {
    for (const [lang, { name, viewport }] of ['en', 'cs', 'sk'].flatMap((l) => sizes.map((s) => [l, s]))) {
      const { browser, page, errors } = await fullPage(viewport, lang);
      try {
        await page.addScriptTag({ path: axeSource });
        for (const colorScheme of ['light', 'dark']) {
          await page.emulateMedia({ colorScheme });
          const result = await page.evaluate(() => window.axe.run(document));
          const found = result.violations.map((v) =>
            `${v.id}: ${v.nodes.map((node) => node.target.join(' ')).slice(0, 3).join(', ')}`);
          assert.deepEqual(found, [], `${lang}, ${name}, ${colorScheme}`);
          await page.locator('#tape-blocks tr.playing').scrollIntoViewIfNeeded();
          await page.screenshot({ path: join(repo, `build/web/page-${lang}-${name}-${colorScheme}.png`) });
          await page.locator('#decoded-blocks').scrollIntoViewIfNeeded();
          await page.screenshot({ path: join(repo, `build/web/takes-${lang}-${name}-${colorScheme}.png`) });
          await page.locator('#connect-section').scrollIntoViewIfNeeded();
          await page.screenshot({ path: join(repo, `build/web/connect-${lang}-${name}-${colorScheme}.png`) });
        }
        const width = await page.evaluate(() => document.documentElement.scrollWidth);
        assert.ok(width <= viewport.width, `${name}: ${width} px wide`);
        // Inline links in text are exempt; the page has none, so every control counts.
        const small = await page.locator('button, input, select, summary').evaluateAll((elements) =>
          elements.filter((element) => element.getClientRects().length > 0)
            .map((element) => [element.id || element.textContent.trim(), element.getBoundingClientRect()])
            .filter(([, box]) => box.width < 24 || box.height < 24)
            .map(([label, box]) => `${label} ${Math.round(box.width)}x${Math.round(box.height)}`));
        assert.deepEqual(small, [], `${lang}, ${name}`);
        assert.deepEqual(errors, []);
      } finally {
        await browser.close();
      }
    }
  });

test('the first rows of a tape just opened are in view, and the transport bar beside the last', async () => {
  for (const { name, viewport } of sizes) {
    const { browser, page } = await openPage([], viewport);
    try {
      await fileInput(page, 0).setInputFiles(tapeOf32Blocks(temp.folder));
      const last = page.locator('#tape-blocks tbody tr').nth(31);
      await last.waitFor({ state: 'attached' });
      const bar = page.getByRole('group', { name: 'Playback' });
      const inView = (box) => box.y >= 0 && box.y + box.height <= viewport.height;
      const third = await page.locator('#tape-blocks tbody tr').nth(2).boundingBox();
      const opened = await bar.boundingBox();
      assert.ok(third.y >= 0 && third.y + third.height <= opened.y + 1,
        `${name}: row 3 at ${third.y}, bar at ${opened.y}`);
      await last.scrollIntoViewIfNeeded();
      const rowBox = await last.boundingBox();
      const barBox = await bar.boundingBox();
      assert.ok(inView(barBox), `${name}: bar at ${barBox.y}`);
      assert.ok(inView(rowBox) && rowBox.y + rowBox.height <= barBox.y + 1,
        `${name}: row at ${rowBox.y}, bar at ${barBox.y}`);
      await page.evaluate(() => window.scrollTo(0, 0));
      assert.ok(inView(await bar.boundingBox()), `${name}: bar at the top of the page`);
    } finally {
      await browser.close();
    }
  }
});
