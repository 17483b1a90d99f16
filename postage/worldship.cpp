#include "postage/worldship.h"

#include "postage/dazzle.h"
#include "store/basFunctions.h"
#include "store/settings.h"

#include <cctype>
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

std::string emptyElements(std::initializer_list<std::string_view> names)
{
    std::string text;
    for (std::string_view n : names)
        text += "  <" + std::string(n) + "></" + std::string(n) + ">";
    return text;
}

} // namespace

WorldShipFiles worldShipFiles(const std::filesystem::path &importFolder)
{
    WorldShipFiles files;
    files.importFile = importFolder / kImportFileName;
    files.outputFile = importFolder / kOutputFileName;
    files.deletedFirst = {importFolder / kImportedFileName, files.importFile, files.outputFile};
    return files;
}

std::filesystem::path worldShipImportFolder(const xml::Document &settings)
{
    return std::filesystem::path(settings::read(settings, "UPSWorldShipAutoXMLImportFolder"));
}

std::string openShipmentsText(const std::filesystem::path &importFolder)
{
    const std::string schema = "x-schema: " + (importFolder / "OpenShipments.xdr").string();
    return "<OpenShipments xmlns=\"" + xml::escape(schema) + "\">" +
           "<OpenShipment ProcessStatus=\"\" ShipmentOption=\"SC\">" + " <ShipTo>" +
           emptyElements({"CompanyOrName", "Attention", "Address1", "Address2", "Address3", "CountryTerritory",
                          "PostalCode", "CityOrTown", "StateProvinceCounty", "Telephone", "EmailAddress",
                          "ResidentialIndicator"}) +
           " </ShipTo>" + " <ShipmentInformation>" +
           emptyElements({"VoidIndicator", "ServiceType", "NumberOfPackages", "DescriptionOfGoods", "ShipperNumber",
                          "BillingOption"}) +
           " </ShipmentInformation>" + " <Package>" +
           emptyElements({"PackageType", "Weight", "Reference1", "Reference2", "Reference3", "Reference4"}) +
           " </Package>" + "</OpenShipment>" + "</OpenShipments>";
}

Checked<xml::Document> buildOpenShipments(const FormValues &form, const xml::Document &settings,
                                          const std::filesystem::path &importFolder)
{
    using Result = Checked<xml::Document>;
    Checked<std::string> weight = upsWeightPounds(field(form, "WeightLbs"), field(form, "WeightOz"));
    if (!weight) return Result::failure(weight.error());
    xml::Document doc = xml::Document::parse(openShipmentsText(importFolder));
    if (!doc) return Result::failure("The WorldShip import file could not be made for this folder.");

    const std::string_view shipTo = "OpenShipments/OpenShipment/ShipTo";
    const std::string_view info = "OpenShipments/OpenShipment/ShipmentInformation";
    const std::string_view package = "OpenShipments/OpenShipment/Package";
    const bool company = !trimmed(field(form, "ToCompany")).empty();
    SetChildText(doc, shipTo, "CompanyOrName", field(form, company ? "ToCompany" : "ToName"));
    if (company) SetChildText(doc, shipTo, "Attention", field(form, "ToName"));
    SetChildText(doc, shipTo, "Address1", field(form, "ToAddress1"));
    SetChildText(doc, shipTo, "Address2", field(form, "ToAddress2"));
    SetChildText(doc, shipTo, "Address3", field(form, "ToAddress3"));
    SetChildText(doc, shipTo, "CountryTerritory", field(form, "ToCountry"));
    SetChildText(doc, shipTo, "PostalCode", field(form, "ToPostalCode"));
    SetChildText(doc, shipTo, "CityOrTown", field(form, "ToCity"));
    SetChildText(doc, shipTo, "StateProvinceCounty", field(form, "ToState"));
    SetChildText(doc, shipTo, "Telephone", field(form, "ToPhone"));
    SetChildText(doc, shipTo, "EmailAddress", field(form, "ToEMail"));
    SetChildText(doc, shipTo, "ResidentialIndicator", "1");
    SetChildText(doc, info, "ServiceType", field(form, "MailClass"));
    SetChildText(doc, info, "NumberOfPackages", "1");
    SetChildText(doc, info, "DescriptionOfGoods", field(form, "Description"));
    SetChildText(doc, info, "BillingOption", "PP");
    SetChildText(doc, info, "ShipperNumber", settings::read(settings, "UPSAccount"));
    SetChildText(doc, package, "PackageType", field(form, "PackageType"));
    SetChildText(doc, package, "Weight", weight.value());
    for (std::string_view name : {"Reference1", "Reference2", "Reference3", "Reference4"})
        SetChildText(doc, package, name, field(form, name));
    return doc;
}

