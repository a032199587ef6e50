// The character a key types on the current keyboard layout, without a key
// event: through libxkbcommon, with the layout the X server uses (its
// _XKB_RULES_NAMES root window property) or, without X, the one the
// XKB_DEFAULT_* variables name (libxkbcommon reads them itself), else US.
#include "platform/events/keys.h"
#include "platform/events/queue.h"

#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace plat {
namespace {

struct Layout {
    bool tried = false;
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* plain = nullptr;
    xkb_state* shifted = nullptr;

    void Free()
    {
        if (shifted)
            xkb_state_unref(shifted);
        if (plain)
            xkb_state_unref(plain);
        if (keymap)
            xkb_keymap_unref(keymap);
        if (context)
            xkb_context_unref(context);
        *this = Layout();
    }
};

Layout& TheLayout()
{
    static auto* layout = new Layout;
    return *layout;
}

// The five names of the X server's keymap (rules, model, layout, variant,
// options), each ended by a NUL; empty when not on X or not set.
std::vector<std::string> XServerNames()
{
    std::vector<std::string> names;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c)
        return names;
    static const char kAtom[] = "_XKB_RULES_NAMES";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, sizeof kAtom - 1, kAtom), nullptr);
    if (!atom)
        return names;
    const xcb_atom_t property = atom->atom;
    free(atom);
    if (property == XCB_ATOM_NONE)
        return names;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return names;
    // 1024 words are far more than any set of names; the reply says how
    // many bytes it holds, and nothing beyond them is read.
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, screen->root, property, XCB_ATOM_STRING, 0, 1024), nullptr);
    if (!reply)
        return names;
    const char* data = static_cast<const char*>(xcb_get_property_value(reply));
    const int length = xcb_get_property_value_length(reply);
    std::string current;
    for (int i = 0; i < length && names.size() < 5; ++i) {
        if (data[i] == '\0') {
            names.push_back(current);
            current.clear();
        } else {
            current.push_back(data[i]);
        }
    }
    free(reply);
    return names;
}

bool Load(Layout& l)
{
    l.tried = true;
    l.context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!l.context)
        return false;
    std::vector<std::string> names = XServerNames();
    if (names.size() >= 3 && !names[2].empty()) {
        names.resize(5);
        xkb_rule_names rmlvo = {names[0].empty() ? nullptr : names[0].c_str(),
                                names[1].empty() ? nullptr : names[1].c_str(), names[2].c_str(),
                                names[3].empty() ? nullptr : names[3].c_str(),
                                names[4].empty() ? nullptr : names[4].c_str()};
        l.keymap = xkb_keymap_new_from_names(l.context, &rmlvo, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }
    if (!l.keymap)
        l.keymap = xkb_keymap_new_from_names(l.context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!l.keymap) {
        std::fprintf(stderr, "plat: no keyboard layout could be loaded\n");
        return false;
    }
    l.plain = xkb_state_new(l.keymap);
    l.shifted = xkb_state_new(l.keymap);
    if (!l.plain || !l.shifted)
        return false;
    const xkb_mod_index_t shift = xkb_keymap_mod_get_index(l.keymap, XKB_MOD_NAME_SHIFT);
    if (shift != XKB_MOD_INVALID)
        xkb_state_update_mask(l.shifted, xkb_mod_mask_t{1} << shift, 0, 0, 0, 0, 0);
    return true;
}

} // namespace

char32_t TranslateScanCode(uint8_t scan, uint8_t prefix, uint32_t modifiers)
{
    if (!CheckMainThread("TranslateScanCode"))
        return 0;
    Layout& l = TheLayout();
    if (!l.tried && !Load(l))
        return 0;
    if (!l.plain)
        return 0;
    const uint32_t evdev = ScanToEvdev(static_cast<uint16_t>((prefix << 8) | scan));
    if (!evdev)
        return 0;
    // X keycodes are the evdev codes plus 8.
    xkb_state* state = (modifiers & (kModShift | kModCapsLock)) ? l.shifted : l.plain;
    return static_cast<char32_t>(xkb_state_key_get_utf32(state, evdev + 8));
}

void ResetKeyLayout()
{
    if (CheckMainThread("ResetKeyLayout"))
        TheLayout().Free();
}

} // namespace plat
