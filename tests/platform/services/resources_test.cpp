#include "platform/services/resources.h"

#include "tests/platform/services/env_guard.h"
#include "tests/support/testutil.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

using testutil::WriteFile;

TEST(StringTable, ParsesEntriesAndSkipsBadLines)
{
    std::string const text =
        "\xEF\xBB\xBF// a comment\n"
        "\"PLAIN\" = \"Plain text\";\n"
        "\n"
        "  \"SPACED\"\t=\t\"with \\\"quotes\\\", a \\\\ and a\\nbreak\" ;  // trailing\r\n"
        "\"TIGHT\"=\"x\";\n"
        "\"UMLAUT\" = \"Gr\xC3\xBC\xC3\x9F" "e\";\n"
        "\"NOSEMI\" = \"x\"\n"
        "\"TAB\" = \"a\\tb\";\n"
        "\"OPEN\" = \"never closed;\n"
        "\"LATIN1\" = \"\xE4\";\n"
        "\"JUNK\" = \"x\"; junk\n"
        "KEY = \"unquoted key\";\n"
        "\"PLAIN\" = \"Later wins\";\n"
        "\"LAST\" = \"no line feed\";";
    plat::StringTable t = plat::ParseStringTable(text);
    std::map<std::string, std::string, std::less<>> const expected = {
        {"PLAIN", "Later wins"},
        {"SPACED", "with \"quotes\", a \\ and a\nbreak"},
        {"TIGHT", "x"},
        {"UMLAUT", "Gr\xC3\xBC\xC3\x9F" "e"},
        {"LAST", "no line feed"},
    };
    EXPECT_EQ(t.entries, expected);
    EXPECT_EQ(t.invalidLines, (std::vector<int>{7, 8, 9, 10, 11, 12}));
}

TEST(ResourceLanguage, PrimarySubtagOfTheFirstKnownLanguage)
{
    struct Case {
        std::vector<std::string> langs;
        char const* expected;
    };
    std::vector<Case> const cases = {
        {{"de_DE.UTF-8"}, "de"},
        {{"DE-at"}, "de"},
        {{"de@euro"}, "de"},
        {{"fr", "de", "en"}, "de"},
        {{"en_US", "de"}, "en"},
        {{"fr_FR.UTF-8"}, "en"},
        {{"C"}, "en"},
        {{"deu"}, "en"},
        {{}, "en"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.langs));
        EXPECT_EQ(plat::PickLanguage(c.langs), c.expected);
    }
}

TEST(ResourceLanguage, EnvironmentOrder)
{
    struct Case {
        char const* language;
        char const* lcAll;
        char const* lcMessages;
        char const* lang;
        char const* expected;
    };
    std::vector<Case> const cases = {
        {"fr:de", nullptr, nullptr, "en_US.UTF-8", "de"},
        {"fr", nullptr, nullptr, "de_DE.UTF-8", "de"},
        {nullptr, "de_CH.UTF-8", "en_GB", "en_US", "de"},
        {nullptr, nullptr, "en_GB", "de_DE", "en"},
        {nullptr, "", "", "de_AT", "de"},
        {nullptr, nullptr, nullptr, nullptr, "en"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.language ? c.language : "-") + " " +
                     (c.lcAll ? c.lcAll : "-") + " " + (c.lcMessages ? c.lcMessages : "-") + " " +
                     (c.lang ? c.lang : "-"));
        EnvGuard env;
        auto opt = [](char const* v) { return v ? std::optional<std::string>(v) : std::nullopt; };
        env.Set("LANGUAGE", opt(c.language));
        env.Set("LC_ALL", opt(c.lcAll));
        env.Set("LC_MESSAGES", opt(c.lcMessages));
        env.Set("LANG", opt(c.lang));
        EXPECT_EQ(plat::ResourceLanguage(), c.expected);
    }
}

// A stage of its own with small English and German tables.
class BundleResources : public testing::Test {
protected:
    void SetUp() override
    {
        res_ = dir_.path() + "/share/qor/Resources";
        std::filesystem::create_directories(res_ + "/en.lproj");
        std::filesystem::create_directories(res_ + "/de.lproj");
        std::filesystem::create_directories(res_ + "/Help");
        std::filesystem::create_directories(res_ + "/de.lproj/Help");
        WriteFile(res_ + "/en.lproj/Localizable.strings", "\"A\" = \"loc A\";\n");
        WriteFile(res_ + "/en.lproj/App.strings",
                  "\"A\" = \"app A\";\n\"B\" = \"app B\";\n\"SAME\" = \"SAME\";\n");
        WriteFile(res_ + "/en.lproj/Mine.strings", "\"B\" = \"mine B\";\n\"C\" = \"mine C\";\n");
        WriteFile(res_ + "/de.lproj/Localizable.strings", "\"A\" = \"de A\";\n");
        WriteFile(res_ + "/de.lproj/Mine.strings", "\"C\" = \"de C\";\n");
        WriteFile(res_ + "/iconsmap.txt", "x");
        WriteFile(res_ + "/Help/topic.html", "en");
        WriteFile(res_ + "/de.lproj/Help/only-de.html", "de");
        WriteFile(res_ + "/info.txt",
                  "# comment=not a value\nCFBundleHelpBookFolder=Help\nEq=a=b\r\nEmpty=\n");
        env_.Set("QOR_STAGE_DIR", dir_.path());
        env_.Set("LANGUAGE", "en");
        plat::ClearResourceCache();
    }
    void TearDown() override { plat::ClearResourceCache(); }

