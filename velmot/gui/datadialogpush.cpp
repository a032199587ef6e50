// The stock push functions of DATADIALOG: the buttons beside a field that
// play, run, open, browse, pick a colour or a font, show help or a web page.
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/gui/datadialogs.h"
#include "velmot/gui/helpfile.h"
#include "velmot/gui/wintarvo.h"

#include "platform/draw/pickers.h"

#include <cctype>
#include <string>

namespace {

// The window that holds the dialog's controls.
plat::WindowRef WindowOf(CONTROLPARENT parent)
{
    return parent.view ? plat::GetViewWindow(parent.view) : nullptr;
}

STRING FieldText(CONTROLPARENT parent, CONTROLID linked)
{
    return ENTRYFIELD(parent, linked).GetText();
}

// Paths travel to and from the file dialogs as UTF-8; a field holds any
// character.
STRING FieldPath(ENTRYFIELD const& field)
{
    return STRING(field.GetTextWide(), UNICODE_CPUTF8);
}

STRING Utf8(STRING const& text)
{
    return text.CodePage == UNICODE_CPUTF8 ? text : STRING(WSTRING(text.Buf(), text.CodePage), UNICODE_CPUTF8);
}

void SetFieldPath(ENTRYFIELD const& field, char const* utf8)
{
    field.SetTextWide(WSTRING(utf8, UNICODE_CPUTF8).Buf());
}

// A font description text "<size><flags>.<family>" taken apart: the size,
// bold and italic go to the chooser, the other flag letters stay.
struct FONTTEXT {
    plat::FontChoice Choice;
    std::string OtherFlags;
};

FONTTEXT ReadFontText(char const* text)
{
    FONTTEXT f;
    std::string const all = text ? text : "";
    size_t const dot = all.find('.');
    std::string const prefix = dot == std::string::npos ? std::string() : all.substr(0, dot);
    f.Choice.family = dot == std::string::npos ? all : all.substr(dot + 1);
    size_t i = 0;
    int size = 0;
    while (i < prefix.size() && std::isdigit(static_cast<unsigned char>(prefix[i])) && size < 1000)
        size = size * 10 + (prefix[i++] - '0');
    if (size > 0)
        f.Choice.size = size;
    for (; i < prefix.size(); ++i) {
        char const c = prefix[i];
        if (c == 'b' || c == 'B')
            f.Choice.bold = true;
        else if (c == 'i' || c == 'I')
            f.Choice.italic = true;
        else
            f.OtherFlags.push_back(c);
    }
    return f;
}

STRING WriteFontText(FONTTEXT const& f)
{
    std::string text = std::to_string(f.Choice.size);
    if (f.Choice.bold)
        text += 'B';
    if (f.Choice.italic)
        text += 'I';
    text += f.OtherFlags + "." + f.Choice.family;
    return STRING(text.c_str(), UNICODE_CPDEFAULT);
}

} // namespace

void DATADIALOG::PushFnctSetColor(void*, CONTROLID, CONTROLPARENT parent, STRING* value)
{
    if (!value)
        return;
    auto const colour = static_cast<uint32_t>(std::strtoul(value->Buf(), nullptr, 10));
    plat::RGBColor16 shown;
    shown.red = static_cast<uint16_t>((colour & 0xFF) << 8);
    shown.green = static_cast<uint16_t>(((colour >> 8) & 0xFF) << 8);
    shown.blue = static_cast<uint16_t>(((colour >> 16) & 0xFF) << 8);
    plat::RGBColor16 chosen;
    if (!plat::PickColor(WindowOf(parent), "", shown, &chosen))
        return;
    uint32_t const picked =
        static_cast<uint32_t>(chosen.red >> 8) | (static_cast<uint32_t>(chosen.green >> 8) << 8) |
        (static_cast<uint32_t>(chosen.blue >> 8) << 16);
    *value = STRING(static_cast<unsigned int>(picked));
}

