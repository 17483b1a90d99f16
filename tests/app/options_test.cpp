// The options page in the real browser: the form drawn into the served
// page, every input filled, DAZzle's layouts offered, and what a save reads
// back from the page.

#include "pages/pages.h"
#include "platform/web/webpage.h"
#include "store/settings.h"
#include "tests/app/real_page.h"
#include "tests/support/fake_shell.h"
#include "tests/support/temp_dir.h"
#include "ui/options.h"
#include "ui/served.h"

#include <QEventLoop>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <gtest/gtest.h>

using namespace tw;

namespace {

class OptionsPageTest : public test::RealPageTest {
  protected:
    void SetUp() override
    {
        session.openStore(dir.path());
        std::filesystem::create_directories(dir / "DAZzle");
        for (const char *name : {"b.lyt", "A.LYT", "Zebra Label.lyt", "readme.txt"})
            test::writeFile(dir / "DAZzle" / name, "x");
        ASSERT_TRUE(test::loadPage(*s_page, pages::url(ui::kSettingsPage)));
    }
    std::string value(const char *name) { return s_page->element(name).value(); }
    std::vector<std::string> options(const char *name)
    {
        std::vector<std::string> out;
        for (const auto &o : s_page->element(name).options())
            out.push_back(o.value());
        return out;
    }
    std::string dazzleExe() const { return (dir / "DAZzle" / "DAZZLE.EXE").string(); }

    test::TempDir dir;
    Session session;
    test::WebShell shell{*s_page};
};

TEST_F(OptionsPageTest, AFreshFileShowsTheDefaultsInAlternatingRows)
{
    ui::DisplayOptions(session, shell);
    EXPECT_EQ(shell.overlays, std::vector<std::string>{"Loading Settings"});
    EXPECT_FALSE(shell.processingShown());

    auto rows = s_page->element("SettingsTable").values(":scope > tbody > tr", {"style.backgroundColor"});
    ASSERT_EQ(rows.size(), 19u);
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i][0], i % 2 == 0 ? "rgb(221, 221, 255)" : "") << i;

    EXPECT_EQ(value("SMTPPort"), "25");
    EXPECT_EQ(value("DazzleExePath"), "C:\\Program Files\\Envelope Manager\\DAZzle\\DAZZLE.EXE");
    EXPECT_EQ(value("InsuredMail"), "OFF");
    EXPECT_EQ(s_page->element("InsuredMail").selectedIndex(), 0); // "None"
    EXPECT_EQ(value("PaypalAPIAuthMode"), "Signature");
    EXPECT_EQ(value("USPSTrackingApi"), "WebTools");
    EXPECT_EQ(value("ShippedMessage"), "");
    // Start-up turned DefaultBrowser on; the other boxes are off.
    EXPECT_TRUE(s_page->element("DefaultBrowser").checked());
    EXPECT_FALSE(s_page->element("Stealth").checked());
    EXPECT_FALSE(s_page->element("FlagPostageDifferences").checked());
    // No DAZzle at the default path: the notice, no selects.
    EXPECT_NE(s_page->element("SettingsTable").innerText().find("Please update the path to Dazzle.exe"),
              std::string::npos);
    EXPECT_FALSE(s_page->element("DazzleLayout_FIRST"));
    // The widths of the inputs without a size of their own.
    EXPECT_EQ(s_page->element("SMTPServer").attribute("size"), "30");
    EXPECT_EQ(s_page->element("DazzleExePath").attribute("size"),
              std::to_string(std::string("C:\\Program Files\\Envelope Manager\\DAZzle\\DAZZLE.EXE").size() + 10));
    EXPECT_EQ(s_page->element("PaypalAPISignature").attribute("type"), "password");
    EXPECT_EQ(s_page->element("USPSClientSecret").attribute("type"), "password");
}

TEST_F(OptionsPageTest, StoredValuesAndLayoutsFromDazzlesFolderAndTheSaveReadsThemBack)
{
    xml::Document &s = session.store.settings();
    test::writeFile(dir / "DAZzle" / "DAZZLE.EXE", "MZ");
    settings::set(s, "DazzleExePath", dazzleExe());
    settings::set(s, "DazzleLayout_PRIORITY", "b.lyt");
    settings::set(s, "ShippedMessage", "Line 1\nLine <2> & \"3\"");
    settings::set(s, "InsuredMail", "UPIC");
    settings::set(s, "Stealth", "True");
    settings::set(s, "PaypalAPIPassword", "s3cret&<");
    settings::set(s, "SMTPPort", "");
    ui::DisplayOptions(session, shell);

    EXPECT_EQ(value("ShippedMessage"), "Line 1\nLine <2> & \"3\"");
    EXPECT_EQ(value("InsuredMail"), "UPIC");
    EXPECT_TRUE(s_page->element("Stealth").checked());
    EXPECT_EQ(value("PaypalAPIPassword"), "s3cret&<");
    EXPECT_EQ(value("SMTPPort"), "");
    EXPECT_EQ(options("DazzleLayout_FIRST"), (std::vector<std::string>{"A.LYT", "b.lyt", "Zebra Label.lyt"}));
    EXPECT_EQ(value("DazzleLayout_FIRST"), "Zebra Label.lyt"); // the default layout
    EXPECT_EQ(value("DazzleLayout_PRIORITY"), "b.lyt");        // the stored one
    EXPECT_EQ(s_page->element("DazzleExePath").attribute("size"),
              std::to_string(dazzleExe().size() < 30 ? 30 : dazzleExe().size() + 10));

    // The seller changes a few things and saves.
    s_page->element("SMTPServer").setValue("  mail.example.com ");
    s_page->element("Stealth").setChecked(false);
    s_page->element("DazzleLayout_FIRST").setValue("A.LYT");
    s_page->element("USPSTrackingApi").setValue("REST");
    ASSERT_TRUE(ui::SaveSettings(session, shell));
    xml::Document saved = xml::Document::load(session.store.path(store::Doc::Settings));
    EXPECT_EQ(settings::read(saved, "SMTPServer"), "  mail.example.com ");
    EXPECT_EQ(settings::read(saved, "Stealth"), "False");
    EXPECT_EQ(settings::read(saved, "DazzleLayout_FIRST"), "A.LYT");
    EXPECT_EQ(settings::read(saved, "DazzleLayout_PRIORITY"), "b.lyt");
    EXPECT_EQ(settings::read(saved, "USPSTrackingApi"), "REST");
    EXPECT_EQ(settings::read(saved, "ShippedMessage"), "Line 1\nLine <2> & \"3\"");
    EXPECT_EQ(settings::read(saved, "PaypalAPIPassword"), "s3cret&<");
    EXPECT_EQ(saved.select("Settings/SMTPPort").text(), "");

    // The path changed to one that does not exist: the layouts stay.
    s_page->element("DazzleExePath").setValue(dazzleExe() + ".missing");
    s_page->element("DazzleLayout_FIRST").setValue("b.lyt");
    ASSERT_TRUE(ui::SaveSettings(session, shell));
    saved = xml::Document::load(session.store.path(store::Doc::Settings));
    EXPECT_EQ(settings::read(saved, "DazzleLayout_FIRST"), "A.LYT");
    EXPECT_EQ(settings::read(saved, "DazzleExePath"), dazzleExe() + ".missing");
}

} // namespace
