// The import of foreign host lists through the converter stand-in: the
// format list, the format dialog's rules, the converter's results, the
// target section (a 65th refused), the chosen entries, a full directory,
// passwords while stored passwords are off, and the temporary file.
#include "tests/program/hostdir/hostdirtest.h"

#include "program/hostdir/phoneimport.h"
#include "program/session/sessionrunner.h"

#include "platform/events/modal.h"
#include "platform/events/queue.h"
#include "velmot/gui/listbox.h"
#include "velmot/gui/winbuttons.h"
#include "velmot/gui/winentry.h"

#include <gmock/gmock.h>

#include <deque>
#include <dirent.h>
#include <functional>

using namespace hostdirtest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

CONTROLID Id(char const (&kind)[5], int n)
{
    return CONTROLID{OptsFourCC(kind), n};
}

// What the test does in each dialog the import shows, in order; a dialog
// beyond them is cancelled.
class DIALOGSTEPS {
public:
    using STEP = std::function<void(CONTROLPARENT p)>;
    DIALOGSTEPS()
    {
        Responder = plat::AddModalResponder(
            plat::kModalWindow,
            [this](plat::ModalRequest const& r, plat::ModalAnswer&) {
                CONTROLPARENT const p = WINDOW(r.window).GetClientParent();
                Titles.push_back(r.title);
                if (Steps.empty()) {
                    PUSHBUTTON(p, DIALOG_CANCELBUTTON).SimulateHit(plat::kControlPartButton);
                    return true;
                }
                STEP step = std::move(Steps.front());
                Steps.pop_front();
                step(p);
                return true;
            },
            -1);
    }
    ~DIALOGSTEPS() { plat::RemoveModalResponder(Responder); }
    void Then(STEP step) { Steps.push_back(std::move(step)); }

    std::vector<std::string> Titles;

private:
    std::deque<STEP> Steps;
    uint64_t Responder = 0;
};

void Press(CONTROLPARENT p, CONTROLID id)
{
    PUSHBUTTON(p, id).SimulateHit(plat::kControlPartButton);
}

void Type(CONTROLPARENT p, CONTROLID id, std::string const& text)
{
    ENTRYFIELD(p, id).SetText(text.c_str());
}

void Click(CONTROLPARENT p, CONTROLID id)
{
    CONTROL c(p, id);
    c.SetControlValue(1);
    c.SimulateHit(0);
}

// Lets the notices the controls posted arrive.
void Settle()
{
    for (int i = 0; i < 5; ++i)
        plat::ProcessPendingEvents(256);
}

// Chooses a format in the list (the list reports the change to the
// dialog).
void ChooseFormat(CONTROLPARENT p, int index)
{
    LISTBOX list(p, Id("LIST", 2));
    list.SelectItem(index, 1);
    Settle();
}

class PhoneImport : public HostdirPlatformTest {
protected:
    void SetUp() override
    {
        HostdirTest::SetUp();
        Init(20);
        PHONESTRUCTURE* s = Book->Table().LockStructure();
        s->numsections = 2;
        strcpy(s->sections[0], "Work");
        strcpy(s->sections[1], "Home");
        Book->Table().UnLockStructure(s);
        Import = std::make_unique<PHONEIMPORT>(*Book, nullptr);
        ASSERT_TRUE(Import->Load());
        Import->SetCurrentSection(1);
        testutil::WriteFile(Path("hosts.csv"), "name,host,port,device,user\nMail,mail.example.org,,telnet,joe\n"
                                               "Box,10.0.0.2,2323,3,\nShell,shell.example.org,,ssh,ann\n");
    }
    void TearDown() override
    {
        Import.reset();
        HostdirTest::TearDown();
    }
    // The names and sections of the entries, in slot order.
    std::vector<std::string> Entries()
    {
        std::vector<std::string> out;
        int capacity = 0;
        _PHONEBOOK_300** slots = Book->Table().LockTable(&capacity);
        for (int i = 0; i < capacity; ++i) {
            if (!slots[i])
                continue;
            std::string n;
            for (size_t k = 0; k < 65 && slots[i]->name[k]; ++k)
                n += static_cast<char>(slots[i]->name[k]);
            out.push_back(n + "@" + std::to_string(slots[i]->section));
        }
        Book->Table().UnlockTable(slots);
        return out;
    }
    static int TempFiles()
    {
        FILENAME probe("<temp>");
        std::string const folder = probe.JustPath().Buf();
        unlink(probe.Buf());
        int n = 0;
        if (DIR* d = opendir(folder.c_str())) {
            while (dirent* e = readdir(d))
                n += e->d_name[0] != '.';
            closedir(d);
        }
        return n;
    }

