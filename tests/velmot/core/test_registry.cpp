// The registry store over the preferences store: paths, mapping, typed
// values, a second process reading them back, and refused values.
#include "velmot/core/registry.h"
#include "velmot/core/osys.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/tarvo.h"
#include "tests/velmot/core/sys_testutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>
#include <filesystem>
#include <string>
#include <variant>

using systest::Asserted;
using systest::Asserts;
using testutil::ReadFile;
using testutil::TempDir;

namespace {

class Registry : public systest::SysTest {};

} // namespace

TEST_F(Registry, KeyPathsJoinWithOneBackslash)
{
    struct Case {
        char const* base;
        char const* app;
        char const* path;
    };
    std::vector<Case> const cases = {
        {"Software\\Tarvo\\", "\\Demo\\", "Software\\Tarvo\\Demo"},
        {"Software\\Tarvo", "Demo", "Software\\Tarvo\\Demo"},
        {"Software\\Tarvo\\", "\\\\Demo\\Windows\\\\", "Software\\Tarvo\\Demo\\Windows"},
        {"Software\\Tarvo\\", "", "Software\\Tarvo"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_STREQ(c.path, REGISTRY::NameFromBaseAndApp(c.base, c.app).Buf());
    }
    EXPECT_TRUE(Asserts().empty());
    EXPECT_STREQ("Software\\Tarvo\\", REGISTRY::NameFromBaseAndApp("Software\\Tarvo\\", nullptr).Buf());
    EXPECT_TRUE(Asserted("app"));
}

TEST_F(Registry, PathsMapOntoDomainsAndKeys)
{
    struct Case {
        char const* app;
        char const* identifier;
        char const* prefix;
    };
    std::vector<Case> const cases = {
        {"", "com.tarvo.registry", ""},
        {"Demo", "com.tarvo.demo", ""},
        {"Demo\\Windows\\Main", "com.tarvo.demo", "Windows:Main"},
        {"Qor Demo/1", "com.tarvo.qor_demo_1", ""},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.app);
        REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", c.app, REGISTRY::READWRITE);
        STRING identifier, prefix;
        plat::PrefScope scope;
        ASSERT_TRUE(reg.GetPrefsMapping(&identifier, &scope, &prefix));
        EXPECT_STREQ(c.identifier, identifier.Buf());
        EXPECT_STREQ(c.prefix, prefix.Buf());
        EXPECT_EQ(plat::PrefScope::CurrentUser, scope);
    }
    EXPECT_TRUE(Asserts().empty());

    // A value lands under "<prefix>:<name>" in the domain; a null name is
    // "(default)".
    REGISTRY win("Demo\\Windows", "Software\\Tarvo\\", 1);
    ASSERT_TRUE(win.Write("Position", "RECT(1,2,3,4)"));
    ASSERT_TRUE(win.Write(nullptr, 7u));
    auto pos = plat::GetPref("com.tarvo.demo", "Windows:Position", plat::PrefScope::CurrentUser);
    ASSERT_TRUE(pos && std::holds_alternative<plat::Text>(*pos));
    std::string text;
    ASSERT_TRUE(std::get<plat::Text>(*pos).ToLatin1(text));
    EXPECT_EQ("RECT(1,2,3,4)", text);
    auto def = plat::GetPref("com.tarvo.demo", "Windows:(default)", plat::PrefScope::CurrentUser);
    ASSERT_TRUE(def && std::holds_alternative<int32_t>(*def));
    EXPECT_EQ(7, std::get<int32_t>(*def));

    // A path outside Software\Tarvo is reported and still mapped.
    REGISTRY other(REGISTRY::CURRENT_USER, "Other\\Vendor", "App", REGISTRY::READWRITE);
    STRING identifier;
    EXPECT_TRUE(other.GetPrefsMapping(&identifier, nullptr, nullptr));
    EXPECT_STREQ("com.vendor.app", identifier.Buf());
    EXPECT_TRUE(Asserted("section==\"software\""));
    EXPECT_TRUE(Asserted("company==\"tarvo\""));
}

