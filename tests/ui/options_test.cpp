// The options page without a browser: its rows, what the inputs show, what
// a save writes, and the Save and Cancel links. The page in a real browser
// is in tests/app/options_test.cpp.

#include "pages/pages.h"
#include "platform/config.h"
#include "store/settings.h"
#include "tests/support/fake_shell.h"
#include "tests/support/temp_dir.h"
#include "ui/options.h"
#include "ui/served.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

using namespace tw;
using namespace tw::ui;

namespace {

xml::Document freshSettings()
{
    return xml::Document::parse("<Settings><eBayID>seller</eBayID></Settings>");
}

std::vector<std::string> childNames(const xml::Document &doc)
{
    std::vector<std::string> names;
    for (xml::Node c : doc.root().elements())
        names.push_back(c.name());
    return names;
}

// Every input of the form as a browser would read it back, untouched.
FormInputs untouchedForm(const xml::Document &settings, bool withLayouts)
{
    FormInputs form;
    for (const OptionField &f : optionFields()) {
        FormInput in;
        in.value = optionValue(settings, f);
        in.checkbox = f.kind == OptionField::Checkbox;
        in.checked = in.checkbox && settings::isOn(in.value);
        if (in.checkbox) in.value = "on";
        if (f.kind == OptionField::Select) in.options = 2;
        form.emplace(std::string(f.key), in);
    }
    if (withLayouts)
        for (const auto &l : settings::layouts())
            form.emplace("DazzleLayout_" + std::string(l.code), FormInput{"Chosen.lyt", false, false, 3});
    return form;
}

// A page whose settings form answers the one bulk read of a save.
class FormPage : public test::FakePage {
  public:
    std::vector<std::vector<std::string>> form; // name, type, value, checked, length
    std::vector<std::vector<std::string>> values(int, std::string_view selector,
                                                 const std::vector<std::string> &) override
    {
        return selector == "input[name], textarea[name], select[name]" ? form : std::vector<std::vector<std::string>>{};
    }
};

class FormShell : public test::FakeShell {
  public:
    FormPage formPage;
    page::Page &page() override { return formPage; }
};

} // namespace

TEST(OptionsRows, EighteenRowsThenUspsWithEveryInputOfTheForm)
{
    const std::vector<std::string> withLayouts = optionRows(true, "https://x.example/c?a=1&b=\"2\"");
    ASSERT_EQ(withLayouts.size(), 19u);
    EXPECT_EQ(withLayouts[0].rfind("Default Message - Shipped<br/>Subject:  <input type=text size=80 "
                                   "name=ShippedMessageSubject><br/>",
                                   0),
              0u);
    EXPECT_EQ(withLayouts[11], "Dazzle Return Address<br>Line 1: <input type=text size=40 name=ReturnAddress1 /><br>"
                               "Line 2: <input type=text size=40 name=ReturnAddress2 /><br>"
                               "Line 3: <input type=text size=40 name=ReturnAddress3 /><br>"
                               "Line 4: <input type=text size=40 name=ReturnAddress4 /><br>"
                               "Line 5: <input type=text size=40 name=ReturnAddress5 /><br>"
                               "Line 6: <input type=text size=40 name=ReturnAddress6 /><br>");
    EXPECT_EQ(withLayouts[17].rfind("UPS WorldShip 10 Settings<br/>", 0), 0u);
    EXPECT_EQ(withLayouts[18].rfind("USPS Tracking<br/>", 0), 0u);

    // Every field is drawn once, with the kind the filling expects, in the
    // order the fields are listed.
    std::string all;
    for (const std::string &row : withLayouts)
        all += row;
    size_t last = 0;
    for (const OptionField &f : optionFields()) {
        const std::string key(f.key);
        std::smatch m;
        ASSERT_TRUE(
            std::regex_search(all, m, std::regex("<(input|textarea|select)([^>]*) name=\"?" + key + "\"?[ >/]")))
            << key;
        EXPECT_EQ(all.find("name=" + key + " "), all.rfind("name=" + key + " ")) << key << " drawn twice";
        const std::string tag = m[1], attributes = m[2];
        const std::string expected = f.kind == OptionField::TextArea ? "textarea"
                                     : f.kind == OptionField::Select ? "select"
                                                                     : "input";
        EXPECT_EQ(tag, expected) << key;
        const char *type = f.kind == OptionField::Password   ? "type=password"
                           : f.kind == OptionField::Text     ? "type=text"
                           : f.kind == OptionField::Checkbox ? "type=checkbox"
                                                             : nullptr;
        if (type) {
            EXPECT_NE(attributes.find(type), std::string::npos) << key;
        }
        EXPECT_GE(size_t(m.position(0)), last) << key << " out of order";
        last = size_t(m.position(0));
    }

    // The layout row: fourteen selects in the order of the mail classes.
    size_t at = 0;
    for (const auto &l : settings::layouts()) {
        const std::string line = "<tr><td>" + std::string(l.label) + ": </td><td><select name=DazzleLayout_" +
                                 std::string(l.code) + " /></td></tr>";
        size_t found = withLayouts[15].find(line, at);
        ASSERT_NE(found, std::string::npos) << line;
        at = found + line.size();
    }
    EXPECT_NE(withLayouts[15].find("Global Express Guaranteed : "), std::string::npos);

    // The certificate link is an address in an attribute: escaped.
    EXPECT_NE(withLayouts[16].find("<a href=\"https://x.example/c?a=1&amp;b=&quot;2&quot;\">Certificate "
                                   "Instructions</a>"),
              std::string::npos);

    // Without DAZzle only the notice, and no layout select at all.
    const std::vector<std::string> without = optionRows(false, "");
    EXPECT_EQ(without[15], "<font color='red'>Please update the path to Dazzle.exe, save the settings, then come back "
                           "into Options to select Layouts.</font>");
    for (const std::string &row : without)
        EXPECT_EQ(row.find("DazzleLayout_"), std::string::npos);
}

