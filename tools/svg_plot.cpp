#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <set>
#include <vector>

#include "acoustics.h"
#include "design_json.h"
#include "design_summary.h"

namespace zm::cli {

namespace {

constexpr const char* kPalette[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#9467bd", "#8c564b",
                                    "#e377c2", "#17becf", "#bcbd22", "#7f7f7f", "#393b79"};
constexpr const char* kReceiverColour = "#d62728";
constexpr const char* kFont = "font-family=\"Helvetica, Arial, sans-serif\"";

std::string F(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", v);
  return buffer;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        if (c < 0x20) {
          out += ' ';
        } else if (c >= 0x80) {
          // Names are 8-bit text; show each byte as its Latin-1 character.
          out += "&#" + std::to_string(int(c)) + ";";
        } else {
          out += char(c);
        }
    }
  }
  return out;
}

std::string Text(double x, double y, const std::string& text, int size,
                 const std::string& extra = "") {
  return "<text x=\"" + F(x) + "\" y=\"" + F(y) + "\" font-size=\"" + std::to_string(size) + "\" " +
         kFont + (extra.empty() ? "" : " " + extra) + ">" + Escape(text) + "</text>\n";
}

std::string Line(double x1, double y1, double x2, double y2, const std::string& style) {
  return "<line x1=\"" + F(x1) + "\" y1=\"" + F(y1) + "\" x2=\"" + F(x2) + "\" y2=\"" + F(y2) +
         "\" " + style + "/>\n";
}

std::string Header(int width, int height) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
         std::to_string(width) + "\" height=\"" + std::to_string(height) + "\" viewBox=\"0 0 " +
         std::to_string(width) + " " + std::to_string(height) + "\">\n<rect width=\"" +
         std::to_string(width) + "\" height=\"" + std::to_string(height) +
         "\" fill=\"#ffffff\"/>\n";
}

// 1, 2 or 5 times a power of ten, not above `limit`.
double NiceStep(double limit) {
  if (!(limit > 0) || !std::isfinite(limit)) return 1.0;
  const double power = std::pow(10.0, std::floor(std::log10(limit)));
  for (double m : {5.0, 2.0, 1.0}) {
    if (m * power <= limit) return m * power;
  }
  return power;
}

std::string FormatNumber(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", v);
  return buffer;
}

std::string PeakDb(double peak) {
  char buffer[32];
  const double db = 20 * std::log10(peak);
  std::snprintf(buffer, sizeof buffer, "%.1f", std::fabs(db) < 0.05 ? 0.0 : db);
  return buffer;
}

std::string Plural(size_t count, const std::string& word) {
  return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

// ---------------------------------------------------------------------------
// Plan

// The picture: the plan on the left, its legend on the right.
constexpr int kPlanWidth = 960, kPlanHeight = 720;
constexpr double kPlanLeft = 40, kPlanTop = 60, kPlanRight = 700, kPlanBottom = 650;
constexpr const char* kEmitterColour = "#f4a300";
constexpr const char* kEmitterEdgeColour = "#7a5200";
constexpr const char* kReceiverUnderlay =
    "stroke=\"#d62728\" stroke-width=\"9\" stroke-opacity=\"0.35\"";

const char* MaterialColour(int material) {
  return (material >= 0 && material < ZM_MATERIAL_SLOTS) ? kPalette[material % std::size(kPalette)]
                                                         : "#000000";
}

struct PlanWall {
  PlanPoint a, b;
  const TWallEntry* wall;
};

struct PlanEmitter {
  PlanPoint at;
  int slot;
  const TEmitterEntry* emitter;
};

// What the plan shows: the used walls and emitters whose points exist, and
// the box around their finite points (a unit box when there are none).
struct PlanContent {
  std::vector<PlanWall> walls;
  std::vector<PlanEmitter> emitters;
  PlanBox box;

  void Extend(const PlanPoint& p) {
    if (std::isfinite(p.x) && std::isfinite(p.y)) box.Extend(p);
  }
};

PlanContent CollectPlan(const TDesignRecord& r) {
  PlanContent plan;
  for (const TWallEntry& w : r.Walls) {
    PlanWall s{{}, {}, &w};
    if (!w.InUse || !PointInMetres(r, w.StartPoint, s.a) || !PointInMetres(r, w.EndPoint, s.b)) {
      continue;
    }
    plan.Extend(s.a);
    plan.Extend(s.b);
    plan.walls.push_back(s);
  }
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    const TEmitterEntry& e = r.Emitters[i];
    PlanEmitter s{{}, i, &e};
    if (!e.InUse || !PointInMetres(r, e.Point, s.at)) continue;
    plan.Extend(s.at);
    plan.emitters.push_back(s);
  }
  if (plan.box.Empty()) plan.box = {0, 0, 1, 1};
  return plan;
}

