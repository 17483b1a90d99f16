#pragma once
// Command links: "http://plinthway/?Action=Name&key=value...". Keys and
// values are verbatim: no percent-decoding, no "+" to blank.

#include <map>
#include <string>
#include <string_view>

namespace tw::ui {

inline constexpr std::string_view kCommandPrefix = "http://plinthway/?";

using Params = std::map<std::string, std::string>;

// True when `url` contains the command prefix, whatever its case.
bool isCommandLink(std::string_view url);

// Removes every occurrence of the prefix (any case), splits the rest at "&"
// and each piece at the first "=". A piece without "=" gives a key with an
// empty value; a repeated key keeps its last value.
Params parseCommandLink(std::string_view url);

std::string lower(std::string_view s);
bool containsNoCase(std::string_view haystack, std::string_view needle);

} // namespace tw::ui
