// Data-bound dialogs: dialogs and dialog pages whose controls are bound to
// the program's values by data dialog items (datadialogitems.h), with
// rules that enable, disable, show or hide controls from the state of
// other controls while the user works.
//
// DATADIALOGBASE is what dialogs and pages share: the items (at most 64),
// filled into the controls and stored back in one call each, push buttons
// routed to their push items, and the disable rules (at most 64, in a table
// of its own or one shared with other pages). DATADIALOG is a modal dialog
// from a layout; DATADIALOGBOX the single-page dialog most settings use;
// DATADIALOGMULTI a dialog of up to 32 DATADIALOGPAGEs sharing one rule
// table (DATADIALOGBOOK and DATADIALOGTREE, datadialogbooks.h, show them
// as tabs or as a tree); PUSHBUTTONSUBDIALOG a push item that opens a
// nested DATADIALOGBOX working on copies, which reach the bound strings
// only when the outer dialog is stored.
//
// What is stored: a dialog stores its values when it ends unless it was
// cancelled (the button BACK 0, Escape or the close box; a multi-page
// dialog's close box stores when SaveWhenClosing is set and then ends with
// OKAY). Each run starts with every value storable again.
//
// Rules: a rule names a controlled control and, unless its kind needs none
// (DISABLE_ALWAYS, DISABLE_NEVER), a depending control whose state it
// tests. The rules on one controlled control with the same DISABLE_HIDE
// bit form a group: the control is disabled (or hidden) when one of them
// asks for it, or, when a rule of the group carries DISABLE_ALLOFGROUP,
// only when all of them do. Rules are evaluated on the control events of check
// boxes and radio buttons (257), text fields (513) and lists (769); a rule
// without a depending control only on the first of them.
//
// Main thread only.
#pragma once

#include "velmot/core/hash.h"
#include "velmot/gui/datadialogitems.h"
#include "velmot/gui/winchild.h"
#include "velmot/gui/windialog.h"

#include <memory>

class DATADIALOGPAGE;

class VELMOT_EXPORT DATADIALOGBASE {
public:
    // The low 12 bits: what the depending control is tested for.
    using DISABLETYPE = uint32_t;
    // Check box or radio button on; text field not empty.
    static constexpr DISABLETYPE DISABLE_IFSET = 0;
    // Check box or radio button off; text field empty.
    static constexpr DISABLETYPE DISABLE_IFNOTSET = 1;
    // The text (of a field, or of a list's chosen item) equals, or differs
    // from, the rule's text ignoring case.
    static constexpr DISABLETYPE DISABLE_IFTEXT = 2;
    static constexpr DISABLETYPE DISABLE_IFNOTTEXT = 3;
    // The index of a list's chosen item (-1: none) is, or is not, the
    // number the rule's text reads as.
    static constexpr DISABLETYPE DISABLE_IFINDEX = 5;
    static constexpr DISABLETYPE DISABLE_IFNOTINDEX = 6;
    // The field names an existing file or folder, or not.
    static constexpr DISABLETYPE DISABLE_IFEXISTS = 7;
    static constexpr DISABLETYPE DISABLE_IFNOTEXISTS = 8;
    // The field names a folder, or not.
    static constexpr DISABLETYPE DISABLE_IFFOLDER = 9;
    static constexpr DISABLETYPE DISABLE_IFNOTFOLDER = 10;
    // Without looking at any control.
    static constexpr DISABLETYPE DISABLE_ALWAYS = 11;
    static constexpr DISABLETYPE DISABLE_NEVER = 12;
    static constexpr DISABLETYPE DISABLE_KINDMASK = 0xFFF;
    // Show or hide instead of enable or disable.
    static constexpr DISABLETYPE DISABLE_HIDE = 0x10000;
    // The group acts only when every rule of it asks.
    static constexpr DISABLETYPE DISABLE_ALLOFGROUP = 0x40000;

    struct DISABLEITEMRULE {
        CONTROLPARENT ControlledParent;
        CONTROLID Controlled;
        CONTROLPARENT DependParent;
        // Signature and number 0: the rule has no depending control.
        CONTROLID Depend;
        DISABLETYPE Type = 0;
        STRING Text;
        bool Done = false;
    };

    static constexpr int MAXITEMS = 64;
    static constexpr int MAXRULES = 64;
    using RULETABLE = DISABLEITEMRULE[MAXRULES];

    // Runs on every control event of the dialog or page, before the rules.
    using CONTROLEVENTCALLBACK = void (*)(void* context, CONTROLPARENT parent, int event, CONTROL const& control);

    // With the base's own rule table, or with a table and count that
    // several bases (the pages of one dialog) share.
    DATADIALOGBASE();
    DATADIALOGBASE(RULETABLE* rules, int& count);
    DATADIALOGBASE(DATADIALOGBASE const&) = delete;
    DATADIALOGBASE& operator=(DATADIALOGBASE const&) = delete;

