#!/bin/sh
# `make clean` takes the settings files out of the build folder before removing it: into the
# user's settings folder, or beside a file already there.
set -eu
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/build" "$work/config"
printf 'pop.example.jp\r\n' >"$work/build/Quorlin.ini"
printf 'GB2312\r\n' >"$work/build/Quorlin_BatList.ini"
printf 'older.example.jp\r\n' >"$work/config/Quorlin.ini"

make -s -C "$source_dir" clean BUILD="$work/build" CONFIG_DIR="$work/config" >/dev/null

fail() { echo "make_clean_keeps_settings: $1" >&2; exit 1; }
[ ! -e "$work/build" ] || fail "the build folder is still there"
[ "$(cat "$work/config/Quorlin_BatList.ini")" = "$(printf 'GB2312\r')" ] || fail "blocked list lost"
[ "$(cat "$work/config/Quorlin.ini")" = "$(printf 'older.example.jp\r')" ] || fail "settings overwritten"
[ "$(cat "$work/config/Quorlin.ini.from-build")" = "$(printf 'pop.example.jp\r')" ] ||
    fail "server setting lost"
