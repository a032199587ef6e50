// Controls: the wrapper through which the toolkit touches a platform view.
//
// A CONTROL is light: the view handle and whether the object owns the
// view. Code builds short-lived wrappers on the stack (the event
// translation hands one to OnControlEvent and OnScrollEvent); controls the
// program creates itself are owned and disposed with their object. The
// view's kind (a four-character code such as 'push' or 'sbar') decides how
// the toolkit treats it.
//
// Main thread only.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/winevents.h"

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
constexpr FOURCHARCODE CONTROLKIND_DATABROWSER = plat::FourCC("datb");
constexpr FOURCHARCODE CONTROLKIND_COMBOBOX = plat::FourCC("cbbx");
constexpr FOURCHARCODE CONTROLKIND_POPUP = plat::FourCC("popb");
constexpr FOURCHARCODE CONTROLKIND_POPUPGROUP = plat::FourCC("pgrp");
constexpr FOURCHARCODE CONTROLKIND_SLIDER = plat::FourCC("sldr");
constexpr FOURCHARCODE CONTROLKIND_SCROLLBAR = plat::FourCC("sbar");
constexpr FOURCHARCODE CONTROLKIND_USERPANE = plat::FourCC("upan");
constexpr FOURCHARCODE CONTROLKIND_TABS = plat::FourCC("tabs");
constexpr FOURCHARCODE CONTROLKIND_LITTLEARROWS = plat::FourCC("larr");
constexpr FOURCHARCODE CONTROLKIND_TOOLBARITEM = plat::FourCC("tbiv");
constexpr FOURCHARCODE CONTROLKIND_CLIENT = plat::kViewKindContent; // 'cnvw'

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

    // Binds the view (owning it when `owns`), sets its id when given, and
    // reads its kind.
    void Init(plat::ViewRef view, bool owns, CONTROLID const* id);
    // Removes the view from its superview and disposes of it; the object is
    // unbound afterwards.
    void Destroy();

    plat::ViewRef GetControlRef() const { return fControl; }
    FOURCHARCODE GetKind() const { return fKind; }
    CONTROLID GetControlId() const;

    // The object registered under the view's "This" property.
    bool SetThisToControl();
    static bool SetThisToControlRef(plat::ViewRef view, CONTROL* object);
    static CONTROL* GetThisFromControlRef(plat::ViewRef view, bool mustExist);

protected:
    plat::ViewRef fControl = nullptr;
    bool fOwns = false;
    FOURCHARCODE fKind = 0;
};
