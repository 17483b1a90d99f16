#pragma once
// The rules of the two postage forms (DAZzle and WorldShip) that need no
// page: what the form shows for a selection of orders, the mail classes of
// eBay's shipping services, which destinations need customs, the customs
// form, the layout setting of a mail class, the layout files, the weights.
// The page side reads and writes the elements; everything it decides comes
// from here.

#include "platform/xml.h"
#include "postage/checked.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tw::postage {

// The form as the seller sent it: element name -> value; check boxes as
// "True" or "False". A name that is not in the map reads as "".
using FormValues = std::map<std::string, std::string, std::less<>>;
std::string field(const FormValues &form, std::string_view name);
// True for a check box value of "True" (any case).
bool checked(const FormValues &form, std::string_view name);

inline constexpr std::string_view kDazzleNotFound =
    "Dazzle.exe could not be found.  Please update path in Tools Options.";
inline constexpr std::string_view kTagFirst = "Please tag an item first.";
inline constexpr std::string_view kDifferentBuyers = "Cannot combine orders from different buyers.";

// --- mail class and package type ---------------------------------------------

// What an eBay shipping service (ShippingServiceSelected/ShippingService,
// compared exactly) sets on the form. An empty member means: leave the
// page's choice alone.
struct ServiceMapping {
    std::string mailClass;
    std::string packageType; // only the flat-rate services set it
};
ServiceMapping mapShippingService(std::string_view ebayService);

// The settings key of the DAZzle layout for a mail class
// ("DazzleLayout_FIRST"; International Priority in the flat-rate envelope
// has its own key).
std::string layoutSettingKey(std::string_view mailClass, std::string_view packageType);

// How a mail class sets the option check boxes, the customs form and Stealth.
struct MailClassRules {
    // true: enabled, false: disabled.
    bool balloonRate = true;
    bool signatureWaiver = true;
    bool expressMailPremiumService = false;
    bool noWeekendDelivery = true;
    bool noHolidayDelivery = true;
    std::string customsFormType; // "CN22" or "CP72"
    bool checkStealth = false;   // international classes tick Stealth; otherwise it stays
};
// nullopt for a mail class without rules: the form stays as it is.
// `declaredValue` is the form's Value text (it decides CN22 or CP72 for
// International First Class).
std::optional<MailClassRules> mailClassRules(std::string_view mailClass, std::string_view declaredValue);
// "CP72" for a declared value of 400 or more, otherwise (also for empty or
// non-numeric text) "CN22".
std::string customsFormTypeForValue(std::string_view declaredValue);

// --- destination ----------------------------------------------------------------

// "United States", "USA", "US" in any case with blanks around, or empty.
bool isUnitedStates(std::string_view toCountry);
// True when the customs section must show: outside the United States, or a
// territory or military post code ("PR", "ae", "Guam", ...) within it.
bool customsNeeded(std::string_view toCountry, std::string_view toState);

// --- DAZzle program and layouts ------------------------------------------------

// The DAZzle executable named by the setting DazzleExePath.
std::filesystem::path dazzleExePath(const xml::Document &settings);
bool dazzleExeExists(const xml::Document &settings);

// --- weights ------------------------------------------------------------------------

// The package weight for DAZzle in ounces, pounds x 16 + ounces, as decimal
// text ("2", "4" -> "36"); a blank field counts as 0. A field that is
// neither blank nor a number gives the sentence to show instead.
Checked<std::string> dazzleWeightOz(std::string_view pounds, std::string_view ounces);
// The package weight for WorldShip in pounds, pounds + ounces / 16, as
// decimal text ("2", "8" -> "2.5"); the same checks.
Checked<std::string> upsWeightPounds(std::string_view pounds, std::string_view ounces);

// --- filling the form from the order selection ------------------------------------

enum class FormKind { Dazzle, WorldShip };

struct FormSources {
    // The order selection: an element holding the chosen Transaction
    // records; the first one gives the single values.
    xml::Node selection;
    const xml::Document *settings = nullptr;
    // WorldShip: the lookup tables, for the UPS country code.
    const xml::Document *lookup = nullptr;
    // eBay's contact page (configuration ebay/ContactUrl).
    std::string contactUrl;
    // The e-mail address shown in private mode (privacy/PlaceholderEmail).
    std::string placeholderEmail;
};
// The sources with the two addresses taken from the configuration in force.
FormSources formSources(xml::Node selection, const xml::Document &settings, const xml::Document *lookup = nullptr);

// What the page shows for a selection. Text for Value properties is plain
// text; the two HTML members are ready markup with every order value escaped.
struct FormFill {
    std::string linksHtml;            // links_td (DAZzle only; empty for WorldShip)
    std::string customerShippingPaid; // innerText of CustomerShippingPaid
    // Value of each named element, in the order the page writes them.
    // MailClass and PackageType appear only on the DAZzle form and only when
    // the service sets them; customs lines only for the first five orders.
    std::vector<std::pair<std::string, std::string>> values;
    // Checked of TestMode, AutoClose, CustomsCertify and Stealth.
    std::vector<std::pair<std::string, bool>> checks;
    // Tick NonMachinable when true; otherwise leave it as the page has it.
    bool nonMachinable = false;
    std::string selectedItemsHtml; // selecteditems_td
    // How many orders the selection held.
    int orders = 0;

    // The value written to `name`, or "" when it is not written.
    std::string value(std::string_view name) const;
    bool has(std::string_view name) const;
};
// Empty (orders == 0) when the selection holds no order.
FormFill fillPostageForm(FormKind kind, const FormSources &sources);

} // namespace tw::postage
