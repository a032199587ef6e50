// The import of foreign host lists through the converter library.
#include "program/hostdir/phoneimport.h"

#include "program/hostdir/phonetext.h"
#include "program/session/session.h"

#include "velmot/core/hash.h"
#include "velmot/core/logit.h"
#include "velmot/core/osysfile.h"
#include "velmot/gui/wincontrols.h"
#include "velmot/gui/winentry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr size_t kFormatListSize = 1024;
constexpr int kFileFieldSize = 1023;

CONTROLID Id(char const (&kind)[5], int n)
{
    return CONTROLID{OptsFourCC(kind), n};
}

// A wide name as a code page 1252 text for the list ("?" for what 1252
// lacks).
std::string ShownName(wchar_t const* name)
{
    std::string out;
    for (size_t i = 0; i < 65 && name[i]; ++i)
        out.push_back(name[i] > 0 && name[i] < 256 ? static_cast<char>(name[i]) : '?');
    return out;
}

// The dialog of the target section and the entries: its rules hold from
// the start, not only after the first click.
class CHOICEDIALOG : public DATADIALOGBOX {
public:
    CHOICEDIALOG(char const* nib, WINDOW const& owner) : DATADIALOGBOX(nib, owner, nullptr) {}
    int Process(signed char noshow = 0) override
    {
        Save = 1;
        ValuesToDialog();
        CONTROLPARENT const p = GetControlParent();
        for (CONTROLID const& id : Sources)
            DATADIALOGBASE::HandleControlEvent(CONTROLEVENT_CLICKED, CONTROL(p, id), nullptr);
        return DIALOG::Process(noshow != 0);
    }
    std::vector<CONTROLID> Sources;
};

} // namespace

// ---------------------------------------------------------------------------
// The format list

void PHONEIMPORT::ParseFormats(char const* text, std::vector<std::string>& names, std::vector<std::string>& masks)
{
    names.clear();
    masks.clear();
    if (!text)
        return;
    std::string const list(text, strnlen(text, kFormatListSize - 1));
    size_t start = 0;
    while (start <= list.size()) {
        size_t const bar = list.find('|', start);
        std::string const item = list.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!item.empty()) {
            size_t const semi = item.find(';');
            names.push_back(item.substr(0, semi));
            masks.push_back(semi == std::string::npos ? "*.*" : item.substr(semi + 1));
        }
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
}

bool PHONEIMPORT::NeedsFile(char const* mask)
{
    return mask && strcasecmp(mask, "N/A") != 0 && mask[0] != '<';
}

// ---------------------------------------------------------------------------
// The format dialog

PHONEIMPORTDIALOG::PHONEIMPORTDIALOG(PHONEBOOKHOST& host, WINDOW const& owner, char const* dialog, void*,
                                     char const* formats)
    : DATADIALOGBOX(dialog, owner, nullptr), Host(host)
{
    PHONEIMPORT::ParseFormats(formats, FormatNames, FormatMasks);
    for (std::string const& name : FormatNames)
        Choices.AppendItem(STRING(name.c_str()));
    AddItem(new ENTRYDATADIALOGITEM(Id("EDIT", 23), FileName, kFileFieldSize));
    AddItem(new LISTDATADIALOGITEM(Id("LIST", 2), Index, Choices));
}

PHONEIMPORTDIALOG::~PHONEIMPORTDIALOG() = default;

int PHONEIMPORTDIALOG::Format() const
{
    return atoi(Index.Buf());
}

int PHONEIMPORTDIALOG::Process(signed char noshow)
{
    // The first run shows the first format's mask; a run again shows what
    // the user chose before.
    ShownFormat = FormatMasks.empty() ? -1 : std::clamp(Format(), 0, static_cast<int>(FormatMasks.size()) - 1);
    if (FileName.IsEmpty() && ShownFormat >= 0)
        FileName = FormatMasks[static_cast<size_t>(ShownFormat)].c_str();
    Save = 1;
    ValuesToDialog();
    CheckFile();
    return DIALOG::Process(noshow != 0);
}

void PHONEIMPORTDIALOG::FormatChosen()
{
    BASELIST* list = nullptr;
    for (int i = 0; i < GetItemCount(); ++i)
        if (auto* item = dynamic_cast<LISTDATADIALOGITEM*>(GetItem(i)))
            list = item->pList.get();
    int const chosen = list ? list->GetSelectedItem(0) : -1;
    if (chosen == ShownFormat)
        return;
    ShownFormat = chosen;
    std::string const mask =
        chosen >= 0 && static_cast<size_t>(chosen) < FormatMasks.size() ? FormatMasks[static_cast<size_t>(chosen)] : "";
    ENTRYFIELD(GetControlParent(), Id("EDIT", 23)).SetText(mask.c_str());
    CheckFile();
}

