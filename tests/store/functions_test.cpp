#include "store/basFunctions.h"

#include <gtest/gtest.h>

#include <set>

using namespace tw;

TEST(Functions, eBayTimeText)
{
    EXPECT_EQ(DateToeBayTime(DateTime::fromParts(2008, 1, 5, 9, 3, 7)), "2008-01-05T09:03:07Z");
    EXPECT_EQ(DateToeBayTime(DateTime::fromParts(2008, 12, 31, 23, 0, 0)), "2008-12-31T23:00:00Z");
    EXPECT_EQ(eBayTimeToDate("2008-01-05T09:03:07.000Z"), DateTime::fromParts(2008, 1, 5, 9, 3, 7));
    EXPECT_EQ(eBayTimeToDate("2008-01-05T09:03:07Z"), DateTime::fromParts(2008, 1, 5, 9, 3, 7));
    EXPECT_FALSE(eBayTimeToDate("2008-01-05 09:03:07").isValid());
    EXPECT_FALSE(eBayTimeToDate("").isValid());
    EXPECT_FALSE(eBayTimeToDate("2008-13-05T09:03:07Z").isValid());
    EXPECT_EQ(DateToeBayTime(DateTime()), "");
}

TEST(Functions, NodeHelpers)
{
    xml::Document doc = xml::Document::parse("<Settings><A>1</A><B/></Settings>");
    EXPECT_EQ(GetNodeText(doc, "Settings/A"), "1");
    EXPECT_EQ(GetNodeText(doc, "Settings/Missing", "dflt"), "dflt");
    EXPECT_EQ(GetNodeText(doc, "Settings/B", "dflt"), "");
    EXPECT_EQ(GetNodeText(doc, "Settings/[bad", "dflt"), "dflt");
    EXPECT_EQ(GetNodeText(xml::Node(), "A", "dflt"), "dflt");

    const std::string before = doc.toString();
    EXPECT_FALSE(SetChildText(doc, "Nowhere", "C", "x"));
    EXPECT_EQ(doc.toString(), before);

    SetChildText(doc, "Settings", "A", "2");
    SetChildText(doc, "Settings", "C", "3");
    EXPECT_EQ(doc.selectAll("Settings/A").size(), 1u);
    EXPECT_EQ(doc.root().lastElement().name(), "C");
    EXPECT_EQ(GetNodeText(doc, "Settings/A"), "2");

    AppendChildText(doc, "Settings", "C", "4");
    EXPECT_EQ(doc.selectAll("Settings/C").size(), 2u);
    const std::string beforeAppend = doc.toString();
    EXPECT_FALSE(AppendChildText(doc, "Nowhere", "C", "4"));
    EXPECT_EQ(doc.toString(), beforeAppend);

    xml::Node b = doc.select("Settings/B");
    SetNodeChildText(b, "Inner", "v");
    SetNodeChildText(b, "Inner", "w");
    EXPECT_EQ(GetNodeText(doc, "Settings/B/Inner"), "w");
    EXPECT_EQ(b.elements().size(), 1u);
}

TEST(Functions, SortByDateDescendingKeepsPayloads)
{
    std::vector<std::pair<DateTime, std::string>> cols = {
        {DateTime::fromParts(2008, 3, 1), "first"},
        {DateTime::fromParts(2008, 3, 3), "third"},
        {DateTime::fromParts(2008, 3, 2), "second"},
    };
    SortByDateDescending(cols, 0, 2);
    EXPECT_EQ(cols[0].second, "third");
    EXPECT_EQ(cols[1].second, "second");
    EXPECT_EQ(cols[2].second, "first");

    // Many columns with duplicates, invalid dates and a sub-range.
    std::vector<std::pair<DateTime, int>> many;
    for (int k = 0; k < 500; ++k)
        many.push_back({DateTime::fromParts(2000 + (k * 7919) % 23, 1, 1 + k % 28), k});
    many.push_back({DateTime(), -1});
    SortByDateDescending(many, 0, long(many.size()) - 1);
    for (size_t k = 1; k < many.size(); ++k)
        EXPECT_GE(many[k - 1].first, many[k].first);
    EXPECT_EQ(many.back().second, -1);
    std::set<int> payloads;
    for (auto &c : many)
        payloads.insert(c.second);
    EXPECT_EQ(payloads.size(), many.size());
}

TEST(Functions, UrlEncoding)
{
    EXPECT_EQ(URLEncode("a b&c"), "a+b%26c");
    EXPECT_EQ(URLDecode("a+b%26c"), "a b&c");
    EXPECT_EQ(URLEncode("-_.~\n"), "%2D%5F%2E%7E%0A");
    EXPECT_EQ(URLEncode("\xc3\xa9"), "%C3%A9"); // UTF-8 bytes
    EXPECT_EQ(URLDecode("%c3%A9"), "\xc3\xa9");
    EXPECT_EQ(URLDecode("100%4"), "100%4");
    EXPECT_EQ(URLDecode("100%"), "100%");
    EXPECT_EQ(URLDecode("%zz%41"), "%zzA");
    const std::string all = [] {
        std::string s;
        for (int c = 1; c < 256; ++c)
            s += char(c);
        return s;
    }();
    EXPECT_EQ(URLDecode(URLEncode(all)), all);
}
