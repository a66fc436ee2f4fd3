#!/usr/bin/env bash
# Times the filters against ImageMagick, single-threaded, on the same 24-bit
# 4000 x 3000 pixels: two 3 x 3 kernels (Sharpen, Find Edges) and a 5 x 5 one
# (Blur More) against `-convolve` with the same weights, and UnsharpMask
# against `-unsharp` with a blur of the same reach, amount 1 and the same
# threshold (clipping 10 = 10/255).
#   bench/filter_vs_imagemagick.sh [build-folder] [runs]
#
# File work is kept out of both sides as far as possible:
# - Brellix: bench_imaging_filter loads the PPM file once, then times the
#   operation alone (best of the repetitions, each the mean of several
#   calls); the output block is allocated inside the timing, as ImageMagick
#   allocates its own. The spread of the repetitions is printed too.
# - ImageMagick: `convert -limit thread 1 in.mpc <operation> null:`. An MPC
#   file is ImageMagick's own pixel cache, mapped rather than decoded, and
#   null: writes nothing. The time of `convert in.mpc null:` (start-up and
#   opening the cache) is measured too and subtracted; the raw times are
#   printed beside it. Best of N wall-clock runs.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
# shellcheck source=compare_lib.sh source-path=SCRIPTDIR
. "$(dirname "$0")/compare_lib.sh"
build=${1:-build-rel}
runs=${2:-5}
bench="$build/bench/bench_imaging_filter"
compare_setup filter "$bench"
make_picture large 4000x3000 7
make_mpc large

im_base=$(im_raw "$work/large.mpc")

json=$(BRELLIX_BENCH_LARGE="$work/large.ppm" bench_json "$bench" --reuse_blocks \
  --benchmark_filter='^BM_(Filter24/code:(20|61|11)|Unsharp24/strength:(1|4))$')

printf '%-36s %9s %9s %12s %16s %8s\n' "24 bits, 4000x3000, 1 thread" "Brellix" "(worst)" \
  "ImageMagick" "(raw, start-up)" "ratio"
row() {  # label, benchmark name, ImageMagick arguments...
  local label=$1 name=$2
  shift 2
  local raw mine worst theirs
  raw=$(im_raw "$work/large.mpc" "$@")
  mine=$(ours_best "$json" "$name")
  worst=$(ours_worst "$json" "$name")
  theirs=$((raw - im_base))
  printf '%-36s %6s ms %6s ms %9s ms %9s, %3s ms %8s\n' "$label" "$mine" "$worst" "$theirs" "$raw" \
    "$im_base" "$(ratio "$theirs" "$mine")"
}
row "Sharpen 3x3 / -convolve" BM_Filter24/code:20 -convolve 0,-1,0,-1,10,-1,0,-1,0
row "Find Edges 3x3 / -convolve" BM_Filter24/code:61 -convolve -1,-1,-1,-1,8,-1,-1,-1,-1
row "Blur More 5x5 / -convolve" BM_Filter24/code:11 \
  -convolve 1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1
row "Unsharp, Soften / -unsharp 1x0.65" BM_Unsharp24/strength:1 -unsharp 1x0.65+1+0.04
row "Unsharp, Blur More / -unsharp 2x1" BM_Unsharp24/strength:4 -unsharp 2x1+1+0.04
echo "(ratio: ImageMagick time / Brellix time; both best of $runs)"
