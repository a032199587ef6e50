// Session profiles: defaults, the profile header, loading over the
// defaults, backups, the upgrade of old releases with their AT-command file,
// packing of text pairs, saving and the profile's file name.
#include "settings_testutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <signal.h>
#include <sys/resource.h>

using namespace settingstest;

namespace {

class Profile : public SettingsTest {
protected:
    void SetUp() override
    {
        SettingsTest::SetUp();
        MakeFolder(Work("Options"));
        profile = std::make_unique<SESSIONPROFILE>(session);
    }
    std::string Opts(std::string const& name) const { return Work("Options/" + name); }
    std::unique_ptr<SESSIONPROFILEDATA> Defaults() const
    {
        auto d = std::make_unique<SESSIONPROFILEDATA>();
        SESSIONPROFILE::Init(d.get());
        return d;
    }

    FAKESESSION session;
    std::unique_ptr<SESSIONPROFILE> profile;
};

} // namespace

TEST_F(Profile, DefaultsOfANewProfile)
{
    SESSIONPROFILEDATA const& d = profile->data;
    EXPECT_STREQ(d.Header, "QOR 6.44");
    EXPECT_EQ(d.BlockSize, sizeof(SESSIONPROFILEDATA));
    EXPECT_EQ(d.ActiveDevice, 11);
    EXPECT_STREQ(d.DeviceOpts[1], "[1]:38400-8N1|9|250");
    EXPECT_EQ(d.ActiveEmulation, 3);
    EXPECT_EQ(d.ActiveTransfer, 2);
    EXPECT_STREQ(d.TransAltDir, "QW?|MO?|TU?|WE?|TH?|FR?|SA?|SU?");
    EXPECT_STREQ(d.CaptDefaultName, "QOR^3^2_^+^8.LOG");
    EXPECT_EQ(d.AsciiCRLF, 2);
    EXPECT_EQ(d.AsciiDelay2, 50);
    EXPECT_EQ(std::wstring(d.UserDesc[0]), L"Send 'exit'");
    EXPECT_EQ(std::wstring(d.UserValue[0]), L"exit^M");
    EXPECT_EQ(d.ZNoWait, 0);
    EXPECT_EQ(d.ZAutoDownload, 1);
    EXPECT_EQ(d.ColorBack, 15);
    EXPECT_EQ(d.ColorFore, 16);
    EXPECT_EQ(d.ColorMark, 20);
    EXPECT_EQ(d.Dynamic, 2);
    EXPECT_EQ(d.CodePage, 1252);
    EXPECT_EQ(std::wstring(d.WinFont), L"Courier New  8 X 14 (10.5 pt)");
}

TEST_F(Profile, TheFontOfTheTerminalScreenWhenItIsKnown)
{
    gSettingsDefaultFontFunction = [](wchar_t* buffer, int length, int points) {
        swprintf(buffer, static_cast<size_t>(length), L"DejaVu Sans Mono %d", points);
    };
    auto d = Defaults();
    gSettingsDefaultFontFunction = nullptr;
    EXPECT_EQ(std::wstring(d->WinFont), L"DejaVu Sans Mono 14");
}

TEST_F(Profile, TheHeaderLineDecidesWhetherAFileIsAProfile)
{
    struct CASE {
        char const* header;
        int result;
    };
    CASE const cases[] = {
        {"QOR6.44", 1},      {"QOR6.21", 1},      {"QOR 4.95", 1}, {"QOR 6.44 AT COMMAND PROFILE", 1},
        {"QOR6.20", 0},      {"QOR 3.00", 0},     {"QOR 2.60", 0}, {"[Profile]", 0},
        {"", 0},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.header);
        profile->data.Echo = 0;
        testutil::WriteFile(Opts("p.qor"), std::string(c.header) + "\nEcho=yes\n");
        EXPECT_EQ(profile->Load("p.qor"), c.result);
        EXPECT_EQ(profile->data.Echo, c.result);
    }
}

TEST_F(Profile, KeysAFileLacksTakeTheirDefaults)
{
    profile->data.Beep = 0;
    OPTSBASE::CopyText(profile->data.EnqString, sizeof profile->data.EnqString, "changed");
    testutil::WriteFile(Opts("echo.qor"), "QOR6.44\nEcho=yes\n");
    ASSERT_EQ(profile->Load("echo.qor"), 1);
    auto expected = Defaults();
    expected->Echo = 1;
    EXPECT_EQ(memcmp(&profile->data, expected.get(), sizeof(SESSIONPROFILEDATA)), 0);
    EXPECT_STREQ(profile->GetCurrentFilename().Buf(), Opts("echo.qor").c_str());
    EXPECT_EQ(session.titles, 1);
}

