// System services: names, resources and localized texts, colours,
// four-character codes, small actions and unique numbers.
#include "velmot/core/osys.h"
#include "velmot/core/registry.h"
#include "velmot/core/wstring.h"
#include "platform/services/resources.h"
#include "tests/velmot/core/sys_testutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <pwd.h>
#include <sched.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using systest::Asserted;
using systest::Asserts;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

class Osys : public systest::SysTest {};

} // namespace

TEST_F(Osys, ComputerNameCutsOnlyATrailingDotLocal)
{
    // The host name is changed in a UTS namespace of a child of its own.
    int rc = testutil::RunInChild([] {
        if (unshare(CLONE_NEWUTS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWUTS) != 0)
            return 77;
        struct Case {
            char const* host;
            char const* expected;
        };
        Case const cases[] = {
            {"pc.local", "pc"},
            {"PC.LOCAL", "PC"},
            {"pc.localdomain.net", "pc.localdomain.net"},
            {"pc.local.example.org", "pc.local.example.org"},
            {"plain", "plain"},
        };
        int index = 1;
        for (Case const& c : cases) {
            if (sethostname(c.host, strlen(c.host)) != 0)
                return 78;
            if (strcmp(OSYS::ComputerName().Buf(), c.expected) != 0)
                return index;
            ++index;
        }
        return 0;
    });
    if (rc == 77 || rc == 78)
        GTEST_SKIP() << "this system lets no process change its host name";
    EXPECT_EQ(0, rc) << "case " << rc << " failed";
}

TEST_F(Osys, UserNameComesFromTheUserDatabaseNotTheEnvironment)
{
    passwd* pw = getpwuid(geteuid());
    ASSERT_NE(nullptr, pw);
    int rc = testutil::RunInChild([&] {
        setenv("USER", "somebody-else", 1);
        return strcmp(OSYS::GetCurrentUserName().Buf(), pw->pw_name) == 0 ? 0 : 1;
    });
    EXPECT_EQ(0, rc);
}

// A stage tree of the test's own with string tables and information values.
class OsysResources : public Osys {
protected:
    void SetUp() override
    {
        Osys::SetUp();
        char const* stage = getenv("QOR_STAGE_DIR");
        oldStage_ = stage ? stage : "";
        char const* lang = getenv("LANGUAGE");
        oldLanguage_ = lang ? lang : "";
        setenv("LANGUAGE", "en", 1);
        res_ = stage_.path() + "/share/qor/Resources";
        std::filesystem::create_directories(res_ + "/en.lproj");
        WriteFile(res_ + "/en.lproj/Localizable.strings",
                  "\"IDS_BOTH\" = \"from Localizable\";\n"
                  "\"IDS_SAME\" = \"IDS_SAME\";\n"
                  "\"IDS_UMLAUT\" = \"Gr\xc3\xb6\xc3\x9f" "e\";\n"
                  "\"IDS_EURO\" = \"5 \xe2\x82\xac\";\n"
                  "\"IDS_FAR\" = \"\xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80 ok\";\n");
        WriteFile(res_ + "/en.lproj/App.strings",
                  "\"IDS_BOTH\" = \"from App\";\n"
                  "\"IDS_SAME\" = \"from App too\";\n"
                  "\"IDS_APP\" = \"only in App\";\n");
        WriteFile(res_ + "/en.lproj/Mine.strings", "\"IDS_MINE\" = \"only in Mine\";\n");
        WriteFile(res_ + "/info.txt", "CFBundleHelpBookFolder=Help\nVersion=1.2\n");
        WriteFile(res_ + "/iconsmap.txt", "x\n");
        UseStage(stage_.path());
    }
    void TearDown() override
    {
        if (oldStage_.empty())
            unsetenv("QOR_STAGE_DIR");
        else
            setenv("QOR_STAGE_DIR", oldStage_.c_str(), 1);
        setenv("LANGUAGE", oldLanguage_.c_str(), 1);
        plat::ClearResourceCache();
        Osys::TearDown();
    }
    static void UseStage(std::string const& path)
    {
        setenv("QOR_STAGE_DIR", path.c_str(), 1);
        plat::ClearResourceCache();
    }

    TempDir stage_;
    std::string res_;
    std::string oldStage_;
    std::string oldLanguage_;
};

