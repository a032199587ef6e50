// libFuzzer entry for the clipboard's private flavour, which any program
// on the desktop can fill: decoding survives any bytes, and what it
// decoded encodes and decodes to the same items.
#include "platform/pasteboard/pasteboard.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    std::string_view const bytes(reinterpret_cast<char const*>(data), size);
    std::vector<plat::PasteboardItem> const items = plat::DecodeMoreItems(bytes);
    if (plat::DecodeMoreItems(plat::EncodeMoreItems(items)) != items)
        abort();
    return 0;
}
