// The workbench page: wires the plan editor, the engine worker, the
// results and the listening panel together, and exposes window.zm.
import { Engine } from './engine.js';
import { PlanEditor, MICROPHONE } from './editor.js';
import { showParameters, showPlots } from './results.js';
import { Listening } from './listen.js';

const $ = (id) => document.getElementById(id);
const engine = new Engine();
const EMPTY_DESIGN = JSON.stringify({
  format: 'zm-design',
  title: 'Untitled room',
  options: { impulseLength: 1.5, sampleRate: 48000, bitsPerSample: 32, randomSeed: 1 },
  materials: [{ name: 'Painted wall', absorption: [0.1, 0.12, 0.15, 0.18, 0.2, 0.22] }],
  walls: [], emitters: [],
});

// The design as the tool's JSON object, its history, and the engine's
// latest verdict on it.
const edits = {
  design: null,
  canonical: null,   // the tool's JSON text of the design, once it parsed
  absorption: {},    // material name -> absorption at the catalogue's bands
  undoStack: [],
  redoStack: [],
  material: null,    // what new walls are made of
  checking: Promise.resolve(),
  change(label, fn) {
    this.undoStack.push(JSON.stringify(this.design));
    this.redoStack = [];
    fn(this.design);
    changed();
  },
  currentMaterial() {
    const names = this.design.materials.map((m) => m.name);
    if (names.includes(this.material)) return this.material;
    return names.find((n) => n !== MICROPHONE && !n.startsWith('**')) ?? names[0];
  },
};

function restore(from, to) {
  if (!from.length) return;
  to.push(JSON.stringify(edits.design));
  edits.design = JSON.parse(from.pop());
  editor.select(null);
  changed();
}

const editor = new PlanEditor($('plan'), edits, showSelection, (text) => { $('status').textContent = text; });
const listening = new Listening();
let catalogue = { bands: [], entries: [] };
let checkSerial = 0;

// Every change is checked by the tool's own reader and checks; the design
// then takes the tool's form (materials lowered to record values).
function changed() {
  editor.draw();
  showSelection(editor.selection);
  const serial = ++checkSerial;
  const text = JSON.stringify(edits.design, null, 2);
  edits.checking = engine.load(text).then((reply) => {
    if (serial !== checkSerial) return;
    if (reply.error) {
      edits.canonical = null;
      showChecks([{ error: true, message: reply.error }]);
      return;
    }
    edits.canonical = reply.design;
    edits.absorption = reply.absorption;
    edits.design = JSON.parse(reply.design);
    showChecks(reply.problems);
    showMaterials();
    editor.draw();
  });
}

function showChecks(problems) {
  const list = $('checks');
  list.replaceChildren(...(problems.length ? problems : [{ message: 'no problems found' }]).map((p) => {
    const li = document.createElement('li');
    li.className = p.error ? 'error' : p.refused ? 'refused' : p.message === 'no problems found' ? '' : 'warning';
    li.textContent = (p.error ? 'error: ' : p.refused ? 'refused: ' : p.refused === false ? 'warning: ' : '') + p.message;
    return li;
  }));
}

function field(label, input) {
  const l = document.createElement('label');
  l.append(label + ' ', input);
  return l;
}

function numberInput(value, step, apply) {
  const input = document.createElement('input');
  Object.assign(input, { type: 'number', step, value });
  input.addEventListener('change', () => apply(Number(input.value)));
  return input;
}

function checkbox(checked, apply) {
  const input = document.createElement('input');
  Object.assign(input, { type: 'checkbox', checked: Boolean(checked) });
  input.addEventListener('change', () => apply(input.checked));
  return input;
}

function materialSelect(value, apply) {
  const select = document.createElement('select');
  for (const m of edits.design.materials) select.add(new Option(m.name, m.name, false, m.name === value));
  select.addEventListener('change', () => apply(select.value));
  return select;
}

