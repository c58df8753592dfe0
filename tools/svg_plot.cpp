#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
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

}  // namespace

std::string PlanSvg(const TDesignRecord& r, const std::string& caption) {
  const int width = 960, height = 720;
  const double left = 40, top = 60, right = 700, bottom = 650;

  struct Segment {
    PlanPoint a, b;
    int slot;
    const TWallEntry* wall;
  };
  std::vector<Segment> walls;
  double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
  auto extend = [&](const PlanPoint& p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return;
    minX = std::min(minX, p.x);
    maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y);
    maxY = std::max(maxY, p.y);
  };
  for (int i = 0; i < ZM_WALL_SLOTS; ++i) {
    const TWallEntry& w = r.Walls[i];
    Segment s{{}, {}, i, &w};
    if (!w.InUse || !PointInMetres(r, w.StartPoint, s.a) || !PointInMetres(r, w.EndPoint, s.b)) {
      continue;
    }
    extend(s.a);
    extend(s.b);
    walls.push_back(s);
  }
  struct Source {
    PlanPoint at;
    int slot;
    const TEmitterEntry* emitter;
  };
  std::vector<Source> emitters;
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    const TEmitterEntry& e = r.Emitters[i];
    Source s{{}, i, &e};
    if (!e.InUse || !PointInMetres(r, e.Point, s.at)) continue;
    extend(s.at);
    emitters.push_back(s);
  }
  if (!(minX <= maxX)) minX = minY = 0, maxX = maxY = 1;
  const double spanX = std::max(maxX - minX, 1e-9), spanY = std::max(maxY - minY, 1e-9);
  const double scale = std::min((right - left) / spanX, (bottom - top) / spanY) * 0.92;
  const double offsetX = left + ((right - left) - spanX * scale) / 2;
  const double offsetY = top + ((bottom - top) - spanY * scale) / 2;
  auto X = [&](double x) { return offsetX + (x - minX) * scale; };
  auto Y = [&](double y) { return offsetY + (maxY - y) * scale; };  // north is up

  std::string svg = Header(width, height);
  svg +=
      Text(left, 34, caption.empty() ? "Plan" : caption, 22, "font-weight=\"bold\" fill=\"#222\"");

  // A light grid at the scale-bar step.
  const double step = NiceStep(std::max(spanX, spanY) / 5);
  svg += "<g stroke=\"#eeeeee\" stroke-width=\"1\">\n";
  if (std::max(spanX, spanY) / step <= 60) {
    for (double gx = std::ceil(minX / step) * step; gx <= maxX; gx += step) {
      svg += Line(X(gx), Y(minY), X(gx), Y(maxY), "");
    }
    for (double gy = std::ceil(minY / step) * step; gy <= maxY; gy += step) {
      svg += Line(X(minX), Y(gy), X(maxX), Y(gy), "");
    }
  }
  svg += "</g>\n";

  // Emitter ray fans below the walls.
  for (const Source& s : emitters) {
    const TEmitterEntry& e = *s.emitter;
    const double direction = e.Direction, spread = e.Spread;
    const double length = 0.18 * std::max(spanX, spanY);
    const int rays = 15;
    svg += "<g stroke=\"#f4a300\" stroke-width=\"1.2\" stroke-opacity=\"0.55\">\n";
    for (int k = 0; k < rays; ++k) {
      const double angle = (double(k) / (rays - 1) - 0.5) * spread + direction;
      if (!std::isfinite(angle)) continue;
      svg += Line(X(s.at.x), Y(s.at.y), X(s.at.x + length * std::cos(angle)),
                  Y(s.at.y + length * std::sin(angle)), "");
    }
    svg += "</g>\n";
  }

  // Walls, coloured by material; receivers underlaid in red, pass-through
  // walls dashed.
  std::map<int, bool> materialsShown;
  for (const Segment& s : walls) {
    const TWallEntry& w = *s.wall;
    const int material = w.Material;
    const char* colour = (material >= 0 && material < ZM_MATERIAL_SLOTS)
                             ? kPalette[material % std::size(kPalette)]
                             : "#000000";
    materialsShown[material] = true;
    if (w.Receiver) {
      svg += Line(X(s.a.x), Y(s.a.y), X(s.b.x), Y(s.b.y),
                  std::string("stroke=\"") + kReceiverColour +
                      "\" stroke-width=\"9\" stroke-opacity=\"0.35\" stroke-linecap=\"round\"");
    }
    std::string style =
        std::string("stroke=\"") + colour + "\" stroke-width=\"3\" stroke-linecap=\"round\"";
    if (w.PassThrough) style += " stroke-dasharray=\"8 5\"";
    svg += Line(X(s.a.x), Y(s.a.y), X(s.b.x), Y(s.b.y), style);
    if (w.Receiver) {
      const double mx = (X(s.a.x) + X(s.b.x)) / 2, my = (Y(s.a.y) + Y(s.b.y)) / 2;
      svg += "<circle cx=\"" + F(mx) + "\" cy=\"" + F(my) + "\" r=\"7\" fill=\"" + kReceiverColour +
             "\" stroke=\"#ffffff\" stroke-width=\"1.5\"/>\n";
      svg += Text(mx + 9, my - 8, "ch " + std::to_string(w.Channel), 12,
                  std::string("fill=\"") + kReceiverColour + "\" font-weight=\"bold\"");
    }
  }

  for (const Source& s : emitters) {
    svg += "<circle cx=\"" + F(X(s.at.x)) + "\" cy=\"" + F(Y(s.at.y)) +
           "\" r=\"7\" fill=\"#f4a300\" stroke=\"#7a5200\" stroke-width=\"1.5\"/>\n";
    std::string label = "E";
    label.append(std::to_string(s.slot)).append(" (group ");
    label.append(std::to_string(s.emitter->Group)).append(")");
    svg += Text(X(s.at.x) + 10, Y(s.at.y) + 16, label, 12, "fill=\"#7a5200\"");
  }

  // Metre scale.
  const double barX = left, barY = height - 30;
  svg += Line(barX, barY, barX + step * scale, barY, "stroke=\"#222\" stroke-width=\"3\"");
  svg += Line(barX, barY - 6, barX, barY + 6, "stroke=\"#222\" stroke-width=\"2\"");
  svg += Line(barX + step * scale, barY - 6, barX + step * scale, barY + 6,
              "stroke=\"#222\" stroke-width=\"2\"");
  svg += Text(barX + step * scale + 10, barY + 5, FormatNumber(step) + " m", 14, "fill=\"#222\"");

  // Legend.
  double ly = top + 10;
  const double lx = right + 30;
  svg += Text(lx, ly, "Materials", 16, "font-weight=\"bold\" fill=\"#222\"");
  ly += 24;
  for (const auto& [material, shown] : materialsShown) {
    (void)shown;
    std::string name = material >= 0 && material < ZM_MATERIAL_SLOTS
                           ? NameText(r.Materials[material].Name)
                           : "slot " + std::to_string(material);
    if (name.size() > 28) name = name.substr(0, 27) + "...";
    const char* colour = (material >= 0 && material < ZM_MATERIAL_SLOTS)
                             ? kPalette[material % std::size(kPalette)]
                             : "#000000";
    svg += Line(lx, ly - 5, lx + 28, ly - 5,
                std::string("stroke=\"") + colour + "\" stroke-width=\"4\"");
    svg += Text(lx + 36, ly, name, 13, "fill=\"#222\"");
    ly += 22;
  }
  ly += 12;
  svg += Text(lx, ly, "Marks", 16, "font-weight=\"bold\" fill=\"#222\"");
  ly += 24;
  svg += Line(
      lx, ly - 5, lx + 28, ly - 5,
      std::string("stroke=\"") + kReceiverColour + "\" stroke-width=\"9\" stroke-opacity=\"0.35\"");
  svg += Text(lx + 36, ly, "receiver (microphone line)", 13, "fill=\"#222\"");
  ly += 22;
  svg += Line(lx, ly - 5, lx + 28, ly - 5,
              "stroke=\"#555\" stroke-width=\"3\" stroke-dasharray=\"8 5\"");
  svg += Text(lx + 36, ly, "pass-through wall", 13, "fill=\"#222\"");
  ly += 22;
  svg += "<circle cx=\"" + F(lx + 14) + "\" cy=\"" + F(ly - 5) +
         "\" r=\"6\" fill=\"#f4a300\" stroke=\"#7a5200\"/>\n";
  svg += Text(lx + 36, ly, "emitter and its ray fan", 13, "fill=\"#222\"");
  ly += 34;
  int receivers = 0, count = 0;
  for (const Segment& s : walls) {
    ++count;
    if (s.wall->Receiver) ++receivers;
  }
  svg += Text(lx, ly,
              Plural(size_t(count), "wall") + ", " + Plural(size_t(receivers), "receiver") + ", " +
                  Plural(emitters.size(), "emitter"),
              13, "fill=\"#555\"");
  ly += 20;
  char size[96];
  std::snprintf(size, sizeof size, "plan %.1f m x %.1f m", spanX, spanY);
  svg += Text(lx, ly, size, 13, "fill=\"#555\"");
  svg += "</svg>\n";
  return svg;
}

