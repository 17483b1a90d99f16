#include "tests/support/golden.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace tw::test {
namespace {

// Request texts are long single lines; cutting them before tags keeps the
// difference down to the elements that changed.
std::vector<std::string_view> units(std::string_view text)
{
    std::vector<std::string_view> out;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<' && i - start >= 40) {
            out.push_back(text.substr(start, i - start));
            start = i;
        }
        if (text[i] == '\n') {
            out.push_back(text.substr(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < text.size()) out.push_back(text.substr(start));
    return out;
}

} // namespace

std::string goldenDiff(std::string_view expected, std::string_view actual)
{
    if (expected == actual) return {};
    const std::vector<std::string_view> a = units(expected), b = units(actual);
    // Longest common subsequence of units; golden files are small.
    std::vector<std::vector<int>> lcs(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (size_t i = a.size(); i-- > 0;)
        for (size_t j = b.size(); j-- > 0;)
            lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    std::string out;
    auto line = [&](char mark, std::string_view unit) {
        out += mark;
        out.append(unit);
        if (unit.empty() || unit.back() != '\n') out += '\n';
    };
    size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        if (i < a.size() && j < b.size() && a[i] == b[j]) {
            line(' ', a[i]);
            ++i, ++j;
        } else if (i < a.size() && (j == b.size() || lcs[i + 1][j] >= lcs[i][j + 1])) {
            line('-', a[i++]);
        } else {
            line('+', b[j++]);
        }
    }
    return out;
}

void expectGolden(const std::filesystem::path &golden, std::string_view actual)
{
    const std::string expected = std::filesystem::exists(golden) ? readFile(golden) : std::string();
    if (expected == actual) return;
    const std::string diff = goldenDiff(expected, actual);
    const char *update = std::getenv("TW_UPDATE_GOLDEN");
    if (update && *update && std::string_view(update) != "0") {
        writeFile(golden, actual);
        ADD_FAILURE() << "re-blessed " << golden.string()
                      << " because TW_UPDATE_GOLDEN is set; check this difference, commit the file and run "
                         "again without it:\n"
                      << diff;
        return;
    }
    ADD_FAILURE() << golden.string() << " differs (- golden, + actual):\n" << diff;
}

} // namespace tw::test
