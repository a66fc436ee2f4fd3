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
build=${1:-build-rel}
runs=${2:-7}
convert=/usr/bin/convert
adjust="$build/bench/bench_imaging_adjust"
tone="$build/bench/bench_imaging_tone"
[ -x "$convert" ] || { echo "$convert is missing (the imagemagick package)"; exit 1; }
for b in "$adjust" "$tone"; do
  [ -x "$b" ] || { echo "build the $(basename "$b") target first ($b)"; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tonebench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$convert" -size 4000x3000 xc: +noise Random -depth 8 "$work/noise.ppm"
"$convert" "$work/noise.ppm" "$work/noise.mpc"
cat "$work"/*.cache > /dev/null  # into the page cache

. "$(dirname "$0")/best_ms.sh"
base=$(best_ms "$convert" -limit thread 1 "$work/noise.mpc" null:)
im() {  # best time of an operator, start-up subtracted
  local t
  t=$(best_ms "$convert" -limit thread 1 "$work/noise.mpc" "$@" null:)
  echo $(( t - base ))
}

ours() {  # the median wall-clock time of one benchmark, in milliseconds
  "$1" --benchmark_filter="^$2\$" --benchmark_repetitions="$runs" \
    --benchmark_report_aggregates_only=true --benchmark_format=json 2> /dev/null |
    python3 -c "import json,sys; d=json.load(sys.stdin)
print(round(next(b['real_time'] for b in d['benchmarks'] if b.get('aggregate_name') == 'median'), 1))"
}

row() {  # label, our binary, our benchmark, ImageMagick operator...
  local label=$1 bin=$2 name=$3
  shift 3
  local us them
  us=$(ours "$bin" "$name")
  them=$(im "$@")
  printf '%-26s %9s ms %9s ms %7s   %s\n' "$label" "$us" "$them" \
    "$(python3 -c "print(f'{$them / $us:.1f}x')")" "$*"
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
echo "(ratio: ImageMagick time / Brellix time; ImageMagick start-up ${base} ms subtracted)"
