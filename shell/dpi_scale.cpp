#include "shell/dpi_scale.h"

#include <cstdint>

int ScaleToDpi(int pixels, int dpi)
{
    if (dpi <= 0)
        return pixels;
    // In 64 bits: a large window size at a large DPI does not overflow.
    const int64_t scaled = static_cast<int64_t>(pixels) * dpi;
    const int64_t magnitude = (scaled < 0 ? -scaled : scaled);
    int64_t rounded = (magnitude + kBaseDpi / 2) / kBaseDpi;
    if (rounded == 0 && pixels != 0)
        rounded = 1;
    return static_cast<int>(scaled < 0 ? -rounded : rounded);
}
