// Messages about a design in the words of what the user wrote. The engine
// (and CheckDesign, which speaks as it does) names record slots: "Wall 12:
// channel 9 is outside 0 to 7", "Point 8: ...", "Sample rate ...". For a
// design read from JSON the slot is turned back into the JSON path of the
// value: "walls[3].channel: channel 9 is outside 0 to 7".
//
// Nothing here prints, exits or keeps global state.
#pragma once

#include <string>

#include "lib/design/design_json.h"
#include "zm/zm.h"

namespace zm::cli {

// `origins` null: the design came from a design file, whose slots are what
// its users know; the message keeps them. Either way a refusal that names
// nothing ("Duplicate BBTree item") is explained from the record.
std::string DescribeForUser(const std::string& message, const TDesignRecord& record,
                            const JsonOrigins* origins);

}  // namespace zm::cli
