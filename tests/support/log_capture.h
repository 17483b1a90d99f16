#pragma once
// Keeps the program's log in a folder of the test for the object's lifetime.

#include "platform/log.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace tw::test {

class LogCapture {
  public:
    explicit LogCapture(std::int64_t maxBytes = log::kDefaultMaxBytes, int keep = log::kDefaultKeep)
    {
        std::string error;
        EXPECT_TRUE(log::open(file(), maxBytes, keep, &error)) << error;
    }
    ~LogCapture()
    {
        log::setSecretSource({});
        log::close();
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::filesystem::path file() const { return m_dir / log::kFileName; }
    const TempDir &dir() const { return m_dir; }
    // Everything written so far.
    std::string text() const { return readFile(file()); }

  private:
    TempDir m_dir;
};

} // namespace tw::test