// Metres to pixels: the plan centred in its area with a margin, north up.
struct PlanView {
  PlanBox box;
  double spanX, spanY, scale, offsetX, offsetY;

  explicit PlanView(const PlanBox& plan)
      : box(plan),
        spanX(std::max(plan.Width(), 1e-9)),
        spanY(std::max(plan.Height(), 1e-9)),
        scale(std::min((kPlanRight - kPlanLeft) / spanX, (kPlanBottom - kPlanTop) / spanY) * 0.92),
        offsetX(kPlanLeft + ((kPlanRight - kPlanLeft) - spanX * scale) / 2),
        offsetY(kPlanTop + ((kPlanBottom - kPlanTop) - spanY * scale) / 2) {}

  double X(double x) const { return offsetX + (x - box.minX) * scale; }
  double Y(double y) const { return offsetY + (box.maxY - y) * scale; }
  double Span() const { return std::max(spanX, spanY); }
  // The grid and scale-bar step.
  double Step() const { return NiceStep(Span() / 5); }
};

std::string PlanGrid(const PlanView& v) {
  const double step = v.Step();
  std::string svg = "<g stroke=\"#eeeeee\" stroke-width=\"1\">\n";
  if (v.Span() / step <= 60) {
    const PlanBox& b = v.box;
    for (double gx = std::ceil(b.minX / step) * step; gx <= b.maxX; gx += step) {
      svg += Line(v.X(gx), v.Y(b.minY), v.X(gx), v.Y(b.maxY), "");
    }
    for (double gy = std::ceil(b.minY / step) * step; gy <= b.maxY; gy += step) {
      svg += Line(v.X(b.minX), v.Y(gy), v.X(b.maxX), v.Y(gy), "");
    }
  }
  return svg + "</g>\n";
}

// Fifteen rays across each emitter's fan, drawn below the walls.
std::string RayFans(const std::vector<PlanEmitter>& emitters, const PlanView& v) {
  std::string svg;
  for (const PlanEmitter& s : emitters) {
    const double direction = s.emitter->Direction, spread = s.emitter->Spread;
    const double length = 0.18 * v.Span();
    const int rays = 15;
    svg += std::string("<g stroke=\"") + kEmitterColour +
           "\" stroke-width=\"1.2\" stroke-opacity=\"0.55\">\n";
    for (int k = 0; k < rays; ++k) {
      const double angle = (double(k) / (rays - 1) - 0.5) * spread + direction;
      if (!std::isfinite(angle)) continue;
      svg += Line(v.X(s.at.x), v.Y(s.at.y), v.X(s.at.x + length * std::cos(angle)),
                  v.Y(s.at.y + length * std::sin(angle)), "");
    }
    svg += "</g>\n";
  }
  return svg;
}

// Walls coloured by material; receivers underlaid in red and marked with
// their channel, pass-through walls dashed.
std::string PlanWalls(const std::vector<PlanWall>& walls, const PlanView& v) {
  std::string svg;
  for (const PlanWall& s : walls) {
    const TWallEntry& w = *s.wall;
    const double x1 = v.X(s.a.x), y1 = v.Y(s.a.y), x2 = v.X(s.b.x), y2 = v.Y(s.b.y);
    if (w.Receiver) {
      svg += Line(x1, y1, x2, y2, std::string(kReceiverUnderlay) + " stroke-linecap=\"round\"");
    }
    std::string style = std::string("stroke=\"") + MaterialColour(w.Material) +
                        "\" stroke-width=\"3\" stroke-linecap=\"round\"";
    if (w.PassThrough) style += " stroke-dasharray=\"8 5\"";
    svg += Line(x1, y1, x2, y2, style);
    if (w.Receiver) {
      const double mx = (x1 + x2) / 2, my = (y1 + y2) / 2;
      svg += "<circle cx=\"" + F(mx) + "\" cy=\"" + F(my) + "\" r=\"7\" fill=\"" + kReceiverColour +
             "\" stroke=\"#ffffff\" stroke-width=\"1.5\"/>\n";
      svg += Text(mx + 9, my - 8, "ch " + std::to_string(w.Channel), 12,
                  std::string("fill=\"") + kReceiverColour + "\" font-weight=\"bold\"");
    }
  }
  return svg;
}

