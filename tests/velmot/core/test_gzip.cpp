// Compression: zlib streams in memory and gzip files, checked against the
// gzip program and python3's zlib module as outside references.
#include "velmot/core/gzip.h"
#include "velmot/core/logit.h"
#include "tests/support/testutil.h"
#include "tests/velmot/core/assertrecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

std::vector<std::string>& gQuestions = testutil::AskedQuestions();

class Gzip : public ::testing::Test {
protected:
    testutil::QUESTIONHOOK questionhook_;

    TempDir dir;
};

BINARY Bin(std::string const& s)
{
    BINARY b;
    b.Make(static_cast<int32_t>(s.size()), s.data());
    return b;
}

std::string Str(BINARY const& b)
{
    return std::string(b.Buffer ? b.Buffer : "", static_cast<size_t>(b.Length()));
}

// Text-like data that compresses (repeated words) with random bytes mixed
// in, so the stream has both matches and literals.
std::string Sample(size_t size, unsigned seed = 1)
{
    static char const* words[] = {"terminal ", "session ", "host ", "\r\n", "transfer ", "\x00\xff", "key "};
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(size + 16);
    while (s.size() < size) {
        if (rng() % 8 == 0)
            s.push_back(static_cast<char>(rng()));
        else
            s += words[rng() % 7];
    }
    s.resize(size);
    return s;
}

std::string Python(std::string const& script, std::string const& input, int* rc = nullptr)
{
    std::string out;
    int status = RunProgram({"python3", "-c", script}, &out, input);
    if (rc)
        *rc = status;
    else
        EXPECT_EQ(0, status) << script;
    return out;
}

char const* const kPyDecompress = "import sys,zlib; sys.stdout.buffer.write(zlib.decompress(sys.stdin.buffer.read()))";
char const* const kPyCompress = "import sys,zlib; sys.stdout.buffer.write(zlib.compress(sys.stdin.buffer.read(), 9))";

} // namespace

