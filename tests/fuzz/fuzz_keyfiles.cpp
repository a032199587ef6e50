// libFuzzer entry for the readers of key map (".qky") and translation
// table (".qtr") files: any bytes must go through without harm and without
// an assertion question, and what was read must rewrite to a fixed point
// (writing, reading that text and writing again gives the same text).
// A key map read is also asked about a few key events.
//
// The first byte picks the reader; the rest is the file.
#include "program/screen/keymap.h"
#include "program/screen/translate.h"
#include "velmot/core/logit.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool NoQuestions(char const*, char const*)
{
    // A reader of outside data must never ask; reaching here is a finding.
    abort();
}

// Locks on, so that entries of every lock state take part.
class HOST final : public KEYMAPHOST, public TRANSLATEHOST {
public:
    bool KeyState(int vk) override { return vk == 144; }
};

void KeyMap(char const* data, size_t size)
{
    HOST host;
    KEYMAPPER map(host);
    map.ReadText(data, size);
    std::string const first = map.WriteText();
    KEYMAPPER again(host);
    again.ReadText(first.data(), first.size());
    if (again.WriteText() != first)
        abort();
    KEYBOARDEVENT event;
    event.Count = 1;
    for (int i = 0; i < 4; ++i) {
        event.Scancode = static_cast<uint8_t>(size > static_cast<size_t>(i) ? data[i] : 0x3B);
        event.Keycode = static_cast<uint16_t>(0x70 + i);
        event.Flags = KEYFLAG_KEYCODE | KEYFLAG_INTABLE | (static_cast<uint32_t>(i) << 4);
        map.ProcessKeymap(1, event);
    }
}

void Translation(char const* data, size_t size)
{
    HOST host;
    TRANSLATE tables(host);
    tables.ReadText(data, size);
    std::string const first = tables.WriteText();
    TRANSLATE again(host);
    again.ReadText(first.data(), first.size());
    if (again.WriteText() != first)
        abort();
    for (int b = 0; b < 256; ++b)
        if (tables.Translate('I', b) != again.Translate('i', b) || tables.Translate('O', b) < 0)
            abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    static bool const once = [] {
        SetAssertQuestionHook(&NoQuestions);
        return true;
    }();
    (void)once;
    if (size == 0)
        return 0;
    char const* text = reinterpret_cast<char const*>(data + 1);
    if (data[0] & 1)
        KeyMap(text, size - 1);
    else
        Translation(text, size - 1);
    return 0;
}
