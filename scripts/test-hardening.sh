#!/usr/bin/env bash
# The hardening suite: every test under AddressSanitizer and UndefinedBehaviorSanitizer, the
# stress tests under ThreadSanitizer, a thousand sessions under valgrind, and each
# fuzzer for a bounded time (FUZZ_SECONDS, default 60). Any finding fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages clang libclang-rt-14-dev valgrind "${BUILD_PACKAGES[@]}"
jobs=$(nproc)
configure() {  # configure DIR CMAKE-ARGS...: a clang build of its own
    local dir=$1; shift
    CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: the whole suite"
configure build-asan -DVINTREL_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    STRESS_AUTOMATION_MS=500 ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== ThreadSanitizer: the whole stress suite, automation racing the audio thread included"
configure build-tsan -DVINTREL_SANITIZE=thread -DVINTREL_BUILD_TOOLS=OFF
cmake --build build-tsan -j"$jobs" --target stress_test
TSAN_OPTIONS=halt_on_error=1 STRESS_SESSIONS=200 build-tsan/tests/stress_test
cmake --build build-tsan -j"$jobs" --target vst3_test editor_host_test
TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/vst3_test --gtest_filter='Vst3State.ArrivesWhileProcessing'
# The editors opened and closed a hundred times while the audio runs, on an X server of their own.
TSAN_OPTIONS=halt_on_error=1 xvfb-run -a -s "-noreset -screen 0 2560x1800x24" \
    build-tsan/tests/editor_host_test --gtest_filter='*HundredTimes*'

echo "== valgrind memcheck: a thousand sessions opened, worked and closed"
scripts/build.sh >/dev/null
valgrind -q --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --show-leak-kinds=definite,indirect build/tests/stress_test --gtest_filter='Lifecycle.*'

echo "== fuzzing, ${FUZZ_SECONDS:-60} s per fuzzer"
configure build-fuzz -DVINTREL_FUZZ=ON -DVINTREL_BUILD_TESTS=OFF -DVINTREL_BUILD_TOOLS=OFF
cmake --build build-fuzz -j"$jobs" --target request_fuzzer chunk_fuzzer clap_fuzzer vst3_fuzzer vstpreset_fuzzer
mkdir -p build-fuzz/artifacts
for fuzzer in request chunk clap vst3 vstpreset; do
    regressions=(fuzz/regressions/"$fuzzer"-*)
    if [ -e "${regressions[0]}" ]; then
        build-fuzz/fuzz/${fuzzer}_fuzzer "${regressions[@]}"
    fi
    corpus=$(mktemp -d)
    build-fuzz/fuzz/${fuzzer}_fuzzer -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/ "$corpus" $(ls -d "fuzz/corpus/${fuzzer}s" 2>/dev/null) 2>&1 |
        grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==|SUMMARY|.*runtime error)' || true
    rm -rf "$corpus"
    if ls build-fuzz/artifacts/ | grep -q .; then
        echo "fuzzing found a fault: see build-fuzz/artifacts/" >&2
        exit 1
    fi
done
echo "hardening: no findings"
