// The host directory with 10,000 entries (a table of 10,001 slots, made
// directly: the administrator file caps a directory at 4,095 entries, which
// is measured too), each next to a reference in the same run:
// - loading the file, next to a bare line split of the same file;
// - saving it (sorted, formatted, written to a new file, flushed and
//   renamed), next to one write and flush of the same bytes;
// - sorting the table, next to std::sort of the names;
// - the window's search (name, number and memo of every entry of a
//   section, without regard to case), per typed key;
// - importing 4,000 hosts of a CSV list through the converter and the
//   import's own reading and storing (its dialog answered at once).
// Everything runs in a private temporary folder.
#include "bench/support/ratio.h"

#include "outside/zavarera/converter.h"
#include "program/hostdir/phonebook.h"
#include "program/hostdir/phoneimport.h"
#include "program/hostdir/phonemisc.h"
#include "program/session/session.h"
#include "program/session/sessionrunner.h"

#include "platform/events/modal.h"
#include "velmot/core/workdir.h"
#include "velmot/gui/winbuttons.h"
#include "velmot/gui/windialog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string gFolder;

// Errors are printed: a benchmark that meets one measures the wrong thing.
class HOST : public STANDALONEPHONEBOOKHOST {
public:
    void ErrorMsg(char const* text) override { fprintf(stderr, "error: %s\n", text); }
    int WarningMsg(char const* text) override
    {
        fprintf(stderr, "warning: %s\n", text);
        return 1;
    }
    void FileError(char const* name) override { fprintf(stderr, "file error: %s\n", name); }
};

HOST gHost;

// A table of `count` entries as users keep them: a name, a host, a device,
// a user, a password, a login list, a memo.
std::unique_ptr<PHONEBOOK> MakeBook(int count, std::string const& file)
{
    auto book = std::make_unique<PHONEBOOK>(gHost);
    book->InitPhonebook(file.c_str(), count + 1);
    std::mt19937 rnd(7);
    for (int i = 0; i < count; ++i) {
        _PHONEBOOK_300 e;
        PHONEBOOK::PrepareEntry(&e);
        std::wstring const name = L"Host " + std::to_wstring(rnd() % 100000) + L" " + std::to_wstring(i);
        wcsncpy(e.name, name.c_str(), 64);
        snprintf(e.number, sizeof e.number, "host%d.example.org", i);
        e.deviceid = i % 2 ? 3 : 9;
        e.emu = 18;
        snprintf(e.username, sizeof e.username, "user%d", i % 50);
        snprintf(e.password, sizeof e.password, "pw%06d", i);
        snprintf(e.waitsend, sizeof e.waitsend, "Wait=login:\r\nSend=^%%^M\r\nWait=Password:\r\nSend=^&^M");
        snprintf(e.optfile, sizeof e.optfile, "Standard.qor");
        snprintf(e.keyboard, sizeof e.keyboard, "Standard.qky");
        snprintf(e.translate, sizeof e.translate, "Standard.qtr");
        std::wstring const memo = L"Rack " + std::to_wstring(i % 40) + L", ask the night shift before a reboot";
        wcsncpy(e.memo, memo.c_str(), 127);
        e.qaccess = i % 500 == 0;
        book->Table().StoreAsNew(&e);
    }
    return book;
}

std::string FileOf(int count)
{
    return gFolder + "/hosts" + std::to_string(count) + ".qorini";
}

// The file of each size, written once.
void Prepare(int count)
{
    std::string const file = FileOf(count);
    if (access(file.c_str(), F_OK) == 0)
        return;
    auto book = MakeBook(count, gFolder + "/unused.qorini");
    if (book->Save(file.c_str(), 1, nullptr, 1, 1) != 0)
        abort();
}

void BM_Load(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    Prepare(count);
    PHONEBOOK book(gHost);
    book.InitPhonebook(FileOf(count).c_str(), count + 1);
    for (auto _ : state) {
        state.PauseTiming();
        // A load of the file it holds reads nothing: forget it.
        PHONESTRUCTURE* s = book.Table().LockStructure();
        s->path[0] = 0;
        book.Table().UnLockStructure(s);
        state.ResumeTiming();
        bool const ok = book.Load(FileOf(count).c_str(), 0, nullptr);
        benchmark::DoNotOptimize(ok);
    }
    state.counters["entries"] = count;
}
BENCHMARK(BM_Load)->Arg(10000)->Arg(4095)->Unit(benchmark::kMillisecond);

void BM_LineSplit(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    Prepare(count);
    for (auto _ : state) {
        FILE* f = fopen(FileOf(count).c_str(), "r");
        char* line = nullptr;
        size_t size = 0;
        size_t lines = 0;
        while (getline(&line, &size, f) >= 0)
            ++lines;
        free(line);
        fclose(f);
        benchmark::DoNotOptimize(lines);
    }
}
BENCHMARK(BM_LineSplit)->Arg(10000)->Arg(4095)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    auto book = MakeBook(count, gFolder + "/save.qorini");
    for (auto _ : state) {
        int const rc = book->Save();
        benchmark::DoNotOptimize(rc);
    }
}
BENCHMARK(BM_Save)->Arg(10000)->Arg(4095)->Unit(benchmark::kMillisecond);

