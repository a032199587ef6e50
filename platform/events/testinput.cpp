// Test input through Qt's window-system interface: the events enter where
// the xcb platform's own enter, and are dispatched before a call returns.
#include "platform/events/testinput.h"

#include "platform/events/bridge_qt.h"
#include "platform/events/keys.h"
#include "platform/events/queue.h"
#include "platform/events/timers.h"

#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QPointer>
#include <QStringDecoder>
#include <QStyleHints>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

#include <algorithm>
#include <optional>

namespace plat::testinput {
namespace {

// X modifier state bits, as the xcb platform hands them on.
constexpr uint32_t kXShift = 0x1;
constexpr uint32_t kXLock = 0x2;
constexpr uint32_t kXControl = 0x4;
constexpr uint32_t kXMod1 = 0x8;  // Alt
constexpr uint32_t kXMod2 = 0x10; // Num Lock
constexpr uint32_t kXMod4 = 0x40; // Super

struct Input {
    Qt::MouseButtons held;
    ulong clock = 0;
    ulong lastPress = 0;
};

Input& State()
{
    static Input input;
    return input;
}

// Time stamps: steps of a gesture are close together; a new gesture starts
// beyond the double-click interval after the last press.
ulong Tick(ulong step = 10)
{
    Input& in = State();
    in.clock = std::max<ulong>(in.clock + step, static_cast<ulong>(NowMs()));
    return in.clock;
}

ulong NewGesture()
{
    Input& in = State();
    const auto interval = static_cast<ulong>(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    in.clock = std::max<ulong>(in.clock, in.lastPress + interval + 1);
    return Tick();
}

Qt::KeyboardModifiers QtModifiers(uint32_t mods)
{
    Qt::KeyboardModifiers q;
    if (mods & kModShift)
        q |= Qt::ShiftModifier;
    if (mods & kModControl)
        q |= Qt::ControlModifier;
    if (mods & kModOption)
        q |= Qt::AltModifier;
    if (mods & kModCommand)
        q |= Qt::MetaModifier;
    return q;
}

uint32_t XModifiers(uint32_t mods)
{
    uint32_t x = 0;
    if (mods & kModShift)
        x |= kXShift;
    if (mods & kModCapsLock)
        x |= kXLock;
    if (mods & kModControl)
        x |= kXControl;
    if (mods & kModOption)
        x |= kXMod1;
    if (mods & kModNumLock)
        x |= kXMod2;
    if (mods & kModCommand)
        x |= kXMod4;
    return x;
}

Qt::MouseButton QtButton(Button b)
{
    switch (b) {
    case Button::Right:
        return Qt::RightButton;
    case Button::Middle:
        return Qt::MiddleButton;
    default:
        return Qt::LeftButton;
    }
}

// The shown top-level widget of a window, or null.
QWidget* ShownTop(WindowRef window)
{
    QWidget* top = bridge::WidgetOfWindow(window);
    return top && top->isVisible() && top->windowHandle() ? top : nullptr;
}

Status Check(WindowRef window, QWidget** top)
{
    if (!CheckMainThread("testinput"))
        return kErrWrongThread;
    if (!IsWindowValid(window))
        return kErrTargetGone;
    *top = ShownTop(window);
    return *top ? kNoErr : kErrBadArgument;
}

// Where a point of a view lies in its window, and on the screen.
struct Place {
    QWindow* window = nullptr;
    QPointF local;
    QPointF global;
};

Status Locate(ViewRef view, PointI at, Place* place)
{
    if (!CheckMainThread("testinput"))
        return kErrWrongThread;
    QWidget* w = bridge::WidgetOfView(view);
    if (!w || !IsViewValid(view))
        return kErrTargetGone;
    QWidget* top = ShownTop(GetViewWindow(view));
    if (!top)
        return kErrBadArgument;
    const QPoint local = w->mapTo(top, QPoint(at.x, at.y));
    place->window = top->windowHandle();
    place->local = QPointF(local);
    place->global = QPointF(top->mapToGlobal(local));
    return kNoErr;
}

Status SendMouse(ViewRef view, PointI at, QEvent::Type type, Qt::MouseButton button, uint32_t mods, ulong time)
{
    Place p;
    if (Status s = Locate(view, at, &p))
        return s;
    Input& in = State();
    if (type == QEvent::MouseButtonPress) {
        in.held |= button;
        in.lastPress = time;
    } else if (type == QEvent::MouseButtonRelease) {
        in.held &= ~Qt::MouseButtons(button);
    }
    QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::SynchronousDelivery>(
        p.window, time, p.local, p.global, in.held, button, type, QtModifiers(mods));
    return kNoErr;
}

// One key of the US keyboard.
struct KeyDef {
    uint32_t vk;
    uint16_t scan; // (prefix << 8) | code
    int qtKey;     // for keys that type no printable character
    char normal;   // the character it types, 0 for none
    char shifted;
    bool keypad;
};

constexpr uint16_t E0(uint8_t code)
{
    return static_cast<uint16_t>(0xE000 | code);
}

constexpr KeyDef kSpecialKeys[] = {
    {kVkEscape, 0x01, Qt::Key_Escape, 0, 0, false},
    {kVkBack, 0x0E, Qt::Key_Backspace, 0, 0, false},
    {kVkTab, 0x0F, Qt::Key_Tab, 0, 0, false},
    {kVkReturn, 0x1C, Qt::Key_Return, 0, 0, false},
    {kVkControl, 0x1D, Qt::Key_Control, 0, 0, false},
    {kVkRControl, E0(0x1D), Qt::Key_Control, 0, 0, false},
    {kVkShift, 0x2A, Qt::Key_Shift, 0, 0, false},
    {kVkRShift, 0x36, Qt::Key_Shift, 0, 0, false},
    {kVkMenu, 0x38, Qt::Key_Alt, 0, 0, false},
    {kVkRMenu, E0(0x38), Qt::Key_Alt, 0, 0, false},
    {kVkLWin, E0(0x5B), Qt::Key_Super_L, 0, 0, false},
    {kVkRWin, E0(0x5C), Qt::Key_Super_R, 0, 0, false},
    {kVkApps, E0(0x5D), Qt::Key_Menu, 0, 0, false},
    {kVkCapital, 0x3A, Qt::Key_CapsLock, 0, 0, false},
    {kVkNumLock, 0x45, Qt::Key_NumLock, 0, 0, false},
    {kVkScroll, 0x46, Qt::Key_ScrollLock, 0, 0, false},
    {kVkPause, 0xE145, Qt::Key_Pause, 0, 0, false},
    {kVkSnapshot, E0(0x37), Qt::Key_Print, 0, 0, false},
    {kVkInsert, E0(0x52), Qt::Key_Insert, 0, 0, false},
    {kVkDelete, E0(0x53), Qt::Key_Delete, 0, 0, false},
    {kVkHome, E0(0x47), Qt::Key_Home, 0, 0, false},
    {kVkEnd, E0(0x4F), Qt::Key_End, 0, 0, false},
    {kVkPrior, E0(0x49), Qt::Key_PageUp, 0, 0, false},
    {kVkNext, E0(0x51), Qt::Key_PageDown, 0, 0, false},
    {kVkLeft, E0(0x4B), Qt::Key_Left, 0, 0, false},
    {kVkUp, E0(0x48), Qt::Key_Up, 0, 0, false},
    {kVkRight, E0(0x4D), Qt::Key_Right, 0, 0, false},
    {kVkDown, E0(0x50), Qt::Key_Down, 0, 0, false},
    {kVkMultiply, 0x37, 0, '*', '*', true},
    {kVkAdd, 0x4E, 0, '+', '+', true},
    {kVkSubtract, 0x4A, 0, '-', '-', true},
    {kVkDecimal, 0x53, 0, '.', '.', true},
    {kVkDivide, E0(0x35), 0, '/', '/', true},
};

// The printable keys: their set-1 codes and what they type, unshifted and
// shifted.
constexpr struct {
    uint16_t scan;
    uint32_t vk;
    char normal, shifted;
} kPrintable[] = {
    {0x02, '1', '1', '!'}, {0x03, '2', '2', '@'}, {0x04, '3', '3', '#'}, {0x05, '4', '4', '$'},
    {0x06, '5', '5', '%'}, {0x07, '6', '6', '^'}, {0x08, '7', '7', '&'}, {0x09, '8', '8', '*'},
    {0x0A, '9', '9', '('}, {0x0B, '0', '0', ')'}, {0x0C, kVkOemMinus, '-', '_'}, {0x0D, kVkOemPlus, '=', '+'},
    {0x1A, kVkOem4, '[', '{'}, {0x1B, kVkOem6, ']', '}'}, {0x27, kVkOem1, ';', ':'}, {0x28, kVkOem7, '\'', '"'},
    {0x29, kVkOem3, '`', '~'}, {0x2B, kVkOem5, '\\', '|'}, {0x33, kVkOemComma, ',', '<'},
    {0x34, kVkOemPeriod, '.', '>'}, {0x35, kVkOem2, '/', '?'}, {0x39, kVkSpace, ' ', ' '},
};

constexpr char kLetterRows[][11] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
constexpr uint16_t kLetterRowStart[] = {0x10, 0x1E, 0x2C};

std::optional<KeyDef> FindKey(uint32_t vk)
{
    if (vk >= 'A' && vk <= 'Z') {
        const char lower = static_cast<char>(vk - 'A' + 'a');
        for (int row = 0; row < 3; ++row)
            for (int i = 0; kLetterRows[row][i]; ++i)
                if (kLetterRows[row][i] == lower)
                    return KeyDef{vk, static_cast<uint16_t>(kLetterRowStart[row] + i), 0, lower,
                                  static_cast<char>(vk), false};
    }
    for (const auto& p : kPrintable)
        if (p.vk == vk)
            return KeyDef{vk, p.scan, 0, p.normal, p.shifted, false};
    if (vk >= kVkF1 && vk < kVkF1 + 12) {
        const uint32_t n = vk - kVkF1;
        const auto scan = static_cast<uint16_t>(n < 10 ? 0x3B + n : 0x57 + (n - 10));
        return KeyDef{vk, scan, static_cast<int>(Qt::Key_F1 + n), 0, 0, false};
    }
    if (vk >= kVkNumpad0 && vk <= kVkNumpad0 + 9) {
        constexpr uint16_t kPad[] = {0x52, 0x4F, 0x50, 0x51, 0x4B, 0x4C, 0x4D, 0x47, 0x48, 0x49};
        const char digit = static_cast<char>('0' + (vk - kVkNumpad0));
        return KeyDef{vk, kPad[vk - kVkNumpad0], 0, digit, digit, true};
    }
    for (const KeyDef& k : kSpecialKeys)
        if (k.vk == vk)
            return k;
    return std::nullopt;
}

// The key and shift state that type an ASCII character on this keyboard.
std::optional<KeyDef> KeyForChar(char32_t c, bool* shift)
{
    if (c >= 'a' && c <= 'z') {
        *shift = false;
        return FindKey(static_cast<uint32_t>(c - 'a' + 'A'));
    }
    if (c >= 'A' && c <= 'Z') {
        *shift = true;
        return FindKey(static_cast<uint32_t>(c));
    }
    for (const auto& p : kPrintable) {
        if (static_cast<char32_t>(p.normal) == c || static_cast<char32_t>(p.shifted) == c) {
            *shift = static_cast<char32_t>(p.normal) != c;
            return FindKey(p.vk);
        }
    }
    *shift = false;
    switch (c) {
    case U'\n':
    case U'\r':
        return FindKey(kVkReturn);
    case U'\t':
        return FindKey(kVkTab);
    default:
        return std::nullopt;
    }
}

// The modifier bit a modifier key holds down, 0 for other keys.
uint32_t OwnModifier(uint32_t vk)
{
    switch (vk) {
    case kVkShift:
    case kVkRShift:
        return kModShift;
    case kVkControl:
    case kVkRControl:
        return kModControl;
    case kVkMenu:
    case kVkRMenu:
        return kModOption;
    case kVkLWin:
    case kVkRWin:
        return kModCommand;
    default:
        return 0;
    }
}

int QtKeyForChar(char32_t c)
{
    if (c >= 'a' && c <= 'z')
        return static_cast<int>(c - 'a' + Qt::Key_A);
    if (c < 0x80)
        return static_cast<int>(c);
    const char32_t upper = QChar::toUpper(c);
    return upper <= 0xFF ? static_cast<int>(upper) : 0;
}

// Key events go to `top` as long as it lives (a key may close its window).
void SendKey(const QPointer<QWidget>& top, QEvent::Type type, int qtKey, uint32_t mods, uint32_t native, uint32_t keysym,
             const QString& text, bool repeat, bool keypad)
{
    if (!top || !top->windowHandle())
        return;
    Qt::KeyboardModifiers q = QtModifiers(mods);
    if (keypad)
        q |= Qt::KeypadModifier;
    QWindowSystemInterface::handleExtendedKeyEvent(top->windowHandle(), Tick(), type, qtKey, q, native, keysym,
                                                   XModifiers(mods), text, repeat, 1);
    QWindowSystemInterface::flushWindowSystemEvents();
}

void SendKeyDef(const QPointer<QWidget>& top, const KeyDef& k, QEvent::Type type, uint32_t mods, bool repeat)
{
    const uint32_t own = OwnModifier(k.vk);
    if (type == QEvent::KeyRelease)
        mods &= ~own;
    else
        mods |= own;
    const uint32_t evdev = ScanToEvdev(k.scan);
    const uint32_t native = evdev ? evdev + 8 : 0;
    int qtKey = k.qtKey;
    QString text;
    uint32_t keysym = 0;
    if (k.normal) {
        bool upper = (mods & kModShift) != 0;
        if (k.normal >= 'a' && k.normal <= 'z' && (mods & kModCapsLock))
            upper = !upper;
        const char c = upper ? k.shifted : k.normal;
        qtKey = QtKeyForChar(static_cast<unsigned char>(c));
        keysym = static_cast<unsigned char>(c);
        // X types control characters for Ctrl and a letter.
        if ((mods & kModControl) && c >= 'a' && c <= 'z')
            text = QChar(static_cast<char16_t>(c - 'a' + 1));
        else if ((mods & kModControl) && c >= 'A' && c <= 'Z')
            text = QChar(static_cast<char16_t>(c - 'A' + 1));
        else
            text = QChar(static_cast<char16_t>(static_cast<unsigned char>(c)));
    } else if (k.vk == kVkTab && (mods & kModShift)) {
        qtKey = Qt::Key_Backtab;
    } else if (k.vk == kVkReturn || k.vk == kVkTab || k.vk == kVkBack || k.vk == kVkEscape) {
        text = QChar(static_cast<char16_t>(k.vk));
    }
    SendKey(top, type, qtKey, mods, native, keysym, text, repeat, k.keypad);
}

Status OneKey(WindowRef window, uint32_t vk, uint32_t mods, QEvent::Type type, bool repeat)
{
    QWidget* top = nullptr;
    if (Status s = Check(window, &top))
        return s;
    std::optional<KeyDef> k = FindKey(vk);
    if (!k)
        return kErrBadArgument;
    SendKeyDef(top, *k, type, mods, repeat);
    return kNoErr;
}

// The modifier keys PressKey holds, in the order they go down.
constexpr struct {
    uint32_t bit;
    uint32_t vk;
} kModifierKeys[] = {
    {kModControl, kVkControl}, {kModOption, kVkMenu}, {kModShift, kVkShift}, {kModCommand, kVkLWin}};

// Presses `k` with the modifier keys of `mods` held around it.
void PressWithModifiers(const QPointer<QWidget>& top, const KeyDef& k, uint32_t mods)
{
    const uint32_t locks = mods & (kModCapsLock | kModNumLock);
    uint32_t held = locks;
    for (const auto& m : kModifierKeys) {
        if (!(mods & m.bit))
            continue;
        SendKeyDef(top, *FindKey(m.vk), QEvent::KeyPress, held, false);
        held |= m.bit;
    }
    SendKeyDef(top, k, QEvent::KeyPress, held, false);
    SendKeyDef(top, k, QEvent::KeyRelease, held, false);
    for (auto it = std::rbegin(kModifierKeys); it != std::rend(kModifierKeys); ++it) {
        if (!(mods & it->bit))
            continue;
        SendKeyDef(top, *FindKey(it->vk), QEvent::KeyRelease, held, false);
        held &= ~it->bit;
    }
}

// The shown window and the text of a text call.
Status CheckText(WindowRef window, std::string_view utf8, QWidget** top, QString* text)
{
    if (Status s = Check(window, top))
        return s;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = decoder(QByteArrayView(utf8.data(), static_cast<qsizetype>(utf8.size())));
    return decoder.hasError() ? kErrBadArgument : kNoErr;
}

} // namespace

Status MouseDown(ViewRef view, PointI at, Button button, uint32_t modifiers)
{
    const ulong time = State().held ? Tick() : NewGesture();
    return SendMouse(view, at, QEvent::MouseButtonPress, QtButton(button), modifiers, time);
}

Status MouseUp(ViewRef view, PointI at, Button button, uint32_t modifiers)
{
    return SendMouse(view, at, QEvent::MouseButtonRelease, QtButton(button), modifiers, Tick());
}

Status MouseMove(ViewRef view, PointI at, uint32_t modifiers)
{
    return SendMouse(view, at, QEvent::MouseMove, Qt::NoButton, modifiers, Tick());
}

Status Click(ViewRef view, PointI at, Button button, uint32_t modifiers)
{
    if (Status s = MouseDown(view, at, button, modifiers))
        return s;
    return MouseUp(view, at, button, modifiers);
}

Status DoubleClick(ViewRef view, PointI at, Button button, uint32_t modifiers)
{
    if (Status s = Click(view, at, button, modifiers))
        return s;
    const Qt::MouseButton b = QtButton(button);
    if (Status s = SendMouse(view, at, QEvent::MouseButtonPress, b, modifiers, Tick()))
        return s;
    return SendMouse(view, at, QEvent::MouseButtonRelease, b, modifiers, Tick());
}

Status Drag(ViewRef view, PointI from, PointI to, Button button, uint32_t modifiers, int steps)
{
    if (Status s = MouseDown(view, from, button, modifiers))
        return s;
    steps = std::max(1, steps);
    for (int i = 1; i <= steps; ++i) {
        const PointI p{from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps};
        if (Status s = MouseMove(view, p, modifiers))
            return s;
    }
    return MouseUp(view, to, button, modifiers);
}

Status Wheel(ViewRef view, PointI at, int notches, bool horizontal, uint32_t modifiers)
{
    return WheelFine(view, at, notches * 120, horizontal, modifiers);
}

Status WheelFine(ViewRef view, PointI at, int eighths, bool horizontal, uint32_t modifiers)
{
    Place p;
    if (Status s = Locate(view, at, &p))
        return s;
    const QPoint angle = horizontal ? QPoint(eighths, 0) : QPoint(0, eighths);
    QWindowSystemInterface::handleWheelEvent(p.window, Tick(), p.local, p.global, QPoint(), angle,
                                             QtModifiers(modifiers));
    QWindowSystemInterface::flushWindowSystemEvents();
    return kNoErr;
}

Status KeyDown(WindowRef window, uint32_t vk, uint32_t modifiers)
{
    return OneKey(window, vk, modifiers, QEvent::KeyPress, false);
}

Status KeyRepeat(WindowRef window, uint32_t vk, uint32_t modifiers)
{
    return OneKey(window, vk, modifiers, QEvent::KeyPress, true);
}

Status KeyUp(WindowRef window, uint32_t vk, uint32_t modifiers)
{
    return OneKey(window, vk, modifiers, QEvent::KeyRelease, false);
}

Status PressKey(WindowRef window, uint32_t vk, uint32_t modifiers)
{
    QWidget* top = nullptr;
    if (Status s = Check(window, &top))
        return s;
    std::optional<KeyDef> k = FindKey(vk);
    if (!k)
        return kErrBadArgument;
    PressWithModifiers(top, *k, modifiers);
    return kNoErr;
}

Status TypeText(WindowRef window, std::string_view utf8)
{
    QWidget* shown = nullptr;
    QString text;
    if (Status s = CheckText(window, utf8, &shown, &text))
        return s;
    for (char32_t c : text.toUcs4()) {
        // The window may go away while it takes the text.
        const QPointer<QWidget> top = ShownTop(window);
        if (!top)
            return kErrTargetGone;
        bool shift = false;
        if (std::optional<KeyDef> k = KeyForChar(c, &shift)) {
            PressWithModifiers(top, *k, shift ? kModShift : 0);
            continue;
        }
        const QString one = QString::fromUcs4(&c, 1);
        const int qtKey = QtKeyForChar(c);
        SendKey(top, QEvent::KeyPress, qtKey, 0, 0, 0, one, false, false);
        SendKey(top, QEvent::KeyRelease, qtKey, 0, 0, 0, one, false, false);
    }
    return kNoErr;
}

Status CommitText(WindowRef window, std::string_view utf8)
{
    QWidget* top = nullptr;
    QString text;
    if (Status s = CheckText(window, utf8, &top, &text))
        return s;
    QObject* focus = top->windowHandle()->focusObject();
    if (!focus)
        focus = top;
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(focus, &event);
    return kNoErr;
}

Status ClickCloseBox(WindowRef window)
{
    QWidget* top = nullptr;
    if (Status s = Check(window, &top))
        return s;
    QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(top->windowHandle());
    return kNoErr;
}

} // namespace plat::testinput
