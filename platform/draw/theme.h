// The desktop's look for what programs draw themselves: theme fonts and
// text, placards (the raised panels of status bars), theme text colours.
//
// Theme fonts are the fonts the window system's controls use: the system
// font (the controls' font), a small one two pixels smaller, a small bold
// one, and the font of list and tree views. Sizes are pixels.
//
// Drawing runs in the context's user space for the placement of the box;
// text is drawn upright on the surface whatever the orientation of the
// user space (views, bitmaps and print pages alike). Main thread; the
// application object must exist (runtime.h).
#pragma once

#include "platform/draw/context.h"
#include "platform/services/text.h"

#include <cstdint>

namespace plat {

using ThemeFontId = int16_t;
constexpr ThemeFontId kThemeSystemFont = 0;
constexpr ThemeFontId kThemeSmallSystemFont = 1;
constexpr ThemeFontId kThemeSmallEmphasizedSystemFont = 2;
constexpr ThemeFontId kThemeViewsFont = 3;
// The font a control chooses as "the view's system font"; the views font.
constexpr ThemeFontId kThemeViewSystemFont = -4;

struct ThemeTextSize {
    int width = 0;  // the advance, rounded up to whole pixels
    int height = 0; // ascent and descent
    int baseline = 0; // from the top of the box to the baseline
};

// An unknown font id is taken as the system font.
ThemeTextSize GetThemeTextDimensions(const Text& text, ThemeFontId font);
// The family and pixel size of the theme font.
std::string ThemeFontFamily(ThemeFontId font);
int ThemeFontPixelSize(ThemeFontId font);

// Text colours of the theme (0xTTBBGGRR values): the text on an active
// placard (9) and on an inactive one (10); any other brush gives the
// window text colour.
constexpr int kThemeTextColorPlacardActive = 9;
constexpr int kThemeTextColorPlacardInactive = 10;
uint32_t ThemeTextColor(int brush);

// Text in a box on one line, cut with "..." at the end when it does not
// fit; justification: kJust* of databrowser.h (0 and -2 left, 1 centre,
// -1 right), vertically centred.
void DrawThemeTextBox(DrawContext& context, const Text& text, const Rect& box, ThemeFontId font,
                      int16_t justification, uint32_t colorValue);

// The raised panel of a status bar or placard over the rectangle.
void DrawThemePlacard(DrawContext& context, const Rect& r, bool active);

} // namespace plat
