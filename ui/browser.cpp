#include "ui/browser.h"

#include "ebay/clseBayAPI.h"
#include "pages/pages.h"
#include "platform/clock.h"
#include "platform/config.h"
#include "platform/text.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "ui/commandlink.h"
#include "ui/served.h"

#include <cctype>

namespace tw::ui {
namespace {

std::string actionOf(const Params &params)
{
    auto it = params.find("Action");
    return it == params.end() ? std::string() : it->second;
}

bool isWebAddress(std::string_view url)
{
    return startsWithNoCase(url, "http://") || startsWithNoCase(url, "https://");
}

// The milliseconds of an eBay time ("...T18:00:00.250Z"), which
// eBayTimeToDate leaves out.
int millisecondsOf(std::string_view eBayTime)
{
    const size_t dot = eBayTime.find('.', eBayTime.find('T'));
    if (dot == std::string_view::npos) return 0;
    int ms = 0, digits = 0;
    for (size_t i = dot + 1; i < eBayTime.size() && digits < 3 && std::isdigit((unsigned char)eBayTime[i]);
         ++i, ++digits)
        ms = ms * 10 + (eBayTime[i] - '0');
    for (; digits < 3; ++digits)
        ms *= 10;
    return ms;
}

} // namespace

std::string Browser::pageUrl(std::string_view path)
{
    return pages::url(path);
}

bool Browser::isOwnPage(const std::string &url)
{
    return url.empty() || equalsNoCase(url, "about:blank") || startsWithNoCase(url, pages::url("/"));
}

Browser::Browser(Session &session, Shell &shell, FeatureTable &table)
    : m_session(session), m_shell(shell), m_table(table)
{
    mobjGenericHtmlEventHandler.DataChanged = [this] { mobjGenericHtmlEventHandler_DataChanged(); };
}

void Browser::pleaseWait()
{
    m_shell.post([this] {
        if (!m_shell.processingShown()) return;
        page::Element overlay = m_shell.page().element("ProcessingElement");
        if (overlay && overlay.innerText().find("Please wait") == std::string::npos)
            overlay.appendHTML("<br>(Please wait)");
    });
}

bool Browser::isOutsideLink(const std::string &url) const
{
    // Only web addresses go to a browser: a file: or other link that merely
    // holds an eBay address must not be opened by the system.
    if (!isWebAddress(url)) return false;
    std::string viewItem = GetNodeText(m_session.eBayDetails ? m_session.eBayDetails.node() : xml::Node(),
                                       "GeteBayDetailsResponse/URLDetails[URLType='ViewItemURL']/URL");
    if (!viewItem.empty() && containsNoCase(url, viewItem)) return true;
    for (const char *key : {"ebay/FeedbackUrl", "usps/TrackingPageUrl", "web/CertificatePage", "ebay/SalesRecordUrl",
                            "ups/TrackingPageUrl"}) {
        std::string address = config().get(key);
        if (!address.empty() && containsNoCase(url, address)) return true;
    }
    return false;
}

bool Browser::WebBrowser1_BeforeNavigate2(const std::string &url, const std::string &fromUrl)
{
    m_shell.setStatus("");

    // What the program loads itself (and the redirects of it) goes through;
    // anything the seller or a page starts waits for the work in progress.
    const bool programsOwn = fromUrl.empty() || fromUrl.rfind("redirect:", 0) == 0;
    Busy &busy = m_table.busy();
    if (busy.busy() && !programsOwn) {
        const bool cancel =
            isCommandLink(url) && isOwnPage(fromUrl) && busy.allowsAction(actionOf(parseCommandLink(url)));
        if (!cancel) {
            pleaseWait();
            return true;
        }
    }

    if (!isCommandLink(url)) {
        for (const auto &caught : m_table.navigationCatchers())
            if (caught(url, fromUrl)) return true;
        if (isOutsideLink(url)) {
            bool system = settings::isOn(settings::read(m_session.store.settings(), "DefaultBrowser"));
            m_shell.post([this, url, system] {
                if (system)
                    m_shell.openExternal(url);
                else
                    m_shell.navigate(url, "plinthway");
            });
            return true;
        }
        // The window shows web pages and our own; a file:, data: or other
        // address is not followed.
        if (!(isWebAddress(url) || isOwnPage(url))) return true;
        for (const auto &watch : m_table.navigationWatchers())
            watch(url, fromUrl);
        return false;
    }

    // A page from elsewhere (an eBay page, say) cannot command the program.
    if (!isOwnPage(fromUrl)) return true;
    Params params = parseCommandLink(url);
    // Busy from this moment, before the action's first page call: a second
    // click meanwhile is refused, not run inside this one.
    auto hold = std::make_shared<Busy::Token>(busy.hold());
    m_shell.post([this, params, hold] {
        if (m_table.needsAllRows(actionOf(params))) m_table.completeRows();
        m_table.runAction(params);
        hold->reset();
        if (actionDone) actionDone(params);
    });
    return true;
}

void Browser::WebBrowser1_DocumentComplete(const std::string &url)
{
    const std::string address = lower(url);
    Busy::Token hold = m_table.busy().hold();
    if (address == lower(pageUrl(kMainPage)) && !m_session.mainPageInitialised) {
        m_session.mainPageInitialised = true;
        FirstTimeInit(m_session, m_shell);
    }
    for (const auto &[path, fill] : m_table.pageFills())
        if (address == lower(pageUrl(path))) fill(url);
    for (const auto &watch : m_table.pageWatchers())
        watch(url);
}

void Browser::mobjGenericHtmlEventHandler_DataChanged()
{
    static const std::pair<const char *, const char *> rows[] = {
        {"TestMode", "PrintPostageTestMode"},
        {"AutoClose", "DazzleAutoClose"},
        {"CustomsCertify", "DazzleCustomsCertify"},
    };
    page::Page &page = m_shell.page();
    for (const auto &[name, key] : rows) {
        page::Element box = page.element(name);
        if (!box) continue;
        bool checked = box.checked();
        if (checked != settings::isOn(settings::read(m_session.store.settings(), key))) {
            SetChildText(m_session.store.settings(), "Settings", key, checked ? "True" : "False");
            m_session.store.save(store::Doc::Settings);
        }
    }
}

void FirstTimeInit(Session &session, Shell &shell)
{
    shell.setEnabled("cmdDownloadOrders", false);
    shell.setEnabled("mnuAuthorizeeBayID", false);

    // When eBay cannot be reached or refuses the stored token, the window
    // stays usable for viewing (the calls' overlay goes), the seller is told
    // why, and signing in again is offered: an expired token must not leave
    // the program without a way back.
    ebay::clseBayAPI api(session, shell);
    auto stopEarly = [&] {
        shell.ProcessingImageHide();
        const std::string why = api.lastProblem().empty() ? "eBay did not confirm the request" : api.lastProblem();
        if (!api.connection().signInProblem().empty())
            shell.setStatus("eBay start-up failed: " + api.connection().signInProblem());
        else
            shell.setStatus("eBay start-up failed: " + why +
                            ". Downloads stay off; Tools > Authorize eBay Account signs in again.");
        shell.setEnabled("mnuAuthorizeeBayID", true);
    };
    xml::Document details = api.SynchronousGeteBayDetails();
    if (!details) return stopEarly();
    session.eBayDetails = std::move(details);

    xml::Document official = api.SynchronousGeteBayOfficialTime();
    if (!official) return stopEarly();

    shell.setStatus("");

    // With whole seconds the offset would run up to a second slow, and the
    // download of sent messages right after a message went could end before it.
    const std::string timestamp = GetNodeText(official.root(), "Timestamp");
    session.eBayOfficialTime = eBayTimeToDate(timestamp).addMsecs(millisecondsOf(timestamp));
    session.localTimeAtMeasurement = clock().localNow();
    if (session.eBayOfficialTime.isValid())
        session.eBayClockOffset = session.localTimeAtMeasurement.daysTo(session.eBayOfficialTime);

    shell.ProcessingImageDisplay();
    session.dazzleDefinitions = pages::loadXml(kDazzleDefinitions);
    // Left showing, the overlay would refuse every navigation from now on.
    shell.ProcessingImageHide();

    shell.setEnabled("cmdDownloadOrders", true);
    shell.setEnabled("Label1", true);
    shell.setEnabled("mnuDownloadDaysofOrders", true);
}

} // namespace tw::ui
