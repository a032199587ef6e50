#include "velmot/gui/winbase.h"

#include "velmot/core/dllinterface.h"
#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/unicode.h"
#include "velmot/gui/winicons.h"

#include "platform/events/modal.h"
#include "platform/services/folders.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <strings.h>
#include <string>
#include <vector>

namespace {

constexpr plat::EventType kWindowEventTypes[] = {
    {plat::FourCC("eppc"), 1},
    {plat::FourCC("appl"), 1}, {plat::FourCC("appl"), 2}, {plat::FourCC("appl"), 3},
    {plat::FourCC("appl"), 20}, {plat::FourCC("appl"), 107}, {plat::FourCC("appl"), 108},
    {plat::kEventClassCommand, 1}, {plat::kEventClassCommand, 2},
    {plat::kEventClassWindow, 1004}, {plat::kEventClassWindow, 1002}, {plat::kEventClassWindow, 67},
    {plat::kEventClassWindow, 70}, {plat::kEventClassWindow, 75}, {plat::kEventClassWindow, 76},
    {plat::kEventClassWindow, 2}, {plat::kEventClassWindow, 26}, {plat::kEventClassWindow, 27},
    {plat::kEventClassWindow, 241}, {plat::kEventClassWindow, 242}, {plat::kEventClassWindow, 243},
    {plat::kEventClassWindow, 244}, {plat::kEventClassWindow, 200}, {plat::kEventClassWindow, 201},
    {plat::kEventClassWindow, 24}, {plat::kEventClassWindow, 25}, {plat::kEventClassWindow, 1005},
    {plat::kEventClassWindow, 72}, {plat::kEventClassWindow, 5}, {plat::kEventClassWindow, 6},
    {plat::kEventClassWindow, 80}, {plat::kEventClassWindow, 81}, {plat::kEventClassWindow, 82},
    {plat::kEventClassWindow, 85},
};
static_assert(std::size(kWindowEventTypes) == 34);

constexpr plat::EventType kContentDrawType{plat::kEventClassControl, plat::kEventControlDraw};

// The resizable bit of the window attributes; a window without it keeps
// its size.
constexpr uint32_t kWindowAttrResizable = 0x10;

bool IsValidUtf8(std::string const& s)
{
    size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (more < 0 || (more == 1 && c < 0xC2) || s.size() - i <= static_cast<size_t>(more))
            return false;
        for (int k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(s[i + static_cast<size_t>(k)]) & 0xC0) != 0x80)
                return false;
        i += static_cast<size_t>(more) + 1;
    }
    return true;
}

