// The array template and STRINGARRAY in memory: growth, positions, copies,
// sorting with its flags and per-type lock, splitting, joining, searching,
// and arrays shared between threads.
#include "velmot/core/dynarray.h"
#include "velmot/core/stringarray.h"
#include "platform/services/text.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/containers_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using containers_test::ASKED;
using containers_test::Fill;
using containers_test::Items;
using containers_test::Make;
using Strings = std::vector<std::string>;

namespace {

// An item type with a live count, so that tests see every copy freed.
struct COUNTED {
    static inline std::atomic<int> Alive{0};
    int Value = 0;
    COUNTED() { ++Alive; }
    explicit COUNTED(int v) : Value(v) { ++Alive; }
    COUNTED(COUNTED const& o) : Value(o.Value) { ++Alive; }
    COUNTED& operator=(COUNTED const&) = default;
    ~COUNTED() { --Alive; }
};

std::vector<int> Values(DYNARRAY<COUNTED> const& a)
{
    std::vector<int> out;
    for (int i = 0; i < a.NumItems(); ++i)
        out.push_back(a[i]->Value);
    return out;
}

} // namespace

TEST(DynArray, GrowsLinearlyByTheExpandSize)
{
    STRINGARRAY a(64);
    EXPECT_EQ(64, a.MaxItems);
    EXPECT_EQ(64, a.ExpandSize);
    EXPECT_STREQ("STRINGARRAY", a.TypeName);
    std::vector<std::pair<int, int>> steps = {{64, 64}, {65, 128}, {128, 128}, {129, 192}};
    int n = 0;
    for (auto [count, slots] : steps) {
        while (n < count)
            a.AppendItem(STRING(n++));
        EXPECT_EQ(count, a.NumItems());
        EXPECT_EQ(slots, a.MaxItems) << "after " << count << " items";
    }
    // The slots beyond the count are empty.
    for (int i = a.NumItems(); i < a.MaxItems; ++i)
        EXPECT_EQ(nullptr, a.ppItems[i]);

    DYNARRAY<COUNTED> same(10, -1);
    EXPECT_EQ(10, same.ExpandSize); // the all-ones step means "the initial size again"
}

TEST(DynArray, InsertDeleteReplaceAndSwapKeepOrder)
{
    DYNARRAY<COUNTED> a(2, 2);
    a.AppendItem(COUNTED(1));
    a.AppendItem(COUNTED(2));
    EXPECT_EQ(2, a.InsertItem(2, COUNTED(3))); // at the count: appends
    EXPECT_EQ(0, a.InsertItem(0, COUNTED(0))); // at 0: every item moves up
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), Values(a));
    a.InsertItem(2, *a[0]); // an item of the array itself
    EXPECT_EQ((std::vector<int>{0, 1, 0, 2, 3}), Values(a));
    a.ReplaceItem(2, COUNTED(9));
    a.SwapItems(0, 4);
    EXPECT_EQ((std::vector<int>{3, 1, 9, 2, 0}), Values(a));
    a.DeleteItem(1);
    EXPECT_EQ((std::vector<int>{3, 9, 2, 0}), Values(a));
    EXPECT_EQ(nullptr, a.ppItems[4]);
    EXPECT_EQ(4, COUNTED::Alive.load());

    int slots = a.MaxItems;
    a.DeleteAllItems();
    EXPECT_EQ(0, a.NumItems());
    EXPECT_EQ(slots, a.MaxItems); // the slot array stays
    EXPECT_EQ(0, COUNTED::Alive.load());
}

