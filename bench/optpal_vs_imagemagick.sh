#!/usr/bin/env bash
# Times the optimized palettes against ImageMagick's colour reduction,
# single-threaded, on the same 4000 x 3000 24-bit pixels.
#   bench/optpal_vs_imagemagick.sh [build-folder] [runs]
#
# The two sides do not do the same work, and the figures say so:
# - Brellix: bench_imaging_optpal loads the PPM once, then times begin + add
#   + generate of a 256-colour palette (median cut, octree): the palette
#   only. Mapping the pixels to it is the dithering family's work.
# - ImageMagick: `convert -limit thread 1 in.mpc +dither -colors 256 null:`
#   builds its tree, reduces it to 256 colours and also assigns every pixel
#   (without dithering). Its start-up and cache opening (`convert in.mpc
#   null:`) are measured and subtracted; the raw times are printed beside.
# Best of N wall-clock runs on both sides.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
# shellcheck source=compare_lib.sh source-path=SCRIPTDIR
. "$(dirname "$0")/compare_lib.sh"
build=${1:-build-rel}
runs=${2:-7}
bench="$build/bench/bench_imaging_optpal"
compare_setup optpal "$bench"
make_picture large 4000x3000 7
make_mpc large

im_base=$(im_raw "$work/large.mpc")
raw=$(im_raw "$work/large.mpc" +dither -colors 256)
im=$((raw - im_base))

json=$(BRELLIX_BENCH_PHOTO="$work/large.ppm" bench_json "$bench" --benchmark_filter='^BM_Whole/[01]/0$')
median=$(ours_best "$json" BM_Whole/0/0)
octree=$(ours_best "$json" BM_Whole/1/0)

printf '%-40s %10s %16s %8s\n' "256 colours of 4000x3000, 1 thread" "time" "(raw, start-up)" "ratio"
printf '%-40s %7s ms %16s %8s\n' "Brellix median cut (palette)" "$median" "" "$(ratio "$im" "$median")"
printf '%-40s %7s ms %16s %8s\n' "Brellix octree (palette)" "$octree" "" "$(ratio "$im" "$octree")"
printf '%-40s %7s ms %9s, %3s ms\n' "ImageMagick -colors 256 (and mapping)" "$im" "$raw" "$im_base"
echo "(ratio: ImageMagick time / Brellix time; best of $runs on both sides)"
