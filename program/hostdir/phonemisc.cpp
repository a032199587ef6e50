// Auto-login (compiling, watching), learned logins, host entries from
// connection data, and the search of the window.
#include "program/hostdir/phonemisc.h"

#include "program/hostdir/phonebook.h"
#include "program/hostdir/phonetext.h"
#include "program/session/session.h"

#include "velmot/core/logit.h"
#include "velmot/core/osys.h"
#include "velmot/core/osysfile.h"
#include "velmot/core/wstring.h"

#include "platform/events/timers.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwctype>
#include <cstdint>

namespace {

constexpr char const* kIemsiRequest = "**EMSI_IRQ8E08";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// A value put into a send text: its carets doubled, so that the control
// notation of the text leaves it as it is.
std::string Literal(char const* value, size_t max)
{
    std::string out;
    for (size_t i = 0; i < max && value[i]; ++i) {
        out.push_back(value[i]);
        if (value[i] == '^')
            out.push_back('^');
    }
    return out;
}

void ReplaceAll(std::string& text, std::string const& from, std::string const& to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

std::string NarrowName(wchar_t const* name, size_t max)
{
    std::string out;
    for (size_t i = 0; i < max && name[i]; ++i)
        out.push_back(name[i] < 256 ? static_cast<char>(name[i]) : '?');
    return out;
}

// The control notation that ends a learned send text ("^M", a CR).
size_t TrailingNotation(std::string const& text)
{
    size_t end = text.size();
    for (;;) {
        if (end >= 2 && text[end - 2] == '^' && (text[end - 1] == 'M' || text[end - 1] == 'J' ||
                                                 text[end - 1] == 'm' || text[end - 1] == 'j'))
            end -= 2;
        else if (end >= 1 && (text[end - 1] == '\r' || text[end - 1] == '\n'))
            end -= 1;
        else
            break;
    }
    return end;
}

bool ContainsNoCase(std::string const& text, char const* word)
{
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return lower.find(word) != std::string::npos;
}

} // namespace

// ---------------------------------------------------------------------------
// Compiling

int PHONEBOOK::WaitSendToAutoLogin(_PHONEBOOK_300 const& entry, SESSION&, char* out, char** items, int maxItems)
{
    return CompileWaitSend(entry, out, items, maxItems);
}

int PHONEBOOK::CompileWaitSend(_PHONEBOOK_300 const& entry, char* out, char** items, int maxItems)
{
    if (!out || !items || maxItems < 1)
        return 0;
    out[0] = 0;
    items[0] = nullptr;
    char const* text = entry.waitsend;
    size_t const length = strnlen(text, sizeof entry.waitsend);
    std::string list;
    bool itemStart = true;
    char lastKey = 'W';
    int counter = 0;
    for (size_t i = 0; i < length; ++i) {
        char const c = text[i];
        if (c == '\r')
            continue;
        if (c == '\n' || c == '|') {
            list += '|';
            itemStart = true;
            continue;
        }
        if (itemStart && IsBlank(c))
            continue;
        if (lastKey == 'W' && c == '^' && i + 1 < length) {
            char const k = text[++i];
            if (k == '^') {
                list += '^';
            } else {
                // The control character of the pair; a pair that would give
                // NUL would end the text and is dropped.
                char const ctrl = static_cast<char>(k & 31);
                if (ctrl)
                    list += ctrl;
            }
            continue;
        }
        list += c;
        if (!itemStart)
            continue;
        if (strncasecmp(text + i, "wait=", 5) == 0 || strncasecmp(text + i, "send=", 5) == 0)
            i += 3;
        char const key = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        if ((key == 'W' || key == 'S') && i + 1 < length && text[i + 1] == '=') {
            list.back() = key;
            if (key == 'W')
                ++counter;
            list += std::to_string(counter);
        }
        lastKey = key;
        itemStart = false;
    }
    // The user name and the password go into the send texts as they are:
    // their carets are doubled so that the control notation does not turn
    // "^M" in a password into a line end. An empty one leaves nothing.
    ReplaceAll(list, "^%", Literal(entry.username, sizeof entry.username));
    ReplaceAll(list, "^&", Literal(entry.password, sizeof entry.password));
    size_t const b = list.find_first_not_of('|');
    size_t const e = list.find_last_not_of('|');
    list = b == std::string::npos ? std::string() : list.substr(b, e - b + 1);
    if (list.size() >= static_cast<size_t>(PHONEAUTOLOGIN::BUFSIZE)) {
        // A list that does not fit is not cut (a cut could send half a
        // password): the entry does not log in by itself.
        LOGIT("PHONEBOOK::WaitSendToAutoLogin: the list of %zu bytes does not fit, no automatic login\n",
              list.size());
        explicit_bzero(list.data(), list.size());
        return 0;
    }
    memcpy(out, list.data(), list.size());
    out[list.size()] = 0;
    explicit_bzero(list.data(), list.size());
    int n = 0;
    if (out[0]) {
        char* p = out;
        while (p && n < maxItems) {
            items[n++] = p;
            p = strchr(p, '|');
            if (p)
                *p++ = 0;
        }
    }
    if (n < maxItems)
        items[n] = nullptr;
    return n;
}

// ---------------------------------------------------------------------------
// Watching

PHONEAUTOLOGIN::PHONEAUTOLOGIN() = default;

PHONEAUTOLOGIN::~PHONEAUTOLOGIN()
{
    CancelTimer();
    explicit_bzero(Buffer, sizeof Buffer);
    explicit_bzero(&Entry, sizeof Entry);
    for (std::string& reply : Pending)
        explicit_bzero(reply.data(), reply.size());
}

void PHONEAUTOLOGIN::CancelTimer()
{
    if (Timer) {
        plat::RemoveLoopTimer(Timer);
        Timer = nullptr;
    }
}

int PHONEAUTOLOGIN::Arm(SESSION& session, _PHONEBOOK_300 const& entry)
{
    Watch(session, -1);
    Entry = entry;
    Count = PHONEBOOK::WaitSendToAutoLogin(entry, session, Buffer, ItemList, MAXITEMS);
    Step = Count > 0 ? 1 : 0;
    LOGIT("PHONEAUTOLOGIN::Arm %d items\n", Count);
    return Count;
}

int PHONEAUTOLOGIN::Watch(SESSION& session, int ch)
{
    if (ch == -1) {
        Recent = REMEMBERBUFFER(1024, 256);
        Step = 0;
        CancelTimer();
        for (std::string& reply : Pending)
            explicit_bzero(reply.data(), reply.size());
        Pending.clear();
        return 0;
    }
    // A NUL (line padding) would end the recent text: it is not kept.
    if (ch > 0)
        Recent.AddValue(ch > 255 ? '?' : ch);
    if (InWatch)
        return 0;
    InWatch = true;
    std::string const recent = Recent.Text();
    size_t const iemsi = strlen(kIemsiRequest);
    if (Entry.iemsiwanted && ch >= 0 && recent.size() > iemsi - 1 &&
        recent.compare(recent.size() - iemsi, iemsi, kIemsiRequest) == 0) {
        LOGIT("PHONEAUTOLOGIN::Watch IEMSI request\n");
        session.PostEvent(8817, 0, nullptr);
    }
    if (Step >= 1) {
        char wait[16], send[16];
        snprintf(wait, sizeof wait, "W%d=", Step);
        snprintf(send, sizeof send, "S%d=", Step);
        size_t const prefix = strlen(wait);
        char const* waitItem = nullptr;
        for (int i = 0; i < Count && !waitItem; ++i)
            if (strncmp(ItemList[i], wait, prefix) == 0)
                waitItem = ItemList[i];
        if (waitItem) {
            std::string const text = waitItem + prefix;
            if (!text.empty() && recent.size() >= text.size() &&
                recent.compare(recent.size() - text.size(), text.size(), text) == 0) {
                char const* sendItem = nullptr;
                for (int i = 0; i < Count && !sendItem; ++i)
                    if (strncmp(ItemList[i], send, prefix) == 0)
                        sendItem = ItemList[i];
                if (sendItem) {
                    LOGIT("PHONEAUTOLOGIN::Watch step %d found\n", Step);
                    ++Step;
                    Pending.emplace_back(sendItem + prefix);
                    Schedule(session);
                }
            }
        } else if (Pending.empty()) {
            // No wait item follows: the login is done; the entry's login
            // script runs with its parameter (or the entry's name).
            Step = 0;
            if (Entry.script[0]) {
                char command[2048];
                std::string const parm =
                    Entry.scriptparm[0] ? std::string(Entry.scriptparm) : NarrowName(Entry.name, 65);
                snprintf(command, sizeof command, "%s %s", Entry.script, parm.c_str());
                LOGIT("PHONEAUTOLOGIN::Watch starts the login script %s\n", Entry.script);
                session.SendEvent(8125, 0, command);
            }
        }
    }
    InWatch = false;
    return 0;
}

void PHONEAUTOLOGIN::Schedule(SESSION& session)
{
    if (Timer || Pending.empty())
        return;
    SESSION* s = &session;
    Timer = plat::InstallLoopTimer(REPLYDELAYMS, 0, [this, s](plat::LoopTimerRef) {
        Timer = nullptr;
        SendNext(*s);
    });
    if (!Timer) {
        // Not on the main thread's loop: the reply goes at once.
        SendNext(session);
    }
}

void PHONEAUTOLOGIN::SendNext(SESSION& session)
{
    if (Pending.empty())
        return;
    std::string reply = std::move(Pending.front());
    Pending.pop_front();
    char text[257];
    OPTSBASE::CopyText(text, sizeof text, reply.c_str());
    explicit_bzero(reply.data(), reply.size());
    int n = session.MakeCtrl(text, 256);
    n = std::clamp(n, 0, 256);
    std::wstring keys;
    for (int i = 0; i < n; ++i)
        keys.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
    explicit_bzero(text, sizeof text);
    LOGIT("PHONEAUTOLOGIN::SendNext %d keys\n", n);
    session.EmuLayer.FeedKeyString(keys.c_str(), static_cast<int>(keys.size()), 0);
    explicit_bzero(keys.data(), keys.size() * sizeof(wchar_t));
    Schedule(session);
}

// ---------------------------------------------------------------------------
// Learning

void PHONEBOOK::StoreLearnedLogin(char** items, int handle)
{
    LOGIT("PHONEBOOK::StoreLearnedLogin %d\n", handle);
    bool const noPasswords = Owner.Admin().DisableStoredPasswords != 0;
    if (_PHONEBOOK_300* e = PTable.LockItem(handle)) {
        std::string const user(e->username, strnlen(e->username, sizeof e->username));
        std::string const password(e->password, strnlen(e->password, sizeof e->password));
        std::string text;
        bool afterPasswordPrompt = false;
        for (int i = 0; items && items[i]; ++i) {
            std::string item = items[i];
            bool const isSend = strncasecmp(item.c_str(), "s=", 2) == 0 || strncasecmp(item.c_str(), "send=", 5) == 0;
            bool const isWait = strncasecmp(item.c_str(), "w=", 2) == 0 || strncasecmp(item.c_str(), "wait=", 5) == 0;
            if (strncasecmp(item.c_str(), "w=", 2) == 0)
                item = "Wait=" + item.substr(2);
            else if (strncasecmp(item.c_str(), "s=", 2) == 0)
                item = "Send=" + item.substr(2);
            if (isSend) {
                // Only a whole send text is the user name or the password:
                // a user "a" does not turn every "a" of the prompts into
                // its placeholder.
                size_t const eq = item.find('=') + 1;
                std::string value = item.substr(eq);
                size_t const end = TrailingNotation(value);
                std::string const body = value.substr(0, end);
                std::string replaced;
                if (!password.empty() && body == password)
                    replaced = "^&";
                else if (!user.empty() && body == user)
                    replaced = "^%";
                else if (noPasswords && afterPasswordPrompt)
                    // The answer to a password prompt is not stored while
                    // stored passwords are off.
                    replaced = "^&";
                if (!replaced.empty())
                    item = item.substr(0, eq) + replaced + value.substr(end);
                explicit_bzero(value.data(), value.size());
            }
            if (isWait)
                afterPasswordPrompt = ContainsNoCase(item, "pass");
            else if (isSend)
                afterPasswordPrompt = false;
            text += item;
            text += "\r\n";
        }
        if (text.size() > 399)
            text.resize(399);
        OPTSBASE::CopyText(e->waitsend, sizeof e->waitsend, text.c_str());
        explicit_bzero(text.data(), text.size());
        if (!e->learn)
            LOGIT("PHONEBOOK::StoreLearnedLogin: the entry was not learning\n");
        e->learn = 0;
        PTable.UnlockItem(e);
    }
    Save();
}

// ---------------------------------------------------------------------------
// Entries from connection data

bool PHONEBOOK::PhonebookEntryFromData(SESSION& session, _PHONEBOOK_300* out, char const* destination, int deviceId,
                                       char const* deviceOpts, int emuId, char const* emuOpts, int protocol,
                                       char const* profile, int dialType, char const* extra)
{
    if (!out)
        return false;
    memset(out, 0, sizeof *out);
    out->deviceid = deviceId;
    out->emu = emuId;
    auto options = [](char* field, int id, char const* text, SUBSYS& layer) {
        if (!text || !*text || id < 0)
            return;
        std::string value = text[0] == '[' ? std::string(text) : "[" + std::to_string(id) + "]" + text;
        OPTSBASE::CopyText(field, 128, value.c_str());
        layer.MatchParms(id, field, 128, 1, 0);
    };
    options(out->deviceopts, deviceId, deviceOpts, session.CommLayer);
    options(out->emulationopts, emuId, emuOpts, session.EmuLayer);
    std::string const target = destination ? std::string(destination).substr(0, 64) : std::string();
    WSTRING name(target.empty() ? "(None)" : target.c_str(), 1252);
    OPTSBASE::CopyWide(out->name, 65, name.Buf());
    OPTSBASE::CopyText(out->number, sizeof out->number, target.c_str());
    out->handle = PTable.GetUniqueId(nullptr, 0);
    out->protocol = protocol;
    out->dialtype = dialType;
    STRING const standard = OSYS::GetStringFromResource("IDS_DEFAULT");
    if (profile && *profile && strcasecmp(profile, standard.Buf()) != 0) {
        FILENAME file(profile);
        std::string part = file.JustFile().Buf();
        OPTSBASE::CopyText(out->optfile, 97, part.c_str());
    } else {
        OPTSBASE::CopyText(out->optfile, 97, OSYS::GetStringFromResource("IDS_DEFAULTASCURRENT").Buf());
    }
    switch (deviceId) {
    case 3: case 4: case 5: case 8: case 9: case 10: case 11:
        out->dosimpledial = 1;
        break;
    case 12:
        out->dosimpledial = target.empty() || strcasecmp(target.c_str(), "localhost") == 0;
        break;
    case 1:
        out->dosimpledial = target.empty();
        break;
    default:
        out->dosimpledial = 0;
        break;
    }
    std::string const parts = extra ? extra : "";
    std::vector<std::string> fields;
    for (size_t start = 0;;) {
        size_t const bar = parts.find('|', start);
        fields.push_back(parts.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos || fields.size() == 3)
            break;
        start = bar + 1;
    }
    if (!fields.empty())
        OPTSBASE::CopyText(out->username, 33, fields[0].c_str());
    if (fields.size() > 1)
        OPTSBASE::CopyText(out->password, 96, fields[1].c_str());
    if (fields.size() > 2) {
        std::string auth = fields[2];
        if (!auth.empty() && auth[0] == '*') {
            out->authglobal = 1;
            auth.erase(0, 1);
        }
        OPTSBASE::CopyText(out->authfile, 128, auth.c_str());
    }
    for (std::string& f : fields)
        explicit_bzero(f.data(), f.size());
    return true;
}

// ---------------------------------------------------------------------------
// Search

void PhonebookSearch(_PHONEBOOK_300* const* slots, int count, int section, int folder, wchar_t const* text,
                     PHONESEARCH const& fields, std::vector<int>& handles)
{
    handles.clear();
    if (!slots || !text || !*text || !(fields.Name || fields.Number || fields.Memo))
        return;
    std::wstring wanted;
    for (wchar_t const* p = text; *p; ++p)
        wanted.push_back(PHONEBOOKTABLE::FoldChar(*p));
    std::wstring folded;
    auto contains = [&](wchar_t const* field, size_t max) {
        folded.clear();
        for (size_t k = 0; k < max && field[k]; ++k)
            folded.push_back(PHONEBOOKTABLE::FoldChar(field[k]));
        return folded.find(wanted) != std::wstring::npos;
    };
    wchar_t number[66];
    for (int i = 0; i < count; ++i) {
        _PHONEBOOK_300 const* e = slots[i];
        if (!e || e->section != section || e->folder != folder)
            continue;
        bool found = fields.Name && contains(e->name, 65);
        if (!found && fields.Number) {
            size_t n = 0;
            for (; n < 65 && e->number[n]; ++n)
                number[n] = static_cast<wchar_t>(static_cast<unsigned char>(e->number[n]));
            number[n] = 0;
            found = contains(number, 66);
        }
        if (!found && fields.Memo)
            found = contains(e->memo, 128);
        if (found)
            handles.push_back(e->handle);
    }
}
