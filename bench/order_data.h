#pragma once
// Realistic stored orders for benchmarks: eBay Transaction records with the
// children the program reads, about 1.6 KB each.

#include <filesystem>
#include <string>

namespace tw::bench {

// The text of a Transactions.xml holding `count` orders (ItemID 1100000000+k/3,
// TransactionID k, so some items have several orders).
std::string transactionsXml(int count, int firstTransaction = 0);

// Writes it to `file` once and reuses it when it is already there.
std::filesystem::path transactionsFile(int count);

} // namespace tw::bench
