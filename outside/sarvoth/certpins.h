// PINSTORE: the server certificates the user chose to trust although they
// failed their check, one SHA-256 fingerprint per host and port.
//
// The file holds lines "<host> <port> <fingerprint>". It is read only when
// it is a regular file of the user that nobody else may write (anything
// else could plant trust), and written whole, 0600, through a temporary
// file and a rename in its folder (made 0700 when missing).
#pragma once

#include <string>

namespace sarvoth {

class PINSTORE {
public:
    explicit PINSTORE(std::string path);
    // "$XDG_CONFIG_HOME/qor/tls-pins", else "~/.config/qor/tls-pins".
    static std::string DefaultPath();
    std::string const& Path() const { return File; }

    // Whether fingerprint is pinned for host and port (the host without
    // regard to case).
    bool Has(std::string const& host, int port, std::string const& fingerprint) const;
    // Pins the fingerprint for host and port (the one pinned before for
    // them goes); false when the file could not be written.
    bool Add(std::string const& host, int port, std::string const& fingerprint);

private:
    // The file's lines, empty when it is missing or not to be trusted.
    std::string Load() const;
    std::string File;
};

} // namespace sarvoth
