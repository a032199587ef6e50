// BINARY storage: block sizes and their growth, the cache of 96-byte
// blocks, copies, cuts, index operators, and the cases that used to corrupt
// memory (a string's own bytes copied while its block moves, sizes near
// 2 GiB).
#include "velmot/core/strings.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using testutil::ASSERTRECORDER;

namespace {

std::string Text(BINARY const& b)
{
    return b.Buffer ? std::string(b.Buffer, static_cast<size_t>(b.StrLen)) : std::string("<unset>");
}

// The bytes between StrLen and `upto` must all be zero (terminator and
// cleared remainder).
bool ZeroFrom(BINARY const& b, int32_t upto)
{
    for (int32_t i = b.StrLen; i < upto && i < b.BufLen; ++i) {
        if (b.Buffer[i] != 0)
            return false;
    }
    return true;
}

} // namespace

TEST(StringStorage, MakeMinusOneOnlyFixesTheBlockSize)
{
    BINARY b;
    EXPECT_TRUE(b.Make(-1));
    EXPECT_EQ(nullptr, b.Buffer);
    EXPECT_EQ(0, b.StrLen);
    EXPECT_EQ(96, b.BlockSize);

    STRING s;
    s.Make(0);
    ASSERT_NE(nullptr, s.Buffer);
    EXPECT_EQ(0, s.StrLen);
    EXPECT_EQ(0, s.Buffer[0]);
}

