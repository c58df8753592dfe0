// A first guess at a design's reverberation from its plan alone: the
// diffuse-field formulas of Sabine and Eyring. In the plan, the mean free
// path between walls is pi S / P (S the room's area, P the length of the
// wall faces around it); a design given a height is a room of volume S H
// with walls P H, floor and ceiling S each, and mean free path 4 V / A.
//
// Nothing here prints, exits or keeps global state.
#pragma once

#include <string>
#include <vector>

#include "lib/design/room_geometry.h"
#include "zm/zm.h"

namespace zm::cli {

struct ReverberationBand {
  double centre = 0;      // Hz
  double absorption = 0;  // mean energy absorption of the faces, 0..1
  double sabine = 0;      // s; infinite when nothing absorbs
  double eyring = 0;      // s
  double otherLoss = 0;   // 1/s of energy decay that is not the walls' (the air's)
};

struct ReverberationEstimate {
  bool available = false;
  std::string reason;                    // why there is none
  double area = 0;                       // m² of floor plan
  double perimeter = 0;                  // m of wall faces; a wall inside the room counts twice
  double height = 0;                     // m; 0 for a plan without a height
  double meanFreePath = 0;               // m
  double hitsPerSecond = 0;              // wall faces a ray meets per second
  std::vector<ReverberationBand> bands;  // the octaves the analysis reports
  // Why a render may well measure a different reverberation, one sentence each.
  std::vector<std::string> cautions;
};

// The room is the region around the emitters (of every group) bounded by
// walls that reflect; a pass-through wall inside it absorbs on both faces
// without being a face itself. Each face absorbs 1 - a² of the energy it
// meets, a being the amplitude its material keeps at the band's centre; the
// air takes its share along the way. A design given a height is estimated
// from its materials as given, before the height converted them. Unavailable
// when there is no emitter or the room is not closed.
ReverberationEstimate EstimateReverberation(const TDesignRecord& record);

}  // namespace zm::cli
