#include "program/shell/helper.h"

#include "program/shell/app.h"

#include "program/screen/termfonts.h"
#include "program/session/session.h"
#include "program/settings/workfolder.h"

#include "velmot/core/filefind.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winchild.h"
#include "velmot/gui/windows.h"
#include "velmot/gui/windraw.h"
#include "velmot/gui/winfont.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <cwctype>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

DATETIMERECORD gDateTime{};

namespace {

constexpr char const* kVersion = "6.44";

// The caret notation's source over a session of the program.
class SESSIONSOURCE final : public HELPER::CTRLSOURCE {
public:
    explicit SESSIONSOURCE(SESSION& s) : S(s) {}
    std::string HostName() override
    {
        std::wstring host = S.QueryCurrentHostWide();
        return STRING(host.c_str(), 1252).Buf();
    }
    int InstanceNumber() override { return S.InstanceNumber(); }
    int SessionSerial() override { return S.SessionNumber(); }

private:
    SESSION& S;
};

// Output of the expansion: stops taking characters at size - 1.
class OUTPUT {
public:
    OUTPUT(wchar_t* area, int size) : Area(area), Limit(size > 0 ? size - 1 : 0) {}
    void Put(wchar_t c)
    {
        if (Count < Limit)
            Area[Count++] = c;
    }
    // 8-bit texts are widened byte by byte.
    void PutBytes(std::string const& text)
    {
        for (unsigned char c : text)
            Put(static_cast<wchar_t>(c));
    }
    void PutNumber(int value)
    {
        char buf[16];
        snprintf(buf, sizeof buf, "%02d", value);
        PutBytes(buf);
    }
    int Count = 0;

private:
    wchar_t* Area;
    int Limit;
};

int HexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// The host name for "^+": the nine characters that cannot stand in a
// file name become "_".
std::string FileSafeHost(std::string host)
{
    for (char& c : host) {
        if (strchr("\\/:*?\"<>|", c) && c)
            c = '_';
    }
    return host;
}

} // namespace

// ---------------------------------------------------------------------------
// Caret notation

int HELPER::MakeCtrl(CTRLSOURCE& source, wchar_t* text, int size)
{
    if (!text || size <= 0)
        return 0;
    // The text is read up to its terminator but never beyond the caller's
    // size, whose last character is kept for the terminator.
    int const length = static_cast<int>(wcsnlen(text, static_cast<size_t>(size)));
    std::vector<wchar_t> work(static_cast<size_t>(size));
    OUTPUT out(work.data(), size);
    for (int i = 0; i < length; ++i) {
        wchar_t c = text[i];
        if (c != L'^' || i + 1 >= length) {
            out.Put(c);
            continue;
        }
        wchar_t k = text[++i];
        wchar_t K = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(k)));
        if (K < 33 || K > 94) {
            out.Put(k & 31);
            continue;
        }
        switch (K) {
        case L'!':
            out.Put(HELPER_BREAKMARKER);
            break;
        case L'%':
            out.PutBytes(source.HostUsername().substr(0, 127));
            break;
        case L'&':
            out.PutBytes(source.HostPassword().substr(0, 127));
            break;
        case L'(': {
            int hi = i + 1 < length ? HexDigit(text[i + 1]) : -1;
            int lo = i + 2 < length ? HexDigit(text[i + 2]) : -1;
            if (hi >= 0 && lo >= 0 && i + 3 < length && text[i + 3] == L')') {
                out.Put(static_cast<wchar_t>(hi * 16 + lo));
                i += 3;
            } else {
                out.Put(L'(' & 31);
            }
            break;
        }
        case L'+':
            out.PutBytes(FileSafeHost(source.HostName().substr(0, 127)));
            break;
        case L'1':
            out.PutNumber(gDateTime.Day);
            break;
        case L'2':
            out.PutNumber(gDateTime.Month);
            break;
        case L'3':
            out.PutNumber(gDateTime.Year % 100);
            break;
        case L'4':
            out.PutNumber(gDateTime.Hour);
            break;
        case L'5':
            out.PutNumber(gDateTime.Minute);
            break;
        case L'6':
            out.PutNumber(gDateTime.Second);
            break;
        case L'7':
            out.PutBytes(OSYS::ComputerName().Buf());
            break;
        case L'8':
            out.PutNumber(source.InstanceNumber());
            if (source.SessionSerial() >= 2)
                out.PutNumber(source.SessionSerial());
            break;
        case L'9':
            out.PutBytes(std::string(kVersion) + " " + OSYS::GetOSTypeAsString().Buf());
            break;
        case L'^':
            out.Put(L'^');
            break;
        case L'@':
            out.Put(0);
            break;
        default:
            out.Put(k & 31);
            break;
        }
    }
    std::copy(work.begin(), work.begin() + out.Count, text);
    text[out.Count] = 0;
    return out.Count;
}

