// The data trace: the text and binary trace files, the hex dump.
#include "program/session/trace.h"

#include "program/session/session.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/workdir.h"

#include <array>
#include <cstring>

char const* const TRACE::TEXTFILE = "qortrace.txt";
char const* const TRACE::INFILE = "qortrcin.bin";
char const* const TRACE::OUTFILE = "qortrcout.bin";

namespace {

// The form of each byte value in the text trace.
std::array<std::string, 256> const& EscapeTable()
{
    static std::array<std::string, 256> const table = [] {
        std::array<std::string, 256> t;
        for (int b = 0; b < 256; ++b) {
            char buf[16];
            if (b >= 33 && b <= 126 && b != '{' && b != '}' && b != '.') {
                t[b] = std::string(1, static_cast<char>(b));
                continue;
            }
            switch (b) {
            case ' ':
                t[b] = ".";
                continue;
            case '.':
                t[b] = "{dot}";
                continue;
            case 0:
                t[b] = "{nul}";
                continue;
            case 8:
                t[b] = "{bs}";
                continue;
            case 12:
                t[b] = "{ff}";
                continue;
            case 9:
                t[b] = "{tab}";
                continue;
            case 10:
                t[b] = "{lf}";
                continue;
            case 13:
                t[b] = "{cr}";
                continue;
            case 14:
                t[b] = "{so}";
                continue;
            case 15:
                t[b] = "{si}";
                continue;
            case 27:
                t[b] = "{esc}";
                continue;
            default:
                break;
            }
            if (b >= 128 && b <= 254)
                snprintf(buf, sizeof buf, "{%02x/%c}", b, static_cast<char>(b));
            else
                snprintf(buf, sizeof buf, "{%02x}", b);
            t[b] = buf;
        }
        return t;
    }();
    return table;
}

constexpr char kWrap[] = "\n             "; // a line feed and 13 blanks
constexpr size_t kWrapAfter = 50;

} // namespace

// ---------------------------------------------------------------------------
// Text forms

std::string TRACE::Stamp(long long ms)
{
    if (ms < 0)
        ms = 0;
    char buf[48];
    snprintf(buf, sizeof buf, "%05ld.%02ld", static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) / 10));
    return buf;
}

std::string TRACE::BeginLines(long long ms)
{
    return "\n\n" + Stamp(ms) + " ------ begin ------------------------------------------------------------\n\n";
}

std::string TRACE::EndLines(long long ms)
{
    return Stamp(ms) + " ------ end --------------------------------------------------------------\n\n\n";
}

void TRACE::FormatRecord(std::string& out, char direction, char const* data, int len, long long stampMs)
{
    out += Stamp(stampMs);
    out += "  ";
    out += direction == 'I' || direction == 'i' ? "<RECV " : " SEND>";
    out += "   ";
    if (direction == SECRET) {
        // What a stored secret sent is not shown, nor its length.
        out += "{secret}\n\n";
        return;
    }
    auto const& table = EscapeTable();
    size_t count = 0;
    for (int i = 0; i < len; ++i) {
        if (count > kWrapAfter) {
            out += kWrap;
            count = 0;
        }
        std::string const& form = table[static_cast<unsigned char>(data[i])];
        out += form;
        count += form.size();
    }
    out += "\n\n";
}

// ---------------------------------------------------------------------------
// The files

TRACE::TRACE(SESSION& session) : Session(session) {}

TRACE::~TRACE()
{
    Cleanup();
}

void TRACE::Cleanup()
{
    MUTEXLOCK lock(Lock);
    Closed = true;
    TextFile.Close();
    InFile.Close();
    OutFile.Close();
}

std::string TRACE::Folder()
{
    FILENAME folder(WORKDIR::GetCurrent().Buf(), Session.Settings.data.CapturePath);
    return folder.Buf();
}

bool TRACE::IsTracing()
{
    MUTEXLOCK lock(Lock);
    return TextFile.IsOpen() || InFile.IsOpen() || OutFile.IsOpen();
}

void TRACE::Report(std::string const& path, int err)
{
    LOGIT("TRACE: %s: %s\n", path.c_str(), strerror(err));
    STRING text;
    text.Format(OSYS::GetStringFromResource("IDS_LOGWRITEERROR").Buf(), path.c_str(), strerror(err));
    Session.Notify(text.Buf(), 0x60);
}

bool TRACE::OpenFile(LOGFILE& file, char const* name, LOGFILE::MODE mode)
{
    std::string const path = Folder() + "/" + name;
    if (!LOGFILE::MakeFolderOf(path)) {
        Report(path, errno ? errno : ENOTDIR);
        return false;
    }
    if (!file.Open(path, mode)) {
        Report(path, file.Error());
        return false;
    }
    return true;
}

void TRACE::WriteFailed(LOGFILE& file)
{
    std::string const path = file.Path();
    int const err = file.Error();
    file.Close();
    if (&file == &TextFile)
        TextFailed = true;
    else
        BinFailed = true;
    Report(path, err);
}

void TRACE::Trace(char direction, char const* data, int len)
{
    if (!data || len <= 0)
        return;
    MUTEXLOCK lock(Lock);
    if (Closed)
        return;
    if (TextFile.IsOpen())
        AsciiTrace(direction, data, len);
    if (InFile.IsOpen() || OutFile.IsOpen())
        BinaryTrace(direction, data, len);
}

