#include "lib/plots/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <set>
#include <tuple>
#include <vector>

#include "lib/audio/acoustics.h"
#include "lib/checks/design_summary.h"
#include "lib/design/design_json.h"
#include "lib/design/room_geometry.h"

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
constexpr double kPlanLeft = 80, kPlanTop = 60, kPlanRight = 700, kPlanBottom = 640;
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

// Grid lines every step, labelled in metres along the bottom and the left
// of the plan.
std::string PlanGrid(const PlanView& v) {
  const double step = v.Step();
  std::string grid = "<g stroke=\"#eeeeee\" stroke-width=\"1\">\n", labels;
  if (v.Span() / step <= 60) {
    const PlanBox& b = v.box;
    const std::string style = "fill=\"#444\" text-anchor=\"middle\"";
    for (double gx = std::ceil(b.minX / step) * step; gx <= b.maxX + 1e-9; gx += step) {
      grid += Line(v.X(gx), v.Y(b.minY), v.X(gx), v.Y(b.maxY), "");
      labels += Text(v.X(gx), v.Y(b.minY) + 18, FormatNumber(gx + 0.0), 12, style);
    }
    for (double gy = std::ceil(b.minY / step) * step; gy <= b.maxY + 1e-9; gy += step) {
      grid += Line(v.X(b.minX), v.Y(gy), v.X(b.maxX), v.Y(gy), "");
      labels += Text(v.X(b.minX) - 8, v.Y(gy) + 4, FormatNumber(gy + 0.0), 12,
                     "fill=\"#444\" text-anchor=\"end\"");
    }
    labels += Text((v.X(b.minX) + v.X(b.maxX)) / 2, v.Y(b.minY) + 38, "x [m]", 13, style);
    const double y = (v.Y(b.minY) + v.Y(b.maxY)) / 2, x = v.X(b.minX) - 44;
    labels +=
        Text(x, y, "y [m]", 13, style + " transform=\"rotate(-90 " + F(x) + " " + F(y) + ")\"");
  }
  return grid + "</g>\n" + labels;
}

// Fifteen rays across each emitter's fan, drawn below the walls and ending
// at the first wall that reflects them.
std::string RayFans(const TDesignRecord& r, const std::vector<PlanEmitter>& emitters,
                    const PlanView& v) {
  Plan reflecting = PlanOf(r);
  std::erase_if(reflecting.walls, [](const PlanSegment& w) { return w.passThrough; });
  std::string svg;
  for (const PlanEmitter& s : emitters) {
    const double direction = s.emitter->Direction, spread = s.emitter->Spread;
    const int rays = 15;
    svg += std::string("<g stroke=\"") + kEmitterColour +
           "\" stroke-width=\"1.2\" stroke-opacity=\"0.55\">\n";
    for (int k = 0; k < rays; ++k) {
      const double angle = (double(k) / (rays - 1) - 0.5) * spread + direction;
      if (!std::isfinite(angle)) continue;
      const RayHit hit = NearestHit(reflecting, s.at.x, s.at.y, angle, -1);
      const double length = std::min(0.18 * v.Span(), hit.wall >= 0 ? hit.distance : HUGE_VAL);
      svg += Line(v.X(s.at.x), v.Y(s.at.y), v.X(s.at.x + length * std::cos(angle)),
                  v.Y(s.at.y + length * std::sin(angle)), "");
    }
    svg += "</g>\n";
  }
  return svg;
}

