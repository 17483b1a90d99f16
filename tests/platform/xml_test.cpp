#include "platform/xml.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using tw::xml::Document;
using tw::xml::Node;

namespace {

const char kOrders[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Transactions>
  <Transaction xmlns="urn:ebay:apis:eBLBaseComponents">
    <Item><ItemID>110</ItemID><Title>Lamp &amp; shade</Title></Item>
    <TransactionID>0</TransactionID>
  </Transaction>
  <Transaction xmlns="urn:ebay:apis:eBLBaseComponents">
    <Item><ItemID>O'Brien"s</ItemID></Item>
    <TransactionID>7</TransactionID>
  </Transaction>
  <Transaction><Item><ItemID>220</ItemID></Item><TransactionID>0</TransactionID></Transaction>
</Transactions>)";

} // namespace

TEST(XPathRewrite, NameTestsMatchByLocalNameButFunctionsAxesAndOperatorsStay)
{
    using tw::xml::localNameXPath;
    EXPECT_EQ(localNameXPath("Settings/Key"), "*[local-name()='Settings']/*[local-name()='Key']");
    EXPECT_EQ(localNameXPath("count(A) > 1 and B div 2 = 3"),
              "count(*[local-name()='A']) > 1 and *[local-name()='B'] div 2 = 3");
    EXPECT_EQ(localNameXPath("A[@ID=$id]"), "*[local-name()='A'][@ID=$id]");
    EXPECT_EQ(localNameXPath("attribute::ID | child::X"), "attribute::ID | child::*[local-name()='X']");
    EXPECT_EQ(localNameXPath("ebay:Item/text()"), "ebay:Item/text()");
    EXPECT_EQ(localNameXPath("A[Name='and or div']"), "*[local-name()='A'][*[local-name()='Name']='and or div']");
    EXPECT_EQ(localNameXPath("A * 2"), "*[local-name()='A'] * 2");
    EXPECT_EQ(localNameXPath("//*[1]/.."), "//*[1]/..");
}

TEST(Xml, QueriesFindNamespacedRecordsByLocalNameWithValuesAsVariables)
{
    Document doc = Document::parse(kOrders);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc.selectAll("Transactions/Transaction").size(), 3u);
    const char *q = "Transactions/Transaction[Item/ItemID=$item and TransactionID=$txn]";
    Node hit = doc.select(q, {{"item", "110"}, {"txn", "0"}});
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit.select("Item/Title").text(), "Lamp & shade");
    EXPECT_EQ(hit.namespaceUri(), "urn:ebay:apis:eBLBaseComponents");
    // Quote characters in a value are just characters.
    EXPECT_TRUE(doc.select(q, {{"item", "O'Brien\"s"}, {"txn", "7"}}));
    EXPECT_FALSE(doc.select(q, {{"item", "' or '1'='1"}, {"txn", "0"}}));
    // The plain record is found the same way.
    EXPECT_TRUE(doc.select(q, {{"item", "220"}, {"txn", "0"}}));
    // The prefix names eBay's namespace strictly.
    EXPECT_EQ(doc.selectAll("Transactions/ebay:Transaction").size(), 2u);
    // A broken query selects nothing instead of failing.
    EXPECT_FALSE(doc.select("Transactions/[["));
    EXPECT_TRUE(doc.selectAll("Transactions/Transaction[").empty());
}

TEST(Xml, ParseErrorsComeBackWithTheirLine)
{
    std::string error;
    Document doc = Document::parse("<a>\n<b></a>", &error);
    EXPECT_FALSE(doc);
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_FALSE(Document::parse("", &error));
    EXPECT_FALSE(error.empty());
}

