// The text forms checked against a second implementation: hashform.py, a
// reader and writer written from the description of the forms. In one
// direction the library writes and the script reads; in the other the script
// writes and the library reads; both writers must agree byte for byte.
#include "velmot/core/hash.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/containers_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

using containers_test::Bytes;
using containers_test::Make;

namespace {

std::string Script()
{
    return testutil::SourceDir() + "/velmot/core/hashform.py";
}

std::string Python(std::vector<std::string> args)
{
    std::vector<std::string> argv = {QOR_PYTHON3, Script()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    int rc = testutil::RunProgram(argv, &out);
    EXPECT_EQ(0, rc) << "hashform.py " << args[0] << " failed:\n" << out;
    return out;
}

std::string Hex(STRING const& s)
{
    static char const digits[] = "0123456789abcdef";
    std::string out = "x";
    for (int32_t i = 0; i < s.StrLen; ++i) {
        auto c = static_cast<unsigned char>(s.Buffer[i]);
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The script's dump format: "R <handle> <key text>" per record, "I <key>
// <value> <t|b>" per item, "S <item>" per line item.
std::string Dump(HASHLIST const& list)
{
    std::string out;
    for (int i = 0; i < list.NumItems(); ++i) {
        HASH const& h = *list[i];
        out += "R " + std::to_string(h.Handle) + " " + (h.KeyString.IsSet() ? Hex(h.KeyString) : "-") + "\n";
        for (int k = 0; k < h.Keys.NumItems(); ++k) {
            STRING const& v = *h.Values[k];
            out += "I " + Hex(*h.Keys[k]) + " " + Hex(v) + ((v.Flags & STRINGFLAG_BINARY) ? " b\n" : " t\n");
        }
    }
    return out;
}

std::string Dump(STRINGARRAY const& a)
{
    std::string out;
    for (int i = 0; i < a.NumItems(); ++i)
        out += "S " + Hex(*a[i]) + "\n";
    return out;
}

// Deterministic random content that leans on the bytes the forms treat
// specially.
class CONTENT {
public:
    explicit CONTENT(unsigned seed) : Rng(seed) {}

    std::string Bytes(size_t maxlen, bool nul)
    {
        static std::string const special = std::string("=\\{}[]#/\r\n\t\x1a x\x7f\x80\xff", 18);
        std::string s;
        size_t n = Rng() % (maxlen + 1);
        for (size_t i = 0; i < n; ++i) {
            char c = (Rng() % 3 == 0) ? special[Rng() % special.size()] : static_cast<char>(Rng() % 256);
            if (c == 0 && !nul)
                c = 'n';
            s += c;
        }
        return s;
    }

    unsigned Next() { return static_cast<unsigned>(Rng()); }

private:
    std::mt19937 Rng;
};

HASHLIST RandomList(unsigned seed, int records)
{
    CONTENT content(seed);
    HASHLIST list;
    for (int r = 0; r < records; ++r) {
        HASH h;
        unsigned pick = content.Next() % 4;
        h.Handle = pick == 0 ? 0 : pick == 1 ? 0x80000000u + content.Next() % 1000 : content.Next();
        pick = content.Next() % 3;
        if (pick == 1)
            h.SetKeyString("");
        else if (pick == 2)
            h.KeyString = Make(content.Bytes(12, true));
        int items = static_cast<int>(content.Next() % 8);
        for (int i = 0; i < items; ++i) {
            // Keys may hold any byte but NUL, which ends a key for the
            // case-insensitive comparison that orders them.
            STRING& v = h[Make(content.Bytes(10, false)).Buf()];
            v = Make(content.Bytes(24, true));
            if (content.Next() % 4 == 0)
                v.Flags |= STRINGFLAG_BINARY;
        }
        list.AppendItem(h);
    }
    return list;
}

} // namespace

TEST(HashFormPeer, ScriptReadsWhatTheLibraryWrites)
{
    testutil::TempDir dir;
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        HASHLIST list = RandomList(seed, 40);
        std::string file = dir.file("lib.txt");
        ASSERT_EQ(40, list.Save(file.c_str()));
        EXPECT_EQ(Dump(list), Python({"dump-list", file}));
    }
}

TEST(HashFormPeer, LibraryReadsWhatTheScriptWrites)
{
    testutil::TempDir dir;
    for (unsigned seed : {4u, 5u, 6u}) {
        SCOPED_TRACE(seed);
        HASHLIST list = RandomList(seed, 40);
        testutil::WriteFile(dir.file("dump.txt"), Dump(list));
        Python({"build-list", dir.file("dump.txt"), dir.file("py.txt")});
        // Two writers from one description agree on every byte...
        EXPECT_EQ(Bytes(list.AsString()), testutil::ReadFile(dir.file("py.txt")));
        // ...and the library reads the script's file as the same records.
        HASHLIST back;
        EXPECT_EQ(40, back.Load(dir.file("py.txt").c_str()));
        EXPECT_EQ(Dump(list), Dump(back));
    }
}

TEST(HashFormPeer, LineFilesBothWays)
{
    testutil::TempDir dir;
    CONTENT content(7);
    for (bool quoted : {true, false}) {
        SCOPED_TRACE(quoted ? "quoted" : "plain");
        STRINGARRAY items;
        for (int i = 0; i < 200; ++i) {
            std::string s = content.Bytes(30, quoted);
            if (!quoted) {
                for (char& c : s) {
                    if (c == '\n')
                        c = 'L'; // the plain form carries no line feeds
                }
            }
            items.AppendItem(Make(s));
        }
        char const* mode = quoted ? "quoted" : "plain";
        std::string lib = dir.file("lib.txt");
        ASSERT_EQ(200, items.Save(lib.c_str(), quoted));
        EXPECT_EQ(Dump(items), Python({"dump-lines", lib, mode}));

        testutil::WriteFile(dir.file("dump.txt"), Dump(items));
        Python({"build-lines", dir.file("dump.txt"), dir.file("py.txt"), mode});
        EXPECT_EQ(testutil::ReadFile(lib), testutil::ReadFile(dir.file("py.txt")));
        STRINGARRAY back;
        EXPECT_EQ(200, back.Load(dir.file("py.txt").c_str(), quoted));
        EXPECT_EQ(Dump(items), Dump(back));
    }
}
