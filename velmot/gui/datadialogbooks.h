// The two ways a multi-page data dialog shows its pages: DATADIALOGBOOK
// puts them on a tab control (with the tab control's pop-up when the labels
// do not fit); DATADIALOGTREE lists them in a tree view on the left and
// shows the chosen one beside it under a drawn title strip, the
// DATADIALOGTREEHEADER. Main thread only.
#pragma once

#include "velmot/gui/datadialogs.h"
#include "velmot/gui/tabcontrol.h"
#include "velmot/gui/treeview.h"

#include <memory>

class VELMOT_EXPORT DATADIALOGBOOK : public DATADIALOGMULTI {
public:
    // The dialog from the layout `nib`, its pages on the tab control `tabs`.
    DATADIALOGBOOK(char const* nib, WINDOW const& owner, CONTROLID tabs, void* data);
    ~DATADIALOGBOOK() override;

    using DATADIALOGMULTI::AddPage;
    // The page becomes a tab; its view gets the id PAGE <index + 1>.
    DATADIALOGPAGE* AddPage(DATADIALOGPAGE* page, char const* label) override;
    DATADIALOGPAGE* AddPage(char const* nib, char const* label) override;
    // A page over an existing pane of the client view.
    DATADIALOGPAGE* AddPage(CONTROLID pane, char const* label);
    void TurnToPage(int index) override;
    int GetCurrentPageIdx() override;
    bool OnControlEvent(int event, CONTROL const& control, void* data) override;

    TABCONTROL& GetTabControl() { return *Tabs; }

protected:
    std::unique_ptr<TABCONTROL> Tabs;
};

// The title strip over a tree dialog's page: a gradient band with the
// page's label in white.
class VELMOT_EXPORT DATADIALOGTREEHEADER : public CHILDWINDOW {
public:
    DATADIALOGTREEHEADER(CONTROLPARENT parent, CONTROLID id, int x, int y, int cx, int cy);
    ~DATADIALOGTREEHEADER() override;

    // Null: no text.
    void SetText(char const* text);
    STRING const& GetText() const { return Text; }
    int OnPaint() override;

private:
    STRING Text;
};

class VELMOT_EXPORT DATADIALOGTREE : public DATADIALOGMULTI {
public:
    // The dialog from the layout `nib`: the tree takes the place of the
    // control `placeholder`; the pages show inside the control `frame`,
    // under the title strip.
    DATADIALOGTREE(char const* nib, WINDOW const& owner, CONTROLID tree, CONTROLID placeholder, CONTROLID frame);
    ~DATADIALOGTREE() override;

    using DATADIALOGMULTI::AddPage;
    // The page becomes record index + 1 of the tree; the first one shows
    // at once.
    DATADIALOGPAGE* AddPage(DATADIALOGPAGE* page, char const* label) override;
    DATADIALOGPAGE* AddPage(char const* nib, char const* label) override;
    void TurnToPage(int index) override;
    int GetCurrentPageIdx() override;
    bool OnControlEvent(int event, CONTROL const& control, void* data) override;
    bool OnSized() override { return false; }
    bool OnShown() override { return false; }

    // Places the title strip and the frame in the frame control's place,
    // and the area the pages show in.
    void MakeFrames();

    TREEVIEW& GetTree() { return *Tree; }
    DATADIALOGTREEHEADER& GetHeader() { return *Header; }
    RECT GetContentRect() const { return Content; }

protected:
    int Current = 0;
    std::unique_ptr<DATADIALOGTREEHEADER> Header;
    std::unique_ptr<TREEVIEW> Tree;
    CONTROL Placeholder;
    CONTROL Frame;
    RECT Content{};
};
