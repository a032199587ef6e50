#include "program/shell/miscclasses.h"

#include "velmot/core/logit.h"

namespace {

constexpr wchar_t CR = 13;
constexpr wchar_t LF = 10;

} // namespace

int TRANSCRLF::DoTranslate(wchar_t ch, wchar_t* out, int mode)
{
    if (mode == -1)
        mode = Mode;
    if (mode == KEEP || mode == BINARY || (ch != CR && ch != LF)) {
        Previous = ch;
        out[0] = ch;
        return 1;
    }
    // Previous holds the character a line end was last turned into, so the
    // second half of a CR LF or LF CR pair is recognised and dropped.
    switch (mode) {
    case TOCRLF:
        if (ch == LF) {
            if (Previous == LF) {
                Previous = 0;
                return 0;
            }
            Previous = CR;
        } else {
            if (Previous == CR) {
                Previous = 0;
                return 0;
            }
            Previous = LF;
        }
        out[0] = CR;
        out[1] = LF;
        return 2;
    case TOCR:
        return Single(ch, CR, LF, out);
    case TOLF:
        return Single(ch, LF, CR, out);
    default:
        AssertMsg(0, "FALSE", __FILE__, __LINE__);
        Previous = ch;
        out[0] = ch;
        return 1;
    }
}

int TRANSCRLF::Single(wchar_t ch, wchar_t target, wchar_t other, wchar_t* out)
{
    // Every line end becomes `target`; the second half of a pair is dropped.
    wchar_t const pairedWith = ch == target ? other : target;
    if (Previous == pairedWith) {
        Previous = 0;
        return 0;
    }
    Previous = ch;
    out[0] = target;
    return 1;
}

int TRANSCRLF::Translate(wchar_t ch, wchar_t* out, int mode)
{
    wchar_t tmp[2];
    int n = DoTranslate(ch, tmp, mode);
    for (int i = 0; i < n; ++i)
        out[i] = tmp[i];
    return n;
}

int TRANSCRLF::Translate(char ch, char* out, int mode)
{
    wchar_t tmp[2];
    int n = DoTranslate(static_cast<wchar_t>(static_cast<unsigned char>(ch)), tmp, mode);
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<char>(tmp[i]);
    return n;
}

int TRANSCRLF::Translate(char ch, int mode)
{
    wchar_t tmp[2];
    int n = DoTranslate(static_cast<wchar_t>(static_cast<unsigned char>(ch)), tmp, mode);
    switch (n) {
    case 0:
        return 0;
    case 1:
        return static_cast<int>(tmp[0]);
    case 2:
        return static_cast<int>(tmp[0]) << 8 | static_cast<int>(tmp[1]);
    default:
        AssertMsg(0, "howmany==0", __FILE__, __LINE__);
        return 0;
    }
}
