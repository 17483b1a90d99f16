// The files written for DAZzle and WorldShip for three labels, from the order
// selection through the filled form to the file, compared byte for byte with
// tests/data/postage/<case>/ (TW_UPDATE_GOLDEN=1 rewrites them).
#include "postage/dazzle.h"
#include "postage/worldship.h"
#include "store/lookup.h"
#include "tests/postage/postage_support.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

namespace tw::test {
namespace {

using namespace postage;

class LabelFilesTest : public ::testing::TestWithParam<std::string> {
  protected:
    xml::Document settings = loadPostageData("settings.xml");
    xml::Document selection = loadPostageData(GetParam() + "/selection.xml");
    xml::Document lookup = InitLookup();

    FormValues form(FormKind kind)
    {
        FormSources sources{selection.root(), &settings, &lookup, "https://contact.example/ws/eBayISAPI.dll",
                            "private@example.invalid"};
        return sentForm(kind, fillPostageForm(kind, sources), settings);
    }

    std::string saved(const xml::Document &doc)
    {
        TempDir dir;
        std::string error;
        EXPECT_TRUE(doc.save(dir / "out.xml", &error)) << error;
        return readFile(dir / "out.xml");
    }
};

TEST_P(LabelFilesTest, DazzlePackageFile)
{
    FormValues f = form(FormKind::Dazzle);
    Checked<xml::Document> package =
        buildDazzlePackage(bundledDazzleDefinitions(), f, customsShown(f), settings, selection.root(), "/tmp/tidewell");
    ASSERT_TRUE(package) << package.error();
    expectGolden(saved(package.value()), postageData(GetParam() + "/package.xml"));
}

TEST_P(LabelFilesTest, WorldShipOpenShipmentsFile)
{
    Checked<xml::Document> shipments = buildOpenShipments(form(FormKind::WorldShip), settings, "/srv/worldship/import");
    ASSERT_TRUE(shipments) << shipments.error();
    expectGolden(saved(shipments.value()), postageData(GetParam() + "/OpenShipments.xml"));
}

INSTANTIATE_TEST_SUITE_P(Labels, LabelFilesTest, ::testing::Values("domestic", "international", "three-orders"),
                         [](const auto &info) {
                             std::string name = info.param;
                             std::erase(name, '-');
                             return name;
                         });

} // namespace
} // namespace tw::test
