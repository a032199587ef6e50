#include "outside/sarvoth/telnetdevice.h"

#include "outside/sarvoth/telnettext.h"

#include "plugins/sdk/commapi.h"
#include "plugins/sdk/emulationapi.h"
#include "plugins/sdk/qorpublic.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"

#include <cstdio>
#include <cstring>

namespace sarvoth {

namespace {

enum TEXTID { T_CERTIFICATE, T_SUBJECT, T_ISSUER, T_CONNECTANYWAY, T_TRUST, T_PORT };

struct TEXTS {
    char const* English;
    char const* German;
};
TEXTS const kTexts[] = {
    {"The certificate of %s could not be verified: %s.", "Das Zertifikat von %s ist nicht bestätigt: %s."},
    {"Subject", "Inhaber"},
    {"Issuer", "Aussteller"},
    {"Connect all the same?", "Trotzdem verbinden?"},
    {"Trust this certificate for %s from now on? (No: for this connection only.)",
     "Diesem Zertifikat für %s künftig vertrauen? (Nein: nur für diese Verbindung.)"},
    {"%s, port %d", "%s, Port %d"},
};

char const* Text(QORPUBLIC const* pub, TEXTID id)
{
    return pub && pub->Language == 49 ? kTexts[id].German : kTexts[id].English;
}

std::string Format(char const* format, std::string const& a, std::string const& b = std::string())
{
    std::string out(strlen(format) + a.size() + b.size() + 1, '\0');
    int n = snprintf(out.data(), out.size(), format, a.c_str(), b.c_str());
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

} // namespace

TELNETDEVICE::TELNETDEVICE(SUBSYSINITDATA const& init, int id)
    : QORDEVICE(init), Id(id), Parm("[" + std::to_string(id) + "]"),
      Link(id == 10 ? "[TELNET/SSL] " : "[TELNET] ", [this] {
          if (Public && Public->Comm)
              Public->Comm->FeedMarker(COMM_MARKER_EOR);
      })
{
}

TELNETDEVICE::~TELNETDEVICE()
{
    Link.Close();
}

std::string TELNETDEVICE::Options() const
{
    size_t const close = Parm.find(']');
    return !Parm.empty() && Parm[0] == '[' && close != std::string::npos ? Parm.substr(close + 1) : Parm;
}

int TELNETDEVICE::SetParm(char const* parm)
{
    if (parm)
        Parm = std::string(parm, strnlen(parm, 127));
    return 1;
}

char* TELNETDEVICE::QueryParm(char* buf, int max)
{
    if (buf && max > 0)
        snprintf(buf, static_cast<size_t>(max), "%s", Parm.c_str());
    return buf;
}

char* TELNETDEVICE::QueryStdParm(char* buf)
{
    PARMS p;
    p.Port = Tls() ? 992 : 23;
    if (buf)
        snprintf(buf, 128, "[%d]%s", Id, FormatParms(p).c_str());
    return buf;
}

char* TELNETDEVICE::QueryStatus(char* buf)
{
    if (buf)
        snprintf(buf, 256, "%s%s", Tls() ? "Telnet/SSL" : "Telnet", Link.Online() ? "" : " (offline)");
    return buf;
}

TERMINAL TELNETDEVICE::Terminal()
{
    TERMINAL t;
    PARMS const p = ParseParms(Options());
    EMULATIONAPI* emu = Public ? Public->Emulation : nullptr;
    bool const running = emu && emu->UpAndRunning();
    if (!p.TerminalType.empty()) {
        t.Names = {p.TerminalType};
    } else if (running) {
        // The emulation's names in turn; it repeats its last one (and
        // answers 0) past the end of its list.
        t.Names.clear();
        for (int n = 0; n < 8; ++n) {
            char name[256] = {};
            int const more = emu->QueryUnixName(n, name);
            name[sizeof name - 1] = '\0';
            if (!name[0] || (!t.Names.empty() && t.Names.back() == name))
                break;
            t.Names.push_back(name);
            if (!more)
                break;
        }
    }
    WindowSize(&t.Columns, &t.Rows);
    if (running) {
        t.Records = emu->WantStreamMarkers() != 0;
        char env[2048] = {};
        if (emu->QueryEnvironment(env, sizeof env, nullptr) > 0) {
            env[sizeof env - 1] = '\0';
            t.Environment = ParseEnvironment(env);
        }
    }
    LastColumns = t.Columns;
    LastRows = t.Rows;
    return t;
}

void TELNETDEVICE::Track()
{
    Link.SetTerminal(Terminal());
}

signed char TELNETDEVICE::Open(char const* parm)
{
    Close();
    if (parm && *parm)
        SetParm(parm);
    return Link.Open() ? 0 : 1;
}

void TELNETDEVICE::Close()
{
    Link.Close();
}

int TELNETDEVICE::NumAvail()
{
    return Link.NumAvail();
}

int TELNETDEVICE::QueryOnline()
{
    return Link.Online() ? 1 : 0;
}

void TELNETDEVICE::StatusText(char* buf)
{
    if (buf)
        snprintf(buf, 4096, "%s: %s\r\n%s", Tls() ? "TELNET/SSL" : "TELNET", Parm.c_str(), Link.Status().c_str());
}

int TELNETDEVICE::SendBreak()
{
    return Link.SendBreak() ? 1 : 0;
}

int TELNETDEVICE::Write(char const* data, long len)
{
    if (!data || len <= 0)
        return 0;
    // A size the screen took without telling the device (the emulation's
    // own switch) is told with the next key.
    if (TARVOAPP::IsMainThread()) {
        int cols, rows;
        WindowSize(&cols, &rows);
        if (cols != LastColumns || rows != LastRows)
            Track();
    }
    return Link.Write(data, static_cast<size_t>(len)) ? 1 : 0;
}

signed char TELNETDEVICE::Read(char* buf, unsigned long* len)
{
    return Link.Read(buf, len);
}

signed char TELNETDEVICE::Connect(char const* target)
{
    PARMS const p = ParseParms(Options());
    LINKOPTIONS options;
    options.Tls = Tls();
    options.Port = p.Port > 0 ? p.Port : Tls() ? 992 : 23;
    QORPUBLIC* pub = Public;
    options.AskCertificate = [pub](CERTQUESTION const& q) { return AskUser(pub, q); };
    Track();
    return Link.Connect(target, options) ? 1 : 0;
}

signed char TELNETDEVICE::Disconnect()
{
    Link.Hangup();
    return 1;
}

signed char TELNETDEVICE::AbortConnect()
{
    Link.Hangup();
    return 1;
}

signed char TELNETDEVICE::TrackChanges()
{
    Track();
    return 1;
}

int TELNETDEVICE::HandleDeviceCommand(char const* cmd, char* result, int max, void*)
{
    if (!cmd || strncmp(cmd, "CALLINFO", 8) != 0)
        return 0;
    if (result && max > 0)
        snprintf(result, static_cast<size_t>(max), "OK");
    return 1;
}

int TELNETDEVICE::AskUser(QORPUBLIC* pub, CERTQUESTION const& q)
{
    if (!pub || (pub->Unattended && *pub->Unattended)) {
        LOGIT("TELNETDEVICE::AskUser no user to ask: refused\n");
        return CERT_REFUSE;
    }
    char where[300];
    snprintf(where, sizeof where, Text(pub, T_PORT), q.Host.c_str(), q.Port);
    std::string text = "?" + Format(Text(pub, T_CERTIFICATE), where, q.Check.Reason) + "\n\n";
    text += std::string(Text(pub, T_SUBJECT)) + ": " + q.Check.Subject + "\n";
    text += std::string(Text(pub, T_ISSUER)) + ": " + q.Check.Issuer + "\n";
    text += "SHA-256: " + q.Check.Fingerprint + "\n\n";
    text += Text(pub, T_CONNECTANYWAY);
    if (pub->WarningMsg(text.c_str()) != 1)
        return CERT_REFUSE;
    std::string const trust = "?" + Format(Text(pub, T_TRUST), where);
    return pub->WarningMsg(trust.c_str()) == 1 ? CERT_ALWAYS : CERT_ONCE;
}

} // namespace sarvoth
