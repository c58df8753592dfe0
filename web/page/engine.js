// The page's handle on the engine worker. Every call is a promise of the
// engine's reply. Stop sets the shared stop flag that the engine reads at
// each progress report where the page is cross-origin isolated; elsewhere
// it ends the worker and starts a fresh one.
const math = new URL(location.href).searchParams.get('math') === 'portable' ? 'portable' : 'native';

export class Engine {
  constructor() {
    this.onProgress = () => {};
    this.shared = self.crossOriginIsolated ? new Int32Array(new SharedArrayBuffer(4)) : null;
    this.lastDesign = null;
    this.start();
  }

  start() {
    this.worker = new Worker(`worker.js?math=${math}`);
    this.pending = new Map();
    this.nextId = 1;
    if (this.shared) this.worker.postMessage({ stopFlag: this.shared.buffer });
    this.worker.onmessage = ({ data }) => {
      if (data.progress) return this.onProgress(...data.progress);
      const waiting = this.pending.get(data.id);
      this.pending.delete(data.id);
      if (waiting) waiting.resolve(data.result);
    };
  }

  request(op, ...args) {
    const id = this.nextId++;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.worker.postMessage({ id, op, args });
    });
  }

  load(text) {
    this.lastDesign = text;
    return this.request('load', text);
  }

  catalogue() { return this.request('catalogue'); }
  plot(channel, band) { return this.request('plot', channel, band); }

  render(group, fast = false) {
    if (this.shared) Atomics.store(this.shared, 0, 0);
    return this.request('render', group, fast);
  }

  get stopUsesFlag() { return Boolean(this.shared); }

  // A restarted worker gets the design back before anything else.
  stop() {
    if (this.shared) {
      Atomics.store(this.shared, 0, 1);
      return;
    }
    this.worker.terminate();
    const waiting = [...this.pending.values()];
    this.start();
    if (this.lastDesign !== null) this.request('load', this.lastDesign);
    for (const w of waiting) w.resolve({ stopped: true });
  }
}
