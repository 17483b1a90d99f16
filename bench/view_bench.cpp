// The transactions view in the real browser (offscreen WebEngine): drawing a
// view of 1,000 and 10,000 orders with six history entries each, beside its
// floor, the same rows' HTML put into the table in one call with the layout
// forced; how soon the first rows are on screen; and the rows' HTML alone.

#include "bench/order_data.h"
#include "orders/shipment.h"
#include "pages/pages.h"
#include "platform/clock.h"
#include "platform/config.h"
#include "platform/defer.h"
#include "platform/web/scheme.h"
#include "platform/web/webpage.h"
#include "store/session.h"
#include "ui/overlay.h"
#include "ui/rows.h"
#include "ui/served.h"
#include "ui/view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace {

using namespace tw;

// A Shell over the page and nothing else: the window's other parts do not
// take part in drawing.
class PageShell : public Shell {
  public:
    explicit PageShell(web::WebPage &page) : m_page(page)
    {
        page.documentReplaced = [this] { m_shown = false; };
    }
    page::Page &page() override { return m_page; }
    void setStatus(std::string_view, int) override {}
    void ProcessingImageDisplay(std::string_view message) override
    {
        ui::ProcessingImageDisplay(m_page, message);
        m_shown = true;
    }
    void ProcessingImageHide() override
    {
        m_shown = false;
        ui::ProcessingImageHide(m_page);
    }
    void ProcessingImageReposition() override { ui::ProcessingImageReposition(m_page); }
    bool processingShown() const override { return m_shown; }
    void messageBox(std::string_view, std::string_view) override {}
    bool askYesNo(std::string_view, std::string_view) override { return false; }
    std::optional<std::string> inputBox(std::string_view, std::string_view, std::string_view) override
    {
        return std::nullopt;
    }
    std::optional<size_t> chooseItem(std::string_view, std::string_view, const std::vector<std::string> &) override
    {
        return std::nullopt;
    }
    void setEnabled(std::string_view, bool) override {}
    void startTimer(std::string_view) override {}
    void stopTimer(std::string_view) override {}
    void navigate(const std::string &url, const std::string &) override
    {
        m_page.navigate(QUrl(QString::fromStdString(url)));
    }
    void openExternal(const std::string &) override {}
    void post(std::function<void()> task) override { runAfterCurrentEvent(qApp, std::move(task)); }

  private:
    web::WebPage &m_page;
    bool m_shown = false;
};

