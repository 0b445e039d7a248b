#!/usr/bin/env bash
# Mutation check: how many small faults put into the program the unit tests notice. Each mutant
# is built incrementally in build-mutate/ and checked by the unit test programs that link it
# (app/main.cpp, which none links, is left to the end-to-end tests);
# the sources are restored after each one. Long: bound a run with a sample.
#
#   scripts/mutate.sh                                   # every mutant of puzzle/, pictures/ and app/
#   scripts/mutate.sh puzzle pictures/display.cpp       # these files and folders
#   scripts/mutate.sh --sample 60 --seed 3 pictures     # 60 mutants drawn at random
#   scripts/mutate.sh --list puzzle/rules.cpp           # only list them
#   scripts/mutate.sh --change "swapped|first" app      # only statement swaps and early returns
#
# Survivors are printed as file:line with the changed line, then the score per file. Mutants
# that cannot change behaviour are listed, each with its reason, in scripts/mutate-equivalents.txt.
# --check-equivalents tries those too, to find entries that no longer hold. A run starts by
# building the unchanged program and running its tests; Ctrl-C stops it with the figures so far.
# MOZARIO_SOAK_EVENTS is 3000 unless set; MUTATE_JOBS (2) is the build's parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
exec nice -n 10 python3 scripts/mutate.py "$@"
