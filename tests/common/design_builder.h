// Builds design records readably in tests: points are found or added by
// coordinates, materials by name, and every Add returns the slot it used.
#pragma once

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "zm/zm.h"

namespace zm::test {

class DesignBuilder {
 public:
  // A valid, quiet design: 1 s at 44100 Hz, 32-bit float, 32 filter taps,
  // no air loss, coordinates in metres, direct sound recorded at level 1.
  DesignBuilder() : record_(std::make_unique<TDesignRecord>()) {
    std::memset(record_.get(), 0, sizeof(TDesignRecord));
    TDesignRecord& r = *record_;
    r.ImpulseLength = 1.0;
    r.MinAmplitude = 0.001;
    r.SampleRate = 44100;
    r.BitsPerSample = 32;
    r.FilterLength = 32;
    r.AirAttenuation = 1.0;
    r.CoordinateScale = 1.0;
    r.RandomSeed = 1;
    r.StereoWidth = 1.0;
    r.DirectSoundLevel = 1;
    r.FixedGainDb = -48.0;
    r.DefaultRayCount = 1000;
  }

  TDesignRecord& Record() { return *record_; }
  const TDesignRecord& Record() const { return *record_; }
  TDesignRecord* operator->() { return record_.get(); }

  DesignBuilder& Title(const std::string& title) {
    SetText(record_->Title, title);
    return *this;
  }

  // A used material in the first free slot.
  int AddMaterial(const std::string& name, double reflection = 0.9, double scatter = 0.0,
                  double bandFactor = 1.0) {
    return AddMaterialAt(FreeSlot(record_->Materials, ZM_MATERIAL_SLOTS), name, reflection, scatter,
                         bandFactor);
  }

  // A used material in a chosen slot (to leave gaps or overwrite a slot).
  int AddMaterialAt(int slot, const std::string& name, double reflection = 0.9,
                    double scatter = 0.0, double bandFactor = 1.0) {
    TMaterialEntry& m = record_->Materials[slot];
    m.InUse = 1;
    SetText(m.Name, name);
    m.Reflection = reflection;
    m.Scatter = scatter;
    // Indexed, not by reference: the record is packed and its doubles may
    // sit at any address.
    for (int b = 0; b < ZM_BAND_COUNT; ++b) m.BandFactors[b] = bandFactor;
    return slot;
  }

  // The slot of a point at (x, y), reusing an existing one. Points have no
  // in-use byte; the builder tracks how many it handed out.
  int Point(double x, double y) {
    for (int i = 0; i < pointCount_; ++i) {
      if (record_->Points[i].X == x && record_->Points[i].Y == y) return i;
    }
    if (pointCount_ == ZM_POINT_SLOTS) throw std::runtime_error("no free point slot");
    record_->Points[pointCount_].X = x;
    record_->Points[pointCount_].Y = y;
    return pointCount_++;
  }

  // A plain reflecting wall from (x1, y1) to (x2, y2).
  int AddWall(double x1, double y1, double x2, double y2, int material) {
    return AddWallAt(FreeSlot(record_->Walls, ZM_WALL_SLOTS), x1, y1, x2, y2, material);
  }

  // A plain reflecting wall in a chosen slot (to leave gaps).
  int AddWallAt(int slot, double x1, double y1, double x2, double y2, int material) {
    TWallEntry& w = record_->Walls[slot];
    w.InUse = 1;
    w.StartPoint = Point(x1, y1);
    w.EndPoint = Point(x2, y2);
    w.Material = material;
    w.Gain = 1.0;
    return slot;
  }

  // A receiver wall on `channel` with gain 1 and an omnidirectional pattern.
  int AddReceiver(double x1, double y1, double x2, double y2, int material, int channel = 0) {
    int slot = AddWall(x1, y1, x2, y2, material);
    record_->Walls[slot].Receiver = 1;
    record_->Walls[slot].Channel = channel;
    return slot;
  }

  int AddEmitter(double x, double y, double direction, int rayCount, double spread, int group = 0) {
    int slot = FreeSlot(record_->Emitters, ZM_EMITTER_SLOTS);
    TEmitterEntry& e = record_->Emitters[slot];
    e.InUse = 1;
    e.Point = Point(x, y);
    e.Direction = direction;
    e.RayCount = rayCount;
    e.Spread = spread;
    e.Level = 1.0;
    e.Group = group;
    return slot;
  }

  // Names group `group`; the in-use byte is left as it is.
  DesignBuilder& GroupName(int group, const std::string& name) {
    SetText(record_->Groups[group].Name, name);
    return *this;
  }

  TWallEntry& Wall(int slot) { return record_->Walls[slot]; }
  TPointEntry& PointEntry(int slot) { return record_->Points[slot]; }
  TEmitterEntry& Emitter(int slot) { return record_->Emitters[slot]; }
  TMaterialEntry& Material(int slot) { return record_->Materials[slot]; }

  template <size_t N>
  static void SetText(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size() < N ? text.size() : N);
  }

 private:
  template <typename Entry>
  static int FreeSlot(Entry* slots, int count) {
    for (int i = 0; i < count; ++i) {
      if (!slots[i].InUse) return i;
    }
    throw std::runtime_error("no free slot");
  }

  std::unique_ptr<TDesignRecord> record_;
  int pointCount_ = 0;
};

// A design that renders in a moment: a receiver wall 3 m ahead of an
// emitter of 8 rays, 20 ms long. Titled, so that renders to different paths
// give the same bytes.
inline DesignBuilder SmallDesign() {
  DesignBuilder b;
  b.Title("Hall");
  b->ImpulseLength = 0.02;
  b.AddReceiver(3, -1, 3, 1, b.AddMaterial("Wall", 0.9));
  b.AddEmitter(0, 0, 0, 8, 0.5);
  return b;
}

}  // namespace zm::test
