#!/usr/bin/env bash
# Installs what is missing, builds brellix-batch, and runs the demonstration
# script samples/demo.ksc over the sample images in samples/.
#
#   bash scripts/demo.sh
#
# The converted images go to ./brellix-out/ (the folder you run this from),
# the log to ./brellix-out/demo.log.
set -euo pipefail
here="$(pwd)"
repo="$(cd "$(dirname "$0")/.." && pwd)"

bash "$repo/scripts/install-deps.sh"

build="$repo/build-demo"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBRELLIX_TESTS=OFF -DBRELLIX_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target brellix-batch

cd "$here"
mkdir -p brellix-out
# The script's output folder is "brellix-out", relative to the folder the run
# starts in; the samples are named with their folder.
set +e
"$build/batch/brellix-batch" "$repo/samples/demo.ksc" -r "$repo/samples/images/*.*" -l brellix-out/demo.log
status=$?
set -e
echo
echo "Outputs: $here/brellix-out/   Log: $here/brellix-out/demo.log   (exit status $status)"
exit $status
