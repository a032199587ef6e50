#include "velmot/core/gzip.h"

#include "velmot/core/logit.h"
#include "velmot/core/osysfile.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int32_t kPiece = 4096;

int32_t ClampLimit(int32_t limit)
{
    if (limit < 0)
        return GZIP_DEFAULTLIMIT;
    return std::min(limit, GZIP_MAXLIMIT);
}

// An empty result with a buffer, so that callers see an empty buffer rather
// than an unset one, whatever the input was.
BINARY EmptyPieceBuffer()
{
    BINARY out(kPiece);
    out.Make(0);
    return out;
}

} // namespace

// ---------------------------------------------------------------- GZIP

GZIP::GZIP() : stream(new z_stream{}) {}

GZIP::~GZIP()
{
    if (inflateOpen)
        inflateEnd(stream);
    if (deflateOpen) {
        // The last output of an unfinished compression has nowhere to go.
        deflateEnd(stream);
    }
    delete stream;
}

bool GZIP::DeflateInit(int level)
{
    LOGIT("GZIP::DeflateInit level= %d\n", level);
    if (!ASSERTMSG(level >= 1 && level <= 9, "compresslevel>=1 && compresslevel<=9"))
        level = std::clamp(level, 1, 9);
    if (deflateOpen)
        deflateEnd(stream);
    *stream = z_stream{};
    deflateOpen = deflateInit(stream, level) == Z_OK;
    status = deflateOpen ? GZIP_OK : GZIP_ERROR;
    return deflateOpen;
}

bool GZIP::DeflateData(BINARY const& in, BINARY& out)
{
    if (!ASSERTMSG(deflateOpen, "GZIP::DeflateData without DeflateInit")) {
        status = GZIP_ERROR;
        return false;
    }
    return Step(in, out, true);
}

bool GZIP::DeflateEnd(BINARY& out)
{
    if (!deflateOpen)
        return false;
    stream->next_in = nullptr;
    stream->avail_in = 0;
    char piece[kPiece];
    int rc = Z_OK;
    // Every DeflateData flushes, so the rest normally fits in one piece; the
    // loop only guards against a caller that never fed data through it.
    while (rc == Z_OK) {
        stream->next_out = reinterpret_cast<Bytef*>(piece);
        stream->avail_out = kPiece;
        rc = deflate(stream, Z_FINISH);
        out.Append(piece, kPiece - static_cast<int32_t>(stream->avail_out));
    }
    deflateEnd(stream);
    deflateOpen = false;
    bool ended = rc == Z_STREAM_END;
    status = ended ? GZIP_STREAMEND : GZIP_ERROR;
    LOGIT("GZIP::DeflateEnd rc= %d\n", rc);
    return ended;
}

bool GZIP::InflateInit(int32_t maxOutput)
{
    if (inflateOpen)
        inflateEnd(stream);
    *stream = z_stream{};
    inflateOpen = inflateInit(stream) == Z_OK;
    status = inflateOpen ? GZIP_OK : GZIP_ERROR;
    limit = ClampLimit(maxOutput);
    produced = 0;
    return inflateOpen;
}

bool GZIP::InflateData(BINARY const& in, BINARY& out)
{
    if (!ASSERTMSG(inflateOpen, "GZIP::InflateData without InflateInit")) {
        status = GZIP_ERROR;
        return false;
    }
    if (status != GZIP_OK)
        return false; // the stream has already ended or failed
    return Step(in, out, false);
}

bool GZIP::InflateEnd()
{
    if (inflateOpen)
        inflateEnd(stream);
    inflateOpen = false;
    return true;
}