TEST(OptionsValues, AFreshFileShowsThePageDefaultsAndAnEmptiedInputStaysEmpty)
{
    xml::Document s = freshSettings();
    auto show = [&](std::string_view key) {
        for (const OptionField &f : optionFields())
            if (f.key == key) return optionValue(s, f);
        ADD_FAILURE() << key;
        return std::string();
    };
    EXPECT_EQ(show("SMTPPort"), "25");
    EXPECT_EQ(show("DazzleExePath"), "C:\\Program Files\\Envelope Manager\\DAZzle\\DAZZLE.EXE");
    EXPECT_EQ(show("InsuredMail"), "OFF");
    EXPECT_EQ(show("PaypalAPIAuthMode"), "Signature");
    EXPECT_EQ(show("USPSTrackingApi"), "WebTools");
    // The page shows no default message texts: an empty box means the
    // built-in text is used when sending.
    EXPECT_EQ(show("ShippedMessage"), "");
    EXPECT_EQ(show("ShippedMessageSubject"), "");
    for (const char *box : {"DefaultBrowser", "FlagPostageDifferences", "Stealth"})
        EXPECT_FALSE(settings::isOn(show(box))) << box;

    settings::set(s, "SMTPPort", "");
    settings::set(s, "Stealth", "True");
    settings::set(s, "FlagPostageDifferences", "true"); // only the exact text counts
    EXPECT_EQ(show("SMTPPort"), "");
    EXPECT_TRUE(settings::isOn(show("Stealth")));
    EXPECT_FALSE(settings::isOn(show("FlagPostageDifferences")));
}

