// The plug-in host: dictionary, names and ids, load groups, force-load
// flags, parameter strings, records, and plug-ins that misbehave.
#include "program/session/comm.h"
#include "program/session/qorpublic.h"
#include "program/session/subsys.h"
#include "tests/plugins/introanswers.h"
#include "tests/program/session/sessiontest.h"
#include "tests/support/testutil.h"

#include "velmot/core/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <string>

using namespace sessiontest;

namespace {

STRING StoredDictionary()
{
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", "QOR6\\Subsystems", REGISTRY::READWRITE);
    STRING value;
    reg.Read("Dictionary.DEV", &value);
    return value;
}

bool BundleMapped(std::string const& path)
{
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h)
        return false;
    dlclose(h);
    return true;
}

class SubsysTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ForgetDictionary();
        unsetenv("QOR_TESTPLUG");
    }
    void TearDown() override { unsetenv("QOR_TESTPLUG"); }
    FAKESESSION Session;
};

} // namespace

TEST_F(SubsysTest, FreshInstallBuildsAndSavesTheDictionaryAndAnotherVersionIsReplaced)
{
    STAGE stage({{TennickBundle(), "tennick.so"}});
    {
        SUBSYS host(Session, SS_TYPE_DEVICE);
        EXPECT_EQ(host.QueryIDFromName("Local Shell"), 11);
        EXPECT_EQ(host.QueryIDFromName("Loopback"), 5);
        EXPECT_EQ(host.RecordCount(), 0) << "building the dictionary loads nothing for good";
    }
    STRING stored = StoredDictionary();
    EXPECT_NE(stored.Pos("Local Shell=11"), -1) << stored.Buf();
    EXPECT_NE(stored.Pos("_Version=6.44"), -1) << stored.Buf();
    EXPECT_EQ(stored.Pos("\n"), -1) << "lines are joined with |";

    // A value of another version is ignored and replaced.
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", "QOR6\\Subsystems", REGISTRY::READWRITE);
    reg.Write("Dictionary.DEV", "Old Thing=3|_Version=6.43|");
    {
        SUBSYS host(Session, SS_TYPE_DEVICE);
        EXPECT_EQ(host.QueryIDFromName("Old Thing"), -1);
        EXPECT_EQ(host.QueryIDFromName("Local Shell"), 11);
    }
    EXPECT_EQ(StoredDictionary().Pos("Old Thing"), -1);

    // A value of this version is taken as it is.
    reg.Write("Dictionary.DEV", "Secure Shell=9|_Version=6.44|");
    SUBSYS host(Session, SS_TYPE_DEVICE);
    EXPECT_EQ(host.QueryIDFromName("ssh"), 9) << "aliases are compared without regard to case";
    EXPECT_EQ(host.QueryIDFromName("Local Shell"), -1);
}

TEST_F(SubsysTest, NamesAndIds)
{
    STAGE stage({{TennickBundle(), "tennick.so"}});
    SUBSYS host(Session, SS_TYPE_DEVICE);
    struct {
        char const* name;
        int id;
    } const byName[] = {
        {"Local Shell", 11}, {"LOCAL SHELL", 11}, {"loopback", 5}, {"Nothing", -1}, {"_Version", -1},
    };
    for (auto const& c : byName)
        EXPECT_EQ(host.QueryIDFromName(c.name), c.id) << c.name;

    EXPECT_FALSE(host.QueryNameFromID(0).IsSet()) << "device id 0 has no name";
    EXPECT_STREQ(host.QueryNameFromID(11).Buf(), "Local Shell");
    EXPECT_STREQ(host.QueryNameFromID(7).Buf(), "<unknown>");
    STRING first = host.QueryNameFromID(11);
    STRING second = host.QueryNameFromID(5);
    EXPECT_STREQ(first.Buf(), "Local Shell") << "a name stays valid after the next call";
    EXPECT_STREQ(second.Buf(), "Loopback");

    EXPECT_EQ(host.QueryIDFromPtr(nullptr), -1);
    EXPECT_EQ(host.QueryIDFromPtr(&host), -1);
    QORSUBSYSTEM* shell = host.FindObject(11);
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(host.QueryIDFromPtr(shell), 11);
    EXPECT_EQ(host.FindObject(5), host.FindObject(5)) << "loaded once";
}

