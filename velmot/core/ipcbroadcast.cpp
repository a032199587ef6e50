// IPCBROADCAST: texts between the running instances of the program.
#include "velmot/core/ipcbroadcast.h"

#include "velmot/core/logit.h"
#include "platform/services/notify.h"

#include <cstring>
#include <string>

namespace {

// The same in every instance: the channel all instances listen on.
constexpr char const* kBroadcastName = "com.tarvo.qor.ipcbroadcast";

static_assert(IPCBROADCAST::MAXTEXT <= plat::kMaxNotificationNameBytes);

} // namespace

IPCBROADCAST::IPCBROADCAST() : BroadcastName(kBroadcastName)
{
    LOGIT("IPCBROADCAST::IPCBROADCAST\n");
    Center = std::make_unique<plat::NotificationListener>(
        BroadcastName.Buf(),
        [this](std::string const& name, std::string const&) { IpcNotificationCallbackProc(this, name.data(), name.size()); });
    if (!Center->IsOpen())
        LOGIT("IPCBROADCAST::IPCBROADCAST cannot listen in %s\n", plat::NotificationFolder().c_str());
    LOGIT("IPCBROADCAST::IPCBROADCAST done\n");
}

IPCBROADCAST::~IPCBROADCAST()
{
    LOGIT("IPCBROADCAST::~IPCBROADCAST\n");
    Center.reset(); // no text reaches this object afterwards
    LOGIT("IPCBROADCAST::~IPCBROADCAST done\n");
}

bool IPCBROADCAST::IsListening() const
{
    return Center && Center->IsOpen();
}

void IPCBROADCAST::IpcPostEvent(char const* text)
{
    if (!text)
        return;
    size_t len = strlen(text);
    if (len == 0 || len > MAXTEXT) {
        LOGIT("IPCBROADCAST::IpcPostEvent refuses a text of %zu bytes\n", len);
        return;
    }
    int n = plat::PostNotification(BroadcastName.Buf(), std::string_view(text, len), {});
    LOGIF(2, "IPCBROADCAST::IpcPostEvent %s reached %d instances\n", text, n);
}

void IPCBROADCAST::IpcNotificationCallbackProc(void* observer, char const* name, size_t length)
{
    if (!observer || !name || length == 0 || length > MAXTEXT)
        return;
    // The callback takes a zero-terminated text: a text with a zero byte
    // inside ends there.
    STRING text;
    text.Make(static_cast<int32_t>(length), name);
    static_cast<IPCBROADCAST*>(observer)->IpcNotificationCallback(text.Buf());
}
