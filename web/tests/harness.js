// What the browser tests share: a static server for the built page, the
// headless browser, and the native zm tool to hold the page's results to.
import { spawn, spawnSync } from 'node:child_process';
import { createReadStream, existsSync, mkdtempSync, readFileSync, symlinkSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, resolve } from 'node:path';
import { after } from 'node:test';
import { chromium } from 'playwright-core';

const root = resolve(import.meta.dirname, '../..');
export const pageDir = process.env.ZM_WEB_DIR ?? join(root, 'build/wasm/web');
const zmTool = process.env.ZM_TOOL ?? join(root, 'build/tool/tools/zm');
const portableLibrary = process.env.ZM_PORTABLE_LIBRARY ?? join(root, 'build/web-native/libzm_portable_math.so');
export const examples = ['small-studio', 'concert-hall', 'irregular-plan'].map((name) => ({
  name, text: readFileSync(join(root, 'examples', `${name}.json`), 'utf8'),
}));
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm', '.json': 'application/json' };

// `isolated`: with the headers that let the page share memory with its
// worker, as `zm workbench` sends them.
export async function servePage({ isolated = true } = {}) {
  const server = createServer((req, res) => {
    const path = join(pageDir, decodeURIComponent(new URL(req.url, 'http://x').pathname).replace(/\/$/, '/index.html'));
    if (!path.startsWith(pageDir) || !existsSync(path)) return res.writeHead(404).end();
    const headers = { 'Content-Type': TYPES[extname(path)] ?? 'application/octet-stream' };
    if (isolated) Object.assign(headers, { 'Cross-Origin-Opener-Policy': 'same-origin', 'Cross-Origin-Embedder-Policy': 'require-corp' });
    res.writeHead(200, headers);
    createReadStream(path).pipe(res);
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  after(() => server.close());
  return `http://127.0.0.1:${server.address().port}/`;
}

// `zm workbench` itself, serving the built page with `design` (a path).
export async function serveWithTool(design) {
  const child = spawn(zmTool, ['workbench', '--page', pageDir, design], { stdio: ['ignore', 'pipe', 'inherit'] });
  after(() => child.kill());
  let out = '';
  for await (const chunk of child.stdout) {
    out += chunk;
    const url = out.match(/http:\/\/127\.0\.0\.1:\d+\/\S*/);
    if (url) return url[0];
  }
  throw new Error(`zm workbench printed no address: ${out}`);
}

let browser = null;
export async function openPage(url) {
  browser ??= await chromium.launch({ executablePath: process.env.ZM_CHROMIUM ?? '/usr/bin/chromium', headless: true });
  after(async () => { await browser?.close(); browser = null; });
  const page = await browser.newPage({ viewport: { width: 1280, height: 800 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(e));
  await page.goto(url);
  await page.evaluate(() => window.zm.ready);
  page.errors = errors;
  return page;
}

// Renders `designText` with the native tool (one thread) and analyses the
// result; `portable` links the engine with the portable math functions.
const work = mkdtempSync(join(tmpdir(), 'zm-web-'));
const portableDir = join(work, 'portable');
export function nativeRender(designText, { portable = false, fast = false } = {}) {
  const design = join(work, 'design.json');
  const wav = join(work, 'native.wav');
  writeFileSync(design, designText);
  const env = { ...process.env, ZM_THREADS: '1' };
  if (portable) {
    if (!existsSync(portableDir)) {
      spawnSync('mkdir', [portableDir]);
      symlinkSync(portableLibrary, join(portableDir, 'libzm.so.4'));
    }
    env.LD_LIBRARY_PATH = portableDir;
  }
  const run = (args) => {
    const r = spawnSync(zmTool, args, { env, encoding: 'utf8' });
    if (r.status !== 0) throw new Error(`zm ${args.join(' ')}: ${r.stderr}`);
    return r.stdout;
  };
  run(['render', '--quiet', ...(fast ? ['--fast'] : []), design, wav]);
  return { wav: readFileSync(wav), analysis: JSON.parse(run(['analyze', '--json', wav])) };
}

// What `zm convert` writes for a JSON design.
export function nativeConvert(designText) {
  const design = join(work, 'to-convert.json');
  const converted = join(work, 'converted.json');
  writeFileSync(design, designText);
  const r = spawnSync(zmTool, ['convert', design, converted], { encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`zm convert: ${r.stderr}`);
  return readFileSync(converted, 'utf8');
}

// The page's zm.render, with the WAVE bytes brought back as a Buffer.
export async function pageRender(page, group = 0) {
  const r = await page.evaluate(async (g) => {
    const { wav, analysis, renderSeconds } = await window.zm.render({ group: g });
    return { wav: Array.from(wav), analysis, renderSeconds };
  }, group);
  return { ...r, wav: Buffer.from(r.wav) };
}

// Each band's figures of two analyses, side by side.
export function* bandPairs(a, b) {
  for (const [c, channel] of a.channels.entries()) {
    for (const [i, band] of (channel.bands ?? []).entries()) yield [band, b.channels[c].bands[i], `channel ${c} ${band.band}`];
  }
}
