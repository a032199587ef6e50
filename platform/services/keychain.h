// The keychain: where the program keeps secrets (the password cache). On
// Linux the desktop's Secret Service (GNOME Keyring, KWallet, KeePassXC)
// through libsecret, loaded on first use, when the session bus offers one;
// otherwise a file readable by the user only (0600, in a 0700 folder,
// written whole through a temporary file and rename).
//
// An item is found by its creator (a four-character code) and identified
// by its service name; it carries an account name and its data (text).
// Secret Service items carry the attributes "creator", "service" and
// "account" and the label of the service name.
//
// Threads: any; calls are serialised inside.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct KeychainItem {
    std::string Service;
    std::string Account;
    std::string Data;
};

enum class KeychainStore {
    SecretService,
    File,
};

// The store the calls use. Chosen once per process: the Secret Service
// when libsecret can reach one, else the file store.
KeychainStore KeychainActiveStore();
// What the user is told about it: "the desktop keyring (Secret Service)"
// or the file's path.
std::string KeychainStoreName();
// Tests: use this store from now on; the file store in this folder (empty:
// $XDG_CONFIG_HOME/qor/keychain).
void KeychainUseStore(KeychainStore store, std::string const& fileFolder = std::string());

// Every item of the creator. False when the store cannot be searched;
// *complete false when an item's data could not be read (out then holds
// the items that could).
bool KeychainFindAll(uint32_t creator, std::vector<KeychainItem>& out, bool* complete);
// Adds the item, or replaces the one with its creator and service name.
bool KeychainWrite(uint32_t creator, KeychainItem const& item);
// Deletes the item with the creator and service name; true also when there
// was none.
bool KeychainDelete(uint32_t creator, std::string const& service);

} // namespace plat
