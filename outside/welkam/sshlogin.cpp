#include "outside/welkam/sshlogin.h"

#include "plugins/sdk/passwordcacheapi.h"
#include "plugins/sdk/qorpublic.h"

#include "velmot/core/logit.h"
#include "velmot/core/strings.h"

#include <algorithm>
#include <cstring>
#include <pwd.h>
#include <strings.h>
#include <unistd.h>

namespace welkam {

namespace {

// The room of the host's request buffers.
constexpr int kField = 256;

enum TEXTID { T_LOGIN, T_KEY, T_QUESTION, T_HOSTKEY };

struct TEXTS {
    char const* English;
    char const* German;
};
TEXTS const kTexts[] = {
    {"SSH Login", "SSH-Anmeldung"},
    {"SSH Key", "SSH-Schlüssel"},
    {"SSH", "SSH"},
    {"Do you trust this host key and want to go on connecting?",
     "Vertrauen Sie diesem Host-Schlüssel und wollen Sie die Verbindung fortsetzen?"},
};

void Wipe(std::string& s)
{
    std::fill(s.begin(), s.end(), '\0');
    s.clear();
}

void Wipe(char* buf, size_t size)
{
    volatile char* p = buf;
    for (size_t i = 0; i < size; ++i)
        p[i] = 0;
}

bool AsksForPassword(std::string const& prompt)
{
    return strcasestr(prompt.c_str(), "password") != nullptr;
}

std::string LoginName()
{
    if (passwd const* pw = getpwuid(getuid()))
        return pw->pw_name ? pw->pw_name : "";
    return std::string();
}

} // namespace

SSHLOGIN::SSHLOGIN(QORPUBLIC* pub, CALLINFO const& info, TARGET const& target, int port)
    : Public(pub), Info(info), Host(target.Host), Port(port > 0 ? port : 22)
{
    User = !Info.User.empty() ? Info.User : !target.User.empty() ? target.User : LoginName();
}

SSHLOGIN::~SSHLOGIN()
{
    Wipe(Info.Password);
    for (KEEP& k : Pending)
        Wipe(k.Secret);
}

std::string SSHLOGIN::PasswordRef(std::string const& user, std::string const& host, int port)
{
    return user + "@" + host + ":" + std::to_string(port);
}

std::string SSHLOGIN::PassphraseRef(std::string const& keyFile)
{
    return "key:" + keyFile;
}

std::string SSHLOGIN::InteractiveRef(std::string const& user, std::string const& host, int port,
                                     std::string const& prompt)
{
    return PasswordRef(user, host, port) + "|" + prompt;
}

char const* SSHLOGIN::Text(int id) const
{
    return Public && Public->Language == 49 ? kTexts[id].German : kTexts[id].English;
}

bool SSHLOGIN::Unattended() const
{
    return !Public || (Public->Unattended && *Public->Unattended);
}

bool SSHLOGIN::FromCache(int type, std::string const& ref, std::string* answer)
{
    PASSWORDCACHEAPI* cache = Public ? Public->PasswordCache : nullptr;
    if (!cache || Given.count(ref))
        return false;
    STRING user, secret;
    if (!cache->GetLogin(type, ref.c_str(), &user, &secret) || secret.Length() == 0)
        return false;
    Given.insert(ref);
    *answer = secret.Buf();
    LOGIT("WELKAM::Login answer from the password cache (type %d, %s)\n", type, ref.c_str());
    return true;
}

void SSHLOGIN::Keep(int type, std::string const& ref, std::string const& user, std::string const& secret)
{
    for (KEEP& k : Pending) {
        if (strcasecmp(k.Ref.c_str(), ref.c_str()) == 0) {
            Wipe(k.Secret);
            k = KEEP{type, ref, user, secret};
            return;
        }
    }
    Pending.push_back(KEEP{type, ref, user, secret});
}

void SSHLOGIN::Commit()
{
    PASSWORDCACHEAPI* cache = Public ? Public->PasswordCache : nullptr;
    for (KEEP& k : Pending) {
        bool ok = cache && cache->SaveLogin(k.Type, k.Ref.c_str(), k.User.c_str(), k.Secret.c_str());
        LOGIT("WELKAM::Login kept type %d %s: %s\n", k.Type, k.Ref.c_str(), ok ? "yes" : "NO");
        Wipe(k.Secret);
    }
    Pending.clear();
}

bool SSHLOGIN::Answer(std::string const& frame, std::string* answer, bool* abort)
{
    *abort = false;
    answer->clear();
    QUESTION q = ParseQuestion(frame);
    switch (q.Kind) {
    case PROMPT::HostKey:
        return HostKey(q, answer);
    case PROMPT::Password:
        return Password(q, answer, abort);
    case PROMPT::Passphrase:
        return Passphrase(q, answer);
    case PROMPT::Other:
        break;
    }
    return Interactive(q, answer, abort);
}

bool SSHLOGIN::HostKey(QUESTION const& q, std::string* answer)
{
    *answer = "no";
    if (Unattended() || q.Text.find("Please type") == 0) {
        LOGIT("WELKAM::Login host key refused (no user to ask)\n");
        return true;
    }
    // ssh's lines name the host and the key's fingerprint; its last line
    // is its own question.
    std::string text = q.Text;
    size_t last = text.find_last_of('\n');
    text = last == std::string::npos ? std::string() : text.substr(0, last + 1);
    text = "?" + text + "\n" + Text(T_HOSTKEY);
    bool yes = Public->WarningMsg(text.c_str()) == 1;
    *answer = yes ? "yes" : "no";
    LOGIT("WELKAM::Login host key %s\n", yes ? "accepted" : "refused");
    return true;
}

bool SSHLOGIN::Password(QUESTION const& q, std::string* answer, bool* abort)
{
    std::string const user = !q.User.empty() ? q.User : User;
    std::string const ref = PasswordRef(user, Host, Port);
    if (!CallinfoUsed && !Info.Password.empty()) {
        CallinfoUsed = true;
        Given.insert(ref);
        *answer = Info.Password;
        return true;
    }
    if (FromCache(PWCACHE_SSH_PASSWORD, ref, answer))
        return true;
    if (Unattended()) {
        *abort = true;
        return false;
    }
    char userBuf[kField] = {};
    char pass[kField] = {};
    snprintf(userBuf, sizeof userBuf, "[READONLY]%s", user.c_str());
    int store = 0;
    int rc = Public->AskUserPass(Text(T_LOGIN), userBuf, pass, &store);
    if (rc) {
        *answer = pass;
        if (store)
            Keep(PWCACHE_SSH_PASSWORD, ref, user, *answer);
    } else {
        *abort = true;
    }
    Wipe(pass, sizeof pass);
    return rc != 0;
}

bool SSHLOGIN::Passphrase(QUESTION const& q, std::string* answer)
{
    std::string const ref = PassphraseRef(q.KeyFile);
    if (FromCache(PWCACHE_SSH_PASSPHRASE, ref, answer))
        return true;
    if (Unattended())
        return false;
    char pass[kField] = {};
    int store = 0;
    int rc = Public->AskPassphrase(Text(T_KEY), q.Text.c_str(), q.KeyFile.c_str(), pass, &store);
    if (rc) {
        *answer = pass;
        if (store)
            Keep(PWCACHE_SSH_PASSPHRASE, ref, User, *answer);
    }
    Wipe(pass, sizeof pass);
    return rc != 0;
}

bool SSHLOGIN::Interactive(QUESTION const& q, std::string* answer, bool* abort)
{
    std::string const ref = InteractiveRef(User, Host, Port, q.Text);
    if (!CallinfoUsed && !Info.Password.empty() && AsksForPassword(q.Text)) {
        CallinfoUsed = true;
        Given.insert(ref);
        *answer = Info.Password;
        return true;
    }
    if (FromCache(PWCACHE_SSH_KBDINTERACTIVE, ref, answer))
        return true;
    if (Unattended()) {
        *abort = true;
        return false;
    }
    char buf[kField] = {};
    signed char store = 0;
    int rc = Public->Ask(Text(T_QUESTION), q.Text.c_str(), buf, sizeof buf, 1, &store);
    if (rc) {
        *answer = buf;
        if (store)
            Keep(PWCACHE_SSH_KBDINTERACTIVE, ref, User, *answer);
    } else {
        *abort = true;
    }
    Wipe(buf, sizeof buf);
    return rc != 0;
}

} // namespace welkam
