// Byte buffers: storage and the block cache, editing, whole files, numbers,
// the null policy and the plain-text helpers. The text operations of STRING
// are in stringtext.cpp.
//
// Every length is a signed 32-bit number, as in the stored layout of BINARY.
// Sums of lengths are computed in 64 bits and checked before they are stored,
// so that a request beyond what a BINARY can hold fails the allocation
// instead of wrapping around into a small block.
#include "velmot/core/strings.h"
#include "velmot/core/strings_internal.h"

#include "velmot/core/checksums.h"
#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/osyssync.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctype.h>
#include <cwctype>
#include <mutex>
#include <sys/stat.h>
#include <vector>

using namespace strdetail;

namespace {

constexpr char kNullText[] = "<NULL>";
constexpr wchar_t kNullWide[] = L"<NULL>";

// ---------------------------------------------------------------------------
// Block cache. Constant-initialised, so strings built by static constructors
// of any deliverable can use it before main.

constexpr int kCacheSlots = 128;
constexpr int kCacheMax = 127;

char* gCacheBlocks[kCacheSlots] = {};
int gCacheCount = 0;
std::atomic<bool> gCacheFinal{false};
FASTMUTEX* gCacheLock = nullptr;
std::once_flag gCacheLockOnce;

FASTMUTEX* CacheLock()
{
    std::call_once(gCacheLockOnce, [] { gCacheLock = new FASTMUTEX(); });
    return gCacheLock;
}

// A block replaced by a larger one. It is given back only after the caller
// has copied what it needs, because the bytes being copied may lie in it
// (a string appended to itself).
struct OLDBLOCK {
    char* Block = nullptr;
    int32_t Size = 0;
    ~OLDBLOCK() { BINARY::Delete(Block, Size); }
};

// Raises the block size after a new block of `newsize` bytes was taken, so
// that a growing text needs few reallocations.
void AdaptBlockSize(BINARY& b, int64_t newsize)
{
    if (!(b.Flags & STRINGFLAG_DYNABLOCK)) {
        if (newsize > 32768) {
            b.Flags |= STRINGFLAG_DYNABLOCK;
            b.BlockSize = std::max(b.BlockSize, int32_t(32768));
            LOGIT("STRING::Make Upgrade String to STRINGFLAG_DYNABLOCK\n");
        } else if (newsize > 8191) {
            b.BlockSize = std::max(b.BlockSize, int32_t(4096));
        } else if (newsize > 4095) {
            b.BlockSize = std::max(b.BlockSize, int32_t(2048));
        } else if (newsize > 1023) {
            b.BlockSize = std::max(b.BlockSize, int32_t(1024));
        }
        return;
    }
    int64_t bs = std::max<int64_t>(b.BlockSize, newsize / 2);
    if (bs > 0x1FFFFF)
        bs = 0x200000;
    if (bs > 4095)
        bs = (bs + 1023) / 1024 * 1024;
    if (bs != b.BlockSize) {
        b.BlockSize = static_cast<int32_t>(bs);
        LOGIT("STRING::Make STRINGFLAG_DYNABLOCK new blocksize %d\n", b.BlockSize);
    }
}

// Makes room for `len` bytes plus the terminator. A new block is cleared and
// receives the old content; the old block is handed to `old`. Fails (with
// the "buffer" report) when no block comes or the size would not fit.
bool GrowBlock(BINARY& b, int64_t len, OLDBLOCK& old)
{
    if (b.BlockSize <= 0)
        b.BlockSize = BINARY_DEFAULTBLOCK;
    int64_t const term = (b.Flags & STRINGFLAG_WIDE) ? 4 : 1;
    int64_t const need = len + term;
    if (b.Buffer && b.BufLen >= need)
        return true;
    int64_t const newsize = (need / b.BlockSize + 1) * b.BlockSize;
    char* block = (len <= kMaxLength && newsize <= INT32_MAX) ? BINARY::New(static_cast<int32_t>(newsize)) : nullptr;
    if (!block) {
        ReportBuffer(__FILE__, __LINE__);
        return false;
    }
    int32_t const keep = b.Buffer ? b.StrLen : 0;
    if (keep > 0)
        memcpy(block, b.Buffer, static_cast<size_t>(keep));
    memset(block + keep, 0, static_cast<size_t>(newsize - keep));
    old.Block = b.Buffer;
    old.Size = b.BufLen;
    b.Buffer = block;
    b.BufLen = static_cast<int32_t>(newsize);
    AdaptBlockSize(b, newsize);
    return true;
}

int NullPolicy()
{
    char const* value = getenv("TARVOFAILONNULL");
    return value ? static_cast<int>(strtol(value, nullptr, 10)) : 0;
}

// Closes a stream; 0 or the error number. Kept out of line: GCC 12 takes
// the logging of the (closed) handle's value for a use after fclose.
[[gnu::noinline]] int CloseStream(FILE* f)
{
    return fclose(f) == 0 ? 0 : (errno ? errno : EIO);
}

STRING ErrorText(int err)
{
    return OSYS::GetLastErrorString(err);
}

} // namespace