    std::unique_ptr<PHONEIMPORT> Import;
    WINDOW NoOwner{static_cast<plat::WindowRef>(nullptr)};
};

} // namespace

TEST(PhoneImportFormats, FormatList)
{
    struct CASE {
        char const* Text;
        std::vector<std::string> Names, Masks;
    } const cases[] = {
        {"CSV;*.csv|Plain|None;N/A|Own;<~/.x", {"CSV", "Plain", "None", "Own"}, {"*.csv", "*.*", "N/A", "<~/.x"}},
        {"||A;|", {"A"}, {""}},
        {"", {}, {}},
    };
    for (CASE const& c : cases) {
        std::vector<std::string> names, masks;
        PHONEIMPORT::ParseFormats(c.Text, names, masks);
        EXPECT_EQ(names, c.Names) << c.Text;
        EXPECT_EQ(masks, c.Masks) << c.Text;
    }
    std::string const longest(3000, 'x');
    std::vector<std::string> names, masks;
    PHONEIMPORT::ParseFormats(longest.c_str(), names, masks);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].size(), 1023u);
    EXPECT_FALSE(PHONEIMPORT::NeedsFile("n/a"));
    EXPECT_FALSE(PHONEIMPORT::NeedsFile("<~/.ssh/config"));
    EXPECT_TRUE(PHONEIMPORT::NeedsFile("*.*"));
}

// The file field follows the chosen format; OK waits for a file that
// exists unless the format reads its own.
TEST_F(PhoneImport, FormatDialogRules)
{
    DIALOGSTEPS steps;
    std::vector<std::string> seen;
    steps.Then([&](CONTROLPARENT p) {
        auto state = [&] {
            seen.push_back(CONTROL(p, Id("EDIT", 23)).GetText().Buf() + std::string(" edit=") +
                           std::to_string(CONTROL(p, Id("EDIT", 23)).IsEnabled()) +
                           " browse=" + std::to_string(CONTROL(p, Id("PUSH", 9)).IsEnabled()) +
                           " ok=" + std::to_string(CONTROL(p, Id("OKAY", 0)).IsEnabled()));
        };
        state();
        ChooseFormat(p, 1);
        state();
        ChooseFormat(p, 0);
        Type(p, Id("EDIT", 23), Path("missing.csv"));
        state();
        Host.Picks.push_back(Path("hosts.csv"));
        Press(p, Id("PUSH", 9));
        state();
        Press(p, DIALOG_CANCELBUTTON);
    });
    EXPECT_EQ(Import->ImportMain(NoOwner), 0);
    EXPECT_THAT(seen, ElementsAre("*.csv edit=1 browse=1 ok=0", "<~/.ssh/config edit=0 browse=0 ok=1",
                                  Path("missing.csv") + " edit=1 browse=1 ok=0",
                                  Path("hosts.csv") + " edit=1 browse=1 ok=1"));
    EXPECT_THAT(Host.Take("pick "), ElementsAre("pick Import|" + Path("missing.csv")));
    EXPECT_THAT(steps.Titles, ElementsAre("Import Host List"));
}