void BM_WriteFsync(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    auto book = MakeBook(count, gFolder + "/plain.qorini");
    std::string content;
    book->FormatFile("plain", content);
    std::string const path = gFolder + "/plain.bytes";
    for (auto _ : state) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
        ok = fsync(fd) == 0 && ok;
        close(fd);
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_WriteFsync)->Arg(10000)->Arg(4095)->Unit(benchmark::kMillisecond);

void BM_Sort(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    auto book = MakeBook(count, gFolder + "/sort.qorini");
    std::mt19937 rnd(11);
    for (auto _ : state) {
        state.PauseTiming();
        int capacity = 0;
        _PHONEBOOK_300** slots = book->Table().LockTable(&capacity);
        std::shuffle(slots, slots + capacity - 1, rnd);
        book->Table().UnlockTable(slots);
        state.ResumeTiming();
        book->Sort();
    }
}
BENCHMARK(BM_Sort)->Arg(10000)->Arg(4095)->Unit(benchmark::kMillisecond);

void BM_StdSortNames(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    auto book = MakeBook(count, gFolder + "/names.qorini");
    std::vector<std::wstring> names;
    int capacity = 0;
    _PHONEBOOK_300** slots = book->Table().LockTable(&capacity);
    for (int i = 0; i < capacity; ++i)
        if (slots[i])
            names.emplace_back(slots[i]->name);
    book->Table().UnlockTable(slots);
    std::mt19937 rnd(11);
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::wstring> work = names;
        std::shuffle(work.begin(), work.end(), rnd);
        state.ResumeTiming();
        std::sort(work.begin(), work.end());
        benchmark::DoNotOptimize(work.data());
    }
}
BENCHMARK(BM_StdSortNames)->Arg(10000)->Arg(4095)->Unit(benchmark::kMillisecond);

// One typed key of the window's search: the text typed so far against the
// name, number and memo of every entry (all in one section).
void BM_SearchPerKey(benchmark::State& state)
{
    int const count = static_cast<int>(state.range(0));
    auto book = MakeBook(count, gFolder + "/search.qorini");
    std::wstring const typed = L"host 4711";
    PHONESEARCH const all{true, true, true};
    std::vector<int> found;
    size_t key = 0;
    for (auto _ : state) {
        std::wstring const text = typed.substr(0, 1 + key++ % typed.size());
        int capacity = 0;
        _PHONEBOOK_300** slots = book->Table().LockTable(&capacity);
        PhonebookSearch(slots, capacity, 0, 0, text.c_str(), all, found);
        book->Table().UnlockTable(slots);
        benchmark::DoNotOptimize(found.data());
    }
}
BENCHMARK(BM_SearchPerKey)->Arg(10000)->Arg(4095)->Unit(benchmark::kMillisecond);

// A CSV list of 4,000 hosts converted and imported into an empty directory
// of 4,096 slots, the dialog of the target answered at once.
void BM_Import4000(benchmark::State& state)
{
    std::string const csv = gFolder + "/import.csv";
    std::string text = "name,host,port,device,user\n";
    for (int i = 0; i < 4000; ++i)
        text += "Imported host " + std::to_string(i) + ",h" + std::to_string(i) + ".example.org,22,ssh,admin\n";
    FILE* f = fopen(csv.c_str(), "w");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    std::string const converted = gFolder + "/import.entries";
    uint64_t const responder = plat::AddModalResponder(
        plat::kModalWindow,
        [](plat::ModalRequest const& r, plat::ModalAnswer&) {
            PUSHBUTTON(WINDOW(r.window).GetClientParent(), CONTROLID{plat::FourCC("OKAY"), 0})
                .SimulateHit(plat::kControlPartButton);
            return true;
        },
        -1);
    WINDOW const none(static_cast<plat::WindowRef>(nullptr));
    size_t added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        PHONEBOOK book(gHost);
        book.InitPhonebook((gFolder + "/import.qorini").c_str(), 4096);
        PHONEIMPORT import(book, nullptr);
        state.ResumeTiming();
        if (zavarera::Convert(csv.c_str(), 0, converted.c_str()) != zavarera::kConverted ||
            import.ImportAfterConvert(converted.c_str(), none) != 1)
            abort();
        state.PauseTiming();
        int capacity = 0;
        _PHONEBOOK_300** slots = book.Table().LockTable(&capacity);
        added = static_cast<size_t>(std::count_if(slots, slots + capacity, [](auto* e) { return e != nullptr; }));
        book.Table().UnlockTable(slots);
        state.ResumeTiming();
    }
    plat::RemoveModalResponder(responder);
    state.counters["entries"] = static_cast<double>(added);
}
BENCHMARK(BM_Import4000)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    char templ[] = "/tmp/bench_hostdir.XXXXXX";
    if (!mkdtemp(templ))
        return 1;
    gFolder = templ;
    WORKDIR::SetCurrent(gFolder.c_str());
    if (!HEADLESSSESSION::StartPlatform())
        return 1;

    benchsupport::RatioReporter reporter;
    for (char const* n : {"10000", "4095"}) {
        std::string const arg = std::string("/") + n;
        reporter.AddPair("BM_Load" + arg, "BM_LineSplit" + arg);
        reporter.AddPair("BM_Save" + arg, "BM_WriteFsync" + arg);
        reporter.AddPair("BM_Sort" + arg, "BM_StdSortNames" + arg);
    }
    int const rc = benchsupport::RunWithRatios(argc, argv, reporter);
    std::error_code ignored;
    std::filesystem::remove_all(gFolder, ignored);
    return rc;
}
