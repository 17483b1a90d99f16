#include "store/settings.h"

#include "store/basFunctions.h"

namespace tw::settings {

const std::string kShippedBody = "I just wanted to let you know we shipped your order.\r\n"
                                 "\r\n"
                                 "Carrier: {ShippingDetails/ShippingCarrier}\r\n"
                                 "Tracking Number: {ShippingDetails/ShipmentTrackingNumber}\r\n"
                                 "\r\n"
                                 "{Tagged/TransactionList}\r\n"
                                 "\r\n"
                                 "Thank you again for your purchase!";

const std::vector<Layout> &layouts()
{
    static const std::vector<Layout> table = {
        {"FIRST", "First Class", "Zebra Label.lyt"},
        {"PRIORITY", "Priority", "Zebra Label.lyt"},
        {"EXPRESS", "Express", "Zebra Express Mail Shipping Label.lyt"},
        {"PARCELPOST", "Parcel Post", "Zebra Label.lyt"},
        {"MEDIAMAIL", "Media Mail", "Zebra Label.lyt"},
        {"LIBRARYMAIL", "Library Mail", "Zebra Label.lyt"},
        {"PRESORTEDFIRST", "Presorted First Class", "Zebra Label.lyt"},
        {"PRESORTEDSTANDARD", "Presorted Standard Class", "Zebra Label.lyt"},
        {"INTLFIRST", "International First Class", "Zebra Small First Class Mail International Shipping Label.lyt"},
        {"INTLEXPRESS", "International Express", "Large Express Mail International Shipping Label.lyt"},
        {"INTLPRIORITY", "International Priority", "Large Priority Mail International Shipping Label.lyt"},
        {"INTLPRIORITY_FLATRATEENVELOPE", "International Priority Flat Rate Envelope",
         "Small Priority Mail International Shipping Label.lyt"},
        {"INTLGXG", "Global Express Guaranteed ", "International Label Half Page.lyt"},
        {"INTLGXGNODOC", "Global Express Guaranteed Non-Documents", "International Label Half Page.lyt"},
    };
    return table;
}

const std::vector<Key> &keys()
{
    static const std::vector<Key> table = [] {
        std::vector<Key> k = {
            {"eBayID", ""},
            {"eBayAuthToken", ""},
            {"eBayAuthTokenHardExpirationTime", ""},
            {"eBayOAuthRefreshToken", ""},
            {"eBayOAuthRefreshTokenExpirationTime", ""},
            {"LastGetSellerTransactions", ""},
            {"LastGetMemberMessages", ""},
            {"LastGetSentMessages", ""},
            {"GetSellerTransactionsMaxDays", "28"},
            {"LastTab", kDefaultView},
            {"DefaultBrowser", "True"},
            {"PrivateMode", ""},
            {"ShippedMessageSubject", kShippedSubject},
            {"ShippedMessage", kShippedBody},
            {"DeliveredNeedsFollowUpMessage", ""},
            {"InTransitMessage", ""},
            {"NotShippedMessage", ""},
            {"ArchivedMessage", ""},
            {"DeliveredFollowUpMessage", ""},
            {"SMTPServer", ""},
            {"SMTPFrom", ""},
            {"SMTPPort", "25"},
            {"DazzleExePath", "C:\\Program Files\\Envelope Manager\\DAZzle\\DAZZLE.EXE"},
            {"FlagPostageDifferences", ""},
            {"ReturnAddress1", ""},
            {"ReturnAddress2", ""},
            {"ReturnAddress3", ""},
            {"ReturnAddress4", ""},
            {"ReturnAddress5", ""},
            {"ReturnAddress6", ""},
            {"Stealth", ""},
            {"InsuredMail", "OFF"},
            {"CustomsSigner", ""},
            {"PrintPostageTestMode", ""},
            {"DazzleAutoClose", ""},
            {"DazzleCustomsCertify", ""},
            {"PaypalAPIUser", ""},
            {"PaypalAPIPassword", ""},
            {"PaypalAPISignature", ""},
            {"PaypalAPIAuthMode", "Signature"},
            {"USPSTrackingApi", "WebTools"},
            {"USPSClientID", ""},
            {"USPSClientSecret", ""},
            {"UPSAccount", ""},
            {"UPSWorldShipAutoXMLImportFolder", ""},
        };
        // The layout key names must outlive the table: keep them in statics.
        static std::vector<std::string> layoutKeys;
        for (const auto &l : layouts())
            layoutKeys.push_back("DazzleLayout_" + std::string(l.code));
        for (size_t i = 0; i < layouts().size(); ++i)
            k.push_back({layoutKeys[i], layouts()[i].defaultFile});
        return k;
    }();
    return table;
}

std::string_view defaultFor(std::string_view key)
{
    for (const auto &k : keys())
        if (k.name == key) return k.missingDefault;
    return {};
}

namespace {
// A key becomes part of a query: only plain element names are accepted.
bool isKeyName(std::string_view key)
{
    if (key.empty()) return false;
    for (char c : key)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.')) return false;
    return std::isalpha(static_cast<unsigned char>(key.front())) || key.front() == '_';
}
} // namespace

std::string read(const xml::Document &settings, std::string_view key, std::string_view fallback)
{
    if (!isKeyName(key)) return std::string(fallback);
    return GetNodeText(settings, "Settings/" + std::string(key), fallback);
}

std::string read(const xml::Document &settings, std::string_view key)
{
    return read(settings, key, defaultFor(key));
}

bool isOn(std::string_view value)
{
    return value == "True";
}

bool readFlag(const xml::Document &settings, std::string_view key)
{
    return isOn(read(settings, key));
}

bool set(xml::Document &settings, std::string_view key, std::string_view value)
{
    if (!isKeyName(key)) return false;
    return bool(SetChildText(settings, "Settings", key, value));
}

bool write(store::Store &store, std::string_view key, std::string_view value)
{
    // A value that could not be set is not reported as saved.
    if (!set(store.settings(), key, value)) return false;
    return store.save(store::Doc::Settings);
}

bool advance(store::Store &store, const Bookmark &bookmark)
{
    if (bookmark.key.empty()) return true;
    return write(store, bookmark.key, bookmark.value);
}

void upgrade(store::Store &store)
{
    xml::Document &doc = store.settings();
    xml::Node root = doc.select("Settings");
    if (!root) return;
    for (std::string_view key : {"LastGetMemberMessages", "LastGetSentMessages"}) {
        if (!root.element(key)) {
            root.appendElement(key);
            store.save(store::Doc::Settings);
        }
    }
    if (xml::Node old = root.element("DeliveredFollowUpMessage")) {
        std::string text = old.text();
        set(doc, "DeliveredNeedsFollowUpMessage", text);
        old.remove();
        store.save(store::Doc::Settings);
    }
    if (read(doc, "DefaultBrowser", "").empty()) set(doc, "DefaultBrowser", "True");
}

std::string firstView(const xml::Document &settings)
{
    std::string view = read(settings, "LastTab", "");
    return view.empty() ? std::string(kDefaultView) : view;
}

} // namespace tw::settings
