#include "ui/commandlink.h"

#include "platform/text.h"

namespace tw::ui {

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
    for (auto &[key, value] : splitQuery(rest))
        params[key] = value;
    return params;
}

} // namespace tw::ui
