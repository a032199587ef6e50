// FILENAME: portable texts and placeholders, path parts, queries and file
// actions, temporary names, and the sharing locks of fsopen between
// processes.
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The user's documents folder is used only where it exists (the program
// never makes it): the test home has one before the folders are first
// looked up.
class DocumentsFolder : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (char const* home = getenv("HOME"))
            mkdir((std::string(home) + "/Documents").c_str(), 0755);
    }
};

[[maybe_unused]] ::testing::Environment* const gDocuments = ::testing::AddGlobalTestEnvironment(new DocumentsFolder);

} // namespace

namespace {

std::vector<std::string>& gQuestions = testutil::AskedQuestions();

class FileName : public ::testing::Test {
protected:
    testutil::QUESTIONHOOK questionhook_;

    // A standard folder without its trailing "/".
    static std::string Folder(int id)
    {
        std::string path = OSYS::GetSystemPath(id).Buf();
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }
    static std::string Home() { return Folder(OSYSFOLDER_HOME); }
    static std::string Login() { return OSYS::GetCurrentUserName().Buf(); }
    // A FILENAME holding the text as it is, without expansion.
    static FILENAME Raw(char const* text)
    {
        FILENAME f;
        f = text;
        return f;
    }

    testutil::TempDir dir_;
};

std::string S(STRING const& s)
{
    return s.Buf();
}

mode_t ModeOf(std::string const& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : static_cast<mode_t>(-1);
}

mode_t CurrentUmask()
{
    mode_t mask = umask(022);
    umask(mask);
    return mask;
}

} // namespace

TEST_F(FileName, PortableTextsBecomePlatformPaths)
{
    std::string home = Home();
    std::string docs = Folder(OSYSFOLDER_DOCUMENTS);
    std::string hostname = S(OSYS::ComputerName());
    std::string self = S(OSYS::GetExeFilename());
    struct Case {
        std::string Text;
        std::string Expected;
    };
    std::vector<Case> const cases = {
        {"%USERHOME%\\Docs\\a.txt", home + "/Docs/a.txt"},
        {"%userHome%\\Docs\\a.txt", home + "/Docs/a.txt"},
        {"$(USERHOME)/x", home + "/x"},
        {"~/x", home + "/x"},
        {"~\\x\\y", home + "/x/y"},
        {"$(USERDOCUMENTS)\\a", docs + "/a"},
        {"%USERDOCUMENTS%\\a", docs + "/a"},
        {"%USERPROFILE%", home},
        {"%APPDATA%\\qor", Folder(OSYSFOLDER_APPSUPPORT) + "/qor"},
        {"%USERLOGS%", Folder(OSYSFOLDER_LOGS)},
        {"a\\b\\", "a/b"},
        {"a/b//", "a/b"},
        {"/", "/"}, // the root stays the root
        {"\\", "/"},
        {"<self>", self},
        {"<SELF>\\..\\share", self + "/../share"},
        {"/home/%USERNAME%/x", "/home/" + Login() + "/x"},
        {"/data/%computername%", "/data/" + hostname},
        {"%NOSUCH%\\x", "%NOSUCH%/x"},
        {"$HOME/x", "$HOME/x"},
        {"x%USERHOME%", "x%USERHOME%"}, // placeholders count at the start only
        {"", ""},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(S(FILENAME(c.Text.c_str())), c.Expected);
        EXPECT_EQ(S(FILENAME(STRING(c.Text.c_str()))), c.Expected);
    }
    EXPECT_EQ(S(FILENAME(static_cast<char const*>(nullptr))), "");
    // Assignment takes the text as it is.
    EXPECT_EQ(S(Raw("%USERHOME%\\x\\")), "%USERHOME%/x");
    EXPECT_EQ(S(Raw("/")), "/");
    EXPECT_TRUE(gQuestions.empty());
}

