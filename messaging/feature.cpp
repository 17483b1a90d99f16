#include "messaging/feature.h"

#include "messaging/compose.h"
#include "messaging/contact.h"
#include "ui/served.h"

#include <memory>

namespace tw::messaging {

void registerFeature(Session &session, Shell &shell, FeatureTable &table)
{
    table.addAction("CancelMessage", [&table](const Params &) { table.RefreshGrid(); });

    // Through eBay.
    auto flow = std::make_shared<ContactFlow>();
    table.addNavigationWatcher(
        [flow](const std::string &url, const std::string &fromUrl) { flow->navigating(url, fromUrl); });
    table.addPageWatcher([&session, &shell, &table, flow](const std::string &url) {
        if (confirmMessageSent(session, shell, table, url)) return;
        if (!flow->take(url)) return;
        if (isEbayContactPage(url))
            fillEbayContactPage(session, shell, url);
        else
            fillContactBuyer(session, shell, url);
    });
    table.addAction("SendMessage", [&session, &shell](const Params &) { SendMessage(session, shell); });

    // By e-mail.
    table.addAction("SendSMTPTemplateMessage",
                    [&session, &shell](const Params &) { SendSMTPTemplateMessage(session, shell); });
    table.addPageFill(std::string(ui::kComposeEmailPage),
                      [&session, &shell](const std::string &) { DisplayComposeEmail(session, shell); });
    table.addAction("SMTPSend", [&session, &shell, &table](const Params &) { SMTPSend(session, shell, table); });
}

} // namespace tw::messaging
