// The transition table and the collecting of sequences.
#include "outside/corvane/vtparser.h"

#include <gtest/gtest.h>

TEST(VtParser, Placeholder)
{
    EXPECT_EQ(vt::Step(vt::GROUND, 0x1B, false), vt::ESCAPE);
}
