// The colour picker and the font chooser: the widget toolkit's own dialogs,
// run application-modal inside their own loop, centred over the parent
// window.
//
// Each asks the modal responders (platform/events/modal.h) once its loop
// runs, so tests answer it without a human; in test mode a dialog without
// a responder is cancelled at once.
//
// Colour picker (kind kModalColor): ModalRequest::text is the colour shown
// as "#rrggbb", `native` the Qt dialog. ModalAnswer::choice 1 accepts the
// colour ModalAnswer::value (0x00BBGGRR), anything else cancels.
//
// Font chooser (kind kModalFont): ModalRequest::text is the family shown,
// `choices` holds its size in pixels and "bold" and "italic" as they are
// set. ModalAnswer::choice 1 accepts; a non-empty `text` is the family
// chosen, a `value` above 0 the size, and `items`, when not empty, the
// styles chosen ("bold", "italic"; anything else: regular).
//
// Main thread; the event layer's application must be running.
#pragma once

#include "platform/events/modal.h"

#include <cstdint>
#include <string>

namespace plat {

constexpr OSType kModalFont = FourCC("font");

// Colour components of 16 bits each.
struct RGBColor16 {
    uint16_t red = 0;
    uint16_t green = 0;
    uint16_t blue = 0;
};

// Shows the picker on `colour`; true when the user accepted a colour, which
// is then in *chosen (unchanged otherwise).
bool PickColor(WindowRef parent, const std::string& prompt, RGBColor16 colour, RGBColor16* chosen);

struct FontChoice {
    std::string family;
    int size = 12; // pixels
    bool bold = false;
    bool italic = false;
};

// Shows the chooser on `font`; true when the user accepted, and `font`
// then holds the choice. A family the chooser shows in place of one this
// desktop lacks comes back as it was given unless the user chose another.
bool PickFont(WindowRef parent, const std::string& title, FontChoice& font);

} // namespace plat
