// The real program on a large seller's folder (50,000 orders, a third each
// not shipped, in transit and delivered, about 16,700 to a view), driven as
// the end-to-end tests drive it: from the start of the process to the first
// screenful of the shown view, beside libxml2 parsing the same ten files;
// each tab click to its first screenful (the first click of a tab and a later
// one) and to a view that answers (a tag box ticked through the page); and
// the process's peak resident memory with the first rows shown and once
// every row of a view is on the page (asked for by an action that reads them
// all), beside the store's size on disk.

#include "bench/order_data.h"
#include "tests/e2e/harness.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace tw;

const QString kMain = "/KORVA/main-1.0.47.html";

std::uintmax_t folderBytes(const fs::path &dir)
{
    std::uintmax_t bytes = 0;
    for (const auto &entry : fs::directory_iterator(dir))
        if (entry.is_regular_file() && entry.path().extension() == ".xml") bytes += entry.file_size();
    return bytes;
}

// The program's peak resident memory (VmHWM), in bytes.
std::uintmax_t peakResident(qint64 pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
    return 0;
}

// A fresh copy of the large seller's folder, signed in to the sandbox, the
// In Transit view shown first.
fs::path freshCopy(int orders, const sandbox::Sandbox &sb, const test::TempDir &dir)
{
    const fs::path data = dir / "data";
    fs::remove_all(data);
    fs::copy(bench::dataFolder(orders), data);
    test::writeFile(data / "Settings.xml",
                    std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?><Settings><eBayID>") + sb.state().sellerId +
                        "</eBayID><eBayAuthToken>" + sandbox::kDemoToken +
                        "</eBayAuthToken><LastGetSellerTransactions/><GetSellerTransactionsMaxDays>28"
                        "</GetSellerTransactionsMaxDays><LastTab>InTransit</LastTab></Settings>");
    return data;
}

// "30 of 16667" -> 16667
int totalOf(const QString &rowsLine)
{
    return rowsLine.section(" of ", 1).toInt();
}

// The first screenful of the next drawing: earlier drawings' batches may
// still be reporting.
QString firstRows(e2e::Tidewell &app)
{
    return app.nextContaining("rows", "30 of ", 120000);
}

// A command link from the main page, as the seller's click.
void click(e2e::DevTools &devTools, const QString &action)
{
    // After the evaluation has answered: a navigation the program refuses
    // can hold back the answer of a script still running.
    devTools.evaluate(kMain, "setTimeout(function () { location.href = 'http://plinthway/?Action=" + action +
                                 "'; }, 0); true");
}

void BM_LaunchToFirstRows(benchmark::State &state)
{
    const int orders = int(state.range(0));
    sandbox::Sandbox sb;
    if (!sb.start()) return state.SkipWithError("no sandbox");
    test::TempDir dir;
    const int port = e2e::freePort();
    double floorMs = 0, firstClickMs = 0, laterClickMs = 0, answerMs = 0, peakMB = 0, peakShownMB = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path data = freshCopy(orders, sb, dir);
        // The floor: libxml2 alone reading the same ten files.
        QElapsedTimer parse;
        parse.start();
        for (const auto &entry : fs::directory_iterator(data))
            if (entry.path().extension() == ".xml") xmlFreeDoc(xmlReadFile(entry.path().c_str(), nullptr, 0));
        floorMs = double(parse.nsecsElapsed()) / 1e6;
        state.ResumeTiming();

        QElapsedTimer launch;
        launch.start();
        e2e::Tidewell app(dir, {sb.config().toIni(), "", port});
        const QString first = firstRows(app);
        state.SetIterationTime(double(launch.nsecsElapsed()) / 1e9);
        if (first.isEmpty()) return state.SkipWithError("no rows drawn");

        state.PauseTiming();
        e2e::DevTools devTools(port);
        if (!e2e::waitIdle(devTools, kMain, 120000)) return state.SkipWithError("the drawing did not end");
        // Each tab to its first screenful: the first click of the Delivered
        // tab, then In Transit (drawn at launch) again.
        for (auto [action, sink] : {std::pair{"DisplayDeliveredNeedsFollowUp", &firstClickMs},
                                    std::pair{"DisplayInTransit", &laterClickMs}}) {
            QElapsedTimer tab;
            tab.start();
            click(devTools, action);
            if (firstRows(app).isEmpty()) return state.SkipWithError("no rows after a tab click");
            *sink = double(tab.nsecsElapsed()) / 1e6;
            // The view answers the seller: a row's tag box ticked and read back.
            const QString tick = "(function () { var b = document.querySelector('#TransactionsTable "
                                 "input[name=\"tagged\"]'); b.click(); var on = b.checked; b.click(); return on; })()";
            if (!devTools.evaluate(kMain, tick).contains("true")) return state.SkipWithError("the view did not answer");
            answerMs = std::max(answerMs, double(tab.nsecsElapsed()) / 1e6);
            if (!e2e::waitIdle(devTools, kMain, 120000)) return state.SkipWithError("the drawing did not end");
        }
        // Every row of the view on the page (an action that reads every row
        // draws the rest first), then the peak so far.
        const int total = totalOf(first);
        peakShownMB = double(peakResident(app.pid())) / 1e6;
        click(devTools, "UnTagAll");
        e2e::waitFor(
            [&] {
                return devTools
                    .evaluate(kMain, "String(document.querySelectorAll('#TransactionsTable tr[ItemID]').length)")
                    .contains(QString::number(total));
            },
            300000);
        peakMB = double(peakResident(app.pid())) / 1e6;
        state.ResumeTiming();
    }
    state.counters["floor_ms"] = floorMs;
    state.counters["tab_first_click_ms"] = firstClickMs;
    state.counters["tab_later_click_ms"] = laterClickMs;
    state.counters["click_to_answer_ms"] = answerMs;
    state.counters["peak_MB"] = peakMB;
    state.counters["peak_first_rows_MB"] = peakShownMB;
    state.counters["store_MB"] = double(folderBytes(bench::dataFolder(orders))) / 1e6;
}
BENCHMARK(BM_LaunchToFirstRows)->Arg(10000)->Arg(50000)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
