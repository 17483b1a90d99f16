#include "platform/datetime.h"

#include <chrono>
#include <cmath>
#include <cstdio>

namespace tw {
namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;

std::int64_t floorDiv(std::int64_t a, std::int64_t b)
{
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

bool readInt(std::string_view text, size_t &pos, int digits, int &value)
{
    value = 0;
    for (int k = 0; k < digits; ++k, ++pos) {
        if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return false;
        value = value * 10 + (text[pos] - '0');
    }
    return true;
}

} // namespace

DateTime DateTime::fromParts(int year, int month, int day, int hour, int minute, int second, int msec)
{
    using namespace std::chrono;
    year_month_day ymd{std::chrono::year(year), std::chrono::month(unsigned(month)), std::chrono::day(unsigned(day))};
    if (!ymd.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
        msec > 999)
        return {};
    std::int64_t days = sys_days(ymd).time_since_epoch().count();
    DateTime result;
    result.m_valid = true;
    result.m_ms = days * kMsPerDay + ((hour * 60 + minute) * 60 + second) * 1000LL + msec;
    return result;
}

DateTime DateTime::fromMsecs(std::int64_t ms)
{
    DateTime result;
    result.m_valid = true;
    result.m_ms = ms;
    return result;
}

DateTime DateTime::fromString(std::string_view text)
{
    size_t pos = 0;
    int y, mo, d, h, mi, s, ms = 0;
    if (!readInt(text, pos, 4, y) || pos >= text.size() || text[pos++] != '-') return {};
    if (!readInt(text, pos, 2, mo) || pos >= text.size() || text[pos++] != '-') return {};
    if (!readInt(text, pos, 2, d)) return {};
    if (pos == text.size()) return fromParts(y, mo, d);
    if (text[pos] != ' ' && text[pos] != 'T') return {};
    ++pos;
    if (!readInt(text, pos, 2, h) || pos >= text.size() || text[pos++] != ':') return {};
    if (!readInt(text, pos, 2, mi) || pos >= text.size() || text[pos++] != ':') return {};
    if (!readInt(text, pos, 2, s)) return {};
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        int scale = 100;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            ms += (text[pos++] - '0') * scale;
            scale /= 10;
        }
    }
    if (pos < text.size() && text[pos] == 'Z') ++pos;
    if (pos != text.size()) return {};
    return fromParts(y, mo, d, h, mi, s, ms);
}

DateTime::Civil DateTime::civil() const
{
    using namespace std::chrono;
    std::int64_t days = floorDiv(m_ms, kMsPerDay);
    std::int64_t rest = m_ms - days * kMsPerDay;
    year_month_day ymd{sys_days(std::chrono::days(days))};
    Civil c;
    c.year = int(ymd.year());
    c.month = int(unsigned(ymd.month()));
    c.day = int(unsigned(ymd.day()));
    c.msec = int(rest % 1000);
    rest /= 1000;
    c.second = int(rest % 60);
    rest /= 60;
    c.minute = int(rest % 60);
    c.hour = int(rest / 60);
    return c;
}

int DateTime::year() const
{
    return civil().year;
}
int DateTime::month() const
{
    return civil().month;
}
int DateTime::day() const
{
    return civil().day;
}
int DateTime::hour() const
{
    return civil().hour;
}
int DateTime::minute() const
{
    return civil().minute;
}
int DateTime::second() const
{
    return civil().second;
}
int DateTime::msec() const
{
    return civil().msec;
}

DateTime DateTime::addMsecs(std::int64_t ms) const
{
    if (!m_valid) return {};
    return fromMsecs(m_ms + ms);
}

DateTime DateTime::addDays(double days) const
{
    if (!m_valid || !std::isfinite(days)) return {};
    return fromMsecs(m_ms + std::llround(days * double(kMsPerDay)));
}

double DateTime::daysTo(const DateTime &other) const
{
    return double(other.m_ms - m_ms) / double(kMsPerDay);
}

std::string DateTime::toString() const
{
    if (!m_valid) return {};
    Civil c = civil();
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", c.year, c.month, c.day, c.hour, c.minute,
                  c.second);
    return buffer;
}

} // namespace tw
