#include "velmot/gui/helpfile.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/regexp.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winbase.h"
#include "velmot/gui/wintarvo.h"

#include "platform/events/views.h"
#include "platform/events/windows.h"
#include "platform/services/helpbook.h"
#include "platform/services/resources.h"
#include "platform/services/spawn.h"

#include <cstring>
#include <fstream>
#include <string>
#include <strings.h>

HELPFILE* HELPFILE::pInstance = nullptr;

namespace {

constexpr size_t kTopicLineMax = 511;
constexpr size_t kHelpIdMax = 128;

STRING HelpFolderName()
{
    STRING folder = OSYS::GetValueFromAppInfoPlist("CFBundleHelpBookFolder");
    if (folder.IsEmpty())
        folder = "Help";
    return folder;
}

// The resource file `name` in the help folder `folder`; empty when there
// is none.
STRING HelpResource(char const* folder, char const* name)
{
    return STRING(plat::ResourceFilePath(name, {}, folder).c_str());
}

// The book's main page in the help folder.
STRING MainPage(char const* folder)
{
    STRING page = HelpResource(folder, "topic-ID_MAINWINDOW.html");
    return page.NotEmpty() ? page : HelpResource(folder, "topic-HLP_MAINWIN.html");
}

// A topic file line's topic: after the first "=", up to the first blank.
STRING TopicOf(std::string line)
{
    size_t const eq = line.find('=');
    if (eq != std::string::npos)
        line.erase(0, eq + 1);
    size_t const blank = line.find(' ');
    if (blank != std::string::npos)
        line.resize(blank);
    return STRING(line.c_str());
}

// The help id a window or view carries; empty when none.
std::string HelpIdOf(plat::ViewRef view, plat::WindowRef window, bool ofWindow)
{
    char buffer[kHelpIdMax + 1] = {};
    size_t actual = 0;
    plat::Status const err = ofWindow ? plat::GetWindowProperty(window, VLMT_CREATOR, WPROP_HELPID, buffer,
                                                                kHelpIdMax, &actual)
                                      : plat::GetViewProperty(view, VLMT_CREATOR, CPROP_HELPID, buffer, kHelpIdMax,
                                                              &actual);
    if (err != plat::kNoErr)
        return std::string();
    return std::string(buffer, strnlen(buffer, kHelpIdMax));
}

} // namespace

HELPFILE* HELPFILE::GetInstance()
{
    if (!pInstance) {
        pInstance = new HELPFILE;
        TARVOAPP::SetCleanupFunction(TARVOAPP::CLEANUP_HELPFILE, &HELPFILE::ReleaseInstance);
    }
    return pInstance;
}

void HELPFILE::ReleaseInstance()
{
    delete pInstance;
    pInstance = nullptr;
}

HELPFILE::HELPFILE() : MainTopic("-1")
{
    TARVOAPP::CheckCallerThread("HELPFILE::HELPFILE");
    LOGIT("HELPFILE::HELPFILE\n");
    FILENAME const page(MainPage("Help"));
    STRINGARRAY results;
    REGEXP::Match(page.IsEmpty() ? "" : page.Load().Buf(), ".*AppleTitle\" content=\"([^\"]*)\">", results);
    if (VCHECK(results.NumItems() == 2, "results.NumItems()==2", page.Buf()))
        BookTitle = *results[1];
    LOGIT("HELPFILE::HELPFILE done\n");
}

HELPFILE::~HELPFILE()
{
    LOGIT("HELPFILE::~HELPFILE\n");
    LOGIT("HELPFILE::~HELPFILE done\n");
}

bool HELPFILE::IsValid() const
{
    return Filename.NotEmpty();
}

