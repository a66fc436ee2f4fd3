#!/usr/bin/env bash
# Times brellix-batch against ImageMagick and GraphicsMagick on the same
# work, side by side in one run, over COUNT photo-sized images
# (1920 x 1280, made by brellix-make-samples --photos):
#   JPEG -> JPEG q85                 re-encoding only
#   BMP -> BMP                       the per-file overhead
#   JPEG, rotate 90, grey -> PNG     rotgrey.ksc
#   JPEG, Blur More, Unsharpen -> JPEG q85   blursharp.ksc
#   JPEG, 256 colours (own palette, error diffusion) -> GIF   gif256.ksc
# Both references run single-threaded (ImageMagick -limit thread 1,
# GraphicsMagick -limit threads 1 with OMP_NUM_THREADS=1), one process for
# the whole batch (mogrify), as brellix-batch does. Best of three, warm page
# cache. For the blur pipeline GraphicsMagick runs `-blur 2x1 -unsharp 0x1`,
# the nearest it has to a 5 x 5 box followed by a 3 x 3 unsharp mask.
#
#   bash bench/batch_vs_imagemagick.sh [COUNT]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
count="${1:-20}"
bash "$repo/scripts/install-deps.sh"
command -v gm > /dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq graphicsmagick > /dev/null

build="$repo/build-bench-batch"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRELLIX_TESTS=OFF -DBRELLIX_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target brellix-batch brellix-make-samples >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/batch/brellix-make-samples" --photos "$work" "$count" >/dev/null
mogrify=/usr/bin/mogrify
export OMP_NUM_THREADS=1
gm=(gm mogrify -limit threads 1)
im=("$mogrify" -limit thread 1)

# Wall time of a command in seconds (best of three), each run into empty
# output folders.
best() {
    local best=""
    for _ in 1 2 3; do
        rm -rf "$work"/out-* "$work"/ref; mkdir -p "$work/ref"
        for d in jpg bmp rotgrey blursharp gif256; do mkdir -p "$work/out-$d"; done
        local t0 t1
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s.%N)
        local t; t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
    printf '%.3f' "$best"
}
# A command that failed would look fast: every run must leave COUNT outputs.
expect() {
    local n; n=$(find "$1" -type f | wc -l)
    [ "$n" -eq "$count" ] || { echo "$2 left $n outputs in $1, not $count" >&2; exit 1; }
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

export XDG_STATE_HOME="$work/state" BRELLIX_CONFIG="$work/Brellix.conf"
batch="$build/batch/brellix-batch"
# GraphicsMagick puts an output under -output-directory by the input's path
# as given, so the references run inside the input folders on bare names.
jpgs=($(cd "$work/jpg" && echo *.jpg))
bmps=($(cd "$work/bmp" && echo *.bmp))
injpg() { (cd "$work/jpg" && "$@"); }
inbmp() { (cd "$work/bmp" && "$@"); }

printf '%-30s %9s %12s %15s %8s %8s\n' "$count images" "brellix" "imagemagick" "graphicsmagick" "b/im" "b/gm"
row() {  # label, brellix time, imagemagick time, graphicsmagick time
    printf '%-30s %8ss %11ss %14ss %8s %8s\n' "$1" "$2" "$3" "$4" "$(ratio "$2" "$3")" "$(ratio "$2" "$4")"
}

b=$(best "$batch" "$work/jpg.ksc" -r "$work/jpg/*.jpg")
expect "$work/out-jpg" brellix-batch
i=$(best injpg "${im[@]}" -path "$work/ref" -quality 85 "${jpgs[@]}")
expect "$work/ref" ImageMagick
g=$(best injpg "${gm[@]}" -output-directory "$work/ref" -quality 85 "${jpgs[@]}")
expect "$work/ref" GraphicsMagick
row "JPEG -> JPEG q85" "$b" "$i" "$g"

b=$(best "$batch" "$work/bmp.ksc" -r "$work/bmp/*.bmp")
expect "$work/out-bmp" brellix-batch
i=$(best inbmp "${im[@]}" -path "$work/ref" -format bmp "${bmps[@]}")
expect "$work/ref" ImageMagick
g=$(best inbmp "${gm[@]}" -output-directory "$work/ref" -format bmp "${bmps[@]}")
expect "$work/ref" GraphicsMagick
row "BMP -> BMP" "$b" "$i" "$g"

b=$(best "$batch" "$work/rotgrey.ksc" -r "$work/jpg/*.jpg")
expect "$work/out-rotgrey" brellix-batch
i=$(best injpg "${im[@]}" -path "$work/ref" -rotate 90 -colorspace gray -format png "${jpgs[@]}")
expect "$work/ref" ImageMagick
g=$(best injpg "${gm[@]}" -output-directory "$work/ref" -rotate 90 -colorspace gray -format png "${jpgs[@]}")
expect "$work/ref" GraphicsMagick
row "JPEG, rotate 90, grey -> PNG" "$b" "$i" "$g"

b=$(best "$batch" "$work/blursharp.ksc" -r "$work/jpg/*.jpg")
expect "$work/out-blursharp" brellix-batch
i=$(best injpg "${im[@]}" -path "$work/ref" -blur 2x1 -unsharp 0x1 -quality 85 "${jpgs[@]}")
expect "$work/ref" ImageMagick
g=$(best injpg "${gm[@]}" -output-directory "$work/ref" -blur 2x1 -unsharp 0x1 -quality 85 "${jpgs[@]}")
expect "$work/ref" GraphicsMagick
row "JPEG, blur, unsharp -> JPEG" "$b" "$i" "$g"

b=$(best "$batch" "$work/gif256.ksc" -r "$work/jpg/*.jpg")
expect "$work/out-gif256" brellix-batch
i=$(best injpg "${im[@]}" -path "$work/ref" -dither FloydSteinberg -colors 256 -format gif "${jpgs[@]}")
expect "$work/ref" ImageMagick
g=$(best injpg "${gm[@]}" -output-directory "$work/ref" -dither -colors 256 -format gif "${jpgs[@]}")
expect "$work/ref" GraphicsMagick
row "JPEG, 256 colours -> GIF" "$b" "$i" "$g"
