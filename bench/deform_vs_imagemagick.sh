#!/usr/bin/env bash
# Times the perspective and the pinch against their closest ImageMagick
# equivalents, single-threaded, on the same 24-bit 4000 x 3000 pixels:
# - HPerspectiveDIB (left edge, amount 30) against `-distort Perspective`
#   moving the two left corners in by the same 15 % of the height;
# - WarpDIB (150, 150), the pinch of effect 50, against `-implode 0.5`.
#   bench/deform_vs_imagemagick.sh [build-folder] [runs]
#
# File work is kept out of both sides (bench/compare_lib.sh):
# - Brellix: bench_imaging_deform loads the PPM once, then times the
#   operation alone (median of the repetitions), output block included.
# - ImageMagick: `convert -limit thread 1 in.mpc ... null:` on its own pixel
#   cache (mapped, not decoded); the time of `convert in.mpc null:` is
#   subtracted and printed beside the raw time. Best of N wall-clock runs.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
# shellcheck source=compare_lib.sh source-path=SCRIPTDIR
. "$(dirname "$0")/compare_lib.sh"
build=${1:-build-rel}
runs=${2:-5}
bench="$build/bench/bench_imaging_deform"
compare_setup deform "$bench"
make_picture large 4000x3000 7
make_mpc large

# Amount 30 on 3000 rows: s = 2100, h = 450 rows off each end of the left edge.
perspective='0,0 0,450  0,3000 0,2550  4000,0 4000,0  4000,3000 4000,3000'

im_base=$(im_raw "$work/large.mpc")
im_persp_raw=$(im_raw "$work/large.mpc" -virtual-pixel background -background white \
  -distort Perspective "$perspective")
im_implode_raw=$(im_raw "$work/large.mpc" -implode 0.5)
im_persp=$((im_persp_raw - im_base))
im_implode=$((im_implode_raw - im_base))

json=$(BRELLIX_BENCH_LARGE="$work/large.ppm" bench_json "$bench" \
  --benchmark_filter='^BM_(HPerspective24/30|Warp24/x:150/y:150)$')
persp=$(ours_median "$json" BM_HPerspective24/30)
pinch=$(ours_median "$json" BM_Warp24/x:150/y:150)

printf '%-40s %10s %12s %16s %8s\n' "24 bits, 4000x3000, 1 thread" "Brellix" "ImageMagick" "(raw, start-up)" "ratio"
printf '%-40s %7s ms %9s ms %9s, %3s ms %8s\n' "perspective 30 % / -distort Perspective" "$persp" \
  "$im_persp" "$im_persp_raw" "$im_base" "$(ratio "$im_persp" "$persp")"
printf '%-40s %7s ms %9s ms %9s, %3s ms %8s\n' "pinch 50 / -implode 0.5" "$pinch" "$im_implode" \
  "$im_implode_raw" "$im_base" "$(ratio "$im_implode" "$pinch")"
echo "Brellix output: perspective $(mpx "$persp") Mpixel/s, pinch $(mpx "$pinch") Mpixel/s"
echo "(ratio: ImageMagick time / Brellix time; Brellix median of $runs, ImageMagick best of $runs)"
