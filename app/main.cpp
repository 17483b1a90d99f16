#include "app/automation.h"
#include "app/form1.h"
#include "platform/config.h"
#include "platform/web/scheme.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

void usage()
{
    std::fprintf(stderr, "usage: tidewell [--config FILE] [--data-dir DIR]\n");
}

} // namespace

int main(int argc, char **argv)
{
    std::string configFile, dataDir;
    if (const char *env = std::getenv("TIDEWELL_CONFIG")) configFile = env;
    if (const char *env = std::getenv("TIDEWELL_DATA_DIR")) dataDir = env;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--config") == 0 && i + 1 < argc) {
            configFile = argv[++i];
        } else if (std::strcmp(argv[i], "--data-dir") == 0 && i + 1 < argc) {
            dataDir = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0) {
            usage();
            return 0;
        }
    }

    tw::web::registerPagesScheme();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tidewell");

    if (!configFile.empty()) {
        if (!std::filesystem::exists(configFile)) {
            std::fprintf(stderr, "tidewell: configuration file %s not found\n", configFile.c_str());
            return 2;
        }
        std::vector<std::string> warnings;
        tw::setConfig(tw::Config::fromFile(configFile, &warnings));
        for (const auto &w : warnings)
            std::fprintf(stderr, "tidewell: %s\n", w.c_str());
    }
    if (dataDir.empty()) dataDir = QCoreApplication::applicationDirPath().toStdString();
    std::error_code ec;
    std::filesystem::create_directories(dataDir, ec);

    tw::app::form1 window(dataDir);
    window.show();
    if (tw::app::automationMode()) new tw::app::CommandReader(&window);
    window.Form_Load();
    return app.exec();
}
