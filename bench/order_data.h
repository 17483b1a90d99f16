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

// A whole data folder of a large seller, written once and reused: `orders`
// active orders (a third each not shipped, in transit and delivered), a fifth
// as many archived, one tracking record per shipped order, 2,000 questions, 2,000 sent messages,
// 5,000 feedback entries, 1,000 notes, 2,000 shipping labels, and a
// Settings.xml of an older version that start-up brings up to date.
std::filesystem::path dataFolder(int orders);

// The older Settings.xml of dataFolder(), for rewriting between start-ups.
std::string olderSettingsXml();

// The tracking records for `transactionsXml`'s shipped orders (two thirds of
// them): every other shipped order delivered, the others in transit.
std::string trackingNumbersXml(int count);

} // namespace tw::bench
