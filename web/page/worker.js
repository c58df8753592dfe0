// Runs the engine's WebAssembly module off the page's thread. Requests are
// {id, op, args}; answers {id, result} (the engine's JSON, already parsed),
// and {progress: [done, total]} while a render runs.
const params = new URL(self.location.href).searchParams;
importScripts(params.get('math') === 'portable' ? 'zm_engine_portable.js' : 'zm_engine.js');

let stopFlag = null;  // Int32Array on a SharedArrayBuffer, when the page is isolated
const ready = createZmModule({
  onProgress: (done, total) => self.postMessage({ progress: [done, total] }),
  stopRequested: () => (stopFlag ? Atomics.load(stopFlag, 0) : 0),
});

const ops = {
  load: (m, text) => call(m, 'zmw_load', ['string'], [text]),
  catalogue: (m) => call(m, 'zmw_catalogue', [], []),
  plot: (m, channel, band) => call(m, 'zmw_plot', ['number', 'number'], [channel, band]),
  render(m, group, fast) {
    const reply = call(m, 'zmw_render', ['number', 'number'], [group, fast ? 1 : 0]);
    if (reply.file) reply.wav = m.FS.readFile(reply.file);
    return reply;
  },
};

function call(m, name, types, args) {
  return JSON.parse(m.ccall(name, 'string', types, args));
}

self.onmessage = async ({ data }) => {
  if (data.stopFlag) {
    stopFlag = new Int32Array(data.stopFlag);
    return;
  }
  const m = await ready;
  let result;
  try {
    result = ops[data.op](m, ...data.args);
  } catch (e) {
    result = { error: String(e && e.message ? e.message : e) };
  }
  self.postMessage({ id: data.id, result }, result.wav ? [result.wav.buffer] : []);
};
