// STATUSBAR: a strip 20 pixels high along the bottom of a window's client
// area, divided into up to 7 parts, each a text and optionally a 16 x 16
// icon, drawn as a raised placard. One part stretches over what the fixed
// parts leave: its width is given negative, its absolute value being its
// least width. The owner calls Resize when the window's size changed.
//
// Main thread only.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/wincontrols.h"

class VELMOT_EXPORT STATUSBAR : public CONTROL {
public:
    static constexpr int HEIGHT = 20;
    static constexpr int MAXPARTS = 8; // 7 usable

    struct PART {
        STRING Text;
        uint32_t Icon = 0; // 0: none
        int Width = 0;     // >= 0 fixed; < 0 the stretching part, -least width
        int Right = 0;     // the right edge, set by Resize
    };

    // Made in the window that holds the parent, along its client area's
    // bottom; the id is not used. One stretching part at first.
    STATUSBAR(CONTROLPARENT parent, CONTROLID id);
    ~STATUSBAR() override;

    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override;

    // 2 to 7 parts (others are reported; more than 7 are cut to 7).
    bool SetParts(int count, int const* widths);
    void DeleteParts();
    // An id of all bits set clears the icon.
    bool SetIcon(uint32_t iconId, int part);
    // The part's text (code page 1252), drawn at the next paint.
    bool SetText(int part, char const* text);
    STRING GetText(int part) const;
    void Resize();
    // Draws the bar into the paint pass's context.
    void DrawProc(plat::DrawContext& context);

    int GetPartCount() const { return Howmany; }
    PART const& GetPart(int part) const { return Parts[part]; }

private:
    PART Parts[MAXPARTS];
    int Howmany = 0;
};
