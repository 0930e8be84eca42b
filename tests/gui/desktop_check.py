#!/usr/bin/env python3
"""Quorlin on a virtual desktop with a window manager (openbox) and a panel with a system tray
(tint2), played as a user meets it:

- the tray picture is drawn (more than one colour) and changes with the traffic;
- a mail client connecting brings the window up without taking the keyboard from the window the
  user is typing in, also when the window was minimised, and keys typed meanwhile stay there;
- a minimised window comes back, with the keyboard, from a double-click on the tray icon.

Usage: desktop_check.py QUORLIN-BINARY [SCREENSHOT-FOLDER]
Exits 0 when all holds, 1 with the reason otherwise, 77 (skipped) when a tool is missing
(scripts/install-deps --tests installs them all).
"""
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

TOOLS = ["Xvfb", "openbox", "tint2", "xdotool", "xwininfo", "import", "xmessage"]


class Failure(Exception):
    pass


def wait_for(what, condition, seconds=15):
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.05)


class Desktop:
    def __init__(self, work):
        self.work = work
        self.processes = []
        number = next(n for n in range(90, 200)
                      if not os.path.exists(f"/tmp/.X{n}-lock")
                      and not os.path.exists(f"/tmp/.X11-unix/X{n}"))
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        runtime = os.path.join(work, "runtime")
        os.mkdir(runtime, 0o700)
        self.env.update(DISPLAY=f":{number}", XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb",
                        HOME=work, LANG="C.UTF-8")
        self.start("xvfb", ["Xvfb", f":{number}", "-screen", "0", "1280x800x24", "-nolisten", "tcp"])
        wait_for("the X server", lambda: self.run(["xwininfo", "-root"], check=False).returncode == 0)
        self.start("openbox", ["openbox"])
        tint2_log = self.start("tint2", ["tint2"])
        wait_for("the tray", lambda: "systray started" in open(tint2_log, errors="replace").read())

    def start(self, name, command):
        log = os.path.join(self.work, name + ".log")
        with open(log, "wb") as out:
            self.processes.append(subprocess.Popen(command, env=self.env, stdout=out,
                                                   stderr=subprocess.STDOUT))
        return log

    def run(self, command, check=True):
        return subprocess.run(command, env=self.env, capture_output=True, text=True, check=check)

    def close(self):
        for process in reversed(self.processes):
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()

    def windows(self):
        return self.run(["xwininfo", "-root", "-tree"], check=False).stdout

    def mapped(self, window):
        return "IsViewable" in self.run(["xwininfo", "-id", window], check=False).stdout

    def active(self):
        """The window with the keyboard, as a number (xdotool prints decimal, xwininfo hex)."""
        active = self.run(["xdotool", "getactivewindow"], check=False).stdout.strip()
        return int(active) if active.isdigit() else None

    def picture(self, window):
        """The colour count and a signature of the window's pixels."""
        shown = self.run(["import", "-window", window, "-format", "%k %#", "info:"], check=False)
        if shown.returncode != 0:
            return None  # not drawn yet
        count, signature = shown.stdout.split()
        return int(count), signature

    def settled_picture(self, window):
        """The picture once two looks a moment apart agree (the tray draws in steps)."""
        previous = None
        while True:
            current = wait_for("the tray picture", lambda: self.picture(window))
            if current == previous:
                return current
            previous = current
            time.sleep(0.3)

    def centre(self, window):
        info = self.run(["xwininfo", "-id", window]).stdout
        x = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", info).group(1))
        y = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", info).group(1))
        w = int(re.search(r"Width:\s+(\d+)", info).group(1))
        h = int(re.search(r"Height:\s+(\d+)", info).group(1))
        return x + w // 2, y + h // 2

    def double_click(self, window):
        x, y = self.centre(window)
        self.run(["xdotool", "mousemove", "--sync", str(x), str(y),
                  "click", "--repeat", "2", "--delay", "80", "1"])

    def screenshot(self, folder, name):
        if folder:
            time.sleep(1)  # past the window manager's (un)minimise animation and the repaint
            self.run(["import", "-window", "root", os.path.join(folder, name)])


