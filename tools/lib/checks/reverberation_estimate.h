// A first guess at a design's reverberation from its plan alone: the
// diffuse-field formulas of Sabine and Eyring in two dimensions, where the
// mean free path between walls is pi S / P (S the room's area, P the length
// of the wall faces around it).
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
};

struct ReverberationEstimate {
  bool available = false;
  std::string reason;                    // why there is none
  double area = 0;                       // m²
  double perimeter = 0;                  // m of wall faces; a wall inside the room counts twice
  double meanFreePath = 0;               // m
  std::vector<ReverberationBand> bands;  // the octaves the analysis reports
};

// The room is the region around the emitters (of every group) bounded by
// walls that reflect; pass-through walls inside it absorb on both faces.
// Each face absorbs 1 - a² of the energy it meets, a being the amplitude
// its material keeps at the band's centre; the air takes its share along
// the way. Unavailable when there is no emitter or the room is not closed.
ReverberationEstimate EstimateReverberation(const TDesignRecord& record, const Plan& plan,
                                            const EnclosureGrid& grid);

}  // namespace zm::cli