// ===========================================================================
// Shared helpers

namespace strdetail {

int32_t TextLen(char const* text)
{
    size_t const n = strlen(text);
    return n > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n);
}

char const* SafeText(char const* text, char const* where)
{
    if (text)
        return text;
    text = BINARY::NULLCHECK(text, where);
    return text ? text : "";
}

bool Overlaps(BINARY const& b, void const* p)
{
    if (!b.Buffer || !p)
        return false;
    auto const start = reinterpret_cast<uintptr_t>(b.Buffer);
    auto const at = reinterpret_cast<uintptr_t>(p);
    return at >= start && at < start + static_cast<uintptr_t>(b.BufLen);
}

void WriteTerminator(BINARY& b)
{
    memset(b.Buffer + b.StrLen, 0, (b.Flags & STRINGFLAG_WIDE) ? 4 : 1);
}

void ReportBuffer(char const* file, int line)
{
    AssertMsg(0, "buffer", file, line);
}

void CopyRange(BINARY const& src, BINARY& dst, int32_t start, int32_t len)
{
    if (start < 0)
        start = 0;
    if (start >= src.StrLen) {
        dst.Make(0);
        return;
    }
    int32_t const avail = src.StrLen - start;
    if (len < 0 || len > avail)
        len = avail;
    dst.Make(len, src.Buffer + start);
}

char& ZeroByte()
{
    static thread_local char zero;
    zero = 0;
    return zero;
}

char& BadIndex(BINARY const& b, int32_t i, char const* expression, int line)
{
    char info[512];
    snprintf(info, sizeof info, "i= %d, len= %d, buf= %s", i, b.StrLen, b.Buffer ? b.Buffer : "(null)");
    AssertMsg(0, expression, __FILE__, line, info);
    return ZeroByte();
}

} // namespace strdetail

// ===========================================================================
// BINARY: storage

BINARY::BINARY(char const* data, int32_t len)
{
    if (len >= 0)
        Make(len, data);
}

BINARY::BINARY(BINARY const& other) : BlockSize(other.BlockSize), Flags(other.Flags)
{
    if (other.Buffer)
        Make(other.StrLen, other.Buffer);
}

BINARY::BINARY(BINARY&& other) noexcept
    : Buffer(other.Buffer), StrLen(other.StrLen), BufLen(other.BufLen), BlockSize(other.BlockSize), Flags(other.Flags)
{
    other.Buffer = nullptr;
    other.StrLen = 0;
    other.BufLen = 0;
}

BINARY& BINARY::operator=(BINARY const& other)
{
    if (this == &other)
        return *this;
    BlockSize = other.BlockSize;
    Flags = other.Flags;
    if (!other.Buffer)
        Kill();
    else
        Make(other.StrLen, other.Buffer);
    return *this;
}

BINARY& BINARY::operator=(BINARY&& other) noexcept
{
    if (this == &other)
        return *this;
    Kill();
    Buffer = other.Buffer;
    StrLen = other.StrLen;
    BufLen = other.BufLen;
    BlockSize = other.BlockSize;
    Flags = other.Flags;
    other.Buffer = nullptr;
    other.StrLen = 0;
    other.BufLen = 0;
    return *this;
}

bool BINARY::Make(int32_t len, char const* src)
{
    if (BlockSize <= 0)
        BlockSize = BINARY_DEFAULTBLOCK;
    if (len == -1)
        return true;
    if (len < 0) {
        AssertMsg(0, "len>=0", __FILE__, __LINE__);
        return false;
    }
    OLDBLOCK old;
    if (!GrowBlock(*this, len, old))
        return false;
    if (src) {
        // memmove, and the old block still alive: `src` may lie in this
        // string's own bytes. Clearing only what the copy does not cover
        // leaves the same bytes as clearing first would.
        memmove(Buffer, src, static_cast<size_t>(len));
        if (StrLen > len)
            memset(Buffer + len, 0, static_cast<size_t>(StrLen - len));
    }
    StrLen = len;
    WriteTerminator(*this);
    return true;
}