std::string EmitterMarks(const std::vector<PlanEmitter>& emitters, const PlanView& v) {
  std::string svg;
  for (const PlanEmitter& s : emitters) {
    svg += "<circle cx=\"" + F(v.X(s.at.x)) + "\" cy=\"" + F(v.Y(s.at.y)) + "\" r=\"7\" fill=\"" +
           kEmitterColour + "\" stroke=\"" + kEmitterEdgeColour + "\" stroke-width=\"1.5\"/>\n";
    std::string label = "E";
    label.append(std::to_string(s.slot)).append(" (group ");
    label.append(std::to_string(s.emitter->Group)).append(")");
    svg += Text(v.X(s.at.x) + 10, v.Y(s.at.y) + 16, label, 12,
                std::string("fill=\"") + kEmitterEdgeColour + "\"");
  }
  return svg;
}

std::string ScaleBar(const PlanView& v) {
  const double step = v.Step();
  const double x = kPlanLeft, y = kPlanHeight - 30, length = step * v.scale;
  std::string svg = Line(x, y, x + length, y, "stroke=\"#222\" stroke-width=\"3\"");
  svg += Line(x, y - 6, x, y + 6, "stroke=\"#222\" stroke-width=\"2\"");
  svg += Line(x + length, y - 6, x + length, y + 6, "stroke=\"#222\" stroke-width=\"2\"");
  svg += Text(x + length + 10, y + 5, FormatNumber(step) + " m", 14, "fill=\"#222\"");
  return svg;
}

// The legend's entries: a sample stroke and a label, one per line from `y`.
struct Legend {
  double x = kPlanRight + 30;
  double y = kPlanTop + 10;
  std::string svg;

  void Heading(const std::string& text) {
    svg += Text(x, y, text, 16, "font-weight=\"bold\" fill=\"#222\"");
    y += 24;
  }
  void Entry(const std::string& sample, const std::string& label) {
    svg += sample;
    svg += Text(x + 36, y, label, 13, "fill=\"#222\"");
    y += 22;
  }
  std::string SampleLine(const std::string& style) const {
    return Line(x, y - 5, x + 28, y - 5, style);
  }
};

// Each material a wall uses, in slot order, with its colour.
void MaterialLegend(const TDesignRecord& r, const std::vector<PlanWall>& walls, Legend& legend) {
  std::set<int> materials;
  for (const PlanWall& s : walls) materials.insert(int(s.wall->Material));
  legend.Heading("Materials");
  for (int material : materials) {
    std::string name = material >= 0 && material < ZM_MATERIAL_SLOTS
                           ? NameText(r.Materials[material].Name)
                           : "slot " + std::to_string(material);
    if (name.size() > 28) name = name.substr(0, 27) + "...";
    legend.Entry(legend.SampleLine(std::string("stroke=\"") + MaterialColour(material) +
                                   "\" stroke-width=\"4\""),
                 name);
  }
}

void MarksLegend(Legend& legend) {
  legend.y += 12;
  legend.Heading("Marks");
  legend.Entry(legend.SampleLine(kReceiverUnderlay), "receiver (microphone line)");
  legend.Entry(legend.SampleLine("stroke=\"#555\" stroke-width=\"3\" stroke-dasharray=\"8 5\""),
               "pass-through wall");
  legend.Entry("<circle cx=\"" + F(legend.x + 14) + "\" cy=\"" + F(legend.y - 5) +
                   "\" r=\"6\" fill=\"" + kEmitterColour + "\" stroke=\"" + kEmitterEdgeColour +
                   "\"/>\n",
               "emitter and its ray fan");
}

void CountsLegend(const PlanContent& plan, const PlanView& v, Legend& legend) {
  legend.y += 12;
  size_t receivers = 0;
  for (const PlanWall& s : plan.walls) receivers += s.wall->Receiver ? 1 : 0;
  legend.svg += Text(legend.x, legend.y,
                     Plural(plan.walls.size(), "wall") + ", " + Plural(receivers, "receiver") +
                         ", " + Plural(plan.emitters.size(), "emitter"),
                     13, "fill=\"#555\"");
  legend.y += 20;
  char size[96];
  std::snprintf(size, sizeof size, "plan %.1f m x %.1f m", v.spanX, v.spanY);
  legend.svg += Text(legend.x, legend.y, size, 13, "fill=\"#555\"");
}

}  // namespace

