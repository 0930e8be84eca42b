#!/usr/bin/env bash
# Builds the relay benchmarks and Quorlin, then runs them and prints markdown tables.
#
#   bench/relay/run.sh                 ratios: RETR, UIDL, NOOP, sessions (about 2 minutes)
#   bench/relay/run.sh --memory        peak memory of a 500 MB RETR to a slow client (2-3 minutes)
#   bench/relay/run.sh --all           both
#   bench/relay/run.sh --concurrent    50 clients retrieving at once (about a minute)
#   bench/relay/run.sh --tls           RETR and UIDL with TLS toward the server, the client or both
#                                      (about 2 minutes)
#
# Any other option goes to bench_relay (for instance --rounds 11, --only uidl, --raw, --keep).
# BUILD_DIR chooses the build folder (default: build-bench at the top of the tree).
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
case "$build" in /*) ;; *) build=$root/$build ;; esac

timings=1
memory=0
concurrent=0
tls=0
passed=()
for argument in "$@"; do
    case "$argument" in
    --memory) timings=0 memory=1 ;;
    --all) timings=1 memory=1 ;;
    --concurrent) timings=0 concurrent=1 ;;
    --tls) timings=0 memory=0 tls=1 ;;
    *) passed+=("$argument") ;;
    esac
done

command -v socat >/dev/null || { echo "run.sh: socat is missing (apt-get install socat)" >&2; exit 1; }

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench_relay pop3_bench_server minimal_relay

cmake --build "$build" -j "$(nproc)" --target quorlin
program=(--quorlin "$build/quorlin")

bench="$build/bench/relay/bench_relay"
status=0
if [ "$timings" = 1 ]; then
    "$bench" "${program[@]}" ${passed[@]+"${passed[@]}"} || status=$?
fi
if [ "$tls" = 1 ]; then
    "$bench" "${program[@]}" --tls ${passed[@]+"${passed[@]}"} || status=$?
fi
if [ "$memory" = 1 ]; then
    "$bench" "${program[@]}" --memory ${passed[@]+"${passed[@]}"} || status=$?
fi
if [ "$concurrent" = 1 ]; then
    "$bench" "${program[@]}" --concurrent ${passed[@]+"${passed[@]}"} || status=$?
fi
exit "$status"