char* BINARY::New(int32_t size)
{
    if (size <= 0)
        return nullptr;
    if (size == BINARY_DEFAULTBLOCK && !gCacheFinal.load(std::memory_order_acquire)) {
        FASTMUTEX* lock = CacheLock();
        char* block = nullptr;
        lock->Obtain();
        if (gCacheCount > 0) {
            block = gCacheBlocks[--gCacheCount];
            gCacheBlocks[gCacheCount] = nullptr;
        }
        lock->Release();
        if (block)
            return block;
    }
    return static_cast<char*>(malloc(static_cast<size_t>(size)));
}

void BINARY::Delete(char* block, int32_t size)
{
    if (!block)
        return;
    if (size == BINARY_DEFAULTBLOCK && !gCacheFinal.load(std::memory_order_acquire)) {
        FASTMUTEX* lock = CacheLock();
        lock->Obtain();
        if (gCacheCount < kCacheMax) {
            gCacheBlocks[gCacheCount++] = block;
            block = nullptr;
        }
        lock->Release();
    }
    free(block);
}

void BINARY::Kill()
{
    Delete(Buffer, BufLen);
    Buffer = nullptr;
    StrLen = 0;
    BufLen = 0;
}

void BINARY::FlushCache()
{
    if (gCacheFinal.load(std::memory_order_acquire))
        return;
    FASTMUTEX* lock = CacheLock();
    lock->Obtain();
    for (int i = 0; i < gCacheCount; ++i) {
        free(gCacheBlocks[i]);
        gCacheBlocks[i] = nullptr;
    }
    gCacheCount = 0;
    gCacheFinal.store(true, std::memory_order_release);
    lock->Release();
    delete lock;
    gCacheLock = nullptr;
}

int BINARY::CachedBlocks()
{
    if (gCacheFinal.load(std::memory_order_acquire))
        return 0;
    FASTMUTEX* lock = CacheLock();
    lock->Obtain();
    int const n = gCacheCount;
    lock->Release();
    return n;
}

void BINARY::Swap(BINARY& other)
{
    std::swap(Buffer, other.Buffer);
    std::swap(StrLen, other.StrLen);
    std::swap(BufLen, other.BufLen);
    std::swap(BlockSize, other.BlockSize);
}

// ===========================================================================
// BINARY: editing

void BINARY::Append(char const* p, int32_t len)
{
    if (len < 0) {
        AssertMsg(0, "len>=0", __FILE__, __LINE__);
        return;
    }
    if (!p) {
        p = SafeText(p, "BINARY::Append");
        len = std::min(len, TextLen(p));
    }
    int64_t const newlen = int64_t(StrLen) + len;
    if (Buffer && newlen < int64_t(BufLen) - 8) {
        // The fields are read before the byte copies and the length stored
        // after them (the copies may alias any object).
        char* const buf = Buffer;
        size_t const term = (Flags & STRINGFLAG_WIDE) ? 4 : 1;
        memmove(buf + StrLen, p, static_cast<size_t>(len));
        memset(buf + newlen, 0, term);
        StrLen = static_cast<int32_t>(newlen);
        return;
    }
    int32_t const oldlen = Buffer ? StrLen : 0;
    OLDBLOCK old;
    if (!GrowBlock(*this, newlen, old))
        return;
    // `p` may point into the old block, which `old` keeps alive until here.
    memmove(Buffer + oldlen, p, static_cast<size_t>(len));
    StrLen = static_cast<int32_t>(newlen);
    WriteTerminator(*this);
}

void BINARY::Append(BINARY const& other)
{
    Append(other.Buffer ? other.Buffer : "", other.Buffer ? other.StrLen : 0);
}

void BINARY::Cut(int32_t newlength)
{
    if (newlength < 0) {
        AssertMsg(0, "newlength>=0", __FILE__, __LINE__);
        return;
    }
    if (!Buffer || newlength >= StrLen)
        return;
    memset(Buffer + newlength, 0, static_cast<size_t>(StrLen - newlength));
    StrLen = newlength;
    WriteTerminator(*this);
}

