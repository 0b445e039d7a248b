#!/usr/bin/env bash
# Fuzzes the picture readers with libFuzzer. Installs what is missing (clang and its fuzzer
# runtime), builds the targets with clang into build-fuzz/, writes the seed corpora and runs
# each target for the given number of seconds (default 1800). The corpora grow in
# fuzz-corpus/<target>; whatever a target finds (crash, leak, sanitizer report, timeout) is
# written to fuzz-corpus/findings/ and makes the script fail.
#
#   scripts/fuzz.sh [seconds]
#
# MOZARIO_FUZZ_SETUP=0 skips the installation; MOZARIO_FUZZ_BUILD_DIR and
# MOZARIO_FUZZ_CORPUS_DIR move the two folders (the test suite's short run keeps both in its
# own build folder).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1800}
build_dir=${MOZARIO_FUZZ_BUILD_DIR:-build-fuzz}
corpus_dir=${MOZARIO_FUZZ_CORPUS_DIR:-fuzz-corpus}

if [ "${MOZARIO_FUZZ_SETUP:-1}" = 1 ]; then
  scripts/setup.sh fuzz
fi
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMOZARIO_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build_dir" --target fuzzers -j2 >/dev/null
"$build_dir/fuzz/fuzz_seeds" "$build_dir/seeds"

mkdir -p "$corpus_dir/findings"
status=0
for target in bmp jpeg load; do
  mkdir -p "$corpus_dir/$target"
  log=$corpus_dir/$target.log
  # Each target gets a TMPDIR of its own, which it must leave empty.
  tmp=$corpus_dir/tmp
  rm -rf "$tmp"
  mkdir "$tmp"
  # A file that takes more than ten seconds counts as a hang. Any file may make a reader fill
  # the free working set (96 MiB), which takes seconds under the fuzzer's sanitizers.
  if TMPDIR=$tmp "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$corpus_dir/findings/$target-" "$corpus_dir/$target" "$build_dir/seeds/$target" \
      >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E -A30 '^==[0-9]+==|ERROR: libFuzzer|SUMMARY' "$log" | head -n 60 || true
  fi
  left=$(ls -A "$tmp")
  if [ -n "$left" ]; then
    result="FAILED, left in TMPDIR: $left"
    status=1
  fi
  rmdir "$tmp" 2>/dev/null || true
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  coverage=$(grep -E '^#[0-9]+' "$log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  echo "fuzz_$target: $result, ${runs:-?} runs in ${seconds} s, ${coverage:-no coverage figures}"
done
exit $status
