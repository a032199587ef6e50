// Layout files: what the reader takes and refuses, and the windows, menus
// and menu bars made from them.
#include "platform/controls/controls.h"
#include "platform/nibs/nib.h"
#include "platform/services/resources.h"
#include "tests/platform/events/qt_fixture.h"

#include <gmock/gmock.h>

#include <QGroupBox>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace plat;
using qtfix::QtTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

std::string Title(ViewRef view)
{
    std::string s;
    GetControlTitle(view).ToUtf8(s);
    return s;
}

TEST(NibReader, MalformedEntriesAreReportedAndLeftOut)
{
    struct Case {
        const char* control;
        const char* error;
    } const cases[] = {
        {R"({"kind": "zzzz", "id": ["A   ", 1], "frame": [0, 0, 10, 10]})", "unknown control kind"},
        {R"({"kind": "push", "id": ["TOOLONG", 1], "frame": [0, 0, 10, 10]})", "the id must be"},
        {R"({"kind": "push", "id": ["OKAY"], "frame": [0, 0, 10, 10]})", "the id must be"},
        {R"({"kind": "push", "id": ["OKAY", 1], "frame": [0, 0, 10]})", "the frame must be"},
        {R"({"kind": "push", "id": ["OKAY", 1], "frame": [0, 0, -5, 10]})", "the frame must be"},
        {R"({"kind": "push", "id": ["OKAY", 1], "frame": [0, 0, 99999, 10]})", "the frame must be"},
        {R"({"kind": "sbar", "id": ["SBAR", 1], "frame": [0, 0, 10, 10], "min": 5, "max": 1})", "max is below min"},
        {R"({"kind": "sbar", "id": ["SBAR", 1], "frame": [0, 0, 10, 10], "value": 1.5})", "value must be a whole"},
        {R"({"kind": "push", "id": ["OKAY", 1], "frame": [0, 0, 10, 10], "flags": ["shiny"]})", "unknown flag"},
        {R"({"kind": "icon", "id": ["ICON", 1], "frame": [0, 0, 10, 10], "icon": 0})", "the icon must be"},
        {R"({"kind": "push", "id": ["OKAY", 1], "frame": [0, 0, 10, 10], "title": 7})", "the title must be"},
        {R"({"kind": "popb", "id": ["POPB", 1], "frame": [0, 0, 10, 10], "items": "one"})", "the items must be"},
        {R"({"kind": "cbbx", "id": ["CMBO", 1], "frame": [0, 0, 10, 10], "items": ["a", 2]})", "the items must be"},
        {R"({"kind": "push", "id": ["OKAY", 1], "frame": [0, 0, 10, 10], "props": {"TOOLONG": 1}})",
         "a property is"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        NibModel model;
        const std::string json = std::string(R"({"windows": {"DLG_A": {"bounds": [0, 0, 100, 100], "controls": [)") +
                                 c.control + R"(, {"kind": "stxt", "id": ["GOOD", 1], "frame": [0, 0, 10, 10]}]}}})";
        ASSERT_TRUE(ParseNibText(json, "a.json", model));
        ASSERT_EQ(model.errors.size(), 1u);
        EXPECT_THAT(model.errors[0], HasSubstr(c.error));
        EXPECT_THAT(model.errors[0], HasSubstr("a.json: DLG_A control 0"));
        // The entry goes; the rest of the window stays.
        ASSERT_EQ(model.windows.count("DLG_A"), 1u);
        ASSERT_EQ(model.windows.at("DLG_A").controls.size(), 1u);
        EXPECT_EQ(model.windows.at("DLG_A").controls[0].id, (ViewId{FourCC("GOOD"), 1}));
    }

    NibModel model;
    EXPECT_FALSE(ParseNibText("{not json", "b.json", model));
    EXPECT_FALSE(ParseNibText("[1, 2]", "b.json", model));
    EXPECT_TRUE(ParseNibText(R"({"windows": {"DLG_B": {"class": "sheet", "bounds": [0, 0, 9, 9]}},
                                 "menus": {"ID_M": {"items": [{"text": "x", "key": "ab"}, {"text": ""},
                                                              {"text": "y", "modifiers": ["hyper"], "key": "Y"}]}},
                                 "menubars": {"IDM_X": {"menus": []}}, "extra": {}})",
                             "b.json", model));
    EXPECT_THAT(model.errors, ElementsAre(HasSubstr("not JSON: "), HasSubstr("not a JSON object"),
                                          HasSubstr("extra: unknown section"), HasSubstr("unknown window class sheet"),
                                          HasSubstr("the key must be one character"), HasSubstr("needs a text"),
                                          HasSubstr("unknown modifier hyper"), HasSubstr("needs a list of menus")));
    EXPECT_EQ(model.menus.at("ID_M").items.size(), 0u);
}