TEST_F(SubsysTest, ForceLoadFlags)
{
    STAGE stage({});
    SUBSYS host(Session, SS_TYPE_DEVICE);
    EXPECT_EQ(host.ForceLoad((5 << 16) | 3, SS_FORCELOAD_QUERY), 0);
    EXPECT_EQ(host.ForceLoad(4, SS_FORCELOAD_ADD), 1);
    EXPECT_EQ(host.ForceLoad(4, SS_FORCELOAD_ADD), 0) << "already set";
    EXPECT_EQ(host.ForceLoad((5 << 16) | 3, SS_FORCELOAD_QUERY), 1);
    EXPECT_EQ(host.ForceLoad((9 << 16) | 6, SS_FORCELOAD_QUERY), 0);
    EXPECT_EQ(host.ForceLoad(60, SS_FORCELOAD_ADD), 0) << "60 is out of range";
    EXPECT_EQ(host.ForceLoad(-1, SS_FORCELOAD_QUERY), 0);
    EXPECT_EQ(host.ForceLoad(11, SS_FORCELOAD_LOAD), 0) << "no bundle for 11 in this stage";
}

TEST_F(SubsysTest, LoadGroupsFilterTheListUnlessForced)
{
    STAGE stage({{TennickBundle(), "tennick.so"}});
    SUBSYS host(Session, SS_TYPE_DEVICE);
    auto list = [&](int strict) {
        char* names[8];
        char buf[8 * 64];
        int ids[8];
        int n = host.QueryList(names, buf, ids, 8, -1, strict);
        std::string out;
        for (int i = 0; i < n; ++i)
            out += std::string(names[i]) + "=" + std::to_string(ids[i]) + ";";
        EXPECT_EQ(names[n], nullptr);
        EXPECT_EQ(ids[n], -1);
        return out;
    };
    // Local Shell is in group 10 (SubsysDevNetwork), Loopback and Named
    // Pipe in 12 (SubsysDevMisc); the list is sorted by name.
    struct {
        int network, misc, strict;
        char const* expected;
    } const cases[] = {
        {1, 1, 0, "Local Shell=11;Loopback=5;Named Pipe=4;"},
        {0, 1, 0, "Loopback=5;Named Pipe=4;"},
        {1, 0, 1, "Local Shell=11;"},
        {2, 1, 0, "Local Shell=11;Loopback=5;Named Pipe=4;"},
        {2, 1, 1, "Loopback=5;Named Pipe=4;"},
        {0, 0, 0, ""},
    };
    for (auto const& c : cases) {
        Session.Settings.SubsysDevNetwork = c.network;
        Session.Settings.SubsysDevMisc = c.misc;
        EXPECT_EQ(list(c.strict), c.expected) << c.network << " " << c.misc << " " << c.strict;
    }
    // A force-load flag lets a filtered module through.
    Session.Settings.SubsysDevNetwork = 0;
    Session.Settings.SubsysDevMisc = 0;
    host.ForceLoad(11, SS_FORCELOAD_ADD);
    EXPECT_EQ(list(0), "Local Shell=11;");
    // By file, the first row of the bundle is asked: its ids 4 and 5.
    EXPECT_EQ(host.IsFiltered(-1, "tennick.so", 0), 1);
    host.ForceLoad(5, SS_FORCELOAD_ADD);
    EXPECT_EQ(host.IsFiltered(-1, "tennick.so", 0), 0);
}

TEST_F(SubsysTest, MatchParms)
{
    STAGE stage({{TennickBundle(), "tennick.so"}});
    SUBSYS host(Session, SS_TYPE_DEVICE);
    strcpy(Session.Prof.DeviceOpts[9], "[9]host.example");
    strcpy(Session.Prof.DeviceOpts[5], "[5]stored");
    host.SetCurrent(host.FindObject(11));
    host.SetParm("/bin/true");
    struct {
        int id;
        char const* parm;
        signed char replace;
        char const* after;
        int result;
    } const cases[] = {
        {9, "-[3]other", 1, "-[9]host.example", 0},
        {9, "[9]mine", 1, "[9]mine", 1},
        {9, "-[9]mine", 1, "-[9]mine", 1},
        {9, "[3]other", 0, "[3]other", 0},
        {5, "untagged", 1, "[5]stored", 0},
        {11, "[3]x", 1, "[11]/bin/true", 0},
        {4, "[3]x", 1, "[4]", 0},
    };
    for (auto const& c : cases) {
        char parm[128];
        strcpy(parm, c.parm);
        EXPECT_EQ(host.MatchParms(c.id, parm, sizeof parm, c.replace, 0), c.result) << c.parm;
        EXPECT_STREQ(parm, c.after) << c.id << " " << c.parm;
    }
    char small[8];
    strcpy(small, "[3]");
    host.MatchParms(9, small, sizeof small, 1, 0);
    EXPECT_STREQ(small, "[9]host") << "cut to the room given";
}