// A receiver's directivity as a polar curve around its midpoint: the factor
// (1 - w) + w sin(ray angle - wall angle) for sound from each direction, so
// that a cardioid points to the wall's right-hand side; a negative lobe is
// drawn dashed.
std::string DirectivityMark(const TWallEntry& w, const PlanPoint& a, const PlanPoint& b,
                            const PlanView& v) {
  static constexpr double kWeights[] = {0, 0.25, 0.5, 0.75, 1.0};
  const double weight = (w.Pattern >= 1 && w.Pattern <= 4) ? kWeights[w.Pattern] : 0.0;
  const double wallAngle = std::atan2(b.y - a.y, b.x - a.x);
  const double cx = v.X((a.x + b.x) / 2), cy = v.Y((a.y + b.y) / 2), radius = 22;
  std::string positive, negative;
  for (int k = 0; k <= 72; ++k) {
    const double from = k * std::numbers::pi / 36;  // where the sound comes from
    const double gain = (1 - weight) + weight * std::sin(from + std::numbers::pi - wallAngle);
    const std::string point = F(cx + radius * std::fabs(gain) * std::cos(from)) + "," +
                              F(cy - radius * std::fabs(gain) * std::sin(from)) + " ";
    (gain >= 0 ? positive : negative) += point;
  }
  std::string svg = "<polygon points=\"" + positive + "\" fill=\"" + kReceiverColour +
                    "\" fill-opacity=\"0.15\" stroke=\"" + kReceiverColour +
                    "\" stroke-width=\"1\"/>\n";
  if (!negative.empty()) {
    svg += "<polygon points=\"" + negative + "\" fill=\"none\" stroke=\"" + kReceiverColour +
           "\" stroke-width=\"1\" stroke-dasharray=\"3 3\"/>\n";
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
      // The microphone line itself, its pickup pattern, its channel.
      svg += DirectivityMark(w, s.a, s.b, v);
      svg += Line(x1, y1, x2, y2,
                  std::string("stroke=\"") + kReceiverColour + "\" stroke-width=\"4\"");
      const double mx = (x1 + x2) / 2, my = (y1 + y2) / 2;
      svg += Text(mx + 12, my - 12, "ch " + std::to_string(w.Channel), 12,
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
  legend.Entry(
      legend.SampleLine(std::string("stroke=\"") + kReceiverColour + "\" stroke-width=\"4\""),
      "receiver, pickup pattern");
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
  svg += RayFans(r, plan.emitters, view);
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
// Impulse response: waveform, echogram and energy decay curve, one above the
// other on one time axis, the chosen channels overlaid in their colours.

constexpr int kIrWidth = 960, kIrHeight = 930;
constexpr double kIrLeft = 90, kIrRight = 920;
constexpr double kWaveTop = 90, kWaveBottom = 290;
constexpr double kEchoTop = 340, kEchoBottom = 540;
constexpr double kDecayTop = 590, kDecayBottom = 840;
constexpr double kFloorDb = -80;
constexpr int kIrColumns = int(kIrRight - kIrLeft);  // one per pixel

const char* ChannelColour(size_t index) {
  return kPalette[index % std::size(kPalette)];
}

// One drawn channel: its samples (band-filtered when asked) and analysis.
struct IrTrace {
  int channel;
  std::vector<double> x;
  size_t onset;
  BandParameters decay;
};

// The time axis: a little room before time 0, so that a direct sound on
// the first frame stands clear of the panel's edge.
struct IrAxis {
  int rate;
  double duration, lead;

  double TX(double t) const {
    return kIrLeft + (kIrRight - kIrLeft) * (t + lead) / (duration + lead);
  }
  double TimeOfColumn(int c) const { return double(c) / kIrColumns * (duration + lead) - lead; }
  // Levels between 0 and the floor, in a panel from `top` to `bottom`.
  static double LY(double db, double top, double bottom) {
    return top + (bottom - top) * std::clamp(db, kFloorDb, 0.0) / kFloorDb;
  }
  bool InMilliseconds() const { return duration < 1.0; }
};

std::string PanelFrame(double top, double bottom) {
  return "<rect x=\"" + F(kIrLeft) + "\" y=\"" + F(top) + "\" width=\"" + F(kIrRight - kIrLeft) +
         "\" height=\"" + F(bottom - top) + "\" fill=\"none\" stroke=\"#888\"/>\n";
}

// A vertical axis title, centred on its panel.
std::string AxisTitle(const std::string& text, double top, double bottom) {
  const double y = (top + bottom) / 2;
  return Text(22, y, text, 12,
              "fill=\"#444\" text-anchor=\"middle\" transform=\"rotate(-90 22 " + F(y) + ")\"");
}

// Time lines through the three panels, labelled below the last, in
// milliseconds for short files and seconds for long ones.
std::string TimeGrid(const IrAxis& axis) {
  const double step = NiceStep(axis.duration / 6);
  std::string svg;
  for (double t = 0; t <= axis.duration + 1e-12; t += step) {
    for (auto [top, bottom] : {std::pair{kWaveTop, kWaveBottom}, std::pair{kEchoTop, kEchoBottom},
                               std::pair{kDecayTop, kDecayBottom}}) {
      svg += Line(axis.TX(t), top, axis.TX(t), bottom, "stroke=\"#eeeeee\"");
    }
    const std::string label = FormatNumber(axis.InMilliseconds() ? std::round(t * 1000) : t);
    svg += Text(axis.TX(t), kDecayBottom + 18, label, 12, "fill=\"#444\" text-anchor=\"middle\"");
  }
  svg += Text((kIrLeft + kIrRight) / 2, kDecayBottom + 42,
              axis.InMilliseconds() ? "time [ms]" : "time [s]", 13,
              "fill=\"#444\" text-anchor=\"middle\"");
  return svg;
}

// Level lines every 10 dB with their labels.
std::string LevelGrid(double top, double bottom) {
  std::string svg;
  for (double db = 0; db >= kFloorDb; db -= 10) {
    const double y = IrAxis::LY(db, top, bottom);
    svg += Line(kIrLeft, y, kIrRight, y, "stroke=\"#eeeeee\"");
    svg += Text(kIrLeft - 8, y + 4, FormatNumber(db), 12, "fill=\"#444\" text-anchor=\"end\"");
  }
  return svg;
}

// The waveforms as min/max envelopes per pixel column, on an amplitude axis
// in full scale (1 = 0 dBFS) from -peak to +peak.
std::string WaveformPanel(const std::vector<IrTrace>& traces, const IrAxis& axis) {
  double peak = 1e-12;
  for (const IrTrace& trace : traces) {
    for (double v : trace.x) peak = std::max(peak, std::fabs(v));
  }
  const double mid = (kWaveTop + kWaveBottom) / 2, half = (kWaveBottom - kWaveTop) / 2 * 0.95;
  auto y = [&](double v) { return mid - v / peak * half; };
  std::string svg;
  const double step = NiceStep(peak / 2);
  for (double v = -std::floor(peak / step) * step; v <= peak + 1e-15; v += step) {
    svg += Line(kIrLeft, y(v), kIrRight, y(v),
                std::abs(v) < step / 2 ? "stroke=\"#bbbbbb\"" : "stroke=\"#eeeeee\"");
    svg += Text(kIrLeft - 8, y(v) + 4, FormatNumber(std::abs(v) < step / 2 ? 0 : v), 12,
                "fill=\"#444\" text-anchor=\"end\"");
  }
  for (size_t k = 0; k < traces.size(); ++k) {
    const std::vector<double>& x = traces[k].x;
    std::string upper, lower;
    for (int c = 0; c < kIrColumns; ++c) {
      const double t0 = axis.TimeOfColumn(c), t1 = axis.TimeOfColumn(c + 1);
      if (t1 <= 0) continue;
      const size_t from = size_t(std::max(0.0, t0) * axis.rate);
      const size_t to = std::max(from + 1, size_t(t1 * axis.rate));
      double lo = 0, hi = 0;
      for (size_t i = from; i < to && i < x.size(); ++i) {
        lo = std::min(lo, x[i]);
        hi = std::max(hi, x[i]);
      }
      upper += F(kIrLeft + c) + "," + F(y(hi)) + " ";
      lower = F(kIrLeft + c) + "," + F(y(lo)) + " " + lower;
    }
    svg += std::string("<polygon points=\"") + upper + lower + "\" fill=\"" + ChannelColour(k) +
           "\" fill-opacity=\"0.55\" stroke=\"" + ChannelColour(k) + "\" stroke-width=\"0.6\"/>\n";
  }
  svg += PanelFrame(kWaveTop, kWaveBottom);
  svg += Text(kIrLeft, kWaveTop - 10, "Waveform (peak " + PeakDb(peak) + " dBFS)", 14,
              "fill=\"#222\"");
  return svg + AxisTitle("amplitude [full scale]", kWaveTop, kWaveBottom);
}

// The echogram: the largest energy in each pixel column, in dB below the
// loudest sample of all channels drawn.
std::string EchogramPanel(const std::vector<IrTrace>& traces, const IrAxis& axis) {
  double peak = 1e-300;
  for (const IrTrace& trace : traces) {
    for (double v : trace.x) peak = std::max(peak, v * v);
  }
  std::string svg = LevelGrid(kEchoTop, kEchoBottom);
  for (size_t k = 0; k < traces.size(); ++k) {
    std::string points;
    for (int c = 0; c < kIrColumns; ++c) {
      const double t0 = axis.TimeOfColumn(c), t1 = axis.TimeOfColumn(c + 1);
      if (t1 <= 0) continue;
      const size_t from = size_t(std::max(0.0, t0) * axis.rate);
      const size_t to = std::max(from + 1, size_t(t1 * axis.rate));
      double energy = 0;
      for (size_t i = from; i < to && i < traces[k].x.size(); ++i) {
        energy = std::max(energy, traces[k].x[i] * traces[k].x[i]);
      }
      const double db = energy > 0 ? 10 * std::log10(energy / peak) : kFloorDb;
      points += F(kIrLeft + c) + "," + F(IrAxis::LY(db, kEchoTop, kEchoBottom)) + " ";
    }
    svg += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"" + ChannelColour(k) +
           "\" stroke-width=\"1\"/>\n";
  }
  svg += PanelFrame(kEchoTop, kEchoBottom);
  svg += Text(kIrLeft, kEchoTop - 10, "Echogram (energy per pixel, relative to the loudest sample)",
              14, "fill=\"#222\"");
  return svg + AxisTitle("level [dB]", kEchoTop, kEchoBottom);
}

// A decay fit as a line from 0 dB down to the floor.
std::string FitLine(const DecayFit& fit, const IrTrace& trace, const IrAxis& axis,
                    const char* colour, const char* dashes) {
  const double onsetTime = double(trace.onset) / axis.rate;
  const double t0 = onsetTime + std::max(0.0, -fit.intercept / fit.slope);
  const double t1 = std::min(axis.duration, onsetTime + (kFloorDb - fit.intercept) / fit.slope);
  auto level = [&](double t) { return fit.intercept + fit.slope * (t - onsetTime); };
  return Line(axis.TX(t0), IrAxis::LY(level(t0), kDecayTop, kDecayBottom), axis.TX(t1),
              IrAxis::LY(level(t1), kDecayTop, kDecayBottom),
              std::string("stroke=\"") + colour + "\" stroke-width=\"1.6\" stroke-dasharray=\"" +
                  dashes + "\"");
}

// The energy decay curves from their onsets, with their T20 (dotted) and
// T30 (dashed) fits and values.
std::string DecayPanel(const std::vector<IrTrace>& traces, const IrAxis& axis) {
  std::string svg = LevelGrid(kDecayTop, kDecayBottom);
  double labelY = kDecayTop + 20;
  for (size_t k = 0; k < traces.size(); ++k) {
    const IrTrace& trace = traces[k];
    if (trace.onset >= trace.x.size()) continue;
    const std::vector<double> edc = EnergyDecayCurve(trace.x, trace.onset);
    std::string points;
    for (int c = 0; c < kIrColumns; ++c) {
      const double i = axis.TimeOfColumn(c) * axis.rate;
      if (i < double(trace.onset)) continue;
      const size_t n = size_t(i) - trace.onset;
      if (n >= edc.size() || !std::isfinite(edc[n]) || edc[n] < kFloorDb) break;
      points += F(kIrLeft + c) + "," + F(IrAxis::LY(edc[n], kDecayTop, kDecayBottom)) + " ";
    }
    const char* colour = ChannelColour(k);
    svg += std::string("<polyline points=\"") + points + "\" fill=\"none\" stroke=\"" + colour +
           "\" stroke-width=\"2.5\"/>\n";
    std::string label = "ch " + std::to_string(trace.channel) + ":";
    for (const auto& [name, fit, value, dashes] :
         {std::tuple{"T20", &trace.decay.t20Fit, trace.decay.t20, "2 4"},
          std::tuple{"T30", &trace.decay.t30Fit, trace.decay.t30, "9 5"}}) {
      char text[64];
      std::snprintf(text, sizeof text, fit->valid ? " %s %.2f s" : " %s n/a", name, value);
      label += text;
      if (fit->valid) svg += FitLine(*fit, trace, axis, colour, dashes);
    }
    svg += Text(kIrRight - 12, labelY, label, 13,
                std::string("fill=\"") + colour + "\" text-anchor=\"end\" font-weight=\"bold\"");
    labelY += 18;
  }
  svg += PanelFrame(kDecayTop, kDecayBottom);
  svg += Text(kIrLeft, kDecayTop - 10,
              "Energy decay curve (Schroeder) with T20 (dotted) and T30 (dashed) fits", 14,
              "fill=\"#222\"");
  return svg + AxisTitle("level [dB]", kDecayTop, kDecayBottom);
}

// The channels and their colours, in one line under the caption.
std::string ChannelLegend(const std::vector<IrTrace>& traces, const std::string& band) {
  std::string svg;
  double x = kIrLeft;
  for (size_t k = 0; k < traces.size(); ++k) {
    svg += Line(x, 57, x + 22, 57,
                std::string("stroke=\"") + ChannelColour(k) + "\" stroke-width=\"4\"");
    svg += Text(x + 28, 61, "channel " + std::to_string(traces[k].channel), 13, "fill=\"#222\"");
    x += 110;
  }
  return svg + Text(kIrRight, 61, band, 13, "fill=\"#222\" text-anchor=\"end\"");
}

}  // namespace

std::string ImpulseResponseSvg(const AudioData& audio, const std::vector<int>& channels,
                               double bandCentre, const std::string& caption) {
  std::vector<IrTrace> traces;
  for (int channel : channels) {
    IrTrace trace{channel, audio.channels.at(size_t(channel)), 0, {}};
    if (bandCentre > 0) trace.x = OctaveFilter(trace.x, bandCentre, audio.sampleRate);
    trace.onset = FindOnset(trace.x);
    trace.decay = AnalyseBand(trace.x, trace.onset, audio.sampleRate);
    traces.push_back(std::move(trace));
  }
  const double duration =
      std::max(1.0 / audio.sampleRate, double(audio.Frames()) / audio.sampleRate);
  const IrAxis axis{audio.sampleRate, duration, duration * 0.02};
  std::string svg = Header(kIrWidth, kIrHeight);
  svg += Text(kIrLeft, 36, caption, 20, "font-weight=\"bold\" fill=\"#222\"");
  svg +=
      ChannelLegend(traces, bandCentre > 0 ? BandName(bandCentre) + " octave band" : "broadband");
  svg += TimeGrid(axis);
  svg += WaveformPanel(traces, axis);
  svg += EchogramPanel(traces, axis);
  svg += DecayPanel(traces, axis);
  return svg + "</svg>\n";
}

}  // namespace zm::cli
