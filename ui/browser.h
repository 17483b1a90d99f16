#pragma once
// The page layer of the main window: what happens before each navigation
// (command links, outside links, the busy guard), after each page has loaded
// (which page gets filled by whom), the one-time initialisation and the
// generic element events. Operations of other subsystems plug in through
// the action table and the hooks; one that is not plugged in does nothing.

#include "store/session.h"
#include "ui/clsDomEventHandler.h"
#include "ui/commandlink.h"
#include "ui/host.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace tw::ui {

using Action = std::function<void(const Params &)>;

// The eBay calls FirstTimeInit needs: each gives the response document, or
// nothing when the call failed (having said why in the status bar).
struct EbayStartupCalls {
    std::function<std::optional<xml::Document>()> SynchronousGeteBayDetails;
    std::function<std::optional<xml::Document>()> SynchronousGeteBayOfficialTime;
};

// Operations of other subsystems the page events call.
struct PageHooks {
    std::function<void()> RefreshGrid;
    std::function<void()> DisplayOptions;
    std::function<void()> SaveSettings;
    std::function<void()> DisplayPrintPostage;
    std::function<void()> DisplayPrintPostageWorldShip;
    std::function<void()> DisplayComposeEmail;
    std::function<void()> RefreshSentMessages;
    std::function<void(const std::string &url)> FillContactForm;
    std::function<void(const std::string &url)> FinishAuthorization;
    std::function<void()> AuthorizationCancelled;
};

class Browser {
  public:
    Browser(Session &session, Host &host);

    // Decides one navigation. `fromUrl` is the address of the document that
    // asked for it, "" when the program itself navigates. Returns true to
    // cancel. Actions run after this returns (through Host::post), never
    // inside the browser's callback.
    bool WebBrowser1_BeforeNavigate2(const std::string &url, const std::string &fromUrl);

    // A page has finished loading (not called for cancelled navigations).
    void WebBrowser1_DocumentComplete(const std::string &url);

    void mobjGenericHtmlEventHandler_DataChanged();

    // The one-time initialisation after the first main page of the run.
    void FirstTimeInit();

    // Runs a command's action now (the table), as a command link would.
    void dispatch(const Params &params);

    // Address of a served page; true when `url` is one of our own pages.
    static std::string pageUrl(std::string_view path);
    static bool isOwnPage(const std::string &url);

    std::map<std::string, Action> actions;
    PageHooks hooks;
    EbayStartupCalls ebay;
    // Loads the DAZzle definitions; the default reads the served file.
    std::function<xml::Document()> loadDazzleDefinitions;

    clsDomEventHandler mobjGenericHtmlEventHandler;

  private:
    bool isOutsideLink(const std::string &url) const;
    void refreshGrid();

    Session &m_session;
    Host &m_host;
};

// The served file at `path` as an XML document: from the bundle for the
// built-in base, else fetched from the pages server (bounded wait). Null on
// failure.
xml::Document LoadServedDocument(std::string_view path);

} // namespace tw::ui
