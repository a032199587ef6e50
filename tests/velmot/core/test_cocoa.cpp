// The desktop bridge: generated tones (the WAV image captured from the
// audio sink and read by python3's wave module), sound files, the user's
// language, login items.
#include "velmot/core/cocoa.h"
#include "velmot/core/osys.h"
#include "velmot/core/tarvo.h"
#include "platform/services/desktop.h"
#include "platform/services/folders.h"
#include "platform/services/sound.h"
#include "tests/velmot/core/sys_testutil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using systest::Asserted;
using systest::Asserts;
using testutil::ReadFile;
using testutil::TempDir;

namespace {

class CaptureSink : public plat::AudioSink {
public:
    bool PlayWav(plat::Bytes const& image, bool wait) override
    {
        images.push_back(image);
        waited.push_back(wait);
        return true;
    }
    bool PlayFile(std::string const& path) override
    {
        files.push_back(path);
        return true;
    }
    void Alert() override { ++alerts; }

    std::vector<plat::Bytes> images;
    std::vector<bool> waited;
    std::vector<std::string> files;
    int alerts = 0;
};

class Cocoa : public systest::SysTest {
protected:
    void SetUp() override
    {
        SysTest::SetUp();
        sink_ = std::make_shared<CaptureSink>();
        plat::SetAudioSink(sink_);
    }
    void TearDown() override
    {
        plat::SetAudioSink(nullptr);
        SysTest::TearDown();
    }
    std::shared_ptr<CaptureSink> sink_;
};

uint32_t LE(plat::Bytes const& b, size_t at, int bytes)
{
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | b[at + static_cast<size_t>(i)];
    return v;
}

int16_t Sample(plat::Bytes const& wav, size_t i)
{
    return static_cast<int16_t>(LE(wav, 44 + 2 * i, 2));
}

// Sets environment variables for the test and puts them back afterwards.
class EnvSet {
public:
    void Set(char const* name, char const* value)
    {
        char const* old = getenv(name);
        saved_.push_back({name, old ? old : "", old != nullptr});
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvSet()
    {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->had)
                setenv(it->name.c_str(), it->value.c_str(), 1);
            else
                unsetenv(it->name.c_str());
        }
    }

private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};

} // namespace

TEST_F(Cocoa, BeepBuildsTheWavImageOfTheTone)
{
    ASSERT_TRUE(COCOA::GetInstance()->Beep(1000, 100));
    ASSERT_EQ(1u, sink_->images.size());
    EXPECT_TRUE(sink_->waited[0]); // returns once the tone has been played
    plat::Bytes const& wav = sink_->images[0];
    ASSERT_EQ(44u + 1600u, wav.size());
    EXPECT_EQ(0, memcmp(wav.data(), "RIFF", 4));
    EXPECT_EQ(1636u, LE(wav, 4, 4));
    EXPECT_EQ(0, memcmp(wav.data() + 8, "WAVEfmt ", 8));
    EXPECT_EQ(16u, LE(wav, 16, 4));
    EXPECT_EQ(1u, LE(wav, 20, 2));     // PCM
    EXPECT_EQ(1u, LE(wav, 22, 2));     // mono
    EXPECT_EQ(8000u, LE(wav, 24, 4));  // samples a second
    EXPECT_EQ(16000u, LE(wav, 28, 4)); // bytes a second
    EXPECT_EQ(2u, LE(wav, 32, 2));
    EXPECT_EQ(16u, LE(wav, 34, 2));
    EXPECT_EQ(0, memcmp(wav.data() + 36, "data", 4));
    EXPECT_EQ(1600u, LE(wav, 40, 4));
    // 1000 Hz at 8000 samples a second: a period of 8 samples, amplitude 8192.
    EXPECT_EQ(0, Sample(wav, 0));
    EXPECT_EQ(8192, Sample(wav, 2));
    EXPECT_EQ(-8192, Sample(wav, 6));
    EXPECT_EQ(5792, Sample(wav, 1)); // sin(45°) × 8192, cut

    // The platform's own reader agrees.
    auto info = plat::ParseWav(wav);
    ASSERT_TRUE(info);
    EXPECT_NEAR(0.1, info->Seconds(), 1e-9);
}

