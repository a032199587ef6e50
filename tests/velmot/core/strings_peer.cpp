// The other side of the cross-binary string tests. Everything here is
// compiled into the peer, including the inline members of STRING; memory
// still comes from and goes back to the library.
#include "tests/velmot/core/strings_peer.h"

extern "C" {

STRING* PeerNewString(char const* text)
{
    return new STRING(text);
}

void PeerDeleteString(STRING* s)
{
    delete s;
}

void PeerGrow(STRING& s, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s.Append(static_cast<char>('0' + i % 10));
}

char const* PeerBlockOf(STRING const& s)
{
    return s.Buffer;
}

} // extern "C"

STRING PeerMakeByValue(char const* text, int repeat)
{
    STRING s;
    for (int i = 0; i < repeat; ++i)
        s.Append(text);
    return s;
}

void PeerTakeAndFree(STRING s)
{
    s.Append("!");
}
