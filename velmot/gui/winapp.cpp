#include "velmot/gui/winapp.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/tarvo.h"
#include "velmot/gui/winbase.h"
#include "velmot/gui/windows.h"

#include "platform/events/appevents.h"
#include "platform/events/application.h"
#include "platform/services/folders.h"
#include "platform/services/notify.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

APPLICATION* APPLICATION::pCurrentInstance = nullptr;

namespace {

APPLICATION* gAppleEventOwner = nullptr;

// The assertion question of the library, asked with the toolkit's alert:
// "Yes" goes on, "No" stops the program. An alert that cannot be shown
// (no event loop, or a call from a thread the main thread cannot serve)
// leaves the question on standard error and goes on.
bool AskAssertQuestion(char const* title, char const* question)
{
    bool const german = TARVOAPP::IsLocaleGerman();
    ALERTPARAMS params;
    params.defaultText = german ? "Ja" : "Yes";
    params.cancelText = german ? "Nein" : "No";
    int16_t button = DARWINDOW::GenericAlert(nullptr, title, question, ALERTTYPE_STOP, &params);
    if (button == ALERTBUTTON_CANCEL)
        return false;
    if (button != ALERTBUTTON_DEFAULT)
        std::fprintf(stderr, "%s\n%s\n", title ? title : "", question ? question : "");
    return true;
}

bool gAssertHookOurs = false;

void RunMainLoopHook()
{
    plat::RunMainLoop();
}

// The library's main loop is the platform's, whoever runs it.
[[maybe_unused]] bool const gMainLoopHooked = (TARVOAPP::SetMainLoop(&RunMainLoopHook), true);

bool IsUrl(std::string const& s)
{
    size_t colon = s.find("://");
    if (colon == std::string::npos || colon == 0)
        return false;
    for (size_t i = 0; i < colon; ++i) {
        char c = s[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                  (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok)
            return false;
    }
    return true;
}

// The local path of a "file://" address (as a desktop hands documents over
// with %U), percent escapes decoded; empty for any other text, for another
// host's file and for an escape that decodes to NUL.
std::string FileUrlPath(std::string const& arg)
{
    std::string rest;
    if (strncasecmp(arg.c_str(), "file://", 7) != 0)
        return std::string();
    rest = arg.substr(7);
    if (rest.rfind("localhost/", 0) == 0)
        rest = rest.substr(9);
    if (rest.empty() || rest[0] != '/')
        return std::string();
    std::string path;
    for (size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size() && isxdigit(static_cast<unsigned char>(rest[i + 1])) &&
            isxdigit(static_cast<unsigned char>(rest[i + 2]))) {
            char const byte = static_cast<char>(std::stoi(rest.substr(i + 1, 2), nullptr, 16));
            if (byte == 0)
                return std::string();
            path.push_back(byte);
            i += 2;
        } else {
            path.push_back(rest[i]);
        }
    }
    return path;
}

// The absolute path of a file argument, resolved against the folder the
// program was started in (the start-up moves the process elsewhere); empty
// when it names no existing file.
std::string ExistingFile(std::string const& arg)
{
    if (arg.empty())
        return std::string();
    std::string path = arg;
    if (path[0] != '/') {
        std::string base = TARVOAPP::GetGlobalWorkDir().Buf();
        if (base.empty() || base == ".") {
            char cwd[4096];
            base = getcwd(cwd, sizeof cwd) ? cwd : "";
        }
        if (base.empty())
            return std::string();
        path = base + (base.back() == '/' ? "" : "/") + path;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return std::string();
    return path;
}

// The library's text of an item: code page 1252 for plain ASCII; other
// paths and URLs stay the bytes the platform gave (UTF-8), marked as such,
// so they still name the same file.
STRING ItemText(std::string const& item)
{
    for (char c : item)
        if (static_cast<unsigned char>(c) >= 0x80)
            return STRING(item.c_str(), UNICODE_CPUTF8);
    return STRING(item.c_str(), 1252);
}

constexpr char kHandOverOpen[] = "open";
constexpr char kHandOverReopen[] = "rapp";
// More items than anyone can hand over by starting the program; the rest
// of a larger payload is ignored.
constexpr size_t kMaxHandOverItems = 1024;

} // namespace

// The role of this process among the running instances of the program:
// the first one holds a lock and listens on the notification bus; later
// starts hand their files and URLs over to it.
struct APPLICATION::INSTANCE {
    int lockFd = -1;
    bool primary = false;
    std::unique_ptr<plat::NotificationListener> listener;

