#include "lib/design/room_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <random>

namespace zm::cli {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
// The engine's rays are segments of this length; nothing farther is hit.
constexpr double kRayReach = 1'000'000.0;
// A probe ray that bounces this often in a tiny room is not followed on.
constexpr int kMaxSegments = 20000;
// Cells across the longer side of the plan.
constexpr int kGridCells = 1000;

bool FinitePoint(const TDesignRecord& r, int32_t slot, double& x, double& y) {
  if (slot < 0 || slot >= ZM_POINT_SLOTS) return false;
  x = r.Points[slot].X * r.CoordinateScale;
  y = r.Points[slot].Y * r.CoordinateScale;
  return std::isfinite(x) && std::isfinite(y);
}

// The engine's reflection: the mirror angle blurred by `diffusion` times a
// draw in [-0.5, 0.5); a blur past grazing is mirrored back to the side the
// ray came from, at least the engine's 2^-20 rad off the wall.
double ReflectAngle(double angle, double wallAngle, double diffusion, double draw) {
  constexpr double kGrazingMargin = 0x1.0p-20;
  double a = angle - wallAngle;
  double k = std::trunc(a / kTwoPi);
  if (a < 0) k -= 1;
  a -= kTwoPi * k;
  const bool fromLeft = a > std::numbers::pi;
  if (fromLeft) a = kTwoPi - a;
  a += (draw - 0.5) * diffusion;
  if (a < 0 || a > std::numbers::pi) {
    a = std::clamp(a < 0 ? -a : kTwoPi - a, kGrazingMargin, std::numbers::pi - kGrazingMargin);
  }
  return fromLeft ? wallAngle + (kTwoPi + a) : wallAngle - a;
}

// The angle, in (-pi, pi], of `angle` seen from `reference`.
double Relative(double angle, double reference) {
  return std::remainder(angle - reference, kTwoPi);
}

}  // namespace

double PlanSegment::Length() const {
  return std::hypot(x2 - x1, y2 - y1);
}

Plan PlanOf(const TDesignRecord& r) {
  Plan plan;
  for (int i = 0; i < ZM_WALL_SLOTS; ++i) {
    const TWallEntry& w = r.Walls[i];
    PlanSegment s;
    if (!w.InUse || !FinitePoint(r, w.StartPoint, s.x1, s.y1) ||
        !FinitePoint(r, w.EndPoint, s.x2, s.y2)) {
      continue;
    }
    s.slot = i;
    s.passThrough = w.PassThrough != 0;
    s.receiver = w.Receiver != 0;
    const int32_t m = w.Material;
    if (m >= 0 && m < ZM_MATERIAL_SLOTS && r.Materials[m].InUse) {
      s.material = m;
      s.reflection = r.Materials[m].Reflection;
      s.scatter = r.Materials[m].Scatter;
    }
    plan.walls.push_back(s);
  }
  for (int i = 0; i < ZM_EMITTER_SLOTS; ++i) {
    const TEmitterEntry& e = r.Emitters[i];
    PlanSource s;
    if (!e.InUse || !FinitePoint(r, e.Point, s.x, s.y)) continue;
    s.slot = i;
    s.direction = e.Direction;
    s.spread = e.Spread;
    s.rays = e.UseDefaultRayCount ? r.DefaultRayCount : e.RayCount;
    s.group = e.Group;
    s.randomDirections = e.RandomDirections != 0;
    plan.emitters.push_back(s);
  }
  const double length = r.ImpulseLength;
  plan.maxDistance = std::isfinite(length) ? std::max(0.0, length) * kSpeedOfSound : 0;
  plan.minAmplitude = r.MinAmplitude;
  return plan;
}

RayHit NearestHit(const Plan& plan, double x, double y, double angle, int excluded) {
  RayHit best;
  const double dx = std::cos(angle) * kRayReach, dy = std::sin(angle) * kRayReach;
  for (int i = 0; i < int(plan.walls.size()); ++i) {
    if (i == excluded) continue;
    const PlanSegment& w = plan.walls[i];
    const double wx = w.x2 - w.x1, wy = w.y2 - w.y1;
    const double den = dy * wx - dx * wy;
    if (den == 0) continue;
    const double u = ((w.y1 - y) * dx - (w.x1 - x) * dy) / den;
    if (u < 0 || u > 1) continue;
    const double v = ((w.y1 - y) * wx - (w.x1 - x) * wy) / den;
    if (v < 0 || v > 1) continue;
    const double hx = w.x1 + wx * u, hy = w.y1 + wy * u;
    const double distance = std::hypot(x - hx, y - hy);
    if (best.wall < 0 || distance < best.distance) best = {i, hx, hy, distance};
  }
  return best;
}

