#include "velmot/gui/datadialogbooks.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/gui/winfont.h"
#include "velmot/gui/winlists.h"

#include <algorithm>

namespace {

constexpr FOURCHARCODE kPopupSignature = plat::FourCC("VLMT");
constexpr CONTROLID kHeaderId{plat::FourCC("STAT"), 19};
constexpr int kHeaderHeight = 22;

// The strip's two base colours: the hue of the colour kept, less
// saturated, the brightness spread.
COLORREF BaseColour(COLORREF colour)
{
    double hue = 0;
    double saturation = 0;
    double brightness = 0;
    OSYS::ColorRGBtoHSB(colour, &hue, &saturation, &brightness);
    double const b = std::clamp((brightness - 0.3) * 2, 0.0, 2.0);
    return OSYS::ColorHSBtoRGB(hue, 0.25, b, 0);
}

} // namespace

// ---------------------------------------------------------------------------
// DATADIALOGBOOK

DATADIALOGBOOK::DATADIALOGBOOK(char const* nib, WINDOW const& owner, CONTROLID tabs, void* data)
    : DATADIALOGMULTI(nib, owner, data), Tabs(std::make_unique<TABCONTROL>(GetControlParent(), tabs))
{
}

DATADIALOGBOOK::~DATADIALOGBOOK() = default;

DATADIALOGPAGE* DATADIALOGBOOK::AddPage(DATADIALOGPAGE* page, char const* label)
{
    int const index = PageCount;
    if (!DATADIALOGMULTI::AddPage(page, label))
        return nullptr;
    int const id = Tabs->InsertPage(label ? label : "", page->GetControlRef());
    Pages[index].Id = id;
    if (index == 0)
        Tabs->TurnToPage(id);
    VERIFYSTATUS("err == 0 ",
                 plat::SetViewId(page->GetControlRef(), plat::ViewId{plat::FourCC("PAGE"), index + 1}));
    return page;
}

DATADIALOGPAGE* DATADIALOGBOOK::AddPage(char const* nib, char const* label)
{
    return AddPage(new DATADIALOGPAGE(nib, GetControlParent(), &SharedRules, SharedRuleCount), label);
}

DATADIALOGPAGE* DATADIALOGBOOK::AddPage(CONTROLID pane, char const* label)
{
    return AddPage(new DATADIALOGPAGE(pane, GetControlParent(), &SharedRules, SharedRuleCount), label);
}

void DATADIALOGBOOK::TurnToPage(int index)
{
    if (index >= 0 && index < PageCount)
        Tabs->TurnToPage(Pages[index].Id);
}

int DATADIALOGBOOK::GetCurrentPageIdx()
{
    return Tabs->GetCurrentPage();
}

bool DATADIALOGBOOK::OnControlEvent(int event, CONTROL const& control, void* data)
{
    if (event == CONTROLEVENT_TABCHANGED && control.GetId() == Tabs->GetId()) {
        Tabs->PageChanged(Tabs->GetCurrentPage());
        return true;
    }
    if (event == CONTROLEVENT_SELECTED && control.GetId().signature == kPopupSignature)
        Tabs->TurnToPage(POPUPBOX(control.GetControlRef()).GetSelectedItem(0));
    return DATADIALOGMULTI::OnControlEvent(event, control, data);
}

// ---------------------------------------------------------------------------
// DATADIALOGTREEHEADER

DATADIALOGTREEHEADER::DATADIALOGTREEHEADER(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy)
    : CHILDWINDOW(parent, id, x, y, cx, cy, 0, "QorDataDialogTreeHeader"), Text("Hello World!")
{
}

DATADIALOGTREEHEADER::~DATADIALOGTREEHEADER() = default;

void DATADIALOGTREEHEADER::SetText(char const* text)
{
    Text = STRING(text ? text : "", UNICODE_CPDEFAULT);
    CONTROL::Invalidate(nullptr);
}

