#!/usr/bin/env python3
"""Quorlin on a virtual desktop with a window manager (openbox) and a panel with a system tray
(tint2), played as a Japanese-speaking user meets it:

- the first-run question, cancelled (a click or Escape) twenty times over: each time the window
  comes up from 表示 in the tray menu;
- the tray picture is drawn (more than one colour) and changes with the traffic;
- a mail client connecting brings the window up without taking the keyboard from the window the
  user is typing in, also when the window was minimised, and every key typed meanwhile reaches
  that window;
- a window the user opened from the tray and works in stays up when a mail check ends;
- a minimised window comes back, with the keyboard, from a double-click on the tray icon;
- a mail server with a self-signed certificate while the user types elsewhere: the trust dialog
  comes up without the keyboard, every key reaches the other window and nothing is trusted; a
  click on the dialog's trust button trusts the certificate.

Usage: desktop_check.py QUORLIN-BINARY [SCREENSHOT-FOLDER]
       desktop_check.py --layout QUORLIN-BINARY SCREENSHOT-FOLDER
       desktop_check.py --accounts QUORLIN-BINARY SCREENSHOT-FOLDER
The second form only takes pictures, on a screen of 1024 x 600 at 100 % and at 125 %, of the
window, the trust dialog and the settings dialog (scripts/screenshot.sh --layout). The third
checks mail of three accounts (one server down) and takes pictures of the settings dialog's
accounts table and of the tray menu with each account's last check (scripts/screenshot.sh
--accounts).
Exits 0 when all holds, 1 with the reason otherwise, 77 (skipped) when a tool is missing
(scripts/install-deps --tests installs them all).
"""
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

TOOLS = ["Xvfb", "openbox", "tint2", "xdotool", "xwininfo", "xprop", "import", "xev", "openssl"]
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MAIN_WINDOW = r'"Quorlin  Ver\.[0-9.]+( \[TLS\])?"'
TRAY_ICON = r'"Quorlin": \("quorlin" "Quorlin"\)\s+\d\dx\d\d\+'
TRAY_MENU = r'"Quorlin": \("quorlin" "Quorlin"\)\s+\d{3}x\d\d\+'


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
    def __init__(self, work, size="1280x800"):
        self.work = work
        self.processes = []
        number = next(n for n in range(90, 200)
                      if not os.path.exists(f"/tmp/.X{n}-lock")
                      and not os.path.exists(f"/tmp/.X11-unix/X{n}"))
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                 "LANG", "LANGUAGE") and not k.startswith("LC_")}
        runtime = os.path.join(work, "runtime")
        os.mkdir(runtime, 0o700)
        # The tools read window titles in UTF-8; Quorlin gets a Japanese desktop of its own.
        self.env.update(DISPLAY=f":{number}", XDG_RUNTIME_DIR=runtime, QT_QPA_PLATFORM="xcb",
                        HOME=work, LC_ALL="C.UTF-8")
        self.start("xvfb", ["Xvfb", f":{number}", "-screen", "0", size + "x24", "-dpi", "96",
                            "-nolisten", "tcp"])
        wait_for("the X server", lambda: self.run(["xwininfo", "-root"], check=False).returncode == 0)
        self.start("openbox", ["openbox"])
        tint2_log = self.start("tint2", ["tint2"])
        wait_for("the tray", lambda: "systray started" in open(tint2_log, errors="replace").read())

    def start(self, name, command, env=None):
        log = os.path.join(self.work, name + ".log")
        with open(log, "ab") as out:
            process = subprocess.Popen(command, env=env or self.env, stdout=out,
                                       stderr=subprocess.STDOUT)
        self.processes.append(process)
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

    def find(self, pattern):
        match = re.search(r"(0x[0-9a-f]+) " + pattern, self.windows())
        return match.group(1) if match else None

    def mapped(self, window):
        return bool(window) and "IsViewable" in self.run(["xwininfo", "-id", window],
                                                          check=False).stdout

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

    def geometry(self, window):
        info = self.run(["xwininfo", "-id", window]).stdout
        value = lambda name: int(re.search(name + r":\s+(-?\d+)", info).group(1))
        return (value("Absolute upper-left X"), value("Absolute upper-left Y"),
                value("Width"), value("Height"))

    def frame_geometry(self, window):
        """The window with the frame the window manager put around it."""
        x, y, w, h = self.geometry(window)
        extents = self.run(["xprop", "-id", window, "_NET_FRAME_EXTENTS"]).stdout
        left, right, top, bottom = (int(n) for n in re.findall(r"\d+", extents.split("=")[1]))
        return x - left, y - top, w + left + right, h + top + bottom

    def panel(self):
        # tint2 may be between windows a moment while it takes a tray icon in.
        return self.geometry(wait_for("the panel", lambda: self.find(r'"tint2"')))

    def in_panel(self, window):
        x, y, _, _ = self.geometry(window)
        panel_x, panel_y, panel_w, panel_h = self.panel()
        return panel_x <= x < panel_x + panel_w and panel_y <= y < panel_y + panel_h

    def click(self, x, y, button=1, repeat=1):
        # (--sync waits for the pointer to move, which it never does when it is there already.)
        there = self.run(["xdotool", "getmouselocation"]).stdout.startswith(f"x:{x} y:{y} ")
        self.run(["xdotool", "mousemove"] + ([] if there else ["--sync"]) + [str(x), str(y),
                 "click", "--repeat", str(repeat), "--delay", "80", str(button)])

    def click_in(self, window, right, bottom):
        """A click at a distance from the window's bottom-right corner."""
        x, y, w, h = self.geometry(window)
        self.click(x + w - right, y + h - bottom)

    def centre(self, window):
        x, y, w, h = self.geometry(window)
        return x + w // 2, y + h // 2

    def double_click(self, window):
        self.click(*self.centre(window), repeat=2)

    def screenshot(self, folder, name):
        if folder:
            time.sleep(1)  # past the window manager's (un)minimise animation and the repaint
            self.run(["import", "-window", "root", os.path.join(folder, name)])


