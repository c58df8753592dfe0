// Room-acoustic parameters of a measured or computed impulse response, from
// the backward-integrated (Schroeder) energy decay curve, per octave band.
#pragma once

#include <limits>
#include <map>
#include <string>
#include <vector>

#include "lib/audio/audio_file.h"
#include "lib/base/json_text.h"

namespace zm::cli {

// The level and channel of the largest sample; 0 on channel 0 for silence.
struct Peak {
  double level = 0;
  int channel = 0;
};
Peak FindPeak(const AudioData& audio);

// True when the file holds nothing but dither: no sample above a few steps
// of its integer encoding (any sample at all for float files). A silent
// render writes such a file, as short as one frame.
bool IsSilent(const AudioData& audio);

// One straight-line fit of the decay curve: level(t) = intercept + slope * t,
// in dB, t in seconds from the onset.
struct DecayFit {
  bool valid = false;
  double slope = 0;
  double intercept = 0;
  size_t lastIndex = 0;  // last decay-curve entry inside the fitted range
  std::string failure;   // why the fit is not valid, in words
  double Reverberation() const { return -60.0 / slope; }
};

// A parameter that could not be measured (too little decay range, too little
// signal) is NaN, reported as "n/a", and `notes` says why.
struct BandParameters {
  std::string band;                  // "broadband" or "125 Hz" ... "8 kHz"
  double centre = 0;                 // Hz; 0 for broadband
  bool available = true;             // false when the band lies above the file's Nyquist range
  double edt = 0, t20 = 0, t30 = 0;  // seconds
  double c50 = 0, c80 = 0;           // dB
  double d50 = 0;                    // 0..1
  double ts = 0;                     // seconds
  double dynamicRange = 0;           // dB between the first 10 ms and the last tenth of the signal
  DecayFit t20Fit, t30Fit;
  std::map<std::string, std::string> notes;  // "t30" -> why it is n/a
  void NoteAll(const std::string& why);      // every parameter is n/a for this reason
};

struct ChannelParameters {
  int channel = 0;
  bool silent = false;
  size_t onset = 0;                   // sample index of the direct sound
  double peak = 0;                    // largest absolute sample
  std::vector<BandParameters> bands;  // broadband first, then the octaves
};

// Octave band centres analysed, in Hz.
inline constexpr double kOctaveCentres[] = {125, 250, 500, 1000, 2000, 4000, 8000};

// "125 Hz", "1 kHz": how reports name a band by its centre.
std::string BandName(double centre);

// The first sample whose energy reaches `thresholdDb` (negative) below the
// largest sample energy; the size of the signal when it is all zero.
size_t FindOnset(const std::vector<double>& samples, double thresholdDb = -20.0);

// Zero-phase octave band-pass: the power response of a fourth-order
// Butterworth high- and low-pass pair (-3 dB at the band edges), applied by
// FFT convolution, as running the pair forward and backward would.
std::vector<double> OctaveFilter(const std::vector<double>& samples, double centre, int sampleRate);

// Decay curve in dB relative to the energy from `onset` on; entry i belongs
// to sample onset + i. Zero energy gives -infinity. The curve ends with its
// first entry below `endBelowDb`: what lies further down is not computed.
std::vector<double> EnergyDecayCurve(const std::vector<double>& samples, size_t onset,
                                     double endBelowDb = -std::numeric_limits<double>::infinity());

BandParameters AnalyseBand(const std::vector<double>& samples, size_t onset, int sampleRate);

ChannelParameters AnalyseChannel(const std::vector<double>& samples, int channel, int sampleRate);
// AnalyseChannel for each channel of `audio`.
std::vector<ChannelParameters> AnalyseAudio(const AudioData& audio);

// The report of a whole file, as text and as JSON.
std::string FormatReport(const std::vector<ChannelParameters>& channels);
Json ReportToJson(const std::vector<ChannelParameters>& channels, int sampleRate);

}  // namespace zm::cli