TEST_F(Cocoa, PythonHearsThePitchThatWasAskedFor)
{
    // Integer periods (8000 / frequency) would play 3000 Hz as 4000 Hz and
    // 2500 Hz as 2666 Hz; python3's wave module reads the image and counts
    // the zero crossings.
    std::vector<int> const frequencies = {440, 1000, 2500, 3000, 3999};
    TempDir dir;
    std::string input;
    for (int f : frequencies) {
        ASSERT_TRUE(COCOA::GetInstance()->Beep(f, 500)) << f;
        std::string path = dir.file(std::to_string(f) + ".wav");
        plat::Bytes const& wav = sink_->images.back();
        testutil::WriteFile(path, std::string(wav.begin(), wav.end()));
        input += path + "\n";
    }
    std::string script = "import array,sys,wave\n"
                         "for path in sys.stdin.read().split():\n"
                         "    w=wave.open(path)\n"
                         "    a=array.array('h',w.readframes(w.getnframes()))\n"
                         "    up=sum(1 for i in range(1,len(a)) if a[i-1]<0<=a[i])\n"
                         "    print(w.getnchannels(),w.getsampwidth(),w.getframerate(),w.getnframes(),\n"
                         "          up/(w.getnframes()/w.getframerate()))\n";
    std::string out;
    ASSERT_EQ(0, testutil::RunProgram({"python3", "-c", script}, &out, input));
    std::istringstream lines(out);
    for (int f : frequencies) {
        SCOPED_TRACE(f);
        int channels, width, rate, frames;
        double heard;
        ASSERT_TRUE(lines >> channels >> width >> rate >> frames >> heard);
        EXPECT_EQ(1, channels);
        EXPECT_EQ(2, width);
        EXPECT_EQ(8000, rate);
        EXPECT_EQ(4000, frames);
        EXPECT_NEAR(f, heard, f * 0.01 + 2);
    }
}

TEST_F(Cocoa, BeepRefusesWhatCannotBePlayed)
{
    struct Case {
        int frequency, ms;
    };
    std::vector<Case> const refused = {{0, 100}, {-5, 100}, {4000, 100}, {10000, 100}, {1000, 0}, {1000, -1},
                                       {1000, 60001}};
    for (Case const& c : refused) {
        SCOPED_TRACE(std::to_string(c.frequency) + " Hz " + std::to_string(c.ms) + " ms");
        EXPECT_FALSE(COCOA::GetInstance()->Beep(c.frequency, c.ms));
    }
    EXPECT_TRUE(sink_->images.empty());

    OSYS::PlayBeep(440, 10); // the system services pass both values on
    ASSERT_EQ(1u, sink_->images.size());
    EXPECT_EQ(44u + 160u, sink_->images[0].size());
}

TEST_F(Cocoa, SoundFilesAndTheAlertGoToTheSink)
{
    EXPECT_EQ(1, COCOA::GetInstance()->PlaySound("/x/ding.wav", 0));
    EXPECT_TRUE(OSYS::PlaySoundFile("/x/dong.aiff", true));
    EXPECT_EQ(0, COCOA::GetInstance()->PlaySound(nullptr, 0));
    EXPECT_EQ((std::vector<std::string>{"/x/ding.wav", "/x/dong.aiff"}), sink_->files);
    OSYS::PlayAlert();
    EXPECT_EQ(1, sink_->alerts);
}

