// Shipping labels and the store updates after eBay accepted a tracking number.
#include "postage/labels.h"
#include "postage/worldship.h"
#include "store/basFunctions.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace tw::test {
namespace {

using namespace postage;
using namespace orders;

const DateTime kEbayNow = DateTime::fromParts(2008, 7, 4, 17, 32, 21);

class LabelsTest : public ::testing::Test {
  protected:
    TempDir dir;
    store::Store store;

    void SetUp() override
    {
        ASSERT_TRUE(store.open(dir.path()).empty());
        store.transactions() = xml::Document::parse(
            "<Transactions><Transaction xmlns='urn:ebay:apis:eBLBaseComponents'><Item><ItemID>11</ItemID>"
            "<Title>Tide tables</Title><SKU>BK-1</SKU></Item><TransactionID>0</TransactionID>"
            "<QuantityPurchased>2</QuantityPurchased><TransactionPrice>9.50</TransactionPrice>"
            "<ShippingDetails><SellingManagerSalesRecordNumber>5</SellingManagerSalesRecordNumber></ShippingDetails>"
            "<ShippingServiceSelected><ShippingService>USPSPriority</ShippingService></ShippingServiceSelected>"
            "</Transaction><Transaction xmlns='urn:ebay:apis:eBLBaseComponents'><Item><ItemID>12</ItemID>"
            "<Title>Rope</Title></Item><TransactionID>0</TransactionID></Transaction></Transactions>");
        store.archived() = xml::Document::parse(
            "<Transactions><Transaction xmlns='urn:ebay:apis:eBLBaseComponents'><Item><ItemID>90</ItemID></Item>"
            "<TransactionID>1</TransactionID></Transaction></Transactions>");
    }

    DazzleResults results(const std::string &packages)
    {
        writeFile(dir / "results.xml", "<DAZzle>" + packages + "</DAZzle>");
        return readDazzleResults(dir / "results.xml");
    }
    xml::Document onDisk(store::Doc d) { return xml::Document::load(store.path(d)); }
};

TEST_F(LabelsTest, OneDazzlePackageOfTwoOrdersIsOneLabelWithTwoItems)
{
    DazzleResults r = results("<Package ID='1'><Status>Success</Status><PIC>9400123</PIC>"
                              "<FinalPostage>5.15</FinalPostage><Transactions>"
                              "<Transaction><eBayItemID>11</eBayItemID><eBayTransactionID>0</eBayTransactionID>"
                              "</Transaction><Transaction><eBayItemID>77</eBayItemID><eBayTransactionID>3"
                              "</eBayTransactionID></Transaction></Transactions></Package>");
    RecordedLabel recorded = appendDazzleLabel(store, store::Doc::Transactions, r.packages[0], kEbayNow);
    ASSERT_TRUE(store.save(store::Doc::ShippingLabels));
    EXPECT_EQ(recorded.trackingNumber, "9400123");
    EXPECT_EQ(recorded.orders.size(), 2u);

    xml::Document labels = onDisk(store::Doc::ShippingLabels);
    ASSERT_EQ(labels.selectAll("ShippingLabels/ShippingLabel").size(), 1u);
    xml::Node label = labels.select("ShippingLabels/ShippingLabel");
    std::vector<std::string> names;
    for (const xml::Node &n : label.elements())
        names.push_back(n.name());
    EXPECT_EQ(names, (std::vector<std::string>{"PackingList", "TimeStamp", "Carrier", "TrackingNumber", "Postage",
                                               "Package", "KORVA"}));
    // Nothing has gone to eBay yet: both numbers are unconfirmed.
    std::vector<PendingUpload> pending = pendingUploads(labels);
    ASSERT_EQ(pending.size(), 2u);
    EXPECT_EQ(pending[1].itemId, "77");
    EXPECT_EQ(pending[1].status, "Unconfirmed");
    EXPECT_EQ(pending[1].trackingNumber, "9400123");
    EXPECT_EQ(GetNodeText(label, "TimeStamp"), "2008-07-04T17:32:21Z");
    EXPECT_EQ(GetNodeText(label, "Carrier"), "USPS");
    EXPECT_EQ(GetNodeText(label, "Postage"), "5.15");
    EXPECT_EQ(GetNodeText(label, "Package/PIC"), "9400123");

    std::vector<xml::Node> items = label.selectAll("PackingList/Item");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].xml(), "<Item><ItemID>11</ItemID><TransactionID>0</TransactionID>"
                              "<QuantityPurchased>2</QuantityPurchased><SKU>BK-1</SKU>"
                              "<ProductName>Tide tables</ProductName><TransactionPrice>9.50</TransactionPrice></Item>");
    // An order no longer in the store keeps only its ids.
    EXPECT_EQ(items[1].xml(), "<Item><ItemID>77</ItemID><TransactionID>3</TransactionID></Item>");
}