void TRACE::AsciiTrace(char direction, char const* data, int len)
{
    if (len == 0 || !TextFile.IsOpen())
        return;
    std::string record;
    record.reserve(static_cast<size_t>(len) * 2 + 64);
    FormatRecord(record, direction, data, len, Session.NowMs());
    if (!TextFile.Write(record))
        WriteFailed(TextFile);
}

void TRACE::BinaryTrace(char direction, char const* data, int len)
{
    if (len < 1)
        return;
    LOGFILE& file = direction == 'I' || direction == 'i' ? InFile : OutFile;
    if (file.IsOpen() && !file.Write(data, static_cast<size_t>(len)))
        WriteFailed(file);
}

void TRACE::FlushFiles()
{
    MUTEXLOCK lock(Lock);
    for (LOGFILE* file : {&TextFile, &InFile, &OutFile}) {
        if (file->IsOpen() && file->Dirty() && !file->Flush())
            WriteFailed(*file);
    }
}

void TRACE::TraceTracker(signed char ascii, signed char binary, signed char hexdump, signed char force)
{
    bool changed = false;
    {
        MUTEXLOCK lock(Lock);
        if (!ascii) {
            TextFailed = false;
            if (TextFile.IsOpen()) {
                TextFile.Write(EndLines(Session.NowMs()));
                if (!TextFile.Close())
                    Report(TextFile.Path(), TextFile.Error());
                changed = true;
            }
        } else if (!TextFile.IsOpen() && !TextFailed && !Closed) {
            if (OpenFile(TextFile, TEXTFILE, LOGFILE::MODE::APPEND) && !TextFile.Write(BeginLines(Session.NowMs())))
                WriteFailed(TextFile);
            TextFailed = !TextFile.IsOpen();
            changed = true;
        }
        if (binary) {
            if (!BinFailed && !Closed && (!InFile.IsOpen() || !OutFile.IsOpen())) {
                bool ok = InFile.IsOpen() || OpenFile(InFile, INFILE, LOGFILE::MODE::TRUNCATE);
                ok = ok && (OutFile.IsOpen() || OpenFile(OutFile, OUTFILE, LOGFILE::MODE::TRUNCATE));
                if (!ok) {
                    InFile.Close();
                    OutFile.Close();
                    BinFailed = true;
                }
                changed = true;
            }
        } else {
            BinFailed = false;
            changed = changed || InFile.IsOpen() || OutFile.IsOpen();
            InFile.Close();
            OutFile.Close();
        }
    }
    if (changed)
        Session.UpdateStatusbar(false);

    int const mode = hexdump ? 1 : 0;
    if (mode == Mode && (!hexdump || !force))
        return;
    if (hexdump)
        NewDumpLine();
    else if (Mode != MODE_UNSET && !force)
        Session.EmuLayer.conputs("\r\n***\r\n\r\n", 9);
    Mode = mode;
}

// ---------------------------------------------------------------------------
// The hex dump

void TRACE::NewDumpLine()
{
    Column = 0;
    Text.clear();
    Session.EmuLayer.conputs("\r\n | ", 5);
    int const width = Session.Prof.data.WinWidth;
    int cols = 0, rows = 0, x = 0, y = 0;
    Session.Screen.GetWinSize(&cols, &rows);
    Session.Screen.GetCursorPos(&x, &y);
    for (int mark : {54, 76}) {
        if (width > mark && mark < cols)
            Session.Screen.WriteWideByte(L'|', 1, mark, y, -1);
    }
}

void TRACE::HexDump(char const* data, int len)
{
    if (len == -2) {
        NewDumpLine();
        return;
    }
    if (!data || len <= 0)
        return;
    int const width = Session.Prof.data.WinWidth;
    for (int i = 0; i < len; ++i) {
        auto const b = static_cast<unsigned char>(data[i]);
        if (Column >= 16) {
            // The finished line's printable column goes to the session log.
            std::wstring line = L"| ";
            for (unsigned char c : Text)
                line += static_cast<wchar_t>(c); // code page 1252 above 159 is Latin-1
            line += L" |";
            Session.LogWide(line.c_str(), static_cast<int>(line.size()));
            NewDumpLine();
        }
        char hex[8];
        snprintf(hex, sizeof hex, "%02X ", b);
        Session.EmuLayer.conputs(hex, 3);
        if (Column == 7)
            Session.EmuLayer.conputs("  ", 2);
        bool const printable = (b >= 32 && b <= 127) || b >= 160;
        char const shown = printable ? static_cast<char>(b) : '.';
        int const col = Column < 8 ? 57 + Column : 58 + Column;
        int cols = 0, rows = 0, x = 0, y = 0;
        Session.Screen.GetWinSize(&cols, &rows);
        if (col < width && col < cols) {
            Session.Screen.GetCursorPos(&x, &y);
            Session.Screen.WriteWideByte(static_cast<wchar_t>(static_cast<unsigned char>(shown)), 1, col, y, -1);
        }
        Text += shown;
        if (Column == 7)
            Text += ' ';
        ++Column;
    }
}
