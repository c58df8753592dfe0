#include "lib/audio/acoustics.h"
#include "lib/audio/real_transform.h"
#include "lib/base/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <span>
#include <tuple>

namespace zm::cli {

bool IsSilent(const AudioData& audio) {
  const bool integer = audio.encoding.rfind("PCM", 0) == 0 && audio.bitsPerSample > 0;
  return FindPeak(audio).level <= (integer ? 4.0 * std::ldexp(1.0, 1 - audio.bitsPerSample) : 0.0);
}

Peak FindPeak(const AudioData& audio) {
  Peak peak;
  for (size_t c = 0; c < audio.channels.size(); ++c) {
    for (double v : audio.channels[c]) {
      if (std::fabs(v) > peak.level) {
        peak.level = std::fabs(v);
        peak.channel = int(c);
      }
    }
  }
  return peak;
}

namespace {

double Db(double ratio) {
  return 10.0 * std::log10(ratio);
}

std::string FormatLevel(double db) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g dB", db);
  return buffer;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The coefficients of one second-order section.
struct Biquad {
  double b0, b1, b2, a1, a2;
};

// Butterworth of order 4 as two sections; the section Q values are those of
// the fourth-order pole pairs.
std::vector<Biquad> Butterworth4(double cutoff, int sampleRate, bool highPass) {
  std::vector<Biquad> sections;
  const double w0 = 2.0 * std::numbers::pi * cutoff / sampleRate;
  const double cw = std::cos(w0);
  for (double q : {0.54119610014619690, 1.3065629648763766}) {
    const double alpha = std::sin(w0) / (2.0 * q);
    const double a0 = 1.0 + alpha;
    Biquad s{};
    if (highPass) {
      s.b0 = (1.0 + cw) / 2.0 / a0;
      s.b1 = -(1.0 + cw) / a0;
    } else {
      s.b0 = (1.0 - cw) / 2.0 / a0;
      s.b1 = (1.0 - cw) / a0;
    }
    s.b2 = s.b0;
    s.a1 = -2.0 * cw / a0;
    s.a2 = (1.0 - alpha) / a0;
    sections.push_back(s);
  }
  return sections;
}

// Running the octave filter twice squares its response; moving each cutoff
// outwards by (sqrt(2) - 1)^(1/8) puts the band edges back at -3 dB.
double CutoffWidening() {
  return std::pow(std::numbers::sqrt2 - 1.0, 1.0 / 8.0);
}

double LowerCutoff(double centre) {
  return centre / std::numbers::sqrt2 * CutoffWidening();
}

double UpperCutoff(double centre) {
  return centre * std::numbers::sqrt2 / CutoffWidening();
}

// Memory shared by the steps of one analysis on a thread, from band to
// band, grown as needed and never zeroed: each user writes what it reads.
// Fresh, zeroed buffers for every band cost more in page faults and
// zeroing than the analysis itself. Aligned, so that transforms run in it.
class Scratch {
 public:
  double* Doubles(size_t n) {
    if (n > capacity_) {
      memory_.reset();
      capacity_ = 0;
      memory_ = AllocateAlignedDoubles(n);
      capacity_ = n;
    }
    return memory_.get();
  }
  std::complex<double>* Complex(size_t n) {
    return reinterpret_cast<std::complex<double>*>(Doubles(2 * n));
  }
  void Release() {
    memory_.reset();
    capacity_ = 0;
  }

