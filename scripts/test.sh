#!/bin/sh
# Sets up what is missing, builds tonebrook and runs the whole test suite:
#   1. g++, warnings as errors, every test;
#   2. clang with AddressSanitizer and UndefinedBehaviorSanitizer, every test;
#   3. clang with ThreadSanitizer, the tests of code shared with the audio thread;
#   4. clang with libFuzzer, ASan and UBSan: the WAV loader, the bytebeat
#      engine (encoder, decoder and listing, playing, and the machine against
#      its plain model), the texture packer, the atlases' sheet scans and the
#      image loader, and the C formula compiler, each fuzzed for a bounded
#      time: 15 s each, or TONEBROOK_FUZZ_SECONDS when it is set.
# Each stage says how long the run has taken so far.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

./scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
started=$(date +%s)
stage() { echo "== $1 (at $(( $(date +%s) - started )) s)"; }

stage "g++ build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTONEBROOK_WERROR=ON \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
cmake --build build
ctest --test-dir build --output-on-failure -j "$jobs"

stage "clang, AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTONEBROOK_WERROR=ON -DTONEBROOK_SANITIZE=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

stage "clang, ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTONEBROOK_WERROR=ON -DTONEBROOK_TSAN=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTONEBROOK_BENCH=OFF
# Only the programs that run here: those of the label `threads`.
threads_tests=$(find tests -name '*_threads_test.cpp' -exec basename {} .cpp \; | sort)
# shellcheck disable=SC2086
cmake --build build-tsan --target $threads_tests
TSAN_OPTIONS="halt_on_error=1:suppressions=$root/scripts/tsan.supp" \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L threads

fuzz_seconds=${TONEBROOK_FUZZ_SECONDS:-15}
stage "clang, libFuzzer: WAV loader, bytebeat engine, C formulas, texture packer, atlas sheets, image files (${fuzz_seconds} s each)"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTONEBROOK_WERROR=ON -DTONEBROOK_SANITIZE=ON \
  -DTONEBROOK_FUZZ=ON -DTONEBROOK_TESTS=OFF -DTONEBROOK_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build-fuzz --target wav_load_fuzz skreel_encode_fuzz skreel_decode_fuzz skreel_play_fuzz \
  skreel_machine_fuzz skreel_c_fuzz texture_atlas_fuzz atlas_sheet_fuzz image_load_fuzz
# fuzz TARGET MAX_LEN [SEED_FOLDER...]: a bounded run that leaves the seeds
# untouched; what it finds is kept in a folder it names.
fuzz() {
  target=$1 max_len=$2
  shift 2
  work=$(mktemp -d)
  findings=$(mktemp -d)
  echo "-- $target"
  if ! "build-fuzz/fuzz/$target" -max_total_time="$fuzz_seconds" -close_fd_mask=1 -max_len="$max_len" \
    -artifact_prefix="$findings/" "$work" "$@"; then
    echo "$target found a fault; the input is in $findings" >&2
    exit 1
  fi
  rm -rf "$work" "$findings"
}
fuzz wav_load_fuzz 4096 fuzz/corpus/wav
fuzz skreel_encode_fuzz 4096 examples fuzz/corpus/skreel_text
fuzz skreel_decode_fuzz 4096 fuzz/corpus/skreel_url
fuzz skreel_play_fuzz 4096 fuzz/corpus/skreel_url
fuzz skreel_machine_fuzz 2048 fuzz/corpus/skreel
fuzz skreel_c_fuzz 2048 fuzz/corpus/skreel_c
fuzz texture_atlas_fuzz 4096
fuzz atlas_sheet_fuzz 4096
fuzz image_load_fuzz 4096 fuzz/corpus/image

stage "all tests passed"
