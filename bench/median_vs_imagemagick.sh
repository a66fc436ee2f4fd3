#!/usr/bin/env bash
# Times our 3 x 3 median (RankFilterDIB mode 1) against ImageMagick's
# `-statistic median 3x3`, single-threaded, on the same 24-bit 4000 x 3000
# pixels.
#   bench/median_vs_imagemagick.sh [build-folder] [runs]
#
# File work is kept out of both sides as far as possible:
# - Brellix: bench_imaging_rank loads the PPM file once, then times
#   RankFilterDIB alone (median of the repetitions); the result block is
#   allocated inside the timing, as ImageMagick allocates its own.
# - ImageMagick: `convert -limit thread 1 in.mpc -statistic median 3x3 null:`.
#   An MPC file is ImageMagick's own pixel cache, mapped rather than decoded,
#   and null: writes nothing. The time of `convert in.mpc null:` (start-up
#   and opening the cache, no filter) is measured too and subtracted; the
#   raw times are printed beside it. Best of N wall-clock runs.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
# shellcheck source=compare_lib.sh source-path=SCRIPTDIR
. "$(dirname "$0")/compare_lib.sh"
build=${1:-build-rel}
runs=${2:-7}
bench="$build/bench/bench_imaging_rank"
compare_setup median "$bench"
make_picture large 4000x3000 7
make_mpc large

im_base=$(im_raw "$work/large.mpc")
raw=$(im_raw "$work/large.mpc" -statistic median 3x3)
im=$((raw - im_base))

json=$(BRELLIX_BENCH_LARGE="$work/large.ppm" bench_json "$bench" --benchmark_filter='^BM_Rank24/mode:1$')
ours=$(ours_median "$json" BM_Rank24/mode:1)

printf '%-34s %10s %12s %16s %8s\n' "24 bits, 3x3 median, 1 thread" "Brellix" "ImageMagick" "(raw, start-up)" "ratio"
printf '%-34s %7s ms %9s ms %9s, %3s ms %8s\n' "4000x3000" "$ours" "$im" "$raw" "$im_base" \
  "$(ratio "$im" "$ours")"
printf '%-34s %10s %12s\n' "Mpixel/s" "$(mpx "$ours")" "$(mpx "$im")"
echo "(ratio: ImageMagick time / Brellix time; Brellix median of $runs, ImageMagick best of $runs)"