ProbeResult ProbeEmitter(const Plan& plan, const PlanSource& source, int rays) {
  ProbeResult result;
  result.rays = rays;
  // The same draws for every check of the same design.
  std::minstd_rand random(uint32_t(source.slot) + 1);
  std::uniform_real_distribution<double> draw(0.0, 1.0);
  for (int i = 0; i < rays; ++i) {
    const double u = rays > 1 ? double(i) / (rays - 1) : 0.5;
    double angle = (u - 0.5) * source.spread + source.direction;
    double x = source.x, y = source.y, travelled = 0, amplitude = 1;
    int last = -1, reflections = 0;
    for (int segment = 0; segment < kMaxSegments; ++segment) {
      if (plan.minAmplitude > std::fabs(amplitude)) break;
      const RayHit hit = NearestHit(plan, x, y, angle, last);
      if (hit.wall < 0) {
        if (result.escaped++ == 0) {
          result.escapeX = x;
          result.escapeY = y;
          result.escapeAngle = angle;
          result.escapeReflections = reflections;
        }
        break;
      }
      const PlanSegment& w = plan.walls[hit.wall];
      // Time runs to the wall's midpoint, as in the engine.
      travelled += std::hypot((w.x1 + w.x2) / 2 - x, (w.y1 + w.y2) / 2 - y);
      if (travelled >= plan.maxDistance) break;
      if (w.receiver) {
        ++result.reached;
        break;
      }
      amplitude *= w.reflection;
      x = hit.x;
      y = hit.y;
      last = hit.wall;
      if (!w.passThrough) {
        ++reflections;
        angle = ReflectAngle(angle, std::atan2(w.y2 - w.y1, w.x2 - w.x1), w.scatter, draw(random));
      }
    }
  }
  return result;
}

// ---------------------------------------------------------------------------
// The exact room: the plan cut into trapezoids by vertical lines through
// every end and crossing of the reflecting walls. Inside a slab between two
// such lines no walls cross, so each trapezoid between two walls lies wholly
// inside a room or outside; neighbouring trapezoids of adjacent slabs join
// where their sides overlap and no wall stands on the line between them.

namespace {

struct Slab {
  double x0 = 0, x1 = 0;
  std::vector<int> walls;      // into plan.walls, from the lowest up
  std::vector<double> y0, y1;  // their heights at x0 and x1
  int firstCell = 0;           // cells firstCell .. firstCell + walls.size()
};

double HeightAt(const PlanSegment& w, double x) {
  if (x == w.x1) return w.y1;
  if (x == w.x2) return w.y2;
  return w.y1 + (w.y2 - w.y1) * (x - w.x1) / (w.x2 - w.x1);
}

// Parameter along `a` where it crosses `b`, when they cross.
std::optional<double> Crossing(const PlanSegment& a, const PlanSegment& b) {
  const double ax = a.x2 - a.x1, ay = a.y2 - a.y1, bx = b.x2 - b.x1, by = b.y2 - b.y1;
  const double den = ax * by - ay * bx;
  if (den == 0) return std::nullopt;
  const double t = ((b.x1 - a.x1) * by - (b.y1 - a.y1) * bx) / den;
  const double u = ((b.x1 - a.x1) * ay - (b.y1 - a.y1) * ax) / den;
  if (t < 0 || t > 1 || u < 0 || u > 1) return std::nullopt;
  return t;
}

class Cells {
 public:
  explicit Cells(int count) : parent_(size_t(count)) {
    for (int i = 0; i < count; ++i) parent_[size_t(i)] = i;
  }
  int Root(int i) {
    while (parent_[size_t(i)] != i) i = parent_[size_t(i)] = parent_[size_t(parent_[size_t(i)])];
    return i;
  }
  void Join(int a, int b) { parent_[size_t(Root(a))] = Root(b); }

 private:
  std::vector<int> parent_;
};

// Length of [lo, hi] not covered by `covers`.
double Uncovered(double lo, double hi, const std::vector<std::pair<double, double>>& covers) {
  std::vector<std::pair<double, double>> parts;
  for (auto [a, b] : covers) {
    a = std::max(a, lo), b = std::min(b, hi);
    if (b > a) parts.emplace_back(a, b);
  }
  std::sort(parts.begin(), parts.end());
  double free = 0, reached = lo;
  for (const auto& [a, b] : parts) {
    if (a > reached) free += a - reached;
    reached = std::max(reached, b);
  }
  return free + std::max(0.0, hi - reached);
}

}  // namespace