class Quorlin:
    """One run of the program on the desktop, on a Japanese desktop."""

    def __init__(self, desktop, config, arguments, name="quorlin", scale=None):
        self.desktop = desktop
        self.config = config
        self.listen_port = free_port()
        env = {k: v for k, v in desktop.env.items() if k != "LC_ALL"}
        env["LANG"] = "ja_JP.UTF-8"
        if scale:
            env["QT_SCALE_FACTOR"] = scale
        desktop.start(name, [QUORLIN, "--config-dir", config, "--listen-port", str(self.listen_port),
                             "--listen-address", "127.0.0.1"] + arguments, env)
        self.process = desktop.processes[-1]

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        wait_for("the tray icon to go", lambda: not self.desktop.find(TRAY_ICON))

    def window(self):
        # Looked up each time: the window may come back as a new native window.
        return self.desktop.find(MAIN_WINDOW)

    def window_mapped(self):
        return self.desktop.mapped(self.window())

    def tray(self):
        """The tray icon, once the panel has taken it in."""
        def docked():
            icon = self.desktop.find(TRAY_ICON)
            return icon if icon and self.desktop.in_panel(icon) else None
        return wait_for("the tray icon", docked)

    def show_from_menu(self):
        """表示, the first item of the tray icon's menu."""
        x, y = self.desktop.centre(self.tray())
        self.desktop.click(x, y, button=3)
        menu = wait_for("the tray menu", lambda: self.desktop.find(TRAY_MENU))
        wait_for("the tray menu on screen", lambda: self.desktop.mapped(menu))
        self.desktop.run(["xdotool", "key", "Down", "Return"])

    def options_file(self):
        path = os.path.join(self.config, "Quorlin_Options.ini")
        return open(path, encoding="utf-8").read() if os.path.exists(path) else ""


