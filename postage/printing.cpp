#include "postage/printing.h"

#include "ebay/clseBayAPI.h"
#include "pages/pages.h"
#include "platform/clock.h"
#include "postage/formpage.h"
#include "postage/labels.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "ui/layouts.h"
#include "ui/rows.h"
#include "ui/served.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <cctype>
#include <system_error>

namespace tw::postage {
namespace {

constexpr std::string_view kTitle = "Tidewell";
constexpr std::string_view kPrintPostageTitle = "Print Postage";
constexpr std::string_view kOrderPath = "Transactions/Transaction[Item/ItemID=$item and TransactionID=$transaction]";
constexpr std::string_view kNoSelection =
    "There are no orders for this label. Go back to your orders, tag the ones to ship and choose the printing "
    "command again.";
constexpr std::string_view kSendButton = "PrintPostage";
constexpr std::string_view kWorldShipSendLink = "PrintPostageSendWorldShip";
constexpr std::string_view kFormSpent =
    "A label has already been made from this form. To make another for these orders, go back to your orders, tag "
    "them and choose the printing command again.";
constexpr std::string_view kWorldShipWithdrawn =
    "WorldShip had not taken the shipment yet: it has been withdrawn and nothing will print.";
constexpr std::string_view kDazzleMayPrint =
    "DAZzle already has this label and may still print it. If it does, Tidewell records the label and sends its "
    "tracking number to eBay as soon as DAZzle answers, even after a restart.";
constexpr std::string_view kWorldShipMayPrint =
    "WorldShip has already taken this shipment and may still print its label. If it does, Tidewell records the "
    "label and sends its tracking number to eBay as soon as WorldShip answers, even after a restart.";

std::string_view timerOf(Carrier carrier)
{
    return carrier == Carrier::Dazzle ? kDazzleTimer : kWorldShipTimer;
}

// "Item 1 (transaction 2), Item 3 (transaction 4)".
std::string ordersText(const std::vector<DazzleOrder> &orders)
{
    std::string text;
    for (const DazzleOrder &order : orders)
        text += (text.empty() ? "" : ", ") + std::string("Item ") + order.itemId + " (transaction " +
                order.transactionId + ")";
    return text;
}

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

// "Print Postage" with one buyer's orders only: false for the first order
// whose buyer differs from the others'.
bool oneBuyer(const std::vector<xml::Node> &orders)
{
    std::string key;
    for (const xml::Node &order : orders) {
        const std::string token = GetNodeText(order, "Buyer/EIASToken");
        if (key.empty())
            key = token;
        else if (token != key)
            return false;
    }
    return true;
}

// One line for the status bar once a label is recorded.
std::string recordedStatus(std::string_view what, const std::string &trackingNumber, size_t sent, size_t orders)
{
    return std::string(what) +
           (trackingNumber.empty() ? std::string(" (no tracking number)")
                                   : " (tracking number " + trackingNumber + ")") +
           "; " + std::to_string(sent) + " of " + std::to_string(orders) + " orders updated on eBay.";
}

// `text` ending with one full stop.
std::string sentence(std::string text)
{
    while (!text.empty() && (text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text + ".";
}

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

Printing::Printing(Session &session, Shell &shell, FeatureTable &table)
    : m_session(session), m_shell(shell), m_table(table), m_pageLayer(session, shell, table)
{
}

xml::Node Printing::selectionRoot() const
{
    return m_session.orderSelection ? m_session.orderSelection.root() : xml::Node();
}

std::filesystem::path Printing::tempDir() const
{
    if (!m_tempDir.empty()) return m_tempDir;
    std::error_code ec;
    return std::filesystem::temp_directory_path(ec);
}

const xml::Document &Printing::dazzleDefinitions()
{
    // Loaded by the first main page, unless eBay could not be reached then.
    if (!m_session.dazzleDefinitions) m_session.dazzleDefinitions = pages::loadXml(ui::kDazzleDefinitions);
    return m_session.dazzleDefinitions;
}

// --- the orders of one label -------------------------------------------------------

void Printing::PrintPostage(FormKind kind)
{
    if (!selectOrders(ui::orderRows(m_shell.page()))) return;
    m_formSpent = false; // a new selection, a new form
    m_shell.navigate(pages::url(kind == FormKind::Dazzle ? ui::kPrintPostagePage : ui::kPrintPostageWorldShipPage));
}

bool Printing::onMainPage()
{
    return lower(m_shell.page().url()) == lower(pages::url(ui::kMainPage));
}

bool Printing::confirmAnotherLabel(const std::vector<xml::Node> &orders)
{
    const xml::Document &labels = ensureShippingLabels(m_session.store);
    std::vector<PostageWait> waits;
    for (Carrier carrier : {Carrier::Dazzle, Carrier::WorldShip})
        if (std::optional<PostageWait> wait = storedWait(labels, carrier); wait && !wait->testMode)
            waits.push_back(*wait);
    std::string lines;
    for (const xml::Node &order : orders) {
        const DazzleOrder key{GetNodeText(order, "Item/ItemID"), GetNodeText(order, "TransactionID")};
        const std::string head = "\n" + ordersText({key}) + ": ";
        for (const ExistingLabel &label : labelsOf(labels, key.itemId, key.transactionId))
            lines +=
                head + label.carrier + " " +
                (label.trackingNumber.empty() ? std::string("label without a tracking number") : label.trackingNumber) +
                ", printed " + ui::localDateText(label.timeStamp, m_session.eBayClockOffset);
        for (const PostageWait &wait : waits)
            for (const DazzleOrder &o : wait.orders)
                if (o.itemId == key.itemId && o.transactionId == key.transactionId)
                    lines += head + (wait.carrier == Carrier::Dazzle ? "DAZzle" : "WorldShip") +
                             " may still print the label you left";
    }
    if (lines.empty()) return true;
    return m_shell.askYesNo(kPrintPostageTitle,
                            "These orders already have a label:" + lines + "\n\nPrint another label for them?");
}

bool Printing::selectOrders(const std::vector<ui::OrderRow> &rows)
{
    bool anyTagged = false;
    for (const ui::OrderRow &row : rows)
        anyTagged = anyTagged || row.tagged;
    if (!anyTagged) {
        m_shell.messageBox(kPrintPostageTitle, kTagFirst);
        return false;
    }

    const xml::Document &active = m_session.store.doc(activeStoreDocument(m_session.currentView));
    auto find = [&active](const ui::OrderRow &row) {
        return active.select(kOrderPath, {{"item", row.itemId}, {"transaction", row.transactionId}});
    };
    auto refuse = [this] {
        m_session.orderSelection = xml::Document(nullptr);
        m_shell.messageBox(kTitle, kDifferentBuyers);
        return false;
    };

    std::vector<xml::Node> chosen;
    std::string buyer;
    for (const ui::OrderRow &row : rows) {
        if (!row.tagged) continue;
        if (xml::Node order = find(row)) {
            buyer = GetNodeText(order, "Buyer/EIASToken", "Anonymous");
            chosen.push_back(order);
        }
    }
    if (chosen.empty()) {
        m_session.orderSelection = xml::Document(nullptr);
        return false;
    }
    // Refused before the seller is asked about more of one buyer's orders.
    if (!oneBuyer(chosen)) return refuse();

    bool asked = false, include = false;
    for (const ui::OrderRow &row : rows) {
        if (row.tagged || row.buyerEIASToken != buyer) continue;
        xml::Node order = find(row);
        if (!order) continue;
        if (!asked) {
            asked = true;
            const std::string who = GetNodeText(order, "Buyer/UserID", "Anonymous");
            include = m_shell.askYesNo(kPrintPostageTitle,
                                       "Would you like to automatically include other transactions from " + who + "?");
        }
        if (!include) break;
        chosen.push_back(order);
    }
    if (!oneBuyer(chosen)) return refuse();
    // A second label for an order costs postage twice: only when the seller says so.
    if (!confirmAnotherLabel(chosen)) {
        m_session.orderSelection = xml::Document(nullptr);
        return false;
    }
    m_session.selectOrders(active, chosen);
    return true;
}

// --- the forms -------------------------------------------------------------------------

void Printing::DisplayPrintPostage(FormKind kind)
{
    m_formKind = kind;
    m_shell.ProcessingImageDisplay("Rendering");
    page::Page &page = m_shell.page();
    const FormFill fill =
        fillPostageForm(kind, formSources(selectionRoot(), m_session.store.settings(), &m_session.lookup));
    if (fill.orders == 0) {
        // A form opened again (reloaded, say) after its orders were replaced.
        page.element("selecteditems_td").setInnerHTML("<b>" + xml::escape(kNoSelection) + "</b>");
        page.element(kSendButton).setDisabled(true);
        m_shell.ProcessingImageHide();
        return;
    }

    if (kind == FormKind::Dazzle) page.element("links_td").setInnerHTML(fill.linksHtml);
    setByKey(page, "value", fill.values);
    page.element("CustomerShippingPaid").setInnerText(fill.customerShippingPaid);

    std::vector<std::pair<std::string, std::string>> checks;
    for (const auto &[name, on] : fill.checks)
        checks.emplace_back(name, on ? "true" : "false");
    if (fill.nonMachinable) checks.emplace_back("NonMachinable", "true");
    setByKey(page, "checked", checks);
    for (const char *name : {"TestMode", "AutoClose", "CustomsCertify"})
        if (page::Element box = page.element(name))
            box.onChange([this] { m_pageLayer.mobjGenericHtmlEventHandler.EventHandler(); });

    page.element("selecteditems_td").setInnerHTML(fill.selectedItemsHtml);

    mobjToCountryHandler = std::make_shared<ui::clsDomEventHandler>();
    mobjToCountryHandler->DataChanged = [this] { mobjToCountryHandler_DataChanged(); };
    for (const char *name : {"ToCountry", "ToState"})
        if (page::Element field = page.element(name))
            field.onChange([adapter = mobjToCountryHandler] { adapter->EventHandler(); });
    mobjToCountryHandler_DataChanged();

    mobjMailClassHandler = std::make_shared<ui::clsDomEventHandler>();
    mobjMailClassHandler->DataChanged = [this] { mobjMailClassHandler_DataChanged(); };
    if (page::Element mailClass = page.element("MailClass"))
        mailClass.onChange([adapter = mobjMailClassHandler] { adapter->EventHandler(); });
    mobjMailClassHandler_DataChanged();

    // The same form opened again (reloaded, say) after it made its label.
    if (m_formSpent) {
        if (kind == FormKind::Dazzle)
            page.element(kSendButton).setDisabled(true);
        else
            showWorldShipSend(false);
    }
    m_shell.ProcessingImageHide();
}

void Printing::mobjMailClassHandler_DataChanged()
{
    page::Page &page = m_shell.page();
    const xml::Document &settings = m_session.store.settings();
    const FormValues form = readForm(page);
    const std::string mailClass = field(form, "MailClass");
    const std::string stored = settings::read(settings, layoutSettingKey(mailClass, field(form, "PackageType")));

    page::Element layout = page.element("Layout");
    layout.setInnerHTML("");
    if (!dazzleExeExists(settings)) {
        // A seller who ships with WorldShip alone has no DAZzle to look for.
        if (m_formKind == FormKind::Dazzle) m_shell.messageBox(kTitle, kDazzleNotFound);
        page.element(kSendButton).setDisabled(true);
        return;
    }
    ui::AddDazzleLayoutsToSelect(dazzleExePath(settings), layout, stored);

    const std::optional<MailClassRules> rules = mailClassRules(mailClass, field(form, "Value"));
    if (!rules) return;
    auto disabled = [](bool enabled) { return std::string(enabled ? "false" : "true"); };
    setByKey(page, "disabled",
             {{"BalloonRate", disabled(rules->balloonRate)},
              {"SignatureWaiver", disabled(rules->signatureWaiver)},
              {"ExpressMailPremiumService", disabled(rules->expressMailPremiumService)},
              {"NoWeekendDelivery", disabled(rules->noWeekendDelivery)},
              {"NoHolidayDelivery", disabled(rules->noHolidayDelivery)}});
    std::vector<std::pair<std::string, std::string>> values = {{"CustomsFormType", rules->customsFormType}};
    setByKey(page, "value", values);
    if (rules->checkStealth) setByKey(page, "checked", {{"Stealth", "true"}});
}

void Printing::mobjToCountryHandler_DataChanged()
{
    page::Page &page = m_shell.page();
    const std::string country = page.element("ToCountry").value();
    const std::string state = page.element("ToState").value();
    const std::string visibility = customsNeeded(country, state) ? "" : "hidden";
    for (const char *name : {"customs", "customsitems"})
        page.element(name).setStyle("visibility", visibility);
}

// --- sending -------------------------------------------------------------------------------

void Printing::setSendButton(std::string_view text, bool disabled)
{
    page::Element button = m_shell.page().element(kSendButton);
    button.setValue(text);
    button.setDisabled(disabled);
}

void Printing::showWorldShipSend(bool shown)
{
    if (page::Element link = m_shell.page().element(kWorldShipSendLink))
        link.setStyle("visibility", shown ? "" : "hidden");
}

void Printing::refuseSend(const std::string &message)
{
    if (!message.empty()) m_shell.messageBox(kTitle, message);
    setSendButton("Print Postage", false);
    m_shell.ProcessingImageHide();
}

bool Printing::settleEarlierWait(Carrier carrier)
{
    xml::Document &labels = ensureShippingLabels(m_session.store);
    const std::optional<PostageWait> earlier = storedWait(labels, carrier);
    if (!earlier) return true;
    const std::string program = carrier == Carrier::Dazzle ? "DAZzle" : "WorldShip";
    std::error_code ec;
    if (std::filesystem::exists(earlier->answerFile, ec)) {
        // Recorded by the next tick, as if this send had come a moment later.
        if (!m_watch[size_t(carrier)]) {
            m_watch[size_t(carrier)] = Watch{};
            m_shell.startTimer(timerOf(carrier));
        }
        m_shell.messageBox(kTitle, program + "'s answer about the label you left earlier has just arrived. Tidewell "
                                             "records it first: send this one again in a moment.");
        return false;
    }
    if (!m_shell.askYesNo(kPrintPostageTitle,
                          "Tidewell is still waiting for " + program + "'s answer about the label you left earlier (" +
                              ordersText(earlier->orders) + "). " + program +
                              " may still print it.\n\nStop waiting for that label and send this one? If " + program +
                              " prints the earlier label after all, Tidewell will not record it."))
        return false;
    dropWait(labels, carrier);
    m_session.store.save(store::Doc::ShippingLabels);
    unwatch(carrier);
    return true;
}

void Printing::PrintPostageSend()
{
    page::Page &page = m_shell.page();
    sendToDazzle(readForm(page), customsVisible(page));
}

void Printing::sendToDazzle(const FormValues &form, bool customs)
{
    m_shell.ProcessingImageDisplay("Printing");
    setSendButton("Waiting for Dazzle", true);
    if (m_formSpent) {
        m_shell.messageBox(kTitle, kFormSpent);
        setSendButton("Print Postage", true);
        m_shell.ProcessingImageHide();
        return;
    }

    const xml::Node selection = selectionRoot();
    if (!selection || !selection.firstElement()) return refuseSend(std::string(kNoSelection));
    if (!settleEarlierWait(Carrier::Dazzle)) return refuseSend({});
    const xml::Document &settings = m_session.store.settings();
    Checked<DazzlePrint> print = writeDazzlePackage(dazzleDefinitions(), form, customs, settings, selection, tempDir());
    if (!print) return refuseSend(print.error());

    // Stored before DAZzle starts: from then on its answer is never lost.
    PostageWait wait{Carrier::Dazzle,
                     print->files.resultsFile,
                     print->files.packageFile,
                     checked(form, "TestMode"),
                     activeStoreDocument(m_session.currentView),
                     selectionOrders(selection),
                     false};
    xml::Document &labels = ensureShippingLabels(m_session.store);
    putWait(labels, wait);
    if (!m_session.store.save(store::Doc::ShippingLabels)) {
        dropWait(labels, Carrier::Dazzle);
        return refuseSend({}); // the store has told why
    }

    QStringList arguments;
    for (const std::string &argument : print->command.arguments)
        arguments << qs(argument);
    // Started without a shell: a path with blanks stays one argument.
    if (!QProcess::startDetached(qs(print->command.program.string()), arguments)) {
        dropWait(labels, Carrier::Dazzle);
        m_session.store.save(store::Doc::ShippingLabels);
        return refuseSend("DAZzle could not be started (" + print->command.program.string() +
                          "). Check the DAZzle path in Tools > Options.");
    }
    m_watch[size_t(Carrier::Dazzle)] = Watch{holdWhileWaiting(Carrier::Dazzle), std::nullopt};
    m_shell.startTimer(kDazzleTimer);
}

void Printing::PrintPostageSendWorldShip()
{
    sendToWorldShip(readForm(m_shell.page()));
}

void Printing::sendToWorldShip(const FormValues &form)
{
    m_shell.ProcessingImageDisplay("Printing");
    auto refuse = [this](const std::string &message) {
        if (!message.empty()) m_shell.messageBox(kTitle, message);
        m_shell.ProcessingImageHide();
    };
    if (m_formSpent) return refuse(std::string(kFormSpent));
    const xml::Node selection = selectionRoot();
    if (!selection || !selection.firstElement()) return refuse(std::string(kNoSelection));
    if (!settleEarlierWait(Carrier::WorldShip)) return refuse({});
    Checked<WorldShipFiles> files = writeWorldShipImport(form, m_session.store.settings());
    if (!files) return refuse(files.error());

    PostageWait wait{Carrier::WorldShip,
                     files->outputFile,
                     files->importFile,
                     false,
                     activeStoreDocument(m_session.currentView),
                     selectionOrders(selection),
                     false};
    xml::Document &labels = ensureShippingLabels(m_session.store);
    putWait(labels, wait);
    if (!m_session.store.save(store::Doc::ShippingLabels)) {
        dropWait(labels, Carrier::WorldShip);
        // Taken back before WorldShip ships what nobody would wait for.
        std::error_code ec;
        std::filesystem::remove(files->importFile, ec);
        return refuse({});
    }
    // One shipment per form: the link goes until the answer says otherwise.
    showWorldShipSend(false);
    m_shell.ProcessingImageDisplay("Waiting for WorldShip");
    m_watch[size_t(Carrier::WorldShip)] = Watch{holdWhileWaiting(Carrier::WorldShip), std::nullopt};
    m_shell.startTimer(kWorldShipTimer);
}

void Printing::CancelPrintPostage()
{
    for (Carrier carrier : {Carrier::Dazzle, Carrier::WorldShip}) {
        std::optional<Watch> &watch = m_watch[size_t(carrier)];
        if (!watch) m_shell.stopTimer(timerOf(carrier)); // nothing to wait for
        if (!watch || !watch->foreground()) continue;
        watch->busy.reset();
        xml::Document &labels = ensureShippingLabels(m_session.store);
        std::optional<PostageWait> wait = storedWait(labels, carrier);
        if (!wait) {
            unwatch(carrier);
            continue;
        }
        std::error_code ec;
        // A test label is never recorded, whatever comes of it.
        const bool withdrawn =
            wait->testMode || (carrier == Carrier::WorldShip && std::filesystem::remove(wait->exportFile, ec));
        if (withdrawn) {
            dropWait(labels, carrier);
            m_session.store.save(store::Doc::ShippingLabels);
            unwatch(carrier);
            m_formSpent = false;
            if (!wait->testMode) m_shell.messageBox(kTitle, kWorldShipWithdrawn);
            continue;
        }
        // Taken already: the answer is completed whenever it comes.
        wait->cancelled = true;
        putWait(labels, *wait);
        m_session.store.save(store::Doc::ShippingLabels);
        m_shell.messageBox(kTitle, carrier == Carrier::Dazzle ? kDazzleMayPrint : kWorldShipMayPrint);
    }
    m_shell.ProcessingImageHide();
    m_table.RefreshGrid();
}

void Printing::resumeWaits()
{
    if (m_resumed) return;
    m_resumed = true;
    const xml::Document &labels = ensureShippingLabels(m_session.store);
    for (Carrier carrier : {Carrier::Dazzle, Carrier::WorldShip})
        if (storedWait(labels, carrier) && !m_watch[size_t(carrier)]) {
            m_watch[size_t(carrier)] = Watch{};
            m_shell.startTimer(timerOf(carrier));
        }
}

Busy::Token Printing::holdWhileWaiting(Carrier carrier)
{
    // Nothing else runs while the seller watches the wait; its Cancel does.
    return m_table.busy().hold(Busy::Options::wait("CancelPrintPostage", std::string(timerOf(carrier))));
}

void Printing::unwatch(Carrier carrier)
{
    m_watch[size_t(carrier)].reset();
    m_shell.stopTimer(timerOf(carrier));
}

// --- waiting ----------------------------------------------------------------------------------

bool Printing::patienceOver(Watch &watch, std::chrono::seconds patience) const
{
    const std::int64_t now = clock().localNow().toMsecs();
    if (!watch.unreadableSinceMs) watch.unreadableSinceMs = now;
    return now - *watch.unreadableSinceMs >= std::chrono::milliseconds(patience).count();
}

void Printing::tmrWaitingForDazzle_Timer()
{
    tick(Carrier::Dazzle);
}

void Printing::tmrWaitingForWorldShip_Timer()
{
    tick(Carrier::WorldShip);
}

void Printing::tick(Carrier carrier)
{
    const std::string_view timer = timerOf(carrier);
    m_shell.stopTimer(timer);
    std::optional<Watch> &watch = m_watch[size_t(carrier)];
    if (!watch) return;
    const std::optional<PostageWait> wait = storedWait(ensureShippingLabels(m_session.store), carrier);
    if (!wait) {
        watch.reset();
        return;
    }
    if (carrier == Carrier::Dazzle) {
        DazzleResults results = readDazzleResults(wait->answerFile);
        switch (results.state) {
        case DazzleResults::State::Missing:
            m_shell.startTimer(timer);
            return;
        case DazzleResults::State::Unreadable:
            // POSIX has no sharing violation: a file DAZzle is still writing
            // reads as broken XML, so it is read again on later ticks.
            if (!patienceOver(*watch, kUnreadableResultsPatience)) {
                m_shell.startTimer(timer);
                return;
            }
            return endWait(carrier, unreadableResultsMessage(results), false);
        case DazzleResults::State::NoPackages:
            return endWait(carrier, noPackagesMessage(), true);
        case DazzleResults::State::Read:
            return completeDazzle(*wait, results);
        }
        return;
    }
    WorldShipOutput output = readWorldShipOutput(wait->answerFile);
    switch (output.state) {
    case WorldShipOutput::State::Missing:
        m_shell.startTimer(timer);
        return;
    case WorldShipOutput::State::Unreadable:
        if (!patienceOver(*watch, kUnreadableOutputPatience)) {
            m_shell.startTimer(timer);
            return;
        }
        return endWait(carrier, unreadableOutputMessage(output), false);
    case WorldShipOutput::State::NoShipment:
        return endWait(carrier, noShipmentMessage(), true);
    case WorldShipOutput::State::Read:
        return completeWorldShip(*wait, output);
    }
}

void Printing::endWait(Carrier carrier, const std::string &message, bool answerRead)
{
    const bool foreground = m_watch[size_t(carrier)] && m_watch[size_t(carrier)]->foreground();
    const std::optional<PostageWait> wait = storedWait(ensureShippingLabels(m_session.store), carrier);
    dropWait(m_session.store.doc(store::Doc::ShippingLabels), carrier);
    m_session.store.save(store::Doc::ShippingLabels);
    unwatch(carrier);
    std::error_code ec;
    if (answerRead && wait) std::filesystem::remove(wait->answerFile, ec);
    if (foreground) {
        m_formSpent = false;
        if (carrier == Carrier::Dazzle)
            setSendButton("Print Postage", false);
        else
            showWorldShipSend(true);
        m_shell.ProcessingImageHide();
    }
    m_shell.messageBox(kTitle, message);
}

// --- completing --------------------------------------------------------------------------------

bool Printing::recordAnswer(Carrier carrier, const std::function<void()> &append)
{
    xml::Document &labels = ensureShippingLabels(m_session.store);
    // Kept as text, so a failed save can be undone without holding nodes
    // across the store's error box.
    const std::string before = labels.toString();
    append();
    dropWait(labels, carrier);
    if (m_session.store.save(store::Doc::ShippingLabels)) return true;
    m_session.store.doc(store::Doc::ShippingLabels) = xml::Document::parse(before);
    const bool foreground = m_watch[size_t(carrier)] && m_watch[size_t(carrier)]->foreground();
    // Kept in the store as it was: the next start records it.
    unwatch(carrier);
    if (foreground) m_shell.ProcessingImageHide();
    m_shell.messageBox(kTitle, std::string(carrier == Carrier::Dazzle ? "DAZzle" : "WorldShip") +
                                   " has answered, but its answer could not be recorded. Tidewell records it and "
                                   "sends the tracking number to eBay the next time it starts.");
    return false;
}

size_t Printing::uploadLabel(const RecordedLabel &label, std::string_view carrier, store::Doc active)
{
    ebay::clseBayAPI api(m_session, m_shell);
    size_t sent = 0;
    std::string refused, unanswered;
    for (const DazzleOrder &order : label.orders) {
        m_shell.ProcessingImageDisplay(
            orders::uploadingTrackingHtml(order.itemId, order.transactionId, carrier, label.trackingNumber));
        std::string problem;
        switch (orders::uploadTracking(m_session, api, order, std::string(carrier), label.trackingNumber, active,
                                       &problem)) {
        case orders::UploadOutcome::Accepted:
            ++sent;
            break;
        case orders::UploadOutcome::Refused:
            refused = problem;
            break;
        case orders::UploadOutcome::NoAnswer:
            unanswered = problem;
            break;
        }
    }
    if (!refused.empty())
        m_shell.messageBox(kTitle, std::string(kEbayRefusedUpload) + "\n\n" + sentence(refused) +
                                       "\n\nThe label is recorded. The order's row offers to send its tracking "
                                       "number again, and the next Download Orders tries again.");
    if (!unanswered.empty())
        m_shell.messageBox(kTitle, "eBay did not answer when Tidewell sent the tracking number (" + unanswered +
                                       "). eBay may have it all the same. The label is recorded; the next Download "
                                       "Orders asks eBay and sends the number again only if eBay does not have it.");
    return sent;
}

void Printing::completeDazzle(const PostageWait &wait, DazzleResults &results)
{
    const bool foreground = m_watch[size_t(Carrier::Dazzle)]->foreground();
    std::vector<RecordedLabel> recorded;
    std::vector<std::string> postage, refusals;
    for (DazzlePackage &package : results.packages) {
        // DAZzle hands back the orders it was given; when it leaves them out,
        // the label is still for the orders sent to it.
        if (package.orders.empty()) package.orders = wait.orders;
        if (wait.testMode)
            refusals.push_back(package.printed() ? "Test Complete." : dazzleStatusMessage(package.status));
        else if (!package.printed())
            refusals.push_back(dazzleStatusMessage(package.status));
    }
    const DateTime now = m_session.eBayNow();
    if (!recordAnswer(Carrier::Dazzle, [&] {
            if (wait.testMode) return; // a test label stores nothing, whatever DAZzle says
            for (const DazzlePackage &package : results.packages)
                if (package.printed()) {
                    recorded.push_back(appendDazzleLabel(m_session.store, wait.active, package, now));
                    postage.push_back(package.finalPostage);
                }
        }))
        return;
    std::error_code ec;
    std::filesystem::remove(wait.answerFile, ec);
    unwatch(Carrier::Dazzle);

    for (const std::string &message : refusals)
        m_shell.messageBox(kTitle, message);
    if (foreground && recorded.empty()) setSendButton("Print Postage", false);
    for (size_t k = 0; k < recorded.size(); ++k) {
        if (foreground) setSendButton("Updating status...", true);
        const size_t sent = uploadLabel(recorded[k], "USPS", wait.active);
        const std::string status =
            recordedStatus("Label printed", recorded[k].trackingNumber, sent, recorded[k].orders.size());
        m_shell.setStatus(status);
        if (foreground) {
            m_formSpent = true;
            m_shell.page().element("PostagePaid").setInnerText(postage[k]);
            setSendButton("Print Postage", true);
        } else {
            m_shell.messageBox(kTitle, "DAZzle printed the label you had left (" + ordersText(recorded[k].orders) +
                                           ") after all. " + status);
        }
    }
    m_shell.ProcessingImageHide();
    if (!foreground && !recorded.empty() && onMainPage()) m_table.RefreshGrid();
}

void Printing::completeWorldShip(const PostageWait &wait, const WorldShipOutput &output)
{
    if (!output.shipped()) return endWait(Carrier::WorldShip, notShippedMessage(output), true);
    const bool foreground = m_watch[size_t(Carrier::WorldShip)]->foreground();
    RecordedLabel label;
    if (!recordAnswer(Carrier::WorldShip,
                      [&] { label = appendWorldShipLabel(m_session.store, output, wait.orders, m_session.eBayNow()); }))
        return;
    std::error_code ec;
    std::filesystem::remove(wait.answerFile, ec);
    unwatch(Carrier::WorldShip);

    const size_t sent = uploadLabel(label, "UPS", wait.active);
    const std::string status =
        recordedStatus("WorldShip shipment recorded", label.trackingNumber, sent, label.orders.size());
    m_shell.setStatus(status);
    if (foreground)
        m_formSpent = true;
    else
        m_shell.messageBox(kTitle, "WorldShip shipped the shipment you had left (" + ordersText(label.orders) +
                                       ") after all. " + status);
    m_shell.ProcessingImageHide();
    if (!foreground && onMainPage()) m_table.RefreshGrid();
}

// --- tracking numbers eBay refused ------------------------------------------------------------

void Printing::ResendTracking(const std::string &itemId, const std::string &transactionId)
{
    const std::optional<orders::PendingUpload> pending =
        orders::pendingUpload(ensureShippingLabels(m_session.store), itemId, transactionId);
    // Only a refusal is offered again: an unanswered upload may have reached
    // eBay, and only a download (which asks eBay) sends it again.
    if (pending && pending->status == orders::kUploadRefused) {
        RecordedLabel label{pending->trackingNumber, {{itemId, transactionId}}};
        if (uploadLabel(label, pending->carrier, activeStoreDocument(m_session.currentView)) == 1)
            m_shell.setStatus("Tracking number sent to eBay for item " + itemId + ".");
    }
    m_shell.ProcessingImageHide();
    m_table.RefreshGrid();
}

} // namespace tw::postage