TEST(DynArray, OutOfRangePositionsAreReportedAndTouchNothing)
{
    struct CASE {
        char const* what;
        std::function<void(STRINGARRAY&)> call;
        char const* condition;
    };
    std::vector<CASE> cases = {
        {"insert -1", [](STRINGARRAY& a) { EXPECT_EQ(-1, a.InsertItem(-1, STRING("x"))); }, "pos>=0 && pos<=this->ItemCount"},
        {"insert past end", [](STRINGARRAY& a) { EXPECT_EQ(-1, a.InsertItem(3, STRING("x"))); }, "pos>=0 && pos<=this->ItemCount"},
        {"replace at count", [](STRINGARRAY& a) { a.ReplaceItem(2, STRING("x")); }, "pos>=0 && pos<this->ItemCount"},
        {"delete -1", [](STRINGARRAY& a) { a.DeleteItem(-1); }, "pos>=0 && pos<this->ItemCount"},
        {"swap first", [](STRINGARRAY& a) { a.SwapItems(5, 0); }, "pos1>=0 && pos1<this->ItemCount"},
        {"swap second", [](STRINGARRAY& a) { a.SwapItems(0, -3); }, "pos2>=0 && pos2<this->ItemCount"},
        {"index", [](STRINGARRAY& a) {
             // The result is a scratch item: writing through it changes no item.
             STRING* s = a[2];
             ASSERT_NE(nullptr, s);
             *s = "overwritten";
         }, "FALSE"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        ASKED asked;
        STRINGARRAY a(2);
        Fill(a, {"a", "b"});
        c.call(a);
        EXPECT_EQ((Strings{"a", "b"}), Items(a));
        EXPECT_EQ(2, a.MaxItems);
        EXPECT_EQ((Strings{c.condition}), asked.Take());
    }
}

TEST(DynArray, AssignmentAndCopyReplaceWithoutLeaking)
{
    {
        DYNARRAY<COUNTED> a(4, 8), b(2, 3);
        a.AppendItem(COUNTED(1));
        a.AppendItem(COUNTED(2));
        b.AppendItem(COUNTED(7));
        a = b;
        EXPECT_EQ((std::vector<int>{7}), Values(a));
        EXPECT_EQ(2, a.MaxItems);
        EXPECT_EQ(3, a.ExpandSize);
        a.Copy(b); // Copy alone also gives back what the array held
        EXPECT_EQ(2, COUNTED::Alive.load());

        auto& same = a;
        a = same;
        EXPECT_EQ((std::vector<int>{7}), Values(a));

        a.Append(a);
        EXPECT_EQ((std::vector<int>{7, 7}), Values(a));

        DYNARRAY<COUNTED> c(a);
        EXPECT_STREQ("", c.TypeName);
        EXPECT_EQ((std::vector<int>{7, 7}), Values(c));
        c.AppendItem(COUNTED(5));
        EXPECT_EQ(2, a.NumItems()); // deep copies
    }
    EXPECT_EQ(0, COUNTED::Alive.load());

    STRINGARRAY s(4);
    Fill(s, {"x"});
    STRINGARRAY t = s;
    t = t;
    EXPECT_EQ((Strings{"x"}), Items(t));
}

TEST(DynArray, SortFlags)
{
    struct CASE {
        unsigned flags;
        Strings in, out;
    };
    std::vector<CASE> cases = {
        {0x10, {"b", "A", "c"}, {"A", "b", "c"}},
        {0x18, {"b", "A", "c"}, {"c", "b", "A"}},
        {0x00, {"b", "A", "B", "a"}, {"A", "B", "a", "b"}},
        {0x08, {"b", "A", "c"}, {"c", "b", "A"}},
        {0x01, {"10", "9", "100"}, {"9", "10", "100"}},
        {0x11, {"10", "9", "x"}, {"x", "9", "10"}}, // numeric wins over ignore-case
        // A difference of these would overflow; the order must still be right.
        {0x01, {"1", "2147483647", "-2147483648", "0"}, {"-2147483648", "0", "1", "2147483647"}},
        {0x09, {"1", "-2147483648", "2147483647", "0"}, {"2147483647", "1", "0", "-2147483648"}},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags);
        STRINGARRAY a(8);
        Fill(a, c.in);
        a.Sort(c.flags);
        EXPECT_EQ(c.out, Items(a));
    }
}

