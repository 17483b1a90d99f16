#pragma once
// The local store: ten XML documents, each mirrored in one file of the data
// folder, held in memory for the whole run and saved whole after each change.

#include "platform/xml.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tw::store {

// In the order start-up opens them.
enum class Doc {
    ShippingLabels,
    Transactions,
    ArchivedTransactions,
    TrackingNumbers,
    Notes,
    Messages,
    Items,
    SentMessages,
    Feedback,
    Settings,
};
inline constexpr int kDocCount = 10;

struct DocInfo {
    std::string_view file;
    std::string_view root;
    std::string_view emptyTemplate; // exact text written for a missing file
};
const DocInfo &info(Doc d);
// Whether the document's file holds secrets and is kept owner-only.
inline bool holdsSecrets(Doc d)
{
    return d == Doc::Settings;
}

class Store {
  public:
    Store();

    // Opens the ten documents of `dataDir` in table order. A missing file is
    // created from its template; an existing file is loaded and not written.
    // A file that is not well-formed XML, or whose root element is not the
    // document's, is renamed aside to a dated copy and its document starts
    // from the template. Returns one sentence per such
    // problem, for the user; empty when all went well.
    std::vector<std::string> open(const std::filesystem::path &dataDir);

    xml::Document &doc(Doc d) { return m_docs[size_t(d)]; }
    const xml::Document &doc(Doc d) const { return m_docs[size_t(d)]; }
    std::filesystem::path path(Doc d) const { return m_dataDir / info(d).file; }
    const std::filesystem::path &dataDir() const { return m_dataDir; }

    xml::Document &transactions() { return doc(Doc::Transactions); }
    xml::Document &archived() { return doc(Doc::ArchivedTransactions); }
    xml::Document &trackingNumbers() { return doc(Doc::TrackingNumbers); }
    xml::Document &settings() { return doc(Doc::Settings); }

    // Saves one whole document atomically. On failure the file keeps its
    // previous content, the error handler (if any) is told, and false comes back.
    // Settings.xml holds the eBay token and the PayPal credentials: each save
    // leaves it readable by its owner only; the other files keep their mode.
    bool save(Doc d);
    // The same, but a failure is handed back in `error` (a sentence for the
    // user) instead of to the error handler: for callers that tell the user
    // themselves, in their own words.
    bool trySave(Doc d, std::string &error);
    // Saves Transactions.xml and TrackingNumbers.xml.
    bool SaveData();

    // Counts the changes: each save (every change is saved, or undone when
    // its save fails) and each document opened or replaced. Work that waits
    // while other events run compares it to know whether what it looked up
    // before the wait still stands.
    std::uint64_t generation() const { return m_generation; }
    // The same for one document: a view drawn from the orders need not be
    // sorted again because the settings changed.
    std::uint64_t generation(Doc d) const { return m_docGenerations[size_t(d)]; }
    // Every document changed (opened anew, or a change undone in several).
    void changed()
    {
        ++m_generation;
        for (std::uint64_t &g : m_docGenerations)
            ++g;
    }
    void changed(Doc d)
    {
        ++m_generation;
        ++m_docGenerations[size_t(d)];
    }

    // Told of every failed save, with a sentence for the user.
    void setSaveErrorHandler(std::function<void(const std::string &)> handler) { m_onSaveError = std::move(handler); }

  private:
    std::filesystem::path m_dataDir;
    std::array<xml::Document, kDocCount> m_docs;
    std::array<bool, kDocCount> m_protected{};
    std::function<void(const std::string &)> m_onSaveError;
    std::uint64_t m_generation = 0;
    std::array<std::uint64_t, kDocCount> m_docGenerations{};
};

// An order of the active orders or of the archive, found by its keys, and
// the document that holds it (a null order when neither has it).
struct LocatedOrder {
    xml::Node order;
    Doc doc = Doc::Transactions;
};
LocatedOrder locateOrder(Store &store, std::string_view itemId, std::string_view transactionId);

// The name a malformed store file is kept under, beside the original:
// "Transactions.xml" -> "Transactions.unreadable-20261208-142501.xml".
std::filesystem::path keptAsideName(const std::filesystem::path &file);

} // namespace tw::store
