// The plan editor: an SVG view of the design's walls and emitters, edited
// with the mouse or the keyboard. It changes the design only through
// `edits.change(label, fn)`, which keeps the undo history and re-checks.
const SVG = 'http://www.w3.org/2000/svg';
const SNAP_PIXELS = 10;
const GRID_STEPS = [0.05, 0.1, 0.25, 0.5, 1, 2, 5, 10, 20, 50];
export const MICROPHONE = 'Microphone';

const same = (a, b) => a[0] === b[0] && a[1] === b[1];
const round = (v) => Math.round(v * 1e6) / 1e6;

export class PlanEditor {
  constructor(svg, edits, onSelect, onStatus) {
    Object.assign(this, { svg, edits, onSelect, onStatus });
    this.view = { scale: 60, cx: 4, cy: 3 };
    this.tool = 'select';
    this.snap = true;
    this.selection = null;  // {kind: 'wall'|'emitter', index} or {kind: 'point', at}
    this.chain = null;      // the last point of the wall being drawn
    this.hover = null;
    this.drag = null;
    svg.addEventListener('pointerdown', (e) => this.pointerDown(e));
    svg.addEventListener('pointermove', (e) => this.pointerMove(e));
    svg.addEventListener('pointerup', (e) => this.pointerUp(e));
    svg.addEventListener('dblclick', () => this.endChain());
    svg.addEventListener('contextmenu', (e) => { e.preventDefault(); this.endChain(); });
    svg.addEventListener('wheel', (e) => {
      e.preventDefault();
      this.zoomAt(this.toWorld(e), e.deltaY < 0 ? 1.2 : 1 / 1.2);
    }, { passive: false });
    new ResizeObserver(() => this.draw()).observe(svg);
  }

  get design() { return this.edits.design; }

  setTool(tool) {
    this.tool = tool;
    this.chain = null;
    this.draw();
  }

  select(selection) {
    this.selection = selection;
    this.onSelect(selection);
    this.draw();
  }

  endChain() {
    this.chain = null;
    this.draw();
  }

  size() {
    const r = this.svg.getBoundingClientRect();
    return { w: r.width || 800, h: r.height || 500 };
  }

  toScreen([x, y]) {
    const { w, h } = this.size();
    return [w / 2 + (x - this.view.cx) * this.view.scale, h / 2 - (y - this.view.cy) * this.view.scale];
  }

  toWorld(e) {
    const r = this.svg.getBoundingClientRect();
    const { w, h } = this.size();
    return [this.view.cx + (e.clientX - r.left - w / 2) / this.view.scale,
      this.view.cy - (e.clientY - r.top - h / 2) / this.view.scale];
  }

  gridStep() {
    return GRID_STEPS.find((s) => s * this.view.scale >= 24) ?? 100;
  }

  points() {
    const all = [];
    for (const w of this.design.walls) {
      for (const p of [w.from, w.to]) if (!all.some((q) => same(p, q))) all.push(p);
    }
    return all;
  }

  // The nearest existing point within a few pixels, else the grid's.
  snapped(world, exclude = null) {
    let best = null;
    let bestDistance = SNAP_PIXELS / this.view.scale;
    for (const p of this.points()) {
      if (exclude && same(p, exclude)) continue;
      const d = Math.hypot(p[0] - world[0], p[1] - world[1]);
      if (d <= bestDistance) [best, bestDistance] = [p, d];
    }
    if (best) return { at: [...best], onPoint: true };
    if (!this.snap) return { at: world.map(round), onPoint: false };
    const s = this.gridStep() / 2;
    return { at: world.map((v) => round(Math.round(v / s) * s)), onPoint: false };
  }

