#include "postage/numbers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tw::postage {
namespace {

std::string_view trimBlanks(std::string_view s)
{
    const char *blanks = " \t\r\n";
    size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

// The integer digits and the fraction digits of a plain decimal.
bool splitDecimal(std::string_view text, std::string_view &whole, std::string_view &fraction)
{
    text = trimBlanks(text);
    size_t dot = text.find('.');
    whole = text.substr(0, dot);
    fraction = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (whole.empty() && fraction.empty()) return false;
    for (std::string_view part : {whole, fraction})
        for (char c : part)
            if (c < '0' || c > '9') return false;
    return true;
}

} // namespace

std::optional<double> parseDecimal(std::string_view text)
{
    std::string_view whole, fraction;
    if (!splitDecimal(text, whole, fraction)) return std::nullopt;
    std::string plain(trimBlanks(text));
    return std::strtod(plain.c_str(), nullptr);
}

double decimalOrZero(std::string_view text)
{
    return parseDecimal(text).value_or(0.0);
}

std::string formatNumber(double value)
{
    if (value == 0) return "0"; // also for -0
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

double roundHalfEven(double value)
{
    return std::nearbyint(value); // the default rounding mode is to nearest, ties to even
}

std::optional<Amount> Amount::parse(std::string_view text)
{
    std::string_view whole, fraction;
    if (!splitDecimal(text, whole, fraction)) return std::nullopt;
    // Amounts beyond ~900 billion make no sense on a postage form.
    if (whole.size() > 14) return std::nullopt;
    std::int64_t units = 0;
    for (char c : whole)
        units = units * 10 + (c - '0');
    for (size_t i = 0; i < 4; ++i)
        units = units * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    if (fraction.size() > 4) {
        std::string_view rest = fraction.substr(4);
        bool aboveHalf = rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string_view::npos);
        bool half = rest[0] == '5' && !aboveHalf;
        if (aboveHalf || (half && units % 2 != 0)) ++units;
    }
    return fromUnits(units);
}

Amount Amount::operator*(Amount other) const
{
    __int128 product = static_cast<__int128>(m_units) * other.m_units;
    __int128 quotient = product / 10000;
    __int128 remainder = product % 10000;
    if (remainder < 0) remainder = -remainder;
    int sign = product < 0 ? -1 : 1;
    if (remainder > 5000 || (remainder == 5000 && quotient % 2 != 0)) quotient += sign;
    return fromUnits(static_cast<std::int64_t>(quotient));
}

std::string Amount::toText() const
{
    std::int64_t units = m_units < 0 ? -m_units : m_units;
    std::string text = (m_units < 0 ? "-" : "") + std::to_string(units / 10000);
    std::int64_t fraction = units % 10000;
    if (fraction != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04lld", static_cast<long long>(fraction));
        std::string f = digits;
        while (f.back() == '0')
            f.pop_back();
        text += "." + f;
    }
    return text;
}

} // namespace tw::postage
