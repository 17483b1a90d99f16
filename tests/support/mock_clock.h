#pragma once
// A clock the test sets and moves; installed for the lifetime of the object.

#include "platform/clock.h"

namespace tw::test {

class MockClock : public Clock {
  public:
    explicit MockClock(DateTime now = DateTime::fromParts(2008, 1, 5, 9, 3, 7), int utcOffsetSeconds = 0)
        : m_now(now), m_offset(utcOffsetSeconds)
    {
        m_previous = setClock(this);
    }
    ~MockClock() override { setClock(m_previous); }
    MockClock(const MockClock &) = delete;
    MockClock &operator=(const MockClock &) = delete;

    DateTime localNow() const override { return m_now; }
    int utcOffsetSeconds(const DateTime &) const override { return m_offset; }

    void set(DateTime now) { m_now = now; }
    void advanceSecs(long long secs) { m_now = m_now.addSecs(secs); }
    void setUtcOffset(int seconds) { m_offset = seconds; }

  private:
    DateTime m_now;
    int m_offset;
    const Clock *m_previous = nullptr;
};

} // namespace tw::test
