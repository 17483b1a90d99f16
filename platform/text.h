#pragma once
// Small text helpers shared by every layer. ASCII case only: the texts they
// compare are addresses, keys and markers, never a seller's words.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw {

std::string lower(std::string_view text);
bool equalsNoCase(std::string_view a, std::string_view b);
bool containsNoCase(std::string_view haystack, std::string_view needle);
bool startsWithNoCase(std::string_view text, std::string_view prefix);
// Blanks (spaces and tabs) removed at both ends.
std::string trim(std::string_view text);

// "a=1&b=2&c" as [("a","1"), ("b","2"), ("c","")], in order, verbatim: no
// percent-decoding and no "+" to blank. A piece is split at its first "=";
// empty pieces are skipped.
std::vector<std::pair<std::string, std::string>> splitQuery(std::string_view query);
// The value of the last pair named exactly `key`, "" when there is none.
std::string queryValue(const std::vector<std::pair<std::string, std::string>> &pairs, std::string_view key);

} // namespace tw
