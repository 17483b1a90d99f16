#include "pages/pages.h"
#include "platform/config.h"
#include "platform/xml.h"
#include "tests/support/loopback_http.h"

#include <gtest/gtest.h>

using namespace tw;

TEST(Pages, BundledFilesAreFoundWhateverTheCaseOfThePath)
{
    auto exact = pages::bundled("/KORVA/AddMemberMessageAAQToPartner-557.xml");
    ASSERT_TRUE(exact);
    auto shouted = pages::bundled("/korva/ADDMEMBERMESSAGEAAQTOPARTNER-557.XML?x=1");
    ASSERT_TRUE(shouted);
    EXPECT_EQ(*exact, *shouted);
    EXPECT_TRUE(xml::Document::parse(exact->toStdString()));
    EXPECT_FALSE(pages::bundled("/KORVA/nothing.html"));
    EXPECT_FALSE(pages::bundled("/KORVA/../KORVA/AddMemberMessageAAQToPartner-557.xml"));
    EXPECT_EQ(pages::contentType("/KORVA/Main.HTML"), "text/html; charset=utf-8");
}

TEST(Pages, ServedXmlComesFromTheBundleOrThePagesServerAndIsNullWhenMissing)
{
    Config previous = config();
    setConfig(Config());
    xml::Document bundled = pages::loadXml("/korva/DAZZLE-korva.xml");
    ASSERT_TRUE(bundled.root());
    EXPECT_EQ(bundled.root().name(), "DAZzle");
    EXPECT_TRUE(pages::loadXml("/KORVA/NoSuchCall-557.xml").isNull());

    test::LoopbackHttp peer;
    Config c;
    c.set("pages/BaseUrl", peer.url(""));
    c.set("net/TimeoutSeconds", "5");
    setConfig(c);
    peer.enqueue("<DAZzle><Package>from server</Package></DAZzle>");
    peer.enqueue("not xml");
    peer.enqueue("<DAZzle/>", 404);
    xml::Document served = pages::loadXml("/korva/dazzle-korva.xml");
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].method, "GET");
    EXPECT_EQ(peer.requests()[0].target, "/korva/dazzle-korva.xml");
    EXPECT_EQ(served.select("DAZzle/Package").text(), "from server");
    EXPECT_TRUE(pages::loadXml("/korva/dazzle-korva.xml").isNull());
    EXPECT_TRUE(pages::loadXml("/korva/dazzle-korva.xml").isNull());
    setConfig(previous);
}