std::string PlanSvg(const TDesignRecord& r, const std::string& caption) {
  const PlanContent plan = CollectPlan(r);
  const PlanView view(plan.box);
  std::string svg = Header(kPlanWidth, kPlanHeight);
  svg += Text(kPlanLeft, 34, caption.empty() ? "Plan" : caption, 22,
              "font-weight=\"bold\" fill=\"#222\"");
  svg += PlanGrid(view);
  svg += RayFans(plan.emitters, view);
  svg += PlanWalls(plan.walls, view);
  svg += EmitterMarks(plan.emitters, view);
  svg += ScaleBar(view);
  Legend legend;
  MaterialLegend(r, plan.walls, legend);
  MarksLegend(legend);
  CountsLegend(plan, view, legend);
  return svg + legend.svg + "</svg>\n";
}

namespace {

// ---------------------------------------------------------------------------
// Impulse response: the waveform above, the energy decay curve below, on one
// time axis

constexpr int kIrWidth = 960, kIrHeight = 680;
constexpr double kIrLeft = 80, kIrRight = 920;
constexpr double kWaveTop = 70, kWaveBottom = 290;
constexpr double kDecayTop = 360, kDecayBottom = 620;
constexpr double kDecayFloorDb = -80;
constexpr int kIrColumns = int(kIrRight - kIrLeft);  // one per pixel

// The channel drawn and its time axis.
struct IrView {
  const std::vector<double>& x;
  int rate;
  double duration;

  IrView(const std::vector<double>& samples, int sampleRate)
      : x(samples),
        rate(sampleRate),
        duration(std::max(1.0 / sampleRate, double(samples.size()) / sampleRate)) {}