TEST(NibReader, FoldersJoinUniqueNamesAndCheckWhatMenusReferTo)
{
    const std::filesystem::path dir = std::filesystem::path(std::getenv("HOME")) / "nibfolder";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "a.json") << R"({"menus": {"ID_FILE": {"title": "File", "items": [
        {"text": "Open...", "command": "OPEN", "key": "O", "modifiers": ["command", "shift"]},
        {"text": "Recent", "submenu": "ID_RECENT"}, {"text": "Gone", "submenu": "ID_NOWHERE"}]}}})";
    std::ofstream(dir / "b.json") << R"({"menus": {"ID_FILE": {"items": []}, "ID_RECENT": {"items": [
        {"text": "Help", "vkey": "F1", "modifiers": []}]}},
        "menubars": {"IDM_BAR": {"menus": ["ID_FILE", "ID_MISSING"]}}})";
    std::ofstream(dir / "c.txt") << "not a layout";
    NibModel model = LoadNibFolder(dir.string());
    EXPECT_THAT(model.errors, ElementsAre(HasSubstr("b.json: ID_FILE: the name is used twice"),
                                          HasSubstr("IDM_BAR: no menu ID_MISSING"), HasSubstr("no menu ID_NOWHERE")));
    const NibMenuItem& open = model.menus.at("ID_FILE").items[0];
    EXPECT_EQ(open.command, FourCC("OPEN"));
    EXPECT_EQ(open.key, static_cast<uint32_t>('O'));
    EXPECT_EQ(open.modifiers, kMenuShiftModifier);
    const NibMenuItem& help = model.menus.at("ID_RECENT").items[0];
    EXPECT_TRUE(help.virtualKey);
    EXPECT_EQ(help.key, kVkF1);
    EXPECT_EQ(help.modifiers, kMenuNoCommandModifier);
    std::filesystem::remove_all(dir);
}

class NibBuildTest : public QtTest {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::path(std::getenv("HOME")) / "nibbuild";
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "layouts.json") << R"({
          "windows": {"DLG_SAMPLE": {"class": "dialog", "title": "@IDS_CANCEL", "bounds": [40, 50, 300, 200],
            "controls": [
              {"kind": "push", "id": ["OKAY", 0], "frame": [200, 160, 80, 28], "title": "@IDS_OK", "flags": ["default"]},
              {"kind": "eutx", "id": ["TEXT", 1], "frame": [10, 10, 200, 24], "title": "@@literal",
               "props": {"ENUM": 1}},
              {"kind": "grpb", "id": ["GRPB", 1], "frame": [10, 40, 150, 100], "title": "Group", "children": [
                {"kind": "cbox", "id": ["CBOX", 1], "frame": [10, 20, 100, 20], "title": "Inner", "value": 1}]},
              {"kind": "sldr", "id": ["SLDR", 1], "frame": [170, 40, 24, 100], "min": 10, "max": 90, "value": 30,
               "flags": ["disabled"]},
              {"kind": "upan", "id": ["UPAN", 1], "frame": [200, 40, 80, 80], "flags": ["hidden", "disabled"]}]}},
          "menubars": {"IDM_SAMPLE": {"menus": [{"title": "File", "items": [
              {"text": "Open", "command": "OPEN", "key": "O"}, {"separator": true},
              {"text": "Toolbar", "command": 1234, "checked": true, "enabled": false}]}]}}})";
        nib_ = OpenNib(dir_.string());
        ASSERT_NE(nib_, nullptr);
    }
    void TearDown() override
    {
        CloseNib(nib_);
        unsetenv("LANGUAGE");
        ClearResourceCache();
        std::filesystem::remove_all(dir_);
        QtTest::TearDown();
    }

    std::filesystem::path dir_;
    NibRef nib_ = nullptr;
};

