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
build=${1:-build}
runs=${2:-7}
bench="$build/bench/bench_imaging_optpal"
convert=/usr/bin/convert
[ -x "$convert" ] || { echo "$convert is missing (the imagemagick package)"; exit 1; }
[ -x "$bench" ] || { echo "build the bench_imaging_optpal target first ($bench)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/optpalbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$convert" -size 4000x3000 plasma:fractal -seed 7 -depth 8 "$work/large.ppm" 2> /dev/null ||
  "$convert" -size 4000x3000 gradient:orange-navy -swirl 200 -attenuate 0.3 +noise Gaussian -depth 8 "$work/large.ppm"
"$convert" "$work/large.ppm" "$work/large.mpc"
cat "$work"/*.cache > /dev/null  # into the page cache

. "$(dirname "$0")/best_ms.sh"
im_base=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" null:)
im_raw=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" +dither -colors 256 null:)
im=$(( im_raw - im_base ))

json=$(BRELLIX_BENCH_PHOTO="$work/large.ppm" "$bench" --benchmark_filter='^BM_Whole/[01]/0$' \
  --benchmark_repetitions="$runs" --benchmark_format=json 2> /dev/null)
ours() {  # the best repetition of a benchmark, in milliseconds
  echo "$json" | python3 -c "import json,sys; d=json.load(sys.stdin)
print(round(min(b['real_time'] for b in d['benchmarks']
                if b['run_name'] == '$1' and b['run_type'] == 'iteration'), 1))"
}
median=$(ours BM_Whole/0/0)
octree=$(ours BM_Whole/1/0)
ratio() { python3 -c "print(f'{$1 / $2:.1f}x')"; }

printf '%-40s %10s %16s %8s\n' "256 colours of 4000x3000, 1 thread" "time" "(raw, start-up)" "ratio"
printf '%-40s %7s ms %16s %8s\n' "Brellix median cut (palette)" "$median" "" "$(ratio "$im" "$median")"
printf '%-40s %7s ms %16s %8s\n' "Brellix octree (palette)" "$octree" "" "$(ratio "$im" "$octree")"
printf '%-40s %7s ms %9s, %3s ms\n' "ImageMagick -colors 256 (and mapping)" "$im" "$im_raw" "$im_base"
echo "(ratio: ImageMagick time / Brellix time; best of $runs on both sides)"
