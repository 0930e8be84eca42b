"""End to end against a private Dovecot that serves TLS: Quorlin speaks implicit TLS or STLS to
it while the client speaks plain POP3 to Quorlin.

  tls          - implicit TLS, certificate from a test CA given with --ca-file: every reply
                 byte for byte as Dovecot sends it, the login inside TLS.
  starttls     - STLS on the plain port, blocked list set: replies as Dovecot sends them, the
                 blocked mail tagged, the login inside TLS.
  refused      - a certificate for another name, an expired one and a self-signed one: the
                 client gets "-ERR", Dovecot sees no login attempt; the self-signed one is then
                 accepted once pinned (--trust-fingerprint, and the options file).
  no-stls      - a server without STLS, and a man in the middle that strips STLS from CAPA:
                 refused without any login leaving Quorlin.
"""

import argparse
import os
import re
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import sample_mail  # noqa: E402
from interop_test import (LOCAL_USER_REPLY, PASSWORD, USER, check_quorlin_log,  # noqa: E402
                          compare_transcripts, config_folder, expected_through_proxy, fetch_all,
                          message_numbers, run_in_scratch, wait_until)
from private_dovecot import PrivateDovecot  # noqa: E402
from quorlin_process import QuorlinProcess  # noqa: E402
from test_certificates import TestCertificates  # noqa: E402

OWN_DEADLINE_SECONDS = 150
TLS_LOGIN = re.compile(r"pop3-login: Info: Login: user=<%s>, method=(\w+),.*, TLS[,:]" % USER)
ANY_LOGIN_ATTEMPT = re.compile(r"user=<%s>|passwd-file\(%s" % (USER, USER))


def log_since(dovecot, mark):
    return dovecot.log_text()[mark:]


def first_line(port, send=b"USER %s\r\nPASS %s\r\n" % (USER.encode(), PASSWORD.encode())):
    """What a client that sends its login at once gets first from Quorlin."""
    deadline = time.monotonic() + 5
    while True:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
                s.sendall(send)
                reader = s.makefile("rb")
                line = reader.readline()
                rest = reader.read()
                return line, rest
        except ConnectionRefusedError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)


def relay_through(checks, dovecot, quorlin_binary, config_dir, security, server_port, blocked,
                  extra_args=()):
    messages = dovecot.messages
    _, direct = fetch_all(dovecot.port)
    numbered = message_numbers(checks, direct, messages)
    mark = len(dovecot.log_text())
    with open(os.path.join(config_dir, "Quorlin_BatList.ini"), "wb") as f:
        f.write(b"".join(c.encode() + b"\r\n" for c in blocked))
    args = ["--security", security] + list(extra_args)
    with QuorlinProcess(quorlin_binary, server_port, config_dir, args) as quorlin:
        user_reply, received = fetch_all(quorlin.port, len(messages))
        checks.equal("reply to USER through quorlin", LOCAL_USER_REPLY, user_reply)
        compare_transcripts(checks, expected_through_proxy(direct, numbered, bool(blocked)),
                            received, numbered)
        # The start-up probe logs in too; the session must have logged in inside TLS.
        if not wait_until(lambda: TLS_LOGIN.search(log_since(dovecot, mark))):
            checks.fail("Dovecot logged no login inside TLS through quorlin")
        plain = [line for line in log_since(dovecot, mark).splitlines()
                 if "Login: user=" in line and ", TLS" not in line]
        if plain:
            checks.fail("logins through quorlin outside TLS: %r" % plain)
        check_quorlin_log(checks, quorlin)
        banner = next((line for line in quorlin.log_bytes().split(b"\n")
                       if b": listening on " in line), b"")
        want = {"tls": b"(TLS)", "starttls": b"(STLS)"}[security]
        if want not in banner:
            checks.fail("start-up line does not name the mode: %r" % banner)
        if not quorlin.running():
            checks.fail("quorlin exited during the test")


def run_tls(checks, certs, quorlin_binary, config_dir):
    with PrivateDovecot(USER, PASSWORD, sample_mail.build_messages(), tls=certs.pair("good")) as d:
        relay_through(checks, d, quorlin_binary, config_dir, "tls", d.tls_port, [],
                      ["--ca-file", certs.pem("ca")])


def run_starttls(checks, certs, quorlin_binary, config_dir):
    with PrivateDovecot(USER, PASSWORD, sample_mail.build_messages(), tls=certs.pair("good")) as d:
        relay_through(checks, d, quorlin_binary, config_dir, "starttls", d.port,
                      sample_mail.BLOCKED_CHARSETS, ["--ca-file", certs.pem("ca")])


def expect_refusal(checks, label, dovecot, quorlin_binary, config_dir, server_port, args,
                   reason, fingerprint=None):
    mark = len(dovecot.log_text())
    with QuorlinProcess(quorlin_binary, server_port, config_dir, args,
                        expect_greeting=False) as quorlin:
        line, rest = first_line(quorlin.port)
        if not (line.startswith(b"-ERR ") and reason.encode() in line and line.endswith(b"\r\n")):
            checks.fail("%s: the client got %r, not a \"-ERR\" naming %r" % (label, line, reason))
        if rest:
            checks.fail("%s: more after the refusal: %r" % (label, rest[:200]))
        if fingerprint and not wait_until(
                lambda: ("SHA-256: " + fingerprint).encode() in quorlin.log_bytes()):
            checks.fail("%s: quorlin's log does not show the certificate's fingerprint" % label)
        if not quorlin.running():
            checks.fail("%s: quorlin exited" % label)
    time.sleep(0.3)  # let Dovecot log the end of the connection
    attempts = ANY_LOGIN_ATTEMPT.findall(log_since(dovecot, mark))
    if attempts:
        checks.fail("%s: Dovecot saw a login attempt: %r" % (label, attempts))