TEST(Xml, EditingOperations)
{
    Document doc = Document::parse(kOrders);
    Node root = doc.root();
    Node first = root.firstElement();
    Node third = root.lastElement();

    // New children take the parent's namespace, so a reload reads the same.
    Node korva = first.appendElement("KORVA");
    korva.appendElement("ShipmentStatus", "Shipped");
    EXPECT_EQ(korva.namespaceUri(), "urn:ebay:apis:eBLBaseComponents");
    Document reloaded = Document::parse(doc.toString());
    EXPECT_EQ(reloaded.select("Transactions/Transaction/KORVA/ShipmentStatus").text(), "Shipped");

    // Move the last record to the front.
    root.insertBefore(third, first);
    EXPECT_EQ(root.firstElement().select("Item/ItemID").text(), "220");

    // Deep copy into another document keeps eBay's namespace.
    Document other = Document::parse("<Transactions/>");
    Node copy = other.root().append(first);
    EXPECT_EQ(copy.namespaceUri(), "urn:ebay:apis:eBLBaseComponents");
    EXPECT_EQ(copy.select("Item/ItemID").text(), "110");
    EXPECT_EQ(root.selectAll("Transaction").size(), 3u); // the original stays

    // Shallow copy: the element and its attributes, no children.
    root.setAttribute("Kind", "a&b");
    Node shallow = other.importNode(root, false);
    EXPECT_EQ(shallow.attribute("Kind"), "a&b");
    EXPECT_FALSE(shallow.firstElement());
    shallow.remove(); // never attached: ours to free

    // Replace and remove.
    Node replacement = doc.createElement("Transaction", tw::xml::kEbayNamespace);
    replacement.appendElement("TransactionID", "99");
    Node placed = root.firstElement().replaceWith(replacement);
    EXPECT_EQ(placed.select("TransactionID").text(), "99");
    EXPECT_EQ(root.firstElement(), placed);
    root.lastElement().remove();
    EXPECT_EQ(root.elements().size(), 2u);

    // Attributes.
    EXPECT_TRUE(root.hasAttribute("Kind"));
    root.removeAttribute("Kind");
    EXPECT_FALSE(root.hasAttribute("Kind"));
    EXPECT_EQ(root.attribute("Missing"), "");
}

TEST(Xml, TextIsStoredSoTheFileStaysReadable)
{
    Document doc = Document::parse("<a/>");
    Node a = doc.root();
    a.setText("x < y & \"z\" \x01\x0b ok \xff\xfe end \xe2\x80\x99");
    Document back = Document::parse(doc.toString());
    ASSERT_TRUE(back);
    EXPECT_EQ(back.root().text(), "x < y & \"z\"  ok \xEF\xBF\xBD\xEF\xBF\xBD end \xe2\x80\x99");
    // Entity-like text is literal, not interpreted.
    a.setText("&amp;");
    Document reparsed = Document::parse(doc.toString());
    EXPECT_EQ(reparsed.root().text(), "&amp;");
}

TEST(Xml, SaveIsAtomic)
{
    tw::test::TempDir dir;
    auto file = dir / "Doc.xml";
    Document doc = Document::parse("<Root><A>1</A></Root>");
    std::string error;
    ASSERT_TRUE(doc.save(file, &error)) << error;
    std::string before = tw::test::readFile(file);
    Document saved = Document::load(file);
    EXPECT_EQ(saved.select("Root/A").text(), "1");

    // Interrupted before the rename: the old file is whole, no temp file is left.
    doc.select("Root/A").setText("2");
    tw::xml::Document::SaveOptions options;
    options.beforeRename = [] { return false; };
    EXPECT_FALSE(doc.save(file, &error, options));
    EXPECT_EQ(tw::test::readFile(file), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    // A folder that does not exist: failure reported, nothing thrown.
    EXPECT_FALSE(doc.save(dir / "missing" / "Doc.xml", &error));
    EXPECT_FALSE(error.empty());
}

TEST(Xml, SaveKeepsTheFilesPermissionsAndCreatesNewFilesPrivate)
{
    tw::test::TempDir dir;
    auto mode = [](const std::filesystem::path &f) {
        return std::filesystem::status(f).permissions() & std::filesystem::perms::mask;
    };
    using std::filesystem::perms;
    Document doc = Document::parse("<Settings><eBayAuthToken>secret</eBayAuthToken></Settings>");
    ASSERT_TRUE(doc.save(dir / "Settings.xml"));
    EXPECT_EQ(mode(dir / "Settings.xml"), perms::owner_read | perms::owner_write);
    ASSERT_TRUE(tw::xml::writeFileAtomically(dir / "Notes.xml", "<Notes/>"));
    EXPECT_EQ(mode(dir / "Notes.xml"), perms::owner_read | perms::owner_write);

    // The seller chose to share the folder with a group: saves keep that.
    const perms shared = perms::owner_read | perms::owner_write | perms::group_read;
    std::filesystem::permissions(dir / "Settings.xml", shared);
    ASSERT_TRUE(doc.save(dir / "Settings.xml"));
    EXPECT_EQ(mode(dir / "Settings.xml"), shared);
    std::filesystem::permissions(dir / "Notes.xml", shared);
    ASSERT_TRUE(tw::xml::writeFileAtomically(dir / "Notes.xml", "<Notes/>"));
    EXPECT_EQ(mode(dir / "Notes.xml"), shared);
}

// An answer that brings its own entities, the way a hostile or broken
// server could send one.
const char kAnswerWithEntity[] = R"(<?xml version="1.0"?>
<!DOCTYPE GetSellerTransactionsResponse [<!ENTITY shop "Harbour &amp; Co">]>
<GetSellerTransactionsResponse xmlns="urn:ebay:apis:eBLBaseComponents"><Ack>Success</Ack>
<TransactionArray><Transaction><Item><ItemID>1</ItemID><Title>Lamp from &shop;</Title></Item>
<TransactionID>0</TransactionID></Transaction></TransactionArray></GetSellerTransactionsResponse>)";

