// The 256-colour palette as xterm defines it above the 16 terminal
// colours: the 6x6x6 colour cube (16 to 231) and the grey ramp (232 to
// 255). A cell holds palette numbers, so direct RGB colours are taken to
// the nearest entry of these.
#pragma once

namespace vt {

// The default RGB of a palette entry from 16 to 255.
void PaletteRgb(int index, int* r, int* g, int* b);

// The nearest entry (16 to 255) to an RGB colour, by squared distance; a
// tie goes to the colour cube.
int NearestPaletteIndex(int r, int g, int b);

} // namespace vt
