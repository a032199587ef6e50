// Inner side of the controls (platform/controls only): the adapter every
// control widget implements and the helpers that turn its signals into
// our events.
#pragma once

#include "platform/controls/controls.h"
#include "platform/events/bridge_qt.h"

#include <QString>
#include <QWidget>

namespace plat::controls {

// Every control widget derives from its Qt class and from this. The
// numbers and texts are read from and written to the widget itself; the
// program's writes run with the widget's signals blocked, so they send no
// events.
class ControlWidget : public bridge::ControlAdapter {
public:
    virtual ~ControlWidget();
    virtual QWidget* Widget() = 0;

    // Controls without numbers read 0 and ignore writes.
    int32_t Value() const override { return 0; }
    void SetValue(int32_t) override {}
    int32_t Minimum() const override { return 0; }
    void SetMinimum(int32_t) override {}
    int32_t Maximum() const override { return 0; }
    void SetMaximum(int32_t) override {}

    // Label or text; a null text without one. SetTitle returns false when
    // the control has none.
    virtual Text Title() const { return Text(); }
    virtual bool SetTitle(const Text&) { return false; }
    virtual int32_t ViewSize() const { return 0; }
    virtual void SetViewSize(int32_t) {}
    virtual int32_t Increment() const { return 0; }
    virtual void SetIncrement(int32_t) {}
    virtual bool SetIcon(IconRef icon); // keeps a reference; false when not shown
    virtual bool SetMenu(MenuRef) { return false; }

    // Called once the view exists.
    virtual void Attached() {}

    OSType kind = 0;
    ViewRef view = nullptr;
    ControlActionProc action = nullptr;
    IconRef icon = nullptr;
    MenuRef menu = nullptr; // retained
};

ControlWidget* ControlOf(ViewRef view);

QString QStr(const Text& text);
Text TextOf(const QString& text);
// Code points before the UTF-16 position `units` of s, and back.
int32_t CodePointsBefore(const QString& s, int units);
int UnitsBefore(const QString& s, int32_t codePoints);

// Events from the user's doing (see controls.h).
Status SendHit(ControlWidget* control, int16_t part);
void SendValueChanged(ControlWidget* control);
void RunAction(ControlWidget* control, int16_t part);

// Makes the widget of a control family; null for a kind the family does
// not make.
ControlWidget* CreateButton(const ControlSpec& spec);
ControlWidget* CreateTextControl(const ControlSpec& spec);
ControlWidget* CreateValueControl(const ControlSpec& spec);
ControlWidget* CreateStaticControl(const ControlSpec& spec);

// Watches the window for Return, Enter and Escape that nobody took, for
// its default and cancel buttons.
void WatchDialogKeys(QWidget* top);

} // namespace plat::controls
