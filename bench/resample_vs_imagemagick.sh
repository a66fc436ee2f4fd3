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
build=${1:-build}
runs=${2:-7}
bench="$build/bench/bench_imaging_resample"
convert=/usr/bin/convert
[ -x "$convert" ] || { echo "$convert is missing (the imagemagick package)"; exit 1; }
[ -x "$bench" ] || { echo "build the bench_imaging_resample target first ($bench)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/resamplebench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$convert" -size 4000x3000 plasma:fractal -seed 7 -depth 8 "$work/large.ppm" 2> /dev/null ||
  "$convert" -size 4000x3000 gradient:orange-navy -swirl 200 -attenuate 0.3 +noise Gaussian -depth 8 "$work/large.ppm"
"$convert" "$work/large.ppm" -filter box -resize '1000x750!' -depth 8 "$work/small.ppm"
"$convert" "$work/large.ppm" "$work/large.mpc"
"$convert" "$work/small.ppm" "$work/small.mpc"
cat "$work"/*.cache > /dev/null  # into the page cache

. "$(dirname "$0")/best_ms.sh"
im_base_large=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" null:)
im_base_small=$(best_ms "$convert" -limit thread 1 "$work/small.mpc" null:)
im_halve_raw=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" -filter box -resize 50% null:)
im_enlarge_raw=$(best_ms "$convert" -limit thread 1 "$work/small.mpc" -filter box -resize 400% null:)
im_halve=$(( im_halve_raw - im_base_large ))
im_enlarge=$(( im_enlarge_raw - im_base_small ))

json=$(BRELLIX_BENCH_LARGE="$work/large.ppm" BRELLIX_BENCH_SMALL="$work/small.ppm" "$bench" \
  --benchmark_filter='^BM_(Halve|Enlarge)24$' --benchmark_repetitions="$runs" \
  --benchmark_report_aggregates_only=true --benchmark_format=json 2> /dev/null)
ours() {  # the median of a benchmark, in milliseconds
  echo "$json" | python3 -c "import json,sys; d=json.load(sys.stdin)
print(round(next(b['real_time'] for b in d['benchmarks']
                if b['run_name'] == '$1' and b.get('aggregate_name') == 'median'), 1))"
}
halve=$(ours BM_Halve24)
enlarge=$(ours BM_Enlarge24)
ratio() { python3 -c "print(f'{$1 / $2:.1f}x')"; }

printf '%-34s %10s %12s %16s %8s\n' "24 bits, box filter, 1 thread" "Brellix" "ImageMagick" "(raw, start-up)" "ratio"
printf '%-34s %7s ms %9s ms %9s, %3s ms %8s\n' "halve 4000x3000 -> 2000x1500" "$halve" "$im_halve" \
  "$im_halve_raw" "$im_base_large" "$(ratio "$im_halve" "$halve")"
printf '%-34s %7s ms %9s ms %9s, %3s ms %8s\n' "enlarge 1000x750 -> 4000x3000" "$enlarge" "$im_enlarge" \
  "$im_enlarge_raw" "$im_base_small" "$(ratio "$im_enlarge" "$enlarge")"
echo "(ratio: ImageMagick time / Brellix time; Brellix median of $runs, ImageMagick best of $runs)"