TEST_F(Registry, RootsSelectTheScope)
{
    struct Case {
        DWORD root;
        bool valid;
        plat::PrefScope scope;
    };
    std::vector<Case> const cases = {
        {1, true, plat::PrefScope::CurrentUser},
        {REGISTRY::CURRENT_USER, true, plat::PrefScope::CurrentUser},
        {0, true, plat::PrefScope::AnyUserCurrentHost},
        {REGISTRY::LOCAL_MACHINE, true, plat::PrefScope::AnyUserCurrentHost},
        {5, false, plat::PrefScope::CurrentUser},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.root);
        Asserts().clear();
        REGISTRY reg("Roots", "Software\\Tarvo\\", c.root);
        plat::PrefScope scope;
        EXPECT_EQ(c.valid, reg.GetPrefsMapping(nullptr, &scope, nullptr));
        EXPECT_EQ(!c.valid, Asserted("FALSE"));
        if (c.valid) {
            EXPECT_EQ(c.scope, scope);
        }
        // A root that maps nowhere can be neither written nor read.
        EXPECT_EQ(c.valid, reg.Write("Probe", 1u));
        DWORD v = 0;
        EXPECT_EQ(c.valid, reg.Read("Probe", &v));
    }
    // The machine's values went to the test's private any-user folder.
    EXPECT_TRUE(std::filesystem::exists(machinePrefs_ + "/com.tarvo.roots.prefs"));

    Asserts().clear();
    REGISTRY("<self>", "Software\\Tarvo\\", 1);
    EXPECT_TRUE(Asserted("app[0]!='<'"));
}

TEST_F(Registry, ValuesOfEachTypeAreReadBackByAnotherProcess)
{
    REGISTRY reg("Shared", "Software\\Tarvo\\", 1);
    unsigned char const bytes[] = {0x00, 0xff, 0x10, 0x80};
    ASSERT_TRUE(reg.Write("Number", static_cast<DWORD>(-5)));
    ASSERT_TRUE(reg.Write("Data", bytes, 3));
    ASSERT_TRUE(reg.Write("Text", "Gr\xfc\xdf" "e = \\ 100% \x80"));

    TempDir dir;
    pid_t pid = systest::StartProbe({"regread", "Shared", dir.file("out")});
    ASSERT_GT(pid, 0);
    ASSERT_EQ(0, systest::WaitProbe(pid));
    EXPECT_EQ("number -5\n"
              "data 00 ff 10\n"
              "text Gr\xfc\xdf" "e = \\ 100% \x80\n",
              ReadFile(dir.file("out")));

    // And this process reads them back the same.
    DWORD number = 0;
    EXPECT_TRUE(reg.Read("Number", &number));
    EXPECT_EQ(static_cast<DWORD>(-5), number);
    BINARY data;
    EXPECT_TRUE(reg.Read("Data", &data));
    ASSERT_EQ(3, data.Length());
    EXPECT_EQ(0, memcmp(bytes, data.Buffer, 3));
    STRING text;
    EXPECT_TRUE(reg.Read("Text", &text));
    EXPECT_STREQ("Gr\xfc\xdf" "e = \\ 100% \x80", text.Buf());
    EXPECT_EQ(1252, text.CodePage);
    EXPECT_TRUE(Asserts().empty());
}

TEST_F(Registry, ValuesOfTheWrongTypeOrSizeAreRefused)
{
    REGISTRY reg("Typed", "Software\\Tarvo\\", 1);
    unsigned char const four[] = {1, 2, 3, 4};
    unsigned char const two[] = {9, 9};
    ASSERT_TRUE(reg.Write("Four", four, 4));
    ASSERT_TRUE(reg.Write("Two", two, 2));
    ASSERT_TRUE(reg.Write("Text", "abc"));
    ASSERT_TRUE(reg.Write("Number", 42u));

    DWORD v = 0;
    EXPECT_TRUE(reg.Read("Four", &v));
    EXPECT_EQ(0x04030201u, v);
    EXPECT_TRUE(Asserts().empty());

    struct Case {
        char const* name;
        char const* expression;
    };
    std::vector<Case> const refused = {{"Two", "length==sizeof(*pdata)"}, {"Text", "FALSE"}};
    for (Case const& c : refused) {
        SCOPED_TRACE(c.name);
        Asserts().clear();
        DWORD untouched = 0xDEADBEEF;
        EXPECT_FALSE(reg.Read(c.name, &untouched));
        EXPECT_EQ(0xDEADBEEFu, untouched);
        EXPECT_TRUE(Asserted(c.expression));
    }
    Asserts().clear();
    BINARY b;
    EXPECT_FALSE(reg.Read("Number", &b));
    STRING s("kept");
    EXPECT_FALSE(reg.Read("Four", &s));
    EXPECT_STREQ("kept", s.Buf());
    int size = 8;
    char buf[8];
    EXPECT_FALSE(reg.Read("Number", buf, &size));
    EXPECT_EQ(3u, Asserts().size());

    // Missing values leave the variable alone.
    v = 77;
    EXPECT_FALSE(reg.Read("Missing", &v));
    EXPECT_EQ(77u, v);
}

