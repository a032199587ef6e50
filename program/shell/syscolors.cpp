#include "program/shell/syscolors.h"

#include "program/screen/vio.h"
#include "program/settings/workfolder.h"
#include "program/shell/app.h"
#include "program/shell/helper.h"
#include "program/shell/miscclasses.h"

#include "platform/events/modal.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windraw.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

SYSCOLORTABLE gSysColors{};
uint32_t gSysColorValues[TERM_MAX_SYSCOLORS] = {};

namespace {

constexpr uint32_t Rgb(int r, int g, int b)
{
    return static_cast<uint32_t>(r) | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b) << 16;
}

struct BUILTIN {
    uint32_t Colour;
    char const* Name;
};

BUILTIN const kBuiltin[TERM_MAX_SYSCOLORS] = {
    {Rgb(0, 0, 0), ""},          {Rgb(144, 16, 24), ""},    {Rgb(16, 144, 24), ""},     {Rgb(144, 144, 16), ""},
    {Rgb(16, 32, 150), ""},      {Rgb(144, 16, 128), ""},   {Rgb(16, 144, 128), ""},    {Rgb(192, 192, 192), ""},
    {Rgb(96, 96, 96), ""},       {Rgb(255, 48, 48), ""},    {Rgb(48, 255, 48), ""},     {Rgb(255, 240, 16), ""},
    {Rgb(32, 64, 255), ""},      {Rgb(255, 48, 255), ""},   {Rgb(48, 255, 255), ""},    {Rgb(255, 255, 255), ""},
    {Rgb(22, 42, 65), "Midnight blue"},  {Rgb(53, 87, 187), "Medium blue"},
    {Rgb(128, 175, 240), "Bright blue"}, {Rgb(195, 221, 254), "White blue"},
    {Rgb(59, 35, 34), "Mocca"},          {Rgb(134, 67, 63), "Red Leather"},
    {Rgb(205, 187, 144), "Wet Sand"},    {Rgb(222, 218, 196), "Cafe Latte"},
    {Rgb(64, 0, 128), "Night Purple"},   {Rgb(128, 64, 255), "Medium Purple"},
    {Rgb(192, 128, 255), "Light Purple"}, {Rgb(236, 230, 255), "White Purple"},
    {Rgb(32, 125, 71), "Dark Olive"},    {Rgb(189, 224, 142), "Light Olive"},
    {Rgb(255, 128, 0), "Dark Orange"},   {Rgb(255, 192, 0), "Medium Orange"},
};

void CopyName(char (&to)[128], char const* from)
{
    snprintf(to, sizeof to, "%s", from ? from : "");
}

// One record "index=r,g,b[,name]"; false for any other line.
bool ParseRecord(char const* line, int* index, int rgb[3], std::string* name, bool* hasName)
{
    char* end = nullptr;
    errno = 0;
    long i = strtol(line, &end, 10);
    if (end == line || *end != '=' || errno == ERANGE)
        return false;
    char const* p = end + 1;
    for (int k = 0; k < 3; ++k) {
        errno = 0;
        long v = strtol(p, &end, 10);
        if (end == p || errno == ERANGE)
            return false;
        // A colour value out of range is clamped, never taken as it stands.
        rgb[k] = static_cast<int>(std::clamp(v, 0L, 255L));
        p = end;
        if (k < 2) {
            if (*p != ',')
                return false;
            ++p;
        }
    }
    *index = i < INT_MIN || i > INT_MAX ? -1 : static_cast<int>(i);
    *hasName = *p == ',' && p[1] != '\0';
    if (*hasName)
        *name = std::string(p + 1).substr(0, 127);
    return true;
}

} // namespace

