#include "velmot/gui/filenamedialog.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/wintarvo.h"

#include "platform/services/text.h"

#include <cstring>
#include <string>
#include <strings.h>
#include <sys/stat.h>

namespace {

// The beginning of the type identifiers the program declares for its own
// documents (the information values "TypeIdentifier.<ext>").
constexpr char const* kOwnTypePrefix = "application/x-qor-";

// Texts handed to the dialog are UTF-8; the library's byte strings are
// UTF-8 when they are valid UTF-8, code page 1252 otherwise.
std::string Utf8Of(char const* text)
{
    std::string s = text ? text : "";
    if (s.empty() || !plat::Text::FromUtf8(s).IsNull())
        return s;
    return WSTRING(STRING(s.c_str(), UNICODE_CPDEFAULT)).AsUtf8().Buf();
}

bool EndsWithNoCase(std::string const& s, std::string const& end)
{
    return s.size() >= end.size() && strcasecmp(s.c_str() + s.size() - end.size(), end.c_str()) == 0;
}

bool IsFolder(std::string const& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(std::string const& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

STRING PathString(std::string const& path)
{
    return STRING(path.c_str(), UNICODE_CPUTF8);
}

struct DIALOGTEXTS {
    char const* lookIn;
    char const* fileName;
    char const* fileType;
    char const* open;
    char const* save;
    char const* choose;
    char const* cancel;
    char const* replace;   // %s: the name, %s: the folder
    char const* noFile;    // %s: the path
    char const* noFolder;  // %s: the path
};

DIALOGTEXTS const& Texts()
{
    static DIALOGTEXTS const german{
        "Suchen in:", "Dateiname:", "Dateityp:", "Öffnen", "Sichern", "Auswählen", "Abbrechen",
        "Die Datei \"%s\" ist in \"%s\" schon vorhanden. Soll sie ersetzt werden?",
        "Die Datei \"%s\" wurde nicht gefunden.", "Der Ordner \"%s\" wurde nicht gefunden."};
    static DIALOGTEXTS const english{
        "Look in:", "File name:", "Files of type:", "Open", "Save", "Choose", "Cancel",
        "The file \"%s\" already exists in \"%s\". Do you want to replace it?",
        "The file \"%s\" was not found.", "The folder \"%s\" was not found."};
    return TARVOAPP::IsLocaleGerman() ? german : english;
}

std::string Formatted(char const* format, std::string const& a, std::string const& b = std::string())
{
    STRING text;
    text.Format(format, a.c_str(), b.c_str());
    return text.Buf();
}

} // namespace

FILENAMEDIALOG::FILENAMEDIALOG(plat::WindowRef owner) : Owner(owner)
{
    TARVOAPP::CheckCallerThread("FILENAMEDIALOG::FILENAMEDIALOG");
    Init();
}

FILENAMEDIALOG::~FILENAMEDIALOG() = default;

void FILENAMEDIALOG::Init()
{
    Results.DeleteAllItems();
    Extensions.DeleteAllItems();
    FilterTypes.DeleteAllItems();
    fPopup.clear();
    CurrentFilterName = "";
    UserAction = plat::kFileActionCancel;
    OptionFlags = 0;
}

bool FILENAMEDIALOG::AddExtensionToFilter(char const* extension)
{
    std::string const ext = extension ? extension : "";
    Extensions.AppendItem(PathString(ext));
    std::string const type = plat::TextTypeIdentifierForExtension(ext);
    if (type.rfind("dyn", 0) == 0)
        return false;
    FilterTypes.AppendItem(STRING(type.c_str()));
    if (type.rfind(kOwnTypePrefix, 0) == 0) {
        std::string const text = plat::TextTypeIdentifierForExtension("TEXT");
        if (text.rfind("dyn", 0) != 0)
            FilterTypes.AppendItem(STRING(text.c_str()));
    }
    return true;
}

void FILENAMEDIALOG::ApplyFilter(char const* filter)
{
    if (!filter || strstr(filter, "*.exe"))
        return;
    std::string const all = filter;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos)
            end = all.size();
        std::string line = all.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t const bar = line.find('|');
        if (bar == std::string::npos)
            continue;
        std::string const pattern = line.substr(bar + 1);
        if (pattern.find("*.") == std::string::npos || pattern.size() < 2)
            continue;
        std::string const ext = pattern.substr(2);
        if (AddExtensionToFilter(ext.c_str()))
            fPopup.push_back(plat::FileType{Utf8Of(line.substr(0, bar).c_str()), Utf8Of(ext.c_str())});
    }
}

