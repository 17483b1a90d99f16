#pragma once
// Command links: "http://plinthway/?Action=Name&key=value...". Our pages
// percent-encode every value they put into a link (queryEncode), and the
// browser hands the address over encoded, so values are percent-decoded
// here; "+" stays "+" and keys are taken verbatim.

#include "platform/features.h"

#include <string_view>

namespace tw::ui {

inline constexpr std::string_view kCommandPrefix = "http://plinthway/?";

// True when `url` contains the command prefix, whatever its case.
bool isCommandLink(std::string_view url);

// Removes every occurrence of the prefix (any case), splits the rest at "&"
// and each piece at the first "=", then decodes each value's "%XX" escapes
// (a "%" without two hex digits stays). A piece without "=" gives a key with
// an empty value; a repeated key keeps its last value.
Params parseCommandLink(std::string_view url);

} // namespace tw::ui
