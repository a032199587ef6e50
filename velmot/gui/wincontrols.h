// Controls: the wrapper through which the toolkit touches a platform view.
//
// A CONTROL is light: the view handle and whether the object owns the
// view. Code builds short-lived wrappers on the stack by looking a view up
// with its CONTROLID inside a CONTROLPARENT (the view lives in the window's
// layout and is not touched by the wrapper's destructor); controls the
// program creates itself are owned and disposed with their object. The
// view's kind (a four-character code such as 'push' or 'sbar') decides how
// the toolkit treats it.
//
// The class also carries the toolkit's properties on views (pointer-sized
// words or small byte blocks under the creator 'VLMT'), the way back from
// a view to the object that owns it ("This"), the simulated hit through
// which the program's changes look like the user's, and the owner
// notification (message WM_VCONTROL) through which a control reports to
// the window or child window that holds it.
//
// Main thread only: each public operation warns through
// TARVOAPP::CheckCallerThread when called elsewhere.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/winevents.h"
#include "velmot/gui/wintypes.h"

#include "platform/controls/controls.h"
#include "platform/events/views.h"

// A control's id inside its window: a four-character signature and a
// number (the layout of the platform's view id).
struct CONTROLID {
    FOURCHARCODE signature = 0;
    int32_t id = 0;
    bool operator==(CONTROLID const&) const = default;
    // "OKAY 3": the four characters, one blank, the number.
    STRING AsString() const;
};

// The view inside which controls are looked up: a window's client view or
// the view of a child window or dialog page. Owns nothing.
struct CONTROLPARENT {
    plat::ViewRef view = nullptr;
};

// Control kinds the toolkit tests.
constexpr FOURCHARCODE CONTROLKIND_PUSH = plat::FourCC("push");
constexpr FOURCHARCODE CONTROLKIND_PICTUREPUSH = plat::FourCC("picn");
constexpr FOURCHARCODE CONTROLKIND_ROUND = plat::FourCC("rndb");
constexpr FOURCHARCODE CONTROLKIND_BEVEL = plat::FourCC("bevl");
constexpr FOURCHARCODE CONTROLKIND_CHECKBOX = plat::FourCC("cbox");
constexpr FOURCHARCODE CONTROLKIND_RADIO = plat::FourCC("rdio");
constexpr FOURCHARCODE CONTROLKIND_DISCLOSURE = plat::FourCC("disb");
constexpr FOURCHARCODE CONTROLKIND_EDITTEXT = plat::FourCC("etxt");
constexpr FOURCHARCODE CONTROLKIND_EDITUNICODE = plat::FourCC("eutx");
constexpr FOURCHARCODE CONTROLKIND_STATICTEXT = plat::FourCC("stxt");
constexpr FOURCHARCODE CONTROLKIND_ICON = plat::FourCC("icon");
constexpr FOURCHARCODE CONTROLKIND_DATABROWSER = plat::FourCC("datb");
constexpr FOURCHARCODE CONTROLKIND_COMBOBOX = plat::FourCC("cbbx");
constexpr FOURCHARCODE CONTROLKIND_POPUP = plat::FourCC("popb");
constexpr FOURCHARCODE CONTROLKIND_POPUPGROUP = plat::FourCC("pgrp");
constexpr FOURCHARCODE CONTROLKIND_SLIDER = plat::FourCC("sldr");
constexpr FOURCHARCODE CONTROLKIND_SCROLLBAR = plat::FourCC("sbar");
constexpr FOURCHARCODE CONTROLKIND_PROGRESS = plat::FourCC("prgb");
constexpr FOURCHARCODE CONTROLKIND_USERPANE = plat::FourCC("upan");
constexpr FOURCHARCODE CONTROLKIND_PLACARD = plat::FourCC("plac");
constexpr FOURCHARCODE CONTROLKIND_TABS = plat::FourCC("tabs");
constexpr FOURCHARCODE CONTROLKIND_LITTLEARROWS = plat::FourCC("larr");
constexpr FOURCHARCODE CONTROLKIND_TOOLBARITEM = plat::FourCC("tbiv");
constexpr FOURCHARCODE CONTROLKIND_CLIENT = plat::kViewKindContent; // 'cnvw'

