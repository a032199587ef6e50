// Process entry and the application base: the start and end sequence of a
// real program (entry_probe), and the argument helpers.
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/tarvo.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

struct ProbeRun {
    int exitcode = -1;
    std::vector<std::string> args;
    std::map<std::string, std::string> facts; // "FD 0" -> "/dev/null", "LOCALE" -> "9", ...
    std::string output;
};

std::string ProbePath()
{
    const char* dir = getenv("QOR_TEST_BIN_DIR");
    return std::string(dir ? dir : ".") + "/entry_probe";
}

// Starts the probe with the given arguments and environment additions; the
// descriptors in `closefds` are closed in the child before the exec.
ProbeRun RunProbe(const std::vector<std::string>& args, const std::vector<std::string>& env,
                  const std::vector<int>& closefds = {})
{
    ProbeRun run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    std::string path = ProbePath();
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The additions replace inherited variables of the same name.
    std::vector<std::string> envstore;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const auto& add : env)
            replaced = replaced || add.compare(0, name.size(), name) == 0;
        if (!replaced)
            envstore.push_back(entry);
    }
    for (const auto& e : env)
        envstore.push_back(e);
    std::vector<char*> envp;
    for (auto& e : envstore)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        for (int fd : closefds)
            close(fd);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        run.output.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitcode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    size_t pos = 0;
    while (pos < run.output.size()) {
        size_t lf = run.output.find('\n', pos);
        std::string line = run.output.substr(pos, lf - pos);
        pos = lf == std::string::npos ? run.output.size() : lf + 1;
        if (line.rfind("ARG ", 0) == 0) {
            size_t open = line.find('[');
            run.args.push_back(line.substr(open + 1, line.size() - open - 2));
        } else if (line.rfind("FD ", 0) == 0 || line.rfind("AFTER ", 0) == 0) {
            size_t second = line.find(' ', line.find(' ') + 1);
            run.facts[line.substr(0, second)] = line.substr(second + 1);
        } else {
            size_t sp = line.find(' ');
            if (sp != std::string::npos)
                run.facts[line.substr(0, sp)] = line.substr(sp + 1);
        }
    }
    return run;
}

// A private stage tree for the probe.
struct Stage {
    TempDir dir;
    std::string root() const { return dir.path(); }
    std::string resources() const { return dir.path() + "/share/qor/Resources"; }
    std::string env() const { return "QOR_STAGE_DIR=" + dir.path(); }
    Stage()
    {
        mkdir((dir.path() + "/share").c_str(), 0755);
        mkdir((dir.path() + "/share/qor").c_str(), 0755);
        mkdir(resources().c_str(), 0755);
    }
};

} // namespace

TEST(EntryPoint, ArgumentsFilesAndExitCode)
{
    Stage stage;
    // The bundle of the probe is "entry_probe.app": its argument file is
    // "entry_probe_commandline.ini".
    WriteFile(stage.root() + "/commandline.ini", "  /fromroot  \r\n\n   \nlast line without feed");
    WriteFile(stage.resources() + "/entry_probe_commandline.ini", "/fromresources\n");
    ProbeRun run = RunProbe({"-psn_0_12345", "-psn", "plain arg"}, {stage.env(), "PROBE_EXIT=42"});
    EXPECT_EQ(42, run.exitcode) << run.output;
    std::vector<std::string> expected{stage.root() + "/.", "/APPLE-PSN:0_12345", "-psn", "plain arg",
                                      "/fromroot", "", "last line without feed", "/fromresources"};
    EXPECT_EQ(expected, run.args);
    EXPECT_EQ("entry_probe", run.facts["APPNAME"]);
    EXPECT_EQ("1", run.facts["MAINTHREAD"]);
    EXPECT_EQ(std::string::npos, run.output.find("ARGV NOT TERMINATED"));
}

TEST(EntryPoint, ClosedStandardDescriptorsGetDevNullUntilTheEnd)
{
    Stage stage;
    ProbeRun run = RunProbe({}, {stage.env()}, {0, 2});
    EXPECT_EQ(0, run.exitcode) << run.output;
    EXPECT_EQ("/dev/null", run.facts["FD 0"]);
    EXPECT_EQ("/dev/null", run.facts["FD 2"]);
    EXPECT_NE("/dev/null", run.facts["FD 1"]); // our pipe
    EXPECT_EQ("closed", run.facts["AFTER 0"]);
    EXPECT_EQ("closed", run.facts["AFTER 2"]);
    EXPECT_NE("closed", run.facts["AFTER 1"]);
}

