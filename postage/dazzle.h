#pragma once
// Endicia DAZzle through its files: the package file written from the form,
// the command that starts DAZzle on it, and the results file DAZzle writes.

#include "platform/xml.h"
#include "postage/checked.h"
#include "postage/form.h"
#include "store/order_index.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::postage {

inline constexpr std::string_view kPackageFileName = "KORVA-Dazzle-Packages.xml";
inline constexpr std::string_view kResultsFileName = "KORVA-Dazzle-Results.xml";

// A results file that exists but does not parse is most likely still being
// written; after this long it is taken as broken.
inline constexpr std::chrono::seconds kUnreadableResultsPatience{30};

struct DazzleFiles {
    std::filesystem::path packageFile;
    std::filesystem::path resultsFile;
};
// Both files in `tempDir` (made absolute).
DazzleFiles dazzleFiles(const std::filesystem::path &tempDir);

// A program and its arguments, each passed as one argument whatever blanks
// it holds (QProcess::startDetached(program, arguments)).
struct Command {
    std::filesystem::path program;
    std::vector<std::string> arguments;
};
Command dazzleCommand(const std::filesystem::path &dazzleExe, const std::filesystem::path &packageFile);

// The ToCountry DAZzle gets: empty for the United States written as
// "United States", "USA", "US", "U.S.A." or "U.S." (any case, blanks around ignored), otherwise the
// form's text as typed.
std::string dazzleToCountry(std::string_view formValue);

// The package file as a document: a fresh copy of `definitions` (the DAZzle
// definitions: root DAZzle with a Package holding Services) filled from the
// form. `customsVisible` says whether the form shows its customs section;
// `selection` is the order selection; `settings` gives DazzleExePath, whose
// folder holds the layout named by the form's Layout; `tempDir` is where the
// results file is to be written. Fails, naming the field, when a weight is
// neither blank nor a number, or when the definitions lack their Package.
Checked<xml::Document> buildDazzlePackage(const xml::Document &definitions, const FormValues &form, bool customsVisible,
                                          const xml::Document &settings, const xml::Node &selection,
                                          const std::filesystem::path &tempDir);

// Moves an answer file that nobody has read out of the way of the next
// one, beside it under a dated name ("KORVA.unread-20261208-142501.Out"),
// instead of deleting it. Nothing happens when there is no such file.
void keepUnreadAnswer(const std::filesystem::path &file);

struct DazzlePrint {
    DazzleFiles files;
    Command command;
};
// Everything of "Print Postage" up to starting DAZzle: checks that the
// executable exists and the form is usable, moves a results file left there
// aside (keepUnreadAnswer), deletes the previous package file, writes the
// package file. Nothing is deleted or written when
// a check fails; the sentence to show comes back instead.
Checked<DazzlePrint> writeDazzlePackage(const xml::Document &definitions, const FormValues &form, bool customsVisible,
                                        const xml::Document &settings, const xml::Node &selection,
                                        const std::filesystem::path &tempDir);

// --- results -------------------------------------------------------------------------

// An order by its key (item id, transaction id).
using DazzleOrder = store::OrderKey;

struct DazzlePackage {
    xml::Node element; // the Package element, inside DazzleResults::document
    std::string status;
    std::optional<std::string> pic;           // nullopt: no PIC element
    std::optional<std::string> customsNumber; // nullopt: no CustomsNumber element
    std::string finalPostage;                 // "0.00" when DAZzle gave none
    std::vector<DazzleOrder> orders;          // Transactions/Transaction, in order

    bool printed() const { return status == "Success"; }
    // The PIC, or the customs number when there is no PIC, or "".
    std::string trackingNumber() const;
};

struct DazzleResults {
    enum class State {
        Missing,    // no results file yet: keep waiting
        Unreadable, // there, but not XML (yet): wait, up to kUnreadableResultsPatience
        NoPackages, // read, but DAZzle reported no package
        Read,
    };
    State state = State::Missing;
    std::string error; // Unreadable: the parser's message
    xml::Document document{nullptr};
    std::vector<DazzlePackage> packages; // nodes into `document`
};
DazzleResults readDazzleResults(const std::filesystem::path &resultsFile);

// The code of a status with both "(" and ")": what follows the first "("
// up to the next "(" or the end, without any ")". nullopt otherwise.
std::optional<std::string> dazzleStatusCode(std::string_view status);
// The sentence for a status other than "Success" ("Address Verification
// failed", ..., or "Unexpected Dazzle Status: " and the whole status).
std::string dazzleStatusMessage(std::string_view status);

// Sentences for the two ways a results file can disappoint.
std::string unreadableResultsMessage(const DazzleResults &results);
std::string noPackagesMessage();

} // namespace tw::postage
