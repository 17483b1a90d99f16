#include "tests/support/temp_dir.h"
#include "ui/layouts.h"

#include <gtest/gtest.h>

using namespace tw;

TEST(LayoutFiles, LayoutFilesOfTheDazzleFolderAnyCaseSorted)
{
    test::TempDir dir;
    for (const char *name :
         {"DAZZLE.EXE", "Zebra Label.lyt", "INTL LABEL.LYT", "notes.txt", "lyt", "old.lyt.bak", "a.Lyt"})
        test::writeFile(dir / name, "x");
    std::filesystem::create_directory(dir / "folder.lyt");
    EXPECT_EQ(ui::dazzleLayoutFiles(dir / "DAZZLE.EXE"),
              (std::vector<std::string>{"a.Lyt", "INTL LABEL.LYT", "Zebra Label.lyt"}));
    EXPECT_TRUE(ui::dazzleLayoutFiles(dir / "MISSING.EXE").empty());
    EXPECT_TRUE(ui::dazzleLayoutFiles("").empty());
}
