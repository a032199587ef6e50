// File search and the folder-tree operations of OSYS built on it.
#include "velmot/core/filefind.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile_internal.h"
#include "velmot/core/stringarray.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char const* kSource = "osysfile";

std::string ToStd(STRING const& s)
{
    return std::string(s.Buf(), static_cast<size_t>(s.Length()));
}

// Sets a FILENAME to a path exactly as the file system names it: entries
// read from a folder may contain backslashes or begin with "~" or "%", and
// none of that may be taken for a separator or a placeholder.
void SetRaw(FILENAME& target, std::string const& path)
{
    static_cast<STRING&>(target) = STRING(path.c_str());
    memset(&target.FileStatus, 0, sizeof target.FileStatus);
}

std::string Join(std::string const& folder, char const* name)
{
    std::string path = folder == "/" ? std::string() : folder;
    path += '/';
    path += name;
    return path;
}

DIR* OpenFolder(char const* path)
{
    // Opened with close-on-exec, so the folder is never left open in a
    // program started while the search runs.
    int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR* dir = fdopendir(fd);
    if (!dir)
        close(fd);
    return dir;
}

bool IsRealDirectory(std::string const& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsDirectory(std::string const& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Lists the tree under folder into out (when given), every folder after its
// content; the mask is compiled once for the whole tree. Entries are
// examined with lstat: a link is listed like a plain file and never
// followed, so nothing outside the tree is ever listed.
int ListTree(std::string const& folder, char const* mask, REGEXP& matcher, bool maskValid,
             std::vector<std::string>* out, bool recursive)
{
    LOGIT("OSYS::ListFiles %s/%s\n", folder.c_str(), mask);
    // Read the folder first and close it before descending, so a deep tree
    // holds one open folder at a time.
    struct Entry {
        std::string Name;
        std::string Path;
        bool Folder;
    };
    std::vector<Entry> entries;
    if (DIR* dir = maskValid ? OpenFolder(folder.c_str()) : nullptr) {
        while (dirent* d = readdir(dir)) {
            if (matcher.RegFind(d->d_name) < 0)
                continue;
            std::string path = Join(folder, d->d_name);
            struct stat st;
            if (lstat(path.c_str(), &st) != 0)
                continue; // cannot be examined: neither a file nor a folder
            entries.push_back({d->d_name, path, S_ISDIR(st.st_mode)});
        }
        closedir(dir);
    }

    int howmany = 0;
    for (Entry const& e : entries) {
        if (!e.Folder) {
            ++howmany;
            if (out) {
                LOGIT("OSYS::ListFiles %s/%s found '%s'\n", folder.c_str(), mask, e.Name.c_str());
                out->push_back(e.Path);
            }
        } else if (recursive && e.Name[0] != '.') {
            howmany += ListTree(e.Path, mask, matcher, maskValid, out, recursive) + 1;
            if (out)
                out->push_back(e.Path);
        }
    }
    LOGIT("OSYS::ListFiles %s/%s done, howmany= %d\n", folder.c_str(), mask, howmany);
    return howmany;
}

// The folder and mask of a listing: the mask may carry folder parts of its
// own ("sub/*.txt").
int ListInto(char const* dir, char const* mask, std::vector<std::string>* out, bool recursive)
{
    FILENAME spec(dir, mask ? mask : "*");
    std::string folder = ToStd(spec.JustPath());
    std::string filemask = ToStd(spec.JustFile());
    REGEXP matcher;
    bool valid = matcher.RegComp(FILEFIND::MaskToRegex(filemask.c_str()).c_str()) != nullptr;
    return ListTree(folder, filemask.c_str(), matcher, valid, out, recursive);
}

// Opens the folder `rel` ("/"-separated, may be empty) below the open folder
// `root`, one name at a time and never through a link; with `create`,
// missing folders are made. -1 when a name is a link, no folder, "..", or
// cannot be made.
int OpenBelow(int root, std::string const& rel, bool create)
{
    int fd = fcntl(root, F_DUPFD_CLOEXEC, 0);
    for (size_t start = 0; fd >= 0 && start < rel.size();) {
        size_t slash = rel.find('/', start);
        std::string name = rel.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        start = slash == std::string::npos ? rel.size() : slash + 1;
        if (name.empty() || name == ".")
            continue;
        int next = -1;
        if (name != "..") {
            int const flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
            next = openat(fd, name.c_str(), flags);
            if (next < 0 && errno == ENOENT && create && (mkdirat(fd, name.c_str(), 0755) == 0 || errno == EEXIST))
                next = openat(fd, name.c_str(), flags);
        }
        close(fd);
        fd = next;
    }
    return fd;
}

// Copies the entry `source` to `name` in the open folder `folder` without
// following a link at either end: a link in the source tree is copied as a
// link (the same target text), and whatever stands at the destination is
// replaced, never written through. The copy is made beside the destination
// and renamed over it, so the destination is never half written.
bool CopyEntry(std::string const& source, int folder, std::string const& name, bool overwrite)
{
    struct stat src;
    if (lstat(source.c_str(), &src) != 0)
        return false;
    struct stat dst;
    bool exists = fstatat(folder, name.c_str(), &dst, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && (!overwrite || S_ISDIR(dst.st_mode) || (dst.st_dev == src.st_dev && dst.st_ino == src.st_ino)))
        return false;

    std::string temp;
    bool ok = false;
    if (S_ISLNK(src.st_mode)) {
        std::string target(PATH_MAX, '\0');
        ssize_t len = readlink(source.c_str(), target.data(), target.size());
        if (len <= 0 || static_cast<size_t>(len) >= target.size())
            return false;
        target.resize(static_cast<size_t>(len));
        for (int attempt = 0; attempt < 100 && !ok; ++attempt) {
            temp = velmot_detail::SiblingName(name);
            ok = symlinkat(target.c_str(), folder, temp.c_str()) == 0;
            if (!ok && errno != EEXIST)
                return false;
        }
    } else {
        // Only plain files: a pipe or a device would block the copy or
        // never end it; opening without blocking lets a pipe be refused.
        int in = open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (in < 0)
            return false;
        struct stat opened;
        int out = -1;
        if (fstat(in, &opened) == 0 && S_ISREG(opened.st_mode))
            out = velmot_detail::CreateSiblingAt(folder, name, &temp);
        if (out >= 0) {
            if (exists && S_ISREG(dst.st_mode))
                fchmod(out, dst.st_mode & 07777);
            ok = velmot_detail::CopyData(in, out);
            if (close(out) != 0)
                ok = false;
        }
        close(in);
        if (out < 0)
            return false;
    }
    if (ok && renameat(folder, temp.c_str(), folder, name.c_str()) != 0)
        ok = false;
    if (!ok)
        unlinkat(folder, temp.c_str(), 0);
    return ok;
}

bool CopyList(char const* from, char const* to, std::vector<std::string> const& list, bool keepExisting)
{
    std::string source = ToStd(FILENAME(from ? from : ""));
    std::string target = ToStd(FILENAME(to ? to : ""));
    std::string prefix = source == "/" ? std::string() : source;
    // The destination folder itself is taken as given (a link to a folder
    // will do); below it nothing is reached through a link.
    int root = -1;
    auto openRoot = [&](bool create) {
        if (root < 0 && (!create || OSYS::CreateDirectoryPath(target.c_str())))
            root = open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        return root;
    };
    bool rc = true;
    // Last to first: the source folder itself and every folder come before
    // their content.
    for (size_t i = list.size(); i-- > 0;) {
        std::string const& entry = list[i];
        bool inside = entry == source ||
                      (entry.size() > prefix.size() && entry.compare(0, prefix.size(), prefix) == 0 &&
                       entry[prefix.size()] == '/');
        if (!inside) {
            std::string info = source + "::" + entry;
            AssertMsg(0, "source.Left((STRING_SIZE_T)fromlen)==from", kSource, __LINE__, info.c_str(), false);
            rc = false;
            continue;
        }
        if (entry == source) {
            openRoot(true);
            continue;
        }
        std::string rel = entry.substr(prefix.size() + 1);
        if (IsRealDirectory(entry)) {
            // Whether the folder could be made shows in the copies of its
            // content.
            if (openRoot(true) >= 0) {
                int fd = OpenBelow(root, rel, true);
                if (fd >= 0)
                    close(fd);
            }
            continue;
        }
        size_t slash = rel.rfind('/');
        std::string name = slash == std::string::npos ? rel : rel.substr(slash + 1);
        int folder = openRoot(false) >= 0 ? OpenBelow(root, slash == std::string::npos ? "" : rel.substr(0, slash), false) : -1;
        bool ok = folder >= 0 && !name.empty() && name != "." && name != ".." && CopyEntry(entry, folder, name, !keepExisting);
        LOGIT("OSYS::TreeCopy %s -> %s/%s returns %d\n", entry.c_str(), target.c_str(), rel.c_str(), ok);
        if (folder >= 0)
            close(folder);
        if (!ok)
            rc = false;
    }
    if (root >= 0)
        close(root);
    return rc;
}

} // namespace

// ---------------------------------------------------------------------------
// FILEFIND

std::string FILEFIND::MaskToRegex(char const* mask)
{
    std::string rx = "^";
    for (char const* p = mask ? mask : ""; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
        case '.':
            rx += "\\.";
            break;
        case '*':
            rx += ".*";
            break;
        case '?':
            rx += ".";
            break;
        case '(':
        case ')':
        case '[':
        case ']':
            rx += '\\';
            rx += static_cast<char>(c);
            break;
        default:
            if (isalpha(c)) {
                rx += '[';
                rx += static_cast<char>(toupper(c));
                rx += static_cast<char>(tolower(c));
                rx += ']';
            } else {
                rx += static_cast<char>(c);
            }
            break;
        }
    }
    rx += '$';
    return rx;
}

