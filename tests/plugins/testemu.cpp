// A test emulation bundle with the type word's entry points emu_Intro and
// emu_Initialize, so it can be laid out under any module file name. It
// offers sub-modules 1 "Test Emulation", 11 "IBM 3270" and 17 "IBM 5250",
// records every call into a log and is steered by custom events:
//   "LOG"                 answer: the calls since the last "LOG", one a line
//   "FLAGS <n>"           GetFlags answers n & mask
//   "SETWINSIZE <0|1>"    what SetWinSize answers (0: the host resizes)
//   "ADJUST <cols> <rows>" AdjustScreenSize proposes this size
//   "TAKEKEYS <0|1>"      whether FeedKeyString takes its text
//   "PROCESSKEY <0|1>"    whether ProcessKey takes a key (at first it does)
//   "TAKEMOUSE <0|1>"     whether HandleMouseEvent takes the mouse
//   "FEEDBACK <text>"     FeedKeys(text) back into the host at once
//   "RECEIVED"            answer: every character conputs got since the last
//                         "RECEIVED", as UTF-8 (stream markers included)
//   "ENVIRON <a=1|b=2>"   what QueryEnvironment gives ("a=1\nb=2\n")
// IsSequence treats ESC and the character after it as a sequence, keeping
// 1 in its state bits while one is open.
#include "plugins/sdk/qorsubsystem.h"
#include "plugins/sdk/subsysapi.h"
#include "velmot/gui/winkeys.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Narrow(wchar_t const* text, long len)
{
    std::string out;
    for (long i = 0; i < len; ++i)
        out += text[i] < 128 ? static_cast<char>(text[i]) : '?';
    return out;
}

class TESTEMU final : public QOREMULATION {
public:
    TESTEMU(SUBSYSINITDATA const& init, int id) : QOREMULATION(init), Id(id) {}
    ~TESTEMU() override = default;