 private:
  AlignedDoubles memory_;
  size_t capacity_ = 0;
};

struct AnalysisMemory {
  Scratch spectra, time, product, band, energy, levels;
  // Released after each analysis: kept from one file to the next, it spared
  // a dataset's loop nothing (the render in between churns the memory
  // anyway) and held memory in every thread that ever analysed.
  void Release() {
    for (Scratch* s : {&spectra, &time, &product, &band, &energy, &levels}) s->Release();
  }
};

AnalysisMemory& Memory() {
  thread_local AnalysisMemory memory;
  return memory;
}

// The energy of a signal integrated backwards once: entry i holds the
// energy from sample i to the end, the entry after the last sample 0. Every
// sum the parameters read (early and late energy, the noise floor, a
// window's level, the decay curve) is then one entry or the difference of
// two, instead of a pass over the samples each. Summed from the quiet end,
// each entry carries a rounding error relative to itself, so the deep end
// of the curve stays as accurate as its start.
class BackwardEnergy {
 public:
  // The energy of `samples`, held in `memory`.
  BackwardEnergy(std::span<const double> samples, Scratch& memory)
      : frames_(samples.size()), tail_(memory.Doubles(frames_ + 1)) {
    double sum = 0;
    tail_[frames_] = 0;
    for (size_t i = samples.size(); i-- > 0;) {
      sum += samples[i] * samples[i];
      tail_[i] = sum;
    }
  }

  size_t Frames() const { return frames_; }
  // Energy of the samples [from, to), both clamped to the signal.
  double Sum(size_t from, size_t to) const {
    to = std::min(to, Frames());
    return from < to ? tail_[from] - tail_[to] : 0.0;
  }
  double From(size_t i) const { return tail_[std::min(i, Frames())]; }

  // sum over i >= onset of energy(i) * (i - onset), in sample periods: each
  // sample's energy is counted once in every entry after the onset up to it.
  double Moment(size_t onset) const {
    double s[4] = {};
    size_t i = onset + 1;
    for (; i + 4 <= Frames(); i += 4) {
      for (size_t k = 0; k < 4; ++k) s[k] += tail_[i + k];
    }
    for (; i < Frames(); ++i) s[0] += tail_[i];
    return (s[0] + s[1]) + (s[2] + s[3]);
  }

  // The first entry from `from` on below `limit` (at or below it when
  // `orEqual`); Frames() when there is none. The entries never rise.
  size_t FirstBelow(size_t from, double limit, bool orEqual) const {
    const double* begin = tail_ + std::min(from, Frames());
    const double* end = tail_ + Frames();
    const double* found =
        orEqual ? std::partition_point(begin, end, [&](double v) { return v > limit; })
                : std::partition_point(begin, end, [&](double v) { return v >= limit; });
    return size_t(found - tail_);
  }

  // Entries [from, to) of the decay curve from `onset`, in dB, into the
  // same entries of `levels`.
  void Levels(size_t onset, size_t from, size_t to, double* levels) const {
    // The natural logarithm scaled to decibels costs a third of log10.
    const double scale = 10.0 / std::numbers::ln10, inverse = 1.0 / tail_[onset];
    for (size_t i = from; i < to; ++i) {
      const double v = tail_[onset + i];
      levels[i] = v > 0 ? scale * std::log(v * inverse) : -std::numeric_limits<double>::infinity();
    }
  }

  // The decay curve from `onset` in dB, down to its first entry below
  // `endBelowDb`; see EnergyDecayCurve.
  std::vector<double> DecayCurve(size_t onset, double endBelowDb) const {
    std::vector<double> edc;
    if (onset >= Frames()) return edc;
    if (!(tail_[onset] > 0)) {
      edc.assign(Frames() - onset, -std::numeric_limits<double>::infinity());
      return edc;
    }
    // The energy only falls, so the levels do too: none is needed below the
    // level asked for, and where the curve crosses it is found on the
    // energy, without logarithms.
    const double limit = tail_[onset] * std::pow(10.0, endBelowDb / 10.0);
    edc.resize(std::min(FirstBelow(onset, limit, false) + 1, Frames()) - onset);
    Levels(onset, 0, edc.size(), edc.data());
    return edc;
  }

