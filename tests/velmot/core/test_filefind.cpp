// File search with portable masks, and the folder-tree operations: listing,
// creating a folder path, deleting and copying trees (links included).
#include "velmot/core/filefind.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/stringarray.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string>& gQuestions = testutil::AskedQuestions();

class Trees : public ::testing::Test {
protected:
    testutil::QUESTIONHOOK questionhook_;

    std::string Path(std::string const& rel) const { return dir_.file(rel); }
    void File(std::string const& rel, std::string const& content = "x") const
    {
        testutil::WriteFile(Path(rel), content);
    }
    void Folder(std::string const& rel) const { ASSERT_EQ(mkdir(Path(rel).c_str(), 0755), 0) << rel; }

    testutil::TempDir dir_;
};

bool Exists(std::string const& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::set<std::string> Find(std::string const& pattern)
{
    std::set<std::string> names;
    STRING out;
    FILEFIND ff(pattern.c_str(), &out);
    for (int guard = 0; ff.Found && guard < 1000; ++guard) {
        names.insert(ff.GetName().Buf());
        EXPECT_EQ(std::string(out.Buf()), std::string(ff.GetName().Buf()));
        ff.FindNext();
    }
    return names;
}

std::vector<std::string> Items(STRINGARRAY const& list)
{
    std::vector<std::string> items;
    for (int i = 0; i < list.NumItems(); ++i)
        items.emplace_back(list[i]->Buf());
    return items;
}

} // namespace

TEST_F(Trees, MaskToRegex)
{
    EXPECT_EQ(FILEFIND::MaskToRegex("*.txt"), "^.*\\.[Tt][Xx][Tt]$");
    EXPECT_EQ(FILEFIND::MaskToRegex("a?(1)[2]"), "^[Aa].\\(1\\)\\[2\\]$");
    EXPECT_EQ(FILEFIND::MaskToRegex("a+b|c"), "^[Aa]+[Bb]|[Cc]$");
    EXPECT_EQ(FILEFIND::MaskToRegex(""), "^$");
}

TEST_F(Trees, WildcardSearch)
{
    for (char const* name : {"a.txt", "B.Txt", "a.txt.bak", "abc", "AXC", "ac", "a.b", "nodot", "a+b.txt",
                             "aab.txt", "x(1).txt", "[y].log"})
        File(name);
    Folder("sub");
    File("sub/inner.txt");

    struct Case {
        char const* Mask;
        std::set<std::string> Expected;
    };
    std::vector<Case> const cases = {
        {"*.TXT", {"a.txt", "B.Txt", "a+b.txt", "aab.txt", "x(1).txt"}},
        {"a?c", {"abc", "AXC"}},
        {"*.*", {".", "..", "a.txt", "B.Txt", "a.txt.bak", "a.b", "a+b.txt", "aab.txt", "x(1).txt", "[y].log"}},
        {"a+b.txt", {"aab.txt"}}, // "+" keeps its regular-expression meaning
        {"x(1).txt", {"x(1).txt"}},
        {"[y].LOG", {"[y].log"}},
        {"SUB", {"sub"}},
        {"nothing*", {}},
        {"*", {".", "..", "a.txt", "B.Txt", "a.txt.bak", "abc", "AXC", "ac", "a.b", "nodot", "a+b.txt", "aab.txt",
               "x(1).txt", "[y].log", "sub"}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.Mask);
        EXPECT_EQ(Find(Path(c.Mask)), c.Expected);
    }
    // A pattern that names a folder lists everything in it.
    EXPECT_EQ(Find(Path("sub")), (std::set<std::string>{".", "..", "inner.txt"}));
    // A folder that cannot be opened yields nothing.
    EXPECT_TRUE(Find(Path("missing/*")).empty());
}

