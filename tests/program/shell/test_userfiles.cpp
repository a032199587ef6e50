// The user's files as a main window reads them at its start: files that are
// not regular files (a FIFO, a link to /dev/zero) neither hold the start up
// nor feed it without end, and what could not be read is said, with its
// path and the reason.
#include "tests/program/shell/appfixture.h"

#include "program/settings/workfolder.h"

#include "platform/events/modal.h"
#include "platform/services/prefs.h"
#include "velmot/core/registry.h"
#include "velmot/core/workdir.h"
#include "velmot/gui/windialog.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace apptest;

namespace {

// Stands in for the user's files for one test: each named file is moved
// aside and replaced by a FIFO or a link to /dev/zero, and put back at the
// end. A start that is still not done by the deadline fails the test rather
// than hang it: a writer opens every FIFO, which releases a reader waiting
// in its open.
class STANDINS {
public:
    enum class KIND { FIFO, ZERO };

    STANDINS(std::vector<std::string> files, KIND kind) : Files(std::move(files))
    {
        for (std::string const& f : Files) {
            rename(f.c_str(), (f + ".kept").c_str());
            if (kind == KIND::FIFO)
                EXPECT_EQ(mkfifo(f.c_str(), 0600), 0) << f;
            else
                EXPECT_EQ(symlink("/dev/zero", f.c_str()), 0) << f;
        }
        Guard = std::thread([this, kind] {
            std::unique_lock<std::mutex> hold(Lock);
            if (Wake.wait_for(hold, std::chrono::seconds(20), [this] { return Done; }))
                return;
            Released = true;
            if (kind == KIND::ZERO) {
                fprintf(stderr, "the start reads a link to /dev/zero without end\n");
                _exit(1);
            }
            for (std::string const& f : Files) {
                int fd = open(f.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    close(fd);
            }
        });
    }

    ~STANDINS()
    {
        {
            std::lock_guard<std::mutex> hold(Lock);
            Done = true;
        }
        Wake.notify_all();
        Guard.join();
        for (std::string const& f : Files) {
            unlink(f.c_str());
            rename((f + ".kept").c_str(), f.c_str());
        }
        plat::ResetPrefsCache();
    }

    std::vector<std::string> Files;
    std::atomic<bool> Released{false};

private:
    std::thread Guard;
    std::mutex Lock;
    std::condition_variable Wake;
    bool Done = false;
};

std::string InOptions(char const* name)
{
    return FILENAME(WORKDIR::GetCurrent().Buf(), "Options", name).Buf();
}

} // namespace

TEST_F(AppTest, UserFilesThatAreNotRegularFilesNeitherHoldUpNorFeedTheStart)
{
    // A first window makes the data folder and its files.
    Close(Open());
    std::string const settings = InOptions("Standard.qfg");
    std::string const profile = InOptions("Standard.qor");
    ASSERT_EQ(access(settings.c_str(), R_OK), 0);
    ASSERT_EQ(access(profile.c_str(), R_OK), 0);
    std::vector<std::string> const files = {
        settings,
        profile,
        InOptions("ColorTable.qorini"),
        InOptions("Standard.qky"),
        InOptions("Standard.qtr"),
        plat::PrefFilePath("com.tarvo.qor6", plat::PrefScope::CurrentUser),
    };
    for (STANDINS::KIND kind : {STANDINS::KIND::FIFO, STANDINS::KIND::ZERO}) {
        SCOPED_TRACE(kind == STANDINS::KIND::FIFO ? "FIFOs" : "links to /dev/zero");
        ALERTS alerts(1);
        std::vector<std::string> const& said = alerts.Texts;
        // The tip of the day of a start that finds no preferences goes at once.
        plat::AddModalResponder(
            plat::kModalWindow,
            [](plat::ModalRequest const& r, plat::ModalAnswer&) {
                if (auto* d = dynamic_cast<DIALOG*>(DARWINDOW::GetThisFromWindowRef(r.window)))
                    d->Dismiss(0);
                return true;
            },
            -1);
        TESTAPP* app = nullptr;
        {
            STANDINS standins(files, kind);
            app = Open("/Q");
            EXPECT_FALSE(standins.Released) << "the start waited in the open of a FIFO";
        }
        ASSERT_NE(app, nullptr);
        EXPECT_EQ(app->NorunCode(), 0);
        auto told = [&](std::string const& path) {
            for (std::string const& text : said)
                if (text.find(path) != std::string::npos && text.find("not a regular file") != std::string::npos)
                    return true;
            return false;
        };
        EXPECT_TRUE(told(settings)) << "the program settings are named with the reason";
        EXPECT_TRUE(told(profile)) << "the session profile is named with the reason";
        EXPECT_TRUE(told(InOptions("Standard.qky"))) << "the key map is named with the reason";
        Close(app);
        plat::ClearModalResponders();
    }
}

// The program writes its preferences once, at its end: a write that fails
// there is shown once, with the file and the reason.
TEST_F(AppTest, PreferencesThatCannotBeWrittenAreReportedOnce)
{
    std::string const blocker = testing::TempDir() + "/prefs-blocker." + std::to_string(getpid());
    FILE* f = fopen(blocker.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    ALERTS alerts(1);
    std::vector<std::string> const& said = alerts.Texts;
    plat::SetPrefFolder(plat::PrefScope::CurrentUser, blocker + "/prefs");
    REGISTRY::DeferWrites(true);
    REGISTRY reg(REGISTRY::CURRENT_USER, "Software\\Tarvo\\", "QOR6", REGISTRY::READWRITE);
    EXPECT_TRUE(reg.Write("WindowPositionMain", "1,2,3,4;0"));
    EXPECT_FALSE(Qor().SavePreferences());
    EXPECT_FALSE(Qor().SavePreferences());
    REGISTRY::DeferWrites(false);
    plat::SetPrefFolder(plat::PrefScope::CurrentUser, "");
    unlink(blocker.c_str());
    ASSERT_EQ(said.size(), 1u) << "told once";
    EXPECT_NE(said[0].find(blocker + "/prefs/com.tarvo.qor6.prefs: Not a directory"), std::string::npos) << said[0];
}
