#include "orders/feature.h"

#include "ebay/clseBayAPI.h"
#include "orders/download.h"
#include "orders/refund.h"
#include "orders/usps.h"
#include "store/backup.h"

#include <memory>

namespace tw::orders {
namespace {

// The first download of the day starts with a copy of the store files, and no
// backup is restored under a download's feet. A failed copy is told once a
// run; each download tries again.
class BeforeDownload {
  public:
    BeforeDownload(Session &session, Shell &shell, bool &failureTold) : m_shell(shell)
    {
        m_shell.setEnabled("mnuRestoreBackup", false);
        store::BackupResult backup = store::makeDailyBackup(session.store.dataDir());
        if (!backup.error.empty() && !failureTold) {
            failureTold = true;
            m_shell.messageBox("Tidewell", "Today's backup of your data could not be made: " + backup.error +
                                               ". The download goes on; Tidewell tries again at the next one.");
        }
    }
    ~BeforeDownload() { m_shell.setEnabled("mnuRestoreBackup", true); }
    BeforeDownload(const BeforeDownload &) = delete;
    BeforeDownload &operator=(const BeforeDownload &) = delete;

  private:
    Shell &m_shell;
};

} // namespace

void registerFeature(Session &session, Shell &shell, FeatureTable &table)
{
    registerEbayRefunds(session, shell, table);
    auto backupFailureTold = std::make_shared<bool>(false);
    table.addCommand("cmdDownloadOrders", [&session, &shell, &table, backupFailureTold] {
        BeforeDownload before(session, shell, *backupFailureTold);
        ebay::clseBayAPI api(session, shell);
        clsUSPSAPI usps(&shell, readUspsSettings(session.store.settings()));
        cmdDownloadOrders_Click(session, api, usps, shell, [&table] { table.RefreshGrid(); });
    });
    table.addCommand("mnuDownloadDaysofOrders", [&session, &shell, backupFailureTold] {
        std::optional<std::string> answer = shell.inputBox("Download Orders", "How many days (max 30):", "1");
        if (!answer) return;
        std::optional<int> days = parseDayCount(*answer);
        if (!days) return;
        BeforeDownload before(session, shell, *backupFailureTold);
        ebay::clseBayAPI api(session, shell);
        downloadDaysOfOrders(session, api, shell, *days);
    });
}

} // namespace tw::orders
