// The key road: characters for the host (typed keys after the key map, the
// emulation's answers, script and button texts, the keep-alive) through the
// keyboard lock, the watch, the conversion to the host's code page or
// UTF-8, learning and the local echo, sent at once or paced by window
// timer 104; and the command texts of function keys, user buttons and
// automatic replies.
//
// No typed key reaches the diagnostic log unless the key category is
// switched on explicitly: what users type includes their passwords.
#include "program/session/session.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/unicode.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace {

// The log category of key bytes (switch "/LOG:0x100000" and a level): a
// debugging aid that shows what is typed, passwords included.
constexpr int LOGCAT_KEYS = 0x100000;
// The longest texts of the command prefixes.
constexpr size_t kRunMax = 2047;
constexpr size_t kShellMax = 1023;
constexpr int kEventFields = 16;

std::string Utf8Of(wchar_t const* text)
{
    std::string out;
    char buf[4];
    for (; *text; ++text)
        out.append(buf, static_cast<size_t>(UNICODE::Utf8Encode(*text, buf)));
    return out;
}

bool HasPrefix(std::string const& text, char const* prefix, std::string* rest)
{
    size_t n = strlen(prefix);
    if (text.size() < n || strncasecmp(text.c_str(), prefix, n) != 0)
        return false;
    *rest = text.substr(n);
    return true;
}

} // namespace

int SESSION::FeedKeys(wchar_t const* keys, int count, signed char raw)
{
    if (!keys)
        return 0;
    if (count < 0)
        count = static_cast<int>(wcslen(keys));
    if (count == 0)
        return 0;
    // Plug-ins and script threads feed keys from their own threads too: the
    // keys travel to the main thread as event 8802.
    if (!TARVOAPP::IsMainThread())
        return PostKeys(keys, count, false);
    return ProcessKeys(keys, count, raw != 0);
}

int SESSION::FeedKey(wchar_t key, bool raw)
{
    return FeedKeys(&key, 1, raw ? 1 : 0);
}

int SESSION::ProcessKeys(wchar_t const* keys, int count, bool raw)
{
    if (!keys || count <= 0)
        return 0;
    Screen.ClearMarkArea(1);
    if (KeyboardLocked) {
        Beep(4000, 50);
        return 0;
    }
    SESSIONPROFILEDATA const& p = Prof.data;
    bool const watch = ReceiveTriggersActive();
    bool const learning = LearningActive();
    bool const split = SplitChatActive();
    std::string bytes;
    std::string piece;
    for (int i = 0; i < count; ++i) {
        wchar_t key = keys[i];
        if (watch && WatchCheckKeyInput(key))
            continue;
        ConvertKeyToCommOutput(key, piece, raw);
        bytes += piece;
        if (learning)
            WatchLearn('O', static_cast<wchar_t>(key & 0xFF));
        if (p.Echo)
            EchoKey(key);
        if (split) {
            SplitChatPuts(&key, 1, false);
            char const* opts = p.ActiveEmulation >= 0 && p.ActiveEmulation < 32 ? p.EmulationOpts[p.ActiveEmulation] : "";
            if (key == 8 && strstr(opts, "{dest-bs}"))
                SplitChatPuts(L" \b", 2, false);
        }
    }
    Screen.SetCursorBlinkSkip();
    if (!bytes.empty())
        SendKeyData(bytes.data(), static_cast<int>(bytes.size()));
    return 0;
}

void SESSION::EchoKey(wchar_t key)
{
    SESSIONPROFILEDATA const& p = Prof.data;
    if (p.DumpMode) {
        // The dump shows the echoed byte instead of the screen.
        std::string one;
        ConvertKeyToCommOutput(key, one, false);
        HexDump(one.data(), static_cast<int>(one.size()));
        return;
    }
    if (!EmuLayer.UpAndRunning())
        return;
    EmuLayer.conputws(&key, 1);
    char const* opts = p.ActiveEmulation >= 0 && p.ActiveEmulation < 32 ? p.EmulationOpts[p.ActiveEmulation] : "";
    if (key == 8 && strstr(opts, "{dest-bs}"))
        EmuLayer.conputs(" \b", 2);
    if (key == 13 && !p.EchoCrOnly)
        EmuLayer.conputws(L"\n", 1);
}

