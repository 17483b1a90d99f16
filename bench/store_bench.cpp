// Opening, saving and looking up orders in a large Transactions.xml, beside
// libxml2's raw parse and save of the same file.
#include "bench/order_data.h"
#include "platform/xml.h"
#include "store/order_index.h"

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <vector>

namespace {

constexpr int kOrders = 50000;

void BM_RawLibxml2Parse(benchmark::State &state)
{
    auto file = tw::bench::transactionsFile(kOrders);
    for (auto _ : state) {
        xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET);
        benchmark::DoNotOptimize(doc);
        xmlFreeDoc(doc);
    }
    state.counters["MB"] = double(std::filesystem::file_size(file)) / 1e6;
}

void BM_StoreOpen(benchmark::State &state)
{
    auto file = tw::bench::transactionsFile(kOrders);
    for (auto _ : state) {
        tw::xml::Document doc = tw::xml::Document::load(file);
        benchmark::DoNotOptimize(doc.root());
    }
}

void BM_RawLibxml2Save(benchmark::State &state)
{
    auto file = tw::bench::transactionsFile(kOrders);
    auto out = file.parent_path() / "tidewell-bench-raw-save.xml";
    xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET);
    for (auto _ : state)
        benchmark::DoNotOptimize(xmlSaveFileEnc(out.c_str(), doc, "UTF-8"));
    xmlFreeDoc(doc);
    std::filesystem::remove(out);
}

void BM_StoreSaveAtomic(benchmark::State &state)
{
    auto file = tw::bench::transactionsFile(kOrders);
    auto out = file.parent_path() / "tidewell-bench-save.xml";
    tw::xml::Document doc = tw::xml::Document::load(file);
    for (auto _ : state)
        benchmark::DoNotOptimize(doc.save(out));
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
        benchmark::DoNotOptimize(tw::store::findOrder(doc, item, txn));
    }
}

} // namespace

BENCHMARK(BM_RawLibxml2Parse)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StoreOpen)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RawLibxml2Save)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_StoreSaveAtomic)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Lookup5000Indexed)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_LookupOneByQuery)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