TEST_F(LabelsTest, LabelsAreAppendedInPrintingOrderAndPostageDefaults)
{
    DazzleResults r = results("<Package><Status>Success</Status><CustomsNumber>LZ9US</CustomsNumber></Package>"
                              "<Package><Status>Success</Status></Package>");
    appendDazzleLabel(store, store::Doc::Transactions, r.packages[0], kEbayNow);
    appendDazzleLabel(store, store::Doc::Transactions, r.packages[1], kEbayNow);
    ASSERT_TRUE(store.save(store::Doc::ShippingLabels));
    xml::Document saved = onDisk(store::Doc::ShippingLabels);
    std::vector<xml::Node> labels = saved.selectAll("ShippingLabels/ShippingLabel");
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(GetNodeText(labels[0], "TrackingNumber"), "LZ9US");
    EXPECT_EQ(GetNodeText(labels[0], "Postage"), "0.00");
    EXPECT_EQ(GetNodeText(labels[1], "TrackingNumber"), "");
    EXPECT_EQ(labels[1].select("PackingList").elements().size(), 0u);
}

TEST_F(LabelsTest, MissingShippingLabelsIsCreatedSavedThenFilled)
{
    store.doc(store::Doc::ShippingLabels) = xml::Document(nullptr);
    std::filesystem::remove(store.path(store::Doc::ShippingLabels));
    xml::Document &labels = ensureShippingLabels(store);
    ASSERT_TRUE(labels.root());
    xml::Document created = onDisk(store::Doc::ShippingLabels);
    ASSERT_TRUE(created);
    EXPECT_EQ(created.root().xml(), "<ShippingLabels/>");

    DazzleResults r = results("<Package><Status>Success</Status><PIC>1</PIC></Package>");
    appendDazzleLabel(store, store::Doc::Transactions, r.packages[0], kEbayNow);
    ASSERT_TRUE(store.save(store::Doc::ShippingLabels));
    xml::Document saved = onDisk(store::Doc::ShippingLabels);
    EXPECT_EQ(saved.selectAll("ShippingLabels/ShippingLabel").size(), 1u);
}

TEST_F(LabelsTest, AnUnreadableLabelsFileIsKeptAsideNotOverwritten)
{
    store.doc(store::Doc::ShippingLabels) = xml::Document(nullptr);
    writeFile(store.path(store::Doc::ShippingLabels), "<ShippingLabels><ShippingLabel>cut off");
    ensureShippingLabels(store);
    int kept = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        if (entry.path().filename().string().rfind("ShippingLabels.unreadable-", 0) == 0) {
            ++kept;
            EXPECT_EQ(readFile(entry.path()), "<ShippingLabels><ShippingLabel>cut off");
        }
    EXPECT_EQ(kept, 1);
}

TEST_F(LabelsTest, MarkingShippedWritesTrackingServiceAndTimeThenSaves)
{
    EXPECT_EQ(markOrderShipped(store, store::Doc::Transactions, "11", "0", "9400123", kEbayNow), ShippedUpdate::Saved);
    xml::Document saved = onDisk(store::Doc::Transactions);
    xml::Node order = saved.select("Transactions/Transaction[Item/ItemID='11']");
    EXPECT_EQ(GetNodeText(order, "ShippingDetails/ShipmentTrackingNumber"), "9400123");
    EXPECT_EQ(GetNodeText(order, "ShippingDetails/ShippingServiceUsed"), "USPSPriority");
    EXPECT_EQ(GetNodeText(order, "ShippedTime"), "2008-07-04T17:32:21Z");
    EXPECT_EQ(order.select("ShippedTime").namespaceUri(), xml::kEbayNamespace);

    // Without ShippingDetails only the time is written.
    EXPECT_EQ(markOrderShipped(store, store::Doc::Transactions, "12", "0", "9400124", kEbayNow), ShippedUpdate::Saved);
    xml::Document again = onDisk(store::Doc::Transactions);
    xml::Node second = again.select("Transactions/Transaction[Item/ItemID='12']");
    EXPECT_FALSE(second.select("ShippingDetails"));
    EXPECT_EQ(GetNodeText(second, "ShippedTime"), "2008-07-04T17:32:21Z");
}