void BINARY::CutRight(int32_t howmany)
{
    if (howmany < 0) {
        AssertMsg(0, "howmany>=0", __FILE__, __LINE__);
        return;
    }
    Cut(howmany >= StrLen ? 0 : StrLen - howmany);
}

void BINARY::CutLeft(int32_t howmany)
{
    if (howmany < 0) {
        AssertMsg(0, "howmany>=0", __FILE__, __LINE__);
        return;
    }
    if (!Buffer || howmany == 0)
        return;
    if (howmany >= StrLen) {
        Cut(0);
        return;
    }
    int32_t const rest = StrLen - howmany;
    memmove(Buffer, Buffer + howmany, static_cast<size_t>(rest));
    memset(Buffer + rest, 0, static_cast<size_t>(howmany));
    StrLen = rest;
    WriteTerminator(*this);
}

void BINARY::ShiftLeft(int32_t howmany, int32_t pos)
{
    if (howmany < 0) {
        AssertMsg(0, "howmany>=0", __FILE__, __LINE__);
        return;
    }
    if (!Buffer || pos < 0 || pos >= StrLen || howmany == 0)
        return;
    if (int64_t(pos) + howmany >= StrLen) {
        Cut(pos);
        return;
    }
    int32_t const tail = StrLen - pos - howmany;
    memmove(Buffer + pos, Buffer + pos + howmany, static_cast<size_t>(tail));
    memset(Buffer + pos + tail, 0, static_cast<size_t>(howmany));
    StrLen -= howmany;
    WriteTerminator(*this);
}

void BINARY::ShiftRight(int32_t howmany, int32_t pos, char fill)
{
    if (howmany < 0) {
        AssertMsg(0, "howmany>=0", __FILE__, __LINE__);
        return;
    }
    if (!Buffer || pos < 0 || pos >= StrLen || howmany == 0)
        return;
    int32_t const oldlen = StrLen;
    int64_t const newlen = int64_t(oldlen) + howmany;
    if (newlen > kMaxLength) {
        ReportBuffer(__FILE__, __LINE__);
        return;
    }
    if (!Make(static_cast<int32_t>(newlen)))
        return;
    memmove(Buffer + pos + howmany, Buffer + pos, static_cast<size_t>(oldlen - pos));
    memset(Buffer + pos, fill, static_cast<size_t>(howmany));
}

// ===========================================================================
// BINARY: reading

BINARY BINARY::Substr(int32_t start, int32_t len) const
{
    BINARY result(0, Flags & (STRINGFLAG_BINARY | STRINGFLAG_WIDE));
    CopyRange(*this, result, start, len);
    return result;
}

BINARY BINARY::Left(int32_t n) const
{
    return Substr(0, std::max(n, int32_t(0)));
}

BINARY BINARY::Right(int32_t n) const
{
    n = std::max(n, int32_t(0));
    return Substr(n >= StrLen ? 0 : StrLen - n, -1);
}

int BINARY::LeftChar(int32_t i) const
{
    return (Buffer && i >= 0 && i < StrLen) ? static_cast<unsigned char>(Buffer[i]) : -1;
}

int BINARY::RightChar(int32_t i) const
{
    return (Buffer && i >= 1 && i <= StrLen) ? static_cast<unsigned char>(Buffer[StrLen - i]) : -1;
}

int32_t BINARY::Pos(char c) const
{
    if (!Buffer || StrLen <= 0)
        return -1;
    void const* hit = memchr(Buffer, c, static_cast<size_t>(StrLen));
    return hit ? static_cast<int32_t>(static_cast<char const*>(hit) - Buffer) : -1;
}

char& BINARY::operator[](int32_t i)
{
    if (Buffer && i >= 0 && i < StrLen)
        return Buffer[i];
    return BadIndex(*this, i, "i>=0 && i<this->StrLen", __LINE__);
}

char const& BINARY::operator[](int32_t i) const
{
    if (Buffer && i >= 0 && i < StrLen)
        return Buffer[i];
    return BadIndex(*this, i, "i>=0 && i<this->StrLen", __LINE__);
}

uint32_t BINARY::Crc() const
{
    CRC crc;
    return crc.UpdateCrc(*this);
}

// ===========================================================================
// BINARY: whole files

