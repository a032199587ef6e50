// The session log: capture file, audit log, printer logging, calls log.
#include "program/session/logging.h"

#include "program/screen/codepagetext.h"
#include "program/session/session.h"
#include "program/settings/adminopts.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/tarvo.h"
#include "velmot/core/workdir.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

char const* const LOGGING::CALLSLOGHEADER = "// C+ = connection start (host name) \n"
                                            "// C# = called host\n"
                                            "// UL = upload (name, size, duration, cps)\n"
                                            "// DL = download (name, size, duration, cps)\n"
                                            "// C- = connection end\n"
                                            "// (N/A means 'not available')\n";

namespace {

constexpr size_t kNameMax = 260;
// What the capture state keeps of the current line for backspaces.
constexpr size_t kTailKeep = 256;

void RealLocalTime(int* hour, int* minute, int* second, int* tenths)
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

void TrimTail(std::string& tail)
{
    if (tail.size() > 2 * kTailKeep)
        tail.erase(0, tail.size() - kTailKeep);
}

std::string FilePartOf(std::string const& path)
{
    size_t const slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

LOGGING::LOGGING(SESSION& session) : LocalTime(RealLocalTime), Session(session) {}

LOGGING::~LOGGING()
{
    MUTEXLOCK lock(FileLock);
    CloseCapture();
    Audit.Close();
}

// ---------------------------------------------------------------------------
// Names

std::string LOGGING::Expand(char const* text, size_t max)
{
    std::vector<char> buf(max + 1, 0);
    snprintf(buf.data(), buf.size(), "%s", text ? text : "");
    // A stored secret never becomes part of a file name.
    cptext::DropCredentialCodes(buf.data());
    int const n = std::clamp(Session.MakeCtrl(buf.data(), static_cast<int>(buf.size())), 0, static_cast<int>(max));
    std::string out(buf.data(), static_cast<size_t>(n));
    out.erase(std::find(out.begin(), out.end(), '\0'), out.end());
    return out;
}

std::string LOGGING::CaptureFolder()
{
    FILENAME folder(WORKDIR::GetCurrent().Buf(), Session.Settings.data.CapturePath);
    return folder.Buf();
}

void LOGGING::MakeCurrentName()
{
    MUTEXLOCK lock(FileLock);
    Current = Expand(Template.c_str(), kNameMax);
    FilePart = FilePartOf(Current);
    // Minutes (^5) and seconds (^6) are not followed.
    std::string track = Template;
    for (char const* code : {"^5", "^6"}) {
        for (size_t at = track.find(code); at != std::string::npos; at = track.find(code, at + 2))
            track[at] = '#';
    }
    Tracking = Expand(track.c_str(), kNameMax);
}

int LOGGING::SetLogname(char const* name, signed char force)
{
    std::string part;
    if (name) {
        part = name;
    } else {
        MUTEXLOCK lock(FileLock);
        part = FilePartOf(Template);
    }
    if (part.empty())
        return 0;
    FILENAME full(WORKDIR::GetCurrent().Buf(), Session.Settings.data.CapturePath, part.c_str());
    std::string tpl = full.Buf();
    if (tpl.size() > kNameMax)
        tpl.resize(kNameMax);
    bool same = false;
    {
        MUTEXLOCK lock(FileLock);
        if (!force && tpl == Template)
            return 0;
        Template = tpl;
        MakeCurrentName();
        // A file open under the same name goes on: closing and opening it
        // again would start it anew.
        same = Capture.IsOpen() && OpenPath == Current;
    }
    if (!same)
        SetFileLogging(0);
    bool const ok = SetFileLogging(Session.Prof.data.CaptStatus);
    if (!ok && Session.Prof.data.CaptStatus)
        Session.Prof.data.CaptStatus = 0;
    RefreshStatus();
    return ok ? 1 : 0;
}

void LOGGING::TrackLogname()
{
    std::string tpl;
    {
        MUTEXLOCK lock(FileLock);
        if (Template.empty())
            return;
        std::string const before = Tracking;
        MakeCurrentName();
        if (Tracking == before)
            return;
        tpl = Template;
    }
    SetLogname(tpl.c_str(), 1);
}

void LOGGING::QueryLogname(char* buffer, int size)
{
    if (!buffer || size <= 0)
        return;
    MUTEXLOCK lock(FileLock);
    if (Error)
        snprintf(buffer, static_cast<size_t>(size), "%s", OSYS::GetStringFromResource("IDS_LOGFILEERROR").Buf());
    else
        snprintf(buffer, static_cast<size_t>(size), "%s", FilePart.c_str());
}

// ---------------------------------------------------------------------------
// The capture file

bool LOGGING::AskReplace(std::string const& path)
{
    if (Session.Unattended() || !TARVOAPP::IsMainThread())
        return false;
    STRING text;
    text.Format(OSYS::GetStringFromResource("IDS_CAPT_REPLACE").Buf(), path.c_str());
    return Session.Host.YesNoRequest("QOR", text.Buf());
}

void LOGGING::RefreshStatus()
{
    if (TARVOAPP::IsMainThread())
        Session.UpdateStatusbar(false);
}

void LOGGING::Report(std::string const& path, int err)
{
    LOGIT("LOGGING: %s: %s\n", path.c_str(), strerror(err));
    STRING text;
    text.Format(OSYS::GetStringFromResource("IDS_LOGWRITEERROR").Buf(), path.c_str(), strerror(err));
    Session.Notify(text.Buf(), 0x60);
}

void LOGGING::CloseCapture()
{
    MUTEXLOCK lock(FileLock);
    if (!Capture.IsOpen())
        return;
    int64_t const size = Capture.Size();
    if (!Capture.Close())
        Report(OpenPath, Capture.Error());
    // Only an empty file this session made goes.
    if (NewFile && size == 0 && !OpenPath.empty()) {
        unlink(OpenPath.c_str());
        Created.erase(OpenPath);
    }
    OpenPath.clear();
    NewFile = false;
}

void LOGGING::CaptureFailed()
{
    std::string const path = OpenPath;
    int const err = Capture.Error();
    Capture.Close();
    OpenPath.clear();
    NewFile = false;
    Error = true;
    Session.Prof.data.CaptStatus = 0;
    Report(path, err);
}

void LOGGING::AuditFailed()
{
    int const err = Audit.Error();
    Audit.Close();
    Report(AuditName, err);
}

bool LOGGING::SetFileLogging(signed char on, bool byHost)
{
    LOGIT("LOGGING::SetFileLogging status= %d\n", on);
    ADMINOPTS const* admin = Session.Host.AdminOptions();
    if (on && admin && admin->DisableLogging) {
        LOGIT("LOGGING::SetFileLogging AdminOpts.DisableLogging set, force status off\n");
        on = 0;
    }
    // Whether an existing file may be replaced is asked without the lock.
    bool replace = false;
    if (on && !Session.Prof.data.CaptAppend) {
        std::string name;
        bool already = false, ours = false;
        {
            MUTEXLOCK lock(FileLock);
            MakeCurrentName();
            name = Current;
            already = Capture.IsOpen() && OpenPath == Current;
            ours = Created.count(name) != 0;
        }
        struct stat st {};
        if (!already && !name.empty())
            replace = lstat(name.c_str(), &st) != 0 || ours || (!byHost && AskReplace(name));
    }
    bool open = false;
    std::string shown;
    {
        MUTEXLOCK lock(FileLock);
        MakeCurrentName();
        if (on) {
            if (Capture.IsOpen() && OpenPath == Current) {
                Error = false;
            } else {
                CloseCapture();
                bool created = false;
                bool ok = !Current.empty() && LOGFILE::MakeFolderOf(Current);
                int err = ok ? 0 : (errno ? errno : ENOENT);
                if (ok) {
                    ok = Capture.Open(Current, replace ? LOGFILE::MODE::TRUNCATE : LOGFILE::MODE::APPEND, &created);
                    err = Capture.Error();
                }
                if (ok) {
                    OpenPath = Current;
                    NewFile = created;
                    if (created)
                        Created.insert(Current);
                    Line = CAPTURESTATE{};
                    Error = false;
                } else {
                    LOGIT("LOGGING::SetFileLogging open error, err= %d/%s\n", err, strerror(err));
                    NewFile = false;
                    Error = true;
                    Report(Current, err);
                }
            }
        } else {
            CloseCapture();
            Error = false;
        }
        open = Capture.IsOpen();
        shown = Current;
    }
    RefreshStatus();
    LOGIT("LOGGING::SetFileLogging done current name= %s, handle= %p\n", shown.c_str(),
          static_cast<void const*>(open ? &Capture : nullptr));
    return open;
}

bool LOGGING::PutCapture(LOGFILE& file, CAPTURESTATE& st, char const* p, size_t n, bool timeMarks, bool utf8,
                         LOCALTIME const& clock)
{
    if (n == 0)
        return true;
    bool const hasBs = memchr(p, 8, n) != nullptr;
    bool const hasLine = memchr(p, 13, n) != nullptr || memchr(p, 10, n) != nullptr;
    bool const stamp = timeMarks && (hasLine || st.LineStart);
    if (!stamp && !hasBs) {
        // The whole text at once; the line state follows its last line.
        size_t last = n;
        while (last > 0 && p[last - 1] != 13 && p[last - 1] != 10)
            --last;
        if (last > 0) {
            st.LineBytes = static_cast<int64_t>(n - last);
            st.Tail.assign(p + last, std::min(n - last, kTailKeep));
        } else {
            st.LineBytes += static_cast<int64_t>(n);
            st.Tail.append(p, std::min(n, 2 * kTailKeep));
            TrimTail(st.Tail);
        }
        return file.Write(p, n);
    }
    size_t run = 0; // start of the bytes not written yet
    auto flush = [&](size_t upto) {
        bool const ok = upto <= run || file.Write(p + run, upto - run);
        run = upto;
        return ok;
    };
    for (size_t i = 0; i < n; ++i) {
        auto const b = static_cast<unsigned char>(p[i]);
        if (b == 8) {
            if (!flush(i))
                return false;
            run = i + 1;
            // Only what this session wrote on this line is taken back; in
            // UTF-8 a whole character.
            if (st.LineBytes > 0) {
                size_t k = 1;
                if (utf8 && !st.Tail.empty()) {
                    size_t j = st.Tail.size() - 1;
                    while (j > 0 && (static_cast<unsigned char>(st.Tail[j]) & 0xC0) == 0x80 && st.Tail.size() - j < 4)
                        --j;
                    k = st.Tail.size() - j;
                }
                k = std::min<size_t>(k, static_cast<size_t>(st.LineBytes));
                if (!file.Rewind(k) || (utf8 && !file.Cut()))
                    return false;
                st.LineBytes -= static_cast<int64_t>(k);
                st.Tail.resize(st.Tail.size() - std::min(k, st.Tail.size()));
            }
            continue;
        }
        if (stamp) {
            if (b == 13 || b == 10) {
                st.LineStart = true;
            } else if (st.LineStart) {
                if (!flush(i))
                    return false;
                int h = 0, m = 0, s = 0, t = 0;
                clock(&h, &m, &s, &t);
                char mark[40];
                int const len = snprintf(mark, sizeof mark, "[%02d:%02d:%02d.%01d] ", h, m, s, t);
                if (!file.Write(mark, static_cast<size_t>(std::clamp(len, 0, 39))))
                    return false;
                st.LineStart = false;
            }
        } else {
            st.LineStart = false;
        }
        if (b == 13 || b == 10) {
            st.LineBytes = 0;
            st.Tail.clear();
        } else {
            ++st.LineBytes;
            st.Tail.push_back(static_cast<char>(b));
            TrimTail(st.Tail);
        }
    }
    return flush(n);
}

// ---------------------------------------------------------------------------
// Writing

int LOGGING::Log(char const* text, int len)
{
    if (!text)
        return 0;
    size_t const n = len < 0 ? strlen(text) : static_cast<size_t>(len);
    std::wstring wide;
    cptext::Decode(wide, text, n, Session.Prof.data.CodePage);
    return LogWide(wide.c_str(), static_cast<int>(wide.size()));
}

int LOGGING::LogWide(wchar_t const* text, int len)
{
    if (!text)
        return 0;
    long const n = len < 0 ? static_cast<long>(wcslen(text)) : len;
    MUTEXLOCK lock(WriteLock);
    PutFile(text, n);
    PutPrinter(text, n);
    Session.Capture.PutBuf(text, n);
    return 1;
}

void LOGGING::PutFile(wchar_t const* text, long len)
{
    if (!text || len <= 0)
        return;
    SESSIONPROFILEDATA const& p = Session.Prof.data;
    bool const utf8 = cptext::IsUtf8(p.CodePage);
    std::string bytes;
    cptext::Encode(bytes, text, static_cast<size_t>(len), p.CodePage);
    size_t const n = bytes.size();
    char const* data = bytes.data();
    bool const hostSwitch = p.CaptDc2Dc4 && (memchr(data, 18, n) || memchr(data, 20, n));
    MUTEXLOCK lock(FileLock);
    auto put = [&](size_t from, size_t to) {
        if (to > from && Capture.IsOpen() &&
            !PutCapture(Capture, Line, data + from, to - from, p.CaptTimeMarks != 0, utf8, LocalTime))
            CaptureFailed();
    };
    if (hostSwitch) {
        // The host switches the capture: DC2 on, DC4 off; neither is written.
        size_t from = 0;
        for (size_t i = 0; i < n; ++i) {
            if (data[i] != 18 && data[i] != 20)
                continue;
            put(from, i);
            from = i + 1;
            if (data[i] == 18) {
                bool const open = SetFileLogging(1, true);
                Session.Prof.data.CaptStatus = open ? 2 : 0;
            } else {
                SetFileLogging(0);
                Session.Prof.data.CaptStatus = 0;
            }
        }
        put(from, n);
    } else {
        put(0, n);
    }
    if (Audit.IsOpen() && !Audit.Write(data, n))
        AuditFailed();
    if (Capture.IsOpen())
        LastWrite = static_cast<long long>(OSYS::GetLTime());
}

void LOGGING::PutPrinter(wchar_t const* text, long len)
{
    MUTEXLOCK lock(WriteLock);
    if (PrinterJob && text && len > 0)
        Session.PrinterWriteWide(PrinterJob, text, static_cast<int>(len));
}

void LOGGING::FlushFiles()
{
    MUTEXLOCK lock(FileLock);
    if (Capture.IsOpen() && Capture.Dirty() && !Capture.Flush())
        CaptureFailed();
    if (Audit.IsOpen() && Audit.Dirty() && !Audit.Flush())
        AuditFailed();
}

// ---------------------------------------------------------------------------
// Audit log, printer logging

bool LOGGING::SetAuditLogname(char const* name)
{
    LOGIT("LOGGING::SetAuditLogname %s\n", name ? name : "");
    ADMINOPTS const* admin = Session.Host.AdminOptions();
    std::string const fixed = admin ? admin->AuditLogFilename : "";
    MUTEXLOCK lock(FileLock);
    if (!fixed.empty() && Audit.IsOpen() && (!name || fixed != name)) {
        LOGIT("LOGGING::SetAuditLogname refused: the administrator names the audit log\n");
        return false;
    }
    if (Audit.IsOpen() && !Audit.Close())
        Report(AuditName, Audit.Error());
    if (!name || !*name)
        return true;
    std::string const expanded = Expand(name, 256);
    FILENAME full(WORKDIR::GetCurrent().Buf(), Session.Settings.data.CapturePath, expanded.c_str());
    AuditName = full.Buf();
    bool const ok = LOGFILE::MakeFolderOf(AuditName) && Audit.Open(AuditName, LOGFILE::MODE::APPEND);
    LOGIT("LOGGING::SetAuditLogname %s ok= %d\n", AuditName.c_str(), ok ? 1 : 0);
    if (!ok)
        Report(AuditName, Audit.Error() ? Audit.Error() : errno);
    return ok;
}

void LOGGING::CloseAuditLog()
{
    MUTEXLOCK lock(FileLock);
    if (Audit.IsOpen() && !Audit.Close())
        Report(AuditName, Audit.Error());
}

void LOGGING::SetPrinterLogging(signed char on)
{
    MUTEXLOCK lock(WriteLock);
    if (on) {
        if (!PrinterJob)
            PrinterJob = Session.PrinterOpen(0);
        return;
    }
    if (!PrinterJob)
        return;
    Session.PrinterClose(PrinterJob);
    PrinterJob = nullptr;
    Session.Notify(OSYS::GetStringFromResource("IDS_PRINTING_ENDS").Buf(), 0);
}

bool LOGGING::PrinterLogging()
{
    MUTEXLOCK lock(WriteLock);
    return PrinterJob != nullptr;
}

// ---------------------------------------------------------------------------
// The calls log

void LOGGING::CallsLogEntry(char const* line)
{
    char const* setting = Session.Settings.data.CallingLogFile;
    if (!line || !setting || !*setting)
        return;
    std::string const name = Expand(setting, kNameMax);
    FILENAME full(WORKDIR::GetCurrent().Buf(), Session.Settings.data.CapturePath, name.c_str());
    std::string const path = full.Buf();
    LOGFILE::MakeFolderOf(path);
    // Several sessions and programs append to the one file: each line goes
    // whole at the end, under a lock that also covers the header check.
    int fd = -1;
    int err = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            break;
        err = errno;
        std::this_thread::sleep_for(std::chrono::milliseconds(CallsLogRetryMs));
    }
    if (fd < 0) {
        STRING text;
        text.Format("%s%s\r(%s)", OSYS::GetStringFromResource("IDS_CANT_OPEN_CALL_LOG").Buf(), path.c_str(),
                    strerror(err));
        Session.ErrorMsg(text.Buf());
        return;
    }
    flock(fd, LOCK_EX);
    struct stat st {};
    std::string text;
    if (fstat(fd, &st) == 0 && st.st_size == 0)
        text = CALLSLOGHEADER;
    text += line;
    bool ok = true;
    for (size_t at = 0; at < text.size();) {
        ssize_t const n = write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            err = n < 0 ? errno : ENOSPC;
            break;
        }
        at += static_cast<size_t>(n);
    }
    flock(fd, LOCK_UN);
    close(fd);
    if (!ok)
        Report(path, err);
}

