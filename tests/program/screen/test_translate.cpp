// The translation tables: their files read and written byte for byte, bad
// lines, missing files, and when the maps act.
#include "tests/program/screen/fakekeyhost.h"

#include "tests/support/testutil.h"
#include "velmot/core/logit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>

using namespace keytest;
using ::testing::HasSubstr;

namespace {

constexpr char kHeader[] = "QOR6.44 // TRANSLATE\n"
                           "// CHARACTER TRANSLATION TABLE (CHANGED ENTRIES ONLY)\n"
                           "// format: x|Old|New \n"
                           "//         x= I (inward) or O (outward), Old/New in hex\n";

bool Identity(uint8_t const* map)
{
    for (int b = 0; b < 256; ++b)
        if (map[b] != b)
            return false;
    return true;
}

class TranslateTest : public ::testing::Test {
protected:
    TranslateTest()
    {
        Host.Work = Dir.path();
        snprintf(Host.SettingsData->OptsPath, sizeof Host.SettingsData->OptsPath, "Options");
        mkdir(Dir.file("Options").c_str(), 0755);
    }
    std::string Options(std::string const& name) const { return Dir.file("Options/" + name); }

    testutil::TempDir Dir;
    FAKEKEYHOST Host;
    TRANSLATE Tables{Host};
};

TEST_F(TranslateTest, AHandWrittenFileLoadsAsWrittenAndSavesChangedEntriesInOrder)
{
    Host.TranslationFolder = testutil::SourceDir() + "/program/screen/keymaps";
    std::string log;
    {
        testutil::TempDir logDir;
        LOGITARG(("/LOGIT:" + logDir.file("log.txt")).c_str());
        Tables.Load("hand.qtr");
        LOGITARG("/LOGITCLOSE");
        log = testutil::ReadFile(logDir.file("log.txt"));
    }
    EXPECT_EQ(std::string(Tables.FileName()), Host.TranslationFolder + "/hand.qtr");
    EXPECT_EQ(Tables.Inward[0x41], 0x61);
    EXPECT_EQ(Tables.Inward[0x09], 0x0A) << "one hexadecimal digit";
    EXPECT_EQ(Tables.Outward[0xE4], 0x7B) << "lower-case digits, a line ending in CR LF";
    EXPECT_EQ(Tables.Outward[0x80], 0x3F) << "the last line, without a line feed";
    EXPECT_EQ(Tables.Inward[0x42], 0x42) << "a lower-case direction is a bad line";
    EXPECT_EQ(Tables.Inward[0x43], 0x43);
    for (int line : {8, 9, 10, 11})
        EXPECT_THAT(log, HasSubstr("TRANSLATE::ReadText line " + std::to_string(line) + " skipped"));

    Host.TranslationFolder = Dir.path();
    Tables.Save("saved.qtr");
    EXPECT_EQ(testutil::ReadFile(Dir.file("saved.qtr")),
              std::string(kHeader) + "I|09|0A\nI|41|61\nO|80|3F\nO|E4|7B\n");
    EXPECT_EQ(std::string(Tables.FileName()), Dir.file("saved.qtr"));
}

TEST_F(TranslateTest, MapsRoundTripThroughTheirFile)
{
    std::mt19937 random(20);
    for (int b = 0; b < 256; ++b) {
        Tables.Inward[b] = static_cast<uint8_t>(random() % 4 ? b : random());
        Tables.Outward[b] = static_cast<uint8_t>(random() % 4 ? b : random());
    }
    TRANSLATE copy(Host);
    memcpy(copy.Inward, Tables.Inward, 256);
    memcpy(copy.Outward, Tables.Outward, 256);
    Tables.Save(nullptr);
    EXPECT_EQ(std::string(Tables.FileName()), Options("Standard.qtr"));
    Tables.Reset();
    Tables.Load(nullptr);
    EXPECT_EQ(memcmp(copy.Inward, Tables.Inward, 256), 0);
    EXPECT_EQ(memcmp(copy.Outward, Tables.Outward, 256), 0);

    // The identity saves as the header alone and loads back as it.
    Tables.Reset();
    Tables.Save("identity.qtr");
    EXPECT_EQ(testutil::ReadFile(Options("identity.qtr")), kHeader);
    copy.Load("identity.qtr");
    EXPECT_TRUE(Identity(copy.Inward) && Identity(copy.Outward));
}

// A table loaded from a path longer than 259 characters is saved back to
// that path, not to a cut one beside it.
TEST_F(TranslateTest, ALongPathIsKeptWhole)
{
    std::string folder = Dir.path();
    while (folder.size() < 300) {
        folder += "/a-folder-with-a-long-name-0123456789";
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    }
    std::string const file = folder + "/table.qtr";
    ASSERT_GT(file.size(), 259u);
    testutil::WriteFile(file, std::string(kHeader) + "I|41|61\n");
    Host.TranslationFolder = folder;
    Tables.Load("table.qtr");
    EXPECT_EQ(std::string(Tables.FileName()), file);
    ASSERT_EQ(Tables.Inward[0x41], 0x61);

    Tables.Inward[0x42] = 0x62;
    Tables.Save(nullptr);
    EXPECT_TRUE(Host.FileErrors.empty());
    EXPECT_EQ(testutil::ReadFile(file), std::string(kHeader) + "I|41|61\nI|42|62\n");
    EXPECT_EQ(std::string(Tables.FileName()), file);
}

TEST_F(TranslateTest, MissingFilesAndFailedWrites)
{
    Tables.Inward[0x41] = 0x61;
    Tables.Load(nullptr); // no "Standard.qtr": the identity, silently
    EXPECT_TRUE(Identity(Tables.Inward));
    EXPECT_TRUE(Host.FileErrors.empty());

    Tables.Inward[0x41] = 0x61;
    Tables.Load("absent.qtr");
    EXPECT_EQ(Host.FileErrors, (std::vector<std::string>{Options("absent.qtr")}));
    EXPECT_EQ(Tables.Inward[0x41], 0x61) << "the maps stay";
    EXPECT_STREQ(Tables.FileName(), "");

    Tables.Save("no/folder/x.qtr");
    EXPECT_EQ(Host.FileErrors.back(), Options("no/folder/x.qtr"));
    EXPECT_STREQ(Tables.FileName(), "");
}

TEST_F(TranslateTest, TheMapsActOnlyWithTheSettingAndWhenTheEmulationAllows)
{
    Tables.Inward['A'] = 'a';
    Tables.Outward['b'] = 'B';
    struct Case {
        char const* what;
        bool doTrans;
        unsigned long emulationFlags;
        char direction;
        int byte, result;
    } const cases[] = {
        {"inward", true, 0, 'I', 'A', 'a'},
        {"inward, sending is unchanged", true, 0, 'O', 'A', 'A'},
        {"outward", true, 0, 'O', 'b', 'B'},
        {"either case", true, 0, 'o', 'b', 'B'},
        {"another direction", true, 0, 'X', 'b', -1},
        {"DoTrans off", false, 0, 'I', 'A', 'A'},
        {"DoTrans off, outward", false, 0, 'O', 'b', 'b'},
        {"the emulation wants its data as it is", true, 128, 'I', 'A', 'A'},
        {"other emulation flags", true, 64 | 256, 'I', 'A', 'a'},
        {"not a byte", true, 0, 'I', 300, 300},
        {"not a byte, negative", true, 0, 'I', -1, -1},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        Host.Translating = c.doTrans;
        Host.EmulationFlags = c.emulationFlags;
        EXPECT_EQ(Tables.Translate(c.direction, c.byte), c.result);
    }
}

} // namespace
