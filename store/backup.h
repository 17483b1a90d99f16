#pragma once
// Daily copies of the ten store files, kept in "backups" in the data folder:
//
//   backups/2024-05-03/                        the copy of that day, made before
//                                              the day's first download
//   backups/2024-05-03-141502-before-restore/  the files as they were just
//                                              before a restore
//
// Of each kind the seven newest are kept. A copy is built in a hidden folder
// and renamed into place when whole, so a copy cut short never counts as the
// day's backup. Dates are local, from tw::clock().

#include "store/session.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tw::store {

inline constexpr int kBackupsKept = 7;

struct Backup {
    std::string name;             // the folder's name
    std::filesystem::path folder; // absolute
    bool beforeRestore = false;   // the files kept aside by a restore
    std::string label;            // for the seller: "2024-05-03", "2024-05-03 14:15:02 (before a restore)"
};

// "<dataDir>/backups".
std::filesystem::path backupsFolder(const std::filesystem::path &dataDir);

struct BackupResult {
    bool made = false;  // a new copy was made
    std::string folder; // its name, when made
    std::string error;  // for the seller; empty when all went well
};

// Copies the ten files of `dataDir` into today's folder unless it exists
// already, then drops the oldest daily copies beyond kBackupsKept. A file
// missing from the data folder is left out of the copy.
BackupResult makeDailyBackup(const std::filesystem::path &dataDir);

// Drops the oldest copies of each kind beyond `keep`. Folders that are not
// ours are left alone.
void rotateBackups(const std::filesystem::path &dataDir, int keep = kBackupsKept);

// Every backup, newest first (by name: dates sort as text).
std::vector<Backup> listBackups(const std::filesystem::path &dataDir);

struct RestoreResult {
    bool restored = false;
    std::string keptAside; // the folder holding the files from before, when one was made
    std::string error;     // for the seller; empty when restored
};

// Replaces the store files of the session's data folder with those of
// `backup` and reloads the session from them. First every file of the backup
// must read as XML (a damaged backup changes nothing), then the current files
// are copied into a "before-restore" backup (no copy, no restore), then each
// file is written atomically. All or nothing: when a file cannot be written,
// those already written get their kept copies back, the kept copy is dropped
// and the documents in memory stay as they were. A file the backup lacks is
// left as it is. `beforeReplace` (tests) is asked before each file replaces
// the current one; false fails that file.
RestoreResult restoreBackup(Session &session, const Backup &backup,
                            const std::function<bool(const std::string &file)> &beforeReplace = {});

} // namespace tw::store
