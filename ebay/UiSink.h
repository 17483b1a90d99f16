#pragma once
// What the eBay calls need from the window: status-bar texts, the processing
// overlay, message boxes and switching controls on and off. The window
// implements it; tests record into RecordingUiSink. Every method has a no-op
// default so a caller that shows nothing can pass a plain UiSink.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw::ebay {

struct UiSink {
    virtual ~UiSink() = default;
    // Text of status-bar panel `panel` (1 = the first panel).
    virtual void status(int panel, const std::string &text) { (void)panel, (void)text; }
    // The processing overlay, shown with `text` (HTML markup such as <br>).
    virtual void ProcessingImageDisplay(const std::string &text) { (void)text; }
    virtual void ProcessingImageHide() {}
    // A modal message box with an OK button.
    virtual void messageBox(const std::string &title, const std::string &text) { (void)title, (void)text; }
    // Enables or disables the control or menu entry with this object name
    // ("cmdDownloadOrders", "Label1", "mnuDownloadDaysofOrders", "mnuAuthorizeeBayID").
    virtual void setEnabled(std::string_view objectName, bool enabled) { (void)objectName, (void)enabled; }
};

// Keeps everything it is told, in order, for tests and for automation logs.
struct RecordingUiSink : UiSink {
    std::vector<std::pair<int, std::string>> statuses;
    std::vector<std::string> overlays;
    int hides = 0;
    std::vector<std::pair<std::string, std::string>> messages;
    std::vector<std::pair<std::string, bool>> enabled;

    void status(int panel, const std::string &text) override { statuses.emplace_back(panel, text); }
    void ProcessingImageDisplay(const std::string &text) override { overlays.push_back(text); }
    void ProcessingImageHide() override { ++hides; }
    void messageBox(const std::string &title, const std::string &text) override { messages.emplace_back(title, text); }
    void setEnabled(std::string_view objectName, bool on) override
    {
        enabled.emplace_back(std::string(objectName), on);
    }

    // The last text of panel 1, "" when none.
    std::string lastStatus() const
    {
        for (auto it = statuses.rbegin(); it != statuses.rend(); ++it)
            if (it->first == 1) return it->second;
        return {};
    }
};

} // namespace tw::ebay
