#include "lib/audio/acoustics.h"
#include "lib/base/text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>

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

// The coefficients of one second-order section, run in direct form II
// transposed (SectionLanes::Run).
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

// Least-squares line through the decay curve between two levels (dB, both
// at or below 0). Invalid, with the reason, when the curve does not span
// the range.
DecayFit FitDecay(const std::vector<double>& edc, int sampleRate, double upper, double lower) {
  DecayFit fit;
  fit.failure = "the tail is shorter than the fit range (the decay curve ends above " +
                FormatLevel(lower) + ")";
  size_t first = edc.size();
  for (size_t i = 0; i < edc.size(); ++i) {
    if (edc[i] <= upper) {
      first = i;
      break;
    }
  }
  size_t last = first;
  bool reached = false;
  for (size_t i = first; i < edc.size(); ++i) {
    if (edc[i] < lower) {
      reached = true;
      break;
    }
    last = i;
  }
  if (!reached || first >= edc.size() || last <= first + 1) return fit;
  // Centred sums keep the fit accurate over long ranges.
  const double n = double(last - first + 1);
  double meanT = 0, meanL = 0;
  for (size_t i = first; i <= last; ++i) {
    meanT += double(i) / sampleRate;
    meanL += edc[i];
  }
  meanT /= n;
  meanL /= n;
  double stt = 0, stl = 0;
  for (size_t i = first; i <= last; ++i) {
    const double dt = double(i) / sampleRate - meanT;
    stt += dt * dt;
    stl += dt * (edc[i] - meanL);
  }
  if (stt <= 0) return fit;
  fit.slope = stl / stt;
  fit.intercept = meanL - fit.slope * meanT;
  fit.valid = fit.slope < 0;
  fit.failure = fit.valid ? "" : "the decay curve does not fall in the fit range";
  fit.lastIndex = last;
  return fit;
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

long double EnergySum(const std::vector<double>& samples, size_t from, size_t to) {
  long double sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<long double>(samples[i]) * samples[i];
  return sum;
}

// C50, C80, D50 and the centre time from the energy after the onset; false
// when there is none.
bool MeasureEnergyRatios(const std::vector<double>& samples, size_t onset, int sampleRate,
                         BandParameters& p) {
  const size_t n50 = size_t(std::lround(0.050 * sampleRate));
  const size_t n80 = size_t(std::lround(0.080 * sampleRate));
  // One sum per loop, each in sample order: together in one loop, the
  // extended-precision sums did not fit the registers and went through
  // memory on every sample.
  const size_t end = samples.size();
  const long double total = EnergySum(samples, onset, end);
  const long double early50 = EnergySum(samples, onset, onset + std::min(n50, end - onset));
  const long double early80 = EnergySum(samples, onset, onset + std::min(n80, end - onset));
  long double moment = 0;
  for (size_t i = onset; i < end; ++i) {
    const long double e = static_cast<long double>(samples[i]) * samples[i];
    moment += e * (static_cast<long double>(i - onset) / sampleRate);
  }
  if (total <= 0) return false;
  if (total > early50) {
    p.c50 = Db(double(early50 / (total - early50)));
  } else {
    p.notes["c50"] = "no energy arrives after the first 50 ms";
  }
  if (total > early80) {
    p.c80 = Db(double(early80 / (total - early80)));
  } else {
    p.notes["c80"] = "no energy arrives after the first 80 ms";
  }
  p.d50 = double(early50 / total);
  p.ts = double(moment / total);
  return true;
}

// The noise floor, taken as the mean energy of the last tenth of the signal.
double NoiseLevel(const std::vector<double>& samples) {
  const size_t tailStart = samples.size() - std::max<size_t>(1, samples.size() / 10);
  return double(EnergySum(samples, tailStart, samples.size()) / (samples.size() - tailStart));
}

// True when the last tenth of the signal is more than 2 dB below the tenth
// before it: the signal ends while it still decays.
bool StillDecaying(const std::vector<double>& samples) {
  const size_t tenth = samples.size() / 10;
  if (tenth == 0) return false;
  const size_t last = samples.size() - tenth;
  return EnergySum(samples, last - tenth, last) >
         std::pow(10.0, 0.2) * EnergySum(samples, last, samples.size());
}

// The level of the first 10 ms after the onset against the noise floor.
double DynamicRange(const std::vector<double>& samples, size_t onset, int sampleRate,
                    double noiseLevel) {
  const size_t earlyLength = std::max<size_t>(1, size_t(0.010 * sampleRate));
  const size_t earlyEnd = std::min(samples.size(), onset + earlyLength);
  const size_t earlyCount = earlyEnd - onset;
  const double earlyLevel =
      double(EnergySum(samples, onset, earlyEnd) / std::max<size_t>(1, earlyCount));
  return noiseLevel > 0 ? Db(earlyLevel / noiseLevel) : std::numeric_limits<double>::infinity();
}

// True when every sample is 0, 1 or 2 steps of the smallest magnitude in
// the channel: the dither an integer file holds where nothing sounded.
bool OnlyQuantisationNoise(const std::vector<double>& samples) {
  double step = HUGE_VAL;
  for (double v : samples) {
    if (v != 0) step = std::min(step, std::fabs(v));
  }
  if (!std::isfinite(step)) return false;
  for (double v : samples) {
    const double steps = std::fabs(v) / step;
    if (steps > 2.5 || std::fabs(steps - std::round(steps)) > 1e-6) return false;
  }
  return true;
}

// EDT, T20 and T30. A decay fit counts only when the bottom of its range
// lies at least 10 dB above the noise floor: the local energy where the
// curve crosses its lower limit is compared with the floor. An impulse
// response cut off before it decayed has its own tail as the floor, so the
// same test refuses ranges the cut reaches into.
void MeasureDecayTimes(const std::vector<double>& samples, size_t onset, int sampleRate,
                       double noiseLevel, BandParameters& p) {
  // The fits read the curve down to its first entry below their lowest
  // level, T30's.
  const std::vector<double> edc = EnergyDecayCurve(samples, onset, -35.0);
  const size_t window = std::max<size_t>(1, size_t(0.010 * sampleRate));
  auto localLevel = [&](size_t centre) {
    const size_t from = centre > window ? centre - window : 0;
    const size_t to = std::min(samples.size(), centre + window + 1);
    return double(EnergySum(samples, from, to) / (to - from));
  };
  auto measure = [&](const char* name, double upper, double lower, double& target) {
    DecayFit fit = FitDecay(edc, sampleRate, upper, lower);
    if (fit.valid && !(localLevel(onset + fit.lastIndex) >= 10.0 * noiseLevel)) {
      fit.valid = false;
      // A noise floor is steady and lies well below the start; a response
      // cut too early is still falling when the file ends, or has hardly
      // fallen at all. Say which, and where the cut is.
      if (StillDecaying(samples) || p.dynamicRange < -lower + 10.0) {
        fit.failure = Printf(
            "the response is cut at %.2f s, still decaying, before it decays by "
            "%.0f dB",
            double(samples.size()) / sampleRate, -lower);
      } else {
        fit.failure = "the noise floor is too high: the decay reaches " + FormatLevel(lower) +
                      " less than 10 dB above the level of the file's last tenth";
      }
    }
    if (fit.valid) {
      target = fit.Reverberation();
    } else {
      p.notes[name] = fit.failure;
    }
    return fit;
  };
  measure("edt", 0.0, -10.0, p.edt);
  p.t20Fit = measure("t20", -5.0, -25.0, p.t20);
  p.t30Fit = measure("t30", -5.0, -35.0, p.t30);
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

// Bands filtered side by side, one lane each, all four sections of a band
// at each sample. A section's recursion is a chain of dependent multiplies
// and adds from sample to sample; run band after band and section after
// section, the processor mostly waits on that chain. Run together, the
// independent chains of the bands and sections fill its pipelines, while
// each band's arithmetic stays exactly that of filtering it alone.
constexpr size_t kLanes = 8;
constexpr size_t kSections = 4;  // high pass, then low pass, of order 4 each

struct Lanes {
  double b0[kLanes]{}, b1[kLanes]{}, b2[kLanes]{}, a1[kLanes]{}, a2[kLanes]{};
};

// One sample of every lane through the sections, direct form II transposed.
inline void Step(const Lanes (&c)[kSections], double (&z1)[kSections][kLanes],
                 double (&z2)[kSections][kLanes], double (&v)[kLanes]) {
  for (size_t s = 0; s < kSections; ++s) {
    for (size_t l = 0; l < kLanes; ++l) {
      const double in = v[l];
      const double out = c[s].b0[l] * in + z1[s][l];
      z1[s][l] = c[s].b1[l] * in - c[s].a1[l] * out + z2[s][l];
      z2[s][l] = c[s].b2[l] * in - c[s].a2[l] * out;
      v[l] = out;
    }
  }
}

// Every band of `centres` (kLanes at most per group) filtered from the same
// samples, each as OctaveFilter gives it. The bands are kept interleaved in
// one buffer and taken out one at a time: a buffer per band, all alive at
// once, would be fresh memory on every call, and touching fresh pages
// costs more than the filtering.
class OctaveBands {
 public:
  OctaveBands(const std::vector<double>& samples, const std::vector<double>& centres,
              int sampleRate)
      : frames_(samples.size()),
        groups_((centres.size() + kLanes - 1) / kLanes),
        // Not zeroed: the forward pass writes every sample before it is read.
        x_(new double[std::max<size_t>(1, frames_ * kLanes * groups_)]) {
    for (size_t g = 0; g < groups_; ++g) {
      // Unused lanes keep zero coefficients: they run, and nobody reads them.
      const size_t used = std::min(kLanes, centres.size() - g * kLanes);
      Lanes c[kSections];
      for (size_t l = 0; l < used; ++l) {
        const double centre = centres[g * kLanes + l];
        std::vector<Biquad> band = Butterworth4(LowerCutoff(centre), sampleRate, true);
        for (const Biquad& s : Butterworth4(UpperCutoff(centre), sampleRate, false)) {
          band.push_back(s);
        }
        for (size_t s = 0; s < kSections; ++s) {
          c[s].b0[l] = band[s].b0;
          c[s].b1[l] = band[s].b1;
          c[s].b2[l] = band[s].b2;
          c[s].a1[l] = band[s].a1;
          c[s].a2[l] = band[s].a2;
        }
      }
      double* x = x_.get() + g * frames_ * kLanes;
      // Forward, then backward over the result: zero phase, the magnitude
      // response squared.
      double z1[kSections][kLanes] = {}, z2[kSections][kLanes] = {};
      for (size_t i = 0; i < frames_; ++i) {
        double v[kLanes];
        for (size_t l = 0; l < kLanes; ++l) v[l] = samples[i];
        Step(c, z1, z2, v);
        std::memcpy(x + i * kLanes, v, sizeof v);
      }
      std::memset(z1, 0, sizeof z1);
      std::memset(z2, 0, sizeof z2);
      for (size_t i = frames_; i-- > 0;) {
        double v[kLanes];
        std::memcpy(v, x + i * kLanes, sizeof v);
        Step(c, z1, z2, v);
        std::memcpy(x + i * kLanes, v, sizeof v);
      }
    }
  }

  // Band k of the centres given, into `out` (whose memory is reused).
  void Band(size_t k, std::vector<double>& out) const {
    const double* x = x_.get() + (k / kLanes) * frames_ * kLanes + k % kLanes;
    out.resize(frames_);
    for (size_t i = 0; i < frames_; ++i) out[i] = x[i * kLanes];
  }

 private:
  size_t frames_, groups_;
  std::unique_ptr<double[]> x_;
};

}  // namespace

std::vector<double> OctaveFilter(const std::vector<double>& samples, double centre,
                                 int sampleRate) {
  std::vector<double> band;
  OctaveBands(samples, {centre}, sampleRate).Band(0, band);
  return band;
}

std::vector<double> EnergyDecayCurve(const std::vector<double>& samples, size_t onset,
                                     double endBelowDb) {
  std::vector<double> edc;
  if (onset >= samples.size()) return edc;
  edc.resize(samples.size() - onset);
  long double sum = 0;
  for (size_t i = samples.size(); i-- > onset;) {
    sum += static_cast<long double>(samples[i]) * samples[i];
    edc[i - onset] = double(sum);
  }
  // The energy only falls, so the levels do too: a logarithm per sample is
  // most of the cost, and none is needed below the level asked for.
  const double total = edc[0];
  for (size_t i = 0; i < edc.size(); ++i) {
    const double v = edc[i];
    edc[i] = (total > 0 && v > 0) ? Db(v / total) : -std::numeric_limits<double>::infinity();
    if (edc[i] < endBelowDb) {
      edc.resize(i + 1);
      break;
    }
  }
  return edc;
}

BandParameters AnalyseBand(const std::vector<double>& samples, size_t onset, int sampleRate) {
  BandParameters p;
  p.edt = p.t20 = p.t30 = p.c50 = p.c80 = p.d50 = p.ts = kNaN;
  if (onset >= samples.size() || !MeasureEnergyRatios(samples, onset, sampleRate, p)) {
    p.NoteAll("no signal");
    return p;
  }
  const double noiseLevel = NoiseLevel(samples);
  p.dynamicRange = DynamicRange(samples, onset, sampleRate, noiseLevel);
  // A decay fit needs its lower end well above the noise floor.
  MeasureDecayTimes(samples, onset, sampleRate, noiseLevel, p);
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
  BandParameters broadband =
      AnalyseBand(c.silent ? std::vector<double>{} : samples, c.onset, sampleRate);
  if (c.silent) broadband.NoteAll(silence);
  broadband.band = "broadband";
  c.bands.push_back(broadband);
  // The upper band edge must stay clear of the Nyquist frequency.
  std::vector<double> centres;
  for (double centre : kOctaveCentres) {
    if (UpperCutoff(centre) < 0.45 * sampleRate && !c.silent) centres.push_back(centre);
  }
  const OctaveBands filtered(samples, centres, sampleRate);
  std::vector<double> filteredBand;
  for (double centre : kOctaveCentres) {
    BandParameters band;
    const auto found = std::find(centres.begin(), centres.end(), centre);
    if (found != centres.end()) {
      filtered.Band(size_t(found - centres.begin()), filteredBand);
      band = AnalyseBand(filteredBand, c.onset, sampleRate);
    } else {
      band = AnalyseBand({}, 0, sampleRate);
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
