// Any bytes as an eBay answer: parsed the way the connection parses answers,
// then merged by each merge into a store that already holds orders,
// questions and sent messages. Whatever the answer held, every merged order
// can be found again and every store file on disk still reads back.
#include "orders/merge.h"
#include "store/order_index.h"
#include "store/settings.h"
#include "store/store.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tw;

namespace {

constexpr const char *kStoredOrders =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><Transactions>"
    "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>110</ItemID></Item>"
    "<TransactionID>0</TransactionID><KORVA><ShipmentStatus>Shipped</ShipmentStatus></KORVA></Transaction>"
    "<Transaction xmlns=\"urn:ebay:apis:eBLBaseComponents\"><Item><ItemID>110</ItemID></Item>"
    "<TransactionID>1</TransactionID></Transaction></Transactions>";
constexpr const char *kStoredQuestions =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><Messages><MemberMessageExchange><Item><ItemID>110</ItemID></Item>"
    "<Question><SenderID>buyer1</SenderID></Question><CreationDate>2008-01-01T00:00:00.000Z</CreationDate>"
    "</MemberMessageExchange></Messages>";
constexpr const char *kStoredSent =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><Messages><Message><MessageID>m1</MessageID></Message></Messages>";

store::Store &freshStore()
{
    static store::Store store;
    static bool opened = false;
    if (!opened) {
        store.open(fuzz::dataFolder());
        store.setSaveErrorHandler([](const std::string &) {});
        opened = true;
    }
    store.doc(store::Doc::Transactions) = xml::Document::parse(kStoredOrders);
    store.doc(store::Doc::Messages) = xml::Document::parse(kStoredQuestions);
    store.doc(store::Doc::SentMessages) = xml::Document::parse(kStoredSent);
    store.doc(store::Doc::Settings) = xml::Document::parse(store::info(store::Doc::Settings).emptyTemplate);
    return store;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    xml::Document answer = xml::Document::parseUntrusted(fuzz::text(data, size));
    if (!answer) return 0;
    store::Store &store = freshStore();

    orders::mergeTransactions(store, answer, {"LastGetSellerTransactions", "2008-01-05T09:03:07Z"});
    // An order that names its item and transaction can be found by them.
    // (One without those elements has no key to find it by.)
    for (xml::Node t : answer.root().selectAll("TransactionArray/Transaction")) {
        if (!t.element("Item").element("ItemID") || !t.element("TransactionID")) continue;
        store::OrderKey key = store::orderKey(t);
        TW_FUZZ_CHECK(orders::FindTransaction(store, key.itemId, key.transactionId));
    }
    orders::mergeMemberMessages(store, answer, {"LastGetMemberMessages", "2008-01-05T09:03:07Z"});
    orders::mergeSentMessages(store, answer, {"LastGetSentMessages", "2008-01-05T09:03:07Z"});

    for (store::Doc d :
         {store::Doc::Transactions, store::Doc::Messages, store::Doc::SentMessages, store::Doc::Settings}) {
        xml::Document onDisk = xml::Document::load(store.path(d));
        TW_FUZZ_CHECK(onDisk && onDisk.root() && onDisk.root().name() == store::info(d).root);
    }
    return 0;
}
