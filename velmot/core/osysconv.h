// Internal helpers of the system services: texts handed over by the
// platform layer (UTF-8 or platform strings) turned into the library's byte
// strings of code page 1252, and back.
//
// Characters outside ISO Latin-1 become "?" instead of emptying the whole
// text, so that one foreign character in a localized date or a stored
// setting does not lose the rest of it.
#pragma once

#include "velmot/core/strings.h"
#include "platform/services/text.h"

#include <string>
#include <string_view>

namespace osysconv {

inline STRING StringFromText(plat::Text const& text)
{
    std::string latin1;
    if (!text.ToLatin1(latin1, '?'))
        return STRING("");
    STRING rc;
    rc.Make(static_cast<int32_t>(latin1.size()), latin1.data());
    return rc;
}

// Bytes that are not valid UTF-8 are taken as they are.
inline STRING StringFromUtf8(std::string_view utf8)
{
    plat::Text text = plat::Text::FromUtf8(utf8);
    if (text.IsNull()) {
        STRING rc;
        rc.Make(static_cast<int32_t>(utf8.size()), utf8.data());
        return rc;
    }
    return StringFromText(text);
}

inline plat::Text TextFromString(char const* latin1, size_t len)
{
    return plat::Text::FromLatin1(std::string_view(latin1 ? latin1 : "", latin1 ? len : 0));
}

} // namespace osysconv
