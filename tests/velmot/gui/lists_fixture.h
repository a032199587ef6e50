// Shared by the list, tab control, toolbar and status bar tests: the
// dialog of the test layouts with pop-ups, combo boxes, placeholders for
// lists and a tab control with three panes, shown and active.
#pragma once

#include "tests/velmot/gui/toolkit_fixture.h"

#include "platform/events/testinput.h"

#include <memory>

namespace guifix {

inline CONTROLID Cid(char const (&sig)[5], int32_t n)
{
    return CONTROLID{plat::FourCC(sig), n};
}

class ListsTest : public ToolkitTest {
protected:
    void SetUp() override
    {
        ToolkitTest::SetUp();
        dialog = std::make_unique<RECWINDOW>("DLG_TEST_LISTS", nullptr);
        ASSERT_TRUE(dialog->IsValid());
        ASSERT_TRUE(Activate(dialog->GetWindow()));
        parent = dialog->GetClientParent();
        plat::ProcessPendingEvents(1000);
        dialog->rec.Take();
        // Keys go on to the controls.
        dialog->rec.answers["OnRawKeyboardEvent"] = false;
        dialog->rec.answers["OnKeyboardEvent"] = false;
    }
    void TearDown() override
    {
        dialog.reset();
        ToolkitTest::TearDown();
    }
    // Runs what was posted (owner notifications) and returns what reached
    // the dialog's callbacks.
    std::vector<std::string> Delivered()
    {
        plat::ProcessPendingEvents(1000);
        return dialog->rec.Take();
    }

    // The same, the control reports only (a pop-up menu takes the
    // activation for a moment offscreen, which the other lines tell).
    std::vector<std::string> Reports()
    {
        std::vector<std::string> out;
        for (std::string& line : Delivered())
            if (line.rfind("OnControlEvent", 0) == 0 || line.rfind("OnCommand", 0) == 0)
                out.push_back(std::move(line));
        return out;
    }

    std::unique_ptr<RECWINDOW> dialog;
    CONTROLPARENT parent;
};

// Chooses item `item` (from 1) of the next pop-up menus and records their
// items.
struct PopupAnswers {
    explicit PopupAnswers(int item, int times = 1)
    {
        id = plat::AddModalResponder(
            plat::kModalPopupMenu,
            [this, item](plat::ModalRequest const& r, plat::ModalAnswer& a) {
                shown.push_back(r.choices);
                a.choice = item;
                return true;
            },
            times);
    }
    ~PopupAnswers() { plat::RemoveModalResponder(id); }
    uint64_t id;
    std::vector<std::vector<std::string>> shown;
};

} // namespace guifix
