// COCOA: tones, sound files, language, login items, screen saver and
// instance count over the platform layer.
#include "velmot/core/cocoa.h"

#include "velmot/core/logit.h"
#include "velmot/core/tarvo.h"
#include "platform/services/desktop.h"
#include "platform/services/sound.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numbers>
#include <string>

namespace {

constexpr char const* kSource = "cocoa";

std::mutex gInstanceLock;
COCOA* gInstance = nullptr;

constexpr int kSampleRate = 8000;
constexpr int kMaxBeepMs = 60000;

void PutLE(plat::Bytes& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutTag(plat::Bytes& out, char const* tag)
{
    out.insert(out.end(), tag, tag + 4);
}

// The WAV image of the tone: "RIFF", length - 8, "WAVE", a 16-byte "fmt "
// chunk (PCM, mono, 8000 samples a second, 16 bits) and the "data" chunk.
plat::Bytes BeepWav(int frequency, int milliseconds)
{
    uint32_t samples = static_cast<uint32_t>(milliseconds) * (kSampleRate / 1000);
    uint32_t dataBytes = samples * 2;
    plat::Bytes wav;
    wav.reserve(44 + dataBytes);
    PutTag(wav, "RIFF");
    PutLE(wav, 36 + dataBytes, 4);
    PutTag(wav, "WAVE");
    PutTag(wav, "fmt ");
    PutLE(wav, 16, 4);
    PutLE(wav, 1, 2); // PCM
    PutLE(wav, 1, 2); // one channel
    PutLE(wav, kSampleRate, 4);
    PutLE(wav, kSampleRate * 2, 4);
    PutLE(wav, 2, 2);  // block alignment
    PutLE(wav, 16, 2); // bits per sample
    PutTag(wav, "data");
    PutLE(wav, dataBytes, 4);
    // The phase is computed in double: a period of 8000 / frequency samples
    // taken as an integer would play 3000 Hz as 4000 Hz.
    double step = 2.0 * std::numbers::pi * frequency / kSampleRate;
    for (uint32_t i = 0; i < samples; ++i) {
        int16_t s = static_cast<int16_t>(std::sin(step * i) * 8192.0);
        PutLE(wav, static_cast<uint16_t>(s), 2);
    }
    return wav;
}

// The primary subtag of a language tag: "de" of "de_DE.UTF-8" or "de-AT".
std::string PrimarySubtag(std::string const& tag)
{
    size_t end = tag.find_first_of("_-.@");
    std::string rc = tag.substr(0, end);
    for (char& c : rc)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return rc;
}

void ReleaseAtCleanup()
{
    COCOA::ReleaseInstance();
}

} // namespace

COCOA* COCOA::GetInstance()
{
    std::lock_guard<std::mutex> guard(gInstanceLock);
    if (!gInstance) {
        gInstance = new COCOA;
        TARVOAPP::SetCleanupFunction(TARVOAPP::CLEANUP_COCOA, &ReleaseAtCleanup);
    }
    return gInstance;
}

void COCOA::ReleaseInstance()
{
    std::lock_guard<std::mutex> guard(gInstanceLock);
    delete gInstance;
    gInstance = nullptr;
}

bool COCOA::Beep(int frequency, int milliseconds)
{
    if (frequency <= 0 || frequency >= kSampleRate / 2 || milliseconds <= 0 || milliseconds > kMaxBeepMs) {
        LOGIT("COCOA::Beep refuses frequency %d for %d ms\n", frequency, milliseconds);
        return false;
    }
    plat::Bytes wav = BeepWav(frequency, milliseconds);
    // The caller waits for the whole tone; the main thread must not.
    if (TARVOAPP::IsMainThread())
        AssertMsg(0, "!TARVOAPP::IsMainThread()", kSource, __LINE__, nullptr, false);
    return plat::PlayWav(wav, true);
}

int COCOA::PlaySound(char const* path, int)
{
    if (!path || !*path)
        return 0;
    return plat::PlaySoundFile(path) ? 1 : 0;
}

int COCOA::GetDefaultLocale()
{
    std::string list;
    if (char const* language = getenv("LANGUAGE"))
        list = language;
    for (char const* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        char const* value = getenv(var);
        if (value && *value) {
            list += std::string(":") + value;
            break;
        }
    }
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        std::string tag = PrimarySubtag(list.substr(start, end - start));
        if (tag == "en")
            return 9;
        if (tag == "de")
            return 7;
        start = end + 1;
    }
    return 9;
}

bool COCOA::AddToLoginItems(char const* path, bool add)
{
    if (!path || !*path)
        return false;
    // The entry is named after the program's file name, so that one
    // program has one entry wherever it was started from.
    std::string program = path;
    std::string id = program.substr(program.rfind('/') + 1);
    for (char& c : id) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                  c == '-' || c == '_';
        if (!ok)
            c = '_';
    }
    if (id.empty() || id[0] == '.')
        id = "_" + id;
    bool ok = plat::SetLoginItem(id, program, add);
    LOGIT("COCOA::AddToLoginItems %s %s (%s) returns %d\n", add ? "add" : "remove", program.c_str(), id.c_str(), ok);
    return ok;
}

void COCOA::WakeupScreensaver()
{
    plat::WakeScreenSaver();
}

int COCOA::GetCurrentProcessInstancesCount()
{
    return plat::CountInstances();
}
