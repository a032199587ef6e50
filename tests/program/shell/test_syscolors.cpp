#include "program/shell/syscolors.h"

#include "program/screen/vio.h"

#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr uint32_t Rgb(int r, int g, int b)
{
    return static_cast<uint32_t>(r) | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b) << 16;
}

} // namespace

TEST(SysColors, DefaultsWithoutAFile)
{
    testutil::TempDir dir;
    SYSCOLORTABLE t;
    EXPECT_FALSE(syscolors::Load(t, dir.path().c_str()));
    EXPECT_EQ(t[1].Colour, Rgb(144, 16, 24));
    EXPECT_EQ(t[16].Colour, Rgb(22, 42, 65));
    EXPECT_STREQ(t[16].Name, "Midnight blue");
    EXPECT_STREQ(t[31].DefaultName, "Medium Orange");
    EXPECT_STREQ(t[0].DefaultName, "") << "the names of 0 to 15 come from the resources";
    for (int i = 0; i < TERM_MAX_SYSCOLORS; ++i)
        EXPECT_EQ(t[i].Index, i);
}

TEST(SysColors, ReadsRecordsAndLeavesTheRestAlone)
{
    testutil::TempDir dir;
    std::string const longName(1000, 'n');
    testutil::WriteFile(dir.file("ColorTable.qorini"), "// a comment\n"
                                                      "5=1,2,3\n"
                                                      "6=10,20,30,Sea\n"
                                                      "7=300,-5,20,Clamped\n"
                                                      "32=1,1,1,Beyond\n"
                                                      "-1=1,1,1,Before\n"
                                                      "8=1,2\n"
                                                      "garbage\n"
                                                      "9=4,5,6," +
                                                          longName + "\n"
                                                                     "10=7,8,9,Last line without end");
    SYSCOLORTABLE t;
    ASSERT_TRUE(syscolors::Load(t, dir.path().c_str()));
    EXPECT_EQ(t[5].Colour, Rgb(1, 2, 3));
    EXPECT_STREQ(t[5].Name, syscolors::ResourceName(5).Buf()) << "a record without a name keeps the built-in name";
    EXPECT_STREQ(t[6].Name, "Sea");
    EXPECT_EQ(t[7].Colour, Rgb(255, 0, 20)) << "colour values are clamped";
    EXPECT_EQ(t[8].Colour, Rgb(96, 96, 96)) << "a record with fewer values is left out";
    EXPECT_EQ(strlen(t[9].Name), 127u) << "a long name is cut, never written past the entry";
    EXPECT_STREQ(t[10].Name, "Last line without end");
    EXPECT_EQ(t[31].Colour, Rgb(255, 192, 0));
}

TEST(SysColors, SaveAndLoadAgain)
{
    testutil::TempDir dir;
    SYSCOLORTABLE t;
    syscolors::Reset(t);
    t[3].Colour = Rgb(9, 8, 7);
    snprintf(t[20].Name, sizeof t[20].Name, "%s", "Espresso, dark");
    ASSERT_TRUE(syscolors::Save(t, dir.path().c_str()));
    std::string const text = testutil::ReadFile(dir.file("ColorTable.qorini"));
    std::istringstream in(text);
    std::string line;
    int records = 0, comments = 0, empty = 0;
    while (std::getline(in, line)) {
        if (line.rfind("// ", 0) == 0)
            ++comments;
        else if (line.empty())
            ++empty;
        else
            ++records;
    }
    EXPECT_EQ(records, 32) << "every entry, also the untouched ones";
    EXPECT_EQ(comments, 32);
    EXPECT_EQ(empty, 32);
    EXPECT_NE(text.find("3=9,8,7,"), std::string::npos);

    SYSCOLORTABLE back;
    ASSERT_TRUE(syscolors::Load(back, dir.path().c_str()));
    for (int i = 0; i < TERM_MAX_SYSCOLORS; ++i) {
        EXPECT_EQ(back[i].Colour, t[i].Colour) << i;
        EXPECT_STREQ(back[i].Name, t[i].Name) << i;
    }
}

TEST(SysColors, OlderFileNameAndPublishing)
{
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("colortable.ini"), "2=4,4,4,Old\n");
    SYSCOLORTABLE t;
    ASSERT_TRUE(syscolors::Load(t, dir.path().c_str()));
    EXPECT_STREQ(t[2].Name, "Old");
    syscolors::Publish(t);
    EXPECT_EQ(gSysColorValues[2], Rgb(4, 4, 4));
    VIO::SetSysColorTable(nullptr);

    testutil::WriteFile(dir.file("ColorTable.qorini"), "2=5,5,5,New\n");
    ASSERT_TRUE(syscolors::Load(t, dir.path().c_str()));
    EXPECT_STREQ(t[2].Name, "New") << "the new name wins";

    SYSCOLORTABLE keep;
    syscolors::Reset(keep);
    EXPECT_FALSE(syscolors::Save(keep, (dir.path() + "/none/deeper").c_str())) << "a file that cannot be made reports it";
}
