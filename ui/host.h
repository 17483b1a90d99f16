#pragma once
// What the page layer needs from the main window, so it runs without one in
// tests. The window (app/) implements it.

#include "platform/page.h"

#include <functional>
#include <string>
#include <string_view>

namespace tw::ui {

class Host {
  public:
    virtual ~Host() = default;

    virtual page::Page &page() = 0;
    // The first panel of the status bar.
    virtual void setStatusText(std::string_view text) = 0;
    // A control, menu entry or timer by its object name.
    virtual void setControlEnabled(std::string_view name, bool enabled) = 0;
    // Loads `url` in the browser, or in the separate window of that name
    // when `target` is given ("plinthway").
    virtual void navigate(const std::string &url, const std::string &target = {}) = 0;
    // Opens `url` with the system's default handler (OpenURL).
    virtual void openExternal(const std::string &url) = 0;
    // Runs `task` on the user-interface thread once the current event is done.
    virtual void post(std::function<void()> task) = 0;
};

} // namespace tw::ui
