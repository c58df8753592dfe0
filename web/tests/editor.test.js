// A room drawn with the mouse, rendered in the page, held to the native
// tool: the same WAVE bytes (both with the portable math functions) and
// the same figures as `zm analyze`.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { bandPairs, nativeRender, openPage, pageRender, servePage } from './harness.js';

test('draw, undo and redo, render, compare with the native tool', async () => {
  const page = await openPage(`${await servePage()}?math=portable`);
  const box = await page.locator('#plan').boundingBox();
  // The empty design's view: 60 pixels a metre, centred on (4, 3).
  const at = (x, y) => [box.x + box.width / 2 + (x - 4) * 60, box.y + box.height / 2 - (y - 3) * 60];
  const click = (x, y) => page.mouse.click(...at(x, y));
  const walls = () => page.evaluate(() => window.zm.design.walls.length);

  await page.keyboard.press('w');
  for (const [x, y] of [[1, 1], [7, 1], [7, 5], [1, 5], [1, 1]]) await click(x + 0.04, y - 0.03);  // snapped
  assert.equal(await walls(), 4);
  await page.keyboard.press('Control+z');
  assert.equal(await walls(), 3);
  await page.keyboard.press('Control+y');
  assert.equal(await walls(), 4);

  // Dragging a corner takes both of its walls along.
  await page.keyboard.press('v');
  await page.mouse.move(...at(7, 5));
  await page.mouse.down();
  await page.mouse.move(...at(7.5, 5.5), { steps: 4 });
  await page.mouse.up();
  const moved = await page.evaluate(() => window.zm.design.walls.filter((w) => `${w.from}|${w.to}`.includes('7.5,5.5')).length);
  assert.equal(moved, 2);

  await page.keyboard.press('e');
  await click(2, 3);
  await page.keyboard.press('r');
  await click(5.5, 3);
  await page.evaluate(() => window.zm.settled());
  assert.equal(await page.locator('#checks li.refused, #checks li.error').count(), 0);

  await page.click('#render');
  await page.waitForSelector('#tab-params table');
  await page.click('[data-tab=plots]');
  assert.ok(await page.locator('#plot svg path, #plot svg polyline').count() > 0, 'a plot is drawn');

  const design = await page.evaluate(() => window.zm.designJson());
  const ours = await pageRender(page);
  const native = nativeRender(design, { portable: true });
  assert.ok(ours.wav.equals(native.wav), 'the same WAVE bytes as the native render');
  // The page's octave bands come from its own transform, not FFTW: the same
  // sums to rounding, which a decay fit may magnify to a few parts in 1e8.
  for (const [a, b, where] of bandPairs(ours.analysis, native.analysis)) {
    for (const key of ['edt', 't20', 't30', 'c50', 'c80', 'd50', 'ts']) {
      if (a[key] === null) assert.equal(b[key], null, `${where} ${key}`);
      else assert.ok(Math.abs(a[key] - b[key]) <= 1e-6 * Math.max(1, Math.abs(b[key])), `${where} ${key}: ${a[key]} vs ${b[key]}`);
    }
  }
  const shown = await page.locator('#tab-params td[data-key=t30]').first().textContent();
  assert.equal(shown, native.analysis.channels[0].bands[0].t30?.toFixed(3) ?? 'n/a');
  await page.click('[data-tab=listen]');
  await page.selectOption('#dry', 'voice');
  await page.click('#play-wet');
  assert.equal(await page.locator('#listen-status').textContent(), 'playing the dry sound in the room');
  assert.deepEqual(page.errors, []);
});

test('a bad design is refused with the tool message', async () => {
  const page = await openPage(await servePage());
  await assert.rejects(page.evaluate(() => window.zm.loadDesign('{"format": "zm-design", "walls": [{"from": [0, 0]}]}')),
    /walls\[0\]\.to: missing/);
});
