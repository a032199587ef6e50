// The real option tables: their size and invariants, a round trip of every
// written row with boundary values, and the default files compared byte for
// byte with the files the program ships and with expected fixtures.
#include "settings_testutil.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <random>

using namespace settingstest;

namespace {

struct TABLE {
    char const* name;
    OPTLIST const* rows;
    size_t blockSize;
    int rowCount;
};

TABLE const kTables[] = {
    {"program settings", PROGRAMSETTINGS::Optlist, sizeof(PROGRAMSETTINGSDATA), 174},
    {"administrator", PROGRAMSETTINGS::AdminOptlist, sizeof(ADMINOPTS), 106},
    {"session profile", SESSIONPROFILE::Optlist, sizeof(SESSIONPROFILEDATA), 160},
    {"AT commands", SESSIONPROFILE::AtCmdOptlist, sizeof(ATCOMMANDDATA), 11},
};

// Characters that each form has to carry: the escapes, quotes at the ends,
// blanks, the key and index characters, and bytes that old versions read
// as line ends.
std::string TrickyNarrow(size_t length, int variant)
{
    static char const pool[] = {'"', ' ', '\x1b', '\r', '\n', '=', '#', '\t', '\xfb', '\xfe', '\x80', '\xff',
                                'a', '~', '\'', ';', '/', 'z', '\x01', '"'};
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text += pool[(i + static_cast<size_t>(variant)) % sizeof pool];
    return text;
}

std::wstring TrickyWide(size_t length, int variant)
{
    static wchar_t const wide[] = {L'"', L' ', 0x1b, L'\r', L'\n', L'=', 0x85, 0x9f, 0xe4, 0x20ac,
                                   0x1f600, L'\t', L'x', 0xff, 0xa0, L'"'};
    static wchar_t const bytes[] = {L'"', L' ', 0x1b, L'\n', 0xa0, 0xe4, 0xff, L'a', L'"'};
    std::wstring text;
    for (size_t i = 0; i < length; ++i) {
        if (variant % 2 == 0)
            text += wide[(i + static_cast<size_t>(variant)) % (sizeof wide / sizeof wide[0])];
        else
            text += bytes[(i + static_cast<size_t>(variant)) % (sizeof bytes / sizeof bytes[0])];
    }
    return text;
}

// The values a row is tried with, each written into a zeroed block.
std::vector<std::vector<char>> ValuesFor(OPTLIST const& row)
{
    std::vector<std::vector<char>> values;
    auto number = [&](long long v) {
        std::vector<char> bytes(row.Size);
        if (row.Size == 4) {
            int32_t n = static_cast<int32_t>(v);
            memcpy(bytes.data(), &n, 4);
        } else {
            bytes[0] = static_cast<char>(static_cast<signed char>(v));
        }
        values.push_back(bytes);
    };
    switch (row.Type) {
    case OPTTYPE_FLAG:
    case OPTTYPE_INT:
        if (row.Size == 1) {
            for (long long v : {-128LL, -1LL, 0LL, 1LL, 2LL, 127LL})
                number(v);
        } else {
            for (long long v : {static_cast<long long>(INT32_MIN), -1LL, 0LL, 1LL, 2LL, 300LL,
                                static_cast<long long>(INT32_MAX), static_cast<long long>(row.Min),
                                static_cast<long long>(row.Max)})
                number(v);
        }
        break;
    case OPTTYPE_STR:
    case OPTTYPE_STRARRAY:
        for (int variant = 0; variant < 3; ++variant) {
            std::vector<char> bytes(row.Size, 0);
            std::string text = variant == 2 ? std::string("a") : TrickyNarrow(row.Size - 1, variant);
            memcpy(bytes.data(), text.data(), text.size());
            values.push_back(bytes);
        }
        break;
    case OPTTYPE_WSTR:
    case OPTTYPE_WSTRARRAY:
        for (int variant = 0; variant < 2; ++variant) {
            std::vector<char> bytes(row.Size, 0);
            std::wstring text = TrickyWide(row.Size / sizeof(wchar_t) - 1, variant);
            memcpy(bytes.data(), text.data(), text.size() * sizeof(wchar_t));
            values.push_back(bytes);
        }
        break;
    case OPTTYPE_SECRET: {
        std::mt19937 random(row.Size);
        std::vector<char> bytes(row.Size, 0);
        for (size_t i = 0; i + 1 < row.Size; ++i)
            bytes[i] = static_cast<char>(1 + random() % 255);
        values.push_back(bytes);
        break;
    }
    default:
        break;
    }
    return values;
}

} // namespace

TEST(RealTables, HaveTheirRowsAndInvariants)
{
    for (TABLE const& t : kTables) {
        SCOPED_TRACE(t.name);
        int rows = OPTSBASE::CountRows(t.rows);
        EXPECT_EQ(rows + 1, t.rowCount); // with the end row
        STRING why;
        EXPECT_TRUE(OPTSBASE::CheckTable(t.rows, rows, t.blockSize, &why)) << why.Buf();
    }
    EXPECT_STREQ(PROGRAMSETTINGS::Optlist[173].Name, "OFLIST");
    EXPECT_STREQ(PROGRAMSETTINGS::AdminOptlist[105].Name, "OFLIST");
    EXPECT_STREQ(SESSIONPROFILE::Optlist[159].Name, "OF_LIST");
    EXPECT_TRUE(SESSIONPROFILE::Optlist[159].NeverWritten());
    EXPECT_STREQ(SESSIONPROFILE::AtCmdOptlist[10].Name, "OF_LIST");
}

