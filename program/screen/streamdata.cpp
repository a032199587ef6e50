#include "program/screen/streamdata.h"

#include "program/screen/codepagetext.h"

#include "platform/services/folders.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/unicode.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

// Room kept at the end: the end mark '~' and a zero.
constexpr size_t kEndRoom = 2;

bool WriteAll(int fd, char const* data, size_t len)
{
    while (len > 0) {
        ssize_t const n = write(fd, data, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// The host's defaults

void STREAMDATAHOST::CaptureLocalTime(int* hour, int* minute, int* second, int* tenths)
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    time_t const t = tv.tv_sec;
    localtime_r(&t, &local);
    *hour = local.tm_hour;
    *minute = local.tm_min;
    *second = local.tm_sec;
    *tenths = static_cast<int>(tv.tv_usec / 100000);
}

long long STREAMDATAHOST::CaptureNowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// ---------------------------------------------------------------------------
// The buffer

STREAMDATA::STREAMDATA(STREAMDATAHOST& host) : Host(host) {}

STREAMDATA::~STREAMDATA()
{
    MUTEXLOCK lock(BufLock);
    delete[] Buffer;
    Buffer = WritePos = nullptr;
}

void STREAMDATA::Signal(int code, uintptr_t parameter)
{
    if (Viewer)
        Viewer->Signal(code, parameter);
}

void STREAMDATA::RegisterViewer(CAPTUREVIEWER* viewer)
{
    MUTEXLOCK lock(BufLock);
    Viewer = viewer;
    LastViewerUpdate = 0;
    SignalPending = false;
}

void STREAMDATA::SetBufSize(long kb)
{
    long const k = std::clamp(kb, MINKB, MAXKB);
    auto const size = static_cast<uint32_t>(k * 1024);
    MUTEXLOCK lock(BufLock);
    if (size == BufSize)
        return;
    // A buffer that cannot be had leaves the old one in use.
    char* fresh = new (std::nothrow) char[size];
    if (!fresh) {
        LOGIT("STREAMDATA::SetBufSize: no memory for %u bytes (capbuf), the buffer keeps its size\n",
              static_cast<unsigned>(size));
        return;
    }
    memset(fresh, '@', size);
    size_t keep = 0;
    if (Buffer) {
        size_t const len = Length();
        keep = len + kEndRoom > size ? size - size / 4 : len;
        memcpy(fresh, WritePos - keep, keep);
        BaseAbs += len - keep;
        delete[] Buffer;
    }
    Buffer = fresh;
    WritePos = Buffer + keep;
    BufSize = size;
    Stable = std::max(Stable, BaseAbs);
    ++EpochCount;
    WritePos[0] = '~';
    WritePos[1] = 0;
    Signal(SIG_MOVED, 0);
}

void STREAMDATA::DropQuarter()
{
    size_t const quarter = BufSize / 4;
    size_t const len = Length();
    size_t const moved = len > quarter ? len - quarter : 0;
    memmove(Buffer, Buffer + (len - moved), moved);
    WritePos = Buffer + moved;
    BaseAbs += len - moved;
    Stable = std::max(Stable, BaseAbs);
    ++EpochCount;
    Signal(SIG_MOVED, len - moved);
}

void STREAMDATA::PutBuf(wchar_t const* text, long length)
{
    if (!text)
        return;
    if (length < 0)
        length = static_cast<long>(wcslen(text));
    int const cp = Host.CaptureCodePage();
    bool const utf8 = cptext::IsUtf8(cp);
    bool const marks = Host.CaptureTimeMarks();
    UNICODE const* uni = utf8 ? nullptr : UNICODE::GetInstance();
    MUTEXLOCK lock(BufLock);
    if (!Buffer || length == 0)
        return;
    char* const end = Buffer + BufSize - kEndRoom;
    char mark[40];
    int markLen = -1;
    for (long i = 0; i < length; ++i) {
        auto const c = static_cast<uint32_t>(text[i]);
        if (c - 32u < 0x60u && !(marks && AtLineStart)) {
            // A run of plain ASCII is the same in every code page: copied in
            // one pass, dropping the oldest quarter as often as needed.
            for (;;) {
                if (WritePos >= end)
                    DropQuarter();
                char* w = WritePos;
                char* const stop = w + std::min<long>(end - w, length - i);
                long k = i;
                while (w < stop && static_cast<uint32_t>(text[k]) - 32u < 0x60u)
                    *w++ = static_cast<char>(text[k++]);
                Column += static_cast<int32_t>(k - i);
                WritePos = w;
                i = k;
                if (i >= length || static_cast<uint32_t>(text[i]) - 32u >= 0x60u)
                    break;
            }
            --i;
            continue;
        }
        char bytes[4];
        int n = 1;
        if (c < 0x80)
            bytes[0] = static_cast<char>(c);
        else if (utf8)
            n = UNICODE::Utf8Encode(text[i], bytes);
        else
            bytes[0] = uni->ToForcedCodepageChar(text[i], cp);
        auto const b = static_cast<unsigned char>(bytes[0]);
        if (marks) {
            if (b == 13 || b == 10) {
                AtLineStart = true;
            } else if (AtLineStart) {
                AtLineStart = false;
                if (markLen < 0) {
                    int h = 0, m = 0, s = 0, t = 0;
                    Host.CaptureLocalTime(&h, &m, &s, &t);
                    markLen = snprintf(mark, sizeof mark, "[%02d:%02d:%02d.%01d] ", h, m, s, t);
                    markLen = std::clamp(markLen, 0, static_cast<int>(sizeof mark) - 1);
                }
                if (WritePos + markLen + n > end)
                    DropQuarter();
                memcpy(WritePos, mark, static_cast<size_t>(markLen));
                WritePos += markLen;
            }
        }
        if (n == 1 && b < 32) {
            switch (b) {
            case 10:
            case 12:
            case 13:
                if (WritePos + 1 > end)
                    DropQuarter();
                *WritePos++ = static_cast<char>(b);
                Column = 0;
                Stable = End();
                break;
            case 9:
            case 27:
                if (WritePos + 1 > end)
                    DropQuarter();
                *WritePos++ = static_cast<char>(b);
                break;
            case 8:
                if (Column >= 1) {
                    --Column;
                    // The last character goes whole, never past the last
                    // line break.
                    char* const floor = Buffer + (Stable > BaseAbs ? Stable - BaseAbs : 0);
                    char* p = WritePos;
                    if (p > floor)
                        --p;
                    while (utf8 && p > floor && (static_cast<unsigned char>(*p) & 0xC0) == 0x80)
                        --p;
                    WritePos = p;
                }
                break;
            default:
                break;
            }
            continue;
        }
        if (WritePos + n > end)
            DropQuarter();
        memcpy(WritePos, bytes, static_cast<size_t>(n));
        WritePos += n;
        ++Column;
    }
    WritePos[0] = '~';
    WritePos[1] = 0;
    if (Viewer) {
        long long const now = Host.CaptureNowMs();
        if (Length() > THROTTLEBYTES && now - LastViewerUpdate <= THROTTLEMS) {
            SignalPending = true;
        } else {
            Signal(SIG_NEWTEXT, 0);
            LastViewerUpdate = now;
            SignalPending = false;
        }
    }
}

void STREAMDATA::FlushSignal()
{
    MUTEXLOCK lock(BufLock);
    if (!SignalPending || !Viewer)
        return;
    long long const now = Host.CaptureNowMs();
    if (now - LastViewerUpdate <= THROTTLEMS)
        return;
    Signal(SIG_NEWTEXT, 0);
    LastViewerUpdate = now;
    SignalPending = false;
}

void STREAMDATA::CaptClear()
{
    MUTEXLOCK lock(BufLock);
    // The viewer closes before the text goes.
    Signal(SIG_CLEAR, 0);
    if (!Buffer)
        return;
    BaseAbs = End();
    WritePos = Buffer;
    WritePos[0] = '~';
    WritePos[1] = 0;
    Column = 0;
    AtLineStart = false;
    Stable = BaseAbs;
    SignalPending = false;
    ++EpochCount;
}

bool STREAMDATA::QueryCaptureFilled()
{
    MUTEXLOCK lock(BufLock);
    return Buffer && WritePos != Buffer;
}

std::string STREAMDATA::Copy()
{
    MUTEXLOCK lock(BufLock);
    return Buffer ? std::string(Buffer, Length()) : std::string();
}

// ---------------------------------------------------------------------------
// Files

bool STREAMDATA::WriteFile(std::string const& path, std::string const& text, int mode)
{
    int const fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, text.data(), text.size());
    int const err = errno;
    if (close(fd) != 0 && ok)
        return false;
    errno = err;
    return ok;
}

bool STREAMDATA::CaptSave(char const* name)
{
    std::string path = name ? name : "";
    if (!name) {
        std::string const folder = Host.CaptureFolder();
        path = Host.AskSaveName(OSYS::GetStringFromResource("IDS_SELECTCAPTSAVE").Buf(), folder.c_str());
    }
    if (path.empty())
        return false;
    std::string const text = Copy();
    if (!WriteFile(path, text, 0666)) {
        LOGIT("STREAMDATA::CaptSave %s failed: %s\n", path.c_str(), strerror(errno));
        Host.FileError(path.c_str());
        return false;
    }
    return true;
}

bool STREAMDATA::CaptLoad(char const* name)
{
    std::string path = name ? name : "";
    if (!name) {
        std::string const folder = Host.CaptureFolder();
        path = Host.AskLoadName(OSYS::GetStringFromResource("IDS_SELECTCAPTLOAD").Buf(), folder.c_str());
    }
    if (path.empty())
        return false;
    int const fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        Host.FileError(path.c_str());
        return false;
    }
    {
        MUTEXLOCK lock(BufLock);
        if (Buffer) {
            // As many bytes as fit before the end mark.
            char* const end = Buffer + BufSize - kEndRoom;
            while (WritePos < end) {
                ssize_t const n = read(fd, WritePos, static_cast<size_t>(end - WritePos));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                WritePos += n;
            }
            WritePos[0] = '~';
            WritePos[1] = 0;
            Column = 0;
            AtLineStart = false;
            Stable = End();
            Signal(SIG_LOADED, 0);
        }
    }
    close(fd);
    return true;
}

