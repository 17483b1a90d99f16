#pragma once
// One operation at a time. Whatever the seller starts (a command link, a
// button or menu entry), a drawing, a page fill, a printing wait or a timer's
// late completion holds the window busy from its first step to its last.
// While any hold is alive, every button, menu entry and command link is
// refused except the cancel action the newest hold names, a timer ticks only
// for the hold that owns it, and page change events wait until the window is
// idle. Holds nest: an operation that draws the view at its end holds twice.
//
// UI-free: the window greys its controls from `onChange` and hands in how a
// task is run after the current event (`setPoster`).

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

class Busy {
  public:
    struct Options {
        // The one command-link action still obeyed while this hold is the
        // newest (the cancel of a wait), "" for none.
        std::string cancelAction;
        // The polling timer whose ticks belong to this operation.
        std::string timer;
        // Asked before the window closes while this hold is alive ("" asks
        // nothing); when the seller closes anyway, `closingAnyway` runs.
        std::string closeQuestion;
        std::function<void()> closingAnyway;

        // A wait the seller may cancel, whose answer a timer polls for.
        static Options wait(std::string cancelAction, std::string timer)
        {
            Options o;
            o.cancelAction = std::move(cancelAction);
            o.timer = std::move(timer);
            return o;
        }
        // Work the window must not close on without asking.
        static Options askBeforeClose(std::string question, std::function<void()> closingAnyway)
        {
            Options o;
            o.closeQuestion = std::move(question);
            o.closingAnyway = std::move(closingAnyway);
            return o;
        }
    };

    class Hold {
      public:
        ~Hold();
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

      private:
        friend class Busy;
        Hold(Busy &busy, Options options) : m_busy(busy), m_options(std::move(options)) {}
        Busy &m_busy;
        Options m_options;
    };
    // Released when the last copy goes.
    using Token = std::shared_ptr<Hold>;

    Busy() = default;
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

    Token hold(Options options = {});
    bool busy() const { return !m_holds.empty(); }
    // Whether a command link naming `action` may run now.
    bool allowsAction(std::string_view action) const;
    // Whether a tick of `timer` may run now.
    bool allowsTick(std::string_view timer) const;

    // Runs `task` now when the window is idle; otherwise keeps it and runs it
    // (posted) once the last hold has gone. With `hold`, the task holds the
    // window busy while it runs; a task that lets no events run needs none.
    void whenIdle(std::function<void()> task, bool hold = true);

    // Before the window closes: asks each alive hold's question newest first
    // through `ask` (true: close anyway); false as soon as one says stay.
    // When all agree, their `closingAnyway` run.
    bool mayClose(const std::function<bool(const std::string &question)> &ask);

    // Told true when the first hold is taken and false when the last goes.
    std::function<void(bool busy)> onChange;
    // How a task runs after the current event (the window's post); without
    // one, idle tasks run at once.
    void setPoster(std::function<void(std::function<void()>)> post) { m_post = std::move(post); }

  private:
    void release(Hold *hold);
    void runIdleTasks();

    std::vector<Hold *> m_holds; // oldest first
    struct IdleTask {
        std::function<void()> run;
        bool hold;
    };
    std::vector<IdleTask> m_idleTasks;
    std::function<void(std::function<void()>)> m_post;
};

} // namespace tw
