#!/usr/bin/env bash
# Takes docs/screenshot.png: Quorlin's window on a virtual X screen, with a short mail check in
# its logs. A stand-in POP3 server on this machine answers, and a stand-in mail client logs in
# through Quorlin, so the picture shows a real run, not a mock-up.
#
# The virtual screen has no system tray, so the window stays on screen the whole time (a hidden
# window could not be brought back there); the client connecting would show it anyway.
#
# Usage: scripts/screenshot.sh [build-dir] [output.png]
#        scripts/screenshot.sh --layout [build-dir] [folder]
#        scripts/screenshot.sh --accounts [build-dir] [folder]
# The second form takes, for checking the layout, pictures of the window, the trust dialog and the
# settings dialog on a screen of 1024 x 600 at 100 % and at 125 %, with a window manager and a
# tray (tests/gui/desktop_check.py --layout); they go to the folder (default: layout-pictures).
# The third takes the settings dialog's accounts table and the tray menu with three accounts'
# last checks.
# Needs xvfb, xauth, imagemagick, python3 and a Japanese font (fonts-ipafont-gothic); all are in
# scripts/install-deps --tests.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
if [ "${1:-}" = --layout ] || [ "${1:-}" = --accounts ]; then
    build="$(cd "${2:-$root/build}" && pwd)"
    exec python3 "$root/tests/gui/desktop_check.py" "$1" "$build/quorlin" "${3:-layout-pictures}"
fi
build="$(cd "${1:-$root/build}" && pwd)"
output="${2:-$root/docs/screenshot.png}"
case "$output" in /*) ;; *) output="$PWD/$output" ;; esac
binary="$build/quorlin"
[ -x "$binary" ] || { echo "screenshot: no program at $binary; build first" >&2; exit 1; }
for tool in xvfb-run import python3; do
    command -v "$tool" >/dev/null || { echo "screenshot: $tool is missing; run scripts/install-deps --tests" >&2; exit 1; }
done
mkdir -p "$(dirname "$output")"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -m 700 "$work/runtime"

# The settings files of a user who has run Quorlin before (no first-run question).
printf 'pop.example.jp\r\n' > "$work/Quorlin.ini"
printf 'ISO-2022-KR\r\nbig5\r\nGB2312\r\n' > "$work/Quorlin_BatList.ini"

cat > "$work/scene.py" <<'PYTHON'
"""Plays the mail check: a POP3 server that accepts the APOP login, and a client that logs in
through Quorlin and looks at its mailbox, then stays connected while the picture is taken."""
import socket, subprocess, sys, threading, time

binary, config, output = sys.argv[1:4]

def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]

server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", 0))
server.listen(1)
server_port = server.getsockname()[1]

REPLIES = {
    b"APOP": b"+OK maildrop locked and ready\r\n",
    b"STAT": b"+OK 2 3210\r\n",
    b"LIST": b"+OK 2 messages\r\n1 1205\r\n2 2005\r\n.\r\n",
    b"UIDL": b"+OK\r\n1 whqtswO00WBw418f9t5JxYwZ\r\n2 QhdPYR:00WBw1Ph7x7\r\n.\r\n",
}

def serve():
    connection, _ = server.accept()
    connection.sendall(b"+OK POP3 server ready <1896.697170952@pop.example.jp>\r\n")
    buffered = b""
    while True:
        data = connection.recv(4096)
        if not data:
            return
        buffered += data
        while b"\r\n" in buffered:
            line, buffered = buffered.split(b"\r\n", 1)
            connection.sendall(REPLIES.get(line.split(b" ")[0].upper(), b"+OK\r\n"))

threading.Thread(target=serve, daemon=True).start()

# A plain desktop behind the window instead of the virtual screen's black.
subprocess.run(["convert", "-size", "1024x768", "gradient:#6d93bd-#2f4d72",
                config + "/desktop.png"], check=True)
# (display sets the background and then reports a failure to open a window of its own.)
subprocess.run(["display", "-window", "root", config + "/desktop.png"], stderr=subprocess.DEVNULL)

listen_port = free_port()
quorlin = subprocess.Popen([binary, "--config-dir", config, "--server", "127.0.0.1",
                            "--server-port", str(server_port), "--listen-port", str(listen_port),
                            "--listen-address", "127.0.0.1"])
try:
    deadline = time.monotonic() + 20
    while True:
        try:
            client = socket.create_connection(("127.0.0.1", listen_port), timeout=5)
            break
        except ConnectionRefusedError:
            if time.monotonic() > deadline or quorlin.poll() is not None:
                sys.exit("screenshot: Quorlin did not start listening")
            time.sleep(0.1)
    reader = client.makefile("rb")

    def ask(command, multi=False):
        client.sendall(command + b"\r\n")
        status = reader.readline()
        while multi and status.startswith(b"+OK") and reader.readline() != b".\r\n":
            pass

    reader.readline()  # the greeting
    ask(b"USER taro")
    ask(b"PASS secret")
    ask(b"STAT")
    ask(b"LIST", multi=True)
    ask(b"UIDL", multi=True)

    # Let the window draw what has arrived, then take the whole screen.
    deadline = time.monotonic() + 10
    while subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True,
                         text=True).stdout.find("Quorlin") < 0:
        if time.monotonic() > deadline:
            sys.exit("screenshot: the window did not appear")
        time.sleep(0.1)
    time.sleep(1.0)
    subprocess.run(["import", "-window", "root", output], check=True)
    client.close()
finally:
    quorlin.terminate()
    quorlin.wait(timeout=10)
PYTHON

# A screen of 1024 x 768 pixels; the window takes its place in the bottom-right corner.
env -u DBUS_SESSION_BUS_ADDRESS -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb LANG=ja_JP.UTF-8 \
    XDG_RUNTIME_DIR="$work/runtime" \
    xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
    python3 "$work/scene.py" "$binary" "$work" "$work/screen.png"
cp "$work/screen.png" "$output"
echo "screenshot: wrote $output"
