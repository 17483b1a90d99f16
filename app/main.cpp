// Until the window exists: open (or create) the store and report problems.
#include "platform/config.h"
#include "store/session.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::filesystem::path dataDir = QCoreApplication::applicationDirPath().toStdString();
    if (const char *env = std::getenv("TIDEWELL_DATA_DIR"); env && *env) dataDir = env;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--data-dir") == 0) dataDir = argv[i + 1];
    tw::Session session;
    for (const auto &problem : session.openStore(dataDir)) std::fprintf(stderr, "%s\n", problem.c_str());
    std::printf("Tidewell data folder: %s\n", session.store.dataDir().c_str());
    return 0;
}