class Typing:
    """A window the user types in (xev), which records every key that reaches it."""

    def __init__(self, desktop):
        self.desktop = desktop
        self.log = desktop.start("typing", ["stdbuf", "-oL", "xev", "-name", "typing",
                                            "-geometry", "400x100+100+100", "-event", "keyboard"])
        self.window = int(wait_for("the window to type in", lambda: desktop.run(
            ["xdotool", "search", "--name", "^typing$"], check=False).stdout.split())[0])
        self.activate()

    def activate(self):
        self.desktop.run(["xdotool", "windowactivate", "--sync", str(self.window)])
        wait_for("the typing window to have the keyboard",
                 lambda: self.desktop.active() == self.window)

    def keys(self):
        """The keys pressed in the window so far, by their key names."""
        text = open(self.log, errors="replace").read()
        return re.findall(r"KeyPress event.*\n.*\n.*\(keysym 0x[0-9a-f]+, (\w+)\)", text)

    def type(self, text, keys=(), delay=40):
        """Types the text and then presses the keys (by their names) as the user does, one every
        delay milliseconds, in the background. What reaches the window is expected_keys."""
        self.expected_keys = [{" ": "space", "-": "minus"}.get(c, c) for c in text] + list(keys)
        script = ('delay=$1; text=$2; shift 2; xdotool type --delay "$delay" "$text" && '
                  '{ [ $# -eq 0 ] || xdotool key --delay "$delay" "$@"; }')
        return subprocess.Popen(["sh", "-c", script, "sh", str(delay), text] + list(keys),
                                env=self.desktop.env)


def mail_server():
    """A stand-in POP3 server that greets with an APOP stamp and says +OK to everything."""
    return serve_pop3(None)


def serve_pop3(tls):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)

    def serve():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=session, args=(connection,), daemon=True).start()

    def session(connection):
        try:
            if tls:
                connection = tls.wrap_socket(connection, server_side=True)
            connection.sendall(b"+OK ready <1896.697170952@pop.example.jp>\r\n")
            buffered = b""
            while True:
                data = connection.recv(4096)
                if not data:
                    break
                buffered += data
                while b"\r\n" in buffered:
                    line, buffered = buffered.split(b"\r\n", 1)
                    connection.sendall(b"+OK\r\n")
                    if line.upper().startswith(b"QUIT"):
                        return
        except (OSError, ssl.SSLError):
            pass  # a refused handshake
        finally:
            connection.close()

    threading.Thread(target=serve, daemon=True).start()
    return listener.getsockname()[1]


def mailbox_server(messages):
    """A stand-in POP3 server with a mailbox: any login is taken, RETR serves the messages."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)

    def reply(line):
        word, _, argument = line.partition(b" ")
        if word.upper() == b"RETR" and argument.isdigit() and 0 < int(argument) <= len(messages):
            return b"+OK\r\n" + messages[int(argument) - 1] + b".\r\n"
        if word.upper() == b"STAT":
            return b"+OK %d %d\r\n" % (len(messages), sum(map(len, messages)))
        return b"+OK\r\n"

    def session(connection):
        with connection:
            connection.sendall(b"+OK ready <7.1@mailbox.example>\r\n")
            buffered = b""
            while True:
                data = connection.recv(4096)
                if not data:
                    return
                buffered += data
                while b"\r\n" in buffered:
                    line, buffered = buffered.split(b"\r\n", 1)
                    connection.sendall(reply(line))
                    if line.upper() == b"QUIT":
                        return

    def serve():
        while True:
            connection, _ = listener.accept()
            threading.Thread(target=session, args=(connection,), daemon=True).start()

    threading.Thread(target=serve, daemon=True).start()
    return listener.getsockname()[1]


def self_signed_server(work):
    """A POP3 server over TLS with a self-signed certificate, and that certificate's SHA-256."""
    folder = os.path.join(work, "certificates")
    os.mkdir(folder)
    subprocess.run(["sh", os.path.join(SOURCE, "tests", "support", "make_test_certificates.sh")],
                   cwd=folder, check=True, capture_output=True)
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(os.path.join(folder, "self.pem"), os.path.join(folder, "self.key"))
    fingerprint = open(os.path.join(folder, "self.sha256")).read().strip().split("=", 1)[1]
    return serve_pop3(tls), fingerprint


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def config_folder(work, name, host=b"127.0.0.1\r\n"):
    folder = os.path.join(work, name)
    os.mkdir(folder)
    if host is not None:
        with open(os.path.join(folder, "Quorlin.ini"), "wb") as f:
            f.write(host)
    return folder


