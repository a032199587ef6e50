// libFuzzer entry for the VT and ANSI emulations: random byte streams into
// one of the terminals on a screen of random size, in pieces of random
// length, with resizes, keys and mouse events in between. After every
// piece: the screen's cursor is on the screen, every row's end cell is
// intact, the sequence check keeps to its state bits and checks runs as it
// checks characters one by one, and a sequence left open is ended by the
// next one. Parameter lists and strings are bounded
// by the parser (a huge OSC or parameter list is capped and dropped);
// AddressSanitizer catches anything written past them.
#include "outside/corvane/vtdialect.h"
#include "outside/corvane/vtemulation.h"
#include "program/screen/scrollback.h"
#include "program/screen/vio.h"
#include "program/screen/vioutils.h"
#include "velmot/core/logit.h"
#include "velmot/core/unicode.h"
#include "velmot/core/wstring.h"
#include "velmot/gui/wincontrols.h"
#include "velmot/gui/winkeys.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

bool Question(char const*, char const* question)
{
    // The emulation asks nothing of the screen that it refuses; a broken
    // end cell is a finding.
    Check(std::strstr(question, "lastcell") == nullptr);
    return true;
}

// Host services that answer nothing: what the emulation sends back and
// logs goes nowhere.
class NULLPUBLIC final : public QORPUBLIC {
public:
    int SetLed(int, signed char, int) override { return 0; }
    int SetLedMode(int) override { return 0; }
    void* PrinterOpen(signed char) override { return nullptr; }
    int PrinterWrite(void*, char const*, int) override { return 0; }
    int PrinterClose(void*) override { return 0; }
    int Log(char const*, int) override { return 0; }
    int LogWide(wchar_t const*, int) override { return 0; }
    int WaitForSessionForeground(signed char*) override { return 0; }
    int AddScrollLine(VIOCELL const*, int, signed char) override { return 0; }
    int FeedKeys(wchar_t const* keys, int count, signed char) override
    {
        Check(keys != nullptr && count >= 0 && count < 256);
        return 0;
    }
    int Bell() override { return 0; }
    int AppTrackChanges() override { return 0; }
    STRING GetEnqString(char* buf, int max) override
    {
        if (buf && max > 0)
            buf[0] = 0;
        return STRING();
    }
    int WatchLearn(char, wchar_t) override { return 0; }
    int WatchWait(wchar_t) override { return 0; }
    int Ask(char const*, char const*, char*, int, int, signed char*) override { return 0; }
    int AskUserPass(char const*, char*, char*, int*) override { return 0; }
    int AskPassphrase(char const*, char const*, char const*, char*, int*) override { return 0; }
    STRING AskFilename(char const*, char const*, WINDOW const&) override { return STRING(); }
    STRING AskSaveAsFilename(char const*, char const*, WINDOW const&) override { return STRING(); }
    int EditSysColors(WINDOW&) override { return 0; }
    int StartProgram(char const*, char const*, char const*, int) override { return 0; }
    int WarningMsg(char const*) override { return 0; }
    void DestroyIntroWin() override {}
    int PushFnctSelectFile(void*, CONTROLID, CONTROLPARENT, STRING*) override { return 0; }
    int PushFnctSelectFolder(void*, CONTROLID, CONTROLPARENT, STRING*) override { return 0; }
};

class READER {
public:
    READER(uint8_t const* data, size_t size) : Data(data), Size(size) {}
    bool Empty() const { return At >= Size; }
    uint8_t Byte() { return At < Size ? Data[At++] : 0; }
    // Up to n bytes of the input.
    std::string Take(size_t n)
    {
        n = std::min(n, Size - At);
        std::string out(reinterpret_cast<char const*>(Data + At), n);
        At += n;
        return out;
    }

private:
    uint8_t const* Data;
    size_t Size;
    size_t At = 0;
};

