#include "platform/services/keychain.h"

#include "platform/services/folders.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <libsecret/secret.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

std::recursive_mutex gLock;
bool gChosen = false;
KeychainStore gStore = KeychainStore::File;
std::string gFileFolder;

std::string CreatorText(uint32_t creator)
{
    char text[5] = {static_cast<char>(creator >> 24), static_cast<char>(creator >> 16),
                    static_cast<char>(creator >> 8), static_cast<char>(creator), 0};
    return text;
}

// ---- libsecret, loaded on first use ----

struct LIBSECRET {
    void* Handle = nullptr;
    decltype(&secret_password_storev_sync) Store = nullptr;
    decltype(&secret_password_clearv_sync) Clear = nullptr;
    decltype(&secret_password_searchv_sync) Search = nullptr;
    decltype(&secret_retrievable_retrieve_secret_sync) Retrieve = nullptr;
    decltype(&secret_retrievable_get_attributes) Attributes = nullptr;
    decltype(&secret_value_get_text) Text = nullptr;
    decltype(&secret_value_unref) ValueUnref = nullptr;
    decltype(&g_hash_table_new) HashNew = nullptr;
    decltype(&g_hash_table_insert) HashInsert = nullptr;
    decltype(&g_hash_table_lookup) HashLookup = nullptr;
    decltype(&g_hash_table_unref) HashUnref = nullptr;
    decltype(&g_list_free_full) ListFree = nullptr;
    decltype(&g_object_unref) ObjectUnref = nullptr;
    decltype(&g_error_free) ErrorFree = nullptr;
    decltype(&g_str_hash) StrHash = nullptr;
    decltype(&g_str_equal) StrEqual = nullptr;

    bool Load()
    {
        Handle = dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!Handle)
            return false;
        auto get = [&](auto& fn, char const* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(Handle, name));
            return fn != nullptr;
        };
        return get(Store, "secret_password_storev_sync") && get(Clear, "secret_password_clearv_sync") &&
               get(Search, "secret_password_searchv_sync") &&
               get(Retrieve, "secret_retrievable_retrieve_secret_sync") &&
               get(Attributes, "secret_retrievable_get_attributes") && get(Text, "secret_value_get_text") &&
               get(ValueUnref, "secret_value_unref") && get(HashNew, "g_hash_table_new") &&
               get(HashInsert, "g_hash_table_insert") && get(HashLookup, "g_hash_table_lookup") &&
               get(HashUnref, "g_hash_table_unref") && get(ListFree, "g_list_free_full") &&
               get(ObjectUnref, "g_object_unref") && get(ErrorFree, "g_error_free") &&
               get(StrHash, "g_str_hash") && get(StrEqual, "g_str_equal");
    }
};

LIBSECRET gSecret;

