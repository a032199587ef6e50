// SSHLOGIN: the answers to ssh's questions during one connection. Runs on
// the device's worker thread; the questions to the user go through the
// host's requests (QORPUBLIC), which move them to the main thread.
//
// Sources, in order: a password ssh asks for comes from the dialler's
// CALLINFO password (once), then from the password cache (type 30), then
// from the user (AskUserPass); a key's pass phrase from the cache (31) or
// the user (AskPassphrase); any other question (keyboard-interactive) from
// the CALLINFO password when it asks for a password (once), the cache (32)
// or the user (Ask). An answer taken from CALLINFO or the cache that ssh
// asks for again was refused and is not given again. The host key
// question goes to the user as a yes/no question, never to the cache, and
// is answered "no" without a user. Answers the user asked to keep are
// stored once the login succeeded (Commit).
#pragma once

#include "outside/welkam/sshtext.h"

#include <set>
#include <string>
#include <vector>

class QORPUBLIC;

namespace welkam {

class SSHLOGIN {
public:
    SSHLOGIN(QORPUBLIC* pub, CALLINFO const& info, TARGET const& target, int port);
    ~SSHLOGIN();
    SSHLOGIN(SSHLOGIN const&) = delete;
    SSHLOGIN& operator=(SSHLOGIN const&) = delete;

    // The answer to one question frame ("<hint>\n<prompt>"): true with
    // *answer, or false for none. *abort: the user refused a login
    // question, so the connection should end.
    bool Answer(std::string const& frame, std::string* answer, bool* abort);
    // The login succeeded: the answers to keep go to the password cache.
    void Commit();

    // The references under which the cache keeps an answer.
    static std::string PasswordRef(std::string const& user, std::string const& host, int port);
    static std::string PassphraseRef(std::string const& keyFile);
    static std::string InteractiveRef(std::string const& user, std::string const& host, int port,
                                      std::string const& prompt);

private:
    struct KEEP {
        int Type;
        std::string Ref;
        std::string User;
        std::string Secret;
    };
    bool Unattended() const;
    bool FromCache(int type, std::string const& ref, std::string* answer);
    void Keep(int type, std::string const& ref, std::string const& user, std::string const& secret);
    bool HostKey(QUESTION const& q, std::string* answer);
    bool Password(QUESTION const& q, std::string* answer, bool* abort);
    bool Passphrase(QUESTION const& q, std::string* answer);
    bool Interactive(QUESTION const& q, std::string* answer, bool* abort);
    char const* Text(int id) const;

    QORPUBLIC* Public;
    CALLINFO Info;
    bool CallinfoUsed = false;
    std::string User; // the user the connection logs in as
    std::string Host;
    int Port;
    // References answered without the user in this connection.
    std::set<std::string> Given;
    std::vector<KEEP> Pending;
};

} // namespace welkam
