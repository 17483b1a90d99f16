#include "app/features.h"

#include "ebay/oauth.h"
#include "messaging/feature.h"
#include "orders/feature.h"
#include "paypal/feature.h"
#include "platform/config.h"
#include "platform/log.h"
#include "postage/feature.h"
#include "store/backup.h"
#include "store/feature.h"
#include "store/settings.h"
#include "ui/feature.h"

namespace tw::app {

void composeFeatures(Session &session, Shell &shell, FeatureTable &table)
{
    orders::registerFeature(session, shell, table);
    ui::registerFeature(session, shell, table);
    ui::registerOptions(session, shell, table);
    messaging::registerFeature(session, shell, table);
    postage::registerFeature(session, shell, table);
    paypal::registerFeature(session, shell, table);
    store::registerFeature(session, shell, table);
    table.addCommand("mnuAbout",
                     [&session, &shell] { shell.messageBox("About Tidewell", aboutText(session.store.dataDir())); });
}

std::string version()
{
    return TW_VERSION;
}

std::string aboutText(const std::filesystem::path &dataDir)
{
    return "Tidewell version " + version() + "\n\nData folder: " + dataDir.string() +
           "\nLog: " + (dataDir / log::kFileName).string() + "\nBackups: " + store::backupsFolder(dataDir).string();
}

std::vector<std::string> knownSecrets(const Session &session)
{
    std::vector<std::string> out;
    for (const char *key : {"eBayAuthToken", "eBayOAuthRefreshToken", "PaypalAPIUser", "PaypalAPIPassword",
                            "PaypalAPISignature", "USPSClientSecret"})
        out.push_back(settings::read(session.store.doc(store::Doc::Settings), key));
    for (const std::string &token : ebay::heldAccessTokens())
        out.push_back(token);
    for (const char *key : {"ebay/CertName", "paypal/ClientCertificatePassword"})
        out.push_back(config().get(key));
    return out;
}

} // namespace tw::app
