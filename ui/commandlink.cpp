#include "ui/commandlink.h"

#include "platform/text.h"

namespace tw::ui {
namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "%XX" becomes its byte; a "%" without two hex digits stays as written, and
// "+" stays "+" (a form's blank arrives as "+", and the options page's
// Button=Save+Settings is compared as such).
std::string percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? hexDigit(text[i + 1]) : -1;
        const int low = high >= 0 ? hexDigit(text[i + 2]) : -1;
        if (low >= 0) {
            out += char(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

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
        params[key] = percentDecode(value);
    return params;
}

} // namespace tw::ui