TEST(StringStorage, BlockSizesGrowWithTheString)
{
    struct Case {
        int32_t len;
        int32_t buflen;
        int32_t blocksize;
        bool dynablock;
    };
    const std::vector<Case> cases = {
        {0, 96, 96, false},        {94, 96, 96, false},        {95, 192, 96, false},
        {1000, 1056, 1024, false}, {5000, 5088, 2048, false},  {9000, 9024, 4096, false},
        {32000, 32064, 4096, false}, {40000, 40032, 32768, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("len " + std::to_string(c.len));
        STRING s;
        ASSERT_TRUE(s.Make(c.len));
        EXPECT_EQ(c.len, s.StrLen);
        EXPECT_EQ(c.buflen, s.BufLen);
        EXPECT_EQ(c.blocksize, s.BlockSize);
        EXPECT_EQ(c.dynablock, (s.Flags & STRINGFLAG_DYNABLOCK) != 0);
        EXPECT_TRUE(ZeroFrom(s, s.BufLen));
    }

    // A string that owns a 96-byte block keeps up to 95 bytes in it.
    STRING s("short");
    char* block = s.Buffer;
    s.Append(std::string(90, 'x').c_str());
    EXPECT_EQ(95, s.StrLen);
    EXPECT_EQ(block, s.Buffer);
    EXPECT_EQ(96, s.BufLen);
}

TEST(StringStorage, AppendingByteByByteGrowsInFewSteps)
{
    STRING s;
    int moves = 0;
    char const* last = nullptr;
    bool sawDynablock = false;
    constexpr int kTotal = 5 * 1024 * 1024;
    for (int i = 0; i < kTotal; ++i) {
        s.Append(static_cast<char>('a' + i % 26));
        if (s.Buffer != last) {
            ++moves;
            last = s.Buffer;
        }
        if (s.StrLen == 40000) {
            sawDynablock = (s.Flags & STRINGFLAG_DYNABLOCK) != 0;
            EXPECT_GE(s.BlockSize, 32768);
        }
    }
    EXPECT_TRUE(sawDynablock);
    EXPECT_EQ(kTotal, s.StrLen);
    EXPECT_EQ(0x200000, s.BlockSize); // at least half the size, at most 2 MiB
    EXPECT_LE(moves, 45);
    EXPECT_EQ('a', s.Buffer[0]);
    EXPECT_EQ('a' + (s.StrLen - 1) % 26, s.Buffer[s.StrLen - 1]);
    EXPECT_EQ(0, s.Buffer[s.StrLen]);

    // The dynamic block size is rounded to whole KiB above 4095.
    STRING d;
    d.Make(40000);
    d.Make(50000);
    EXPECT_EQ(0, d.BlockSize % 1024);
    EXPECT_GE(d.BlockSize, d.BufLen / 2 - 1024);
}

TEST(StringStorage, CacheKeeps127BlocksOf96Bytes)
{
    {
        std::vector<std::unique_ptr<STRING>> strings;
        for (int i = 0; i < 200; ++i)
            strings.push_back(std::make_unique<STRING>("short"));
        EXPECT_EQ(0, BINARY::CachedBlocks());
    }
    EXPECT_EQ(127, BINARY::CachedBlocks());

    // The most recently returned block is the next one handed out.
    char* freed;
    {
        STRING a("a");
        freed = a.Buffer;
    }
    STRING b("b");
    EXPECT_EQ(freed, b.Buffer);

    // Other sizes never enter the cache.
    int const before = BINARY::CachedBlocks();
    {
        STRING number(12345); // block size 16
        STRING big(std::string(200, 'x').c_str());
        EXPECT_EQ(before, BINARY::CachedBlocks());
    }
    EXPECT_EQ(before, BINARY::CachedBlocks());
}

TEST(StringStorage, FlushCacheSendsEverythingToTheHeapAfterwards)
{
    EXPECT_EQ(0, testutil::RunInChild([] {
        {
            STRING keep[10];
            for (auto& s : keep)
                s = "x";
        }
        if (BINARY::CachedBlocks() < 10)
            return 1;
        STRING survivor("made before the flush");
        BINARY::FlushCache();
        if (BINARY::CachedBlocks() != 0)
            return 2;
        {
            STRING after("made after the flush");
            after.Append(survivor);
        }
        survivor.Kill();
        BINARY::FlushCache(); // a second call changes nothing
        return BINARY::CachedBlocks() == 0 ? 0 : 3;
    }));
}

TEST(StringStorage, CopiesMovesAndSwaps)
{
    STRING a("hello", UNICODE_CPUTF8);
    a.BlockSize = 48;
    a.Flags |= STRINGFLAG_BINARY;
    STRING b;
    b = a;
    EXPECT_EQ("hello", Text(b));
    EXPECT_NE(a.Buffer, b.Buffer);
    EXPECT_EQ(48, b.BlockSize);
    EXPECT_EQ(a.Flags, b.Flags);
    EXPECT_EQ(UNICODE_CPUTF8, b.CodePage);

    b = b; // self-assignment keeps the content
    EXPECT_EQ("hello", Text(b));

    STRING unset;
    b = unset;
    EXPECT_EQ(nullptr, b.Buffer);
    EXPECT_EQ(0, b.StrLen);

    STRING c("one");
    STRING d(std::string(300, 'z').c_str());
    c.Flags = STRINGFLAG_BINARY;
    int32_t const dbuf = d.BufLen;
    c.Swap(d);
    EXPECT_EQ(std::string(300, 'z'), Text(c));
    EXPECT_EQ(dbuf, c.BufLen);
    EXPECT_EQ("one", Text(d));
    EXPECT_EQ(STRINGFLAG_BINARY, c.Flags); // flags stay with their object
    EXPECT_EQ(0u, d.Flags);

    STRING moved(std::move(c));
    EXPECT_EQ(std::string(300, 'z'), Text(moved));
    EXPECT_EQ(nullptr, c.Buffer);
}

TEST(StringStorage, CutsRemoveBytesAndClearThem)
{
    struct Case {
        const char* name;
        void (*op)(BINARY&);
        const char* expect;
    };
    const std::vector<Case> cases = {
        {"Cut", [](BINARY& b) { b.Cut(3); }, "abc"},
        {"Cut longer", [](BINARY& b) { b.Cut(50); }, "abcdefgh"},
        {"CutRight", [](BINARY& b) { b.CutRight(2); }, "abcdef"},
        {"CutRight all", [](BINARY& b) { b.CutRight(100); }, ""},
        {"CutLeft", [](BINARY& b) { b.CutLeft(3); }, "defgh"},
        {"CutLeft all", [](BINARY& b) { b.CutLeft(8); }, ""},
        {"ShiftLeft", [](BINARY& b) { b.ShiftLeft(2, 3); }, "abcfgh"},
        {"ShiftLeft to end", [](BINARY& b) { b.ShiftLeft(10, 5); }, "abcde"},
        {"ShiftLeft beyond", [](BINARY& b) { b.ShiftLeft(1, 8); }, "abcdefgh"},
        {"ShiftRight", [](BINARY& b) { b.ShiftRight(2, 1, '-'); }, "a--bcdefgh"},
        {"ShiftRight at end", [](BINARY& b) { b.ShiftRight(2, 8, '-'); }, "abcdefgh"},
        {"ShiftRight grows", [](BINARY& b) { b.ShiftRight(200, 0, '.'); }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BINARY b("abcdefgh", 8);
        c.op(b);
        if (c.expect) {
            EXPECT_EQ(c.expect, Text(b));
            EXPECT_TRUE(ZeroFrom(b, 9));
        } else {
            EXPECT_EQ(std::string(200, '.') + "abcdefgh", Text(b));
            EXPECT_EQ(0, b.Buffer[b.StrLen]);
        }
    }

    ASSERTRECORDER asserts;
    BINARY b("abc", 3);
    b.Cut(-1);
    b.CutRight(-1);
    b.CutLeft(-2);
    EXPECT_EQ("abc", Text(b));
    auto seen = asserts.Take();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ("newlength>=0", seen[0].Condition);
    EXPECT_EQ("howmany>=0", seen[1].Condition);
    EXPECT_EQ("howmany>=0", seen[2].Condition);
}

// A string copied from its own bytes while its block is replaced: the
// source lies in the old block, which must stay readable until the copy.
TEST(StringStorage, OwnBytesSurviveABlockChange)
{
    std::string start(94, 'q');
    start[0] = 'A';
    STRING s(start.c_str());
    ASSERT_EQ(96, s.BufLen);
    s.Append(s.Buffer, s.StrLen); // doubles, moving to a 192-byte block
    EXPECT_EQ(start + start, Text(s));
    EXPECT_EQ(192, s.BufLen);

    STRING t("0123456789");
    t.Make(5, t.Buffer + 3); // move a piece of itself to the front
    EXPECT_EQ("34567", Text(t));
    EXPECT_EQ(0, t.Buffer[6]);

    STRING v("0123456789");
    v.BINARY::Append(v);
    v.BINARY::Append(v);
    EXPECT_EQ("0123456789012345678901234567890123456789", Text(v));

    std::string orig(94, 'w');
    orig[10] = 'X';
    STRING w(orig.c_str());
    w.Insert(w.Buffer + 10, 2); // a text of its own, while the gap moves it
    EXPECT_EQ(orig.substr(0, 2) + orig.substr(10) + orig.substr(2), Text(w));
}

TEST(StringStorage, SizesNearTwoGigabytesFailTheAllocation)
{
    ASSERTRECORDER asserts;
    STRING s("keep me");
    EXPECT_FALSE(s.Make(INT32_MAX - 8)); // the block would be 2147483712 bytes
    EXPECT_FALSE(s.Make(INT32_MAX));
    EXPECT_EQ("keep me", Text(s));

    static const char dummy[8] = "1234567";
    s.BINARY::Append(dummy, INT32_MAX); // the sum would wrap
    EXPECT_EQ("keep me", Text(s));

    STRING big;
    big.Make(40000);
    big.BlockSize = 0x200000;
    EXPECT_FALSE(big.Make(INT32_MAX - 1000));
    EXPECT_EQ(40000, big.StrLen);

    s.ShiftRight(INT32_MAX - 2, 0, ' ');
    EXPECT_EQ("keep me", Text(s));

    STRING const r = STRING::Repeat("abc", 1 << 30);
    EXPECT_EQ(nullptr, r.Buffer);

    auto seen = asserts.Take();
    ASSERT_EQ(6u, seen.size());
    for (const auto& a : seen)
        EXPECT_EQ("buffer", a.Condition);
}

TEST(StringStorage, IndexOperatorsGuardTheirRange)
{
    ASSERTRECORDER asserts;
    BINARY b("abc", 3);
    EXPECT_EQ('c', b[2]);
    char& bad = b[3];
    EXPECT_EQ(0, bad);
    bad = 'Z'; // lands in the private byte, not in the buffer
    EXPECT_EQ(0, b[5]);
    EXPECT_EQ(0, b.Buffer[3]);

    STRING s("xyz");
    EXPECT_EQ(0, s[3]); // the terminator may be addressed
    s[-1];
    STRING const unset;
    EXPECT_EQ(0, unset[0]);

    auto seen = asserts.Take();
    ASSERT_EQ(3u, seen.size());
    EXPECT_EQ("i>=0 && i<this->StrLen", seen[0].Condition);
    EXPECT_EQ("i= 3, len= 3, buf= abc", seen[0].Info);
    EXPECT_EQ("i= 5, len= 3, buf= abc", seen[1].Info);
    EXPECT_EQ("i>=0 && i<=this->StrLen", seen[2].Condition);
    EXPECT_EQ("i= -1, len= 3, buf= xyz", seen[2].Info);
}

TEST(StringStorage, SlicesAndSingleBytes)
{
    STRING s("abc", UNICODE_CPUTF8);
    struct Case {
        const char* name;
        STRING result;
        const char* expect;
    };
    const std::vector<Case> cases = {
        {"Right(5)", s.Right(5), "abc"},     {"Right(2)", s.Right(2), "bc"},
        {"Left(0)", s.Left(0), ""},          {"Left(2)", s.Left(2), "ab"},
        {"Substr(3,1)", s.Substr(3, 1), ""}, {"Substr(1,-1)", s.Substr(1, -1), "bc"},
        {"Substr(1,9)", s.Substr(1, 9), "bc"}, {"Substr(0,\"c\")", s.Substr(0, "c"), "ab"},
        {"Substr(1,\"x\")", s.Substr(1, "x"), "bc"}, {"Substr(4,\"a\")", s.Substr(4, "a"), ""},
        {"unset Left(3)", STRING().Left(3), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(nullptr, c.result.Buffer); // empty results still own a buffer
        EXPECT_EQ(c.expect, Text(c.result));
        EXPECT_EQ(1252, c.result.CodePage);
    }
    BINARY const bin = static_cast<BINARY const&>(s).Right(2);
    EXPECT_EQ("bc", Text(bin));

    EXPECT_EQ('a', s.LeftChar(0));
    EXPECT_EQ(-1, s.LeftChar(3));
    EXPECT_EQ('c', s.RightChar(1));
    EXPECT_EQ(-1, s.RightChar(0));
    EXPECT_EQ(-1, s.RightChar(4));
    BINARY high("\xff", 1);
    EXPECT_EQ(255, high.LeftChar(0));
    EXPECT_EQ(2, s.BINARY::Pos('c'));
    EXPECT_EQ(-1, s.BINARY::Pos('d'));
    int32_t pos = -7;
    EXPECT_TRUE(s.Find('b', &pos));
    EXPECT_EQ(1, pos);

    BINARY both = BINARY("ab", 2) || BINARY("\0c", 2);
    EXPECT_EQ(std::string("ab\0c", 4), Text(both));
}