// Control property tags of the toolkit (creator 'VLMT').
constexpr FOURCHARCODE CPROP_THIS = plat::FourCC("This");       // the owning CONTROL
constexpr FOURCHARCODE CPROP_STYLE = plat::FourCC("STYL");      // style bits
constexpr FOURCHARCODE CPROP_STYLEEX = plat::FourCC("STYX");    // extended style bits
constexpr FOURCHARCODE CPROP_NUMBERSONLY = plat::FourCC("ENUM"); // entry field: digits only
constexpr FOURCHARCODE CPROP_TEXTLENGTH = plat::FourCC("ELEN"); // entry field: longest text (< 1: none)
constexpr FOURCHARCODE CPROP_WANTRETURN = plat::FourCC("ERET"); // entry field: takes Return
constexpr FOURCHARCODE CPROP_PARKEDDEFAULT = plat::FourCC("EDBT"); // default button parked by an entry field
constexpr FOURCHARCODE CPROP_FIELDHANDLER = plat::FourCC("EHDL");  // entry field: its rules' handler is installed
constexpr FOURCHARCODE CPROP_TRISTATE = plat::FourCC("CTRI");   // tri-state check box
constexpr FOURCHARCODE CPROP_LASTVALUE = plat::FourCC("CBLS");  // last value of a tri-state box
constexpr FOURCHARCODE CPROP_BUDDY = plat::FourCC("BUDY");      // spin arrows <-> entry field
constexpr FOURCHARCODE CPROP_HELPID = plat::FourCC("HLPI");     // help id of a page, with its NUL

// Codes of owner notifications (WM_VCONTROL, OnControlEvent).
constexpr int CONTROLNOTIFY_TEXTCHANGED = 0x201;  // entry field: the text changed
constexpr int CONTROLNOTIFY_TEXTACCEPTED = 0x202; // entry field: Return or Enter
constexpr int CONTROLNOTIFY_LBSELECTION = 0x301;  // list box: the selection changed
constexpr int CONTROLNOTIFY_LBDOUBLECLICK = 0x302;
constexpr int CONTROLNOTIFY_SELECTION = 0x501;    // list: the selection changed
constexpr int CONTROLNOTIFY_CONTEXTCLICK = 0xF01; // list: a contextual-menu click
constexpr int CONTROLNOTIFY_DOUBLECLICK = 0xF02;  // list: an item double-clicked

class VELMOT_EXPORT CONTROL : public TEventHandler {
public:
    // Looks the view up by id in the parent's subtree and wraps it without
    // owning it; a missing view leaves the object unbound.
    CONTROL(CONTROLPARENT parent, CONTROLID const& id);
    // Wraps an existing view without owning it.
    explicit CONTROL(plat::ViewRef view);
    CONTROL(CONTROL const& other);
    CONTROL& operator=(CONTROL const&) = delete;
    ~CONTROL() override;

    plat::TargetRef GetEventTarget() const override;
    // Handles nothing here; subclasses override it.
    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override;

    // Binds the view (owning it when `owns`, and then registered under
    // "This"), sets its id when given, and reads its kind.
    void Init(plat::ViewRef view, bool owns, CONTROLID const* id);
    // Removes the view from its superview and disposes of it; the object is
    // unbound afterwards.
    void Destroy();

    plat::ViewRef GetControlRef() const { return fControl; }
    bool IsValid() const;
    FOURCHARCODE GetKind() const { return fKind; }
    bool IsControlOfKind(FOURCHARCODE kind) const { return fKind == kind; }
    CONTROLID GetId() const;
    CONTROLID GetControlId() const { return GetId(); }
    // The parent its own controls are looked up in.
    CONTROLPARENT AsParent() const { return CONTROLPARENT{fControl}; }

