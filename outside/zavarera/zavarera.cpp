// ZAVARERA.DLL: the converter of foreign host lists, with the two entries
// the host directory's import calls.
#include "outside/zavarera/converter.h"

#include "plugins/sdk/qorsubsystem.h"

#include <algorithm>
#include <cstring>

// The format list ("name;mask|..."), zero-terminated within size bytes.
QOR_PLUGIN_ENTRY int ph_ImportQueryTypes(char* buffer, int size)
{
    if (!buffer || size < 1)
        return 0;
    size_t const n = std::min(strlen(zavarera::kFormats), static_cast<size_t>(size) - 1);
    memcpy(buffer, zavarera::kFormats, n);
    buffer[n] = 0;
    return 1;
}

// Converts the source in the format (its index in the list) into the
// target file. 0 converted, -1 nothing to do, 2 the source cannot be used,
// other values: the source is not of the format. The profile, the session
// and the module handle are not needed.
QOR_PLUGIN_ENTRY int ph_ImportFiles(char const* source, int format, char const* target, void* profile, int zero,
                                    void* session, void* module)
{
    (void)profile;
    (void)zero;
    (void)session;
    (void)module;
    return zavarera::Convert(source, format, target);
}