TEST_F(SubsysTest, SetParmTagsAndReplacesForeignStrings)
{
    STAGE stage({{TennickBundle(), "tennick.so"}});
    SUBSYS host(Session, SS_TYPE_DEVICE);
    host.SetCurrent(host.FindObject(5));
    char buf[128];
    struct {
        char const* given;
        char const* kept;
    } const cases[] = {
        {"echo", "[5]echo"},
        {"[5]echo", "[5]echo"},
        {"[9]host", "[5]"},
    };
    for (auto const& c : cases) {
        host.SetParm(c.given);
        EXPECT_STREQ(host.QueryParm(buf, sizeof buf), c.kept) << c.given;
    }
    host.SetCurrent(nullptr);
    EXPECT_STREQ(host.QueryParm(buf, sizeof buf), "[0]NULL");
    EXPECT_STREQ(host.QueryStatus(buf), " ");
    EXPECT_STREQ(host.QueryStdParm(7, buf), "[7]") << "no bundle holds 7";
}

TEST_F(SubsysTest, TwoSubModulesShareOneBundleUnloadedOnceAfterBoth)
{
    STAGE stage({{TestPlugBundle(), "quimrel.so"}});
    setenv("QOR_TESTPLUG", "two", 1);
    std::string path = stage.PlugIns() + "/quimrel.so";
    {
        SUBSYS host(Session, SS_TYPE_DEVICE);
        EXPECT_EQ(host.InitModule("quimrel.dll"), 0);
        EXPECT_EQ(host.RecordCount(), 2);
        EXPECT_NE(host.FindObject(2), nullptr);
        EXPECT_NE(host.FindObject(6), nullptr);
        EXPECT_EQ(host.QuerySubsysDllHandle(host.FindObject(2), 0), host.QuerySubsysDllHandle(host.FindObject(6), 0));
        EXPECT_TRUE(BundleMapped(path));
        host.Cleanup();
        EXPECT_EQ(host.RecordCount(), 0);
        EXPECT_FALSE(BundleMapped(path)) << "the bundle goes after both objects";
        EXPECT_EQ(host.InitModule("quimrel.dll"), 0) << "loads again after a clean-up";
        EXPECT_EQ(host.InitModule("quimrel.dll"), 1) << "nothing new the second time";
        EXPECT_EQ(host.RecordCount(), 2);
    }
    EXPECT_FALSE(BundleMapped(path));
}

TEST_F(SubsysTest, MisbehavingPlugInsLeaveTheHostIntact)
{
    STAGE stage({{TestPlugBundle(), "quimrel.so"}, {NoEntryBundle(), "quimrel2.so"}});
    stage.AddFile("umbrel.so", "not a shared object");
    struct {
        char const* mode;
        char const* file;
        char const* reason; // part of the logged reason
    } const cases[] = {
        {"fault:4:1", "quimrel.dll", "outside 0 to 15"},
        {"fault:5:2", "quimrel.dll", "past the 256-byte name buffer"},
        {"fault:6:3", "quimrel.dll", "past the id array"},
        {"fault:1:4", "quimrel.dll", "but"},
        {"fault:3:5", "quimrel.dll", "empty name"},
        {"fault:7:6", "quimrel.dll", "name of 70 characters"},
        {"fault:8:7", "quimrel.dll", "holding the byte 124"},
        {"fault:10:8", "quimrel.dll", "Initialize"},
        {"fault:11:8", "quimrel.dll", "count 0"},
        {"throw", "quimrel.dll", "exception"},
        {"", "quimrel2.dll", "no entry point"},
        {"", "umbrel.dll", "does not load"},
    };
    for (auto const& c : cases) {
        setenv("QOR_TESTPLUG", c.mode, 1);
        ForgetDictionary();
        SUBSYS host(Session, SS_TYPE_DEVICE);
        EXPECT_EQ(host.InitModule(c.file), 1) << c.mode << " " << c.file;
        EXPECT_EQ(host.RecordCount(), 0) << c.mode;
        EXPECT_NE(host.LastFault().Pos(c.reason), -1) << c.mode << ": " << host.LastFault().Buf();
        EXPECT_FALSE(BundleMapped(stage.PlugIns() + "/quimrel.so")) << "refused bundles are unloaded";
    }
    // An Intro that gives no id is no fault, but loads nothing.
    setenv("QOR_TESTPLUG", "fault:9:1", 1);
    SUBSYS host(Session, SS_TYPE_DEVICE);
    EXPECT_EQ(host.InitModule("quimrel.dll"), 1);
    EXPECT_EQ(host.RecordCount(), 0);
}

