#pragma once
// Postage printing in the window: the orders of one label chosen from the
// tagged rows of the view, the DAZzle and WorldShip forms filled and kept
// consistent while the seller edits them, the label sent to DAZzle or the
// shipment to WorldShip, the wait for their answer, and what follows it: the
// label recorded, each tracking number sent to eBay, the orders marked
// shipped.
//
// The rules come from form.h, dazzle.h, worldship.h and labels.h; this class
// reads and writes the page, shows every message the seller sees and holds
// the state of a wait. Everything runs on the user-interface thread; the
// timers' ticks and the page's change events arrive through the FeatureTable
// and the page.

#include "platform/features.h"
#include "platform/shell.h"
#include "postage/dazzle.h"
#include "postage/form.h"
#include "postage/worldship.h"
#include "store/session.h"
#include "ui/browser.h"
#include "ui/clsDomEventHandler.h"
#include "ui/tags.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tw::ebay {
class clseBayAPI;
}

namespace tw::postage {

inline constexpr std::string_view kDazzleTimer = "tmrWaitingForDazzle";
inline constexpr std::string_view kWorldShipTimer = "tmrWaitingForWorldShip";

class Printing {
  public:
    // All three must outlive the object.
    Printing(Session &session, Shell &shell, FeatureTable &table);

    // --- the orders of one label -----------------------------------------------

    // The actions PrintPostage and PrintPostageWorldShip: the rows of the
    // drawn view, then selectOrders, then the form of `kind`.
    void PrintPostage(FormKind kind);
    // Makes the order selection from the rows: the tagged orders, and when
    // the seller agrees (asked once) the buyer's untagged ones. Shows why
    // when there is nothing to print; true when the selection holds orders.
    bool selectOrders(const std::vector<ui::OrderRow> &rows);

    // --- the forms --------------------------------------------------------------

    // Fills the form of `kind` from the order selection and the settings and
    // attaches the change handlers (page fill of either form).
    void DisplayPrintPostage(FormKind kind);
    // Options, customs form and layout list for the chosen mail class.
    void mobjMailClassHandler_DataChanged();
    // The customs section shown or hidden for the destination.
    void mobjToCountryHandler_DataChanged();

    // --- DAZzle -----------------------------------------------------------------

    // The action PrintPostageSend: the form as the page holds it.
    void PrintPostageSend();
    // Writes the package file, starts DAZzle on it and waits for its results.
    void sendToDazzle(const FormValues &form, bool customsVisible);
    // A tick of tmrWaitingForDazzle.
    void tmrWaitingForDazzle_Timer();

    // --- WorldShip ----------------------------------------------------------------

    // The action PrintPostageSendWorldShip: the form as the page holds it.
    void PrintPostageSendWorldShip();
    // Writes KORVA.xml into the import folder and waits for KORVA.Out.
    void sendToWorldShip(const FormValues &form);
    // A tick of tmrWaitingForWorldShip.
    void tmrWaitingForWorldShip_Timer();

    // The action CancelPrintPostage: ends either wait, back to the view.
    void CancelPrintPostage();

    bool waitingForDazzle() const { return m_dazzleWait.has_value(); }
    bool waitingForWorldShip() const { return m_worldShipWait.has_value(); }

    // Where the DAZzle files go: the system's temporary folder unless set.
    void setTempDir(std::filesystem::path dir) { m_tempDir = std::move(dir); }

  private:
    struct Wait {
        std::filesystem::path file; // the answer waited for
        store::Doc active;          // the store document the orders came from
        std::vector<DazzleOrder> orders;
        // When the file was first there but did not read.
        std::optional<std::int64_t> unreadableSinceMs;
        // The window stays busy until the wait ends (its Cancel excepted).
        Busy::Token busy;
    };

    void PrintPostageComplete(const DazzleResults &results, const Wait &wait);
    void PrintPostageCompleteWorldShip(const WorldShipOutput &output, const Wait &wait);
    // Sends one order's tracking number to eBay and, when eBay took it, marks
    // the order shipped in the store. False (the seller told) when refused.
    bool upload(ebay::clseBayAPI &api, const DazzleOrder &order, store::Doc active, const std::string &carrier,
                const std::string &trackingNumber);
    // Whether an answer that does not read yet has been given long enough.
    bool patienceOver(Wait &wait, std::chrono::seconds patience) const;

    void setSendButton(std::string_view text, bool disabled);
    // A send refused before anything started: the message, the form usable again.
    void refuseSend(const std::string &message);
    xml::Node selectionRoot() const;
    const xml::Document &dazzleDefinitions();
    std::filesystem::path tempDir() const;

    Session &m_session;
    Shell &m_shell;
    FeatureTable &m_table;
    // The page layer's generic handler stores the postage form's check boxes
    // in the settings.
    ui::Browser m_pageLayer;
    std::shared_ptr<ui::clsDomEventHandler> mobjToCountryHandler;
    std::shared_ptr<ui::clsDomEventHandler> mobjMailClassHandler;
    FormKind m_formKind = FormKind::Dazzle;
    std::optional<Wait> m_dazzleWait;
    std::optional<Wait> m_worldShipWait;
    std::filesystem::path m_tempDir;
};

} // namespace tw::postage
