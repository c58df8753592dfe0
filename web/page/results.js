// The results of a render: the table `zm analyze` prints and the plots
// `zm ir` draws, both made by the engine module.
const $ = (id) => document.getElementById(id);
const COLUMNS = [['edt', 'EDT (s)', 3], ['t20', 'T20 (s)', 3], ['t30', 'T30 (s)', 3],
  ['c50', 'C50 (dB)', 2], ['c80', 'C80 (dB)', 2], ['d50', 'D50 (%)', 1], ['ts', 'Ts (ms)', 1]];

export function showParameters(box, analysis) {
  const table = document.createElement('table');
  table.className = 'params';
  table.innerHTML = `<caption>${analysis.channels.length} channel(s) at ${analysis.sampleRate} Hz, ${analysis.frames} frames</caption>` +
    `<tr><th>Channel</th><th>Band</th>${COLUMNS.map((c) => `<th>${c[1]}</th>`).join('')}</tr>`;
  for (const channel of analysis.channels) {
    for (const band of channel.bands ?? []) {
      const row = table.insertRow();
      row.insertCell().textContent = channel.channel;
      row.insertCell().textContent = band.band;
      for (const [key, , digits] of COLUMNS) {
        const cell = row.insertCell();
        cell.dataset.key = key;
        cell.textContent = band[key] === null || band[key] === undefined ? 'n/a' : band[key].toFixed(digits);
        if (band.notApplicable?.[key]) cell.title = band.notApplicable[key];
      }
    }
  }
  box.replaceChildren(table);
}

export async function showPlots(engine, analysis) {
  const channel = $('plot-channel');
  const band = $('plot-band');
  channel.replaceChildren(...analysis.channels.map((c) => new Option(`Channel ${c.channel}`, c.channel)));
  const bands = analysis.channels[0]?.bands ?? [];
  band.replaceChildren(...bands.map((b) => new Option(b.band, b.centreHz ?? 0)));
  const draw = async () => {
    const reply = await engine.plot(Number(channel.value), Number(band.value));
    $('plot').innerHTML = reply.error ? '' : reply.svg;
  };
  channel.onchange = draw;
  band.onchange = draw;
  await draw();
}
