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

// Every shipped order has a tracking record; a quarter are delivered.
tw::xml::Document trackingFor(const tw::xml::Document &orders)
{
    std::string text = "<TrackingNumbers>";
    int k = 0;
    for (tw::xml::Node t = orders.root().firstElement(); t; t = t.nextElement(), ++k) {
        std::string number = t.select("ShippingDetails/ShipmentTrackingNumber").text();
        if (number.empty()) number = "NONE" + std::to_string(k);
        text += "<TrackingNumber ID=\"" + number +
                "\"><LastChecked>2008-01-01 00:00:00</LastChecked>"
                "<TrackSummary><EventDate>January 7, 2008</EventDate><Event>" +
                std::string(k % 4 == 0 ? "Delivered, In/At Mailbox" : "Out for Delivery") +
                "</Event></TrackSummary></TrackingNumber>";
    }
    return tw::xml::Document::parse(text + "</TrackingNumbers>");
}

void BM_UpdateShipmentStatus50000(benchmark::State &state)
{
    Folder folder;
    for (auto _ : state) {
        state.PauseTiming();
        tw::store::Store store;
        std::filesystem::create_directories(folder.path);
        load(store, folder);
        store.trackingNumbers() = trackingFor(store.transactions());
        std::filesystem::remove_all(folder.path);
        state.ResumeTiming();
        // The first pass classifies every shipped order (and saves once).
        int changed = tw::orders::UpdateShipmentStatus(store);
        benchmark::DoNotOptimize(changed);
        state.PauseTiming();
        store = tw::store::Store();
        state.ResumeTiming();
    }
}

void BM_UpdateShipmentStatusNoChange50000(benchmark::State &state)
{
    Folder folder;
    tw::store::Store store;
    load(store, folder);
    store.trackingNumbers() = trackingFor(store.transactions());
    tw::orders::UpdateShipmentStatus(store);
    for (auto _ : state)
        benchmark::DoNotOptimize(tw::orders::UpdateShipmentStatus(store));
}

void BM_SaveTransactions50000(benchmark::State &state)
{
    Folder folder;
    tw::store::Store store;
    load(store, folder);
    for (auto _ : state)
        benchmark::DoNotOptimize(store.save(tw::store::Doc::Transactions));
}

} // namespace

BENCHMARK(BM_Merge5000Into50000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_UpdateShipmentStatus50000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_UpdateShipmentStatusNoChange50000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SaveTransactions50000)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
