#!/usr/bin/env bash
# Times the perspective and the pinch against their closest ImageMagick
# equivalents, single-threaded, on the same 24-bit 4000 x 3000 pixels:
# - HPerspectiveDIB (left edge, amount 30) against `-distort Perspective`
#   moving the two left corners in by the same 15 % of the height;
# - WarpDIB (150, 150), the pinch of effect 50, against `-implode 0.5`.
#   bench/deform_vs_imagemagick.sh [build-folder] [runs]
#
# As in bench/resample_vs_imagemagick.sh, file work is kept out of both sides:
# - Brellix: bench_imaging_deform loads the PPM once, then times the
#   operation alone (median of the repetitions), output block included.
# - ImageMagick: `convert -limit thread 1 in.mpc ... null:` on its own pixel
#   cache (mapped, not decoded); the time of `convert in.mpc null:` is
#   subtracted and printed beside the raw time. Best of N wall-clock runs.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
build=${1:-build-rel}
runs=${2:-5}
bench="$build/bench/bench_imaging_deform"
convert=/usr/bin/convert
[ -x "$convert" ] || { echo "$convert is missing (the imagemagick package)"; exit 1; }
[ -x "$bench" ] || { echo "build the bench_imaging_deform target first ($bench)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/deformbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$convert" -size 4000x3000 plasma:fractal -seed 7 -depth 8 "$work/large.ppm" 2> /dev/null ||
  "$convert" -size 4000x3000 gradient:orange-navy -swirl 200 -attenuate 0.3 +noise Gaussian -depth 8 "$work/large.ppm"
"$convert" "$work/large.ppm" "$work/large.mpc"
cat "$work"/*.cache > /dev/null  # into the page cache

# Amount 30 on 3000 rows: s = 2100, h = 450 rows off each end of the left edge.
perspective='0,0 0,450  0,3000 0,2550  4000,0 4000,0  4000,3000 4000,3000'

. "$(dirname "$0")/best_ms.sh"
im_base=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" null:)
im_persp_raw=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" -virtual-pixel background \
  -background white -distort Perspective "$perspective" null:)
im_implode_raw=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" -implode 0.5 null:)
im_persp=$(( im_persp_raw - im_base ))
im_implode=$(( im_implode_raw - im_base ))

json=$(BRELLIX_BENCH_LARGE="$work/large.ppm" "$bench" \
  --benchmark_filter='^BM_(HPerspective24/30|Warp24/x:150/y:150)$' \
  --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true \
  --benchmark_format=json 2> /dev/null)
ours() {  # the median of a benchmark, in milliseconds
  echo "$json" | python3 -c "import json,sys; d=json.load(sys.stdin)
print(round(next(b['real_time'] for b in d['benchmarks']
                if b['run_name'] == '$1' and b.get('aggregate_name') == 'median'), 1))"
}
persp=$(ours BM_HPerspective24/30)
pinch=$(ours BM_Warp24/x:150/y:150)
ratio() { python3 -c "print(f'{$1 / $2:.1f}x')"; }
mpx() { python3 -c "print(f'{12.0 / ($1 / 1000):.0f}')"; }

printf '%-40s %10s %12s %16s %8s\n' "24 bits, 4000x3000, 1 thread" "Brellix" "ImageMagick" "(raw, start-up)" "ratio"
printf '%-40s %7s ms %9s ms %9s, %3s ms %8s\n' "perspective 30 % / -distort Perspective" "$persp" \
  "$im_persp" "$im_persp_raw" "$im_base" "$(ratio "$im_persp" "$persp")"
printf '%-40s %7s ms %9s ms %9s, %3s ms %8s\n' "pinch 50 / -implode 0.5" "$pinch" "$im_implode" \
  "$im_implode_raw" "$im_base" "$(ratio "$im_implode" "$pinch")"
echo "Brellix output: perspective $(mpx "$persp") Mpixel/s, pinch $(mpx "$pinch") Mpixel/s"
echo "(ratio: ImageMagick time / Brellix time; Brellix median of $runs, ImageMagick best of $runs)"
