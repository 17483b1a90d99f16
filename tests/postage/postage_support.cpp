#include "tests/postage/postage_support.h"

#include "pages/pages.h"
#include "store/settings.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace tw::test {

std::filesystem::path postageData(std::string_view relative)
{
    return std::filesystem::path(TW_POSTAGE_TEST_DATA) / relative;
}

xml::Document loadPostageData(std::string_view relative)
{
    std::string error;
    xml::Document doc = xml::Document::load(postageData(relative), &error);
    EXPECT_TRUE(doc) << relative << ": " << error;
    return doc;
}

xml::Document bundledDazzleDefinitions()
{
    std::optional<QByteArray> bytes = pages::bundled("/korva/dazzle-korva.xml");
    EXPECT_TRUE(bytes.has_value());
    return xml::Document::parse(bytes ? std::string_view(bytes->constData(), size_t(bytes->size())) : "");
}

postage::FormValues sentForm(postage::FormKind kind, const postage::FormFill &fill, const xml::Document &settings)
{
    const bool dazzle = kind == postage::FormKind::Dazzle;
    // The first option of each select, every box unticked.
    postage::FormValues form = {
        {"MailClass", dazzle ? "FIRST" : "GND"},
        {"PackageType", dazzle ? "RECTPARCEL" : "CP"},
        {"DateAdvance", "0"},
        {"InsuredMail", "OFF"},
        {"Confirmation", "DeliveryConfirmation"},
        {"CustomsFormType", "CN22"},
        {"ContentsType", "MERCHANDISE"},
        {"CostCenter", ""},
    };
    for (const char *box :
         {"RegisteredMail", "CertifiedMail", "RestrictedDelivery", "CertificateOfMailing", "ReturnReceipt", "COD",
          "Stealth", "NonMachinable", "OversizeRate", "BalloonRate", "SignatureWaiver", "ExpressMailPremiumService",
          "NoWeekendDelivery", "NoHolidayDelivery", "CustomsCertify", "TestMode", "AutoClose"})
        form[box] = "False";
    for (const auto &[name, value] : fill.values)
        form[name] = value;
    for (const auto &[name, on] : fill.checks)
        form[name] = on ? "True" : "False";
    if (fill.nonMachinable) form["NonMachinable"] = "True";

    if (std::optional<postage::MailClassRules> rules = postage::mailClassRules(form["MailClass"], form["Value"])) {
        form["CustomsFormType"] = rules->customsFormType;
        if (rules->checkStealth) form["Stealth"] = "True";
    }
    form["Layout"] = settings::read(settings, postage::layoutSettingKey(form["MailClass"], form["PackageType"]));
    return form;
}

bool customsShown(const postage::FormValues &form)
{
    return postage::customsNeeded(postage::field(form, "ToCountry"), postage::field(form, "ToState"));
}

void expectGolden(const std::string &actual, const std::filesystem::path &golden)
{
    if (std::getenv("TW_UPDATE_GOLDEN")) writeFile(golden, actual);
    EXPECT_EQ(actual, readFile(golden)) << golden;
}

bool waitFor(const std::function<bool()> &condition, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace tw::test
