// REGISTRY: registry-shaped settings over the platform's preferences store.
#include "velmot/core/registry.h"

#include "velmot/core/logit.h"
#include "velmot/core/osysconv.h"
#include "velmot/core/stringarray.h"
#include "velmot/core/tarvo.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <variant>

namespace {

constexpr char const* kSource = "registry";

// The top-level label of the preferences domains of the registry.
constexpr char const* kDomainLabel = "com";

// Values still unwritten when the program ends (those of a program that
// defers its writes) are written by the process entry.
void SynchronizeAtExit()
{
    if (plat::SynchronizeAllPrefs())
        return;
    // No window is left to say it in: the log and the standard error.
    std::string const failure = plat::TakePrefsFailure();
    LOGIT("REGISTRY: the preferences could not be written: %s\n", failure.c_str());
    if (!failure.empty())
        fprintf(stderr, "%s: the preferences could not be written: %s\n", program_invocation_short_name,
                failure.c_str());
}

std::atomic<bool> gDeferWrites{false};

[[maybe_unused]] bool const gSyncHooked = (TARVOAPP::SetPreferencesSync(&SynchronizeAtExit), true);

bool EqualsNoCase(std::string const& a, char const* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

// A part of a domain name: lower case, and "_" for what a domain cannot hold.
std::string DomainPart(std::string const& part)
{
    std::string rc;
    for (char c : part) {
        unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) && u < 0x80)
            rc += static_cast<char>(std::tolower(u));
        else if (c == '-' || c == '_' || c == '.')
            rc += c;
        else
            rc += '_';
    }
    return rc;
}

} // namespace

REGISTRY::REGISTRY(char const* app, char const* base, DWORD root)
{
    DWORD key = 0;
    if (root == 1 || root == CURRENT_USER)
        key = CURRENT_USER;
    else if (root == 0 || root == LOCAL_MACHINE)
        key = LOCAL_MACHINE;
    else
        AssertMsg(0, "FALSE", kSource, __LINE__, nullptr, false);
    if (app && app[0] == '<')
        AssertMsg(0, "app[0]!='<'", kSource, __LINE__, app, false);
    Init(key, base, app, READWRITE);
}

REGISTRY::REGISTRY(DWORD root, char const* base, char const* app, REGISTRYFLAGS mode)
{
    Init(root, base, app, mode);
}

void REGISTRY::Init(DWORD root, char const* base, char const* app, REGISTRYFLAGS mode)
{
    RootKey = root;
    KeyPath = NameFromBaseAndApp(base, app);
    Mode = mode;
}

STRING REGISTRY::NameFromBaseAndApp(char const* base, char const* app)
{
    std::string rc = base ? base : "";
    if (!app) {
        AssertMsg(0, "app", kSource, __LINE__, nullptr, false);
        return STRING(rc.c_str());
    }
    if (rc.empty() || rc.back() != '\\')
        rc += '\\';
    while (*app == '\\')
        ++app;
    rc += app;
    while (!rc.empty() && rc.back() == '\\')
        rc.pop_back();
    return STRING(rc.c_str());
}

bool REGISTRY::GetPrefsMapping(STRING* identifier, plat::PrefScope* scope, STRING* prefix) const
{
    // section \ company \ application \ rest
    std::string path = KeyPath.Buf();
    std::string parts[3];
    std::string rest;
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        if (pos > path.size())
            break;
        size_t end = path.find('\\', pos);
        if (end == std::string::npos) {
            parts[i] = path.substr(pos);
            pos = path.size() + 1;
        } else {
            parts[i] = path.substr(pos, end - pos);
            pos = end + 1;
        }
    }
    if (pos <= path.size())
        rest = path.substr(pos);

    if (!EqualsNoCase(parts[0], "software"))
        AssertMsg(0, "section==\"software\"", kSource, __LINE__, path.c_str(), false);
    if (!EqualsNoCase(parts[1], "tarvo"))
        AssertMsg(0, "company==\"tarvo\"", kSource, __LINE__, path.c_str(), false);

    if (identifier) {
        std::string id = std::string(kDomainLabel) + "." + DomainPart(parts[1]) + "." +
                         (parts[2].empty() ? std::string("registry") : DomainPart(parts[2]));
        *identifier = id.c_str();
    }
    if (prefix) {
        for (char& c : rest) {
            if (c == '\\')
                c = ':';
        }
        *prefix = rest.c_str();
    }
    bool ok = true;
    plat::PrefScope sc = plat::PrefScope::CurrentUser;
    if (RootKey == CURRENT_USER) {
        sc = plat::PrefScope::CurrentUser;
    } else if (RootKey == LOCAL_MACHINE) {
        sc = plat::PrefScope::AnyUserCurrentHost;
    } else {
        AssertMsg(0, "FALSE", kSource, __LINE__, "root", false);
        ok = false;
    }
    if (scope)
        *scope = sc;
    return ok;
}