int DATADIALOGTREEHEADER::OnPaint()
{
    PAINTSTRUCT ps;
    if (!StartPaint(&ps))
        return 1;
    {
        WINDC dc(ps, *this);
        RECT const r = GetClientRect();
        int const h = r.bottom - r.top;
        COLORREF const a = BaseColour(0xA26742);
        COLORREF const b = BaseColour(0xBE7D5A);
        COLORREF const white = 0xFFFFFF;
        COLORREF const top1 = OSYS::CalcColorBlend(a, white, 23.0);
        COLORREF const top2 = OSYS::CalcColorBlend(a, white, 18.0);
        COLORREF const bottom1 = OSYS::CalcColorBlend(a, white, 16.0);
        COLORREF const bottom2 = OSYS::CalcColorBlend(b, white, 5.0);
        COLORREF const light = OSYS::CalcColorBlend(a, white, 45.0);

        int const split = h / 2 - 3;
        RECT const upper{r.left, r.top, r.right, split};
        RECT const lower{r.left, split, r.right, r.bottom};
        dc.FillRectGradient(&upper, top1, top2, false);
        dc.FillRectGradient(&lower, bottom1, bottom2, true);
        dc.MoveTo(r.left + 1, r.bottom - 1);
        dc.LineTo(r.left + 1, r.top + 1, light);
        dc.LineTo(r.right - 1, r.top + 1, light);
        dc.DrawRect(r, a, WINDC_NOCOLOR);

        COREFONT* const font = dc.LoadFont("9.Helv", UNICODE_CPDEFAULT);
        dc.SelectFont(font);
        dc.TextColor = white;
        dc.BkMode = WINDC_TRANSPARENT;
        dc.TextAlign = WINDC_TA_LEFT | WINDC_TA_TOP;
        if (Text.NotEmpty()) {
            SIZE const x = dc.GetTextSize("X");
            SIZE const t = dc.GetTextSize(Text.Buf());
            dc.StringOut(x.cx, (h - t.cy) / 2, Text.Buf());
        }
        dc.DeselectFont(font);
        dc.DestroyFont(font);
    }
    EndPaint(&ps);
    return 1;
}

// ---------------------------------------------------------------------------
// DATADIALOGTREE

DATADIALOGTREE::DATADIALOGTREE(char const* nib, WINDOW const& owner, CONTROLID tree, CONTROLID placeholder,
                               CONTROLID frame)
    : DATADIALOGMULTI(nib, owner, nullptr),
      Header(std::make_unique<DATADIALOGTREEHEADER>(GetControlParent(), kHeaderId, -10, -10, 10, 10)),
      Tree(std::make_unique<TREEVIEW>(GetControlParent(), tree, 0, placeholder)),
      Placeholder(GetControlParent(), placeholder), Frame(GetControlParent(), frame)
{
    Tree->Format(0, 0, nullptr, 0, 1);
    Tree->Show(true);
    Header->MoveInZorder(1, nullptr);
    MakeFrames();
}

DATADIALOGTREE::~DATADIALOGTREE() = default;

void DATADIALOGTREE::MakeFrames()
{
    if (!Frame.IsValid())
        return;
    RECT const r = Frame.GetRect();
    int const width = r.right - r.left;
    Header->Move(r.left, r.top, width, kHeaderHeight);
    Header->MoveInZorder(1, nullptr);
    Header->Show(true);
    // The frame's top line lies under the strip's last row.
    Frame.Move(r.left, r.top + kHeaderHeight - 1, width, r.bottom - (r.top + kHeaderHeight - 1));
    Content = RECT{r.left + 1, r.top + kHeaderHeight, r.right - 1, r.bottom - 1};
}

DATADIALOGPAGE* DATADIALOGTREE::AddPage(DATADIALOGPAGE* page, char const* label)
{
    if (!DATADIALOGMULTI::AddPage(page, label))
        return nullptr;
    Tree->InsertRecord(PageCount, -1, label ? label : "");
    if (PageCount == 1)
        TurnToPage(0);
    else
        page->Show(false);
    return page;
}

DATADIALOGPAGE* DATADIALOGTREE::AddPage(char const* nib, char const* label)
{
    return DATADIALOGMULTI::AddPage(nib, label);
}

void DATADIALOGTREE::TurnToPage(int index)
{
    if (index < 0 || index >= PageCount)
        return;
    Current = index;
    for (int i = 0; i < PageCount; ++i) {
        if (i != index)
            Pages[i].Page->Show(false);
    }
    DATADIALOGPAGE* const page = Pages[index].Page;
    page->Move(Content.left, Content.top, Content.right - Content.left, Content.bottom - Content.top);
    page->Show(true);
    Tree->SelectRecord(index + 1);
    Header->SetText(Pages[index].Label.Buf());
}

int DATADIALOGTREE::GetCurrentPageIdx()
{
    return Current;
}

bool DATADIALOGTREE::OnControlEvent(int event, CONTROL const& control, void* data)
{
    if (event == CONTROLNOTIFY_SELECTION && control.GetId() == Tree->GetId()) {
        int const record = Tree->GetSelectedRecord();
        if (record != -1) {
            if (record - 1 != Current)
                TurnToPage(record - 1);
            return true;
        }
    }
    return DATADIALOGMULTI::OnControlEvent(event, control, data);
}
