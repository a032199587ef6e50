// The layout checker's reading of the sources and its verdicts.
#include "tools/nibscan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

// The layouts every case is checked against.
plat::NibModel Layouts()
{
    plat::NibModel model;
    plat::ParseNibText(R"({
      "windows": {"DLG_ABOUT": {"bounds": [0, 0, 100, 100], "controls": [
          {"kind": "push", "id": ["OKAY", 0], "frame": [0, 0, 10, 10]},
          {"kind": "eutx", "id": ["TEXT", 1], "frame": [0, 0, 10, 10]},
          {"kind": "grpb", "id": ["GRPB", 1], "frame": [0, 0, 50, 50], "children": [
              {"kind": "cbox", "id": ["CBOX", 3], "frame": [0, 0, 10, 10]}]},
          {"kind": "push", "id": [0, 7], "frame": [0, 0, 10, 10]}]}},
      "menus": {"ID_HELPMENU": {"items": []}},
      "menubars": {"IDM_MAIN": {"menus": ["ID_HELPMENU"]}}})",
                       "layouts.json", model);
    return model;
}

std::vector<std::string> Problems(const std::string& source)
{
    return nibscan::Check(nibscan::ScanSource(source, "x.cpp"), Layouts());
}

TEST(NibScan, LayoutNamesMustNameALayoutOfTheRightSort)
{
    struct Case {
        const char* source;
        const char* problem; // empty: none
    } const cases[] = {
        {R"(DIALOG dlg("DLG_ABOUT", owner);)", ""},
        {R"(DIALOG dlg("DLG_MISSING", owner);)", "DIALOG asks for the window DLG_MISSING"},
        {R"(MENU help("ID_HELPMENU");)", ""},
        {R"(MENU help("IDM_MAIN");)", "MENU asks for the menu IDM_MAIN"}, // a menu bar is no menu
        {R"(w.CreateMenu("IDM_MAIN", nullptr);)", ""},
        {R"(w.CreateMenu("ID_HELPMENU", nullptr);)", "CreateMenu asks for the menu bar ID_HELPMENU"},
        {R"(InitFromResource("DLG_ABOUT", "IDM_MAIN", nullptr);)", ""},
        {R"(InitFromResource("DLG_ABOUT", "DLG_ABOUT", nullptr);)", "asks for the menu bar DLG_ABOUT"},
        {R"(WINDOW w(1, "Title", 0, 0, 0, 0, nullptr, "HLP", "IDM_MAIN");)", ""},
        {R"(CHILDWINDOW page(parent, "DLG_ABOUT", CONTROLID{}, nullptr);)", ""},
        {R"(char const* name = "ID_ANYTHING";)", "asks for the layout ID_ANYTHING"},
        {R"(// "DLG_MISSING" in a comment
            auto x = 1;)", ""},
        {R"(DIALOG dlg("DLG_GONE", owner); // nibcheck: absent)", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        std::vector<std::string> problems = Problems(c.source);
        if (*c.problem)
            EXPECT_THAT(problems, ElementsAre(HasSubstr(c.problem)));
        else
            EXPECT_THAT(problems, IsEmpty());
    }
}

TEST(NibScan, LookedUpControlsMustExistWithAFittingKind)
{
    const std::string dialog = R"(DIALOG d("DLG_ABOUT", nullptr);
)";
    struct Case {
        const char* source;
        const char* problem;
    } const cases[] = {
        {"PUSHBUTTON ok(d.GetClientParent(), CONTROLID{plat::FourCC(\"OKAY\"), 0});", ""},
        {"PUSHBUTTON ok(parent, CONTROLID{FourCC(\"TEXT\"), 1});", "PUSHBUTTON looks up TEXT 1 (push/picn/rndb)"},
        {"CHECKBOX(parent, CONTROLID{FourCC(\"CBOX\"), 3}).SetTriState(1);", ""}, // inside a group box
        {"ENTRYFIELD f(parent, CONTROLID{FourCC(\"TEXT\"), 9});", "ENTRYFIELD looks up TEXT 9"},
        {"PUSHBUTTON b(parent, CONTROLID{0, 7});", ""},
        // Creating constructors make the id: nothing to find.
        {"PUSHBUTTON b(parent, CONTROLID{FourCC(\"NEWB\"), 1}, 0, 10, 10, 80, 24);", ""},
        // The template of a template constructor must be there.
        {"PUSHBUTTON b(parent, CONTROLID{FourCC(\"NEWB\"), 1}, 0, CONTROLID{FourCC(\"OKAY\"), 0});", ""},
        {"ENTRYFIELD f(parent, CONTROLID{FourCC(\"NEWF\"), 1}, CONTROLID{FourCC(\"TMPL\"), 1});",
         "ENTRYFIELD looks up TMPL 1 (any kind)"},
        {"SPINBUTTON s(parent, CONTROLID{FourCC(\"SPIN\"), 1}, CONTROLID{FourCC(\"TEXT\"), 1});", ""},
        {"SPINBUTTON s(parent, CONTROLID{FourCC(\"SPIN\"), 1}, CONTROLID{FourCC(\"OKAY\"), 0});",
         "SPINBUTTON looks up OKAY 0 (eutx/etxt)"},
        {"d.EnableControl(CONTROLID{FourCC(\"GONE\"), 2}, false);", "EnableControl looks up GONE 2"},
        {"d.IsControlChecked(CONTROLID{FourCC(\"CBOX\"), 3});", ""},
        {"d.IsControlChecked(CONTROLID{FourCC(\"TEXT\"), 1});", "IsControlChecked looks up TEXT 1"},
        // Named constants are followed to where they are used.
        {"constexpr CONTROLID kOk{plat::FourCC(\"OKAY\"), 1};\nvoid f() { PUSHBUTTON ok(parent, kOk); }",
         "x.cpp:3: PUSHBUTTON looks up OKAY 1"},
        // Ids compared, not looked up, are no concern.
        {"if (id == CONTROLID{FourCC(\"ZZZZ\"), 1}) return;", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        std::vector<std::string> problems = Problems(dialog + c.source);
        if (*c.problem)
            EXPECT_THAT(problems, ElementsAre(HasSubstr(c.problem)));
        else
            EXPECT_THAT(problems, IsEmpty());
    }
    // Without a window named in the file there is nothing to look in.
    EXPECT_THAT(Problems("PUSHBUTTON ok(parent, CONTROLID{FourCC(\"GONE\"), 1});"), IsEmpty());
}

TEST(NibScan, KnownGapsOnlyShrink)
{
    const std::vector<nibscan::Use> uses = nibscan::ScanSource(R"(DIALOG a("DLG_LATER", nullptr);
        DIALOG b("DLG_ABOUT", nullptr);)", "x.cpp");
    EXPECT_THAT(nibscan::Check(uses, Layouts(), {"DLG_LATER"}), IsEmpty());
    // A listed name that is there, or no longer asked for, is reported.
    EXPECT_THAT(nibscan::Check(uses, Layouts(), {"DLG_LATER", "DLG_ABOUT", "DLG_GONE"}),
                ElementsAre(HasSubstr("known gap DLG_ABOUT is no gap"), HasSubstr("known gap DLG_GONE is no gap")));
}

} // namespace
