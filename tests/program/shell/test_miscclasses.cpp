#include "program/shell/miscclasses.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The text through one translator, character by character.
std::string Through(int mode, std::string const& in)
{
    TRANSCRLF t(mode);
    std::string out;
    for (char c : in) {
        char buf[2];
        int n = t.Translate(c, buf, -1);
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

} // namespace

TEST(TransCrLf, LineEndsBecomeOneFormWithoutDoubling)
{
    struct {
        int mode;
        char const* in;
        char const* out;
    } const cases[] = {
        {0, "a\r\nb\n\rc\r", "a\r\nb\n\rc\r"},
        {4, "a\r\nb", "a\r\nb"},
        {1, "a\r\nb", "a\r\nb"},
        {1, "a\n\rb", "a\r\nb"},
        {1, "a\r\rb", "a\r\n\r\nb"},
        {1, "a\n\nb", "a\r\n\r\nb"},
        {1, "a\r\n\r\nb", "a\r\n\r\nb"},
        {2, "a\r\nb\nc\n\rd", "a\rb\rc\rd"},
        {2, "a\r\rb", "a\r\rb"},
        {3, "a\r\nb\rc\n\rd", "a\nb\nc\nd"},
        {3, "a\n\nb", "a\n\nb"},
    };
    for (auto const& c : cases)
        EXPECT_EQ(Through(c.mode, c.in), c.out) << c.mode << " " << c.in;
}

TEST(TransCrLf, PackedAndWideForms)
{
    TRANSCRLF t(TRANSCRLF::TOCRLF);
    EXPECT_EQ(t.Translate('\n', -1), (13 << 8) | 10);
    EXPECT_EQ(t.Translate('\r', -1), 0) << "the CR of an LF CR pair";
    EXPECT_EQ(t.Translate('x', -1), 'x');
    EXPECT_EQ(t.Translate('\r', TRANSCRLF::TOLF), 10) << "a mode given for one call";
    wchar_t out[2];
    EXPECT_EQ(t.Translate(L'\x263A', out, -1), 1);
    EXPECT_EQ(out[0], L'\x263A');
}
