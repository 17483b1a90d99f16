#include "ui/dialogs.h"

namespace tw::ui {
namespace {

DialogProvider &provider()
{
    static DialogProvider p;
    return p;
}

} // namespace

void setDialogProvider(DialogProvider p)
{
    provider() = std::move(p);
}

Answer MsgBox(std::string_view text, std::string_view title, Buttons buttons)
{
    if (provider().message) return provider().message(title, text, buttons);
    return buttons == Buttons::YesNo ? Answer::Yes : Answer::OK;
}

std::optional<std::string> InputBox(std::string_view prompt, std::string_view title, std::string_view initial)
{
    if (provider().input) return provider().input(title, prompt, initial);
    return std::string(initial);
}

} // namespace tw::ui