// A CSV list into the window's section: every entry, new handles, and no
// converted file left behind.
TEST_F(PhoneImport, AllEntriesIntoTheCurrentSection)
{
    int const before = TempFiles();
    DIALOGSTEPS steps;
    steps.Then([&](CONTROLPARENT p) {
        Type(p, Id("EDIT", 23), Path("hosts.csv"));
        Press(p, Id("OKAY", 0));
    });
    steps.Then([&](CONTROLPARENT p) {
        EXPECT_FALSE(CONTROL(p, Id("EDIT", 0)).IsEnabled());
        EXPECT_FALSE(CONTROL(p, Id("LIST", 4)).IsEnabled());
        EXPECT_EQ(LISTBOX(p, Id("LIST", 4)).GetItemCount(), 3);
        EXPECT_EQ(LISTBOX(p, Id("LIST", 3)).GetSelectedItem(0), 1);
        Press(p, Id("OKAY", 0));
    });
    EXPECT_EQ(Import->ImportMain(NoOwner), 1);
    EXPECT_THAT(Entries(), ElementsAre("Mail@1", "Box@1", "Shell@1"));
    _PHONEBOOK_300 e;
    ASSERT_TRUE(Book->Table().ItemCopyFromHandle(Book->Table().FindHandleFromNameWide(L"Box"), &e));
    EXPECT_STREQ(e.number, "10.0.0.2:2323");
    EXPECT_EQ(e.deviceid, 3);
    EXPECT_GE(e.handle, 5555);
    EXPECT_STREQ(e.optfile, "Standard.qor");
    EXPECT_EQ(TempFiles(), before) << "the converted file is removed";
    EXPECT_THAT(steps.Titles, ElementsAre("Import Host List", "Import Entries"));
}

// The converter's answers: -1 ends quietly; 2 (the source cannot be read)
// and any other value (not of the format) are told, and the format dialog
// comes again.
TEST_F(PhoneImport, ConverterResults)
{
    testutil::WriteFile(Path("empty.csv"), "");
    testutil::WriteFile(Path("wrong.csv"), "one field only\n");
    struct CASE {
        std::string File;
        std::vector<std::string> Errors;
        size_t Dialogs;
    } const cases[] = {
        {Path("empty.csv"), {}, 1},
        {Dir.path(), {"error The file could not be read by the converter."}, 2},
        {Path("wrong.csv"), {"error The file could not be converted from this format."}, 2},
    };
    int const before = TempFiles();
    for (CASE const& c : cases) {
        SCOPED_TRACE(c.File);
        DIALOGSTEPS steps;
        steps.Then([&](CONTROLPARENT p) {
            Type(p, Id("EDIT", 23), c.File);
            Press(p, Id("OKAY", 0));
        });
        std::string again;
        steps.Then([&](CONTROLPARENT p) {
            again = CONTROL(p, Id("EDIT", 23)).GetText().Buf();
            Press(p, DIALOG_CANCELBUTTON);
        });
        EXPECT_EQ(Import->ImportMain(NoOwner), 0);
        EXPECT_EQ(Host.Take("error "), c.Errors);
        EXPECT_EQ(steps.Titles.size(), c.Dialogs);
        if (c.Dialogs == 2)
            EXPECT_EQ(again, c.File) << "the dialog comes again with the user's values";
        EXPECT_TRUE(Entries().empty());
    }
    EXPECT_EQ(TempFiles(), before);
}