TEST(OptionsSave, WritesInTheSaveOrderAsTypedAndTwiceAddsNothing)
{
    xml::Document s = freshSettings();
    FormInputs form = untouchedForm(s, false);
    form["SMTPPort"].value = " 2 5x "; // letters and blanks are kept
    form["ShippedMessage"].value = "Line one\n\n  {Item/Title}  ";
    form["Stealth"].checked = true;
    form["PaypalAPIPassword"].value = "p&w<d>";
    copyFormToSettings(form, s);

    const std::vector<std::string> expected = {"eBayID",
                                               "ShippedMessageSubject",
                                               "ShippedMessage",
                                               "DeliveredNeedsFollowUpMessage",
                                               "InTransitMessage",
                                               "NotShippedMessage",
                                               "ArchivedMessage",
                                               "DazzleExePath",
                                               "FlagPostageDifferences",
                                               "ReturnAddress1",
                                               "ReturnAddress2",
                                               "ReturnAddress3",
                                               "ReturnAddress4",
                                               "ReturnAddress5",
                                               "ReturnAddress6",
                                               "Stealth",
                                               "InsuredMail",
                                               "CustomsSigner",
                                               "SMTPFrom",
                                               "SMTPServer",
                                               "SMTPPort",
                                               "DefaultBrowser",
                                               "PaypalAPIUser",
                                               "PaypalAPIPassword",
                                               "PaypalAPISignature",
                                               "PaypalAPIAuthMode",
                                               "UPSWorldShipAutoXMLImportFolder",
                                               "UPSAccount",
                                               "USPSTrackingApi",
                                               "USPSClientID",
                                               "USPSClientSecret"};
    EXPECT_EQ(childNames(s), expected);
    EXPECT_EQ(settings::read(s, "SMTPPort"), " 2 5x ");
    EXPECT_EQ(settings::read(s, "ShippedMessage"), "Line one\n\n  {Item/Title}  ");
    EXPECT_EQ(settings::read(s, "Stealth"), "True");
    EXPECT_EQ(settings::read(s, "DefaultBrowser"), "False");
    EXPECT_EQ(settings::read(s, "PaypalAPIPassword"), "p&w<d>");
    EXPECT_EQ(settings::read(s, "InsuredMail"), "OFF");

    const std::string once = s.toString();
    copyFormToSettings(form, s);
    EXPECT_EQ(s.toString(), once);

    // Emptied by the seller: saved empty, and the page shows it empty.
    form["SMTPPort"].value = "";
    copyFormToSettings(form, s);
    EXPECT_EQ(childNames(s), expected);
    EXPECT_EQ(s.select("Settings/SMTPPort").text(), "");
    FormInputs again = untouchedForm(s, false);
    EXPECT_EQ(again["SMTPPort"].value, "");

    // An input the page does not have leaves its key alone.
    form.erase("CustomsSigner");
    settings::set(s, "CustomsSigner", "A. Seller");
    copyFormToSettings(form, s);
    EXPECT_EQ(settings::read(s, "CustomsSigner"), "A. Seller");
}

