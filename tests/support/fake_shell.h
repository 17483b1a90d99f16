#pragma once
// A Shell without a window, for tests: it records everything it is told, in
// order, draws the overlay on its page (a FakePage unless a test overrides
// page()) with the program's own overlay code, answers boxes from a queue,
// and runs posted tasks when asked.

#include "platform/shell.h"
#include "tests/support/fake_page.h"

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tw::test {

class FakeShell : public Shell {
  public:
    FakePage fake;

    std::vector<std::string> statuses; // panel 1, in order
    std::string notice;                // panel 2 as last set
    std::vector<std::string> overlays; // every ProcessingImageDisplay message
    int hides = 0;
    std::vector<std::pair<std::string, std::string>> boxes; // (title, text) of message, yes/no, input and list boxes
    std::vector<std::vector<std::string>> lists;            // the entries of each list box
    // Answers for yes/no ("Yes"/"No") and input boxes (the text; "Cancel"
    // for none), used in order; when none is left the default is taken.
    std::deque<std::string> answers;
    std::vector<std::pair<std::string, bool>> enabled;            // every setEnabled, in order
    std::map<std::string, bool, std::less<>> timers;              // running or not
    std::vector<std::pair<std::string, std::string>> navigations; // (url, target)
    std::vector<std::string> external;
    std::deque<std::function<void()>> posted;

    page::Page &page() override { return fake; }
    void setStatus(std::string_view text, int panel = 1) override;
    void ProcessingImageDisplay(std::string_view message = {}) override;
    void ProcessingImageHide() override;
    void ProcessingImageReposition() override;
    bool processingShown() const override { return m_shown; }
    void messageBox(std::string_view title, std::string_view text) override;
    bool askYesNo(std::string_view title, std::string_view text) override;
    std::optional<std::string> inputBox(std::string_view title, std::string_view prompt,
                                        std::string_view initial) override;
    // Answered from `answers` by the entry's text; the first entry when none
    // is left; nothing for "Cancel" or a text that is no entry.
    std::optional<size_t> chooseItem(std::string_view title, std::string_view prompt,
                                     const std::vector<std::string> &items) override;
    void setEnabled(std::string_view objectName, bool on) override;
    void startTimer(std::string_view objectName) override { timers[std::string(objectName)] = true; }
    void stopTimer(std::string_view objectName) override { timers[std::string(objectName)] = false; }
    void navigate(const std::string &url, const std::string &target = {}) override;
    void openExternal(const std::string &url) override { external.push_back(url); }
    void post(std::function<void()> task) override { posted.push_back(std::move(task)); }

    // Runs the posted tasks, and those they post, in order.
    void runPosted();
    // The last text of panel 1, "" when none.
    std::string lastStatus() const { return statuses.empty() ? std::string() : statuses.back(); }
    // The last state set for a control, or `otherwise` when it was never set.
    bool isEnabled(std::string_view objectName, bool otherwise = true) const;
    // A new document in the browser: the overlay goes with the old one.
    void newDocument(std::string address);

  protected:
    bool m_shown = false;
};

} // namespace tw::test