def check_first_run_cancelled(desktop, work, times=20):
    """Cancel at the first-run question, then 表示: the window is on screen every time."""
    for run in range(times):
        quorlin = Quorlin(desktop, config_folder(work, f"first-run-{run}", host=None), [])
        question = wait_for("the first-run question", lambda: desktop.find(r'"初期設定"'))
        wait_for("the question on screen", lambda: desktop.mapped(question))
        if run % 2:
            wait_for("the question to have the keyboard",
                     lambda: desktop.active() == int(question, 16))
            desktop.run(["xdotool", "key", "Escape"])
        else:
            desktop.click_in(question, 50, 22)  # キャンセル, bottom right
        wait_for("the question to go", lambda: not desktop.mapped(question))
        quorlin.show_from_menu()
        try:
            wait_for("the window after 表示", quorlin.window_mapped, seconds=5)
        except Failure:
            raise Failure(f"cancelled first-run question {run + 1}: 表示 did not bring the "
                          "window up")
        quorlin.stop()
    print(f"first-run question cancelled {times} times (click and Escape): "
          "the window came up from 表示 each time")


def check_mail_checks(desktop, work, typing, shots):
    config = config_folder(work, "mail-checks")
    quorlin = Quorlin(desktop, config, ["--server-port", str(mail_server())])
    tray = quorlin.tray()
    # Hidden from the start: placed, but never mapped before a mail client comes.
    time.sleep(0.5)
    if quorlin.window_mapped():
        raise Failure("the window is up after start-up")
    idle = desktop.settled_picture(tray)
    if idle[0] < 2:
        raise Failure(f"the tray icon is blank ({idle[0]} colour)")
    print(f"tray icon {tray}: idle picture, {idle[0]} colours")

    def mail_check(minimised_before):
        client = socket.create_connection(("127.0.0.1", quorlin.listen_port), timeout=10)
        reader = client.makefile("rb")
        if not reader.readline().startswith(b"+OK ready"):
            raise Failure("no greeting through Quorlin")
        wait_for("the window to come up", quorlin.window_mapped)
        server_picture = wait_for("the server's picture",
                                  lambda: (p := desktop.picture(tray)) != idle and p)
        # Keys typed while the window is up go where the user was typing.
        before = len(typing.keys())
        typing.type("ls -l", ["Return"]).wait()
        wait_for("the keys in the typing window",
                 lambda: len(typing.keys()) >= before + len(typing.expected_keys))
        if desktop.active() != typing.window or typing.keys()[before:] != typing.expected_keys:
            raise Failure("the mail check took the keyboard"
                          + (" (window was minimised)" if minimised_before else ""))
        client.sendall(b"USER taro\r\n")
        reader.readline()
        wait_for("the client's picture", lambda: desktop.picture(tray) not in (idle, server_picture))
        print("mail check" + (" (window minimised before)" if minimised_before else "")
              + ": window up, every key reached the other window, tray picture changed"
              f" {idle[1][:8]} -> {server_picture[1][:8]} -> {desktop.picture(tray)[1][:8]}")
        return client, reader

    def end(client, reader):
        client.sendall(b"QUIT\r\n")
        reader.readline()
        time.sleep(0.5)
        reader.close()
        client.close()

    client, reader = mail_check(False)
    # Placed bottom right, its frame on the edges of the space the panel leaves.
    x, y, w, h = desktop.frame_geometry(quorlin.window())
    screen_w, screen_h = (int(n) for n in re.search(
        r"Width:\s+(\d+).*?Height:\s+(\d+)", desktop.run(["xwininfo", "-root"]).stdout, re.S).groups())
    panel = desktop.panel()
    if (x + w, y + h) != (screen_w, panel[1]):
        raise Failure(f"the window's frame ends at {x + w},{y + h}, not at the bottom right "
                      f"({screen_w},{panel[1]})")
    desktop.screenshot(shots, "desktop-mail-check.png")
    # The window hides when the client leaves after the server has closed.
    end(client, reader)
    wait_for("the window to hide after the check", lambda: not quorlin.window_mapped())
    wait_for("the idle picture again", lambda: desktop.picture(tray) == idle)

    with open(os.path.join(config, "Quorlin.ini"), "rb") as f:
        if f.read() != b"127.0.0.1\r\n":
            raise Failure("the server setting changed during the check")

    # Opened from the tray and in use (a click into the blocked list): a mail check that ends
    # leaves it where it is.
    desktop.double_click(tray)
    wait_for("the window from the tray", quorlin.window_mapped)
    wait_for("the window to get the keyboard", lambda: desktop.active() == int(quorlin.window(), 16))
    desktop.click_in(quorlin.window(), 150, 50)  # the blocked list
    client = socket.create_connection(("127.0.0.1", quorlin.listen_port), timeout=10)
    reader = client.makefile("rb")
    reader.readline()
    end(client, reader)
    wait_for("the idle picture after the check", lambda: desktop.picture(tray) == idle)
    time.sleep(0.5)
    if not quorlin.window_mapped() or desktop.active() != int(quorlin.window(), 16):
        raise Failure("the window the user opened and works in went with the end of a mail check")
    print("window opened from the tray and in use stayed up, with the keyboard, "
          "when a mail check ended")

    # Minimised, and back with the keyboard from a double-click on the tray icon.
    desktop.run(["xdotool", "windowminimize", "--sync", quorlin.window()])
    wait_for("the window to minimise", lambda: not quorlin.window_mapped())
    desktop.screenshot(shots, "desktop-minimised.png")
    desktop.double_click(tray)
    wait_for("the minimised window back from the tray", quorlin.window_mapped)
    wait_for("the restored window to get the keyboard",
             lambda: desktop.active() == int(quorlin.window(), 16))
    desktop.screenshot(shots, "desktop-restored.png")
    print("minimised window came back from a double-click on the tray icon, with the keyboard")

    # Minimised, then a mail check while the user types elsewhere.
    desktop.run(["xdotool", "windowminimize", "--sync", quorlin.window()])
    typing.activate()
    client, reader = mail_check(True)
    reader.close()
    client.close()
    quorlin.stop()


