#include "app/lifetime.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tw::app {
namespace {

std::vector<std::function<void()>> &tasks()
{
    static std::vector<std::function<void()>> list;
    return list;
}

} // namespace

void atEnd(std::function<void()> task)
{
    tasks().push_back(std::move(task));
}

void endProcess(int code)
{
    auto &list = tasks();
    while (!list.empty()) {
        auto task = std::move(list.back());
        list.pop_back();
        task();
    }
    std::fflush(nullptr);
    // No destructors of the window and WebEngine: they may block or crash
    // while the page is busy, and there is nothing left for them to do.
    std::_Exit(code);
}

} // namespace tw::app