namespace {

// The reflecting walls of a plan cut into slabs and their cells, the cells
// joined wherever sound can pass from one to the next. Cell 0 is everything
// outside; each slab has its walls plus one cells.
class TrapezoidMap {
 public:
  explicit TrapezoidMap(const Plan& plan) : plan_(plan) {
    for (int i = 0; i < int(plan.walls.size()); ++i) {
      if (!plan.walls[size_t(i)].passThrough && plan.walls[size_t(i)].Length() > 0)
        barriers_.push_back(i);
    }
    FindSlabLines();
    CutIntoSlabs();
    JoinAcrossLines();
    JoinOutside();
  }

  // The cell that holds (x, y): 0 beyond every slab.
  int Locate(double x, double y) const {
    const auto it = std::upper_bound(slabs_.begin(), slabs_.end(), x,
                                     [](double v, const Slab& s) { return v < s.x1; });
    if (it == slabs_.end() || x < it->x0) return 0;
    size_t below = 0;
    while (below < it->walls.size() && HeightAt(plan_.walls[size_t(it->walls[below])], x) < y)
      ++below;
    return CellOf(*it, below);
  }

  int Root(int cell) { return cells_.Root(cell); }

  // Area and wall faces of the cells for which `inside` holds.
  template <typename Inside>
  void MeasureCells(const Inside& inside, RoomRegion& out) const {
    for (const Slab& s : slabs_) {
      const double width = s.x1 - s.x0;
      for (size_t j = 0; j <= s.walls.size(); ++j) {
        if (!inside(CellOf(s, j))) continue;
        if (j > 0 && j < s.walls.size()) {
          out.area += width * ((s.y0[j] - s.y0[j - 1]) + (s.y1[j] - s.y1[j - 1])) / 2;
        }
        // The walls below and above the cell border it along their piece.
        for (size_t w : {j - 1, j}) {
          if (w >= s.walls.size()) continue;
          out.faceLength[size_t(s.walls[w])] += std::hypot(width, s.y1[w] - s.y0[w]);
        }
      }
      for (bool right : {false, true}) AddStandingFaces(s, right, inside, out);
    }
  }

  // Pass-through walls: their pieces between crossings, by their middles.
  template <typename Inside>
  void MeasurePassThrough(const Inside& inside, RoomRegion& out) const {
    for (size_t i = 0; i < plan_.walls.size(); ++i) {
      const PlanSegment& w = plan_.walls[i];
      if (!w.passThrough || !(w.Length() > 0)) continue;
      std::vector<double> cuts = {0, 1};
      for (double x : xs_) {
        const double t = (x - w.x1) / (w.x2 - w.x1);
        if (t > 0 && t < 1) cuts.push_back(t);
      }
      for (int b : barriers_) {
        if (const auto t = Crossing(w, plan_.walls[size_t(b)])) cuts.push_back(*t);
      }
      std::sort(cuts.begin(), cuts.end());
      for (size_t c = 0; c + 1 < cuts.size(); ++c) {
        const double t = (cuts[c] + cuts[c + 1]) / 2;
        if (cuts[c + 1] > cuts[c] &&
            inside(Locate(w.x1 + (w.x2 - w.x1) * t, w.y1 + (w.y2 - w.y1) * t))) {
          out.faceLength[i] += (cuts[c + 1] - cuts[c]) * w.Length();
        }
      }
    }
  }

 private:
  static int CellOf(const Slab& s, size_t j) {  // j walls below it
    return j == 0 || j == s.walls.size() ? 0 : s.firstCell + int(j);
  }

  // The side of cell j of slab s on its line x (x0 or x1), as [lo, hi].
  static std::pair<double, double> Side(const Slab& s, size_t j, bool right) {
    const std::vector<double>& y = right ? s.y1 : s.y0;
    return {j == 0 ? -HUGE_VAL : y[j - 1], j == s.walls.size() ? HUGE_VAL : y[j]};
  }

  // Reflecting walls standing on the line x, as intervals of y.
  std::vector<std::pair<double, double>> Standing(double x) const {
    std::vector<std::pair<double, double>> covers;
    for (int i : barriers_) {
      const PlanSegment& w = plan_.walls[size_t(i)];
      if (w.x1 == x && w.x2 == x) covers.emplace_back(std::min(w.y1, w.y2), std::max(w.y1, w.y2));
    }
    return covers;
  }

