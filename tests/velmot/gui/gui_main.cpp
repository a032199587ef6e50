// Registers the window system environment of the toolkit tests and the
// recording application object.
#include "tests/velmot/gui/gui_fixture.h"

#include "velmot/core/stringarray.h"

namespace guifix {

bool TESTAPP::OnApplicationEvent(EVENTID id, STRINGARRAY* items, void* p1, void*)
{
    std::string line = plat::FourCCText(id);
    codepages.clear();
    if (items) {
        for (int i = 0; i < items->NumItems(); ++i) {
            line += (i == 0 ? " " : "|");
            line += (*items)[i]->Buf();
            codepages.push_back((*items)[i]->CodePage);
        }
    } else {
        line += " <null>";
    }
    events.push_back(line);
    words.push_back(p1);
    auto it = answers.find(id);
    bool const result = it == answers.end() || it->second;
    if (after)
        after(id);
    return result;
}

} // namespace guifix

namespace {
[[maybe_unused]] ::testing::Environment* const gEnv =
    ::testing::AddGlobalTestEnvironment(new guifix::GuiEnvironment);
} // namespace