QVariant mainWorld(web::WebPage &page, const QString &js)
{
    QVariant result;
    bool done = false;
    QEventLoop loop;
    page.runJavaScript(js, [&](const QVariant &v) {
        result = v;
        done = true;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    if (!done) loop.exec();
    return result;
}

std::string order(int k)
{
    const std::string id = std::to_string(1100000000 + k), txn = std::to_string(k), buyer = "buyer" + std::to_string(k);
    return "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>" + id +
           "</ItemID><Title>Vintage brass lamp &lt;b&gt;rare&lt;/b&gt; #" + std::to_string(k) +
           "</Title><SKU>SKU-1</SKU></Item><TransactionID>" + txn +
           "</TransactionID><QuantityPurchased>2</QuantityPurchased><Buyer><UserID>" + buyer + "</UserID><Email>" +
           buyer + "@example.com</Email><FeedbackScore>12</FeedbackScore><Status>Confirmed</Status><EIASToken>eias" +
           txn +
           "</EIASToken></Buyer><PaidTime>2008-01-02T10:00:00.000Z</PaidTime><ShippedTime>2008-01-03T10:00:00.000Z"
           "</ShippedTime><ShippingDetails><SellingManagerSalesRecordNumber>" +
           txn + "</SellingManagerSalesRecordNumber><ShipmentTrackingNumber>9101" + txn +
           "</ShipmentTrackingNumber><ShippingServiceUsed>USPSPriority</ShippingServiceUsed></ShippingDetails>"
           "<ShippingServiceSelected><ShippingService>USPSPriority</ShippingService><ShippingServiceCost>4.95"
           "</ShippingServiceCost></ShippingServiceSelected><Status><PaymentMethodUsed>PayPal</PaymentMethodUsed>"
           "</Status><PaypalTransaction><TRANSACTIONID>P" +
           txn + "</TRANSACTIONID><ORDERTIME>2008-01-02T10:00:00Z</ORDERTIME><AMT>24.90</AMT><EMAIL>payer" + txn +
           "@example.com</EMAIL><PAYMENTSTATUS>Completed</PAYMENTSTATUS><NOTE>Please wrap it</NOTE>"
           "</PaypalTransaction><KORVA><ShipmentStatus>Delivered</ShipmentStatus></KORVA></Transaction>";
}

// A data folder whose Delivered view holds `count` orders with six history
// entries each: the PayPal payment and note, the shipping, a question, a
// feedback and a sent message.
struct Data {
    std::filesystem::path dir;
    std::unique_ptr<Session> session;
};

Data makeData(int count)
{
    Data d;
    d.dir = std::filesystem::temp_directory_path() / ("tidewell-view-bench-" + std::to_string(count));
    std::filesystem::remove_all(d.dir);
    std::filesystem::create_directories(d.dir);
    d.session = std::make_unique<Session>();
    d.session->openStore(d.dir);
    std::string tx = "<Transactions>", tracking = "<TrackingNumbers>", questions = "<Messages>",
                feedback = "<Feedbacks>", sent = "<Messages>";
    for (int k = 0; k < count; ++k) {
        const std::string id = std::to_string(1100000000 + k), txn = std::to_string(k),
                          buyer = "buyer" + std::to_string(k);
        tx += order(k);
        tracking += "<TrackingNumber ID=\"9101" + txn +
                    "\"><LastChecked>2008-01-08 10:00:00</LastChecked><TrackSummary><EventDate>January 6, 2008"
                    "</EventDate><Event>Delivered</Event></TrackSummary></TrackingNumber>";
        questions += "<MemberMessageExchange><Item><ItemID>" + id + "</ItemID></Item><Question><SenderID>" + buyer +
                     "</SenderID><Body>Is it still available?</Body></Question><CreationDate>"
                     "2008-01-01T10:00:00.000Z</CreationDate></MemberMessageExchange>";
        feedback += "<FeedbackDetail><ItemID>" + id + "</ItemID><TransactionID>" + txn +
                    "</TransactionID><CommentType>Positive</CommentType><CommentText>Great seller</CommentText>"
                    "<CommentTime>2008-01-07T10:00:00.000Z</CommentTime></FeedbackDetail>";
        sent += "<Message><ItemID>" + id + "</ItemID><SendToName>" + buyer +
                "</SendToName><ReceiveDate>2008-01-04T10:00:00.000Z</ReceiveDate><MessageSystem>SMTP</MessageSystem>"
                "<Text>Your lamp is on its way.</Text></Message>";
    }
    store::Store &s = d.session->store;
    s.doc(store::Doc::Transactions) = xml::Document::parse(tx + "</Transactions>");
    s.doc(store::Doc::TrackingNumbers) = xml::Document::parse(tracking + "</TrackingNumbers>");
    s.doc(store::Doc::Messages) = xml::Document::parse(questions + "</Messages>");
    s.doc(store::Doc::Feedback) = xml::Document::parse(feedback + "</Feedbacks>");
    s.doc(store::Doc::SentMessages) = xml::Document::parse(sent + "</Messages>");
    d.session->eBayDetails = xml::Document::parse(
        "<GeteBayDetailsResponse><ShippingServiceDetails><ShippingService>USPSPriority</ShippingService>"
        "<ShippingCarrier>USPS</ShippingCarrier><Description>Priority Mail</Description></ShippingServiceDetails>"
        "</GeteBayDetailsResponse>");
    // A rating answer that is shown and never asked again.
    d.session->feedbackRating = xml::Document::parse("<GetFeedbackResponse><Ack>Failure</Ack></GetFeedbackResponse>");
    d.session->currentView = "DeliveredNeedsFollowUp";
    return d;
}

web::WebPage *g_page = nullptr;

bool loadMainPage()
{
    bool ok = false;
    QEventLoop loop;
    auto c = QObject::connect(g_page, &QWebEnginePage::loadFinished, &loop, [&](bool done) {
        ok = done;
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    g_page->navigate(QUrl(QString::fromStdString(pages::url(ui::kMainPage))));
    loop.exec();
    QObject::disconnect(c);
    return ok;
}

void BM_RowHtml1000(benchmark::State &state)
{
    Data d = makeData(1000);
    const std::vector<xml::Node> sorted = ui::viewOrders(d.session->store, ui::kDeliveredNeedsFollowUp);
    for (auto _ : state) {
        ui::RowBuilder builder(*d.session, ui::kDeliveredNeedsFollowUp, tw::clock().localNow());
        size_t bytes = 0;
        for (size_t k = 0; k < sorted.size(); ++k)
            bytes += builder.row(sorted[k], int(k)).size();
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_RowHtml1000)->Unit(benchmark::kMillisecond);

// The whole drawing, and the time from its start until the first rows were
// painted (a frame after they entered the page), measured in the page.
void drawView(benchmark::State &state)
{
    Data d = makeData(int(state.range(0)));
    PageShell shell(*g_page);
    double firstRows = 0;
    for (auto _ : state) {
        if (!loadMainPage()) state.SkipWithError("main page did not load");
        mainWorld(*g_page, "window.__first = 0; var t = document.getElementById('TransactionsTable');"
                           "new MutationObserver(function (m, o) {"
                           "  if (t.querySelector('tr[ItemID]')) { o.disconnect();"
                           "    requestAnimationFrame(function () { window.__first = performance.now(); }); }"
                           "}).observe(t, {childList: true, subtree: true});"
                           "window.__start = performance.now(); true");
        QElapsedTimer timer;
        timer.start();
        ui::DisplayTransactions(*d.session, shell);
        mainWorld(*g_page, "document.body.offsetHeight");
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        firstRows = mainWorld(*g_page, "window.__first - window.__start").toDouble();
    }
    state.counters["first_rows_ms"] = firstRows;
}

// The floor: the same rows' HTML put into the table in one call, layout forced.
void floorView(benchmark::State &state)
{
    Data d = makeData(int(state.range(0)));
    const std::vector<xml::Node> sorted = ui::viewOrders(d.session->store, ui::kDeliveredNeedsFollowUp);
    ui::RowBuilder builder(*d.session, ui::kDeliveredNeedsFollowUp, tw::clock().localNow());
    std::string html;
    for (size_t k = 0; k < sorted.size(); ++k)
        html += builder.row(sorted[k], int(k));
    for (auto _ : state) {
        if (!loadMainPage()) state.SkipWithError("main page did not load");
        page::Element table = g_page->element("TransactionsTable");
        QElapsedTimer timer;
        timer.start();
        table.appendHTML(html);
        mainWorld(*g_page, "document.body.offsetHeight");
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
}

// Each step of a tab click on a large seller's store (a third each not
// shipped, in transit and delivered), the table holding the Delivered view
// when In Transit is clicked: the status pass (first and with nothing to
// change), the view's order, the counts, the rows' lookups, clearing the
// table, the first screenful into the page, and the whole click to the first
// rows painted.
void BM_DrawSteps(benchmark::State &state)
{
    const int count = int(state.range(0));
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tidewell-steps-bench-" + std::to_string(count));
    std::filesystem::remove_all(dir);
    std::filesystem::copy(bench::dataFolder(count), dir);
    Session session;
    session.openStore(dir);
    session.eBayDetails = xml::Document::parse(
        "<GeteBayDetailsResponse><ShippingServiceDetails><ShippingService>USPSPriority</ShippingService>"
        "<ShippingCarrier>USPS</ShippingCarrier><Description>Priority Mail</Description></ShippingServiceDetails>"
        "</GeteBayDetailsResponse>");
    session.feedbackRating = xml::Document::parse("<GetFeedbackResponse><Ack>Failure</Ack></GetFeedbackResponse>");
    PageShell shell(*g_page);
    Busy busy;
    busy.setPoster([](std::function<void()> task) { runAfterCurrentEvent(qApp, std::move(task)); });
    std::map<std::string, double> ms;
    auto step = [&ms](const char *name, auto &&work) {
        QElapsedTimer t;
        t.start();
        work();
        ms[name] = double(t.nsecsElapsed()) / 1e6;
    };
    for (auto _ : state) {
        if (!loadMainPage()) state.SkipWithError("main page did not load");
        step("status_first_ms", [&] { orders::UpdateShipmentStatus(session.store); });
        step("status_again_ms", [&] { orders::UpdateShipmentStatus(session.store); });
        step("sort_ms", [&] { benchmark::DoNotOptimize(ui::viewOrders(session.store, ui::kInTransit)); });
        step("counts_ms", [&] { benchmark::DoNotOptimize(orders::countViews(session.store)); });
        step("lookups_ms", [&] { ui::RowBuilder(session, ui::kInTransit, tw::clock().localNow()); });
        // One view object as the window keeps it: In Transit drawn once (its
        // order kept), the Delivered view whole in the table, then In
        // Transit clicked again.
        ui::View view(session, shell, &busy);
        for (std::string_view shown : {ui::kInTransit, ui::kDeliveredNeedsFollowUp}) {
            session.currentView = std::string(shown);
            view.draw();
            view.completeRows();
        }
        const int rows = mainWorld(*g_page, "document.querySelectorAll('#TransactionsTable tr').length").toInt();
        if (rows < count / 4) state.SkipWithError("the Delivered view was not drawn");
        // The seller clicks once the page has laid out and painted them and
        // let go of the rows before them.
        auto settled = [] {
            return mainWorld(*g_page,
                             "window.__idle = false; requestIdleCallback(function () { window.__idle = true; });"
                             "!document.querySelector('div[style*=\"content-visibility\"]')")
                .toBool();
        };
        while (!settled() || !mainWorld(*g_page, "window.__idle").toBool()) {
            QEventLoop wait;
            QTimer::singleShot(20, &wait, &QEventLoop::quit);
            wait.exec();
        }
        session.currentView = std::string(ui::kInTransit);
        mainWorld(*g_page, "window.__first = 0;"
                           "new MutationObserver(function (m, o) {"
                           "  var t = document.getElementById('TransactionsTable');"
                           "  if (t && t.querySelector('tr[ItemID]')) { o.disconnect();"
                           "    requestAnimationFrame(function () { window.__first = performance.now(); }); }"
                           "}).observe(document.body, {childList: true, subtree: true});"
                           "window.__start = performance.now(); true");
        step("click_draw_ms", [&] { view.draw(); });
        mainWorld(*g_page, "document.body.offsetHeight");
        ms["click_first_rows_painted_ms"] = mainWorld(*g_page, "window.__first - window.__start").toDouble();
        // The steps inside the page, alone.
        ui::DisplayTransactions(session, shell);
        page::Element table = g_page->element("TransactionsTable");
        step("clear_ms", [&] {
            table.keepRows(1);
            mainWorld(*g_page, "document.body.offsetHeight");
        });
        const std::vector<xml::Node> orders = ui::viewOrders(session.store, ui::kInTransit);
        step("first_batch_ms", [&] {
            ui::RowBuilder builder(session, ui::kInTransit, tw::clock().localNow());
            std::string html;
            for (size_t k = 0; k < 30 && k < orders.size(); ++k)
                html += builder.row(orders[k], int(k));
            table.appendHTML(html);
            mainWorld(*g_page, "document.body.offsetHeight");
        });
        state.SetIterationTime(ms["click_first_rows_painted_ms"] / 1e3);
    }
    for (const auto &[name, value] : ms)
        state.counters[name] = value;
}
BENCHMARK(BM_DrawSteps)->Arg(10000)->Arg(50000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK(drawView)
    ->Name("BM_DrawView")
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(floorView)
    ->Name("BM_DrawFloor")
    ->Arg(1000)
    ->Arg(10000)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    tw::web::registerPagesScheme();
    QApplication app(argc, argv);
    tw::setConfig(tw::Config());
    QWebEngineView view;
    g_page = new tw::web::WebPage(QWebEngineProfile::defaultProfile(), &view);
    view.setPage(g_page);
    view.resize(1280, 900);
    view.show();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
