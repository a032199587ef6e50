// REGISTRY: a settings store shaped like the Windows registry (a root, a
// backslash-separated key path, named values of type number, bytes or text),
// kept in the platform's preferences store (platform/services/prefs.h).
//
// Mapping of a key path onto the preferences store:
//   the path is split at "\" into section ("Software"), company ("Tarvo"),
//   application and the rest. The values are filed in the domain
//   "com.<company>.<application>" (lower case; "registry" when the path
//   names no application; characters a domain cannot hold become "_"),
//   under the key "<rest>:<name>" with every "\" of the rest turned into
//   ":" (the name alone when there is no rest; a null name is "(default)").
//   The current-user root maps to the user's own preferences, the
//   local-machine root to the preferences of every user of this host.
//
// Every write is synchronised to disk at once, so other processes of the
// user see it at their next read, unless the program defers its writes
// (DeferWrites): they are then kept in this process (its own reads see
// them) until Flush, FlushAll or the end of the process writes them, each
// file once and only when a value changed. Texts are stored as platform strings made
// from their code page 1252 bytes (results carry code page 1252; characters
// that 1252 cannot hold read back as "?").
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"
#include "platform/services/prefs.h"

#include <optional>

class STRINGARRAY;

class VELMOT_EXPORT REGISTRY {
public:
    enum REGISTRYFLAGS : uint32_t {
        READ = 256,
        WRITE = 257,
        READWRITE = 258, // what the constructors store unless told otherwise
    };
    static constexpr DWORD CURRENT_USER = 0x80000001;
    static constexpr DWORD LOCAL_MACHINE = 0x80000002;

    // root: 1 or CURRENT_USER, 0 or LOCAL_MACHINE; the key path is
    // NameFromBaseAndApp(base, app).
    REGISTRY(char const* app, char const* base, DWORD root);
    REGISTRY(DWORD root, char const* base, char const* app, REGISTRYFLAGS mode);

    void Init(DWORD root, char const* base, char const* app, REGISTRYFLAGS mode);
    static STRING NameFromBaseAndApp(char const* base, char const* app);

    // Reads return whether the value exists (and was of a fitting type and
    // size); a missing or refused value leaves the caller's variable as it
    // was.
    bool Read(char const* name, DWORD* value);
    bool Read(char const* name, BINARY* value);
    bool Read(char const* name, void* buffer, int* size);
    bool Read(char const* name, STRING* value);

    // Writes store the value and synchronise (unless writes are deferred);
    // they return whether the value is on disk now (deferred: whether it
    // was taken).
    bool Write(char const* name, DWORD value);
    bool Write(char const* name, void const* data, int size);
    bool Write(char const* name, char const* text);
    bool DeleteValue(char const* name);

    // Process-wide: writes from now on stay in this process until written
    // by Flush (this path's domain), FlushAll (everything) or the process's
    // end. A value other processes must see at once (a counter they share)
    // is flushed by its writer.
    static void DeferWrites(bool on);
    bool Flush();
    static bool FlushAll();

    // Every key of the domain of the path's company and application (all
    // prefixes, not only this path's own); returns the count.
    int EnumKeyNames(STRINGARRAY* names);

    // Whether the domain of that path can be written, without writing it.
    static bool TestAccess(DWORD root, char const* base, char const* app, REGISTRYFLAGS mode);

    // The domain, the preferences scope and the key prefix of this path;
    // false when the root maps to no scope.
    bool GetPrefsMapping(STRING* identifier, plat::PrefScope* scope, STRING* prefix) const;

    // The one operation behind the others. READ copies the value into
    // *value; WRITE sets it from *value, or removes it when value is null or
    // holds nothing, and synchronises.
    bool BaseAccess(char const* name, REGISTRYFLAGS access, std::optional<plat::PrefValue>* value);

    DWORD Root() const { return RootKey; }
    STRING const& Path() const { return KeyPath; }

private:
    // The key of a value name in the domain.
    STRING KeyOf(char const* name, STRING const& prefix) const;

    DWORD RootKey = 0;
    STRING KeyPath;
    REGISTRYFLAGS Mode = READWRITE;
};