int HELPER::MakeCtrl(CTRLSOURCE& source, char* text, int size)
{
    if (!text || size <= 0)
        return 0;
    int const length = static_cast<int>(strnlen(text, static_cast<size_t>(size)));
    std::vector<wchar_t> wide(static_cast<size_t>(std::max(size, length + 1)));
    for (int i = 0; i < length; ++i)
        wide[static_cast<size_t>(i)] = static_cast<unsigned char>(text[i]);
    wide[static_cast<size_t>(length)] = 0;
    int n = MakeCtrl(source, wide.data(), size);
    for (int i = 0; i < n; ++i)
        text[i] = static_cast<char>(wide[static_cast<size_t>(i)] & 0xFF);
    text[n] = 0;
    return n;
}

int HELPER::MakeCtrl(SESSION& session, wchar_t* text, int size)
{
    SESSIONSOURCE source(session);
    return MakeCtrl(source, text, size);
}

int HELPER::MakeCtrl(SESSION& session, char* text, int size)
{
    SESSIONSOURCE source(session);
    return MakeCtrl(source, text, size);
}

// ---------------------------------------------------------------------------
// Date and time

int HELPER::CurDateTime(signed char withTexts)
{
    time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    DATETIMERECORD& d = gDateTime;
    d.Time = static_cast<int32_t>(now);
    d.Hour = t.tm_hour;
    d.Minute = t.tm_min;
    d.Second = t.tm_sec;
    d.Weekday = t.tm_wday;
    d.Day = t.tm_mday;
    d.Month = t.tm_mon + 1;
    d.Year = t.tm_year + 1900;
    if (withTexts) {
        STRING both = OSYS::DateTimeFromLtimeLocalized(static_cast<unsigned long long>(now));
        int32_t gap = both.Pos("  ");
        STRING date = gap >= 0 ? both.Left(gap) : both;
        STRING clock = gap >= 0 ? both.Substr(gap + 2) : STRING();
        snprintf(d.DateText, sizeof d.DateText, "%s", date.Buf());
        snprintf(d.TimeText, sizeof d.TimeText, "%s", clock.Buf());
        snprintf(d.IsoDate, sizeof d.IsoDate, "%04d-%02d-%02d", d.Year % 10000, d.Month, d.Day);
    }
    return d.Year;
}

STRING HELPER::BeautyBytes(long long bytes, char const* suffix)
{
    double k = static_cast<double>(bytes) / 1024.0;
    double m = k / 1024.0;
    STRING text;
    if (m > 1.1)
        text.Format("%1.2lf MB", m);
    else if (k > 1.1)
        text.Format("%1.1lf KB", k);
    else
        text.Format("%d %s", static_cast<int>(static_cast<uint32_t>(bytes)),
                    OSYS::GetStringFromResource("IDS_BYTES").Buf());
    if (suffix)
        text.Append(suffix);
    return text;
}

// ---------------------------------------------------------------------------
// Files

