#include "app/automation.h"

#include "app/lifetime.h"
#include "platform/defer.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <unistd.h>

namespace tw::app {
namespace {

std::deque<std::string> &answers()
{
    static std::deque<std::string> list = [] {
        std::deque<std::string> out;
        const char *env = std::getenv("TIDEWELL_ANSWERS");
        std::string all = env ? env : "";
        size_t start = 0;
        while (!all.empty() && start <= all.size()) {
            size_t end = all.find(';', start);
            if (end == std::string::npos) end = all.size();
            out.push_back(all.substr(start, end - start));
            start = end + 1;
        }
        return out;
    }();
    return list;
}

std::optional<std::string> nextAnswer()
{
    if (answers().empty()) return std::nullopt;
    std::string a = answers().front();
    answers().pop_front();
    return a;
}

// Keeps each line one line.
std::string flat(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        if (c == '\n' || c == '\r') c = ' ';
    return out;
}

} // namespace

bool automationMode()
{
    const char *env = std::getenv("TIDEWELL_AUTOMATION");
    return env && std::string(env) == "1";
}

void automationLine(std::string_view kind, std::string_view text)
{
    std::fprintf(stderr, "%.*s: %s\n", int(kind.size()), kind.data(), flat(text).c_str());
    std::fflush(stderr);
}

bool scriptedAnswer(std::string_view title, std::string_view text, bool yesNo)
{
    automationLine("dialog", std::string(title) + " | " + std::string(text));
    auto a = nextAnswer();
    if (!a) return yesNo;
    return *a == "Yes";
}

std::optional<size_t> scriptedChoice(std::string_view title, std::string_view prompt,
                                     const std::vector<std::string> &items)
{
    std::string text = std::string(title) + " | " + std::string(prompt);
    for (const std::string &item : items)
        text += " | " + item;
    automationLine("dialog", text);
    auto a = nextAnswer();
    if (!a || *a == "OK") return items.empty() ? std::nullopt : std::optional<size_t>(0);
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i] == *a) return i;
    return std::nullopt; // "Cancel", or no such entry: nothing is chosen by mistake
}

std::optional<std::string> scriptedInput(std::string_view title, std::string_view prompt, std::string_view initial)
{
    automationLine("dialog", std::string(title) + " | " + std::string(prompt));
    auto a = nextAnswer();
    if (!a || *a == "OK") return std::string(initial);
    if (*a == "Cancel") return std::nullopt;
    return a;
}

CommandReader::CommandReader(QWidget *window)
    : QObject(window), m_window(window), m_notifier(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &CommandReader::readAvailable);
}

void CommandReader::readAvailable()
{
    char chunk[4096];
    ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) { // end of input: nobody will type any more
        m_notifier->setEnabled(false);
        return;
    }
    m_buffer.append(chunk, n);
    for (qsizetype nl; (nl = m_buffer.indexOf('\n')) >= 0;) {
        QString line = QString::fromUtf8(m_buffer.left(nl)).trimmed();
        m_buffer.remove(0, nl + 1);
        // Run after this handler returns: a command that waits (a download)
        // must not keep the next one from being read, as a person's click
        // would not be kept from arriving.
        if (!line.isEmpty()) runAfterCurrentEvent(this, [this, line] { run(line); });
    }
}

void CommandReader::run(const QString &line)
{
    const QString verb = line.section(' ', 0, 0);
    const QString arg = line.section(' ', 1).trimmed();
    if (verb == "quit") {
        endProcess(0);
    } else if (verb == "click") {
        if (auto *action = m_window->findChild<QAction *>(arg)) {
            action->trigger(); // does nothing while disabled
        } else if (auto *button = m_window->findChild<QAbstractButton *>(arg)) {
            button->click();
        } else if (auto *widget = m_window->findChild<QWidget *>(arg)) {
            if (widget->isEnabled()) QMetaObject::invokeMethod(widget, "clicked");
        } else {
            automationLine("error", "no control named " + arg.toStdString());
            return;
        }
        // The click's work is done (or it was ignored: the control was off).
        automationLine("clicked", arg.toStdString());
    } else if (verb == "grab") {
        // The browser paints on its own schedule: take the window once two
        // pictures in a row agree (at most a few seconds on).
        QImage picture = m_window->grab().toImage();
        for (int k = 0; k < 30; ++k) {
            QEventLoop pause;
            QTimer::singleShot(100, &pause, &QEventLoop::quit);
            pause.exec();
            QImage next = m_window->grab().toImage();
            const bool same = next == picture;
            picture = next;
            if (same) break;
        }
        bool ok = picture.save(arg);
        automationLine("grab", (ok ? "" : "failed ") + arg.toStdString());
    } else {
        automationLine("error", "unknown command " + line.toStdString());
    }
}

} // namespace tw::app
