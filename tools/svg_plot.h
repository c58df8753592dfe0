// Self-contained SVG pictures: the plan of a design and an impulse response
// with its decay curve.
#pragma once

#include <string>

#include "audio_file.h"
#include "zm/zm.h"

namespace zm::cli {

std::string PlanSvg(const TDesignRecord& record, const std::string& caption);

// `channel` selects the channel drawn.
std::string ImpulseResponseSvg(const AudioData& audio, int channel, const std::string& caption);

}  // namespace zm::cli
