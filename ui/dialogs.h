#pragma once
// Modal message and input boxes for code that has no window of its own. The
// window installs the real boxes (and, in automation mode, the scripted
// answers); until then every box returns its default button.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tw::ui {

enum class Buttons { OK, YesNo, OKCancel };
enum class Answer { OK, Yes, No, Cancel };

struct DialogProvider {
    std::function<Answer(std::string_view title, std::string_view text, Buttons buttons)> message;
    // nullopt when the user cancelled.
    std::function<std::optional<std::string>(std::string_view title, std::string_view prompt, std::string_view initial)>
        input;
};

void setDialogProvider(DialogProvider provider);

Answer MsgBox(std::string_view text, std::string_view title = "Tidewell", Buttons buttons = Buttons::OK);
std::optional<std::string> InputBox(std::string_view prompt, std::string_view title = "Tidewell",
                                    std::string_view initial = {});

} // namespace tw::ui
