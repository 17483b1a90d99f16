#include "postage/form.h"

#include "platform/config.h"
#include "postage/numbers.h"
#include "store/basFunctions.h"
#include "store/lookup.h"
#include "store/settings.h"
#include "ui/rows.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <system_error>

namespace tw::postage {
namespace {

std::string trimmed(std::string_view s)
{
    const char *blanks = " \t\r\n";
    size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(blanks);
    return std::string(s.substr(b, e - b + 1));
}

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

std::string upper(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return out;
}

struct ServiceRow {
    std::string_view service;
    std::string_view mailClass;
    std::string_view packageType;
};

// eBay's service names, spelled as eBay sends them ("USPSFirstClassLargeEnvelop").
constexpr ServiceRow kServices[] = {
    {"Delivery", "FIRST", ""},
    {"Other", "FIRST", ""},
    {"PromotionalShippingMethod", "FIRST", ""},
    {"USPSEconomyLetter", "FIRST", ""},
    {"USPSFirstClass", "FIRST", ""},
    {"USPSFirstClassLetter", "FIRST", ""},
    {"USPSFirstClassLargeEnvelop", "FIRST", ""},
    {"USPSFirstClassParcel", "FIRST", ""},
    {"ShippingMethodStandard", "PRIORITY", ""},
    {"USPSPriority", "PRIORITY", ""},
    {"USPSPriorityFlatRateEnvelope", "PRIORITY", "FLATRATEENVELOPE"},
    {"USPSPriorityFlatRateBox", "PRIORITY", "FLATRATEBOX"},
    {"USPSPriorityMailLargeFlatRateBox", "PRIORITY", "FLATRATELARGEBOX"},
    {"USPSMedia", "MEDIAMAIL", ""},
    {"USPSParcel", "PARCELPOST", ""},
    {"USPSGround", "PARCELPOST", ""},
    {"USPSEconomyParcel", "PARCELPOST", ""},
    {"ShippingMethodOvernight", "EXPRESS", ""},
    {"ShippingMethodExpress", "EXPRESS", ""},
    {"USPSExpressMail", "EXPRESS", ""},
    {"USPSExpressFlatRateEnvelope", "EXPRESS", ""},
    {"OtherInternational", "INTLFIRST", ""},
    {"StandardInternational", "INTLFIRST", ""},
    {"USPSAirmailLetter", "INTLFIRST", ""},
    {"USPSAirmailParcel", "INTLFIRST", ""},
    {"USPSFirstClassMailInternational", "INTLFIRST", ""},
    {"USPSFirstClassMailInternationalLetter", "INTLFIRST", ""},
    {"USPSFirstClassMailInternationalLargeEnvelope", "INTLFIRST", ""},
    {"USPSFirstClassMailInternationalParcel", "INTLFIRST", ""},
    {"ExpeditedInternational", "INTLPRIORITY", ""},
    {"USPSPriorityMailInternational", "INTLPRIORITY", ""},
    {"USPSGlobalPriority", "INTLPRIORITY", ""},
    {"USPSGlobalPrioritySmallEnvelope", "INTLPRIORITY", ""},
    {"USPSGlobalPriorityLargeEnvelope", "INTLPRIORITY", ""},
    {"USPSPriorityMailInternationalFlatRateEnvelope", "INTLPRIORITY", "FLATRATEENVELOPE"},
    {"USPSPriorityMailInternationalFlatRateBox", "INTLPRIORITY", "FLATRATEBOX"},
    {"USPSPriorityMailInternationalLargeFlatRateBox", "INTLPRIORITY", "FLATRATELARGEBOX"},
    {"USPSExpressMailInternational", "INTLEXPRESS", ""},
    {"USPSGlobalExpress", "INTLEXPRESS", ""},
    {"USPSExpressMailInternationalFlatRateEnvelope", "INTLEXPRESS", "FLATRATEENVELOPE"},
    {"USPSGlobalExpressGuaranteed", "INTLGXG", ""},
    {"LocalDelivery", "NONE", ""},
    {"Pickup", "NONE", ""},
};

bool contains(std::initializer_list<std::string_view> list, std::string_view value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

Checked<double> weightField(std::string_view text, std::string_view unit)
{
    if (trimmed(text).empty()) return 0.0;
    if (std::optional<double> v = parseDecimal(text)) return *v;
    return Checked<double>::failure("The weight in " + std::string(unit) + " (\"" + std::string(text) +
                                    "\") is not a number. Type digits only, with a point for a fraction, for "
                                    "example 2 or 2.5, or leave the field empty.");
}

} // namespace

std::string field(const FormValues &form, std::string_view name)
{
    auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
}

bool checked(const FormValues &form, std::string_view name)
{
    return lower(field(form, name)) == "true";
}

ServiceMapping mapShippingService(std::string_view ebayService)
{
    for (const ServiceRow &row : kServices)
        if (row.service == ebayService) return {std::string(row.mailClass), std::string(row.packageType)};
    return {};
}

std::string layoutSettingKey(std::string_view mailClass, std::string_view packageType)
{
    if (mailClass == "INTLPRIORITY" && packageType == "FLATRATEENVELOPE")
        return "DazzleLayout_INTLPRIORITY_FLATRATEENVELOPE";
    return "DazzleLayout_" + std::string(mailClass);
}

std::string customsFormTypeForValue(std::string_view declaredValue)
{
    std::optional<Amount> value = Amount::parse(declaredValue);
    return value && *value >= Amount::fromUnits(400'0000) ? "CP72" : "CN22";
}

std::optional<MailClassRules> mailClassRules(std::string_view mailClass, std::string_view declaredValue)
{
    MailClassRules r;
    if (contains({"NONE", "FIRST", "PRIORITY", "PARCELPOST", "MEDIAMAIL", "LIBRARYMAIL", "BOUNDPRINTEDMATTER",
                  "PRESORTEDFIRST", "PRESORTEDSTANDARD"},
                 mailClass)) {
        r.customsFormType = "CP72";
        return r;
    }
    if (mailClass == "EXPRESS") {
        r.expressMailPremiumService = true;
        r.customsFormType = "CP72";
        return r;
    }
    bool international = contains({"INTLEXPRESS", "INTLPRIORITY", "INTLGXG", "INTLGXGNODOC"}, mailClass);
    if (!international && mailClass != "INTLFIRST") return std::nullopt;
    r.balloonRate = r.signatureWaiver = r.expressMailPremiumService = r.noWeekendDelivery = r.noHolidayDelivery = false;
    r.checkStealth = true;
    r.customsFormType = international ? "CP72" : customsFormTypeForValue(declaredValue);
    return r;
}

bool isUnitedStates(std::string_view toCountry)
{
    std::string c = lower(trimmed(toCountry));
    return c.empty() || c == "united states" || c == "usa" || c == "us";
}

bool customsNeeded(std::string_view toCountry, std::string_view toState)
{
    if (!isUnitedStates(toCountry)) return true;
    // Territories and military post codes still need customs.
    return contains({"PR", "GU", "VI", "AS", "MP", "CZ", "AE", "AP", "AA", "PUERTO RICO", "GUAM", "U.S. VIRGIN ISLANDS",
                     "US VIRGIN ISLANDS", "VIRGIN ISLANDS", "AMERICAN SAMOA", "MARIANA ISLANDS", "PANAMA CANAL ZONE"},
                    upper(trimmed(toState)));
}

std::filesystem::path dazzleExePath(const xml::Document &settings)
{
    return std::filesystem::path(settings::read(settings, "DazzleExePath"));
}

bool dazzleExeExists(const xml::Document &settings)
{
    std::filesystem::path exe = dazzleExePath(settings);
    std::error_code ec;
    return !exe.empty() && std::filesystem::is_regular_file(exe, ec);
}

Checked<std::string> dazzleWeightOz(std::string_view pounds, std::string_view ounces)
{
    Checked<double> lb = weightField(pounds, "pounds");
    if (!lb) return Checked<std::string>::failure(lb.error());
    Checked<double> oz = weightField(ounces, "ounces");
    if (!oz) return Checked<std::string>::failure(oz.error());
    return formatNumber(lb.value() * 16 + oz.value());
}

Checked<std::string> upsWeightPounds(std::string_view pounds, std::string_view ounces)
{
    Checked<double> lb = weightField(pounds, "pounds");
    if (!lb) return Checked<std::string>::failure(lb.error());
    Checked<double> oz = weightField(ounces, "ounces");
    if (!oz) return Checked<std::string>::failure(oz.error());
    return formatNumber(lb.value() + oz.value() / 16);
}

// --- filling -------------------------------------------------------------------

FormSources formSources(xml::Node selection, const xml::Document &settings, const xml::Document *lookup)
{
    FormSources s;
    s.selection = selection;
    s.settings = &settings;
    s.lookup = lookup;
    s.contactUrl = config().get("ebay/ContactUrl");
    s.placeholderEmail = config().get("privacy/PlaceholderEmail");
    return s;
}

std::string FormFill::value(std::string_view name) const
{
    for (const auto &[n, v] : values)
        if (n == name) return v;
    return {};
}

bool FormFill::has(std::string_view name) const
{
    for (const auto &[n, v] : values)
        if (n == name) return true;
    return false;
}

namespace {

std::string productName(const xml::Node &order)
{
    std::string name = GetNodeText(order, "SellingManagerProductDetails/ProductName");
    return name.empty() ? GetNodeText(order, "Item/Title") : name;
}

// A field that collects one value per order: the first replaces it, the
// next ones follow ", ".
void collect(std::string &field, const std::string &value)
{
    if (field.empty())
        field = value;
    else
        field += ", " + value;
}

} // namespace

FormFill fillPostageForm(FormKind kind, const FormSources &sources)
{
    FormFill fill;
    if (!sources.selection || !sources.settings) return fill;
    std::vector<xml::Node> orders = sources.selection.elements();
    if (orders.empty()) return fill;
    const xml::Document &settings = *sources.settings;
    const xml::Node first = orders.front();
    const bool dazzle = kind == FormKind::Dazzle;
    auto put = [&fill](std::string name, std::string value) {
        fill.values.emplace_back(std::move(name), std::move(value));
    };
    auto get = [&first](std::string_view path) { return GetNodeText(first, path); };

    if (dazzle && !sources.contactUrl.empty()) {
        // The rows' link form, so the contact page knows the order; the
        // template is the one for shipped orders.
        const std::string item = ui::queryEncode(get("Item/ItemID"));
        const std::string href = sources.contactUrl + (sources.contactUrl.find('?') == std::string::npos ? "?" : "&") +
                                 "ReturnUserEmail&requested=" + ui::queryEncode(get("Buyer/UserID")) +
                                 "&redirect=0&iid=" + item + "&TransactionID=" + ui::queryEncode(get("TransactionID")) +
                                 "&ItemID=" + item + "&MessageID=Shipped";
        fill.linksHtml = "<a href=\"" + xml::escape(href) + "\">Contact Buyer</a>";
    }

    const bool paypal = !GetNodeText(first, "PaypalTransaction/SHIPTOSTREET").empty();
    auto address = [&](std::string_view ebay, std::string_view pp) {
        return paypal ? GetNodeText(first, "PaypalTransaction/" + std::string(pp))
                      : GetNodeText(first, "Buyer/BuyerInfo/ShippingAddress/" + std::string(ebay));
    };
    const bool isPrivate = settings::readFlag(settings, "PrivateMode");
    const std::string hidden = "private";

    put("ToName", address("Name", "SHIPTONAME"));
    if (dazzle) put("ToTitle", "");
    put("ToCompany", "");
    put("ToAddress1", isPrivate ? hidden : address("Street1", "SHIPTOSTREET"));
    put("ToAddress2", isPrivate ? hidden : address("Street2", "SHIPTOSTREET2"));
    put("ToAddress3", "");
    if (dazzle)
        for (int n = 4; n <= 6; ++n)
            put("ToAddress" + std::to_string(n), "");
    put("ToCity", address("CityName", "SHIPTOCITY"));
    put("ToState", address("StateOrProvince", "SHIPTOSTATE"));
    put("ToPostalCode", isPrivate ? hidden : address("PostalCode", "SHIPTOZIP"));
    std::string country = address("CountryName", "SHIPTOCOUNTRYNAME");
    if (!dazzle && sources.lookup) country = lookupCountryCode(*sources.lookup, country, country);
    put("ToCountry", country);

    fill.customerShippingPaid = get("ShippingServiceSelected/ShippingServiceCost");
    put("ToEMail", isPrivate ? sources.placeholderEmail : get("Buyer/Email"));
    put("ToPhone", isPrivate ? hidden : get("Buyer/BuyerInfo/ShippingAddress/Phone"));
    if (dazzle) {
        put("ReferenceID", get("ShippingDetails/SellingManagerSalesRecordNumber"));
        for (int n = 1; n <= 6; ++n) {
            std::string key = "ReturnAddress" + std::to_string(n);
            put(key, settings::read(settings, key));
        }
    }
    put("CustomsSigner", settings::read(settings, "CustomsSigner"));

    fill.checks = {
        {"TestMode", settings::readFlag(settings, "PrintPostageTestMode")},
        {"AutoClose", settings::readFlag(settings, "DazzleAutoClose")},
        {"CustomsCertify", settings::readFlag(settings, "DazzleCustomsCertify")},
        {"Stealth", settings::readFlag(settings, "Stealth")},
    };
    put("InsuredMail", settings::read(settings, "InsuredMail"));

    // The mapping gives USPS classes; the WorldShip page offers UPS services
    // and packagings, so its choices stay as the page has them.
    if (dazzle) {
        ServiceMapping mapping = mapShippingService(get("ShippingServiceSelected/ShippingService"));
        if (!mapping.mailClass.empty()) put("MailClass", mapping.mailClass);
        if (!mapping.packageType.empty()) put("PackageType", mapping.packageType);
    }

    put("Width", get("ShippingDetails/CalculatedShippingRate/PackageWidth"));
    put("Length", get("ShippingDetails/CalculatedShippingRate/PackageLength"));
    put("Depth", get("ShippingDetails/CalculatedShippingRate/PackageDepth"));
    fill.nonMachinable = get("ShippingDetails/CalculatedShippingRate/ShippingIrregular") == "True";
    put("Confirmation", "DeliveryConfirmation");
    put("Description", productName(first));

    fill.selectedItemsHtml = "<b>Items being shipped in this postage:</b><br>";
    Amount declared;
    double pounds = 0, ounces = 0;
    std::string collected[4];
    int n = 0;
    for (const xml::Node &order : orders) {
        ++n;
        const std::string quantity = GetNodeText(order, "QuantityPurchased");
        const std::string price = GetNodeText(order, "TransactionPrice");
        const std::string major = GetNodeText(order, "ShippingDetails/CalculatedShippingRate/WeightMajor", "0");
        const std::string minor = GetNodeText(order, "ShippingDetails/CalculatedShippingRate/WeightMinor", "0");
        const std::string sku = GetNodeText(order, "Item/SKU");
        const std::string product = productName(order);

        const Amount lineValue = Amount::parseOrZero(price) * Amount::parseOrZero(quantity);
        declared = declared + lineValue;
        pounds = roundHalfEven(pounds + decimalOrZero(major));
        ounces = roundHalfEven(ounces + decimalOrZero(minor));
        if (n <= 5) {
            const std::string line = std::to_string(n);
            put("CustomsQuantity" + line, quantity);
            put("CustomsWeight" + line, formatNumber(decimalOrZero(major) * 16 + decimalOrZero(minor)));
            put("CustomsDescription" + line, product);
            // The line declares what the buyer paid for all its units, so
            // the lines add up to the package's declared value.
            put("CustomsValue" + line, price.empty() ? std::string() : lineValue.toText());
        }
        fill.selectedItemsHtml += "Qty:  " + xml::escape(quantity) + ", " + " [" + xml::escape(sku) + "] " +
                                  "<span title=\"" + xml::escape(GetNodeText(order, "TransactionID")) + "\">" +
                                  xml::escape(GetNodeText(order, "Item/ItemID")) + "</span> " +
                                  xml::escape(GetNodeText(order, "Item/Title")) + " " + "<BR>";
        collect(collected[0], sku);
        collect(collected[1], quantity);
        collect(collected[2], product);
        if (!dazzle) collect(collected[3], GetNodeText(order, "ShippingDetails/SellingManagerSalesRecordNumber"));
    }
    if (dazzle) {
        for (int i = 0; i < 3; ++i)
            put("RubberStamp" + std::to_string(i + 1), collected[i]);
    } else {
        for (int i = 0; i < 4; ++i)
            put("Reference" + std::to_string(i + 1), collected[i]);
    }

    put("Value", declared.toText());
    const double weight = pounds + ounces / 16;
    const double whole = std::floor(weight);
    put("WeightLbs", formatNumber(whole));
    put("WeightOz", formatNumber((weight - whole) * 16));
    fill.orders = n;
    return fill;
}

} // namespace tw::postage
