"""poplib with exact bytes.

poplib refuses lines longer than 2048 bytes and strips line ends, so replies are read here
straight from the connection's file, exactly as they arrive: the status line, every line of a
multi-line reply with its CR LF and its dot-stuffing, and the terminating dot line.
"""

import poplib
import socket
import time


class RawPOP3(poplib.POP3):
    def __init__(self, host, port, timeout=10.0, connect_deadline=5.0, source_address=None):
        self.source_address = source_address
        # A proxy that accepts one client at a time may be back to listening a moment after its
        # previous client left: retry refused connects for a bounded time.
        deadline = time.monotonic() + connect_deadline
        while True:
            try:
                super().__init__(host, port, timeout=timeout)
                return
            except ConnectionRefusedError as error:
                if time.monotonic() >= deadline:
                    raise ReplyError("the greeting of %s:%d" % (host, port), [],
                                     "refused for %.0f s: %s" % (connect_deadline, error)) from None
                time.sleep(0.05)
            except (OSError, poplib.error_proto) as error:
                raise ReplyError("the greeting of %s:%d" % (host, port), [],
                                 "%s: %s" % (type(error).__name__, error)) from None

    def _create_socket(self, timeout):
        return socket.create_connection((self.host, self.port), timeout, self.source_address)

    def single(self, command):
        """Sends a command; returns its status line with CR LF, exactly as received."""
        self._putcmd(command)
        return self._read_line(command, [])

    def multi(self, command):
        """Sends a command whose success reply is multi-line; returns the whole reply (status
        line, lines, terminating ".") exactly as received. A "-ERR" status line comes back
        alone."""
        self._putcmd(command)
        parts = []
        status = self._read_line(command, parts)
        parts.append(status)
        if not status.startswith(b"+OK"):
            return status
        while True:
            line = self._read_line(command, parts)
            parts.append(line)
            # A line is only the terminator when it starts right after a CR LF.
            if line == b".\r\n" and parts[-2].endswith(b"\r\n"):
                return b"".join(parts)

    def _read_line(self, command, so_far):
        try:
            line = self.file.readline()
        except OSError as error:
            raise ReplyError(command, so_far, "%s: %s" % (type(error).__name__, error)) from None
        if not line:
            raise ReplyError(command, so_far, "connection closed by the other side")
        return line


class ReplyError(Exception):
    """No complete reply to a command; says what did arrive."""

    def __init__(self, command, parts, reason):
        received = b"".join(parts)
        super().__init__("no complete reply to %s (%s); %d bytes arrived, ending %r" % (
            command, reason, len(received), received[-120:]))


def unstuff(reply):
    """The message inside a RETR reply: status line and terminator removed, dots unstuffed."""
    first_end = reply.index(b"\r\n") + 2
    body = reply[first_end:-3]
    lines = body.split(b"\r\n")
    return b"\r\n".join(l[1:] if l.startswith(b".") else l for l in lines)


def first_difference(expected, actual, context=60):
    """A readable description of where two byte strings part ways."""
    i, n = 0, min(len(expected), len(actual))
    step = 4096
    while i < n and expected[i:i + step] == actual[i:i + step]:
        i += step
    while i < n and expected[i] == actual[i]:
        i += 1
    i = min(i, n)
    lo = max(0, i - context)
    return ("lengths %d (expected) vs %d (received); first difference at byte %d\n"
            "  expected: %r\n  received: %r" % (
                len(expected), len(actual), i,
                expected[lo:i + context], actual[lo:i + context]))
