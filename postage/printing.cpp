#include "postage/printing.h"

#include "ebay/clseBayAPI.h"
#include "pages/pages.h"
#include "platform/clock.h"
#include "postage/formpage.h"
#include "postage/labels.h"
#include "store/basFunctions.h"
#include "store/settings.h"
#include "ui/layouts.h"
#include "ui/served.h"

#include <QProcess>
#include <QString>
#include <QStringList>

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

// eBay's warning acknowledgement still means the call was carried out.
bool accepted(std::string_view ack)
{
    return ack == "Success" || ack == "Warning";
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
    if (selectOrders(ui::orderRows(m_shell.page())))
        m_shell.navigate(pages::url(kind == FormKind::Dazzle ? ui::kPrintPostagePage : ui::kPrintPostageWorldShipPage));
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

void Printing::refuseSend(const std::string &message)
{
    m_shell.messageBox(kTitle, message);
    setSendButton("Print Postage", false);
    m_shell.ProcessingImageHide();
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
    // A send while an earlier one waits starts afresh: its files are deleted.
    m_shell.stopTimer(kDazzleTimer);
    m_dazzleWait.reset();

    const xml::Node selection = selectionRoot();
    if (!selection || !selection.firstElement()) return refuseSend(std::string(kNoSelection));
    const xml::Document &settings = m_session.store.settings();
    Checked<DazzlePrint> print = writeDazzlePackage(dazzleDefinitions(), form, customs, settings, selection, tempDir());
    if (!print) return refuseSend(print.error());

    QStringList arguments;
    for (const std::string &argument : print->command.arguments)
        arguments << qs(argument);
    // Started without a shell: a path with blanks stays one argument.
    if (!QProcess::startDetached(qs(print->command.program.string()), arguments))
        return refuseSend("DAZzle could not be started (" + print->command.program.string() +
                          "). Check the DAZzle path in Tools > Options.");

    m_dazzleWait =
        Wait{print->files.resultsFile, activeStoreDocument(m_session.currentView), selectionOrders(selection),
             std::nullopt, m_table.busy().hold(Busy::Options::wait("CancelPrintPostage", std::string(kDazzleTimer)))};
    m_shell.startTimer(kDazzleTimer);
}

void Printing::PrintPostageSendWorldShip()
{
    sendToWorldShip(readForm(m_shell.page()));
}

void Printing::sendToWorldShip(const FormValues &form)
{
    m_shell.ProcessingImageDisplay("Printing");
    m_shell.stopTimer(kWorldShipTimer);
    m_worldShipWait.reset();

    const xml::Node selection = selectionRoot();
    auto refuse = [this](const std::string &message) {
        m_shell.messageBox(kTitle, message);
        m_shell.ProcessingImageHide();
    };
    if (!selection || !selection.firstElement()) return refuse(std::string(kNoSelection));
    Checked<WorldShipFiles> files = writeWorldShipImport(form, m_session.store.settings());
    if (!files) return refuse(files.error());

    m_shell.ProcessingImageDisplay("Waiting for WorldShip");
    m_worldShipWait =
        Wait{files->outputFile, activeStoreDocument(m_session.currentView), selectionOrders(selection), std::nullopt,
             m_table.busy().hold(Busy::Options::wait("CancelPrintPostage", std::string(kWorldShipTimer)))};
    m_shell.startTimer(kWorldShipTimer);
}

void Printing::CancelPrintPostage()
{
    m_shell.stopTimer(kDazzleTimer);
    m_shell.stopTimer(kWorldShipTimer);
    m_dazzleWait.reset();
    m_worldShipWait.reset();
    m_shell.ProcessingImageHide();
    m_table.RefreshGrid();
}

// --- waiting ----------------------------------------------------------------------------------

bool Printing::patienceOver(Wait &wait, std::chrono::seconds patience) const
{
    const std::int64_t now = clock().localNow().toMsecs();
    if (!wait.unreadableSinceMs) wait.unreadableSinceMs = now;
    return now - *wait.unreadableSinceMs >= std::chrono::milliseconds(patience).count();
}

void Printing::tmrWaitingForDazzle_Timer()
{
    m_shell.stopTimer(kDazzleTimer);
    if (!m_dazzleWait) return;
    DazzleResults results = readDazzleResults(m_dazzleWait->file);
    switch (results.state) {
    case DazzleResults::State::Missing:
        m_shell.startTimer(kDazzleTimer);
        return;
    case DazzleResults::State::Unreadable:
        // POSIX has no sharing violation: a file DAZzle is still writing
        // reads as broken XML, so it is read again on later ticks.
        if (!patienceOver(*m_dazzleWait, kUnreadableResultsPatience)) {
            m_shell.startTimer(kDazzleTimer);
            return;
        }
        m_dazzleWait.reset();
        refuseSend(unreadableResultsMessage(results));
        return;
    case DazzleResults::State::NoPackages:
        m_dazzleWait.reset();
        refuseSend(noPackagesMessage());
        return;
    case DazzleResults::State::Read: {
        const Wait wait = std::move(*m_dazzleWait);
        m_dazzleWait.reset();
        PrintPostageComplete(results, wait);
        return;
    }
    }
}

void Printing::tmrWaitingForWorldShip_Timer()
{
    m_shell.stopTimer(kWorldShipTimer);
    if (!m_worldShipWait) return;
    WorldShipOutput output = readWorldShipOutput(m_worldShipWait->file);
    auto giveUp = [this](const std::string &message) {
        m_worldShipWait.reset();
        m_shell.messageBox(kTitle, message);
        m_shell.ProcessingImageHide();
    };
    switch (output.state) {
    case WorldShipOutput::State::Missing:
        m_shell.startTimer(kWorldShipTimer);
        return;
    case WorldShipOutput::State::Unreadable:
        if (!patienceOver(*m_worldShipWait, kUnreadableOutputPatience)) {
            m_shell.startTimer(kWorldShipTimer);
            return;
        }
        giveUp(unreadableOutputMessage(output));
        return;
    case WorldShipOutput::State::NoShipment:
        giveUp(noShipmentMessage());
        return;
    case WorldShipOutput::State::Read: {
        const Wait wait = std::move(*m_worldShipWait);
        m_worldShipWait.reset();
        PrintPostageCompleteWorldShip(output, wait);
        return;
    }
    }
}

// --- completing --------------------------------------------------------------------------------

bool Printing::upload(ebay::clseBayAPI &api, const DazzleOrder &order, store::Doc active, const std::string &carrier,
                      const std::string &trackingNumber)
{
    const std::string ack =
        api.SynchronousMarkShippedStatus(order.itemId, order.transactionId, true, carrier, trackingNumber);
    if (!accepted(ack)) {
        m_shell.messageBox(kTitle, kEbayRefusedUpload);
        return false;
    }
    markOrderShipped(m_session.store, active, order.itemId, order.transactionId, trackingNumber, m_session.eBayNow());
    return true;
}

void Printing::PrintPostageComplete(const DazzleResults &results, const Wait &wait)
{
    ensureShippingLabels(m_session.store);
    ebay::clseBayAPI api(m_session, m_shell);
    for (DazzlePackage package : results.packages) {
        // DAZzle hands back the orders it was given; when it leaves them out,
        // the label is still for the orders sent to it.
        if (package.orders.empty()) package.orders = wait.orders;
        if (!package.printed()) {
            m_shell.messageBox(kTitle, dazzleStatusMessage(package.status));
            setSendButton("Print Postage", false);
            continue;
        }
        setSendButton("Updating status...", true);
        // Recorded before anything goes to eBay: a printed label is never lost.
        const RecordedLabel label = recordDazzleLabel(m_session.store, wait.active, package, m_session.eBayNow());
        size_t sent = 0;
        for (const DazzleOrder &order : package.orders) {
            m_shell.ProcessingImageDisplay(
                uploadingTrackingHtml(order.itemId, order.transactionId, "USPS", label.trackingNumber));
            if (upload(api, order, wait.active, "USPS", label.trackingNumber)) ++sent;
        }
        m_shell.page().element("PostagePaid").setInnerText(package.finalPostage);
        setSendButton("Print Postage", true);
        m_shell.ProcessingImageHide();
        m_shell.setStatus(recordedStatus("Label printed", label.trackingNumber, sent, package.orders.size()));
    }
    m_shell.ProcessingImageHide();
}

void Printing::PrintPostageCompleteWorldShip(const WorldShipOutput &output, const Wait &wait)
{
    const RecordedLabel label = recordWorldShipLabel(m_session.store, output, m_session.eBayNow());
    // "Unknown" stays in the label; eBay gets no number rather than that word.
    const std::string number = label.trackingNumber == "Unknown" ? std::string() : label.trackingNumber;
    ebay::clseBayAPI api(m_session, m_shell);
    size_t sent = 0;
    for (const DazzleOrder &order : wait.orders) {
        m_shell.ProcessingImageDisplay(
            uploadingTrackingHtml(order.itemId, order.transactionId, "UPS", label.trackingNumber));
        if (upload(api, order, wait.active, "UPS", number)) ++sent;
    }
    m_shell.ProcessingImageHide();
    m_shell.setStatus(recordedStatus("WorldShip shipment recorded", number, sent, wait.orders.size()));
}

} // namespace tw::postage