TEST_F(FileName, JoiningFolderAndFile)
{
    std::string home = Home();
    struct Case {
        char const* Dir;
        char const* Sub;
        char const* File;
        bool ThreeParts;
        std::string Expected;
    };
    std::vector<Case> const cases = {
        {"dir", nullptr, "/abs/f", false, "/abs/f"},
        {"dir", nullptr, "f", false, "dir/f"},
        {nullptr, nullptr, "f", false, "./f"},
        {"", nullptr, "f", false, "./f"},
        {"dir/", nullptr, "f", false, "dir/f"},
        {"dir\\sub\\", nullptr, "f\\g", false, "dir/sub/f/g"},
        {"/", nullptr, "f", false, "/f"},
        {"dir", nullptr, "~/f", false, home + "/f"},
        {"%USERHOME%", nullptr, "f", false, home + "/f"},
        {"dir", nullptr, nullptr, false, "dir"},
        {"d", nullptr, "f", true, "d/f"},
        {"d", "s", "f", true, "d/s/f"},
        {nullptr, nullptr, "f", true, "./f"},
        {"d", "s", "/abs/f", true, "/abs/f"},
        {"/", "s", "f", true, "/s/f"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.Dir ? c.Dir : "<null>") + " + " + (c.File ? c.File : "<null>"));
        FILENAME f = c.ThreeParts ? FILENAME(c.Dir, c.Sub, c.File) : FILENAME(c.Dir, c.File);
        EXPECT_EQ(S(f), c.Expected);
    }
}

TEST_F(FileName, PathParts)
{
    struct Case {
        char const* Path;
        char const* Folder;
        char const* File;
        bool Absolute;
    };
    Case const cases[] = {
        {"a/b/c.txt", "a/b", "c.txt", false},
        {"c.txt", ".", "c.txt", false},
        {"/c.txt", "/", "c.txt", true}, // the root, not the current folder
        {"~/c.txt", "~", "c.txt", true},
        {"~", "~", "", true},
        {"C:x", "C:", "x", true},
        {"/a/b/", "/a", "b", true},
        {"/", "/", "", true},
        {"a//b", "a", "b", false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.Path);
        FILENAME f = Raw(c.Path);
        EXPECT_EQ(S(f.JustPath()), c.Folder);
        EXPECT_EQ(S(f.JustFile()), c.File);
        EXPECT_EQ(f.IsAbsPath(), c.Absolute);
    }
}

// File names are case-sensitive here: a base folder in another letter case
// is another folder.
TEST_F(FileName, RelPath)
{
    struct Case {
        char const* Path;
        char const* Base;
        char const* Expected;
    };
    Case const cases[] = {
        {"/Users/a/b/c", "/Users/a", "b/c"},
        {"/Users/a/b/c", "/Users/a/", "b/c"},
        {"/Users/a/b/c", "\\Users\\a", "b/c"},
        {"/users/A/b/c", "/Users/a", "/users/A/b/c"},
        {"/Users/ab/c", "/Users/a", "/Users/ab/c"},
        {"/Users/a", "/Users/a", "/Users/a"},
        {"/x/y", "/", "x/y"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.Path) + " from " + c.Base);
        EXPECT_EQ(S(Raw(c.Path).RelPath(c.Base)), c.Expected);
    }
    EXPECT_EQ(S(Raw("/a/b").RelPath(nullptr)), "/a/b");
}

TEST_F(FileName, AsShellStrings)
{
    std::string home = Home();
    std::string docs = Folder(OSYSFOLDER_DOCUMENTS);
    struct Case {
        std::string Path;
        bool HomeForm;
        std::string Expected;
    };
    std::vector<Case> const cases = {
        {docs + "/a.txt", false, "$(USERDOCUMENTS)/a.txt"},
        {docs + "/a.txt", true, "$(USERDOCUMENTS)/a.txt"},
        {home, true, "~/"},
        {home, false, "$(USERHOME)"},
        {home + "/x/y", true, "~/x/y"},
        {home + "/x/y", false, "$(USERHOME)/x/y"},
        {Folder(OSYSFOLDER_APPSUPPORT) + "/qor", false, "$(APPDATA)/qor"}, // the longer folder wins
        // Only whole folder names are replaced.
        {home + "2/x", false, home + "2/x"},
        {"/opt/x", true, "/opt/x"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.Path);
        STRING portable = Raw(c.Path.c_str()).AsShellStrings(c.HomeForm);
        EXPECT_EQ(S(portable), c.Expected);
        // Stored texts come back as the same path.
        EXPECT_EQ(S(FILENAME(portable)), c.Path);
    }
    std::string login = Login();
    ASSERT_FALSE(login.empty());
    std::string other = "/srv/" + login + "/data";
    EXPECT_EQ(S(Raw(other.c_str()).AsShellStrings(false)), "/srv/%USERNAME%/data");
    EXPECT_EQ(S(FILENAME(Raw(other.c_str()).AsShellStrings(false))), other);
}

