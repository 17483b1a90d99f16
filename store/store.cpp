#include "store/store.h"

#include "platform/clock.h"
#include "store/order_index.h"

#include <cstdio>
#include <future>
#include <system_error>

namespace tw::store {
namespace {

#define TW_DECL "<?xml version=\"1.0\" encoding=\"utf-8\"?>"

constexpr std::array<DocInfo, kDocCount> kInfo = {{
    {"ShippingLabels.xml", "ShippingLabels", TW_DECL "<ShippingLabels/>"},
    {"Transactions.xml", "Transactions", TW_DECL "<Transactions/>"},
    {"ArchivedTransactions.xml", "Transactions", TW_DECL "<Transactions/>"},
    {"TrackingNumbers.xml", "TrackingNumbers", TW_DECL "<TrackingNumbers/>"},
    {"Notes.xml", "Notes", TW_DECL "<Notes/>"},
    {"Messages.xml", "Messages", TW_DECL "<Messages/>"},
    {"Items.xml", "Items", TW_DECL "<Items/>"},
    {"SentMessages.xml", "Messages", TW_DECL "<Messages/>"},
    {"Feeback.xml", "Feedbacks", TW_DECL "<Feedbacks/>"},
    {"Settings.xml", "Settings",
     TW_DECL "<Settings><eBayID/><LastGetSellerTransactions/><LastGetMemberMessages/><LastGetSentMessages/>"
             "<GetSellerTransactionsMaxDays>28</GetSellerTransactionsMaxDays><eBayAuthToken></eBayAuthToken>"
             "<eBayAuthTokenHardExpirationTime/><DeliveredNeedsFollowUpMessage/><InTransitMessage/>"
             "<NotShippedMessage/><ArchivedMessage/></Settings>"},
}};

#undef TW_DECL

// A save that was cut short (power cut, crash) leaves its temporary file
// beside the store file, which itself is whole; the leftover only takes room.
void removeInterruptedSaves(const std::filesystem::path &dir)
{
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        for (const DocInfo &di : kInfo) {
            const std::string prefix = std::string(di.file) + ".saving-";
            if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
                std::filesystem::remove(entry.path(), ec);
                break;
            }
        }
    }
}

} // namespace

const DocInfo &info(Doc d)
{
    return kInfo[size_t(d)];
}

std::filesystem::path keptAsideName(const std::filesystem::path &file)
{
    DateTime now = clock().localNow();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", now.year(), now.month(), now.day(), now.hour(),
                  now.minute(), now.second());
    std::filesystem::path base = file.parent_path() / (file.stem().string() + ".unreadable-" + stamp);
    std::filesystem::path candidate = base;
    candidate += file.extension();
    // Never overwrite an earlier kept copy.
    for (int n = 2; std::filesystem::exists(candidate); ++n) {
        candidate = base;
        candidate += "-" + std::to_string(n) + file.extension().string();
    }
    return candidate;
}

Store::Store()
{
    for (auto &d : m_docs)
        d = xml::Document(nullptr);
}

std::vector<std::string> Store::open(const std::filesystem::path &dataDir)
{
    changed();
    std::vector<std::string> problems;
    std::error_code ec;
    m_dataDir = std::filesystem::absolute(dataDir, ec);
    if (ec) m_dataDir = dataDir;
    std::filesystem::create_directories(m_dataDir, ec);

    removeInterruptedSaves(m_dataDir);

    // Transactions.xml, by far the largest, is read here while a second
    // thread reads the others: opening waits for the slowest file, not for
    // all of them one after the other. What follows is in table order.
    struct Read {
        bool exists = false;
        xml::Document doc;
        std::string error;
    };
    std::array<Read, kDocCount> read;
    auto readOne = [this, &read](Doc d) {
        std::error_code existsError;
        Read &r = read[size_t(d)];
        r.exists = std::filesystem::exists(path(d), existsError);
        if (r.exists) r.doc = xml::Document::load(path(d), &r.error);
    };
    // ShippingLabels survives a second open within one run.
    auto opens = [this](Doc d) { return !(d == Doc::ShippingLabels && !doc(d).isNull()); };
    std::future<void> others = std::async(std::launch::async, [&] {
        for (int k = 0; k < kDocCount; ++k)
            if (Doc(k) != Doc::Transactions && opens(Doc(k))) readOne(Doc(k));
    });
    readOne(Doc::Transactions);
    others.get();

    for (int k = 0; k < kDocCount; ++k) {
        Doc d = Doc(k);
        const DocInfo &di = info(d);
        if (!opens(d)) continue;
        m_protected[size_t(d)] = false; // opened again (a restored backup): judged anew
        std::filesystem::path file = path(d);
        bool exists = read[size_t(d)].exists;
        if (exists) {
            std::string error = read[size_t(d)].error;
            xml::Document loaded = std::move(read[size_t(d)].doc);
            if (loaded && loaded.root() && loaded.root().name() == di.root) {
                doc(d) = std::move(loaded);
                continue;
            }
            // Well-formed but not this document (another file copied over
            // it, say): every query and write would miss, so it is treated
            // like a file that cannot be read.
            if (loaded && loaded.root())
                error = "its root element is " + loaded.root().name() + ", not " + std::string(di.root);
            std::filesystem::path aside = keptAsideName(file);
            std::filesystem::rename(file, aside, ec);
            if (ec) {
                // Cannot move it: leave the file alone, work from the
                // template in memory and refuse to save over it.
                m_protected[size_t(d)] = true;
                problems.push_back(std::string(di.file) + " could not be read (" + error +
                                   ") and could not be moved aside (" + ec.message() +
                                   "). Tidewell starts with an empty " + std::string(di.file) + ".");
            } else {
                problems.push_back(std::string(di.file) + " could not be read (" + error + "). It was kept as " +
                                   aside.filename().string() + " and Tidewell starts with an empty " +
                                   std::string(di.file) + ".");
            }
            exists = std::filesystem::exists(file, ec);
        }
        doc(d) = xml::Document::parse(di.emptyTemplate);
        if (!exists) {
            std::string error;
            if (!xml::writeFileAtomically(file, di.emptyTemplate, &error))
                problems.push_back(std::string(di.file) + " could not be created: " + error);
        }
    }
    return problems;
}

bool Store::trySave(Doc d, std::string &error)
{
    changed(d);
    std::string why;
    if (m_protected[size_t(d)]) {
        why = "the unreadable file it holds is kept, not overwritten";
    } else {
        xml::Document::SaveOptions options;
        options.ownerOnly = holdsSecrets(d);
        if (doc(d).save(path(d), &why, options)) return true;
    }
    error = std::string(info(d).file) + " could not be saved: " + why;
    return false;
}

bool Store::save(Doc d)
{
    std::string error;
    if (trySave(d, error)) return true;
    if (m_onSaveError) m_onSaveError(error);
    return false;
}

bool Store::SaveData()
{
    bool a = save(Doc::Transactions);
    bool b = save(Doc::TrackingNumbers);
    return a && b;
}

LocatedOrder locateOrder(Store &store, std::string_view itemId, std::string_view transactionId)
{
    if (itemId.empty() || transactionId.empty()) return {};
    for (Doc d : {Doc::Transactions, Doc::ArchivedTransactions})
        if (xml::Node order = findOrder(store.doc(d), itemId, transactionId)) return {order, d};
    return {};
}

} // namespace tw::store
