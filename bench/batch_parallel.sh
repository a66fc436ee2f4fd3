#!/usr/bin/env bash
# Two cores against two cores, side by side in one run, over COUNT
# photo-sized images (1920 x 1280) and the pipelines of
# bench/batch_vs_imagemagick.sh:
#   brellix-batch -j 1, and -j 2
#   ImageMagick and GraphicsMagick with two threads of their own, and as two
#   single-threaded processes over the two halves of the batch at once
# Each figure is the best wall-clock time of RUNS runs into empty output
# folders; "peers" is the best of the four peer figures. Brellix's -j 1 and
# -j 2 runs alternate, each after an untimed one, and "med j2/j1" is the
# ratio of their medians: on a shared virtual machine one run can take a
# third longer than the next, so a ratio of two bests alone is partly luck.
#
#   bash bench/batch_parallel.sh [COUNT] [RUNS]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
count="${1:-20}"
runs="${2:-2}"
bash "$repo/scripts/install-deps.sh"
command -v gm > /dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq graphicsmagick > /dev/null

build="$repo/build-bench-batch"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRELLIX_TESTS=OFF -DBRELLIX_BENCH=OFF \
  -DBRELLIX_APP=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target brellix-batch brellix-make-samples >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/batch/brellix-make-samples" --photos "$work" "$count" >/dev/null
export XDG_STATE_HOME="$work/state" BRELLIX_CONFIG="$work/Brellix.conf"
batch="$build/batch/brellix-batch"
mogrify=/usr/bin/mogrify

best() {  # wall seconds of the best of $runs runs
    local best="" t0 t1 t
    for _ in $(seq "$runs"); do
        rm -rf "$work"/out-* "$work"/ref; mkdir -p "$work/ref"
        for d in jpg bmp half rotgrey blursharp gif256; do mkdir -p "$work/out-$d"; done
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s.%N)
        t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
    printf '%.3f' "$best"
}
expect() {
    local n; n=$(find "$1" -type f | wc -l)
    [ "$n" -eq "$count" ] || { echo "$2 left $n outputs in $1, not $count" >&2; exit 1; }
}
min() { printf '%s\n' "$@" | sort -g | head -n1; }
median() { printf '%s\n' "$@" | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
# One timed brellix-batch run (wall seconds) of script over in-folder with
# jobs workers, after an untimed one: on a virtual machine the first run to
# write after hundreds of megabytes were deleted can pay several times over
# for the memory handed back, and which run that hits is luck.
take() {  # script in jobs
    local t0 t1
    for _ in untimed timed; do
        rm -rf "$work/out-$1"; mkdir -p "$work/out-$1"
        t0=$(date +%s.%N)
        "$batch" "$work/$1.ksc" -r "$work/$2/*.$2" -j "$3" >/dev/null 2>&1
        t1=$(date +%s.%N)
    done
    expect "$work/out-$1" "j$3"
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# The two halves of the inputs, each run by one single-threaded process.
halves() {  # in-folder tool-args...
    local in=$1; shift
    local files=( $(cd "$work/$in" && ls) ) half=$(( count / 2 ))
    (cd "$work/$in" && OMP_NUM_THREADS=1 "$@" "${files[@]:0:half}") &
    (cd "$work/$in" && OMP_NUM_THREADS=1 "$@" "${files[@]:half}") &
    wait
}
threads() {  # in-folder tool-args... (two threads)
    local in=$1; shift
    local files=( $(cd "$work/$in" && ls) )
    (cd "$work/$in" && OMP_NUM_THREADS=2 "$@" "${files[@]}")
}

printf '%-28s %8s %8s %6s %8s %10s %10s %10s %10s %8s %6s\n' "$count images, 2 cores" "j1" "j2" "j2/j1" \
    "med j2/j1" "im-thr" "im-halves" "gm-thr" "gm-halves" "peers" "j2/pr"
row() {  # label script in ext im-args -- gm-args
    local label=$1 script=$2 in=$3; shift 3
    local imargs=() gmargs=()
    while [ "$1" != "--" ]; do imargs+=("$1"); shift; done
    shift; gmargs=("$@")
    local j1 j2 it ih gt gh peers
    local -a t1=() t2=()
    for _ in $(seq "$runs"); do  # alternating, so a slow spell of the machine hits both
        t1+=("$(take "$script" "$in" 1)"); t2+=("$(take "$script" "$in" 2)")
    done
    j1=$(min "${t1[@]}"); j2=$(min "${t2[@]}")
    it=$(best threads "$in" "$mogrify" -limit thread 2 -path "$work/ref" "${imargs[@]}"); expect "$work/ref" im
    ih=$(best halves "$in" "$mogrify" -limit thread 1 -path "$work/ref" "${imargs[@]}"); expect "$work/ref" im
    gt=$(best threads "$in" gm mogrify -limit threads 2 -output-directory "$work/ref" "${gmargs[@]}"); expect "$work/ref" gm
    gh=$(best halves "$in" gm mogrify -limit threads 1 -output-directory "$work/ref" "${gmargs[@]}"); expect "$work/ref" gm
    peers=$(min "$it" "$ih" "$gt" "$gh")
    printf '%-28s %7ss %7ss %6s %8s %9ss %9ss %9ss %9ss %7ss %6s\n' "$label" "$j1" "$j2" "$(ratio "$j2" "$j1")" \
        "$(ratio "$(median "${t2[@]}")" "$(median "${t1[@]}")")" \
        "$it" "$ih" "$gt" "$gh" "$peers" "$(ratio "$j2" "$peers")"
}

row "JPEG -> JPEG q85" jpg jpg -quality 85 -- -quality 85
row "BMP -> BMP" bmp bmp -format bmp -- -format bmp
row "JPEG, 50% -> JPEG q85" half jpg -resize 50% -quality 85 -- -resize 50% -quality 85
row "JPEG, rotate 90, grey -> PNG" rotgrey jpg -rotate 90 -colorspace gray -format png \
    -- -rotate 90 -colorspace gray -format png
row "JPEG, blur, unsharp -> JPEG" blursharp jpg -blur 2x1 -unsharp 0x1 -quality 85 \
    -- -blur 2x1 -unsharp 0x1 -quality 85
row "JPEG, 256 colours -> GIF" gif256 jpg -dither FloydSteinberg -colors 256 -format gif \
    -- -dither -colors 256 -format gif
