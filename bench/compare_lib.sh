# shellcheck shell=bash
# Sourced by the bench/*_vs_imagemagick.sh scripts, which time our benchmark
# programs against ImageMagick on the same pixels. The method they share:
# - The pictures are made once in a private work folder (removed on exit),
#   as binary PPM, which our benchmark programs load once before timing, and
#   as MPC, ImageMagick's own pixel cache, which convert maps rather than
#   decodes. The caches are read once so that both sides start warm.
# - ImageMagick: `convert -limit thread 1 in.mpc <operation> null:`, best of
#   $runs wall-clock runs; null: writes nothing. The same command without the
#   operation (start-up and opening the caches) is timed too, so that a
#   script can subtract it and print the raw time beside.
# - Brellix: the median, best or worst of $runs repetitions from Google
#   Benchmark's JSON report, wall clock.
# Use the Debian package's /usr/bin/convert, not /usr/local/bin/convert.
#
# A script sets `build` and `runs`, calls compare_setup, and then uses the
# functions below; `convert` and `work` are set here.

# shellcheck source=best_ms.sh source-path=SCRIPTDIR
. "$(dirname "${BASH_SOURCE[0]}")/best_ms.sh"

convert=/usr/bin/convert
work=

# compare_setup NAME BINARY...: checks $runs, convert and our benchmark
# programs, and makes the work folder $work (NAMEbench.XXXXXX in $TMPDIR).
compare_setup() {
  local name=$1 bin
  shift
  if ! [[ ${runs:-} =~ ^[1-9][0-9]*$ ]]; then
    echo "the number of runs must be a positive whole number, not '${runs:-}'" >&2
    exit 1
  fi
  [ -x "$convert" ] || { echo "$convert is missing (the imagemagick package)" >&2; exit 1; }
  for bin; do
    [ -x "$bin" ] || { echo "build the $(basename "$bin") target first ($bin)" >&2; exit 1; }
  done
  work=$(mktemp -d "${TMPDIR:-/tmp}/${name}bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
}

# make_picture NAME WxH SEED: $work/NAME.ppm, 24 bits, photograph-like: a
# plasma fractal, or a swirled gradient with grain where this convert cannot
# make plasma. The seed comes first: convert applies settings in order.
make_picture() {
  local out="$work/$1.ppm"
  "$convert" -seed "$3" -size "$2" plasma:fractal -depth 8 "$out" 2> /dev/null ||
    "$convert" -seed "$3" -size "$2" gradient:orange-navy -swirl 200 -attenuate 0.3 \
      +noise Gaussian -depth 8 "$out"
}

# make_mpc NAME...: $work/NAME.mpc from $work/NAME.ppm for each NAME, then
# every pixel cache in $work into the page cache.
make_mpc() {
  local name
  for name; do
    "$convert" "$work/$name.ppm" "$work/$name.mpc"
  done
  cat "$work"/*.cache > /dev/null
}

# im_raw ARGS...: the best time in ms of `convert -limit thread 1 ARGS null:`.
# ARGS alone is the inputs (.mpc) to time ImageMagick's start-up.
im_raw() {
  best_ms "$convert" -limit thread 1 "$@" null:
}

# im_ms ARGS...: im_raw ARGS less $im_base, the script's start-up time.
im_ms() {
  local raw
  raw=$(im_raw "$@") || return
  echo $((raw - ${im_base:?time the start-up into im_base first}))
}

# bench_json BINARY ARGS...: runs one of our benchmark programs with ARGS for
# $runs repetitions and prints its JSON report. Its messages (a picture it
# could not read, say) go to standard error.
bench_json() {
  local bin=$1
  shift
  "$bin" "$@" --benchmark_repetitions="$runs" --benchmark_format=json
}

# ours_median, ours_best, ours_worst JSON RUN_NAME: that statistic of one
# benchmark's repetitions in a bench_json report, in ms to 0.1 ms. A
# benchmark missing from the report or one that failed is an error.
ours_median() { ours_ms median "$@"; }
ours_best() { ours_ms best "$@"; }
ours_worst() { ours_ms worst "$@"; }
ours_ms() {
  printf '%s' "$2" | python3 -c '
import json, statistics, sys
stat, name = sys.argv[1:]
scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
reps = [b for b in json.load(sys.stdin)["benchmarks"]
        if b["run_name"] == name and b.get("run_type") == "iteration"]
if not reps:
    sys.exit(f"{name}: not in the benchmark report")
for b in reps:
    if b.get("error_occurred"):
        sys.exit(name + ": " + b.get("error_message", "failed"))
t = [b["real_time"] * scale[b["time_unit"]] for b in reps]
print(round({"median": statistics.median, "best": min, "worst": max}[stat](t), 1))
' "$1" "$3"
}

# ratio THEIRS OURS: how many times ImageMagick's time ours is, as "12.3x".
ratio() {
  python3 -c '
import sys
a, b = map(float, sys.argv[1:])
print(f"{a / b:.1f}x" if b > 0 else "n/a")
' "$1" "$2"
}

# mpx MS [DIGITS]: the pixels of a 4000 x 3000 picture done in MS, in
# Mpixel/s to DIGITS decimals (default 0).
mpx() {
  python3 -c '
import sys
ms, digits = float(sys.argv[1]), int(sys.argv[2])
print(f"{12.0 / (ms / 1000):.{digits}f}" if ms > 0 else "n/a")
' "$1" "${2:-0}"
}
