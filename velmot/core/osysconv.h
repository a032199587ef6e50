// Internal helpers of the system services: texts handed over by the
// platform layer (UTF-8 or platform strings) turned into the library's byte
// strings of code page 1252, and back.
//
// Characters that 1252 cannot hold become "?" (STRING from a platform
// string) instead of emptying the whole text, so that one foreign character
// in a localized date or a stored setting does not lose the rest of it.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"
#include "platform/services/text.h"

#include <string>
#include <string_view>

namespace osysconv {

// A platform string as 1252 bytes; empty (with a buffer) for a null one.
inline STRING StringFromText(plat::Text const& text)
{
    if (text.IsNull())
        return STRING("");
    return STRING(text);
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

// 1252 bytes as a platform string (ISO Latin-1, with the characters 1252
// puts at 0x80 to 0x9F).
inline plat::Text TextFromString(char const* text)
{
    CFSTRING cf;
    cf = text ? text : "";
    return cf.Ref;
}

} // namespace osysconv
