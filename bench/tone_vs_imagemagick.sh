#!/usr/bin/env bash
# Times the colour adjustments and tonal operations against ImageMagick's
# nearest operators, single-threaded, on a 24-bit 4000 x 3000 image:
#   bench/tone_vs_imagemagick.sh [build-folder] [runs]
#
# The operators are not the same formulas (ImageMagick works in 16 bits per
# channel and its own colour models); the comparison is of cost only.
# - Brellix: bench_imaging_adjust and bench_imaging_tone, the median of the
#   repetitions, wall-clock time; the result block is allocated inside the
#   timing, as ImageMagick allocates its own. The pixels are noise; no
#   operation's time depends on them.
# - ImageMagick: `convert -limit thread 1 in.mpc <operator> null:`. An MPC
#   file is ImageMagick's own pixel cache, mapped rather than decoded, and
#   null: writes nothing. The time of `convert in.mpc null:` is subtracted;
#   best of N wall-clock runs.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
# shellcheck source=compare_lib.sh source-path=SCRIPTDIR
. "$(dirname "$0")/compare_lib.sh"
build=${1:-build-rel}
runs=${2:-7}
adjust="$build/bench/bench_imaging_adjust"
tone="$build/bench/bench_imaging_tone"
compare_setup tone "$adjust" "$tone"
"$convert" -size 4000x3000 xc: +noise Random -depth 8 "$work/noise.ppm"
make_mpc noise

im_base=$(im_raw "$work/noise.mpc")

row() {  # label, our binary, our benchmark, ImageMagick operator...
  local label=$1 bin=$2 name=$3
  shift 3
  local json us them
  json=$(bench_json "$bin" --benchmark_filter="^$name\$")
  us=$(ours_median "$json" "$name")
  them=$(im_ms "$work/noise.mpc" "$@")
  printf '%-26s %9s ms %9s ms %7s   %s\n' "$label" "$us" "$them" "$(ratio "$them" "$us")" "$*"
}

printf '%-26s %12s %12s %7s   %s\n' "4000x3000, 24 bits, 1 thread" "Brellix" "ImageMagick" "ratio" "operator"
row "brightness +30" "$adjust" BM_Brightness24 -brightness-contrast 30x0
row "contrast +40" "$adjust" BM_Contrast24 -brightness-contrast 0x40
row "gamma 2.2" "$adjust" BM_Gamma24 -gamma 2.2
row "solarize 128" "$adjust" BM_Solarize24 -solarize 50%
row "hue/saturation/lightness" "$adjust" BM_Hls24 -modulate 110,70,136
row "greyscale" "$tone" BM_Greyscale24 -grayscale Rec601Luma
row "equalize" "$tone" BM_Equalize24 -equalize
row "stretch" "$tone" BM_Stretch24 -auto-level
row "posterize 3 bits" "$tone" BM_Posterize24 +dither -posterize 8
echo "(ratio: ImageMagick time / Brellix time; ImageMagick start-up ${im_base} ms subtracted)"