TEST_F(SubsysTest, FuzzedIntroAnswers)
{
    STAGE stage({{TestPlugBundle(), "quimrel.so"}});
    int accepted = 0;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        introanswers::PLAN plan;
        introanswers::Write(seed, -1, nullptr, nullptr, &plan);
        setenv("QOR_TESTPLUG", ("seed:" + std::to_string(seed)).c_str(), 1);
        SUBSYS host(Session, SS_TYPE_DEVICE);
        int rc = host.InitModule("quimrel.dll");
        ASSERT_EQ(rc == 0, plan.accepted) << "seed " << seed << " fault " << plan.fault << ": "
                                          << host.LastFault().Buf();
        if (plan.accepted) {
            ++accepted;
            EXPECT_NE(host.FindObject(plan.firstId), nullptr) << seed;
            EXPECT_GE(host.RecordCount(), 1);
            EXPECT_LE(host.RecordCount(), plan.count);
        } else {
            EXPECT_EQ(host.RecordCount(), 0) << seed;
            if (plan.fault != introanswers::NoId) {
                EXPECT_TRUE(host.LastFault().NotEmpty()) << seed;
            }
        }
    }
    EXPECT_GT(accepted, 50);
    EXPECT_LT(accepted, 250);
}

TEST_F(SubsysTest, TheModemDeviceAloneSeesTheAtCommandOptions)
{
    STAGE stage({});
    SUBSYS host(Session, SS_TYPE_DEVICE);
    for (int id : {1, 3, 12}) {
        QORPUBLIC* pub = host.FillQorPublic(SS_TYPE_DEVICE, id);
        EXPECT_EQ(pub->AtCmdOptlist != nullptr, id == 1) << id;
        EXPECT_EQ(pub->AtCmdOpts != nullptr, id == 1) << id;
        EXPECT_EQ(pub->Session, static_cast<SESSIONAPI*>(&Session));
        EXPECT_EQ(pub->ProgramSettings, &Session.Settings);
        EXPECT_STREQ(pub->AppRegKey, "QOR6");
        delete pub;
    }
    SUBSYS emulations(Session, SS_TYPE_EMULATION);
    QORPUBLIC* pub = emulations.FillQorPublic(SS_TYPE_EMULATION, 1);
    EXPECT_EQ(pub->AtCmdOptlist, nullptr) << "id 1 of another type is no modem";
    EXPECT_EQ(pub->AtCmdOpts, nullptr);
    delete pub;

    // Without a session of its own making, the modem gets the profile's
    // AT-command rows, and an empty option set it binds to its own block.
    SESSIONLINK plain;
    SUBSYS devices(plain, SS_TYPE_DEVICE);
    pub = devices.FillQorPublic(SS_TYPE_DEVICE, 1);
    EXPECT_EQ(pub->AtCmdOptlist, SESSIONPROFILE::AtCmdOptlist);
    ASSERT_NE(pub->AtCmdOpts, nullptr);
    EXPECT_EQ(pub->AtCmdOpts->RowCount(), 0) << "empty until the device binds it";
    ATCOMMANDDATA at{};
    pub->AtCmdOpts->SetBaseList(&at, pub->AtCmdOptlist, -1);
    EXPECT_EQ(pub->AtCmdOpts->SetOpt("MdmIni=\"ATZ^M\"", 0), 0);
    EXPECT_STREQ(at.MdmIni, "ATZ^M");
    delete pub;
}

