"""A relay between Quorlin and the POP3 server that cuts every RETR reply in two, as a real
network does: the first `cut(reply)` bytes, a pause long enough for the reader to take them as a
block of their own, then the rest. Everything else passes as it comes. One command at a time is
assumed (the test's client does not pipeline)."""

import queue
import socket
import threading
import time

import net_util

PAUSE_SECONDS = 0.05
MULTI_LINE = ("RETR", "TOP", "CAPA")
MULTI_LINE_WITHOUT_ARGUMENT = ("LIST", "UIDL")


class CuttingRelay:
    def __init__(self, server_port, cut):
        self.server_port = server_port
        self.cut = cut  # reply bytes -> where to cut them
        self.port = net_util.free_port()
        self.cuts_made = 0
        self._listener = socket.create_server(("127.0.0.1", self.port))
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self._thread.start()

    def close(self):
        self._listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def _accept(self):
        while True:
            try:
                down, _ = self._listener.accept()
            except OSError:
                return
            up = socket.create_connection(("127.0.0.1", self.server_port))
            for s in (down, up):
                s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            commands = queue.Queue()
            threading.Thread(target=self._commands, args=(down, up, commands), daemon=True).start()
            threading.Thread(target=self._replies, args=(up, down, commands), daemon=True).start()

    @staticmethod
    def _commands(down, up, commands):
        reader = down.makefile("rb")
        try:
            for line in reader:
                words = line.split()
                name = words[0].upper().decode("ascii", "replace") if words else ""
                commands.put((name, len(words) > 1))
                up.sendall(line)
        except OSError:
            pass
        finally:
            _close(up)

    def _replies(self, up, down, commands):
        reader = up.makefile("rb")
        try:
            down.sendall(reader.readline())  # the greeting
            while True:
                status = reader.readline()
                if not status:
                    return
                name, has_argument = commands.get(timeout=10)
                parts = [status]
                multi = name in MULTI_LINE or (name in MULTI_LINE_WITHOUT_ARGUMENT and
                                               not has_argument)
                if status.startswith(b"+OK") and multi:
                    while True:
                        line = reader.readline()
                        if not line:
                            break
                        parts.append(line)
                        if line == b".\r\n" and parts[-2].endswith(b"\r\n"):
                            break
                reply = b"".join(parts)
                if name == "RETR":
                    at = max(1, min(self.cut(reply), len(reply) - 1))
                    down.sendall(reply[:at])
                    time.sleep(PAUSE_SECONDS)
                    down.sendall(reply[at:])
                    self.cuts_made += 1
                else:
                    down.sendall(reply)
        except (OSError, queue.Empty):
            pass
        finally:
            _close(down)


def _close(s):
    try:
        s.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    s.close()
