#!/usr/bin/env bash
# Builds the benchmark in Release into build-bench/ (or $MOZARIO_BENCH_DIR), runs it, and prints
# the table of each case's time against its reference. Extra arguments go to the benchmark,
# for instance --benchmark_filter=paint.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh bench
build_dir=${MOZARIO_BENCH_DIR:-build-bench}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DMOZARIO_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build_dir" -j2 --target mozario_bench
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build_dir/bench/mozario_bench" --benchmark_color=false "$@"