    ~INSTANCE()
    {
        listener.reset();
        if (lockFd >= 0)
            close(lockFd); // drops the lock
    }

    // The first instance holds an exclusive lock on a file in the user's
    // private runtime folder for as long as it runs; the kernel drops it
    // when the process ends, however it ends.
    bool TakePrimary()
    {
        std::string folder = plat::FolderPath(plat::Folder::Runtime, true);
        if (folder.empty())
            return false;
        if (folder.back() != '/')
            folder.push_back('/');
        folder += "qor-locks";
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        std::string const file = folder + "/" + APPLICATION::InstanceChannel() + ".lock";
        lockFd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (lockFd < 0)
            return false;
        if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
            close(lockFd);
            lockFd = -1;
            return false;
        }
        return true;
    }

    void Listen()
    {
        listener = std::make_unique<plat::NotificationListener>(
            APPLICATION::InstanceChannel(), [](std::string const& name, std::string const& payload) {
                std::vector<std::string> items;
                size_t start = 0;
                while (start < payload.size() && items.size() < kMaxHandOverItems) {
                    size_t end = payload.find('\0', start);
                    if (end == std::string::npos)
                        end = payload.size();
                    if (end > start)
                        items.push_back(payload.substr(start, end - start));
                    start = end + 1;
                }
                LOGIT("APPLICATION: a second start hands over %s with %d items\n", name.c_str(),
                      static_cast<int>(items.size()));
                if (name == kHandOverReopen)
                    plat::InjectAppEvent(APPLICATION::APPLICATION_REOPEN, {});
                else if (name == kHandOverOpen && !items.empty())
                    plat::InjectLaunchEvents(items);
            });
    }
};

namespace {

void WaitEvents()
{
    WINDOW::WinProcessMessages(42);
}

} // namespace

APPLICATION::APPLICATION(int* argc_, char** argv_) : argc(argc_), argv(argv_)
{
    TARVOAPP::CheckCallerThread("APPLICATION::APPLICATION");
    if (!plat::IsApplicationRunning())
        fStartedPlatform = plat::StartApplication(argc, argv);
    LOGIT("APPLICATION::APPLICATION\n");
    VASSERT(pCurrentInstance == nullptr, "APPLICATION::pCurrentInstance==NULL", nullptr);
    pCurrentInstance = this;
    SetCallbackApp(*this);
    static constexpr plat::EventType kCommand{plat::kEventClassCommand, plat::kEventCommandProcess};
    VERIFYSTATUS("err == 0 ", RegisterForEvents(1, &kCommand));
    InstallAppleEventHandler();
    // A program start that waits lets the window events run meanwhile.
    OSYS::SetWaitEventsHook(&WaitEvents);
    // The assertion question goes through the toolkit's alert from now on,
    // unless someone (a test) installed a question of their own.
    ASSERTQUESTIONHOOK previous = SetAssertQuestionHook(&AskAssertQuestion);
    if (previous && previous != &AskAssertQuestion)
        SetAssertQuestionHook(previous);
    else
        gAssertHookOurs = true;
    LOGIT("APPLICATION::APPLICATION done\n");
}

APPLICATION::~APPLICATION()
{
    LOGIT("APPLICATION::~APPLICATION\n");
    RemoveAppleEventHandler();
    OSYS::SetWaitEventsHook(nullptr);
    VASSERT(pCurrentInstance == this, "APPLICATION::pCurrentInstance==this", nullptr);
    pCurrentInstance = nullptr;
    fInstance.reset();
    RemoveEventHandler();
    if (gAssertHookOurs) {
        ASSERTQUESTIONHOOK previous = SetAssertQuestionHook(nullptr);
        if (previous != &AskAssertQuestion)
            SetAssertQuestionHook(previous);
        gAssertHookOurs = false;
    }
    if (fStartedPlatform)
        plat::StopApplication();
    LOGIT("APPLICATION::~APPLICATION done\n");
}

plat::TargetRef APPLICATION::GetEventTarget() const
{
    return plat::ApplicationTarget();
}

plat::Status APPLICATION::HandleEvent(plat::HandlerCall* call, TCarbonEvent& event)
{
    bool recognised = false;
    plat::Status status = HandleEventForCallback(call, event, &recognised);
    if (event.GetClass() == EVENTCLASS_VELMOT && event.GetWord(VPARAM_MESSAGE) == APPLICATION_MESSAGE) {
        MSGWORD const id = event.GetWord(VPARAM_P1);
        MSGWORD const word = event.GetWord(VPARAM_P2);
        bool handled =
            OnApplicationEvent(static_cast<EVENTID>(id), nullptr, reinterpret_cast<void*>(word), nullptr);
        // A waiting sender is released after this handler returns, so it
        // reads this result.
        event.SetWord(VPARAM_RESULT, handled ? 1 : 0);
        return plat::kNoErr;
    }
    return status;
}