int FILENAMEDIALOG::Run(KIND kind)
{
    fKind = kind;
    DIALOGTEXTS const& t = Texts();
    plat::FileDialogSpec spec;
    spec.kind = kind == KIND::OPEN   ? plat::FileDialogKind::Open
                : kind == KIND::SAVE ? plat::FileDialogKind::Save
                                     : plat::FileDialogKind::ChooseFolder;
    spec.title = Utf8Of(Title.Buf());
    spec.saveName = Utf8Of(SaveFileName.Buf());
    spec.multiple = (OptionFlags & NAVOPTION_MULTIPLEFILES) != 0;
    spec.showHidden = (OptionFlags & NAVOPTION_INVISIBLEFILES) != 0;
    spec.types = fPopup;
    spec.labels = {t.lookIn, t.fileName, t.fileType,
                   kind == KIND::OPEN ? t.open : kind == KIND::SAVE ? t.save : t.choose, t.cancel};
    spec.parent = Owner;
    spec.filter = [this](std::string const& path) { return ObjectFilterCallback(path.c_str()); };
    spec.event = [this](plat::FileDialogEvent& e) { NavEventCallback(e); };
    spec.approve = [this](plat::FileDialogReply const& r) { return ApproveReply(r); };
    Running = true;
    plat::RunFileDialog(spec);
    Running = false;
    return UserAction;
}

bool FILENAMEDIALOG::AskOpen(char const* title, char const* initial, char const* filter, bool multiple)
{
    TARVOAPP::CheckCallerThread("FILENAMEDIALOG::AskOpen");
    Init();
    Title = title ? title : "";
    SaveFileName = "";
    OptionFlags = NAVOPTION_INVISIBLEFILES | NAVOPTION_SUPPORTPACKAGES | (multiple ? NAVOPTION_MULTIPLEFILES : 0);
    InitialLocation = initial ? initial : "";
    ApplyFilter(filter);
    LOGIT("FILENAMEDIALOG::AskOpen %s in %s\n", Title.Buf(), InitialLocation.Buf());
    return Run(KIND::OPEN) == plat::kFileActionOpen;
}

