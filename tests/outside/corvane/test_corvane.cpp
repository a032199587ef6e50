// The VT emulations through a whole headless session: bytes in through the
// loopback device, the screen's cells, cursor and answers out.
#include "program/session/sessionrunner.h"
#include "tests/outside/corvane/vtsnapshot.h"

#include <gtest/gtest.h>

using namespace vttest;

namespace {

class Corvane : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(HEADLESSSESSION::StartPlatform()); }
};

} // namespace

TEST_F(Corvane, Smoke)
{
    HEADLESSSESSION run({.Emulation = 18, .Columns = 80, .Rows = 24, .CodePage = 1000});
    ASSERT_TRUE(run.IsOpen());
    run.Feed(Unescape("hello\r\n\\e[31mred\\e[0m \\e[5;10Hx\\e[2;3Hab\\e[K"));
    ASSERT_TRUE(run.WaitIdle());
    SNAPSHOT s = FromSession(run);
    std::printf("%s", s.Text().c_str());
    std::printf("cursor %d %d\n", s.CursorX, s.CursorY);
}