void PHONEIMPORTDIALOG::CheckFile()
{
    CONTROLPARENT const p = GetControlParent();
    STRING const text = CONTROL(p, Id("EDIT", 23)).GetText();
    bool const needed = PHONEIMPORT::NeedsFile(text.Buf());
    CONTROL(p, Id("EDIT", 23)).Enable(needed);
    CONTROL(p, Id("PUSH", 9)).Enable(needed);
    CONTROL(p, Id("OKAY", 0)).Enable(!needed || (text.NotEmpty() && access(text.Buf(), F_OK) == 0));
}

bool PHONEIMPORTDIALOG::OnControlEvent(int event, CONTROL const& control, void* data)
{
    bool const handled = DATADIALOG::OnControlEvent(event, control, data);
    CONTROLID const id = control.GetId();
    if (event == 769 && id == Id("LIST", 2))
        FormatChosen();
    else if (event == 513 && id == Id("EDIT", 23))
        CheckFile();
    return handled;
}

bool PHONEIMPORTDIALOG::OnPushbutton(CONTROLID id)
{
    if (id != Id("PUSH", 9))
        return DATADIALOGBOX::OnPushbutton(id);
    CONTROLPARENT const p = GetControlParent();
    STRING start = CONTROL(p, Id("EDIT", 23)).GetText();
    int const format = Format();
    if (start.IsEmpty() && format >= 0 && static_cast<size_t>(format) < FormatMasks.size())
        start = FormatMasks[static_cast<size_t>(format)].c_str();
    STRING const chosen = Host.AskFilename("Import", start.Buf(), this);
    if (chosen.NotEmpty()) {
        ENTRYFIELD(p, Id("EDIT", 23)).SetText(chosen.Buf());
        CheckFile();
    }
    return true;
}

// ---------------------------------------------------------------------------
// The import

PHONEIMPORT::PHONEIMPORT(PHONEBOOK& book, SESSION* session) : Book(book), Session(session) {}

PHONEIMPORT::~PHONEIMPORT() = default;

bool PHONEIMPORT::Load(char const* library)
{
    QueryTypes = nullptr;
    ImportFiles = nullptr;
    if (!Library.Load(library)) {
        LOGIT("PHONEIMPORT::Load: no converter library %s\n", library ? library : "<null>");
        return false;
    }
    QueryTypes = reinterpret_cast<QUERYTYPES>(Library.GetFunction("ph_ImportQueryTypes"));
    ImportFiles = reinterpret_cast<IMPORTFILES>(Library.GetFunction("ph_ImportFiles"));
    return IsLoaded();
}

int PHONEIMPORT::ImportMain(WINDOW const& owner)
{
    LOGIT("PHONEIMPORT::ImportMain\n");
    if (!IsLoaded())
        return 0;
    char formats[kFormatListSize] = {};
    QueryTypes(formats, static_cast<int>(sizeof formats));
    formats[sizeof formats - 1] = 0;
    PHONEIMPORTDIALOG dialog(Book.Host(), owner, "DLG_WIN_PHONE_IMPORT", nullptr, formats);
    for (;;) {
        if (dialog.Process() != static_cast<int>(PHONE_END_OKAY) || dialog.File().IsEmpty())
            return 0;
        // The converted entries go to a private temporary file, removed
        // afterwards: they may hold passwords.
        FILENAME const converted("<temp>");
        if (converted.IsEmpty())
            return 0;
        void* const profile = Session ? static_cast<void*>(&Session->Prof.data) : nullptr;
        int const rc = ImportFiles(dialog.File().Buf(), dialog.Format(), converted.Buf(), profile, 0, Session, &Library);
        LOGIT("PHONEIMPORT::ImportMain converter answered %d\n", rc);
        if (rc == 0) {
            int const added = ImportAfterConvert(converted.Buf(), owner);
            unlink(converted.Buf());
            return added;
        }
        unlink(converted.Buf());
        if (rc == -1)
            return 0;
        Book.Host().ErrorMsg(phonetext::Text(rc == 2 ? "IDS_PHONE_IMPORT_ERRFILE" : "IDS_PHONE_IMPORT_ERRTYPE").Buf());
    }
}