TEST_F(Trees, FileFindEntries)
{
    File("one.txt", "12345");
    Folder("dir.txt");
    FILEFIND ff(Path("*.txt").c_str(), nullptr);
    std::set<std::string> seen;
    for (int guard = 0; ff.Found && guard < 10; ++guard) {
        std::string name = ff.GetName().Buf();
        seen.insert(name);
        EXPECT_EQ(std::string(ff.GetFullname().Buf()), dir_.path() + "/" + name);
        struct stat st;
        ASSERT_EQ(stat(ff.GetFullname().Buf(), &st), 0);
        EXPECT_EQ(ff.GetModTime(), static_cast<unsigned long long>(st.st_mtime));
        if (name == "dir.txt") {
            EXPECT_EQ(ff.GetAttributes(), FILENAME_ATTR_DIRECTORY);
            EXPECT_TRUE(ff.TestAttribute(FILENAME_ATTR_DIRECTORY));
        } else {
            EXPECT_FALSE(ff.TestAttribute(FILENAME_ATTR_DIRECTORY | FILENAME_ATTR_READONLY));
        }
        ff.FindNext();
    }
    EXPECT_EQ(seen, (std::set<std::string>{"one.txt", "dir.txt"}));
    // At the end the entry is empty, and stays so.
    EXPECT_FALSE(ff.Found);
    EXPECT_EQ(ff.FindNext(), 0);
    EXPECT_TRUE(ff.GetName().IsEmpty());
    EXPECT_TRUE(ff.GetFullname().IsEmpty());
    EXPECT_EQ(ff.GetAttributes(), FILENAME_ATTR_INVALID);
    EXPECT_TRUE(ff.TestAttribute(FILENAME_ATTR_DIRECTORY));
    EXPECT_FALSE(ff.TestAttribute(0));

    // The folder stays open until the search object goes, but never in a
    // program started meanwhile.
    ASSERT_NE(ff.Dir, nullptr);
    std::string out;
    EXPECT_NE(testutil::RunProgram({"readlink", "/proc/self/fd/" + std::to_string(dirfd(ff.Dir))}, &out), 0);
}

TEST_F(Trees, ListFiles)
{
    File("x.txt");
    Folder("s");
    File("s/y.txt");
    Folder(".hidden");
    File(".hidden/z.txt");
    File(".dotfile");

    STRINGARRAY list(64);
    EXPECT_EQ(OSYS::ListFiles(dir_.path().c_str(), "*.txt", &list, true), 1);
    EXPECT_EQ(Items(list), (std::vector<std::string>{Path("x.txt")}));

    list.DeleteAllItems();
    EXPECT_EQ(OSYS::ListFiles(dir_.path().c_str(), "*", &list, true), 4);
    std::vector<std::string> items = Items(list);
    std::sort(items.begin(), items.end());
    EXPECT_EQ(items, (std::vector<std::string>{Path(".dotfile"), Path("s"), Path("s/y.txt"), Path("x.txt")}));
    // Every folder comes after its content.
    items = Items(list);
    EXPECT_LT(std::find(items.begin(), items.end(), Path("s/y.txt")), std::find(items.begin(), items.end(), Path("s")));

    list.DeleteAllItems();
    EXPECT_EQ(OSYS::ListFiles(dir_.path().c_str(), "*", &list, false), 2);
    EXPECT_EQ(OSYS::ListFiles(dir_.path().c_str(), "*", nullptr, true), 4);
    EXPECT_EQ(OSYS::ListFiles(dir_.path().c_str(), "s/*.TXT", nullptr, false), 1);
    EXPECT_EQ(OSYS::ListFiles(Path("missing").c_str(), "*", nullptr, true), 0);
}

