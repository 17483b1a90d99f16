#include "ui/browser.h"

#include "pages/pages.h"
#include "platform/clock.h"
#include "platform/config.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "ui/overlay.h"
#include "ui/served.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <memory>

namespace tw::ui {
namespace {

constexpr std::string_view kCancelPostageLink = "http://plinthway/?action=cancelprintpostage";

bool startsWithNoCase(const std::string &text, const std::string &prefix)
{
    return !prefix.empty() && lower(text).rfind(lower(prefix), 0) == 0;
}

// Form fields get a value, anything else its text.
void setElementText(page::Element element, const std::string &text)
{
    if (!element) return;
    std::string tag = element.tagName();
    if (tag == "INPUT" || tag == "TEXTAREA" || tag == "SELECT")
        element.setValue(text);
    else
        element.setInnerText(text);
}

std::string param(const Params &params, const std::string &key)
{
    auto it = params.find(key);
    return it == params.end() ? std::string() : it->second;
}

} // namespace

std::string Browser::pageUrl(std::string_view path)
{
    return pages::url(path);
}

bool Browser::isOwnPage(const std::string &url)
{
    std::string base = pages::url("/");
    return url.empty() || lower(url) == "about:blank" || startsWithNoCase(url, base);
}

Browser::Browser(Session &session, Host &host) : m_session(session), m_host(host)
{
    loadDazzleDefinitions = [] { return LoadServedDocument(kDazzleDefinitions); };
    mobjGenericHtmlEventHandler.DataChanged = [this] { mobjGenericHtmlEventHandler_DataChanged(); };

    actions["SaveSettings"] = [this](const Params &p) {
        const std::string button = param(p, "Button");
        if (button == "Cancel") {
            m_host.navigate(pageUrl(kMainPage));
        } else if (button == "Save+Settings" && hooks.SaveSettings) {
            hooks.SaveSettings();
            m_host.setStatusText("Settings saved.");
            m_host.navigate(pageUrl(kMainPage));
        }
    };
    actions["CancelMessage"] = [this](const Params &) { refreshGrid(); };
    actions["CancelPrintPostage"] = [this](const Params &) {
        m_host.setControlEnabled("tmrWaitingForDazzle", false);
        ProcessingImageHide(m_host.page());
        refreshGrid();
    };
    actions["CancelPaypalRefund"] = [this](const Params &) {
        ProcessingImageHide(m_host.page());
        refreshGrid();
    };
}

void Browser::refreshGrid()
{
    if (hooks.RefreshGrid) hooks.RefreshGrid();
}

bool Browser::isOutsideLink(const std::string &url) const
{
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
    m_host.setStatusText("");

    page::Page &page = m_host.page();
    if (lower(url) != kCancelPostageLink && page.processingShown) {
        m_host.post([this] {
            page::Element overlay = m_host.page().element("ProcessingElement");
            if (overlay && overlay.innerText().find("Please wait") == std::string::npos)
                overlay.appendHTML("<br>(Please wait)");
        });
        return true;
    }

    if (!isCommandLink(url)) {
        if (isOutsideLink(url)) {
            bool system = settings::isOn(settings::read(m_session.store.settings(), "DefaultBrowser"));
            m_host.post([this, url, system] {
                if (system)
                    m_host.openExternal(url);
                else
                    m_host.navigate(url, "plinthway");
            });
            return true;
        }
        if (lower(url) == lower(config().get("ebay/AuthCancelUrl"))) {
            m_host.post([this] {
                if (hooks.AuthorizationCancelled) {
                    hooks.AuthorizationCancelled();
                } else {
                    m_host.navigate("about:blank");
                    m_host.setControlEnabled("cmdDownloadOrders", false);
                }
            });
            return true;
        }
        return false;
    }

    // A page from elsewhere (an eBay page, say) cannot command the program.
    if (!isOwnPage(fromUrl)) return true;
    Params params = parseCommandLink(url);
    m_host.post([this, params] { dispatch(params); });
    return true;
}

void Browser::dispatch(const Params &params)
{
    auto it = params.find("Action");
    if (it == params.end()) return;
    auto action = actions.find(it->second);
    if (action != actions.end() && action->second) action->second(params);
}

void Browser::WebBrowser1_DocumentComplete(const std::string &url)
{
    const std::string address = lower(url);
    if (address == lower(pageUrl(kMainPage)) && !m_session.mainPageInitialised) {
        m_session.mainPageInitialised = true;
        FirstTimeInit();
    }

    const std::pair<std::string_view, std::function<void()> *> fills[] = {
        {kPrintPostagePage, &hooks.DisplayPrintPostage},
        {kPrintPostageWorldShipPage, &hooks.DisplayPrintPostageWorldShip},
        {kComposeEmailPage, &hooks.DisplayComposeEmail},
        {kSettingsPage, &hooks.DisplayOptions},
        {kMainPage, &hooks.RefreshGrid},
    };
    for (const auto &[path, hook] : fills)
        if (address == lower(pageUrl(path)) && *hook) (*hook)();

    page::Page &page = m_host.page();
    const std::string contact = config().get("ebay/ContactUrl");
    if (!contact.empty() && address == lower(contact) &&
        page.body().innerText().find("Your question has been sent") != std::string::npos) {
        page.body().setInnerHTML("Message Sent. <br><br>Please wait while we update Tidewell...");
        if (hooks.RefreshSentMessages) hooks.RefreshSentMessages();
        ProcessingImageHide(page);
        refreshGrid();
    } else if (url.find("eBayISAPI.dll?ReturnUserEmail") != std::string::npos) {
        if (hooks.FillContactForm) hooks.FillContactForm(url);
    }

    const std::string marker = lower(kContactBuyerPage) + "?";
    if (size_t at = address.find(marker);
        at != std::string::npos && address.find(marker, at + 1) == std::string::npos) {
        Params query;
        std::string rest = url.substr(at + marker.size());
        for (size_t start = 0; start <= rest.size();) {
            size_t end = rest.find('&', start);
            if (end == std::string::npos) end = rest.size();
            std::string piece = rest.substr(start, end - start);
            size_t eq = piece.find('=');
            if (eq != std::string::npos) query[piece.substr(0, eq)] = piece.substr(eq + 1);
            start = end + 1;
        }
        const xml::Vars vars{{"item", param(query, "ItemID")}, {"transaction", param(query, "TransactionID")}};
        xml::Node order = m_session.store.transactions().select(
            "Transactions/Transaction[Item/ItemID=$item and TransactionID=$transaction]", vars);
        if (order) {
            const std::string title = GetNodeText(order, "Item/Title");
            const std::string item = GetNodeText(order, "Item/ItemID");
            setElementText(page.element("BuyerID"), GetNodeText(order, "Buyer/UserID"));
            setElementText(page.element("Item"), title + "(" + item + ")");
            setElementText(page.element("Subject"), "re: " + title + "(" + item + ")");
            setElementText(page.element("Message"),
                           GetNodeText(m_session.store.settings(), "Settings/DeliveredNeedsFollowUpMessage"));
            setElementText(page.element("ItemID"), item);
            setElementText(page.element("TransactionID"), GetNodeText(order, "TransactionID"));
        }
    }

    if (url.find("auth_auth_thanks") != std::string::npos && hooks.FinishAuthorization) hooks.FinishAuthorization(url);
}

void Browser::mobjGenericHtmlEventHandler_DataChanged()
{
    static const std::pair<const char *, const char *> rows[] = {
        {"TestMode", "PrintPostageTestMode"},
        {"AutoClose", "DazzleAutoClose"},
        {"CustomsCertify", "DazzleCustomsCertify"},
    };
    page::Page &page = m_host.page();
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

void Browser::FirstTimeInit()
{
    m_host.setControlEnabled("cmdDownloadOrders", false);
    m_host.setControlEnabled("mnuAuthorizeeBayID", false);

    // The calls leave their overlay showing; when eBay cannot be reached the
    // window must stay usable for viewing, so it goes when we stop early.
    std::optional<xml::Document> details;
    if (ebay.SynchronousGeteBayDetails) details = ebay.SynchronousGeteBayDetails();
    if (!details || !*details) {
        ProcessingImageHide(m_host.page());
        return;
    }
    m_session.eBayDetails = details->clone();

    std::optional<xml::Document> official;
    if (ebay.SynchronousGeteBayOfficialTime) official = ebay.SynchronousGeteBayOfficialTime();
    if (!official || !*official) {
        ProcessingImageHide(m_host.page());
        return;
    }

    m_host.setStatusText("");

    m_session.eBayOfficialTime = eBayTimeToDate(GetNodeText(official->root(), "Timestamp"));
    m_session.localTimeAtMeasurement = clock().localNow();
    if (m_session.eBayOfficialTime.isValid())
        m_session.eBayClockOffset = m_session.localTimeAtMeasurement.daysTo(m_session.eBayOfficialTime);

    page::Page &page = m_host.page();
    ProcessingImageDisplay(page);
    m_session.dazzleDefinitions = loadDazzleDefinitions ? loadDazzleDefinitions() : xml::Document(nullptr);
    // Left showing, the overlay would refuse every navigation from now on.
    ProcessingImageHide(page);

    m_host.setControlEnabled("cmdDownloadOrders", true);
    m_host.setControlEnabled("Label1", true);
    m_host.setControlEnabled("mnuDownloadDaysofOrders", true);
}

xml::Document LoadServedDocument(std::string_view path)
{
    if (pages::builtInBase()) {
        auto bytes = pages::bundled(path);
        return bytes ? xml::Document::parse(std::string_view(bytes->constData(), size_t(bytes->size())))
                     : xml::Document(nullptr);
    }
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QString::fromStdString(pages::url(path))));
    int seconds = std::atoi(config().get("net/TimeoutSeconds").c_str());
    request.setTransferTimeout((seconds > 0 ? seconds : 60) * 1000);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (reply->error() != QNetworkReply::NoError) return xml::Document(nullptr);
    QByteArray bytes = reply->readAll();
    return xml::Document::parse(std::string_view(bytes.constData(), size_t(bytes.size())));
}

} // namespace tw::ui