 private:
  size_t frames_;
  double* tail_;
};

// The entries of the decay curve a fit reads: from the first at or below
// `upper` to the last before the first below `lower` (levels in dB, both at
// or below 0). Found on the energy, which falls as the levels do, so that no
// logarithm is taken for a fit the noise floor then refuses.
struct FitRange {
  bool spans = false;  // false when the curve ends above `lower`
  size_t first = 0, last = 0;
};

FitRange FindFitRange(const BackwardEnergy& energy, size_t onset, double upper, double lower) {
  FitRange range;
  const double total = energy.From(onset);
  const double high = total * std::pow(10.0, upper / 10.0);
  const double low = total * std::pow(10.0, lower / 10.0);
  const size_t first = energy.FirstBelow(onset, high, true);
  const size_t below = energy.FirstBelow(first, low, false);
  if (below >= energy.Frames() || below - first < 3) return range;
  range.spans = true;
  range.first = first - onset;
  range.last = below - 1 - onset;
  return range;
}

// Least-squares line through the decay curve `levels` (dB, entry i for
// sample onset + i) over `range`.
DecayFit FitLine(const double* levels, FitRange range, int sampleRate) {
  DecayFit fit;
  const size_t first = range.first, last = range.last;
  // Centred on the middle index, whose spread has a closed form; the fit is
  // done in samples and scaled to seconds once, so no entry is divided. Two
  // sums of each kind, over alternate entries, halve the chain of dependent
  // additions.
  const double n = double(last - first + 1);
  const double middle = 0.5 * double(first + last);
  double sumL[2] = {}, sumTL[2] = {};
  size_t i = first;
  for (; i + 1 <= last; i += 2) {
    for (size_t k = 0; k < 2; ++k) {
      sumL[k] += levels[i + k];
      sumTL[k] += (double(i + k) - middle) * levels[i + k];
    }
  }
  if (i == last) {
    sumL[0] += levels[i];
    sumTL[0] += (double(i) - middle) * levels[i];
  }
  const double stt = n * (n * n - 1.0) / 12.0;
  const double meanL = (sumL[0] + sumL[1]) / n;
  fit.slope = (sumTL[0] + sumTL[1]) / stt * sampleRate;
  fit.intercept = meanL - fit.slope * (middle / sampleRate);
  fit.valid = fit.slope < 0;
  fit.failure = fit.valid ? "" : "the decay curve does not fall in the fit range";
  fit.lastIndex = last;
  return fit;
}

// C50, C80, D50 and the centre time from the energy after the onset; false
// when there is none.
bool MeasureEnergyRatios(const BackwardEnergy& energy, size_t onset, int sampleRate,
                         BandParameters& p) {
  const size_t n50 = size_t(std::lround(0.050 * sampleRate));
  const size_t n80 = size_t(std::lround(0.080 * sampleRate));
  const double total = energy.From(onset);
  if (!(total > 0)) return false;
  // The late energy is read directly, not as the total less the early part.
  const double late50 = energy.From(onset + n50), late80 = energy.From(onset + n80);
  if (late50 > 0) {
    p.c50 = Db((total - late50) / late50);
  } else {
    p.notes["c50"] = "no energy arrives after the first 50 ms";
  }
  if (late80 > 0) {
    p.c80 = Db((total - late80) / late80);
  } else {
    p.notes["c80"] = "no energy arrives after the first 80 ms";
  }
  p.d50 = (total - late50) / total;
  p.ts = energy.Moment(onset) / total / sampleRate;
  return true;
}

// The noise floor, taken as the mean energy of the last tenth of the signal.
double NoiseLevel(const BackwardEnergy& energy) {
  const size_t n = energy.Frames();
  const size_t tailStart = n - std::max<size_t>(1, n / 10);
  return energy.From(tailStart) / double(n - tailStart);
}

// True when the last tenth of the signal is more than 2 dB below the tenth
// before it: the signal ends while it still decays.
bool StillDecaying(const BackwardEnergy& energy) {
  const size_t n = energy.Frames();
  const size_t tenth = n / 10;
  if (tenth == 0) return false;
  const size_t last = n - tenth;
  return energy.Sum(last - tenth, last) > std::pow(10.0, 0.2) * energy.From(last);
}

// The level of the first 10 ms after the onset against the noise floor.
double DynamicRange(const BackwardEnergy& energy, size_t onset, int sampleRate, double noiseLevel) {
  const size_t earlyLength = std::max<size_t>(1, size_t(0.010 * sampleRate));
  const size_t earlyEnd = std::min(energy.Frames(), onset + earlyLength);
  const size_t earlyCount = earlyEnd - onset;
  const double earlyLevel = energy.Sum(onset, earlyEnd) / double(std::max<size_t>(1, earlyCount));
  return noiseLevel > 0 ? Db(earlyLevel / noiseLevel) : std::numeric_limits<double>::infinity();
}

// True when every sample is 0, 1 or 2 steps of the smallest magnitude in
// the channel: the dither an integer file holds where nothing sounded.
bool OnlyQuantisationNoise(std::span<const double> samples) {
  double step = HUGE_VAL;
  for (double v : samples) {
    if (v != 0) step = std::min(step, std::fabs(v));
  }
  if (!std::isfinite(step)) return false;
  const double perStep = 1.0 / step;
  for (double v : samples) {
    const double steps = std::fabs(v) * perStep;
    if (steps > 2.5 || std::fabs(steps - std::round(steps)) > 1e-6) return false;
  }
  return true;
}

// EDT, T20 and T30. A decay fit counts only when the bottom of its range
// lies at least 10 dB above the noise floor: the local energy where the
// curve crosses its lower limit is compared with the floor. An impulse
// response cut off before it decayed has its own tail as the floor, so the
// same test refuses ranges the cut reaches into.
void MeasureDecayTimes(const BackwardEnergy& energy, size_t onset, int sampleRate,
                       double noiseLevel, BandParameters& p) {
  const size_t window = std::max<size_t>(1, size_t(0.010 * sampleRate));
  auto localLevel = [&](size_t centre) {
    const size_t from = centre > window ? centre - window : 0;
    const size_t to = std::min(energy.Frames(), centre + window + 1);
    return energy.Sum(from, to) / double(to - from);
  };
  struct Measure {
    const char* name;
    double upper, lower;
    double* target;
    DecayFit* fit;
    FitRange range;
    std::string refusal;
  };
  DecayFit edtFit;
  Measure measures[] = {{"edt", 0.0, -10.0, &p.edt, &edtFit, {}, {}},
                        {"t20", -5.0, -25.0, &p.t20, &p.t20Fit, {}, {}},
                        {"t30", -5.0, -35.0, &p.t30, &p.t30Fit, {}, {}}};
  // The ranges first, and the noise floor's verdict on each: the levels,
  // one logarithm per entry, are then taken only where a fit reads them.
  size_t from = std::numeric_limits<size_t>::max(), to = 0;
  for (Measure& m : measures) {
    m.range = FindFitRange(energy, onset, m.upper, m.lower);
    if (!m.range.spans) {
      m.refusal = "the tail is shorter than the fit range (the decay curve ends above " +
                  FormatLevel(m.lower) + ")";
    } else if (!(localLevel(onset + m.range.last) >= 10.0 * noiseLevel)) {
      // A noise floor is steady and lies well below the start; a response
      // cut too early is still falling when the file ends, or has hardly
      // fallen at all. Say which, and where the cut is.
      if (StillDecaying(energy) || p.dynamicRange < -m.lower + 10.0) {
        m.refusal = Printf(
            "the response is cut at %.2f s, still decaying, before it decays by "
            "%.0f dB",
            double(energy.Frames()) / sampleRate, -m.lower);
      } else {
        m.refusal = "the noise floor is too high: the decay reaches " + FormatLevel(m.lower) +
                    " less than 10 dB above the level of the file's last tenth";
      }
    } else {
      from = std::min(from, m.range.first);
      to = std::max(to, m.range.last + 1);
    }
  }
  double* levels = Memory().levels.Doubles(to);
  if (from < to) energy.Levels(onset, from, to, levels);
  for (Measure& m : measures) {
    if (m.refusal.empty()) {
      *m.fit = FitLine(levels, m.range, sampleRate);
      if (m.fit->valid) {
        *m.target = m.fit->Reverberation();
        continue;
      }
      m.refusal = m.fit->failure;
    }
    m.fit->valid = false;
    m.fit->failure = m.refusal;
    p.notes[m.name] = m.refusal;
  }
}

BandParameters AnalyseSamples(std::span<const double> samples, size_t onset, int sampleRate) {
  BandParameters p;
  p.edt = p.t20 = p.t30 = p.c50 = p.c80 = p.d50 = p.ts = kNaN;
  if (onset >= samples.size()) {
    p.NoteAll("no signal");
    return p;
  }
  const BackwardEnergy energy(samples, Memory().energy);
  if (!MeasureEnergyRatios(energy, onset, sampleRate, p)) {
    p.NoteAll("no signal");
    return p;
  }
  const double noiseLevel = NoiseLevel(energy);
  p.dynamicRange = DynamicRange(energy, onset, sampleRate, noiseLevel);
  // A decay fit needs its lower end well above the noise floor.
  MeasureDecayTimes(energy, onset, sampleRate, noiseLevel, p);
  return p;
}

}  // namespace

std::string BandName(double centre) {
  char buffer[32];
  if (centre >= 1000) {
    std::snprintf(buffer, sizeof buffer, "%g kHz", centre / 1000);
  } else {
    std::snprintf(buffer, sizeof buffer, "%g Hz", centre);
  }
  return buffer;
}

size_t FindOnset(const std::vector<double>& samples, double thresholdDb) {
  double peak = 0;
  for (double v : samples) peak = std::max(peak, v * v);
  if (peak <= 0) return samples.size();
  const double threshold = peak * std::pow(10.0, thresholdDb / 10.0);
  for (size_t i = 0; i < samples.size(); ++i) {
    if (samples[i] * samples[i] >= threshold) return i;
  }
  return samples.size();
}

namespace {

// The octave bands by FFT convolution. Each band's filter is the zero-phase
// octave band-pass the analysis has always used: a fourth-order Butterworth
// high-pass at the lower and low-pass at the upper cutoff, run forward and
// backward, so its magnitude response is that of the four sections squared
// (-3 dB at both band edges, see CutoffWidening; 8 sections' roll-off
// beyond). That response is applied exactly as a real mask on the spectrum,
// one forward transform per block shared by every band and one inverse per
// band. The zero-phase impulse response is two-sided; it is taken to span
// `reach` samples each way, as far as its slowest pole takes to fall by 280
// dB, so that the blocks' overlap-save reproduces the filter to rounding.
// The difference from running the recursion over the samples is at the
// file's end only: there the recursion dropped the forward pass's ringing
// beyond the last sample, which the convolution keeps.

// Transforms and masks live for the process: setting up a transform
// computes its twiddle factors, which costs more than analysing a file, and
// a dataset analyses thousands of files of a handful of transform sizes.
std::mutex transformsMutex;

const RealTransform& Transform(size_t size) {
  static std::map<size_t, std::unique_ptr<RealTransform>> transforms;
  const std::lock_guard lock(transformsMutex);
  std::unique_ptr<RealTransform>& transform = transforms[size];
  if (!transform) transform = std::make_unique<RealTransform>(size);
  return *transform;
}

std::vector<Biquad> BandSections(double centre, int sampleRate) {
  std::vector<Biquad> band = Butterworth4(LowerCutoff(centre), sampleRate, true);
  for (const Biquad& s : Butterworth4(UpperCutoff(centre), sampleRate, false)) band.push_back(s);
  return band;
}

// Samples each way beyond which the band's zero-phase impulse response is
// below 1e-14 of its scale: the slowest pole's radius to that power.
size_t Reach(double centre, int sampleRate) {
  double radius = 0;
  for (const Biquad& s : BandSections(centre, sampleRate)) {
    radius = std::max(radius, std::sqrt(std::max(0.0, s.a2)));
  }
  if (!(radius < 1)) throw AudioFileError("the octave filter is unstable");
  return size_t(std::ceil(std::log(1e-14) / std::log(radius))) + 1;
}

// The band's power response at the `size / 2 + 1` bins of a transform of
// `size` points, with the transform pair's 1/size folded in.
const std::vector<double>& Mask(size_t size, double centre, int sampleRate) {
  static std::map<std::tuple<size_t, double, int>, std::vector<double>> masks;
  const std::lock_guard lock(transformsMutex);
  std::vector<double>& mask = masks[{size, centre, sampleRate}];
  if (!mask.empty()) return mask;
  const std::vector<Biquad> sections = BandSections(centre, sampleRate);
  mask.resize(size / 2 + 1);
  for (size_t k = 0; k < mask.size(); ++k) {
    const double w = 2.0 * std::numbers::pi * double(k) / double(size);
    const double c1 = std::cos(w), c2 = std::cos(2.0 * w);
    double gain = 1.0 / double(size);
    // |b0 + b1 z^-1 + b2 z^-2|^2 on the unit circle, over the same of the
    // denominator (a0 = 1).
    for (const Biquad& s : sections) {
      const double num = s.b0 * s.b0 + s.b1 * s.b1 + s.b2 * s.b2 +
                         2.0 * (s.b0 * s.b1 + s.b1 * s.b2) * c1 + 2.0 * s.b0 * s.b2 * c2;
      const double den =
          1.0 + s.a1 * s.a1 + s.a2 * s.a2 + 2.0 * (s.a1 + s.a1 * s.a2) * c1 + 2.0 * s.a2 * c2;
      gain *= num / den;
    }
    mask[k] = gain;
  }
  return mask;
}

// The bands of `centres`, each filtered from the same samples on request.
// The spectra of the blocks are kept, so that a band costs its inverse
// transforms only, and one band at a time is in memory.
class OctaveBands {
 public:
  OctaveBands(std::span<const double> samples, const std::vector<double>& centres, int sampleRate)
      : frames_(samples.size()) {
    if (frames_ == 0 || centres.empty()) return;
    for (double centre : centres) reach_ = std::max(reach_, Reach(centre, sampleRate));
    // Transforms four times the filter's span waste little on the overlap;
    // a short file fits one transform.
    size_ = 1024;
    while (size_ < 8 * reach_ && size_ < frames_ + 2 * reach_) size_ *= 2;
    while (size_ < frames_ + 2 * reach_ && size_ - 2 * reach_ < size_ / 2) size_ *= 2;
    hop_ = size_ - 2 * reach_;
    bins_ = size_ / 2 + 1;
    transform_ = &Transform(size_);
    for (double centre : centres) masks_.push_back(&Mask(size_, centre, sampleRate));
    AnalysisMemory& memory = Memory();
    time_ = memory.time.Doubles(size_);
    product_ = memory.product.Complex(bins_);
    band_ = memory.band.Doubles(frames_);
    const size_t blocks = (frames_ + hop_ - 1) / hop_;
    spectra_ = memory.spectra.Complex(blocks * bins_);
    for (size_t block = 0; block < blocks; ++block) {
      // The block holds the samples from `reach` before its first output
      // to `reach` after its last, zero outside the signal.
      const size_t start = block * hop_;
      for (size_t j = 0; j < size_; ++j) {
        const size_t at = start + j;  // sample index + reach
        time_[j] = at >= reach_ && at - reach_ < frames_ ? samples[at - reach_] : 0.0;
      }
      // Through the aligned product buffer: a transform may need its
      // buffers as aligned as they were when it was set up.
      transform_->Forward(time_, product_);
      std::copy(product_, product_ + bins_, spectra_ + block * bins_);
    }
  }

