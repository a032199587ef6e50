#include "velmot/gui/wintarvo.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/registry.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/filenamedialog.h"
#include "velmot/gui/windialog.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winentry.h"
#include "velmot/gui/winfontlist.h"
#include "velmot/gui/winicons.h"
#include "velmot/gui/winlists.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <strings.h>

#include "platform/services/text.h"

namespace {

constexpr char const* kTipDialog = "ID_TARVO_DLGTIPOFDAY";
constexpr FOURCHARCODE kIdc = plat::FourCC("IDC_");
constexpr CONTROLID kTipIcon{kIdc, 13};
constexpr CONTROLID kTipHeading{kIdc, 14};
constexpr CONTROLID kTipText{kIdc, 15};
constexpr CONTROLID kTipStyle{kIdc, 16};
constexpr CONTROLID kTipRowLeft{kIdc, 18};
constexpr CONTROLID kTipRowRight{kIdc, 19};
constexpr uint32_t kTipIconId = 1;
// The platform tip sections are written for.
constexpr char const* kTipPlatform = "linux";

struct BUTTONTEXTS {
    char const* yes;
    char const* no;
    char const* cancel;
    char const* dontShow;
};

BUTTONTEXTS const& ButtonTexts()
{
    static BUTTONTEXTS const german{"Ja", "Nein", "Abbruch", "Nicht mehr anzeigen"};
    static BUTTONTEXTS const english{"Yes", "No", "Cancel", "Don't show again"};
    return TARVOAPP::IsLocaleGerman() ? german : english;
}

int Alert(plat::WindowRef owner, char const* title, char const* text, int type, char const* defaultText,
          char const* cancelText, char const* otherText)
{
    ALERTPARAMS params;
    params.defaultText = defaultText;
    params.cancelText = cancelText;
    params.otherText = otherText;
    return DARWINDOW::GenericAlert(owner, title, text, type, &params);
}

int OkBox(char const* name, int type, plat::WindowRef owner, char const* title, char const* text)
{
    TARVOAPP::CheckCallerThread(name);
    LOGIT("%s title=%s text=%s\n", name, title ? title : "", text ? text : "");
    return Alert(owner, title, text, type, ALERTTEXT_OK(), nullptr, nullptr);
}

STRING AppName()
{
    return OSYS::GetStringFromResource("IDS_TARVOAPPNAME");
}

std::string Trimmed(std::string const& s, char const* chars)
{
    size_t const b = s.find_first_not_of(chars);
    if (b == std::string::npos)
        return std::string();
    return s.substr(b, s.find_last_not_of(chars) - b + 1);
}

bool StartsWithNoCase(std::string const& s, char const* prefix)
{
    return strncasecmp(s.c_str(), prefix, strlen(prefix)) == 0;
}

// A text in the file's encoding: UTF-8 when its bytes are, else 1252.
STRING TipString(std::string const& text, bool utf8)
{
    return STRING(text.c_str(), utf8 ? UNICODE_CPUTF8 : UNICODE_CPDEFAULT);
}

bool IsUtf8(std::string const& text)
{
    return text.empty() || !plat::Text::FromUtf8(text).IsNull();
}

long long RegistryNumber(REGISTRY& reg, char const* name, long long fallback)
{
    STRING value;
    if (!reg.Read(name, &value) || value.IsEmpty())
        return fallback;
    return strtoll(value.Buf(), nullptr, 10);
}

bool TimeForTips(int style, long long last, long long today)
{
    switch (style) {
    case 1: return true;
    case 2: return last < today;
    case 3: return today > last + 1;
    case 4: return today > last + 6;
    default: return false;
    }
}

// Moves `control` to the frame (x, y, cx, cy) in its superview.
void Place(CONTROL const& control, RECT const& r)
{
    control.Move(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

} // namespace

// ---------------------------------------------------------------------------
// Boxes

int WINTARVO::ErrorMsgBox(plat::WindowRef owner, char const* title, char const* text)
{
    return OkBox("WINTARVO::ErrorMsgBox", ALERTTYPE_STOP, owner, title, text);
}

int WINTARVO::WarningMsgBox(plat::WindowRef owner, char const* title, char const* text)
{
    return OkBox("WINTARVO::WarningMsgBox", ALERTTYPE_CAUTION, owner, title, text);
}

int WINTARVO::InfoMsgBox(plat::WindowRef owner, char const* title, char const* text)
{
    return OkBox("WINTARVO::InfoMsgBox", ALERTTYPE_NOTE, owner, title, text);
}

bool WINTARVO::YesNoMsgBox(plat::WindowRef owner, char const* title, char const* text)
{
    TARVOAPP::CheckCallerThread("WINTARVO::YesNoMsgBox");
    LOGIT("WINTARVO::YesNoMsgBox title=%s text=%s\n", title ? title : "", text ? text : "");
    BUTTONTEXTS const& b = ButtonTexts();
    return Alert(owner, title, text, ALERTTYPE_STOP, b.yes, b.no, nullptr) == ALERTBUTTON_DEFAULT;
}

int WINTARVO::YesNoCancelMsgBox(plat::WindowRef owner, char const* title, char const* text)
{
    TARVOAPP::CheckCallerThread("WINTARVO::YesNoCancelMsgBox");
    LOGIT("WINTARVO::YesNoCancelMsgBox title=%s text=%s\n", title ? title : "", text ? text : "");
    BUTTONTEXTS const& b = ButtonTexts();
    switch (Alert(owner, title, text, ALERTTYPE_STOP, b.yes, b.no, b.cancel)) {
    case ALERTBUTTON_DEFAULT: return 1;
    case ALERTBUTTON_CANCEL: return 0;
    default: return -1;
    }
}

void WINTARVO::ErrorMsgBox(plat::WindowRef owner, char const* title, char const* text, HASH& state,
                           char const* key)
{
    STRING const name = title ? STRING(title) : AppName();
    DontShowAgainMessage(ALERTTYPE_STOP, false, owner, name.Buf(), text, state, key);
}

void WINTARVO::WarningMsgBox(plat::WindowRef owner, char const* title, char const* text, HASH& state,
                             char const* key)
{
    STRING const name = title ? STRING(title) : AppName();
    DontShowAgainMessage(ALERTTYPE_CAUTION, false, owner, name.Buf(), text, state, key);
}

void WINTARVO::InfoMsgBox(plat::WindowRef owner, char const* title, char const* text, HASH& state,
                          char const* key)
{
    STRING const name = title ? STRING(title) : AppName();
    DontShowAgainMessage(ALERTTYPE_NOTE, false, owner, name.Buf(), text, state, key);
}

int WINTARVO::YesNoMsgBox(plat::WindowRef owner, char const* title, char const* text, HASH& state,
                          char const* key)
{
    STRING const name = title ? STRING(title) : AppName();
    return DontShowAgainMessage(ALERTTYPE_STOP, true, owner, name.Buf(), text, state, key);
}

int WINTARVO::DontShowAgainMessage(int type, bool yesno, plat::WindowRef owner, char const* title,
                                   char const* text, HASH& state, char const* key)
{
    TARVOAPP::CheckCallerThread("WINTARVO::DontShowAgainMessage");
    LOGIT("WINTARVO::DontShowAgainMessage title=%s text=%s\n", title ? title : "", text ? text : "");
    if (!VCHECK(key != nullptr, "pstatekey", nullptr))
        return 0;
    // (AllowNewKeys answers whether the table was locked before.)
    bool const locked = state.AllowNewKeys(true);
    STRING const stored = state[key];
    state.AllowNewKeys(!locked);
    if (stored.NotEmpty() && static_cast<int>(stored) != 0)
        return 1;

    BUTTONTEXTS const& b = ButtonTexts();
    int const button = yesno ? Alert(owner, title, text, type, b.yes, b.no, b.dontShow)
                             : Alert(owner, title, text, type, ALERTTEXT_OK(), nullptr, b.dontShow);
    int result = 0;
    char const* value = "0";
    if (button == ALERTBUTTON_DEFAULT) {
        result = 1;
    } else if (button == ALERTBUTTON_OTHER) {
        result = 1;
        value = "1";
    }
    state.AllowNewKeys(true);
    state[key] = value;
    state.AllowNewKeys(!locked);
    return result;
}

// ---------------------------------------------------------------------------
// File and folder questions

char const* WINTARVO::AskFilename(plat::WindowRef owner, char const* title, char const* initial, char const* filter)
{
    return ::AskFilename(owner, title, initial, filter);
}

char const* WINTARVO::AskSaveAsFilename(plat::WindowRef owner, char const* title, char const* initial,
                                       char const* filter)
{
    return ::AskSaveAsFilename(owner, title, initial, filter);
}

int WINTARVO::AskFilenames(plat::WindowRef owner, char const* title, char const* initial, STRINGARRAY* result,
                           char const* filter)
{
    return ::AskFilenames(owner, title, initial, result, filter);
}

STRING WINTARVO::AskFolder(plat::WindowRef owner, char const* title, char const* initial)
{
    return BrowseFolder(owner, title, initial);
}

// ---------------------------------------------------------------------------
// Texts and drawing

STRING WINTARVO::WrapMsgBoxString(STRING text, int, signed char)
{
    return DARWINDOW::WrapAlertText(text.Buf());
}

int WINTARVO::FillRectGradient(WINDC& dc, RECT const* rect, COLORREF from, COLORREF to, bool vertical)
{
    if (!rect)
        return 0;
    if (from == to)
        return dc.FillRect(rect, from);
    RECT const r = *rect;
    if (vertical) {
        int const height = r.bottom - r.top;
        int const band = std::max(1, height / 50);
        for (int y = r.top; y < r.bottom; y += band) {
            COLORREF const c = OSYS::CalcColorBlend(from, to, double(y - r.top) / height * 100.0);
            if (band > 1) {
                RECT const strip{r.left, y, r.right, y + band};
                dc.FillRect(&strip, c);
            } else {
                dc.Line(r.left, y, r.right, y, c);
            }
        }
    } else {
        int const width = r.right - r.left;
        for (int x = r.left; x < r.right; ++x)
            dc.Line(x, r.top, x, r.bottom, OSYS::CalcColorBlend(from, to, double(x - r.left) / width * 100.0));
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Tip of the day

STRINGARRAY WINTARVO::ParseTips(std::string const& text)
{
    STRINGARRAY tips;
    bool const utf8 = IsUtf8(text);
    bool sections = false;
    for (size_t at = 0; !sections && at < text.size(); ++at)
        sections = strncasecmp(text.c_str() + at, "[TIP]", 5) == 0;

    if (!sections) {
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                tips.AppendItem(TipString(line, utf8));
            start = end + 1;
        }
        return tips;
    }

    std::string const all = text + "\n[TIP]";
    std::string tip, heading, platform;
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos)
            end = all.size();
        std::string const line = Trimmed(all.substr(start, end - start), "\r\n \t");
        start = end + 1;
        if (strcasecmp(line.c_str(), "[TIP]") == 0) {
            // (A section of blank lines alone is no tip: shown, it would
            // end the day's tips.)
            if (!Trimmed(tip, " \t\r\n").empty()) {
                std::string entry = heading.empty() ? tip : heading + "|" + tip;
                while (!entry.empty() && (entry.back() == '\r' || entry.back() == '\n'))
                    entry.pop_back();
                if (platform.empty() || strcasecmp(platform.c_str(), kTipPlatform) == 0)
                    tips.AppendItem(TipString(entry, utf8));
            }
            tip.clear();
            heading.clear();
            platform.clear();
        } else if (StartsWithNoCase(line, "title=")) {
            heading = line.substr(6);
        } else if (StartsWithNoCase(line, "platform=")) {
            platform = Trimmed(line.substr(9), " \t");
        } else if (!line.empty()) {
            tip += line + " ";
        } else {
            tip += "\r\n\r\n";
        }
    }
    return tips;
}

namespace {

// The tip stands beside its window where the screen has room (right, then
// left, then below), so that it covers nothing of the window's work; with
// no room it goes to the screen's bottom right corner.
void PlaceBeside(DIALOG const& dialog, WINDOW const& owner)
{
    RECT const screen = WINDOW(static_cast<plat::WindowRef>(nullptr)).GetRect();
    RECT const main = owner.GetRect();
    RECT const r = dialog.GetRect();
    int const w = r.right - r.left;
    int const h = r.bottom - r.top;
    int const gap = 8;
    int const top = std::clamp(main.top, screen.top, std::max(screen.top, screen.bottom - h));
    if (main.right + gap + w <= screen.right) {
        dialog.Move(main.right + gap, top, w, h);
    } else if (main.left - gap - w >= screen.left) {
        dialog.Move(main.left - gap - w, top, w, h);
    } else if (main.bottom + gap + h <= screen.bottom) {
        int const left = std::clamp(main.left, screen.left, std::max(screen.left, screen.right - w));
        dialog.Move(left, main.bottom + gap, w, h);
    } else {
        dialog.Move(std::max(screen.left, screen.right - w), std::max(screen.top, screen.bottom - h), w, h);
    }
}

} // namespace

void WINTARVO::TipOfTheDay(WINDOW const& owner, STRING file, STRING key, bool force)
{
    TARVOAPP::CheckCallerThread("WINTARVO::TipOfTheDay");
    FILENAME const path(OSYS::GetResourceFilePath(file.Buf()));
    if (path.IsEmpty() || !path.IsFile())
        return;
    BINARY bytes;
    if (!bytes.Load(path.Buf()))
        return;
    TipOfTheDay(owner, ParseTips(std::string(bytes.Length() ? &bytes[0] : "", static_cast<size_t>(bytes.Length()))),
                key, force);
}

void WINTARVO::TipOfTheDay(WINDOW const& owner, STRINGARRAY tips, STRING key, bool force)
{
    TARVOAPP::CheckCallerThread("WINTARVO::TipOfTheDay");
    long long const today = static_cast<long long>(OSYS::GetLTime() / 86400);
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", key.Buf(), REGISTRY::READWRITE);
    STRING styleText;
    if (!reg.Read("TipOfDayStyle", &styleText) || styleText.IsEmpty())
        styleText = "2";
    int style = static_cast<int>(styleText);
    long long const last = RegistryNumber(reg, "TipOfDayLast", 0);
    long long count = RegistryNumber(reg, "TipOfDayCount", 0);
    if (!TimeForTips(style, last, today) && !force)
        return;
    reg.Write("TipOfDayLast", STRING(today).Buf());

    DIALOG dialog(kTipDialog, owner.GetWindow());
    if (!dialog.IsValid())
        return;
    PlaceBeside(dialog, owner);
    STRING const ownerWord = owner.GetText().Token(0, " ");
    if (ownerWord.NotEmpty() && ownerWord[0] != '<') {
        STRING title = ownerWord;
        title.Append(" ");
        title.Append(dialog.GetText().Buf());
        dialog.SetText(title.Buf());
    }

    CONTROLPARENT const parent = dialog.GetClientParent();
    STATICICON icon(parent, kTipIcon);
    ICON const bulb(kTipIconId);
    icon.SetIcon(bulb.GetIconRef());
    STATICTEXT heading(parent, kTipHeading);
    STATICTEXT text(parent, kTipText);
    CONTROLFONT const headingFont(heading.GetControlRef(), "12B.Helv", UNICODE_CPDEFAULT);
    CONTROLFONT const textFont(text.GetControlRef(), "9.Helv", UNICODE_CPDEFAULT);
    POPUPBOX styles(parent, kTipStyle);
    styles.InsertItems(OSYS::GetStringFromResource("IDS_TARVO_TIPOFTHEDAY").Buf(), "|", -1);

    // The bottom row's right control takes the row; the heading and text
    // take the width the icon had on the left, the icon goes to the right.
    CONTROL const rowLeft(parent, kTipRowLeft);
    CONTROL const rowRight(parent, kTipRowRight);
    RECT right = rowRight.GetRect();
    right.left = rowLeft.GetRect().left;
    Place(rowRight, right);
    rowLeft.Show(false);
    RECT const iconRect = icon.GetRect();
    for (CONTROL const* c : {static_cast<CONTROL const*>(&heading), static_cast<CONTROL const*>(&text)}) {
        RECT r = c->GetRect();
        r.left = iconRect.left + 4;
        Place(*c, r);
    }
    RECT const textRect = text.GetRect();
    Place(icon, RECT{textRect.right - (iconRect.right - iconRect.left), iconRect.top, textRect.right,
                     iconRect.bottom});
    icon.MoveInZorder(1, nullptr);
    heading.MoveInZorder(1, nullptr);
    text.MoveInZorder(1, nullptr);

    int const n = tips.NumItems();
    int emptyRun = 0;
    bool shown = false;
    while (n > 0) {
        int const index = count < n && count >= 0 ? static_cast<int>(count) : 0;
        count = index + 1;
        STRING tip = *tips[index];
        UNICODE_CODEPAGE const cp = tip.CodePage;
        tip.Trim('B', " \t");
        tip.RemoveChars("\r");
        tip.CodePage = cp;
        if (tip.IsEmpty()) {
            // With force every tip gets its turn; a list without any tip to
            // show ends after one pass.
            if (force && ++emptyRun < n)
                continue;
            break;
        }
        emptyRun = 0;
        int32_t bar = -1;
        if (tip.Find("|", &bar)) {
            STRING head = tip.Left(bar);
            STRING body = tip.Substr(bar + 1);
            head.CodePage = body.CodePage = cp;
            heading.SetControlTextWide(WSTRING(head).Buf());
            text.SetControlTextWide(WSTRING(body).Buf());
        } else {
            text.SetControlTextWide(WSTRING(tip).Buf());
        }
        if (style >= 0 && style < styles.GetItemCount())
            styles.SelectItem(style, 1);
        if (!shown) {
            dialog.Show(true);
            shown = true;
        }
        int const rc = dialog.Process(true);
        int const chosen = styles.GetSelectedItem(0);
        style = chosen >= 0 ? chosen : 1;
        if (rc != static_cast<int>(plat::FourCC("OKAY")))
            break;
    }
    reg.Write("TipOfDayStyle", STRING(style).Buf());
    reg.Write("TipOfDayCount", STRING(count).Buf());
}

// ---------------------------------------------------------------------------
// The application's report of a failed file operation

int TARVOAPP::VerifyResult(signed char, char const* filename)
{
    int const err = errno;
    STRING text = IsLocaleGerman() ? "Waehrend einer Dateioperation trat ein Fehler auf.\rDateiname: $FILENAME\rFehler: $ERROR"
                                   : "An error occurred during a file operation\rFilename: $FILENAME\rError: $ERROR";
    text.Replace("$FILENAME", filename ? filename : "");
    text.Replace("$ERROR", err ? strerror(err) : "-");
    WINTARVO::ErrorMsgBox(nullptr, AppName().Buf(), text.Buf());
    return 1;
}
