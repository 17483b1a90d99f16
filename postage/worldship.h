#pragma once
// UPS WorldShip through its automatic-import folder: the OpenShipments file
// written from the form (KORVA.xml) and the output file WorldShip writes
// back (KORVA.Out).

#include "platform/xml.h"
#include "postage/checked.h"
#include "postage/form.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tw::postage {

inline constexpr std::string_view kImportFileName = "KORVA.xml";
inline constexpr std::string_view kOutputFileName = "KORVA.Out";
inline constexpr std::string_view kImportedFileName = "KORVA.xxx";
inline constexpr std::string_view kImportFolderMissing =
    "WorldShip Import Folder could not be found.  Please update path in Tools Options.";

// An output file that exists but does not parse is taken as broken after this long.
inline constexpr std::chrono::seconds kUnreadableOutputPatience{30};

struct WorldShipFiles {
    std::filesystem::path importFile; // KORVA.xml
    std::filesystem::path outputFile; // KORVA.Out
    // Deleted before each import, so an earlier answer is not taken for the new one.
    std::vector<std::filesystem::path> deletedFirst; // KORVA.xxx, KORVA.xml, KORVA.Out
};
WorldShipFiles worldShipFiles(const std::filesystem::path &importFolder);
// The folder named by the setting UPSWorldShipAutoXMLImportFolder.
std::filesystem::path worldShipImportFolder(const xml::Document &settings);

// The empty OpenShipments text for an import folder; its default namespace
// names WorldShip's schema file in that folder.
std::string openShipmentsText(const std::filesystem::path &importFolder);

// The OpenShipments document filled from the form and the setting
// UPSAccount. Fails, naming the field, when a weight is neither blank nor a
// number.
Checked<xml::Document> buildOpenShipments(const FormValues &form, const xml::Document &settings,
                                          const std::filesystem::path &importFolder);

// Everything of "Send to WorldShip" before the wait: checks the import
// folder and the form, moves an unread KORVA.Out aside (keepUnreadAnswer),
// deletes the previous KORVA.xxx and KORVA.xml, writes KORVA.xml.
// Nothing is deleted or written when a check fails.
Checked<WorldShipFiles> writeWorldShipImport(const FormValues &form, const xml::Document &settings);

struct WorldShipOutput {
    enum class State {
        Missing,    // no output file yet: keep waiting
        Unreadable, // there, but not XML (yet): wait, up to kUnreadableOutputPatience
        NoShipment, // read, but without an OpenShipment
        Read,
    };
    State state = State::Missing;
    std::string error; // Unreadable: the parser's message
    xml::Document document{nullptr};
    xml::Node openShipment; // the first OpenShipment, inside `document`
    // Its ProcessStatus attribute; "Processed" (or "Success", any case)
    // means WorldShip shipped it.
    std::string processStatus;
    // Its first ProcessMessage/TrackingNumbers/TrackingNumber, trimmed; ""
    // when there is none.
    std::string trackingNumber;
    // WorldShip's own words when it did not ship: the ErrorDescription (or
    // the text) of each ProcessMessage/Error, joined by "; ".
    std::string errorText;

    bool processed() const;
    // Processed and with a tracking number: the only answer that records a
    // label and goes to eBay.
    bool shipped() const { return processed() && !trackingNumber.empty(); }
};
WorldShipOutput readWorldShipOutput(const std::filesystem::path &outputFile);

// Why a read answer (state Read) that is not shipped() marks nothing
// shipped, in WorldShip's words where it gave any.
std::string notShippedMessage(const WorldShipOutput &output);
std::string unreadableOutputMessage(const WorldShipOutput &output);
std::string noShipmentMessage();

} // namespace tw::postage
