#!/usr/bin/env bash
# Runs every screenshot program of the desktop program (brellix-screenshots-*)
# on a virtual X server and collects their pictures in one folder.
#
#   bash scripts/screenshots.sh [FOLDER] [BUILD]
#
# FOLDER defaults to docs/screenshots/ of the repository, BUILD to build/.
# The programs are built first. Needs xvfb-run (Debian package xvfb).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
out="$(realpath -m "${1:-$repo/docs/screenshots}")"
build="$(realpath -m "${2:-$repo/build}")"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
mapfile -t targets < <(cmake --build "$build" --target help |
  sed -n 's/^\.\.\. \(brellix-screenshots-[A-Za-z0-9_-]*\).*/\1/p' | grep -v '_autogen$')
if [ "${#targets[@]}" -eq 0 ]; then
  echo "no screenshot programs in $build" >&2
  exit 1
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

mkdir -p "$out"
# Settings and state of their own, so the pictures do not depend on (or
# change) the user's.
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
status=0
for target in "${targets[@]}"; do
  program="$(find "$build" -type f -name "$target" -perm -u+x | head -n 1)"
  echo "== $target"
  BRELLIX_CONFIG="$home/Brellix.conf" XDG_STATE_HOME="$home/state" BRELLIX_SOURCE_DIR="$repo" \
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x1000x24" "$program" "$out" || status=1
done
exit $status