std::string ImpulseResponseSvg(const AudioData& audio, int channel, const std::string& caption) {
  const int width = 960, height = 680;
  const double left = 80, right = 920;
  const double waveTop = 70, waveBottom = 290;
  const double edcTop = 360, edcBottom = 620;
  const std::vector<double>& x = audio.channels.at(size_t(channel));
  const int rate = audio.sampleRate;
  const double duration = std::max(1.0 / rate, double(x.size()) / rate);
  auto TX = [&](double t) { return left + (right - left) * t / duration; };

  std::string svg = Header(width, height);
  svg += Text(left, 36, caption, 20, "font-weight=\"bold\" fill=\"#222\"");

  // Time grid shared by both panels.
  const double tStep = NiceStep(duration / 6);
  auto timeLabel = [&](double t) {
    return duration < 1.0 ? FormatNumber(std::round(t * 1000)) + " ms" : FormatNumber(t) + " s";
  };
  for (double t = 0; t <= duration + 1e-12; t += tStep) {
    for (auto [y0, y1] : {std::pair{waveTop, waveBottom}, std::pair{edcTop, edcBottom}}) {
      svg += Line(TX(t), y0, TX(t), y1, "stroke=\"#eeeeee\"");
    }
    svg += Text(TX(t) - 14, edcBottom + 20, timeLabel(t), 12, "fill=\"#444\"");
  }

  // Waveform as a min/max envelope per pixel column.
  double peak = 1e-12;
  for (double v : x) peak = std::max(peak, std::fabs(v));
  const double mid = (waveTop + waveBottom) / 2, half = (waveBottom - waveTop) / 2;
  const int columns = int(right - left);
  std::string upper, lower;
  for (int c = 0; c < columns; ++c) {
    const size_t from = size_t(double(c) / columns * x.size());
    const size_t to = std::max(from + 1, size_t(double(c + 1) / columns * x.size()));
    double lo = 0, hi = 0;
    for (size_t i = from; i < to && i < x.size(); ++i) {
      lo = std::min(lo, x[i]);
      hi = std::max(hi, x[i]);
    }
    upper += F(left + c) + "," + F(mid - hi / peak * half) + " ";
    lower = F(left + c) + "," + F(mid - lo / peak * half) + " " + lower;
  }
  svg += Line(left, mid, right, mid, "stroke=\"#bbbbbb\"");
  svg += "<polygon points=\"" + upper + lower +
         "\" fill=\"#1f77b4\" stroke=\"#1f77b4\" stroke-width=\"0.6\"/>\n";
  svg += "<rect x=\"" + F(left) + "\" y=\"" + F(waveTop) + "\" width=\"" + F(right - left) +
         "\" height=\"" + F(waveBottom - waveTop) + "\" fill=\"none\" stroke=\"#888\"/>\n";
  svg += Text(left, waveTop - 10,
              "Waveform, channel " + std::to_string(channel) + " (peak " + PeakDb(peak) + " dBFS)",
              14, "fill=\"#222\"");

  // Energy decay curve from the onset, 0 to -80 dB.
  const double floorDb = -80;
  auto TY = [&](double db) {
    return edcTop + (edcBottom - edcTop) * std::clamp(db, floorDb, 0.0) / floorDb;
  };
  for (double db = 0; db >= floorDb; db -= 10) {
    svg += Line(left, TY(db), right, TY(db), "stroke=\"#eeeeee\"");
    svg += Text(left - 46, TY(db) + 4, FormatNumber(db) + " dB", 12, "fill=\"#444\"");
  }
  const size_t onset = FindOnset(x);
  std::string title = "Energy decay curve (Schroeder)";
  if (onset < x.size()) {
    const std::vector<double> edc = EnergyDecayCurve(x, onset);
    std::string points;
    for (int c = 0; c < columns; ++c) {
      const double t = double(c) / columns * duration;
      const double i = t * rate;
      if (i < double(onset)) continue;
      const size_t k = size_t(i) - onset;
      if (k >= edc.size() || !std::isfinite(edc[k]) || edc[k] < floorDb) break;
      points += F(left + c) + "," + F(TY(edc[k])) + " ";
    }
    svg += "<polyline points=\"" + points +
           "\" fill=\"none\" stroke=\"#2ca02c\" stroke-width=\"2.5\"/>\n";
    const BandParameters broadband = AnalyseBand(x, onset, rate);
    if (broadband.t30Fit.valid) {
      // The fitted line, from 0 dB down to the floor of the panel.
      const DecayFit& fit = broadband.t30Fit;
      const double onsetTime = double(onset) / rate;
      const double t0 = onsetTime + std::max(0.0, (0.0 - fit.intercept) / fit.slope);
      const double t1 = std::min(duration, onsetTime + (floorDb - fit.intercept) / fit.slope);
      auto level = [&](double t) { return fit.intercept + fit.slope * (t - onsetTime); };
      svg += Line(TX(t0), TY(level(t0)), TX(t1), TY(level(t1)),
                  "stroke=\"#d62728\" stroke-width=\"2\" stroke-dasharray=\"7 5\"");
      char label[96];
      std::snprintf(label, sizeof label, "T30 = %.2f s (fit from -5 to -35 dB)", broadband.t30);
      svg += Text(right - 290, edcTop + 24, label, 14, "fill=\"#d62728\" font-weight=\"bold\"");
    } else {
      svg +=
          Text(right - 290, edcTop + 24, "T30 n/a (decay range too small)", 14, "fill=\"#d62728\"");
    }
  }
  svg += "<rect x=\"" + F(left) + "\" y=\"" + F(edcTop) + "\" width=\"" + F(right - left) +
         "\" height=\"" + F(edcBottom - edcTop) + "\" fill=\"none\" stroke=\"#888\"/>\n";
  svg += Text(left, edcTop - 10, title, 14, "fill=\"#222\"");
  svg += Text((left + right) / 2 - 20, edcBottom + 44, "time", 13, "fill=\"#444\"");
  svg += "</svg>\n";
  return svg;
}

}  // namespace zm::cli
