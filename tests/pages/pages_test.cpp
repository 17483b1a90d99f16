#include "pages/pages.h"
#include "platform/xml.h"

#include <gtest/gtest.h>

TEST(Pages, BundledFilesAreFoundWhateverTheCaseOfThePath)
{
    auto exact = tw::pages::bundled("/KORVA/GeteBayOfficialTime-557.xml");
    ASSERT_TRUE(exact);
    auto shouted = tw::pages::bundled("/korva/GETEBAYOFFICIALTIME-557.XML?x=1");
    ASSERT_TRUE(shouted);
    EXPECT_EQ(*exact, *shouted);
    EXPECT_TRUE(tw::xml::Document::parse(exact->toStdString()));
    EXPECT_FALSE(tw::pages::bundled("/KORVA/nothing.html"));
    EXPECT_FALSE(tw::pages::bundled("/KORVA/../KORVA/GeteBayOfficialTime-557.xml"));
    EXPECT_EQ(tw::pages::contentType("/KORVA/Main.HTML"), "text/html; charset=utf-8");
}