TEST(OptionsSave, LayoutsOnlyWithTheirSelectsAndAnExistingDazzle)
{
    test::TempDir dir;
    test::writeFile(dir / "DAZZLE.EXE", "MZ");
    xml::Document s = freshSettings();
    settings::set(s, "DazzleLayout_FIRST", "Mine.lyt");

    // A path that does not exist: the stored layouts stay whatever the selects say.
    FormInputs form = untouchedForm(s, true);
    form["DazzleExePath"].value = (dir / "missing" / "DAZZLE.EXE").string();
    copyFormToSettings(form, s);
    EXPECT_EQ(settings::read(s, "DazzleLayout_FIRST"), "Mine.lyt");
    EXPECT_FALSE(s.select("Settings/DazzleLayout_PRIORITY"));

    // The page drawn without layouts (DAZzle was missing then): nothing, even
    // though the path typed now exists.
    FormInputs noSelects = untouchedForm(s, false);
    noSelects["DazzleExePath"].value = (dir / "DAZZLE.EXE").string();
    copyFormToSettings(noSelects, s);
    EXPECT_EQ(settings::read(s, "DazzleLayout_FIRST"), "Mine.lyt");

    // Both: every layout is written, in the order of the mail classes, after
    // DefaultBrowser; a select that offered nothing keeps its key.
    form["DazzleExePath"].value = (dir / "DAZZLE.EXE").string();
    form["DazzleLayout_INTLGXG"].options = 0;
    form["DazzleLayout_INTLGXG"].value = "";
    copyFormToSettings(form, s);
    EXPECT_EQ(settings::read(s, "DazzleLayout_FIRST"), "Chosen.lyt");
    EXPECT_EQ(settings::read(s, "DazzleLayout_INTLGXGNODOC"), "Chosen.lyt");
    EXPECT_FALSE(s.select("Settings/DazzleLayout_INTLGXG"));
    std::vector<std::string> names = childNames(s);
    auto pos = [&](const std::string &n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
    EXPECT_LT(pos("DazzleLayout_PRIORITY"), pos("DazzleLayout_INTLGXGNODOC"));
    EXPECT_LT(pos("DefaultBrowser"), pos("DazzleLayout_PRIORITY"));
}

TEST(OptionsLinks, SaveWritesTheFileOnceAndReturnsCancelSavesNothing)
{
    test::TempDir dir;
    setConfig(Config());
    Session session;
    session.openStore(dir.path());
    FormShell shell;
    FeatureTable table;
    registerOptions(session, shell, table);
    const auto settingsFile = session.store.path(store::Doc::Settings);

    // No form on the page (the fake finds nothing): nothing is saved or said saved.
    const std::string before = test::readFile(settingsFile);
    ASSERT_TRUE(table.runAction({{"Action", "SaveSettings"}, {"Button", "Save+Settings"}}));
    EXPECT_EQ(test::readFile(settingsFile), before);
    EXPECT_TRUE(shell.navigations.empty());
    EXPECT_EQ(shell.lastStatus(), "Error: the settings were not saved.");

    shell.formPage.form = {{"SMTPServer", "text", "mail.example.com", "false", ""},
                           {"SMTPPort", "text", "", "false", ""},
                           {"SMTPServer", "text", "second.example.com", "false", ""},
                           {"Stealth", "checkbox", "on", "true", ""},
                           {"InsuredMail", "select-one", "UPIC", "false", "4"}};
    // "Save Settings" with a blank instead of "+" is no button of ours.
    table.runAction({{"Action", "SaveSettings"}, {"Button", "Save Settings"}});
    EXPECT_EQ(test::readFile(settingsFile), before);
    table.runAction({{"Action", "SaveSettings"}, {"Button", "Cancel"}});
    EXPECT_EQ(test::readFile(settingsFile), before);
    ASSERT_EQ(shell.navigations.size(), 1u);

    table.runAction({{"Action", "SaveSettings"}, {"Button", "Save+Settings"}});
    xml::Document saved = xml::Document::load(settingsFile);
    EXPECT_EQ(settings::read(saved, "SMTPServer"), "mail.example.com");
    EXPECT_EQ(saved.select("Settings/SMTPPort").text(), "");
    EXPECT_EQ(settings::read(saved, "Stealth"), "True");
    EXPECT_EQ(settings::read(saved, "InsuredMail"), "UPIC");
    EXPECT_EQ(shell.lastStatus(), "Settings saved.");
    ASSERT_EQ(shell.navigations.size(), 2u);
    EXPECT_EQ(shell.navigations[1].first, pages::url(kMainPage));

    // The navigation clears the status bar; the main page says it again, once.
    shell.statuses.clear();
    for (const auto &watch : table.pageWatchers())
        watch(pages::url(kMainPage));
    EXPECT_EQ(shell.statuses, std::vector<std::string>{"Settings saved."});
    for (const auto &watch : table.pageWatchers())
        watch(pages::url(kMainPage));
    EXPECT_EQ(shell.statuses.size(), 1u);
}

TEST(OptionsLinks, AFailedSaveKeepsThePageAndSaysSo)
{
    test::TempDir dir;
    setConfig(Config());
    Session session;
    session.openStore(dir.path());
    std::vector<std::string> told;
    session.store.setSaveErrorHandler([&](const std::string &problem) { told.push_back(problem); });
    FormShell shell;
    FeatureTable table;
    registerOptions(session, shell, table);
    shell.formPage.form = {{"SMTPServer", "text", "mail.example.com", "false", ""}};

    // A folder in the file's place: the rename of the save cannot succeed.
    const auto settingsFile = session.store.path(store::Doc::Settings);
    std::filesystem::remove(settingsFile);
    std::filesystem::create_directories(settingsFile / "blocked");

    table.runAction({{"Action", "SaveSettings"}, {"Button", "Save+Settings"}});
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(shell.lastStatus(), "Error: the settings were not saved.");
    EXPECT_TRUE(shell.navigations.empty());
    for (const auto &watch : table.pageWatchers())
        watch(pages::url(kMainPage));
    EXPECT_EQ(shell.lastStatus(), "Error: the settings were not saved.");
}
