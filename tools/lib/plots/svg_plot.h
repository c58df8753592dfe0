// Self-contained SVG pictures: the plan of a design and an impulse response
// with its echogram and decay curve.
#pragma once

#include <string>
#include <vector>

#include "lib/audio/audio_file.h"
#include "zm/zm.h"

namespace zm::cli {

std::string PlanSvg(const TDesignRecord& record, const std::string& caption);

// The waveform, echogram and energy decay curve (with its T20 and T30 fits)
// of `channels` overlaid, filtered to the octave band at `bandCentre` (Hz;
// 0 for broadband).
std::string ImpulseResponseSvg(const AudioData& audio, const std::vector<int>& channels,
                               double bandCentre, const std::string& caption);

}  // namespace zm::cli
