// `zm workbench` serves the page cross-origin isolated, on the loopback
// interface only, opens with the design it was given, and keeps requests
// inside the page's folder.
import assert from 'node:assert/strict';
import { connect } from 'node:net';
import { test } from 'node:test';
import { examples, openPage, serveWithTool } from './harness.js';
import { fileURLToPath } from 'node:url';

const studio = fileURLToPath(new URL('../../examples/small-studio.json', import.meta.url));

test('zm workbench serves the page with the design', async () => {
  const url = await serveWithTool(studio);
  assert.match(url, /^http:\/\/127\.0\.0\.1:\d+\/\?design=design\.json$/);
  const page = await openPage(url);
  assert.equal(await page.evaluate(() => self.crossOriginIsolated), true);
  const title = await page.evaluate(() => window.zm.design.title);
  assert.equal(title, JSON.parse(examples[0].text).title);

  const { port } = new URL(url);
  const raw = await new Promise((done) => {
    const socket = connect(Number(port), '127.0.0.1', () => socket.end('GET /../CMakeCache.txt HTTP/1.1\r\n\r\n'));
    let text = '';
    socket.on('data', (d) => { text += d; });
    socket.on('end', () => done(text));
  });
  assert.match(raw, /^HTTP\/1\.1 404/);
});
