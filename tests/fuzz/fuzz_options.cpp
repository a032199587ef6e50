// libFuzzer entry for the option-file reader over each real table of the
// settings (program settings, administrator file, session profile, AT
// commands): any bytes must go through LoadEntries without harm and
// without an assertion question, and what was read must rewrite to a fixed
// point (writing, reading that text and writing again gives the same text).
//
// The first byte picks the table and the data version (or takes the first
// line of the input as the header text); the rest is the file's body.
#include "program/settings/programsettings.h"
#include "program/settings/sessionprofile.h"
#include "velmot/core/logit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct TABLE {
    OPTLIST const* rows;
    size_t size;
};

TABLE const kTables[] = {
    {PROGRAMSETTINGS::Optlist, sizeof(PROGRAMSETTINGSDATA)},
    {PROGRAMSETTINGS::AdminOptlist, sizeof(ADMINOPTS)},
    {SESSIONPROFILE::Optlist, sizeof(SESSIONPROFILEDATA)},
    {SESSIONPROFILE::AtCmdOptlist, sizeof(ATCOMMANDDATA)},
};

char const* const kVersions[] = {"0.00", "5.00", "6.21", "6.44"};

bool NoQuestions(char const*, char const*)
{
    // A reader of outside data must never ask; reaching here is a finding.
    abort();
}

void Load(OPTSBASE& opts, char const* text, size_t size)
{
    if (size == 0)
        return;
    FILE* f = fmemopen(const_cast<char*>(text), size, "r");
    if (!f)
        abort();
    opts.LoadEntries(f, 0);
    fclose(f);
}

std::string Save(OPTSBASE& opts)
{
    char* buffer = nullptr;
    size_t length = 0;
    FILE* m = open_memstream(&buffer, &length);
    if (!m || opts.SaveEntries(m, 0) != 0)
        abort();
    fclose(m);
    std::string text(buffer, length);
    free(buffer);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static bool hooked = (SetAssertQuestionHook(&NoQuestions), true);
    (void)hooked;
    if (size < 1)
        return 0;
    TABLE const& table = kTables[data[0] % 4];
    unsigned versionPick = (data[0] / 4) % 5;
    auto const* body = reinterpret_cast<char const*>(data + 1);
    size_t length = size - 1;

    auto block = std::make_unique<uint64_t[]>(table.size / 8 + 1);
    OPTSBASE reader(block.get(), table.rows, -1);
    if (versionPick < 4) {
        reader.SetDataVersion(kVersions[versionPick]);
    } else {
        size_t end = 0;
        while (end < length && body[end] != '\n')
            ++end;
        reader.SetDataVersion(std::string(body, end).c_str());
    }
    Load(reader, body, length);
    reader.ClampReadValues();
    char line[300];
    reader.GetOpt(std::string(body, length < 40 ? length : 40).c_str(), line, sizeof line);

    std::string first = Save(reader);
    auto again = std::make_unique<uint64_t[]>(table.size / 8 + 1);
    OPTSBASE rereader(again.get(), table.rows, -1);
    rereader.SetDataVersion("6.44");
    Load(rereader, first.data(), first.size());
    if (Save(rereader) != first)
        abort();
    return 0;
}