TEST(RealTables, EveryWrittenRowRoundTripsItsBoundaryValues)
{
    for (TABLE const& t : kTables) {
        int rows = OPTSBASE::CountRows(t.rows);
        std::vector<char> a(t.blockSize);
        std::vector<char> b(t.blockSize);
        int tried = 0;
        for (int i = 0; i < rows; ++i) {
            OPTLIST const& row = t.rows[i];
            if (row.NeverWritten())
                continue;
            // Arrays: the first and the last element.
            std::vector<int> elements = {0};
            if (row.IsArray())
                elements.push_back(row.Max - 1);
            for (int element : elements) {
                for (std::vector<char> const& value : ValuesFor(row)) {
                    SCOPED_TRACE(std::string(t.name) + " " + row.Name + " #" + std::to_string(element));
                    std::fill(a.begin(), a.end(), 0);
                    std::fill(b.begin(), b.end(), 0);
                    memcpy(a.data() + row.Offset + static_cast<size_t>(element) * row.Size, value.data(), value.size());
                    OPTSBASE writer(a.data(), t.rows, -1);
                    std::string text = SaveText(writer);
                    OPTSBASE reader(b.data(), t.rows, -1);
                    reader.SetDataVersion("6.44");
                    LoadText(reader, text);
                    ASSERT_EQ(memcmp(a.data(), b.data(), t.blockSize), 0) << text;
                    ++tried;
                }
            }
        }
        EXPECT_GT(tried, rows) << t.name;
    }
}

TEST(RealTables, NumbersWithLimitsAreClampedOnlyWhenRead)
{
    PROGRAMSETTINGSDATA d{};
    OPTSBASE opts(&d, PROGRAMSETTINGS::Optlist, -1);
    LoadText(opts, "ScrollbackLines=999999\nDialTimeout=1\nTransparency=50\nBeepMode=77\n");
    opts.ClampReadValues();
    EXPECT_EQ(d.ScrollbackLines, 64000);
    EXPECT_EQ(d.DialTimeout, 15);
    EXPECT_EQ(d.Transparency, 50);
    EXPECT_EQ(d.BeepMode, 77); // a flag: no limits
    EXPECT_EQ(d.BrBufSize, 0); // not in the file
    // A single key (a script's option command) is clamped the same way.
    EXPECT_EQ(opts.SetOpt("BrBufSize=1", 1), 0);
    opts.ClampReadValues();
    EXPECT_EQ(d.BrBufSize, 64);

    auto profile = std::make_unique<SESSIONPROFILEDATA>();
    OPTSBASE p(profile.get(), SESSIONPROFILE::Optlist, -1);
    LoadText(p, "ColorBack=99\nAntiAliasing=5\nDynamic=7\nTimeoutControl=9\nCodePage=1\n");
    p.ClampReadValues();
    EXPECT_EQ(profile->ColorBack, 31);
    EXPECT_EQ(profile->AntiAliasing, 1);
    EXPECT_EQ(profile->Dynamic, 7);        // a radio group's value
    EXPECT_EQ(profile->TimeoutControl, 9); // a minimum column only
    EXPECT_EQ(profile->CodePage, 100);
}

// ---------------------------------------------------------------------------
// Default files

class DefaultFiles : public SettingsTest {};

TEST_F(DefaultFiles, TheAdministratorFileTheProgramShips)
{
    ADMINOPTS admin;
    PROGRAMSETTINGS::AdminDefaults(admin);
    OPTSBASE writer(&admin, PROGRAMSETTINGS::AdminOptlist, -1);
    std::string path = dir_.file("admin.ini");
    ASSERT_EQ(writer.SaveFile(path.c_str(), nullptr), 0);
    std::string shipped = testutil::ReadFile(testutil::SourceDir() + "/../resources/admin.ini");
    EXPECT_EQ(testutil::ReadFile(path), shipped);
    EXPECT_EQ(shipped.compare(0, 8, "QOR6.44\n"), 0);
}

TEST_F(DefaultFiles, TheStandardProfileTheProgramShips)
{
    FAKESESSION session;
    SESSIONPROFILE profile(session);
    // The defaults, but a new user's sessions speak xterm in UTF-8 (what
    // Linux programs expect of a terminal), not the table's VT220 in
    // code page 1252.
    profile.data.ActiveEmulation = 18;
    profile.data.CodePage = 1000;
    MakeFolder(Work("Options"));
    ASSERT_EQ(profile.Save("Standard.qor"), 1);
    std::string written = testutil::ReadFile(Work("Options/Standard.qor"));
    for (char const* lang : {"english", "german"}) {
        SCOPED_TRACE(lang);
        std::string shipped = testutil::ReadFile(testutil::SourceDir() + "/../resources/newuserprofile_" + lang +
                                                 "/Options/Standard.qor");
        EXPECT_EQ(written, shipped);
    }
}

TEST_F(DefaultFiles, TheProgramSettingsOfANewUser)
{
    unsetenv("SHELL");
    FAKEHOST host;
    PROGRAMSETTINGS::AdminDefaults(host.admin);
    OPTSBASE::CopyText(host.admin.DefaultSshFolder, sizeof host.admin.DefaultSshFolder, "$(QORFILES)/ssh");
    PROGRAMSETTINGS settings(host);
    settings.Init();
    settings.SetFilename("Standard.qfg");
    MakeFolder(Work("Options"));
    ASSERT_EQ(settings.Save(), 1);
    EXPECT_EQ(testutil::ReadFile(Work("Options/Standard.qfg")), testutil::ReadFile(Fixture("standard.qfg")));
}