TEST_F(SubsysTest, BundlesComeOnlyFromThePlugInFolder)
{
    // A bundle in the current folder is not the plug-in folder's.
    struct CWDGUARD {
        std::filesystem::path saved = std::filesystem::current_path();
        ~CWDGUARD() { std::filesystem::current_path(saved); }
    } guard;
    testutil::TempDir here;
    std::filesystem::current_path(here.path());
    std::filesystem::copy_file(TennickBundle(), here.file("tennick.so"));
    {
        STAGE stage({});
        SUBSYS host(Session, SS_TYPE_DEVICE);
        EXPECT_EQ(host.QueryIDFromName("Local Shell"), -1);
        EXPECT_EQ(host.FindObject(11), nullptr);
        EXPECT_EQ(host.RecordCount(), 0);
    }
    // A plug-in folder named relative to the current one loads nothing.
    {
        STAGE stage({{TennickBundle(), "tennick.so"}});
        std::filesystem::path root = std::filesystem::path(stage.PlugIns()).parent_path().parent_path().parent_path();
        std::filesystem::current_path(root.parent_path());
        setenv("QOR_STAGE_DIR", root.filename().c_str(), 1);
        ForgetDictionary();
        SUBSYS host(Session, SS_TYPE_DEVICE);
        EXPECT_EQ(host.QueryIDFromName("Local Shell"), -1);
        EXPECT_EQ(host.InitModule("tennick.dll"), 1);
        EXPECT_EQ(host.RecordCount(), 0);
        EXPECT_NE(host.LastFault().Pos("not an absolute path"), -1) << host.LastFault().Buf();
        setenv("QOR_STAGE_DIR", root.c_str(), 1);
        EXPECT_EQ(host.InitModule("tennick.dll"), 0) << "the same stage by its absolute path";
    }
}

TEST_F(SubsysTest, HostServicesForward)
{
    STAGE stage({});
    HOSTPUBLIC pub(Session);
    pub.WatchLearn('x', L'a');
    pub.WatchLearn('i', L'b');
    pub.WatchLearn('O', L'c');
    Session.ScriptFind[1] = 3;
    pub.WatchWait(L'z');
    std::vector<std::string> expected = {"learn Ib", "learn Oc", "autologin z", "wait 0 z", "wait 1 z", "found 1 2"};
    EXPECT_EQ(Session.Calls, expected);

    struct {
        char const* enq;
        int max;
        char const* answer;
    } const cases[] = {
        {"id^M^J", 64, "id\r\n"},
        {"^%:^&", 64, ":"},
        {"a^^%b", 64, "a^%b"},
        {"long answer", 5, "long"},
    };
    for (auto const& c : cases) {
        strcpy(Session.Prof.EnqString, c.enq);
        char buf[64];
        STRING answer = pub.GetEnqString(buf, c.max);
        EXPECT_STREQ(answer.Buf(), c.answer) << c.enq;
        EXPECT_STREQ(buf, c.answer) << c.enq;
    }
    EXPECT_EQ(pub.SetLedMode(1), 0) << "no status line";
}

namespace {

// Records which of its operations a plug-in's host services reached, with
// the arguments that matter, and answers with values of its own.
class RECORDINGLINK : public SESSIONLINK {
public:
    std::vector<std::string> Seen;
    void Note(std::string const& what) { Seen.push_back(what); }