    // Where this dialog's or page's controls are looked up.
    virtual CONTROLPARENT GetControlParent() = 0;
    // Evaluates the rules; always 0 (the event is never consumed).
    virtual signed char HandleControlEvent(int event, CONTROL const& control, void* data);
    // 1 when a push item took the button.
    virtual signed char HandlePushbutton(CONTROLID id);
    // Deletes the items, the last first.
    virtual ~DATADIALOGBASE();
    virtual void ValuesToDialog();
    // Does nothing after NoSave.
    virtual void DialogToValues();
    virtual void NoSave();

    // Takes ownership; returns the item count.
    int AddItem(DATADIALOGITEM* item);
    // A null parent is this base's GetControlParent(); the text may be null
    // for kinds that use none.
    void AutoDisable(CONTROLPARENT controlledParent, CONTROLID controlled, CONTROLPARENT dependingParent,
                     CONTROLID depending, DISABLETYPE type, char const* text);
    void SetControlEventCallback(CONTROLEVENTCALLBACK callback, void* context);
    // 1 when the rule asks for disabling now.
    signed char ShouldDisable(DISABLEITEMRULE& rule);
    void DoDisable(CONTROLPARENT parent, DISABLEITEMRULE& rule, CONTROL& controlled, signed char disable,
                   signed char hide);

    int GetItemCount() const { return Howmany; }
    DATADIALOGITEM* GetItem(int i) const { return i >= 0 && i < Howmany ? Items[i] : nullptr; }
    int GetRuleCount() const { return *pDisableItemCount; }
    // 1 until NoSave.
    int GetSaveFlag() const { return Save; }
    void SetSaveFlag(int save) { Save = save; }

protected:
    // Deletes the items now, while their controls still exist (the forms
    // call it before their window or view goes).
    void DeleteItems();

    std::unique_ptr<DATADIALOGITEM*[]> Items;
    int Howmany = 0;
    int Max = MAXITEMS;
    int Pass = 0;
    RULETABLE* pDisableItems;
    RULETABLE DisableItems;
    int* pDisableItemCount;
    int DisableItemCount = 0;
    CONTROLEVENTCALLBACK pCallback = nullptr;
    void* pCallbackContext = nullptr;
    int Save = 1;
};

// A modal dialog from a layout whose controls are bound by items. The stock
// push functions act on the field beside a push button (datadialogpush.cpp).
class VELMOT_EXPORT DATADIALOG : public DATADIALOGBASE, public DIALOG {
public:
    // `data` is not used.
    DATADIALOG(char const* nib, WINDOW const& owner, void* data);
    DATADIALOG(char const* nib, WINDOW const& owner, RULETABLE* rules, int& count);
    ~DATADIALOG() override;

    // The dialog's client view.
    CONTROLPARENT GetControlParent() override;
    bool OnControlEvent(int event, CONTROL const& control, void* data) override;
    bool OnPushbutton(CONTROLID id) override;

    // Stock push functions. "Field" is the text field with the linked id.
    // A colour 0x00BBGGRR (decimal text) chosen with the colour picker.
    static void PushFnctSetColor(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);
    // A font description text ("9.Monaco") chosen with the font chooser.
    static void PushFnctSetFontnamesize(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);
    // The help topic named by the context (a text).
    static void PushFnctShowHelpTopic(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);
    // The web address or file of the value, in the desktop's program.
    static void PushFnctShowUrl(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);
    // Plays the sound file the field names.
    static void PushFnctTrySound(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);
    // Opens the program or document the field names.
    static void PushFnctShellExec(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);
    // Opens the folder the linked control names.
    static void PushFnctOpenFolder(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);
    // Value "title|base folder": the field gets the folder chosen, relative
    // to the base folder when it lies inside it.
    static void PushFnctBrowseForFolder(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);
    static void PushFnctEditDirectory(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);
    // Value "title|default name", a line feed, then the filter: the field
    // gets the file name chosen.
    static void PushFnctEditFilename(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);
};

// The single-page dialog: stores its items when it ends, unless it was
// cancelled.
class VELMOT_EXPORT DATADIALOGBOX : public DATADIALOG {
public:
    static constexpr int MAXPAGES = 16;
    struct PAGEENTRY {
        DATADIALOGPAGE* Page = nullptr;
        int Id = -1;
    };

    DATADIALOGBOX(char const* nib, WINDOW const& owner, void* data);
    ~DATADIALOGBOX() override;

    // Fills the controls and runs the dialog; returns how it ended.
    virtual int Process(signed char noshow = 0);
    bool OnDialogDismissed(int code) override;
    bool OnPushbutton(CONTROLID id) override;
    // The close box cancels, as Escape and the button BACK 0 do.
    bool OnClose() override;

