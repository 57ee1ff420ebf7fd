#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each from its checked-in seed corpus.
#   scripts/fuzz.sh [SECONDS]        each harness for SECONDS (default 30)
#   scripts/fuzz.sh 0 RUNS           each harness for RUNS executions instead (a long run)
# QUORNA_FUZZ_BUILD_DIR names the build tree (default: build-fuzz in the checkout). New inputs the
# fuzzers find go to a scratch corpus, not into the checked-in one; a crash leaves its input in
# the build tree's fuzz/ folder and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds="${1:-30}"
runs="${2:--1}"
build="${QUORNA_FUZZ_BUILD_DIR:-$root/build-fuzz}"
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DQUORNA_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

status=0
for name in configuration master gateway-request metersim-requests metersim-commands; do
  scratch=$(mktemp -d /tmp/quorna-corpus.XXXXXX)
  cp -r "$root/fuzz/corpus/$name/." "$scratch/"
  options=(-print_final_stats=1 -artifact_prefix="$build/fuzz/$name-")
  if [ "$runs" -ge 0 ]; then options+=(-runs="$runs"); else options+=(-max_total_time="$seconds"); fi
  echo "fuzz-$name:"
  if ! "$build/fuzz/fuzz-$name" "${options[@]}" "$scratch" 2> "$build/fuzz/$name.log"; then
    status=1
    tail -n 30 "$build/fuzz/$name.log"
  fi
  grep -a -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/fuzz/$name.log" | sed 's/^/  /' || true
  rm -rf "$scratch"
done
exit "$status"
