"""Loopback port and child process helpers for the interop tests."""

import ctypes
import signal
import socket
import time

PR_SET_PDEATHSIG = 1


def free_port():
    """A TCP port on 127.0.0.1 that nobody listens on right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(host, port, timeout, still_running=None):
    """Polls until a TCP connect to host:port succeeds; False after timeout seconds or as soon
    as still_running() says the server process has gone."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if still_running is not None and not still_running():
            return False
        try:
            with socket.create_connection((host, port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def wait_for_greeting(host, port, timeout, still_running):
    """Polls until a connection to host:port gets a POP3 greeting line, then says QUIT and
    leaves. A one-client-at-a-time proxy is thus known to listen, to have taken this client
    and to reach its server; a probe that left before being accepted would instead share the
    listen queue with the next client. Returns the greeting, or None after timeout seconds or
    as soon as still_running() says the process has gone."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and still_running():
        try:
            with socket.create_connection((host, port), timeout=1.0) as s:
                reader = s.makefile("rb")
                greeting = reader.readline()
                if greeting.startswith(b"+OK"):
                    s.sendall(b"QUIT\r\n")
                    reader.readline()
                    return greeting
        except OSError:
            pass
        time.sleep(0.05)
    return None


def die_with_parent():
    """For subprocess preexec_fn: the child gets SIGTERM when the test process dies, even by
    SIGKILL, so no server outlives a killed test."""
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
