// Window objects that go away from inside their own callbacks or from
// inside a modal run: they are deleted later, once nothing of them is on
// the stack. Built for the sanitizer run too, where deleting them too early
// is a use after free.
#include "tests/velmot/gui/gui_fixture.h"

#include "platform/events/testinput.h"

#include <memory>

using namespace guifix;

namespace {

using plat::FourCC;
namespace ti = plat::testinput;

constexpr uint32_t kCommandDialog = FourCC("dlog");

// A window that closes itself: its close box destroys it and asks for its
// deletion; the destructor says when it happened.
class CLOSINGWINDOW : public TESTWINDOW {
public:
    CLOSINGWINDOW(RECT bounds, std::vector<std::string>* journal, std::string name)
        : TESTWINDOW(bounds), fJournal(journal), fName(std::move(name))
    {
    }
    ~CLOSINGWINDOW() override { fJournal->push_back(fName + " deleted"); }

    bool OnClose() override
    {
        fJournal->push_back(fName + " closes");
        Destroy();
        DeleteLater();
        // Still this object's code: it must be alive here.
        fJournal->push_back(fName + " closed, window " + (plat::IsWindowValid(fWindow) ? "kept" : "gone"));
        return true;
    }

    // Runs `dialog` modally, as a dialog's own run does (holding it), from
    // inside this window's command handler.
    bool OnCommand(uint32_t id) override
    {
        if (id != kCommandDialog || !dialog)
            return false;
        fJournal->push_back(fName + " runs the dialog");
        {
            TEventHandler::HOLD hold(*dialog);
            plat::RunAppModalLoopForWindow(dialog->GetWindow());
            fJournal->push_back(std::string("dialog ") + (dialog->IsDeletePending() ? "pending" : "not pending"));
        }
        fJournal->push_back(fName + " after the run");
        return true;
    }

    CLOSINGWINDOW* dialog = nullptr;

private:
    std::vector<std::string>* fJournal;
    std::string fName;
};

class LifetimeTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        plat::ClearModalResponders();
        PumpUntil([] { return false; }, 20);
    }

    plat::Status Command(CLOSINGWINDOW& window, uint32_t id)
    {
        plat::EventPtr e = plat::Event::Create(plat::kEventClassCommand, plat::kEventCommandProcess);
        plat::CommandRecord cmd;
        cmd.attributes = plat::kCommandFromMenu;
        cmd.commandId = id;
        e->Set(plat::kParamDirectObject, plat::kTypeCommand, cmd);
        return plat::SendEvent(*e, plat::WindowTarget(window.GetWindow()));
    }

    std::vector<std::string> journal;
};

TEST_F(LifetimeTest, AWindowClosedInsideItsOwnCallbackIsDeletedAfterIt)
{
    auto* window = new CLOSINGWINDOW(RECT{100, 100, 300, 200}, &journal, "main");
    ASSERT_TRUE(Activate(window->GetWindow()));
    ASSERT_EQ(ti::ClickCloseBox(window->GetWindow()), plat::kNoErr);
    EXPECT_EQ(journal, (std::vector<std::string>{"main closes", "main closed, window gone"}));
    // Deleted on a later turn of the loop, not inside the callback.
    EXPECT_TRUE(PumpUntil([&] { return journal.size() == 3; }));
    EXPECT_EQ(journal.back(), "main deleted");
}

TEST_F(LifetimeTest, WindowsClosedInsideAModalRunLiveUntilTheRunHasReturnedIntoThem)
{
    auto* owner = new CLOSINGWINDOW(RECT{100, 100, 400, 300}, &journal, "main");
    auto* dialog = new CLOSINGWINDOW(RECT{150, 150, 350, 250}, &journal, "dialog");
    owner->dialog = dialog;
    ASSERT_TRUE(Activate(owner->GetWindow()));
    // Inside the run: the owner is closed by the program (as a message from
    // another part would), then the user closes the dialog, which ends the
    // run.
    plat::AddModalResponder(plat::kModalWindow, [&](plat::ModalRequest const& req, plat::ModalAnswer&) {
        EXPECT_EQ(req.window, dialog->GetWindow());
        journal.push_back("in the run");
        owner->Destroy();
        owner->DeleteLater();
        ti::ClickCloseBox(dialog->GetWindow());
        return true;
    });
    EXPECT_EQ(Command(*owner, kCommandDialog), plat::kNoErr);
    EXPECT_EQ(journal, (std::vector<std::string>{"main runs the dialog", "in the run", "dialog closes",
                                                 "dialog closed, window gone", "dialog pending", "main after the run"}));
    EXPECT_TRUE(PumpUntil([&] { return journal.size() == 8; }));
    EXPECT_EQ(std::vector<std::string>(journal.begin() + 6, journal.end()),
              (std::vector<std::string>{"dialog deleted", "main deleted"}));
}

TEST_F(LifetimeTest, AnIdleObjectGoesOnTheNextTurnAndOnlyOnce)
{
    auto* window = new CLOSINGWINDOW(RECT{100, 100, 300, 200}, &journal, "main");
    window->DeleteLater();
    window->DeleteLater();
    EXPECT_TRUE(journal.empty()) << "not at once";
    EXPECT_TRUE(PumpUntil([&] { return !journal.empty(); }));
    PumpUntil([] { return false; }, 20);
    EXPECT_EQ(journal, std::vector<std::string>{"main deleted"});
}

} // namespace
