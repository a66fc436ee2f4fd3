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
# shellcheck source=compare_lib.sh source-path=SCRIPTDIR
. "$(dirname "$0")/compare_lib.sh"
build=${1:-build-rel}
runs=${2:-7}
deform="$build/bench/bench_imaging_deform2"
overlay="$build/bench/bench_imaging_overlay"
compare_setup overlay "$deform" "$overlay"
make_picture large 4000x3000 7
make_picture mark 2000x1500 11
make_mpc large mark

base_one=$(im_raw "$work/large.mpc")
base_two=$(im_raw "$work/large.mpc" "$work/mark.mpc")
raw_blur=$(im_raw "$work/large.mpc" -motion-blur 3x1.5+45)
raw_mark=$(im_raw "$work/large.mpc" "$work/mark.mpc" -gravity center -compose dissolve \
  -define compose:args=50 -composite)
raw_replace=$(im_raw "$work/large.mpc" -fuzz 10% -fill red -opaque 'rgb(128,128,128)')
raw_shear=$(im_raw "$work/large.mpc" -background white -shear 20x0)

export BRELLIX_BENCH_LARGE="$work/large.ppm" BRELLIX_BENCH_WATERMARK="$work/mark.ppm"
json_deform=$(bench_json "$deform" --benchmark_filter='^BM_(MotionBlur24/5/45|Skew24/20/0)$')
json_overlay=$(bench_json "$overlay" --benchmark_filter='^BM_(Watermark24/0/50|ReplaceColor24/10)$')
blur=$(ours_best "$json_deform" BM_MotionBlur24/5/45)
mark=$(ours_best "$json_overlay" BM_Watermark24/0/50)
replace=$(ours_best "$json_overlay" BM_ReplaceColor24/10)
shear=$(ours_best "$json_deform" BM_Skew24/20/0)
row() {  # label, ours, raw ImageMagick, baseline
  local theirs=$(($3 - $4))
  printf '%-40s %7s ms %9s ms %9s, %4s ms %8s\n' "$1" "$2" "$theirs" "$3" "$4" "$(ratio "$theirs" "$2")"
}

printf '%-40s %10s %12s %17s %8s\n' "24 bits, 4000x3000, 1 thread" "Brellix" "ImageMagick" "(raw, start-up)" "ratio"
row "motion blur 5 px at 45 degrees" "$blur" "$raw_blur" "$base_one"
row "watermark 2000x1500, opacity 50" "$mark" "$raw_mark" "$base_two"
row "colour replacement, tolerance 10%" "$replace" "$raw_replace" "$base_one"
row "skew 20 degrees horizontally" "$shear" "$raw_shear" "$base_one"
echo "(ratio: ImageMagick time / Brellix time; both best of $runs, wall clock)"
