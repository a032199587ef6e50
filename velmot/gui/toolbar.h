// NEWTOOLBAR: a window's toolbar (platform/controls/toolbar.h) with the
// program's table of up to 64 buttons, each identified by its command id.
// The toolbar asks this object which items exist, which are shown by
// default and how to make one; the object answers from its table. A click
// on an item reaches the window as the item's command (OnCommand).
//
// The toolbar saves the user's configuration under "Toolbar" in the
// application's settings domain (the one its registry key maps to).
//
// Main thread only.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/winevents.h"
#include "velmot/gui/wincontrols.h"
#include "velmot/gui/winicons.h"

#include "platform/controls/toolbar.h"

#include <memory>

class MENU;

// Button styles.
constexpr uint32_t TBSTYLE_BUTTON = 0x04;    // every button in the table
constexpr uint32_t TBSTYLE_SEP = 0x08;       // a separator before it in the default set
constexpr uint32_t TBSTYLE_NOBUTTON = 0x10;  // nothing is added
constexpr uint32_t TBSTYLE_CHECK = 0x20;     // a check button
constexpr uint32_t TBSTYLE_NODEFAULT = 0x40; // not in the default set (the user may add it)
constexpr uint32_t TBSTYLE_DROPDOWN2 = 0x400;
constexpr uint32_t TBSTYLE_DROPDOWN = 0x800;

enum NTB_DROPSTYLES { NTB_NODROP = 0, NTB_DROPMENU = 1, NTB_DROPMENU2 = 2 };

class VELMOT_EXPORT NEWTOOLBAR : public TEventHandler {
public:
    static constexpr int MAXBUTTONS = 64;

    struct TOOLBARBUTTON {
        uint32_t Command = 0;
        uint32_t Style = 0;
        plat::Text Identifier; // the command id in decimal
        uint32_t Icon = 0;
        std::unique_ptr<ICON> IconObj;
        STRING Label;
    };

    // The CONTROLID and the numbers are not used.
    NEWTOOLBAR(plat::WindowRef window, CONTROLID id = CONTROLID{}, int = 0, int = 0, int = 0);
    ~NEWTOOLBAR() override;

    bool Init();
    plat::TargetRef GetEventTarget() const override;
    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override;

    // Shows or hides the toolbar; the window keeps its frame.
    void Show(signed char on);
    // The index of the new button; -1 for style TBSTYLE_NOBUTTON or a full
    // table (reported). The label comes from the menu, else the text, else
    // the default menu.
    int AddButtonToTable(uint32_t command, int style, MENU* menu, char const* text, uint32_t icon);
    // "..." removed, blanks and tabs trimmed on the right.
    bool AddButtonText(uint32_t command, STRING const& text);
    // The menu's item text of the command; null: the default menu.
    bool AddButtonText(uint32_t command, MENU* menu);
    // The index of the button (-1); *item, when given, the toolbar's item
    // of that command (the last one) or null.
    int FindButton(uint32_t command, plat::ToolbarItemRef* item);
    void CheckButton(uint32_t command, int on);
    bool IsButtonChecked(uint32_t command);
    void EnableButton(uint32_t command, signed char on);
    bool IsButtonEnabled(uint32_t command);
    bool SetButtonMenu(uint32_t command, NTB_DROPSTYLES style);

    void SetDefaultMenu(MENU* menu) { fDefaultMenu = menu; }
    plat::ToolbarRef GetToolbar() const { return fToolbar; }
    int GetButtonCount() const { return fCount; }
    TOOLBARBUTTON const& GetButton(int index) const { return fButtons[index]; }

private:
    plat::ToolbarRef fToolbar = nullptr;
    plat::WindowRef fWindow = nullptr;
    MENU* fDefaultMenu = nullptr;
    TOOLBARBUTTON fButtons[MAXBUTTONS];
    int fCount = 0;
};
