#pragma once
// The one source of "now" for the whole program. Tests install a clock of
// their own (tests/support/mock_clock.h) instead of sleeping or touching the
// machine's clock.

#include "platform/datetime.h"

namespace tw {

class Clock {
  public:
    virtual ~Clock() = default;
    // The local wall-clock date and time.
    virtual DateTime localNow() const = 0;
    // Offset of the local zone from UTC at that local time, in seconds
    // (+19800 for +05:30, -18000 for -05:00).
    virtual int utcOffsetSeconds(const DateTime &local) const = 0;
};

// The machine's clock and zone.
class SystemClock : public Clock {
  public:
    DateTime localNow() const override;
    int utcOffsetSeconds(const DateTime &local) const override;
};

// The clock in force; the system clock unless a test installed another.
const Clock &clock();
// Installs `c` (not owned) and returns the previous one; nullptr restores the
// system clock.
const Clock *setClock(const Clock *c);

} // namespace tw
