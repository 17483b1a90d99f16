#include "ui/commandlink.h"

#include "platform/text.h"

namespace tw::ui {

bool isCommandLink(std::string_view url)
{
    return containsNoCase(url, kCommandPrefix);
}

Params parseCommandLink(std::string_view url)
{
    // One pass over the address: a long link of repeated prefixes must not
    // cost the square of its length.
    const std::string prefix = lower(kCommandPrefix);
    const std::string folded = lower(url);
    std::string rest;
    rest.reserve(url.size());
    size_t from = 0;
    for (size_t at; (at = folded.find(prefix, from)) != std::string::npos; from = at + prefix.size())
        rest.append(url.substr(from, at - from));
    rest.append(url.substr(from));

    Params params;
    for (auto &[key, value] : splitQuery(rest))
        params[key] = value;
    return params;
}

} // namespace tw::ui