FILE* HELPER::fopen(char const* name, char const* mode, int share)
{
    LOGIT("HELPER::fopen name= %s, mode= %s, shmode= %02x\n", name ? name : "<NULL>", mode ? mode : "<NULL>",
          share);
    FILE* f = name && mode ? FILENAME::fsopen(name, mode, share) : nullptr;
    if (f)
        setvbuf(f, nullptr, _IOFBF, 32768);
    else
        LOGIT("HELPER::fopen(%s, %s) error %s\n", name ? name : "<NULL>", mode ? mode : "<NULL>", strerror(errno));
    LOGIT("HELPER::fopen done, f= %p\n", static_cast<void*>(f));
    return f;
}

FILE* HELPER::fopenloop(char const* name, char const* mode, int share)
{
    LOGIT("HELPER::fopenloop name= %s, mode= %s, shmode= %02x\n", name ? name : "<NULL>", mode ? mode : "<NULL>",
          share);
    FILE* f = nullptr;
    for (int attempt = 0; attempt < 10; ++attempt) {
        errno = 0;
        f = fopen(name, mode, share);
        if (f)
            break;
        int const err = errno;
        LOGIT("HELPER::fopenloop attempt #%d failed, errno= %d/%s\n", attempt, err, strerror(err));
        if (err != EACCES)
            break;
        OSYS::Sleep((attempt / 3 + 1) * 100);
    }
    LOGIT("HELPER::fopenloop done, f= %p\n", static_cast<void*>(f));
    return f;
}

int HELPER::ReadLine(char* buffer, int size, FILE* f)
{
    if (!buffer || size <= 0)
        return 0;
    memset(buffer, 0, static_cast<size_t>(size));
    if (!f || size < 2 || !fgets(buffer, size, f))
        return 0;
    size_t n = strlen(buffer);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n'))
        buffer[--n] = 0;
    return static_cast<int>(n);
}

