// Stop during a long render: through the shared stop flag where the page is
// cross-origin isolated, by restarting the worker where it is not; either
// way the page renders again afterwards.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { examples, openPage, servePage, serveWithTool } from './harness.js';
import { writeFileSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const long = (() => {
  const design = JSON.parse(examples[1].text);
  for (const e of design.emitters) e.rayCount = (e.rayCount ?? 10000) * 200;
  return JSON.stringify(design);
})();

const longFile = join(mkdtempSync(join(tmpdir(), 'zm-stop-')), 'long.json');
writeFileSync(longFile, long);

for (const isolated of [true, false]) {
  test(`stop a render (${isolated ? 'stop flag' : 'worker restarted'})`, async () => {
    // The isolated page as `zm workbench` serves it.
    const page = await openPage(isolated ? await serveWithTool(longFile) : await servePage({ isolated }));
    assert.equal(await page.evaluate(() => self.crossOriginIsolated), isolated);
    if (!isolated) await page.evaluate((t) => window.zm.loadDesign(t), long);
    await page.evaluate(() => { window.pending = window.zm.render({ group: 0 }); });
    await page.waitForFunction(() => document.getElementById('progress').value > 0);
    await page.click('#stop');
    assert.deepEqual(await page.evaluate(() => window.pending), { stopped: true });
    await page.evaluate((t) => window.zm.loadDesign(t), examples[0].text);
    const { analysis } = await page.evaluate(() => window.zm.render({ group: 0 }));
    assert.equal(analysis.channels.length, 2);
  });
}
