// A room with a height: the plan's walls standing between a floor and a
// ceiling. The engine traces the plan only, so the tool folds the floor and
// ceiling into the "** AIR **" material, as a loss per metre travelled, and
// converts the walls' absorption from the rate at which rays in a plane meet
// them to the rate in a room of that height (docs/height.md derives both).
// The engine and every host then see an ordinary design record.
//
// What the fold needs to be undone (the height, floor, ceiling and the
// materials as given) is kept in a tagged region of the host block, so that
// design files keep it and JSON -> record -> JSON gives the design back.
//
// Nothing here prints, exits or keeps global state.
#pragma once

#include <cstddef>
#include <optional>

#include "zm/zm.h"

namespace zm::cli {

struct RoomHeight {
  double height = 0;  // m, finite and above 0
  TMaterialEntry floor{}, ceiling{};
};

// The bytes of the host block the fold writes; a design given a height
// must leave them zero.
inline constexpr size_t kHeightTagOffset = 2048;
inline constexpr size_t kHeightTagSize = ZM_HOST_BLOCK_SIZE - kHeightTagOffset;

// The slot the air material takes: the one in use with its name, else the
// first free slot (where design loading would create it); -1 when neither.
int AirSlotOf(const TDesignRecord& record);

// Folds `height` into `record`. The caller has checked that the tag's bytes
// are zero, that an air slot exists and that the floor's and ceiling's
// amplitudes lie in 0..1.
void FoldHeight(TDesignRecord& record, const RoomHeight& height);

// The design as given before FoldHeight, with its height; nothing when the
// record holds no intact tag or its materials are no longer what folding the
// tag's design gives (a host edited them since).
std::optional<RoomHeight> UnfoldHeight(const TDesignRecord& folded, TDesignRecord& plain);

// Amplitude a material keeps per hit on band b.
inline double BandAmplitude(const TMaterialEntry& m, int band) {
  return m.Reflection * m.BandFactors[band];
}

}  // namespace zm::cli
