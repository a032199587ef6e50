// Sound output: WAV images and sound files through an exchangeable sink.
//
// The default sink plays through ALSA's "default" device when one can be
// opened and does nothing otherwise. Tests install a sink of their own and
// look at what reached it. No call waits longer than the sound's length
// plus a margin, even when the device stops taking samples.
#pragma once

#include "platform/services/text.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace plat {

// What a WAV image holds, as far as playing it needs.
struct WavInfo {
    int format = 0;          // 1: PCM
    int channels = 0;
    int sampleRate = 0;      // frames per second
    int bitsPerSample = 0;
    std::size_t dataOffset = 0;
    std::size_t dataBytes = 0; // cut to the bytes the image really has
    double Seconds() const;
};

// Reads the RIFF/WAVE header ("fmt " and "data" chunks in any order, other
// chunks skipped). Nothing for an image that is not a WAV image of PCM with
// 8 or 16 bits, 1 or 2 channels and 1 to 192000 frames per second.
std::optional<WavInfo> ParseWav(Bytes const& image);

class AudioSink {
public:
    virtual ~AudioSink() = default;
    // Plays a WAV image; with wait, returns once it has been played.
    virtual bool PlayWav(Bytes const& image, bool wait) = 0;
    // Starts playing a sound file and returns at once.
    virtual bool PlayFile(std::string const& path) = 0;
    // The system's alert sound.
    virtual void Alert() = 0;
};

// The ALSA sink for a device name ("default" unless told otherwise).
std::shared_ptr<AudioSink> MakeAlsaSink(std::string device = "default");

// Installs the sink every sound goes to; null restores the default sink.
void SetAudioSink(std::shared_ptr<AudioSink> sink);
std::shared_ptr<AudioSink> GetAudioSink();

// Shorthands for the current sink.
bool PlayWav(Bytes const& image, bool wait);
bool PlaySoundFile(std::string const& path);
void PlayAlert();

} // namespace plat
