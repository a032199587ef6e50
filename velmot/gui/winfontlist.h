// Font lists and controls' fonts.
//
// The fixed-pitch font lists of WINDOWFONT (declared in winfont.h) are
// built here: every installed family that is not excluded by name or known
// not to be fixed-pitch is measured at the sizes 8 to 20 and 22 to 40, and
// each size that draws a new cell becomes an entry "family|size|W X H". The
// names of families that measured proportional are kept in a cache file in
// the user's preferences folder, so later runs skip them.
//
// CONTROLFONT sets the font a control (a view of the platform layer) shows
// its text in, from a font description text, and puts the standard
// control font back when detached or destroyed.
#pragma once

#include "velmot/gui/winfont.h"

namespace plat {
struct OpaqueView;
using ViewRef = OpaqueView*;
} // namespace plat

class VELMOT_EXPORT CONTROLFONT : public WINDOWFONT {
public:
    explicit CONTROLFONT(plat::ViewRef control);
    CONTROLFONT(plat::ViewRef control, char const* spec, UNICODE_CODEPAGE cp);
    ~CONTROLFONT() override;

    void AttachToControl(char const* spec, UNICODE_CODEPAGE cp);
    void DetachFromControl();

private:
    plat::ViewRef Control = nullptr;
    uintptr_t Reserved = 0;
};