FILEFIND::FILEFIND(char const* pattern, STRING* nameOut) : NameOut(nameOut)
{
    Spec = FILENAME(pattern);
    bool isFolder = Spec.IsDirectory();
    STRING mask;
    if (isFolder && !(pattern && strchr(pattern, '*'))) {
        Folder = Spec;
        mask = "*";
    } else {
        Folder = Spec.JustPath();
        mask = Spec.JustFile();
    }
    Dir = OpenFolder(Folder.Buf());
    Mask = STRING(MaskToRegex(mask.Buf()).c_str());
    MaskValid = Matcher.RegComp(Mask.Buf()) != nullptr;
    FindNext();
}

FILEFIND::~FILEFIND()
{
    if (Dir)
        closedir(Dir);
}

int FILEFIND::FindNext()
{
    if (Dir && MaskValid) {
        while (dirent* d = readdir(Dir)) {
            if (Matcher.RegFind(d->d_name) >= 0) {
                StoreResult(true, d->d_name);
                return 1;
            }
        }
    }
    StoreResult(false, nullptr);
    return 0;
}

void FILEFIND::StoreResult(bool found, char const* name)
{
    if (found && name) {
        SetRaw(Name, name);
        SetRaw(Fullname, Join(ToStd(Folder), name));
    } else {
        SetRaw(Name, std::string());
        SetRaw(Fullname, std::string());
        found = false;
    }
    Found = found;
    if (NameOut)
        *NameOut = STRING(Name.Buf(), UNICODE_CPDEFAULT);
}

