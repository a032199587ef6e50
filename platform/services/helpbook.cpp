#include "platform/services/helpbook.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

namespace plat {
namespace {

std::string Lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

struct Book {
    std::string folder;
    // lower-case anchor -> (page path, anchor as written)
    std::map<std::string, std::pair<std::string, std::string>> anchors;
};

std::mutex gLock;
std::map<std::string, Book>& Books()
{
    static auto* books = new std::map<std::string, Book>;
    return *books;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// The value of every attribute `name` (lower case) inside tags of the
// text, quoted with " or '.
std::vector<std::string> AttributeValues(std::string const& text, std::string const& lower, std::string_view name)
{
    std::vector<std::string> values;
    bool inTag = false;
    for (size_t i = 0; i < lower.size(); ++i) {
        char const c = lower[i];
        if (c == '<') {
            inTag = true;
        } else if (c == '>') {
            inTag = false;
        } else if (inTag && IsSpace(c) && lower.compare(i + 1, name.size(), name) == 0) {
            size_t p = i + 1 + name.size();
            while (p < lower.size() && IsSpace(lower[p]))
                ++p;
            if (p >= lower.size() || lower[p] != '=')
                continue;
            ++p;
            while (p < lower.size() && IsSpace(lower[p]))
                ++p;
            if (p >= lower.size() || (lower[p] != '"' && lower[p] != '\''))
                continue;
            size_t const end = lower.find(lower[p], p + 1);
            if (end == std::string::npos)
                break;
            values.push_back(text.substr(p + 1, end - p - 1));
            i = end;
        }
    }
    return values;
}

std::string ReadText(std::filesystem::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

} // namespace

bool RegisterHelpBook(std::string const& title, std::string const& folder)
{
    std::vector<std::filesystem::path> pages;
    std::error_code ec;
    for (auto const& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.is_regular_file(ec) && Lower(entry.path().extension().string()) == ".html")
            pages.push_back(entry.path());
    }
    if (pages.empty())
        return false;
    std::sort(pages.begin(), pages.end());
    Book book;
    book.folder = std::filesystem::absolute(folder, ec).lexically_normal().string();
    for (auto const& page : pages) {
        std::string const text = ReadText(page);
        std::string const lower = Lower(text);
        std::string const path = std::filesystem::absolute(page, ec).lexically_normal().string();
        for (std::string_view attribute : {"name", "id"}) {
            for (std::string const& anchor : AttributeValues(text, lower, attribute)) {
                if (!anchor.empty())
                    book.anchors.emplace(Lower(anchor), std::make_pair(path, anchor));
            }
        }
    }
    std::lock_guard<std::mutex> hold(gLock);
    Books()[title] = std::move(book);
    return true;
}

std::string HelpAnchorUrl(std::string const& title, std::string_view anchor)
{
    std::lock_guard<std::mutex> hold(gLock);
    auto book = Books().find(title);
    if (book == Books().end() || anchor.empty())
        return {};
    auto it = book->second.anchors.find(Lower(anchor));
    if (it == book->second.anchors.end())
        return {};
    return FileUrl(it->second.first) + "#" + it->second.second;
}

std::string FileUrl(std::string_view path)
{
    static char const kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url.push_back(static_cast<char>(c));
        } else {
            url.push_back('%');
            url.push_back(kHex[c >> 4]);
            url.push_back(kHex[c & 15]);
        }
    }
    return url;
}

} // namespace plat
