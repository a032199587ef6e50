// The host-directory file: our writer against an independent Python writer
// byte for byte, its files loaded into the same values, round trips as a
// fixed point, older and odd layouts, damaged files, and saves that fail.
#include "tests/program/hostdir/hostdirtest.h"

#include "program/hostdir/phonetext.h"

#include <gmock/gmock.h>

#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace hostdirtest;
using ::testing::HasSubstr;

namespace {

class PhoneFile : public HostdirTest {};

constexpr uint32_t kStamp = 1700000000;

std::string Read(std::string const& path)
{
    return testutil::ReadFile(path);
}

} // namespace

// Random directories with hostile values (quotes, ESC, CR/LF, wide names
// beyond code page 1252, the longest fields, passwords of 0, 1 and 95
// bytes): the Python writer's file loads into its values, our save of it
// is the same bytes, the Python reader reads our save back, and a second
// round trip changes nothing.
TEST_F(PhoneFile, OurWriterAndAnIndependentOneAgreeByteForByte)
{
    constexpr int kSeeds = 16;
    auto name = [this](char const* kind, int seed) { return Path(std::string(kind) + std::to_string(seed)); };
    auto capacity = [](int seed) { return seed % 3 == 0 ? 100 : 64; };
    std::vector<std::vector<std::string>> jobs;
    for (int seed = 1; seed <= kSeeds; ++seed)
        jobs.push_back({"generate", std::to_string(seed), std::to_string(capacity(seed)), name("file", seed),
                        std::to_string(kStamp), name("file", seed), name("values", seed)});
    ASSERT_EQ(PythonBatch(jobs), 0);

    jobs.clear();
    for (int seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::string const file = name("file", seed);
        testutil::WriteFile(name("theirs", seed), Read(file));
        Init(capacity(seed), file);
        Book->Clock = kStamp;
        EXPECT_EQ(Difference(Dump(*Book), Read(name("values", seed))), "") << "its file loads into other values";
        EXPECT_THAT(Host.Take(), ::testing::IsEmpty());
        ASSERT_EQ(Book->Save(file.c_str(), 1, nullptr, 1, 1), 0);
        EXPECT_EQ(Difference(Read(file), Read(name("theirs", seed))), "") << "our save differs from its writer";
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        Init(capacity(seed), file);
        Book->Clock = kStamp;
        ASSERT_EQ(Book->Save(name("again", seed).c_str(), 1, nullptr, 1, 1), 0);
        std::string again = Read(name("again", seed));
        std::string const header = "QOR6.44 // HOST DIRECTORY ";
        again.replace(0, header.size() + name("again", seed).size(), header + file);
        EXPECT_EQ(Difference(again, Read(file)), "") << "a round trip is not a fixed point";
        jobs.push_back({"dump", file, name("redump", seed)});
    }
    ASSERT_EQ(PythonBatch(jobs), 0);
    for (int seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_EQ(Difference(Read(name("redump", seed)), Read(name("values", seed))), "")
            << "the Python reader reads our save into other values";
    }
}
