#include "platform/text.h"

#include <algorithm>

namespace tw {
namespace {

char lowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lowerChar);
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && lower(a) == lower(b);
}

bool containsNoCase(std::string_view haystack, std::string_view needle)
{
    return lower(haystack).find(lower(needle)) != std::string::npos;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string trim(std::string_view text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::vector<std::pair<std::string, std::string>> splitQuery(std::string_view query)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    for (;;) {
        size_t amp = query.find('&');
        std::string_view piece = query.substr(0, amp);
        if (!piece.empty()) {
            size_t eq = piece.find('=');
            if (eq == std::string_view::npos)
                pairs.emplace_back(std::string(piece), std::string());
            else
                pairs.emplace_back(std::string(piece.substr(0, eq)), std::string(piece.substr(eq + 1)));
        }
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return pairs;
}

std::string queryValue(const std::vector<std::pair<std::string, std::string>> &pairs, std::string_view key)
{
    std::string value;
    for (const auto &[k, v] : pairs)
        if (k == key) value = v;
    return value;
}

} // namespace tw
