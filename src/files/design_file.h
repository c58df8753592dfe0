// Design files: a 4-byte magic and one HRC block holding the design record.
// Files of five earlier releases carry shorter layouts and are converted on
// load; every load then makes sure the design has an air material, a named
// default group and a nonzero default ray count.
#pragma once

#include "files/resource.h"
#include "support/exception.h"
#include "zm/zm.h"

namespace zm {

namespace msg::zm {
inline constexpr MessageText sInvalidSignature{"Invalid signature present in the specified file"};
inline constexpr MessageText sDesignBlockTooShort{
    "Design block of %d bytes is shorter than its layout of %d bytes (\"%s\")"};
}  // namespace msg::zm

// Writes the magic of the current layout and the record as one block at the
// stream's position.
void WriteDesign(TResource& stream, const TDesignRecord& design);

// Reads a design file of any known layout from the stream's position. The
// record is written only once everything has been read, converted and
// repaired; after a failure it is exactly as it was.
void ReadDesign(TResource& stream, TDesignRecord& design);

}  // namespace zm
