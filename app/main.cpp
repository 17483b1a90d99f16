#include "app/automation.h"
#include "app/form1.h"
#include "app/lifetime.h"
#include "platform/config.h"
#include "platform/datadir.h"
#include "platform/log.h"
#include "platform/web/scheme.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr const char *kAppId = "example.tidewell.Tidewell";

// Before the window exists: a box for the seller, a line in automation mode.
void tellAndStop(const std::string &text)
{
    if (tw::app::automationMode())
        tw::app::scriptedAnswer("Tidewell", text, false);
    else
        QMessageBox::warning(nullptr, "Tidewell", QString::fromStdString(text));
}

int badArguments(const QString &error)
{
    std::fprintf(stderr, "tidewell: %s\nTry 'tidewell --help'.\n", error.toLocal8Bit().constData());
    return 2;
}

std::string fromEnvironment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription("Tidewell: eBay orders, USPS shipments and messages to buyers.");
    QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    QCommandLineOption configFile("config",
                                  "Read the program constants from the INI file FILE (default: the file named by "
                                  "TIDEWELL_CONFIG, else the built-in values).",
                                  "FILE");
    QCommandLineOption dataDir("data-dir",
                               "Keep the data in DIR (default: TIDEWELL_DATA_DIR, else the program's folder when it "
                               "is writable, else the user's application data folder).",
                               "DIR");
    parser.addOptions({help, version, configFile, dataDir});

    // Help and version need no display: answered before Qt's window system
    // starts. Qt's own options (-platform, -style ...) are only known once
    // it has, so this first reading forgives what it does not know.
    const bool parsed = parser.parse(arguments);
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text.replace("<executable_name>", "tidewell");
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("tidewell %s\n", TW_VERSION);
        return 0;
    }
    // A mistyped long option ("--datadir") or a missing value is told before
    // Qt starts, which needs a display; single letters may be Qt's own
    // "-platform" and the like.
    for (const QString &name : parser.unknownOptionNames()) {
        if (name.size() > 1) return badArguments("unknown option '" + name + "'");
    }
    if (!parsed && parser.unknownOptionNames().isEmpty()) return badArguments(parser.errorText()); // a missing value

    tw::web::registerPagesScheme();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tidewell");
    QApplication::setApplicationVersion(TW_VERSION);
    QGuiApplication::setDesktopFileName(kAppId);

    if (!parser.parse(QApplication::arguments())) return badArguments(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return badArguments("unexpected argument '" + parser.positionalArguments().constFirst() + "'");

    std::string config =
        parser.isSet(configFile) ? parser.value(configFile).toStdString() : fromEnvironment("TIDEWELL_CONFIG");
    std::vector<std::string> warnings;
    if (!config.empty()) {
        if (!std::filesystem::exists(config)) {
            std::fprintf(stderr, "tidewell: configuration file %s not found\n", config.c_str());
            return 2;
        }
        tw::setConfig(tw::Config::fromFile(config, &warnings));
        for (const auto &w : warnings)
            std::fprintf(stderr, "tidewell: %s\n", w.c_str());
    }

    tw::datadir::Candidates candidates;
    candidates.commandLine = parser.value(dataDir).toStdString();
    candidates.environment = fromEnvironment("TIDEWELL_DATA_DIR");
    candidates.executableFolder = QCoreApplication::applicationDirPath().toStdString();
    candidates.executableFolderUsable = tw::datadir::executableFolderUsable(candidates.executableFolder);
    candidates.userFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
    const tw::datadir::Choice data = tw::datadir::choose(candidates);
    std::error_code ec;
    std::filesystem::create_directories(data.folder, ec);
    if (ec) {
        tellAndStop("Tidewell cannot create its data folder " + data.folder.string() + " (" + ec.message() + ").");
        return 1;
    }

    // Two programs saving the same files would each overwrite the other's
    // changes: the second one leaves without touching anything.
    static tw::datadir::Lock lock(data.folder);
    switch (lock.acquire()) {
    case tw::datadir::Lock::Result::Acquired:
        break;
    case tw::datadir::Lock::Result::HeldByOther: {
        std::string who = lock.holderPid() ? " (process " + std::to_string(lock.holderPid()) +
                                                 (lock.holderHost().empty() ? "" : " on " + lock.holderHost()) + ")"
                                           : "";
        tellAndStop("Tidewell is already running with the data folder " + data.folder.string() + who +
                    ". Use the window that is open, or close it before you start Tidewell again.");
        return 1;
    }
    case tw::datadir::Lock::Result::Failed:
        tellAndStop("Tidewell cannot use the data folder " + data.folder.string() + ": its lock file could not be " +
                    "created (" + lock.error() + ").");
        return 1;
    }
    tw::app::atEnd([] {
        tw::log::write("stop", "Tidewell ended");
        tw::log::close();
        lock.release();
    });

    std::string logError;
    if (!tw::log::open(data.folder / tw::log::kFileName, tw::log::kDefaultMaxBytes, tw::log::kDefaultKeep, &logError))
        std::fprintf(stderr, "tidewell: no log is kept: %s\n", logError.c_str());
    tw::log::write("start", std::string("Tidewell ") + TW_VERSION + " (Qt " + qVersion() + "), process " +
                                std::to_string(::getpid()));
    tw::log::write("start", "data folder " + data.folder.string() + ", " + tw::datadir::describe(data.source));
    tw::log::write("start", "configuration " + (config.empty() ? std::string("built in")
                                                               : std::filesystem::absolute(config, ec).string()));
    for (const auto &w : warnings)
        tw::log::write("start", w);

    tw::app::form1 window(data.folder);
    window.show();
    if (tw::app::automationMode()) new tw::app::CommandReader(&window);
    window.Form_Load();
    return app.exec();
}
