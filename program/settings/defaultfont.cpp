// The default font of the settings' defaults.
#include "program/settings/defaultfont.h"

#include "velmot/core/wstring.h"

#include <cwchar>
#include <vector>

DEFAULTFONTFUNCTION gSettingsDefaultFontFunction = nullptr;

void SettingsDefaultFont(wchar_t* field, size_t chars, int length, int points)
{
    if (!field || chars == 0 || length <= 0)
        return;
    std::vector<wchar_t> buffer(static_cast<size_t>(length), 0);
    WSTRING description(SETTINGS_FONTDESCRIPTION, 1252);
    wcsncpy(buffer.data(), description.Buf(), buffer.size() - 1);
    if (gSettingsDefaultFontFunction)
        gSettingsDefaultFontFunction(buffer.data(), length, points);
    buffer.back() = 0;
    wmemset(field, 0, chars);
    wcsncpy(field, buffer.data(), chars - 1);
}