def check_trust_dialog(desktop, work, typing, shots):
    """A self-signed server while the user types elsewhere; then the trust button, clicked."""
    port, fingerprint = self_signed_server(work)
    quorlin = Quorlin(desktop, config_folder(work, "trust"),
                      ["--security", "tls", "--server-port", str(port)])
    quorlin.tray()
    typing.activate()
    before = len(typing.keys())
    # "make test", Tab (completion), space and Enter: each would have trusted once.
    typist = typing.type("make test", ["Tab", "space", "Return"], delay=80)
    client = socket.create_connection(("127.0.0.1", quorlin.listen_port), timeout=10)
    refusal = client.makefile("rb").readline()
    if not refusal.startswith(b"-ERR"):
        raise Failure(f"the mail client was not told of the refused certificate: {refusal!r}")
    client.close()
    dialog = wait_for("the trust dialog", lambda: desktop.find(r'"サーバー証明書の確認"'))
    wait_for("the trust dialog on screen", lambda: desktop.mapped(dialog))
    typist.wait()
    wait_for("every key in the typing window",
             lambda: len(typing.keys()) >= before + len(typing.expected_keys), seconds=5)
    if typing.keys()[before:] != typing.expected_keys:
        raise Failure(f"keys typed elsewhere went astray: {typing.keys()[before:]}")
    if desktop.active() == int(dialog, 16) or desktop.active() != typing.window:
        raise Failure("the trust dialog took the keyboard")
    if not desktop.mapped(dialog):
        raise Failure("the trust dialog went with the keys typed elsewhere")
    if "TrustedCertificates" in quorlin.options_file():
        raise Failure("keys typed elsewhere trusted the certificate:\n" + quorlin.options_file())
    print("self-signed server: trust dialog up without the keyboard, every key reached the other "
          "window, nothing trusted")
    desktop.screenshot(shots, "desktop-trust-dialog.png")

    x, y, w, h = desktop.geometry(dialog)
    desktop.click(x + 25, y + h - 20)  # この証明書を信頼する, bottom left
    pin = f"127.0.0.1={fingerprint}"
    wait_for("the pin in Quorlin_Options.ini", lambda: pin in quorlin.options_file(), seconds=5)
    wait_for("the trust dialog to close", lambda: not desktop.mapped(dialog))
    print("a click on この証明書を信頼する trusted it: " + pin[:30] + "...")
    quorlin.stop()