// The placeholder table is process-wide; each case runs in a child of its
// own so the table starts out with the built-in entries only.
TEST_F(FileName, PlaceholderTable)
{
    std::string base = dir_.path();
    EXPECT_EQ(testutil::RunInChild([&] {
                  if (FILENAME::ShellStringSet("%QOR%", (base + "/qor/").c_str(), false) != 1)
                      return 1;
                  if (S(FILENAME("%QOR%\\x")) != base + "/qor/x" || S(FILENAME("$(qor)/x")) != base + "/qor/x")
                      return 2;
                  if (S(Raw((base + "/qor/y").c_str()).AsShellStrings(false)) != "$(QOR)/y")
                      return 3;
                  // Defining the same name again replaces its value.
                  FILENAME::ShellStringSet("%QOR%", "/elsewhere", false);
                  if (S(FILENAME("%QOR%\\x")) != "/elsewhere/x")
                      return 4;
                  // Names are told apart by exact case.
                  FILENAME::ShellStringSet("%qor%", "/lower", false);
                  int used = 0;
                  for (auto const& e : FILENAME::ShellStrings)
                      used += e.Name.NotEmpty() ? 1 : 0;
                  if (used != 13)
                      return 5;
                  // The table stays sorted by value length, longest first.
                  for (int i = 0; i + 1 < used; ++i) {
                      if (FILENAME::ShellStrings[i].Value.Length() < FILENAME::ShellStrings[i + 1].Value.Length())
                          return 6;
                  }
                  return 0;
              }),
              0);

    // An entry with the flag set is only expanded, never put back.
    EXPECT_EQ(testutil::RunInChild([&] {
                  FILENAME::ShellStringSet("%WORKDIR%", (base + "/work").c_str(), true);
                  if (S(FILENAME("%WORKDIR%\\a")) != base + "/work/a")
                      return 1;
                  std::string portable = S(Raw((base + "/work/a").c_str()).AsShellStrings(false));
                  if (portable.find("WORKDIR") != std::string::npos)
                      return 2;
                  return S(FILENAME(portable.c_str())) == base + "/work/a" ? 0 : 3;
              }),
              0);

    // 32 entries at most: the 33rd distinct name is refused.
    EXPECT_EQ(testutil::RunInChild([&] {
                  FILENAME::ShellStringsInit();
                  int used = 0;
                  for (auto const& e : FILENAME::ShellStrings)
                      used += e.Name.NotEmpty() ? 1 : 0;
                  if (used != 11 || FILENAME::ShellStringsInit() != 0)
                      return 1;
                  for (int i = used; i < 32; ++i) {
                      std::string name = "%P" + std::to_string(i) + "%";
                      FILENAME::ShellStringSet(name.c_str(), ("/p/" + std::to_string(i)).c_str(), false);
                  }
                  FILENAME::ShellStringSet("%P32%", "/p/32", false);
                  if (S(FILENAME("%P31%\\x")) != "/p/31/x")
                      return 2;
                  return S(FILENAME("%P32%\\x")) == "%P32%/x" ? 0 : 3;
              }),
              0);
}

