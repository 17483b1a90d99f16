#pragma once
// A naive date and time (no zone), to the millisecond. The program keeps
// local wall-clock times and eBay's UTC times in it alike; which one a value
// holds is the caller's knowledge, as with the eBay clock offset.

#include <cstdint>
#include <string>
#include <string_view>

namespace tw {

class DateTime {
  public:
    DateTime() = default; // invalid

    // Invalid when a field is out of range (month 13, 30 February, hour 24).
    static DateTime fromParts(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int msec = 0);
    static DateTime fromMsecs(std::int64_t msecsSince1970);
    // Reads the fixed form of toString() ("2008-01-05 09:03:07"), also with
    // "T" between date and time and with fractional seconds; invalid otherwise.
    static DateTime fromString(std::string_view text);

    bool isValid() const { return m_valid; }
    std::int64_t toMsecs() const { return m_ms; }

    int year() const;
    int month() const;
    int day() const;
    int hour() const;
    int minute() const;
    int second() const;
    int msec() const;

    DateTime addMsecs(std::int64_t ms) const;
    DateTime addSecs(std::int64_t s) const { return addMsecs(s * 1000); }
    // Fractional days, rounded to the millisecond.
    DateTime addDays(double days) const;
    // other - this, in fractional days.
    double daysTo(const DateTime &other) const;

    // "YYYY-MM-DD hh:mm:ss": fixed, whatever the locale; fromString reads it back.
    std::string toString() const;

    friend bool operator==(const DateTime &a, const DateTime &b) = default;
    friend auto operator<=>(const DateTime &a, const DateTime &b)
    {
        if (a.m_valid != b.m_valid) return a.m_valid <=> b.m_valid;
        return a.m_ms <=> b.m_ms;
    }

  private:
    struct Civil {
        int year, month, day, hour, minute, second, msec;
    };
    Civil civil() const;

    bool m_valid = false;
    std::int64_t m_ms = 0;
};

} // namespace tw