  hit(world) {
    const tolerance = 8 / this.view.scale;
    const point = this.points().find((p) => Math.hypot(p[0] - world[0], p[1] - world[1]) <= tolerance);
    if (point) return { kind: 'point', at: [...point] };
    const emitter = this.design.emitters.findIndex(
      (em) => Math.hypot(em.at[0] - world[0], em.at[1] - world[1]) <= tolerance * 1.5);
    if (emitter >= 0) return { kind: 'emitter', index: emitter };
    const wall = this.design.walls.findIndex((w) => distanceToSegment(world, w.from, w.to) <= tolerance);
    if (wall >= 0) return { kind: 'wall', index: wall };
    return null;
  }

  pointerDown(e) {
    this.svg.focus();
    if (e.button !== 0) return;
    const world = this.toWorld(e);
    if (this.tool === 'wall') return this.clickWall(this.snapped(world).at);
    if (this.tool === 'emitter') return this.placeEmitter(this.snapped(world).at);
    if (this.tool === 'receiver') return this.placeReceiver(this.snapped(world).at);
    const hit = this.hit(world);
    this.select(hit);
    this.svg.setPointerCapture(e.pointerId);
    this.drag = { hit, moved: false, view: { ...this.view } };
  }

  pointerMove(e) {
    const world = this.toWorld(e);
    this.hover = this.tool === 'select' ? null : this.snapped(world, this.drag?.hit?.at);
    this.onStatus(`x ${world[0].toFixed(2)} m, y ${world[1].toFixed(2)} m · grid ${this.gridStep()} m`);
    if (!this.drag) return this.draw();
    const { hit, view } = this.drag;
    if (!hit) {
      // Dragging the background pans.
      this.drag.clientX0 ??= e.clientX;
      this.drag.clientY0 ??= e.clientY;
      this.view.cx = view.cx - (e.clientX - this.drag.clientX0) / this.view.scale;
      this.view.cy = view.cy + (e.clientY - this.drag.clientY0) / this.view.scale;
      return this.draw();
    }
    if (hit.kind === 'wall') return;
    this.drag.moved = true;
    this.drag.to = hit.kind === 'point' ? this.snapped(world, hit.at).at : world.map(round);
    this.draw();
  }

  pointerUp() {
    const drag = this.drag;
    this.drag = null;
    if (!drag || !drag.moved || !drag.to) return this.draw();
    const { hit, to } = drag;
    if (hit.kind === 'point') {
      this.movePoint(hit.at, to);
    } else if (hit.kind === 'emitter') {
      this.edits.change('move emitter', (d) => { d.emitters[hit.index].at = this.snapped(to).at; });
    }
  }

  movePoint(from, to) {
    this.edits.change('move point', (d) => movePoint(d, from, to));
    this.select({ kind: 'point', at: to });
  }

  clickWall(at) {
    if (this.chain && !same(this.chain, at)) {
      const from = this.chain;
      const material = this.edits.currentMaterial();
      this.edits.change('draw wall', (d) => d.walls.push({ from, to: at, material }));
      const closes = this.points().some((p) => same(p, at)) && this.design.walls.length > 1 &&
          this.design.walls.filter((w) => same(w.from, at) || same(w.to, at)).length > 1;
      this.chain = closes ? null : at;
      this.select({ kind: 'wall', index: this.design.walls.length - 1 });
    } else {
      this.chain = at;
    }
    this.draw();
  }

  placeEmitter(at) {
    this.edits.change('add emitter', (d) =>
      d.emitters.push({ at, directionDeg: 0, spreadDeg: 360, rayCount: 20000 }));
    this.select({ kind: 'emitter', index: this.design.emitters.length - 1 });
  }

  placeReceiver(at) {
    this.edits.change('add receiver', (d) => {
      if (!d.materials.some((m) => m.name === MICROPHONE)) {
        d.materials.push({ name: MICROPHONE, reflection: 1.0, bandFactors: 1.0 });
      }
      const channel = d.walls.filter((w) => w.receiver).length % 2;
      d.walls.push({ from: [at[0], round(at[1] + 0.125)], to: [at[0], round(at[1] - 0.125)],
        material: MICROPHONE, passThrough: true, receiver: true, channel });
    });
    this.select({ kind: 'wall', index: this.design.walls.length - 1 });
  }