long long HELPER::FileSize(char const* name)
{
    struct stat st;
    long long size = name && stat(name, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
    LOGIT("HELPER::FileSize %s %lld\n", name ? name : "<NULL>", size);
    return size;
}

int HELPER::FindFiles(char const* mask, char const* folder, signed char fullPath, char** table, int size)
{
    if (!mask || !table || size <= 0)
        return 0;
    FILENAME pattern = folder && *folder ? FILENAME(folder, mask) : FILENAME(mask);
    bool const onlyQor = strcasecmp(mask, "*.qor") == 0;
    int count = 0;
    FILEFIND find(pattern.Buf());
    for (bool more = find.Found; more && count < size - 1; more = find.FindNext() != 0) {
        if (find.TestAttribute(FILENAME_ATTR_DIRECTORY))
            continue;
        char const* name = find.Name.Buf();
        size_t len = strlen(name);
        if (onlyQor && (len < 4 || strcasecmp(name + len - 4, ".qor") != 0))
            continue;
        STRING entry = fullPath ? STRING(find.Fullname.Buf()) : STRING(name);
        char buf[260];
        snprintf(buf, sizeof buf, "%s", entry.Buf());
        table[count++] = strdup(buf);
    }
    if (count < size)
        table[count] = nullptr;
    return count;
}

int HELPER::SplitList(char** table, char* text, int size)
{
    if (!table || size <= 0)
        return 0;
    int count = 0;
    char* p = text;
    while (p && *p && count < size - 1) {
        if (count == size - 2) {
            table[count++] = p; // the rest, separators and all
            break;
        }
        char* bar = strchr(p, '|');
        if (bar)
            *bar = 0;
        if (*p)
            table[count++] = p;
        p = bar ? bar + 1 : nullptr;
    }
    table[count] = nullptr;
    return count;
}

int HELPER::FindInList(char const* text, char const* const* list)
{
    if (!text || !list)
        return -1;
    for (int i = 0; list[i]; ++i) {
        if (strstr(text, list[i]))
            return i;
    }
    return -1;
}

std::string HELPER::Replace(std::string const& text, char const* find, char const* replacement)
{
    if (!find || !*find)
        return text;
    std::string out = text;
    std::string const what = find;
    std::string const with = replacement ? replacement : "";
    for (size_t pos = out.find(what); pos != std::string::npos; pos = out.find(what, pos + with.size()))
        out.replace(pos, what.size(), with);
    return out;
}

namespace {

template <class CH>
int FillUpT(CH* buffer, int size, CH ch, int* position, int drop)
{
    if (!buffer || !position || size < 2)
        return position ? *position : 0;
    int pos = std::clamp(*position, 0, size - 1);
    if (pos >= size - 1) {
        int n = std::clamp(drop, 1, pos);
        std::memmove(buffer, buffer + n, static_cast<size_t>(pos - n) * sizeof(CH));
        pos -= n;
    }
    buffer[pos++] = ch;
    buffer[pos] = 0;
    *position = pos;
    return pos;
}

} // namespace

int HELPER::FillUp(char* buffer, int size, char ch, int* position, int drop)
{
    return FillUpT(buffer, size, ch, position, drop);
}

int HELPER::FillUpWide(wchar_t* buffer, int size, wchar_t ch, int* position, int drop)
{
    return FillUpT(buffer, size, ch, position, drop);
}

STRING HELPER::StripTilde(char const* text)
{
    std::string out;
    for (char const* p = text ? text : ""; *p; ++p) {
        if (*p != '~' && *p != '&')
            out += *p;
    }
    return STRING(out.c_str());
}

WSTRING HELPER::StripTildeWide(wchar_t const* text)
{
    std::wstring out;
    for (wchar_t const* p = text ? text : L""; *p; ++p) {
        if (*p != L'~' && *p != L'&')
            out += *p;
    }
    return WSTRING(out.c_str());
}

void HELPER::ConvertFilenameTitle(char const* text, STRING& title, STRING& filter)
{
    std::string t = text ? text : "";
    size_t br = t.find_first_of("\r\n");
    if (br == std::string::npos) {
        title = t.c_str();
        filter = "";
        return;
    }
    std::string f = t.substr(br + 1);
    if (!f.empty() && t[br] == '\r' && f[0] == '\n')
        f.erase(0, 1);
    std::replace(f.begin(), f.end(), '|', '\n');
    std::replace(f.begin(), f.end(), ';', '|');
    title = t.substr(0, br).c_str();
    filter = f.c_str();
}

STRING HELPER::RelOptsPath(APP& app, char const* file)
{
    FILENAME options(WORKDIR::GetCurrent().Buf(), app.Settings().data.OptsPath);
    FILENAME name(file ? file : "");
    STRING rel = name.RelPath(options.Buf()).Buf();
    LOGIT("HELPER::RelOptsPath %s -> %s\n", file ? file : "<NULL>", rel.Buf());
    return rel;
}

int HELPER::IsUrlString(STRING const& text)
{
    char const* s = text.Buf();
    char const* colon = strchr(s, ':');
    if (!colon)
        return 0;
    for (char const* p = s; p < colon; ++p) {
        if (!((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z')))
            return 0;
    }
    if (strncmp(colon + 1, "//", 2) != 0)
        return 0;
    return strchr(colon + 3, '.') ? 1 : 0;
}

char* HELPER::FindColonForPort(char* text)
{
    if (!text)
        return nullptr;
    if (text[0] == '[') {
        char* close = strchr(text, ']');
        return close && close[1] == ':' ? close + 1 : nullptr;
    }
    return strchr(text, ':');
}

namespace {

int const kCodePages[] = {1252, 437, 1000, 1250, 1253, 1251, 737, 866, 878, 852};

} // namespace

int HELPER::CharsetToIndex(int codePage)
{
    if (codePage == 850)
        return 0;
    for (int i = 0; i < static_cast<int>(std::size(kCodePages)); ++i) {
        if (kCodePages[i] == codePage)
            return i;
    }
    return -1;
}

int HELPER::CharsetFromIndex(int index)
{
    return index >= 0 && index < static_cast<int>(std::size(kCodePages)) ? kCodePages[index] : -1;
}

int HELPER::CheckboxToAntialias(int state)
{
    switch (state) {
    case 0:
        return -1;
    case 1:
        return 1;
    default:
        return 0;
    }
}

int HELPER::AntialiasToCheckbox(int setting)
{
    switch (setting) {
    case -1:
        return 0;
    case 1:
        return 1;
    default:
        return 2;
    }
}

void HELPER::Ansi2Oem(char* text, int length)
{
    if (!text)
        return;
    size_t n = length < 0 ? strlen(text) : static_cast<size_t>(length);
    for (size_t i = 0; i < n; ++i)
        text[i] = static_cast<char>(STRING::AnsiToDos[static_cast<unsigned char>(text[i])]);
}

void HELPER::Oem2Ansi(char* text, int length)
{
    if (!text)
        return;
    size_t n = length < 0 ? strlen(text) : static_cast<size_t>(length);
    for (size_t i = 0; i < n; ++i)
        text[i] = static_cast<char>(STRING::DosToAnsi[static_cast<unsigned char>(text[i])]);
}

COLORREF HELPER::Halftone(COLORREF colour, signed char full)
{
    double h = 0, s = 0, b = 0;
    OSYS::ColorRGBtoHSB(colour, &h, &s, &b);
    COLORREF tint = 0x78A0A0;
    int percent = 10;
    if (b < 0.1)
        percent = 18;
    else if (b >= 0.2 && b <= 0.9)
        tint = 0x003740;
    if (!full)
        percent /= 2;
    return OSYS::CalcColorBlend(colour, tint, percent);
}

// ---------------------------------------------------------------------------
// Fonts and transparency

COREFONT* HELPER::LoadFontWithFallback(SESSION& session, WINDC& dc, wchar_t* fontString, int size,
                                       signed char* bold, int codePage, signed char skipViewFont)
{
    TARVOAPP::CheckCallerThread("HELPER::LoadFontWithFallback");
    for (int attempt = 0; attempt < 4; ++attempt) {
        wchar_t spec[256] = {};
        switch (attempt) {
        case 0:
            wcsncpy(spec, fontString ? fontString : L"", 255);
            break;
        case 1:
            if (skipViewFont)
                continue;
            session.Screen.GetFont(spec, 256, nullptr);
            break;
        case 2:
            wcsncpy(spec, session.Settings.data.MacDefaultFont, 127);
            break;
        default:
            TERMFONTS::GetDefaultFont(spec, 256, 11);
            break;
        }
        if (!spec[0])
            continue;
        wchar_t name[128] = {};
        TERMFONTS::GetNameFromFontstr(spec, name, 128);
        int w = 8, h = 14;
        TERMFONTS::GetSizeFromFontstr(spec, &w, &h);
        if (w <= 0)
            w = 8;
        if (h <= 0)
            h = 14;
        bool const wantBold = attempt < 2 && bold && *bold;
        COREFONT* font = dc.LoadFixedFontW(name, SIZE{w, h}, wantBold, session.Prof.data.AntiAliasing, codePage);
        if (!font)
            continue;
        dc.SelectFont(font);
        wchar_t real[128] = {};
        dc.GetFontnameW(real, 128);
        if (wcscasecmp(real, name) != 0) {
            dc.DeselectFont(font);
            dc.DestroyFont(font);
            continue;
        }
        if (attempt > 0 && fontString && size > 0) {
            wcsncpy(fontString, spec, static_cast<size_t>(size) - 1);
            fontString[size - 1] = 0;
        }
        if (attempt >= 2 && bold)
            *bold = 0;
        return font;
    }
    return nullptr;
}

void HELPER::SetTransparency(WINDOW& window, CHILDWINDOW& child, int, int percent)
{
    if (percent == -1)
        return;
    window.SetClientAreaTransparency(percent >= 1, false);
    child.Invalidate(nullptr);
}

// ---------------------------------------------------------------------------
// Push functions of data-bound dialogs

void HELPER::PushFnctSelectFile(void* app, CONTROLID id, CONTROLPARENT parent, STRING* parm)
{
    if (!VCHECK(app != nullptr, "app!=NULL", nullptr))
        return;
    APP& a = *static_cast<APP*>(app);
    STRING text = parm ? *parm : STRING();
    int32_t br = text.Pos("\n");
    STRING start = br >= 0 ? text.Left(br) : text;
    STRING title = br >= 0 ? text.Substr(br + 1) : STRING();
    if (start.IsEmpty())
        start = "%QORFILES%";
    if (title.IsEmpty())
        title = "QOR ";
    CONTROL field(parent, id);
    char buf[261] = {};
    field.GetText(buf, sizeof buf);
    LOGIT("ThreeDotsFile filebuf= %s\n", buf);
    STRING begin;
    if (buf[0] && !strchr(buf, '<')) {
        begin = FILENAME(FILENAME(start.Buf()).Buf(), buf).Buf();
        LOGIT("ThreeDotsFile filebuf expanded= %s\n", begin.Buf());
    } else {
        begin = FILENAME(WORKDIR::GetCurrent().Buf(), FILENAME(start.Buf()).Buf()).Buf();
    }
    STRING chosen = a.AskFilename(title.Buf(), begin.Buf());
    if (chosen.NotEmpty()) {
        STRING shell = FILENAME(chosen.Buf()).AsShellStrings(true);
        field.SetControlText(shell.Buf());
        LOGIT("ThreeDotsFile filebuf as shellstring= %s\n", shell.Buf());
    }
}

void HELPER::PushFnctSelectFolder(void* app, CONTROLID id, CONTROLPARENT parent, STRING* parm)
{
    if (!VCHECK(app != nullptr, "app!=NULL", nullptr))
        return;
    APP& a = *static_cast<APP*>(app);
    STRING start = parm && parm->NotEmpty() ? *parm : WORKDIR::GetCurrent();
    CONTROL field(parent, id);
    char buf[261] = {};
    field.GetText(buf, sizeof buf);
    LOGIT("ThreeDotsDir filebuf= %s\n", buf);
    FILENAME folder(start.Buf());
    if (buf[0])
        folder = FILENAME(start.Buf(), buf);
    LOGIT("ThreeDotsDir filebuf expanded= %s\n", folder.Buf());
    if (!folder.IsAbsPath())
        folder = FILENAME(WORKDIR::GetCurrent().Buf(), folder.Buf());
    STRING chosen = a.AskDirectory("QOR ", folder.Buf());
    if (chosen.NotEmpty()) {
        STRING shell = FILENAME(chosen.Buf()).AsShellStrings(true);
        field.SetControlText(shell.Buf());
        LOGIT("ThreeDotsFile filebuf as shellstring= %s\n", shell.Buf());
    }
}

void HELPER::PushFnctSetSystemColors(void* session, CONTROLID, CONTROLPARENT parent, STRING*)
{
    if (!VCHECK(session != nullptr, "session!=NULL", nullptr))
        return;
    SESSION& s = *static_cast<SESSION*>(session);
    if (APP* app = s.Application()) {
        WINDOW owner(parent);
        app->EditSysColors(owner);
    }
}

void HELPER::PushFnctDiscardDialog(void*, CONTROLID id, CONTROLPARENT parent, STRING*)
{
    WINDOW holder(parent);
    if (auto* callbacks = dynamic_cast<WINDOWCALLBACKS*>(DARWINDOW::GetThisFromWindowRef(holder.GetWindow())))
        callbacks->OnPushbutton(id);
}

std::string HELPER::RedactLogin(char const* text)
{
    std::string t = text ? text : "";
    size_t start = std::string::npos;
    for (char const* head : {"SSH!", "/SSH:", "-SSH:", "SSH:"}) {
        char const* found = strcasestr(t.c_str(), head);
        if (found) {
            start = static_cast<size_t>(found - t.c_str()) + strlen(head);
            break;
        }
    }
    size_t const at = start == std::string::npos ? std::string::npos : t.find('@', start);
    if (at == std::string::npos)
        return t;
    size_t const colon = t.find(':', start);
    if (colon == std::string::npos || colon > at)
        return t;
    size_t const end = std::min(at, t.find(':', colon + 1));
    return t.substr(0, colon + 1) + "****" + t.substr(end);
}
