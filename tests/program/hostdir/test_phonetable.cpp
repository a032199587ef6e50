// The entry record and its key table, the entry table (capacity, look-ups,
// handles, the snapshot), folders and sections, and the dial queue.
#include "tests/program/hostdir/hostdirtest.h"

#include "program/hostdir/phonequeue.h"

#include <gmock/gmock.h>

#include <cstring>
#include <cwchar>

using namespace hostdirtest;
using ::testing::ElementsAre;

namespace {

class PhoneTable : public HostdirTest {};

// One key=value line through the entry's key table, and the line the
// table writes back for that key.
struct CODEC {
    _PHONEBOOK_300 e;
    OPTSBASE opts{&e, sPhoneEntryOptlist, -1};
    CODEC() { memset(&e, 0, sizeof e); }
    std::string Written(char const* key)
    {
        char out[512];
        opts.GetOpt(key, out, sizeof out);
        return out;
    }
};

} // namespace

TEST(PhoneRecord, KeyTableAndNewEntries)
{
    STRING why;
    EXPECT_EQ(OPTSBASE::CountRows(sPhoneEntryOptlist), PHONE_KEYROWS - 1);
    EXPECT_TRUE(OPTSBASE::CheckTable(sPhoneEntryOptlist, PHONE_KEYROWS - 1, sizeof(_PHONEBOOK_300), &why)) << why.Buf();
    EXPECT_STREQ(sPhoneEntryOptlist[PHONE_KEYROWS - 1].Name, "OF_LIST");
    for (int i = 0; i < PHONE_KEYROWS; ++i) {
        SCOPED_TRACE(sPhoneEntryOptlist[i].Name);
        EXPECT_EQ(sPhoneEntryOptlist[i].NeverWritten(), i >= PHONE_WRITTENROWS);
    }

    _PHONEBOOK_300 e;
    memset(&e, 0x5A, sizeof e);
    PHONEBOOK::PrepareEntry(&e);
    EXPECT_EQ(e.newwindow, 3);
    EXPECT_EQ(e.dosimpledial, 1);
    EXPECT_EQ(e.protocol, -1);
    EXPECT_EQ(e.charset, -1);
    EXPECT_EQ(e.iemsibits, 63);
    EXPECT_EQ(e.handle, 0);
    EXPECT_EQ(e.name[0], 0);
    EXPECT_EQ(e.password[95], 0);
}

// What lines of files and scripts do to the record.
TEST(PhoneRecord, LinesOfTheKeyTable)
{
    struct CASE {
        char const* Line;
        char const* Key;
        char const* Written;
    };
    CASE const cases[] = {
        {"book=3", "section", "section=3"},
        {"first=maybe", "first", "first=2"},
        {"first=YES", "first", "first=yes"},
        // All 32 bits of the IEMSI bits survive (300 would lose its high bits
        // as a one-byte flag).
        {"iemsibits=300", "iemsibits", "iemsibits=300"},
        {"iemsibits=63", "iemsibits", "iemsibits=63"},
        // Limits restrict nothing when reading.
        {"newwindow=4", "newwindow", "newwindow=4"},
        {"ctrlfkey=99", "ctrlfkey", "ctrlfkey=99"},
        {"name=utf8:\"\xE4\xB8\x96\"", "name", "name=utf8:\"\xE4\xB8\x96\""},
        {"number=\"host \"\"a\"", "number", "number=\"host \"\"a\""},
    };
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.Line);
        CODEC codec;
        EXPECT_EQ(codec.opts.SetOpt(c.Line, 0), 0);
        EXPECT_EQ(codec.Written(c.Key), c.Written);
    }
    // Keys of older files change nothing and are never written.
    for (char const* line : {"calls=5", "uniqueid=77", "totalmoney=1"}) {
        CODEC codec;
        _PHONEBOOK_300 const before = codec.e;
        codec.opts.SetOpt(line, 0);
        EXPECT_EQ(memcmp(&codec.e, &before, sizeof before), 0) << line;
    }
    // A password of 95 characters fills the field to its terminator.
    CODEC codec;
    std::string const longest(95, 'p');
    OPTSBASE::CopyText(codec.e.password, sizeof codec.e.password, longest.c_str());
    std::string const line = codec.Written("password");
    CODEC back;
    back.opts.SetOpt(line.c_str(), 0);
    EXPECT_EQ(std::string(back.e.password), longest);
}

