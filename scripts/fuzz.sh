#!/usr/bin/env bash
# Builds one fuzz target with clang and libFuzzer in build-fuzz/ and runs it for SECONDS.
# New inputs it finds go to build-fuzz/fuzz/found/TARGET/, crashes to build-fuzz/fuzz/crashes/TARGET/;
# the seed corpus fuzz/corpus/TARGET/ is only read. Add every input that found a fault there.
#   scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 2 ]; then
    echo "usage: $0 TARGET SECONDS [libFuzzer options...]   (targets: $(ls fuzz/corpus | tr '\n' ' '))" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2
[ -d "fuzz/corpus/$target" ] || { echo "no such target: $target" >&2; exit 2; }

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DIRLEARN_FUZZ=ON >/dev/null
cmake --build build-fuzz --target "fuzz_$target"

found="build-fuzz/fuzz/found/$target"
crashes="build-fuzz/fuzz/crashes/$target"
mkdir -p "$found" "$crashes"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:${UBSAN_OPTIONS:-}"
exec "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$crashes/" "$@" "$found" "fuzz/corpus/$target"
