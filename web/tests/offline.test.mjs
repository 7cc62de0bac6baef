// The page served over http: installable, and once opened it opens again without a network.
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { extname, join } from 'node:path';
import { test } from 'node:test';
import { demoImage, fileInput, openPage, pageDir } from './support.mjs';

const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
  '.svg': 'image/svg+xml', '.webmanifest': 'application/manifest+json' };

test('served over http the page has a manifest and reloads offline with its module', async () => {
  const server = createServer((request, response) => {
    const path = new URL(request.url, 'http://x').pathname.replace(/^\/$/, '/index.html');
    try {
      const body = readFileSync(join(pageDir, path.replace(/\.\./g, '')));
      response.writeHead(200, { 'Content-Type': TYPES[extname(path)] ?? 'application/octet-stream' })
        .end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const url = `http://127.0.0.1:${server.address().port}/index.html`;
  const { browser, page, errors } = await openPage([], undefined, { url });
  try {
    const manifest = await page.evaluate(async () =>
      (await fetch(document.querySelector('link[rel=manifest]').href)).json());
    assert.equal(manifest.short_name, 'Tonbrix');
    await page.evaluate(() => navigator.serviceWorker.ready);
    server.close();
    server.closeAllConnections();
    await page.context().setOffline(true);
    await page.reload();
    await page.waitForSelector('body.ready');
    assert.ok(await page.evaluate(() => navigator.serviceWorker.controller !== null));
    await fileInput(page, 0).setInputFiles(demoImage);
    await page.locator('#tape-blocks tbody tr').nth(2).waitFor();
    assert.deepEqual(errors, []);
  } finally {
    await browser.close();
    server.close();
  }
});
