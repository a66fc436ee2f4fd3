#!/usr/bin/env bash
# Times 256-colour error diffusion against ImageMagick, single-threaded, on
# the same 4000 x 3000 24-bit photograph-like picture (a plasma fractal).
#   bench/dither_vs_imagemagick.sh [build-folder] [runs]
#
# - ImageMagick: `convert -limit thread 1 in.mpc -dither FloydSteinberg
#   -colors 256 null:`, which chooses a 256-colour palette and diffuses the
#   error onto it. The MPC file is ImageMagick's own pixel cache, mapped
#   rather than decoded, and null: writes nothing; the time of `convert in.mpc
#   null:` (start-up and opening the cache) is subtracted, the raw time is
#   printed beside it. Best of N wall-clock runs.
# - Brellix: bench_imaging_dither loads the PPM once, then times one call
#   (median of N repetitions, result block allocated inside the timing):
#   DitherToPalette with a fixed 256-entry palette and its colour cache
#   emptied before every call (so every colour is matched afresh), and
#   DitherToStandardPalette to the 6 x 6 x 6 cube through the colour map
#   (KCD.DAT, made by the brellix_kcd target).
#   Brellix does not choose the palette; ImageMagick's time includes that.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
# shellcheck source=compare_lib.sh source-path=SCRIPTDIR
. "$(dirname "$0")/compare_lib.sh"
build=${1:-build-rel}
runs=${2:-5}
bench="$build/bench/bench_imaging_dither"
compare_setup dither "$bench"
kcd="$build/share/brellix/KCD.DAT"
if [ -z "${BRELLIX_DATA_DIR:-}" ] && [ ! -f "$kcd" ]; then
  echo "build the brellix_kcd target first ($kcd)" >&2
  exit 1
fi
make_picture large 4000x3000 7
make_mpc large

im_base=$(im_raw "$work/large.mpc")
raw=$(im_raw "$work/large.mpc" -dither FloydSteinberg -colors 256)
im=$((raw - im_base))

json=$(BRELLIX_BENCH_LARGE="$work/large.ppm" bench_json "$bench" \
  --benchmark_filter='^BM_(DitherToPaletteDiffused256Cold|DitherToStandardPalette/bits:8/method:2)$')
palette=$(ours_median "$json" BM_DitherToPaletteDiffused256Cold)
cube=$(ours_median "$json" BM_DitherToStandardPalette/bits:8/method:2)

printf '%-46s %9s %8s %6s\n' "24 bits 4000x3000 -> 256 colours, 1 thread" "ms" "Mpx/s" "ratio"
printf '%-46s %9s %8s %6s\n' "ImageMagick -dither FloydSteinberg -colors 256" "$im" "$(mpx "$im" 1)" ""
printf '%-46s %9s %8s %6s\n' "  (raw, start-up)" "$raw, $im_base" "" ""
printf '%-46s %9s %8s %6s\n' "DitherToPalette, error diffusion, cold cache" "$palette" "$(mpx "$palette" 1)" \
  "$(ratio "$im" "$palette")"
printf '%-46s %9s %8s %6s\n' "DitherToStandardPalette, error diffusion" "$cube" "$(mpx "$cube" 1)" \
  "$(ratio "$im" "$cube")"
echo "(ratio: ImageMagick time / Brellix time; Brellix median of $runs, ImageMagick best of $runs)"
