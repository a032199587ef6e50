#include "tools/nibscan.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>
#include <set>

namespace nibscan {
namespace {

using plat::FourCC;
using plat::OSType;

bool IsWord(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// The text with comments blanked (line ends kept) and the lines holding
// the skip marker blanked whole.
std::string Prepare(std::string_view in)
{
    std::string out(in);
    size_t i = 0;
    while (i < out.size()) {
        char const c = out[i];
        if (c == '"' || c == '\'') {
            for (++i; i < out.size() && out[i] != c && out[i] != '\n'; ++i)
                if (out[i] == '\\')
                    ++i;
            ++i;
        } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '/') {
            size_t const end = out.find('\n', i);
            size_t const stop = end == std::string::npos ? out.size() : end;
            bool const marker = std::string_view(out).substr(i, stop - i).find("nibcheck: absent") != std::string::npos;
            if (marker) {
                size_t const start = out.rfind('\n', i);
                for (size_t k = start == std::string::npos ? 0 : start + 1; k < stop; ++k)
                    out[k] = ' ';
            } else {
                for (size_t k = i; k < stop; ++k)
                    out[k] = ' ';
            }
            i = stop;
        } else if (c == '/' && i + 1 < out.size() && out[i + 1] == '*') {
            size_t end = out.find("*/", i + 2);
            end = end == std::string::npos ? out.size() : end + 2;
            for (size_t k = i; k < end; ++k)
                if (out[k] != '\n')
                    out[k] = ' ';
            i = end;
        } else {
            ++i;
        }
    }
    return out;
}

int LineOf(std::string const& text, size_t pos)
{
    return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
}

struct Call {
    std::string name;  // the function, or the class of a declared object
    int argument = -1; // which argument pos stands in
    int arguments = 0;
};

// Skips a string or character literal that ends at `i` going backward.
size_t SkipBackLiteral(std::string const& t, size_t i)
{
    char const q = t[i];
    while (i > 0) {
        --i;
        if (t[i] == q && (i == 0 || t[i - 1] != '\\'))
            return i;
    }
    return 0;
}

// The call whose argument list holds `pos`; an empty name when none does
// in the same statement.
Call FindCall(std::string const& t, size_t pos)
{
    Call call;
    int depth = 0;
    int commas = 0;
    size_t open = std::string::npos;
    for (size_t i = pos; i-- > 0;) {
        char const c = t[i];
        if (c == '"' || c == '\'') {
            i = SkipBackLiteral(t, i);
            continue;
        }
        if (c == ')' || c == ']' || c == '}') {
            ++depth;
        } else if (c == '(' || c == '[' || c == '{') {
            if (depth > 0) {
                --depth;
                continue;
            }
            if (c == '(')
                open = i;
            break;
        } else if (depth == 0 && c == ';') {
            break;
        } else if (depth == 0 && c == ',') {
            ++commas;
        }
    }
    if (open == std::string::npos)
        return call;
    size_t end = open;
    while (end > 0 && std::isspace(static_cast<unsigned char>(t[end - 1])))
        --end;
    size_t start = end;
    while (start > 0 && IsWord(t[start - 1]))
        --start;
    call.name = t.substr(start, end - start);
    call.argument = commas;
    // A declared object ("PUSHBUTTON ok(...)") is looked at by its class.
    size_t before = start;
    while (before > 0 && std::isspace(static_cast<unsigned char>(t[before - 1])))
        --before;
    size_t typeStart = before;
    while (typeStart > 0 && IsWord(t[typeStart - 1]))
        --typeStart;
    std::string const type = t.substr(typeStart, before - typeStart);
    if (type.size() > 1 && type.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") == std::string::npos)
        call.name = type;
    // All the arguments.
    depth = 0;
    int total = 0;
    bool any = false;
    for (size_t i = open + 1; i < t.size(); ++i) {
        char const c = t[i];
        if (c == '"' || c == '\'') {
            for (++i; i < t.size() && t[i] != c; ++i)
                if (t[i] == '\\')
                    ++i;
            any = true;
            continue;
        }
        if (c == '(' || c == '[' || c == '{') {
            ++depth;
        } else if (c == ')' || c == ']' || c == '}') {
            if (depth == 0)
                break;
            --depth;
        } else if (c == ',' && depth == 0) {
            ++total;
        } else if (c == ';') {
            break;
        }
        if (!std::isspace(static_cast<unsigned char>(c)))
            any = true;
    }
    call.arguments = any ? total + 1 : 0;
    return call;
}

std::map<std::string, std::vector<OSType>> const& ControlClasses()
{
    static std::map<std::string, std::vector<OSType>> const classes = {
        {"PUSHBUTTON", {FourCC("push"), FourCC("picn"), FourCC("rndb")}},
        {"CHECKBOX", {FourCC("cbox")}},
        {"RADIOBUTTON", {FourCC("rdio")}},
        {"BEVELBUTTON", {FourCC("bevl")}},
        {"DISCLOSUREBUTTON", {FourCC("disb")}},
        {"ENTRYFIELD", {FourCC("eutx"), FourCC("etxt")}},
        {"STATICTEXT", {FourCC("stxt")}},
        {"STATICICON", {FourCC("icon")}},
        {"SCROLLBAR", {FourCC("sbar")}},
        {"SLIDERBAR", {FourCC("sldr")}},
        {"PROGRESSBAR", {FourCC("prgb")}},
        {"CHILDWINDOW", {FourCC("upan"), FourCC("plac")}},
        {"CONTROL", {}},
        {"SPINBUTTON", {}},
    };
    return classes;
}

void AddControlUse(std::vector<Use>& uses, Call const& call, plat::ViewId id, std::string const& file, int line)
{
    static std::set<std::string> const byId = {"EnableControl",  "ShowControl",        "GetControlText",
                                               "SetControlText", "GetControlTextWide", "SetControlTextWide"};
    static std::set<std::string> const checked = {"IsControlChecked", "SetControlChecked"};
    Use use;
    use.file = file;
    use.line = line;
    use.control = true;
    use.id = id;
    use.call = call.name;
    auto const& classes = ControlClasses();
    if (auto it = classes.find(call.name); it != classes.end()) {
        if (call.name == "SPINBUTTON") {
            if (call.argument != 2)
                return; // the arrows' own id is made here
            use.kinds = {FourCC("eutx"), FourCC("etxt")};
        } else if (call.argument == 1 && call.arguments == 2) {
            use.kinds = it->second;
        } else if (call.argument >= 2 && call.argument == call.arguments - 1 && call.arguments <= 4) {
            // The template of a template constructor.
        } else {
            return; // a control made under that id
        }
    } else if (byId.count(call.name)) {
        if (call.argument != 0)
            return;
    } else if (checked.count(call.name)) {
        if (call.argument != 0)
            return;
        use.kinds = {FourCC("cbox"), FourCC("rdio"), FourCC("bevl"), FourCC("disb")};
    } else if (call.name == "MoveToTemplateControl") {
        if (call.argument != 1)
            return;
    } else {
        return;
    }
    uses.push_back(std::move(use));
}

bool ParseId(std::smatch const& m, plat::ViewId* id)
{
    std::string const sig = m[1].matched ? m[1].str() : std::string();
    if (sig.size() == 4)
        id->signature = FourCC({sig[0], sig[1], sig[2], sig[3], 0});
    else
        id->signature = static_cast<OSType>(std::stoul(m[2].str()));
    id->id = std::stoi(m[3].str());
    return true;
}

} // namespace

std::vector<Use> ScanSource(std::string_view source, std::string const& file)
{
    std::vector<Use> uses;
    std::string const t = Prepare(source);

    static std::regex const layout(R"re("((?:DLG|IDM|ID)_[A-Z0-9_]+)")re");
    for (auto it = std::sregex_iterator(t.begin(), t.end(), layout); it != std::sregex_iterator(); ++it) {
        size_t const pos = static_cast<size_t>(it->position(0));
        Call const call = FindCall(t, pos);
        Use use;
        use.file = file;
        use.line = LineOf(t, pos);
        use.layout = (*it)[1].str();
        use.call = call.name;
        std::string const& c = call.name;
        if (c == "MENU" || c == "LoadMenu" || c == "CreateMenuFromNib")
            use.sort = LayoutSort::Menu;
        else if (c == "CreateMenu" || c == "CreateMenuBarFromNib")
            use.sort = LayoutSort::MenuBar;
        else if (c == "InitFromResource")
            use.sort = call.argument == 1 ? LayoutSort::MenuBar : LayoutSort::Window;
        else if (c == "WINDOW")
            use.sort = call.argument == 0 ? LayoutSort::Window : LayoutSort::MenuBar;
        else if (c == "DIALOG" || c == "CHILDWINDOW" || c == "CreateWindowFromNib")
            use.sort = LayoutSort::Window;
        uses.push_back(std::move(use));
    }

    // Control id literals and the constants they define.
    static std::regex const literal(
        R"re(\{\s*(?:(?:plat::)?FourCC\("(....)"\)|(\d+))\s*,\s*(-?\d+)\s*\})re");
    static std::regex const constant(
        R"re(\bCONTROLID\s+(?:const\s+)?(\w+)\s*(?:=\s*)?\{\s*(?:(?:plat::)?FourCC\("(....)"\)|(\d+))\s*,\s*(-?\d+)\s*\})re");
    std::map<std::string, plat::ViewId> constants;
    std::vector<std::pair<size_t, size_t>> definitions; // where constants are defined
    for (auto it = std::sregex_iterator(t.begin(), t.end(), constant); it != std::sregex_iterator(); ++it) {
        std::smatch const& m = *it;
        plat::ViewId id;
        std::string const sig = m[2].matched ? m[2].str() : std::string();
        id.signature = sig.size() == 4 ? FourCC({sig[0], sig[1], sig[2], sig[3], 0})
                                       : static_cast<OSType>(std::stoul(m[3].str()));
        id.id = std::stoi(m[4].str());
        constants[m[1].str()] = id;
        definitions.emplace_back(static_cast<size_t>(m.position(0)), static_cast<size_t>(m.length(0)));
    }
    auto inDefinition = [&definitions](size_t pos) {
        return std::any_of(definitions.begin(), definitions.end(),
                           [pos](auto const& d) { return pos >= d.first && pos < d.first + d.second; });
    };
    for (auto it = std::sregex_iterator(t.begin(), t.end(), literal); it != std::sregex_iterator(); ++it) {
        size_t const pos = static_cast<size_t>(it->position(0));
        // Only CONTROLID{...}: other braces with a code and a number are not ids.
        size_t before = pos;
        while (before > 0 && std::isspace(static_cast<unsigned char>(t[before - 1])))
            --before;
        if (before < 9 || t.compare(before - 9, 9, "CONTROLID") != 0 || inDefinition(pos))
            continue;
        plat::ViewId id;
        ParseId(*it, &id);
        AddControlUse(uses, FindCall(t, before - 9), id, file, LineOf(t, pos));
    }
    for (auto const& [name, id] : constants) {
        std::regex const useOf("\\b" + name + "\\b");
        for (auto it = std::sregex_iterator(t.begin(), t.end(), useOf); it != std::sregex_iterator(); ++it) {
            size_t const pos = static_cast<size_t>(it->position(0));
            if (!inDefinition(pos))
                AddControlUse(uses, FindCall(t, pos), id, file, LineOf(t, pos));
        }
    }
    return uses;
}

namespace {

bool HasControl(std::vector<plat::NibControl> const& controls, plat::ViewId id, std::vector<OSType> const& kinds)
{
    for (plat::NibControl const& c : controls) {
        if (c.id == id && (kinds.empty() || std::find(kinds.begin(), kinds.end(), c.kind) != kinds.end()))
            return true;
        if (HasControl(c.children, id, kinds))
            return true;
    }
    return false;
}

std::string KindsText(std::vector<OSType> const& kinds)
{
    std::string s;
    for (OSType k : kinds)
        s += (s.empty() ? "" : "/") + plat::FourCCText(k);
    return s.empty() ? "any kind" : s;
}

} // namespace

std::vector<std::string> Check(std::vector<Use> const& uses, plat::NibModel const& model,
                               std::set<std::string> const& known)
{
    std::vector<std::string> problems;
    std::set<std::string> stillMissing;
    std::map<std::string, std::vector<std::string>> windowsOfFile;
    for (Use const& u : uses) {
        if (u.control || !model.windows.count(u.layout))
            continue;
        std::vector<std::string>& windows = windowsOfFile[u.file];
        if (std::find(windows.begin(), windows.end(), u.layout) == windows.end())
            windows.push_back(u.layout);
    }
    for (Use const& u : uses) {
        std::string const where = u.file + ":" + std::to_string(u.line) + ": ";
        if (!u.control) {
            bool const window = model.windows.count(u.layout) > 0;
            bool const menu = model.menus.count(u.layout) > 0;
            bool const bar = model.menubars.count(u.layout) > 0;
            bool ok = false;
            switch (u.sort) {
            case LayoutSort::Any:
                ok = window || menu || bar;
                break;
            case LayoutSort::Window:
                ok = window;
                break;
            case LayoutSort::Menu:
                ok = menu;
                break;
            case LayoutSort::MenuBar:
                ok = bar;
                break;
            }
            if (!ok && known.count(u.layout)) {
                stillMissing.insert(u.layout);
                continue;
            }
            if (!ok) {
                static char const* const sorts[] = {"layout", "window", "menu", "menu bar"};
                problems.push_back(where + u.call + " asks for the " + sorts[static_cast<int>(u.sort)] + " " +
                                   u.layout + ", which the layouts do not have");
            }
            continue;
        }
        auto it = windowsOfFile.find(u.file);
        if (it == windowsOfFile.end())
            continue; // no window named here to look in
        bool found = false;
        for (std::string const& w : it->second)
            found = found || HasControl(model.windows.at(w).controls, u.id, u.kinds);
        if (!found) {
            std::string windows;
            for (std::string const& w : it->second)
                windows += (windows.empty() ? "" : ", ") + w;
            problems.push_back(where + u.call + " looks up " + plat::FourCCText(u.id.signature) + " " +
                               std::to_string(u.id.id) + " (" + KindsText(u.kinds) + "), which is not in " + windows);
        }
    }
    for (std::string const& name : known)
        if (!stillMissing.count(name))
            problems.push_back("known gap " + name + " is no gap: take it off the list");
    return problems;
}

} // namespace nibscan
