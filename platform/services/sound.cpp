#include "platform/services/sound.h"

#include "platform/services/fileio.h"

#include <alsa/asoundlib.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace plat {
namespace {

constexpr std::size_t kMaxSoundFileBytes = 64u << 20;
// Added to a sound's length before playing is given up: device start-up
// and the samples buffered when the last write returns.
constexpr auto kMargin = std::chrono::milliseconds(2000);

std::uint32_t Le32(Bytes const& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

std::uint16_t Le16(Bytes const& b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

bool Tag(Bytes const& b, std::size_t at, char const* tag)
{
    return std::memcmp(b.data() + at, tag, 4) == 0;
}

void PutLe(Bytes& b, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutTag(Bytes& b, char const* tag)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(tag[i]));
}

// The alert sound: a short 880 Hz tone, 16-bit mono at 8000 frames/s.
Bytes AlertImage()
{
    constexpr int rate = 8000, ms = 120;
    constexpr std::uint32_t frames = rate * ms / 1000;
    Bytes b;
    PutTag(b, "RIFF");
    PutLe(b, 36 + frames * 2, 4);
    PutTag(b, "WAVE");
    PutTag(b, "fmt ");
    PutLe(b, 16, 4);
    PutLe(b, 1, 2);
    PutLe(b, 1, 2);
    PutLe(b, rate, 4);
    PutLe(b, rate * 2, 4);
    PutLe(b, 2, 2);
    PutLe(b, 16, 2);
    PutTag(b, "data");
    PutLe(b, frames * 2, 4);
    for (std::uint32_t i = 0; i < frames; ++i) {
        double s = std::sin(2 * M_PI * 880.0 * i / rate) * 8192;
        PutLe(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(s)), 2);
    }
    return b;
}

void QuietAlsa(char const*, int, char const*, int, char const*, ...) {}

class AlsaSink : public AudioSink {
public:
    explicit AlsaSink(std::string device) : device_(std::move(device))
    {
        static std::once_flag quiet;
        // Without a sound card ALSA prints its complaints to stderr.
        std::call_once(quiet, [] { snd_lib_error_set_handler(QuietAlsa); });
    }

    ~AlsaSink() override
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stop_ = true;
            queue_.clear();
        }
        wake_.notify_all();
        if (worker_.joinable())
            worker_.join();
    }

    bool PlayWav(Bytes const& image, bool wait) override
    {
        if (!ParseWav(image))
            return false;
        if (wait)
            return Play(image);
        std::lock_guard<std::mutex> guard(lock_);
        if (stop_)
            return false;
        queue_.push_back(image);
        if (!worker_.joinable())
            worker_ = std::thread([this] { Work(); });
        wake_.notify_one();
        return true;
    }

    bool PlayFile(std::string const& path) override
    {
        std::string bytes;
        if (!fileio::ReadBounded(path, kMaxSoundFileBytes, bytes))
            return false;
        return PlayWav(Bytes(bytes.begin(), bytes.end()), false);
    }

    void Alert() override
    {
        static Bytes const image = AlertImage();
        PlayWav(image, false);
    }

