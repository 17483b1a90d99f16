#include "ui/commandlink.h"

#include <algorithm>
#include <cctype>

namespace tw::ui {

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

bool containsNoCase(std::string_view haystack, std::string_view needle)
{
    return lower(haystack).find(lower(needle)) != std::string::npos;
}

bool isCommandLink(std::string_view url)
{
    return containsNoCase(url, kCommandPrefix);
}

Params parseCommandLink(std::string_view url)
{
    std::string rest(url);
    const std::string prefix = lower(kCommandPrefix);
    for (size_t at; (at = lower(rest).find(prefix)) != std::string::npos;)
        rest.erase(at, prefix.size());

    Params params;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find('&', start);
        if (end == std::string::npos) end = rest.size();
        std::string piece = rest.substr(start, end - start);
        if (!piece.empty()) {
            size_t eq = piece.find('=');
            if (eq == std::string::npos)
                params[piece] = "";
            else
                params[piece.substr(0, eq)] = piece.substr(eq + 1);
        }
        start = end + 1;
    }
    return params;
}

} // namespace tw::ui
