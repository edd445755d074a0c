#!/bin/sh
# Builds and runs the document stage benchmark (ours vs rsync -rtu).
# Usage: bench/run_documents_bench.sh [build-dir] [--documents N] [--rounds R] [--changed-fraction F]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
[ $# -gt 0 ] && shift
command -v rsync >/dev/null || { echo "rsync is needed" >&2; exit 2; }
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target documents_bench >/dev/null
exec "$build/bench/documents_bench" "$@"
