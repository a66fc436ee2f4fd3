#!/usr/bin/env bash
# What a second core can give on this machine, for the two pipelines that run
# no command (BMP -> BMP and JPEG -> JPEG q85), over COUNT photo-sized images:
# brellix-batch -j 1 and -j 2 beside bench/floor.c, the least a converter can
# do (map, make the image, make the output, write), run as one process over
# the batch and as two processes over its halves. Where the floor's own
# two-core ratio is above a target, no converter meets that target here.
# Each figure is the best and the median wall-clock time of RUNS runs, all
# taken in one run of this script, alternating. Every timed run follows an
# untimed one of the same command: on a virtual machine, the first run to
# write after hundreds of megabytes were deleted can pay several times over
# for the memory the system hands back, and which command that hits is luck.
#
#   bash bench/two_core_floor.sh [COUNT] [RUNS]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
count="${1:-40}"
runs="${2:-10}"
bash "$repo/scripts/install-deps.sh"

build="$repo/build-bench-batch"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRELLIX_TESTS=OFF -DBRELLIX_BENCH=OFF \
  -DBRELLIX_APP=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target brellix-batch brellix-make-samples >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cc -O2 -Wall -Wextra -o "$work/floor" "$repo/bench/floor.c" -ljpeg
"$build/batch/brellix-make-samples" --photos "$work" "$count" >/dev/null
export XDG_STATE_HOME="$work/state" BRELLIX_CONFIG="$work/Brellix.conf"
batch="$build/batch/brellix-batch"

halves() {  # ext: two floor processes, each over half of the files
    local files=( "$work/$1"/* ) half=$(( count / 2 ))
    "$work/floor" "$1" "$work/out-floor" "${files[@]:0:half}" &
    "$work/floor" "$1" "$work/out-floor" "${files[@]:half}" &
    wait
}
declare -A times
fresh() { rm -rf "$work"/out-*; mkdir -p "$work/out-jpg" "$work/out-bmp" "$work/out-floor"; }
take() {  # key command...: one timed run into empty output folders, after one untimed
    local key=$1; shift
    fresh; "$@" > /dev/null 2>&1; fresh
    local t0 t1; t0=$(date +%s%N)
    "$@" > /dev/null 2>&1
    t1=$(date +%s%N)
    local n; n=$(find "$work"/out-* -type f | wc -l)
    [ "$n" -eq "$count" ] || { echo "$key left $n outputs, not $count" >&2; exit 1; }
    times[$key]+="$(( (t1 - t0) / 1000000 )) "
}
best() { printf '%s\n' ${times[$1]} | sort -n | head -n1; }
median() { printf '%s\n' ${times[$1]} | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

for _ in $(seq "$runs"); do
    for ext in bmp jpg; do
        take "b1$ext" "$batch" "$work/$ext.ksc" -r "$work/$ext/*.$ext" -j 1
        take "b2$ext" "$batch" "$work/$ext.ksc" -r "$work/$ext/*.$ext" -j 2
        take "f1$ext" "$work/floor" "$ext" "$work/out-floor" "$work/$ext"/*
        take "f2$ext" halves "$ext"
    done
done

printf '%-18s %18s %18s %14s %18s %18s %14s\n' "$count images, ms" "brellix -j 1" "brellix -j 2" "j2/j1" \
    "floor 1 process" "floor 2 processes" "2/1"
for ext in bmp jpg; do
    label="BMP -> BMP"; [ "$ext" = jpg ] && label="JPEG -> JPEG q85"
    row=()
    for k in b1 b2 f1 f2; do row+=("$(best "$k$ext") (med $(median "$k$ext"))"); done
    printf '%-18s %18s %18s %14s %18s %18s %14s\n' "$label" "${row[0]}" "${row[1]}" \
        "$(ratio "$(best "b2$ext")" "$(best "b1$ext")") ($(ratio "$(median "b2$ext")" "$(median "b1$ext")"))" \
        "${row[2]}" "${row[3]}" \
        "$(ratio "$(best "f2$ext")" "$(best "f1$ext")") ($(ratio "$(median "f2$ext")" "$(median "f1$ext")"))"
done
