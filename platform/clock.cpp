#include "platform/clock.h"

#include <QDateTime>
#include <QTimeZone>

namespace tw {
namespace {
const Clock *g_clock = nullptr;
}

DateTime SystemClock::localNow() const
{
    QDateTime now = QDateTime::currentDateTime();
    QDate d = now.date();
    QTime t = now.time();
    return DateTime::fromParts(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec());
}

int SystemClock::utcOffsetSeconds(const DateTime &local) const
{
    QDateTime at(QDate(local.year(), local.month(), local.day()), QTime(local.hour(), local.minute(), local.second()),
                 QTimeZone::systemTimeZone());
    return at.offsetFromUtc();
}

const Clock &clock()
{
    static const SystemClock system;
    return g_clock ? *g_clock : system;
}

const Clock *setClock(const Clock *c)
{
    const Clock *previous = g_clock;
    g_clock = c;
    return previous;
}

} // namespace tw
