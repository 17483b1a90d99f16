#pragma once
// What the DAZzle and WorldShip simulators share: the markers a test writes
// into a name or reference to choose an answer, and the hash that makes
// their numbers repeatable.

#include <cstdint>
#include <optional>
#include <string>

namespace tw::sandbox::sim {

inline std::uint64_t fnv1a(const std::string &text)
{
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// The argument of MARKER(...) in `text`; "" for the bare marker.
inline std::optional<std::string> marker(const std::string &text, const std::string &name)
{
    size_t at = text.find(name);
    if (at == std::string::npos) return std::nullopt;
    size_t open = at + name.size();
    if (open < text.size() && text[open] == '(') {
        size_t close = text.find(')', open);
        if (close != std::string::npos) return text.substr(open + 1, close - open - 1);
    }
    return std::string();
}

} // namespace tw::sandbox::sim