TEST(DynArray, SortWithoutAComparisonIsReported)
{
    ASKED asked;
    DYNARRAY<COUNTED> a(4, 4);
    a.AppendItem(COUNTED(2));
    a.AppendItem(COUNTED(1));
    a.SortItems(0);
    EXPECT_EQ(2, a.NumItems());
    auto seen = asked.Take();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ("FALSE", seen[0]);
}

// A comparison that sorts another array of the same type would wait for the
// type's sort lock held by its own thread. It is refused with a report and
// the outer sort finishes.
TEST(DynArray, NestedSortOfTheSameTypeIsRefusedNotDeadlocked)
{
    int rc = testutil::RunInChild([] {
        alarm(30); // a deadlock ends the child instead of hanging the test
        struct NESTING : STRINGARRAY {
            STRINGARRAY* Other = nullptr;
            int CompareItems(STRING const* a, STRING const* b, unsigned long flags) override
            {
                if (Other)
                    Other->Sort(0);
                return STRINGARRAY::CompareItems(a, b, flags);
            }
        };
        ASKED asked;
        STRINGARRAY other;
        Fill(other, {"z", "y"});
        NESTING outer;
        outer.Other = &other;
        Fill(outer, {"b", "a", "c"});
        outer.Sort(0);
        auto seen = asked.Take();
        bool ok = Items(outer) == Strings{"a", "b", "c"} && Items(other) == Strings{"z", "y"} && !seen.empty() &&
                  seen[0] == "DYNARRAY<TYPE>::SortThis==NULL";
        // The lock is free again afterwards.
        other.Sort(0);
        ok = ok && Items(other) == Strings{"y", "z"};
        return ok ? 0 : 1;
    });
    EXPECT_EQ(0, rc);
}

TEST(DynArray, LockKeepsOtherThreadsOutAndWinLockIsRefused)
{
    ASKED asked;
    STRINGARRAY a;
    ASSERT_TRUE(a.Lock(-1));
    bool other = true;
    std::thread([&] { other = a.Lock(0); }).join();
    EXPECT_FALSE(other);
    a.Unlock();
    std::thread([&] {
        other = a.Lock(1000);
        if (other)
            a.Unlock();
    }).join();
    EXPECT_TRUE(other);

    EXPECT_FALSE(a.WinLock(10));
    EXPECT_EQ((Strings{"FALSE"}), asked.Take());
}

// Appending threads, sorting threads (on this array and on another one of the
// same type) and a reader that holds the array across an index loop, all at
// once. The lock order (sort lock, then array) must never deadlock; the
// child process bounds the run.
TEST(DynArray, ThreadsAppendSortAndReadOneArray)
{
    int rc = testutil::RunInChild([] {
        alarm(60);
        STRINGARRAY shared, second;
        std::atomic<bool> bad{false};
        std::vector<std::thread> threads;
        constexpr int kAppenders = 4, kPerThread = 2000;
        for (int t = 0; t < kAppenders; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kPerThread; ++i)
                    shared.AppendItem(STRING(t * kPerThread + i));
            });
        }
        for (int t = 0; t < 2; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 30; ++i) {
                    shared.Sort(t ? 0x09 : 0x01);
                    second.AppendItem(STRING(i));
                    second.Sort(0x10);
                }
            });
        }
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                shared.Lock();
                for (int k = 0; k < shared.NumItems(); ++k) {
                    if (!shared[k]->IsSet())
                        bad = true;
                }
                shared.Unlock();
            }
        });
        for (auto& t : threads)
            t.join();
        shared.Sort(0x01);
        bool ok = !bad && shared.NumItems() == kAppenders * kPerThread && second.NumItems() == 60;
        for (int i = 0; ok && i < shared.NumItems(); ++i)
            ok = static_cast<int>(*shared[i]) == i;
        return ok ? 0 : 1;
    });
    EXPECT_EQ(0, rc);
}

