// Suggestions for misspelt names: keys of a JSON design, command names.
#pragma once

#include <string>
#include <vector>

namespace zm::cli {

// The name in `candidates` closest to `word` (letter case ignored, a swap
// of neighbouring letters counting as one edit), or "" when none is close
// enough to be a likely misspelling: at most one edit for short words, a
// third of the word's length for longer ones.
std::string NearestName(const std::string& word, const std::vector<std::string>& candidates);

// " (did you mean \"NAME\"?)" for the nearest name, or "" when there is none.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace zm::cli