    // The object registered under the view's "This" property.
    bool SetThisToControl();
    static bool SetThisToControlRef(plat::ViewRef view, CONTROL* object);
    static CONTROL* GetThisFromControlRef(plat::ViewRef view, bool mustExist);

    // Text. Narrow text is code page 1252 (characters it cannot hold read
    // as "?"); wide text is UTF-32.
    bool GetControlText(char* buffer, int size) const;
    bool GetControlText(STRING* out) const;
    bool GetControlTextWide(WSTRING* out) const;
    bool GetControlTextWide(wchar_t* buffer, int size) const;
    STRING GetText() const;
    WSTRING GetTextWide() const;
    int GetText(char* buffer, int size) const;
    int GetTextWide(wchar_t* buffer, int size) const;
    bool SetControlText(char const* text) const;
    bool SetControlTextWide(wchar_t const* text) const;

    // Geometry in the superview's coordinates.
    RECT GetRect() const;
    SIZE GetSize() const;
    RECT GetClientRect() const;
    int Move(int x, int y, int cx, int cy) const;
    int MoveRel(int dx, int dy) const;
    int Size(int cx, int cy) const;
    bool MoveInZorder(int where, plat::ViewRef other);
    int MoveToParentView(CONTROLPARENT parent);
    RECT MoveToTemplateControl(CONTROLPARENT parent, CONTROLID templateId, bool inset);

    // State and input.
    bool Show(bool show) const;
    bool Enable(bool enable) const;
    // Activation has no state of its own here: an inactive control takes
    // no input, as a disabled one.
    bool Activate(bool activate) const;
    bool IsVisible() const;
    bool IsEnabled() const;
    plat::ViewRef SetFocus() const;
    bool IsFocused() const;
    int SetFocusToFirstControl();
    bool Invalidate(RECT const* rect, bool erase = false) const;
    bool FlushRedraw() const;
    void SimulateHit(int16_t part) const;
    void SetControlValue(int value);
    int GetControlValue() const;
    int GetControlMinimum() const;
    int GetControlMaximum() const;
    bool SetControlMinimum(int value) const;
    bool SetControlMaximum(int value) const;

    // Properties (creator 'VLMT'). A value stored shorter than a word reads
    // into the low bytes; an absent one reads as 0.
    MSGWORD GetControlProperty(FOURCHARCODE tag) const;
    int GetControlProperty(FOURCHARCODE tag, char* buffer, int size) const;
    bool SetControlProperty(FOURCHARCODE tag, MSGWORD value);
    bool SetControlProperty(FOURCHARCODE tag, char const* data, int size);
    bool RemoveControlProperty(FOURCHARCODE tag);
    bool AddStyleEx(uint32_t bits);
    bool RemoveStyle(uint32_t bits);

    // Reports to the child window (user pane) or window that holds the
    // control: message WM_VCONTROL with (code, this view, data), posted.
    int SendOwnerNotification(int code, MSGWORD data);

protected:
    // An unbound object, for subclasses that create their view.
    CONTROL() = default;

    // The creating operations of the subclasses: a new control of the
    // spec's kind at (x, y, cx, cy) in the parent, owned by this object,
    // under the id. False (and unbound) when it could not be made.
    bool CreateOwned(CONTROLPARENT parent, CONTROLID const& id, plat::ControlSpec spec, int x, int y, int cx,
                     int cy);
    // The same at (0, 0) with size 16 x 16, then in the place of the
    // template control.
    bool CreateAtTemplate(CONTROLPARENT parent, CONTROLID const& id, plat::ControlSpec spec,
                          CONTROLID const& templateId);

    plat::ViewRef fControl = nullptr;
    bool fOwns = false;
    FOURCHARCODE fKind = 0;
};