// One pass of the streaming loop: the whole input goes to zlib, output is
// collected piece by piece with a partial flush, so that everything given so
// far can be decoded by the receiver.
bool GZIP::Step(BINARY const& in, BINARY& out, bool deflating)
{
    // Growing `out` may move its buffer; when it is also the input, zlib
    // reads from a copy.
    BINARY copy;
    BINARY const* src = &in;
    if (&in == &out) {
        copy = in;
        src = &copy;
    }
    stream->next_in = reinterpret_cast<Bytef*>(src->Buffer);
    stream->avail_in = static_cast<uInt>(std::max<int32_t>(src->Length(), 0));
    for (;;) {
        uInt room = kPiece;
        if (!deflating) {
            // At the limit one byte of room remains as a probe: if the stream
            // still produces something, its output is too large.
            int64_t left = limit - produced;
            room = static_cast<uInt>(std::clamp<int64_t>(left, 1, kPiece));
        }
        // Each piece is written straight behind the output collected so far.
        int32_t const base = out.Length();
        if (base > GZIP_MAXLIMIT || !out.Make(base + static_cast<int32_t>(room))) {
            out.Cut(base);
            status = GZIP_ERROR;
            return false;
        }
        stream->next_out = reinterpret_cast<Bytef*>(out.Buffer + base);
        stream->avail_out = room;
        int rc = deflating ? deflate(stream, Z_PARTIAL_FLUSH) : inflate(stream, Z_PARTIAL_FLUSH);
        int32_t made = static_cast<int32_t>(room - stream->avail_out);
        if (!deflating && produced + made > limit) {
            out.Cut(base);
            status = GZIP_LIMIT;
            LOGIT("GZIP::InflateData stops at the limit of %d bytes\n", limit);
            return false;
        }
        out.Cut(base + made);
        produced += made;
        if (rc == Z_OK)
            continue;
        if (rc == Z_BUF_ERROR && stream->avail_in == 0) {
            status = GZIP_OK;
            return true;
        }
        if (rc == Z_STREAM_END) {
            status = GZIP_STREAMEND;
            return false;
        }
        char info[80];
        snprintf(info, sizeof info, "status= %d, avail_in= %d", rc, static_cast<int>(stream->avail_in));
        AssertMsg(0, "FALSE", __FILE__, __LINE__, info, true);
        status = GZIP_ERROR;
        return false;
    }
}

BINARY GZIP::Deflate(BINARY const& in, int level, bool* ok)
{
    BINARY out = EmptyPieceBuffer();
    GZIP z;
    bool done = z.DeflateInit(level) && z.DeflateData(in, out) && z.DeflateEnd(out);
    if (ok)
        *ok = done;
    return out;
}

BINARY GZIP::Inflate(BINARY const& in, bool* ok, int32_t maxOutput)
{
    BINARY out = EmptyPieceBuffer();
    GZIP z;
    if (z.InflateInit(maxOutput))
        z.InflateData(in, out);
    bool done = z.Status() == GZIP_STREAMEND;
    z.InflateEnd();
    if (!done)
        LOGIT("GZIP::Inflate incomplete, status= %d, %d bytes\n", static_cast<int>(z.Status()), out.Length());
    if (ok)
        *ok = done;
    return out;
}

bool GZIP::WriteFile(char const* path, BINARY const& data)
{
    LOGIT("GZIP::WriteFile %s (%d bytes)\n", path ? path : "<NULL>", data.Length());
    if (!path)
        return false;
    gzFile f = gzopen(path, "wb");
    if (!f)
        return false;
    bool ok = true;
    if (data.Length() > 0)
        ok = gzwrite(f, data.Buffer, static_cast<unsigned>(data.Length())) == data.Length();
    if (gzclose(f) != Z_OK)
        ok = false;
    LOGIT("GZIP::WriteFile returns %d\n", ok);
    return ok;
}