def check(shots):
    work = tempfile.mkdtemp(prefix="quorlin-desktop-")
    desktop = None
    try:
        desktop = Desktop(work)
        check_first_run_cancelled(desktop, work)
        typing = Typing(desktop)
        check_mail_checks(desktop, work, typing, shots)
        check_trust_dialog(desktop, work, typing, shots)
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


def layout_shots(folder):
    """The settings dialog, and the window with a refused certificate's notes and the trust
    dialog, on a small screen at 100 % and at 125 %."""
    for scale in ("1", "1.25"):
        percent = round(float(scale) * 100)
        work = tempfile.mkdtemp(prefix="quorlin-layout-")
        desktop = Desktop(work, "1024x600")
        try:
            port, _ = self_signed_server(work)
            config = config_folder(work, "config")
            with open(os.path.join(config, "Quorlin_BatList.ini"), "wb") as f:
                f.write(b"ISO-2022-KR\r\nbig5\r\nGB2312\r\n")
            quorlin = Quorlin(desktop, config, ["--security", "tls", "--server-port", str(port)],
                              scale=scale)
            # Opened by the user, so that it stays once the refused check is over.
            quorlin.show_from_menu()
            wait_for("the window", quorlin.window_mapped)
            # 設定, beside the console's frame.
            x, y, _, _ = desktop.geometry(quorlin.window())
            desktop.click(x + round(287 * float(scale)), y + round(204 * float(scale)))
            settings = wait_for("the settings dialog", lambda: desktop.find(r'"設定"'))
            wait_for("the settings dialog on screen", lambda: desktop.mapped(settings))
            desktop.screenshot(folder, f"layout-{percent}-settings.png")
            desktop.run(["xdotool", "key", "Escape"])
            wait_for("the settings dialog to close", lambda: not desktop.mapped(settings))

            with socket.create_connection(("127.0.0.1", quorlin.listen_port), timeout=10) as c:
                c.makefile("rb").readline()
            dialog = wait_for("the trust dialog", lambda: desktop.find(r'"サーバー証明書の確認"'))
            wait_for("the trust dialog on screen", lambda: desktop.mapped(dialog))
            # Aside, so that the window shows whole beside it.
            desktop.run(["xdotool", "windowmove", "--sync", dialog, "0", "24"])
            desktop.screenshot(folder, f"layout-{percent}-window-and-trust-dialog.png")
            quorlin.process.terminate()
            quorlin.process.wait(timeout=10)
        finally:
            desktop.close()
            shutil.rmtree(work, ignore_errors=True)
    print("layout pictures in " + folder)
    return 0


def mail(charset, subject):
    return (b"Return-Path: <someone@example.org>\r\nSubject: " + subject +
            b"\r\nContent-Type: text/plain; charset=" + charset + b"\r\n\r\nbody\r\n")