void Invariants(VIO& vio)
{
    int width = 0, height = 0, x = -1, y = -1;
    vio.GetWinSize(&width, &height);
    vio.GetCursorPos(&x, &y);
    Check(x >= 0 && x < width && y >= 0 && y < height);
    uint64_t const end = vioutils::Bits(VIO::ScreenMakeEndCell());
    for (int r = 0; r < height; ++r)
        Check(vio.Rows()[r].Cells && vioutils::Bits(vio.Rows()[r].Cells[width]) == end);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static bool hooked = (SetAssertQuestionHook(&Question), true);
    (void)hooked;
    READER r(data, size);
    SCROLLBACKBUFFER sb;
    VIO vio(nullptr, &sb);
    sb.AttachScreen(&vio);
    sb.MakeScrollback(100, nullptr);
    vio.Init(1 + r.Byte() % 100, 1 + r.Byte() % 40);
    uint8_t const choice = r.Byte();
    bool const utf8 = choice & 1;
    vio.Profile.CodePage = utf8 ? UNICODE_CPUTF8 : 1252;
    vio.SetCodepage(-1);
    int const dialects = vt::CorvaneDialectCount + vt::PindrelDialectCount;
    int const which = (choice >> 1) % dialects;
    vt::DIALECT const& dialect = which < vt::CorvaneDialectCount
                                     ? vt::CorvaneDialects[which]
                                     : vt::PindrelDialects[which - vt::CorvaneDialectCount];
    NULLPUBLIC host;
    host.Vio = &vio;
    SUBSYSINITDATA init;
    init.Public = &host;
    VTEMULATION emulation(init, dialect);
    emulation.Open(choice & 0x80 ? "{c1}" : "");
    int state = 0x5A000000; // the host's own top bits stay its own
    UNICODE_UTF8STATE decoder{};
    while (!r.Empty()) {
        uint8_t const op = r.Byte();
        if (op < 200) {
            std::string const bytes = r.Take(1 + op % 64);
            int runState = state;
            bool answers[64];
            int const n = int(bytes.size());
            for (int i = 0; i < n; ++i) {
                answers[i] = emulation.IsSequence(&state, bytes[size_t(i)]) != 0;
                Check((state & 0xFF000000) == 0x5A000000 && (state & 0x00FFFFF0) == 0);
            }
            // The run check gives the same answers in runs as long as they
            // go, and leaves the same state.
            for (int at = 0; at < n;) {
                int const k = emulation.SequenceRun(&runState, bytes.data() + at, n - at);
                int const len = k < 0 ? -k : k;
                Check(len > 0 && at + len <= n);
                for (int i = at; i < at + len; ++i)
                    Check(answers[i] == (k < 0));
                Check(at + len == n || answers[at + len] != (k < 0));
                at += len;
            }
            Check(runState == state);
            // As the session hands text on: decoded from UTF-8, or bytes.
            if (utf8) {
                WSTRING text;
                UNICODE::GetInstance()->Utf8Decoder(bytes.data(), bytes.size(), text, &decoder);
                emulation.conputs(text.Buf(), text.Length());
            } else {
                std::wstring widened;
                for (char c : bytes)
                    widened.push_back(wchar_t(static_cast<unsigned char>(c)));
                emulation.conputs(widened.c_str(), long(widened.size()));
            }
        } else if (op < 210) {
            vio.SetWinSize(1 + r.Byte() % 100, 1 + r.Byte() % 40);
            emulation.SyncCursorPos();
        } else if (op < 230) {
            KEYBOARDEVENT key{};
            key.Keycode = uint16_t(r.Byte());
            key.Modifiers = uint32_t(r.Byte()) << 8;
            key.Scancode = r.Byte();
            key.Char = key.UniChar = r.Byte();
            emulation.ProcessKey(key);
        } else if (op < 245) {
            emulation.HandleMouseEvent(int(r.Byte()) - 8, int(r.Byte()) - 8, int(r.Byte() % 8) - 1, r.Byte() & 1);
        } else {
            emulation.HandleTerminalEvent(r.Byte() % 4);
        }
        Invariants(vio);
    }
    // Whatever was left open, a new sequence starts afresh.
    emulation.IsSequence(&state, 0x18);
    Check((state & 0x0F) == 0);
    emulation.Close();
    return 0;
}