def mail_server():
    """A stand-in POP3 server that greets with an APOP stamp and says +OK to everything."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)

    def serve():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=session, args=(connection,), daemon=True).start()

    def session(connection):
        connection.sendall(b"+OK ready <1896.697170952@pop.example.jp>\r\n")
        buffered = b""
        while True:
            data = connection.recv(4096)
            if not data:
                connection.close()
                return
            buffered += data
            while b"\r\n" in buffered:
                line, buffered = buffered.split(b"\r\n", 1)
                connection.sendall(b"+OK\r\n")
                if line.upper().startswith(b"QUIT"):
                    connection.close()
                    return

    threading.Thread(target=serve, daemon=True).start()
    return listener.getsockname()[1]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def check(binary, shots):
    work = tempfile.mkdtemp(prefix="quorlin-desktop-")
    desktop = None
    try:
        desktop = Desktop(work)
        config = os.path.join(work, "config")
        os.mkdir(config)
        with open(os.path.join(config, "Quorlin.ini"), "wb") as f:
            f.write(b"127.0.0.1\r\n")
        listen_port = free_port()
        desktop.start("quorlin", [binary, "--config-dir", config, "--server-port", str(mail_server()),
                                  "--listen-port", str(listen_port), "--listen-address", "127.0.0.1"])

        def find(pattern):
            match = re.search(r"(0x[0-9a-f]+) " + pattern, desktop.windows())
            return match.group(1) if match else None

        tray = wait_for("the tray icon", lambda: find(r'"Quorlin": \("quorlin" "Quorlin"\)\s+\d\dx\d\d\+'))

        def main_window():
            # Looked up each time: the window may come back as a new native window.
            return wait_for("the window", lambda: find(r'"Quorlin  Ver\.[0-9.]+"'))

        def main_window_mapped():
            window = find(r'"Quorlin  Ver\.[0-9.]+"')
            return bool(window) and desktop.mapped(window)

        # Hidden from the start: placed, but never mapped before a mail client comes.
        time.sleep(1)
        if main_window_mapped():
            raise Failure("the window is up after start-up")
        idle = desktop.settled_picture(tray)
        if idle[0] < 2:
            raise Failure(f"the tray icon is blank ({idle[0]} colour)")
        print(f"tray icon {tray}: idle picture, {idle[0]} colours")

        # The user types in another window.
        desktop.start("xmessage", ["xmessage", "-name", "typing", "-buttons", "", "-geometry", "400x100+100+100",
                                   "The user types here."])
        typing = wait_for("the other window",
                          lambda: desktop.run(["xdotool", "search", "--name", "^typing$"],
                                              check=False).stdout.split())[0]
        typing = int(typing)
        desktop.run(["xdotool", "windowactivate", "--sync", str(typing)])
        wait_for("the other window to have the keyboard", lambda: desktop.active() == typing)

        def mail_check(minimised_before):
            client = socket.create_connection(("127.0.0.1", listen_port), timeout=10)
            reader = client.makefile("rb")
            if not reader.readline().startswith(b"+OK ready"):
                raise Failure("no greeting through Quorlin")
            wait_for("the window to come up", lambda: desktop.mapped(main_window()))
            server_picture = wait_for("the server's picture",
                                      lambda: (p := desktop.picture(tray)) != idle and p)
            # Keys typed while the window is up go where the user was typing.
            desktop.run(["xdotool", "type", "--delay", "20", "ls -l\n"])
            time.sleep(0.3)
            if desktop.active() != typing:
                raise Failure("the mail check took the keyboard"
                              + (" (window was minimised)" if minimised_before else ""))
            client.sendall(b"USER taro\r\n")
            reader.readline()
            wait_for("the client's picture",
                     lambda: desktop.picture(tray) not in (idle, server_picture))
            print("mail check" + (" (window minimised before)" if minimised_before else "")
                  + ": window up, keyboard stayed with the other window, tray picture changed"
                  f" {idle[1][:8]} -> {server_picture[1][:8]} -> {desktop.picture(tray)[1][:8]}")
            return client, reader

        client, reader = mail_check(False)
        desktop.screenshot(shots, "desktop-mail-check.png")
        client.sendall(b"QUIT\r\n")
        reader.readline()
        # The window hides when the client leaves after the server has closed.
        time.sleep(0.5)
        reader.close()
        client.close()
        wait_for("the window to hide after the check", lambda: not desktop.mapped(main_window()))
        wait_for("the idle picture again", lambda: desktop.picture(tray) == idle)

        with open(os.path.join(config, "Quorlin.ini"), "rb") as f:
            if f.read() != b"127.0.0.1\r\n":
                raise Failure("the server setting changed during the check")

        # From the tray: shown with the keyboard, minimised, and back again.
        desktop.double_click(tray)
        wait_for("the window from the tray", lambda: desktop.mapped(main_window()))
        wait_for("the window to get the keyboard", lambda: desktop.active() == int(main_window(), 16))
        desktop.run(["xdotool", "windowminimize", "--sync", main_window()])
        wait_for("the window to minimise", lambda: not desktop.mapped(main_window()))
        desktop.screenshot(shots, "desktop-minimised.png")
        desktop.double_click(tray)
        wait_for("the minimised window back from the tray", lambda: desktop.mapped(main_window()))
        wait_for("the restored window to get the keyboard", lambda: desktop.active() == int(main_window(), 16))
        desktop.screenshot(shots, "desktop-restored.png")
        print("minimised window came back from a double-click on the tray icon, with the keyboard")

        # Minimised, then a mail check while the user types elsewhere.
        desktop.run(["xdotool", "windowminimize", "--sync", main_window()])
        desktop.run(["xdotool", "windowactivate", "--sync", str(typing)])
        wait_for("the other window to have the keyboard", lambda: desktop.active() == typing)
        client, reader = mail_check(True)
        reader.close()
        client.close()
        return 0
    except Failure as failure:
        print("desktop_check: " + str(failure), file=sys.stderr)
        if desktop:
            desktop.screenshot(shots or work, "desktop-failure.png")
            print(desktop.windows(), file=sys.stderr)
        return 1
    finally:
        if desktop:
            desktop.close()
        if not shots:
            shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print("desktop_check: skipped, missing " + " ".join(missing))
        return 77
    shots = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    if shots:
        os.makedirs(shots, exist_ok=True)
    return check(os.path.abspath(sys.argv[1]), shots)


if __name__ == "__main__":
    sys.exit(main())
