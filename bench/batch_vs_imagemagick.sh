#!/usr/bin/env bash
# Times brellix-batch against ImageMagick and GraphicsMagick on the same
# work, side by side in one run, over COUNT photo-sized images
# (1920 x 1280, made by brellix-make-samples --photos):
#   JPEG -> JPEG q85                                  re-encoding only
#   BMP -> BMP                                        the per-file overhead
#   JPEG, 50% -> JPEG q85                             half.ksc
#   JPEG, rotate 90, grey -> PNG                      rotgrey.ksc
#   JPEG, Blur More, Unsharpen -> JPEG q85            blursharp.ksc
#   JPEG, 256 colours (own palette, error diffusion) -> GIF   gif256.ksc
# Both references run single-threaded (ImageMagick -limit thread 1,
# GraphicsMagick -limit threads 1 with OMP_NUM_THREADS=1), one process for
# the whole batch (mogrify), as brellix-batch does. For the blur pipeline
# GraphicsMagick runs `-blur 2x1 -unsharp 0x1`, the nearest it has to a
# 5 x 5 box followed by a 3 x 3 unsharp mask.
#
# Each figure is the best wall-clock time of three runs (warm page cache,
# empty output folders), with that run's user and system time beside it:
# "wall (user + sys)". The ratios compare wall-clock times.
#
#   bash bench/batch_vs_imagemagick.sh [COUNT]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
count="${1:-20}"
bash "$repo/scripts/install-deps.sh"
command -v gm > /dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq graphicsmagick > /dev/null

build="$repo/build-bench-batch"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRELLIX_TESTS=OFF -DBRELLIX_BENCH=OFF \
  -DBRELLIX_APP=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target brellix-batch brellix-make-samples >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/batch/brellix-make-samples" --photos "$work" "$count" >/dev/null
mogrify=/usr/bin/mogrify
export OMP_NUM_THREADS=1
gm=(gm mogrify -limit threads 1)
im=("$mogrify" -limit thread 1)
outputs=(jpg bmp half rotgrey blursharp gif256)

# "wall user sys" of the best of three runs, each into empty output folders.
best() {
    local best="" times
    for _ in 1 2 3; do
        rm -rf "$work"/out-* "$work"/ref; mkdir -p "$work/ref"
        for d in "${outputs[@]}"; do mkdir -p "$work/out-$d"; done
        # bash's own timer: it times shell functions too, children included.
        { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2> "$work/time"
        times=$(tail -n 1 "$work/time")
        if [ -z "$best" ] || awk -v t="${times%% *}" -v b="${best%% *}" 'BEGIN { exit !(t < b) }'; then
            best=$times
        fi
    done
    echo "$best"
}
# A command that failed would look fast: every run must leave COUNT outputs.
expect() {
    local n; n=$(find "$1" -type f | wc -l)
    [ "$n" -eq "$count" ] || { echo "$2 left $n outputs in $1, not $count" >&2; exit 1; }
}
ratio() { awk -v a="${1%% *}" -v b="${2%% *}" 'BEGIN { printf "%.2f", a / b }'; }
cell() { awk -v t="$1" 'BEGIN { split(t, f, " "); printf "%.2fs (%.2f + %.2f)", f[1], f[2], f[3] }'; }

export XDG_STATE_HOME="$work/state" BRELLIX_CONFIG="$work/Brellix.conf"
batch="$build/batch/brellix-batch"
# GraphicsMagick puts an output under -output-directory by the input's path
# as given, so the references run inside the input folders on bare names.
jpgs=($(cd "$work/jpg" && echo *.jpg))
bmps=($(cd "$work/bmp" && echo *.bmp))
injpg() { (cd "$work/jpg" && "$@"); }
inbmp() { (cd "$work/bmp" && "$@"); }

printf '%-30s %-24s %-24s %-24s %6s %6s\n' "$count images" "brellix" "imagemagick" "graphicsmagick" "b/im" "b/gm"
row() {  # label, brellix, imagemagick, graphicsmagick ("wall user sys" each)
    printf '%-30s %-24s %-24s %-24s %6s %6s\n' "$1" "$(cell "$2")" "$(cell "$3")" "$(cell "$4")" \
        "$(ratio "$2" "$3")" "$(ratio "$2" "$4")"
}

# compare LABEL SCRIPT IN-FOLDER -- IMAGEMAGICK-ARGS -- GRAPHICSMAGICK-ARGS
compare() {
    local label=$1 script=$2 in=$3; shift 3; shift
    local imargs=() gmargs=()
    while [ "$1" != "--" ]; do imargs+=("$1"); shift; done
    shift
    gmargs=("$@")
    local files=("${jpgs[@]}") run=injpg b i g
    if [ "$in" = bmp ]; then files=("${bmps[@]}"); run=inbmp; fi
    b=$(best "$batch" "$work/$script.ksc" -r "$work/$in/*.$in")
    expect "$work/out-$script" brellix-batch
    i=$(best "$run" "${im[@]}" -path "$work/ref" "${imargs[@]}" "${files[@]}")
    expect "$work/ref" ImageMagick
    g=$(best "$run" "${gm[@]}" -output-directory "$work/ref" "${gmargs[@]}" "${files[@]}")
    expect "$work/ref" GraphicsMagick
    row "$label" "$b" "$i" "$g"
}

compare "JPEG -> JPEG q85" jpg jpg -- -quality 85 -- -quality 85
compare "BMP -> BMP" bmp bmp -- -format bmp -- -format bmp
compare "JPEG, 50% -> JPEG q85" half jpg -- -resize 50% -quality 85 -- -resize 50% -quality 85
compare "JPEG, rotate 90, grey -> PNG" rotgrey jpg -- -rotate 90 -colorspace gray -format png \
    -- -rotate 90 -colorspace gray -format png
compare "JPEG, blur, unsharp -> JPEG" blursharp jpg -- -blur 2x1 -unsharp 0x1 -quality 85 \
    -- -blur 2x1 -unsharp 0x1 -quality 85
compare "JPEG, 256 colours -> GIF" gif256 jpg -- -dither FloydSteinberg -colors 256 -format gif \
    -- -dither -colors 256 -format gif