Checked<WorldShipFiles> writeWorldShipImport(const FormValues &form, const xml::Document &settings)
{
    using Result = Checked<WorldShipFiles>;
    const std::filesystem::path folder = worldShipImportFolder(settings);
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(folder, ec))
        return Result::failure(std::string(kImportFolderMissing));
    Checked<xml::Document> doc = buildOpenShipments(form, settings, folder);
    if (!doc) return Result::failure(doc.error());

    WorldShipFiles files = worldShipFiles(folder);
    // An answer left there is kept, not deleted; the rest is our own or done with.
    keepUnreadAnswer(files.outputFile);
    for (const std::filesystem::path &old : files.deletedFirst)
        std::filesystem::remove(old, ec);
    std::string error;
    if (!doc->save(files.importFile, &error))
        return Result::failure("The shipment could not be written to the WorldShip import folder (" + error + ").");
    return files;
}

WorldShipOutput readWorldShipOutput(const std::filesystem::path &outputFile)
{
    WorldShipOutput output;
    std::error_code ec;
    if (!std::filesystem::exists(outputFile, ec)) return output;
    std::string error;
    xml::Document doc = xml::Document::load(outputFile, &error);
    if (!doc || !doc.root()) {
        output.state = WorldShipOutput::State::Unreadable;
        output.error = error.empty() ? "no root element" : error;
        return output;
    }
    output.document = std::move(doc);
    output.openShipment = output.document.root().element("OpenShipment");
    if (!output.openShipment) {
        output.state = WorldShipOutput::State::NoShipment;
        return output;
    }
    output.processStatus = trimmed(output.openShipment.attribute("ProcessStatus"));
    output.trackingNumber = trimmed(GetNodeText(output.openShipment, "ProcessMessage/TrackingNumbers/TrackingNumber"));
    for (const xml::Node &error : output.openShipment.selectAll("ProcessMessage/Error")) {
        std::string text = trimmed(GetNodeText(error, "ErrorDescription"));
        if (text.empty()) text = trimmed(error.text());
        if (text.empty()) continue;
        output.errorText += (output.errorText.empty() ? "" : "; ") + text;
    }
    output.state = WorldShipOutput::State::Read;
    return output;
}

bool WorldShipOutput::processed() const
{
    std::string status;
    for (char c : processStatus)
        status += char(std::tolower(static_cast<unsigned char>(c)));
    return status == "processed" || status == "success";
}

std::string notShippedMessage(const WorldShipOutput &output)
{
    std::string why;
    if (!output.errorText.empty())
        why = "WorldShip reported: " + output.errorText;
    else if (!output.processed())
        why = "WorldShip reported the status \"" + output.processStatus + "\"";
    else
        why = "WorldShip gave no tracking number";
    return why + ". Nothing was marked shipped or sent to eBay: check the shipment in WorldShip.";
}

std::string unreadableOutputMessage(const WorldShipOutput &output)
{
    return "WorldShip's answer could not be read (" + output.error +
           "). The shipment may have been processed: check WorldShip before you send it again.";
}

std::string noShipmentMessage()
{
    return "WorldShip answered without a shipment. Check WorldShip, then send the shipment again.";
}

} // namespace tw::postage