bool APPLICATION::OnApplicationEvent(EVENTID id, STRINGARRAY*, void*, void*)
{
    std::string code = plat::FourCCText(id);
    LOGIT("APPLICATION::OnApplicationEvent %4.4s\n", code.c_str());
    AssertMsg(0, "FALSE", __FILE__, __LINE__, nullptr, false);
    LOGIT("APPLICATION::OnApplicationEvent done, ok= %d\n", 0);
    return false;
}

int APPLICATION::Run()
{
    TARVOAPP::CheckCallerThread("APPLICATION::Run");
    if (!fLaunched) {
        fLaunched = true;
        if (!StartOrHandOver())
            return 0;
    }
    plat::RunMainLoop();
    return 0;
}

bool APPLICATION::StartOrHandOver()
{
    std::vector<std::string> items;
    bool switches = false;
    int const count = argc && argv ? *argc : 0;
    for (int i = 1; i < count; ++i) {
        std::string arg = argv[i] ? argv[i] : "";
        if (std::string const local = FileUrlPath(arg); !local.empty())
            arg = local;
        if (IsUrl(arg)) {
            items.push_back(arg);
        } else if (std::string file = ExistingFile(arg); !file.empty()) {
            items.push_back(file);
        } else {
            switches = true; // a switch, or something only this start understands
        }
    }

    fInstance = std::make_unique<INSTANCE>();
    fInstance->primary = fInstance->TakePrimary();
    if (!fInstance->primary && !switches) {
        std::string payload;
        for (std::string const& item : items) {
            payload += item;
            payload.push_back('\0');
        }
        char const* name = items.empty() ? kHandOverReopen : kHandOverOpen;
        if (plat::PostNotification(InstanceChannel(), name, payload) > 0) {
            LOGIT("APPLICATION::Run handed %s over to the running instance\n", name);
            fInstance.reset();
            return false;
        }
    }
    if (fInstance->primary)
        fInstance->Listen();
    plat::InjectLaunchEvents(items);
    return true;
}

plat::Status APPLICATION::HandleAppleEvent(EVENTID id, std::vector<std::string> const& items)
{
    LOGIT("APPLICATION::HandleAppleEvent\n");
    std::string code = plat::FourCCText(id);
    LOGIT("APPLICATION::HandleAppleEvent %4.4s\n", code.c_str());
    STRINGARRAY list(64);
    for (std::string const& item : items) {
        if (IsUrl(item))
            LOGIT("APPLICATION::HandleAppleEvent got URL of %s\n", item.c_str());
        else
            LOGIT("APPLICATION::HandleAppleEvent got FSS of %s\n", item.c_str());
        list.AppendItem(ItemText(item));
    }
    plat::Status err = plat::kNoErr;
    if (!OnApplicationEvent(id, &list, nullptr, nullptr)) {
        if (id == APPLICATION_QUIT || id == APPLICATION_TERMINATE)
            plat::QuitMainLoop(0);
        else
            err = plat::kErrAppEventNotHandled;
    }
    LOGIT("APPLICATION::HandleAppleEvent done, err= %d\n", static_cast<int>(err));
    return err;
}

void APPLICATION::InstallAppleEventHandler()
{
    LOGIT("APPLICATION::InstallAppleEventHandler\n");
    plat::SetAppEventHandler([this](plat::OSType id, std::vector<std::string> const& items) {
        return HandleAppleEvent(id, items);
    });
    gAppleEventOwner = this;
    fAppleEventsInstalled = true;
    LOGIT("APPLICATION::InstallAppleEventHandler done\n");
}

void APPLICATION::RemoveAppleEventHandler()
{
    LOGIT("APPLICATION::RemoveAppleEventHandler\n");
    if (fAppleEventsInstalled) {
        LOGIT("APPLICATION::RemoveAppleEventHandler will remove them\n");
        // Another instance may have installed its own since.
        if (gAppleEventOwner == this) {
            plat::SetAppEventHandler({});
            gAppleEventOwner = nullptr;
        }
        fAppleEventsInstalled = false;
    }
    LOGIT("APPLICATION::RemoveAppleEventHandler done\n");
}

std::string APPLICATION::InstanceChannel()
{
    // The name is also a file name.
    std::string name = gApplicationName.Buf();
    for (char& c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20)
            c = '_';
    return name + ".instance";
}