TEST_F(LabelsTest, AnEmptyTrackingNumberLeavesTheStoredOneAlone)
{
    SetNodeChildText(store.transactions().select("Transactions/Transaction/ShippingDetails"), "ShipmentTrackingNumber",
                     "OLD1");
    EXPECT_EQ(markOrderShipped(store, store::Doc::Transactions, "11", "0", "", kEbayNow), ShippedUpdate::Saved);
    xml::Document saved = onDisk(store::Doc::Transactions);
    xml::Node order = saved.select("Transactions/Transaction[Item/ItemID='11']");
    EXPECT_EQ(GetNodeText(order, "ShippingDetails/ShipmentTrackingNumber"), "OLD1");
    EXPECT_FALSE(order.select("ShippingDetails/ShippingServiceUsed"));
    EXPECT_EQ(GetNodeText(order, "ShippedTime"), "2008-07-04T17:32:21Z");
}

TEST_F(LabelsTest, TheArchivedViewUpdatesTheArchiveAndUnknownOrdersNothing)
{
    EXPECT_EQ(activeStoreDocument("Archived"), store::Doc::ArchivedTransactions);
    EXPECT_EQ(activeStoreDocument("NotShipped"), store::Doc::Transactions);
    EXPECT_EQ(markOrderShipped(store, store::Doc::Transactions, "90", "1", "T", kEbayNow), ShippedUpdate::NotFound);
    EXPECT_EQ(markOrderShipped(store, store::Doc::ArchivedTransactions, "90", "1", "T", kEbayNow),
              ShippedUpdate::Saved);
    EXPECT_EQ(GetNodeText(onDisk(store::Doc::ArchivedTransactions), "Transactions/Transaction/ShippedTime"),
              "2008-07-04T17:32:21Z");
    // Ids are values, not query text.
    EXPECT_EQ(markOrderShipped(store, store::Doc::Transactions, "11' or '1'='1", "0", "T", kEbayNow),
              ShippedUpdate::NotFound);
}

TEST_F(LabelsTest, WorldShipLabelHasNoPackingListUnknownPostageAndItsOrdersUploads)
{
    writeFile(dir / "KORVA.Out", "<OpenShipments xmlns='x-schema: OpenShipments.xdr'><OpenShipment>"
                                 "<ProcessMessage><TrackingNumbers><TrackingNumber>1Z1</TrackingNumber>"
                                 "</TrackingNumbers></ProcessMessage></OpenShipment></OpenShipments>");
    WorldShipOutput out = readWorldShipOutput(dir / "KORVA.Out");
    appendWorldShipLabel(store, out, {{"11", "0"}}, kEbayNow);
    ASSERT_TRUE(store.save(store::Doc::ShippingLabels));
    xml::Document saved = onDisk(store::Doc::ShippingLabels);
    xml::Node label = saved.select("ShippingLabels/ShippingLabel");
    EXPECT_EQ(label.select("PackingList").elements().size(), 0u);
    EXPECT_EQ(GetNodeText(label, "Carrier"), "UPS");
    EXPECT_EQ(GetNodeText(label, "TrackingNumber"), "1Z1");
    EXPECT_EQ(GetNodeText(label, "Postage"), "Unknown");
    EXPECT_EQ(label.lastElement().previousElement().name(), "OpenShipment");
    EXPECT_EQ(GetNodeText(label, "KORVA/Upload/ItemID"), "11");
    EXPECT_EQ(GetNodeText(label, "OpenShipment/ProcessMessage/TrackingNumbers/TrackingNumber"), "1Z1");
}

TEST(Uploading, OverlayTextAndSelectionOrders)
{
    EXPECT_EQ(uploadingTrackingHtml("11", "0<b>", "USPS", "94&1"),
              "Uploading Tracking to eBay<BR>Item: 11<BR>Transaction: 0&lt;b&gt;<BR>USPS 94&amp;1");
    xml::Document selection = xml::Document::parse(
        "<Transactions><Transaction><Item><ItemID>1</ItemID></Item><TransactionID>2</TransactionID></Transaction>"
        "<Transaction><Item><ItemID>3</ItemID></Item><TransactionID>4</TransactionID></Transaction></Transactions>");
    std::vector<DazzleOrder> orders = selectionOrders(selection.root());
    ASSERT_EQ(orders.size(), 2u);
    EXPECT_EQ(orders[1].itemId, "3");
    EXPECT_EQ(orders[1].transactionId, "4");
}

} // namespace
} // namespace tw::test