TEST_F(OsysResources, LocalizedTextsFollowTheTableOrder)
{
    struct Case {
        char const* id;
        void* table;
        char const* expected;
    };
    void* const none = reinterpret_cast<void*>(static_cast<intptr_t>(-1));
    std::vector<Case> const cases = {
        {"IDS_BOTH", nullptr, "from Localizable"},
        {"IDS_SAME", nullptr, "from App too"}, // a table answering the id itself does not count
        {"IDS_APP", nullptr, "only in App"},
        {"IDS_MINE", const_cast<char*>("Mine"), "only in Mine"},
        {"IDS_MINE", nullptr, "IDS_MINE"},
        {"IDS_MINE", none, "IDS_MINE"},
        {"IDS_NOWHERE", const_cast<char*>("Mine"), "IDS_NOWHERE"},
        {"IDS_UMLAUT", nullptr, "Gr\xf6\xdf" "e"}, // code page 1252
        {"IDS_EURO", nullptr, "5 \x80"},
        {"IDS_FAR", nullptr, "?? ? ok"},           // what 1252 cannot hold: "?", the rest kept
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_STREQ(c.expected, OSYS::GetStringFromResource(c.id, c.table).Buf());
    }

    // The wide form keeps every character.
    EXPECT_STREQ(L"Gr\u00f6\u00dfe", OSYS::GetWideStringFromResource("IDS_UMLAUT").Buf());
    EXPECT_STREQ(L"\u65e5\u672c \U0001F600 ok", OSYS::GetWideStringFromResource("IDS_FAR").Buf());
    EXPECT_STREQ(L"only in Mine", OSYS::GetWideStringFromResource("IDS_MINE", const_cast<char*>("Mine")).Buf());
    EXPECT_STREQ(L"IDS_NOWHERE", OSYS::GetWideStringFromResource("IDS_NOWHERE").Buf());

    UseStage(stage_.file("no-such-stage"));
    EXPECT_STREQ("<RESOURCE TEXT NOT FOUND>", OSYS::GetStringFromResource("IDS_BOTH").Buf());
    EXPECT_STREQ(L"<RESOURCE TEXT NOT FOUND>", OSYS::GetWideStringFromResource("IDS_BOTH").Buf());
}

TEST_F(OsysResources, ResourceFilesAndInformationValues)
{
    EXPECT_EQ(res_ + "/iconsmap.txt", std::string(OSYS::GetResourceFilePath("iconsmap", "txt").Buf()));
    EXPECT_EQ(res_ + "/iconsmap.txt", std::string(OSYS::GetResourceFilePath("iconsmap.txt").Buf()));
    EXPECT_STREQ("", OSYS::GetResourceFilePath("missing", "txt").Buf());
    EXPECT_STREQ("", OSYS::GetResourceFilePath("../info", "txt").Buf());

    EXPECT_STREQ("Help", OSYS::GetValueFromAppInfoPlist("CFBundleHelpBookFolder").Buf());
    EXPECT_STREQ("1.2", OSYS::GetValueFromAppInfoPlist("Version").Buf());
    EXPECT_STREQ("", OSYS::GetValueFromAppInfoPlist("Missing").Buf());
}

TEST_F(Osys, SystemColoursAndBlends)
{
    std::map<int, COLORREF> const sys = {{5, 0xFFFFFF}, {22, 0xFFFFFF}, {8, 0}, {18, 0}, {23, 0},
                                         {15, 0xE8E8E8}, {16, 0x909090}, {21, 0x808080}, {24, 0xC8FFFF}};
    for (auto const& [index, colour] : sys)
        EXPECT_EQ(colour, OSYS::GetSysColor(index)) << index;
    EXPECT_TRUE(Asserts().empty());
    EXPECT_EQ(0u, OSYS::GetSysColor(9));
    EXPECT_TRUE(Asserted("FALSE"));

    struct Blend {
        COLORREF from, to;
        double percent;
        COLORREF expected;
    };
    std::vector<Blend> const blends = {
        {0x000000, 0x0000FF, 50, 0x00007F}, // 127.5 truncated
        {0x0000FF, 0x000000, 50, 0x000080}, // 255 - 127.5 truncated toward zero
        {0x123456, 0xFEDCBA, 0, 0x123456},
        {0x123456, 0xFEDCBA, 100, 0xFEDCBA},
        {0x80000000, 0x00000000, 50, 0x40000000}, // the fourth byte is blended too
        {0x000000, 0xFFFFFF, 200, 0xFFFFFF},      // beyond 100 % stays a colour
        {0xFFFFFF, 0x000000, 200, 0x000000},
    };
    for (Blend const& b : blends) {
        SCOPED_TRACE(b.percent);
        EXPECT_EQ(b.expected, OSYS::CalcColorBlend(b.from, b.to, b.percent));
    }
}