// Alert texts are the library's byte strings: UTF-8 when they are valid
// UTF-8, code page 1252 otherwise.
std::string ToUtf8(std::string const& s)
{
    if (IsValidUtf8(s))
        return s;
    UNICODE* uc = UNICODE::GetInstance();
    std::string out;
    for (char byte : s) {
        auto c = static_cast<uint32_t>(uc->FromCodepage(byte, 1252));
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// The platform's line ends: the alert texts of the library break lines
// with CR (and CR LF); the window system expects LF.
std::string ToLineFeeds(std::string s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out.push_back('\n');
            if (i + 1 < s.size() && s[i + 1] == '\n')
                ++i;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

} // namespace

DARWINDOW::DARWINDOW(plat::WindowRef window) : fWindow(window) {}

DARWINDOW::~DARWINDOW()
{
    SourceWindowDispose();
}

DARWINDOW& DARWINDOW::operator=(DARWINDOW const& other)
{
    if (this != &other) {
        fWindow = other.fWindow;
        fDisposed = false;
        fHandlerSet = false;
    }
    return *this;
}

plat::TargetRef DARWINDOW::GetEventTarget() const
{
    return plat::WindowTarget(fWindow);
}

plat::PointI DARWINDOW::GetIdealSize()
{
    return plat::PointI{};
}

plat::PointI DARWINDOW::GetMinimumSize()
{
    return plat::PointI{};
}

plat::PointI DARWINDOW::GetMaximumSize()
{
    return plat::PointI{};
}

plat::NibRef DARWINDOW::OpenNibOf(NIBBUNDLE bundle)
{
    if (!bundle) {
        plat::NibRef nib = plat::OpenMainNib();
        if (nib)
            TARVOAPP::SetCleanupFunction(TARVOAPP::CLEANUP_MAINNIB, &plat::CloseMainNib);
        return nib;
    }
    std::string module = bundle->ModuleName();
    for (char const* ending : {".so", ".dll"}) {
        size_t const n = std::strlen(ending);
        if (module.size() > n && strcasecmp(module.c_str() + module.size() - n, ending) == 0)
            module.resize(module.size() - n);
    }
    plat::NibRef nib = module.empty() ? nullptr : plat::OpenNib(plat::PlugInsFolder() + "/" + module + "/nibs");
    if (!nib) {
        VerifyFailed("err == 0 ", __FILE__, __LINE__, plat::kErrParamNotFound);
        AssertMsg(0, "nib2.IsValid()", __FILE__, __LINE__, nullptr, false);
    }
    return nib;
}

void DARWINDOW::ReleaseNib(plat::NibRef nib, NIBBUNDLE bundle)
{
    if (bundle && nib)
        plat::CloseNib(nib);
}

plat::Status DARWINDOW::InitFromResource(char const* name, char const* menu, NIBBUNDLE bundle)
{
    TARVOAPP::CheckCallerThread("DARWINDOW::InitFromResource");
    plat::NibRef nib = OpenNibOf(bundle);
    if (!nib)
        return plat::kErrParamNotFound;
    // Layouts name their icons by id: the icon table is loaded first.
    ICONMAP::GetInstance();
    plat::WindowRef window = nullptr;
    plat::Status err = plat::CreateWindowFromNib(nib, name ? name : "", &window);
    ReleaseNib(nib, bundle);
    if (!VERIFYSTATUS("err == 0 ", err))
        return err;
    VERIFYSTATUS("err == 0 ", InitWithHandler(window));
    if (menu) {
        plat::Status menuErr = CreateMenu(menu, bundle);
        if (VERIFYSTATUS("err == 0 ", menuErr) == false)
            err = menuErr;
    }
    SetHelpId(name);
    return err;
}

plat::Status DARWINDOW::CreateMenu(char const* name, NIBBUNDLE bundle)
{
    TARVOAPP::CheckCallerThread("DARWINDOW::CreateMenu");
    LOGIT("DARWINDOW::CreateMenu %s, bundle= %p\n", name ? name : "", static_cast<void const*>(bundle));
    if (!name)
        return plat::kNoErr;
    plat::NibRef nib = OpenNibOf(bundle);
    if (!nib)
        return plat::kErrParamNotFound;
    plat::MenuRef root = nullptr;
    plat::Status err = plat::CreateMenuBarFromNib(nib, name, &root);
    ReleaseNib(nib, bundle);
    if (err == plat::kNoErr)
        err = plat::SetWindowMenuBar(fWindow, root);
    if (err != plat::kNoErr) {
        LOGIT("DARWINDOW::CreateMenu failed with err= %d\n", static_cast<int>(err));
        VerifyFailed("err == 0 ", __FILE__, __LINE__, err);
        if (root)
            plat::ReleaseMenu(root);
        return err;
    }
    VASSERT(fWindow != nullptr, "this->fWindow", nullptr);
    AssociateMenu(root, fWindow);
    // The window's menu bar holds the root menu now.
    plat::ReleaseMenu(root);
    return plat::kNoErr;
}

bool DARWINDOW::AssociateMenu(plat::MenuRef menu, plat::WindowRef window)
{
    return SetWindowProperty(WPROP_MENU, reinterpret_cast<MSGWORD>(menu), window);
}

plat::MenuRef DARWINDOW::GetAssociatedMenu() const
{
    return reinterpret_cast<plat::MenuRef>(GetWindowProperty(WPROP_MENU));
}

plat::Status DARWINDOW::CreateNewWindow(uint32_t windowClass, uint32_t attributes, RECT const* bounds,
                                        char const* helpid)
{
    TARVOAPP::CheckCallerThread("DARWINDOW::CreateNewWindow");
    LOGIT("DARWINDOW::CreateNewWindow\n");
    plat::WindowSpec spec;
    spec.windowClass = windowClass == WINDOWCLASS_UTILITY ? plat::WindowClass::Utility : plat::WindowClass::Document;
    spec.attributes = (attributes & kWindowAttrResizable) ? 0 : plat::kWindowAttrNoResize;
    if (bounds)
        spec.bounds = plat::RectI{bounds->left, bounds->top, bounds->right, bounds->bottom};
    plat::Status err = plat::kErrBadArgument;
    if (plat::WindowRef window = plat::CreateWindow(spec)) {
        err = InitWithHandler(window);
        // The scale is the window system's business here; the lines keep
        // the log's shape.
        LOGIT("DARWINDOW::CreateNewWindow HIWindowGetScaleMode shows scalemode= %d, scalefactor= %lf\n", 0, 1.0);
        LOGIT("DARWINDOW::CreateNewWindow HIGetScaleFactor scalefactor= %lf\n", 1.0);
        if (helpid)
            SetWindowProperty(WPROP_HELPID, helpid, static_cast<int>(std::strlen(helpid)) + 1);
    } else {
        VERIFYSTATUS("err == 0 ", err);
    }
    LOGIT("DARWINDOW::CreateNewWindow done,e err= %d\n", static_cast<int>(err));
    return err;
}

plat::Status DARWINDOW::InitWithHandler(plat::WindowRef window)
{
    TARVOAPP::CheckCallerThread("DARWINDOW::InitWithHandler");
    LOGIT("DARWINDOW::InitWithHandler\n");
    VASSERT(window != nullptr, "fwindow!=NULL", nullptr);
    fWindow = window;
    plat::Status err = RegisterForEvents(std::size(kWindowEventTypes), kWindowEventTypes);
    if (VERIFYSTATUS("err == 0 ", err)) {
        DARWINDOW* self = this;
        if (SetWindowProperty(WPROP_THIS, reinterpret_cast<MSGWORD>(self)))
            fHandlerSet = true;
    }
    plat::ViewRef content = plat::WindowContentView(window);
    if (!content) {
        err = plat::kErrTargetGone;
    } else {
        if (fContentDrawHandler)
            plat::RemoveHandler(fContentDrawHandler);
        fContentDrawHandler = plat::InstallHandler(plat::ViewTarget(content), {&kContentDrawType, 1},
                                                   [this](plat::HandlerCall& call, plat::Event& e) {
                                                       HOLD hold(*this);
                                                       TCarbonEvent event(e);
                                                       return HandleEvent(&call, event);
                                                   });
        err = fContentDrawHandler ? plat::kNoErr : plat::kErrTargetGone;
    }
    LOGIT("DARWINDOW::InitWithHandler done\n");
    return err;
}

int DARWINDOW::Destroy()
{
    TARVOAPP::CheckCallerThread("DARWINDOW::Destroy");
    if (!fWindow)
        return 0;
    if (fContentDrawHandler) {
        plat::Status err = plat::RemoveHandler(fContentDrawHandler);
        if (err != plat::kErrTargetGone)
            VERIFYSTATUS("err == 0 ", err);
        fContentDrawHandler = nullptr;
    }
    plat::DisposeWindow(fWindow);
    return 1;
}

void DARWINDOW::SourceWindowDispose()
{
    if (fDisposed)
        return;
    if (fHandlerSet && plat::IsWindowValid(fWindow)) {
        AssertMsg(0, "!::IsValidWindowPtr(this->fWindow)", __FILE__, __LINE__, nullptr, false);
        // The window outlives this object: nothing on it may lead back here.
        plat::RemoveWindowProperty(fWindow, VLMT_CREATOR, WPROP_THIS);
    }
    if (fContentDrawHandler) {
        plat::RemoveHandler(fContentDrawHandler);
        fContentDrawHandler = nullptr;
    }
    RemoveEventHandler();
    fWindow = nullptr;
    fDisposed = true;
}

MSGWORD DARWINDOW::GetWindowProperty(FOURCHARCODE tag) const
{
    TARVOAPP::CheckCallerThread("DARWINDOW::GetWindowProperty");
    MSGWORD value = 0;
    size_t size = 0;
    if (plat::GetWindowProperty(fWindow, VLMT_CREATOR, tag, &value, sizeof value, &size) != plat::kNoErr)
        return 0;
    if (size < sizeof value) {
        // A shorter value (a 32-bit one) is read into the low bytes only.
        MSGWORD shorter = 0;
        plat::GetWindowProperty(fWindow, VLMT_CREATOR, tag, &shorter, size);
        value = shorter;
    }
    return value;
}

int DARWINDOW::GetWindowProperty(FOURCHARCODE tag, char* buffer, int size) const
{
    TARVOAPP::CheckCallerThread("DARWINDOW::GetWindowProperty");
    if (!buffer || size <= 0)
        return 0;
    size_t actual = 0;
    if (plat::GetWindowProperty(fWindow, VLMT_CREATOR, tag, buffer, static_cast<size_t>(size), &actual) !=
        plat::kNoErr)
        return 0;
    return static_cast<int>(std::min(actual, static_cast<size_t>(size)));
}

bool DARWINDOW::SetWindowProperty(FOURCHARCODE tag, MSGWORD value, plat::WindowRef window)
{
    TARVOAPP::CheckCallerThread("DARWINDOW::SetWindowProperty");
    plat::Status err = plat::SetWindowProperty(window ? window : fWindow, VLMT_CREATOR, tag, &value, sizeof value);
    return VERIFYSTATUS("err == 0 ", err);
}

bool DARWINDOW::SetWindowProperty(FOURCHARCODE tag, char const* data, int size, plat::WindowRef window)
{
    TARVOAPP::CheckCallerThread("DARWINDOW::SetWindowProperty");
    if (size < 0 || (size > 0 && !data))
        return VERIFYSTATUS("err == 0 ", plat::kErrBadArgument);
    plat::Status err =
        plat::SetWindowProperty(window ? window : fWindow, VLMT_CREATOR, tag, data, static_cast<size_t>(size));
    return VERIFYSTATUS("err == 0 ", err);
}

DARWINDOW* DARWINDOW::GetThisFromWindowRef(plat::WindowRef window)
{
    DARWINDOW* object = nullptr;
    size_t size = 0;
    plat::Status err = plat::GetWindowProperty(window, VLMT_CREATOR, WPROP_THIS, &object, sizeof object, &size);
    if (err != plat::kNoErr || size != sizeof object) {
        VerifyFailed("::GetWindowProperty(windowRef, 'VLMT', 'This', sizeof(WINDOW*), __null, &tWindow) == 0 ",
                     __FILE__, __LINE__, err);
        return nullptr;
    }
    return object;
}

bool DARWINDOW::SetHelpId(char const* id)
{
    if (!id)
        id = "";
    return SetWindowProperty(WPROP_HELPID, id, static_cast<int>(std::strlen(id)) + 1);
}

bool DARWINDOW::AddStyleEx(uint32_t bits)
{
    return SetWindowProperty(WPROP_STYLEEX, GetWindowProperty(WPROP_STYLEEX) | bits);
}

plat::ViewRef DARWINDOW::GetClientView() const
{
    TARVOAPP::CheckCallerThread("DARWINDOW::GetClientView");
    for (plat::ViewRef view : plat::GetSubviews(plat::WindowRootView(fWindow)))
        if (plat::GetViewKind(view) == plat::kViewKindContent)
            return view;
    AssertMsg(0, "fclient!=NULL", __FILE__, __LINE__, nullptr, false);
    return nullptr;
}

MSGWORD DARWINDOW::DeliverMessage(bool wait, plat::WindowRef window, plat::ViewRef view, uint32_t msg, MSGWORD p1,
                                  MSGWORD p2, MSGWORD p3)
{
    plat::EventPtr event = plat::Event::Create(EVENTCLASS_VELMOT, EVENTKIND_VELMOTMESSAGE);
    plat::TargetRef target = nullptr;
    if (window) {
        event->Set(VPARAM_TARGETWINDOW, plat::kTypeWindow, window);
        target = plat::WindowTarget(window);
    } else if (view) {
        event->Set(VPARAM_TARGETVIEW, plat::kTypeView, view);
        target = plat::ViewTarget(view);
    } else {
        target = plat::ApplicationTarget();
    }
    event->SetWord(VPARAM_MESSAGE, msg);
    event->SetWord(VPARAM_P1, p1);
    event->SetWord(VPARAM_P2, p2);
    event->SetWord(VPARAM_P3, p3);
    if (!target) {
        // A window or view that is gone (or no running event loop): the
        // message has nowhere to go. Without this test it would reach the
        // application instead.
        LOGIT("DARWINDOW::DeliverMessage %04x dropped, the target is gone\n", msg);
        return 0;
    }

    if (!wait) {
        VERIFYSTATUS("err == 0 ", plat::PostEvent(event, target));
        return 0;
    }
    if (plat::IsMainThread()) {
        plat::Status err = plat::SendEvent(*event, target);
        if (err != plat::kNoErr && err != plat::kErrEventNotHandled)
            VerifyFailed("!err || err==eventNotHandledErr", __FILE__, __LINE__, err);
    } else {
        // The probe: only a live target with a toolkit handler gets the
        // message; anything else answers 0 at once. The send itself always
        // returns: when the main thread has handled the message, or when
        // the target went away before, or when the event loop shut down.
        if (!plat::TargetHandles(target, EVENTCLASS_VELMOT, EVENTKIND_VELMOTMESSAGE, false))
            return 0;
        LOGIT("DARWINDOW::DeliverMessage %04x via PostToQueue \n", msg);
        plat::Status err = plat::SendEvent(*event, target);
        if (err != plat::kNoErr && err != plat::kErrEventNotHandled && err != plat::kErrTargetGone)
            VerifyFailed("!err || err==eventNotHandledErr", __FILE__, __LINE__, err);
        LOGIT("DARWINDOW::DeliverMessage %04x via PostToQueue done\n", msg);
    }
    return event->GetWord(VPARAM_RESULT, 0);
}

MSGWORD DARWINDOW::PostMessage(plat::WindowRef window, uint32_t msg, MSGWORD p1, MSGWORD p2, MSGWORD p3)
{
    return DeliverMessage(false, window, nullptr, msg, p1, p2, p3);
}

MSGWORD DARWINDOW::PostMessage(plat::ViewRef view, uint32_t msg, MSGWORD p1, MSGWORD p2, MSGWORD p3)
{
    return DeliverMessage(false, nullptr, view, msg, p1, p2, p3);
}

MSGWORD DARWINDOW::SendMessage(plat::WindowRef window, uint32_t msg, MSGWORD p1, MSGWORD p2, MSGWORD p3)
{
    return DeliverMessage(true, window, nullptr, msg, p1, p2, p3);
}

MSGWORD DARWINDOW::SendMessage(plat::ViewRef view, uint32_t msg, MSGWORD p1, MSGWORD p2, MSGWORD p3)
{
    return DeliverMessage(true, nullptr, view, msg, p1, p2, p3);
}

MSGWORD DARWINDOW::PostUserMessage(int msg, MSGWORD p1, MSGWORD p2) const
{
    VASSERT(msg >= static_cast<int>(WM_USERFIRST) && msg <= static_cast<int>(WM_USERLAST),
            "msg>=WM_USER+0x0001 && msg<WM_USER+0x00f0", nullptr);
    return DeliverMessage(false, fWindow, nullptr, static_cast<uint32_t>(msg), p1, p2, 0);
}

MSGWORD DARWINDOW::SendUserMessage(int msg, MSGWORD p1, MSGWORD p2) const
{
    VASSERT(msg >= static_cast<int>(WM_USERFIRST) && msg <= static_cast<int>(WM_USERLAST),
            "msg>=WM_USER+0x0001 && msg<WM_USER+0x00f0", nullptr);
    return DeliverMessage(true, fWindow, nullptr, static_cast<uint32_t>(msg), p1, p2, 0);
}

STRING DARWINDOW::WrapAlertText(char const* text)
{
    std::string in;
    for (char const* p = text ? text : ""; *p; ++p) {
        if (*p == '\r' && p[1] == '\n') {
            in.push_back('\r');
            ++p;
        } else {
            in.push_back(*p == '\n' ? '\r' : *p);
        }
    }
    static char const kNoWrap[] = "##NOWRAP##\r";
    bool nowrap = in.size() >= 11 && strncasecmp(in.c_str(), kNoWrap, 11) == 0;
    if (nowrap)
        in.erase(0, 11);
    if (in.size() < 2 || nowrap)
        return STRING(in.c_str());
    std::string out;
    out.push_back(in[0]);
    for (size_t i = 1; i + 1 < in.size(); ++i) {
        char c = in[i];
        char const before = in[i - 1];
        char const after = in[i + 1];
        // A single line end inside running text, with text going on at the
        // start of the next line, is a soft break.
        if (c == '\r' && before != '\r' && after != '\r' && after != ' ' && after != '\t') {
            if (before != ' ')
                out.push_back(' ');
            continue;
        }
        out.push_back(c);
    }
    out.push_back(in.back());
    return STRING(out.c_str());
}

int16_t DARWINDOW::GenericAlert(plat::WindowRef window, char const* title, char const* text, int type,
                                ALERTPARAMS* params)
{
    ALERTPARAMS fallback;
    VASSERT(params != nullptr, "params!=NULL", nullptr);
    if (!params) {
        fallback.defaultText = ALERTTEXT_OK();
        params = &fallback;
    }
    params->version = 1;
    params->movable = true;
    params->helpButton = false;
    params->defaultButton = ALERTBUTTON_DEFAULT;
    params->cancelButton = ALERTBUTTON_CANCEL;
    params->position = 0;

    std::string alerttext = title ? title : "<no title>";
    alerttext += "\n";
    alerttext += WrapAlertText(text).Buf();
    if (plat::IsMainThread())
        return GenericAlertCore(type, alerttext.c_str(), params);
    MSGWORD button = DeliverMessage(true, window, nullptr, WM_GENERICALERT, static_cast<MSGWORD>(type),
                                    reinterpret_cast<MSGWORD>(alerttext.c_str()), reinterpret_cast<MSGWORD>(params));
    return static_cast<int16_t>(button);
}

int16_t DARWINDOW::GenericAlertCore(int type, char const* text, ALERTPARAMS const* params)
{
    TARVOAPP::CheckCallerThread("DARWINDOW::GenericAlertCore");
    std::string all = text ? text : "";
    size_t nl = all.find('\n');
    plat::AlertSpec spec;
    spec.type = type;
    spec.message = ToUtf8(ToLineFeeds(all.substr(0, nl)));
    if (nl != std::string::npos)
        spec.explanation = ToUtf8(ToLineFeeds(all.substr(nl + 1)));
    // The platform numbers the buttons it shows from 1; the alert's own
    // numbers (default 1, cancel 2, other 3) stay with their texts.
    std::vector<int16_t> numbers;
    auto add = [&](char const* label, int16_t number) {
        if (!label)
            return;
        spec.buttons.push_back(label == ALERTTEXT_OK() ? std::string("OK") : ToUtf8(label));
        numbers.push_back(number);
    };
    add(params && params->defaultText ? params->defaultText : ALERTTEXT_OK(), ALERTBUTTON_DEFAULT);
    if (params) {
        add(params->cancelText, ALERTBUTTON_CANCEL);
        add(params->otherText, ALERTBUTTON_OTHER);
    }
    int choice = plat::RunAlert(spec);
    if (choice < 1 || choice > static_cast<int>(numbers.size())) {
        AssertMsg(0, "err==noErr", __FILE__, __LINE__, nullptr, false);
        return -1;
    }
    return numbers[static_cast<size_t>(choice - 1)];
}