TEST(EntryPoint, LanguageSwitch)
{
    Stage stage;
    struct Case {
        std::vector<std::string> args;
        std::string lang;
        std::string locale;
    } cases[] = {
        {{"/LANG:french"}, "LANG=C", "12"},
        {{"/lang:GER"}, "LANG=C", "7"},
        {{"/LANG:hungarian"}, "LANG=C", "14"},
        {{"/LANG:de"}, "LANG=C", "9"},         // not a known value: the platform's default
        {{}, "LANGUAGE=de_DE:en", "7"},        // the platform's default from the environment
        {{"/LANG:engl"}, "LANGUAGE=de", "9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lang + (c.args.empty() ? "" : " " + c.args[0]));
        std::map<std::string, std::string> vars{{"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "C"}};
        vars[c.lang.substr(0, c.lang.find('='))] = c.lang.substr(c.lang.find('=') + 1);
        std::vector<std::string> env{stage.env()};
        for (const auto& [name, value] : vars)
            env.push_back(name + "=" + value);
        ProbeRun run = RunProbe(c.args, env);
        EXPECT_EQ(c.locale, run.facts["LOCALE"]);
    }
}

TEST(EntryPoint, LoggingSwitchesFromArgumentsAndFiles)
{
    Stage stage;
    std::string log = stage.root() + "/probe.log";
    WriteFile(stage.root() + "/commandline.ini", "/startupdelay:0\n");
    ProbeRun run = RunProbe({"/LOGIT:" + log, "/NOSUCH"}, {stage.env(), "PROBE_EXIT=5"});
    EXPECT_EQ(5, run.exitcode);
    // The switch stays in the argument list.
    ASSERT_GE(run.args.size(), 3u);
    EXPECT_EQ("/LOGIT:" + log, run.args[1]);
    std::string text = ReadFile(log);
    for (const char* expected : {
             "Logging starts at ",
             "TARVOAPP processing of " /* the argument file */,
             "TARVOAPP arguments acquired\n",
             "TARVOAPP program argument 1= '/LOGIT:",
             "TARVOAPP program argument 3= '/startupdelay:0'\n",
             "TARVOAPP sleeping for startupdelay\n",
             "TARVOAPP --- entry_probe, you have clearance to enter your runway.\n",
             "Roger TARVOAPP, Probe Version 1.0 (compiled today) is at\n",
             "Welcome back entry_probe, you have safely returned to TARVOAPP with exit code 5\n",
             "Taxi to your hangar and have a pleasant stay.\n",
             "Over and out.\n",
         }) {
        EXPECT_NE(std::string::npos, text.find(expected)) << expected;
    }
}

// ---------------------------------------------------------------------------
// Argument helpers, in this process

class Args : public ::testing::Test {
protected:
    void Use(std::vector<std::string> args)
    {
        args.insert(args.begin(), "prog");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        char cwd[4096];
        ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
        TARVOAPP::InitArgsLoggingAndLocale(static_cast<int>(args.size()), argv.data(), LOCALE_ENGLISH);
        ASSERT_EQ(0, chdir(cwd));
    }
};

TEST_F(Args, TestArgAndTestArgValue)
{
    Use({"/flag", "-Other", "/startupdelay:0", "-STARTUPDELAY", "0", "/NOVALUE", "/name:v1", "/NAME:v2"});
    EXPECT_TRUE(TARVOAPP::TestArg("FLAG"));
    EXPECT_TRUE(TARVOAPP::TestArg("other"));
    EXPECT_FALSE(TARVOAPP::TestArg("fla"));
    EXPECT_TRUE(TARVOAPP::TestArg("startupdelay")); // "-STARTUPDELAY" is a flag too
    EXPECT_FALSE(TARVOAPP::TestArg("name"));

    EXPECT_TRUE(TARVOAPP::TestArgValue("STARTUPDELAY", 0));
    EXPECT_TRUE(TARVOAPP::TestArgValue("STARTUPDELAY", 1)); // the "-" form counts too
    EXPECT_FALSE(TARVOAPP::TestArgValue("STARTUPDELAY", 2));
    EXPECT_FALSE(TARVOAPP::TestArgValue("NOVALUE", 0)); // no colon
    EXPECT_TRUE(TARVOAPP::TestArgValue("name", 1));
}

TEST_F(Args, GetArgValue)
{
    Use({"/LOGIT", "/LOG:5", "-delay", "7", "/empty:", "/name:first", "/NAME:second:with:colons", "-last"});
    struct Case {
        const char* name;
        int index;
        const char* value;
    } cases[] = {
        {"LOG", 0, "5"}, // a switch that only begins with the name does not count
        {"delay", 0, "7"},
        {"empty", 0, ""},
        {"name", 0, "first"},
        {"name", 1, "second:with:colons"},
        {"name", 2, ""},
        {"last", 0, ""}, // a "-" switch at the end has no value
        {"missing", 0, ""},
        {"LOGIT", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.index));
        EXPECT_STREQ(c.value, TARVOAPP::GetArgValue(c.name, c.index).Buf());
    }
}

TEST_F(Args, LogitArgsAreHandedOn)
{
    Use({"/x", "/LOGIT:a b", "-logdebug", "/LOGITKEEP", "/D:3", "/LOG:5"});
    EXPECT_STREQ("/LOGIT:a b -logdebug /LOGITKEEP /LOG:5", TARVOAPP::GetLogitArgsString().Buf());
    LOGITARG("/LOGITCLOSE");
}

TEST(MakeArgcArgv, SplitsInPlace)
{
    struct Case {
        const char* text;
        std::vector<std::string> expected;
    } cases[] = {
        {" \"a b\" c  d ", {"a b", "c", "d"}},
        {"single", {"single"}},
        {"", {}},
        {"   ", {}},
        {"\"only quoted\"", {"only quoted"}},
        {"x \"open quote", {"x", "open quote"}},
        {"a b c d e f", {"a", "b", "c", "d e f"}}, // at most maxargs - 2, then the rest
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string buf = c.text;
        std::vector<char> text(buf.begin(), buf.end());
        text.push_back('\0');
        char* argv[8];
        int maxargs = 5;
        int argc = TARVOAPP::MakeArgcArgv(text.data(), nullptr, argv, maxargs);
        std::vector<std::string> got(argv, argv + argc);
        EXPECT_EQ(c.expected, got);
        EXPECT_EQ(nullptr, argv[argc]);
    }

    char line[] = "one two";
    char self[4096];
    char* argv[8];
    EXPECT_EQ(3, TARVOAPP::MakeArgcArgv(line, self, argv, 128));
    EXPECT_STREQ(OSYS::GetExeFilename().Buf(), argv[0]);
    EXPECT_STREQ("two", argv[2]);
}

TEST(TarvoApp, FactsAndThreadCheck)
{
    TARVOAPP::LoadLanguageDll(STRING("/x/qor"), STRING("qor"), STRING("5.1"), nullptr);
    EXPECT_STREQ("Qor", gApplicationName.Buf());
    EXPECT_STREQ("5.1", gApplicationVersion.Buf());
    TARVOAPP::LoadLanguageDll(STRING("/x/qor"), STRING("qor"), STRING("5.2"), "other");
    EXPECT_STREQ("Other", gApplicationName.Buf());
    TARVOAPP::SetCompanyName("Maker");
    EXPECT_STREQ("Maker", gApplicationCompanyName.Buf());
    TARVOAPP::SetCompanyName("Tarvo");
}

TEST(ArgsFromString, SplitsCallLikeTexts)
{
    struct Case {
        const char* text;
        char quote;
        std::vector<std::string> expected;
    } cases[] = {
        {"Send('x y', 12)", 0, {"Send", "x y", "12)"}},
        {"Wait(\"a, b\",3,  4)", 0, {"Wait", "a, b", "3", "4)"}},
        {"!Bang(x)", 0, {"!Bang", "x)"}},
        {"Name", 0, {"Name"}},
        {"Name()", 0, {"Name"}},
        {"Call(|a b|, c)", '|', {"Call", "a b", "c)"}},
        {"Open('unterminated", 0, {"Open", "unterminated"}},
        {"", 0, {""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        STRINGARRAY out;
        out.AppendItem(STRING("left over"));
        int n = TARVOAPP::ArgsFromString(c.text, out, c.quote);
        std::vector<std::string> got;
        for (int i = 0; i < out.NumItems(); ++i)
            got.emplace_back(out[i]->Buf());
        EXPECT_EQ(c.expected, got);
        EXPECT_EQ(static_cast<int>(c.expected.size()), n);
    }
    // Texts longer than the work buffer are cut, never overrun.
    std::string longtext = "F(" + std::string(5000, 'x') + ")";
    STRINGARRAY out;
    TARVOAPP::ArgsFromString(longtext.c_str(), out, 0);
    ASSERT_EQ(2, out.NumItems());
    EXPECT_EQ(2045, out[1]->Length());
}

TEST(TarvoApp, AddCommandlineFileTakesExistingFilesOnce)
{
    TempDir dir;
    WriteFile(dir.file("a.ini"), "/x\n");
    STRINGARRAY list;
    TARVOAPP::AddCommandlineFile(list, FILENAME(dir.path().c_str(), "a.ini"));
    TARVOAPP::AddCommandlineFile(list, FILENAME(dir.path().c_str(), "a.ini")); // already listed
    TARVOAPP::AddCommandlineFile(list, FILENAME(dir.path().c_str(), "missing.ini"));
    TARVOAPP::AddCommandlineFile(list, FILENAME(dir.path().c_str()));          // a folder
    ASSERT_EQ(1, list.NumItems());
    EXPECT_EQ(dir.file("a.ini"), list[0]->Buf());
}
