#!/usr/bin/env bash
# Times Brellix's JPEG decoder and encoder against djpeg and cjpeg on the same
# 4000 x 3000 file, quality 85, everything in the page cache.
#   bench/jpeg_compare.sh [build-folder] [runs]
set -euo pipefail
build=${1:-build}
runs=${2:-7}
bench="$build/bench/bench_formats_jpeg"
for tool in djpeg cjpeg; do
  command -v "$tool" > /dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

. "$(dirname "$0")/compare_lib.sh"
compare_setup jpeg "$bench"
make_picture src 4000x3000 7
cjpeg -quality 85 "$work/src.ppm" > "$work/test.jpg"

cat "$work/src.ppm" "$work/test.jpg" > /dev/null  # warm the page cache
djpeg_ms=$(best_ms djpeg -pnm "$work/test.jpg")
cjpeg_ms=$(best_ms cjpeg -quality 85 "$work/src.ppm")

json=$(BRELLIX_BENCH_JPEG="$work/test.jpg" "$bench" --benchmark_repetitions="$runs" \
  --benchmark_report_aggregates_only=true --benchmark_format=json 2> /dev/null)
ours() {  # the median of a benchmark, in milliseconds
  echo "$json" | python3 -c "import json,sys; d=json.load(sys.stdin)
print(round(next(b['real_time'] for b in d['benchmarks']
                if b['name'].split('/')[0] == '$1' and b.get('aggregate_name') == 'median'), 1))"
}
decode_ms=$(ours BM_DecodeJPG)
encode_ms=$(ours BM_EncodeJPG)

printf '%-28s %10s %10s\n' "4000 x 3000, quality 85" "Brellix" "reference"
printf '%-28s %8s ms %8s ms  (djpeg -pnm, best of %s)\n' "decode" "$decode_ms" "$djpeg_ms" "$runs"
printf '%-28s %8s ms %8s ms  (cjpeg -quality 85, best of %s)\n' "encode" "$encode_ms" "$cjpeg_ms" "$runs"