TEST_F(Osys, HueSaturationBrightnessRoundTripsEveryColour)
{
    int failures = 0;
    for (int r = 0; r < 256 && failures < 5; r += 3) {
        for (int g = 0; g < 256; g += 5) {
            for (int b = 0; b < 256; b += 7) {
                COLORREF c = static_cast<COLORREF>(r | g << 8 | b << 16);
                double h, s, v;
                OSYS::ColorRGBtoHSB(c, &h, &s, &v);
                COLORREF back = OSYS::ColorHSBtoRGB(h, s, 2 * v, 0x5A);
                if (back != (c | 0x5A000000u) && ++failures <= 5)
                    ADD_FAILURE() << std::hex << c << " came back as " << back << " via " << h << "/" << s << "/" << v;
            }
        }
    }
    EXPECT_TRUE(Asserts().empty());

    struct Known {
        double h, s, b;
        int alpha;
        COLORREF expected;
    };
    std::vector<Known> const known = {
        {0, 1, 1, 0, 0x0000FF},           // pure red
        {120, 1, 1, 0, 0x00FF00},         // pure green
        {240, 1, 1, 0, 0xFF0000},         // pure blue
        {360, 1, 1, 0, 0x0000FF},         // hue wraps
        {0, 0, 2, 255, 0xFFFFFFFF},       // white with alpha
        {0, 0, 0, 0, 0x000000},
        {60, 1, 1.5, 0, 0x80FFFF},        // brightness above 1 lightens
    };
    for (Known const& k : known) {
        SCOPED_TRACE(k.h);
        EXPECT_EQ(k.expected, OSYS::ColorHSBtoRGB(k.h, k.s, k.b, k.alpha));
    }
}

TEST_F(Osys, HueSaturationBrightnessAgreeWithPythonsHls)
{
    // python3's colorsys gives hue 0..1, lightness and saturation of the HLS
    // model; ours are the hue in degrees, the same saturation and the
    // lightness as brightness.
    std::vector<COLORREF> colours = {0x0000FF, 0x00FF00, 0xFF0000, 0x808080, 0xA26742, 0xBE7D5A,
                                     0x010203, 0xFEFDFC, 0x123456, 0x00FFFF, 0xE8E8E8, 0x7F007F};
    std::string script = "import colorsys,sys\n"
                         "for line in sys.stdin:\n"
                         "    c=int(line)\n"
                         "    h,l,s=colorsys.rgb_to_hls((c&255)/255,((c>>8)&255)/255,((c>>16)&255)/255)\n"
                         "    print('%.9f %.9f %.9f' % (h*360, s, l))\n";
    std::string input;
    for (COLORREF c : colours)
        input += std::to_string(c) + "\n";
    std::string out;
    ASSERT_EQ(0, testutil::RunProgram({"python3", "-c", script}, &out, input));
    std::istringstream lines(out);
    for (COLORREF c : colours) {
        double ph, ps, pb;
        ASSERT_TRUE(lines >> ph >> ps >> pb);
        double h, s, b;
        OSYS::ColorRGBtoHSB(c, &h, &s, &b);
        SCOPED_TRACE(c);
        EXPECT_NEAR(ph, h, 1e-6);
        EXPECT_NEAR(ps, s, 1e-6);
        EXPECT_NEAR(pb, b, 1e-6);
    }
}

TEST_F(Osys, HueSaturationBrightnessOutOfRangeGivesBlack)
{
    struct Bad {
        double h, s, b;
        int alpha;
        char const* expression;
    };
    std::vector<Bad> const bad = {
        {0, 1, 1, 256, "a>=0 && a<256"},
        {0, 1, 1, -1, "a>=0 && a<256"},
        {-1, 1, 1, 0, "h>=0"},
        {0, 1.5, 1, 0, "s>=0.f && s<=1.f"},
        {0, 1, 2.5, 0, "b>=0.f && b<=2.f"},
        {NAN, 1, 1, 0, "h>=0"},
    };
    for (Bad const& b : bad) {
        SCOPED_TRACE(b.expression);
        Asserts().clear();
        EXPECT_EQ(0u, OSYS::ColorHSBtoRGB(b.h, b.s, b.b, b.alpha));
        EXPECT_TRUE(Asserted(b.expression));
    }
    Asserts().clear();
    EXPECT_EQ(0u, OSYS::ColorHSBtoRGB(INFINITY, 1, 1, 0)); // no sector for an endless hue
}

