#pragma once
// Automation mode (TIDEWELL_AUTOMATION=1): the program is driven without a
// person. Dialogs are written to standard error and answered from
// TIDEWELL_ANSWERS; status texts and completed pages are written too;
// standard input takes "click <objectName>", "grab <file.png>" and "quit".

#include <QObject>
#include <QStringList>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QSocketNotifier;
class QWidget;

namespace tw::app {

bool automationMode();

// One line "<kind>: <text>" on standard error, flushed.
void automationLine(std::string_view kind, std::string_view text);

// A message box in automation mode: the line "dialog: <title> | <text>", then
// the next scripted answer. True for "Yes", or, when no answer is left, for
// the default button of a Yes/No box.
bool scriptedAnswer(std::string_view title, std::string_view text, bool yesNo);
// An input box in automation mode: the line, then the next answer as the
// text typed ("OK" or none left: the initial text; "Cancel": nothing).
std::optional<std::string> scriptedInput(std::string_view title, std::string_view prompt, std::string_view initial);
// A list box in automation mode: the line "dialog: <title> | <prompt> | <entry>
// | <entry>...", then the next answer as the entry's text ("OK" or none left:
// the first entry; "Cancel" or a text that is no entry: nothing).
std::optional<size_t> scriptedChoice(std::string_view title, std::string_view prompt,
                                     const std::vector<std::string> &items);

class CommandReader : public QObject {
    Q_OBJECT
  public:
    // Reads commands for `window` from standard input.
    explicit CommandReader(QWidget *window);

  private:
    void readAvailable();
    void run(const QString &line);

    QWidget *m_window;
    QSocketNotifier *m_notifier;
    QByteArray m_buffer;
};

} // namespace tw::app
