#include "ui/layouts.h"

#include "platform/text.h"

#include <algorithm>
#include <system_error>

namespace tw::ui {

std::vector<std::string> dazzleLayoutFiles(const std::filesystem::path &dazzleExe)
{
    std::vector<std::string> names;
    std::error_code ec;
    if (dazzleExe.empty() || !std::filesystem::is_regular_file(dazzleExe, ec)) return names;
    for (const auto &entry : std::filesystem::directory_iterator(dazzleExe.parent_path(), ec)) {
        if (!entry.is_regular_file(ec)) continue;
        std::string name = entry.path().filename().string();
        size_t dot = name.rfind('.');
        if (dot != std::string::npos && lower(name.substr(dot + 1)) == "lyt") names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return std::make_pair(lower(a), a) < std::make_pair(lower(b), b);
    });
    return names;
}

void AddDazzleLayoutsToSelect(const std::filesystem::path &dazzleExe, page::Element select, const std::string &selected)
{
    for (const std::string &name : dazzleLayoutFiles(dazzleExe))
        select.addOption(name, name, name == selected);
}

} // namespace tw::ui
