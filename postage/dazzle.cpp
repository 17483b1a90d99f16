#include "postage/dazzle.h"

#include "platform/clock.h"
#include "store/basFunctions.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <system_error>

namespace tw::postage {
namespace {

std::string upper(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return out;
}

std::filesystem::path absolutePath(const std::filesystem::path &p)
{
    std::error_code ec;
    std::filesystem::path a = std::filesystem::absolute(p, ec);
    return ec ? p : a;
}

} // namespace

DazzleFiles dazzleFiles(const std::filesystem::path &tempDir)
{
    const std::filesystem::path dir = absolutePath(tempDir);
    return {dir / kPackageFileName, dir / kResultsFileName};
}

Command dazzleCommand(const std::filesystem::path &dazzleExe, const std::filesystem::path &packageFile)
{
    return {dazzleExe, {packageFile.string()}};
}

std::string dazzleToCountry(std::string_view formValue)
{
    std::string_view t = formValue;
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front())))
        t.remove_prefix(1);
    while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back())))
        t.remove_suffix(1);
    const std::string u = upper(t);
    if (u == "UNITED STATES" || u == "USA" || u == "US" || u == "U.S.A." || u == "U.S.") return {};
    return std::string(formValue);
}

Checked<xml::Document> buildDazzlePackage(const xml::Document &definitions, const FormValues &form, bool customsVisible,
                                          const xml::Document &settings, const xml::Node &selection,
                                          const std::filesystem::path &tempDir)
{
    using Result = Checked<xml::Document>;
    Checked<std::string> weightOz = dazzleWeightOz(field(form, "WeightLbs"), field(form, "WeightOz"));
    if (!weightOz) return Result::failure(weightOz.error());

    xml::Document doc = xml::Document::parse(definitions.toString());
    if (!doc || !doc.select("DAZzle/Package"))
        return Result::failure("The DAZzle definitions have no package to fill; Tidewell cannot print postage "
                               "until they are restored.");

    xml::Node root = doc.root();
    root.setAttribute("Layout", (dazzleExePath(settings).parent_path() / field(form, "Layout")).string());
    root.setAttribute("OutputFile", dazzleFiles(tempDir).resultsFile.string());
    root.setAttribute("Test", checked(form, "TestMode") ? "YES" : "NO");
    root.setAttribute("AutoClose", checked(form, "AutoClose") ? "YES" : "NO");

    const std::string_view package = "DAZzle/Package";
    auto copy = [&](std::string_view name) { SetChildText(doc, package, name, field(form, name)); };
    auto flag = [&](std::string_view name) {
        SetChildText(doc, package, name, checked(form, name) ? "TRUE" : "FALSE");
    };

    SetChildText(doc, package, "Transactions", "");
    if (selection)
        for (const xml::Node &order : selection.elements()) {
            xml::Node t = AppendChildText(doc, "DAZzle/Package/Transactions", "Transaction", "");
            SetNodeChildText(t, "OrderSource", "EBAY");
            SetNodeChildText(t, "eBayItemID", GetNodeText(order, "Item/ItemID"));
            SetNodeChildText(t, "eBayTransactionID", GetNodeText(order, "TransactionID"));
        }

    for (std::string_view name : {"MailClass", "DateAdvance", "PackageType"})
        copy(name);
    SetChildText(doc, package, "WeightOz", weightOz.value());
    for (std::string_view name : {"Width", "Length", "Depth"})
        copy(name);
    for (std::string_view name : {"BalloonRate", "NonMachinable", "OversizeRate", "Stealth", "SignatureWaiver",
                                  "ExpressMailPremiumService", "NoWeekendDelivery", "NoHolidayDelivery"})
        flag(name);

    xml::Node services = doc.select("DAZzle/Package/Services");
    if (!services) services = doc.select("DAZzle/Package").appendElement("Services");
    for (std::string_view name :
         {"RegisteredMail", "CertifiedMail", "RestrictedDelivery", "CertificateOfMailing", "ReturnReceipt", "COD"})
        services.setAttribute(name, checked(form, name) ? "ON" : "OFF");
    services.setAttribute("InsuredMail", field(form, "InsuredMail"));
    const std::string confirmation = field(form, "Confirmation");
    services.setAttribute("DeliveryConfirmation", confirmation == "DeliveryConfirmation" ? "ON" : "OFF");
    services.setAttribute("SignatureConfirmation", confirmation == "SignatureConfirmation" ? "ON" : "OFF");

    for (std::string_view name :
         {"CostCenter", "Value", "Description", "ToName", "ToTitle", "ToCompany", "ToAddress1", "ToAddress2",
          "ToAddress3", "ToAddress4", "ToAddress5", "ToAddress6", "ToCity", "ToState", "ToPostalCode"})
        copy(name);
    SetChildText(doc, package, "ToCountry", dazzleToCountry(field(form, "ToCountry")));
    for (std::string_view name :
         {"ToEMail", "ToPhone", "RubberStamp1", "RubberStamp2", "RubberStamp3", "ReturnAddress1", "ReturnAddress2",
          "ReturnAddress3", "ReturnAddress4", "ReturnAddress5", "ReturnAddress6", "ReferenceID"})
        copy(name);

    if (customsVisible) {
        xml::Node pkg = doc.select(package);
        for (std::string_view name :
             {"BalloonRate", "SignatureWaiver", "ExpressMailPremiumService", "NoWeekendDelivery", "NoHolidayDelivery"})
            if (xml::Node option = pkg.element(name)) option.remove();
        for (std::string_view name : {"CustomsFormType", "ContentsType", "CustomsSigner"})
            copy(name);
        flag("CustomsCertify");
        for (int n = 1; n <= 5; ++n)
            for (std::string_view base : {"CustomsWeight", "CustomsQuantity", "CustomsDescription", "CustomsValue"}) {
                const std::string name = std::string(base) + std::to_string(n);
                if (!field(form, name).empty()) copy(name);
            }
    }
    return doc;
}