  // Every end and crossing of the reflecting walls, in order.
  void FindSlabLines() {
    for (size_t i = 0; i < barriers_.size(); ++i) {
      const PlanSegment& a = plan_.walls[size_t(barriers_[i])];
      xs_.insert(xs_.end(), {a.x1, a.x2});
      for (size_t j = i + 1; j < barriers_.size(); ++j) {
        if (const auto t = Crossing(a, plan_.walls[size_t(barriers_[j])])) {
          xs_.push_back(a.x1 + (a.x2 - a.x1) * *t);
        }
      }
    }
    std::sort(xs_.begin(), xs_.end());
    xs_.erase(std::unique(xs_.begin(), xs_.end()), xs_.end());
  }

  void CutIntoSlabs() {
    int cellCount = 1;
    for (size_t k = 0; k + 1 < xs_.size(); ++k) {
      Slab slab;
      slab.x0 = xs_[k];
      slab.x1 = xs_[k + 1];
      const double mid = (slab.x0 + slab.x1) / 2;
      std::vector<std::pair<double, int>> order;
      for (int i : barriers_) {
        const PlanSegment& w = plan_.walls[size_t(i)];
        if (std::min(w.x1, w.x2) <= slab.x0 && std::max(w.x1, w.x2) >= slab.x1 && w.x1 != w.x2) {
          order.emplace_back(HeightAt(w, mid), i);
        }
      }
      std::sort(order.begin(), order.end());
      for (const auto& [height, i] : order) {
        slab.walls.push_back(i);
        slab.y0.push_back(HeightAt(plan_.walls[size_t(i)], slab.x0));
        slab.y1.push_back(HeightAt(plan_.walls[size_t(i)], slab.x1));
      }
      slab.firstCell = cellCount;
      cellCount += int(slab.walls.size()) + 1;
      slabs_.push_back(std::move(slab));
    }
    cells_ = Cells(cellCount);
    // Walls that cross or meet leave, by rounding, slivers between them on
    // the slab lines; openings narrower than this are no passage.
    const double scale =
        xs_.empty() ? 1 : std::max({1.0, std::fabs(xs_.front()), std::fabs(xs_.back())});
    double widest = 0;
    for (const Slab& s : slabs_) {
      for (double y : s.y0) widest = std::max(widest, std::fabs(y));
    }
    narrowest_ = 1e-9 * std::max(scale, widest);
  }

  bool Open(double lo, double hi, const std::vector<std::pair<double, double>>& covers) const {
    return hi - lo > narrowest_ && Uncovered(lo, hi, covers) > narrowest_;
  }

  void JoinAcrossLines() {
    for (size_t k = 0; k + 1 < slabs_.size(); ++k) {
      const Slab &left = slabs_[k], &right = slabs_[k + 1];
      const auto covers = Standing(left.x1);
      // Both sides cut the line into cells from the bottom up: walk them together.
      size_t a = 0, b = 0;
      while (a <= left.walls.size() && b <= right.walls.size()) {
        const auto [alo, ahi] = Side(left, a, true);
        const auto [blo, bhi] = Side(right, b, false);
        if (Open(std::max(alo, blo), std::min(ahi, bhi), covers)) {
          cells_.Join(CellOf(left, a), CellOf(right, b));
        }
        if (ahi < bhi) {
          ++a;
        } else if (bhi < ahi) {
          ++b;
        } else {
          ++a, ++b;
        }
      }
    }
  }

  // Beyond the first and the last line lies the outside.
  void JoinOutside() {
    if (slabs_.empty()) return;
    for (bool right : {false, true}) {
      const Slab& s = right ? slabs_.back() : slabs_.front();
      const auto covers = Standing(right ? s.x1 : s.x0);
      for (size_t j = 0; j <= s.walls.size(); ++j) {
        const auto [lo, hi] = Side(s, j, right);
        if (Open(lo, hi, covers)) cells_.Join(CellOf(s, j), 0);
      }
    }
  }