BINARY GZIP::ReadFile(char const* path, bool* ok, int32_t maxOutput)
{
    LOGIT("GZIP::ReadFile %s\n", path ? path : "<NULL>");
    BINARY out = EmptyPieceBuffer();
    if (ok)
        *ok = false;
    gzFile f = path ? gzopen(path, "rb") : nullptr;
    if (!f)
        return out;
    int32_t cap = ClampLimit(maxOutput);
    bool good = true;
    char piece[kPiece];
    for (;;) {
        int32_t want = std::clamp<int32_t>(cap - out.Length(), 1, kPiece);
        int n = gzread(f, piece, static_cast<unsigned>(want));
        if (n < 0) {
            good = false;
            break;
        }
        if (n == 0)
            break;
        if (out.Length() + n > cap) {
            LOGIT("GZIP::ReadFile stops at the limit of %d bytes\n", cap);
            good = false;
            break;
        }
        out.Append(piece, n);
    }
    // gzclose reports a file that ends inside its compressed stream.
    if (gzclose(f) != Z_OK)
        good = false;
    LOGIT("GZIP::ReadFile returns %d bytes, ok= %d\n", out.Length(), good);
    if (ok)
        *ok = good;
    return out;
}

bool GZIP::ZipFile(char const* source, char const* target)
{
    LOGIT("GZIP::ZipFile %s -> %s\n", source ? source : "<NULL>", target ? target : "<NULL>");
    if (!source || !target)
        return false;
    FILE* in = FILENAME::fsopen(source, "rb");
    if (!in)
        return false;
    char piece[kPiece];
    size_t n = fread(piece, 1, sizeof piece, in);
    if (n == 0) {
        // An empty or unreadable source gives no target.
        fclose(in);
        return false;
    }
    gzFile out = gzopen(target, "wb");
    if (!out) {
        fclose(in);
        return false;
    }
    bool ok = true;
    while (n > 0) {
        if (gzwrite(out, piece, static_cast<unsigned>(n)) != static_cast<int>(n)) {
            ok = false;
            break;
        }
        n = fread(piece, 1, sizeof piece, in);
    }
    if (ferror(in))
        ok = false;
    fclose(in);
    if (gzclose(out) != Z_OK)
        ok = false;
    LOGIT("GZIP::ZipFile returns %d\n", ok);
    return ok;
}

// ---------------------------------------------------------------- GZIPFILE

GZIPFILE::GZIPFILE(char const* fileName) : name(fileName, UNICODE_CPDEFAULT) {}

GZIPFILE::~GZIPFILE()
{
    if (hFile)
        Close();
}

bool GZIPFILE::openForWrite()
{
    if (hFile)
        Close();
    hFile = gzopen(name.Buf(), "wb");
    mode = hFile ? 'W' : 0;
    LOGIT("GZIPFILE::openForWrite %s returns %d\n", name.Buf(), hFile != nullptr);
    return hFile != nullptr;
}

bool GZIPFILE::openForRead()
{
    if (hFile)
        Close();
    hFile = gzopen(name.Buf(), "rb");
    mode = hFile ? 'R' : 0;
    LOGIT("GZIPFILE::openForRead %s returns %d\n", name.Buf(), hFile != nullptr);
    return hFile != nullptr;
}

int32_t GZIPFILE::WriteData(BINARY const& data)
{
    if (!ASSERTMSG(this->hFile, name.Buf()))
        return 0;
    if (data.Length() <= 0)
        return 0;
    int n = gzwrite(hFile, data.Buffer, static_cast<unsigned>(data.Length()));
    return n > 0 ? n : 0;
}

int32_t GZIPFILE::ReadData(int32_t length, BINARY& out)
{
    if (!ASSERTMSG(this->hFile, name.Buf()))
        return -1;
    if (!ASSERTMSG(length >= 0, name.Buf()))
        return -1;
    out.Make(length);
    int n = length > 0 ? gzread(hFile, out.Buffer, static_cast<unsigned>(length)) : 0;
    if (n == 0) {
        // A file that ends inside its compressed stream is an error, not
        // a clean end.
        int err = Z_OK;
        gzerror(hFile, &err);
        if (err == Z_BUF_ERROR)
            n = -1;
    }
    out.Cut(n > 0 ? n : 0);
    return n;
}

bool GZIPFILE::Close()
{
    if (!hFile)
        return false;
    int rc = gzclose(hFile);
    hFile = nullptr;
    mode = 0;
    LOGIT("GZIPFILE::Close %s rc= %d\n", name.Buf(), rc);
    return rc == Z_OK;
}
