#pragma once
// Carries an element's page event back into the program: the page calls
// EventHandler, the holder hears DataChanged.

#include <functional>

namespace tw::ui {

class clsDomEventHandler {
  public:
    void EventHandler()
    {
        if (DataChanged) DataChanged();
    }
    std::function<void()> DataChanged;
};

} // namespace tw::ui