// The chooser opens on the setting and writes only what the user accepted:
// a font button pressed and left with OK keeps the setting.
void DATADIALOG::PushFnctSetFontnamesize(void*, CONTROLID, CONTROLPARENT parent, STRING* value)
{
    if (!value)
        return;
    FONTTEXT font = ReadFontText(value->Buf());
    if (!plat::PickFont(WindowOf(parent), "", font.Choice))
        return;
    *value = WriteFontText(font);
}

void DATADIALOG::PushFnctShowHelpTopic(void* context, CONTROLID, CONTROLPARENT, STRING*)
{
    HELPFILE::GetInstance()->Display(static_cast<char const*>(context));
}

void DATADIALOG::PushFnctShowUrl(void*, CONTROLID, CONTROLPARENT, STRING* value)
{
    if (value)
        OSYS::ShowUrl(value->Buf());
}

void DATADIALOG::PushFnctTrySound(void*, CONTROLID linked, CONTROLPARENT parent, STRING*)
{
    STRING const file = FieldText(parent, linked);
    if (file.NotEmpty())
        OSYS::PlaySoundFile(file.Buf(), false);
}

void DATADIALOG::PushFnctShellExec(void*, CONTROLID linked, CONTROLPARENT parent, STRING*)
{
    STRING const file = FieldText(parent, linked);
    if (file.NotEmpty())
        OSYS::ShellExecuteRun(WindowOf(parent), file.Buf(), nullptr, OSYS::GetCurrentDirectory().Buf());
}

void DATADIALOG::PushFnctOpenFolder(void*, CONTROLID linked, CONTROLPARENT parent, STRING*)
{
    STRING const folder = CONTROL(parent, linked).GetText();
    if (folder.NotEmpty())
        OSYS::ShellExecuteRun(WindowOf(parent), folder.Buf(), nullptr, folder.Buf());
}

void DATADIALOG::PushFnctBrowseForFolder(void*, CONTROLID linked, CONTROLPARENT parent, STRING* value)
{
    STRING const setup = value ? *value : STRING("");
    STRING const title = setup.Token(0, "|", STRING::TOKEN_EMPTYNOTUNSET);
    STRING const base = Utf8(setup.Token(1, "|", STRING::TOKEN_EMPTYNOTUNSET));
    ENTRYFIELD const field(parent, linked);
    STRING const current = FieldPath(field);
    STRING const start = base.IsEmpty() ? current : STRING(FILENAME(base.Buf(), current.Buf()).Buf(), UNICODE_CPUTF8);
    STRING chosen = WINTARVO::AskFolder(WindowOf(parent), title.Buf(), start.Buf());
    if (chosen.IsEmpty())
        return;
    // A folder inside the base is kept relative to it; another stays whole.
    if (base.NotEmpty())
        chosen = STRING(FILENAME(chosen.Buf()).RelPath(FILENAME(base.Buf()).Buf()).Buf(), UNICODE_CPUTF8);
    SetFieldPath(field, chosen.Buf());
}

void DATADIALOG::PushFnctEditDirectory(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value)
{
    PushFnctBrowseForFolder(context, linked, parent, value);
}

void DATADIALOG::PushFnctEditFilename(void*, CONTROLID linked, CONTROLPARENT parent, STRING* value)
{
    STRING const setup = value ? *value : STRING("");
    STRING const first = setup.Token(0, "\n", STRING::TOKEN_EMPTYNOTUNSET);
    STRING filter("");
    int32_t lf = 0;
    if (setup.Find('\n', &lf))
        filter = setup.Substr(lf + 1);
    ENTRYFIELD const field(parent, linked);
    STRING name = FieldPath(field);
    if (name.IsEmpty() && first.NumTokens("|") > 1)
        name = Utf8(first.Token(1, "|", STRING::TOKEN_EMPTYNOTUNSET));
    STRING const title = first.Token(0, "|", STRING::TOKEN_EMPTYNOTUNSET);
    char const* const chosen = WINTARVO::AskSaveAsFilename(WindowOf(parent), title.Buf(), name.Buf(), filter.Buf());
    if (chosen && *chosen)
        SetFieldPath(field, chosen);
}
