#include "store/backup.h"

#include "platform/clock.h"
#include "platform/log.h"
#include "platform/xml.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <system_error>

namespace tw::store {
namespace {

const std::regex kDaily(R"(\d{4}-\d{2}-\d{2})");
const std::regex kBeforeRestore(R"((\d{4}-\d{2}-\d{2})-(\d{2})(\d{2})(\d{2})-before-restore(-\d+)?)");

std::string twoDigits(int n)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

std::string dateName(const DateTime &t)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year(), t.month(), t.day());
    return text;
}

std::string errorText(const std::error_code &ec)
{
    return ec.message();
}

bool readBytes(const std::filesystem::path &file, std::string &bytes)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
    return !in.bad();
}

// Copies the store files of `dataDir` into backups/<name>, built under a
// hidden name first. Empty on success, else the reason.
std::string copyStoreFiles(const std::filesystem::path &dataDir, const std::string &name)
{
    const std::filesystem::path backups = backupsFolder(dataDir);
    const std::filesystem::path partial = backups / (".partial-" + name);
    const std::filesystem::path final = backups / name;
    std::error_code ec;
    std::filesystem::create_directories(backups, ec);
    if (ec) return "the folder " + backups.string() + " could not be created (" + errorText(ec) + ")";
    std::filesystem::remove_all(partial, ec); // left by a copy cut short
    std::filesystem::create_directory(partial, ec);
    if (ec) return "the folder " + partial.string() + " could not be created (" + errorText(ec) + ")";
    for (int k = 0; k < kDocCount; ++k) {
        const std::filesystem::path from = dataDir / info(Doc(k)).file;
        if (!std::filesystem::exists(from, ec)) continue;
        std::filesystem::copy_file(from, partial / from.filename(), ec);
        if (ec) {
            std::string why = from.filename().string() + " could not be copied (" + errorText(ec) + ")";
            std::filesystem::remove_all(partial, ec);
            return why;
        }
    }
    std::filesystem::rename(partial, final, ec);
    if (ec) {
        std::string why = "the folder " + final.string() + " could not be made (" + errorText(ec) + ")";
        std::filesystem::remove_all(partial, ec);
        return why;
    }
    return {};
}

std::vector<std::string> folderNames(const std::filesystem::path &backups)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(backups, ec))
        if (entry.is_directory(ec)) names.push_back(entry.path().filename().string());
    return names;
}

} // namespace

std::filesystem::path backupsFolder(const std::filesystem::path &dataDir)
{
    return dataDir / "backups";
}

BackupResult makeDailyBackup(const std::filesystem::path &dataDir)
{
    BackupResult result;
    const std::string name = dateName(clock().localNow());
    std::error_code ec;
    if (std::filesystem::exists(backupsFolder(dataDir) / name, ec)) return result;
    result.error = copyStoreFiles(dataDir, name);
    if (!result.error.empty()) {
        log::write("backup", "the backup " + name + " failed: " + result.error);
        return result;
    }
    result.made = true;
    result.folder = name;
    log::write("backup", "made " + name);
    rotateBackups(dataDir);
    return result;
}

void rotateBackups(const std::filesystem::path &dataDir, int keep)
{
    const std::filesystem::path backups = backupsFolder(dataDir);
    std::vector<std::string> daily, aside;
    for (const std::string &name : folderNames(backups)) {
        if (std::regex_match(name, kDaily))
            daily.push_back(name);
        else if (std::regex_match(name, kBeforeRestore))
            aside.push_back(name);
    }
    for (auto *kind : {&daily, &aside}) {
        std::sort(kind->begin(), kind->end(), std::greater<>());
        for (size_t i = size_t(std::max(keep, 0)); i < kind->size(); ++i) {
            std::error_code ec;
            std::filesystem::remove_all(backups / (*kind)[i], ec);
            log::write("backup", "dropped " + (*kind)[i] + (ec ? " (not removed: " + errorText(ec) + ")" : ""));
        }
    }
}

std::vector<Backup> listBackups(const std::filesystem::path &dataDir)
{
    std::vector<Backup> out;
    const std::filesystem::path backups = backupsFolder(dataDir);
    std::vector<std::string> names = folderNames(backups);
    std::sort(names.begin(), names.end(), std::greater<>());
    for (const std::string &name : names) {
        std::smatch m;
        if (std::regex_match(name, kDaily))
            out.push_back({name, backups / name, false, name});
        else if (std::regex_match(name, m, kBeforeRestore))
            out.push_back(
                {name, backups / name, true,
                 m[1].str() + " " + m[2].str() + ":" + m[3].str() + ":" + m[4].str() + " (before a restore)"});
    }
    return out;
}