  double TX(double t) const { return kIrLeft + (kIrRight - kIrLeft) * t / duration; }
  // Levels below the floor are drawn on it.
  static double TY(double db) {
    return kDecayTop +
           (kDecayBottom - kDecayTop) * std::clamp(db, kDecayFloorDb, 0.0) / kDecayFloorDb;
  }
};

std::string PanelFrame(double top, double bottom) {
  return "<rect x=\"" + F(kIrLeft) + "\" y=\"" + F(top) + "\" width=\"" + F(kIrRight - kIrLeft) +
         "\" height=\"" + F(bottom - top) + "\" fill=\"none\" stroke=\"#888\"/>\n";
}

// Time lines through both panels, labelled below the lower one.
std::string TimeGrid(const IrView& v) {
  const double step = NiceStep(v.duration / 6);
  auto label = [&](double t) {
    return v.duration < 1.0 ? FormatNumber(std::round(t * 1000)) + " ms" : FormatNumber(t) + " s";
  };
  std::string svg;
  for (double t = 0; t <= v.duration + 1e-12; t += step) {
    for (auto [y0, y1] : {std::pair{kWaveTop, kWaveBottom}, std::pair{kDecayTop, kDecayBottom}}) {
      svg += Line(v.TX(t), y0, v.TX(t), y1, "stroke=\"#eeeeee\"");
    }
    svg += Text(v.TX(t) - 14, kDecayBottom + 20, label(t), 12, "fill=\"#444\"");
  }
  return svg;
}

// The waveform as a min/max envelope per pixel column, scaled to its peak.
std::string WaveformPanel(const IrView& v, int channel) {
  double peak = 1e-12;
  for (double s : v.x) peak = std::max(peak, std::fabs(s));
  const double mid = (kWaveTop + kWaveBottom) / 2, half = (kWaveBottom - kWaveTop) / 2;
  const std::vector<double>& x = v.x;
  std::string upper, lower;
  for (int c = 0; c < kIrColumns; ++c) {
    const size_t from = size_t(double(c) / kIrColumns * x.size());
    const size_t to = std::max(from + 1, size_t(double(c + 1) / kIrColumns * x.size()));
    double lo = 0, hi = 0;
    for (size_t i = from; i < to && i < x.size(); ++i) {
      lo = std::min(lo, x[i]);
      hi = std::max(hi, x[i]);
    }
    upper += F(kIrLeft + c) + "," + F(mid - hi / peak * half) + " ";
    lower = F(kIrLeft + c) + "," + F(mid - lo / peak * half) + " " + lower;
  }
  std::string svg = Line(kIrLeft, mid, kIrRight, mid, "stroke=\"#bbbbbb\"");
  svg += "<polygon points=\"" + upper + lower +
         "\" fill=\"#1f77b4\" stroke=\"#1f77b4\" stroke-width=\"0.6\"/>\n";
  svg += PanelFrame(kWaveTop, kWaveBottom);
  svg += Text(kIrLeft, kWaveTop - 10,
              "Waveform, channel " + std::to_string(channel) + " (peak " + PeakDb(peak) + " dBFS)",
              14, "fill=\"#222\"");
  return svg;
}

std::string LevelGrid() {
  std::string svg;
  for (double db = 0; db >= kDecayFloorDb; db -= 10) {
    svg += Line(kIrLeft, IrView::TY(db), kIrRight, IrView::TY(db), "stroke=\"#eeeeee\"");
    svg += Text(kIrLeft - 46, IrView::TY(db) + 4, FormatNumber(db) + " dB", 12, "fill=\"#444\"");
  }
  return svg;
}

// The curve from the onset until it leaves the panel.
std::string DecayCurve(const IrView& v, size_t onset) {
  const std::vector<double> edc = EnergyDecayCurve(v.x, onset);
  std::string points;
  for (int c = 0; c < kIrColumns; ++c) {
    const double t = double(c) / kIrColumns * v.duration;
    const double i = t * v.rate;
    if (i < double(onset)) continue;
    const size_t k = size_t(i) - onset;
    if (k >= edc.size() || !std::isfinite(edc[k]) || edc[k] < kDecayFloorDb) break;
    points += F(kIrLeft + c) + "," + F(IrView::TY(edc[k])) + " ";
  }
  return "<polyline points=\"" + points +
         "\" fill=\"none\" stroke=\"#2ca02c\" stroke-width=\"2.5\"/>\n";
}

// The broadband T30 fit as a line from 0 dB down to the floor, and its value.
std::string T30Fit(const IrView& v, size_t onset) {
  const BandParameters broadband = AnalyseBand(v.x, onset, v.rate);
  if (!broadband.t30Fit.valid) {
    return Text(kIrRight - 290, kDecayTop + 24, "T30 n/a (decay range too small)", 14,
                "fill=\"#d62728\"");
  }
  const DecayFit& fit = broadband.t30Fit;
  const double onsetTime = double(onset) / v.rate;
  const double t0 = onsetTime + std::max(0.0, (0.0 - fit.intercept) / fit.slope);
  const double t1 = std::min(v.duration, onsetTime + (kDecayFloorDb - fit.intercept) / fit.slope);
  auto level = [&](double t) { return fit.intercept + fit.slope * (t - onsetTime); };
  std::string svg = Line(v.TX(t0), IrView::TY(level(t0)), v.TX(t1), IrView::TY(level(t1)),
                         "stroke=\"#d62728\" stroke-width=\"2\" stroke-dasharray=\"7 5\"");
  char label[96];
  std::snprintf(label, sizeof label, "T30 = %.2f s (fit from -5 to -35 dB)", broadband.t30);
  svg += Text(kIrRight - 290, kDecayTop + 24, label, 14, "fill=\"#d62728\" font-weight=\"bold\"");
  return svg;
}

// The energy decay curve from the onset, 0 to -80 dB.
std::string DecayPanel(const IrView& v) {
  std::string svg = LevelGrid();
  const size_t onset = FindOnset(v.x);
  if (onset < v.x.size()) svg += DecayCurve(v, onset) + T30Fit(v, onset);
  svg += PanelFrame(kDecayTop, kDecayBottom);
  svg += Text(kIrLeft, kDecayTop - 10, "Energy decay curve (Schroeder)", 14, "fill=\"#222\"");
  return svg;
}

}  // namespace

std::string ImpulseResponseSvg(const AudioData& audio, int channel, const std::string& caption) {
  const IrView view(audio.channels.at(size_t(channel)), audio.sampleRate);
  std::string svg = Header(kIrWidth, kIrHeight);
  svg += Text(kIrLeft, 36, caption, 20, "font-weight=\"bold\" fill=\"#222\"");
  svg += TimeGrid(view);
  svg += WaveformPanel(view, channel);
  svg += DecayPanel(view);
  svg += Text((kIrLeft + kIrRight) / 2 - 20, kDecayBottom + 44, "time", 13, "fill=\"#444\"");
  return svg + "</svg>\n";
}

}  // namespace zm::cli
