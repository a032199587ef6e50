// libFuzzer entry for the compiler of auto-login wait/send texts: any
// text, user name and password compile within the session's 2,048-byte
// buffer into at most 64 items, each a part of the buffer.
//
// The input is the wait/send text, then (after the first two NUL bytes,
// when there are any) the user name and the password.
#include "program/hostdir/phonebook.h"
#include "program/hostdir/phonemisc.h"

#include "velmot/core/logit.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool NoQuestions(char const*, char const*)
{
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static bool once = (SetAssertQuestionHook(&NoQuestions), true);
    (void)once;
    std::string const input(reinterpret_cast<char const*>(data), size);
    size_t const a = input.find('\0');
    size_t const b = a == std::string::npos ? std::string::npos : input.find('\0', a + 1);
    _PHONEBOOK_300 e;
    PHONEBOOK::PrepareEntry(&e);
    OPTSBASE::CopyText(e.waitsend, sizeof e.waitsend, input.substr(0, a).c_str());
    if (a != std::string::npos)
        OPTSBASE::CopyText(e.username, sizeof e.username, input.substr(a + 1, b == std::string::npos ? b : b - a - 1).c_str());
    if (b != std::string::npos)
        OPTSBASE::CopyText(e.password, sizeof e.password, input.substr(b + 1).c_str());
    // Guards around the buffer catch writes past its end.
    char block[PHONEAUTOLOGIN::BUFSIZE + 64];
    memset(block, 0x5A, sizeof block);
    char* out = block + 32;
    char* items[PHONEAUTOLOGIN::MAXITEMS + 1];
    int const n = PHONEBOOK::CompileWaitSend(e, out, items, PHONEAUTOLOGIN::MAXITEMS);
    if (n < 0 || n > PHONEAUTOLOGIN::MAXITEMS)
        abort();
    for (int i = 0; i < 32; ++i)
        if (block[i] != 0x5A || block[32 + PHONEAUTOLOGIN::BUFSIZE + i] != 0x5A)
            abort();
    for (int i = 0; i < n; ++i)
        if (items[i] < out || items[i] >= out + PHONEAUTOLOGIN::BUFSIZE)
            abort();
    return 0;
}