TEST_F(PhoneTable, CapacityStoresAndLookups)
{
    Init(100);
    for (int i = 0; i < 99; ++i) {
        std::wstring name = L"Host " + std::to_wstring(i);
        EXPECT_GT(Store(name.c_str()), 0) << i;
    }
    EXPECT_EQ(Store(L"one too many"), -1);

    Init(10);
    int const plain = Store(L"Alpha", 5555);
    int const marked = Store(L"B~eta");
    EXPECT_EQ(plain, 5555);
    EXPECT_EQ(marked, 5556);
    PHONEBOOKTABLE& t = Book->Table();
    struct LOOKUP {
        wchar_t const* Name;
        int Handle;
    } const lookups[] = {
        {L"alpha", 5555},   {L"ALPHA", 5555}, {L"beta", 5556}, {L"[#5556]", 5556},
        {L"[#5555]x", 5555}, {L"[#0]", -1},   {L"[#x]", -1},   {L"gamma", -1},
    };
    for (LOOKUP const& l : lookups)
        EXPECT_EQ(t.FindHandleFromNameWide(l.Name), l.Handle) << l.Name;
    EXPECT_EQ(t.FindHandleFromName("Alpha"), 5555);

    _PHONEBOOK_300 copy;
    EXPECT_TRUE(t.ItemCopyFromHandle(5556, &copy));
    EXPECT_EQ(std::wstring(copy.name), L"B~eta");
    EXPECT_FALSE(t.ItemCopyFromHandle(42, &copy));
    EXPECT_EQ(copy.handle, 0);

    _PHONEBOOK_300* e = t.LockItem(5555);
    ASSERT_NE(e, nullptr);
    e->ctrlfkey = 7;
    t.UnlockItem(e);
    EXPECT_EQ(t.FindHandleFromHotkey(7), 5555);
    EXPECT_EQ(t.FindHandleFromHotkey(0), -1);
    EXPECT_EQ(t.LockItem(42), nullptr);

    int capacity = 0;
    _PHONEBOOK_300** slots = t.LockTable(&capacity);
    ASSERT_NE(slots, nullptr);
    // -2 is no handle: it never answers the empty last slot.
    EXPECT_EQ(t.FindIndexFromHandle(slots, capacity, -2), -1);
    t.UnlockTable(slots);
}

// New handles come from the handles in use, entries and folders alike:
// no clock, never negative, never one in use.
TEST_F(PhoneTable, UniqueHandles)
{
    Init(10);
    EXPECT_EQ(Book->Table().GetUniqueId(nullptr, 0), 5555);
    Store(L"low", 100);
    Store(L"lower", 5554);
    EXPECT_EQ(Book->Table().GetUniqueId(nullptr, 0), 5555);
    PHONESTRUCTURE* s = Book->Table().LockStructure();
    s->numfolders = 1;
    s->folders[0].handle = 9000;
    Book->Table().UnLockStructure(s);
    EXPECT_EQ(Book->Table().GetUniqueId(nullptr, 0), 9001);
    Store(L"top", 2147483647);
    int const h = Book->Table().GetUniqueId(nullptr, 0);
    EXPECT_EQ(h, 5555) << "past the largest handle the lowest free one is taken";
}

TEST_F(PhoneTable, SnapshotGivesEveryEntryBack)
{
    Init(10);
    Store(L"one", 6001);
    Store(L"two", 6002);
    PHONESTRUCTURE* s = Book->Table().LockStructure();
    s->numsections = 2;
    strcpy(s->sections[1], "Kept");
    Book->Table().UnLockStructure(s);

    EXPECT_TRUE(Book->Table().CancelCopy(0));
    EXPECT_TRUE(Book->Table().HasSnapshot());
    _PHONEBOOK_300* e = Book->Table().LockItem(6001);
    Book->Table().DeleteEntry(e);
    Book->Table().UnlockItem(e);
    Store(L"three", 6003);
    s = Book->Table().LockStructure();
    strcpy(s->sections[1], "Changed");
    Book->Table().UnLockStructure(s);

    EXPECT_TRUE(Book->Table().CancelCopy(1));
    EXPECT_TRUE(Book->Table().CancelCopy(2));
    EXPECT_FALSE(Book->Table().HasSnapshot());
    EXPECT_EQ(Book->Table().FindHandleFromNameWide(L"one"), 6001);
    EXPECT_EQ(Book->Table().FindHandleFromNameWide(L"two"), 6002);
    EXPECT_EQ(Book->Table().FindHandleFromNameWide(L"three"), -1);
    s = Book->Table().LockStructure();
    EXPECT_STREQ(s->sections[1], "Kept");
    Book->Table().UnLockStructure(s);
    EXPECT_FALSE(Book->Table().CancelCopy(7));
}

