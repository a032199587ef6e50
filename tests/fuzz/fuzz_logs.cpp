// libFuzzer entry for the session's logs and the capture buffer: the
// capture file's rules (backspace, line ends, time marks) against a model
// of them, the text trace's record of any bytes, the capture buffer under
// random text and size changes, the display-line walker and LineUp over
// any bytes (broken UTF-8 included), and the printer margins setting.
#include "program/screen/printqueue.h"
#include "program/screen/streamdata.h"
#include "program/screen/streamlines.h"
#include "program/session/logfile.h"
#include "program/session/logging.h"
#include "program/session/trace.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void Check(bool ok)
{
    if (!ok)
        abort();
}

std::string const& LogPath()
{
    static std::string path = [] {
        char templ[] = "/tmp/fuzz-logs-XXXXXX";
        if (!mkdtemp(templ))
            abort();
        return std::string(templ) + "/capture.log";
    }();
    return path;
}

std::string ReadAll(std::string const& path)
{
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        out.append(buf, n);
    fclose(f);
    return out;
}

// The capture file: in pieces the input chooses; without time marks and
// UTF-8 the file must equal the model (a backspace takes back one byte of
// this line, the file's end stays at the furthest byte).
void CaptureFile(uint8_t const* data, size_t size)
{
    if (size < 2)
        return;
    bool const marks = data[0] & 1;
    bool const utf8 = data[0] & 2;
    size_t const piece = data[1] % 64 + 1;
    data += 2;
    size -= 2;
    LOGFILE file;
    Check(file.Open(LogPath(), LOGFILE::MODE::TRUNCATE));
    LOGGING::CAPTURESTATE state;
    LOGGING::LOCALTIME clock = [](int* h, int* m, int* s, int* t) { *h = *m = *s = *t = 1; };
    auto const* text = reinterpret_cast<char const*>(data);
    for (size_t at = 0; at < size; at += piece)
        Check(LOGGING::PutCapture(file, state, text + at, std::min(piece, size - at), marks, utf8, clock));
    Check(file.Close());
    std::string const got = ReadAll(LogPath());
    if (marks || utf8) {
        Check(got.size() <= size * 15 + 15);
        return;
    }
    std::string model;
    size_t pos = 0, line = 0;
    for (size_t i = 0; i < size; ++i) {
        char const c = text[i];
        if (c == 8) {
            if (line > 0) {
                --pos;
                --line;
            }
            continue;
        }
        if (pos < model.size())
            model[pos] = c;
        else
            model += c;
        ++pos;
        line = c == 13 || c == 10 ? 0 : line + 1;
    }
    Check(got == model);
}

// One record of the text trace: every line after the first starts with 13
// blanks and none runs far past the wrap.
void TraceRecord(uint8_t const* data, size_t size)
{
    std::string out;
    TRACE::FormatRecord(out, size % 2 ? TRACE::RECEIVED : TRACE::SENT, reinterpret_cast<char const*>(data),
                        static_cast<int>(size), static_cast<long long>(size) * 997);
    Check(out.size() >= 4 && out.compare(out.size() - 2, 2, "\n\n") == 0);
    size_t start = 0;
    for (int n = 0; start < out.size() - 2; ++n) {
        size_t const end = out.find('\n', start);
        Check(end != std::string::npos);
        if (n > 0)
            Check(out.compare(start, 13, std::string(13, ' ')) == 0);
        Check(end - start <= 13 + 51 + 8 + 8);
        start = end + 1;
    }
}

class CAPTUREHOST : public STREAMDATAHOST {
public:
    int CaptureCodePage() override { return CodePage; }
    bool CaptureTimeMarks() override { return Marks; }
    void CaptureLocalTime(int* h, int* m, int* s, int* t) override { *h = *m = *s = *t = 2; }
    long long CaptureNowMs() override { return ++Now; }
    int CodePage = 1000;
    bool Marks = false;
    long long Now = 0;
};

// The capture buffer: text, time marks and sizes as the input says; the
// end mark and the positions stay right.
void CaptureBuffer(uint8_t const* data, size_t size)
{
    CAPTUREHOST host;
    STREAMDATA buffer(host);
    buffer.SetBufSize(64);
    size_t i = 0;
    while (i < size) {
        uint8_t const op = data[i++];
        if (op < 16) {
            buffer.SetBufSize(64 + op * 37);
        } else if (op < 24) {
            host.CodePage = op & 1 ? 1252 : 1000;
            host.Marks = op & 2;
        } else {
            size_t const n = std::min<size_t>(op, size - i);
            std::wstring text;
            for (size_t k = 0; k < n; ++k)
                text += static_cast<wchar_t>(data[i + k] < 0xF0 ? data[i + k] : 0x4E00 + data[i + k]);
            // Large texts by repetition, so drops happen.
            for (int r = 0; r < (op & 0x0F); ++r)
                buffer.PutBuf(text.c_str(), static_cast<long>(text.size()));
            i += n;
        }
        MUTEXLOCK lock(buffer.Lock());
        Check(buffer.Length() + 2 <= buffer.Size());
        Check(buffer.Data()[buffer.Length()] == '~' && buffer.Data()[buffer.Length() + 1] == 0);
        Check(buffer.End() == buffer.Base() + buffer.Length());
    }
}

// Display lines: every walk makes progress within 1015 bytes, LineUp
// undoes NextLine, the count agrees.
void Lines(uint8_t const* data, size_t size)
{
    if (size < 2)
        return;
    streamlines::LAYOUT const layout{data[0] % 100 + 1, (data[1] & 1) != 0};
    auto const* text = reinterpret_cast<char const*>(data + 2);
    size_t const len = size - 2;
    size_t pos = 0, count = 0;
    std::vector<streamlines::CELL> cells;
    while (pos < len) {
        size_t const next = streamlines::NextLine(text, len, pos, layout);
        Check(next > pos && next <= len);
        Check(streamlines::LineCells(text, len, pos, layout, cells) == next);
        Check(cells.size() <= streamlines::MAXLINEBYTES);
        for (auto const& c : cells)
            Check(c.Column + c.Width <= layout.Columns || c.Column == 0 || c.Char == 9);
        if (next < len)
            Check(streamlines::LineUp(text, len, next, layout) == pos);
        streamlines::PositionAt(text, len, pos, data[1], layout);
        pos = next;
        ++count;
    }
    Check(streamlines::CountLines(text, len, layout) == count);
}

void Margins(uint8_t const* data, size_t size)
{
    std::string const text(reinterpret_cast<char const*>(data), std::min<size_t>(size, 200));
    RECT r{};
    PRINTQUEUE::MakePrinterMargins(text.c_str(), &r);
    for (int v : {r.left, r.top, r.right, r.bottom})
        Check(v >= 0 && v <= 100);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size == 0 || size > 8192)
        return 0;
    switch (data[0] % 5) {
    case 0:
        CaptureFile(data + 1, size - 1);
        break;
    case 1:
        TraceRecord(data + 1, size - 1);
        break;
    case 2:
        CaptureBuffer(data + 1, size - 1);
        break;
    case 3:
        Lines(data + 1, size - 1);
        break;
    default:
        Margins(data + 1, size - 1);
        break;
    }
    return 0;
}
