// The fixed-pitch font lists, the name rules and the cache file of families
// that are not fixed-pitch, and CONTROLFONT.
#include "velmot/gui/winfontlist.h"

#include "platform/draw/viewsupport.h"
#include "platform/services/fileio.h"
#include "platform/services/folders.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/windraw.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

WSTRINGARRAY WINDOWFONT::Fontlist;
WSTRINGARRAY WINDOWFONT::FontlistBold;
STRINGARRAY WINDOWFONT::FontlistFilter;
MUTEXSEM WINDOWFONT::FontlistLock;

namespace {

void Check(char const* where) { TARVOAPP::CheckCallerThread(where); }

constexpr char kCacheHeader[] =
    "# V1.00 // cached fixed fonts exclude list (used for QOR6, can be deleted, will be rewritten)";

// The sample whose advances decide whether a family is fixed-pitch: narrow,
// wide, punctuation, accented and descending glyphs.
constexpr unsigned short kTrySample[] = {0x0069, 0x00D6, 0x0057, 0x003A, 0x00C4, 0x0079};

// The sizes the fixed-pitch list tries: every size up to 20, then every
// second one up to 40.
int NextSize(int size) { return size < 20 ? size + 1 : size + 2; }
constexpr int kFirstSize = 8;
constexpr int kLastSize = 41;

// A family name as the lists and the log hold it: UTF-8.
STRING Utf8(WSTRING const& name)
{
    STRING s = name.AsUtf8();
    s.CodePage = UNICODE_CPUTF8;
    return s;
}

// Measures the family at the list's sizes into out, one entry per new
// cell; with stopAt, only up to the first entry of that cell or of a taller
// one.
void MeasureFamily(WINDC& dc, WSTRING const& family, bool bold, UNICODE_CODEPAGE cp, WSTRINGARRAY& out,
                   SIZE const* stopAt)
{
    SIZE last{-1, -1};
    for (int size = kFirstSize; size <= kLastSize; size = NextSize(size)) {
        SIZE cell{};
        if (!WINDOWFONT::TryFont(dc, size, cp, bold, family, &cell))
            break;
        // A size that draws the same cell as the one before adds nothing a
        // terminal could tell apart.
        if (cell == last)
            continue;
        last = cell;
        WSTRING entry(family);
        entry.FormatAppend(L"|%d%ls|%d X %d", size, bold ? L"B" : L"", cell.cx, cell.cy);
        out.AppendItem(entry);
        LOGIT("WINDOWFONT::GetFixedFontList found fixed font: %s\n", Utf8(entry).Buf());
        if (stopAt && (cell == *stopAt || cell.cy > stopAt->cy))
            break;
    }
}

} // namespace

STRING WINDOWFONT::FontlistCacheFile()
{
    // The program's own folder in the user's cache folder (made when the
    // file is first written); empty without a home.
    std::string folder = plat::FolderPath(plat::Folder::Cache, false);
    if (folder.empty()) {
        char const* xdg = getenv("XDG_CACHE_HOME");
        char const* home = getenv("HOME");
        if (xdg && *xdg == '/')
            folder = std::string(xdg) + "/";
        else if (home && *home == '/')
            folder = std::string(home) + "/.cache/";
        else
            return STRING("");
    }
    return STRING((folder + "qor/Tarvo_NotFixedFonts.txt").c_str());
}

namespace {

// The cache file is only ever a short list: anything larger, or not a
// regular file, is not read.
constexpr size_t kMaxCacheBytes = 1u << 20;

// The cache file's lines (quoted on writing), none when it cannot be read.
void LoadCache(STRINGARRAY& into)
{
    into.DeleteAllItems();
    STRING const file = WINDOWFONT::FontlistCacheFile();
    std::string text;
    if (file.IsEmpty() || !plat::fileio::ReadBounded(file.Buf(), kMaxCacheBytes, text))
        return;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        BINARY raw(text.data() + start, static_cast<int32_t>(end - start));
        into.AppendItem(STRING(raw.UnQuoted(true)));
        start = end + 1;
    }
}

