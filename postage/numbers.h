#pragma once
// Numbers as the postage forms hold them: plain decimal text ("2", "2.5",
// ".5"), money as a fixed-point amount of four decimal places.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tw::postage {

// Digits with at most one decimal point and at least one digit, blanks around
// allowed; no sign, no exponent, no thousands separators. nullopt otherwise.
std::optional<double> parseDecimal(std::string_view text);
// parseDecimal, or 0 for anything else (values read from orders).
double decimalOrZero(std::string_view text);

// Shortest text of up to 15 significant digits: 36, 2.5, 0.3125.
std::string formatNumber(double value);

// Nearest whole number, halves to the even one (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// Money in ten-thousandths, so sums of prices never drift.
class Amount {
  public:
    Amount() = default;
    static Amount fromUnits(std::int64_t tenThousandths)
    {
        Amount a;
        a.m_units = tenThousandths;
        return a;
    }
    // parseDecimal's syntax; digits after the fourth decimal round half to
    // even. nullopt for text that is not such a number.
    static std::optional<Amount> parse(std::string_view text);
    static Amount parseOrZero(std::string_view text) { return parse(text).value_or(Amount()); }

    std::int64_t units() const { return m_units; }
    Amount operator+(Amount other) const { return fromUnits(m_units + other.m_units); }
    // The product, rounded half to even to four decimals.
    Amount operator*(Amount other) const;
    friend bool operator==(Amount, Amount) = default;
    friend auto operator<=>(Amount, Amount) = default;

    // "25.98", "400", "0.0005": no trailing zeros, no decimal point for whole amounts.
    std::string toText() const;

  private:
    std::int64_t m_units = 0;
};

} // namespace tw::postage
