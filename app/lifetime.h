#pragma once
// How the process ends. Exit ends it at once: every change was saved when it
// was made, so nothing is left to save; only the tasks registered here run
// (the data folder's lock is released, the log closed).

#include <functional>

namespace tw::app {

// Runs `task` when the process ends through endProcess(), last registered first.
void atEnd(std::function<void()> task);

[[noreturn]] void endProcess(int code = 0);

} // namespace tw::app
