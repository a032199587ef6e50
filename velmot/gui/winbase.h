// The base of every top-level window, and the toolkit's message delivery.
//
// DARWINDOW owns one platform window, installs its event handler, keeps
// the toolkit's data on the window as properties (creator 'VLMT', a
// four-character tag each) and offers the toolkit's messages: a number and
// three words carried by the toolkit event to a window, a view or the
// application, posted or sent, from any thread. DeliverMessage is the one
// road by which other threads reach the main thread's windows.
//
// Threads: DeliverMessage, PostMessage, SendMessage, PostUserMessage,
// SendUserMessage and GenericAlert may be called from any thread; a thread
// that sends waits until the main thread has handled the message, or is
// told at once that the target is gone, and must hold no lock the main
// thread needs meanwhile. Everything else runs on the main thread.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/gui/winevents.h"
#include "velmot/gui/wintypes.h"

#include "platform/events/views.h"
#include "platform/events/windows.h"
#include "platform/menus/menus.h"
#include "platform/nibs/nib.h"

class DLLINTERFACE;

// The bundle whose layouts a window or menu comes from; null is the
// program's own (the layouts of Resources/nibs). A plug-in bundle's layouts
// lie in the folder "<name>/nibs" beside it in the plug-in folder.
using NIBBUNDLE = DLLINTERFACE const*;

// Window property tags of the toolkit.
constexpr FOURCHARCODE WPROP_THIS = plat::FourCC("This");    // the owning DARWINDOW
constexpr FOURCHARCODE WPROP_MENU = plat::FourCC("fMen");    // the window's menu
constexpr FOURCHARCODE WPROP_HELPID = plat::FourCC("HLPI");  // help id text with its NUL
constexpr FOURCHARCODE WPROP_STYLEEX = plat::FourCC("STYX"); // extended style bits
constexpr FOURCHARCODE WPROP_POPUP = plat::FourCC("WPOP");   // command of a tracked pop-up menu
constexpr FOURCHARCODE WPROP_ZOOM = plat::FourCC("ZO0M");    // RECT saved by the zoom box
constexpr FOURCHARCODE WPROP_FULLSCREEN = plat::FourCC("ISMX"); // 1 while full screen
constexpr FOURCHARCODE WPROP_CAPTURE = plat::FourCC("FMCV"); // the view that captured the mouse
constexpr FOURCHARCODE WPROP_SHEET = plat::FourCC("SHET");   // the document-modal sheet open on the window

// Window classes of CreateNewWindow.
constexpr uint32_t WINDOWCLASS_DOCUMENT = 6;
constexpr uint32_t WINDOWCLASS_UTILITY = 8;

// Buttons of a standard alert.
constexpr int16_t ALERTBUTTON_DEFAULT = 1;
constexpr int16_t ALERTBUTTON_CANCEL = 2;
constexpr int16_t ALERTBUTTON_OTHER = 3;

// Alert types.
constexpr int ALERTTYPE_STOP = 0;
constexpr int ALERTTYPE_NOTE = 1;
constexpr int ALERTTYPE_CAUTION = 2;

// The parameter record of a standard alert. The caller sets the button
// texts (code page 1252; null: the button is not shown; ALERTTEXT_OK():
// the platform's own OK button); GenericAlert fills in the rest.
struct ALERTPARAMS {
    int32_t version = 0;
    bool movable = false;
    bool helpButton = false;
    char const* defaultText = nullptr;
    char const* cancelText = nullptr;
    char const* otherText = nullptr;
    int16_t defaultButton = 0;
    int16_t cancelButton = 0;
    int16_t position = 0; // 0: the platform's default position
};
// The marker of the platform's standard OK text (the value -1).
inline char const* ALERTTEXT_OK()
{
    return reinterpret_cast<char const*>(~uintptr_t{0});
}

class VELMOT_EXPORT DARWINDOW : public TEventHandler {
public:
    // Wraps a window (may be null); installs nothing.
    explicit DARWINDOW(plat::WindowRef window = nullptr);
    ~DARWINDOW() override;
    // Copies the window reference; the copy has no handler of its own.
    DARWINDOW& operator=(DARWINDOW const& other);

    plat::TargetRef GetEventTarget() const override;
    plat::Status HandleEvent(plat::HandlerCall* call, TCarbonEvent& event) override = 0;
    virtual plat::PointI GetIdealSize();
    virtual plat::PointI GetMinimumSize();
    virtual plat::PointI GetMaximumSize();