STRING REGISTRY::KeyOf(char const* name, STRING const& prefix) const
{
    char const* n = name ? name : "(default)";
    if (prefix.IsEmpty())
        return STRING(n);
    return prefix || ":" || n;
}

bool REGISTRY::BaseAccess(char const* name, REGISTRYFLAGS access, std::optional<plat::PrefValue>* value)
{
    STRING identifier, prefix;
    plat::PrefScope scope;
    if (!GetPrefsMapping(&identifier, &scope, &prefix))
        return false;
    STRING key = KeyOf(name, prefix);
    std::string_view domain(identifier.Buf(), static_cast<size_t>(identifier.Length()));
    std::string_view keyview(key.Buf(), static_cast<size_t>(key.Length()));
    switch (access) {
    case READ: {
        std::optional<plat::PrefValue> found = plat::GetPref(domain, keyview, scope);
        if (!found)
            return false;
        if (value)
            *value = std::move(found);
        return true;
    }
    case WRITE: {
        std::optional<plat::PrefValue> v;
        if (value && *value)
            v = **value;
        if (!plat::SetPref(domain, keyview, std::move(v), scope))
            return false;
        return gDeferWrites.load() || plat::SynchronizePrefs(domain, scope);
    }
    default:
        return false;
    }
}

bool REGISTRY::Read(char const* name, DWORD* value)
{
    std::optional<plat::PrefValue> v;
    if (!BaseAccess(name, READ, &v))
        return false;
    if (auto const* number = std::get_if<int32_t>(&*v)) {
        if (value)
            *value = static_cast<DWORD>(*number);
        return true;
    }
    if (auto const* data = std::get_if<plat::Bytes>(&*v)) {
        // A value of another length is refused: copying four bytes out of
        // it would read past its end or drop the rest.
        if (data->size() != sizeof(DWORD)) {
            AssertMsg(0, "length==sizeof(*pdata)", kSource, __LINE__, name, false);
            return false;
        }
        if (value)
            memcpy(value, data->data(), sizeof(DWORD));
        return true;
    }
    AssertMsg(0, "FALSE", kSource, __LINE__, name, false);
    return false;
}

bool REGISTRY::Read(char const* name, BINARY* value)
{
    std::optional<plat::PrefValue> v;
    if (!BaseAccess(name, READ, &v))
        return false;
    auto const* data = std::get_if<plat::Bytes>(&*v);
    if (!data) {
        AssertMsg(0, "FALSE", kSource, __LINE__, name, false);
        return false;
    }
    if (value)
        value->Make(static_cast<int32_t>(data->size()), reinterpret_cast<char const*>(data->data()));
    return true;
}

