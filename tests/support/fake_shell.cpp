#include "tests/support/fake_shell.h"

#include "ui/overlay.h"

namespace tw::test {

void FakeShell::setStatus(std::string_view text, int panel)
{
    if (panel == 1) statuses.emplace_back(text);
    if (panel == 2) notice = std::string(text);
}

void FakeShell::ProcessingImageDisplay(std::string_view message)
{
    overlays.emplace_back(message);
    ui::ProcessingImageDisplay(page(), message);
    m_shown = true;
}

void FakeShell::ProcessingImageHide()
{
    ++hides;
    m_shown = false;
    ui::ProcessingImageHide(page());
}

void FakeShell::ProcessingImageReposition()
{
    ui::ProcessingImageReposition(page());
}

void FakeShell::messageBox(std::string_view title, std::string_view text)
{
    boxes.emplace_back(title, text);
}

bool FakeShell::askYesNo(std::string_view title, std::string_view text)
{
    boxes.emplace_back(title, text);
    if (answers.empty()) return true;
    std::string a = answers.front();
    answers.pop_front();
    return a == "Yes";
}

std::optional<std::string> FakeShell::inputBox(std::string_view title, std::string_view prompt,
                                               std::string_view initial)
{
    boxes.emplace_back(title, prompt);
    if (answers.empty()) return std::string(initial);
    std::string a = answers.front();
    answers.pop_front();
    if (a == "Cancel") return std::nullopt;
    return a;
}

std::optional<size_t> FakeShell::chooseItem(std::string_view title, std::string_view prompt,
                                            const std::vector<std::string> &items)
{
    boxes.emplace_back(title, prompt);
    lists.push_back(items);
    if (answers.empty()) return 0;
    std::string a = answers.front();
    answers.pop_front();
    if (a == "Cancel") return std::nullopt;
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i] == a) return i;
    return std::nullopt;
}

void FakeShell::setEnabled(std::string_view objectName, bool on)
{
    enabled.emplace_back(std::string(objectName), on);
}

void FakeShell::navigate(const std::string &url, const std::string &target)
{
    navigations.emplace_back(url, target);
}

void FakeShell::runPosted()
{
    while (!posted.empty()) {
        auto task = std::move(posted.front());
        posted.pop_front();
        task();
    }
}

bool FakeShell::isEnabled(std::string_view objectName, bool otherwise) const
{
    for (auto it = enabled.rbegin(); it != enabled.rend(); ++it)
        if (it->first == objectName) return it->second;
    return otherwise;
}

void FakeShell::newDocument(std::string address)
{
    fake = FakePage();
    fake.address = std::move(address);
    m_shown = false;
}

} // namespace tw::test
