#include "store/feature.h"

#include "store/backup.h"

namespace tw::store {

void registerFeature(Session &session, Shell &shell, FeatureTable &table)
{
    table.addCommand("mnuRestoreBackup", [&session, &shell, &table] {
        constexpr std::string_view kTitle = "Restore Backup";
        // A download or a postage job still running would write into the
        // documents after they were replaced.
        if (shell.processingShown()) {
            shell.messageBox(kTitle, "Tidewell is busy. Restore the backup when it has finished.");
            return;
        }
        const std::vector<Backup> backups = listBackups(session.store.dataDir());
        if (backups.empty()) {
            shell.messageBox(kTitle, "There is no backup yet. Tidewell makes one each day before the first download "
                                     "of orders.");
            return;
        }
        std::vector<std::string> labels;
        for (const Backup &b : backups)
            labels.push_back(b.label);
        std::optional<size_t> chosen = shell.chooseItem(kTitle, "Choose the backup to restore:", labels);
        if (!chosen || *chosen >= backups.size()) return;
        const Backup &backup = backups[*chosen];
        if (!shell.askYesNo(kTitle, "Replace your orders, messages, notes and settings with the backup " +
                                        backup.label +
                                        "? Your current files are first kept as a backup of their own.")) {
            return;
        }
        RestoreResult result = restoreBackup(session, backup);
        if (!result.error.empty()) shell.messageBox(kTitle, result.error);
        if (result.restored) shell.setStatus("Restored the backup " + backup.label + ".");
        // Whatever was written is what the documents now hold.
        if (!result.keptAside.empty()) table.RefreshGrid();
    });
}

} // namespace tw::store
