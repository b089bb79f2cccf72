#!/bin/sh
# Sets up what is missing, builds tonebrook and runs the whole test suite:
#   1. g++, warnings as errors, every test;
#   2. clang with AddressSanitizer and UndefinedBehaviorSanitizer, every test;
#   3. clang with ThreadSanitizer, the tests of code shared with the audio thread;
#   4. clang with libFuzzer, ASan and UBSan: the WAV loader and the bytebeat
#      machine fuzzed for a bounded time each.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

./scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== g++ build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONEBROOK_WERROR=ON \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
cmake --build build
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== clang, AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTONEBROOK_WERROR=ON -DTONEBROOK_SANITIZE=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== clang, ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTONEBROOK_WERROR=ON -DTONEBROOK_TSAN=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-tsan
TSAN_OPTIONS="halt_on_error=1:suppressions=$root/scripts/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threads

echo "== clang, libFuzzer on the WAV loader (${TONEBROOK_FUZZ_SECONDS:-60} s)"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTONEBROOK_WERROR=ON -DTONEBROOK_SANITIZE=ON \
  -DTONEBROOK_FUZZ=ON -DTONEBROOK_TESTS=OFF -DTONEBROOK_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz --target wav_load_fuzz skreel_machine_fuzz
findings=$(mktemp -d)
build-fuzz/fuzz/wav_load_fuzz -max_total_time="${TONEBROOK_FUZZ_SECONDS:-60}" -close_fd_mask=1 -max_len=4096 \
  -artifact_prefix="$findings/" "$findings" fuzz/corpus/wav
rm -rf "$findings"

echo "== clang, libFuzzer on the bytebeat machine against its model (${TONEBROOK_SKREEL_FUZZ_SECONDS:-25} s)"
findings=$(mktemp -d)
build-fuzz/fuzz/skreel_machine_fuzz -max_total_time="${TONEBROOK_SKREEL_FUZZ_SECONDS:-25}" -max_len=2048 \
  -artifact_prefix="$findings/" "$findings" fuzz/corpus/skreel
rm -rf "$findings"

echo "== all tests passed"