bool STREAMDATA::CaptEdit()
{
    // A private file of its own: the text may hold what the host showed of
    // the user's work.
    std::string path = plat::FolderPath(plat::Folder::Runtime, true);
    if (path.empty())
        return false;
    path += "qor-capture-XXXXXX.txt";
    std::vector<char> name(path.begin(), path.end());
    name.push_back(0);
    int const fd = mkostemps(name.data(), 4, O_CLOEXEC);
    if (fd < 0) {
        Host.FileError(path.c_str());
        return false;
    }
    std::string const text = Copy();
    bool const ok = WriteAll(fd, text.data(), text.size());
    int const err = errno;
    close(fd);
    if (!ok) {
        unlink(name.data());
        errno = err;
        Host.FileError(name.data());
        return false;
    }
    Host.AddTempFile(name.data());
    Host.EditFile(name.data());
    return true;
}

bool STREAMDATA::CaptPrint()
{
    void* job = Host.OpenPrintJob();
    if (!job)
        return false;
    std::string const text = Copy();
    size_t const piece = 1 << 20;
    for (size_t at = 0; at < text.size(); at += piece) {
        size_t const n = std::min(piece, text.size() - at);
        Host.WritePrintJob(job, text.data() + at, static_cast<int>(n));
    }
    Host.ClosePrintJob(job);
    return true;
}
