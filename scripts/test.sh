#!/usr/bin/env bash
# Installs what is missing, builds every test with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs them through CTest, runs the application end
# to end under Xvfb, runs the tests of the code that crosses threads again
# under ThreadSanitizer, then runs each fuzz target briefly. Usage: bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh --tests

jobs=$(nproc)
export CCACHE_DIR="${CCACHE_DIR:-$HOME/.cache/corvane-ccache}"
export CCACHE_BASEDIR="$root"
export CCACHE_NOHASHDIR=1

build="$root/build-test"
# The benchmarks are compiled here so that they keep building; they are not run.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCORVANE_SANITIZE=ON -DCORVANE_TESTS=ON -DCORVANE_BENCH=ON >/dev/null
cmake --build "$build" -j "$jobs"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
status=0
# The application's script-command tests need a session bus: give the run one
# of its own when dbus-run-session is there (they skip themselves without).
bus=()
if command -v dbus-run-session >/dev/null 2>&1; then bus=(dbus-run-session --); fi
"${bus[@]}" ctest --test-dir "$build" -j "$jobs" --output-on-failure --timeout 600 || status=$?

# The application end to end under a real X server: a batch over D-Bus, drags,
# keys (skipped when xvfb-run or dbus-run-session is missing).
e2e=0
timeout 600 bash scripts/e2e_xvfb.sh "$build" "$build/e2e" || e2e=$?
if [ $e2e -eq 77 ]; then
  echo "end-to-end run under Xvfb skipped"
elif [ $e2e -ne 0 ]; then
  echo "end-to-end run under Xvfb failed"
  status=1
fi

# ThreadSanitizer: only the test programs labelled "tsan" (the target tsan_tests
# builds them); unoptimised, as they build faster so and run for seconds only.
tsan="$root/build-tsan"
cmake -S . -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVANE_TSAN=ON -DCORVANE_TESTS=ON >/dev/null
cmake --build "$tsan" -j "$jobs" --target tsan_tests
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
  ctest --test-dir "$tsan" -L tsan --no-tests=error -j "$jobs" --output-on-failure --timeout 600 \
    || status=$?

# Fuzz targets: built with clang's libFuzzer, each run for a few seconds.
if command -v clang++ >/dev/null 2>&1; then
  fuzz="$root/build-fuzz"
  CC=clang CXX=clang++ cmake -S . -B "$fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCORVANE_TESTS=OFF -DCORVANE_FUZZ=ON >/dev/null
  cmake --build "$fuzz" -j "$jobs" --target fuzzers
  for f in "$fuzz"/fuzz/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus="$root/fuzz/corpus/${name#fuzz_}"
    mkdir -p "$fuzz/work-$name"
    args=("$fuzz/work-$name")
    [ -d "$corpus" ] && args+=("$corpus")
    # A target's scratch folder goes under its own temporary folder, removed
    # after it: the fuzzer ends the process without the target's clean-up.
    scratch="$fuzz/tmp-$name"
    rm -rf "$scratch" && mkdir -p "$scratch"
    echo "fuzzing $name for ${CORVANE_FUZZ_SECONDS:-15} s"
    if ! TMPDIR="$scratch" "$f" -max_total_time="${CORVANE_FUZZ_SECONDS:-15}" -rss_limit_mb=2048 \
        "${args[@]}" >"$fuzz/$name.log" 2>&1; then
      tail -n 40 "$fuzz/$name.log"
      echo "fuzz target $name failed"
      status=1
    fi
    rm -rf "$scratch"
  done
fi
exit $status