TEST_F(Trees, CreateDirectoryPath)
{
    std::string deep = Path("a/b/c");
    EXPECT_TRUE(OSYS::CreateDirectoryPath(deep.c_str()));
    struct stat st;
    ASSERT_EQ(stat(deep.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(OSYS::CreateDirectoryPath(deep.c_str())); // already there
    EXPECT_TRUE(OSYS::CreateDirectoryPath((deep + "//d/").c_str()));
    File("plain");
    EXPECT_FALSE(OSYS::CreateDirectoryPath(Path("plain/sub").c_str()));
    EXPECT_FALSE(Exists(Path("plain/sub")));
    EXPECT_FALSE(OSYS::CreateDirectoryPath(""));
    EXPECT_FALSE(OSYS::CreateDirectoryPath(nullptr));
}

// Deleting a tree removes links, never what they point to: a folder and a
// file outside the tree survive, and names that look like separators or
// placeholders are taken literally.
TEST_F(Trees, TreeDelStaysInsideTheTree)
{
    Folder("outside");
    File("outside/keep.txt", "precious");
    File("outside-file.txt", "precious");
    Folder("tree");
    Folder("tree/a");
    Folder("tree/a/b");
    File("tree/top.txt");
    File("tree/a/mid.txt");
    File("tree/a/b/deep.txt");
    ASSERT_EQ(symlink(Path("outside").c_str(), Path("tree/a/link-to-folder").c_str()), 0);
    ASSERT_EQ(symlink(Path("outside-file.txt").c_str(), Path("tree/link-to-file").c_str()), 0);
    ASSERT_EQ(symlink(Path("nowhere").c_str(), Path("tree/dangling").c_str()), 0);
    // A folder whose name, read with backslashes as separators, leads out
    // of the tree, and a file whose name starts like the home folder.
    Folder("tree/x");
    Folder("tree/x\\..\\..\\outside");
    File("tree/~victim");

    std::string tree = Path("tree");
    int rc = testutil::RunInChild([&] {
        // "~victim" in the current folder must not be mistaken for the entry.
        if (chdir(dir_.path().c_str()) != 0)
            return 10;
        testutil::WriteFile("~victim", "precious");
        return OSYS::TreeDel(tree.c_str(), "*", true);
    });
    EXPECT_EQ(rc, 5); // a, a/b, x, the folder with backslashes and the tree itself
    EXPECT_FALSE(Exists(tree));
    EXPECT_EQ(testutil::ReadFile(Path("outside/keep.txt")), "precious");
    EXPECT_EQ(testutil::ReadFile(Path("outside-file.txt")), "precious");
    EXPECT_EQ(testutil::ReadFile(Path("~victim")), "precious");
    EXPECT_TRUE(Exists(dir_.path()));
}

TEST_F(Trees, TreeDelWithMask)
{
    Folder("t");
    File("t/a.tmp");
    File("t/b.TMP");
    File("t/keep.txt");
    Folder("t/s");
    File("t/s/c.tmp");
    EXPECT_EQ(OSYS::TreeDel(Path("t").c_str(), "*.tmp", false), 1);
    EXPECT_FALSE(Exists(Path("t/a.tmp")));
    EXPECT_FALSE(Exists(Path("t/b.TMP")));
    EXPECT_TRUE(Exists(Path("t/keep.txt")));
    EXPECT_TRUE(Exists(Path("t/s/c.tmp")));
    EXPECT_TRUE(Exists(Path("t")));

    // A link given as the folder itself stays a link.
    ASSERT_EQ(symlink(Path("t").c_str(), Path("t-link").c_str()), 0);
    OSYS::TreeDel(Path("t-link").c_str(), "*.txt", false);
    EXPECT_FALSE(Exists(Path("t/keep.txt")));
    EXPECT_TRUE(Exists(Path("t-link")));
}

TEST_F(Trees, TreeCopy)
{
    Folder("from");
    Folder("from/s");
    Folder("from/s/t");
    File("from/a.txt", "A");
    File("from/s/b.txt", "B");
    File("from/s/t/c.dat", "C");
    std::string from = Path("from");
    std::string to = Path("to");

    EXPECT_TRUE(OSYS::TreeCopy(from.c_str(), to.c_str(), "*", true, false));
    EXPECT_EQ(testutil::ReadFile(Path("to/a.txt")), "A");
    EXPECT_EQ(testutil::ReadFile(Path("to/s/b.txt")), "B");
    EXPECT_EQ(testutil::ReadFile(Path("to/s/t/c.dat")), "C");

    // Keeping existing files: the file stays and the result says so; the
    // rest is copied all the same.
    File("to/s/b.txt", "mine");
    File("from/new.txt", "N");
    EXPECT_FALSE(OSYS::TreeCopy(from.c_str(), to.c_str(), "*", true, true));
    EXPECT_EQ(testutil::ReadFile(Path("to/s/b.txt")), "mine");
    EXPECT_EQ(testutil::ReadFile(Path("to/new.txt")), "N");
    EXPECT_TRUE(OSYS::TreeCopy((from + "/").c_str(), to.c_str(), "*", true, false));
    EXPECT_EQ(testutil::ReadFile(Path("to/s/b.txt")), "B");

    // A mask limits the copy; folders that do not match are not entered.
    EXPECT_TRUE(OSYS::TreeCopy(from.c_str(), Path("txt").c_str(), "*.txt", true, false));
    EXPECT_EQ(testutil::ReadFile(Path("txt/a.txt")), "A");
    EXPECT_FALSE(Exists(Path("txt/s")));

    // The list form; an entry outside the source folder is a caller error.
    STRINGARRAY list(64);
    list.AppendItem(STRING(Path("from/s/b.txt").c_str()));
    list.AppendItem(STRING(Path("fromage/x").c_str()));
    list.AppendItem(STRING(Path("from/s").c_str()));
    list.AppendItem(STRING(from.c_str()));
    EXPECT_FALSE(OSYS::TreeCopy(from.c_str(), Path("listed").c_str(), list, false));
    EXPECT_EQ(testutil::ReadFile(Path("listed/s/b.txt")), "B");
    EXPECT_FALSE(Exists(Path("listed/a.txt")));
    ASSERT_EQ(gQuestions.size(), 1u);
    EXPECT_NE(gQuestions[0].find("source.Left((STRING_SIZE_T)fromlen)==from"), std::string::npos);
    EXPECT_NE(gQuestions[0].find(from + "::" + Path("fromage/x")), std::string::npos);
}

// Links are never followed by a copy. A link in the source tree is copied as
// a link, so a file outside the tree does not turn up in the copy; a link
// that already stands at the destination is replaced, never written
// through, and a folder reached through a link at the destination gets
// nothing.
TEST_F(Trees, TreeCopyNeverFollowsLinks)
{
    File("secret.txt", "outside the tree");
    Folder("elsewhere");
    File("victim.txt", "precious");
    Folder("from");
    Folder("from/s");
    File("from/a.txt", "A");
    File("from/s/b.txt", "B");
    ASSERT_EQ(symlink(Path("secret.txt").c_str(), Path("from/leak").c_str()), 0);
    ASSERT_EQ(symlink("../secret.txt", Path("from/s/relative").c_str()), 0);
    ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path("from/dirlink").c_str()), 0);

    std::string from = Path("from");
    EXPECT_TRUE(OSYS::TreeCopy(from.c_str(), Path("copy").c_str(), "*", true, false));
    EXPECT_EQ(testutil::ReadFile(Path("copy/a.txt")), "A");
    EXPECT_EQ(testutil::ReadFile(Path("copy/s/b.txt")), "B");
    struct Link {
        char const* Path;
        std::string Target;
    };
    for (Link const& link : {Link{"copy/leak", Path("secret.txt")}, Link{"copy/s/relative", "../secret.txt"},
                             Link{"copy/dirlink", Path("elsewhere")}}) {
        SCOPED_TRACE(link.Path);
        struct stat st;
        ASSERT_EQ(lstat(Path(link.Path).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        char buf[4096] = {};
        ASSERT_GT(readlink(Path(link.Path).c_str(), buf, sizeof buf - 1), 0);
        EXPECT_EQ(std::string(buf), link.Target);
    }

    // Links at the destination: a file and a folder that lead out of it.
    Folder("to");
    ASSERT_EQ(symlink(Path("victim.txt").c_str(), Path("to/a.txt").c_str()), 0);
    ASSERT_EQ(symlink(Path("elsewhere").c_str(), Path("to/s").c_str()), 0);
    EXPECT_FALSE(OSYS::TreeCopy(from.c_str(), Path("to").c_str(), "*", true, false)); // s/b.txt has no place
    EXPECT_EQ(testutil::ReadFile(Path("victim.txt")), "precious");
    EXPECT_FALSE(Exists(Path("elsewhere/b.txt")));
    struct stat st;
    ASSERT_EQ(lstat(Path("to/a.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(testutil::ReadFile(Path("to/a.txt")), "A");

    // Keeping existing entries keeps a link as it is.
    ASSERT_EQ(unlink(Path("to/a.txt").c_str()), 0);
    ASSERT_EQ(symlink(Path("victim.txt").c_str(), Path("to/a.txt").c_str()), 0);
    EXPECT_FALSE(OSYS::TreeCopy(from.c_str(), Path("to").c_str(), "*.txt", false, true));
    ASSERT_EQ(lstat(Path("to/a.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(testutil::ReadFile(Path("victim.txt")), "precious");
}
