#include "fast/band_shaper.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numbers>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "fast/parallel.h"
#include "scene/hydra.h"

namespace zm::fast {

namespace {

constexpr double kPi = std::numbers::pi;
// The interpolators' Kaiser windows.
constexpr double kEarlyBeta = 4.0;
constexpr double kLateBeta = 5.0;

double BesselI0(double x) {
  double sum = 1.0, term = 1.0;
  for (int k = 1; k < 40; ++k) {
    term = term * (x / (2 * k)) * (x / (2 * k));
    sum = sum + term;
  }
  return sum;
}

// The windowed sinc of `taps` taps at x samples from the arrival; exactly
// 0 or 1 at whole samples, so an arrival on a sample lands on that sample
// alone.
double DelayWeight(double x, int taps, double beta) {
  if (x == 0.0) return 1.0;
  if (x == std::trunc(x)) return 0.0;
  const double r = x / (taps / 2.0);
  const double window = BesselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / BesselI0(beta);
  return std::sin(kPi * x) / (kPi * x) * window;
}

// The interpolator at phases j / kDelayPhases, j = 0 .. kDelayPhases: row
// j holds `taps` weights, tap k landing taps/2 - 1 samples before the
// arrival's whole sample, plus k.
std::vector<double> DelayTable(int taps, double beta) {
  std::vector<double> table(static_cast<size_t>(kDelayPhases + 1) * taps);
  for (int j = 0; j <= kDelayPhases; ++j) {
    const double f = static_cast<double>(j) / kDelayPhases;
    double* row = &table[static_cast<size_t>(j) * taps];
    double sum = 0.0;
    for (int k = 0; k < taps; ++k) sum += row[k] = DelayWeight(k - (taps / 2 - 1) - f, taps, beta);
    // Unit gain at 0 Hz, so the low bands keep their level at any delay.
    for (int k = 0; k < taps; ++k) row[k] /= sum;
  }
  return table;
}

// The weights of a table at fraction f of a sample, between its phases.
void DelayWeights(const std::vector<double>& table, int taps, double f, double* weights) {
  const double phase = f * kDelayPhases;
  const int32_t j = static_cast<int32_t>(phase);
  const double g = phase - j;
  const double* w0 = &table[static_cast<size_t>(j) * taps];
  const double* w1 = w0 + taps;
  for (int k = 0; k < taps; ++k) weights[k] = w0[k] + g * (w1[k] - w0[k]);
}

// Late arrivals held back per share before they are added, and the rows
// of one stretch (a power of two): 256 KB of one channel's streams, which
// stay in the core's cache while the stretch's arrivals are added.
constexpr size_t kPendingArrivals = 8192;
constexpr int kStretchShift = 12;

}  // namespace

void TStreamStorage::Reset(size_t count) {
  constexpr size_t kLargePage = size_t{2} << 20;
  block_.reset();
  data_ = nullptr;
  if (count > (SIZE_MAX - 2 * kLargePage) / sizeof(double)) throw std::bad_alloc();
  // Whole large pages, so that the last one is no mixture of small ones.
  const size_t bytes = (count * sizeof(double) + kLargePage - 1) / kLargePage * kLargePage;
  void* block = std::calloc(1, bytes + kLargePage);
  if (block == nullptr) throw std::bad_alloc();
  block_.reset(block);
  const uintptr_t address = reinterpret_cast<uintptr_t>(block);
  data_ = reinterpret_cast<double*>((address + kLargePage - 1) / kLargePage * kLargePage);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // Only advice: without large pages the streams work as well, slower.
  madvise(data_, bytes, MADV_HUGEPAGE);
#endif
}

void TStreamStorage::TFree::operator()(void* block) const {
  std::free(block);
}

TBandShaper::TBandShaper(const TImpulse& impulse)
    : rowsAdd_(RowsAddFor(ActiveSimdPath())),
      rowsConvolve_(RowsConvolveFor(ActiveSimdPath())),
      sampleRate_(impulse.Scene->Options->SampleRate),
      lengthSamples_(impulse.LengthSamples),
      leadIn_(impulse.LeadInSamples),
      taps_(impulse.FilterTaps),
      halfTaps_(impulse.HalfTaps),
      bufferSamples_(impulse.BufferSamples) {
  early_ = DelayTable(kEarlyTaps, kEarlyBeta);
  late_ = DelayTable(kLateTaps, kLateBeta);

  // The hat of band b is 1 at u_b and falls to 0 at its neighbours; the top
  // one stays 1 above u_7 up to the Nyquist frequency.
  const TOptions& options = *impulse.Scene->Options;
  double u[kBandCount];
  for (int i = 0; i < kBandCount; ++i) u[i] = 2 * options.BandFrequencies[i] / sampleRate_;
  shape_.resize(static_cast<size_t>(taps_) * kBandCount);
  const double scale = 1.0 / halfTaps_;
  for (int32_t i = 0; i < taps_; ++i) {
    const int32_t o = FirstOffset() + i;
    // As the exact path's table: x = (k - H) pi for the tap k that lands o
    // samples after the arrival (one later for an odd length).
    const double x = static_cast<double>(taps_ - 2 * halfTaps_ - o) * kPi;
    double p[7], q[7], top;
    for (int s = 0; s < 7; ++s) {
      const double lo = u[s], hi = u[s + 1];
      if (std::fabs(x) < 1e-8) {
        p[s] = (hi * hi - lo * lo) / 2;
        q[s] = hi - lo;
      } else {
        const double a = lo * x, h = hi * x;
        p[s] = (h * std::sin(h) + std::cos(h) - std::cos(a) - a * std::sin(a)) / (x * x);
        q[s] = (std::sin(h) - std::sin(a)) / x;
      }
    }
    top = std::fabs(x) < 1e-8 ? 1 - u[7] : (std::sin(x) - std::sin(u[7] * x)) / x;
    const double window = TImpulse::Window(options.WindowType, x, scale);
    for (int b = 0; b < kBandCount; ++b) {
      double value = 0.0;
      if (b < 7) value += (p[b] - u[b + 1] * q[b]) / (u[b] - u[b + 1]);
      if (b > 0) value += (u[b - 1] * q[b - 1] - p[b - 1]) / (u[b - 1] - u[b]);
      if (b == 7) value += top;
      shape_[static_cast<size_t>(i) * kBandCount + b] = value * window;
    }
  }
}

void TBandShaper::Add(TBandStreams& streams, double time, double amplitude, const double* gains,
                      int32_t channel, bool early) const {
  if (!std::isfinite(time) || time < 0.0) return;
  if (channel < 0 || channel >= kImpulseChannels) return;
  bool finite = std::isfinite(amplitude);
  for (int b = 0; b < kBandCount; ++b) finite = finite && std::isfinite(gains[b]);
  if (!finite) return;
  const double t = time * sampleRate_;
  const double whole = std::trunc(t);
  if (!(leadIn_ + whole - halfTaps_ + 1 < lengthSamples_)) return;
  const int32_t i0 = static_cast<int32_t>(whole);
  const int32_t start = leadIn_ + i0 - halfTaps_ + 1;
  if (start + taps_ > streams.WrittenEnd) streams.WrittenEnd = start + taps_;

  TStreamStorage& rows = streams.Rows[channel];
  if (rows.get() == nullptr) rows.Reset(RowCount() * kBandCount);
  streams.Used[channel] = true;

  const double f = t - i0;
  const int32_t row = leadIn_ + i0 + Guard();
  if (!early) {
    if (streams.Pending.size() == kPendingArrivals) Flush(streams);
    if (streams.Pending.capacity() < kPendingArrivals) streams.Pending.reserve(kPendingArrivals);
    TPendingArrival& pending = streams.Pending.emplace_back();
    pending.Row = row;
    pending.Channel = channel;
    pending.Fraction = f;
    for (int b = 0; b < kBandCount; ++b) pending.Value[b] = amplitude * gains[b];
    return;
  }
  double value[kBandCount];
  for (int b = 0; b < kBandCount; ++b) value[b] = amplitude * gains[b];
  double* at = rows.get() + static_cast<size_t>(row) * kBandCount;
  {
    double w[kEarlyTaps];
    DelayWeights(early_, kEarlyTaps, f, w);
    rowsAdd_(at - (kEarlyTaps / 2 - 1) * kBandCount, w, kEarlyTaps, value);
  }
}

void TBandShaper::Flush(TBandStreams& streams) const {
  // A counting sort by channel and stretch of rows, stable, so the order
  // of additions into every row is fixed by the arrivals alone.
  const size_t count = streams.Pending.size();
  if (count == 0) return;
  const size_t stretches = (RowCount() >> kStretchShift) + 1;
  std::vector<int32_t>& counts = streams.Counts;
  counts.assign(stretches * kImpulseChannels + 1, 0);
  auto key = [&](const TPendingArrival& a) {
    return static_cast<size_t>(a.Channel) * stretches +
           (static_cast<size_t>(a.Row) >> kStretchShift);
  };
  for (const TPendingArrival& a : streams.Pending) ++counts[key(a) + 1];
  for (size_t k = 1; k < counts.size(); ++k) counts[k] += counts[k - 1];
  streams.Order.resize(count);
  for (size_t i = 0; i < count; ++i) {
    streams.Order[static_cast<size_t>(counts[key(streams.Pending[i])]++)] = static_cast<int32_t>(i);
  }
  for (int32_t i : streams.Order) {
    const TPendingArrival& a = streams.Pending[static_cast<size_t>(i)];
    double w[kLateTaps];
    DelayWeights(late_, kLateTaps, a.Fraction, w);
    double* row = streams.Rows[a.Channel].get() +
                  static_cast<size_t>(a.Row - (kLateTaps / 2 - 1)) * kBandCount;
    rowsAdd_(row, w, kLateTaps, a.Value);
  }
  streams.Pending.clear();
}

void TBandShaper::Render(std::vector<TBandStreams>& shares, TImpulse& impulse,
                         int32_t threads) const {
  int32_t writtenEnd = 0;
  for (TBandStreams& share : shares) {
    Flush(share);
    writtenEnd = std::max(writtenEnd, share.WrittenEnd);
  }
  impulse.WrittenEnd = writtenEnd;
  // The samples the renderer reads (from -H, where the shift starts, to
  // WrittenEnd) and the interpolator's few beyond, inside the buffer.
  const int32_t from = -halfTaps_;
  const int32_t to = std::min(writtenEnd + kEarlyTaps, bufferSamples_ - halfTaps_);
  const size_t values = RowCount() * kBandCount;
  for (int c = 0; c < kImpulseChannels; ++c) {
    std::vector<double*> parts;
    for (TBandStreams& share : shares) {
      if (share.Used[c]) parts.push_back(share.Rows[c].get());
    }
    if (parts.empty()) continue;
    impulse.ChannelUsed[c] = true;
    double* sum = parts.front();
    if (parts.size() > 1) {
      ParallelFor(threads, static_cast<int64_t>(values), [&](int64_t a, int64_t b) {
        for (size_t p = 1; p < parts.size(); ++p) {
          const double* add = parts[p];
          for (int64_t i = a; i < b; ++i) sum[i] = sum[i] + add[i];
        }
      });
    }
    double* out = impulse.Channel(c);
    if (to > from) {
      ParallelFor(threads, to - from, [&](int64_t a, int64_t b) {
        // Row of sample s minus offset o = FirstOffset() + i.
        rowsConvolve_(sum, static_cast<int64_t>(RowCount()), shape_.data(), taps_,
                      int64_t{Guard()} - FirstOffset(), out, static_cast<int32_t>(from + a),
                      static_cast<int32_t>(from + b));
      });
    }
  }
}

}  // namespace zm::fast