// Replaces the cache file in one step (a FIFO or a device put in its place
// is replaced, never written into).
bool SaveCache(STRINGARRAY const& lines)
{
    STRING const file = WINDOWFONT::FontlistCacheFile();
    if (file.IsEmpty())
        return false;
    std::string content;
    for (int i = 0; i < lines.NumItems(); ++i) {
        STRING const line = lines[i]->Quoted("");
        content.append(line.Buf(), static_cast<size_t>(line.Length()));
        content.push_back('\n');
    }
    std::string const path = file.Buf();
    return plat::fileio::MakeFolders(plat::fileio::FolderOf(path), 0700) &&
           plat::fileio::WriteAtomic(path, content, 0600);
}

} // namespace

bool WINDOWFONT::IsBlacklistedByName(STRING const& name)
{
    char const* s = name.Buf();
    if (s[0] == '#' || s[0] == '.')
        return true;
    if (name.Find(" Std") && !name.Find("OCR"))
        return true;
    static char const* const kParts[] = {" ITC ", "Gothic", " LET", " Pro", " ProN", " BoxDrawing", "Gill Sans",
                                         " Script", "Apple", "Arial"};
    for (char const* part : kParts)
        if (name.Find(part))
            return true;
    return false;
}

bool WINDOWFONT::TryFont(WINDC& dc, int size, UNICODE_CODEPAGE, bool bold, WSTRING const& name, SIZE* cell)
{
    Check("WINDOWFONT::TryFont");
    SIZE found{};
    if (cell)
        *cell = found;
    STRING utf8 = Utf8(name);
    LOGIT("WINDOWFONT::TryFont trying %s with sizey %d and bold %d\n", utf8.Buf(), size, int(bold));
    bool fixed = false;
    if (COREFONT* font = dc.LoadFontW(name.Buf(), size, bold, false, false, 0, UNICODE_CPDEFAULT)) {
        dc.SelectFont(font);
        constexpr int n = int(std::size(kTrySample));
        float advances[n] = {};
        uint32_t glyphs[n] = {};
        RECT box{};
        if (dc.hFontContext && font->GetStringInfo(dc.hFontContext, dc, kTrySample, n, &box, advances, glyphs)) {
            fixed = true;
            for (int i = 0; i < n; ++i)
                fixed = fixed && glyphs[i] != 0 && std::abs(advances[i] - advances[0]) <= 0.0001f;
        }
        if (fixed)
            found = dc.GetFontSize();
        if (dc.hFontContext)
            ASSERTQUIET((dc.hFontContext->IsRealFixed != 0) == (fixed != 0),
                        "(charfontcontext->IsRealFixed!=0)==(isfixed!=0)");
        dc.DeselectFont(font);
        dc.DestroyFont(font);
    }
    if (cell)
        *cell = found;
    LOGIT("WINDOWFONT::TryFont returns fixedfont= %d for %s (%d/%d)\n", int(fixed), utf8.Buf(), found.cx, found.cy);
    return fixed;
}

