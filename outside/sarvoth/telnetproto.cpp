#include "outside/sarvoth/telnetproto.h"

#include <algorithm>
#include <cstring>

namespace sarvoth {

using namespace telnet;

namespace {

// Subnegotiation codes (RFC 1091, RFC 1572).
enum : uint8_t { IS = 0, SEND = 1 };
enum : uint8_t { ENV_VAR = 0, ENV_VALUE = 1, ENV_ESC = 2, ENV_USERVAR = 3 };

// Names of terminal types: at most 40 characters (RFC 1010) of printable
// ASCII; environment texts at most this long, this many of them.
constexpr size_t kMaxName = 40;
constexpr size_t kMaxEnvText = 256;
constexpr size_t kMaxEnvCount = 64;

void Send(std::string& out, uint8_t verb, uint8_t option)
{
    out += static_cast<char>(IAC);
    out += static_cast<char>(verb);
    out += static_cast<char>(option);
}

void SubBegin(std::string& out, uint8_t option)
{
    out += static_cast<char>(IAC);
    out += static_cast<char>(SB);
    out += static_cast<char>(option);
}

void SubEnd(std::string& out)
{
    out += static_cast<char>(IAC);
    out += static_cast<char>(SE);
}

// A byte inside a subnegotiation: IAC doubled.
void SubByte(std::string& out, uint8_t c)
{
    out += static_cast<char>(c);
    if (c == IAC)
        out += static_cast<char>(IAC);
}

// A name or value of NEW-ENVIRON: its code bytes escaped (RFC 1572).
void EnvText(std::string& out, std::string const& text)
{
    for (char ch : text) {
        uint8_t const c = static_cast<uint8_t>(ch);
        if (c <= ENV_USERVAR)
            out += static_cast<char>(ENV_ESC);
        SubByte(out, c);
    }
}

// The variables RFC 1572 names; every other one is a user variable.
bool WellKnown(std::string const& name)
{
    for (char const* known : {"USER", "JOB", "ACCT", "PRINTER", "SYSTEMTYPE", "DISPLAY"}) {
        if (name == known)
            return true;
    }
    return false;
}

char const* OptionName(int option)
{
    switch (option) {
    case OPT_BINARY:
        return "BINARY";
    case OPT_ECHO:
        return "ECHO";
    case OPT_SGA:
        return "SGA";
    case OPT_TTYPE:
        return "TTYPE";
    case OPT_EOR:
        return "EOR";
    case OPT_NAWS:
        return "NAWS";
    case OPT_NEWENVIRON:
        return "NEW-ENVIRON";
    default:
        return nullptr;
    }
}

TERMINAL Tidy(TERMINAL t)
{
    std::vector<std::string> names;
    for (std::string const& n : t.Names) {
        std::string clean;
        for (char c : n) {
            if (c > 0x20 && c < 0x7F && clean.size() < kMaxName)
                clean += c;
        }
        if (!clean.empty() && names.size() < 16)
            names.push_back(clean);
    }
    if (names.empty())
        names.push_back("UNKNOWN");
    t.Names = std::move(names);
    t.Columns = std::clamp(t.Columns, 0, 65535);
    t.Rows = std::clamp(t.Rows, 0, 65535);
    if (t.Environment.size() > kMaxEnvCount)
        t.Environment.resize(kMaxEnvCount);
    for (auto& [name, value] : t.Environment) {
        name.resize(std::min(name.size(), kMaxEnvText));
        value.resize(std::min(value.size(), kMaxEnvText));
    }
    return t;
}

} // namespace

TELNETPROTOCOL::TELNETPROTOCOL(TERMINAL const& terminal) : Term(Tidy(terminal))
{
    Sub.reserve(kMaxSub);
}

void TELNETPROTOCOL::SetTerminal(TERMINAL const& terminal, std::string& replies)
{
    Term = Tidy(terminal);
    WindowSize(replies);
}

bool TELNETPROTOCOL::WantUs(uint8_t option) const
{
    switch (option) {
    case OPT_BINARY:
    case OPT_TTYPE:
    case OPT_NAWS:
        return true;
    case OPT_EOR:
        return Term.Records;
    case OPT_NEWENVIRON:
        return !Term.Environment.empty();
    default:
        return false;
    }
}

bool TELNETPROTOCOL::WantHim(uint8_t option) const
{
    switch (option) {
    case OPT_BINARY:
    case OPT_ECHO:
    case OPT_SGA:
        return true;
    case OPT_EOR:
        return Term.Records;
    default:
        return false;
    }
}

TELNETPROTOCOL::RECEIVED TELNETPROTOCOL::Receive(uint8_t const* in, size_t n, std::string& data,
                                                 std::string& replies)
{
    size_t i = 0;
    while (i < n) {
        uint8_t const c = in[i];
        switch (State) {
        case STATE::DATA: {
            // A run of plain bytes goes at once. Outside BINARY a CR is
            // looked at, for the NUL that may follow it.
            size_t j = i;
            if (Theirs(OPT_BINARY)) {
                void const* iac = memchr(in + i, IAC, n - i);
                j = iac ? static_cast<size_t>(static_cast<uint8_t const*>(iac) - in) : n;
            } else {
                while (j < n && in[j] != IAC && in[j] != '\r')
                    ++j;
            }
            if (j > i) {
                data.append(reinterpret_cast<char const*>(in + i), j - i);
                DataSinceRecord = true;
                i = j;
                break;
            }
            ++i;
            if (c == IAC) {
                State = STATE::IAC;
            } else {
                data += '\r';
                DataSinceRecord = true;
                State = STATE::CR;
            }
            break;
        }
        case STATE::CR:
            // CR NUL is a CR alone; anything else is data of its own.
            State = STATE::DATA;
            if (c == 0)
                ++i;
            break;
        case STATE::IAC:
            ++i;
            State = STATE::DATA;
            if (c == IAC) {
                data += static_cast<char>(IAC);
                DataSinceRecord = true;
            } else if (!Command(c, replies)) {
                return {i, true};
            }
            break;
        case STATE::WILL:
        case STATE::WONT:
        case STATE::DO:
        case STATE::DONT: {
            ++i;
            STATE const verb = State;
            State = STATE::DATA;
            Negotiate(verb, c, replies);
            break;
        }
        case STATE::SB:
            ++i;
            SubOption = c;
            Sub.clear();
            SubTooLong = false;
            State = STATE::SBDATA;
            break;
        case STATE::SBDATA: {
            void const* iac = memchr(in + i, IAC, n - i);
            size_t const j = iac ? static_cast<size_t>(static_cast<uint8_t const*>(iac) - in) : n;
            size_t const room = kMaxSub - Sub.size();
            Sub.append(reinterpret_cast<char const*>(in + i), std::min(room, j - i));
            SubTooLong = SubTooLong || j - i > room;
            i = j;
            if (i < n) {
                ++i;
                State = STATE::SBIAC;
            }
            break;
        }
        case STATE::SBIAC:
            if (c == IAC) {
                ++i;
                if (Sub.size() < kMaxSub)
                    Sub += static_cast<char>(IAC);
                else
                    SubTooLong = true;
                State = STATE::SBDATA;
            } else if (c == SE) {
                ++i;
                State = STATE::DATA;
                if (!SubTooLong)
                    Subnegotiation(replies);
                Sub.clear();
            } else {
                // A subnegotiation never ended: it is dropped, and the byte
                // is the command that follows the IAC.
                Sub.clear();
                State = STATE::IAC;
            }
            break;
        }
    }
    return {i, false};
}

bool TELNETPROTOCOL::Command(uint8_t c, std::string& replies)
{
    if (!Spoken)
        FirstCommand(replies);
    switch (c) {
    case WILL:
        State = STATE::WILL;
        break;
    case WONT:
        State = STATE::WONT;
        break;
    case DO:
        State = STATE::DO;
        break;
    case DONT:
        State = STATE::DONT;
        break;
    case SB:
        State = STATE::SB;
        break;
    case EOR:
        // Only a record that holds something is ended: an empty one carries
        // nothing, and each end costs the host a marker in its input.
        if (Theirs(OPT_EOR) && Term.Records && DataSinceRecord) {
            DataSinceRecord = false;
            return false;
        }
        break;
    default:
        // NOP, DM, BRK, IP, AO, AYT, EC, EL, GA, an SE outside a
        // subnegotiation and unknown commands.
        break;
    }
    return true;
}

void TELNETPROTOCOL::FirstCommand(std::string& replies)
{
    Spoken = true;
    AskHim(OPT_BINARY, replies);
    AskUs(OPT_BINARY, replies);
    if (Term.Records) {
        AskHim(OPT_EOR, replies);
        AskUs(OPT_EOR, replies);
    }
}

// The tables of RFC 1143, section 7, for the peer's side (WILL, WONT: it
// asks to enable or says it disabled) and ours (DO, DONT).
void TELNETPROTOCOL::Negotiate(STATE verb, uint8_t option, std::string& replies)
{
    OPTION& o = Options[option];
    bool const peer = verb == STATE::WILL || verb == STATE::WONT;
    bool const on = verb == STATE::WILL || verb == STATE::DO;
    Q& q = peer ? o.Him : o.Us;
    bool& opposite = peer ? o.HimOpposite : o.UsOpposite;
    uint8_t const yes = peer ? DO : WILL;
    uint8_t const no = peer ? DONT : WONT;
    if (on) {
        switch (q) {
        case Q::NO:
            if (peer ? WantHim(option) : WantUs(option)) {
                q = Q::YES;
                Send(replies, yes, option);
                Enabled(option, !peer, replies);
            } else {
                Send(replies, no, option);
            }
            break;
        case Q::YES:
            break;
        case Q::WANTNO:
            // Our "no" was answered "yes": the peer errs.
            q = opposite ? Q::YES : Q::NO;
            opposite = false;
            if (q == Q::YES)
                Enabled(option, !peer, replies);
            break;
        case Q::WANTYES:
            if (opposite) {
                q = Q::WANTNO;
                opposite = false;
                Send(replies, no, option);
            } else {
                q = Q::YES;
                Enabled(option, !peer, replies);
            }
            break;
        }
        return;
    }
    switch (q) {
    case Q::NO:
        break;
    case Q::YES:
        q = Q::NO;
        Send(replies, no, option);
        break;
    case Q::WANTNO:
        if (opposite) {
            q = Q::WANTYES;
            opposite = false;
            Send(replies, yes, option);
        } else {
            q = Q::NO;
        }
        break;
    case Q::WANTYES:
        q = Q::NO;
        opposite = false;
        break;
    }
}

void TELNETPROTOCOL::Ask(Q& q, bool& opposite, uint8_t verb, uint8_t option, std::string& replies)
{
    switch (q) {
    case Q::NO:
        q = Q::WANTYES;
        Send(replies, verb, option);
        break;
    case Q::YES:
        break;
    case Q::WANTNO:
        opposite = true;
        break;
    case Q::WANTYES:
        opposite = false;
        break;
    }
}

void TELNETPROTOCOL::AskHim(uint8_t option, std::string& replies)
{
    Ask(Options[option].Him, Options[option].HimOpposite, DO, option, replies);
}

void TELNETPROTOCOL::AskUs(uint8_t option, std::string& replies)
{
    Ask(Options[option].Us, Options[option].UsOpposite, WILL, option, replies);
}

void TELNETPROTOCOL::Enabled(uint8_t option, bool us, std::string& replies)
{
    if (!us)
        return;
    if (option == OPT_NAWS) {
        SentColumns = SentRows = -1;
        WindowSize(replies);
    } else if (option == OPT_TTYPE) {
        NamesSent = 0;
    }
}

void TELNETPROTOCOL::WindowSize(std::string& replies)
{
    if (!Ours(OPT_NAWS) || (Term.Columns == SentColumns && Term.Rows == SentRows))
        return;
    SentColumns = Term.Columns;
    SentRows = Term.Rows;
    SubBegin(replies, OPT_NAWS);
    for (int v : {Term.Columns, Term.Rows}) {
        SubByte(replies, static_cast<uint8_t>(v >> 8));
        SubByte(replies, static_cast<uint8_t>(v & 0xFF));
    }
    SubEnd(replies);
}

void TELNETPROTOCOL::Subnegotiation(std::string& replies)
{
    if (Sub.empty() || static_cast<uint8_t>(Sub[0]) != SEND)
        return;
    if (SubOption == OPT_TTYPE && Ours(OPT_TTYPE))
        TerminalType(replies);
    else if (SubOption == OPT_NEWENVIRON && Ours(OPT_NEWENVIRON))
        Environment(replies);
}

void TELNETPROTOCOL::TerminalType(std::string& replies)
{
    // Each SEND gets the next name; past the end the last one again, which
    // tells the peer that the list is through (RFC 1091).
    size_t const last = Term.Names.size() - 1;
    std::string const& name = Term.Names[std::min(NamesSent, last)];
    NamesSent = std::min(NamesSent + 1, last + 1);
    SubBegin(replies, OPT_TTYPE);
    replies += static_cast<char>(IS);
    replies += name;
    SubEnd(replies);
}

void TELNETPROTOCOL::Environment(std::string& replies)
{
    // The SEND list: VAR or USERVAR, each with a name or none (all of its
    // kind); no list at all asks for everything.
    struct ASKED {
        uint8_t Type;
        std::string Name;
    };
    std::vector<ASKED> asked;
    for (size_t i = 1; i < Sub.size();) {
        uint8_t const type = static_cast<uint8_t>(Sub[i++]);
        if (type != ENV_VAR && type != ENV_USERVAR)
            continue;
        std::string name;
        while (i < Sub.size() && Sub[i] != ENV_VAR && Sub[i] != ENV_USERVAR) {
            if (Sub[i] == ENV_ESC && i + 1 < Sub.size())
                ++i;
            name += Sub[i++];
        }
        asked.push_back({type, name});
    }
    SubBegin(replies, OPT_NEWENVIRON);
    replies += static_cast<char>(IS);
    auto give = [&](std::pair<std::string, std::string> const& v) {
        replies += static_cast<char>(WellKnown(v.first) ? ENV_VAR : ENV_USERVAR);
        EnvText(replies, v.first);
        replies += static_cast<char>(ENV_VALUE);
        EnvText(replies, v.second);
    };
    if (asked.empty()) {
        for (auto const& v : Term.Environment)
            give(v);
    }
    for (ASKED const& a : asked) {
        if (a.Name.empty()) {
            for (auto const& v : Term.Environment) {
                if ((WellKnown(v.first) ? ENV_VAR : ENV_USERVAR) == a.Type)
                    give(v);
            }
            continue;
        }
        auto found = std::find_if(Term.Environment.begin(), Term.Environment.end(),
                                  [&](auto const& v) { return v.first == a.Name; });
        if (found != Term.Environment.end()) {
            give(*found);
        } else {
            // A variable the terminal does not have: named, without a value.
            replies += static_cast<char>(a.Type);
            EnvText(replies, a.Name);
        }
    }
    SubEnd(replies);
}

void TELNETPROTOCOL::Encode(char const* data, size_t n, std::string& wire) const
{
    bool const binary = Ours(OPT_BINARY);
    wire.reserve(wire.size() + n + n / 16 + 4);
    size_t i = 0;
    while (i < n) {
        size_t j = i;
        while (j < n && static_cast<uint8_t>(data[j]) != IAC && (binary || data[j] != '\r'))
            ++j;
        wire.append(data + i, j - i);
        if (j == n)
            break;
        if (static_cast<uint8_t>(data[j]) == IAC) {
            wire += static_cast<char>(IAC);
            wire += static_cast<char>(IAC);
        } else {
            // A CR goes as CR LF or CR NUL, never alone (RFC 854).
            wire += '\r';
            if (j + 1 >= n || data[j + 1] != '\n')
                wire += '\0';
        }
        i = j + 1;
    }
    if (Ours(OPT_EOR) && Term.Records) {
        wire += static_cast<char>(IAC);
        wire += static_cast<char>(EOR);
    }
}

std::string TELNETPROTOCOL::Describe() const
{
    std::string out;
    for (int option = 0; option < 256; ++option) {
        char const* name = OptionName(option);
        bool const us = Ours(static_cast<uint8_t>(option));
        bool const them = Theirs(static_cast<uint8_t>(option));
        if (!name || (!us && !them))
            continue;
        if (!out.empty())
            out += ' ';
        out += name;
        out += us && them ? "(both)" : us ? "(ours)" : "(peer's)";
    }
    return out.empty() ? "none" : out;
}

} // namespace sarvoth
