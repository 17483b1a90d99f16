#include "store/basFunctions.h"

#include <cstdio>

namespace tw {

std::string DateToeBayTime(const DateTime &value)
{
    if (!value.isValid()) return {};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", value.year(), value.month(), value.day(),
                  value.hour(), value.minute(), value.second());
    return buffer;
}

DateTime eBayTimeToDate(std::string_view text)
{
    auto t = text.find('T');
    if (t == std::string_view::npos) return {};
    std::string date(text.substr(0, t));
    std::string time(text.substr(t + 1));
    if (auto dot = time.find('.'); dot != std::string::npos) time.erase(dot);
    if (auto z = time.find('Z'); z != std::string::npos) time.erase(z, 1);
    return DateTime::fromString(date + " " + time);
}

std::string GetNodeText(const xml::Node &context, std::string_view xpath, std::string_view fallback,
                        const xml::Vars &vars)
{
    xml::Node node = context.select(xpath, vars);
    return node ? node.text() : std::string(fallback);
}

xml::Node SetNodeChildText(xml::Node parent, std::string_view name, std::string_view value)
{
    if (!parent) return {};
    xml::Node child = parent.element(name);
    if (!child) child = parent.appendElement(name);
    child.setText(value);
    return child;
}

xml::Node SetChildText(xml::Document &doc, std::string_view parentXPath, std::string_view name, std::string_view text)
{
    return SetNodeChildText(doc.select(parentXPath), name, text);
}

xml::Node AppendChildText(xml::Document &doc, std::string_view parentXPath, std::string_view name,
                          std::string_view text)
{
    xml::Node parent = doc.select(parentXPath);
    if (!parent) return {};
    xml::Node child = parent.appendElement(name);
    child.setText(text);
    return child;
}

std::string URLEncode(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            out += char(c);
        else if (c == ' ')
            out += '+';
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
} // namespace

std::string URLDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+')
            out += ' ';
        else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += char(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else
            out += c;
    }
    return out;
}

} // namespace tw