TEST_F(Registry, BufferReadsCutAndReportLengths)
{
    REGISTRY reg("Buffers", "Software\\Tarvo\\", 1);
    unsigned char const bytes[] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(reg.Write("Data", bytes, 6));
    ASSERT_TRUE(reg.Write("Text", "abcdefg"));
    ASSERT_TRUE(reg.Write("Empty", ""));

    struct Case {
        char const* name;
        bool withBuffer;
        int size;
        int sizeAfter;
        char const* content; // bytes expected at the start of the buffer
        int contentLength;
    };
    std::vector<Case> const cases = {
        {"Data", false, 0, 6, "", 0},
        {"Text", false, 0, 7, "", 0},
        {"Data", true, 4, 4, "\x01\x02\x03\x04", 4},
        {"Data", true, 10, 6, "\x01\x02\x03\x04\x05\x06", 6},
        {"Text", true, 4, 3, "abc\0", 4},
        {"Text", true, 20, 7, "abcdefg\0", 8},
        {"Text", true, 1, 0, "\0", 1},
        {"Empty", true, 5, 0, "\0", 1},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.size));
        char buf[32];
        memset(buf, 'X', sizeof buf);
        int size = c.size;
        EXPECT_TRUE(reg.Read(c.name, c.withBuffer ? buf : nullptr, &size));
        EXPECT_EQ(c.sizeAfter, size);
        if (c.withBuffer) {
            EXPECT_EQ(0, memcmp(c.content, buf, static_cast<size_t>(c.contentLength)));
            EXPECT_EQ('X', buf[c.size]); // nothing written beyond the given size
        }
    }
}

TEST_F(Registry, DeleteAndNullText)
{
    REGISTRY reg("Deletes", "Software\\Tarvo\\", 1);
    EXPECT_TRUE(reg.DeleteValue("Missing")); // succeeds when the domain can be written
    ASSERT_TRUE(reg.Write("Value", 1u));
    EXPECT_TRUE(reg.DeleteValue("Value"));
    DWORD v = 0;
    EXPECT_FALSE(reg.Read("Value", &v));
    EXPECT_FALSE(reg.Write("Value", static_cast<char const*>(nullptr)));
    EXPECT_FALSE(reg.Read("Value", &v));
    EXPECT_FALSE(reg.Write("Value", nullptr, -1));
}

TEST_F(Registry, TestAccessTellsWhetherTheDomainCanBeWritten)
{
    EXPECT_TRUE(REGISTRY::TestAccess(REGISTRY::CURRENT_USER, "Software", "Tarvo", REGISTRY::WRITE));
    EXPECT_TRUE(REGISTRY::TestAccess(REGISTRY::LOCAL_MACHINE, "Software", "Tarvo", REGISTRY::WRITE));
    // Nothing was written by asking.
    EXPECT_FALSE(std::filesystem::exists(machinePrefs_ + "/com.tarvo.registry.prefs"));

    // A folder that cannot exist (below a plain file) cannot be written.
    TempDir dir;
    testutil::WriteFile(dir.file("file"), "x");
    plat::SetPrefFolder(plat::PrefScope::AnyUserCurrentHost, dir.file("file") + "/prefs");
    EXPECT_FALSE(REGISTRY::TestAccess(REGISTRY::LOCAL_MACHINE, "Software", "Tarvo", REGISTRY::WRITE));
    REGISTRY machine(REGISTRY::LOCAL_MACHINE, "Software", "Tarvo", REGISTRY::READWRITE);
    EXPECT_FALSE(machine.Write("UniqueId", 1u));

    EXPECT_TRUE(Asserts().empty());
    EXPECT_FALSE(REGISTRY::TestAccess(REGISTRY::CURRENT_USER, "Software", "Tarvo", REGISTRY::READ));
    EXPECT_TRUE(Asserted("access==REGISTRY::WRITE"));
}

