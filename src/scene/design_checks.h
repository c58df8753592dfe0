// What the scene refuses while it is built, and why.
//
// The host owns the design record and may hand over anything. Every value
// that the engine later uses as an index, a buffer size, a loop count or a
// divisor is checked here, before any tracing, so that a bad design fails
// with a message that names the slot and the field instead of reading
// outside the record, writing outside a buffer or running for hours.
// Unused slots are never checked: hosts keep stale data there, and neither
// is any value the run will not read (a material no wall uses, the air
// attenuation when an air material exists, the stereo settings of output
// that is not stereo, the direction of emitters that send no rays): a host
// may keep odd values where it does not use them.
// Slot numbers in the messages are the zero-based slot indices of the record.
#pragma once

#include <cmath>
#include <cstdint>

#include "support/exception.h"
#include "zm/zm.h"

namespace zm {

// Sample rates above this are refused: the highest rate in common use, and
// far beyond any band the filter table describes (21 kHz at most).
inline constexpr int32_t kMaxSampleRate = 768000;

// The filter table takes 513 x N x 256 bytes: 134 MB at N = 1024. Longer
// filters would need hundreds of megabytes before the first ray and make
// every arrival cost thousands of multiply-adds.
inline constexpr int32_t kMinFilterLength = 2;
inline constexpr int32_t kMaxFilterLength = 1024;

// The eight channel buffers together may take at most 1 GiB (2^24 samples
// per channel, about 6 minutes at 44100 Hz); the render's output buffer
// takes about half of that again. The output file then stays far below the
// 4 GiB that its uint32 RIFF sizes can describe.
inline constexpr int64_t kMaxChannelStorageBytes = int64_t{1} << 30;
inline constexpr int64_t kMaxWaveFileBytes = int64_t{0xFFFFFFFF};

// Every late reflection adds this many extra arrivals, and the abort byte is
// only read between rays: a larger count makes one ray run for minutes.
inline constexpr int32_t kMaxSubArrivals = 1000;

// Direct sound is scaled by 10^(0.15 x level); beyond this the factor
// overflows a double and the impulse fills with infinities.
inline constexpr int32_t kMaxDirectSoundLevel = 2000;

namespace msg::scene {
inline constexpr MessageText sWallStartPoint{"Wall %d: start point %d is outside 0 to 199"};
inline constexpr MessageText sWallEndPoint{"Wall %d: end point %d is outside 0 to 199"};
inline constexpr MessageText sWallMaterial{"Wall %d: material %d is outside 0 to 19"};
inline constexpr MessageText sWallChannel{"Wall %d: channel %d is outside 0 to 7"};
inline constexpr MessageText sWallGain{"Wall %d: gain is not a finite number"};
inline constexpr MessageText sWallTooLong{"Wall %d: end points are too far apart"};
inline constexpr MessageText sEmitterPoint{"Emitter %d: point %d is outside 0 to 199"};
inline constexpr MessageText sEmitterDirection{"Emitter %d: direction is not a finite number"};
inline constexpr MessageText sEmitterSpread{"Emitter %d: spread is not a finite number"};
inline constexpr MessageText sEmitterLevel{"Emitter %d: level is not a finite number"};
inline constexpr MessageText sPointNotFinite{"Point %d: coordinates are not finite numbers"};
inline constexpr MessageText sPointOutOfRange{
    "Point %d: coordinates times the coordinate scale are out of range"};
inline constexpr MessageText sCoordinateScale{"Coordinate scale is not a finite number"};
inline constexpr MessageText sMaterialReflection{"Material %d: reflection is not a finite number"};
inline constexpr MessageText sMaterialScatter{"Material %d: scatter is not a finite number"};
inline constexpr MessageText sMaterialBandFactor{
    "Material %d: band factor %d is not a finite number"};
inline constexpr MessageText sOptionNotFinite{"%s is not a finite number"};
inline constexpr MessageText sSampleRate{"Sample rate %d is above %d"};
inline constexpr MessageText sBitsPerSample{"Bits per sample %d is not 8, 16, 24 or 32"};
inline constexpr MessageText sFilterLength{"Filter length %d is outside %d to %d"};
inline constexpr MessageText sImpulseTooLong{"Impulse length gives more than %d samples at %d Hz"};
inline constexpr MessageText sSubArrivals{"Sub-arrivals %d is above %d"};
inline constexpr MessageText sDirectSoundLevel{"Direct sound level %d is above %d"};
inline constexpr MessageText sFixedGainTooLarge{"Fixed gain is too large"};
inline constexpr MessageText sGroupRayTotal{"Group %d: total ray count exceeds 2147483647"};
}  // namespace msg::scene

// A design the engine cannot work with safely.
class EDesignError : public ERangeError {
  using ERangeError::ERangeError;
};

[[noreturn]] inline void RefuseDesign(const MessageText& message,
                                      std::initializer_list<FormatArg> args = {}) {
  throw EDesignError(Format(message, args));
}

inline bool IsFinite(double x) {
  return std::isfinite(x);
}

// Refuses an option that is not a finite number, naming it by `what`.
inline void RequireFiniteOption(double value, const char* what) {
  if (!IsFinite(value)) RefuseDesign(msg::scene::sOptionNotFinite, {what});
}

// Point `point` of the record in metres. `point` must already lie in 0 to
// 199. Refuses a coordinate or scale that is not finite, and a product that
// overflows.
void ReadScaledPoint(const TDesignRecord& design, int32_t point, double& x, double& y);

}  // namespace zm