    int SetParm(char const* parm) override
    {
        Note(std::string("SetParm ") + (parm ? parm : ""));
        return 1;
    }
    char* QueryParm(char* buf, int max) override
    {
        snprintf(buf, static_cast<size_t>(max), "[%d]", Id);
        return buf;
    }
    char* QueryStdParm(char* buf) override
    {
        snprintf(buf, 128, "[%d]", Id);
        return buf;
    }
    char* QueryStatus(char* buf) override
    {
        snprintf(buf, 256, "test %d", Id);
        return buf;
    }
    int Open(char const* parm) override
    {
        Note(std::string("Open ") + (parm ? parm : "<null>"));
        return 0;
    }
    int Close() override
    {
        Note("Close");
        return 0;
    }
    int conputs(wchar_t const* text, long len) override
    {
        Note("conputs " + Narrow(text, len));
        Received.append(text, static_cast<size_t>(len));
        return 0;
    }
    int IsSequence(int* state, char c) override
    {
        if (*state & 1) {
            *state &= ~1;
            return 1;
        }
        if (c == 27) {
            *state |= 1;
            return 1;
        }
        return 0;
    }
    int QueryUnixName(int n, char* dst) override
    {
        snprintf(dst, 32, "test%d-%d", Id, n);
        return 1;
    }
    int ProcessKey(KEYBOARDEVENT const& event) override
    {
        Note("ProcessKey " + std::to_string(event.Keycode) + (event.Flags & 0x100 ? " up" : ""));
        return ProcessKeys;
    }
    unsigned long GetFlags(unsigned long mask) override { return mask & Flags; }
    int AdjustScreenSize(int* cols, int* rows) override
    {
        if (AdjustCols > 0) {
            *cols = AdjustCols;
            *rows = AdjustRows;
            return 1;
        }
        return 0;
    }
    int SetWinSize(int cols, int rows) override
    {
        Note("SetWinSize " + std::to_string(cols) + "x" + std::to_string(rows));
        return SetWinSizeAnswer;
    }
    int FeedSymbolicKey(char const* name) override
    {
        Note(std::string("FeedSymbolicKey ") + name);
        return 1;
    }
    int InfoOut(wchar_t const* text) override
    {
        Note("InfoOut " + Narrow(text, static_cast<long>(wcslen(text))));
        return 0;
    }
    int FeedKeyString(wchar_t const* text, int len) override
    {
        Note("FeedKeyString " + Narrow(text, len));
        return TakeKeys;
    }
    int QueryEnvironment(char* buf, int max, char const*) override
    {
        if (Environment.empty() || !buf || max <= static_cast<int>(Environment.size()))
            return 0;
        snprintf(buf, static_cast<size_t>(max), "%s", Environment.c_str());
        return static_cast<int>(Environment.size());
    }
    int HandleMouseEvent(int col, int row, int button, int up) override
    {
        Note("Mouse " + std::to_string(col) + " " + std::to_string(row) + " " + std::to_string(button) + " " +
             std::to_string(up));
        return TakeMouse;
    }
    int HandleCustomEvent(char const* name, char* answer, int size, void*) override
    {
        std::string n = name ? name : "";
        auto reply = [&](std::string const& text) {
            if (answer && size > 0)
                snprintf(answer, static_cast<size_t>(size), "%s", text.c_str());
            return 1;
        };
        if (n == "LOG") {
            std::string out = Log;
            Log.clear();
            return reply(out);
        }
        if (n == "RECEIVED") {
            std::string out;
            for (wchar_t c : Received) {
                uint32_t u = static_cast<uint32_t>(c);
                if (u < 0x80) {
                    out += static_cast<char>(u);
                } else if (u < 0x800) {
                    out += static_cast<char>(0xC0 | (u >> 6));
                    out += static_cast<char>(0x80 | (u & 0x3F));
                } else if (u < 0x10000) {
                    out += static_cast<char>(0xE0 | (u >> 12));
                    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
                    out += static_cast<char>(0x80 | (u & 0x3F));
                } else {
                    out += static_cast<char>(0xF0 | (u >> 18));
                    out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
                    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
                    out += static_cast<char>(0x80 | (u & 0x3F));
                }
            }
            Received.clear();
            return reply(out);
        }
        if (n.rfind("FLAGS ", 0) == 0) {
            Flags = strtoul(n.c_str() + 6, nullptr, 10);
            return reply("OK");
        }
        if (n.rfind("ENVIRON ", 0) == 0) {
            Environment.clear();
            for (char c : n.substr(8))
                Environment += c == '|' ? '\n' : c;
            Environment += '\n';
            return reply("OK");
        }
        if (n.rfind("SETWINSIZE ", 0) == 0) {
            SetWinSizeAnswer = atoi(n.c_str() + 11);
            return reply("OK");
        }
        if (n.rfind("ADJUST ", 0) == 0) {
            sscanf(n.c_str() + 7, "%d %d", &AdjustCols, &AdjustRows);
            return reply("OK");
        }
        if (n.rfind("TAKEMOUSE ", 0) == 0) {
            TakeMouse = atoi(n.c_str() + 10);
            return reply("OK");
        }
        if (n.rfind("PROCESSKEY ", 0) == 0) {
            ProcessKeys = atoi(n.c_str() + 11);
            return reply("OK");
        }
        if (n.rfind("TAKEKEYS ", 0) == 0) {
            TakeKeys = atoi(n.c_str() + 9);
            return reply("OK");
        }
        if (n.rfind("FEEDBACK ", 0) == 0) {
            std::wstring keys(n.begin() + 9, n.end());
            Public->FeedKeys(keys.c_str(), static_cast<int>(keys.size()), 0);
            return reply("OK");
        }
        Note("Custom " + n);
        return reply("custom " + n);
    }

private:
    void Note(std::string const& line) { Log += line + "\n"; }

    int Id;
    std::string Log;
    std::wstring Received;
    std::string Environment;
    unsigned long Flags = 0;
    int SetWinSizeAnswer = 0;
    int AdjustCols = 0, AdjustRows = 0;
    int TakeKeys = 0;
    int ProcessKeys = 1;
    int TakeMouse = 0;
};

} // namespace

QOR_PLUGIN_ENTRY int emu_Intro(int version, char* names, int* ids)
{
    if (version != SS_INTERFACEVERSION)
        return 0;
    static char const text[] = "Test Emulation\0IBM 3270\0IBM 5250";
    memcpy(names, text, sizeof text);
    ids[0] = 1;
    ids[1] = 11;
    ids[2] = 17;
    return 3;
}

QOR_PLUGIN_ENTRY QORSUBSYSTEM* emu_Initialize(SUBSYSINITDATA const& init, int sub)
{
    static int const ids[] = {1, 11, 17};
    return sub >= 0 && sub < 3 ? new TESTEMU(init, ids[sub]) : nullptr;
}
