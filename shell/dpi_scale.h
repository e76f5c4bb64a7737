// Sizes given in pixels, laid out for 96 DPI (100 %), at the display's DPI.
//
// Both programs declare themselves DPI-aware (system DPI, in the manifest),
// so Windows no longer stretches their windows as blurred bitmaps at 125 or
// 150 %. Dialog units follow the dialog font and scale by themselves; what
// is given in pixels (a window's size, a picture's layout, pen widths, the
// width of a frame) is scaled here, once, by the DPI the system had when the
// program started. Win32-free, so the arithmetic is tested on the host.
#pragma once

constexpr int kBaseDpi = 96;

// pixels (laid out at 96 DPI) at dpi: rounded to the nearest pixel, halves
// away from zero, so that a layout and its mirror image scale alike. A length
// that is not 0 never becomes 0 (a one-pixel line stays visible). A dpi that
// is not positive (none could be read) leaves pixels as they are.
int ScaleToDpi(int pixels, int dpi);
