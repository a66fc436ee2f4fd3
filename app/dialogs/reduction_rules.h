// Which choices of the colour-reduction dialogs ("Apply Fully Optimized
// Palette", "Change to 2 / 16 / 256 colors") are available for a given
// palette and method, and what a choice that became unavailable turns into.
// Kept free of widgets so the rules can be checked on their own.
//
//   ordered dither    only with the standard palette (16 and 256 colours)
//   Windows' colours  not with the standard palette (it holds them already)
//   reduce bleeding   only with error diffusion
//   diffusion kind    only with error diffusion (2 colours)
#pragma once

#include <cstdint>

struct ReductionEnabling {
    bool orderedDither = true;
    bool windowsColors = true;
    bool reduceBleeding = true;
    bool diffusionKind = true;
};

// kind: the command ID (519..522); palette and method: the values of the
// kind's palette and method slots.
ReductionEnabling ReductionEnablingFor(int32_t kind, int palette, int method);

// The method to show after the palette changed: an ordered dither that is no
// longer offered becomes nearest colour; any other method stays.
int ReductionMethodFor(int32_t kind, int palette, int method);