TEST_F(Registry, UnwrittenPreferencesAreWrittenWhenTheProgramEnds)
{
    // A value set without synchronising (as the platform's own users may
    // do) reaches the file through the process entry's last step.
    int rc = testutil::RunInChild([] {
        plat::SetPref("com.tarvo.atexit", "Pending", plat::PrefValue(int32_t{314}), plat::PrefScope::CurrentUser);
        char arg0[] = "probe";
        char* argv[] = {arg0, nullptr};
        return VelmotEntryPoint(1, argv, [](int, char**, char**) { return 0; });
    });
    ASSERT_EQ(0, rc);
    plat::ResetPrefsCache();
    auto v = plat::GetPref("com.tarvo.atexit", "Pending", plat::PrefScope::CurrentUser);
    ASSERT_TRUE(v && std::holds_alternative<int32_t>(*v));
    EXPECT_EQ(314, std::get<int32_t>(*v));
}

// A program that defers its writes keeps them until it flushes them: its
// own reads see them at once, the file is written once for all of them, and
// only when a value changed; an id counter shared with other processes is
// written at once.
TEST_F(Registry, DeferredWritesReachTheFileOnceWhenFlushed)
{
    REGISTRY reg("Deferred", "Software\\Tarvo\\", 1);
    std::string const file = plat::PrefFilePath("com.tarvo.deferred", plat::PrefScope::CurrentUser);
    ASSERT_TRUE(reg.Write("First", 1u));
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    REGISTRY::DeferWrites(true);
    for (DWORD i = 0; i < 15; ++i)
        ASSERT_TRUE(reg.Write("Counter", i));
    ASSERT_TRUE(reg.Write("Text", "pending"));
    DWORD n = 0;
    EXPECT_TRUE(reg.Read("Counter", &n));
    EXPECT_EQ(n, 14u) << "this process reads its own unwritten values";
    struct stat now {};
    ASSERT_EQ(stat(file.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, before.st_ino) << "nothing written before the flush";
    EXPECT_EQ(ReadFile(file).find("Counter"), std::string::npos);

    // The shared id counter is another domain, written at once.
    OSYS::GetUniqueId();
    EXPECT_NE(ReadFile(plat::PrefFilePath("com.tarvo.registry", plat::PrefScope::CurrentUser)).find("UniqueIdLast"),
              std::string::npos);

    EXPECT_TRUE(REGISTRY::FlushAll());
    ASSERT_EQ(stat(file.c_str(), &now), 0);
    EXPECT_NE(now.st_ino, before.st_ino);
    EXPECT_NE(ReadFile(file).find("n Counter=14\n"), std::string::npos) << ReadFile(file);

    // The same values again change nothing on disk.
    ASSERT_TRUE(reg.Write("Counter", 14u));
    EXPECT_TRUE(REGISTRY::FlushAll());
    struct stat again {};
    ASSERT_EQ(stat(file.c_str(), &again), 0);
    EXPECT_EQ(again.st_ino, now.st_ino);
    REGISTRY::DeferWrites(false);
    EXPECT_TRUE(Asserts().empty());
}

TEST_F(Registry, EnumKeyNamesListsTheWholeDomain)
{
    REGISTRY windows("Lister\\Windows", "Software\\Tarvo\\", 1);
    REGISTRY recent("Lister\\Recent", "Software\\Tarvo\\", 1);
    REGISTRY top("Lister", "Software\\Tarvo\\", 1);
    ASSERT_TRUE(windows.Write("Main", "RECT(0,0,1,1)"));
    ASSERT_TRUE(recent.Write("File1", "a.qor"));
    ASSERT_TRUE(top.Write("Version", 3u));

    STRINGARRAY names;
    names.AppendItem(STRING("stale item"));
    // Every key of the application's domain, not only this sub-key's.
    EXPECT_EQ(3, windows.EnumKeyNames(&names));
    ASSERT_EQ(3, names.NumItems());
    std::vector<std::string> got;
    for (int i = 0; i < names.NumItems(); ++i)
        got.emplace_back(names[i]->Buf());
    EXPECT_EQ((std::vector<std::string>{"Recent:File1", "Version", "Windows:Main"}), got);

    REGISTRY empty("NothingHere", "Software\\Tarvo\\", 1);
    EXPECT_EQ(0, empty.EnumKeyNames(&names));
    EXPECT_EQ(0, names.NumItems());
}
