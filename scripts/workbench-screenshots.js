// Takes the screenshots of docs/: the editor with a drawn room, a render in
// progress, the results with plots and the listening panel, with the
// browser tests' harness, after scripts/test-all.sh web has built the page:
//   node --no-experimental-fetch --test scripts/workbench-screenshots.js
import { fileURLToPath } from 'node:url';
import { test } from 'node:test';
import { openPage, servePage } from '../web/tests/harness.js';

const docs = (name) => fileURLToPath(new URL(`../../docs/${name}`, import.meta.url));

test('screenshots', async () => {
  const page = await openPage(await servePage());
  const box = await page.locator('#plan').boundingBox();
  const at = (x, y) => [box.x + box.width / 2 + (x - 4) * 60, box.y + box.height / 2 - (y - 3) * 60];
  await page.keyboard.press('w');
  for (const [x, y] of [[0.5, 0.5], [7.5, 0.5], [7.5, 5], [3, 5.5], [0.5, 5], [0.5, 0.5]]) await page.mouse.click(...at(x, y));
  await page.keyboard.press('e');
  await page.mouse.click(...at(2, 3));
  await page.evaluate(() => window.zm.settled());
  await page.locator('#props input[type=number]').nth(1).fill('120');
  await page.locator('#props input[type=number]').nth(1).dispatchEvent('change');
  await page.keyboard.press('r');
  await page.mouse.click(...at(6, 2.5));
  await page.keyboard.press('r');
  await page.mouse.click(...at(6, 3.5));
  await page.keyboard.press('v');
  await page.mouse.click(...at(3, 5.5));
  await page.mouse.move(...at(3.5, 4));
  await page.evaluate(() => window.zm.settled());
  await page.screenshot({ path: docs('workbench-editor.png') });

  // A slow render, to catch it in progress.
  const slow = await page.evaluate(() => {
    const d = structuredClone(window.zm.design);
    d.emitters[0].rayCount = 2000000;
    return JSON.stringify(d);
  });
  const quick = await page.evaluate(() => window.zm.designJson());
  await page.evaluate((t) => window.zm.loadDesign(t), slow);
  await page.evaluate(() => { window.pending = window.zm.render({ group: 0 }); });
  await page.waitForFunction(() => document.getElementById('progress').value > 0.3);
  await page.screenshot({ path: docs('workbench-rendering.png') });
  await page.click('#stop');
  await page.evaluate(() => window.pending);

  await page.evaluate((t) => window.zm.loadDesign(t), quick);
  await page.click('#render');
  await page.waitForSelector('#tab-params table');
  await page.screenshot({ path: docs('workbench-results.png') });
  await page.click('[data-tab=plots]');
  await page.waitForSelector('#plot svg');
  await page.locator('#results').evaluate((e) => { e.scrollTop = 330; });
  await page.screenshot({ path: docs('workbench-plots.png') });
  await page.click('[data-tab=listen]');
  await page.selectOption('#dry', 'voice');
  await page.screenshot({ path: docs('workbench-listen.png') });
});
