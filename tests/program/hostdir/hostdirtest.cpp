// The host-directory test helpers.
#include "tests/program/hostdir/hostdirtest.h"

#include "program/session/sessionrunner.h"
#include "program/settings/programsettings.h"
#include "velmot/core/workdir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <sstream>

namespace hostdirtest {

namespace {

std::string Hex(char const* p, size_t max)
{
    static char const digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < max && p[i]; ++i) {
        auto const b = static_cast<unsigned char>(p[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Wide(wchar_t const* p, size_t max)
{
    std::string out;
    char buf[16];
    for (size_t i = 0; i < max && p[i]; ++i) {
        snprintf(buf, sizeof buf, "%s%x", i ? " " : "", static_cast<unsigned>(p[i]));
        out += buf;
    }
    return out;
}

} // namespace

void FAKEHOST::SendIpcMessage(uint32_t, uint32_t mp1, uint32_t)
{
    Notices.push_back(mp1);
}

void FAKEHOST::EnableMenuEntry(int id, int enable, bool)
{
    Lines.push_back("menu " + std::to_string(id) + " " + std::to_string(enable));
}

STRING FAKEHOST::AskFilename(char const* title, char const* start, WINDOW const*)
{
    Lines.push_back(std::string("pick ") + (title ? title : "") + "|" + (start ? start : ""));
    if (Picks.empty())
        return STRING();
    STRING chosen(Picks.front().c_str());
    Picks.erase(Picks.begin());
    return chosen;
}

std::vector<std::string> FAKEHOST::Take(std::string const& prefix)
{
    std::vector<std::string> out;
    for (std::string const& l : Lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            out.push_back(l);
    Lines.clear();
    return out;
}

std::string Difference(std::string const& a, std::string const& b)
{
    if (a == b)
        return std::string();
    std::istringstream x(a), y(b);
    std::string la, lb;
    for (int line = 1;; ++line) {
        bool const ga = static_cast<bool>(std::getline(x, la));
        bool const gb = static_cast<bool>(std::getline(y, lb));
        if (!ga && !gb)
            return "line ends differ";
        if (!ga || !gb || la != lb) {
            auto cut = [](std::string s) { return s.size() > 200 ? s.substr(0, 200) + "..." : s; };
            return "line " + std::to_string(line) + ":\n  " + (ga ? cut(la) : "<end>") + "\n  " + (gb ? cut(lb) : "<end>");
        }
    }
}

std::string Dump(PHONEBOOK& book)
{
    book.Sort();
    int capacity = 0;
    _PHONEBOOK_300** slots = book.Table().LockTable(&capacity);
    if (!slots)
        return "<no table>";
    PHONESTRUCTURE const* s = book.Table().GetStructurePtr(slots);
    std::ostringstream out;
    out << "dir.flags " << s->flags << "\n";
    out << "dir.sections " << s->numsections << "\n";
    for (int i = 0; i < s->numsections; ++i)
        out << "dir.section " << i << " " << Hex(s->sections[i], 32) << "\n";
    for (int i = 0; i < s->numfolders; ++i) {
        PHONEFOLDER const& f = s->folders[i];
        out << "dir.folder " << f.handle << " " << f.section << " " << f.parent << " " << f.depth << " "
            << Hex(f.name, 32) << "\n";
    }
    for (int i = 0; i < capacity - 1; ++i) {
        _PHONEBOOK_300 const* e = slots[i];
        if (!e)
            continue;
        out << "entry\n";
        for (int row = 0; row < PHONE_WRITTENROWS; ++row) {
            OPTLIST const& opt = sPhoneEntryOptlist[row];
            auto const* field = reinterpret_cast<char const*>(e) + opt.Offset;
            out << opt.Name << " ";
            switch (opt.Type) {
            case OPTTYPE_WSTR:
                out << Wide(reinterpret_cast<wchar_t const*>(field), opt.Size / 4);
                break;
            case OPTTYPE_STR:
            case OPTTYPE_SECRET:
                out << Hex(field, opt.Size);
                break;
            default: {
                int32_t v;
                memcpy(&v, field, 4);
                out << v;
                break;
            }
            }
            out << "\n";
        }
    }
    book.Table().UnlockTable(slots);
    return out.str();
}

void HostdirPlatformTest::SetUpTestSuite()
{
    ASSERT_TRUE(HEADLESSSESSION::StartPlatform());
}

void HostdirTest::SetUp()
{
    setenv("TZ", "UTC0", 1);
    tzset();
    WORKDIR::SetCurrent(Dir.path().c_str());
    snprintf(Host.Settings.OptsPath, sizeof Host.Settings.OptsPath, "%s", ".");
}

void HostdirTest::TearDown()
{
    Book.reset();
}

void HostdirTest::Init(int capacity, std::string const& file)
{
    Book = std::make_unique<TESTBOOK>(Host);
    Book->InitPhonebook(file.c_str(), capacity);
    Host.Take();
    Host.Messages.clear();
}

std::string HostdirTest::Script()
{
    return testutil::SourceDir() + "/program/hostdir/hostdirfile.py";
}

int HostdirTest::Python(std::vector<std::string> const& args)
{
    std::vector<std::string> argv{"python3", Script()};
    argv.insert(argv.end(), args.begin(), args.end());
    return testutil::RunProgram(argv);
}

int HostdirTest::PythonBatch(std::vector<std::vector<std::string>> const& commands)
{
    std::string input;
    for (auto const& c : commands) {
        for (size_t i = 0; i < c.size(); ++i)
            input += (i ? " " : "") + c[i];
        input += "\n";
    }
    return testutil::RunProgram({"python3", Script(), "batch"}, nullptr, input);
}

_PHONEBOOK_300 HostdirTest::Entry(wchar_t const* name, int handle)
{
    _PHONEBOOK_300 e;
    PHONEBOOK::PrepareEntry(&e);
    wcsncpy(e.name, name, 64);
    e.handle = handle;
    return e;
}

int HostdirTest::Store(wchar_t const* name, int handle)
{
    _PHONEBOOK_300 e = Entry(name, handle);
    return Book->Table().StoreAsNew(&e);
}

} // namespace hostdirtest