    // Makes the window `name` of the bundle's layouts (with the menu bar
    // `menu` when not null) and installs the handler; the name becomes the
    // help id. 0 or the platform status.
    plat::Status InitFromResource(char const* name, char const* menu, NIBBUNDLE bundle);
    // Gives the window the menu bar `name` of the bundle's layouts and
    // associates its root menu with the window. 0 (also for a null name)
    // or the platform status.
    plat::Status CreateMenu(char const* name, NIBBUNDLE bundle);
    // The window's menu ("fMen").
    bool AssociateMenu(plat::MenuRef menu, plat::WindowRef window = nullptr);
    plat::MenuRef GetAssociatedMenu() const;
    // The layouts of a bundle: the program's own are opened once and kept
    // (CloseMainNib at clean-up); a plug-in's are opened for each use and
    // closed with ReleaseNib.
    static plat::NibRef OpenNibOf(NIBBUNDLE bundle);
    static void ReleaseNib(plat::NibRef nib, NIBBUNDLE bundle);

    // Creates a new platform window (WINDOWCLASS_*; `bounds` is the content
    // area in screen coordinates) and installs the handler. 0 or the
    // platform status.
    plat::Status CreateNewWindow(uint32_t windowClass, uint32_t attributes, RECT const* bounds, char const* helpid);
    // Registers the window's event types on this object's handler, stores
    // "This" and installs the content view's draw handler.
    plat::Status InitWithHandler(plat::WindowRef window);
    // Disposes of the platform window (its dispose event reaches the
    // callbacks); 1, or 0 without a window.
    virtual int Destroy();
    // Forgets the window once it has been destroyed.
    void SourceWindowDispose();

    plat::WindowRef GetWindow() const { return fWindow; }

    // Properties under the creator 'VLMT'. A pointer-sized value reads as 0
    // when absent.
    MSGWORD GetWindowProperty(FOURCHARCODE tag) const;
    int GetWindowProperty(FOURCHARCODE tag, char* buffer, int size) const;
    bool SetWindowProperty(FOURCHARCODE tag, MSGWORD value, plat::WindowRef window = nullptr);
    bool SetWindowProperty(FOURCHARCODE tag, char const* data, int size, plat::WindowRef window = nullptr);
    static DARWINDOW* GetThisFromWindowRef(plat::WindowRef window);
    bool SetHelpId(char const* id);
    bool AddStyleEx(uint32_t bits);
    // The window's client view (the first subview of kind 'cnvw' of the
    // root view); reported and null when there is none.
    plat::ViewRef GetClientView() const;

    // Delivers a toolkit message to a window, else a view, else the
    // application. Without `wait` the message is posted and 0 returned.
    // With `wait` the receiver's result comes back; from another thread a
    // target that is gone, or has no toolkit handler, gives 0 at once, and
    // one that goes away before the message is handled gives 0 then.
    static MSGWORD DeliverMessage(bool wait, plat::WindowRef window, plat::ViewRef view, uint32_t msg, MSGWORD p1,
                                  MSGWORD p2, MSGWORD p3);
    static MSGWORD PostMessage(plat::WindowRef window, uint32_t msg, MSGWORD p1, MSGWORD p2, MSGWORD p3);
    static MSGWORD PostMessage(plat::ViewRef view, uint32_t msg, MSGWORD p1, MSGWORD p2, MSGWORD p3);
    static MSGWORD SendMessage(plat::WindowRef window, uint32_t msg, MSGWORD p1, MSGWORD p2, MSGWORD p3);
    static MSGWORD SendMessage(plat::ViewRef view, uint32_t msg, MSGWORD p1, MSGWORD p2, MSGWORD p3);
    // The application's own messages (WM_USERFIRST to WM_USERLAST) to this
    // window; another number is reported and delivered all the same.
    MSGWORD PostUserMessage(int msg, MSGWORD p1, MSGWORD p2) const;
    MSGWORD SendUserMessage(int msg, MSGWORD p1, MSGWORD p2) const;

    // Runs a standard alert on the main thread and returns the button
    // number (ALERTBUTTON_*), or -1 when it could not be shown. The text is
    // the title (null: "<no title>"), a line feed and `text` prepared for
    // the alert. From another thread the alert is carried to the main
    // thread (message WM_GENERICALERT to `window`, or to the application)
    // and waited for; 0 when nobody there could take it.
    static int16_t GenericAlert(plat::WindowRef window, char const* title, char const* text, int type,
                                ALERTPARAMS* params);
    // The alert itself: the text before the first line feed is the
    // message, the rest the explanation. Main thread.
    static int16_t GenericAlertCore(int type, char const* text, ALERTPARAMS const* params);
    // Joins the hard line breaks of running text so the alert can flow it
    // (a text starting with "##NOWRAP##\r" keeps its breaks).
    static STRING WrapAlertText(char const* text);

protected:
    plat::WindowRef fWindow = nullptr;
    bool fDisposed = false;   // the object has given up its window
    bool fHandlerSet = false; // events registered and "This" stored
    plat::HandlerRef fContentDrawHandler = nullptr;
};
