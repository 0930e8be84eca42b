#!/bin/sh
# `cmake --install` into a staging folder (DESTDIR): the program, its desktop entry and the
# systemd user unit land where desktops and systemd look, and both files pass their checkers.
set -eu
build_dir=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "install_check: $1" >&2; exit 1; }

DESTDIR=$stage cmake --install "$build_dir" --prefix /usr/local >"$stage/install.log" 2>&1 ||
    { cat "$stage/install.log" >&2; fail "cmake --install failed"; }

prefix=$stage/usr/local
unit=$prefix/lib/systemd/user/quorlin.service
desktop=$prefix/share/applications/quorlin.desktop
[ -x "$prefix/bin/quorlin" ] || fail "no program in bin"
[ -f "$unit" ] || fail "no user unit in lib/systemd/user"
[ -f "$desktop" ] || fail "no desktop entry in share/applications"
grep -qx 'ExecStart=/usr/local/bin/quorlin --headless --config-dir %E/Quorlin' "$unit" ||
    fail "the unit does not start the installed program headless with the user's settings"

# systemd-analyze verify wants the program at the path the unit names; the staged copy stands in
# for it. It reports mistakes (unknown keys, bad values) and still exits 0, so any output fails.
mkdir -p "$stage/verify" "$stage/runtime"
chmod 700 "$stage/runtime"
sed "s|^ExecStart=/usr/local/bin/|ExecStart=$prefix/bin/|" "$unit" >"$stage/verify/quorlin.service"
verify() {
    XDG_RUNTIME_DIR=$stage/runtime systemd-analyze "$@" verify "$stage/verify/quorlin.service" \
        >"$stage/verify.log" 2>&1
}
# As a user unit where a user manager can be set up for the check; otherwise (a container
# without one) the same file is checked as a system unit, which reads it by the same rules.
status=0
verify --user || status=$?
if [ "$status" -ne 0 ] && grep -q 'Failed to initialize manager' "$stage/verify.log"; then
    status=0
    verify || status=$?
fi
if [ "$status" -ne 0 ] || [ -s "$stage/verify.log" ]; then
    cat "$stage/verify.log" >&2
    fail "systemd-analyze verify found fault with the unit"
fi

status=0
desktop-file-validate "$desktop" >"$stage/desktop.log" 2>&1 || status=$?
if [ "$status" -ne 0 ] || grep -q 'error' "$stage/desktop.log"; then
    cat "$stage/desktop.log" >&2
    fail "desktop-file-validate found fault with the desktop entry"
fi