// A new section named by the user, or "Import"; the chosen entries only
// (none chosen still makes the section); never a 65th section.
TEST_F(PhoneImport, TargetSectionAndChosenEntries)
{
    int changed = 0;
    Import->OnSectionsChanged = [&] { ++changed; };
    auto run = [&](std::function<void(CONTROLPARENT)> second) {
        DIALOGSTEPS steps;
        steps.Then([&](CONTROLPARENT p) {
            Type(p, Id("EDIT", 23), Path("hosts.csv"));
            Press(p, Id("OKAY", 0));
        });
        steps.Then(std::move(second));
        return Import->ImportMain(NoOwner);
    };

    EXPECT_EQ(run([&](CONTROLPARENT p) {
                  Click(p, Id("CHEC", 0));
                  EXPECT_TRUE(CONTROL(p, Id("EDIT", 0)).IsEnabled());
                  EXPECT_FALSE(CONTROL(p, Id("LIST", 3)).IsEnabled());
                  Type(p, Id("EDIT", 0), "Imported hosts");
                  Click(p, Id("RADI", 1));
                  EXPECT_TRUE(CONTROL(p, Id("LIST", 4)).IsEnabled());
                  LISTBOX(p, Id("LIST", 4)).SelectItem(0, 1);
                  LISTBOX(p, Id("LIST", 4)).SelectItem(2, 1);
                  Press(p, Id("OKAY", 0));
              }),
              1);
    EXPECT_THAT(Entries(), ElementsAre("Mail@2", "Shell@2"));
    EXPECT_EQ(changed, 1);
    char sections[256];
    Book->GetSectionString(sections, sizeof sections);
    EXPECT_STREQ(sections, "Work|Home|Imported hosts");

    EXPECT_EQ(run([&](CONTROLPARENT p) {
                  Click(p, Id("CHEC", 0));
                  Click(p, Id("RADI", 1));
                  LISTBOX list(p, Id("LIST", 4));
                  for (int i = 0; i < list.GetItemCount(); ++i)
                      list.SelectItem(i, 0);
                  Press(p, Id("OKAY", 0));
              }),
              1);
    Book->GetSectionString(sections, sizeof sections);
    EXPECT_STREQ(sections, "Work|Home|Imported hosts|Import");
    EXPECT_EQ(Entries().size(), 2u) << "none chosen, none added";

    PHONESTRUCTURE* s = Book->Table().LockStructure();
    s->numsections = 64;
    for (int i = 4; i < 64; ++i)
        snprintf(s->sections[i], 32, "S%d", i);
    Book->Table().UnLockStructure(s);
    EXPECT_EQ(run([&](CONTROLPARENT p) {
                  Click(p, Id("CHEC", 0));
                  Press(p, Id("OKAY", 0));
              }),
              0);
    EXPECT_THAT(Host.Take("error "), ElementsAre(HasSubstr("64 sections")));
    EXPECT_EQ(Entries().size(), 2u);
    s = Book->Table().LockStructure();
    EXPECT_EQ(s->numsections, 64);
    Book->Table().UnLockStructure(s);
}

// A directory that fills up says so; a converted file's passwords stay out
// while stored passwords are off.
TEST_F(PhoneImport, FullDirectoryAndPasswords)
{
    std::string converted = "QOR6.44\n\n[DATA]\n";
    for (int i = 0; i < 25; ++i)
        converted += "[HOST]\nname=\"h" + std::to_string(i) + "\"\npassword=\"pw\"\n[/HOST]\n";
    testutil::WriteFile(Path("converted.txt"), converted);
    auto run = [&] {
        DIALOGSTEPS steps;
        steps.Then([&](CONTROLPARENT p) { Press(p, Id("OKAY", 0)); });
        return Import->ImportAfterConvert(Path("converted.txt").c_str(), NoOwner);
    };
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(Entries().size(), 19u);
    EXPECT_THAT(Host.Take("error "), ElementsAre(HasSubstr("full")));
    _PHONEBOOK_300 e;
    Book->Table().ItemCopyFromHandle(Book->Table().FindHandleFromNameWide(L"h0"), &e);
    EXPECT_STREQ(e.password, "pw");

    Init(40);
    Import = std::make_unique<PHONEIMPORT>(*Book, nullptr);
    Host.AdminRecord.DisableStoredPasswords = 1;
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(Entries().size(), 25u);
    Book->Table().ItemCopyFromHandle(Book->Table().FindHandleFromNameWide(L"h0"), &e);
    EXPECT_STREQ(e.password, "");

    testutil::WriteFile(Path("none.txt"), "QOR6.44\n\n[DATA]\n[/DATA]\n");
    EXPECT_EQ(Import->ImportAfterConvert(Path("none.txt").c_str(), NoOwner), 0);
    EXPECT_THAT(Host.Take("warning "), ElementsAre(HasSubstr("no host entries")));

    PHONEIMPORT missing(*Book, nullptr);
    EXPECT_FALSE(missing.Load("NOSUCHCONVERTER.DLL"));
    EXPECT_EQ(missing.ImportMain(NoOwner), 0);
}
