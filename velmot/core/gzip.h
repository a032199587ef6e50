// Compression: zlib streams in memory and gzip files.
//
// GZIP compresses and decompresses BINARY buffers in the zlib format, either
// in one call or as a stream fed piece by piece, and reads, writes and
// compresses whole gzip files. GZIPFILE is one gzip file opened for reading
// or writing.
//
// Decompression is always bounded: a stream stops with GZIP_LIMIT once its
// output would pass the limit given to InflateInit (GZIP_DEFAULTLIMIT unless
// the caller names one), so a few kilobytes of hostile input cannot make the
// process allocate gigabytes. The one-call forms tell the caller whether the
// result is complete; a partial result is never reported as success.
#pragma once

#include "velmot/core/strings.h"
#include "velmot/core/vtypes.h"

struct z_stream_s;
struct gzFile_s;

// Output limit of a decompression unless the caller gives one (256 MiB).
constexpr int32_t GZIP_DEFAULTLIMIT = 256 * 1024 * 1024;
// The largest limit a caller may give: BINARY lengths are signed 32-bit.
constexpr int32_t GZIP_MAXLIMIT = 0x7FF00000;

// Outcome of the last stream step.
enum GZIPSTATUS : int32_t {
    GZIP_OK = 0,        // all input consumed, the stream goes on
    GZIP_STREAMEND = 1, // the compressed stream ended (decompression)
    GZIP_LIMIT = 2,     // decompression stopped at the output limit
    GZIP_ERROR = 3,     // zlib reported an error (corrupt data, no stream, no memory)
};

class VELMOT_EXPORT GZIP {
public:
    GZIP();
    ~GZIP();
    GZIP(GZIP const&) = delete;
    GZIP& operator=(GZIP const&) = delete;

    // Streams. Output is appended to `out` in pieces of 4096 bytes.
    bool DeflateInit(int level);
    bool DeflateData(BINARY const& in, BINARY& out);
    bool DeflateEnd(BINARY& out);
    bool InflateInit(int32_t limit = GZIP_DEFAULTLIMIT);
    bool InflateData(BINARY const& in, BINARY& out);
    bool InflateEnd();
    GZIPSTATUS Status() const { return status; }

    // One call. `ok` (when given) is true only for a complete result: for
    // Inflate, the stream ended within the limit without error.
    static BINARY Deflate(BINARY const& in, int level = 6, bool* ok = nullptr);
    static BINARY Inflate(BINARY const& in, bool* ok = nullptr, int32_t limit = GZIP_DEFAULTLIMIT);

    // Whole gzip files. WriteFile and ZipFile succeed only when every write
    // and the closing of the file succeed. ReadFile returns the content; `ok`
    // is false when the file cannot be opened, is corrupt or truncated, or
    // its content passes the limit.
    static bool WriteFile(char const* path, BINARY const& data);
    static BINARY ReadFile(char const* path, bool* ok = nullptr, int32_t limit = GZIP_DEFAULTLIMIT);
    static bool ZipFile(char const* source, char const* target);

private:
    bool Step(BINARY const& in, BINARY& out, bool deflating);

    z_stream_s* stream;
    bool deflateOpen = false;
    bool inflateOpen = false;
    GZIPSTATUS status = GZIP_OK;
    int32_t limit = GZIP_DEFAULTLIMIT; // output limit of the open decompression
    int64_t produced = 0;              // output of the open decompression so far
};

class VELMOT_EXPORT GZIPFILE {
public:
    explicit GZIPFILE(char const* name);
    ~GZIPFILE();
    GZIPFILE(GZIPFILE const&) = delete;
    GZIPFILE& operator=(GZIPFILE const&) = delete;

    bool openForWrite();
    bool openForRead();
    // Bytes written (all of `data` on success); 0 on error.
    int32_t WriteData(BINARY const& data);
    // At most `length` decompressed bytes; 0 at the end, negative on error.
    int32_t ReadData(int32_t length, BINARY& out);
    bool Close();

    char Mode() const { return mode; }
    STRING const& Name() const { return name; }

private:
    STRING name;
    gzFile_s* hFile = nullptr;
    char mode = 0;
};
