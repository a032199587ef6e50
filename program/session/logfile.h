// LOGFILE: one output file of the session's logs and traces (capture file,
// audit log, calls log, text and binary traces).
//
// Files are created with mode 0600 and never followed through a symbolic
// link (O_NOFOLLOW); an existing file keeps its mode. Bytes collect in a
// 32 KB buffer and reach the file when it is full, on Flush (the session's
// one-second tick) and on Close, so a busy stream costs no system call per
// block and a crash loses at most what came since the last tick.
//
// The write position may move back (a received backspace): the next bytes
// overwrite the last ones, in the buffer or, once they were written, in the
// file. The file's end stays where the furthest byte went.
//
// The first failing write (disk full, a file size limit, any error) is kept
// in Error(); the caller closes the file and tells the user. Not locked:
// the owner's lock covers every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

class LOGFILE {
public:
    enum class MODE {
        APPEND,   // keep the content, write after its end
        TRUNCATE, // start empty
    };
    static constexpr size_t BUFSIZE = 32768;

    LOGFILE() = default;
    ~LOGFILE();
    LOGFILE(LOGFILE const&) = delete;
    LOGFILE& operator=(LOGFILE const&) = delete;

    // Opens the file (its folder must exist); *created tells whether this
    // call made it. False with Error() set when it cannot be opened or is
    // not a regular file.
    bool Open(std::string const& path, MODE mode, bool* created = nullptr);
    bool IsOpen() const { return Fd >= 0; }
    std::string const& Path() const { return Name; }

    bool Write(void const* data, size_t len);
    bool Write(std::string const& text) { return Write(text.data(), text.size()); }
    // Moves the write position back by n bytes (not before 0).
    bool Rewind(size_t n);
    // Cuts the file at the write position (what a backspace took back in
    // UTF-8, where a shorter character would leave part of a longer one).
    bool Cut();
    // Writes the buffer out; true when nothing was lost.
    bool Flush();
    // Something was written since the last flush.
    bool Dirty() const { return BufLen > 0; }
    // Flushes and closes; true when every byte reached the file.
    bool Close();

    // The file's size counting the buffer, and the write position.
    int64_t Size() const;
    int64_t Position() const { return Pos; }
    // The errno of the first failure since Open (0: none).
    int Error() const { return Err; }

    // The write under every file (pwrite); tests put a failing one here.
    using WRITEFN = ssize_t (*)(int fd, void const* data, size_t len, off_t offset);
    static void SetWriteFunction(WRITEFN fn);

    // Makes the missing folders of a file's path with mode 0700; true when
    // the folder exists afterwards.
    static bool MakeFolderOf(std::string const& path);

private:
    bool WriteAt(char const* data, size_t len, int64_t offset);
    void Fail(int err);

    int Fd = -1;
    std::string Name;
    int Err = 0;
    int64_t FileEnd = 0;  // bytes in the file
    int64_t Pos = 0;      // where the next byte goes
    int64_t BufStart = 0; // file offset of Buf[0]
    size_t BufLen = 0;    // bytes of Buf in use
    char* Buf = nullptr;
};
