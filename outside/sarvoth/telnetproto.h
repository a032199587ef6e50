// TELNETPROTOCOL: the Telnet protocol of one connection, without any I/O.
//
// Receive takes the bytes of the connection in pieces cut anywhere and
// gives the data in them (RFC 854: IAC IAC is one 255; outside BINARY a CR
// NUL is a CR) and the replies the commands call for; Encode makes the
// bytes of a write. Options are negotiated by the Q method of RFC 1143, so
// no request is ever answered twice and no two sides loop:
//   BINARY (RFC 856)       both ways, offered once the peer speaks Telnet
//   ECHO, SGA (857, 858)   from the peer
//   TTYPE (RFC 1091)       each SEND answered with the next terminal name,
//                          the last one repeated
//   NAWS (RFC 1073)        the window size, again whenever it changes
//   EOR (RFC 885)          both ways while the terminal wants records: an
//                          IAC EOR received ends a record, each Encode is
//                          one record ended by IAC EOR
//   NEW-ENVIRON (RFC 1572) while the terminal has variables
// Everything else is refused. A subnegotiation holds at most 4 KiB; a longer
// one is dropped whole. NOP, DM, GA, AYT and the other commands are read
// and ignored.
//
// Not thread-safe: the owner serialises the calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sarvoth {

namespace telnet {
enum : uint8_t {
    SE = 240,
    NOP = 241,
    DM = 242,
    BRK = 243,
    IP = 244,
    AO = 245,
    AYT = 246,
    EC = 247,
    EL = 248,
    GA = 249,
    SB = 250,
    WILL = 251,
    WONT = 252,
    DO = 253,
    DONT = 254,
    IAC = 255,
    EOR = 239,
};
enum : uint8_t {
    OPT_BINARY = 0,
    OPT_ECHO = 1,
    OPT_SGA = 3,
    OPT_TTYPE = 24,
    OPT_EOR = 25,
    OPT_NAWS = 31,
    OPT_NEWENVIRON = 39,
};
} // namespace telnet

// What the protocol tells the peer of the terminal it speaks for.
struct TERMINAL {
    std::vector<std::string> Names{"UNKNOWN"}; // terminal types, in the order offered
    int Columns = 80;
    int Rows = 24;
    bool Records = false; // the terminal wants end-of-record marks
    std::vector<std::pair<std::string, std::string>> Environment;
};

class TELNETPROTOCOL {
public:
    // The longest subnegotiation kept.
    static constexpr size_t kMaxSub = 4096;

    struct RECEIVED {
        size_t Used = 0;          // bytes of the input taken
        bool EndOfRecord = false; // the input was taken up to an IAC EOR that ends a record
    };

    explicit TELNETPROTOCOL(TERMINAL const& terminal = TERMINAL());

    // Takes received bytes: their data is appended to data, the replies to
    // replies. Stops right after an IAC EOR that ends a record (a record
    // holds at least one byte); the rest of the input is for the next call.
    RECEIVED Receive(uint8_t const* in, size_t n, std::string& data, std::string& replies);
    // The bytes that send data: IAC doubled; outside BINARY a CR that no LF
    // follows becomes CR NUL; while records are sent, IAC EOR at the end.
    void Encode(char const* data, size_t n, std::string& wire) const;
    // A new terminal description. A new window size is told at once when
    // the peer asked for it (NAWS), into replies.
    void SetTerminal(TERMINAL const& terminal, std::string& replies);

    // Whether an option is on, for us (WILL) or for the peer (DO).
    bool Ours(uint8_t option) const { return Options[option].Us == Q::YES; }
    bool Theirs(uint8_t option) const { return Options[option].Him == Q::YES; }
    // Whether the peer has sent a command (it speaks Telnet).
    bool PeerSpeaksTelnet() const { return Spoken; }
    // The options on, for a status page ("BINARY(both) ECHO SGA ...").
    std::string Describe() const;

private:
    enum class Q : uint8_t { NO, YES, WANTNO, WANTYES };
    struct OPTION {
        Q Us = Q::NO;
        Q Him = Q::NO;
        bool UsOpposite = false;
        bool HimOpposite = false;
    };
    enum class STATE : uint8_t { DATA, CR, IAC, WILL, WONT, DO, DONT, SB, SBDATA, SBIAC };

    bool WantUs(uint8_t option) const;
    bool WantHim(uint8_t option) const;
    // A command after IAC; false when it ends a record.
    bool Command(uint8_t c, std::string& replies);
    void Negotiate(STATE verb, uint8_t option, std::string& replies);
    // Q method: our wish that the peer enables (DO) or that we enable
    // (WILL) an option.
    void AskHim(uint8_t option, std::string& replies);
    void AskUs(uint8_t option, std::string& replies);
    static void Ask(Q& q, bool& opposite, uint8_t verb, uint8_t option, std::string& replies);
    void Enabled(uint8_t option, bool us, std::string& replies);
    void Subnegotiation(std::string& replies);
    void TerminalType(std::string& replies);
    void Environment(std::string& replies);
    void WindowSize(std::string& replies);
    void FirstCommand(std::string& replies);

    TERMINAL Term;
    OPTION Options[256];
    STATE State = STATE::DATA;
    bool Spoken = false;
    bool DataSinceRecord = false;
    uint8_t SubOption = 0;
    bool SubTooLong = false;
    std::string Sub;
    size_t NamesSent = 0;
    int SentColumns = -1, SentRows = -1;
};

} // namespace sarvoth