    void SetStatusbarLed(int led, bool on, int mode) override
    {
        Note("led " + std::to_string(led) + " " + std::to_string(on) + " " + std::to_string(mode));
    }
    int SetLedMode(int mode) override { return Note("ledmode " + std::to_string(mode)), 31; }
    void* PrinterOpen(signed char flag) override { return Note("popen " + std::to_string(flag)), this; }
    int PrinterWrite(void* job, char const* data, int len) override
    {
        return Note(std::string("pwrite ") + (job == this ? "job " : "? ") + std::string(data, len)), 32;
    }
    int PrinterClose(void* job) override { return Note(job == this ? "pclose job" : "pclose ?"), 33; }
    int Log(char const* text, int len) override { return Note("log " + std::string(text, len)), 34; }
    int LogWide(wchar_t const* text, int len) override
    {
        return Note("logw " + std::to_string(len) + " " + std::to_string(text[0])), 35;
    }
    int WaitForSessionForeground(signed char* abort) override { return Note(abort ? "fg flag" : "fg none"), 36; }
    int AddScrollLine(VIOCELL const* cells, int count, signed char notify) override
    {
        return Note("scroll " + std::to_string(cells[0].c) + " " + std::to_string(count) + " " +
                    std::to_string(notify)),
               37;
    }
    int FeedKeys(wchar_t const* keys, int count, signed char raw) override
    {
        return Note("keys " + std::to_string(keys[0]) + " " + std::to_string(count) + " " + std::to_string(raw)), 38;
    }
    int Bell() override { return Note("bell"), 39; }
    int AppTrackChanges() override { return Note("track"), 40; }
    int Ask(char const* title, char const*, char*, int max, int, signed char*) override
    {
        return Note(std::string("ask ") + title + " " + std::to_string(max)), 41;
    }
    int AskUserPass(char const* title, char*, char*, int*) override { return Note(std::string("userpass ") + title), 42; }
    int AskPassphrase(char const* title, char const*, char const* keyfile, char*, int*) override
    {
        return Note(std::string("passphrase ") + title + " " + keyfile), 43;
    }
    int StartProgram(char const* program, char const* args, char const*, int flags) override
    {
        return Note(std::string("start ") + program + " " + args + " " + std::to_string(flags)), 44;
    }
    int WarningMessage(char const* text) override { return Note(std::string("warning ") + text), 47; }
    void DestroyIntroWin() override { Note("intro"); }
    int PushFnctSelectFile(void*, CONTROLID id, CONTROLPARENT, STRING*) override
    {
        return Note("selectfile " + std::to_string(id.id)), 45;
    }
    int PushFnctSelectFolder(void*, CONTROLID id, CONTROLPARENT, STRING*) override
    {
        return Note("selectfolder " + std::to_string(id.id)), 46;
    }
};

} // namespace

TEST(HostServices, EveryOperationReachesItsTarget)
{
    // Called by slot through the plug-in interface, as a plug-in does.
    RECORDINGLINK link;
    HOSTPUBLIC host(link);
    QORPUBLIC* pub = &host;
    VIOCELL cell{};
    cell.c = 'Q';
    wchar_t const wide[] = {0x20AC, 0};
    signed char flag = 0;
    char buf[16] = {};
    struct CASE {
        char const* seen;
        std::function<long()> call;
        long result;
    } const cases[] = {
        {"led 3 1 2", [&] { return pub->SetLed(3, 1, 2); }, 0},
        {"ledmode 4", [&] { return pub->SetLedMode(4); }, 31},
        {"popen 1", [&] { return pub->PrinterOpen(1) == &link ? 1L : 0L; }, 1},
        {"pwrite job abc", [&] { return pub->PrinterWrite(&link, "abcdef", 3); }, 32},
        {"pclose job", [&] { return pub->PrinterClose(&link); }, 33},
        {"log xy", [&] { return pub->Log("xyz", 2); }, 34},
        {"logw 1 8364", [&] { return pub->LogWide(wide, 1); }, 35},
        {"fg flag", [&] { return pub->WaitForSessionForeground(&flag); }, 36},
        {"scroll 81 1 1", [&] { return pub->AddScrollLine(&cell, 1, 1); }, 37},
        {"keys 8364 1 1", [&] { return pub->FeedKeys(wide, 1, 1); }, 38},
        {"bell", [&] { return pub->Bell(); }, 39},
        {"track", [&] { return pub->AppTrackChanges(); }, 40},
        {"ask Title 16", [&] { return pub->Ask("Title", "text", buf, sizeof buf, 0, &flag); }, 41},
        {"userpass Login", [&] { return pub->AskUserPass("Login", buf, buf, nullptr); }, 42},
        {"passphrase Key id_rsa", [&] { return pub->AskPassphrase("Key", "text", "id_rsa", buf, nullptr); }, 43},
        {"start prog -a 2", [&] { return pub->StartProgram("prog", "-a", "/", 2); }, 44},
        {"warning ?careful", [&] { return pub->WarningMsg("?careful"); }, 47},
        {"intro", [&] { return pub->DestroyIntroWin(), 0L; }, 0},
        {"selectfile 7", [&] { return pub->PushFnctSelectFile(nullptr, CONTROLID{0, 7}, CONTROLPARENT{}, nullptr); }, 45},
        {"selectfolder 8",
         [&] { return pub->PushFnctSelectFolder(nullptr, CONTROLID{0, 8}, CONTROLPARENT{}, nullptr); }, 46},
    };
    for (CASE const& c : cases) {
        link.Seen.clear();
        EXPECT_EQ(c.call(), c.result) << c.seen;
        EXPECT_EQ(link.Seen, std::vector<std::string>{c.seen});
    }
}