bool BINARY::Load(char const* path, char const* mode)
{
    path = SafeText(path, "BINARY::Load");
    if (!mode)
        mode = "rb";
    struct stat st {};
    int64_t const size = stat(path, &st) == 0 ? int64_t(st.st_size) : 0;
    LOGIT("BINARY::Load %s (%d bytes)\n", path, static_cast<int>(std::min<int64_t>(size, INT32_MAX)));

    FILE* f = FILENAME::fsopen(path, mode);
    // The handle as the result line shows it (the stream is closed by then).
    uintptr_t const handle = reinterpret_cast<uintptr_t>(f);
    bool ok = false;
    int err = f ? 0 : errno;
    BINARY data(0, Flags);
    if (f) {
        if (size > kMaxLength - 65536) {
            err = EFBIG;
        } else {
            // One block for the whole file, with room to spare for the
            // terminator, so the pieces are appended without copying.
            data.BlockSize = static_cast<int32_t>((size / 65536 + 1) * 65536);
            data.Make(0);
            static constexpr size_t kPiece = 32768;
            std::vector<char> piece(kPiece);
            for (;;) {
                size_t const n = fread(piece.data(), 1, kPiece, f);
                if (n > 0) {
                    if (int64_t(data.StrLen) + int64_t(n) > kMaxLength - 65536) {
                        err = EFBIG;
                        break;
                    }
                    int32_t const before = data.StrLen;
                    data.Append(piece.data(), static_cast<int32_t>(n));
                    if (data.StrLen != before + static_cast<int32_t>(n)) {
                        err = ENOMEM;
                        break;
                    }
                }
                if (n < kPiece)
                    break;
            }
            if (!err && ferror(f))
                err = errno ? errno : EIO;
        }
        int const closeerr = CloseStream(f);
        if (!err)
            err = closeerr;
        ok = err == 0;
    }
    if (gDoLogit)
        LOGIT("BINARY::Load returns %p, %d bytes, %s\n", reinterpret_cast<void*>(handle), data.StrLen,
              ok ? "OK" : ErrorText(err).Buf());
    if (ok) {
        Swap(data);
        Flags = data.Flags;
    }
    errno = err;
    return ok;
}

bool BINARY::Save(char const* path, char const* mode) const
{
    path = SafeText(path, "BINARY::Save");
    if (!mode)
        mode = "wb";
    LOGIT("BINARY::Save %s\n", path);
    FILE* f = FILENAME::fsopen(path, mode);
    // The handle as the result line shows it (the stream is closed by then).
    uintptr_t const handle = reinterpret_cast<uintptr_t>(f);
    int err = f ? 0 : errno;
    int written = -1;
    if (f) {
        char const* data = SafeText(Buffer, "STRING::Save");
        size_t const want = Buffer ? static_cast<size_t>(StrLen) : 0;
        size_t const n = want ? fwrite(data, 1, want, f) : 0;
        written = static_cast<int>(n);
        if (n != want)
            err = errno ? errno : EIO;
        // Buffered data reaches the file only here: a full disk shows up in
        // the flush or the close, not in fwrite.
        if (fflush(f) != 0 && !err)
            err = errno ? errno : EIO;
        if (ferror(f) && !err)
            err = EIO;
        int const closeerr = CloseStream(f);
        if (!err)
            err = closeerr;
    }
    bool const ok = f && err == 0;
    if (gDoLogit)
        LOGIT("BINARY::Save returns %p, %d bytes, %s\n", reinterpret_cast<void*>(handle), written,
              ok ? "OK" : ErrorText(err).Buf());
    errno = err;
    return ok;
}

// ===========================================================================
// BINARY: numbers and plain-text helpers

BINARY::operator int() const
{
    char const* text = NULLCHECK(Buffer, "atoi");
    return text ? atoi(text) : 0;
}

BINARY::operator signed char() const
{
    char const* text = NULLCHECK(Buffer, "atoi");
    return static_cast<signed char>(text ? atoi(text) : 0);
}

BINARY::operator unsigned long() const
{
    char const* text = NULLCHECK(Buffer, "strtoul");
    return text ? strtoul(text, nullptr, 10) : 0;
}

BINARY::operator double() const
{
    char const* text = NULLCHECK(Buffer, "atof");
    return text ? atof(text) : 0.0;
}

int BINARY::STRICMP(char const* a, char const* b, bool nullok)
{
    if (nullok) {
        if (!a || !b)
            return a == b ? 0 : 1;
    } else {
        a = SafeText(a, "BINARY::STRICMP op1");
        b = SafeText(b, "BINARY::STRICMP op2");
    }
    return stricmp(a, b);
}

