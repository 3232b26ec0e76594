// "Did you mean": the known name closest to a word of the command line that
// names no command or option.
#pragma once

#include <string>
#include <vector>

// The fewest insertions, deletions, substitutions and swaps of two
// neighbouring characters that turn one text into the other (bytes).
size_t EditDistance(const std::string& strA, const std::string& strB);

// The name of aNames nearest to strWord, at most two edits away; empty when
// none is.
std::string SuggestName(const std::string& strWord, const std::vector<std::string>& aNames);
