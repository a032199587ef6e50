// libFuzzer entry for the foreign host lists: the converter's format list
// as the import reads it, and the converter stand-in's readers of CSV
// lists and OpenSSH client configurations. Any bytes go through without
// harm; every host found has a host, and the entries written for them
// stay within their fields.
//
// The first byte picks the reader.
#include "outside/zavarera/converter.h"
#include "program/hostdir/phoneimport.h"

#include "velmot/core/logit.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool NoQuestions(char const*, char const*)
{
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static bool once = (SetAssertQuestionHook(&NoQuestions), true);
    (void)once;
    if (size == 0)
        return 0;
    std::string const text(reinterpret_cast<char const*>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0: {
        std::string terminated = text;
        std::vector<std::string> names, masks;
        PHONEIMPORT::ParseFormats(terminated.c_str(), names, masks);
        if (names.size() != masks.size())
            abort();
        for (std::string const& m : masks)
            (void)PHONEIMPORT::NeedsFile(m.c_str());
        break;
    }
    case 1:
    case 2: {
        std::vector<zavarera::HOST> hosts;
        if (data[0] % 3 == 1)
            zavarera::ParseCsv(text, hosts);
        else
            zavarera::ParseSshConfig(text, hosts);
        for (zavarera::HOST const& h : hosts)
            if (h.Number.empty())
                abort();
        std::string const entries = zavarera::Entries(hosts);
        if (entries.compare(0, 3, "QOR") != 0)
            abort();
        break;
    }
    }
    return 0;
}