RestoreResult restoreBackup(Session &session, const Backup &backup,
                            const std::function<bool(const std::string &file)> &beforeReplace)
{
    RestoreResult result;
    const std::filesystem::path dataDir = session.store.dataDir();

    // Everything is read before anything is changed.
    std::vector<std::pair<std::string, std::string>> files; // file name, bytes
    for (int k = 0; k < kDocCount; ++k) {
        const std::string file(info(Doc(k)).file);
        std::error_code ec;
        if (!std::filesystem::exists(backup.folder / file, ec)) continue;
        std::string bytes, error;
        if (!readBytes(backup.folder / file, bytes) || !xml::Document::parse(bytes, &error)) {
            result.error = "The backup " + backup.label + " is damaged: " + file + " cannot be read" +
                           (error.empty() ? "" : " (" + error + ")") + ". Nothing was changed.";
            log::write("backup", "restore of " + backup.name + " refused: " + file + " cannot be read");
            return result;
        }
        files.emplace_back(file, std::move(bytes));
    }
    if (files.empty()) {
        result.error = "The backup " + backup.label + " holds no Tidewell files. Nothing was changed.";
        return result;
    }

    const DateTime now = clock().localNow();
    std::string aside = dateName(now) + "-" + twoDigits(now.hour()) + twoDigits(now.minute()) +
                        twoDigits(now.second()) + "-before-restore";
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(backupsFolder(dataDir) / aside, ec); ++n)
        aside = aside.substr(0, aside.find("-before-restore")) + "-before-restore-" + std::to_string(n);
    if (std::string why = copyStoreFiles(dataDir, aside); !why.empty()) {
        result.error = "Your current files could not be kept aside first: " + why + ". Nothing was changed.";
        log::write("backup", "restore of " + backup.name + " refused: " + why);
        return result;
    }
    result.keptAside = aside;
    const std::filesystem::path asideFolder = backupsFolder(dataDir) / aside;

    auto write = [&](const std::string &file, std::string_view bytes, std::string *error) {
        xml::SaveOptions options;
        options.ownerOnly = file == info(Doc::Settings).file;
        if (beforeReplace) options.beforeRename = [&] { return beforeReplace(file); };
        return xml::writeFileAtomically(dataDir / file, bytes, error, options);
    };
    std::vector<std::string> replaced;
    std::string failure;
    for (const auto &[file, bytes] : files) {
        std::string error;
        if (!write(file, bytes, &error)) {
            failure = file + " could not be written (" + error + ")";
            break;
        }
        replaced.push_back(file);
    }
    if (!failure.empty()) {
        // All or nothing: the files already replaced get their copies from
        // just now back; a file that was not there before goes again.
        std::string undoFailure;
        for (auto it = replaced.rbegin(); it != replaced.rend() && undoFailure.empty(); ++it) {
            std::string bytes, error;
            std::error_code seen, removed;
            if (!std::filesystem::exists(asideFolder / *it, seen)) {
                if (!std::filesystem::remove(dataDir / *it, removed) && removed) error = removed.message();
            } else if (!readBytes(asideFolder / *it, bytes)) {
                error = "its copy cannot be read";
            } else {
                write(*it, bytes, &error);
            }
            if (!error.empty()) undoFailure = *it + " could not be put back (" + error + ")";
        }
        if (undoFailure.empty()) {
            // The files and the documents in memory are what they were.
            std::filesystem::remove_all(asideFolder, ec);
            result.keptAside.clear();
            result.error =
                "The backup " + backup.label + " could not be restored: " + failure + ". Nothing was changed.";
            log::write("backup", "restore of " + backup.name + " undone: " + failure);
            return result;
        }
        result.error = "The backup " + backup.label + " could not be restored: " + failure + ", and " + undoFailure +
                       ". Your files from before the restore are in " + asideFolder.string() + ".";
    }
    // The documents in memory follow the files, whatever was written.
    session.store.doc(Doc::ShippingLabels) = xml::Document(nullptr);
    session.openStore(dataDir);
    result.restored = result.error.empty();
    log::write("backup", (result.restored ? "restored " : "restore incomplete from ") + backup.name +
                             "; the files before it are in " + aside);
    rotateBackups(dataDir);
    return result;
}

} // namespace tw::store
