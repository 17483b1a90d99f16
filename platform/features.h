#pragma once
// Where each feature plugs into the window. At start-up every feature folder
// registers, in one function of its own, the command-link actions it answers,
// the pages it fills when they have finished loading, the controls and menu
// entries whose clicks it handles and the timers whose ticks it takes
// (app/features.cpp composes them). The page layer and the window look the
// handlers up here; a name nobody registered does nothing.
//
// A name registered twice is a programming error: the second registration
// throws std::logic_error, which the composition test catches.

#include "platform/busy.h"

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw {

// The key=value pairs of one command link: keys verbatim, values
// percent-decoded (ui/commandlink.h).
using Params = std::map<std::string, std::string>;

// The value of `key` in a command link; "" when the link has none.
inline std::string paramValue(const Params &params, const char *key)
{
    auto it = params.find(key);
    return it == params.end() ? std::string() : it->second;
}

class FeatureTable {
  public:
    using Action = std::function<void(const Params &params)>;
    using PageHandler = std::function<void(const std::string &url)>;
    using Handler = std::function<void()>;
    // A navigation about to proceed: its address and the address of the
    // document that asked for it ("" when the program itself navigates,
    // "redirect:" and the address for a server's redirect).
    using NavigationHandler = std::function<void(const std::string &url, const std::string &fromUrl)>;
    // The same, but returning true takes the navigation away from the
    // browser: it is cancelled and the feature deals with the address.
    using NavigationCatcher = std::function<bool(const std::string &url, const std::string &fromUrl)>;

    // What an action needs of the drawn view: every row of it (the default:
    // rows still to come are drawn first), or the rows as they are (it acts
    // on one row the seller clicked, or draws anew).
    enum class Rows { All, AsShown };
    // The command-link action `name` (compared exactly).
    void addAction(const std::string &name, Action run, Rows rows = Rows::All);
    // Runs when a served page has finished loading whose address, lower-cased,
    // equals the address of `path` ("/KORVA/settings.html"), lower-cased.
    void addPageFill(const std::string &path, PageHandler fill);
    // Runs for every page that has finished loading, after the fills, in
    // registration order: for pages known by more than their address.
    void addPageWatcher(PageHandler watch);
    // Runs for every navigation the page layer lets through (not for command
    // links, outside links or refused ones): for a feature that must know
    // which page it opened itself.
    void addNavigationWatcher(NavigationHandler watch);
    // Runs before the watchers for every navigation the page layer would let
    // through, redirects included: for an answer meant for the program, such
    // as eBay's redirect at the end of a sign-in, which must never be shown.
    // A catcher that returns true must not wait inside (post the work).
    void addNavigationCatcher(NavigationCatcher catcher);
    // A click on the button, label or menu entry `objectName`.
    void addCommand(const std::string &objectName, Handler click);
    // A tick of the timer `objectName`.
    void addTimer(const std::string &objectName, Handler tick);
    // How the current view is redrawn (RefreshGrid); the view registers it.
    void setRedraw(Handler redraw);
    // How the drawn view's rows still to come are drawn at once.
    void setRowsCompleter(Handler complete) { m_completeRows = std::move(complete); }

    // Runs the action named by params["Action"]; false when there is none.
    // The caller decides whether the window may take it (busy().allowsAction).
    bool runAction(const Params &params) const;
    bool hasAction(std::string_view name) const;
    // Before an action that reads the table: the rows still to come drawn.
    bool needsAllRows(std::string_view action) const { return m_asShown.find(action) == m_asShown.end(); }
    void completeRows() const
    {
        if (m_completeRows) m_completeRows();
    }
    std::vector<std::string> actionNames() const;
    // A click runs only while the window is idle, and holds it busy while it
    // runs; false when refused or nobody handles it.
    bool click(std::string_view objectName);
    // A tick runs while the window is idle (holding it busy meanwhile) or
    // busy with the operation that owns the timer; otherwise it is skipped
    // (the timer comes back).
    bool tick(std::string_view objectName);
    std::vector<std::string> commandNames() const;
    std::vector<std::string> timerNames() const;
    const std::vector<std::pair<std::string, PageHandler>> &pageFills() const { return m_fills; }
    const std::vector<PageHandler> &pageWatchers() const { return m_watchers; }
    const std::vector<NavigationHandler> &navigationWatchers() const { return m_navigationWatchers; }
    const std::vector<NavigationCatcher> &navigationCatchers() const { return m_navigationCatchers; }

    // Redraws the current view; operations that change orders end with it.
    void RefreshGrid() const;

    // The window's one busy state.
    Busy &busy() const { return m_busy; }

  private:
    std::map<std::string, Action, std::less<>> m_actions;
    std::map<std::string, Handler, std::less<>> m_commands;
    std::map<std::string, Handler, std::less<>> m_timers;
    std::vector<std::pair<std::string, PageHandler>> m_fills;
    std::vector<PageHandler> m_watchers;
    std::vector<NavigationHandler> m_navigationWatchers;
    std::vector<NavigationCatcher> m_navigationCatchers;
    Handler m_redraw;
    Handler m_completeRows;
    std::set<std::string, std::less<>> m_asShown;
    // Mutable: holding the window busy is not a change of what is registered.
    mutable Busy m_busy;
};

} // namespace tw
