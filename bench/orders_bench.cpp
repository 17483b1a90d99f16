// The order merge and the shipment-status pass at a seller's full scale,
// with the whole-document saves measured on their own.
#include "bench/order_data.h"
#include "orders/merge.h"
#include "orders/shipment.h"
#include "platform/xml.h"
#include "store/store.h"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace {

constexpr int kStored = 50000;

struct Folder {
    std::filesystem::path path = std::filesystem::temp_directory_path() / "tidewell-bench-orders";
    Folder() { std::filesystem::create_directories(path); }
    ~Folder() { std::filesystem::remove_all(path); }
};

void load(tw::store::Store &store, const Folder &folder)
{
    store.open(folder.path);
    store.transactions() = tw::xml::Document::load(tw::bench::transactionsFile(kStored));
}

// 5,000 downloaded orders: 2,500 already stored (re-downloads), 2,500 new.
tw::xml::Document downloaded()
{
    std::string text = tw::bench::transactionsXml(5000, kStored - 2500);
    size_t start = text.find("<Transaction ");
    size_t end = text.rfind("</Transactions>");
    return tw::xml::Document::parse(
        "<GetSellerTransactionsResponse xmlns=\"urn:ebay:apis:eBLBaseComponents\"><TransactionArray>" +
        text.substr(start, end - start) + "</TransactionArray></GetSellerTransactionsResponse>");
}

void BM_Merge5000Into50000(benchmark::State &state)
{
    Folder folder;
    tw::xml::Document answer = downloaded();
    for (auto _ : state) {
        state.PauseTiming();
        tw::store::Store store;
        std::filesystem::create_directories(folder.path);
        load(store, folder);
        // Without its save (measured on its own below): with the folder gone
        // the save gives up at once.
        std::filesystem::remove_all(folder.path);
        state.ResumeTiming();
        tw::orders::mergeTransactions(store, answer);
        state.PauseTiming();
        if (store.transactions().root().elements().size() != size_t(kStored + 2500)) state.SkipWithError("wrong count");
        store = tw::store::Store(); // freeing 50,000 orders is not the merge's cost
        state.ResumeTiming();
    }
}

// Three quarters of the stored orders are shipped, each with a tracking
// record; a quarter of those are delivered.
constexpr int kShipped = kStored * 3 / 4;
constexpr int kDelivered = (kShipped + 3) / 4;

void withTracking(tw::store::Store &store)
{
    store.trackingNumbers() = tw::xml::Document::parse(tw::bench::trackingNumbersXml(kStored));
}

// The counts the pass must produce, checked after every run.
bool countsRight(const tw::store::Store &store)
{
    tw::orders::ViewCounts c = tw::orders::countViews(store);
    return c.deliveredNeedsFollowUp == kDelivered && c.inTransit == kShipped - kDelivered &&
           c.notShipped == kStored - kShipped;
}

void BM_UpdateShipmentStatus50000(benchmark::State &state)
{
    Folder folder;
    for (auto _ : state) {
        state.PauseTiming();
        tw::store::Store store;
        std::filesystem::create_directories(folder.path);
        load(store, folder);
        withTracking(store);
        std::filesystem::remove_all(folder.path);
        state.ResumeTiming();
        // The first pass classifies every shipped order (its save gives up
        // at once here: the folder is gone).
        int changed = tw::orders::UpdateShipmentStatus(store);
        state.PauseTiming();
        if (changed != kShipped || !countsRight(store)) state.SkipWithError("wrong classification");
        store = tw::store::Store();
        state.ResumeTiming();
    }
    state.counters["delivered"] = kDelivered;
    state.counters["in_transit"] = kShipped - kDelivered;
}

void BM_UpdateShipmentStatusNoChange50000(benchmark::State &state)
{
    Folder folder;
    tw::store::Store store;
    load(store, folder);
    withTracking(store);
    tw::orders::UpdateShipmentStatus(store);
    if (!countsRight(store)) state.SkipWithError("wrong classification");
    for (auto _ : state)
        if (tw::orders::UpdateShipmentStatus(store) != 0) state.SkipWithError("changed on a second pass");
}

void BM_SaveTransactions50000(benchmark::State &state)
{
    Folder folder;
    tw::store::Store store;
    load(store, folder);
    for (auto _ : state)
        if (!store.save(tw::store::Doc::Transactions)) state.SkipWithError("save failed");
}

} // namespace

BENCHMARK(BM_Merge5000Into50000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_UpdateShipmentStatus50000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_UpdateShipmentStatusNoChange50000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SaveTransactions50000)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
