// TABCONTROL: a tab control whose pages are other views (panes): the pane
// of the current page shows inside the tab control's content area, the
// others are hidden. When the labels do not fit side by side, the tabs
// give way to a pop-up group box (the buddy, id {'VLMT', the tab
// control's number}) that lists the same labels.
//
// The state lives on the tab control's view, so wrappers come and go:
// "Prev" (the current page + 1) and "Tab0" + n (the pane of page n). The
// owner turns pages: a click on a tab (or TurnToPage) reaches its
// OnControlEvent as CONTROLEVENT_TABCHANGED, on which it calls
// PageChanged(GetCurrentPage()).
//
// Main thread only.
#pragma once

#include "velmot/gui/winentry.h"
#include "velmot/gui/wincontrols.h"

#include <memory>

constexpr FOURCHARCODE CPROP_TABPREVIOUS = plat::FourCC("Prev");
constexpr FOURCHARCODE CPROP_TABPAGE0 = plat::FourCC("Tab0"); // + the page number

class VELMOT_EXPORT TABCONTROL : public CONTROL {
public:
    // The tab control with that id in the parent; a hidden field to
    // measure the labels is made beside it.
    TABCONTROL(CONTROLPARENT parent, CONTROLID const& id);
    explicit TABCONTROL(plat::ViewRef view);
    ~TABCONTROL() override;

    void Init();
    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override;

    virtual bool SetPageLabel(int page, char const* label);
    virtual bool SetPageLabelWide(int page, wchar_t const* label);

    // Each returns the new page's number.
    int InsertPageWide(wchar_t const* label, plat::ViewRef pane);
    int InsertPageWide(wchar_t const* label, CONTROLID pane);
    // The first subview of the layout's client view (a user pane) becomes
    // the page; the layout's window is destroyed.
    int InsertPageWide(wchar_t const* label, char const* nib, void* data);
    int InsertPage(char const* label, plat::ViewRef pane);
    int InsertPage(char const* label, CONTROLID pane);
    int InsertPage(char const* label, char const* nib, void* data);
    // Only the last page can be deleted (others are reported and stay).
    void DeletePage(int page);
    void TurnToPage(int page);
    int GetCurrentPage();
    plat::ViewRef WindowFromPageid(int page);
    void PageChanging(int page);
    void PageChanged(int page);
    // The buddy pop-up, made on first use.
    plat::ViewRef GetBuddy();
    // 1 tabs, 0 the pop-up, -1 whichever the labels' width allows.
    void SelectLabelType(signed char type);

    int GetPageCount() const { return fPageCount; }

private:
    plat::ViewRef Page(int page);

    int fPageCount = 0;
    std::unique_ptr<ENTRYFIELD> fMeasure;
};