// ---------------------------------------------------------------------------
// Deleting logs

void LOGGING::DeleteLogfiles(char const* path)
{
    std::vector<std::string> files;
    if (path) {
        files.emplace_back(path);
    } else {
        std::string const folder = CaptureFolder();
        files = Session.Host.AskFilenames(OSYS::GetStringFromResource("IDS_SELECTCAPTDELETE").Buf(), folder.c_str());
    }
    for (std::string const& file : files) {
        {
            // The open capture file is closed first: nothing is written
            // into a file that is gone.
            MUTEXLOCK lock(FileLock);
            if (Capture.IsOpen() && OpenPath == file) {
                CloseCapture();
                Session.Prof.data.CaptStatus = 0;
            }
        }
        if (unlink(file.c_str()) != 0) {
            STRING text;
            text.Format(OSYS::GetStringFromResource("IDS_CANT_DELETE").Buf(), file.c_str());
            Session.ErrorMsg(text.Buf());
        }
    }
    RefreshStatus();
}

// ---------------------------------------------------------------------------
// State

bool LOGGING::IsFileOpen()
{
    MUTEXLOCK lock(FileLock);
    return Capture.IsOpen();
}

bool LOGGING::InError()
{
    MUTEXLOCK lock(FileLock);
    return Error;
}

std::string LOGGING::OpenName()
{
    MUTEXLOCK lock(FileLock);
    return OpenPath;
}

std::string LOGGING::CurrentName()
{
    MUTEXLOCK lock(FileLock);
    return Current;
}

bool LOGGING::IsAuditOpen()
{
    MUTEXLOCK lock(FileLock);
    return Audit.IsOpen();
}
