"""Runs `quorlin --headless` in front of a POP3 server, with its log captured in a file."""

import os
import signal
import subprocess
import time

import net_util


class QuorlinError(Exception):
    pass


class QuorlinProcess:
    def __init__(self, binary, server_port, config_dir, extra_args=(), expect_greeting=True):
        # extra_args: more options (--security ...); without expect_greeting, start() waits
        # only for the start-up line, for a server Quorlin is expected to refuse.
        self.extra_args = list(extra_args)
        self.expect_greeting = expect_greeting
        self.binary = binary
        self.server_port = server_port
        self.config_dir = config_dir
        self.log_path = self.log_path_in(config_dir)
        self.port = None
        self.process = None
        self._log = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self, timeout=10.0):
        self.port = net_util.free_port()
        command = [self.binary, "--headless", "--server", "127.0.0.1",
                   "--server-port", str(self.server_port), "--listen-port", str(self.port),
                   "--listen-address", "127.0.0.1", "--config-dir", self.config_dir
                   ] + self.extra_args
        self._log = open(self.log_path, "wb")
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        self.process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=self._log,
                                        stderr=subprocess.STDOUT, env=env,
                                        preexec_fn=net_util.die_with_parent)
        if self.expect_greeting:
            ready = net_util.wait_for_greeting("127.0.0.1", self.port, timeout, self.running)
        else:
            ready = self._wait_for_output(b"listening on", timeout)
        if ready is None:
            status = self.process.poll()
            self.stop()
            how = "still running" if status is None else "exited with status %d" % status
            raise QuorlinError("quorlin (%s) relays no greeting on 127.0.0.1:%d\n"
                               "command: %s\n%s" % (how, self.port, " ".join(command),
                                                     self.log_tail()))

    def _wait_for_output(self, text, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.running():
            if text in self.log_bytes():
                return text
            time.sleep(0.05)
        return None

    def running(self):
        return self.process is not None and self.process.poll() is None

    def stop(self, timeout=5.0):
        if self.process is None:
            return
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None
        self._log.close()

    @staticmethod
    def log_path_in(config_dir):
        return os.path.join(config_dir, "quorlin.out")

    def log_bytes(self):
        return _read(self.log_path)

    def log_tail(self, lines=30):
        return _tail(self.log_path, lines)

    @staticmethod
    def log_tail_of(config_dir, lines=30):
        """The end of the output of the last quorlin run in config_dir, also after it stopped."""
        return _tail(QuorlinProcess.log_path_in(config_dir), lines)


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


def _tail(path, lines):
    tail = _read(path).decode("utf-8", "replace").splitlines()[-lines:]
    return "--- quorlin output (last %d lines) ---\n%s" % (len(tail), "\n".join(tail))