TEST(Xml, AnswersFromOutsideWithADocumentTypeDeclarationAreNoAnswers)
{
    std::string error;
    EXPECT_FALSE(Document::parseUntrusted(kAnswerWithEntity, &error));
    EXPECT_NE(error.find("document type declaration"), std::string::npos) << error;
    for (const char *hostile : {
             // An outside file, and an outside address.
             "<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><a>&x;</a>",
             "<!DOCTYPE a SYSTEM \"http://127.0.0.1:9/a.dtd\"><a/>",
             // Entities that multiply.
             "<!DOCTYPE a [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
             "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]><a>&c;&c;&c;</a>",
             // A reference to an entity nobody declared, a bare declaration, no root.
             "<a>&undeclared;</a>",
             "<!DOCTYPE a><a/>",
             "<?xml version=\"1.0\"?>",
             "",
         }) {
        error.clear();
        EXPECT_FALSE(Document::parseUntrusted(hostile, &error)) << hostile;
        EXPECT_FALSE(error.empty()) << hostile;
    }

    // What the services really send is read as before.
    Document plain =
        Document::parseUntrusted("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                 "<a xmlns=\"urn:x\"><b>Lamp &amp; shade &#8217;</b><?pi x?><!-- c --></a>");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain.select("a/b").text(), "Lamp & shade \xe2\x80\x99");
}

TEST(Xml, ASaveThatWouldNotReadBackIsRefusedAndTheFileKept)
{
    tw::test::TempDir dir;
    Document store = Document::parse("<Transactions/>");
    auto file = dir / "Transactions.xml";
    ASSERT_TRUE(store.save(file));
    const std::string before = tw::test::readFile(file);

    // A node that carries an entity reference, taken from a document that
    // declared the entity into one that does not.
    Document answer = Document::parse(kAnswerWithEntity);
    ASSERT_TRUE(answer);
    store.root().append(answer.select("//Transaction"));
    std::string error;
    EXPECT_FALSE(store.save(file, &error));
    EXPECT_NE(error.find("would not read back"), std::string::npos) << error;
    EXPECT_EQ(tw::test::readFile(file), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_TRUE(Document::load(file));

    // A document that carries its own declarations reads back and is saved.
    ASSERT_TRUE(answer.save(file, &error)) << error;
    Document reread = Document::load(file);
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread.select("//Transaction/Item/Title").text(), "Lamp from Harbour & Co");

    // So is one without a root element only in appearance: nothing to read back.
    EXPECT_FALSE(Document().save(file, &error));
    EXPECT_TRUE(Document::load(file));
}

TEST(Xml, TransformSortsWithParametersPassedAsValues)
{
    Document style = Document::parse(R"(<xsl:stylesheet version="1.0"
        xmlns:xsl="http://www.w3.org/1999/XSL/Transform" xmlns:ebay="urn:ebay:apis:eBLBaseComponents">
      <xsl:param name="who"/>
      <xsl:template match="/">
        <Out who="{$who}">
          <xsl:for-each select="Transactions/ebay:Transaction">
            <xsl:sort select="ebay:TransactionID" data-type="number" order="descending"/>
            <Id><xsl:value-of select="ebay:TransactionID"/></Id>
          </xsl:for-each>
        </Out>
      </xsl:template>
    </xsl:stylesheet>)");
    Document input = Document::parse(kOrders);
    std::string error;
    Document out = tw::xml::transform(style, input, {{"who", "O'Brien \"x\""}}, &error);
    ASSERT_TRUE(out) << error;
    EXPECT_EQ(out.root().attribute("who"), "O'Brien \"x\"");
    auto ids = out.selectAll("Out/Id");
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids[0].text(), "7");
    EXPECT_FALSE(tw::xml::transform(Document::parse("<notxsl/>"), input, {}, &error));
}