TEST_F(Osys, FourCharacterCodes)
{
    EXPECT_EQ(0x61626364u, OSYS::BufferAsFourCharCode("abcd"));
    EXPECT_EQ(0xFF626364u, OSYS::BufferAsFourCharCode("\xff" "bcd")); // no sign spreading
    EXPECT_TRUE(Asserts().empty());

    char buf[8] = "xxxxxxx";
    OSYS::FourCharCodeToBuffer(0x56454C54, buf, 5);
    EXPECT_STREQ("VELT", buf);

    for (char const* bad : {"abc", "abcde", ""}) {
        Asserts().clear();
        EXPECT_EQ(0u, OSYS::BufferAsFourCharCode(bad)) << bad;
        EXPECT_TRUE(Asserted("strlen(buffer)==4")) << bad;
    }
    Asserts().clear();
    char small[5] = "zzzz";
    OSYS::FourCharCodeToBuffer(0x41424344, small, 4);
    EXPECT_TRUE(Asserted("bufsize>=5"));
    EXPECT_STREQ("zzzz", small); // nothing written past what the caller allowed
}

TEST_F(Osys, WakeupHarddiskLeavesNothingAndFollowsNoLink)
{
    TempDir dir;
    OSYS::WakeupHarddisk(dir.path().c_str());
    EXPECT_FALSE(std::filesystem::exists(dir.file("wakeup_harddisk.tmp")));

    // A link planted under the file's name must not lead the write elsewhere.
    WriteFile(dir.file("victim"), "precious");
    ASSERT_EQ(0, symlink(dir.file("victim").c_str(), dir.file("wakeup_harddisk.tmp").c_str()));
    OSYS::WakeupHarddisk((dir.path() + "/").c_str());
    EXPECT_EQ("precious", ReadFile(dir.file("victim")));

    OSYS::WakeupHarddisk(dir.file("missing").c_str()); // nothing happens
    OSYS::WakeupHarddisk(nullptr);
}

TEST_F(Osys, UniqueIdsGrowAndNeverRepeatWithinAProcess)
{
    DWORD last = 0;
    unsigned long long last64 = 0;
    unsigned long long before = static_cast<unsigned long long>(time(nullptr));
    for (int i = 0; i < 50; ++i) {
        DWORD id = OSYS::GetUniqueId();
        unsigned long long id64 = OSYS::GetUniqueId64();
        EXPECT_GT(id, last);
        EXPECT_GT(id64, last64);
        last = id;
        last64 = id64;
    }
    // Seconds × 65536 plus a counter: the seconds part is the clock's.
    EXPECT_GE(last64 >> 16, before);
    EXPECT_LE(last64 >> 16, static_cast<unsigned long long>(time(nullptr)) + 1);

    // The shared counter is the 4-byte data value "UniqueId" in the user's
    // registry; the machine's is never written, even where it could be
    // (here the test's private any-user folder).
    ASSERT_TRUE(REGISTRY::TestAccess(REGISTRY::LOCAL_MACHINE, "Software", "Tarvo", REGISTRY::WRITE));
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software", "Tarvo", REGISTRY::READWRITE);
    int size = 0;
    ASSERT_TRUE(reg.Read("UniqueId", nullptr, &size));
    EXPECT_EQ(4, size);
    REGISTRY machine(REGISTRY::LOCAL_MACHINE, "Software", "Tarvo", REGISTRY::READWRITE);
    EXPECT_FALSE(machine.Read("UniqueId", nullptr, &size));
}

TEST_F(Osys, UniqueIdsOfTwoProcessesNeverCollide)
{
    TempDir dir;
    int const count = 60;
    pid_t a = systest::StartProbe({"uniqueid", std::to_string(count), dir.file("a")});
    pid_t b = systest::StartProbe({"uniqueid", std::to_string(count), dir.file("b")});
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    std::set<DWORD> mine;
    for (int i = 0; i < count; ++i)
        mine.insert(OSYS::GetUniqueId());
    ASSERT_EQ(0, systest::WaitProbe(a));
    ASSERT_EQ(0, systest::WaitProbe(b));

    std::set<unsigned long long> all32(mine.begin(), mine.end());
    std::set<unsigned long long> all64;
    for (std::string const& file : {dir.file("a"), dir.file("b")}) {
        std::istringstream in(ReadFile(file));
        std::string kind;
        unsigned long long id;
        unsigned long long last32 = 0, last64 = 0;
        int n = 0;
        while (in >> kind >> id) {
            auto& last = kind == "a" ? last32 : last64;
            EXPECT_GT(id, last) << file; // increasing within each process
            last = id;
            EXPECT_TRUE((kind == "a" ? all32 : all64).insert(id).second) << "id " << id << " handed out twice";
            ++n;
        }
        EXPECT_EQ(2 * count, n) << file;
    }
    EXPECT_EQ(3u * count, all32.size());
    EXPECT_EQ(2u * count, all64.size());
}