    testutil::TempDir dir_;
    EnvGuard env_;
    std::string res_;
};

TEST_F(BundleResources, LookupOrderAndFallbackToTheKey)
{
    struct Case {
        char const* language;
        char const* id;
        char const* table;
        char const* expected;
    };
    std::vector<Case> const cases = {
        {"en", "A", "", "loc A"},      // Localizable comes first
        {"en", "B", "", "app B"},      // then App
        {"en", "B", "Mine", "app B"},  // App before the caller's table
        {"en", "C", "Mine", "mine C"}, // the caller's table last
        {"en", "C", "", "C"},          // nowhere: the identifier itself
        {"en", "SAME", "", "SAME"},    // a text equal to its key
        {"en", "Z", "Missing", "Z"},   // a table that does not exist
        {"de", "A", "", "de A"},
        {"de", "B", "", "app B"},      // German has no App table: English
        {"de", "C", "Mine", "de C"},
        {"de", "B", "Mine", "app B"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.language) + " " + c.id + " " + c.table);
        env_.Set("LANGUAGE", c.language);
        std::optional<std::string> text = plat::StringFromResource(c.id, c.table);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, c.expected);
    }
    EXPECT_EQ(plat::LocalizedString("B", "Mine"), "mine B");
    EXPECT_EQ(plat::LocalizedString("B", "../en.lproj/Mine"), "B");
}

TEST_F(BundleResources, NoResourcesFolderMeansNoAnswer)
{
    env_.Set("QOR_STAGE_DIR", dir_.path() + "/nowhere");
    EXPECT_EQ(plat::StringFromResource("A"), std::nullopt);
    EXPECT_EQ(plat::ResourceFilePath("iconsmap", "txt"), "");
    EXPECT_EQ(plat::InfoValue("CFBundleHelpBookFolder"), "");
}

TEST_F(BundleResources, ResourceFilePaths)
{
    struct Case {
        char const* name;
        char const* type;
        char const* sub;
        std::string expected;
    };
    std::vector<Case> const cases = {
        {"iconsmap.txt", "", "", res_ + "/iconsmap.txt"},
        {"iconsmap", "txt", "", res_ + "/iconsmap.txt"},
        {"iconsmap", ".txt", "", res_ + "/iconsmap.txt"},
        {"topic", "html", "Help", res_ + "/Help/topic.html"},
        {"topic.html", "", "Help/", res_ + "/Help/topic.html"},
        {"only-de", "html", "Help", ""}, // English: the German file is not seen
        {"missing", "txt", "", ""},
        {"..", "", "", ""},
        {"iconsmap.txt", "", "../Resources", ""},
        {"x", "/../../iconsmap.txt", "", ""},
        {"", "txt", "", ""},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "|" + c.type + "|" + c.sub);
        EXPECT_EQ(plat::ResourceFilePath(c.name, c.type, c.sub), c.expected);
    }
    env_.Set("LANGUAGE", "de");
    EXPECT_EQ(plat::ResourceFilePath("only-de", "html", "Help"),
              res_ + "/de.lproj/Help/only-de.html");
}

TEST_F(BundleResources, InfoValues)
{
    EXPECT_EQ(plat::InfoValue("CFBundleHelpBookFolder"), "Help");
    EXPECT_EQ(plat::InfoValue("Eq"), "a=b");
    EXPECT_EQ(plat::InfoValue("Empty"), "");
    EXPECT_EQ(plat::InfoValue("# comment"), "");
    EXPECT_EQ(plat::InfoValue("Missing"), "");
}

// The build copies resources/ into the stage; this reads the copy.
TEST(StagedResources, GermanTableIsSelectedByTheEnvironment)
{
    EnvGuard env;
    env.Set("LANGUAGE", std::nullopt);
    env.Set("LC_ALL", std::nullopt);
    env.Set("LC_MESSAGES", "de_DE.UTF-8");
    plat::ClearResourceCache();
    std::optional<std::string> german = plat::StringFromResource("IDS_LOADING_SUBSYS");
    env.Set("LC_MESSAGES", "C");
    std::optional<std::string> english = plat::StringFromResource("IDS_LOADING_SUBSYS");
    ASSERT_TRUE(german && english);
    EXPECT_EQ(*german, "Die Zusatzmodule werden geladen ...");
    EXPECT_EQ(*english, "Loading the plug-in modules ...");
    EXPECT_EQ(plat::InfoValue("CFBundleHelpBookFolder"), "Help");
}

} // namespace