void HELPFILE::SetFilename(char const* name, bool html)
{
    TARVOAPP::CheckCallerThread("HELPFILE::SetFilename");
    LOGIT("HELPFILE::SetFilename %s (html= %d)\n", name ? name : "", html ? 1 : 0);
    if (name) {
        IsHtml = html;
        Filename = name;
        STRING const folder = HelpFolderName();
        std::string const base(name, strlen(name) >= 3 ? strlen(name) - 3 : 0);
        STRING topics = HelpResource(folder.Buf(), (base + "ics").c_str());
        if (topics.IsEmpty())
            topics = HelpResource(folder.Buf(), (base + "cnt").c_str());

        // The book lies in the folder of its main page.
        STRING const mainPage = MainPage(folder.Buf());
        fFolder = FILENAME(mainPage.Buf()).JustPath();
        VASSERT(mainPage.NotEmpty() && plat::RegisterHelpBook(BookTitle.Buf(), fFolder.Buf()), "ok", fFolder.Buf());

        std::ifstream in(topics.IsEmpty() ? "" : topics.Buf(), std::ios::binary);
        if (VCHECK(in.is_open(), "fhelpcnt!=NULL", topics.Buf())) {
            std::string line;
            while (std::getline(in, line)) {
                if (line.size() > kTopicLineMax)
                    line.resize(kTopicLineMax);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                Topics.AppendItem(TopicOf(line));
            }
        }
    }
    LOGIT("HELPFILE::SetFilename done, file is %s (html= %d)\n", Filename.Buf(), IsHtml ? 1 : 0);
}

void HELPFILE::SetMainTopic(char const* topic)
{
    MainTopic = STRING(topic ? topic : "", UNICODE_CPDEFAULT);
}

void HELPFILE::AddMapping(char const* from, char const* to)
{
    TARVOAPP::CheckCallerThread("HELPFILE::AddMapping");
    if (!from || !to)
        return;
    for (int i = 0; i < NumMappings; ++i) {
        if (strcasecmp(Mappings[i].From.Buf(), from) == 0) {
            Mappings[i].To = STRING(to, UNICODE_CPDEFAULT);
            return;
        }
    }
    if (!VCHECK(NumMappings < MAXMAPPINGS, "this->NumMappings<ARRAYMAX(this->Mappings)", from))
        return;
    Mappings[NumMappings].From = STRING(from, UNICODE_CPDEFAULT);
    Mappings[NumMappings].To = STRING(to, UNICODE_CPDEFAULT);
    ++NumMappings;
}

int HELPFILE::Display(char const* topic)
{
    TARVOAPP::CheckCallerThread("HELPFILE::Display");
    if (!topic)
        return 0;
    for (int i = 0; i < NumMappings; ++i) {
        if (strcasecmp(Mappings[i].From.Buf(), topic) == 0) {
            topic = Mappings[i].To.Buf();
            break;
        }
    }
    LOGIT("HELPFILE::Display %s\n", topic);
    bool declared = false;
    for (int i = 0; i < Topics.NumItems() && !declared; ++i)
        declared = strcasecmp(Topics[i]->Buf(), topic) == 0;
    if (!declared)
        return 0;
    VASSERT(ShowAnchor(topic), "err==noErr", topic);
    return 1;
}

bool HELPFILE::Display(CONTROLPARENT parent)
{
    TARVOAPP::CheckCallerThread("HELPFILE::Display");
    plat::ViewRef view = parent.view;
    plat::WindowRef const window = view ? plat::GetViewWindow(view) : nullptr;
    plat::ViewRef const client = window ? plat::WindowContentView(window) : nullptr;
    while (view) {
        std::string const topic = HelpIdOf(view, window, view == client);
        if (!topic.empty() && Display(topic.c_str()))
            return true;
        view = plat::GetSuperview(view);
        if (view == client)
            break;
    }
    return false;
}

int HELPFILE::Contents(bool)
{
    TARVOAPP::CheckCallerThread("HELPFILE::Contents");
    bool const shown = ShowAnchor("CONTENT");
    VASSERT(shown, "err==noErr", "CONTENT");
    return shown ? 1 : 0;
}

bool HELPFILE::ShowAnchor(char const* anchor)
{
    std::string const url = plat::HelpAnchorUrl(BookTitle.Buf(), anchor);
    LOGIT("HELPFILE::ShowAnchor %s: %s\n", anchor, url.empty() ? "<none>" : url.c_str());
    if (url.empty())
        return false;
    if (OSYS::ShowUrl(url.c_str()))
        return true;
    // The page is there, but the desktop's opener is missing or failed:
    // a plain message says so (the help is not the program's fault).
    bool const missing = plat::FindProgram("xdg-open").empty();
    STRING text;
    text.Format(OSYS::GetStringFromResource(missing ? "IDS_TARVO_HELPNOOPENER" : "IDS_TARVO_HELPNOTOPENED").Buf(),
                url.c_str());
    LOGIT("HELPFILE::ShowAnchor %s\n", text.Buf());
    WINTARVO::InfoMsgBox(nullptr, OSYS::GetStringFromResource("IDS_TARVOAPPNAME").Buf(), text.Buf());
    return true;
}