TEST_F(Profile, ARejectedFileChangesNeitherTheBlockNorTheName)
{
    testutil::WriteFile(Opts("good.qor"), "QOR6.44\nBeep=no\n");
    testutil::WriteFile(Opts("notes.txt"), "Shopping list\nEcho=yes\n");
    ASSERT_EQ(profile->Load("good.qor"), 1);
    EXPECT_EQ(profile->Load("notes.txt"), 0);
    EXPECT_EQ(profile->data.Echo, 0);
    EXPECT_EQ(profile->data.Beep, 0);
    EXPECT_STREQ(profile->GetCurrentFilename().Buf(), Opts("good.qor").c_str());
    EXPECT_EQ(profile->Load("missing.qor"), 0);
    EXPECT_EQ(profile->Load(""), 0);
    session.askAnswer = "";
    EXPECT_EQ(profile->Load(nullptr), 0);
    session.askAnswer = "good.qor";
    EXPECT_EQ(profile->Load(nullptr), 1);
}

TEST_F(Profile, BackupsOfOlderFiles)
{
    struct CASE {
        char const* header;
        char const* backup;
    };
    CASE const cases[] = {{"QOR6.27", "b.qor.v6.27.bak"}, {"QOR6.44", nullptr}, {"QOR 5.00", nullptr}};
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.header);
        for (std::string const& name : FilesStartingWith(Work("Options"), "b.qor."))
            unlink(Opts(name).c_str());
        std::string text = std::string(c.header) + "\nEcho=yes\n";
        testutil::WriteFile(Opts("b.qor"), text);
        ASSERT_EQ(profile->Load("b.qor"), 1);
        std::vector<std::string> backups = FilesStartingWith(Work("Options"), "b.qor.");
        if (c.backup) {
            ASSERT_EQ(backups, std::vector<std::string>{c.backup});
            EXPECT_EQ(testutil::ReadFile(Opts(c.backup)), text);
        } else {
            EXPECT_TRUE(backups.empty());
        }
    }
}

TEST_F(Profile, FixUpsAfterLoading)
{
    struct CASE {
        char const* body;
        int codePage;
        int device;
    };
    CASE const cases[] = {
        {"CodePage=850", 1252, 11},   {"CodePage=1004", 1252, 11}, {"CodePage=1280", 1253, 11},
        {"CodePage=437", 437, 11},    {"ActiveDevice=24", 1252, 11}, {"ActiveDevice=-1", 1252, 11},
        {"ActiveDevice=23", 1252, 23},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.body);
        testutil::WriteFile(Opts("f.qor"), std::string("QOR6.44\n") + c.body + "\n");
        ASSERT_EQ(profile->Load("f.qor"), 1);
        EXPECT_EQ(profile->data.CodePage, c.codePage);
        EXPECT_EQ(profile->data.ActiveDevice, c.device);
    }

    testutil::WriteFile(Opts("size.qor"), "QOR6.44\nDynamic=2\nWinWidth=100\nWinHeight=30\n");
    session.cols = 132;
    session.rows = 50;
    ASSERT_EQ(profile->Load("size.qor"), 1);
    EXPECT_EQ(profile->data.WinWidth, 132);
    EXPECT_EQ(profile->data.WinHeight, 50);
    testutil::WriteFile(Opts("size.qor"), "QOR6.44\nDynamic=0\nWinWidth=100\nWinHeight=30\n");
    ASSERT_EQ(profile->Load("size.qor"), 1);
    EXPECT_EQ(profile->data.WinWidth, 100);
    EXPECT_EQ(profile->data.WinHeight, 30);

    testutil::WriteFile(Opts("old.qor"), "QOR 3.11\nShowScrollbar=no\n");
    ASSERT_EQ(profile->Load("old.qor"), 1);
    EXPECT_EQ(profile->data.ShowScrollbar, 1);
    testutil::WriteFile(Opts("new.qor"), "QOR 4.00\nShowScrollbar=no\n");
    ASSERT_EQ(profile->Load("new.qor"), 1);
    EXPECT_EQ(profile->data.ShowScrollbar, 0);
}

TEST_F(Profile, PairsCloseTheirGaps)
{
    struct CASE {
        std::vector<std::wstring> keys;
        std::vector<std::wstring> values;
        std::vector<std::wstring> packedKeys;
        std::vector<std::wstring> packedValues;
    };
    CASE const cases[] = {
        {{L"A", L"", L"B"}, {L"a", L"", L"b"}, {L"A", L"B", L""}, {L"a", L"b", L""}},
        {{L"", L"", L"C"}, {L"x", L"", L"c"}, {L"C", L"", L""}, {L"c", L"", L""}},
        {{L"A", L"B", L""}, {L"a", L"b", L"orphan"}, {L"A", L"B", L""}, {L"a", L"b", L"orphan"}},
    };
    for (CASE const& c : cases) {
        wchar_t keys[3][32] = {};
        wchar_t values[3][196] = {};
        for (int i = 0; i < 3; ++i) {
            OPTSBASE::CopyWide(keys[i], 32, c.keys[static_cast<size_t>(i)].c_str());
            OPTSBASE::CopyWide(values[i], 196, c.values[static_cast<size_t>(i)].c_str());
        }
        SESSIONPROFILE::PackPairs(3, keys, values);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(std::wstring(keys[i]), c.packedKeys[static_cast<size_t>(i)]);
            EXPECT_EQ(std::wstring(values[i]), c.packedValues[static_cast<size_t>(i)]);
        }
    }
    // A pair alone in the last slot of a loaded profile moves to the first.
    testutil::WriteFile(Opts("pairs.qor"), "QOR6.44\nAutoReplyIn#31=\"login:\"\nAutoReplyOut#31=\"guest^M\"\n");
    ASSERT_EQ(profile->Load("pairs.qor"), 1);
    EXPECT_EQ(std::wstring(profile->data.AutoReplyIn[0]), L"login:");
    EXPECT_EQ(std::wstring(profile->data.AutoReplyOut[0]), L"guest^M");
    EXPECT_EQ(profile->data.AutoReplyIn[31][0], 0);
}

