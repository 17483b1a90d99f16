// Start-up, saving and looking up orders in a large seller's store, each
// beside what libxml2 alone needs for the same files (the floor).
#include "bench/order_data.h"
#include "orders/shipment.h"
#include "platform/xml.h"
#include "store/order_index.h"
#include "store/session.h"
#include "store/store.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <malloc.h>
#include <vector>

namespace {

constexpr int kOrders = 50000;

// A program starts with a fresh heap; after the previous iteration freed
// 180 MB of nodes the allocator would tidy up inside the timed part.
void freshHeap()
{
    ::malloc_trim(0);
}

// The real start-up: the lookup tables, the ten documents, the settings
// upgrades (which save Settings.xml), then what the first view needs: the
// order and tracking indexes and the four counts.
void BM_StartUp(benchmark::State &state)
{
    const auto dir = tw::bench::dataFolder(kOrders);
    for (auto _ : state) {
        state.PauseTiming();
        tw::xml::writeFileAtomically(dir / "Settings.xml", tw::bench::olderSettingsXml());
        freshHeap();
        {
            state.ResumeTiming();
            tw::Session session;
            if (!session.openStore(dir).empty()) state.SkipWithError("a store file was not read");
            tw::store::OrderIndex orders(session.store.transactions().root());
            tw::store::RecordIndex tracking(session.store.trackingNumbers().root(), "TrackingNumber",
                                            [](tw::xml::Node r) { return r.attribute("ID"); });
            tw::orders::ViewCounts counts = tw::orders::countViews(session.store);
            benchmark::DoNotOptimize(counts);
            if (orders.size() != size_t(kOrders) || tracking.size() != size_t(kOrders) * 3 / 4)
                state.SkipWithError("wrong record count");
            if (session.store.settings().select("Settings/DeliveredFollowUpMessage"))
                state.SkipWithError("settings not upgraded");
            state.PauseTiming(); // freeing the documents is not start-up
        }
        state.ResumeTiming();
    }
    state.counters["MB"] = [&] {
        double bytes = 0;
        for (const auto &entry : std::filesystem::directory_iterator(dir))
            bytes += double(entry.file_size());
        return bytes / 1e6;
    }();
}

// The floor: libxml2 parsing the same ten files, nothing else.
void BM_StartUpFloorLibxml2(benchmark::State &state)
{
    const auto dir = tw::bench::dataFolder(kOrders);
    std::vector<std::filesystem::path> files;
    for (int k = 0; k < tw::store::kDocCount; ++k)
        files.push_back(dir / tw::store::info(tw::store::Doc(k)).file);
    freshHeap();
    for (auto _ : state) {
        std::vector<xmlDocPtr> docs;
        for (const auto &f : files)
            docs.push_back(xmlReadFile(f.c_str(), nullptr, XML_PARSE_NONET));
        state.PauseTiming();
        for (xmlDocPtr d : docs) {
            if (!d) state.SkipWithError("not parsed");
            xmlFreeDoc(d);
        }
        freshHeap();
        state.ResumeTiming();
    }
}

// Saving Transactions.xml: serialised, checked to read back, written to a
// temporary file, flushed to disk and renamed over the old one.
void BM_SaveTransactions(benchmark::State &state)
{
    auto file = tw::bench::transactionsFile(kOrders);
    auto out = file.parent_path() / "tidewell-bench-save.xml";
    tw::xml::Document doc = tw::xml::Document::load(file);
    for (auto _ : state)
        if (!doc.save(out)) state.SkipWithError("save failed");
    std::filesystem::remove(out);
    state.counters["MB"] = double(std::filesystem::file_size(file)) / 1e6;
}

// The floor: libxml2 writing the document to a file, without a check, a
// temporary file or a flush.
void BM_SaveFloorLibxml2(benchmark::State &state)
{
    auto file = tw::bench::transactionsFile(kOrders);
    auto out = file.parent_path() / "tidewell-bench-raw-save.xml";
    xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET);
    for (auto _ : state)
        if (xmlSaveFileEnc(out.c_str(), doc, "UTF-8") < 0) state.SkipWithError("save failed");
    xmlFreeDoc(doc);
    std::filesystem::remove(out);
}

std::vector<std::pair<std::string, std::string>> someKeys(int n)
{
    std::vector<std::pair<std::string, std::string>> keys;
    for (int i = 0; i < n; ++i) {
        int k = int((long long)i * 7919 % kOrders);
        keys.emplace_back(std::to_string(1100000000 + k / 3), std::to_string(k));
    }
    return keys;
}

void BM_Lookup5000Indexed(benchmark::State &state)
{
    tw::xml::Document doc = tw::xml::Document::load(tw::bench::transactionsFile(kOrders));
    auto keys = someKeys(5000);
    for (auto _ : state) {
        tw::store::OrderIndex index(doc.root()); // building it is part of the cost
        int found = 0;
        for (auto &[item, txn] : keys)
            found += bool(index.find(item, txn));
        if (found != 5000) state.SkipWithError("missing orders");
    }
}

void BM_LookupOneByQuery(benchmark::State &state)
{
    tw::xml::Document doc = tw::xml::Document::load(tw::bench::transactionsFile(kOrders));
    auto keys = someKeys(5);
    size_t i = 0;
    for (auto _ : state) {
        auto &[item, txn] = keys[i++ % keys.size()];
        if (!tw::store::findOrder(doc, item, txn)) state.SkipWithError("missing order");
    }
}

} // namespace

BENCHMARK(BM_StartUp)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StartUpFloorLibxml2)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SaveTransactions)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SaveFloorLibxml2)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Lookup5000Indexed)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LookupOneByQuery)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