TEST(StringArray, SplittingGivesOneItemMoreThanDelimiters)
{
    struct CASE {
        STRING text;
        char const* delimiters;
        Strings items;
    };
    std::vector<CASE> cases = {
        {STRING("a,,b,"), ",", {"a", "", "b", ""}},
        {STRING(",a"), ",", {"", "a"}},
        {STRING("a,b;c"), ",;", {"a", "b", "c"}},
        {STRING(""), ",", {""}},
        {STRING(), ",", {}}, // no buffer: no items
        {STRING("abc"), nullptr, {"abc"}},
        {Make(std::string("a\0b,c", 5)), ",", {std::string("a\0b", 3), "c"}}, // a NUL is a byte of its field
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(containers_test::Bytes(c.text));
        STRINGARRAY a(c.text, c.delimiters);
        EXPECT_EQ(c.items, Items(a));
        for (int i = 0; i < a.NumItems(); ++i) {
            EXPECT_TRUE(a[i]->IsSet());
            EXPECT_EQ(1252, a[i]->CodePage);
        }
    }
}

TEST(StringArray, FromAPlatformArray)
{
    ASKED asked;
    plat::Array array({plat::Text::FromUtf8("abc"), plat::Number(int32_t(42)), std::monostate(),
                       plat::Bytes{1, 2}, plat::Text::FromUtf8("\xc3\xa4\xe2\x82\xac"),
                       plat::Text::FromUtf8("\xce\xa9/x"), plat::Text(), plat::Number(-7.9)});
    STRINGARRAY a(array);
    EXPECT_STREQ("STRINGARRAY", a.TypeName);
    // Texts and numbers in order; the null element and the data are skipped.
    EXPECT_EQ((Strings{"abc", "42", "\xe4\x80", "\xce\xa9/x", "", "-7"}), Items(a));
    EXPECT_EQ(1252, a[2]->CodePage); // a-umlaut and the euro sign in 1252
    EXPECT_EQ(UNICODE_CPUTF8, a[3]->CodePage); // not in 1252: kept as UTF-8
    EXPECT_FALSE(a[4]->IsSet());
    EXPECT_TRUE(asked.Take().empty()); // the null element is logged only
}

TEST(StringArray, AsStringRemovesOnlyTheLastSeparator)
{
    struct CASE {
        Strings items;
        char const* separator;
        std::string text;
    };
    std::vector<CASE> cases = {
        {{"a", "b"}, ",", "a,b"},
        {{}, ",", ""},
        {{"a", "", ""}, ",", "a,,"}, // trailing empty items are kept
        {{"x,", "y,"}, ", ", "x,, y,"}, // so are separator characters inside items
        {{"one"}, "\n", "one"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.text);
        STRINGARRAY a;
        Fill(a, c.items);
        STRING s = a.AsString(c.separator);
        EXPECT_TRUE(s.IsSet());
        EXPECT_EQ(c.text, containers_test::Bytes(s));
        // Splitting the text again gives the items back.
        if (!c.items.empty() && strlen(c.separator) == 1) {
            EXPECT_EQ(c.items, Items(STRINGARRAY(s, c.separator)));
        }
    }
}

TEST(StringArray, FindItemModes)
{
    STRINGARRAY a;
    Fill(a, {"ABC", "xaBx", "007", "ab"});
    struct CASE {
        char const* text;
        int mode;
        int index;
    };
    std::vector<CASE> cases = {
        {"abc", 0, 0},  {"AB", 0, 3},   {"a", 0, -1},  // whole item, any case
        {"ab", 1, 0},   {"xa", 1, 1},   {"b", 1, -1},  // beginning
        {"Ab", 2, 0},   {"aBx", 2, 1},  {"q", 2, -1},  // contained
        {"7", 3, 2},    {"0", 3, 0},    {"8", 3, -1},  // number ("ABC" reads as 0)
        {"ABC", 4, -1}, {"ABC", -1, -1},               // other modes never match
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " mode " << c.mode);
        EXPECT_EQ(c.index, a.FindItem(c.text, static_cast<STRINGARRAY::MATCHMODE>(c.mode)));
    }
}