TEST_F(Profile, AnOldProfileGetsItsATCommandFileOnce)
{
    std::string original = testutil::ReadFile(Fixture("Old.QOR"));
    testutil::WriteFile(Opts("Old.QOR"), original);
    ASSERT_EQ(profile->Load("Old.QOR"), 1);
    EXPECT_EQ(profile->data.Echo, 1);
    EXPECT_STREQ(profile->data.EnqString, "QOR^9");
    EXPECT_EQ(testutil::ReadFile(Opts("Old.qat")), testutil::ReadFile(Fixture("Old.qat")));
    EXPECT_STREQ(profile->data.DeviceOpts[1], "[1]:38400-8N1|9|250<Old.qat>");
    EXPECT_EQ(testutil::ReadFile(Opts("Old.QOR")), original);

    // Saved and loaded again: the reference is not appended twice, and the
    // existing AT-command file stays as the user changed it.
    testutil::WriteFile(Opts("Old.qat"), "QOR 6.44 AT COMMAND PROFILE\nMdmIni=\"mine\"\n");
    ASSERT_EQ(profile->Save("Old.QOR"), 1);
    ASSERT_EQ(profile->Load("Old.QOR"), 1);
    EXPECT_STREQ(profile->data.DeviceOpts[1], "[1]:38400-8N1|9|250<Old.qat>");
    EXPECT_EQ(testutil::ReadFile(Opts("Old.qat")), "QOR 6.44 AT COMMAND PROFILE\nMdmIni=\"mine\"\n");

    // No room left in the device's options: they stay whole.
    std::string longOptions = "[1]:" + std::string(118, 'x');
    testutil::WriteFile(Opts("Long.qor"), "QOR 4.95\nDeviceOpts#01=\"" + longOptions + "\"\n");
    ASSERT_EQ(profile->Load("Long.qor"), 1);
    EXPECT_TRUE(FileExists(Opts("Long.qat")));
    EXPECT_EQ(std::string(profile->data.DeviceOpts[1]), longOptions);
}

TEST_F(Profile, SavingUnderANameOrAskingForOne)
{
    STRING result("stale");
    EXPECT_EQ(profile->Save("", &result), 0);
    EXPECT_TRUE(result.IsEmpty());
    EXPECT_EQ(FilesStartingWith(Work("Options"), "").size(), 2u); // "." and ".." only
    session.saveAnswer = "";
    EXPECT_EQ(profile->Save(nullptr, &result), -1);

    session.saveAnswer = "asked.qor";
    profile->data.Echo = 1;
    EXPECT_EQ(profile->Save(nullptr, &result), 1);
    EXPECT_STREQ(result.Buf(), "asked.qor");
    std::string text = testutil::ReadFile(Opts("asked.qor"));
    EXPECT_EQ(text.compare(0, 8, "QOR6.44\n"), 0);
    EXPECT_NE(text.find("\nEcho=yes\n"), std::string::npos);
    EXPECT_STREQ(profile->GetCurrentFilename().Buf(), Opts("asked.qor").c_str());
    EXPECT_GE(session.titles, 1);

    // A failed save under a name keeps that name for the next try.
    SESSIONPROFILE fresh(session);
    EXPECT_EQ(fresh.Save("no/such/folder/p.qor"), 0);
    EXPECT_STREQ(fresh.GetCurrentFilename().Buf(), Opts("no/such/folder/p.qor").c_str());
    fresh.SetDefaultFilename("%QORFILES%/Options/Standard.qor");
    EXPECT_STREQ(fresh.GetCurrentFilename().Buf(), Opts("Standard.qor").c_str());
}

TEST_F(Profile, AFullDiskLeavesTheOldProfile)
{
    testutil::WriteFile(Opts("keep.qor"), "QOR6.44\nEcho=yes\n");
    int rc = testutil::RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 3;
        return profile->Save("keep.qor") == 0 ? 0 : 1;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(testutil::ReadFile(Opts("keep.qor")), "QOR6.44\nEcho=yes\n");
    EXPECT_TRUE(FilesStartingWith(Work("Options"), ".keep.qor.tmp").empty());
}
