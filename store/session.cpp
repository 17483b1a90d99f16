#include "store/session.h"

#include "platform/clock.h"
#include "store/lookup.h"
#include "store/settings.h"

namespace tw {

Session::Session()
    : lookup(nullptr), eBayDetails(nullptr), dazzleDefinitions(nullptr), feedbackRating(nullptr),
      orderSelection(nullptr)
{
}

std::vector<std::string> Session::openStore(const std::filesystem::path &dataDir)
{
    lookup = InitLookup();
    std::vector<std::string> problems = store.open(dataDir);
    currentView = settings::firstView(store.settings());
    settings::upgrade(store);
    return problems;
}

void Session::selectOrders(const xml::Document &source, const std::vector<xml::Node> &orders)
{
    orderSelection = xml::Document();
    xml::Node root = source.root();
    orderSelection.setRoot(root ? orderSelection.importNode(root, false)
                                : orderSelection.createElement("Transactions"));
    for (xml::Node order : orders)
        orderSelection.root().append(order);
}

DateTime Session::eBayNow() const
{
    return clock().localNow().addDays(eBayClockOffset);
}

} // namespace tw