unsigned long long FILEFIND::GetModTime()
{
    Fullname.UpdateModTime();
    return static_cast<unsigned long long>(Fullname.FileStatus.st_mtime);
}

uint32_t FILEFIND::GetAttributes() const
{
    return Fullname.GetAttributes();
}

bool FILEFIND::TestAttribute(uint32_t mask) const
{
    uint32_t attributes = GetAttributes();
    if (attributes == FILENAME_ATTR_INVALID)
        return mask != 0;
    return (attributes & mask) != 0;
}

// ---------------------------------------------------------------------------
// OSYS folder trees

bool OSYS::CreateDirectoryPath(char const* path)
{
    if (!path || !*path)
        return false;
    std::string full = path;
    std::string growing;
    size_t start = 0;
    for (;;) {
        size_t slash = full.find('/', start);
        growing += full.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!growing.empty() && !IsDirectory(growing)) {
            bool ok = mkdir(growing.c_str(), 0755) == 0 || (errno == EEXIST && IsDirectory(growing));
            LOGIT("OSYS::CreateDirectoryPath mkdir %s returns ok= %d\n", growing.c_str(), ok);
            if (!ok)
                return false;
        }
        if (slash == std::string::npos)
            break;
        growing += '/';
        start = slash + 1;
    }
    return IsDirectory(full);
}

int OSYS::ListFiles(char const* dir, char const* mask, STRINGARRAY* out, bool recursive)
{
    std::vector<std::string> list;
    int howmany = ListInto(dir, mask, out ? &list : nullptr, recursive);
    if (out) {
        for (std::string const& path : list)
            out->AppendItem(STRING(path.c_str()));
    }
    return howmany;
}

int OSYS::TreeDel(char const* dir, char const* mask, bool recursive)
{
    std::vector<std::string> list;
    ListInto(dir, mask, &list, recursive);

    // First the files (and links: the link goes, never what it points to),
    // then the folders in list order, which puts inner folders before outer
    // ones, and the folder itself last. The folder itself is only ever
    // removed as a folder, so a link given as the folder stays.
    std::vector<std::string> folders;
    for (std::string const& entry : list) {
        struct stat st;
        if (lstat(entry.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
            folders.push_back(entry); // gone already, or a folder
        else
            unlink(entry.c_str());
    }
    folders.push_back(ToStd(FILENAME(dir ? dir : "")));
    for (std::string const& folder : folders)
        rmdir(folder.c_str());
    return static_cast<int>(folders.size());
}

bool OSYS::TreeCopy(char const* from, char const* to, char const* mask, bool recursive, bool keepExisting)
{
    std::vector<std::string> list;
    ListInto(from, mask, &list, recursive);
    list.push_back(ToStd(FILENAME(from ? from : "")));
    return CopyList(from, to, list, keepExisting);
}

bool OSYS::TreeCopy(char const* from, char const* to, STRINGARRAY& list, bool keepExisting)
{
    std::vector<std::string> entries;
    for (int i = 0; i < list.NumItems(); ++i)
        entries.push_back(ToStd(*list[i]));
    return CopyList(from, to, entries, keepExisting);
}
