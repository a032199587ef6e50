// libFuzzer entry for the host-directory file reader: any bytes (mutated
// from the golden files of corpus/hostdir) go through the whole load
// without harm and without an assertion question; what loaded keeps the
// directory's limits (64 sections, 1,024 folders of known depth, unique
// positive handles); and saving it, loading that and writing it again as a
// save would gives the same text.
#include "program/hostdir/phonebook.h"
#include "program/session/session.h"

#include "velmot/core/logit.h"
#include "velmot/core/workdir.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <unistd.h>

namespace {

bool NoQuestions(char const*, char const*)
{
    // A reader of outside data must never ask; reaching here is a finding.
    abort();
}

class BOOK : public PHONEBOOK {
public:
    using PHONEBOOK::PHONEBOOK;
    uint32_t Now() override { return 1700000000; }
};

std::string Folder()
{
    static std::string folder = [] {
        char templ[] = "/tmp/fuzz-hostdir-XXXXXX";
        if (!mkdtemp(templ))
            abort();
        return std::string(templ);
    }();
    return folder;
}

void Write(std::string const& path, uint8_t const* data, size_t size)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f || fwrite(data, 1, size, f) != size || fclose(f) != 0)
        abort();
}

void CheckLimits(PHONEBOOK& book)
{
    int capacity = 0;
    _PHONEBOOK_300** slots = book.Table().LockTable(&capacity);
    if (!slots)
        abort();
    PHONESTRUCTURE const* s = book.Table().GetStructurePtr(slots);
    if (s->numsections < 0 || s->numsections > PHONE_MAXSECTIONS || s->numfolders < 0 ||
        s->numfolders > PHONE_MAXFOLDERS)
        abort();
    std::set<int> handles;
    for (int i = 0; i < s->numfolders; ++i)
        if (s->folders[i].depth < 0 || !handles.insert(s->folders[i].handle).second)
            abort();
    for (int i = 0; i < capacity; ++i) {
        if (!slots[i])
            continue;
        if (slots[i]->handle <= 0 || !handles.insert(slots[i]->handle).second)
            abort();
    }
    book.Table().UnlockTable(slots);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static bool once = [] {
        SetAssertQuestionHook(&NoQuestions);
        WORKDIR::SetCurrent(Folder().c_str());
        return true;
    }();
    (void)once;
    STANDALONEPHONEBOOKHOST host;
    std::string const file = Folder() + "/in.qorini";
    std::string const out = Folder() + "/out.qorini";
    unlink(file.c_str());
    Write(file, data, size);
    std::string first, second;
    {
        BOOK book(host);
        book.InitPhonebook(file.c_str(), 128);
        CheckLimits(book);
        if (book.Save(out.c_str(), 0, nullptr, 1, 1) != 0 || !book.FormatFile(out.c_str(), first))
            abort();
    }
    {
        BOOK book(host);
        book.InitPhonebook(out.c_str(), 128);
        CheckLimits(book);
        // Written as a save writes it: sorted (the password filler follows
        // the sorted order).
        book.Sort();
        if (!book.FormatFile(out.c_str(), second))
            abort();
    }
    if (first != second)
        abort();
    return 0;
}
