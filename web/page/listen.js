// Listening: the impulse response itself, and a dry sound played through
// it with a ConvolverNode. The two dry sounds are synthesised here, so the
// page ships no recordings.
const $ = (id) => document.getElementById(id);
const RATE = 48000;

// Clicks a third of a second apart: each one a single-sample impulse
// followed by its short decaying ring, two seconds in all.
function clickTrain() {
  const out = new Float32Array(RATE * 2);
  for (let start = RATE / 10; start < out.length - RATE / 10; start += Math.round(RATE / 3)) {
    for (let i = 0; i < 96; i++) out[start + i] = 0.8 * Math.exp(-i / 12) * Math.cos(i * 0.9);
  }
  return out;
}

// A voice-like signal: a glottal pulse train with a gliding pitch through
// two-pole resonators at the formants of a sequence of vowels, shaped into
// syllables.
function syntheticVoice() {
  const vowels = [[730, 1090, 2440], [270, 2290, 3010], [570, 840, 2410], [300, 870, 2240], [530, 1840, 2480]];
  const seconds = 2.5, out = new Float32Array(RATE * seconds);
  const syllable = seconds / vowels.length;
  let phase = 0;
  const state = vowels[0].map(() => [0, 0]);
  for (let n = 0; n < out.length; n++) {
    const t = n / RATE;
    const k = Math.min(vowels.length - 1, Math.floor(t / syllable));
    const within = (t - k * syllable) / syllable;
    const pitch = 120 + 25 * Math.sin(2 * Math.PI * 0.7 * t) - 15 * within;
    phase += pitch / RATE;
    let source = 0;
    if (phase >= 1) { phase -= 1; source = 1; }
    const envelope = Math.sin(Math.PI * Math.min(1, within * 1.15)) ** 0.6;
    let y = 0;
    vowels[k].forEach((f, i) => {
      const r = Math.exp((-Math.PI * (60 + 40 * i)) / RATE);
      const c = 2 * r * Math.cos((2 * Math.PI * f) / RATE);
      const v = source + c * state[i][0] - r * r * state[i][1];
      state[i][1] = state[i][0];
      state[i][0] = v;
      y += v / (i + 1);
    });
    out[n] = y * envelope;
  }
  const peak = out.reduce((m, v) => Math.max(m, Math.abs(v)), 0) || 1;
  return out.map((v) => (0.7 * v) / peak);
}

export class Listening {
  constructor() {
    this.context = null;
    this.impulse = null;
    this.wav = null;
    this.playing = [];
    $('dry').addEventListener('change', () => { if ($('dry').value === 'file') $('dry-file').click(); });
    $('dry-file').addEventListener('change', async () => {
      const file = $('dry-file').files[0];
      if (!file) return;
      this.userDry = await this.audio().decodeAudioData(await file.arrayBuffer());
      this.say(`your file: ${file.name}, ${this.userDry.duration.toFixed(1)} s`);
    });
    $('play-ir').addEventListener('click', () => this.play(this.impulseBuffer(), false));
    $('play-dry').addEventListener('click', () => this.play(this.dry(), false));
    $('play-wet').addEventListener('click', () => this.play(this.dry(), true));
    $('stop-audio').addEventListener('click', () => this.silence());
  }

  audio() {
    this.context ??= new AudioContext();
    return this.context;
  }

  say(text) { $('listen-status').textContent = text; }

  async setImpulse(wav) {
    this.wav = wav;
    this.impulse = null;
    try {
      this.impulse = await this.audio().decodeAudioData(wav.slice().buffer);
      this.say(`impulse response: ${this.impulse.numberOfChannels} channel(s), ${this.impulse.duration.toFixed(2)} s`);
    } catch (e) {
      this.say(`the browser cannot play this file: ${e.message}`);
    }
  }

  impulseBuffer() {
    if (!this.impulse) this.say('render first');
    return this.impulse;
  }

  dry() {
    const kind = $('dry').value;
    if (kind === 'file') return this.userDry ?? (this.say('choose a file first'), null);
    const samples = kind === 'voice' ? syntheticVoice() : clickTrain();
    const buffer = this.audio().createBuffer(1, samples.length, RATE);
    buffer.copyToChannel(samples, 0);
    return buffer;
  }

  play(buffer, throughRoom) {
    if (!buffer || (throughRoom && !this.impulseBuffer())) return;
    const ctx = this.audio();
    const source = ctx.createBufferSource();
    source.buffer = buffer;
    let node = source;
    if (throughRoom) {
      const convolver = ctx.createConvolver();
      convolver.normalize = true;
      convolver.buffer = this.impulse;
      node = node.connect(convolver);
    }
    node.connect(ctx.destination);
    source.start();
    this.playing.push(source);
    this.say(throughRoom ? 'playing the dry sound in the room' : 'playing');
  }

  silence() {
    for (const s of this.playing) s.stop();
    this.playing = [];
  }
}
