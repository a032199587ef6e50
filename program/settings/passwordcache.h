// PASSWORDCACHE: the logins a user chose to keep (quick-connect user names,
// SSH passwords, pass phrases and keyboard-interactive answers), one
// keychain item per login (platform/services/keychain.h: the desktop's
// Secret Service, else a 0600 file), shared by every main window and
// running instance. Each main window owns one; plug-ins reach it through
// QORPUBLIC::PasswordCache.
//
// A login is a HASH: "Ref" (its reference, matched ignoring case),
// "Username", "Password" ("<NULL>" counts as none), "Type", "LastAccess"
// (seconds, the clock of OSYS::GetLTime), "LastAccessStr" and, while it
// holds unwritten changes, "Dirty". Its keychain item: service "QOR: " +
// Ref, account Ref, creator 'QOR!', data the HASH's text form.
//
// Locks: an in-process mutex, then a lock across instances (flock on
// "QC%04x" in the runtime folder), each waited for at most 2.5 s; a call
// that cannot get them fails and changes nothing (logged, never asked).
// The list dialog works on a copy and takes the locks only to read and to
// write back what the user deleted.
//
// Store errors are reported: SaveLogin returns false when the item was not
// written. A store that could not be read whole is never written back, so
// no login is lost by a partial read. Purging removes expired logins and
// SSH secrets (types 30 to 32) without a password; user names of types 10
// and 20 are kept without one.
#pragma once

#include "plugins/sdk/passwordcacheapi.h"

#include "velmot/core/hash.h"
#include "velmot/core/osyssync.h"
#include "velmot/core/strings.h"

#include <functional>
#include <string>

class SETTINGSHOST;
struct PROGRAMSETTINGSDATA;

class PASSWORDCACHE final : public PASSWORDCACHEAPI {
public:
    static constexpr uint32_t CREATOR = 0x514F5221; // 'QOR!'
    static constexpr int LOCKWAIT = 2500;

    PASSWORDCACHE(SETTINGSHOST& owner, PROGRAMSETTINGSDATA const* settings, char const* homePath);
    ~PASSWORDCACHE() override;

    int SaveLogin(int type, char const* ref, char const* user, char const* password) override;
    int GetLogin(int type, char const* ref, STRING* user, STRING* password) override;
    int PasswordsDialog(WINDOW const& owner) override;

    // Removes expired and empty logins; -1 days: the setting PwdAutoExpire.
    bool PurgeEntries(int days, HASHLIST& entries);
    void Touch(HASH& entry);
    int FindRefIdx(char const* ref, HASHLIST& entries);
    // The whole store. False when it cannot be read; *complete false when
    // some login could not be read.
    bool ReadPasswords(HASHLIST& out, bool* complete = nullptr);
    // Makes the store hold exactly entries (only "Dirty" ones are written).
    bool WritePasswords(HASHLIST& entries);
    bool LockTable();
    void UnlockTable();
    // The store opens itself (the keyring unlocks with its own prompt):
    // true when it could be read.
    bool LogonToStore();
    // Deletes every stored login.
    int ResetStore(char const* storePassword);
    // A text made from the user's and the computer's names.
    static STRING SourceString();
    // The store in use, as the dialog names it.
    static std::string StoreName();
    // The name of the lock across instances ("QC%04x").
    std::string const& LockName() const { return Name; }

    // Tests: the list dialog is run by this function instead (it gets the
    // entries and answers whether the dialog ended with OK).
    std::function<bool(HASHLIST&)> DialogHook;
    // Tests: the clock (seconds).
    std::function<unsigned long long()> Clock;

private:
    unsigned long long Now() const;
    bool StoresDisabled() const;

    SETTINGSHOST& Owner;
    PROGRAMSETTINGSDATA const* Settings;
    MUTEXSEM Mutex;
    std::string Name;
    int LockFd = -1;
    bool Locked = false;
};