// ---------------------------------------------------------------------------
// Folders and sections

namespace {

void AddFolder(PHONESTRUCTURE* s, int handle, int section, int parent, char const* name)
{
    PHONEFOLDER& f = s->folders[s->numfolders++];
    memset(&f, 0, sizeof f);
    f.handle = handle;
    f.section = section;
    f.parent = parent;
    snprintf(f.name, sizeof f.name, "%s", name);
}

} // namespace

TEST_F(PhoneTable, FoldersTakeSectionDepthAndPathFromTheirParents)
{
    Init(10);
    PHONESTRUCTURE* s = Book->Table().LockStructure();
    s->numsections = 6;
    AddFolder(s, 7003, 0, 7002, "Inner");    // written with a wrong section
    AddFolder(s, 7002, 2, 0, "Outer");
    AddFolder(s, 7004, 1, 0, "Beta");
    AddFolder(s, 7005, 1, 0, "Alpha");
    AddFolder(s, 7010, 3, 7011, "Cycle A");  // parents form a cycle
    AddFolder(s, 7011, 3, 7010, "Cycle B");
    AddFolder(s, 7012, 4, 9999, "Orphan");   // no such parent
    Book->Table().UnLockStructure(s);
    _PHONEBOOK_300 e = Entry(L"in inner", 0);
    e.folder = 7003;
    e.section = 5;
    Book->Table().StoreAsNew(&e);
    e = Entry(L"in nothing", 0);
    e.folder = 4242;
    e.section = 1;
    Book->Table().StoreAsNew(&e);

    ASSERT_TRUE(Book->ReorgFolders(nullptr));
    s = Book->Table().LockStructure();
    std::vector<std::string> order;
    for (int i = 0; i < s->numfolders; ++i) {
        PHONEFOLDER const& f = s->folders[i];
        order.push_back(std::to_string(f.section) + " " + Book->Table().FolderPath(i) + f.name + " d" +
                        std::to_string(f.depth) + " p" + std::to_string(f.parent));
    }
    Book->Table().UnLockStructure(s);
    EXPECT_THAT(order, ElementsAre("1 Alpha d0 p0", "1 Beta d0 p0", "2 Outer d0 p0", "2 Outer>Inner d1 p7002",
                                   "3 Cycle A d0 p0", "3 Cycle B d0 p0", "4 Orphan d0 p0"));
    _PHONEBOOK_300 copy;
    Book->Table().ItemCopyFromHandle(Book->Table().FindHandleFromNameWide(L"in inner"), &copy);
    EXPECT_EQ(copy.section, 2);
    Book->Table().ItemCopyFromHandle(Book->Table().FindHandleFromNameWide(L"in nothing"), &copy);
    EXPECT_EQ(copy.folder, 0) << "an entry of a folder that is gone shows in its section";

    EXPECT_TRUE(Book->IsFolderHandle(7002));
    EXPECT_TRUE(Book->IsFolderHandle(PHONE_SECTIONHANDLE));
    EXPECT_FALSE(Book->IsFolderHandle(copy.handle));
    int handles[] = {copy.handle, PHONE_SECTIONHANDLE, 7002};
    signed char sectionNode = 0;
    EXPECT_TRUE(Book->IsFolderHandle(3, handles, &sectionNode));
    EXPECT_EQ(sectionNode, 1);
    EXPECT_EQ(Book->GetParentFolder(7003), 7002);
    EXPECT_EQ(Book->GetParentFolder(copy.handle), 0);
    EXPECT_TRUE(Book->HasSectionAnyFolders(2));
    EXPECT_FALSE(Book->HasSectionAnyFolders(5));
}

