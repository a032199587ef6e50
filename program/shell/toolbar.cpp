#include "program/shell/toolbar.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr TOOLBAR::ENTRY Button(int group, int sub, int command, int icon, int shown, int spare = 0)
{
    return TOOLBAR::ENTRY{group, sub, command, icon, shown, spare, 0, {}};
}

std::array<TOOLBAR::ENTRY, TOOLBAR::MAXENTRIES> MakeTable()
{
    std::array<TOOLBAR::ENTRY, TOOLBAR::MAXENTRIES> t{};
    TOOLBAR::ENTRY const used[] = {
        // Connecting.
        Button(10960, 0, 8380, 1200, 1), Button(10960, 0, 8381, 1201, 1, 1), Button(10960, 0, 8382, 1202, 1, 2),
        Button(10960, 0, 8200, 1203, 0), Button(10960, 0, 8499, 1207, 0),
        // Scroll-back, capture and printer log.
        Button(10920, 0, 8210, 1208, 1), Button(10920, 0, 8490, 1209, 1), Button(10920, 0, 8395, 1210, 1),
        Button(10920, 0, 8393, 1211, 0), Button(10920, 0, 8390, 1212, 0), Button(10920, 0, 8456, 1213, 0, 1),
        Button(10920, 0, 8457, 1214, 0, 2),
        // The clipboard.
        Button(10930, 0, 8355, 1215, 1), Button(10930, 0, 8360, 1216, 0), Button(10930, 0, 8365, 1217, 0),
        Button(10930, 0, 8367, 1218, 0), Button(10930, 0, 8352, 1220, 0),
        // File transfer.
        Button(10940, 0, 8519, 1222, 1), Button(10940, 0, 8518, 1223, 1), Button(10940, 0, 8517, 1224, 1),
        Button(10940, 0, 8516, 1225, 0),
        // Scripts, the screen, chat and files.
        Button(10970, 0, 8125, 1226, 1, 1), Button(10970, 0, 8140, 1227, 1, 2), Button(10970, 0, 8141, 1228, 1),
        Button(10970, 2, 8482, 1232, 0), Button(10970, 2, 8484, 1231, 0), Button(10970, 2, 8410, 1233, 0),
        Button(10970, 3, 8479, 1234, 0), Button(10970, 3, 8155, 1235, 0),
        // Settings.
        Button(10950, 0, 8230, 1237, 1), Button(10950, 0, 8240, 1239, 0), Button(10950, 0, 8281, 1248, 1),
        Button(10950, 0, 8270, 1249, 1), Button(10950, 0, 8235, 1238, 1), Button(10950, 0, 8255, 1240, 0),
        Button(10950, 0, 8285, 1241, 0), Button(10950, 0, 8250, 1242, 0), Button(10950, 0, 8288, 1253, 0),
        Button(10950, 0, 8287, 1244, 1), Button(10950, 0, 8280, 1246, 0), Button(10950, 1, 8220, 1247, 1),
        Button(10950, 1, 8223, 1251, 1),
    };
    size_t i = 0;
    for (TOOLBAR::ENTRY const& e : used)
        t[i++] = e;
    for (; i < t.size(); ++i)
        t[i] = Button(-1, 0, 0, 0, 0);
    return t;
}

// The menu command whose text a button shows.
int TextCommand(int command)
{
    if (command == 8451 || command == 8452)
        return 8450;
    if (command == 8456 || command == 8457)
        return 8455;
    return command;
}

} // namespace

const std::array<TOOLBAR::ENTRY, TOOLBAR::MAXENTRIES> TOOLBAR::QorButtonTable = MakeTable();

TOOLBAR::TOOLBAR(APP& owner)
    : NEWTOOLBAR(owner.GetWindow(), CONTROLID{plat::FourCC("IDC_"), 15}, 16, 24, -1), Owner(owner),
      Table(QorButtonTable), Menu(static_cast<DARWINDOW const&>(owner))
{
    while (Count < MAXENTRIES && Table[static_cast<size_t>(Count)].Group != -1)
        ++Count;
    // A row of icons, each button's text its help tag: the labels of forty
    // commands would not fit a terminal's width.
    plat::SetToolbarDisplayMode(GetToolbar(), plat::ToolbarDisplayMode::IconOnly);
    Initialize();
}

TOOLBAR::~TOOLBAR() = default;

void TOOLBAR::InitTable()
{
    for (int i = 0; i < Count; ++i) {
        ENTRY& e = Table[static_cast<size_t>(i)];
        if (!e.Command) {
            e.Label[0] = 0;
            continue;
        }
        e.HasLabel = 1;
        std::string text;
        if (e.Group != 0) {
            char buffer[256];
            Owner.MenuText(TextCommand(e.Command), sizeof buffer, buffer);
            text = buffer;
            text = text.substr(0, std::min<size_t>(text.find_first_of(".\t"), 40));
            std::string clean;
            for (char c : text)
                if (c != '~' && c != '&')
                    clean += c;
            text = clean;
        } else {
            text = OSYS::GetStringFromResource("IDS_END").Buf();
        }
        snprintf(e.Label, sizeof e.Label, "%s", text.c_str());
    }
}

void TOOLBAR::Initialize()
{
    InitTable();
    STRING const onOff = OSYS::GetStringFromResource("IDS_ONOFFSTARTEND");
    for (int i = 0; i < Count; ++i) {
        ENTRY const& e = Table[static_cast<size_t>(i)];
        LOGIT("TOOLBAR::Initialize cmd= %d, idi= %d\n", e.Command, e.Icon);
        int style = 6;
        if (i > 0) {
            ENTRY const& before = Table[static_cast<size_t>(i - 1)];
            if (e.Group != before.Group || e.Subgroup != before.Subgroup)
                style += 8;
        }
        if (!e.Shown)
            style += 64;
        uint32_t const command = static_cast<uint32_t>(e.Command);
        uint32_t const icon = static_cast<uint32_t>(e.Icon);
        int token = -1;
        switch (e.Command) {
        case 8451:
            token = 0;
            break;
        case 8452:
            token = 1;
            break;
        case 8456:
            token = 2;
            break;
        case 8457:
            token = 3;
            break;
        default:
            break;
        }
        if (token >= 0) {
            char buffer[256];
            Owner.MenuText(TextCommand(e.Command), sizeof buffer, buffer);
            std::string text = std::string(buffer) + " " + onOff.Token(token, "|").Buf();
            AddButtonToTable(command, style, nullptr, text.c_str(), icon);
        } else {
            AddButtonToTable(command, style, &Menu, nullptr, icon);
        }
    }
    AddButtonToTable(8450, TBSTYLE_NOBUTTON, nullptr, "", 1204);
    AddButtonToTable(8455, TBSTYLE_NOBUTTON, nullptr, "", 1213);
}

int TOOLBAR::ShowToolbar(bool show, int* heightDelta)
{
    unsigned char const want = show ? 1 : 0;
    if (ShownState == want && Mode == LastMode)
        return 0;
    NEWTOOLBAR::Show(static_cast<signed char>(want));
    if (heightDelta)
        *heightDelta = 0;
    ShownState = want;
    LastMode = Mode;
    return 1;
}
