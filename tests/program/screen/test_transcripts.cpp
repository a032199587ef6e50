// Runs every screen transcript under transcripts/ (see viotranscript.h).
#include "tests/program/screen/viotranscript.h"
#include "tests/support/testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>

namespace {

std::vector<std::string> TranscriptNames()
{
    std::vector<std::string> names;
    std::string const dir = testutil::SourceDir() + "/program/screen/transcripts";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string const name = e->d_name;
            if (name.size() > 5 && name.substr(name.size() - 5) == ".test")
                names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Transcript : public ::testing::TestWithParam<std::string> {};

TEST_P(Transcript, ScreenMatches)
{
    std::string const path = testutil::SourceDir() + "/program/screen/transcripts/" + GetParam();
    std::string const text = testutil::ReadFile(path);
    ASSERT_FALSE(text.empty()) << path;
    for (std::string const& failure : viotest::RunTranscript(text, GetParam()))
        ADD_FAILURE() << failure;
}

INSTANTIATE_TEST_SUITE_P(Files, Transcript, ::testing::ValuesIn(TranscriptNames()),
                         [](auto const& info) {
                             std::string name = info.param.substr(0, info.param.size() - 5);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(Transcript, AllFilesFound)
{
    EXPECT_GE(TranscriptNames().size(), 7u);
}

TEST(FeedFile, PiecesCutAnywhereGiveTheSameScreen)
{
    // A character whose UTF-8 bytes fall into two pieces is put together.
    std::string const path = testutil::SourceDir() + "/program/screen/streams/recorded.txt";
    viotest::SCREEN whole(30, 4), bytes(30, 4);
    ASSERT_TRUE(viotest::FeedFile(whole.Vio, path));
    ASSERT_TRUE(viotest::FeedFile(bytes.Vio, path, 1));
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(viotest::RowText(bytes.Vio, y), viotest::RowText(whole.Vio, y)) << "row " << y;
    EXPECT_FALSE(viotest::FeedFile(whole.Vio, path + ".missing"));
}

} // namespace