function showSelection(selection) {
  const box = $('props');
  const s = selection;
  if (!s || (s.kind !== 'point' && !(s.kind === 'wall' ? edits.design.walls : edits.design.emitters)[s.index])) {
    box.innerHTML = '<p class="hint">Nothing selected. Draw walls with the Wall tool (W), then add an emitter (E) and a receiver (R).</p>';
    return;
  }
  const set = (label, fn) => edits.change(label, fn);
  const rows = [];
  if (s.kind === 'point') {
    rows.push(field('x (m)', numberInput(s.at[0], 0.05, (x) => editor.movePoint(s.at, [x, s.at[1]]))));
    rows.push(field('y (m)', numberInput(s.at[1], 0.05, (y) => editor.movePoint(s.at, [s.at[0], y]))));
  } else if (s.kind === 'wall') {
    const w = edits.design.walls[s.index];
    const of = (fn) => (v) => set('edit wall', (d) => fn(d.walls[s.index], v));
    rows.push(`Wall ${s.index}: (${w.from.join(', ')}) to (${w.to.join(', ')})`);
    rows.push(field('Material', materialSelect(w.material, of((x, v) => { x.material = v; }))));
    rows.push(field('Pass-through', checkbox(w.passThrough, of((x, v) => { x.passThrough = v || undefined; }))));
    rows.push(field('Receiver', checkbox(w.receiver, of((x, v) => { x.receiver = v || undefined; }))));
    if (w.receiver) {
      rows.push(field('Channel', numberInput(w.channel ?? 0, 1, of((x, v) => { x.channel = v; }))));
      rows.push(field('Pickup pattern (0 omni, 1–4)', numberInput(w.pattern ?? 0, 1, of((x, v) => { x.pattern = v; }))));
    }
  } else {
    const e = edits.design.emitters[s.index];
    const of = (key) => (v) => set('edit emitter', (d) => { d.emitters[s.index][key] = v; });
    rows.push(`Emitter ${s.index} at (${e.at.join(', ')})`);
    rows.push(field('Direction (°)', numberInput(e.directionDeg ?? 0, 15, of('directionDeg'))));
    rows.push(field('Fan width (°)', numberInput(e.spreadDeg ?? 360, 15, of('spreadDeg'))));
    rows.push(field('Rays', numberInput(e.rayCount ?? 10000, 1000, of('rayCount'))));
    rows.push(field('Group', numberInput(e.group ?? 0, 1, of('group'))));
  }
  const remove = document.createElement('button');
  remove.textContent = 'Delete';
  remove.addEventListener('click', () => editor.deleteSelection());
  box.replaceChildren(...rows, remove);
}

function curveSvg(values) {
  const w = 260, h = 60;
  const pts = values.map((a, i) => `${10 + (i * (w - 20)) / Math.max(values.length - 1, 1)},${h - 8 - a * (h - 16)}`);
  const labels = catalogue.bands.map((b, i) => `<text x="${10 + (i * (w - 20)) / Math.max(values.length - 1, 1)}" y="${h}" font-size="8" text-anchor="middle">${b >= 1000 ? b / 1000 + 'k' : b}</text>`);
  return `<svg class="curve" viewBox="0 0 ${w} ${h}" role="img" aria-label="absorption per octave"><rect x="10" y="8" width="${w - 20}" height="${h - 16}" fill="none" stroke="#ccd"/><polyline fill="none" stroke="#2a5db0" stroke-width="2" points="${pts.join(' ')}"/>${labels.join('')}</svg>`;
}

function showMaterials() {
  const box = $('materials');
  const current = edits.currentMaterial();
  const list = materialSelect(current, (v) => { edits.material = v; showMaterials(); });
  list.setAttribute('aria-label', 'Material of new walls');
  const curve = document.createElement('div');
  curve.innerHTML = curveSvg(edits.absorption[current] ?? []);
  const pick = document.createElement('select');
  pick.setAttribute('aria-label', 'Add from the catalogue');
  pick.add(new Option('Add from the catalogue…', ''));
  for (const e of catalogue.entries) pick.add(new Option(`${e.name} (${e.category})`, e.id));
  pick.addEventListener('change', () => {
    const entry = catalogue.entries.find((e) => e.id === pick.value);
    if (!entry) return;
    edits.material = entry.name.slice(0, 64);
    edits.change('add material', (d) => {
      if (!d.materials.some((m) => m.name === edits.material)) d.materials.push({ name: edits.material, catalogue: entry.id });
    });
  });
  const alphas = document.createElement('details');
  alphas.innerHTML = `<summary>New material from α per octave</summary>`;
  const name = document.createElement('input');
  name.value = 'My material';
  alphas.append(field('Name', name));
  const inputs = catalogue.bands.map((b) => {
    const input = numberInput(0.1, 0.01, () => {});
    Object.assign(input, { min: 0, max: 1 });
    alphas.append(field(`α ${b} Hz`, input));
    return input;
  });
  const add = document.createElement('button');
  add.textContent = 'Add material';
  add.addEventListener('click', () => {
    edits.material = name.value;
    edits.change('add material', (d) => {
      d.materials = d.materials.filter((m) => m.name !== name.value);
      d.materials.push({ name: name.value, absorption: inputs.map((i) => Number(i.value)) });
    });
  });
  alphas.append(add);
  box.replaceChildren(field('New walls', list), curve, pick, alphas);
}

async function loadDesign(text) {
  const reply = await engine.load(text);
  if (reply.error) throw new Error(reply.error);
  checkSerial++;
  edits.undoStack = [];
  edits.redoStack = [];
  edits.design = JSON.parse(reply.design);
  edits.canonical = reply.design;
  edits.absorption = reply.absorption;
  edits.checking = Promise.resolve();
  showChecks(reply.problems);
  showMaterials();
  editor.select(null);
  editor.fit();
}