int BINARY::MEMCMP(char const* a, char const* b, int32_t n)
{
    if (n <= 0)
        return 0;
    if (a && b)
        return memcmp(a, b, static_cast<size_t>(n));
    // A replaced null is a short text: compare as texts so that no more than
    // its own bytes are read.
    a = SafeText(a, "BINARY::MEMCMP op1");
    b = SafeText(b, "BINARY::MEMCMP op2");
    return strncmp(a, b, static_cast<size_t>(n));
}

char const* BINARY::NULLCHECK(char const* p, char const* where)
{
    if (p)
        return p;
    int const mask = NullPolicy();
    if (!(mask & 1))
        return kNullText;
    if ((mask & 3) == 3)
        AssertMsg(0, "p!=NULL", __FILE__, __LINE__, where ? where : "<none>");
    return nullptr;
}

wchar_t const* BINARY::NULLCHECK(wchar_t const* p, char const* where)
{
    if (p)
        return p;
    int const mask = NullPolicy();
    if (!(mask & 1))
        return kNullWide;
    if ((mask & 3) == 3)
        AssertMsg(0, "p!=NULL", __FILE__, __LINE__, where ? where : "<none>");
    return nullptr;
}

BINARY operator||(BINARY const& a, BINARY const& b)
{
    BINARY result;
    int32_t const la = a.Buffer ? a.StrLen : 0;
    int32_t const lb = b.Buffer ? b.StrLen : 0;
    if (int64_t(la) + lb > kMaxLength) {
        ReportBuffer(__FILE__, __LINE__);
        return result;
    }
    if (!result.Make(la + lb))
        return result;
    if (la)
        memcpy(result.Buffer, a.Buffer, static_cast<size_t>(la));
    if (lb)
        memcpy(result.Buffer + la, b.Buffer, static_cast<size_t>(lb));
    return result;
}

// ===========================================================================
// Plain-text helpers (case folding by the locale's tables). A null text
// reads as "".

extern "C" {

int stricmp(char const* a, char const* b)
{
    return strnicmp(a, b, SIZE_MAX);
}

int strnicmp(char const* a, char const* b, size_t n)
{
    auto const* pa = reinterpret_cast<unsigned char const*>(a ? a : "");
    auto const* pb = reinterpret_cast<unsigned char const*>(b ? b : "");
    int32_t const* low = LowerTable();
    for (size_t i = 0; i < n; ++i) {
        int const ca = low[pa[i]];
        int const cb = low[pb[i]];
        if (ca != cb)
            return ca - cb;
        if (ca == 0)
            break;
    }
    return 0;
}

int wcsicmp(wchar_t const* a, wchar_t const* b)
{
    return wcsnicmp(a, b, SIZE_MAX);
}

int wcsnicmp(wchar_t const* a, wchar_t const* b, size_t n)
{
    if (!a)
        a = L"";
    if (!b)
        b = L"";
    for (size_t i = 0; i < n; ++i) {
        auto const ca = static_cast<int>(towlower(static_cast<wint_t>(a[i])));
        auto const cb = static_cast<int>(towlower(static_cast<wint_t>(b[i])));
        if (ca != cb)
            return ca - cb;
        if (ca == 0)
            break;
    }
    return 0;
}

char* strupr(char* s)
{
    if (!s)
        return s;
    int32_t const* up = UpperTable();
    for (auto* p = reinterpret_cast<unsigned char*>(s); *p; ++p)
        *p = static_cast<unsigned char>(up[*p]);
    return s;
}

char* strlwr(char* s)
{
    if (!s)
        return s;
    int32_t const* low = LowerTable();
    for (auto* p = reinterpret_cast<unsigned char*>(s); *p; ++p)
        *p = static_cast<unsigned char>(low[*p]);
    return s;
}

wchar_t* wcsupr(wchar_t* s)
{
    if (!s)
        return s;
    for (wchar_t* p = s; *p; ++p)
        *p = static_cast<wchar_t>(towupper(static_cast<wint_t>(*p)));
    return s;
}

wchar_t* wcslwr(wchar_t* s)
{
    if (!s)
        return s;
    for (wchar_t* p = s; *p; ++p)
        *p = static_cast<wchar_t>(towlower(static_cast<wint_t>(*p)));
    return s;
}

} // extern "C"