void SESSION::ConvertKeyToCommOutput(wchar_t key, std::string& out, bool raw)
{
    out.clear();
    if (raw) {
        out += static_cast<char>(key & 0xFF);
    } else if (key >= 0x80) {
        if (Prof.data.CodePage == 1000 || EmuLayer.SendUtf8Keys()) {
            char buf[4];
            out.append(buf, static_cast<size_t>(UNICODE::Utf8Encode(key, buf)));
        } else {
            out += UNICODE::GetInstance()->ToForcedCodepageChar(key, Prof.data.CodePage);
        }
    } else {
        out += static_cast<char>(key);
    }
    if (LOGIF(LOGCAT_KEYS | 9, nullptr) && !COMM::InSecretScope()) {
        char shown[16] = {};
        for (size_t i = 0; i < std::min<size_t>(4, out.size()); ++i)
            snprintf(shown + 3 * i, 4, "%02X ", static_cast<unsigned char>(out[i]));
        LOGIF(LOGCAT_KEYS | 9, "APP::ConvertKeyToCommOutput %04X -> %s(%d) [key debug]\n", static_cast<unsigned>(key),
              shown, static_cast<int>(out.size()));
    }
}

void SESSION::SendKeyData(char const* data, int length)
{
    LOGIT("APP::SendKeyData bout length= %d\n", length);
    if (data && length <= 7 && KeyQueue.empty()) {
        LOGIT("APP::SendKeyData bout write in one block\n");
        if (length > 0)
            CommLayer.WriteData(data, length);
        return;
    }
    SendingKeys = true;
    if (data && length > 0) {
        KeyQueue.append(data, static_cast<size_t>(length));
        // Bytes of a stored secret stay marked while they wait.
        KeySecret.append(static_cast<size_t>(length), COMM::InSecretScope() ? '1' : '0');
    }
    // While a paced text waits for its next piece, new bytes only join the
    // queue: the timer sends on at the text's own pace.
    if (data && SendTimerPending) {
        SendingKeys = false;
        return;
    }
    KeyPiece();
}

void SESSION::WriteQueued(size_t from, size_t n)
{
    // Runs of equal marks go out together; a secret's run in its scope.
    size_t const end = std::min(from + n, KeyQueue.size());
    while (from < end) {
        char const mark = from < KeySecret.size() ? KeySecret[from] : '0';
        size_t to = from + 1;
        while (to < end && (to < KeySecret.size() ? KeySecret[to] : '0') == mark)
            ++to;
        if (mark == '1') {
            COMM::SECRETSCOPE secret;
            CommLayer.WriteData(KeyQueue.data() + from, static_cast<long>(to - from));
        } else {
            CommLayer.WriteData(KeyQueue.data() + from, static_cast<long>(to - from));
        }
        from = to;
    }
}

void SESSION::KeyPiece()
{
    // The next line: up to and including the first CR, or the first LF
    // that does not follow a CR, or the whole queue.
    size_t line = KeyQueue.size();
    for (size_t i = 0; i < KeyQueue.size(); ++i) {
        if (KeyQueue[i] == '\r' || (KeyQueue[i] == '\n' && (i == 0 || KeyQueue[i - 1] != '\r'))) {
            line = i + 1;
            break;
        }
    }
    int const d = Prof.data.AsciiDelay;
    int delay = 0;
    if (d <= 0) {
        LOGIT("APP::SendKeyData bline block write length= %d\n", static_cast<int>(line));
        WriteQueued(0, line);
        KeyQueue.erase(0, line);
        KeySecret.erase(0, line);
        delay = 5;
    } else {
        LOGIT("APP::SendKeyData bline bytewise write length= %d\n", static_cast<int>(line));
        size_t n = 1;
        if (d < 50 && 50 / d > 0)
            n = std::min(line, static_cast<size_t>(50 / d));
        size_t sent = 0;
        while (sent < n && !EscapeWhileSending) {
            WriteQueued(sent, 1);
            ++sent;
        }
        char const last = sent ? KeyQueue[sent - 1] : 0;
        KeyQueue.erase(0, sent);
        KeySecret.erase(0, sent);
        delay = last == '\r' ? Prof.data.AsciiDelay2 : static_cast<int>(sent) * d;
    }
    SendTimerPending = false;
    if (EscapeWhileSending) {
        KeyQueue.clear();
        KeySecret.clear();
    } else if (!KeyQueue.empty()) {
        SendTimerPending = true;
        StartWindowTimer(TIMER_SENDKEYS, std::max(delay, 1));
    }
    SendingKeys = false;
    EscapeWhileSending = false;
}

int SESSION::DoString(char const* text)
{
    if (!text)
        return 0;
    WSTRING wide;
    wide.FromUtf8(text);
    return DoStringWide(wide.Buf());
}