    // Pages are not offered here (reported); 0.
    DATADIALOGPAGE* AddPage(char const* nib);
    DATADIALOGPAGE* FindPage(int id);

protected:
    PAGEENTRY Pages[MAXPAGES];
    int PageCount = 0;
};

// A dialog of pages that share one rule table; the dialog's own items and
// rules work beside them. TurnToPage and GetCurrentPageIdx are the showing
// variant's.
class VELMOT_EXPORT DATADIALOGMULTI : public DATADIALOG {
public:
    static constexpr int MAXPAGES = 32;
    struct PAGEENTRY {
        DATADIALOGPAGE* Page = nullptr;
        STRING Label;
        int Id = -1;
    };

    DATADIALOGMULTI(char const* nib, WINDOW const& owner, void* data);
    // Deletes the pages in table order.
    ~DATADIALOGMULTI() override;

    bool OnPushbutton(CONTROLID id) override;
    // With SaveWhenClosing the close box stores and ends with OKAY, else it
    // cancels.
    bool OnClose() override;
    bool OnDialogDismissed(int code) override;
    // The help of the current page (or of the dialog without one).
    bool OnHelp() override;
    // Fills the controls, turns to the page and runs the dialog; returns
    // how it ended.
    virtual int Process(int page);
    // A page from the layout `nib` in the client view, with the shared
    // rules.
    virtual DATADIALOGPAGE* AddPage(char const* nib, char const* label);
    // Takes ownership of the page.
    virtual DATADIALOGPAGE* AddPage(DATADIALOGPAGE* page, char const* label);
    virtual DATADIALOGPAGE* GetPage(int index);
    virtual void SaveWhenClosing(int flag);
    virtual void TurnToPage(int index) = 0;
    // -1 when no page is shown.
    virtual int GetCurrentPageIdx() = 0;

    int GetPageCount() const { return PageCount; }
    RULETABLE* GetSharedRules() { return &SharedRules; }
    int& GetSharedRuleCount() { return SharedRuleCount; }

protected:
    // NoSave on every page and on the dialog.
    void CancelAll();

    int PageCount = 0;
    int PageMax = MAXPAGES;
    std::unique_ptr<PAGEENTRY[]> Pages;
    signed char SaveClosing = 0;
    RULETABLE SharedRules;
    int SharedRuleCount = 0;
};

// A page: a child view (an existing pane, or the first pane of a layout)
// with its own items.
class VELMOT_EXPORT DATADIALOGPAGE : public DATADIALOGBASE, public CHILDWINDOW {
public:
    DATADIALOGPAGE(CONTROLID pane, CONTROLPARENT parent, RULETABLE* rules, int& count);
    DATADIALOGPAGE(char const* nib, CONTROLPARENT parent, RULETABLE* rules, int& count);
    // With the page's own rule table; the pointer is not used.
    DATADIALOGPAGE(char const* nib, CONTROLPARENT parent, void* unused);
    ~DATADIALOGPAGE() override;

    // The page's own view.
    CONTROLPARENT GetControlParent() override;
    bool OnControlEvent(int event, CONTROL const& control, void* data) override;
    bool OnPushbutton(CONTROLID id) override;
    // The page paints no background of its own: the dialog's shows.
    bool EnableSubdialogTheme();
};

// A push item that opens a nested DATADIALOGBOX. The items added to it
// (bound to strings) work on copies: confirmed in the nested box they
// change the copies, and the copies reach the bound strings when the outer
// dialog is stored.
class VELMOT_EXPORT PUSHBUTTONSUBDIALOG : public PUSHDATADIALOGITEM {
public:
    static constexpr int MAXBOUND = 32;

    PUSHBUTTONSUBDIALOG(CONTROLID button, char const* nib, WINDOW const& owner);
    ~PUSHBUTTONSUBDIALOG() override;

    // Takes ownership; the item must be bound to a STRING. Returns the
    // nested dialog's item count.
    int AddItem(DATADIALOGITEM* item);
    void AutoDisable(CONTROLID controlled, CONTROLID depending, DATADIALOGBASE::DISABLETYPE type, char const* text);
    DATADIALOGBOX& GetDialog() { return Dialog; }

    void DataToDialog(CONTROLPARENT parent) override;
    void DialogToData(CONTROLPARENT parent) override;
    static void PushFnct(void* context, CONTROLID linked, CONTROLPARENT parent, STRING* value);

private:
    static STRING KeyOf(STRING const* bound);

    STRING Private;
    DATADIALOGBOX Dialog;
    HASH Copies;
    STRING* Bound[MAXBOUND] = {};
    int NumBound = 0;
    plat::WindowRef fOwner = nullptr;
};