  deleteSelection() {
    const s = this.selection;
    if (!s) return;
    if (s.kind === 'wall') this.edits.change('delete wall', (d) => d.walls.splice(s.index, 1));
    if (s.kind === 'emitter') this.edits.change('delete emitter', (d) => d.emitters.splice(s.index, 1));
    if (s.kind === 'point') {
      this.edits.change('delete point', (d) => {
        d.walls = d.walls.filter((w) => !same(w.from, s.at) && !same(w.to, s.at));
      });
    }
    this.select(null);
  }

  zoomAt(world, factor) {
    const v = this.view;
    v.scale = Math.min(2000, Math.max(2, v.scale * factor));
    v.cx = world[0] - (world[0] - v.cx) / factor;
    v.cy = world[1] - (world[1] - v.cy) / factor;
    this.draw();
  }

  // Fits the view to the design.
  fit() {
    const xs = [], ys = [];
    for (const w of this.design.walls) xs.push(w.from[0], w.to[0]), ys.push(w.from[1], w.to[1]);
    for (const e of this.design.emitters) xs.push(e.at[0]), ys.push(e.at[1]);
    if (!xs.length) return this.draw();
    const { w, h } = this.size();
    const [x0, x1, y0, y1] = [Math.min(...xs), Math.max(...xs), Math.min(...ys), Math.max(...ys)];
    this.view = { cx: (x0 + x1) / 2, cy: (y0 + y1) / 2,
      scale: Math.min((w - 80) / Math.max(x1 - x0, 1), (h - 80) / Math.max(y1 - y0, 1)) };
    this.draw();
  }

  key(e) {
    const pan = 40 / this.view.scale;
    const moves = { ArrowLeft: [-pan, 0], ArrowRight: [pan, 0], ArrowUp: [0, pan], ArrowDown: [0, -pan] };
    if (moves[e.key]) {
      this.view.cx += moves[e.key][0];
      this.view.cy += moves[e.key][1];
    } else if (e.key === '+' || e.key === '=') {
      this.zoomAt([this.view.cx, this.view.cy], 1.2);
    } else if (e.key === '-') {
      this.zoomAt([this.view.cx, this.view.cy], 1 / 1.2);
    } else if (e.key === 'Escape') {
      this.chain = null;
      this.select(null);
    } else if (e.key === 'Delete' || e.key === 'Backspace') {
      this.deleteSelection();
    } else {
      return false;
    }
    this.draw();
    return true;
  }

