#include "app/dialogs/reduction_rules.h"

#include "script/commands.h"

namespace {
// Values of the palette and method slots.
constexpr int kStandardPalette = 2;
constexpr int kNearest = 0;
constexpr int kOrderedDither = 1;
// "Apply Fully Optimized Palette" has no ordered dither: 1 is error diffusion.
int DiffusionValue(int32_t kind) {
    return kind == CMD_OPTIMIZED_PALETTE ? 1 : 2;
}
bool HasPaletteChoice(int32_t kind) {
    return kind == CMD_TO_16_COLORS || kind == CMD_TO_256_COLORS;
}
} // namespace

ReductionEnabling ReductionEnablingFor(int32_t kind, int palette, int method) {
    ReductionEnabling e;
    const bool diffusion = method == DiffusionValue(kind);
    if (HasPaletteChoice(kind)) {
        e.orderedDither = palette == kStandardPalette;
        e.windowsColors = palette != kStandardPalette;
    }
    if (kind == CMD_OPTIMIZED_PALETTE) e.orderedDither = false;
    e.reduceBleeding = diffusion;
    e.diffusionKind = diffusion;
    return e;
}

int ReductionMethodFor(int32_t kind, int palette, int method) {
    if (HasPaletteChoice(kind) && method == kOrderedDither && palette != kStandardPalette)
        return kNearest;
    return method;
}
