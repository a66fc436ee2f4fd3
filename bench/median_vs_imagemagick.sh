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
build=${1:-build-rel}
runs=${2:-7}
bench="$build/bench/bench_imaging_rank"
convert=/usr/bin/convert
[ -x "$convert" ] || { echo "$convert is missing (the imagemagick package)"; exit 1; }
[ -x "$bench" ] || { echo "build the bench_imaging_rank target first ($bench)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/medianbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$convert" -size 4000x3000 plasma:fractal -seed 7 -depth 8 "$work/large.ppm" 2> /dev/null ||
  "$convert" -size 4000x3000 gradient:orange-navy -swirl 200 -attenuate 0.3 +noise Gaussian -depth 8 "$work/large.ppm"
"$convert" "$work/large.ppm" "$work/large.mpc"
cat "$work"/*.cache > /dev/null  # into the page cache

. "$(dirname "$0")/best_ms.sh"
im_base=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" null:)
im_raw=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" -statistic median 3x3 null:)
im=$(( im_raw - im_base ))

json=$(BRELLIX_BENCH_LARGE="$work/large.ppm" "$bench" --benchmark_filter='^BM_Rank24/mode:1$' \
  --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true \
  --benchmark_format=json 2> /dev/null)
ours=$(echo "$json" | python3 -c "import json,sys; d=json.load(sys.stdin)
print(round(next(b['real_time'] for b in d['benchmarks']
                if b.get('aggregate_name') == 'median'), 1))")
ratio=$(python3 -c "print(f'{$im / $ours:.1f}x')")
mpx() { python3 -c "print(f'{12.0 / ($1 / 1000):.0f}')"; }

printf '%-34s %10s %12s %16s %8s\n' "24 bits, 3x3 median, 1 thread" "Brellix" "ImageMagick" "(raw, start-up)" "ratio"
printf '%-34s %7s ms %9s ms %9s, %3s ms %8s\n' "4000x3000" "$ours" "$im" "$im_raw" "$im_base" "$ratio"
printf '%-34s %10s %12s\n' "Mpixel/s" "$(mpx "$ours")" "$(mpx "$im")"
echo "(ratio: ImageMagick time / Brellix time; Brellix median of $runs, ImageMagick best of $runs)"
