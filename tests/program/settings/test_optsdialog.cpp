// An option table bound to a data-bound dialog: each row that names a
// control gets the item of its kind, and the block's values go into the
// controls and back.
#include "program/settings/optsdialog.h"
#include "program/settings/optsrows.h"
#include "velmot/gui/datadialogs.h"
#include "tests/velmot/gui/toolkit_fixture.h"

#include <gmock/gmock.h>

#include <cstring>
#include <cwchar>

using namespace guifix;

namespace {

struct BLOCK {
    signed char Echo;
    int32_t Port;
    int32_t Mode;
    char Host[16];
    wchar_t Title[8];
    int32_t Unbound;
};

#define OPTS_BLOCK BLOCK
OPTLIST const kRows[] = {
    ROW_FLAG(Echo, CHEC(1)),
    ROW_INT(Port, 1, 65535, EDIT(2)),
    ROW_INT(Mode, 3, 0, RADI(20)),
    ROW_TEXT(Host, EDIT(3)),
    ROW_WIDE(Title, EDIT(4)),
    ROW_INT(Unbound, 0, 10, EDIT(9)), // no such field in the dialog
    ROW_END("OF_LIST"),
};

CONTROLID Id(FOURCHARCODE kind, int32_t n)
{
    return CONTROLID{kind, n};
}

class OptsDialogTest : public ToolkitTest {};

TEST_F(OptsDialogTest, TheRowsOfATableBindToTheirControls)
{
    BLOCK block{};
    block.Echo = 1;
    block.Port = 23;
    block.Mode = 2;
    std::strcpy(block.Host, "router");
    std::wcscpy(block.Title, L"\u00DCber");
    block.Unbound = 7;

    DATADIALOGBOX dialog("DLG_DD_OPTIONS", WINDOW(static_cast<plat::WindowRef>(nullptr)), nullptr);
    CONTROLPARENT const p = dialog.GetControlParent();
    DATAOPTSDIALOG binder(dialog);
    OPTSBASE opts(&block, kRows, -1);
    opts.AssocAll(&binder, p);
    EXPECT_EQ(dialog.GetItemCount(), 7); // check, spin, three radios, two texts

    dialog.ValuesToDialog();
    EXPECT_EQ(CONTROL(p, Id(OPTCTRL_CHEC, 1)).GetControlValue(), 1);
    EXPECT_STREQ(CONTROL(p, Id(OPTCTRL_EDIT, 2)).GetText().Buf(), "23");
    EXPECT_EQ(CONTROL(p, Id(OPTCTRL_RADI, 22)).GetControlValue(), 1);
    EXPECT_STREQ(CONTROL(p, Id(OPTCTRL_EDIT, 3)).GetText().Buf(), "router");
    EXPECT_EQ(WSTRING::WSTRCMP(CONTROL(p, Id(OPTCTRL_EDIT, 4)).GetTextWide().Buf(), L"\u00DCber"), 0);

    CONTROL(p, Id(OPTCTRL_CHEC, 1)).SetControlValue(0);
    ENTRYFIELD(p, Id(OPTCTRL_EDIT, 2)).SetText("99999");
    CONTROL(p, Id(OPTCTRL_RADI, 20)).SetControlValue(1);
    CONTROL(p, Id(OPTCTRL_EDIT, 3)).SetControlText("a-host-name-longer-than-the-field");
    CONTROL(p, Id(OPTCTRL_EDIT, 4)).SetControlTextWide(L"Neu");
    dialog.DialogToValues();
    EXPECT_EQ(block.Echo, 0);
    EXPECT_EQ(block.Port, 65535);
    EXPECT_EQ(block.Mode, 0);
    EXPECT_STREQ(block.Host, "a-host-name-lon");
    EXPECT_EQ(std::wcscmp(block.Title, L"Neu"), 0);
    EXPECT_EQ(block.Unbound, 7);
}

} // namespace