private:
    void Work()
    {
        for (;;) {
            Bytes image;
            {
                std::unique_lock<std::mutex> guard(lock_);
                wake_.wait(guard, [this] { return stop_ || !queue_.empty(); });
                if (stop_)
                    return;
                image = std::move(queue_.front());
                queue_.pop_front();
            }
            Play(image);
        }
    }

    // Plays one image; bounded by its length plus the margin.
    bool Play(Bytes const& image)
    {
        std::optional<WavInfo> info = ParseWav(image);
        if (!info)
            return false;
        auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(info->Seconds() * 1000)) +
                        kMargin;
        snd_pcm_t* pcm = nullptr;
        // Opening without blocking: a device held by someone else must not
        // hold us up; we simply play nothing then.
        if (snd_pcm_open(&pcm, device_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
            return false;
        snd_pcm_format_t format =
            info->bitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
        if (snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED,
                               static_cast<unsigned>(info->channels),
                               static_cast<unsigned>(info->sampleRate), 1, 200000) < 0) {
            snd_pcm_close(pcm);
            return false;
        }
        std::size_t frameBytes =
            static_cast<std::size_t>(info->channels) * static_cast<std::size_t>(info->bitsPerSample / 8);
        std::uint8_t const* data = image.data() + info->dataOffset;
        snd_pcm_uframes_t left = info->dataBytes / frameBytes;
        bool ok = true;
        while (left > 0) {
            if (Stopping() || std::chrono::steady_clock::now() > deadline) {
                ok = false;
                break;
            }
            snd_pcm_sframes_t n = snd_pcm_writei(pcm, data, left);
            if (n == -EAGAIN) {
                snd_pcm_wait(pcm, 50);
                continue;
            }
            if (n < 0)
                n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
            if (n < 0) {
                ok = false;
                break;
            }
            data += static_cast<std::size_t>(n) * frameBytes;
            left -= static_cast<snd_pcm_uframes_t>(n);
        }
        // Let the buffered samples play out; snd_pcm_drain would block
        // without limit on a stuck device, so watch the delay instead.
        while (ok && !Stopping() && std::chrono::steady_clock::now() < deadline) {
            snd_pcm_sframes_t delay = 0;
            if (snd_pcm_delay(pcm, &delay) < 0 || delay <= 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        snd_pcm_drop(pcm);
        snd_pcm_close(pcm);
        return ok;
    }

    bool Stopping()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return stop_;
    }

    std::string device_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Bytes> queue_;
    bool stop_ = false;
    std::thread worker_;
};

struct SinkHolder {
    std::mutex lock;
    std::shared_ptr<AudioSink> sink;
};

SinkHolder& Holder()
{
    static SinkHolder holder;
    return holder;
}

} // namespace

double WavInfo::Seconds() const
{
    std::size_t frameBytes =
        static_cast<std::size_t>(channels) * static_cast<std::size_t>(bitsPerSample / 8);
    if (frameBytes == 0 || sampleRate <= 0)
        return 0;
    return static_cast<double>(dataBytes / frameBytes) / sampleRate;
}

std::optional<WavInfo> ParseWav(Bytes const& b)
{
    if (b.size() < 12 || !Tag(b, 0, "RIFF") || !Tag(b, 8, "WAVE"))
        return std::nullopt;
    WavInfo info;
    bool haveFormat = false;
    bool haveData = false;
    std::size_t pos = 12;
    while (pos + 8 <= b.size() && !(haveFormat && haveData)) {
        std::size_t size = Le32(b, pos + 4);
        std::size_t body = pos + 8;
        std::size_t avail = b.size() - body;
        if (Tag(b, pos, "fmt ")) {
            if (size < 16 || avail < 16)
                return std::nullopt;
            info.format = Le16(b, body);
            info.channels = Le16(b, body + 2);
            info.sampleRate = static_cast<int>(std::min<std::uint32_t>(Le32(b, body + 4), 1u << 30));
            info.bitsPerSample = Le16(b, body + 14);
            haveFormat = true;
        } else if (Tag(b, pos, "data")) {
            info.dataOffset = body;
            // Streaming writers leave the size open (0xFFFFFFFF); cut it to
            // what the image holds.
            info.dataBytes = std::min(size, avail);
            haveData = true;
        }
        if (size > avail)
            break;
        pos = body + size + (size & 1);
    }
    if (!haveFormat || !haveData || info.format != 1 ||
        (info.bitsPerSample != 8 && info.bitsPerSample != 16) || info.channels < 1 ||
        info.channels > 2 || info.sampleRate < 1 || info.sampleRate > 192000)
        return std::nullopt;
    return info;
}

std::shared_ptr<AudioSink> MakeAlsaSink(std::string device)
{
    return std::make_shared<AlsaSink>(std::move(device));
}

void SetAudioSink(std::shared_ptr<AudioSink> sink)
{
    SinkHolder& h = Holder();
    std::lock_guard<std::mutex> guard(h.lock);
    h.sink = std::move(sink);
}

std::shared_ptr<AudioSink> GetAudioSink()
{
    SinkHolder& h = Holder();
    std::lock_guard<std::mutex> guard(h.lock);
    if (!h.sink)
        h.sink = MakeAlsaSink();
    return h.sink;
}

bool PlayWav(Bytes const& image, bool wait)
{
    return GetAudioSink()->PlayWav(image, wait);
}

bool PlaySoundFile(std::string const& path)
{
    return GetAudioSink()->PlayFile(path);
}

void PlayAlert()
{
    GetAudioSink()->Alert();
}

} // namespace plat