  // Band k of the centres given, valid until the next call.
  std::span<const double> Band(size_t k) const {
    if (frames_ == 0) return {};
    const double* mask = masks_.at(k)->data();
    for (size_t start = 0, block = 0; start < frames_; start += hop_, ++block) {
      const std::complex<double>* spectrum = spectra_ + block * bins_;
      for (size_t b = 0; b < bins_; ++b) product_[b] = spectrum[b] * mask[b];
      transform_->Inverse(product_, time_);
      const size_t count = std::min(hop_, frames_ - start);
      std::copy(time_ + reach_, time_ + reach_ + count, band_ + start);
    }
    return {band_, frames_};
  }

 private:
  size_t frames_, reach_ = 0, size_ = 0, hop_ = 0, bins_ = 0;
  const RealTransform* transform_ = nullptr;
  std::vector<const std::vector<double>*> masks_;
  // In the thread's scratch memory: the blocks' spectra, one block's
  // samples, the product the inverse transform overwrites, the band.
  std::complex<double>* spectra_ = nullptr;
  double* time_ = nullptr;
  std::complex<double>* product_ = nullptr;
  double* band_ = nullptr;
};

}  // namespace

std::vector<double> OctaveFilter(const std::vector<double>& samples, double centre,
                                 int sampleRate) {
  const std::span<const double> band = OctaveBands(samples, {centre}, sampleRate).Band(0);
  std::vector<double> out(band.begin(), band.end());
  Memory().Release();
  return out;
}

std::vector<double> EnergyDecayCurve(const std::vector<double>& samples, size_t onset,
                                     double endBelowDb) {
  std::vector<double> edc = BackwardEnergy(samples, Memory().energy).DecayCurve(onset, endBelowDb);
  Memory().Release();
  return edc;
}

BandParameters AnalyseBand(const std::vector<double>& samples, size_t onset, int sampleRate) {
  const BandParameters p = AnalyseSamples(samples, onset, sampleRate);
  Memory().Release();
  return p;
}

ChannelParameters AnalyseChannel(const std::vector<double>& samples, int channel, int sampleRate) {
  ChannelParameters c;
  c.channel = channel;
  for (double v : samples) c.peak = std::max(c.peak, std::fabs(v));
  c.onset = FindOnset(samples);
  // Silent means no sound: every sample zero, or nothing but the dither of
  // an integer file's unused channel. A response that has hardly decayed by
  // the end of the file is not silent; its decay times say why they are
  // missing.
  std::string silence;
  if (c.onset >= samples.size()) {
    silence = "the channel holds no sound (every sample is zero)";
  } else if (OnlyQuantisationNoise(samples)) {
    silence = "the channel holds no sound (only quantisation noise, one or two steps)";
  }
  c.silent = !silence.empty();
  BandParameters broadband = AnalyseSamples(
      c.silent ? std::span<const double>{} : std::span<const double>(samples), c.onset, sampleRate);
  if (c.silent) broadband.NoteAll(silence);
  broadband.band = "broadband";
  c.bands.push_back(broadband);
  // The upper band edge must stay clear of the Nyquist frequency.
  std::vector<double> centres;
  for (double centre : kOctaveCentres) {
    if (UpperCutoff(centre) < 0.45 * sampleRate && !c.silent) centres.push_back(centre);
  }
  const OctaveBands filtered(samples, centres, sampleRate);
  std::span<const double> filteredBand;
  for (double centre : kOctaveCentres) {
    BandParameters band;
    const auto found = std::find(centres.begin(), centres.end(), centre);
    if (found != centres.end()) {
      filteredBand = filtered.Band(size_t(found - centres.begin()));
      band = AnalyseSamples(filteredBand, c.onset, sampleRate);
    } else {
      band = AnalyseSamples({}, 0, sampleRate);
      band.available = false;
      band.NoteAll(c.silent ? silence
                            : Printf("the band reaches above the file's frequency range "
                                     "(half its sample rate is %g Hz)",
                                     0.5 * sampleRate));
    }
    band.band = BandName(centre);
    band.centre = centre;
    c.bands.push_back(band);
  }
  Memory().Release();
  return c;
}

void BandParameters::NoteAll(const std::string& why) {
  for (const char* name : {"edt", "t20", "t30", "c50", "c80", "d50", "ts"}) notes[name] = why;
}

namespace {

// The rows of the report: the parameter, its unit and how it is printed,
// and the factor from the analysis's own unit (seconds, 0..1) to the one
// shown. The JSON report uses the same units.
struct ReportRow {
  const char* key;
  const char* label;
  const char* unit;
  double BandParameters::*field;
  const char* format;
  double scale;
};

constexpr ReportRow kReportRows[] = {
    {"edt", "EDT", "s", &BandParameters::edt, "%.2f", 1.0},
    {"t20", "T20", "s", &BandParameters::t20, "%.2f", 1.0},
    {"t30", "T30", "s", &BandParameters::t30, "%.2f", 1.0},
    {"c50", "C50", "dB", &BandParameters::c50, "%.1f", 1.0},
    {"c80", "C80", "dB", &BandParameters::c80, "%.1f", 1.0},
    {"d50", "D50", "%", &BandParameters::d50, "%.0f", 100.0},
    {"ts", "Ts", "ms", &BandParameters::ts, "%.0f", 1000.0},
};

// One table per channel: a column per band, a row per parameter. An "n/a"
// carries a letter that the lines below the table explain.
std::string ChannelReport(const ChannelParameters& c) {
  if (c.silent) {
    return Printf("Channel %d: no impulse response (silent, or quantisation noise only)\n",
                  c.channel);
  }
  std::string out = Printf("Channel %d: onset at sample %zu, peak %.1f dBFS\n", c.channel, c.onset,
                           20.0 * std::log10(c.peak));
  out += Printf("  %-9s", "");
  for (const BandParameters& b : c.bands) out += Printf(" %9s", b.band.c_str());
  out += "\n";
  std::vector<std::string> reasons;
  for (const ReportRow& row : kReportRows) {
    out += Printf("  %-9s", (std::string(row.label) + " [" + row.unit + "]").c_str());
    for (const BandParameters& b : c.bands) {
      const double value = b.*row.field;
      if (!std::isnan(value)) {
        out += Printf(" %9s", Printf(row.format, value * row.scale).c_str());
        continue;
      }
      const auto note = b.notes.find(row.key);
      const std::string why = note == b.notes.end() ? "not measured" : note->second;
      auto it = std::find(reasons.begin(), reasons.end(), why);
      if (it == reasons.end()) it = reasons.insert(reasons.end(), why);
      out += Printf(" %9s", ("n/a " + std::string(1, char('a' + (it - reasons.begin())))).c_str());
    }
    out += "\n";
  }
  for (size_t i = 0; i < reasons.size(); ++i) {
    out += Printf("  n/a %c: %s\n", char('a' + i), reasons[i].c_str());
  }
  return out;
}

Json JsonValue(double value) {
  if (!std::isfinite(value)) return nullptr;
  return value;
}

}  // namespace

std::string FormatReport(const std::vector<ChannelParameters>& channels) {
  std::string out;
  for (const ChannelParameters& c : channels) out += ChannelReport(c);
  return out;
}

Json ReportToJson(const std::vector<ChannelParameters>& channels, int sampleRate) {
  Json out = Json::object();
  out["sampleRate"] = sampleRate;
  Json units = Json::object();
  units["onsetSeconds"] = "s";
  units["peak"] = "full scale (1 = 0 dBFS)";
  units["centreHz"] = "Hz";
  for (const ReportRow& row : kReportRows) units[row.key] = row.unit;
  out["units"] = units;
  Json list = Json::array();
  for (const ChannelParameters& c : channels) {
    Json ch = Json::object();
    ch["channel"] = c.channel;
    ch["silent"] = c.silent;
    ch["onsetSample"] = c.silent ? Json(nullptr) : Json(c.onset);
    ch["onsetSeconds"] = c.silent ? Json(nullptr) : Json(double(c.onset) / sampleRate);
    ch["peak"] = c.peak;
    Json bands = Json::array();
    for (const BandParameters& b : c.bands) {
      Json j = Json::object();
      j["band"] = b.band;
      j["centreHz"] = b.centre > 0 ? Json(b.centre) : Json(nullptr);
      Json notes = Json::object();
      for (const ReportRow& row : kReportRows) {
        const double value = b.*row.field;
        j[row.key] = JsonValue(value * row.scale);
        if (std::isnan(value) && b.notes.contains(row.key)) notes[row.key] = b.notes.at(row.key);
      }
      if (!notes.empty()) j["notApplicable"] = notes;
      bands.push_back(j);
    }
    ch["bands"] = bands;
    list.push_back(ch);
  }
  out["channels"] = list;
  return out;
}

std::vector<ChannelParameters> AnalyseAudio(const AudioData& audio) {
  std::vector<ChannelParameters> channels;
  for (size_t c = 0; c < audio.channels.size(); ++c) {
    channels.push_back(AnalyseChannel(audio.channels[c], int(c), audio.sampleRate));
  }
  return channels;
}

}  // namespace zm::cli
