// The transition table, the collecting of a sequence's parameters and
// intermediates with their bounds, and the palette's nearest colour.
#include "outside/corvane/vtpalette.h"
#include "outside/corvane/vtparser.h"

#include <gtest/gtest.h>

#include <string>

using namespace vt;

namespace {

// The states after each character of text, as one letter each (G ground,
// E escape, e escape intermediate, C CSI entry, P CSI parameter, c CSI
// intermediate, I CSI ignore, D DCS entry/parameter/intermediate, S DCS
// passthrough, i DCS ignore, O OSC string, X SOS/PM/APC).
std::string Trace(std::string const& text, bool c1 = false)
{
    static char const letters[] = "GEeCPcIDDDSiOX";
    static_assert(sizeof letters - 1 == STATECOUNT);
    std::string out;
    STATE s = GROUND;
    for (unsigned char c : text) {
        s = Step(s, c, c1);
        out += letters[s];
    }
    return out;
}

} // namespace

TEST(VtParser, CancelAndEscapeActFromEveryState)
{
    for (int s = 0; s < STATECOUNT; ++s) {
        EXPECT_EQ(Step(STATE(s), 0x1B, false), ESCAPE) << s;
        EXPECT_EQ(Step(STATE(s), 0x18, false), GROUND) << s;
        EXPECT_EQ(Step(STATE(s), 0x1A, false), GROUND) << s;
        // Characters beyond 0x7F never leave a sequence early.
        STATE const after = Step(STATE(s), 0x4E00, false);
        EXPECT_EQ(after, STATE(s)) << s;
    }
}

TEST(VtParser, SequencesThroughTheTable)
{
    struct {
        char const* name;
        std::string text;
        char const* states;
        bool c1;
    } const cases[] = {
        {"text and controls", "ab\r\n", "GGGG", false},
        {"CSI with parameters", "\x1b[1;22H", "ECPPPPG", false},
        {"private marker", "\x1b[?25l", "ECPPPG", false},
        {"marker after a parameter is ignored", "\x1b[1?2hx", "ECPIIGG", false},
        {"intermediate", "\x1b[!p", "ECcG", false},
        {"parameter after an intermediate", "\x1b[ 1q", "ECcIG", false},
        {"a control inside stays in the sequence", "\x1b[1\n2H", "ECPPPG", false},
        {"escape with intermediate", "\x1b(0x", "EeGG", false},
        {"OSC ended by BEL", "\x1b]0;t\x07x", "EOOOOGG", false},
        {"OSC ended by ST", "\x1b]2;t\x1b\\x", "EOOOOEGG", false},
        {"DCS passed over", "\x1bP1$qm\x1b\\x", "EDDDSSEGG", false},
        {"APC dropped", "\x1b_abc\x1b\\", "EXXXXEG", false},
        {"CAN cancels", "\x1b[12\x18x", "ECPPGG", false},
        {"DEL is ignored inside", "\x1b[1\x7f;2H", "ECPPPPG", false},
        {"8-bit CSI when enabled", "\x9b" "2J", "CPG", true},
        {"8-bit CSI as text when not", "\x9b" "2J", "GGG", false},
        {"8-bit ST ends a string", "\x1b]0;t\x9cx", "EOOOOGG", true},
    };
    for (auto const& c : cases)
        EXPECT_EQ(Trace(c.text, c.c1), c.states) << c.name;
    // In a sequence: a character whose state before or after is not ground.
    EXPECT_TRUE(InSequence(GROUND, ESCAPE));
    EXPECT_TRUE(InSequence(CSIPARAM, GROUND));
    EXPECT_FALSE(InSequence(GROUND, GROUND));
}

TEST(VtParser, ParametersAndTheirBounds)
{
    auto collect = [](std::string const& params) {
        SEQUENCE s;
        s.Clear();
        for (unsigned char c : params) {
            if (c >= 0x3C && c <= 0x3F)
                s.AddCollect(c);
            else if (c >= 0x20 && c <= 0x2F)
                s.AddCollect(c);
            else
                s.AddParamChar(c);
        }
        s.End();
        return s;
    };
    SEQUENCE s = collect("");
    EXPECT_EQ(s.Count, 0);
    EXPECT_EQ(s.Get(0, 1), 1) << "missing parameters take the default";

    s = collect("5;;0;7");
    ASSERT_EQ(s.Count, 4);
    EXPECT_EQ(s.Get(0, 1), 5);
    EXPECT_EQ(s.Get(1, 1), 1) << "an empty parameter takes the default";
    EXPECT_EQ(s.Get(2, 1), 1) << "so does 0";
    EXPECT_EQ(s.Raw(3), 7);

    s = collect("38:2::10:20:30;1");
    ASSERT_EQ(s.Count, 7);
    EXPECT_FALSE(s.IsSub(0));
    for (int i = 1; i <= 5; ++i)
        EXPECT_TRUE(s.IsSub(i)) << i;
    EXPECT_FALSE(s.IsSub(6));
    EXPECT_EQ(s.Raw(3), 10);

    s = collect("?1049");
    EXPECT_EQ(s.Leader, '?');
    EXPECT_EQ(s.Raw(0), 1049);
    EXPECT_FALSE(s.Broken);

    // Values saturate, parameters beyond the bound are dropped, a marker out
    // of place or a third intermediate spoils the sequence.
    s = collect("99999999999");
    EXPECT_EQ(s.Raw(0), kMaxValue);
    std::string many;
    for (int i = 0; i < 1000; ++i)
        many += std::to_string(i) + ";";
    s = collect(many);
    EXPECT_EQ(s.Count, kMaxParams);
    EXPECT_EQ(s.Raw(kMaxParams - 1), kMaxParams - 1);
    EXPECT_TRUE(collect("1?").Broken);
    EXPECT_TRUE(collect("!\"#").Broken);
    EXPECT_FALSE(collect("!\"").Broken);
}

TEST(VtPalette, NearestEntries)
{
    struct {
        int r, g, b, index;
    } const cases[] = {
        {255, 0, 0, 196},   {0, 0, 255, 21},     {255, 255, 255, 231}, {0, 0, 0, 16},
        {128, 128, 128, 244}, {8, 8, 8, 232},    {238, 238, 238, 255}, {95, 135, 175, 67},
        {100, 130, 170, 67},  {12, 200, 99, 41}, {250, 245, 240, 255},
    };
    for (auto const& c : cases)
        EXPECT_EQ(NearestPaletteIndex(c.r, c.g, c.b), c.index) << c.r << "," << c.g << "," << c.b;
    // Every entry is its own nearest.
    for (int i = 16; i < 256; ++i) {
        int r = 0, g = 0, b = 0;
        PaletteRgb(i, &r, &g, &b);
        int const found = NearestPaletteIndex(r, g, b);
        int r2 = 0, g2 = 0, b2 = 0;
        PaletteRgb(found, &r2, &g2, &b2);
        EXPECT_TRUE(r == r2 && g == g2 && b == b2) << i << " -> " << found;
    }
}
