#pragma once
// The page layer of the main window: what happens before each navigation
// (command links, outside links, the busy guard), after each page has loaded
// (the one-time initialisation, then the fills that features registered for
// the page), and the generic element events of the postage form.

#include "platform/features.h"
#include "platform/shell.h"
#include "store/session.h"
#include "ui/clsDomEventHandler.h"

#include <functional>
#include <string>
#include <string_view>

namespace tw::ui {

class Browser {
  public:
    // All three must outlive the object.
    Browser(Session &session, Shell &shell, FeatureTable &table);

    // Decides one navigation. `fromUrl` is the address of the document that
    // asked for it, "" when the program itself navigates. Returns true to
    // cancel. Actions run after this returns (through Shell::post), never
    // inside the browser's callback.
    bool WebBrowser1_BeforeNavigate2(const std::string &url, const std::string &fromUrl);

    // A page has finished loading (not called for cancelled navigations).
    void WebBrowser1_DocumentComplete(const std::string &url);

    void mobjGenericHtmlEventHandler_DataChanged();
    clsDomEventHandler mobjGenericHtmlEventHandler;

    // Called after each command link's action has run (also an unknown one,
    // which ran nothing); automation mode reports it.
    std::function<void(const Params &params)> actionDone;

    // Address of a served page; true when `url` is one of our own pages.
    static std::string pageUrl(std::string_view path);
    static bool isOwnPage(const std::string &url);

    // The seller acted while the window is busy: the overlay says so once.
    void pleaseWait();

  private:
    bool isOutsideLink(const std::string &url) const;

    Session &m_session;
    Shell &m_shell;
    FeatureTable &m_table;
};

// The one-time initialisation after the first main page of the run: eBay's
// details and official time (the clock offset), the DAZzle definitions, then
// the download controls enabled. When eBay cannot be reached it stops early
// and the controls stay disabled.
void FirstTimeInit(Session &session, Shell &shell);

} // namespace tw::ui
