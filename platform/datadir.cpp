#include "platform/datadir.h"

#include <QLockFile>
#include <QString>

#include <system_error>
#include <unistd.h>

namespace tw::datadir {
namespace {

std::filesystem::path madeAbsolute(const std::filesystem::path &p)
{
    std::error_code ec;
    std::filesystem::path a = std::filesystem::absolute(p, ec);
    return (ec ? p : a).lexically_normal();
}

bool isUnder(const std::filesystem::path &folder, const std::filesystem::path &root)
{
    auto f = folder.begin();
    for (auto r = root.begin(); r != root.end(); ++r, ++f)
        if (f == folder.end() || *f != *r) return false;
    return true;
}

} // namespace

Choice choose(const Candidates &c)
{
    if (!c.commandLine.empty()) return {madeAbsolute(c.commandLine), Source::CommandLine};
    if (!c.environment.empty()) return {madeAbsolute(c.environment), Source::Environment};
    if (c.executableFolderUsable) return {madeAbsolute(c.executableFolder), Source::ExecutableFolder};
    return {madeAbsolute(c.userFolder), Source::UserFolder};
}

std::string describe(Source source)
{
    switch (source) {
    case Source::CommandLine:
        return "given by --data-dir";
    case Source::Environment:
        return "given by TIDEWELL_DATA_DIR";
    case Source::ExecutableFolder:
        return "the program's own folder";
    case Source::UserFolder:
        return "the user's application data folder";
    }
    return {};
}

bool executableFolderUsable(const std::filesystem::path &folder)
{
    const std::filesystem::path f = madeAbsolute(folder);
    for (const char *system : {"/usr", "/bin", "/sbin", "/lib"})
        if (isUnder(f, system)) return false;
    return ::access(f.c_str(), W_OK | X_OK) == 0;
}

Lock::Lock(const std::filesystem::path &dataFolder)
    : m_lock(std::make_unique<QLockFile>(QString::fromStdString((dataFolder / kFileName).string())))
{
    // By default Qt also calls a lock stale once it is 30 seconds old; ours
    // is held for the whole run, so only a dead holder makes it stale.
    m_lock->setStaleLockTime(0);
}

Lock::~Lock() = default; // QLockFile unlocks in its destructor

void Lock::release()
{
    if (m_lock->isLocked()) m_lock->unlock();
}

Lock::Result Lock::acquire()
{
    if (m_lock->tryLock(0)) return Result::Acquired;
    switch (m_lock->error()) {
    case QLockFile::LockFailedError: {
        qint64 pid = 0;
        QString host, app;
        if (m_lock->getLockInfo(&pid, &host, &app)) {
            m_holderPid = pid;
            m_holderHost = host.toStdString();
        }
        return Result::HeldByOther;
    }
    case QLockFile::PermissionError:
        m_error = "permission denied";
        break;
    default:
        m_error = "the lock file could not be written";
        break;
    }
    return Result::Failed;
}

} // namespace tw::datadir