TEST_F(Cocoa, DefaultLocaleIsTheFirstKnownPreferredLanguage)
{
    struct Case {
        char const* language; // $LANGUAGE (null: unset)
        char const* lcAll;
        char const* lang;
        int expected;
    };
    std::vector<Case> const cases = {
        {"fr:de:en", nullptr, nullptr, 7},      // French is not in the table; German is next
        {"fr_FR:en_US:de", nullptr, nullptr, 9},
        {"de-CH", nullptr, nullptr, 7},         // primary subtag of a regional tag
        {"deu:fr", nullptr, "C", 9},            // "deu" is not "de"
        {nullptr, nullptr, "de_AT.UTF-8", 7},
        {"", nullptr, "de_DE@euro", 7},
        {"fr", nullptr, "de_DE.UTF-8", 7},      // the locale follows the language list
        {"fr", "en_GB.UTF-8", "de_DE.UTF-8", 9}, // LC_ALL before LANG
        {nullptr, nullptr, "C", 9},
        {nullptr, nullptr, nullptr, 9},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(std::string(c.language ? c.language : "<unset>") + " / " + (c.lang ? c.lang : "<unset>"));
        EnvSet env;
        env.Set("LANGUAGE", c.language);
        env.Set("LC_ALL", c.lcAll);
        env.Set("LC_MESSAGES", nullptr);
        env.Set("LANG", c.lang);
        EXPECT_EQ(c.expected, COCOA::GetInstance()->GetDefaultLocale());
        EXPECT_EQ(c.expected, TARVOAPP::GetDefaultLocale());
    }
}

TEST_F(Cocoa, LoginItemsAreAddedOnceAndRemovedOnlyWhenThere)
{
    std::string program = "/opt/qor stage/bin/qor";
    std::string entry = plat::AutostartFilePath("qor");
    ASSERT_FALSE(entry.empty());
    std::filesystem::remove(entry);

    COCOA* cocoa = COCOA::GetInstance();
    EXPECT_TRUE(cocoa->AddToLoginItems(program.c_str(), true));
    std::string first = ReadFile(entry);
    EXPECT_TRUE(plat::IsLoginItem("qor", program));
    EXPECT_TRUE(cocoa->AddToLoginItems(program.c_str(), true));
    EXPECT_EQ(first, ReadFile(entry)); // adding twice leaves one entry

    EXPECT_TRUE(cocoa->AddToLoginItems(program.c_str(), false));
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_TRUE(cocoa->AddToLoginItems(program.c_str(), false)); // nothing to remove: nothing written
    EXPECT_FALSE(std::filesystem::exists(entry));
    EXPECT_FALSE(cocoa->AddToLoginItems(nullptr, true));
}

TEST_F(Cocoa, AutoRunPutsTheProgramItselfIntoTheLoginItems)
{
    std::string exe = plat::ExecutablePath();
    std::string id = exe.substr(exe.rfind('/') + 1);
    EXPECT_TRUE(OSYS::AutoRun("ignored", "<self>"));
    EXPECT_TRUE(plat::IsLoginItem(id, exe));
    EXPECT_TRUE(Asserts().empty());
    EXPECT_TRUE(OSYS::AutoRun("ignored", nullptr));
    EXPECT_FALSE(plat::IsLoginItem(id, exe));

    OSYS::AutoRun("ignored", "/usr/bin/something-else");
    EXPECT_TRUE(Asserted("cmdline==NULL || STRING(cmdline)==\"<self>\" || STRING(cmdline)==fn"));
    OSYS::AutoRun("ignored", nullptr);
}

TEST_F(Cocoa, InstancesCountEveryRunningCopyOfTheProgram)
{
    int alone = OSYS::GetCurrentProcessInstancesCount();
    EXPECT_GE(alone, 1);
    pid_t twin = fork(); // runs the same program file
    if (twin == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(twin, 0);
    EXPECT_EQ(alone + 1, OSYS::GetCurrentProcessInstancesCount());
    kill(twin, SIGKILL);
    waitpid(twin, nullptr, 0);
    EXPECT_EQ(alone, COCOA::GetInstance()->GetCurrentProcessInstancesCount());
}

TEST_F(Cocoa, WakingTheScreenAsksTheScreenSaverToReset)
{
    TempDir dir;
    std::string fake = dir.file("xdg-screensaver");
    testutil::WriteFile(fake, "#!/bin/sh\necho \"$@\" >> \"" + dir.file("called") + "\"\n");
    chmod(fake.c_str(), 0755);
    EnvSet env;
    char const* path = getenv("PATH");
    env.Set("PATH", (dir.path() + ":" + (path ? path : "")).c_str());
    OSYS::WakeupScreensaver();
    EXPECT_EQ("reset\n", ReadFile(dir.file("called")));
}