Checked<DazzlePrint> writeDazzlePackage(const xml::Document &definitions, const FormValues &form, bool customsVisible,
                                        const xml::Document &settings, const xml::Node &selection,
                                        const std::filesystem::path &tempDir)
{
    using Result = Checked<DazzlePrint>;
    if (!dazzleExeExists(settings)) return Result::failure(std::string(kDazzleNotFound));
    // Built before anything is deleted, so a refused form leaves no trace.
    Checked<xml::Document> doc = buildDazzlePackage(definitions, form, customsVisible, settings, selection, tempDir);
    if (!doc) return Result::failure(doc.error());

    DazzlePrint print{dazzleFiles(tempDir), {}};
    std::error_code ec;
    // An earlier answer must not be taken for this one, nor lost.
    keepUnreadAnswer(print.files.resultsFile);
    std::filesystem::remove(print.files.packageFile, ec);
    std::string error;
    if (!doc->save(print.files.packageFile, &error))
        return Result::failure("The package file for DAZzle could not be written (" + error + ").");
    print.command = dazzleCommand(dazzleExePath(settings), print.files.packageFile);
    return print;
}

void keepUnreadAnswer(const std::filesystem::path &file)
{
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return;
    const DateTime now = clock().localNow();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.year(), now.month(), now.day(), now.hour(),
                  now.minute(), now.second());
    const std::filesystem::path base = file.parent_path() / (file.stem().string() + ".unread-" + stamp);
    std::filesystem::path aside = base;
    aside += file.extension();
    for (int n = 2; std::filesystem::exists(aside, ec); ++n) {
        aside = base;
        aside += "-" + std::to_string(n) + file.extension().string();
    }
    std::filesystem::rename(file, aside, ec);
}

// --- results -------------------------------------------------------------------------

std::string DazzlePackage::trackingNumber() const
{
    // An empty PIC element is no better than none: the customs number is
    // what tracks an international package.
    if (pic && !pic->empty()) return *pic;
    return customsNumber.value_or(std::string());
}

DazzleResults readDazzleResults(const std::filesystem::path &resultsFile)
{
    DazzleResults results;
    std::error_code ec;
    if (!std::filesystem::exists(resultsFile, ec)) return results;
    std::string error;
    xml::Document doc = xml::Document::load(resultsFile, &error);
    if (!doc || !doc.root()) {
        results.state = DazzleResults::State::Unreadable;
        results.error = error.empty() ? "no root element" : error;
        return results;
    }
    results.document = std::move(doc);
    for (const xml::Node &element : results.document.root().elements()) {
        if (element.name() != "Package") continue;
        DazzlePackage p;
        p.element = element;
        p.status = GetNodeText(element, "Status");
        if (xml::Node pic = element.element("PIC")) p.pic = pic.text();
        if (xml::Node customs = element.element("CustomsNumber")) p.customsNumber = customs.text();
        p.finalPostage = GetNodeText(element, "FinalPostage", "0.00");
        for (const xml::Node &t : element.selectAll("Transactions/Transaction"))
            p.orders.push_back({GetNodeText(t, "eBayItemID"), GetNodeText(t, "eBayTransactionID")});
        results.packages.push_back(std::move(p));
    }
    results.state = results.packages.empty() ? DazzleResults::State::NoPackages : DazzleResults::State::Read;
    return results;
}

std::optional<std::string> dazzleStatusCode(std::string_view status)
{
    size_t open = status.find('(');
    if (open == std::string_view::npos || status.find(')') == std::string_view::npos) return std::nullopt;
    std::string_view rest = status.substr(open + 1);
    rest = rest.substr(0, rest.find('('));
    std::string code;
    for (char c : rest)
        if (c != ')') code += c;
    return code;
}

std::string dazzleStatusMessage(std::string_view status)
{
    static const std::pair<std::string_view, std::string_view> table[] = {
        {"0", "Test Complete."},
        {"-3", "Address Verification failed"},
        {"-4", "Unsupported mail class for internation mail or invalid weight/rate values"},
        {"-5", "Experss Mail International Error - either no to phone or to email address"},
        {"-6", "USPS Delivery Confirmation error - denied, service unavailable or communication error"},
        {"-7", "USPS Express Mail error - denied, service unavailable or communication error"},
        {"-8", "USPS Customs Forms error - denied, service unavailable or communication error"},
        {"-9", "International Mail Shipping Label (large or small) processing error"},
        {"-10", "CONFIRM service error - denied, service unavailable or communication error"},
    };
    if (std::optional<std::string> code = dazzleStatusCode(status))
        for (const auto &[c, message] : table)
            if (c == *code) return std::string(message);
    return "Unexpected Dazzle Status: " + std::string(status);
}

std::string unreadableResultsMessage(const DazzleResults &results)
{
    return "DAZzle's results could not be read (" + results.error +
           "). The label may have been printed: check DAZzle before you print again.";
}

std::string noPackagesMessage()
{
    return "DAZzle finished without reporting a label. Check DAZzle, then print again or cancel.";
}

} // namespace tw::postage