TEST_F(PhoneTable, SectionsEditedAndApplied)
{
    Init(10);
    PHONESTRUCTURE* s = Book->Table().LockStructure();
    s->numsections = 6;
    for (int i = 0; i < 6; ++i)
        snprintf(s->sections[i], 32, "S%d", i);
    AddFolder(s, 7001, 3, 0, "F");
    Book->Table().UnLockStructure(s);
    _PHONEBOOK_300 e = Entry(L"three", 6003);
    e.section = 3;
    Book->Table().StoreAsNew(&e);
    e = Entry(L"far", 6070);
    e.section = 70;
    Book->Table().StoreAsNew(&e);
    e = Entry(L"one", 6001);
    e.section = 1;
    Book->Table().StoreAsNew(&e);

    char joined[256];
    Book->GetSectionString(joined, sizeof joined);
    EXPECT_STREQ(joined, "S0|S1|S2|S3|S4|S5");

    PHONEEDITSECTIONS list;
    Book->GetSections(&list);
    ASSERT_EQ(list.count, 6);
    EXPECT_EQ(list.items[0].usecount, 1) << "section 70 was moved to section 0";
    EXPECT_EQ(list.items[3].usecount, 2);
    _PHONEBOOK_300 copy;
    Book->Table().ItemCopyFromHandle(6070, &copy);
    EXPECT_EQ(copy.section, 0);

    // Deleting a section that holds an entry changes nothing.
    PHONEEDITSECTIONS refused = list;
    refused.count = 5;
    memmove(&refused.items[1], &refused.items[2], 4 * sizeof refused.items[0]);
    refused.deletedcount = 1;
    refused.deleted[0] = list.items[1];
    EXPECT_FALSE(Book->ReorgSections(&refused));
    Book->Table().ItemCopyFromHandle(6001, &copy);
    EXPECT_EQ(copy.section, 1);

    // Moving section 3 to the front shifts the others behind it.
    PHONEEDITSECTIONS moved = list;
    moved.items[0] = list.items[3];
    moved.items[1] = list.items[0];
    moved.items[2] = list.items[1];
    moved.items[3] = list.items[2];
    moved.deletedcount = 0;
    ASSERT_TRUE(Book->ReorgSections(&moved));
    Book->Table().ItemCopyFromHandle(6003, &copy);
    EXPECT_EQ(copy.section, 0);
    Book->Table().ItemCopyFromHandle(6001, &copy);
    EXPECT_EQ(copy.section, 2);
    s = Book->Table().LockStructure();
    EXPECT_EQ(s->folders[0].section, 0);
    EXPECT_STREQ(s->sections[0], "S3");
    Book->Table().UnLockStructure(s);

    // A 65th section has no name to go to.
    PHONEEDITSECTIONS many = moved;
    many.count = 65;
    EXPECT_FALSE(Book->ReorgSections(&many));
}

// ---------------------------------------------------------------------------
// Dial queue

TEST(PhoneQueue, OrderCountersAndRefusals)
{
    PHONEQUEUE q;
    EXPECT_EQ(q.GetFirst(), -1);
    EXPECT_TRUE(q.AddEntry(11, 0));
    EXPECT_TRUE(q.AddEntry(12, 4));
    EXPECT_TRUE(q.AddEntry(13, 0));
    EXPECT_FALSE(q.AddEntry(11, 0)) << "a handle is queued once";
    EXPECT_FALSE(q.AddEntry(0, 0));
    EXPECT_FALSE(q.AddEntry(-5, 0));
    EXPECT_EQ(q.GetOption(12), 4);
    EXPECT_EQ(q.GetOption(99), -1);
    q.GetData(13)->Counter1 = 1700000000;
    q.GetData(13)->Counter2 = 3;

    EXPECT_TRUE(q.DeleteEntry(12, 1));
    EXPECT_EQ(q.GetCount(), 2);
    EXPECT_EQ(q.Slot(0).Handle, 11);
    EXPECT_EQ(q.Slot(1).Handle, 13);
    EXPECT_EQ(q.Slot(2).Handle, 0);
    EXPECT_EQ(q.Slot(2).Option, 0);
    EXPECT_EQ(q.GetNext(-1), 11);
    EXPECT_EQ(q.GetNext(11), 13);
    EXPECT_EQ(q.GetNext(13), -1);
    EXPECT_EQ(q.GetNext(99), -1);
    EXPECT_FALSE(q.DeleteEntry(99, 1));
    EXPECT_FALSE(q.DeleteEntry(99, 0));
    EXPECT_EQ(q.GetCount(), 2);
    EXPECT_TRUE(q.IsQueued(13));
    EXPECT_EQ(q.GetData(99), nullptr);
    q.ClearCounters();
    EXPECT_EQ(q.GetData(13)->Counter1, 0);
    EXPECT_EQ(q.GetData(13)->Counter2, 0);

    PHONEQUEUE full;
    for (int h = 1; h <= PHONEQUEUE::MAXQUEUED; ++h)
        ASSERT_TRUE(full.AddEntry(h, 0));
    EXPECT_FALSE(full.AddEntry(500, 0)) << "the 128th entry is refused";
    EXPECT_EQ(full.GetCount(), 127);
    EXPECT_EQ(full.Slot(127).Handle, 0);
    full.Clear();
    EXPECT_EQ(full.GetCount(), 0);
    EXPECT_EQ(full.GetFirst(), -1);
}
