#pragma once
// Where the program keeps its files, and the guard that lets only one running
// program use a data folder at a time.

#include <filesystem>
#include <memory>
#include <string>

class QLockFile;

namespace tw::datadir {

enum class Source {
    CommandLine,      // --data-dir
    Environment,      // TIDEWELL_DATA_DIR
    ExecutableFolder, // a copy of the program unpacked where its user may write
    UserFolder,       // the per-user application data folder
};

struct Candidates {
    std::string commandLine;                // value of --data-dir; "" when not given
    std::string environment;                // value of TIDEWELL_DATA_DIR; "" when unset
    std::filesystem::path executableFolder; // folder of the running program
    bool executableFolderUsable = false;    // see executableFolderUsable()
    std::filesystem::path userFolder;       // QStandardPaths::AppDataLocation
};

struct Choice {
    std::filesystem::path folder; // absolute
    Source source = Source::UserFolder;
};

// The first that applies: --data-dir, TIDEWELL_DATA_DIR, the executable's
// folder when usable, the per-user folder. Relative paths are made absolute
// against the current folder.
Choice choose(const Candidates &candidates);

// Words for the log and Help > About ("given by --data-dir", ...).
std::string describe(Source source);

// Whether the program's own folder can hold the data: it is writable by this
// user and it is not a folder of the system's installed programs (/usr/...,
// /bin, /sbin), which root could write but where data does not belong.
// Nothing is written to find out.
bool executableFolderUsable(const std::filesystem::path &folder);

// One running program per data folder: a lock file ("tidewell.lock") in it,
// held for the life of the object. A lock left behind by a program that died
// on this machine is taken over, and so is one left empty or garbled that no
// live program holds; a lock of a live program, however old, is not.
class Lock {
  public:
    enum class Result {
        Acquired,
        HeldByOther, // another running program holds it: holderPid()/holderHost() say which
        Failed,      // the lock file could not be created: error() says why
    };

    explicit Lock(const std::filesystem::path &dataFolder);
    ~Lock(); // releases the lock when held
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

    Result acquire();
    // Gives the lock up now (the destructor does it otherwise).
    void release();

    long long holderPid() const { return m_holderPid; }
    const std::string &holderHost() const { return m_holderHost; }
    const std::string &error() const { return m_error; }

    static constexpr const char *kFileName = "tidewell.lock";

  private:
    void holdOpen(const std::filesystem::path &file);

    std::unique_ptr<QLockFile> m_lock;
    int m_flockFd = -1;
    long long m_holderPid = 0;
    std::string m_holderHost;
    std::string m_error;
};

} // namespace tw::datadir