int WINDOWFONT::FillFontlistFilter(int reason)
{
    Check("WINDOWFONT::FillFontlistFilter");
    LOGIT("WINDOWFONT::FillFontlistFilter %d\n", reason);
    MUTEXLOCK lock(FontlistLock);
    if (FontlistFilter.NumItems() > 0)
        return 1;
    PERFORMANCETIMER timer("FillFontlistFilter");

    STRING file = FontlistCacheFile();
    STRINGARRAY cached;
    LoadCache(cached);
    STRINGARRAY const read = cached;
    if (cached.NumItems() > 0 && cached[0]->Buf()[0] == '#')
        cached.DeleteItem(0);

    MEMORYBITMAP bitmap(500, 100);
    WINDC dc(bitmap, bitmap.GetRect(), true);
    WSTRINGARRAY families = COREFONT::CopyAvailableFontFamilyNames();
    for (int i = 0; i < families.NumItems(); ++i) {
        WSTRING const& family = *families[i];
        STRING name = Utf8(family);
        const int last = FontlistFilter.NumItems() - 1;
        if (last >= 0 && stricmp(FontlistFilter[last]->Buf(), name.Buf()) == 0)
            continue;
        if (IsBlacklistedByName(name)) {
            LOGIT("WINDOWFONT::FillFontlistFilter name-blacklists %s\n", name.Buf());
            LOGIT("WINDOWFONT::FillFontlistFilter blacklists %s\n", name.Buf());
            continue;
        }
        int known = cached.FindItem(name.Buf());
        if (known >= 0) {
            cached.DeleteItem(known);
            LOGIT("WINDOWFONT::FillFontlistFilter file-blacklists %s from %s\n", name.Buf(), file.Buf());
            FontlistFilter.AppendItem(name);
            LOGIT("WINDOWFONT::FillFontlistFilter blacklists %s\n", name.Buf());
            continue;
        }
        if (TryFont(dc, 10, UNICODE_CPDEFAULT, false, family, nullptr))
            continue;
        FontlistFilter.AppendItem(name);
        LOGIT("WINDOWFONT::FillFontlistFilter blacklists %s\n", name.Buf());
    }

    STRINGARRAY out;
    out.AppendItem(STRING(kCacheHeader));
    for (int i = 0; i < FontlistFilter.NumItems(); ++i)
        out.AppendItem(*FontlistFilter[i]);
    // Most starts find what the file already holds: it is left alone then.
    bool same = out.NumItems() == read.NumItems();
    for (int i = 0; same && i < out.NumItems(); ++i)
        same = strcmp(out[i]->Buf(), read[i]->Buf()) == 0;
    if (!same && !SaveCache(out))
        LOGIT("WINDOWFONT::FillFontlistFilter cannot write %s\n", file.Buf());

    LOGIT("WINDOWFONT::FillFontlistFilter finished with %d entries in %.2lf sec.\n", FontlistFilter.NumItems(),
          timer.GetDuration());
    return 1;
}

int WINDOWFONT::GetFixedFontlist(WSTRINGARRAY& out, bool bold, UNICODE_CODEPAGE cp, wchar_t const* preselect)
{
    Check("WINDOWFONT::GetFixedFontlist");
    const bool selected = preselect && *preselect;
    LOGIT("WINDOWFONT::GetFixedFontList entered, bold=%d, preselect= %s\n", int(bold),
          selected ? Utf8(WSTRING(preselect)).Buf() : "");
    MUTEXLOCK lock(FontlistLock);
    out.DeleteAllItems();
    WSTRINGARRAY& stored = bold ? FontlistBold : Fontlist;
    if (stored.NumItems() > 0) {
        out = stored;
        LOGIT("WINDOWFONT::GetFixedFontList returns previous stored fontlist with %d entries\n", out.NumItems());
        return out.NumItems();
    }
    PERFORMANCETIMER total("GetFixedFontlist total");
    FillFontlistFilter(-1);
    WSTRINGARRAY families = COREFONT::CopyAvailableFontFamilyNames();
    if (families.NumItems() == 0) {
        AssertMsg(0, "FALSE", __FILE__, __LINE__);
        return 0;
    }
    MEMORYBITMAP bitmap(500, 100);
    WINDC dc(bitmap, bitmap.GetRect(), true);
    PERFORMANCETIMER ticks("GetFixedFontlist ticks");
    WSTRING previous;
    std::unique_ptr<PERFORMANCETIMER> familyTimer;
    for (int i = 0; i < families.NumItems(); ++i) {
        WSTRING const& family = *families[i];
        STRING name = Utf8(family);
        if (FontlistFilter.FindItem(name.Buf()) >= 0 || IsBlacklistedByName(name))
            continue;
        if (previous.Length() > 0 && wcsicmp(family.Buf(), previous.Buf()) == 0)
            continue;
        if (selected && wcsicmp(family.Buf(), preselect) != 0)
            continue;
        LOGIT("WINDOWFONT::GetFixedFontList %s %1.3lf\n", Utf8(previous).Buf(),
              familyTimer ? familyTimer->GetDuration() * 1000.0 : 0.0);
        familyTimer = std::make_unique<PERFORMANCETIMER>("GetFixedFontlist family");
        previous = family;
        MeasureFamily(dc, family, bold, cp, out, nullptr);
    }
    if (!selected)
        stored = out;
    ticks.LogResult();
    total.LogResult();
    LOGIT("WINDOWFONT::GetFixedFontList finished with %d entries\n", out.NumItems());
    return out.NumItems();
}

