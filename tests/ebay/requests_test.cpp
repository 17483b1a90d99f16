// The request texts of the synchronous calls, compared byte for byte with
// tests/data/ebay/<case>.xml (TW_UPDATE_GOLDEN=1 rewrites them and fails).
#include "tests/ebay/ebay_fixture.h"
#include "tests/support/golden.h"

#include <gtest/gtest-spi.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

namespace tw::test {
namespace {

struct Case {
    std::string name;
    std::string call;
    std::string level;
    std::function<void(ebay::clseBayAPI &)> run;
};

class RequestTextTest : public EbayTest, public ::testing::WithParamInterface<Case> {};

TEST_P(RequestTextTest, MatchesGolden)
{
    const Case &c = GetParam();
    peer.setHandler([](const RecordedRequest &r) {
        std::string call = r.header("X-EBAY-API-CALL-NAME");
        std::string inner;
        if (r.body.find("ReturnHeaders") != std::string::npos)
            inner = "<Messages><Message><MessageID>m&amp;1</MessageID></Message><Message><MessageID>m2</MessageID>"
                    "</Message></Messages>";
        return ScriptedResponse{200, ebayResponse(call, "Success", inner)};
    });
    c.run(*api);

    std::string bodies;
    for (const RecordedRequest &r : peer.requests()) {
        EXPECT_EQ(r.header("X-EBAY-API-CALL-NAME"), c.call);
        EXPECT_EQ(r.header("X-EBAY-API-COMPATIBILITY-LEVEL"), c.level);
        bodies += r.body;
    }
    ASSERT_FALSE(bodies.empty());
    expectGolden(std::filesystem::path(TW_EBAY_TEST_DATA) / (c.name + ".xml"), bodies);
}

TEST(Golden, ADifferenceFailsAndSoDoesARebless)
{
    TempDir dir;
    const auto golden = dir / "Case.xml";
    writeFile(golden, "<A>\n<B>1</B>\n</A>\n");
    expectGolden(golden, "<A>\n<B>1</B>\n</A>\n");
    EXPECT_NONFATAL_FAILURE(expectGolden(golden, "<A>\n<B>2</B>\n</A>\n"), "-<B>1</B>\n+<B>2</B>");
    EXPECT_EQ(readFile(golden), "<A>\n<B>1</B>\n</A>\n");

    ::setenv("TW_UPDATE_GOLDEN", "1", 1);
    EXPECT_NONFATAL_FAILURE(expectGolden(golden, "<A>\n<B>2</B>\n</A>\n"), "re-blessed");
    ::unsetenv("TW_UPDATE_GOLDEN");
    EXPECT_EQ(readFile(golden), "<A>\n<B>2</B>\n</A>\n");
    expectGolden(golden, "<A>\n<B>2</B>\n</A>\n");

    // Long single-line texts are cut at tags, so only the changed element shows.
    const std::string diff = goldenDiff(
        "<R>  <Aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa>1</Aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa>"
        "  <Bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb>2</Bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb></R>",
        "<R>  <Aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa>1</Aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa>"
        "  <Bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb>3</Bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb></R>");
    EXPECT_NE(diff.find("\n-<Bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb>2\n"), std::string::npos) << diff;
    EXPECT_NE(diff.find("\n+<Bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb>3\n"), std::string::npos) << diff;
    EXPECT_EQ(diff.rfind(" <R>", 0), 0u) << diff;
    EXPECT_EQ(goldenDiff("same", "same"), "");
}

INSTANTIATE_TEST_SUITE_P(
    SynchronousCalls, RequestTextTest,
    ::testing::Values(
        Case{"GetSellerTransactions", "GetSellerTransactions", "573",
             [](ebay::clseBayAPI &a) { a.SynchronousGetSellerTransactions(); }},
        Case{"GetSellerTransactionsByDays", "GetSellerTransactions", "573",
             [](ebay::clseBayAPI &a) { a.SynchronousGetSellerTransactionsByDays("7"); }},
        Case{"GetMemberMessages", "GetMemberMessages", "573",
             [](ebay::clseBayAPI &a) { a.SynchronousGetMemberMessages(); }},
        Case{"GetSentMessages", "GetMyMessages", "573", [](ebay::clseBayAPI &a) { a.SynchronousGetSentMessages(); }},
        Case{"GetFeedbackNew", "GetFeedback", "573", [](ebay::clseBayAPI &a) { a.SynchronousGetFeedbackNew(); }},
        Case{"GetFeedback", "GetFeedback", "571", [](ebay::clseBayAPI &a) { a.SynchronousGetFeedback(); }},
        Case{"GetSellerDashboard", "GetSellerDashboard", "571",
             [](ebay::clseBayAPI &a) { a.SynchronousGetSellerDashboard(); }},
        Case{"GeteBayOfficialTime", "GeteBayOfficialTime", "573",
             [](ebay::clseBayAPI &a) { a.SynchronousGeteBayOfficialTime(); }},
        Case{"GeteBayDetails", "GeteBayDetails", "573", [](ebay::clseBayAPI &a) { a.SynchronousGeteBayDetails(); }},
        Case{"CompleteSale", "CompleteSale", "569",
             [](ebay::clseBayAPI &a) {
                 // Values that would break or extend the request unescaped.
                 EXPECT_EQ(a.SynchronousMarkShippedStatus("110<2>", "0&1", true, "USPS</ShippingCarrierUsed><Paid>",
                                                          "9400 & 1"),
                           "Success");
             }}),
    [](const ::testing::TestParamInfo<Case> &info) { return info.param.name; });

} // namespace
} // namespace tw::test
