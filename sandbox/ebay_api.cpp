// The Trading API: one POST per call, answered the way eBay answers.

#include "platform/text.h"
#include "sandbox/impl.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <set>

namespace tw::sandbox {

namespace {

using xml::Document;
using xml::Node;

const std::string kNs(xml::kEbayNamespace);

const std::set<std::string> kCalls = {
    "GeteBayOfficialTime",
    "GeteBayDetails",
    "GetSellerTransactions",
    "GetMemberMessages",
    "GetMyMessages",
    "GetFeedback",
    "GetSellerDashboard",
    "GetSessionID",
    "FetchToken",
    "CompleteSale",
    "GetItem",
    "AddMemberMessageAAQToPartner",
    "AddMemberMessagesAAQToBidder",
};

struct Error {
    std::string shortMessage, longMessage, code;
};

struct Response {
    Document doc;
    Node root;
    Response(const std::string &call, const DateTime &now, const std::string &ack,
             const std::vector<Error> &errors = {}, const std::string &severity = "Error")
    {
        root = doc.createElement(call + "Response", kNs);
        doc.setRoot(root);
        root = doc.root();
        root.appendElement("Timestamp", ebayTime(now));
        root.appendElement("Ack", ack);
        for (const Error &e : errors) {
            Node err = root.appendElement("Errors");
            err.appendElement("ShortMessage", e.shortMessage);
            err.appendElement("LongMessage", e.longMessage.empty() ? e.shortMessage : e.longMessage);
            err.appendElement("ErrorCode", e.code);
            err.appendElement("SeverityCode", severity);
            err.appendElement("ErrorClassification", severity == "Error" ? "RequestError" : "RequestError");
        }
        root.appendElement("Version", "575");
        root.appendElement("Build", "e575_core_Bundled_tidewell_sandbox");
    }
    Reply reply() const
    {
        Reply r;
        r.body = doc.toString();
        return r;
    }
};

Reply failure(const std::string &call, const DateTime &now, const std::string &shortMessage, const std::string &code,
              const std::string &longMessage = {})
{
    return Response(call.empty() ? std::string("Generic") : call, now, "Failure", {{shortMessage, longMessage, code}})
        .reply();
}

std::string text(const Node &node, std::string_view path, std::string_view fallback = {})
{
    Node n = node.select(path);
    return n ? n.text() : std::string(fallback);
}

int number(const Node &node, std::string_view path, int fallback)
{
    const std::string t = text(node, path);
    if (t.empty()) return fallback;
    try {
        return std::stoi(t);
    } catch (...) {
        return -1;
    }
}

bool isTrue(const std::string &value)
{
    return equalsNoCase(value, "true") || value == "1";
}

Node addAmount(Node parent, const char *name, double amount)
{
    Node n = parent.appendElement(name, money(amount));
    n.setAttribute("currencyID", "USD");
    return n;
}

struct Page {
    int entries = 0, page = 0;
    std::size_t first = 0, last = 0; // positions [first, last) of the page
    int totalPages = 0;
};

// Entries per page and page number from Pagination, clamped the way eBay does.
bool paginate(const Node &request, int defaultEntries, int maxEntries, std::size_t total, Page &out)
{
    out.entries = number(request, "Pagination/EntriesPerPage", defaultEntries);
    out.page = number(request, "Pagination/PageNumber", 1);
    if (out.entries < 1 || out.page < 1) return false;
    out.entries = std::min(out.entries, maxEntries);
    out.totalPages = int((total + out.entries - 1) / out.entries);
    out.first = std::min<std::size_t>(total, std::size_t(out.page - 1) * out.entries);
    out.last = std::min<std::size_t>(total, out.first + out.entries);
    return true;
}

void addPaginationResult(Node root, const Page &page, std::size_t total)
{
    Node pr = root.appendElement("PaginationResult");
    pr.appendElement("TotalNumberOfPages", std::to_string(page.totalPages));
    pr.appendElement("TotalNumberOfEntries", std::to_string(total));
}

void addAddress(Node parent, const Address &a)
{
    Node s = parent.appendElement("ShippingAddress");
    s.appendElement("Name", a.name);
    s.appendElement("Street1", a.street1);
    s.appendElement("Street2", a.street2);
    s.appendElement("CityName", a.city);
    s.appendElement("StateOrProvince", a.state);
    s.appendElement("Country", a.country);
    s.appendElement("CountryName", a.countryName);
    s.appendElement("Phone", a.phone);
    s.appendElement("PostalCode", a.postalCode);
    s.appendElement("AddressOwner", "eBay");
}

void addTransaction(Node array, const State &state, const Order &o)
{
    const Buyer &b = state.buyers[o.buyer];
    Node t = array.appendElement("Transaction");
    const double total = o.price * o.quantity + o.shippingCost;
    addAmount(t, "AmountPaid", o.isPaid() ? total : 0.0);
    addAmount(t, "AdjustmentAmount", 0);
    addAmount(t, "ConvertedAdjustmentAmount", 0);
    Node buyer = t.appendElement("Buyer");
    buyer.appendElement("AboutMePage", "false");
    buyer.appendElement("EIASToken", b.eiasToken);
    buyer.appendElement("Email", b.email);
    buyer.appendElement("FeedbackScore", std::to_string(b.feedbackScore));
    buyer.appendElement("FeedbackPrivate", "false");
    buyer.appendElement("IDVerified", "false");
    buyer.appendElement("eBayGoodStanding", "true");
    buyer.appendElement("NewUser", "false");
    buyer.appendElement("Site", "US");
    buyer.appendElement("Status", b.status);
    buyer.appendElement("UserID", b.userId);
    buyer.appendElement("VATStatus", "NoVATTax");
    addAddress(buyer.appendElement("BuyerInfo"), b.address);

    Node sd = t.appendElement("ShippingDetails");
    Node rate = sd.appendElement("CalculatedShippingRate");
    rate.appendElement("OriginatingPostalCode", "02540");
    rate.appendElement("PackageDepth", std::to_string(int(o.packageDepth)));
    rate.appendElement("PackageLength", std::to_string(int(o.packageLength)));
    rate.appendElement("PackageWidth", std::to_string(int(o.packageWidth)));
    rate.appendElement("ShippingIrregular", o.irregular ? "True" : "False");
    rate.appendElement("WeightMajor", "1").setAttribute("unit", "lbs");
    rate.appendElement("WeightMinor", "4").setAttribute("unit", "oz");
    sd.appendElement("ShippingType", "Flat");
    sd.appendElement("SellingManagerSalesRecordNumber", std::to_string(o.salesRecordNumber));
    if (!o.trackingNumber.empty()) sd.appendElement("ShipmentTrackingNumber", o.trackingNumber);
    if (!o.shippingServiceUsed.empty()) sd.appendElement("ShippingServiceUsed", o.shippingServiceUsed);

    addAmount(t, "ConvertedAmountPaid", o.isPaid() ? total : 0.0);
    addAmount(t, "ConvertedTransactionPrice", o.price);
    t.appendElement("CreatedDate", ebayTime(o.created));
    t.appendElement("DepositType", "None");
    Node item = t.appendElement("Item");
    item.appendElement("AutoPay", "false");
    item.appendElement("Currency", "USD");
    item.appendElement("ItemID", o.itemId);
    item.appendElement("ListingType", o.transactionId == "0" ? "Chinese" : "FixedPriceItem");
    item.appendElement("PaymentMethods", "PayPal");
    item.appendElement("PrivateListing", "false");
    item.appendElement("Quantity", std::to_string(o.quantity + 3));
    Node ss = item.appendElement("SellingStatus");
    addAmount(ss, "CurrentPrice", o.price);
    ss.appendElement("QuantitySold", std::to_string(o.quantity));
    ss.appendElement("ListingStatus", "Active");
    item.appendElement("Title", o.title);
    item.appendElement("SKU", o.sku);
    t.appendElement("QuantityPurchased", std::to_string(o.quantity));
    Node status = t.appendElement("Status");
    status.appendElement("eBayPaymentStatus", "NoPaymentFailure");
    status.appendElement("CheckoutStatus", o.isPaid() ? "CheckoutComplete" : "CheckoutIncomplete");
    status.appendElement("LastTimeModified", ebayTime(o.modified));
    status.appendElement("PaymentMethodUsed", o.paymentMethod);
    status.appendElement("CompleteStatus", o.isPaid() ? "Complete" : "Incomplete");
    status.appendElement("BuyerSelectedShipping", o.buyerSelectedShipping ? "true" : "false");
    t.appendElement("TransactionID", o.transactionId);
    addAmount(t, "TransactionPrice", o.price);
    t.appendElement("BestOfferSale", "false");
    if (!o.paypalTransactionId.empty()) {
        Node ext = t.appendElement("ExternalTransaction");
        ext.appendElement("ExternalTransactionID", o.paypalTransactionId);
        ext.appendElement("ExternalTransactionTime", ebayTime(o.paid));
        addAmount(ext, "FeeOrCreditAmount", std::round(total * 2.9 + 30) / 100);
        addAmount(ext, "PaymentOrRefundAmount", total);
    }
    Node sel = t.appendElement("ShippingServiceSelected");
    sel.appendElement("ShippingService", o.shippingService);
    addAmount(sel, "ShippingServiceCost", o.shippingCost);
    if (o.isPaid()) t.appendElement("PaidTime", ebayTime(o.paid));
    if (o.isShipped()) t.appendElement("ShippedTime", ebayTime(o.shipped));
    t.appendElement("TransactionSiteID", "US");
    t.appendElement("Platform", "eBay");
    if (!o.productName.empty()) {
        Node pd = t.appendElement("SellingManagerProductDetails");
        pd.appendElement("ProductName", o.productName);
        pd.appendElement("CustomLabel", o.sku);
    }
}

struct ServiceDetail {
    const char *service, *description, *carrier;
    bool international;
};

// Every service of the postage form's mapping, and some UPS and other ones.
const std::array<ServiceDetail, 52> kServiceDetails = {{
    {"Delivery", "Delivery", "Other", false},
    {"Other", "Standard shipping", "Other", false},
    {"PromotionalShippingMethod", "Promotional shipping", "Other", false},
    {"USPSEconomyLetter", "USPS Economy Letter", "USPS", false},
    {"USPSFirstClass", "USPS First Class Mail", "USPS", false},
    {"USPSFirstClassLetter", "USPS First Class Mail Letter", "USPS", false},
    {"USPSFirstClassLargeEnvelop", "USPS First Class Mail Large Envelope", "USPS", false},
    {"USPSFirstClassParcel", "USPS First Class Mail Parcel", "USPS", false},
    {"ShippingMethodStandard", "Standard Shipping", "Other", false},
    {"USPSPriority", "USPS Priority Mail", "USPS", false},
    {"USPSPriorityFlatRateEnvelope", "USPS Priority Mail Flat Rate Envelope", "USPS", false},
    {"USPSPriorityFlatRateBox", "USPS Priority Mail Flat Rate Box", "USPS", false},
    {"USPSPriorityMailLargeFlatRateBox", "USPS Priority Mail Large Flat Rate Box", "USPS", false},
    {"USPSMedia", "USPS Media Mail", "USPS", false},
    {"USPSParcel", "USPS Parcel Post", "USPS", false},
    {"USPSGround", "USPS Ground", "USPS", false},
    {"USPSEconomyParcel", "USPS Economy Parcel", "USPS", false},
    {"ShippingMethodOvernight", "Overnight shipping", "Other", false},
    {"ShippingMethodExpress", "Express shipping", "Other", false},
    {"USPSExpressMail", "USPS Express Mail", "USPS", false},
    {"USPSExpressFlatRateEnvelope", "USPS Express Mail Flat Rate Envelope", "USPS", false},
    {"OtherInternational", "Other International Shipping", "Other", true},
    {"StandardInternational", "Standard International Shipping", "Other", true},
    {"USPSAirmailLetter", "USPS Airmail Letter", "USPS", true},
    {"USPSAirmailParcel", "USPS Airmail Parcel", "USPS", true},
    {"USPSFirstClassMailInternational", "USPS First Class Mail Intl", "USPS", true},
    {"USPSFirstClassMailInternationalLetter", "USPS First Class Mail Intl Letter", "USPS", true},
    {"USPSFirstClassMailInternationalLargeEnvelope", "USPS First Class Mail Intl Large Envelope", "USPS", true},
    {"USPSFirstClassMailInternationalParcel", "USPS First Class Mail Intl Parcel", "USPS", true},
    {"ExpeditedInternational", "Expedited International Shipping", "Other", true},
    {"USPSPriorityMailInternational", "USPS Priority Mail International", "USPS", true},
    {"USPSGlobalPriority", "USPS Global Priority Mail", "USPS", true},
    {"USPSGlobalPrioritySmallEnvelope", "USPS Global Priority Mail Small Envelope", "USPS", true},
    {"USPSGlobalPriorityLargeEnvelope", "USPS Global Priority Mail Large Envelope", "USPS", true},
    {"USPSPriorityMailInternationalFlatRateEnvelope", "USPS Priority Mail Intl Flat Rate Envelope", "USPS", true},
    {"USPSPriorityMailInternationalFlatRateBox", "USPS Priority Mail Intl Flat Rate Box", "USPS", true},
    {"USPSPriorityMailInternationalLargeFlatRateBox", "USPS Priority Mail Intl Large Flat Rate Box", "USPS", true},
    {"USPSExpressMailInternational", "USPS Express Mail International", "USPS", true},
    {"USPSGlobalExpress", "USPS Global Express Mail", "USPS", true},
    {"USPSExpressMailInternationalFlatRateEnvelope", "USPS Express Mail Intl Flat Rate Envelope", "USPS", true},
    {"USPSGlobalExpressGuaranteed", "USPS Global Express Guaranteed", "USPS", true},
    {"LocalDelivery", "Local Delivery", "Other", false},
    {"Pickup", "Local pickup", "Other", false},
    {"UPSGround", "UPS Ground", "UPS", false},
    {"UPS3rdDay", "UPS 3 Day Select", "UPS", false},
    {"UPS2ndDay", "UPS 2nd Day Air", "UPS", false},
    {"UPSNextDay", "UPS Next Day Air Saver", "UPS", false},
    {"UPSNextDayAir", "UPS Next Day Air", "UPS", false},
    {"UPSWorldWideExpress", "UPS Worldwide Express", "UPS", true},
    {"UPSWorldWideExpedited", "UPS Worldwide Expedited", "UPS", true},
    {"FedExHomeDelivery", "FedEx Home Delivery", "FedEx", false},
    {"FedExInternationalEconomy", "FedEx International Economy", "FedEx", true},
}};

} // namespace

Reply Sandbox::Impl::tradingApi(const Request &request, bool warn, bool fail, bool tokenExpired)
{
    const DateTime now = ebayNow();
    const std::string call = request.header("x-ebay-api-call-name");
    if (request.method != "POST") return failure(call, now, "The Trading API takes POST requests only.", "2");
    if (call.empty()) return failure(call, now, "Missing header X-EBAY-API-CALL-NAME.", "2");
    if (!kCalls.count(call))
        return failure(call, now, "Unsupported API call.", "2",
                       "The API call \"" + call + "\" is invalid or not supported in this release.");
    if (request.header("content-type").rfind("text/xml", 0) != 0)
        return failure(call, now, "Unsupported Content-Type; send text/xml.", "2");
    const std::string level = request.header("x-ebay-api-compatibility-level");
    if (level.empty() || level.find_first_not_of("0123456789") != std::string::npos)
        return failure(call, now, "Missing or invalid header X-EBAY-API-COMPATIBILITY-LEVEL.", "10007");
    if (request.header("x-ebay-api-dev-name") != ids.get("ebay/DevName"))
        return failure(call, now, "Invalid developer id (X-EBAY-API-DEV-NAME).", "10008");
    if (request.header("x-ebay-api-app-name") != ids.get("ebay/AppName"))
        return failure(call, now, "Invalid application id (X-EBAY-API-APP-NAME).", "10008");
    if (request.header("x-ebay-api-cert-name") != ids.get("ebay/CertName"))
        return failure(call, now, "Invalid certificate id (X-EBAY-API-CERT-NAME).", "10008");
    if (request.header("x-ebay-api-siteid") != "0")
        return failure(call, now, "Invalid site id; this server serves the US site (0) only.", "10009");

    std::string parseError;
    Document doc = Document::parse(request.body, &parseError);
    if (!doc || !doc.root()) return failure(call, now, "XML Parse error.", "5", parseError);
    Node req = doc.root();
    if (req.name() != call + "Request")
        return failure(call, now, "The call name header does not match the request.", "2",
                       "Header " + call + ", request root " + req.name() + ".");
    if (req.namespaceUri() != kNs)
        return failure(call, now, "The request root is not in eBay's namespace.", "5",
                       "Expected xmlns=\"" + kNs + "\".");

    // A user token of eBay's OAuth comes in the IAF header instead of the
    // request's credentials; an expired or revoked one is refused the way
    // eBay refuses it.
    const std::string iaf = request.header("x-ebay-api-iaf-token");
    if (tokenExpired) revokeOAuthToken(iaf);
    if (call != "GetSessionID" && call != "FetchToken" && (!iaf.empty() || tokenExpired)) {
        if (!liveAccessToken(iaf))
            return failure(call, now, "IAF token supplied is expired.", "21917053",
                           "The IAF token supplied is expired or invalid. Renew the OAuth user token.");
    } else if (call != "GetSessionID" && call != "FetchToken") {
        const std::string token = text(req, "RequesterCredentials/eBayAuthToken");
        if (token.empty())
            return failure(call, now, "Auth token is missing.", "930", "No token was found in the request.");
        if (token != kDemoToken && !state.tokens.count(token))
            return failure(call, now, "Auth token is invalid.", "931",
                           "Validation of the authentication token in API request failed.");
    }
    if (fail)
        return failure(call, now, "Internal error to the application.", "10007",
                       "Internal error to the application (injected by the sandbox).");

    std::vector<Error> warnings;
    if (warn)
        warnings.push_back(
            {"Sandbox warning.", "A warning injected by the sandbox; the payload is complete.", "21917"});
    Response resp(call, now, warn ? "Warning" : "Success", warnings, "Warning");
    Node root = resp.root;
    const std::string correlation = text(req, "MessageID");

    if (call == "GeteBayOfficialTime") {
        // nothing beyond the common fields
    } else if (call == "GeteBayDetails") {
        std::set<std::string> names;
        for (Node n : req.selectAll("DetailName"))
            names.insert(n.text());
        auto wanted = [&](const char *name) { return names.empty() || names.count(name); };
        if (wanted("ShippingCarrierDetails")) {
            int id = 0;
            for (const char *c : {"USPS", "UPS", "FedEx", "Other"}) {
                Node n = root.appendElement("ShippingCarrierDetails");
                n.appendElement("ShippingCarrierID", std::to_string(++id));
                n.appendElement("Description", c);
                n.appendElement("ShippingCarrier", c);
            }
        }
        if (wanted("ShippingLocationDetails")) {
            for (auto [loc, desc] :
                 std::vector<std::pair<const char *, const char *>>{{"Worldwide", "Worldwide"},
                                                                    {"Americas", "N. and S. America"},
                                                                    {"Europe", "Europe"},
                                                                    {"Asia", "Asia"},
                                                                    {"CA", "Canada"},
                                                                    {"GB", "United Kingdom"},
                                                                    {"DE", "Germany"}}) {
                Node n = root.appendElement("ShippingLocationDetails");
                n.appendElement("ShippingLocation", loc);
                n.appendElement("Description", desc);
            }
        }
        if (wanted("ShippingServiceDetails")) {
            int id = 0;
            for (const ServiceDetail &s : kServiceDetails) {
                Node n = root.appendElement("ShippingServiceDetails");
                n.appendElement("Description", s.description);
                if (s.international) n.appendElement("InternationalService", "true");
                n.appendElement("ShippingService", s.service);
                n.appendElement("ShippingServiceID", std::to_string(++id));
                n.appendElement("ServiceType", "Flat");
                n.appendElement("ValidForSellingFlow", "true");
                n.appendElement("ShippingCarrier", s.carrier);
            }
        }
        if (wanted("ShippingPackageDetails")) {
            int id = 0;
            for (auto [pkg, desc] :
                 std::vector<std::pair<const char *, const char *>>{{"Letter", "Letter"},
                                                                    {"LargeEnvelope", "Large Envelope"},
                                                                    {"PackageThickEnvelope", "Package"},
                                                                    {"USPSFlatRateEnvelope", "USPS Flat Rate Envelope"},
                                                                    {"USPSLargePack", "Large Package"}}) {
                Node n = root.appendElement("ShippingPackageDetails");
                n.appendElement("PackageID", std::to_string(++id));
                n.appendElement("Description", desc);
                n.appendElement("ShippingPackage", pkg);
            }
        }
        if (wanted("TimeZoneDetails")) {
            for (auto [tz, std, off] : std::vector<std::tuple<const char *, const char *, const char *>>{
                     {"GMT", "Greenwich Mean Time", "00:00"},
                     {"US/Eastern", "Eastern Standard Time", "-05:00"},
                     {"US/Central", "Central Standard Time", "-06:00"},
                     {"US/Mountain", "Mountain Standard Time", "-07:00"},
                     {"US/Pacific", "Pacific Standard Time", "-08:00"}}) {
                Node n = root.appendElement("TimeZoneDetails");
                n.appendElement("TimeZoneID", tz);
                n.appendElement("StandardLabel", std);
                n.appendElement("StandardOffset", off);
                n.appendElement("DaylightSavingsInEffect", "false");
            }
        }
        if (wanted("URLDetails")) {
            const std::string b = base();
            for (auto [type, url] : std::vector<std::pair<const char *, std::string>>{
                     {"ViewItemURL", b + "/item/ws/eBayISAPI.dll?ViewItem&item="},
                     {"ViewUserURL", b + "/feedback/ws/eBayISAPI.dll?ViewFeedback2&userid="},
                     {"MyeBayURL", b + "/"}}) {
                Node n = root.appendElement("URLDetails");
                n.appendElement("URLType", type);
                n.appendElement("URL", url);
            }
        }
    } else if (call == "GetSellerTransactions") {
        DateTime from, to;
        const std::string days = text(req, "NumberOfDays");
        if (!days.empty()) {
            const int n = number(req, "NumberOfDays", 0);
            if (n < 1 || n > 30) return failure(call, now, "NumberOfDays must be between 1 and 30.", "21916");
            to = now;
            from = now.addDays(-n);
        } else if (!text(req, "ModTimeFrom").empty() || !text(req, "ModTimeTo").empty()) {
            from = parseEbayTime(text(req, "ModTimeFrom"));
            to = parseEbayTime(text(req, "ModTimeTo"));
            if (!from.isValid() || !to.isValid())
                return failure(call, now, "Invalid ModTimeFrom or ModTimeTo.", "37",
                               "Both ModTimeFrom and ModTimeTo must be eBay date-times.");
            if (to < from) return failure(call, now, "ModTimeTo is before ModTimeFrom.", "21917");
            if (from.daysTo(to) > 30) return failure(call, now, "The time range may not exceed 30 days.", "21917");
        } else {
            to = now;
            from = now.addDays(-30);
        }
        auto [lo, hi] = state.modifiedRange(from, to);
        const std::size_t total = hi - lo;
        Page page;
        if (!paginate(req, 100, 200, total, page)) return failure(call, now, "Invalid Pagination.", "340");
        addPaginationResult(root, page, total);
        root.appendElement("HasMoreTransactions", page.page < page.totalPages ? "true" : "false");
        root.appendElement("TransactionsPerPage", std::to_string(page.entries));
        root.appendElement("PageNumber", std::to_string(page.page));
        root.appendElement("ReturnedTransactionCountActual", std::to_string(page.last - page.first));
        Node seller = root.appendElement("Seller");
        seller.appendElement("UserID", state.sellerId);
        seller.appendElement("Status", "Confirmed");
        if (page.last > page.first) {
            Node array = root.appendElement("TransactionArray");
            for (std::size_t i = lo + page.first; i < lo + page.last; ++i)
                addTransaction(array, state, state.orders[state.orderAt(i)]);
        }
    } else if (call == "GetMemberMessages") {
        if (text(req, "MailMessageType").empty()) return failure(call, now, "MailMessageType is required.", "37");
        const std::string s = text(req, "StartCreationTime"), e = text(req, "EndCreationTime");
        DateTime from = s.empty() ? now.addDays(-30) : parseEbayTime(s);
        DateTime to = e.empty() ? now : parseEbayTime(e);
        if (!from.isValid() || !to.isValid())
            return failure(call, now, "Invalid StartCreationTime or EndCreationTime.", "37");
        auto lo = std::lower_bound(state.questions.begin(), state.questions.end(), from,
                                   [](const Question &q, const DateTime &t) { return q.created < t; });
        auto hi = std::upper_bound(lo, state.questions.end(), to,
                                   [](const DateTime &t, const Question &q) { return t < q.created; });
        const std::size_t total = std::size_t(hi - lo);
        Page page;
        if (!paginate(req, 25, 200, total, page)) return failure(call, now, "Invalid Pagination.", "340");
        addPaginationResult(root, page, total);
        root.appendElement("HasMoreItems", page.page < page.totalPages ? "true" : "false");
        if (page.last > page.first) {
            Node mm = root.appendElement("MemberMessage");
            for (auto it = lo + page.first; it != lo + page.last; ++it) {
                const Question &q = *it;
                Node x = mm.appendElement("MemberMessageExchange");
                Node item = x.appendElement("Item");
                item.appendElement("ItemID", q.itemId);
                if (const Order *o = state.firstOrderOfItem(q.itemId)) {
                    item.appendElement("Seller").appendElement("UserID", state.sellerId);
                    item.appendElement("Title", o->title);
                }
                Node qn = x.appendElement("Question");
                qn.appendElement("MessageType", "AskSellerQuestion");
                qn.appendElement("QuestionType", "General");
                qn.appendElement("DisplayToPublic", "false");
                qn.appendElement("SenderID", q.senderId);
                qn.appendElement("SenderEmail", q.senderId + "@example.com");
                qn.appendElement("RecipientID", state.sellerId);
                qn.appendElement("Subject", q.subject);
                qn.appendElement("Body", q.body);
                qn.appendElement("MessageID", q.messageId);
                x.appendElement("MessageStatus", "Unanswered");
                x.appendElement("CreationDate", ebayTime(q.created));
                x.appendElement("LastModifiedDate", ebayTime(q.created));
            }
        }
    } else if (call == "GetMyMessages") {
        const std::string detail = text(req, "DetailLevel");
        auto addMessage = [&](Node messages, const SentMessage &m, bool full) {
            Node n = messages.appendElement("Message");
            n.appendElement("Sender", state.sellerId);
            n.appendElement("RecipientUserID", m.sendToName);
            n.appendElement("SendToName", m.sendToName);
            n.appendElement("Subject", m.subject);
            n.appendElement("MessageID", m.messageId);
            if (full) {
                std::string body = xml::escape(m.body);
                for (std::size_t p = 0; (p = body.find('\n', p)) != std::string::npos; p += 5)
                    body.replace(p, 1, "<br/>");
                n.appendElement("Text", "<!DOCTYPE html><html><head><title>" + xml::escape(m.subject) +
                                            "</title></head><body><table><tr><td><div id=\"TextCTA\">" + body +
                                            "</div></td></tr></table></body></html>");
            }
            n.appendElement("Flagged", "false");
            n.appendElement("Read", "true");
            n.appendElement("ReceiveDate", ebayTime(m.received));
            n.appendElement("ExpirationDate", ebayTime(m.received.addDays(60)));
            n.appendElement("ItemID", m.itemId);
            n.appendElement("ResponseDetails").appendElement("ResponseEnabled", "false");
            n.appendElement("Folder").appendElement("FolderID", "1");
        };
        if (detail == "ReturnHeaders") {
            const std::string folder = text(req, "FolderID");
            const std::string s = text(req, "StartTime"), e = text(req, "EndTime");
            DateTime from = s.empty() ? now.addDays(-30) : parseEbayTime(s);
            DateTime to = e.empty() ? now : parseEbayTime(e);
            if (!from.isValid() || !to.isValid()) return failure(call, now, "Invalid StartTime or EndTime.", "37");
            Node messages;
            if (folder.empty() || folder == "1") {
                auto lo = std::lower_bound(state.sentMessages.begin(), state.sentMessages.end(), from,
                                           [](const SentMessage &m, const DateTime &t) { return m.received < t; });
                for (auto it = lo; it != state.sentMessages.end() && !(to < it->received); ++it) {
                    if (!messages) messages = root.appendElement("Messages");
                    addMessage(messages, *it, false);
                }
            }
        } else if (detail == "ReturnMessages") {
            std::vector<Node> ids = req.selectAll("MessageIDs/MessageID");
            if (ids.empty()) return failure(call, now, "MessageIDs are required with ReturnMessages.", "37");
            if (ids.size() > 10) return failure(call, now, "At most 10 MessageIDs may be requested at once.", "18013");
            Node messages;
            for (Node id : ids) {
                const std::string wanted = id.text();
                for (const SentMessage &m : state.sentMessages) {
                    if (m.messageId != wanted) continue;
                    if (!messages) messages = root.appendElement("Messages");
                    addMessage(messages, m, true);
                }
            }
        } else {
            return failure(call, now, "DetailLevel must be ReturnHeaders or ReturnMessages.", "37");
        }
    } else if (call == "GetFeedback") {
        const std::size_t total = state.feedback.size();
        Page page;
        if (!paginate(req, 25, 200, total, page)) return failure(call, now, "Invalid Pagination.", "340");
        if (page.last > page.first) {
            Node array = root.appendElement("FeedbackDetailArray");
            for (std::size_t i = page.first; i < page.last; ++i) {
                const Feedback &f = state.feedback[i];
                Node n = array.appendElement("FeedbackDetail");
                n.appendElement("CommentingUser", f.commentingUser);
                n.appendElement("CommentingUserScore", std::to_string(f.commentingUserScore));
                n.appendElement("CommentText", f.commentText);
                n.appendElement("CommentTime", ebayTime(f.commentTime));
                n.appendElement("CommentType", f.commentType);
                n.appendElement("ItemID", f.itemId);
                n.appendElement("Role", "Seller");
                n.appendElement("ItemTitle", f.itemTitle);
                addAmount(n, "ItemPrice", f.itemPrice);
                n.appendElement("FeedbackID", f.feedbackId);
                n.appendElement("TransactionID", f.transactionId);
            }
        }
        root.appendElement("FeedbackDetailItemTotal", std::to_string(total));
        // Counts per kind and period, from the same entries.
        const std::array<int, 3> periods = {30, 180, 365};
        std::map<std::string, std::array<int, 3>> counts;
        int score = 0;
        for (const Feedback &f : state.feedback) {
            const double age = f.commentTime.daysTo(now);
            for (int p = 0; p < 3; ++p)
                if (age <= periods[p]) {
                    ++counts[f.commentType][p];
                    ++counts["Total"][p];
                }
            score += f.commentType == "Positive" ? 1 : f.commentType == "Negative" ? -1 : 0;
        }
        Node summary = root.appendElement("FeedbackSummary");
        for (const char *kind : {"BidRetraction", "Negative", "Neutral", "Positive", "Total"}) {
            Node arr = summary.appendElement(std::string(kind) + "FeedbackPeriodArray");
            for (int p = 0; p < 3; ++p) {
                Node fp = arr.appendElement("FeedbackPeriod");
                fp.appendElement("PeriodInDays", std::to_string(periods[p]));
                fp.appendElement("Count", std::to_string(counts[kind][p]));
            }
        }
        Node ratings = summary.appendElement("SellerRatingSummaryArray");
        for (auto [period, count] : {std::pair<const char *, int>{"ThirtyDays", counts["Total"][0]},
                                     std::pair<const char *, int>{"FiftyTwoWeeks", counts["Total"][2]}}) {
            Node ars = ratings.appendElement("AverageRatingSummary");
            ars.appendElement("FeedbackSummaryPeriod", period);
            double r = 4.9;
            for (const char *detail :
                 {"ItemAsDescribed", "Communication", "ShippingTime", "ShippingAndHandlingCharges"}) {
                Node d = ars.appendElement("AverageRatingDetails");
                d.appendElement("RatingDetail", detail);
                d.appendElement("Rating", money(r).substr(0, 3));
                d.appendElement("RatingCount", std::to_string(count));
                r -= 0.1;
            }
        }
        root.appendElement("FeedbackScore", std::to_string(score));
        addPaginationResult(root, page, total);
        root.appendElement("EntriesPerPage", std::to_string(page.entries));
        root.appendElement("PageNumber", std::to_string(page.page));
    } else if (call == "GetSellerDashboard") {
        root.appendElement("SearchStanding").appendElement("Status", "Raised");
        root.appendElement("SellerFeeDiscount").appendElement("Percent", "0.0");
        root.appendElement("PowerSellerStatus").appendElement("Level", "Silver");
        root.appendElement("PolicyCompliance").appendElement("Status", "Good");
        root.appendElement("BuyerSatisfaction").appendElement("Status", "High");
        root.appendElement("SellerAccount").appendElement("Status", "Current");
        Node perf = root.appendElement("Performance");
        perf.appendElement("Site", "US");
        perf.appendElement("Status", "AboveStandard");
    } else if (call == "GetSessionID") {
        if (text(req, "RuName") != ids.get("ebay/RuName"))
            return failure(call, now, "The RuName is invalid.", "21916",
                           "The RuName does not belong to this application.");
        char id[64];
        const int n = ++sessionCounter;
        std::snprintf(id, sizeof id, "TWSESS%04d%08X", n, unsigned(n * 2654435761u));
        state.sessions[id] = {};
        root.appendElement("SessionID", id);
    } else if (call == "FetchToken") {
        const std::string id = text(req, "SessionID");
        auto it = state.sessions.find(id);
        if (it == state.sessions.end()) return failure(call, now, "Invalid session ID.", "21916");
        if (it->second.userId.empty())
            return failure(call, now, "The end user has not completed Auth & Auth sign in flow.", "21916017");
        if (it->second.token.empty()) {
            it->second.token = "AgAAAA**TWTOKEN**" + id + "**" + it->second.userId;
            state.tokens.insert(it->second.token);
        }
        root.appendElement("eBayAuthToken", it->second.token);
        root.appendElement("HardExpirationTime", ebayTime(now.addDays(540)));
    } else if (call == "CompleteSale") {
        Order *o = state.findOrder(text(req, "ItemID"), text(req, "TransactionID"));
        if (!o)
            return failure(call, now, "Invalid item ID or transaction ID.", "10007",
                           "No sale with this ItemID and TransactionID belongs to the seller.");
        const DateTime oldModified = o->modified;
        std::string number = text(req, "Shipment/ShipmentTrackingNumber");
        std::string carrier = text(req, "Shipment/ShippingCarrierUsed");
        if (number.empty()) number = text(req, "Shipment/ShipmentTrackingDetails/ShipmentTrackingNumber");
        if (carrier.empty()) carrier = text(req, "Shipment/ShipmentTrackingDetails/ShippingCarrierUsed");
        if (!number.empty() && carrier.empty())
            return failure(call, now, "ShippingCarrierUsed is required with a tracking number.", "20870");
        bool changed = false;
        if (isTrue(text(req, "Paid")) && !o->isPaid()) {
            o->paid = now;
            changed = true;
        }
        const std::string shipped = text(req, "Shipped");
        if (!shipped.empty()) {
            if (isTrue(shipped)) {
                if (!o->isShipped() || (!number.empty() && number != o->trackingNumber)) o->shipped = now;
                o->shippingServiceUsed = o->shippingService;
            } else {
                o->shipped = {};
            }
            changed = true;
        }
        if (!number.empty()) {
            o->trackingNumber = number;
            o->carrierUsed = carrier;
            if (o->shippingServiceUsed.empty()) o->shippingServiceUsed = o->shippingService;
            if (carrier == "USPS" && !state.tracking.count(number)) {
                Tracking t;
                t.shippedLocal = localNow();
                const Address &a = state.buyers[o->buyer].address;
                t.city = a.city;
                t.state = a.state;
                t.zip = a.postalCode;
                state.tracking[number] = t;
            }
            changed = true;
        }
        if (changed) {
            o->modified = now;
            state.touched(int(o - state.orders.data()), oldModified);
        }
    } else if (call == "GetItem") {
        const Order *o = state.firstOrderOfItem(text(req, "ItemID"));
        if (!o)
            return failure(
                call, now, "Item not found.", "17",
                "This item cannot be accessed because the listing has been deleted or the item ID is wrong.");
        Node item = root.appendElement("Item");
        item.appendElement("AutoPay", "false");
        item.appendElement("Currency", "USD");
        item.appendElement("ItemID", o->itemId);
        Node ld = item.appendElement("ListingDetails");
        ld.appendElement("StartTime", ebayTime(o->created.addDays(-7)));
        ld.appendElement("EndTime", ebayTime(o->created.addDays(23)));
        ld.appendElement("ViewItemURL", base() + "/item/ws/eBayISAPI.dll?ViewItem&item=" + o->itemId);
        item.appendElement("ListingType", o->transactionId == "0" ? "Chinese" : "FixedPriceItem");
        item.appendElement("Quantity", std::to_string(o->quantity + 3));
        item.appendElement("Seller").appendElement("UserID", state.sellerId);
        Node ss = item.appendElement("SellingStatus");
        addAmount(ss, "CurrentPrice", o->price);
        ss.appendElement("QuantitySold", std::to_string(o->quantity));
        ss.appendElement("ListingStatus", "Active");
        item.appendElement("Site", "US");
        item.appendElement("Title", o->title);
        item.appendElement("SKU", o->sku);
    } else if (call == "AddMemberMessageAAQToPartner" || call == "AddMemberMessagesAAQToBidder") {
        struct Out {
            std::string correlation, itemId, recipient, subject, body;
        };
        std::vector<Out> messages;
        if (call == "AddMemberMessageAAQToPartner") {
            messages.push_back({correlation, text(req, "ItemID"), text(req, "MemberMessage/RecipientID"),
                                text(req, "MemberMessage/Subject"), text(req, "MemberMessage/Body")});
        } else {
            for (Node c : req.selectAll("AddMemberMessagesAAQToBidderRequestContainer"))
                messages.push_back({text(c, "CorrelationID"), text(c, "ItemID"), text(c, "MemberMessage/RecipientID"),
                                    "Message from seller " + state.sellerId, text(c, "MemberMessage/Body")});
            if (messages.empty()) return failure(call, now, "No AddMemberMessagesAAQToBidderRequestContainer.", "37");
        }
        auto check = [&](const Out &m) -> std::string {
            if (m.body.empty()) return "The message body is empty.";
            if (m.recipient.empty()) return "RecipientID is required.";
            for (const Order &o : state.orders)
                if (o.itemId == m.itemId && state.buyers[o.buyer].userId == m.recipient) return {};
            return "The recipient has no transaction for this item.";
        };
        if (call == "AddMemberMessageAAQToPartner") {
            if (std::string problem = check(messages[0]); !problem.empty()) return failure(call, now, problem, "20124");
        }
        for (const Out &m : messages) {
            const std::string problem = check(m);
            if (problem.empty()) state.addSentMessage({"", m.itemId, m.recipient, m.subject, m.body, now});
            if (call == "AddMemberMessagesAAQToBidder") {
                Node c = root.appendElement("AddMemberMessagesAAQToBidderResponseContainer");
                c.appendElement("CorrelationID", m.correlation);
                c.appendElement("Ack", problem.empty() ? "Success" : "Failure");
            }
        }
    }
    if (!correlation.empty()) {
        // eBay echoes MessageID as CorrelationID, right after Ack.
        Node c = root.appendElement("CorrelationID", correlation);
        root.insertBefore(c, root.element("Ack").nextElement());
    }
    return resp.reply();
}

} // namespace tw::sandbox
