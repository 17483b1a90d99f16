#include "platform/config.h"
#include "platform/datetime.h"
#include "tests/support/mock_clock.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using tw::DateTime;

TEST(DateTime, FieldsArithmeticAndTextForm)
{
    DateTime t = DateTime::fromParts(2008, 2, 29, 23, 59, 58, 500);
    ASSERT_TRUE(t.isValid());
    DateTime next = t.addSecs(2);
    EXPECT_EQ(next.toString(), "2008-03-01 00:00:00");
    EXPECT_EQ(next.msec(), 500);
    EXPECT_DOUBLE_EQ(t.daysTo(t.addDays(1.25)), 1.25);
    EXPECT_EQ(t.addDays(-0.5).toString(), "2008-02-29 11:59:58");
    EXPECT_FALSE(DateTime::fromParts(2007, 2, 29).isValid());
    EXPECT_FALSE(DateTime::fromParts(2008, 1, 1, 24).isValid());
    // Before 1970 too.
    EXPECT_EQ(DateTime::fromParts(1969, 12, 31, 23, 0, 0).toString(), "1969-12-31 23:00:00");

    // The text form reads back to the same second, whatever the locale.
    EXPECT_EQ(DateTime::fromString(t.toString()), t.addMsecs(-500));
    EXPECT_EQ(DateTime::fromString("2008-01-05T09:03:07.250Z"), DateTime::fromParts(2008, 1, 5, 9, 3, 7, 250));
    EXPECT_FALSE(DateTime::fromString("05/01/2008 09:03:07").isValid());
    EXPECT_FALSE(DateTime::fromString("2008-01-05 09:03").isValid());
    EXPECT_LT(DateTime(), t); // invalid sorts first
}

TEST(Clock, TestClockReplacesTheSystemClockAndIsRemoved)
{
    const DateTime fixed = DateTime::fromParts(2010, 6, 1, 12, 0, 0);
    {
        tw::test::MockClock mock(fixed, 19800);
        EXPECT_EQ(tw::clock().localNow(), fixed);
        mock.advanceSecs(25 * 3600);
        EXPECT_EQ(tw::clock().localNow(), fixed.addDays(25.0 / 24));
        EXPECT_EQ(tw::clock().utcOffsetSeconds(fixed), 19800);
    }
    EXPECT_GT(tw::clock().localNow().year(), 2020);
}

TEST(Config, DefaultsAndFileOverrides)
{
    tw::Config defaults;
    EXPECT_EQ(defaults.get("ebay/ApiUrl"), "https://api.ebay.com/ws/api.dll");
    EXPECT_EQ(defaults.get("no/Such"), "");

    tw::test::TempDir dir;
    tw::Config changed;
    changed.set("ebay/ApiUrl", "http://127.0.0.1:1234/ws/api.dll");
    changed.set("privacy/PlaceholderEmail", "a;b=c \"q\"");
    tw::test::writeFile(dir / "t.ini", changed.toIni() + "[extra]\nThing=1\n");
    std::vector<std::string> warnings;
    tw::Config loaded = tw::Config::fromFile(dir / "t.ini", &warnings);
    EXPECT_EQ(loaded.get("ebay/ApiUrl"), "http://127.0.0.1:1234/ws/api.dll");
    EXPECT_EQ(loaded.get("privacy/PlaceholderEmail"), "a;b=c \"q\"");
    EXPECT_EQ(loaded.get("usps/UserID"), defaults.get("usps/UserID"));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("extra/Thing"), std::string::npos);
}