int SESSION::DoStringWide(wchar_t const* text)
{
    if (!text || !*text)
        return 0;
    std::string const s = Utf8Of(text);
    std::string rest;
    if (HasPrefix(s, "^FKEY=", &rest))
        return ProcessEvent(8861, atoi(rest.c_str()) - 1, nullptr);
    if (HasPrefix(s, "^MENU=", &rest)) {
        size_t colon = rest.find(':');
        std::string name = rest.substr(0, colon);
        if (name.empty())
            return 0;
        int id = Host.MenuIdFromName(name.c_str());
        if (id == 0)
            return 0;
        if (id == 8424 || id == 8899) {
            Host.PostEvent(id, 0, nullptr);
        } else {
            std::string after = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
            Host.ProcessEvent(id, 0, colon == std::string::npos ? nullptr : after.c_str());
        }
        return 1;
    }
    if (HasPrefix(s, "^EVENT=", &rest)) {
        // At most 16 non-empty fields separated by "|": event, argument,
        // text.
        std::vector<std::string> fields;
        size_t pos = 0;
        while (pos <= rest.size() && static_cast<int>(fields.size()) < kEventFields - 1) {
            size_t bar = rest.find('|', pos);
            std::string f = rest.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
            if (!f.empty())
                fields.push_back(f);
            if (bar == std::string::npos)
                break;
            pos = bar + 1;
        }
        if (fields.empty())
            return 1;
        Host.ProcessEvent(atoi(fields[0].c_str()), fields.size() > 1 ? atoi(fields[1].c_str()) : 0,
                          fields.size() > 2 ? fields[2].c_str() : nullptr);
        return 1;
    }
    if (HasPrefix(s, "^RUN=", &rest)) {
        if (rest.empty())
            return 0;
        if (rest.size() > kRunMax)
            rest.resize(kRunMax);
        PostEvent(8125, 0, rest.c_str());
        return 1;
    }
    if (HasPrefix(s, "^SHELL=", &rest)) {
        // The main window runs the shell with the arguments "-c" and the
        // text in quotes. A quote inside the text would end the argument
        // early and let the rest become arguments of their own, and a text
        // cut to the room would lose its end: both are refused.
        std::string args = "-c \"" + rest + "\"";
        if (rest.find('"') != std::string::npos || args.size() > kShellMax) {
            LOGIT("SESSION::DoStringWide ^SHELL= refused: the command cannot be passed as one argument\n");
            return 0;
        }
        Host.ProcessEvent(8215, 0, args.c_str());
        return 1;
    }
    if (HasPrefix(s, "^EXEC=", &rest)) {
        if (rest.find(".app") != std::string::npos) {
            Host.OpenDocument(rest.c_str());
            return 1;
        }
        // The program and its arguments, split as a command line is (a
        // quoted part stays one argument), started without a shell.
        std::vector<char> buffer(rest.begin(), rest.end());
        buffer.push_back('\0');
        char* argv[65] = {};
        int n = TARVOAPP::MakeArgcArgv(buffer.data(), nullptr, argv, 64);
        std::vector<std::string> args(argv, argv + n);
        if (!args.empty())
            Host.StartProgram(args);
        return 1;
    }
    if (HasPrefix(s, "^CONNECT=", &rest)) {
        DialConnectString(rest.c_str());
        return 1;
    }
    if (HasPrefix(s, "^CALL=", &rest)) {
        if (rest.empty())
            return 0;
        DialByName(rest.c_str());
        return 1;
    }
    if (HasPrefix(s, "^KEY=", &rest)) {
        if (rest.empty())
            return 0;
        EmuLayer.FeedSymbolicKey(rest.c_str());
        return 1;
    }
    EmuLayer.FeedKeyString(text, static_cast<int>(wcslen(text)), 1);
    return 0;
}

void SESSION::Disconnect()
{
    LOGIT("SESSION::Disconnect\n");
    CommLayer.Disconnect();
}

int SESSION::DialConnectString(char const* text)
{
    return Placeholder(8381, 0, text);
}

int SESSION::DialByReconnect()
{
    if (!CanReconnect())
        return 0;
    int const dev = Prof.data.ActiveDevice;
    LOGIT("SESSION::DialByReconnect opens device %d again\n", dev);
    CommLayer.OpenDevice(dev, Prof.data.DeviceOpts[dev]);
    if (!CommLayer.Device())
        return 0;
    ProcessCarrier(CommLayer.QueryOnline(), 0);
    return 1;
}

bool SESSION::CanReconnect()
{
    int const dev = Prof.data.ActiveDevice;
    int const online = CommLayer.Device() ? CommLayer.QueryOnline() : 0;
    return dev == kDeviceLocalShell && online == 0 && !IsTransferActive();
}

int SESSION::DialByName(char const* name)
{
    LOGIT("SESSION::DialByName: not available in this build\n");
    (void)name;
    return 0;
}