bool REGISTRY::Read(char const* name, void* buffer, int* size)
{
    if (!size) {
        AssertMsg(0, "size", kSource, __LINE__, name, false);
        return false;
    }
    std::optional<plat::PrefValue> v;
    if (!BaseAccess(name, READ, &v))
        return false;
    if (auto const* data = std::get_if<plat::Bytes>(&*v)) {
        int len = static_cast<int>(data->size());
        if (!buffer) {
            *size = len;
            return true;
        }
        int n = *size < 0 ? 0 : (*size < len ? *size : len);
        if (n > 0)
            memcpy(buffer, data->data(), static_cast<size_t>(n));
        *size = n;
        return true;
    }
    if (auto const* text = std::get_if<plat::Text>(&*v)) {
        STRING bytes = osysconv::StringFromText(*text);
        int len = bytes.Length();
        if (!buffer) {
            *size = len;
            return true;
        }
        if (*size <= 0) {
            *size = 0;
            return true;
        }
        int n = *size - 1 < len ? *size - 1 : len;
        memcpy(buffer, bytes.Buf(), static_cast<size_t>(n));
        static_cast<char*>(buffer)[n] = '\0';
        *size = n;
        return true;
    }
    AssertMsg(0, "FALSE", kSource, __LINE__, name, false);
    return false;
}

bool REGISTRY::Read(char const* name, STRING* value)
{
    std::optional<plat::PrefValue> v;
    if (!BaseAccess(name, READ, &v))
        return false;
    auto const* text = std::get_if<plat::Text>(&*v);
    if (!text) {
        AssertMsg(0, "FALSE", kSource, __LINE__, name, false);
        return false;
    }
    if (value)
        *value = osysconv::StringFromText(*text);
    return true;
}

bool REGISTRY::Write(char const* name, DWORD value)
{
    std::optional<plat::PrefValue> v = plat::PrefValue(static_cast<int32_t>(value));
    return BaseAccess(name, WRITE, &v);
}

bool REGISTRY::Write(char const* name, void const* data, int size)
{
    if (size < 0 || (!data && size > 0)) {
        AssertMsg(0, "data && size>=0", kSource, __LINE__, name, false);
        return false;
    }
    auto const* p = static_cast<uint8_t const*>(data);
    std::optional<plat::PrefValue> v = plat::PrefValue(plat::Bytes(p, p + size));
    return BaseAccess(name, WRITE, &v);
}

bool REGISTRY::Write(char const* name, char const* text)
{
    if (!text)
        return false;
    plat::Text platformText = osysconv::TextFromString(text);
    if (platformText.IsNull())
        return false;
    std::optional<plat::PrefValue> v = plat::PrefValue(platformText);
    return BaseAccess(name, WRITE, &v);
}

bool REGISTRY::DeleteValue(char const* name)
{
    return BaseAccess(name, WRITE, nullptr);
}

void REGISTRY::DeferWrites(bool on)
{
    gDeferWrites = on;
}

bool REGISTRY::Flush()
{
    STRING identifier;
    plat::PrefScope scope;
    if (!GetPrefsMapping(&identifier, &scope, nullptr))
        return false;
    return plat::SynchronizePrefs(std::string_view(identifier.Buf(), static_cast<size_t>(identifier.Length())), scope);
}

bool REGISTRY::FlushAll()
{
    return plat::SynchronizeAllPrefs();
}

int REGISTRY::EnumKeyNames(STRINGARRAY* names)
{
    if (!names)
        return 0;
    names->DeleteAllItems();
    STRING identifier;
    plat::PrefScope scope;
    if (!GetPrefsMapping(&identifier, &scope, nullptr))
        return 0;
    for (std::string const& key :
         plat::PrefKeys(std::string_view(identifier.Buf(), static_cast<size_t>(identifier.Length())), scope)) {
        STRING item;
        item.Make(static_cast<int32_t>(key.size()), key.data());
        names->AppendItem(std::move(item));
    }
    return names->NumItems();
}

bool REGISTRY::TestAccess(DWORD root, char const* base, char const* app, REGISTRYFLAGS mode)
{
    if (mode != WRITE) {
        AssertMsg(0, "access==REGISTRY::WRITE", kSource, __LINE__, nullptr, false);
        return false;
    }
    REGISTRY reg(root, base, app, mode);
    STRING identifier;
    plat::PrefScope scope;
    if (!reg.GetPrefsMapping(&identifier, &scope, nullptr))
        return false;
    return plat::CanWritePrefs(std::string_view(identifier.Buf(), static_cast<size_t>(identifier.Length())), scope);
}
