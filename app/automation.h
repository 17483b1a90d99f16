#pragma once
// Automation mode (TIDEWELL_AUTOMATION=1): the program is driven without a
// person. Dialogs are written to standard error and answered from
// TIDEWELL_ANSWERS; status texts and completed pages are written too;
// standard input takes "click <objectName>", "grab <file.png>" and "quit".

#include <QObject>
#include <QStringList>

#include <string_view>

class QSocketNotifier;
class QWidget;

namespace tw::app {

bool automationMode();

// One line "<kind>: <text>" on standard error, flushed.
void automationLine(std::string_view kind, std::string_view text);

// Installs the message and input boxes: real ones, or the scripted answers.
void installDialogs(QWidget *parent);

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