int WINDOWFONT::GetFixedFamilyUpTo(WSTRINGARRAY& out, bool bold, UNICODE_CODEPAGE cp, wchar_t const* family,
                                   SIZE cell)
{
    Check("WINDOWFONT::GetFixedFamilyUpTo");
    MUTEXLOCK lock(FontlistLock);
    out.DeleteAllItems();
    if (!family || !*family)
        return 0;
    WSTRINGARRAY const& stored = bold ? FontlistBold : Fontlist;
    if (stored.NumItems() > 0) {
        out = stored;
        return out.NumItems();
    }
    // The installed spelling of the family: the list names it so.
    WSTRINGARRAY families = COREFONT::CopyAvailableFontFamilyNames();
    int found = -1;
    for (int i = 0; i < families.NumItems() && found < 0; ++i)
        if (wcsicmp(families[i]->Buf(), family) == 0)
            found = i;
    if (found < 0)
        return 0;
    WSTRING const& name = *families[found];
    STRING utf8 = Utf8(name);
    if (IsBlacklistedByName(utf8))
        return 0;
    MEMORYBITMAP bitmap(500, 100);
    WINDC dc(bitmap, bitmap.GetRect(), true);
    // Filtered as FillFontlistFilter would: named in the cache file, or not
    // fixed-pitch at 10 points.
    if (FontlistFilter.NumItems() > 0) {
        if (FontlistFilter.FindItem(utf8.Buf()) >= 0)
            return 0;
    } else {
        STRINGARRAY cached;
        LoadCache(cached);
        if (cached.NumItems() > 0 && cached[0]->Buf()[0] == '#')
            cached.DeleteItem(0);
        if (cached.FindItem(utf8.Buf()) >= 0 || !TryFont(dc, 10, UNICODE_CPDEFAULT, false, name, nullptr))
            return 0;
    }
    MeasureFamily(dc, name, bold, cp, out, &cell);
    LOGIT("WINDOWFONT::GetFixedFamilyUpTo finished with %d entries\n", out.NumItems());
    return out.NumItems();
}

// ---------------------------------------------------------------------------
// CONTROLFONT

CONTROLFONT::CONTROLFONT(plat::ViewRef control) : Control(control) { Check("CONTROLFONT::CONTROLFONT"); }

CONTROLFONT::CONTROLFONT(plat::ViewRef control, char const* spec, UNICODE_CODEPAGE cp) : Control(control)
{
    Check("CONTROLFONT::CONTROLFONT");
    AttachToControl(spec, cp);
}

CONTROLFONT::~CONTROLFONT() { DetachFromControl(); }

void CONTROLFONT::AttachToControl(char const* spec, UNICODE_CODEPAGE)
{
    Check("CONTROLFONT::AttachToControl");
    DetachFromControl();
    if (!spec)
        return;
    FONTSPEC f = ParseFontSpec(WSTRING(spec, UNICODE_CPDEFAULT).Buf());
    HandleStandardFonts(&f.Name, &f.Size, f.Prefix);
    plat::ViewFontStyle style;
    style.family = f.Name.AsUtf8().Buf();
    style.pixelSize = f.Size;
    style.bold = f.Bold;
    plat::Status err = style.family.empty() ? plat::kErrBadArgument : plat::SetViewFont(Control, style);
    ASSERTMSG(err == plat::kNoErr, "err==noErr");
}

void CONTROLFONT::DetachFromControl()
{
    Check("CONTROLFONT::DetachFromControl");
    if (!Control || !plat::IsViewValid(Control))
        return;
    plat::Status err = plat::SetViewFont(Control, plat::ViewFontStyle{});
    ASSERTMSG(err == plat::kNoErr, "err==noErr");
}
