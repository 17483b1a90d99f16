#include "platform/datadir.h"

#include <QLockFile>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
    std::error_code ec;
    return std::filesystem::is_directory(f, ec) && ::access(f.c_str(), W_OK | X_OK) == 0;
}

Lock::Lock(const std::filesystem::path &dataFolder)
    : m_lock(std::make_unique<QLockFile>(QString::fromStdString((dataFolder / kFileName).string())))
{
    // By default Qt also calls a lock stale once it is 30 seconds old; ours
    // is held for the whole run, so only a dead holder makes it stale.
    m_lock->setStaleLockTime(0);
}

Lock::~Lock()
{
    release();
}

void Lock::release()
{
    if (m_flockFd >= 0) {
        ::close(m_flockFd);
        m_flockFd = -1;
    }
    if (m_lock->isLocked()) m_lock->unlock();
}

namespace {

// A lock file that names no holder (left empty or half written by a program
// that died in its first moments: a power cut) is stale when no live program
// holds it. A live holder keeps the file flock()ed for as long as it runs
// (QLockFile does, and Lock::acquire makes sure of it), so a file nobody
// has flock()ed is nobody's. Removed while we hold the flock, so a program
// starting at the same moment cannot have taken it meanwhile.
bool removeIfNobodysLock(const std::filesystem::path &file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT; // gone already: try again
    bool removed = false;
    struct stat held = {}, named = {};
    // Still the file we opened, not one another program put there since.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && ::stat(file.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino)
        removed = ::unlink(file.c_str()) == 0;
    ::close(fd);
    return removed;
}

} // namespace

Lock::Result Lock::acquire()
{
    const std::filesystem::path file = m_lock->fileName().toStdString();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (m_lock->tryLock(0)) {
            holdOpen(file);
            return Result::Acquired;
        }
        if (m_lock->error() != QLockFile::LockFailedError) break;
        qint64 pid = 0;
        QString host, app;
        if (m_lock->getLockInfo(&pid, &host, &app)) {
            m_holderPid = pid;
            m_holderHost = host.toStdString();
            return Result::HeldByOther;
        }
        // No holder named: taken over at most once, if nobody holds it.
        if (attempt > 0 || !removeIfNobodysLock(file)) return Result::HeldByOther;
    }
    switch (m_lock->error()) {
    case QLockFile::LockFailedError:
        return Result::HeldByOther;
    case QLockFile::PermissionError:
        m_error = "permission denied";
        break;
    default:
        m_error = "the lock file could not be written";
        break;
    }
    return Result::Failed;
}

void Lock::holdOpen(const std::filesystem::path &file)
{
    // Our own flock on the file, for a Qt that does not take one itself (one
    // that does makes ours fail, and holds the file just as well).
    m_flockFd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_flockFd >= 0 && ::flock(m_flockFd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_flockFd);
        m_flockFd = -1;
    }
}

} // namespace tw::datadir
