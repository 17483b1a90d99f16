#pragma once
// Plugs the operations of the subsystems into the window: FirstTimeInit's
// eBay calls, account authorisation, the two downloads and the redraw.
// Call objects (clseBayAPI, clsUSPSAPI) are made for one task each.

#include "ebay/UiSink.h"

#include <string>

namespace tw::app {

class form1;

// What the eBay and USPS calls show, routed to the window.
class WindowUiSink : public ebay::UiSink {
  public:
    explicit WindowUiSink(form1 &window) : m_window(window) {}
    void status(int panel, const std::string &text) override;
    void ProcessingImageDisplay(const std::string &text) override;
    void ProcessingImageHide() override;
    void messageBox(const std::string &title, const std::string &text) override;
    void setEnabled(std::string_view objectName, bool enabled) override;

  private:
    form1 &m_window;
};

class Operations {
  public:
    explicit Operations(form1 &window);
    Operations(const Operations &) = delete;
    Operations &operator=(const Operations &) = delete;

    // Until the transactions view exists, redrawing brings the shipment
    // states up to date and writes the tab counts of the main page.
    void RefreshGrid();

  private:
    void mnuAuthorizeeBayID_Click();
    void FinishAuthorization(const std::string &url);
    void AuthorizationCancelled();
    void cmdDownloadOrders_Click();
    void mnuDownloadDaysofOrders_Click();

    form1 &m_window;
    WindowUiSink m_ui;
    std::string m_pendingSessionId;
};

} // namespace tw::app
