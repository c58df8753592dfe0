// The examples rendered in the page against the native build: the same
// bytes when both use the portable math functions, the same room figures
// within a hair with the browser's own.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { bandPairs, examples, nativeConvert, nativeRender, openPage, pageRender, servePage } from './harness.js';

const inFloat = (text) => {
  const design = JSON.parse(text);
  design.options.bitsPerSample = 32;
  return JSON.stringify(design, null, 2);
};

test('examples: byte for byte with the portable math functions; saved as zm convert writes', async () => {
  const page = await openPage(`${await servePage()}?math=portable`);
  for (const { name, text } of examples) {
    await page.evaluate((t) => window.zm.loadDesign(t), inFloat(text));
    assert.equal(await page.evaluate(() => window.zm.designJson()), nativeConvert(inFloat(text)), name);
    const ours = await pageRender(page);
    assert.ok(ours.wav.equals(nativeRender(inFloat(text), { portable: true }).wav), name);
  }
});

test('examples: figures within 1 % and 0.1 dB with the browser math', async () => {
  const page = await openPage(await servePage());
  for (const { name, text } of examples) {
    await page.evaluate((t) => window.zm.loadDesign(t), text);
    const ours = await pageRender(page);
    for (const [a, b, where] of bandPairs(ours.analysis, nativeRender(text).analysis)) {
      if (where.includes('broadband') === false) continue;
      for (const key of ['edt', 't20', 't30']) {
        if (b[key] !== null) assert.ok(Math.abs(a[key] / b[key] - 1) <= 0.01, `${name} ${where} ${key}: ${a[key]} vs ${b[key]}`);
      }
      for (const key of ['c50', 'c80']) {
        if (b[key] !== null) assert.ok(Math.abs(a[key] - b[key]) <= 0.1, `${name} ${where} ${key}: ${a[key]} vs ${b[key]}`);
      }
    }
  }
});

test('the Fast toggle renders as zm render --fast does, within 1 % and 0.1 dB', async () => {
  const page = await openPage(await servePage());
  const { text } = examples.find((e) => e.name === 'small-studio');
  await page.evaluate((t) => window.zm.loadDesign(t), text);
  await page.click('#fast');
  const ours = await pageRender(page);
  assert.match(await page.textContent('#status'), /fast mode/);
  for (const [a, b, where] of bandPairs(ours.analysis, nativeRender(text, { fast: true }).analysis)) {
    if (where.includes('broadband') === false) continue;
    for (const key of ['edt', 't20', 't30']) {
      if (b[key] !== null) assert.ok(Math.abs(a[key] / b[key] - 1) <= 0.01, `${where} ${key}: ${a[key]} vs ${b[key]}`);
    }
    for (const key of ['c50', 'c80']) {
      if (b[key] !== null) assert.ok(Math.abs(a[key] - b[key]) <= 0.1, `${where} ${key}: ${a[key]} vs ${b[key]}`);
    }
  }
});
