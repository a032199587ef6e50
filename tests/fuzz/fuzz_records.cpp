// libFuzzer entry for the readers of the record, list and line forms: any
// bytes must go through them without harm, what they read must rewrite to
// a fixed point (writing, reading and writing again gives the same text),
// and the line reader must hand over exactly the bytes of the input.
#include "velmot/core/hash.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/stringarray_internal.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

bool Same(STRING const& a, STRING const& b)
{
    return a.StrLen == b.StrLen && (a.StrLen == 0 || memcmp(a.Buffer, b.Buffer, static_cast<size_t>(a.StrLen)) == 0);
}

bool NoQuestions(char const*, char const*)
{
    // A reader of outside data must never ask; reaching here is a finding.
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static bool hooked = (SetAssertQuestionHook(&NoQuestions), true);
    (void)hooked;
    STRING text;
    text.Make(static_cast<int32_t>(size), reinterpret_cast<char const*>(data));

    HASH record(text);
    STRING once = record.AsString();
    Check(Same(once, HASH(once).AsString()));

    HASHLIST list;
    list.FromString(text);
    STRING listonce = list.AsString();
    HASHLIST again;
    again.FromString(listonce);
    Check(again.NumItems() == list.NumItems());
    Check(Same(listonce, again.AsString()));

    // The line reader joins what it hands over back into the input.
    FILE* f = size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : nullptr;
    if (f) {
        std::string joined;
        int lines = 0;
        int err = velmot_detail::ReadLines(f, [&](char const* p, size_t n) {
            joined.append(p, n);
            joined += '\n';
            ++lines;
            return true;
        });
        fclose(f);
        Check(err == 0);
        std::string input(reinterpret_cast<char const*>(data), size);
        if (!input.empty() && input.back() != '\n')
            input += '\n';
        Check(joined == input);
    }

    STRINGARRAY split(text, "\n,");
    size_t delimiters = 0;
    for (size_t i = 0; i < size; ++i)
        delimiters += data[i] == '\n' || data[i] == ',';
    Check(split.NumItems() == static_cast<int>(delimiters + 1));
    return 0;
}
