// The password cache as plug-ins call it: the program's store of the logins
// a user chose to keep (QORPUBLIC::PasswordCache). Like every host object
// plug-ins reach, it is called by virtual slot: the order below never
// changes (slots 0 and 1 are the destructors).
//
// Threads: any; every call takes the cache's locks (in-process, then
// across instances), waiting at most 2.5 s for each, and fails without
// changing anything when it cannot get them.
#pragma once

// Login types (the entry's "Type").
enum : int {
    PWCACHE_QUICKCONNECT_USER = 10,
    PWCACHE_SSH_DEFAULT_USER = 20,
    PWCACHE_SSH_PASSWORD = 30,
    PWCACHE_SSH_PASSPHRASE = 31,
    PWCACHE_SSH_KBDINTERACTIVE = 32,
};

class STRING;
class WINDOW;

class PASSWORDCACHEAPI {
public:
    virtual ~PASSWORDCACHEAPI() = default; // 0, 1
    // Stores the login under ref (matched ignoring case); a null user or
    // password stores an empty text. True when it is in the store.
    virtual int SaveLogin(int type, char const* ref, char const* user, char const* password) = 0; // 2
    // The login stored under ref, whatever its type: true when found; user
    // and password (when given) get its texts.
    virtual int GetLogin(int type, char const* ref, STRING* user, STRING* password) = 0; // 3
    // The list of stored logins, where the user deletes them. Main thread.
    virtual int PasswordsDialog(WINDOW const& owner) = 0; // 4
};
