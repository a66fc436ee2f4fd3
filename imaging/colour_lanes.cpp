// The two builds of the colour kernels and the choice between them.
//
// colour_lanes.inc is included twice: as 4 lanes with the baseline target,
// and as 8 lanes under `#pragma GCC target("avx2")`. Only code from that
// file sits inside the AVX2 region; the standard headers are included
// before it, so no inline function of theirs is ever built for AVX2 and
// picked by the linker for the whole program.
#include "imaging/colour_lanes.h"

#include <cstddef>
#include <cstdint>

namespace colour_lanes {

namespace sse2 {
#define LANES 4
#include "imaging/colour_lanes.inc"
#undef LANES
} // namespace sse2

#pragma GCC push_options
#pragma GCC target("avx2")
namespace avx2 {
#define LANES 8
#include "imaging/colour_lanes.inc"
#undef LANES
} // namespace avx2
#pragma GCC pop_options

namespace {

bool holdToFour = false;

bool Wide() {
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    return hasAvx2 && !holdToFour;
}

} // namespace

bool WideLanesInUse() {
    return Wide();
}
void HoldToFourLanes(bool hold) {
    holdToFour = hold;
}

void HlsOf(uint8_t red, uint8_t green, uint8_t blue, uint8_t* hue, uint8_t* saturation,
           uint8_t* lightness) {
    using namespace sse2;
    const Hls c = ToHls(Splat(red), Splat(green), Splat(blue));
    *hue = static_cast<uint8_t>(c.hue[0]);
    *saturation = static_cast<uint8_t>(c.saturation[0]);
    *lightness = static_cast<uint8_t>(c.lightness[0]);
}

void RgbOf(uint8_t hue, uint8_t saturation, uint8_t lightness, uint8_t* red, uint8_t* green,
           uint8_t* blue) {
    using namespace sse2;
    const Rgb c = FromHls(Splat(hue), Splat(saturation), Splat(lightness));
    *red = static_cast<uint8_t>(c.red[0]);
    *green = static_cast<uint8_t>(c.green[0]);
    *blue = static_cast<uint8_t>(c.blue[0]);
}

void AdjustHlsRow(const HlsSteps& steps, const uint8_t* in, uint8_t* out, size_t count) {
    if (Wide())
        avx2::AdjustHlsRow(steps, in, out, count);
    else
        sse2::AdjustHlsRow(steps, in, out, count);
}

void RelightRow(const uint8_t table[256], const uint8_t* in, uint8_t* out, size_t count) {
    if (Wide())
        avx2::RelightRow(table, in, out, count);
    else
        sse2::RelightRow(table, in, out, count);
}

} // namespace colour_lanes
