// Times the render call inside the page's worker for each example (median
// of 5 renders, after one to warm up), with the browser's math or the
// portable functions (`portable` argument), with the browser tests' harness.
// Run it by hand after scripts/test-all.sh web has built the page:
//   node --no-experimental-fetch bench/web-render-times.js [portable]
import { test } from 'node:test';
import { examples, openPage, servePage } from '../web/tests/harness.js';

const math = process.argv.includes('portable') ? '?math=portable' : '';

test('render times in the worker', async () => {
  const page = await openPage(`${await servePage()}${math}`);
  for (const { name, text } of examples) {
    await page.evaluate((t) => window.zm.loadDesign(t), text);
    const times = [];
    for (let i = 0; i < 6; i++) times.push(await page.evaluate(async () => (await window.zm.render({ group: 0 })).renderSeconds));
    times.shift();
    times.sort((a, b) => a - b);
    console.log(`${name}: median ${times[2].toFixed(3)} s (${times.map((t) => t.toFixed(3)).join(' ')})`);
  }
});
