// nibcheck: every layout name and control id the sources ask for exists
// in the layouts, with a fitting sort and kind (nibscan.h says what is
// looked at), and the layout files themselves have no refused entries.
//
//   nibcheck --nibs FOLDER [--nibs FOLDER]... --sources FOLDER [--sources FOLDER]... [--known FILE]
//
// The known file lists layout names that may be missing for now (one a
// line, "#" comments): layouts later work adds. A name listed there that is
// no longer missing is a problem too, so the list only shrinks.
//
// Prints one line per problem; exits 1 when there is any, 2 on bad usage.
#include "tools/nibscan.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> nibs;
    std::vector<std::string> sources;
    std::set<std::string> known;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--nibs") == 0) {
            nibs.push_back(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--sources") == 0) {
            sources.push_back(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--known") == 0) {
            std::ifstream in(argv[i + 1]);
            if (!in) {
                std::fprintf(stderr, "nibcheck: %s cannot be read\n", argv[i + 1]);
                return 2;
            }
            std::string line;
            while (std::getline(in, line))
                if (!line.empty() && line[0] != '#')
                    known.insert(line.substr(0, line.find_first_of(" \t\r")));
        } else {
            std::fprintf(stderr, "usage: nibcheck --nibs FOLDER... --sources FOLDER... [--known FILE]\n");
            return 2;
        }
    }
    if (nibs.empty() || sources.empty() || argc % 2 == 0) {
        std::fprintf(stderr, "usage: nibcheck --nibs FOLDER... --sources FOLDER... [--known FILE]\n");
        return 2;
    }
    plat::NibModel const model = plat::LoadNibFolders(nibs);
    std::vector<std::string> problems = model.errors;
    std::vector<nibscan::Use> uses;
    int files = 0;
    for (std::string const& folder : sources) {
        std::error_code ec;
        for (auto const& entry : std::filesystem::recursive_directory_iterator(folder, ec)) {
            std::string const ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h"))
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            std::vector<nibscan::Use> found = nibscan::ScanSource(text.str(), entry.path().string());
            uses.insert(uses.end(), found.begin(), found.end());
            ++files;
        }
        if (ec) {
            std::fprintf(stderr, "nibcheck: %s: %s\n", folder.c_str(), ec.message().c_str());
            return 2;
        }
    }
    std::vector<std::string> const more = nibscan::Check(uses, model, known);
    problems.insert(problems.end(), more.begin(), more.end());
    for (std::string const& p : problems)
        std::printf("%s\n", p.c_str());
    std::printf("nibcheck: %d source files, %zu uses, %zu problems\n", files, uses.size(), problems.size());
    return problems.empty() ? 0 : 1;
}