def run_refused(checks, certs, quorlin_binary, config_dir):
    ca = ["--ca-file", certs.pem("ca")]
    for name, reason in (("other", "another host name"), ("expired", "expired"),
                         ("self", "self-signed")):
        with PrivateDovecot(USER, PASSWORD, sample_mail.build_messages(),
                            tls=certs.pair(name)) as d:
            print("Dovecot with the %s certificate on %d/%d" % (name, d.port, d.tls_port),
                  flush=True)
            expect_refusal(checks, "implicit TLS, %s" % name, d, quorlin_binary, config_dir,
                           d.tls_port, ["--security", "tls"] + ca, reason, certs.fingerprint(name))
            if name != "self":
                continue
            expect_refusal(checks, "STLS, self-signed", d, quorlin_binary, config_dir, d.port,
                           ["--security", "starttls"] + ca, reason, certs.fingerprint(name))
            # Pinned on the command line, with the colons left out and in lower case.
            pin = certs.fingerprint("self").replace(":", "").lower()
            relay_through(checks, d, quorlin_binary, config_dir, "tls", d.tls_port, [],
                          ["--trust-fingerprint", pin])
            # Pinned in the options file, as the window's trust dialog saves it.
            with open(os.path.join(config_dir, "Quorlin_Options.ini"), "w") as f:
                f.write("[TrustedCertificates]\n127.0.0.1=%s\n" % certs.fingerprint("self"))
            relay_through(checks, d, quorlin_binary, config_dir, "starttls", d.port, [])
            # Another certificate pinned: this one is refused again.
            with open(os.path.join(config_dir, "Quorlin_Options.ini"), "w") as f:
                f.write("[TrustedCertificates]\n127.0.0.1=%s\n" % certs.fingerprint("good"))
            expect_refusal(checks, "self-signed, another one pinned", d, quorlin_binary,
                           config_dir, d.tls_port, ["--security", "tls"], "not the pinned one",
                           certs.fingerprint(name))
            os.remove(os.path.join(config_dir, "Quorlin_Options.ini"))


class StlsStripper:
    """A man in the middle in front of a POP3 server: drops the STLS line from what the server
    says and keeps what the client sends."""

    def __init__(self, server_port):
        self.server_port = server_port
        self.from_client = b""
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(("127.0.0.1", self.server_port))
            threading.Thread(target=self._up, args=(client, server), daemon=True).start()
            threading.Thread(target=self._down, args=(server, client), daemon=True).start()

    def _up(self, client, server):
        try:
            while True:
                data = client.recv(65536)
                if not data:
                    break
                self.from_client += data
                server.sendall(data)
        except OSError:
            pass
        finally:
            server.close()

    def _down(self, server, client):
        pending = b""
        try:
            while True:
                data = server.recv(65536)
                if not data:
                    break
                pending += data
                lines, _, pending = pending.rpartition(b"\r\n")
                if lines or _:
                    kept = [l for l in (lines + b"\r\n").split(b"\r\n")[:-1] if l != b"STLS"]
                    client.sendall(b"".join(l + b"\r\n" for l in kept))
        except OSError:
            pass
        finally:
            client.close()

    def close(self):
        self.listener.close()


def run_no_stls(checks, certs, quorlin_binary, config_dir):
    with PrivateDovecot(USER, PASSWORD, sample_mail.build_messages()) as plain:
        expect_refusal(checks, "server without STLS", plain, quorlin_binary, config_dir,
                       plain.port, ["--security", "starttls"], "does not offer STLS")
    with PrivateDovecot(USER, PASSWORD, sample_mail.build_messages(), tls=certs.pair("good")) as d:
        stripper = StlsStripper(d.port)
        try:
            expect_refusal(checks, "STLS stripped from CAPA", d, quorlin_binary, config_dir,
                           stripper.port, ["--security", "starttls", "--ca-file", certs.pem("ca")],
                           "does not offer STLS")
            sent = stripper.from_client
            if re.search(rb"(?m)^(USER|PASS|APOP|STLS)", sent):
                checks.fail("a login went past the stripping relay: %r" % sent)
            if b"CAPA\r\n" not in sent:
                checks.fail("quorlin did not ask CAPA through the stripping relay: %r" % sent)
        finally:
            stripper.close()


CASES = {"tls": run_tls, "starttls": run_starttls, "refused": run_refused,
         "no-stls": run_no_stls}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quorlin", required=True, help="the quorlin binary")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    return run_in_scratch("qtl", OWN_DEADLINE_SECONDS, lambda checks, scratch: CASES[args.case](
        checks, TestCertificates(scratch), args.quorlin, config_folder(scratch)))


if __name__ == "__main__":
    sys.exit(main())
