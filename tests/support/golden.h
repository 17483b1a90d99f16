#pragma once
// Golden files: expected output kept under tests/data/<case>/ and compared
// byte for byte.
//
// With TW_UPDATE_GOLDEN=1 in the environment a golden file that differs is
// rewritten, the difference is printed, and the test still fails: a
// re-bless is always looked at and committed on purpose, never slipped
// through in a green run.

#include <filesystem>
#include <string>
#include <string_view>

namespace tw::test {

// A readable difference between two texts: lines, and long lines cut
// before tags, marked "-" (expected only), "+" (actual only) or " " (context).
// Empty when the texts are equal.
std::string goldenDiff(std::string_view expected, std::string_view actual);

// Adds a test failure unless `actual` equals the content of `golden`
// (re-blessing it first when TW_UPDATE_GOLDEN is set).
void expectGolden(const std::filesystem::path &golden, std::string_view actual);

} // namespace tw::test
