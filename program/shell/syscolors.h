// The system colours: the program-wide table of 32 named colours the
// terminal screen draws with (16 standard terminal colours and 16 extra
// shades), its file "ColorTable.qorini" in the options folder and the
// editor in which the user changes (left click) or renames (right click)
// a colour.
//
// The screen reads the colours from gSysColorValues (VIO::SetSysColorTable),
// which Publish fills from the table. Main thread.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/winchild.h"
#include "velmot/gui/windialog.h"
#include "velmot/gui/winlists.h"

#include <array>
#include <cstdint>

class TOOLTIPS;

constexpr int TERM_MAX_SYSCOLORS = 32;

struct TERM_SYSCOLORS {
    int32_t Index;          // the entry's own index
    uint32_t Colour;        // 0x00BBGGRR
    uint32_t DefaultColour; // the built-in colour
    char Name[128];
    char DefaultName[128]; // built-in name (empty for 0-15)
};

using SYSCOLORTABLE = TERM_SYSCOLORS[TERM_MAX_SYSCOLORS];

extern SYSCOLORTABLE gSysColors;
// The colours of the table as the screen reads them.
extern uint32_t gSysColorValues[TERM_MAX_SYSCOLORS];

namespace syscolors {

constexpr char const* FILENAME_NEW = "ColorTable.qorini";
constexpr char const* FILENAME_OLD = "colortable.ini";

// The resource name of entry i (the "|" items of "IDS_COLORS1" and
// "IDS_COLORS2" joined); empty when the resources have none.
STRING ResourceName(int i);
// Built-in colours and names.
void Reset(SYSCOLORTABLE& table);
// Resets, then reads the file of the folder (the new name, else the old
// one); true when a file was read.
bool Load(SYSCOLORTABLE& table, char const* folder);
// Writes the file of the folder under the new name; false when it could
// not be created.
bool Save(SYSCOLORTABLE const& table, char const* folder);
// Copies the table's colours into gSysColorValues and points the screen at
// them.
void Publish(SYSCOLORTABLE const& table);

} // namespace syscolors

class EDITSYSCOLORDIALOG;

// One swatch of the editor.
class SYSCOLORBUTTON : public CHILDWINDOW {
public:
    SYSCOLORBUTTON(EDITSYSCOLORDIALOG& dialog, CONTROLID id, int x, int y, int width, int height);
    int OnPaint() override;
    bool OnMouseEvent(int message, int x, int y, int flags) override;
    void SetColour(uint32_t colour);
    uint32_t Colour() const { return Colour_; }
    bool Hover() const { return Hovering; }

private:
    EDITSYSCOLORDIALOG& Dialog;
    uint32_t Colour_ = 0xFFFFFF;
    bool Hovering = false;
};

class EDITSYSCOLORDIALOG : public DIALOG {
public:
    static constexpr CONTROLID BUTTONBASE{plat::FourCC("IDC_"), 0};

    EDITSYSCOLORDIALOG(WINDOW const& owner, char const* resource, void* module, SYSCOLORTABLE& table);
    ~EDITSYSCOLORDIALOG() override;

    bool OnPushbutton(CONTROLID id) override;
    bool OnRightClick(unsigned long id);
    SYSCOLORBUTTON* Swatch(int i) { return Buttons[static_cast<size_t>(i)].get(); }
    SYSCOLORTABLE& Table() { return Colors; }
    // The side of a swatch.
    int SwatchSize() const { return Side; }

private:
    void Place(CONTROLID area, int first);
    void Pick(int index);

    POPUPBOX List;
    std::unique_ptr<TOOLTIPS> Tips;
    SYSCOLORTABLE& Colors;
    std::array<std::unique_ptr<SYSCOLORBUTTON>, TERM_MAX_SYSCOLORS> Buttons;
    int Side = 0;
};
