#include "app/operations.h"

#include "app/form1.h"
#include "ebay/Authorization.h"
#include "ebay/clseBayAPI.h"
#include "orders/download.h"
#include "orders/shipment.h"
#include "orders/usps.h"
#include "pages/pages.h"
#include "ui/dialogs.h"
#include "ui/overlay.h"
#include "ui/served.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace tw::app {

void WindowUiSink::status(int panel, const std::string &text)
{
    if (panel == 1) m_window.setStatusText(text);
}

void WindowUiSink::ProcessingImageDisplay(const std::string &text)
{
    ui::ProcessingImageDisplay(m_window.page(), text);
}

void WindowUiSink::ProcessingImageHide()
{
    ui::ProcessingImageHide(m_window.page());
}

void WindowUiSink::messageBox(const std::string &title, const std::string &text)
{
    ui::MsgBox(text, title);
}

void WindowUiSink::setEnabled(std::string_view objectName, bool enabled)
{
    m_window.setControlEnabled(objectName, enabled);
}

namespace {

std::optional<xml::Document> orNothing(xml::Document doc)
{
    if (!doc) return std::nullopt;
    return doc;
}

bool samePage(const std::string &url, std::string_view path)
{
    std::string a = url, b = pages::url(path);
    auto lower = [](std::string &s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    };
    lower(a);
    lower(b);
    return a == b;
}

} // namespace

Operations::Operations(form1 &window) : m_window(window), m_ui(window)
{
    ui::Browser &browser = window.browser();
    browser.ebay.SynchronousGeteBayDetails = [this] {
        ebay::clseBayAPI api(m_window.session(), m_ui);
        return orNothing(api.SynchronousGeteBayDetails());
    };
    browser.ebay.SynchronousGeteBayOfficialTime = [this] {
        ebay::clseBayAPI api(m_window.session(), m_ui);
        return orNothing(api.SynchronousGeteBayOfficialTime());
    };
    // The main page has loaded: draw it, unless the user has moved on meanwhile.
    browser.hooks.RefreshGrid = [this] {
        if (samePage(m_window.page().url(), ui::kMainPage)) RefreshGrid();
    };
    browser.hooks.FinishAuthorization = [this](const std::string &url) { FinishAuthorization(url); };
    browser.hooks.AuthorizationCancelled = [this] { AuthorizationCancelled(); };
    browser.hooks.RefreshSentMessages = [this] {
        ebay::clseBayAPI api(m_window.session(), m_ui);
        orders::refreshSentMessages(m_window.session(), api);
    };
    window.hooks.AuthorizeeBayID = [this] { mnuAuthorizeeBayID_Click(); };
    window.hooks.DownloadOrders = [this] { cmdDownloadOrders_Click(); };
    window.hooks.DownloadDaysofOrders = [this] { mnuDownloadDaysofOrders_Click(); };
}

void Operations::RefreshGrid()
{
    Session &session = m_window.session();
    orders::UpdateShipmentStatus(session.store);
    page::Page &page = m_window.page();
    if (samePage(page.url(), ui::kMainPage)) {
        orders::UpdateCounts(page, session.store);
        orders::DisplayTrackingNumbers(page, session);
    } else {
        // The view lives on the main page; its completion draws it.
        m_window.navigate(pages::url(ui::kMainPage));
    }
}

void Operations::mnuAuthorizeeBayID_Click()
{
    ebay::clseBayAPI api(m_window.session(), m_ui);
    ebay::AuthorizationStart start = ebay::startAuthorization(api, m_ui);
    if (start.sessionId.empty()) return;
    m_pendingSessionId = start.sessionId;
    m_window.navigate(start.signInUrl);
}

void Operations::FinishAuthorization(const std::string &url)
{
    if (!ebay::isAuthThanksUrl(url)) return;
    m_window.page().body().setInnerHTML(ebay::kFetchingTokenText);
    ebay::clseBayAPI api(m_window.session(), m_ui);
    ebay::AuthorizationResult result =
        ebay::completeAuthorization(m_window.session(), api, m_ui, m_pendingSessionId, url);
    if (result != ebay::AuthorizationResult::NotPending && result != ebay::AuthorizationResult::NoUsername)
        m_pendingSessionId.clear();
    if (result == ebay::AuthorizationResult::Stored) m_window.navigate(pages::url(ebay::kMainPagePath));
}

void Operations::AuthorizationCancelled()
{
    m_window.navigate("about:blank");
    m_window.setControlEnabled("cmdDownloadOrders", false);
}

void Operations::cmdDownloadOrders_Click()
{
    ebay::clseBayAPI api(m_window.session(), m_ui);
    orders::clsUSPSAPI usps(&m_ui);
    orders::cmdDownloadOrders_Click(m_window.session(), api, usps, m_ui, [this] { RefreshGrid(); });
}

void Operations::mnuDownloadDaysofOrders_Click()
{
    std::optional<std::string> answer = ui::InputBox("How many days (max 30):", "Download Orders", "1");
    if (!answer) return;
    std::optional<int> days = orders::parseDayCount(*answer);
    if (!days) return;
    ebay::clseBayAPI api(m_window.session(), m_ui);
    orders::downloadDaysOfOrders(m_window.session(), api, m_ui, *days);
}

} // namespace tw::app