  // Walls standing on a slab's side border the cells next to them.
  template <typename Inside>
  void AddStandingFaces(const Slab& s, bool right, const Inside& inside, RoomRegion& out) const {
    const double x = right ? s.x1 : s.x0;
    for (int i : barriers_) {
      const PlanSegment& w = plan_.walls[size_t(i)];
      if (w.x1 != x || w.x2 != x) continue;
      const double wlo = std::min(w.y1, w.y2), whi = std::max(w.y1, w.y2);
      for (size_t j = 0; j <= s.walls.size(); ++j) {
        if (!inside(CellOf(s, j))) continue;
        const auto [lo, hi] = Side(s, j, right);
        out.faceLength[size_t(i)] += std::max(0.0, std::min(hi, whi) - std::max(lo, wlo));
      }
    }
  }

  const Plan& plan_;
  std::vector<int> barriers_;  // reflecting walls of some length
  std::vector<double> xs_;     // the slab lines
  std::vector<Slab> slabs_;
  double narrowest_ = 0;
  Cells cells_{0};
};

}  // namespace

RoomRegion RoomAround(const Plan& plan, const std::vector<std::pair<double, double>>& points) {
  RoomRegion out;
  out.faceLength.assign(plan.walls.size(), 0.0);
  TrapezoidMap map(plan);
  std::vector<int> roots;
  for (const auto& [x, y] : points) roots.push_back(map.Root(map.Locate(x, y)));
  out.closed = !roots.empty();
  for (int root : roots) out.closed = out.closed && root != map.Root(0);
  if (!out.closed) return out;
  auto inside = [&](int cell) {
    const int root = map.Root(cell);
    return std::find(roots.begin(), roots.end(), root) != roots.end();
  };
  map.MeasureCells(inside, out);
  map.MeasurePassThrough(inside, out);
  return out;
}

// ---------------------------------------------------------------------------
// Enclosures

EnclosureGrid::EnclosureGrid(const Plan& plan) : plan_(plan) {
  double minX = HUGE_VAL, minY = HUGE_VAL, maxX = -HUGE_VAL, maxY = -HUGE_VAL;
  auto extend = [&](double x, double y) {
    minX = std::min(minX, x);
    maxX = std::max(maxX, x);
    minY = std::min(minY, y);
    maxY = std::max(maxY, y);
  };
  for (const PlanSegment& w : plan.walls) {
    extend(w.x1, w.y1);
    extend(w.x2, w.y2);
  }
  for (const PlanSource& e : plan.emitters) extend(e.x, e.y);
  if (!(minX <= maxX)) minX = minY = 0, maxX = maxY = 1;
  cell_ = std::max({maxX - minX, maxY - minY, 1e-3}) / kGridCells;
  // Two free cells all round, so that the border is outside everything.
  originX_ = minX - 2 * cell_;
  originY_ = minY - 2 * cell_;
  columns_ = int(std::ceil((maxX - minX) / cell_)) + 5;
  rows_ = int(std::ceil((maxY - minY) / cell_)) + 5;
  blocked_.assign(size_t(columns_) * size_t(rows_), 0);
  for (const PlanSegment& w : plan.walls) {
    if (w.passThrough) continue;
    // Samples a quarter cell apart leave no gap between the cells marked.
    const int steps = int(std::ceil(w.Length() / (0.25 * cell_))) + 1;
    for (int k = 0; k <= steps; ++k) {
      const double t = double(k) / steps;
      int column = 0, row = 0;
      if (CellOf(w.x1 + (w.x2 - w.x1) * t, w.y1 + (w.y2 - w.y1) * t, column, row)) {
        blocked_[size_t(Index(column, row))] = 1;
      }
    }
  }
  std::vector<int> border;
  for (int c = 0; c < columns_; ++c)
    border.insert(border.end(), {Index(c, 0), Index(c, rows_ - 1)});
  for (int r = 0; r < rows_; ++r)
    border.insert(border.end(), {Index(0, r), Index(columns_ - 1, r)});
  outside_ = Flood(border);
}

bool EnclosureGrid::CellOf(double x, double y, int& column, int& row) const {
  const double cx = std::floor((x - originX_) / cell_), cy = std::floor((y - originY_) / cell_);
  if (!(cx >= 0 && cx < columns_ && cy >= 0 && cy < rows_)) return false;
  column = int(cx);
  row = int(cy);
  return true;
}

