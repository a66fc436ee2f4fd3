#!/usr/bin/env bash
# Times reading a layered Photoshop document of 4000 x 3000 pixels with five
# layers, flattened, against ImageMagick, single-threaded, side by side on
# the same file:
#   bench/psd_vs_imagemagick.sh [build-folder] [runs]
#
#   Brellix                                  ImageMagick
#   ReadImageFile: the layers decoded and    convert -limit thread 1 test.psd
#     composited one by one on the canvas      -flatten null:
#     (the merged image is skipped)            (reads the merged image and the
#                                              layers, then flattens them all)
#
# The document is ImageMagick's own: a merged picture and five full-size
# layers, PackBits; the first layer is opaque, the other four carry a
# transparency ramp, so both sides blend rather than copy.
# - ImageMagick: best of N wall-clock runs, less the best time of
#   `convert -limit thread 1 one.ppm null:` on a 1 x 1 picture (start-up);
#   the raw time is printed beside.
# - Brellix: the best of the benchmark's repetitions (BM_ReadPSD), wall
#   clock, the file in the page cache as for ImageMagick.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
set -euo pipefail
# shellcheck source=compare_lib.sh source-path=SCRIPTDIR
. "$(dirname "$0")/compare_lib.sh"
build=${1:-build-rel}
runs=${2:-5}
bench="$build/bench/bench_formats_layers"
compare_setup psd "$bench"
make_picture merged 4000x3000 3
make_picture one 4000x3000 5
make_picture two 4000x3000 9
"$convert" -size 4000x3000 gradient:white-black "$work/ramp.pgm"
for name in one two; do
  "$convert" "$work/$name.ppm" "$work/ramp.pgm" -alpha off -compose CopyOpacity -composite \
    "$work/$name-ramp.png"
done
"$convert" "$work/merged.ppm" "$work/one.ppm" "$work/two-ramp.png" "$work/one-ramp.png" \
  "$work/two-ramp.png" "$work/one-ramp.png" -compress RLE "$work/test.psd"
"$convert" -size 1x1 xc:white "$work/tiny.ppm"
cat "$work/test.psd" > /dev/null

im_base=$(im_raw "$work/tiny.ppm")
raw=$(im_raw "$work/test.psd" -flatten)
theirs=$((raw - im_base))
json=$(BRELLIX_BENCH_PSD="$work/test.psd" bench_json "$bench" --benchmark_filter='^BM_ReadPSD/')
ours=$(ours_best "$json" BM_ReadPSD/real_time)

printf '%-44s %9s %12s %8s\n' "4000 x 3000, 5 layers, PackBits" "Brellix" "ImageMagick" "ratio"
printf '%-44s %6s ms %9s ms %8s   (raw %s ms, start-up %s ms; file %s MB)\n' "read and flatten" \
  "$ours" "$theirs" "$(ratio "$theirs" "$ours")" "$raw" "$im_base" \
  "$(( $(stat -c %s "$work/test.psd") / 1000000 ))"
