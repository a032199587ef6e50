#include "velmot/gui/statusbar.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winicons.h"

#include "platform/draw/icons.h"
#include "platform/draw/theme.h"

#include <algorithm>

namespace {

constexpr plat::EventType kDraw{plat::kEventClassControl, plat::kEventControlDraw};

} // namespace

STATUSBAR::STATUSBAR(CONTROLPARENT parent, CONTROLID)
{
    TARVOAPP::CheckCallerThread("STATUSBAR::STATUSBAR");
    Howmany = 1;
    Parts[0].Width = -1;
    plat::WindowRef const window = plat::GetViewWindow(parent.view);
    plat::ViewRef const client = window ? plat::WindowContentView(window) : nullptr;
    if (!client)
        return;
    plat::RectI const c = plat::GetViewFrame(client);
    plat::ViewRef const view =
        plat::CreateUserPane(client, plat::RectI{0, c.Height() - HEIGHT, c.Width(), c.Height()}, plat::ViewId{});
    if (!view)
        return;
    Init(view, true, nullptr);
    VERIFYSTATUS("err == 0 ", RegisterForEvents(1, &kDraw));
    Resize();
}

STATUSBAR::~STATUSBAR() = default;

bool STATUSBAR::SetParts(int count, int const* widths)
{
    TARVOAPP::CheckCallerThread("STATUSBAR::SetParts");
    VASSERT(count < MAXPARTS, "nparts<ARRAYMAX(this->Parts)", nullptr);
    VASSERT(count > 1, "nparts>1", nullptr);
    count = std::clamp(count, 0, MAXPARTS - 1);
    int const before = Howmany;
    for (int i = 0; i < count; ++i)
        Parts[i].Width = widths ? widths[i] : 0;
    Howmany = count;
    Resize();
    for (int i = count; i < before; ++i) {
        Parts[i].Text = STRING("");
        Parts[i].Width = 0;
    }
    return true;
}

void STATUSBAR::DeleteParts()
{
    TARVOAPP::CheckCallerThread("STATUSBAR::DeleteParts");
    Howmany = 0;
    Invalidate(nullptr);
}

bool STATUSBAR::SetIcon(uint32_t iconId, int part)
{
    TARVOAPP::CheckCallerThread("STATUSBAR::SetIcon");
    if (!VCHECK(part >= 0 && part < Howmany, "part<this->Howmany", nullptr))
        return false;
    Parts[part].Icon = iconId == 0xFFFFFFFFu ? 0 : iconId;
    Invalidate(nullptr);
    return true;
}

bool STATUSBAR::SetText(int part, char const* text)
{
    if (part < 0 || part >= Howmany)
        return false;
    Parts[part].Text = STRING(text ? text : "");
    Invalidate(nullptr);
    return true;
}

STRING STATUSBAR::GetText(int part) const
{
    return part >= 0 && part < Howmany ? Parts[part].Text : STRING("");
}

void STATUSBAR::Resize()
{
    TARVOAPP::CheckCallerThread("STATUSBAR::Resize");
    plat::WindowRef const window = plat::GetViewWindow(fControl);
    plat::ViewRef const client = window ? plat::WindowContentView(window) : nullptr;
    if (!client)
        return;
    plat::RectI const c = plat::GetViewFrame(client);
    int const w = c.Width();
    int const b = GetSize().cy;
    Move(0, c.Height() - b, w, b);
    if (Howmany < 2) {
        Parts[0].Right = w;
        Invalidate(nullptr);
        return;
    }
    int sum = 0;
    int stretching = -1;
    for (int i = 0; i < Howmany; ++i) {
        if (Parts[i].Width >= 0)
            sum += Parts[i].Width;
        else
            stretching = i;
    }
    VASSERT(stretching != -1, "dyna!=-1", nullptr);
    int right = 0;
    for (int i = 0; i < Howmany; ++i) {
        int width = Parts[i].Width;
        if (i == stretching)
            width = std::max(-width, w - sum);
        else if (width < 0)
            width = -width; // another part given negative: its least width
        right += width;
        Parts[i].Right = right;
    }
    Invalidate(nullptr);
}

void STATUSBAR::DrawProc(plat::DrawContext& context)
{
    SIZE const size = GetSize();
    plat::Rect const bounds{0, 0, static_cast<double>(size.cx), static_cast<double>(size.cy)};
    bool const enabled = IsEnabled();
    plat::DrawThemePlacard(context, bounds, enabled);
    uint32_t const colour = plat::ThemeTextColor(enabled ? plat::kThemeTextColorPlacardActive
                                                         : plat::kThemeTextColorPlacardInactive);
    static plat::Text const sample = plat::Text::FromUtf8("The quick brown fox");
    int const textHeight = plat::GetThemeTextDimensions(sample, plat::kThemeSmallSystemFont).height;
    int const top = (size.cy - textHeight) / 2;
    WINDC dc(&context, RECT{0, 0, size.cx, size.cy}, false);
    int left = 8;
    for (int i = 0; i < Howmany; ++i) {
        int textLeft = left;
        if (Parts[i].Icon) {
            ICON icon(Parts[i].Icon);
            plat::Image const image = plat::IconImage(icon.GetIconRef());
            if (!image.IsNull()) {
                // Centred in a 16 x 16 square at the box's top left corner.
                int const cx = std::min(16, image.Width());
                int const cy = std::min(16, image.Height());
                dc.DrawIcon(&image, left + (16 - cx) / 2, top + (16 - cy) / 2, cx, cy);
            }
            textLeft += 18;
        }
        plat::Rect const box{static_cast<double>(textLeft), static_cast<double>(top),
                             static_cast<double>(std::max(0, Parts[i].Right - textLeft)),
                             static_cast<double>(textHeight)};
        plat::DrawThemeTextBox(context, CFSTRING::TextOf(Parts[i].Text.Buf()), box, plat::kThemeSmallSystemFont, 0,
                               colour);
        left = Parts[i].Right;
    }
}

plat::Status STATUSBAR::HandleEvent(plat::HandlerCall*, TCarbonEvent& event)
{
    if (event.GetClass() != plat::kEventClassControl || event.GetKind() != plat::kEventControlDraw)
        return plat::kErrEventNotHandled;
    PAINTPASS pass(event.GetEventRef());
    if (pass.IsValid())
        DrawProc(*pass.Ps.hdc);
    return plat::kNoErr;
}