namespace {

std::vector<std::wstring> WItems(WSTRINGARRAY const& a)
{
    std::vector<std::wstring> out;
    for (int i = 0; i < a.NumItems(); ++i)
        out.emplace_back(a[i]->Buf(), static_cast<size_t>(a[i]->Length()));
    return out;
}

} // namespace

TEST(WStringArray, SplitJoinFindAndSort)
{
    using WStrings = std::vector<std::wstring>;
    struct SPLIT {
        WSTRING text;
        wchar_t const* delimiters;
        WStrings items;
    };
    std::vector<SPLIT> splits = {
        {WSTRING(L"a,,b,"), L",", {L"a", L"", L"b", L""}},
        {WSTRING(L"\u00e4;\u03a9,x"), L",;", {L"\u00e4", L"\u03a9", L"x"}},
        {WSTRING(L""), L",", {L""}},
        {WSTRING(), L",", {}},
    };
    for (auto const& c : splits) {
        WSTRINGARRAY a(c.text, c.delimiters);
        EXPECT_STREQ("WSTRINGARRAY", a.TypeName);
        EXPECT_EQ(c.items, WItems(a));
    }

    WSTRINGARRAY a;
    for (wchar_t const* s : {L"ABC", L"xaBx", L"007", L"\u03a9mega"})
        a.AppendItem(WSTRING(s));
    struct FIND {
        wchar_t const* text;
        int mode;
        int index;
    };
    for (FIND f : std::vector<FIND>{{L"abc", 0, 0}, {L"ab", 1, 0}, {L"XA", 1, 1}, {L"Ab", 2, -1},
                                    {L"aB", 2, 1}, {L"7", 3, 2}, {L"ABC", 9, -1}}) {
        SCOPED_TRACE(f.mode);
        EXPECT_EQ(f.index, a.FindItem(f.text, static_cast<WSTRINGARRAY::MATCHMODE>(f.mode)));
    }

    WSTRINGARRAY empty;
    EXPECT_TRUE(empty.AsWString(L",").IsSet());
    EXPECT_EQ(0, empty.AsWString(L",").Length());
    WSTRINGARRAY trailing(WSTRING(L"a,,"), L",");
    EXPECT_EQ(std::wstring(L"a,,"), std::wstring(trailing.AsWString(L",").Buf()));

    struct SORT {
        unsigned flags;
        WStrings in, out;
    };
    for (auto const& c : std::vector<SORT>{{0x10, {L"b", L"A", L"c"}, {L"A", L"b", L"c"}},
                                           {0x18, {L"b", L"A", L"c"}, {L"c", L"b", L"A"}},
                                           {0x00, {L"b", L"A", L"a"}, {L"A", L"a", L"b"}},
                                           {0x09, {L"-2147483648", L"2147483647", L"0"}, {L"2147483647", L"0", L"-2147483648"}}}) {
        SCOPED_TRACE(c.flags);
        WSTRINGARRAY s;
        for (auto const& w : c.in)
            s.AppendItem(WSTRING(w.c_str()));
        s.SortItems(c.flags);
        EXPECT_EQ(c.out, WItems(s));
    }
}

TEST(WStringArray, FromAPlatformArray)
{
    ASKED asked;
    plat::Array array({plat::Text::FromUtf8("\xf0\x9f\x98\x80!"), plat::Number(int32_t(-5)), std::monostate(),
                       plat::Text::FromUtf8(""), plat::Text()});
    WSTRINGARRAY a(array);
    ASSERT_EQ(4, a.NumItems());
    EXPECT_EQ(std::wstring(L"\U0001F600!"), std::wstring(a[0]->Buf())); // a surrogate pair is one character
    EXPECT_EQ(std::wstring(L"-5"), std::wstring(a[1]->Buf()));
    EXPECT_TRUE(a[2]->IsSet());
    EXPECT_EQ(0, a[2]->Length());
    EXPECT_FALSE(a[3]->IsSet());
    EXPECT_TRUE(asked.Take().empty());
}
