#pragma once
// Postage printing in the window: the orders of one label chosen from the
// tagged rows of the view, the DAZzle and WorldShip forms filled and kept
// consistent while the seller edits them, the label sent to DAZzle or the
// shipment to WorldShip, the wait for their answer, and what follows it: the
// label recorded, each tracking number sent to eBay, the orders marked
// shipped.
//
// A wait is kept in the store (postage/wait.h) from the moment the export is
// written, so an answer is never lost: when the seller leaves a wait
// (Cancel) after DAZzle or WorldShip has taken the export, or the program
// ends first, the answer is still completed when it arrives, in the
// background or at the next start. A WorldShip export not yet taken is
// withdrawn instead.
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
#include "postage/labels.h"
#include "postage/wait.h"
#include "postage/worldship.h"
#include "store/session.h"
#include "ui/browser.h"
#include "ui/clsDomEventHandler.h"
#include "ui/tags.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
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

    // The action CancelPrintPostage: leaves the wait the form shows (see
    // above), back to the view.
    void CancelPrintPostage();

    // The action ResendTracking: the tracking number of an order's label that
    // eBay refused, sent again. Numbers eBay may have taken are never offered.
    void ResendTracking(const std::string &itemId, const std::string &transactionId);

    // Watches again, in the background, the waits the store still holds
    // from an earlier run. Runs once; call it when the first main page is up.
    void resumeWaits();

    // Whether a wait for DAZzle's (WorldShip's) answer is open.
    bool waitingForDazzle() const { return m_watch[size_t(Carrier::Dazzle)].has_value(); }
    bool waitingForWorldShip() const { return m_watch[size_t(Carrier::WorldShip)].has_value(); }

    // Where the DAZzle files go: the system's temporary folder unless set.
    void setTempDir(std::filesystem::path dir) { m_tempDir = std::move(dir); }

  private:
    // How a stored wait is being watched in this run.
    struct Watch {
        // Held while the seller watches the wait on the form (overlay, send
        // button): the window stays busy, its Cancel excepted. None once
        // left, or for a wait of an earlier run: its answer is completed in
        // the background, by a tick the window lets run when it is idle.
        Busy::Token busy;
        // When the answer was first there but did not read.
        std::optional<std::int64_t> unreadableSinceMs;

        bool foreground() const { return bool(busy); }
    };
    Busy::Token holdWhileWaiting(Carrier carrier);

    void tick(Carrier carrier);
    void completeDazzle(const PostageWait &wait, DazzleResults &results);
    void completeWorldShip(const PostageWait &wait, const WorldShipOutput &output);
    // Records `recorded` and closes the wait in one save of ShippingLabels;
    // on failure everything stays as it was and false comes back.
    bool recordAnswer(Carrier carrier, const std::function<void()> &append);
    // Sends the label's number to eBay for each of its orders; tells the
    // seller what eBay did not take. The number of orders eBay took.
    size_t uploadLabel(const RecordedLabel &label, std::string_view carrier, store::Doc active);
    // Ends a wait without a label: `message` told, the form usable again.
    void endWait(Carrier carrier, const std::string &message, bool answerRead);
    // Stops watching (the stored wait stays as it is).
    void unwatch(Carrier carrier);
    // A stored wait of `carrier` from before this form: true when the
    // send may go on (none, or the seller stopped waiting for it).
    bool settleEarlierWait(Carrier carrier);
    // Whether an answer that does not read yet has been given long enough.
    bool patienceOver(Watch &watch, std::chrono::seconds patience) const;
    // The question before another label for orders that already have one
    // (or may still get one); true to go on.
    bool confirmAnotherLabel(const std::vector<xml::Node> &orders);
    // Whether the view is on screen (a background answer redraws it).
    bool onMainPage();

    void setSendButton(std::string_view text, bool disabled);
    void showWorldShipSend(bool shown);
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
    // A label (or a shipment that may print) came from the current
    // selection's form: it makes no second one.
    bool m_formSpent = false;
    std::optional<Watch> m_watch[2]; // by Carrier
    bool m_resumed = false;
    std::filesystem::path m_tempDir;
};

} // namespace tw::postage