def check_mail(port, login, count):
    """A mail client's check through Quorlin: the login, every message, QUIT."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as client:
        reader = client.makefile("rb")
        reader.readline()
        client.sendall(b"USER %s\r\nPASS secret\r\n" % login)
        replies = [reader.readline(), reader.readline()]
        for n in range(1, count + 1):
            client.sendall(b"RETR %d\r\n" % n)
            replies.append(reader.readline())
            while reader.readline() not in (b".\r\n", b""):
                pass
        client.sendall(b"QUIT\r\n")
        reader.read()
        return replies


def accounts_shots(folder):
    """Three accounts, one of them on a server that is down: the settings dialog's accounts
    table, and the tray menu with each account's last check."""
    work = tempfile.mkdtemp(prefix="quorlin-accounts-")
    desktop = Desktop(work, "1280x800")
    try:
        default_port = mail_server()
        alice_port = mailbox_server([mail(b"us-ascii", b"hello"), mail(b"GB2312", b"offer"),
                                     mail(b"iso-2022-jp", b"meeting")])
        bob_port = mailbox_server([mail(b"utf-8", b"invoice")])
        config = config_folder(work, "config")
        with open(os.path.join(config, "Quorlin_BatList.ini"), "wb") as f:
            f.write(b"GB2312\r\nbig5\r\n")
        with open(os.path.join(config, "Quorlin_Options.ini"), "w") as f:
            f.write("[Account1]\nLogin=alice\nHost=127.0.0.1\nPort=%d\n\n"
                    "[Account2]\nLogin=bob@example.test\nHost=127.0.0.1\nPort=%d\n"
                    "ServerUser=bob\nListenPort=%d\n\n"
                    "[Account3]\nLogin=carol\nHost=127.0.0.1\nPort=%d\nSecurity=starttls\n"
                    % (alice_port, bob_port, free_port(), free_port()))
        quorlin = Quorlin(desktop, config, ["--server-port", str(default_port)])
        quorlin.tray()
        for login, count in ((b"alice", 3), (b"bob@example.test", 1), (b"carol", 0)):
            print(login.decode(), check_mail(quorlin.listen_port, login, count), flush=True)
        wait_for("the window to hide", lambda: not quorlin.window_mapped())
        x, y = desktop.centre(quorlin.tray())
        desktop.click(x, y, button=3)
        # Taller than the plain menu: a line for each account.
        menu = wait_for("the tray menu", lambda: desktop.find(TRAY_MENU.replace(r"\d\d\+",
                                                                                r"\d{2,3}\+")))
        wait_for("the tray menu on screen", lambda: desktop.mapped(menu))
        desktop.screenshot(folder, "accounts-tray-menu.png")
        desktop.run(["xdotool", "key", "Escape"])
        wait_for("the tray menu to close", lambda: not desktop.mapped(menu))
        desktop.click(x, y, repeat=2)
        wait_for("the window", quorlin.window_mapped)
        wx, wy, _, _ = desktop.geometry(quorlin.window())
        desktop.click(wx + 287, wy + 204)  # 設定, beside the console's frame
        settings = wait_for("the settings dialog", lambda: desktop.find(r'"設定"'))
        wait_for("the settings dialog on screen", lambda: desktop.mapped(settings))
        sx, sy, _, _ = desktop.geometry(settings)
        desktop.click(sx + 220, sy + 25)  # the アカウント page's tab
        desktop.screenshot(folder, "accounts-settings.png")
        quorlin.process.terminate()
        quorlin.process.wait(timeout=10)
    finally:
        desktop.close()
        shutil.rmtree(work, ignore_errors=True)
    print("account pictures in " + folder)
    return 0


QUORLIN = None


def main():
    global QUORLIN
    arguments = sys.argv[1:]
    mode = arguments[0] if arguments[:1] in (["--layout"], ["--accounts"]) else None
    layout = mode is not None
    if layout:
        arguments = arguments[1:]
    if len(arguments) < (2 if layout else 1):
        sys.exit(__doc__)
    missing = [tool for tool in TOOLS if not shutil.which(tool)]
    if missing:
        print("desktop_check: skipped, missing " + " ".join(missing))
        return 77
    QUORLIN = os.path.abspath(arguments[0])
    shots = os.path.abspath(arguments[1]) if len(arguments) > 1 else None
    if shots:
        os.makedirs(shots, exist_ok=True)
    if mode == "--accounts":
        return accounts_shots(shots)
    return layout_shots(shots) if layout else check(shots)


if __name__ == "__main__":
    sys.exit(main())
