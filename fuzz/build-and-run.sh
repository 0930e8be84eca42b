#!/usr/bin/env bash
# Builds one libFuzzer target with ASan and UBSan and runs it for a bounded time.
#
#   fuzz/build-and-run.sh NAME SECONDS
#
# NAME is the target fuzz/fuzz_NAME.cpp; its line "// fuzz-sources: a.cpp b.cpp" names the
# project sources it needs, as paths from the repository root. Seeds come from fuzz/corpus/NAME/
# and are copied into fuzz/out/NAME/corpus/, the working corpus, which is kept from run to run so
# that runs add up; the checked-in seeds stay as they are. A dictionary fuzz/fuzz_NAME.dict is
# used when there is one. Findings land in fuzz/out/NAME/findings/ and make the script fail.
# Extra libFuzzer options can be given in FUZZ_OPTIONS.
set -euo pipefail

if [ $# -ne 2 ] || ! [[ $2 =~ ^[0-9]+$ ]]; then
    echo "usage: $0 NAME SECONDS" >&2
    exit 2
fi
name=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
target=$root/fuzz/fuzz_$name.cpp
if [ ! -f "$target" ]; then
    echo "no fuzz target $target" >&2
    exit 2
fi

sources=()
for source in $(sed -n 's|^// fuzz-sources:||p' "$target"); do
    sources+=("$root/$source")
done

out=$root/fuzz/out
work=$out/$name
binary=$out/fuzz_$name
mkdir -p "$work/corpus" "$work/findings"

# Qt's headers insist on position-independent code.
read -r -a qt_flags <<<"$(pkg-config --cflags --libs Qt6Core Qt6Network)"
echo "Building $binary"
"${CXX:-clang++}" -std=c++20 -g -O1 -fPIC \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -Wall -Wextra -Wpedantic -DQT_NO_KEYWORDS -I"$root/src" \
    "$target" "${sources[@]}" "${qt_flags[@]}" -o "$binary"

if [ -d "$root/fuzz/corpus/$name" ]; then
    cp -n "$root/fuzz/corpus/$name"/* "$work/corpus/" 2>/dev/null || true
fi
options=(-max_total_time="$seconds" -artifact_prefix="$work/findings/" -print_final_stats=1)
if [ -f "$root/fuzz/fuzz_$name.dict" ]; then
    options+=(-dict="$root/fuzz/fuzz_$name.dict")
fi
read -r -a extra <<<"${FUZZ_OPTIONS:-}"

echo "Fuzzing $name for $seconds s"
"$binary" "${options[@]}" "${extra[@]}" "$work/corpus"