  draw() {
    if (!this.design) return;
    const svg = this.svg;
    const { w, h } = this.size();
    const parts = [];
    const el = (name, attrs, text) => {
      const node = document.createElementNS(SVG, name);
      for (const [k, v] of Object.entries(attrs)) node.setAttribute(k, v);
      if (text) node.textContent = text;
      parts.push(node);
      return node;
    };
    const step = this.gridStep();
    const [wx0, wy1] = [this.view.cx - w / 2 / this.view.scale, this.view.cy + h / 2 / this.view.scale];
    for (let x = Math.floor(wx0 / step) * step; x < wx0 + w / this.view.scale; x += step) {
      const sx = this.toScreen([x, 0])[0];
      el('line', { x1: sx, x2: sx, y1: 0, y2: h, class: Math.abs(x % (step * 5)) < 1e-9 ? 'grid major' : 'grid' });
    }
    for (let y = Math.floor((wy1 - h / this.view.scale) / step) * step; y < wy1; y += step) {
      const sy = this.toScreen([0, y])[1];
      el('line', { x1: 0, x2: w, y1: sy, y2: sy, class: Math.abs(y % (step * 5)) < 1e-9 ? 'grid major' : 'grid' });
    }
    const moved = this.drag?.moved && this.drag.hit.kind === 'point' ? this.drag : null;
    const place = (p) => (moved && same(p, moved.hit.at) ? moved.to : p);
    const sel = this.selection;
    this.design.walls.forEach((wall, i) => {
      const [a, b] = [this.toScreen(place(wall.from)), this.toScreen(place(wall.to))];
      const cls = ['wall', wall.passThrough ? 'pass' : '', wall.receiver ? 'receiver' : '',
        sel?.kind === 'wall' && sel.index === i ? 'selected' : ''].join(' ');
      el('line', { x1: a[0], y1: a[1], x2: b[0], y2: b[1], class: cls, 'data-wall': i });
      if (wall.receiver) el('text', { x: b[0] + 6, y: b[1] + 4, class: 'label' }, `ch ${wall.channel ?? 0}`);
    });
    for (const p of this.points()) {
      const [x, y] = this.toScreen(place(p));
      const picked = sel?.kind === 'point' && same(sel.at, p);
      el('circle', { cx: x, cy: y, r: 4, class: picked ? 'point selected' : 'point' });
    }
    this.design.emitters.forEach((em, i) => {
      const at = this.drag?.moved && this.drag.hit.kind === 'emitter' && this.drag.hit.index === i ? this.drag.to : em.at;
      const [x, y] = this.toScreen(at);
      const r = 40;
      const dir = ((em.directionDeg ?? 0) * Math.PI) / 180;
      const spread = Math.min(((em.spreadDeg ?? 360) * Math.PI) / 180, 2 * Math.PI - 1e-6);
      const [a0, a1] = [dir - spread / 2, dir + spread / 2];
      const p0 = [x + r * Math.cos(a0), y - r * Math.sin(a0)];
      const p1 = [x + r * Math.cos(a1), y - r * Math.sin(a1)];
      el('path', { class: 'fan', d: `M${x},${y} L${p0} A${r},${r} 0 ${spread > Math.PI ? 1 : 0} 0 ${p1} Z` });
      el('line', { x1: x, y1: y, x2: x + r * Math.cos(dir), y2: y - r * Math.sin(dir), stroke: '#2a5db0' });
      el('circle', { cx: x, cy: y, r: 6, class: sel?.kind === 'emitter' && sel.index === i ? 'emitter selected' : 'emitter', 'stroke-width': 2 });
      el('text', { x: x + 8, y: y - 8, class: 'label' }, `E${i}`);
    });
    if (this.hover) {
      const [x, y] = this.toScreen(this.hover.at);
      if (this.chain) {
        const [cx, cy] = this.toScreen(this.chain);
        el('line', { x1: cx, y1: cy, x2: x, y2: y, class: 'preview' });
      }
      el('circle', { cx: x, cy: y, r: this.hover.onPoint ? 8 : 5, class: 'snap' });
    }
    // Scale bar: the largest round length up to 150 pixels.
    const metres = [0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100].filter((m) => m * this.view.scale <= 150).pop() ?? 0.1;
    const len = metres * this.view.scale;
    el('path', { class: 'scalebar', fill: 'none', d: `M${w - 20 - len},${h - 26} v6 h${len} v-6` });
    el('text', { x: w - 20 - len / 2, y: h - 30, class: 'label', 'text-anchor': 'middle' }, `${metres} m`);
    svg.replaceChildren(...parts);
  }
}

function distanceToSegment(p, a, b) {
  const [dx, dy] = [b[0] - a[0], b[1] - a[1]];
  const t = Math.max(0, Math.min(1, ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / (dx * dx + dy * dy || 1)));
  return Math.hypot(p[0] - a[0] - t * dx, p[1] - a[1] - t * dy);
}

// Every wall end at `from` follows the point to `to`.
function movePoint(design, from, to) {
  for (const w of design.walls) {
    if (same(w.from, from)) w.from = [...to];
    if (same(w.to, from)) w.to = [...to];
  }
}