TEST_F(FileName, TemporaryNames)
{
    FILENAME a("<tmp>");
    FILENAME b("<TEMP>");
    ASSERT_TRUE(a.NotEmpty());
    ASSERT_TRUE(b.NotEmpty());
    EXPECT_NE(S(a), S(b));
    // Each name is reserved by an empty file of its own, in a folder only
    // this user can enter.
    EXPECT_TRUE(a.IsFile());
    EXPECT_EQ(a.GetFileSize(), 0);
    EXPECT_EQ(ModeOf(S(a)), 0600u);
    EXPECT_EQ(S(a.JustPath()), S(b.JustPath()));
    struct stat st;
    ASSERT_EQ(lstat(a.JustPath().Buf(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    a.DeleteFile();
    b.DeleteFile();

    // The folder follows TEMP; a link or someone else's folder at the
    // private folder's place is not used.
    std::string temp = dir_.path();
    EXPECT_EQ(testutil::RunInChild([&] {
                  setenv("TEMP", temp.c_str(), 1);
                  FILENAME first("<tmp>");
                  std::string folder = S(first.JustPath());
                  if (folder.compare(0, temp.size() + 1, temp + "/") != 0)
                      return 1;
                  first.DeleteFile();
                  if (rmdir(folder.c_str()) != 0)
                      return 2;
                  std::string decoy = temp + "/decoy";
                  if (mkdir(decoy.c_str(), 0777) != 0 || chmod(decoy.c_str(), 0777) != 0 ||
                      symlink(decoy.c_str(), folder.c_str()) != 0)
                      return 3;
                  FILENAME second("<tmp>");
                  std::string inside = S(second.JustPath());
                  if (second.IsEmpty() || inside == folder || inside.compare(0, decoy.size(), decoy) == 0)
                      return 4;
                  struct stat st;
                  return lstat(inside.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700 ? 0 : 5;
              }),
              0);
    EXPECT_TRUE(gQuestions.empty());
}

TEST_F(FileName, QueriesAndAttributes)
{
    std::string file = dir_.file("f.txt");
    testutil::WriteFile(file, "12345");
    FILENAME f(file.c_str());
    FILENAME folder(dir_.path().c_str());
    FILENAME missing(dir_.file("missing").c_str());

    EXPECT_TRUE(f.Exists());
    EXPECT_TRUE(f.IsFile());
    EXPECT_FALSE(f.IsDirectory());
    EXPECT_TRUE(folder.IsDirectory());
    EXPECT_FALSE(folder.IsFile());
    EXPECT_FALSE(missing.Exists());
    EXPECT_FALSE(missing.IsFile());
    EXPECT_EQ(f.GetFileSize(), 5);
    EXPECT_EQ(missing.GetFileSize(), -1);
    EXPECT_EQ(f.GetAttributes(), 0u);
    EXPECT_EQ(folder.GetAttributes(), FILENAME_ATTR_DIRECTORY);
    EXPECT_EQ(missing.GetAttributes(), FILENAME_ATTR_INVALID);
    EXPECT_TRUE(f.IsReadable());
    EXPECT_TRUE(f.IsWriteable());
    EXPECT_FALSE(folder.IsWriteable()); // a folder does not open for writing
    EXPECT_TRUE(missing.IsWriteable()); // it may be created
    EXPECT_FALSE(FILENAME(dir_.file("no/such/x").c_str()).IsWriteable());
    EXPECT_FALSE(f.IsHidden());
    EXPECT_FALSE(f.SetArchived(true));
    EXPECT_EQ(S(f.Load()), "12345");

    // Read-only clears every write bit; writable again is for the owner only.
    chmod(file.c_str(), 0666);
    EXPECT_TRUE(f.SetReadOnly(true));
    EXPECT_EQ(ModeOf(file), 0444u);
    EXPECT_TRUE(f.IsReadOnly());
    EXPECT_EQ(f.GetAttributes(), FILENAME_ATTR_READONLY);
    EXPECT_TRUE(f.SetReadOnly(false));
    EXPECT_EQ(ModeOf(file), 0644u);
    EXPECT_TRUE(f.SetHidden(true)); // has no effect beyond keeping the state
    EXPECT_EQ(ModeOf(file), 0644u);
    EXPECT_TRUE(folder.SetAttributes(FILENAME_ATTR_DIRECTORY));
    EXPECT_FALSE(missing.SetReadOnly(true));

    FILENAME sub(dir_.file("sub").c_str());
    EXPECT_TRUE(sub.MkDir());
    EXPECT_EQ(ModeOf(S(sub)), 0755u & ~CurrentUmask());
    EXPECT_FALSE(sub.MkDir());
    EXPECT_TRUE(sub.RmDir());
    EXPECT_FALSE(sub.RmDir());
    EXPECT_TRUE(f.DeleteFile());
    EXPECT_FALSE(f.DeleteFile());
}

TEST_F(FileName, FileTimes)
{
    std::string file = dir_.file("t.txt");
    testutil::WriteFile(file, "x");
    FILENAME f(file.c_str());
    ASSERT_TRUE(f.SetFileTime(1000000000ULL));
    unsigned long long ltime = 0;
    ASSERT_TRUE(f.GetFileTime(&ltime));
    EXPECT_EQ(ltime, 1000000000ULL);
    _SYSTEMTIME st{};
    ASSERT_TRUE(f.GetFileTime(&st));
    EXPECT_EQ(st.wYear, 2001);
    EXPECT_EQ(st.wMonth, 9);
    EXPECT_EQ(st.wDay, 9);
    EXPECT_EQ(st.wHour, 1);
    EXPECT_EQ(st.wMinute, 46);
    EXPECT_EQ(st.wSecond, 40);
    EXPECT_EQ(st.wDayOfWeek, 0);
    STRING text;
    ASSERT_TRUE(f.GetFileTime(&text));
    EXPECT_EQ(S(text), "2001-09-09 01:46:40");

    f.UpdateModTime();
    EXPECT_FALSE(f.HasModTimeChanged());
    FILENAME copy(f);
    EXPECT_EQ(copy.FileStatus.st_mtime, f.FileStatus.st_mtime);
    _SYSTEMTIME later = st;
    later.wYear = 2010;
    ASSERT_TRUE(f.SetFileTime(later));
    EXPECT_TRUE(f.HasModTimeChanged());
    ASSERT_TRUE(f.GetFileTime(&text));
    EXPECT_EQ(S(text), "2010-09-09 01:46:40");

    // A file stamped with the epoch keeps that date (0 is not "now" here).
    ASSERT_TRUE(f.SetFileTime(0ULL));
    ASSERT_TRUE(f.GetFileTime(&text));
    EXPECT_EQ(S(text), "1970-01-01 00:00:00");

    FILENAME missing(dir_.file("missing").c_str());
    EXPECT_FALSE(missing.GetFileTime(&ltime));
    EXPECT_FALSE(missing.GetFileTime(&text));
    EXPECT_FALSE(missing.SetFileTime(1ULL));
}

TEST_F(FileName, CopyTo)
{
    std::string content;
    for (int i = 0; i < 200000; ++i)
        content += static_cast<char>(i * 7);
    std::string src = dir_.file("src.bin");
    std::string dest = dir_.file("dest.bin");
    testutil::WriteFile(src, content);
    FILENAME f(src.c_str());

    ASSERT_TRUE(f.CopyTo(dest.c_str(), false));
    EXPECT_EQ(testutil::ReadFile(dest), content);
    EXPECT_EQ(ModeOf(dest), 0666u & ~CurrentUmask());

    // Without overwrite an existing destination stays as it is.
    testutil::WriteFile(dest, "old");
    chmod(dest.c_str(), 0640);
    EXPECT_FALSE(f.CopyTo(dest.c_str(), false));
    EXPECT_EQ(testutil::ReadFile(dest), "old");
    // With it the content is replaced and the destination keeps its mode.
    ASSERT_TRUE(f.CopyTo(dest.c_str(), true));
    EXPECT_EQ(testutil::ReadFile(dest), content);
    EXPECT_EQ(ModeOf(dest), 0640u);

    // A copy onto the file itself, by its name or through a link, is refused
    // and leaves it whole.
    std::string link = dir_.file("link.bin");
    ASSERT_EQ(symlink(src.c_str(), link.c_str()), 0);
    EXPECT_FALSE(f.CopyTo(src.c_str(), true));
    EXPECT_FALSE(f.CopyTo(link.c_str(), true));
    EXPECT_FALSE(FILENAME(link.c_str()).CopyTo(src.c_str(), true));
    EXPECT_EQ(testutil::ReadFile(src), content);
    // Through a link to another file the copy lands in that file.
    std::string other = dir_.file("other.bin");
    std::string otherLink = dir_.file("other.lnk");
    testutil::WriteFile(other, "x");
    ASSERT_EQ(symlink(other.c_str(), otherLink.c_str()), 0);
    ASSERT_TRUE(f.CopyTo(otherLink.c_str(), true));
    EXPECT_EQ(testutil::ReadFile(other), content);
    struct stat st;
    ASSERT_EQ(lstat(otherLink.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // Missing sources, folders and pipes are not copied (a pipe would block).
    EXPECT_FALSE(FILENAME(dir_.file("missing").c_str()).CopyTo(dir_.file("m2").c_str(), true));
    EXPECT_FALSE(FILENAME(dir_.path().c_str()).CopyTo(dir_.file("d2").c_str(), true));
    std::string fifo = dir_.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(FILENAME(fifo.c_str()).CopyTo(dir_.file("f2").c_str(), true));
    EXPECT_FALSE(FILENAME(dir_.file("m2").c_str()).Exists());
    EXPECT_FALSE(FILENAME(dir_.file("f2").c_str()).Exists());
    EXPECT_FALSE(f.CopyTo(nullptr, true));
}

// A write that fails half-way (here: the file size limit) is reported, and
// the destination keeps its old content instead of a truncated copy.
TEST_F(FileName, FailedCopyLeavesTheDestinationWhole)
{
    std::string src = dir_.file("big");
    std::string dest = dir_.file("dest");
    testutil::WriteFile(src, std::string(100000, 'b'));
    testutil::WriteFile(dest, "old content");
    int rc = testutil::RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 10;
        return FILENAME(src.c_str()).CopyTo(dest.c_str(), true) ? 1 : 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(testutil::ReadFile(dest), "old content");
    std::string listing;
    ASSERT_EQ(testutil::RunProgram({"ls", "-A", dir_.path()}, &listing), 0);
    EXPECT_EQ(listing, "big\ndest\n"); // no half-written file is left behind
}

TEST_F(FileName, RenameTo)
{
    std::string a = dir_.file("a.txt");
    testutil::WriteFile(a, "A");
    // Only the file-name part counts: the file stays in its folder.
    ASSERT_TRUE(FILENAME(a.c_str()).RenameTo("/elsewhere/new.txt", false));
    EXPECT_EQ(testutil::ReadFile(dir_.file("new.txt")), "A");
    EXPECT_FALSE(FILENAME(a.c_str()).Exists());

    std::string b = dir_.file("b.txt");
    testutil::WriteFile(b, "B");
    // An existing target is kept without overwrite, replaced with it.
    EXPECT_FALSE(FILENAME(b.c_str()).RenameTo("new.txt", false));
    EXPECT_EQ(testutil::ReadFile(dir_.file("new.txt")), "A");
    EXPECT_EQ(testutil::ReadFile(b), "B");
    ASSERT_TRUE(FILENAME(b.c_str()).RenameTo("new.txt", true));
    EXPECT_EQ(testutil::ReadFile(dir_.file("new.txt")), "B");
    EXPECT_FALSE(FILENAME(b.c_str()).Exists());

    // A rename that fails never costs the target.
    EXPECT_FALSE(FILENAME(dir_.file("missing").c_str()).RenameTo("new.txt", true));
    EXPECT_EQ(testutil::ReadFile(dir_.file("new.txt")), "B");
    EXPECT_FALSE(FILENAME(dir_.file("new.txt").c_str()).RenameTo("", true));
    EXPECT_FALSE(FILENAME(dir_.file("new.txt").c_str()).RenameTo(nullptr, true));
}

TEST_F(FileName, RemoveIllegalCharacters)
{
    struct Case {
        char const* Text;
        bool Keep;
        char const* Expected;
        bool Replaced;
    };
    Case const cases[] = {
        {"a/b:c", true, "a/b_c", true},
        {"a/b:c", false, "a_b_c", true},
        {"x*y?z\"<>|", false, "x_y_z____", true},
        {"plain name.txt", false, "plain name.txt", false},
        {"a/b", true, "a/b", false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.Text);
        FILENAME f = Raw(c.Text);
        EXPECT_EQ(f.RemoveIllegalCharacters(c.Keep, '_'), c.Replaced);
        EXPECT_EQ(S(f), c.Expected);
    }
}

TEST_F(FileName, FullPathAndFile)
{
    std::string file = dir_.file("r.txt");
    testutil::WriteFile(file, "r");
    char* real = realpath(file.c_str(), nullptr);
    ASSERT_NE(real, nullptr);
    std::string expected = real;
    free(real);
    FILENAME dotted((dir_.path() + "/./sub/../r.txt").c_str());
    mkdir(dir_.file("sub").c_str(), 0755);
    EXPECT_EQ(S(dotted.FullPathAndFile()), expected);
    FILENAME missing(dir_.file("nothing/here").c_str());
    EXPECT_EQ(S(missing.FullPathAndFile()), S(missing));
}

// Two processes share a file through fsopen's advisory locks: readers
// together, a writer alone, and a refused writer never empties the file.
TEST_F(FileName, FsopenSharingBetweenProcesses)
{
    std::string file = dir_.file("shared.txt");
    testutil::WriteFile(file, "keep me");
    auto other = [&](char const* mode) {
        return testutil::RunInChild([&] {
            FILE* f = FILENAME::fsopen(file.c_str(), mode, FSOPEN_SHARE_FROM_MODE);
            if (!f)
                return 1;
            fclose(f);
            return 0;
        });
    };

    FILE* reader = FILENAME::fsopen(file.c_str(), "r", -1);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(other("r"), 0);
    EXPECT_EQ(other("rc"), 0); // "c" is dropped: a plain shared read
    EXPECT_EQ(other("w"), 1);
    EXPECT_EQ(other("a"), 1);
    EXPECT_EQ(other("r+"), 1);
    EXPECT_EQ(testutil::ReadFile(file), "keep me");
    fclose(reader);

    FILE* writer = FILENAME::fsopen(file.c_str(), "a", -1);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(other("r"), 1);
    EXPECT_EQ(other("w"), 1);
    fputs(" more", writer);
    fclose(writer);
    EXPECT_EQ(testutil::ReadFile(file), "keep me more");

    // Share 0 takes no lock; unknown share values are refused.
    FILE* unlocked = FILENAME::fsopen(file.c_str(), "r", FSOPEN_SHARE_NONE);
    ASSERT_NE(unlocked, nullptr);
    EXPECT_EQ(other("w"), 0);
    fclose(unlocked);
    EXPECT_EQ(FILENAME::fsopen(file.c_str(), "r", 5), nullptr);
    EXPECT_EQ(FILENAME::fsopen(dir_.file("missing").c_str(), "r", -1), nullptr);
    EXPECT_EQ(FILENAME::fsopen(nullptr, "r", -1), nullptr);
}

// Files opened here are never inherited by programs started meanwhile.
TEST_F(FileName, DescriptorsStayOutOfStartedPrograms)
{
    std::string file = dir_.file("fd.txt");
    testutil::WriteFile(file, "x");
    auto visibleInChild = [](int fd) {
        std::string out;
        return testutil::RunProgram({"readlink", "/proc/self/fd/" + std::to_string(fd)}, &out) == 0;
    };
    // The probe sees a descriptor that is inherited.
    int plain = open(file.c_str(), O_RDONLY);
    ASSERT_GE(plain, 0);
    EXPECT_TRUE(visibleInChild(plain));
    close(plain);

    FILE* f = FILENAME::fsopen(file.c_str(), "r", -1);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(visibleInChild(fileno(f)));
    fclose(f);
}
