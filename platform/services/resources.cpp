#include "platform/services/resources.h"

#include "platform/services/fileio.h"
#include "platform/services/folders.h"
#include "platform/services/text.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <sys/stat.h>

namespace plat {
namespace {

// Resource files are small; anything larger is not one of ours.
constexpr std::size_t kMaxTableBytes = 4u << 20;
constexpr std::size_t kMaxInfoBytes = 1u << 20;

char const* const kLanguages[] = {"en", "de"};

bool Exists(std::string const& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool IsFolder(std::string const& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void SkipBlanks(std::string_view line, size_t& pos)
{
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
}

// Reads a quoted string starting at pos (which must be the opening quote).
bool ReadQuoted(std::string_view line, size_t& pos, std::string& out)
{
    out.clear();
    if (pos >= line.size() || line[pos] != '"')
        return false;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++pos >= line.size())
            return false;
        switch (line[pos]) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case 'n': out.push_back('\n'); break;
        default: return false;
        }
    }
    return false; // no closing quote
}

bool ParseEntry(std::string_view line, std::string& key, std::string& value)
{
    size_t pos = 0;
    SkipBlanks(line, pos);
    if (!ReadQuoted(line, pos, key))
        return false;
    SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != '=')
        return false;
    ++pos;
    SkipBlanks(line, pos);
    if (!ReadQuoted(line, pos, value))
        return false;
    SkipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != ';')
        return false;
    ++pos;
    SkipBlanks(line, pos);
    if (pos < line.size() && line.substr(pos, 2) != "//")
        return false;
    // Both texts must be UTF-8, as the file is.
    return !Text::FromUtf8(key).IsNull() && !Text::FromUtf8(value).IsNull();
}

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string EnvValue(char const* name)
{
    char const* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool SafeRelative(std::string_view path)
{
    if (path.empty())
        return true;
    if (path.front() == '/')
        return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return false;
        start = end + 1;
    }
    return true;
}

struct Cache {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<StringTable const>> tables; // by path
    std::string infoPath; // the file info holds the values of; empty: none read
    std::map<std::string, std::string, std::less<>> info;
};

Cache& TheCache()
{
    static Cache* cache = new Cache; // never destroyed: used until exit
    return *cache;
}

// The parsed table at path; a missing or unreadable file is an empty table.
std::shared_ptr<StringTable const> TableAt(std::string const& path)
{
    Cache& c = TheCache();
    {
        std::lock_guard<std::mutex> guard(c.lock);
        auto it = c.tables.find(path);
        if (it != c.tables.end())
            return it->second;
    }
    std::string text;
    auto table = std::make_shared<StringTable>();
    if (fileio::ReadBounded(path, kMaxTableBytes, text))
        *table = ParseStringTable(text);
    std::lock_guard<std::mutex> guard(c.lock);
    return c.tables.emplace(path, std::move(table)).first->second;
}

} // namespace

StringTable ParseStringTable(std::string_view text)
{
    StringTable table;
    // A byte-order mark is tolerated at the start, as editors write one.
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    int number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        size_t pos = 0;
        SkipBlanks(line, pos);
        if (pos == line.size() || line.substr(pos, 2) == "//")
            continue;
        std::string key, value;
        if (ParseEntry(line, key, value))
            table.entries[key] = std::move(value);
        else
            table.invalidLines.push_back(number);
    }
    return table;
}

std::string PickLanguage(std::vector<std::string> const& userLanguages)
{
    for (std::string const& lang : userLanguages) {
        size_t end = lang.find_first_of("_-.@");
        std::string primary = Lower(std::string_view(lang).substr(0, end));
        for (char const* known : kLanguages)
            if (primary == known)
                return primary;
    }
    return "en";
}

std::string ResourceLanguage()
{
    std::vector<std::string> langs;
    std::string list = EnvValue("LANGUAGE");
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            langs.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    for (char const* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string v = EnvValue(name);
        if (!v.empty()) {
            langs.push_back(v);
            break;
        }
    }
    return PickLanguage(langs);
}

std::string ResourceFilePath(std::string_view name, std::string_view type,
                             std::string_view subfolder)
{
    if (name.empty() || name.find('/') != std::string_view::npos || name == ".." ||
        !SafeRelative(subfolder))
        return std::string();
    std::string file(name);
    if (!type.empty()) {
        if (type.front() != '.')
            file += '.';
        file += type;
        if (!SafeRelative(file))
            return std::string();
    }
    std::string sub(subfolder);
    while (!sub.empty() && sub.back() == '/')
        sub.pop_back();
    std::string tail = sub.empty() ? file : sub + "/" + file;
    std::string root = ResourcesFolder();
    std::string lang = ResourceLanguage();
    for (std::string const& folder :
         {root, root + "/" + lang + ".lproj", root + "/en.lproj"}) {
        std::string path = folder + "/" + tail;
        if (Exists(path))
            return path;
    }
    return std::string();
}

std::optional<std::string> LocalizedString(std::string_view key, std::string_view table)
{
    std::string root = ResourcesFolder();
    if (!IsFolder(root))
        return std::nullopt;
    std::string file = std::string(table) + ".strings";
    if (table.empty() || !SafeRelative(file) || file.find('/') != std::string::npos)
        return std::string(key);
    std::string lang = ResourceLanguage();
    std::vector<std::string> langs{lang};
    if (lang != "en")
        langs.push_back("en");
    for (std::string const& l : langs) {
        auto t = TableAt(root + "/" + l + ".lproj/" + file);
        auto it = t->entries.find(key);
        if (it != t->entries.end())
            return it->second;
    }
    return std::string(key);
}

std::optional<std::string> StringFromResource(std::string_view id, std::string_view callerTable)
{
    std::optional<std::string> result;
    std::vector<std::string_view> tables{"Localizable", "App"};
    if (!callerTable.empty())
        tables.push_back(callerTable);
    for (std::string_view table : tables) {
        std::optional<std::string> text = LocalizedString(id, table);
        if (!text)
            continue;
        if (*text != id)
            return text;
        result = std::move(text);
    }
    return result;
}

std::string InfoValue(std::string_view key)
{
    Cache& c = TheCache();
    std::lock_guard<std::mutex> guard(c.lock);
    std::string path = ResourcesFolder() + "/info.txt";
    if (c.infoPath != path) {
        c.infoPath = path;
        c.info.clear();
        std::string text;
        if (fileio::ReadBounded(path, kMaxInfoBytes, text)) {
            size_t start = 0;
            while (start < text.size()) {
                size_t end = text.find('\n', start);
                if (end == std::string::npos)
                    end = text.size();
                std::string line = text.substr(start, end - start);
                start = end + 1;
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                size_t eq = line.find('=');
                if (line.empty() || line[0] == '#' || eq == std::string::npos)
                    continue;
                c.info[line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
    }
    auto it = c.info.find(key);
    return it == c.info.end() ? std::string() : it->second;
}

void ClearResourceCache()
{
    Cache& c = TheCache();
    std::lock_guard<std::mutex> guard(c.lock);
    c.tables.clear();
    c.info.clear();
    c.infoPath.clear();
}

} // namespace plat
