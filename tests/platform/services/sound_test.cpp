#include "platform/services/sound.h"

#include "tests/support/testutil.h"

#include <gtest/gtest.h>

namespace {

using plat::Bytes;

void Put(Bytes& b, std::uint32_t v, int n)
{
    for (int i = 0; i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Chunk(Bytes& b, char const* tag, Bytes const& body, std::uint32_t size)
{
    b.insert(b.end(), tag, tag + 4);
    Put(b, size, 4);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() % 2)
        b.push_back(0);
}

Bytes Fmt(int format, int channels, std::uint32_t rate, int bits)
{
    Bytes f;
    Put(f, static_cast<std::uint32_t>(format), 2);
    Put(f, static_cast<std::uint32_t>(channels), 2);
    Put(f, rate, 4);
    Put(f, rate * static_cast<std::uint32_t>(channels * bits / 8), 4);
    Put(f, static_cast<std::uint32_t>(channels * bits / 8), 2);
    Put(f, static_cast<std::uint32_t>(bits), 2);
    return f;
}

Bytes Wav(Bytes const& fmt, Bytes const& data, bool listFirst = false,
          std::uint32_t dataSize = 0xFFFFFFFE)
{
    Bytes body;
    body.insert(body.end(), {'W', 'A', 'V', 'E'});
    if (listFirst)
        Chunk(body, "LIST", Bytes{'a', 'b', 'c'}, 3); // odd size, padded
    Chunk(body, "fmt ", fmt, static_cast<std::uint32_t>(fmt.size()));
    Chunk(body, "data", data,
          dataSize == 0xFFFFFFFE ? static_cast<std::uint32_t>(data.size()) : dataSize);
    Bytes b{'R', 'I', 'F', 'F'};
    Put(b, static_cast<std::uint32_t>(body.size()), 4);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

TEST(Wav, HeaderChecks)
{
    Bytes const second(16000, 0); // one second of 16-bit mono at 8000/s
    struct Case {
        char const* what;
        Bytes image;
        bool valid;
        std::size_t dataBytes;
        double seconds;
    };
    Bytes cut = Wav(Fmt(1, 1, 8000, 16), second);
    cut.resize(30);
    std::vector<Case> const cases = {
        {"16-bit mono", Wav(Fmt(1, 1, 8000, 16), second), true, 16000, 1.0},
        {"8-bit stereo", Wav(Fmt(1, 2, 8000, 8), second), true, 16000, 1.0},
        {"other chunk first", Wav(Fmt(1, 1, 8000, 16), second, true), true, 16000, 1.0},
        {"open data size", Wav(Fmt(1, 1, 8000, 16), second, false, 0xFFFFFFFF), true, 16000, 1.0},
        {"data size past the end", Wav(Fmt(1, 1, 8000, 16), Bytes(100), false, 5000), true, 100,
         50.0 / 8000},
        {"float samples", Wav(Fmt(3, 1, 8000, 32), second), false, 0, 0},
        {"24 bits", Wav(Fmt(1, 1, 8000, 24), second), false, 0, 0},
        {"no channels", Wav(Fmt(1, 0, 8000, 16), second), false, 0, 0},
        {"rate zero", Wav(Fmt(1, 1, 0, 16), second), false, 0, 0},
        {"short fmt chunk", Wav(Bytes(10), second), false, 0, 0},
        {"cut inside fmt", cut, false, 0, 0},
        {"not RIFF", Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, false, 0, 0},
        {"empty", Bytes{}, false, 0, 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<plat::WavInfo> info = plat::ParseWav(c.image);
        ASSERT_EQ(info.has_value(), c.valid);
        if (!info)
            continue;
        EXPECT_EQ(info->dataBytes, c.dataBytes);
        EXPECT_DOUBLE_EQ(info->Seconds(), c.seconds);
        EXPECT_EQ(c.image[info->dataOffset - 8], 'd');
    }
}

class CaptureSink : public plat::AudioSink {
public:
    bool PlayWav(Bytes const& image, bool wait) override
    {
        images.push_back(image);
        waits.push_back(wait);
        return true;
    }
    bool PlayFile(std::string const& path) override
    {
        files.push_back(path);
        return true;
    }
    void Alert() override { ++alerts; }

    std::vector<Bytes> images;
    std::vector<bool> waits;
    std::vector<std::string> files;
    int alerts = 0;
};

TEST(Sound, AnInstalledSinkReceivesEverySound)
{
    auto capture = std::make_shared<CaptureSink>();
    plat::SetAudioSink(capture);
    Bytes const image = Wav(Fmt(1, 1, 8000, 16), Bytes(1600, 7));
    EXPECT_TRUE(plat::PlayWav(image, true));
    EXPECT_TRUE(plat::PlaySoundFile("/some/sound.wav"));
    plat::PlayAlert();
    plat::SetAudioSink(nullptr);
    plat::PlayAlert(); // goes to the default sink now

    ASSERT_EQ(capture->images.size(), 1u);
    EXPECT_EQ(capture->images[0], image);
    EXPECT_EQ(capture->waits, std::vector<bool>{true});
    EXPECT_EQ(capture->files, std::vector<std::string>{"/some/sound.wav"});
    EXPECT_EQ(capture->alerts, 1);
}

// Without a usable device the ALSA sink plays nothing and returns; these
// calls must come back (a hang would be the fault), whatever they answer.
TEST(Sound, AlsaSinkWithoutADeviceReturns)
{
    Bytes const image = Wav(Fmt(1, 1, 8000, 16), Bytes(800, 0));
    auto missing = plat::MakeAlsaSink("qor_no_such_device");
    EXPECT_FALSE(missing->PlayWav(image, true));
    EXPECT_TRUE(missing->PlayWav(image, false)) << "queued for the player thread";
    EXPECT_FALSE(missing->PlayWav(Bytes{1, 2, 3}, false)) << "not a WAV image";
    testutil::TempDir dir;
    testutil::WriteFile(dir.file("tone.wav"), std::string(image.begin(), image.end()));
    EXPECT_TRUE(missing->PlayFile(dir.file("tone.wav")));
    EXPECT_FALSE(missing->PlayFile(dir.file("absent.wav")));
    missing->Alert();
    missing.reset(); // stops the player thread

    auto standard = plat::MakeAlsaSink();
    standard->PlayWav(image, true);
}

} // namespace