bool FILENAMEDIALOG::AskSaveAs(char const* title, char const* initial, char const* filter)
{
    TARVOAPP::CheckCallerThread("FILENAMEDIALOG::AskSaveAs");
    // The default extension, from the first filter line.
    DefaultExtension = "";
    std::string const all = filter ? filter : "";
    std::string first = all.substr(0, all.find('\n'));
    if (!first.empty() && first.back() == '\r')
        first.pop_back();
    if (!first.empty() && first[0] == '.') {
        DefaultExtension = first.c_str();
    } else if (size_t const bar = first.find('|'); bar != std::string::npos) {
        std::string const pattern = first.substr(bar + 1);
        if (pattern.rfind("*.", 0) == 0)
            DefaultExtension = pattern.substr(1).c_str();
    }

    // The proposed path: in a folder, or for a "*.ext" pattern there, the
    // first free "untitled" name.
    std::string path = FILENAME(initial ? initial : "").Buf();
    if (IsFolder(path))
        path += (path.empty() || path.back() != '/' ? "/*" : "*") + std::string(DefaultExtension.Buf());
    if (!Exists(path)) {
        size_t const slash = path.rfind('/');
        std::string const folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
        std::string const name = slash == std::string::npos ? path : path.substr(slash + 1);
        if (IsFolder(folder.empty() ? std::string("/") : folder) && !name.empty() && name[0] == '*') {
            if (DefaultExtension.IsEmpty())
                DefaultExtension = name.substr(1).c_str();
            std::string const ext = DefaultExtension.Buf();
            for (int n = 1; n <= 31; ++n) {
                path = folder + "/untitled" + (n == 1 ? std::string() : std::to_string(n)) + ext;
                if (!Exists(path))
                    break;
            }
        }
    }

    Init();
    Title = title ? title : "";
    SaveFileName = PathString(path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1));
    OptionFlags = NAVOPTION_INVISIBLEFILES | NAVOPTION_DONTCONFIRMREPLACE;
    InitialLocation = PathString(path);
    ApplyFilter(filter);
    LOGIT("FILENAMEDIALOG::AskSaveAs %s as %s (extension %s)\n", Title.Buf(), InitialLocation.Buf(),
          DefaultExtension.Buf());
    return Run(KIND::SAVE) == plat::kFileActionSaveAs;
}

bool FILENAMEDIALOG::AskForFolder(char const* title, char const* initial)
{
    TARVOAPP::CheckCallerThread("FILENAMEDIALOG::AskForFolder");
    Init();
    Title = title ? title : "";
    SaveFileName = "";
    OptionFlags = NAVOPTION_ALLFILESINPOPUP | NAVOPTION_INVISIBLEFILES | NAVOPTION_SUPPORTPACKAGES;
    InitialLocation = initial ? initial : "";
    LOGIT("FILENAMEDIALOG::AskForFolder %s in %s\n", Title.Buf(), InitialLocation.Buf());
    return Run(KIND::FOLDER) == plat::kFileActionChoose;
}

int FILENAMEDIALOG::GetResults(STRINGARRAY* out) const
{
    if (out) {
        out->DeleteAllItems();
        for (int i = 0; i < Results.NumItems(); ++i)
            out->AppendItem(*Results[i]);
    }
    return Results.NumItems();
}

bool FILENAMEDIALOG::ObjectFilterCallback(char const* path) const
{
    if (FilterTypes.NumItems() == 0)
        return true;
    for (plat::FileType const& type : fPopup)
        if (type.description == CurrentFilterName.Buf())
            return true;
    std::string const p = path ? path : "";
    for (int i = 0; i < Extensions.NumItems(); ++i)
        if (EndsWithNoCase(p, "." + std::string(Extensions[i]->Buf())))
            return true;
    return false;
}

void FILENAMEDIALOG::NavEventCallback(plat::FileDialogEvent& event)
{
    switch (event.selector) {
    case plat::kFileDialogStart:
        if (InitialLocation.NotEmpty()) {
            std::string const where = InitialLocation.Buf();
            event.location = IsFolder(where) ? where : where.substr(0, where.rfind('/') + 1);
        }
        break;
    case plat::kFileDialogPopup:
        if (event.popupIndex >= 0 && event.popupIndex < static_cast<int>(fPopup.size()))
            CurrentFilterName = STRING(fPopup[static_cast<size_t>(event.popupIndex)].description.c_str(),
                                       UNICODE_CPUTF8);
        break;
    case plat::kFileDialogUserAction:
        UserAction = event.action;
        LOGIT("FILENAMEDIALOG::NavEventCallback user action %d\n", UserAction);
        if (event.reply && UserAction >= plat::kFileActionOpen && UserAction <= plat::kFileActionChoose)
            ParseReply(*event.reply);
        break;
    default: break;
    }
}

STRING FILENAMEDIALOG::SavePath(plat::FileDialogReply const& reply) const
{
    std::string path = reply.selection.empty() ? std::string() : reply.selection.front();
    if (path.empty() || path.back() != '/')
        path += "/";
    path += reply.saveName;
    std::string const ext = DefaultExtension.Buf();
    if (!ext.empty() && !EndsWithNoCase(path, ext))
        path += ext;
    return PathString(path);
}