let rendering = null;
async function render({ group = 0, fast = $('fast').checked } = {}) {
  await edits.checking;
  if (edits.canonical === null) throw new Error('the design has errors: see Checks');
  $('render').disabled = true;
  $('stop').disabled = false;
  $('progress').value = 0;
  try {
    rendering = engine.render(group, fast);
    const reply = await rendering;
    if (reply.error) throw new Error(reply.error);
    if (reply.stopped) {
      $('status').textContent = 'render stopped';
      return { stopped: true };
    }
    $('status').textContent = `rendered in ${reply.renderSeconds.toFixed(2)} s${fast ? ' (fast mode)' : ''}`;
    $('progress').value = 1;
    showParameters($('tab-params'), reply.analysis);
    await showPlots(engine, reply.analysis);
    listening.setImpulse(reply.wav);
    return { wav: reply.wav, analysis: reply.analysis, renderSeconds: reply.renderSeconds };
  } finally {
    rendering = null;
    $('render').disabled = false;
    $('stop').disabled = true;
  }
}

function stop() {
  if (rendering) engine.stop();
}

engine.onProgress = (done, total) => {
  $('progress').value = total ? done / total : 0;
  $('status').textContent = `rendering: ${Math.round((100 * done) / Math.max(total, 1))} % of ${total} rays`;
};

function download(name, text) {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([text], { type: 'application/json' }));
  a.download = name;
  a.click();
  URL.revokeObjectURL(a.href);
}

function report(error) {
  showChecks([{ error: true, message: error.message }]);
}

// Wiring.
for (const button of document.querySelectorAll('#tools button')) {
  button.addEventListener('click', () => setTool(button.dataset.tool));
}
function setTool(tool) {
  for (const b of document.querySelectorAll('#tools button')) b.setAttribute('aria-pressed', String(b.dataset.tool === tool));
  editor.setTool(tool);
}
$('snap').addEventListener('change', () => { editor.snap = $('snap').checked; });
$('undo').addEventListener('click', () => restore(edits.undoStack, edits.redoStack));
$('redo').addEventListener('click', () => restore(edits.redoStack, edits.undoStack));
$('delete').addEventListener('click', () => editor.deleteSelection());
$('new').addEventListener('click', () => loadDesign(EMPTY_DESIGN).catch(report));
$('save').addEventListener('click', () => edits.canonical && download(`${(edits.design.title || 'design').replace(/\W+/g, '-')}.json`, edits.canonical));
$('open').addEventListener('change', async (e) => {
  const file = e.target.files[0];
  if (file) await loadDesign(await file.text()).catch(report);
});
$('example').addEventListener('change', async (e) => {
  if (!e.target.value) return;
  const text = await (await fetch(`examples/${e.target.value}.json`)).text();
  await loadDesign(text).catch(report);
});
$('render').addEventListener('click', () => render({ group: Number($('group').value) }).catch(report));
$('stop').addEventListener('click', stop);
for (const tab of document.querySelectorAll('[role=tab]')) {
  tab.addEventListener('click', () => {
    for (const t of document.querySelectorAll('[role=tab]')) {
      t.setAttribute('aria-selected', String(t === tab));
      $(`tab-${t.dataset.tab}`).hidden = t !== tab;
    }
    // The plots want the room the plan can spare.
    document.querySelector('main').classList.toggle('tall-results', tab.dataset.tab === 'plots');
    editor.draw();
  });
}
document.addEventListener('keydown', (e) => {
  const typing = ['INPUT', 'SELECT', 'TEXTAREA'].includes(e.target.tagName);
  if ((e.ctrlKey || e.metaKey) && e.key === 'z') { e.preventDefault(); return restore(edits.undoStack, edits.redoStack); }
  if ((e.ctrlKey || e.metaKey) && (e.key === 'y' || e.key === 'Z')) { e.preventDefault(); return restore(edits.redoStack, edits.undoStack); }
  if ((e.ctrlKey || e.metaKey) && e.key === 'Enter') return render({ group: Number($('group').value) }).catch(report);
  if (typing) return;
  const tools = { v: 'select', w: 'wall', e: 'emitter', r: 'receiver' };
  if (tools[e.key]) return setTool(tools[e.key]);
  if (editor.key(e)) e.preventDefault();
});

window.zm = {
  loadDesign,
  render,
  stop,
  designJson: () => edits.canonical,
  settled: () => edits.checking,
  undo: () => restore(edits.undoStack, edits.redoStack),
  redo: () => restore(edits.redoStack, edits.undoStack),
  get design() { return edits.design; },
  ready: (async () => {
    catalogue = await engine.catalogue();
    const start = new URL(location.href).searchParams.get('design');
    await loadDesign(start ? await (await fetch(start)).text() : EMPTY_DESIGN);
  })(),
};
