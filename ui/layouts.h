#pragma once
// DAZzle's label layouts: the .lyt files in the folder of the DAZzle
// program, offered in a select of the options page and of the postage form.

#include "platform/page.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tw::ui {

// The layout files (*.lyt, any case) in the folder of the DAZzle executable,
// sorted by name regardless of case; empty when the executable does not
// exist.
std::vector<std::string> dazzleLayoutFiles(const std::filesystem::path &dazzleExe);

// Adds one option per layout file to `select` (text and value the file's
// name) and selects the one named exactly `selected`. Does nothing when no
// file exists at `dazzleExe`.
void AddDazzleLayoutsToSelect(const std::filesystem::path &dazzleExe, page::Element select,
                              const std::string &selected);

} // namespace tw::ui