TEST_F(NibBuildTest, WindowsAreMadeWithTheirControlsInOrder)
{
    WindowRef w = nullptr;
    EXPECT_EQ(CreateWindowFromNib(nib_, "DLG_NONE", &w), kErrParamNotFound);
    ASSERT_EQ(CreateWindowFromNib(nib_, "DLG_SAMPLE", &w), kNoErr);
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_EQ(GetWindowBounds(w), (RectI{40, 50, 340, 250}));
    EXPECT_EQ(GetWindowTitle(w), "Cancel");

    ViewRef content = WindowContentView(w);
    std::vector<ViewRef> views = GetSubviews(content);
    ASSERT_EQ(views.size(), 5u);
    // The first control is the rearmost.
    EXPECT_EQ(GetViewId(views.back()), (ViewId{FourCC("OKAY"), 0}));
    ViewRef ok = FindViewById(content, {FourCC("OKAY"), 0});
    EXPECT_EQ(Title(ok), "OK");
    EXPECT_EQ(GetWindowDefaultButton(w), ok);
    ViewRef text = FindViewById(content, {FourCC("TEXT"), 1});
    EXPECT_EQ(GetViewKind(text), kControlKindEditUnicodeText);
    EXPECT_EQ(Title(text), "@literal");
    uintptr_t word = 0;
    ASSERT_EQ(GetViewProperty(text, kNibCreator, FourCC("ENUM"), &word, sizeof word), kNoErr);
    EXPECT_EQ(word, 1u);
    ViewRef inner = FindViewById(content, {FourCC("CBOX"), 1});
    EXPECT_EQ(GetSuperview(inner), FindViewById(content, {FourCC("GRPB"), 1}));
    EXPECT_EQ(GetViewValue(inner), 1);
    EXPECT_EQ(GetViewFrame(inner), (RectI{10, 20, 110, 40}));
    ViewRef slider = FindViewById(content, {FourCC("SLDR"), 1});
    EXPECT_EQ(GetViewMinimum(slider), 10);
    EXPECT_EQ(GetViewValue(slider), 30);
    EXPECT_FALSE(IsViewEnabled(slider));
    // Panes take the flags any view has.
    ViewRef pane = FindViewById(content, {FourCC("UPAN"), 1});
    EXPECT_EQ(GetViewKind(pane), kViewKindUserPane);
    EXPECT_FALSE(IsViewLatentlyVisible(pane));
    EXPECT_FALSE(IsViewEnabled(pane));
}

TEST_F(NibBuildTest, TextsFollowTheLanguage)
{
    setenv("LANGUAGE", "de", 1);
    ClearResourceCache();
    WindowRef w = nullptr;
    ASSERT_EQ(CreateWindowFromNib(nib_, "DLG_SAMPLE", &w), kNoErr);
    EXPECT_EQ(GetWindowTitle(w), "Abbrechen");
}

TEST_F(NibBuildTest, MenuBarsAreMadeAsARootMenu)
{
    MenuRef root = nullptr;
    EXPECT_EQ(CreateMenuBarFromNib(nib_, "IDM_NONE", &root), kErrParamNotFound);
    ASSERT_EQ(CreateMenuBarFromNib(nib_, "IDM_SAMPLE", &root), kNoErr);
    ASSERT_EQ(CountMenuItems(root), 1);
    MenuRef file = GetMenuItemSubmenu(root, 1);
    EXPECT_EQ(GetMenuTitle(file).Units(), u"File");
    ASSERT_EQ(CountMenuItems(file), 3);
    EXPECT_EQ(GetMenuItemCommand(file, 1), FourCC("OPEN"));
    EXPECT_EQ(GetMenuItemKey(file, 1), static_cast<uint32_t>('O'));
    EXPECT_EQ(GetMenuItemModifiers(file, 1), 0u);
    EXPECT_TRUE(GetMenuItemAttributes(file, 2) & kMenuItemAttrSeparator);
    EXPECT_EQ(GetMenuItemCommand(file, 3), 1234u);
    EXPECT_EQ(GetMenuItemMark(file, 3), kMenuCheckMark);
    EXPECT_FALSE(IsMenuItemEnabled(file, 3));
    ReleaseMenu(root);
    EXPECT_FALSE(IsValidMenu(file));
}

} // namespace
