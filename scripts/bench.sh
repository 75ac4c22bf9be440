#!/usr/bin/env bash
# Sets up what is missing, builds, and measures processing cost per frame against the memory
# floor and a plain hand-written loop, then what parameter changes cost in each format; prints
# the ratios at the end of each, and what analysing a ten-minute take costs. Medians of 5 runs.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
ensure_packages libbenchmark-dev
scripts/build.sh >/dev/null
build/bench/decoder_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.1 "$@"
build/bench/parameter_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2 "$@"
# A ten-minute take, analysed as vstrender --analyze does (the take is written once, to /tmp).
build/bench/analysis_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
