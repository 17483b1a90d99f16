#include "orders/feature.h"

#include "ebay/clseBayAPI.h"
#include "orders/download.h"
#include "orders/usps.h"

namespace tw::orders {

void registerFeature(Session &session, Shell &shell, FeatureTable &table)
{
    table.addCommand("cmdDownloadOrders", [&session, &shell, &table] {
        ebay::clseBayAPI api(session, shell);
        clsUSPSAPI usps(&shell, readUspsSettings(session.store.settings()));
        cmdDownloadOrders_Click(session, api, usps, shell, [&table] { table.RefreshGrid(); });
    });
    table.addCommand("mnuDownloadDaysofOrders", [&session, &shell] {
        std::optional<std::string> answer = shell.inputBox("Download Orders", "How many days (max 30):", "1");
        if (!answer) return;
        std::optional<int> days = parseDayCount(*answer);
        if (!days) return;
        ebay::clseBayAPI api(session, shell);
        downloadDaysOfOrders(session, api, shell, *days);
    });
}

} // namespace tw::orders