TEST_F(Gzip, OneCallRoundTripsAgreeWithPythonZlib)
{
    struct CASE {
        char const* name;
        std::string data;
    };
    std::vector<CASE> cases = {
        {"empty", ""},
        {"short text", "Hello, terminal world!"},
        {"several megabytes", Sample(5 * 1024 * 1024 + 17)},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        bool ok = false;
        BINARY packed = GZIP::Deflate(Bin(c.data), 6, &ok);
        ASSERT_TRUE(ok);
        // Our stream is plain zlib format: python reads it ...
        EXPECT_EQ(c.data, Python(kPyDecompress, Str(packed)));
        BINARY back = GZIP::Inflate(packed, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(c.data, Str(back));
        // ... and we read python's.
        BINARY theirs = GZIP::Inflate(Bin(Python(kPyCompress, c.data)), &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(c.data, Str(theirs));
    }
}

TEST_F(Gzip, StreamingInPiecesFlushesWhatWasGiven)
{
    std::string data = Sample(300000, 7);
    GZIP deflater;
    ASSERT_TRUE(deflater.DeflateInit(9));
    GZIP inflater;
    ASSERT_TRUE(inflater.InflateInit());
    BINARY packed;
    std::string unpacked;
    std::mt19937 rng(3);
    size_t pos = 0;
    while (pos < data.size()) {
        size_t n = std::min<size_t>(data.size() - pos, 1 + rng() % 20000);
        BINARY piece;
        ASSERT_TRUE(deflater.DeflateData(Bin(data.substr(pos, n)), piece));
        pos += n;
        // The partial flush makes everything given so far readable at once.
        BINARY out;
        EXPECT_TRUE(inflater.InflateData(piece, out));
        unpacked += Str(out);
        EXPECT_EQ(data.substr(0, pos), unpacked);
        packed.Append(piece);
    }
    BINARY tail;
    EXPECT_TRUE(deflater.DeflateEnd(tail));
    packed.Append(tail);
    BINARY out;
    EXPECT_FALSE(inflater.InflateData(tail, out)); // the stream ends here
    EXPECT_EQ(GZIP_STREAMEND, inflater.Status());
    EXPECT_EQ(0, out.Length());
    EXPECT_EQ(data, Python(kPyDecompress, Str(packed)));

    // Fed byte by byte, the stream goes on until its last byte.
    GZIP bytewise;
    ASSERT_TRUE(bytewise.InflateInit());
    std::string slow;
    for (int32_t i = 0; i < packed.Length(); ++i) {
        BINARY one;
        one.Make(1, packed.Buffer + i);
        BINARY piece;
        bool goesOn = bytewise.InflateData(one, piece);
        slow += Str(piece);
        EXPECT_EQ(i + 1 < packed.Length(), goesOn) << i;
    }
    EXPECT_EQ(data, slow);
}

TEST_F(Gzip, InflateDataOfCompleteBufferEndsAndAppendsAll)
{
    std::string data = Sample(50000);
    BINARY packed = GZIP::Deflate(Bin(data), 6);
    GZIP z;
    ASSERT_TRUE(z.InflateInit());
    BINARY out = Bin("prefix:");
    EXPECT_FALSE(z.InflateData(packed, out));
    EXPECT_EQ(GZIP_STREAMEND, z.Status());
    EXPECT_EQ("prefix:" + data, Str(out));
    EXPECT_TRUE(z.InflateEnd());

    // Input and output may be one buffer: the output is appended behind it.
    GZIP same;
    ASSERT_TRUE(same.InflateInit());
    BINARY both = packed;
    EXPECT_FALSE(same.InflateData(both, both));
    EXPECT_EQ(Str(packed) + data, Str(both));
}

TEST_F(Gzip, InflateIsBoundedByTheLimit)
{
    // 64 MiB of zeros pack into about 64 KiB: a small bomb.
    std::string zeros(64 * 1024 * 1024, '\0');
    BINARY bomb = GZIP::Deflate(Bin(zeros), 9);
    ASSERT_LT(bomb.Length(), 100 * 1024);
    zeros.clear();

    struct CASE {
        int32_t limit;
        bool complete;
    };
    for (CASE c : {CASE{1 << 20, false}, CASE{64 * 1024 * 1024 - 1, false}, CASE{64 * 1024 * 1024, true}}) {
        SCOPED_TRACE(c.limit);
        bool ok = !c.complete;
        BINARY out = GZIP::Inflate(bomb, &ok, c.limit);
        EXPECT_EQ(c.complete, ok);
        EXPECT_LE(out.Length(), c.limit);
    }

    // The streaming form stops the same way, whatever the piece size.
    GZIP z;
    ASSERT_TRUE(z.InflateInit(100000));
    BINARY out;
    bool goesOn = true;
    for (int32_t pos = 0; goesOn && pos < bomb.Length(); pos += 1000) {
        BINARY piece;
        piece.Make(std::min(1000, bomb.Length() - pos), bomb.Buffer + pos);
        goesOn = z.InflateData(piece, out);
    }
    EXPECT_FALSE(goesOn);
    EXPECT_EQ(GZIP_LIMIT, z.Status());
    EXPECT_EQ(100000, out.Length());
    BINARY more;
    EXPECT_FALSE(z.InflateData(bomb, more)); // a stopped stream stays stopped
    EXPECT_EQ(0, more.Length());
}

TEST_F(Gzip, DamagedInputIsNotReportedAsComplete)
{
    std::string data = Sample(100000);
    BINARY packed = GZIP::Deflate(Bin(data), 6);

    bool ok = true;
    BINARY truncated = GZIP::Inflate(packed.Left(packed.Length() / 2), &ok);
    EXPECT_FALSE(ok);
    EXPECT_GT(truncated.Length(), 0);
    EXPECT_EQ(data.substr(0, static_cast<size_t>(truncated.Length())), Str(truncated));

    BINARY corrupt = packed;
    for (int32_t i = 100; i < 200; ++i)
        corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
    ok = true;
    GZIP::Inflate(corrupt, &ok);
    EXPECT_FALSE(ok);

    ok = true;
    GZIP::Inflate(Bin("this is not zlib data"), &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(gQuestions.empty()); // bad data is reported quietly
}

TEST_F(Gzip, MisuseIsReported)
{
    GZIP z;
    EXPECT_TRUE(z.DeflateInit(0)); // reported, then the nearest level is used
    ASSERT_EQ(1u, gQuestions.size());
    EXPECT_NE(std::string::npos, gQuestions[0].find("compresslevel>=1 && compresslevel<=9"));
    BINARY out;
    EXPECT_TRUE(z.DeflateData(Bin("abc"), out));
    EXPECT_TRUE(z.DeflateEnd(out));
    EXPECT_EQ("abc", Str(GZIP::Inflate(out)));

    GZIP idle;
    BINARY nothing;
    EXPECT_FALSE(idle.InflateData(Bin("x"), nothing));
    EXPECT_FALSE(idle.DeflateData(Bin("x"), nothing));
    EXPECT_FALSE(idle.DeflateEnd(nothing));
    EXPECT_EQ(3u, gQuestions.size());
}

TEST_F(Gzip, FilesWrittenHerePassGzipAndZcat)
{
    for (std::string const& data : {std::string(), std::string("one line\n"), Sample(3 * 1024 * 1024, 5)}) {
        SCOPED_TRACE(data.size());
        std::string path = dir.file("written.gz");
        ASSERT_TRUE(GZIP::WriteFile(path.c_str(), Bin(data)));
        EXPECT_EQ(0, RunProgram({"gzip", "-t", path}));
        std::string out;
        EXPECT_EQ(0, RunProgram({"zcat", path}, &out));
        EXPECT_EQ(data, out);
        bool ok = false;
        EXPECT_EQ(data, Str(GZIP::ReadFile(path.c_str(), &ok)));
        EXPECT_TRUE(ok);
    }
}

TEST_F(Gzip, FilesMadeByGzipAreRead)
{
    std::string data = Sample(1024 * 1024 + 3, 9);
    std::string plain = dir.file("plain.txt");
    WriteFile(plain, data);
    std::string packed;
    ASSERT_EQ(0, RunProgram({"gzip", "-c", "-9", plain}, &packed));
    std::string path = dir.file("made.gz");
    WriteFile(path, packed);
    bool ok = false;
    EXPECT_EQ(data, Str(GZIP::ReadFile(path.c_str(), &ok)));
    EXPECT_TRUE(ok);

    // Two members one after the other read as one content, as zcat does.
    std::string second;
    ASSERT_EQ(0, RunProgram({"gzip", "-c"}, &second, "tail\n"));
    WriteFile(path, packed + second);
    EXPECT_EQ(data + "tail\n", Str(GZIP::ReadFile(path.c_str(), &ok)));
    EXPECT_TRUE(ok);

    GZIPFILE file(path.c_str());
    ASSERT_TRUE(file.openForRead());
    EXPECT_EQ('R', file.Mode());
    std::string pieces;
    BINARY out;
    int32_t n = 0;
    for (int guard = 0; guard < 10000 && (n = file.ReadData(1000, out)) > 0; ++guard) {
        EXPECT_EQ(n, out.Length());
        pieces += Str(out);
    }
    EXPECT_EQ(0, n);
    EXPECT_EQ(0, out.Length()); // at the end: nothing, and out is empty
    EXPECT_EQ(data + "tail\n", pieces);
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(0, file.Mode());
}

TEST_F(Gzip, BadFilesAreNotReportedAsGood)
{
    std::string data = Sample(200000, 4);
    // Large inputs go to gzip as files: it writes while it reads, and a pipe
    // in both directions could fill up.
    std::string plain = dir.file("plain.bin");
    WriteFile(plain, data);
    std::string good;
    ASSERT_EQ(0, RunProgram({"gzip", "-c", plain}, &good));
    std::string path = dir.file("bad.gz");

    struct CASE {
        char const* name;
        std::string content;
        int32_t limit;
    };
    std::vector<CASE> cases = {
        {"truncated", good.substr(0, good.size() / 2), GZIP_DEFAULTLIMIT},
        {"crc damaged", good.substr(0, good.size() - 8) + std::string(4, 'x') + good.substr(good.size() - 4),
         GZIP_DEFAULTLIMIT},
        {"over the limit", good, 1000},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(path, c.content);
        bool ok = true;
        BINARY out = GZIP::ReadFile(path.c_str(), &ok, c.limit);
        EXPECT_FALSE(ok);
        EXPECT_LE(out.Length(), c.limit);
    }

    // The piecewise reader sees the truncation as an error, not an end.
    WriteFile(path, good.substr(0, good.size() / 2));
    GZIPFILE file(path.c_str());
    ASSERT_TRUE(file.openForRead());
    BINARY out;
    int32_t n = 0;
    for (int guard = 0; guard < 10000 && (n = file.ReadData(4096, out)) > 0; ++guard) {
    }
    EXPECT_LT(n, 0);
    EXPECT_FALSE(file.Close());

    bool ok = true;
    BINARY missing = GZIP::ReadFile(dir.file("missing.gz").c_str(), &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(0, missing.Length());
    EXPECT_TRUE(gQuestions.empty());
}

TEST_F(Gzip, ZipFileCompressesWholeFiles)
{
    std::string data = Sample(2 * 1024 * 1024 + 1, 11);
    std::string source = dir.file("source.bin");
    std::string target = dir.file("source.bin.gz");
    WriteFile(source, data);
    ASSERT_TRUE(GZIP::ZipFile(source.c_str(), target.c_str()));
    EXPECT_EQ(0, RunProgram({"gzip", "-t", target}));
    std::string out;
    EXPECT_EQ(0, RunProgram({"zcat", target}, &out));
    EXPECT_EQ(data, out);

    std::string empty = dir.file("empty.txt");
    WriteFile(empty, "");
    EXPECT_FALSE(GZIP::ZipFile(empty.c_str(), dir.file("empty.gz").c_str()));
    EXPECT_FALSE(GZIP::ZipFile(dir.file("missing").c_str(), dir.file("missing.gz").c_str()));
    EXPECT_FALSE(GZIP::ZipFile(source.c_str(), dir.file("no/such/folder.gz").c_str()));
}

TEST_F(Gzip, WriteFailuresAreReported)
{
    // /dev/full accepts the open and fails every write, so the failure shows
    // up only when the compressed data is flushed at the close.
    std::string data = Sample(100000, 2);
    EXPECT_FALSE(GZIP::WriteFile("/dev/full", Bin(data)));
    EXPECT_FALSE(GZIP::WriteFile(dir.file("no/such/folder.gz").c_str(), Bin(data)));
    std::string source = dir.file("source.bin");
    WriteFile(source, data);
    EXPECT_FALSE(GZIP::ZipFile(source.c_str(), "/dev/full"));

    GZIPFILE full("/dev/full");
    ASSERT_TRUE(full.openForWrite());
    EXPECT_EQ('W', full.Mode());
    full.WriteData(Bin(data));
    EXPECT_FALSE(full.Close());
    EXPECT_TRUE(gQuestions.empty());
}

TEST_F(Gzip, GzipFileWritesInPieces)
{
    std::string path = dir.file("pieces.gz");
    GZIPFILE file(path.c_str());
    EXPECT_FALSE(file.Close()); // not open
    ASSERT_TRUE(file.openForWrite());
    std::string all;
    for (int i = 0; i < 50; ++i) {
        std::string piece = Sample(static_cast<size_t>(i) * 997, static_cast<unsigned>(i));
        EXPECT_EQ(static_cast<int32_t>(piece.size()), file.WriteData(Bin(piece)));
        all += piece;
    }
    EXPECT_TRUE(file.Close());
    std::string out;
    EXPECT_EQ(0, RunProgram({"zcat", path}, &out));
    EXPECT_EQ(all, out);

    GZIPFILE closed(path.c_str());
    BINARY buffer;
    EXPECT_EQ(0, closed.WriteData(Bin("x")));
    EXPECT_LT(closed.ReadData(10, buffer), 0);
    EXPECT_EQ(2u, gQuestions.size()); // both name the missing file handle
}