std::vector<uint8_t> EnclosureGrid::Flood(const std::vector<int>& seeds) const {
  std::vector<uint8_t> reached(blocked_.size(), 0);
  std::vector<int> stack;
  for (int seed : seeds) {
    if (!blocked_[size_t(seed)] && !reached[size_t(seed)]) {
      reached[size_t(seed)] = 1;
      stack.push_back(seed);
    }
  }
  while (!stack.empty()) {
    const int cell = stack.back();
    stack.pop_back();
    const int column = cell % columns_, row = cell / columns_;
    const int neighbours[4][2] = {
        {column - 1, row}, {column + 1, row}, {column, row - 1}, {column, row + 1}};
    for (const auto& [c, r] : neighbours) {
      if (c < 0 || c >= columns_ || r < 0 || r >= rows_) continue;
      const size_t next = size_t(Index(c, r));
      if (blocked_[next] || reached[next]) continue;
      reached[next] = 1;
      stack.push_back(int(next));
    }
  }
  return reached;
}

bool EnclosureGrid::Enclosed(double x, double y) const {
  int column = 0, row = 0;
  if (!CellOf(x, y, column, row)) return false;
  // A point on a wall belongs to any free cell next to it.
  for (int r = row - 1; r <= row + 1; ++r) {
    for (int c = column - 1; c <= column + 1; ++c) {
      if (c < 0 || c >= columns_ || r < 0 || r >= rows_) continue;
      const size_t i = size_t(Index(c, r));
      if (!blocked_[i] && !outside_[i]) return true;
    }
  }
  return false;
}

bool EnclosureGrid::EnclosesAnything() const {
  for (size_t i = 0; i < blocked_.size(); ++i) {
    if (!blocked_[i] && !outside_[i]) return true;
  }
  return false;
}

std::optional<DirectReach> DirectReachOf(const Plan& plan, const PlanSource& source, int receiver) {
  const PlanSegment& r = plan.walls[size_t(receiver)];
  if (source.rays <= 0 || !(source.spread > 0)) return std::nullopt;
  const double midX = (r.x1 + r.x2) / 2, midY = (r.y1 + r.y2) / 2;
  // A reflecting wall between the emitter and the receiver's middle hides it.
  for (int i = 0; i < int(plan.walls.size()); ++i) {
    const PlanSegment& w = plan.walls[size_t(i)];
    if (i == receiver || w.passThrough) continue;
    const double wx = w.x2 - w.x1, wy = w.y2 - w.y1, dx = midX - source.x, dy = midY - source.y;
    const double den = dy * wx - dx * wy;
    if (den == 0) continue;
    const double u = ((w.y1 - source.y) * dx - (w.x1 - source.x) * dy) / den;
    const double v = ((w.y1 - source.y) * wx - (w.x1 - source.x) * wy) / den;
    if (u >= 0 && u <= 1 && v > 0 && v < 1) return std::nullopt;
  }
  // The receiver's angular extent, clipped to the fan.
  const double half = std::min(source.spread, kTwoPi) / 2;
  const double a1 = Relative(std::atan2(r.y1 - source.y, r.x1 - source.x), source.direction);
  const double a2 = Relative(std::atan2(r.y2 - source.y, r.x2 - source.x), source.direction);
  double low = std::min(a1, a2), high = std::max(a1, a2);
  if (high - low > std::numbers::pi) return std::nullopt;  // behind: seen across +-pi
  if (source.spread < kTwoPi) low = std::max(low, -half), high = std::min(high, half);
  if (!(high > low)) return std::nullopt;
  DirectReach reach;
  reach.distance = std::hypot(midX - source.x, midY - source.y);
  reach.rays = source.rays * (high - low) / source.spread;
  // k rays of amplitude g add to k g; k rays of unit energy to k: equal when
  // k g^2 = 1 with g^2 = 10^(-0.3 (log2 N - L)).
  reach.level = std::log2(double(source.rays)) - 10.0 / 3.0 * std::log10(reach.rays);
  return reach;
}

std::optional<DirectLevelChoice> ChooseDirectLevel(const Plan& plan, int group) {
  for (int r = 0; r < int(plan.walls.size()); ++r) {
    if (!plan.walls[size_t(r)].receiver) continue;
    std::optional<DirectLevelChoice> best;
    for (int e = 0; e < int(plan.emitters.size()); ++e) {
      if (plan.emitters[size_t(e)].group != group) continue;
      const auto reach = DirectReachOf(plan, plan.emitters[size_t(e)], r);
      if (reach && (!best || reach->distance < best->reach.distance)) best = {e, r, *reach, 0};
    }
    if (best) {
      const double rounded = std::round(best->reach.level);
      // 0 would record no direct sound at all.
      best->level = int32_t(std::clamp(rounded == 0 ? 1.0 : rounded, -2000.0, 2000.0));
      return best;
    }
  }
  return std::nullopt;
}

}  // namespace zm::cli
