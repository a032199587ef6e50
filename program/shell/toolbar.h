// TOOLBAR: the main window's toolbar, in the window's frame above the
// client area: a fixed table of command buttons, each sending a menu
// command and enabled together with the menu items of that command
// (APP::EnableMenuEntry). Which buttons show, and in which order, is the
// user's configuration, saved by the toolkit's toolbar.
//
// Main thread only.
#pragma once

#include "program/shell/app.h"

#include "velmot/gui/toolbar.h"
#include "velmot/gui/winmenu.h"

#include <array>
#include <cstdint>

class TOOLBAR final : public WINDOWPART, public NEWTOOLBAR {
public:
    struct ENTRY {
        int Group;    // cluster; -1 ends the table
        int Subgroup; // a change of group or subgroup starts a new cluster
        int Command;
        int Icon;
        int Shown; // 0: not in the default set
        int Spare;
        int HasLabel;
        char Label[64];
    };
    static constexpr int MAXENTRIES = 64;
    // The program's buttons; the used entries end at the first group -1.
    static const std::array<ENTRY, MAXENTRIES> QorButtonTable;

    explicit TOOLBAR(APP& owner);
    ~TOOLBAR() override;
    TOOLBAR(TOOLBAR const&) = delete;
    TOOLBAR& operator=(TOOLBAR const&) = delete;

    void Initialize();
    void InitTable();
    // 1 when the toolbar was shown or hidden; the client area keeps its
    // height (*heightDelta 0).
    int ShowToolbar(bool show, int* heightDelta);
    int QueryHeight() const { return 0; }
    void ShowHideButtons() {}
    int DefineToolbar() { return 0; }

    int NumEntries() const { return Count; }
    ENTRY const& Entry(int index) const { return Table[static_cast<size_t>(index)]; }
    bool IsShown() const { return ShownState == 1; }

    // WINDOWPART: the toolbar takes no height of the client area.
    int QueryHeight(SESSION*, int) override { return 0; }
    int Show(bool show, int* heightDelta) override { return ShowToolbar(show, heightDelta); }
    void Move(int, int, int, int) override {}
    void CancelTooltips() override {}

private:
    APP& Owner;
    std::array<ENTRY, MAXENTRIES> Table;
    int Count = 0;
    MENU Menu;
    unsigned char Mode = 0;
    unsigned char State1 = 1;
    unsigned char State2 = 1;
    unsigned char ShownState = 255;
    unsigned char LastMode = 0;
};
