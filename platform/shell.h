#pragma once
// What the features need from the main window: the page shown in the browser,
// the status bar, the processing overlay, modal boxes, controls and menu
// entries by object name, the two polling timers, navigation, outside links
// and running a task after the current event.
//
// The window (app/) implements it; tests use tests/support/fake_shell.h.
// Nothing here throws. Every method runs on the user-interface thread; the
// boxes and page calls pump events while they wait, so other handlers may run
// in the middle of them.

#include "platform/page.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw {

enum class Answer { OK, Yes, No, Cancel };

class Shell {
  public:
    virtual ~Shell() = default;

    // The document shown in the browser.
    virtual page::Page &page() = 0;

    // Text of status-bar panel `panel` (1 is the first). Shown as plain text,
    // never as markup.
    virtual void setStatus(std::string_view text, int panel = 1) = 0;

    // The processing overlay of the current page: a box with the animated
    // image and `message` (HTML, such as "<br>") under it. While it shows,
    // every navigation but the cancel-postage link is refused.
    virtual void ProcessingImageDisplay(std::string_view message = {}) = 0;
    virtual void ProcessingImageHide() = 0;
    // Centres the overlay again after the page grew or scrolled.
    virtual void ProcessingImageReposition() = 0;
    // Whether the overlay shows in the current document (a new document
    // starts without one).
    virtual bool processingShown() const = 0;

    // A modal box with an OK button.
    virtual void messageBox(std::string_view title, std::string_view text) = 0;
    // A modal Yes/No box; true for Yes.
    virtual bool askYesNo(std::string_view title, std::string_view text) = 0;
    // A modal input box; nothing when the user cancelled.
    virtual std::optional<std::string> inputBox(std::string_view title, std::string_view prompt,
                                                std::string_view initial) = 0;
    // A modal box with a list to pick one entry of `items` (not empty; the
    // first is preselected); its index, nothing when the user cancelled.
    virtual std::optional<size_t> chooseItem(std::string_view title, std::string_view prompt,
                                             const std::vector<std::string> &items) = 0;

    // Enables or disables a control or menu entry by its object name
    // ("cmdDownloadOrders", "Label1", "mnuAuthorizeeBayID", ...).
    virtual void setEnabled(std::string_view objectName, bool enabled) = 0;
    // Starts or stops a polling timer by its object name
    // ("tmrWaitingForDazzle", "tmrWaitingForWorldShip"); its ticks reach the
    // handler registered for it in the FeatureTable.
    virtual void startTimer(std::string_view objectName) = 0;
    virtual void stopTimer(std::string_view objectName) = 0;

    // Loads `url` in the browser, or in the separate window "plinthway" when
    // `target` names it.
    virtual void navigate(const std::string &url, const std::string &target = {}) = 0;
    // Opens `url` with the system's default handler (the seller's browser).
    virtual void openExternal(const std::string &url) = 0;
    // Runs `task` once the current event has been handled.
    virtual void post(std::function<void()> task) = 0;

    // The drawn view has `shown` of its `total` rows on the page (automation
    // mode reports it; nothing else needs to know).
    virtual void rowsShown(int shown, int total)
    {
        (void)shown;
        (void)total;
    }
};

} // namespace tw