namespace syscolors {

STRING ResourceName(int i)
{
    STRING list = OSYS::GetStringFromResource("IDS_COLORS1");
    STRING second = OSYS::GetStringFromResource("IDS_COLORS2");
    if (list.NotEmpty() && list[list.Length() - 1] != '|')
        list.Append("|");
    list.Append(second.Buf());
    std::string const all = list.Buf();
    size_t start = 0;
    for (int k = 0; k <= i; ++k) {
        size_t bar = all.find('|', start);
        if (k == i)
            return STRING(all.substr(start, bar == std::string::npos ? std::string::npos : bar - start).c_str());
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return STRING();
}

void Reset(SYSCOLORTABLE& table)
{
    for (int i = 0; i < TERM_MAX_SYSCOLORS; ++i) {
        TERM_SYSCOLORS& e = table[i];
        e.Index = i;
        e.Colour = e.DefaultColour = kBuiltin[i].Colour;
        CopyName(e.DefaultName, kBuiltin[i].Name);
        CopyName(e.Name, i < 16 ? ResourceName(i).Buf() : kBuiltin[i].Name);
    }
}

bool Load(SYSCOLORTABLE& table, char const* folder)
{
    Reset(table);
    FILENAME file(folder ? folder : "", FILENAME_NEW);
    if (!file.Exists())
        file = FILENAME(folder ? folder : "", FILENAME_OLD);
    FILE* f = HELPER::fopen(file.Buf(), "r", FSOPEN_SHARE_SHARED);
    if (!f)
        return false;
    char line[1025];
    while (!feof(f) && !ferror(f)) {
        if (HELPER::ReadLine(line, sizeof line, f) == 0)
            continue;
        int index = -1;
        int rgb[3] = {};
        std::string name;
        bool hasName = false;
        if (!ParseRecord(line, &index, rgb, &name, &hasName))
            continue;
        if (index < 0 || index >= TERM_MAX_SYSCOLORS)
            continue;
        table[index].Colour = Rgb(rgb[0], rgb[1], rgb[2]);
        // A record without a name keeps the entry's own name.
        if (hasName)
            CopyName(table[index].Name, name.c_str());
    }
    fclose(f);
    return true;
}

bool Save(SYSCOLORTABLE const& table, char const* folder)
{
    FILENAME file(folder ? folder : "", FILENAME_NEW);
    FILE* f = HELPER::fopen(file.Buf(), "w", FSOPEN_SHARE_EXCLUSIVE);
    if (!f)
        return false;
    for (int i = 0; i < TERM_MAX_SYSCOLORS; ++i) {
        TERM_SYSCOLORS const& e = table[i];
        fprintf(f, "// %s\n", ResourceName(i).Buf());
        fprintf(f, "%d=%d,%d,%d,%s\n\n", i, static_cast<int>(e.Colour & 0xFF), static_cast<int>((e.Colour >> 8) & 0xFF),
                static_cast<int>((e.Colour >> 16) & 0xFF), e.Name);
    }
    bool ok = !ferror(f);
    ok = fclose(f) == 0 && ok;
    return ok;
}

void Publish(SYSCOLORTABLE const& table)
{
    for (int i = 0; i < TERM_MAX_SYSCOLORS; ++i)
        gSysColorValues[i] = table[i].Colour & 0xFFFFFF;
    VIO::SetSysColorTable(gSysColorValues);
}

} // namespace syscolors

// ---------------------------------------------------------------------------
// The main window's table

namespace {

STRING OptionsFolder(APP& app)
{
    return FILENAME(WORKDIR::GetCurrent().Buf(), app.Settings().data.OptsPath).Buf();
}

} // namespace

bool APP::LoadSysColors()
{
    bool read = syscolors::Load(gSysColors, OptionsFolder(*this).Buf());
    syscolors::Publish(gSysColors);
    return read;
}

bool APP::SaveSysColors()
{
    return syscolors::Save(gSysColors, OptionsFolder(*this).Buf());
}

int APP::EditSysColors(WINDOW& owner)
{
    TARVOAPP::CheckCallerThread("APP::EditSysColors");
    LoadSysColors();
    SYSCOLORTABLE copy;
    std::copy(std::begin(gSysColors), std::end(gSysColors), std::begin(copy));
    int rc = 0;
    {
        ++ChildDialogs;
        EDITSYSCOLORDIALOG dialog(owner, "DLG_WIN_SYSCOLOR", nullptr, copy);
        rc = dialog.Process();
        --ChildDialogs;
    }
    // Anything but Cancel (0) and the close box is OK.
    if (rc != 0) {
        std::copy(std::begin(copy), std::end(copy), std::begin(gSysColors));
        SaveSysColors();
        syscolors::Publish(gSysColors);
        CURRENTSESSIONPTR session(*this);
        if (session)
            session->InvalidateWindow();
    }
    return rc;
}

// ---------------------------------------------------------------------------
// The editor

namespace {

constexpr CONTROLID kArea1{plat::FourCC("RECT"), 1};
constexpr CONTROLID kArea2{plat::FourCC("RECT"), 2};
constexpr CONTROLID kList{plat::FourCC("DROP"), 1};
constexpr CONTROLID kChange{plat::FourCC("PUSH"), 2};
constexpr int kRenameCommand = 8880;

} // namespace

SYSCOLORBUTTON::SYSCOLORBUTTON(EDITSYSCOLORDIALOG& dialog, CONTROLID id, int x, int y, int width, int height)
    : CHILDWINDOW(dialog.GetClientParent(), id, x, y, width, height, 0, "QorSysColorButton"), Dialog(dialog)
{
}

void SYSCOLORBUTTON::SetColour(uint32_t colour)
{
    Colour_ = colour & 0xFFFFFF;
    Invalidate(nullptr);
}

int SYSCOLORBUTTON::OnPaint()
{
    PAINTSTRUCT ps;
    if (!StartPaint(&ps))
        return 0;
    RECT const r = CONTROL::GetClientRect();
    WINDC dc(ps.hdc, r, false);
    int const k = Hovering ? 25 : 0;
    COLORREF const fill = OSYS::CalcColorBlend(Colour_, 0xFFFFFF, k);
    COLORREF const frame = OSYS::CalcColorBlend(Colour_, 0x000000, k + 25);
    dc.FillRect(&r, OSYS::GetSysColor(15));
    dc.DrawRoundRect(r, 4, WINDC_NOCOLOR, fill);
    RECT top = r;
    top.left += 1;
    top.right -= 1;
    top.top += 1;
    top.bottom = r.top + (r.bottom - r.top) / 3;
    dc.FillRectGradient(&top, OSYS::CalcColorBlend(fill, 0xFFFFFF, k + 40), OSYS::CalcColorBlend(fill, 0xFFFFFF, k / 2 + 20),
                        true);
    dc.DrawRoundRect(r, 4, frame, WINDC_NOCOLOR);
    EndPaint(&ps);
    return 1;
}

bool SYSCOLORBUTTON::OnMouseEvent(int message, int x, int y, int)
{
    RECT const r = CONTROL::GetClientRect();
    unsigned long const id = static_cast<unsigned long>(GetId().id);
    switch (message) {
    case WM_LBUTTONDOWN:
        Dialog.OnPushbutton(GetId());
        return true;
    case WM_RBUTTONDOWN:
        Dialog.OnRightClick(id);
        return true;
    case WM_MOUSEMOVE: {
        bool const inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
        if (inside != Hovering) {
            Hovering = inside;
            SetMouseCapture(inside);
            Invalidate(nullptr);
        }
        return true;
    }
    default:
        return false;
    }
}

EDITSYSCOLORDIALOG::EDITSYSCOLORDIALOG(WINDOW const& owner, char const* resource, void*, SYSCOLORTABLE& table)
    : DIALOG(resource, owner.GetWindow()), List(GetClientParent(), kList), Colors(table)
{
    Tips = std::make_unique<TOOLTIPS>(GetClientParent());
    List.InitPopupBox(1);
    for (int i = 0; i < TERM_MAX_SYSCOLORS; ++i)
        List.AddItem(Colors[i].Name);
    List.SelectItem(0, 1);
    CONTROL area1(GetClientParent(), kArea1);
    RECT const a1 = area1.GetRect();
    Side = (a1.bottom - a1.top - 8) / 2;
    if (Side % 2 == 0)
        ++Side;
    Side = std::max(Side, 3);
    Place(kArea1, 0);
    Place(kArea2, 16);
}

EDITSYSCOLORDIALOG::~EDITSYSCOLORDIALOG() = default;

void EDITSYSCOLORDIALOG::Place(CONTROLID areaId, int first)
{
    CONTROL area(GetClientParent(), areaId);
    RECT const a = area.GetRect();
    area.Show(false);
    for (int i = first; i < first + 16; ++i) {
        int const col = i % 8;
        int const row = (i % 16) / 8;
        CONTROLID const id{BUTTONBASE.signature, BUTTONBASE.id + i};
        auto button = std::make_unique<SYSCOLORBUTTON>(*this, id, a.left + col * (Side + 8), a.top + row * (Side + 8),
                                                       Side, Side);
        button->SetColour(Colors[i].Colour);
        Tips->SetTooltip(*button, Colors[i].Name);
        button->Show(true);
        Buttons[static_cast<size_t>(i)] = std::move(button);
    }
}

void EDITSYSCOLORDIALOG::Pick(int index)
{
    if (!VCHECK(index >= 0 && index < TERM_MAX_SYSCOLORS, "idx>=0 && idx<TERM_MAX_SYSCOLORS", nullptr))
        return;
    uint32_t colour = Colors[index].Colour;
    if (!plat::RunColorPicker(Colors[index].Name, &colour, GetWindow()))
        return;
    Colors[index].Colour = colour & 0xFFFFFF;
    if (SYSCOLORBUTTON* b = Swatch(index))
        b->SetColour(colour);
}

bool EDITSYSCOLORDIALOG::OnPushbutton(CONTROLID id)
{
    if (id.signature == BUTTONBASE.signature) {
        unsigned long const idlong = static_cast<unsigned long>(id.id);
        if (!VCHECK(idlong >= static_cast<unsigned long>(BUTTONBASE.id) &&
                        idlong < static_cast<unsigned long>(BUTTONBASE.id + TERM_MAX_SYSCOLORS),
                    "idlong>=buttonbaseid && idlong<(ULONG)buttonbaseid + TERM_MAX_SYSCOLORS", nullptr))
            return true;
        Pick(static_cast<int>(idlong) - BUTTONBASE.id);
        return true;
    }
    if (id == kChange) {
        Pick(List.GetSelectedItem(0));
        return true;
    }
    return DIALOG::OnPushbutton(id);
}

bool EDITSYSCOLORDIALOG::OnRightClick(unsigned long id)
{
    int const index = static_cast<int>(id) - BUTTONBASE.id;
    if (!VCHECK(index >= 0 && index < TERM_MAX_SYSCOLORS, "idx>=0 && idx<TERM_MAX_SYSCOLORS", nullptr))
        return false;
    MENU menu("IDM_COLORMENU");
    int const choice = menu.GetMenuRef() ? menu.Popup(GetWindow(), nullptr, 1) : 0;
    if (choice != kRenameCommand)
        return true;
    STRING prompt = HELPER::StripTilde(menu.GetMenuItemText(kRenameCommand, false).Buf());
    DIALOG ask("DLG_WIN_ASKNORM", GetWindow());
    WINDOW& w = ask;
    w.SetControlText(CONTROLID{plat::FourCC("TEXT"), 1}, prompt.Buf());
    w.ShowControl(CONTROLID{plat::FourCC("CHEC"), 0}, false);
    w.ShowControl(CONTROLID{plat::FourCC("EDIT"), 2}, false);
    CONTROL field(w.GetClientParent(), CONTROLID{plat::FourCC("EDIT"), 1});
    field.SetControlProperty(CPROP_TEXTLENGTH, 127);
    field.SetControlText(Colors[index].Name);
    field.SetFocus();
    if (ask.Process() == 0)
        return true;
    STRING name = field.GetText();
    snprintf(Colors[index].Name, sizeof Colors[index].Name, "%s", name.Buf());
    List.SetItemText(index, Colors[index].Name);
    if (SYSCOLORBUTTON* b = Swatch(index))
        Tips->SetTooltip(*b, Colors[index].Name);
    return true;
}
