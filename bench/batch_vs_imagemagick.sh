#!/usr/bin/env bash
# Times brellix-batch against ImageMagick on the same work, side by side:
# 20 photo-sized images (1920 x 1280) re-encoded JPEG to JPEG at quality 85,
# and BMP to BMP. ImageMagick runs single-threaded (-limit thread 1), one
# process for the whole batch (mogrify), as brellix-batch does.
#
#   bash bench/batch_vs_imagemagick.sh [COUNT]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
count="${1:-20}"
bash "$repo/scripts/install-deps.sh"

build="$repo/build-bench-batch"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRELLIX_TESTS=OFF -DBRELLIX_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target brellix-batch brellix-make-samples >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/batch/brellix-make-samples" --photos "$work" "$count" >/dev/null
mogrify=/usr/bin/mogrify

# Wall time of a command in seconds (best of three, warm page cache).
best() {
    local best=""
    for _ in 1 2 3; do
        rm -rf "$work"/out-*; mkdir -p "$work/out-jpg" "$work/out-bmp" "$work/im-jpg" "$work/im-bmp"
        local t0 t1
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s.%N)
        local t; t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
    printf '%.3f' "$best"
}

export XDG_STATE_HOME="$work/state" BRELLIX_CONFIG="$work/Brellix.conf"
bj=$(best "$build/batch/brellix-batch" "$work/jpg.ksc" -r "$work/jpg/*.jpg")
ij=$(best "$mogrify" -limit thread 1 -path "$work/im-jpg" -quality 85 "$work"/jpg/*.jpg)
bb=$(best "$build/batch/brellix-batch" "$work/bmp.ksc" -r "$work/bmp/*.bmp")
ib=$(best "$mogrify" -limit thread 1 -path "$work/im-bmp" -format bmp "$work"/bmp/*.bmp)

printf '%-22s %10s %14s %8s\n' "$count images" "brellix" "imagemagick" "ratio"
printf '%-22s %9ss %13ss %8.2f\n' "JPEG -> JPEG q85" "$bj" "$ij" "$(awk -v a="$bj" -v b="$ij" 'BEGIN { print a / b }')"
printf '%-22s %9ss %13ss %8.2f\n' "BMP -> BMP" "$bb" "$ib" "$(awk -v a="$bb" -v b="$ib" 'BEGIN { print a / b }')"
