#!/usr/bin/env bash
# Times 256-colour error diffusion against ImageMagick, single-threaded, on
# the same 4000 x 3000 24-bit photograph-like picture (a plasma fractal).
#   bench/dither_vs_imagemagick.sh [build-folder] [runs]
#
# - ImageMagick: `convert -limit thread 1 in.mpc -dither FloydSteinberg
#   -colors 256 null:`, which chooses a 256-colour palette and diffuses the
#   error onto it. The MPC file is ImageMagick's own pixel cache, mapped
#   rather than decoded, and null: writes nothing; the time of `convert in.mpc
#   null:` (start-up and opening the cache) is subtracted, the raw time is
#   printed beside it. Best of N wall-clock runs.
# - Brellix: bench_imaging_dither loads the PPM once, then times one call
#   (median of N repetitions, result block allocated inside the timing):
#   DitherToPalette with a fixed 256-entry palette and its colour cache
#   emptied before every call (so every colour is matched afresh), and
#   DitherToStandardPalette to the 6 x 6 x 6 cube through the colour map.
#   Brellix does not choose the palette; ImageMagick's time includes that.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
build=${1:-build-rel}
runs=${2:-5}
bench="$build/bench/bench_imaging_dither"
convert=/usr/bin/convert
[ -x "$convert" ] || { echo "$convert is missing (the imagemagick package)"; exit 1; }
[ -x "$bench" ] || { echo "build the bench_imaging_dither and brellix_kcd targets first ($bench)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/ditherbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$convert" -size 4000x3000 plasma:fractal -seed 7 -depth 8 "$work/large.ppm" 2> /dev/null ||
  "$convert" -size 4000x3000 gradient:orange-navy -swirl 200 -attenuate 0.3 +noise Gaussian -depth 8 "$work/large.ppm"
"$convert" "$work/large.ppm" "$work/large.mpc"
cat "$work"/*.cache > /dev/null  # into the page cache

. "$(dirname "$0")/best_ms.sh"
im_base=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" null:)
im_raw=$(best_ms "$convert" -limit thread 1 "$work/large.mpc" -dither FloydSteinberg -colors 256 null:)
im=$(( im_raw - im_base ))

json=$(BRELLIX_BENCH_LARGE="$work/large.ppm" "$bench" \
  --benchmark_filter='^BM_(DitherToPaletteDiffused256Cold|DitherToStandardPalette/bits:8/method:2)$' \
  --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true \
  --benchmark_format=json 2> /dev/null)
ours() {  # the median of a benchmark, in milliseconds
  echo "$json" | python3 -c "import json,sys; d=json.load(sys.stdin)
print(round(next(b['real_time'] for b in d['benchmarks']
                if b['run_name'] == '$1' and b.get('aggregate_name') == 'median'), 1))"
}
palette=$(ours BM_DitherToPaletteDiffused256Cold)
cube=$(ours BM_DitherToStandardPalette/bits:8/method:2)
ratio() { python3 -c "print(f'{$1 / $2:.1f}x')"; }
mpx() { python3 -c "print(f'{12.0 / ($1 / 1000):.1f}')"; }

printf '%-46s %9s %8s %6s\n' "24 bits 4000x3000 -> 256 colours, 1 thread" "ms" "Mpx/s" "ratio"
printf '%-46s %9s %8s %6s\n' "ImageMagick -dither FloydSteinberg -colors 256" "$im" "$(mpx "$im")" ""
printf '%-46s %9s %8s %6s\n' "  (raw, start-up)" "$im_raw, $im_base" "" ""
printf '%-46s %9s %8s %6s\n' "DitherToPalette, error diffusion, cold cache" "$palette" "$(mpx "$palette")" \
  "$(ratio "$im" "$palette")"
printf '%-46s %9s %8s %6s\n' "DitherToStandardPalette, error diffusion" "$cube" "$(mpx "$cube")" \
  "$(ratio "$im" "$cube")"
echo "(ratio: ImageMagick time / Brellix time; Brellix median of $runs, ImageMagick best of $runs)"
