#pragma once
// Fixed reference data for WorldShip: US states, Canadian provinces and the
// countries UPS knows, each with its two-character code. Built in memory at
// start-up, never saved.

#include "platform/xml.h"

#include <string>
#include <string_view>

namespace tw {

// Lookup/UPS/{States/State, Provinces/Province, Countrys/Country}, each row
// Name then Code.
xml::Document InitLookup();

// The code of an exactly (case-sensitively) named country, or `fallback`.
std::string lookupCountryCode(const xml::Document &lookup, std::string_view countryName, std::string_view fallback);

} // namespace tw