SecretSchema const kSchema = {
    "org.qor.Login",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {{"creator", SECRET_SCHEMA_ATTRIBUTE_STRING},
     {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
     {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
     {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// The attributes of a search or an item; the texts stay owned by the caller.
GHashTable* Attributes(std::string const& creator, std::string const* service, std::string const* account)
{
    GHashTable* table = gSecret.HashNew(gSecret.StrHash, gSecret.StrEqual);
    gSecret.HashInsert(table, const_cast<char*>("creator"), const_cast<char*>(creator.c_str()));
    if (service)
        gSecret.HashInsert(table, const_cast<char*>("service"), const_cast<char*>(service->c_str()));
    if (account)
        gSecret.HashInsert(table, const_cast<char*>("account"), const_cast<char*>(account->c_str()));
    return table;
}

void DropError(GError*& error)
{
    if (error)
        gSecret.ErrorFree(error);
    error = nullptr;
}

bool SecretFindAll(uint32_t creator, std::vector<KeychainItem>& out, bool* complete, bool probe)
{
    std::string const c = CreatorText(creator);
    GHashTable* attrs = Attributes(c, nullptr, nullptr);
    GError* error = nullptr;
    int const flags = SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK;
    GList* found = gSecret.Search(&kSchema, attrs, static_cast<SecretSearchFlags>(probe ? SECRET_SEARCH_ALL : flags),
                                  nullptr, &error);
    gSecret.HashUnref(attrs);
    if (error) {
        DropError(error);
        return false;
    }
    if (probe) {
        gSecret.ListFree(found, gSecret.ObjectUnref);
        return true;
    }
    *complete = true;
    for (GList* l = found; l; l = l->next) {
        auto* item = static_cast<SecretRetrievable*>(l->data);
        SecretValue* value = gSecret.Retrieve(item, nullptr, &error);
        GHashTable* itemAttrs = gSecret.Attributes(item);
        char const* text = value ? gSecret.Text(value) : nullptr;
        if (error || !text) {
            *complete = false;
        } else {
            KeychainItem k;
            auto lookup = [&](char const* key) {
                auto* v = static_cast<char const*>(itemAttrs ? gSecret.HashLookup(itemAttrs, key) : nullptr);
                return std::string(v ? v : "");
            };
            k.Service = lookup("service");
            k.Account = lookup("account");
            k.Data = text;
            out.push_back(std::move(k));
        }
        DropError(error);
        if (value)
            gSecret.ValueUnref(value);
        if (itemAttrs)
            gSecret.HashUnref(itemAttrs);
    }
    gSecret.ListFree(found, gSecret.ObjectUnref);
    return true;
}

bool SecretWrite(uint32_t creator, KeychainItem const& item)
{
    std::string const c = CreatorText(creator);
    // One item per service: an older one under another account goes first.
    GHashTable* old = Attributes(c, &item.Service, nullptr);
    GError* error = nullptr;
    gSecret.Clear(&kSchema, old, nullptr, &error);
    gSecret.HashUnref(old);
    DropError(error);
    GHashTable* attrs = Attributes(c, &item.Service, &item.Account);
    gboolean ok = gSecret.Store(&kSchema, attrs, SECRET_COLLECTION_DEFAULT, item.Service.c_str(), item.Data.c_str(),
                                nullptr, &error);
    gSecret.HashUnref(attrs);
    bool const failed = error != nullptr;
    DropError(error);
    return ok && !failed;
}

bool SecretDelete(uint32_t creator, std::string const& service)
{
    std::string const c = CreatorText(creator);
    GHashTable* attrs = Attributes(c, &service, nullptr);
    GError* error = nullptr;
    gSecret.Clear(&kSchema, attrs, nullptr, &error);
    gSecret.HashUnref(attrs);
    bool const failed = error != nullptr;
    DropError(error);
    return !failed;
}

// ---- the file store ----

std::string FileFolder()
{
    if (!gFileFolder.empty())
        return gFileFolder;
    return FolderPath(Folder::Preferences, true) + "qor/keychain";
}

std::string FilePath()
{
    return FileFolder() + "/logins";
}

std::string Escape(std::string const& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\0')
            out += "\\0";
        else
            out += c;
    }
    return out;
}

std::string Unescape(std::string const& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char n = text[++i];
        out += n == 'n' ? '\n' : n == 'r' ? '\r' : n == '0' ? '\0' : n;
    }
    return out;
}

struct FILEITEM {
    std::string Creator;
    KeychainItem Item;
};

constexpr char kHeader[] = "QORKEYCHAIN 1";
constexpr size_t kMaxFile = 16 << 20;

// The whole file; false when it exists but cannot be read whole.
bool ReadFile(std::vector<FILEITEM>& items)
{
    int fd = open(FilePath().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno == ENOENT;
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 && text.size() < kMaxFile)
        text.append(buf, static_cast<size_t>(n));
    close(fd);
    if (n < 0 || text.size() >= kMaxFile)
        return false;
    size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        if (first) {
            if (line != kHeader)
                return false;
            first = false;
            continue;
        }
        if (line == "item") {
            items.emplace_back();
            continue;
        }
        if (items.empty())
            return false;
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            return false;
        std::string key = line.substr(0, eq), value = Unescape(line.substr(eq + 1));
        FILEITEM& it = items.back();
        if (key == "creator")
            it.Creator = value;
        else if (key == "service")
            it.Item.Service = value;
        else if (key == "account")
            it.Item.Account = value;
        else if (key == "data")
            it.Item.Data = value;
    }
    return !first || text.empty();
}

bool WriteFile(std::vector<FILEITEM> const& items)
{
    std::string const folder = FileFolder();
    // The folder is the user's alone.
    std::string path;
    for (size_t at = 1; at != std::string::npos;) {
        at = folder.find('/', at + 1);
        path = folder.substr(0, at);
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    chmod(folder.c_str(), 0700);
    std::string text = std::string(kHeader) + "\n";
    for (FILEITEM const& it : items) {
        text += "item\ncreator=" + Escape(it.Creator) + "\nservice=" + Escape(it.Item.Service) +
                "\naccount=" + Escape(it.Item.Account) + "\ndata=" + Escape(it.Item.Data) + "\n";
    }
    std::string temp = folder + "/.logins-XXXXXX";
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    fchmod(fd, 0600);
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0 && errno != EINTR)
            break;
        if (n > 0)
            done += static_cast<size_t>(n);
    }
    bool ok = done == text.size() && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    std::fill(text.begin(), text.end(), '\0');
    if (!ok || rename(temp.c_str(), FilePath().c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

void Choose()
{
    if (gChosen)
        return;
    gChosen = true;
    gStore = KeychainStore::File;
    char const* bus = getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!bus || !*bus || !gSecret.Load())
        return;
    std::vector<KeychainItem> none;
    bool complete = true;
    if (SecretFindAll(0, none, &complete, true))
        gStore = KeychainStore::SecretService;
}

} // namespace

KeychainStore KeychainActiveStore()
{
    std::lock_guard<std::recursive_mutex> guard(gLock);
    Choose();
    return gStore;
}

std::string KeychainStoreName()
{
    std::lock_guard<std::recursive_mutex> guard(gLock);
    Choose();
    return gStore == KeychainStore::SecretService ? "the desktop keyring (Secret Service)" : FilePath();
}

void KeychainUseStore(KeychainStore store, std::string const& fileFolder)
{
    std::lock_guard<std::recursive_mutex> guard(gLock);
    gChosen = true;
    gStore = store;
    gFileFolder = fileFolder;
    if (store == KeychainStore::SecretService && !gSecret.Handle && !gSecret.Load())
        gStore = KeychainStore::File;
}

bool KeychainFindAll(uint32_t creator, std::vector<KeychainItem>& out, bool* complete)
{
    std::lock_guard<std::recursive_mutex> guard(gLock);
    Choose();
    bool whole = true;
    bool ok;
    if (gStore == KeychainStore::SecretService) {
        ok = SecretFindAll(creator, out, &whole, false);
    } else {
        std::vector<FILEITEM> items;
        ok = ReadFile(items);
        for (FILEITEM& it : items) {
            if (it.Creator == CreatorText(creator))
                out.push_back(std::move(it.Item));
        }
    }
    if (complete)
        *complete = ok && whole;
    return ok;
}

bool KeychainWrite(uint32_t creator, KeychainItem const& item)
{
    std::lock_guard<std::recursive_mutex> guard(gLock);
    Choose();
    if (gStore == KeychainStore::SecretService)
        return SecretWrite(creator, item);
    std::vector<FILEITEM> items;
    if (!ReadFile(items))
        return false;
    std::string const c = CreatorText(creator);
    bool replaced = false;
    for (FILEITEM& it : items) {
        if (it.Creator == c && it.Item.Service == item.Service) {
            it.Item = item;
            replaced = true;
        }
    }
    if (!replaced)
        items.push_back(FILEITEM{c, item});
    return WriteFile(items);
}

bool KeychainDelete(uint32_t creator, std::string const& service)
{
    std::lock_guard<std::recursive_mutex> guard(gLock);
    Choose();
    if (gStore == KeychainStore::SecretService)
        return SecretDelete(creator, service);
    std::vector<FILEITEM> items;
    if (!ReadFile(items))
        return false;
    std::string const c = CreatorText(creator);
    size_t const before = items.size();
    std::erase_if(items, [&](FILEITEM const& it) { return it.Creator == c && it.Item.Service == service; });
    return items.size() == before || WriteFile(items);
}

} // namespace plat