bool FILENAMEDIALOG::ApproveReply(plat::FileDialogReply const& reply)
{
    DIALOGTEXTS const& t = Texts();
    std::string const title = Utf8Of(Title.Buf());
    if (reply.selection.empty())
        return false;
    switch (fKind) {
    case KIND::OPEN:
        for (std::string const& path : reply.selection) {
            if (!Exists(path) || IsFolder(path)) {
                WINTARVO::ErrorMsgBox(Owner, title.c_str(), Formatted(t.noFile, path).c_str());
                return false;
            }
        }
        return true;
    case KIND::FOLDER:
        if (!IsFolder(reply.selection.front())) {
            WINTARVO::ErrorMsgBox(Owner, title.c_str(), Formatted(t.noFolder, reply.selection.front()).c_str());
            return false;
        }
        return true;
    case KIND::SAVE: {
        std::string const folder = reply.selection.front();
        if (!IsFolder(folder)) {
            WINTARVO::ErrorMsgBox(Owner, title.c_str(), Formatted(t.noFolder, folder).c_str());
            return false;
        }
        std::string const path = SavePath(reply).Buf();
        if (!Exists(path))
            return true;
        std::string const name = path.substr(path.rfind('/') + 1);
        if (IsFolder(path)) {
            WINTARVO::ErrorMsgBox(Owner, title.c_str(), Formatted(t.noFile, path).c_str());
            return false;
        }
        return WINTARVO::YesNoMsgBox(Owner, title.c_str(), Formatted(t.replace, name, folder).c_str());
    }
    }
    return false;
}

bool FILENAMEDIALOG::ParseReply(plat::FileDialogReply const& reply)
{
    if (reply.selection.empty())
        return false;
    if (fKind == KIND::SAVE) {
        Results.AppendItem(SavePath(reply));
        return true;
    }
    for (std::string const& path : reply.selection)
        Results.AppendItem(PathString(path));
    return true;
}

// ---------------------------------------------------------------------------
// The free questions

char const* AskFilename(plat::WindowRef owner, char const* title, char const* initial, char const* filter)
{
    TARVOAPP::CheckCallerThread("AskFilename");
    static STRINGARRAY* const results = new STRINGARRAY; // lives for the whole program
    FILENAMEDIALOG dialog(owner);
    if (!dialog.AskOpen(title, initial, filter, false) || dialog.GetResults(results) < 1)
        return nullptr;
    return (*results)[0]->Buf();
}

int AskFilenames(plat::WindowRef owner, char const* title, char const* initial, STRINGARRAY* result,
                 char const* filter)
{
    TARVOAPP::CheckCallerThread("AskFilenames");
    FILENAMEDIALOG dialog(owner);
    if (!dialog.AskOpen(title, initial, filter, true))
        return 0;
    return dialog.GetResults(result);
}

char const* AskSaveAsFilename(plat::WindowRef owner, char const* title, char const* initial, char const* filter)
{
    TARVOAPP::CheckCallerThread("AskSaveAsFilename");
    static STRINGARRAY* const results = new STRINGARRAY; // lives for the whole program
    FILENAMEDIALOG dialog(owner);
    if (!dialog.AskSaveAs(title, initial, filter) || dialog.GetResults(results) < 1)
        return nullptr;
    return (*results)[0]->Buf();
}

STRING BrowseFolder(plat::WindowRef owner, char const* title, char const* initial)
{
    TARVOAPP::CheckCallerThread("BrowseFolder");
    FILENAMEDIALOG dialog(owner);
    STRINGARRAY results;
    if (!dialog.AskForFolder(title, initial) || dialog.GetResults(&results) < 1)
        return STRING("", UNICODE_CPUTF8);
    return *results[0];
}
