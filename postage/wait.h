#pragma once
// A wait for DAZzle's or WorldShip's answer, kept in the store so that it
// outlives a cancel and a restart. It is an element of our own in
// ShippingLabels.xml, beside the labels:
//
//   <ShippingLabels><KORVA><Wait><Carrier>USPS</Carrier><AnswerFile/>
//     <ExportFile/><TestMode/><Store/><Cancelled/><Order><ItemID/>
//     <TransactionID/></Order>...</Wait></KORVA><ShippingLabel>...
//
// It lives in that document, not in a file of its own, so that recording an
// answer's labels and closing its wait are one atomic save: a crash can
// neither lose the answer nor record it twice. At most one wait per carrier.

#include "postage/dazzle.h"
#include "store/store.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace tw::postage {

enum class Carrier { Dazzle, WorldShip };
// "USPS" for DAZzle, "UPS" for WorldShip, as the labels name them.
std::string_view carrierName(Carrier carrier);

struct PostageWait {
    Carrier carrier = Carrier::Dazzle;
    std::filesystem::path answerFile;             // the results file or KORVA.Out
    std::filesystem::path exportFile;             // the package file or KORVA.xml
    bool testMode = false;                        // DAZzle's test labels: nothing is stored or sent
    store::Doc active = store::Doc::Transactions; // where the orders came from
    std::vector<DazzleOrder> orders;
    // The seller has left it: its answer is completed in the background.
    bool cancelled = false;
};

// The stored wait of `carrier`, if any.
std::optional<PostageWait> storedWait(const xml::Document &labels, Carrier carrier);
// Puts `wait` in place of its carrier's; not saved.
void putWait(xml::Document &labels, const PostageWait &wait);
// Removes the wait of `carrier`; not saved.
void dropWait(xml::Document &labels, Carrier carrier);

} // namespace tw::postage
