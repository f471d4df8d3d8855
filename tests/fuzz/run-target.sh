#!/bin/sh
# run-target.sh PROGRAM SECONDS SEEDS CORPUS
# Runs one fuzz target for SECONDS from the committed SEEDS and the CORPUS of earlier runs, adding what it
# finds new to CORPUS. A crash, a sanitizer report or a failed check stops the run with a non-zero status
# and leaves the input that caused it in the current directory.
set -eu
mkdir -p "$4"
UBSAN_OPTIONS=print_stacktrace=1 exec "$1" -max_total_time="$2" -max_len=8192 -timeout=10 \
  -print_final_stats=1 -artifact_prefix=./ "$4" "$3"