signed char PHONEIMPORT::ImportAfterConvert(char const* convertedFile, WINDOW const& owner)
{
    LOGIT("PHONEIMPORT::ImportAfterConvert\n");
    // Counting, then reading into room for all of them and five more (at
    // least 64).
    int count = 0;
    _PHONEBOOK_300 record;
    if (FILE* f = convertedFile ? fopen(convertedFile, "r") : nullptr) {
        while (Book.ReadNextEntry(f, &record, "6.44"))
            ++count;
        fclose(f);
    }
    size_t const room = static_cast<size_t>(std::max(count + 5, 64));
    std::vector<_PHONEBOOK_300> entries;
    if (FILE* f = convertedFile ? fopen(convertedFile, "r") : nullptr) {
        while (entries.size() < room && Book.ReadNextEntry(f, &record, "6.44"))
            entries.push_back(record);
        fclose(f);
    }
    explicit_bzero(&record, sizeof record);
    if (entries.empty()) {
        Book.Host().WarningMsg(phonetext::Text("IDS_PHONE_NO_IMPORTS_FOUND").Buf());
        return 0;
    }

    char sections[PHONE_MAXSECTIONS * 33] = {};
    Book.GetSectionString(sections, sizeof sections);
    int section = CurrentSection;
    int newSection = 0;
    int which = 0;
    char name[33] = {};
    STRING chosen;
    HASHLIST records;
    for (size_t i = 0; i < entries.size(); ++i) {
        HASH h;
        h["name"] = ShownName(entries[i].name).c_str();
        h["index"] = std::to_string(i).c_str();
        records.AppendItem(h);
    }
    CHOICEDIALOG dialog("DLG_WIN_PHONE_IMPORT2", owner);
    dialog.AddItem(new LISTDATADIALOGITEM(Id("LIST", 3), &section, sections));
    dialog.AddItem(new CHECKDATADIALOGITEM(Id("CHEC", 0), &newSection, -1));
    dialog.AddItem(new ENTRYDATADIALOGITEM(Id("EDIT", 0), name, static_cast<int>(sizeof name)));
    dialog.AddItem(new RADIODATADIALOGITEM(Id("RADI", 0), &which, 0));
    dialog.AddItem(new RADIODATADIALOGITEM(Id("RADI", 1), &which, 1));
    dialog.AddItem(new LISTSTRINGHASHDATADIALOGITEM(Id("LIST", 4), chosen, &records, "name", "index"));
    CONTROLPARENT const none{};
    dialog.AutoDisable(none, Id("LIST", 3), none, Id("CHEC", 0), DATADIALOGBASE::DISABLE_IFSET, nullptr);
    dialog.AutoDisable(none, Id("EDIT", 0), none, Id("CHEC", 0), DATADIALOGBASE::DISABLE_IFNOTSET, nullptr);
    dialog.AutoDisable(none, Id("LIST", 4), none, Id("RADI", 0), DATADIALOGBASE::DISABLE_IFSET, nullptr);
    dialog.Sources = {Id("CHEC", 0), Id("RADI", 0)};
    if (dialog.Process() != static_cast<int>(PHONE_END_OKAY))
        return 0;

    std::vector<bool> take(entries.size(), which == 0);
    for (int k = 0; which == 1 && chosen.NotEmpty() && k < chosen.NumTokens("|"); ++k) {
        STRING const token = chosen.Token(k, "|");
        char* end = nullptr;
        long const i = strtol(token.Buf(), &end, 10);
        if (token.NotEmpty() && end && *end == 0 && i >= 0 && static_cast<size_t>(i) < take.size())
            take[static_cast<size_t>(i)] = true;
    }

    PHONEBOOKTABLE& table = Book.Table();
    int capacity = 0;
    _PHONEBOOK_300** slots = table.LockTable(&capacity);
    if (!slots)
        return 0;
    int target = section;
    PHONESTRUCTURE const* s = table.GetStructurePtr(slots);
    if (newSection || target < 0 || target >= s->numsections) {
        PHONEEDITSECTIONS list;
        Book.GetSections(&list);
        // A directory holds 64 sections: a 65th is refused.
        if (list.count >= PHONE_MAXSECTIONS) {
            table.UnlockTable(slots);
            Book.Host().ErrorMsg(phonetext::Text("IDS_PHONE_SECTIONS_FULL").Buf());
            return 0;
        }
        PHONEEDITSECTION& added = list.items[list.count];
        OPTSBASE::CopyText(added.name, sizeof added.name, name[0] ? name : "Import");
        added.formerindex = -1;
        added.usecount = 0;
        ++list.count;
        list.deletedcount = 0;
        Book.ReorgSections(&list);
        if (OnSectionsChanged)
            OnSectionsChanged();
        target = list.count - 1;
    }
    bool const noPasswords = Book.Host().Admin().DisableStoredPasswords != 0;
    int lost = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!take[i])
            continue;
        _PHONEBOOK_300& e = entries[i];
        e.section = target;
        e.folder = 0;
        e.handle = 0;
        if (noPasswords)
            memset(e.password, 0, sizeof e.password);
        Book.UpgradeEntry(&e);
        if (Session) {
            if (e.deviceid >= 0)
                Session->CommLayer.ForceLoad(e.deviceid, SS_FORCELOAD_ADD);
            if (e.emu >= 0)
                Session->EmuLayer.ForceLoad(e.emu, SS_FORCELOAD_ADD);
        }
        if (table.StoreAsNew(&e) < 0)
            ++lost;
    }
    table.UnlockTable(slots);
    for (_PHONEBOOK_300& e : entries)
        explicit_bzero(&e, sizeof e);
    // A full directory takes no more: say so rather than drop them quietly.
    if (lost > 0)
        Book.Host().ErrorMsg(phonetext::Text("IDS_PHONEBOOK_FULL").Buf());
    return 1;
}
