#!/usr/bin/env bash
# Times ResampleDIB against ImageMagick's box filter, single-threaded, on the
# same 24-bit pixels: halving 4000 x 3000 to 2000 x 1500 and enlarging
# 1000 x 750 to 4000 x 3000.
#   bench/resample_vs_imagemagick.sh [build-folder] [runs]
#
# File work is kept out of both sides as far as possible:
# - Brellix: bench_imaging_resample loads the PPM files once, then times
#   ResampleDIB alone (median of the repetitions); the output block is
#   allocated inside the timing, as ImageMagick allocates its own.
# - ImageMagick: `convert -limit thread 1 in.mpc -filter box -resize ... null:`.
#   An MPC file is ImageMagick's own pixel cache, mapped rather than decoded,
#   and null: writes nothing. The time of `convert in.mpc null:` (start-up
#   and opening the cache, no resize) is measured too and subtracted; the
#   raw times are printed beside it. Best of N wall-clock runs.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
# shellcheck source=compare_lib.sh source-path=SCRIPTDIR
. "$(dirname "$0")/compare_lib.sh"
build=${1:-build-rel}
runs=${2:-7}
bench="$build/bench/bench_imaging_resample"
compare_setup resample "$bench"
make_picture large 4000x3000 7
"$convert" "$work/large.ppm" -filter box -resize '1000x750!' -depth 8 "$work/small.ppm"
make_mpc large small

im_base_large=$(im_raw "$work/large.mpc")
im_base_small=$(im_raw "$work/small.mpc")
im_halve_raw=$(im_raw "$work/large.mpc" -filter box -resize 50%)
im_enlarge_raw=$(im_raw "$work/small.mpc" -filter box -resize 400%)
im_halve=$((im_halve_raw - im_base_large))
im_enlarge=$((im_enlarge_raw - im_base_small))

json=$(BRELLIX_BENCH_LARGE="$work/large.ppm" BRELLIX_BENCH_SMALL="$work/small.ppm" bench_json "$bench" \
  --benchmark_filter='^BM_(Halve|Enlarge)24$')
halve=$(ours_median "$json" BM_Halve24)
enlarge=$(ours_median "$json" BM_Enlarge24)

printf '%-34s %10s %12s %16s %8s\n' "24 bits, box filter, 1 thread" "Brellix" "ImageMagick" "(raw, start-up)" "ratio"
printf '%-34s %7s ms %9s ms %9s, %3s ms %8s\n' "halve 4000x3000 -> 2000x1500" "$halve" "$im_halve" \
  "$im_halve_raw" "$im_base_large" "$(ratio "$im_halve" "$halve")"
printf '%-34s %7s ms %9s ms %9s, %3s ms %8s\n' "enlarge 1000x750 -> 4000x3000" "$enlarge" "$im_enlarge" \
  "$im_enlarge_raw" "$im_base_small" "$(ratio "$im_enlarge" "$enlarge")"
echo "(ratio: ImageMagick time / Brellix time; Brellix median of $runs, ImageMagick best of $runs)"
