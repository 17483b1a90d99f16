// Running a task after the current event, where it may wait on the page.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace tw {

// Qt delivers a zero-delay single shot as a posted event. A task run from one
// that then waits on the page in a nested event loop can hold back the browser
// engine's own posted work, and the page's answer with it, until the wait
// times out (seen under load as a 10 s stall of a change handler). A timer
// event is dispatched outside the posted-event queue and does not.
inline void runAfterCurrentEvent(QObject *context, std::function<void()> task)
{
    QTimer::singleShot(1, context, std::move(task));
}

} // namespace tw
