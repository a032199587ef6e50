// Value controls: scroll bars with Windows-style range and page, sliders
// whose vertical position runs from the top, spin arrows tied to an entry
// field, and progress bars. Constructors as for the buttons (winbuttons.h)
// where not said otherwise. Main thread only.
#pragma once

#include "velmot/gui/wincontrols.h"

class VELMOT_EXPORT SCROLLBAR : public CONTROL {
public:
    explicit SCROLLBAR(plat::ViewRef view) : CONTROL(view) {}
    SCROLLBAR(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id) {}
    // Style 0 (horizontal) or 1 (vertical); the frame decides the look.
    SCROLLBAR(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    // Refused (reported): scroll bars are not put in place of templates.
    SCROLLBAR(CONTROLPARENT parent, CONTROLID const& id, int style, CONTROLID const& templateId);
    ~SCROLLBAR() override;

    bool CreateScrollbar(CONTROLPARENT parent, CONTROLID const& id, int style, int x, int y, int cx, int cy);
    // The control's maximum is `max` + 1, as a Windows range counts.
    bool SetRange(int min, int max);
    // The value alone, with no report to the window.
    bool SetPos(int pos, int redraw);
    // Position and page; with min and max both -1 the range stays.
    bool SetScrollbar(int pos, int page, int min, int max);
    // Created scroll bars report a dragged thumb while it moves.
    static void TrackingProc(plat::ViewRef view, int16_t part);
};

class VELMOT_EXPORT SLIDERBAR : public CONTROL {
public:
    // Both register the object on the slider, whose tracking reaches it
    // while it lives.
    explicit SLIDERBAR(plat::ViewRef view);
    SLIDERBAR(CONTROLPARENT parent, CONTROLID const& id);
    ~SLIDERBAR() override;

    bool SetRange(int min, int max, int redraw);
    // A vertical slider counts its positions from the top.
    bool SetPos(int pos, int redraw);
    int GetPos() const;
    void SetTicFreq(int) {}
    void ClearSelection(int) {}
    static void TrackingProc(plat::ViewRef view, int16_t part);

private:
    void Register();
};

// Little arrows over the right edge of an entry field (the buddy); the
// value lives in the buddy's text.
class VELMOT_EXPORT SPINBUTTON : public CONTROL {
public:
    SPINBUTTON(CONTROLPARENT parent, CONTROLID const& id, CONTROLID const& buddy);
    ~SPINBUTTON() override;

    bool SetMinMax(int a, int b);
    int Clamped(int value) const;
    bool SetValue(int value);
    bool SetValueWithMinMax(int value, int min, int max);
    int GetValue() const;
    static void LittleArrowActionProc(plat::ViewRef view, int16_t part);
};

class VELMOT_EXPORT PROGRESSBAR : public CONTROL {
public:
    explicit PROGRESSBAR(plat::ViewRef view) : CONTROL(view) {}
    PROGRESSBAR(CONTROLPARENT parent, CONTROLID const& id) : CONTROL(parent, id) {}
    PROGRESSBAR(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy);
    PROGRESSBAR(CONTROLPARENT parent, CONTROLID const& id, CONTROLID const& templateId);
    ~PROGRESSBAR() override;

    bool CreateProgressbar(CONTROLPARENT parent, CONTROLID const& id, int x, int y, int cx, int cy);
    bool SetRange(int max);
    bool SetPos(int pos);
};
