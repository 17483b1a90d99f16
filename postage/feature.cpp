#include "postage/feature.h"

#include "postage/printing.h"
#include "ui/served.h"

#include <memory>

namespace tw::postage {

void registerFeature(Session &session, Shell &shell, FeatureTable &table)
{
    // Lives as long as the table's handlers, which share it.
    auto printing = std::make_shared<Printing>(session, shell, table);

    table.addAction("PrintPostage", [printing](const Params &) { printing->PrintPostage(FormKind::Dazzle); });
    table.addAction("PrintPostageWorldShip",
                    [printing](const Params &) { printing->PrintPostage(FormKind::WorldShip); });
    table.addPageFill(std::string(ui::kPrintPostagePage),
                      [printing](const std::string &) { printing->DisplayPrintPostage(FormKind::Dazzle); });
    table.addPageFill(std::string(ui::kPrintPostageWorldShipPage),
                      [printing](const std::string &) { printing->DisplayPrintPostage(FormKind::WorldShip); });
    table.addAction("PrintPostageSend", [printing](const Params &) { printing->PrintPostageSend(); });
    table.addAction("PrintPostageSendWorldShip", [printing](const Params &) { printing->PrintPostageSendWorldShip(); });
    table.addTimer(std::string(kDazzleTimer), [printing] { printing->tmrWaitingForDazzle_Timer(); });
    table.addTimer(std::string(kWorldShipTimer), [printing] { printing->tmrWaitingForWorldShip_Timer(); });
    table.addAction("CancelPrintPostage", [printing](const Params &) { printing->CancelPrintPostage(); });
    // http://plinthway/?Action=ResendTracking&ItemID=...&TransactionID=... (an order's row)
    table.addAction("ResendTracking", [printing](const Params &params) {
        auto value = [&params](const char *key) {
            auto it = params.find(key);
            return it == params.end() ? std::string() : it->second;
        };
        printing->ResendTracking(value("ItemID"), value("TransactionID"));
    });
    // Waits an earlier run left open are watched again once the view is up.
    table.addPageWatcher([printing, &session](const std::string &) {
        if (session.mainPageInitialised) printing->resumeWaits();
    });
}

} // namespace tw::postage
