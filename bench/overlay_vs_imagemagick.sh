#!/usr/bin/env bash
# Times motion blur, the watermark overlay, colour replacement and skew
# against ImageMagick's closest equivalents, single-threaded, side by side on
# the same 24-bit 4000 x 3000 pixels:
#   bench/overlay_vs_imagemagick.sh [build-folder] [runs]
#
#   Brellix                                  ImageMagick
#   MotionBlurDIB intensity 5 at 45 degrees  -motion-blur 3x1.5+45 (7 taps
#     (the pixel and 5 samples)                along the line, ours are 6)
#   OverlayWatermark, 2000 x 1500 centred,   -gravity center -compose dissolve
#     opacity 50, no transparency              -define compose:args=50 -composite
#   ReplaceColorDIB, grey 128 -> red,        -fuzz 10% -fill red
#     tolerance 10 percent                     -opaque 'rgb(128,128,128)'
#   SkewDIB 20 degrees horizontally          -background white -shear 20x0
# Wind has no ImageMagick counterpart. The operations differ in detail
# (ImageMagick's fuzz is a distance in RGB space, its shear interpolates),
# so these are the closest equivalents, not the same work.
#
# File work is kept out of both sides as far as possible:
# - Brellix: the benchmark programs load the PPM files once, then time the
#   operation alone; the result block is allocated inside the timing, as
#   ImageMagick allocates its own. Best of the repetitions, wall clock.
# - ImageMagick: `convert -limit thread 1 in.mpc ... null:`. An MPC file is
#   ImageMagick's own pixel cache, mapped rather than decoded, and null:
#   writes nothing. The time of the same command without the operation
#   (start-up and opening the caches) is measured too and subtracted; the raw
#   times are printed beside it. Best of N wall-clock runs.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
build=${1:-build-rel}
runs=${2:-7}
deform="$build/bench/bench_imaging_deform2"
overlay="$build/bench/bench_imaging_overlay"
convert=/usr/bin/convert
[ -x "$convert" ] || { echo "$convert is missing (the imagemagick package)"; exit 1; }
for b in "$deform" "$overlay"; do
  [ -x "$b" ] || { echo "build the bench_imaging_deform2 and bench_imaging_overlay targets first ($b)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/overlaybench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$convert" -size 4000x3000 plasma:fractal -seed 7 -depth 8 "$work/large.ppm" 2> /dev/null ||
  "$convert" -size 4000x3000 gradient:orange-navy -swirl 200 -attenuate 0.3 +noise Gaussian -depth 8 "$work/large.ppm"
"$convert" -size 2000x1500 plasma:fractal -seed 11 -depth 8 "$work/mark.ppm" 2> /dev/null ||
  "$convert" -size 2000x1500 gradient:white-navy -swirl 90 -depth 8 "$work/mark.ppm"
"$convert" "$work/large.ppm" "$work/large.mpc"
"$convert" "$work/mark.ppm" "$work/mark.mpc"
cat "$work"/*.cache > /dev/null  # into the page cache

. "$(dirname "$0")/best_ms.sh"
im() { best_ms "$convert" -limit thread 1 "$@" null:; }
base_one=$(im "$work/large.mpc")
base_two=$(im "$work/large.mpc" "$work/mark.mpc")
raw_blur=$(im "$work/large.mpc" -motion-blur 3x1.5+45)
raw_mark=$(im "$work/large.mpc" "$work/mark.mpc" -gravity center -compose dissolve \
  -define compose:args=50 -composite)
raw_replace=$(im "$work/large.mpc" -fuzz 10% -fill red -opaque 'rgb(128,128,128)')
raw_shear=$(im "$work/large.mpc" -background white -shear 20x0)

export BRELLIX_BENCH_LARGE="$work/large.ppm" BRELLIX_BENCH_WATERMARK="$work/mark.ppm"
json_deform=$("$deform" --benchmark_filter='^BM_(MotionBlur24/5/45|Skew24/20/0)$' \
  --benchmark_repetitions="$runs" --benchmark_format=json 2> /dev/null)
json_overlay=$("$overlay" --benchmark_filter='^BM_(Watermark24/0/50|ReplaceColor24/10)$' \
  --benchmark_repetitions="$runs" --benchmark_format=json 2> /dev/null)
ours() {  # the best repetition of a benchmark, wall clock, in milliseconds
  echo "$1" | python3 -c "import json,sys; d=json.load(sys.stdin)
print(round(min(b['real_time'] for b in d['benchmarks']
                if b['run_name'] == '$2' and b.get('run_type') == 'iteration'), 1))"
}
ratio() { python3 -c "print(f'{$1 / $2:.1f}x')"; }
row() {  # label, ours, raw ImageMagick, baseline
  local im_ms=$(( $3 - $4 ))
  printf '%-40s %7s ms %9s ms %9s, %4s ms %8s\n' "$1" "$2" "$im_ms" "$3" "$4" "$(ratio "$im_ms" "$2")"
}

printf '%-40s %10s %12s %17s %8s\n' "24 bits, 4000x3000, 1 thread" "Brellix" "ImageMagick" "(raw, start-up)" "ratio"
row "motion blur 5 px at 45 degrees" "$(ours "$json_deform" BM_MotionBlur24/5/45)" "$raw_blur" "$base_one"
row "watermark 2000x1500, opacity 50" "$(ours "$json_overlay" BM_Watermark24/0/50)" "$raw_mark" "$base_two"
row "colour replacement, tolerance 10%" "$(ours "$json_overlay" BM_ReplaceColor24/10)" "$raw_replace" "$base_one"
row "skew 20 degrees horizontally" "$(ours "$json_deform" BM_Skew24/20/0)" "$raw_shear" "$base_one"
echo "(ratio: ImageMagick time / Brellix time; both best of $runs, wall clock)"
