"""End to end with TLS toward the mail client: real mail clients fetch a private Dovecot's
mailbox through `quorlin --headless` with its own certificate (made by the run), trusting it the
way the README tells. "GB2312" and "big5" are blocked, so every message must arrive byte for
byte or tagged as sample_mail says (with LF line ends where the client stores mail so). Dovecot
must log every login through quorlin as APOP, never as the client's PLAIN, and quorlin's output
must hold neither the password nor its base64.

  fetchmail    - fetchmail 6.4 with its defaults (STLS) and sslcertfile, then with the two lines
                 `quorlin --client-certificate` prints (sslcertfile and sslfingerprint).
  curl         - curl --ssl-reqd --cacert (STLS, then AUTH PLAIN), and pop3s:// on the TLS port.
  both-sides   - curl as above while quorlin reaches a Dovecot serving TLS with STLS: Dovecot
                 logs every login inside TLS (USER and PASS there, as quorlin logs in).
  poplib       - Python's poplib: stls() with the certificate as the only authority.
  neomutt      - neomutt with its defaults (ssl_force_tls, STLS, SASL) and certificate_file.
  off          - --client-tls off: CAPA, STLS and AUTH answered as before TLS toward clients
                 came, byte for byte, and no certificate made; on: CAPA gains exactly two lines.
  remote       - a client in a network namespace of its own behind a veth pair: on a plain
                 connection SASL is neither offered nor taken, inside TLS it is (needs root;
                 skipped where namespaces cannot be made).
  certificate  - the certificate made on the first start: its names, the key's mode 0600, kept
                 at the next start, made anew with a notice when missing or expired.
"""

import argparse
import base64
import json
import os
import re
import shutil
import socket
import ssl
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import net_util  # noqa: E402
import sample_mail  # noqa: E402
from interop_test import (PASSWORD, USER, run_in_scratch, wait_until,  # noqa: E402
                          with_change, write_blocked_list)
from private_dovecot import PrivateDovecot  # noqa: E402
from quorlin_process import QuorlinProcess  # noqa: E402
from raw_pop3 import RawPOP3, unstuff  # noqa: E402
from test_certificates import TestCertificates  # noqa: E402

OWN_DEADLINE_SECONDS = 150
SKIPPED = 77
CERTIFICATE = "Quorlin_Certificate.pem"
KEY = "Quorlin_Key.pem"
SECRETS = (PASSWORD.encode(), base64.b64encode(PASSWORD.encode()),
           base64.b64encode(b"\0" + USER.encode() + b"\0" + PASSWORD.encode()))
LOGIN = re.compile(r"pop3-login: Info: Login: user=<%s>, method=(\w+)(.*)" % USER)


class Setup:
    """A Dovecot (plain, or serving TLS with the certificate and key in dovecot_tls) and quorlin
    in front of it with a TLS port, in a fresh settings folder."""

    def __init__(self, quorlin_binary, scratch, extra_args=(), dovecot_tls=None):
        self.scratch = scratch
        self.config_dir = tempfile.mkdtemp(prefix="cfg", dir=scratch)
        self.dovecot = PrivateDovecot(USER, PASSWORD, sample_mail.build_messages(),
                                      tls=dovecot_tls)
        # Through quorlin a login is APOP, or USER and PASS inside TLS toward a TLS server.
        self.login = ("PLAIN", ", TLS") if dovecot_tls else ("APOP", "")
        self.tls_port = net_util.free_port()
        self.quorlin_binary = quorlin_binary
        self.extra_args = ["--client-tls-port", str(self.tls_port)] + list(extra_args)
        self.quorlin = None
        self.mark = 0

    def __enter__(self):
        self.dovecot.start()
        write_blocked_list(self.config_dir)
        self.quorlin = QuorlinProcess(self.quorlin_binary, self.dovecot.port, self.config_dir,
                                      self.extra_args)
        self.quorlin.start()
        self.mark = len(self.dovecot.log_text())
        return self

    def __exit__(self, *exc):
        try:
            if self.quorlin is not None:
                self.quorlin.stop()
        finally:
            self.dovecot.stop()
        return False

    @property
    def certificate(self):
        return os.path.join(self.config_dir, CERTIFICATE)

    def messages(self):
        return self.dovecot.messages

    def check_logins_and_output(self, checks, label, logins):
        """Dovecot logged `logins` logins since the last check, every one as quorlin logs in;
        quorlin's output shows the client's TLS and no secret."""
        if not wait_until(lambda: len(self._logins()) >= logins):
            checks.fail("%s: Dovecot logged %d logins, not %d" % (label, len(self._logins()),
                                                                  logins))
        methods = self._logins()
        print("%s: logins through quorlin as Dovecot logged them: %s" % (label, methods))
        checks.equal("%s: login methods through quorlin" % label,
                     [self.login] * len(methods), methods)
        self.mark = len(self.dovecot.log_text())
        output = self.quorlin.log_bytes()
        for secret in SECRETS:
            if secret in output:
                checks.fail("%s: quorlin's output shows %r" % (label, secret))
        if b"C: [TLS] " not in output:
            checks.fail("%s: quorlin's client log has no line marked [TLS]" % label)
        if not self.quorlin.running():
            checks.fail("%s: quorlin exited" % label)

    def _logins(self):
        """Each login's method, and whether it came inside TLS."""
        return [(method, ", TLS" if re.search(r", TLS[,:]", rest) else "")
                for method, rest in LOGIN.findall(self.dovecot.log_text()[self.mark:])]


def as_stored(data):
    """A message as mail programs store it on this system: LF line ends."""
    return data.replace(b"\r\n", b"\n")


def compare_stored(checks, label, messages, stored):
    """The messages a client stored (in any order), against what quorlin must deliver."""
    expected = sorted(as_stored(with_change(m.data, m)) for m in messages)
    got = sorted(stored)
    checks.equal("%s: number of messages" % label, len(expected), len(got))
    for want, have in zip(expected, got):
        checks.equal("%s: a stored message" % label, want, have)


def read_folder(folder):
    stored = []
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            stored.append(f.read())
    return stored


def run_fetchmail(setup, scratch, trust_lines):
    """fetchmail with its defaults and the given lines in its poll entry; every message it
    delivers lands in a file of its own. Returns the stored messages and fetchmail's output."""
    home = tempfile.mkdtemp(prefix="fm", dir=scratch)
    delivered = os.path.join(home, "delivered")
    os.mkdir(delivered)
    rc = os.path.join(home, "fetchmailrc")
    with open(rc, "w") as f:
        f.write('poll localhost port %d protocol pop3\n'
                '  user "%s" password "%s" is root here\n'
                '%s\n'
                '  keep fetchall\n'
                '  mda "/bin/sh -c \'cat > $(mktemp %s/m.XXXXXX)\'"\n'
                % (setup.quorlin.port, USER, PASSWORD,
                   "".join("  %s\n" % line for line in trust_lines), delivered))
    os.chmod(rc, 0o600)
    env = dict(os.environ, HOME=home, FETCHMAILHOME=home)
    run = subprocess.run(["fetchmail", "-v", "-f", rc, "--nodetach", "--pidfile",
                          os.path.join(home, "pid")], env=env, capture_output=True, timeout=60)
    # fetchmail adds a Received field of its own, behind Return-Path.
    own_field = re.compile(rb"^Received: from localhost \[127\.0\.0\.1\]\n(\t.*\n)*", re.M)
    stored = [own_field.sub(b"", data, count=1) for data in read_folder(delivered)]
    return stored, run.stdout + run.stderr


def case_fetchmail(checks, quorlin_binary, scratch):
    with Setup(quorlin_binary, scratch) as setup:
        stored, said = run_fetchmail(setup, scratch, ['sslcertfile "%s"' % setup.certificate])
        if b"upgrade to TLS succeeded" not in said:
            checks.fail("fetchmail with sslcertfile did not use STLS:\n%s" % said.decode())
        compare_stored(checks, "fetchmail, sslcertfile", setup.messages(), stored)
        setup.check_logins_and_output(checks, "fetchmail, sslcertfile", 1)

        printed = subprocess.run([quorlin_binary, "--client-certificate", "--config-dir",
                                  setup.config_dir], capture_output=True, check=True).stdout
        lines = [line.strip().decode() for line in printed.splitlines()
                 if line.strip().startswith((b"sslcertfile ", b"sslfingerprint "))]
        stored, said = run_fetchmail(setup, scratch, lines)
        if b"fingerprints match" not in said:
            checks.fail("fetchmail did not check the fingerprint %r:\n%s" % (lines,
                                                                           said.decode()))
        compare_stored(checks, "fetchmail, printed lines", setup.messages(), stored)
        setup.check_logins_and_output(checks, "fetchmail, printed lines", 1)


def curl_messages(checks, label, url, count, extra):
    stored = []
    for n in range(1, count + 1):
        fetched = subprocess.run(["curl", "--silent", "--show-error", "--max-time", "20", "--user",
                                  "%s:%s" % (USER, PASSWORD)] + extra + ["%s/%d" % (url, n)],
                                 capture_output=True, check=False)
        if fetched.returncode != 0:
            checks.fail("%s RETR %d: exit %d, %r" % (label, n, fetched.returncode,
                                                     fetched.stderr[-300:]))
        stored.append(as_stored(fetched.stdout))
    return stored


def case_curl(checks, quorlin_binary, scratch):
    with Setup(quorlin_binary, scratch) as setup:
        count = len(setup.messages())
        trust = ["--cacert", setup.certificate]
        stored = curl_messages(checks, "curl STLS", "pop3://localhost:%d" % setup.quorlin.port,
                               count, ["--ssl-reqd"] + trust)
        compare_stored(checks, "curl STLS", setup.messages(), stored)
        setup.check_logins_and_output(checks, "curl STLS", count)
        if b"C: AUTH PLAIN\nC: (user %s, password ******)\n" % USER.encode() \
                not in setup.quorlin.log_bytes():
            checks.fail("curl did not log in with AUTH PLAIN through quorlin")
        stored = curl_messages(checks, "curl pop3s", "pop3s://localhost:%d" % setup.tls_port,
                               count, trust)
        compare_stored(checks, "curl pop3s", setup.messages(), stored)
        setup.check_logins_and_output(checks, "curl pop3s", count)


def case_both_sides(checks, quorlin_binary, scratch):
    certs = TestCertificates(tempfile.mkdtemp(prefix="crt", dir=scratch))
    with Setup(quorlin_binary, scratch, ["--security", "starttls", "--ca-file", certs.pem("ca")],
               certs.pair("good")) as setup:
        count = len(setup.messages())
        stored = curl_messages(checks, "curl STLS", "pop3://localhost:%d" % setup.quorlin.port,
                               count, ["--ssl-reqd", "--cacert", setup.certificate])
        compare_stored(checks, "curl STLS, TLS to the server", setup.messages(), stored)
        setup.check_logins_and_output(checks, "curl STLS, TLS to the server", count)


def case_poplib(checks, quorlin_binary, scratch):
    with Setup(quorlin_binary, scratch) as setup:
        client = RawPOP3("localhost", setup.quorlin.port)
        try:
            client.stls(ssl.create_default_context(cafile=setup.certificate))
            client.single("USER " + USER)
            reply = client.single("PASS " + PASSWORD)
            if not reply.startswith(b"+OK"):
                checks.fail("poplib: PASS inside TLS was answered %r" % reply)
            count = int(client.single("STAT").split()[1])
            stored = [as_stored(unstuff(client.multi("RETR %d" % n)))
                      for n in range(1, count + 1)]
            client.single("QUIT")
        finally:
            client.close()
        compare_stored(checks, "poplib stls()", setup.messages(), stored)
        setup.check_logins_and_output(checks, "poplib stls()", 1)


def case_neomutt(checks, quorlin_binary, scratch):
    with Setup(quorlin_binary, scratch) as setup:
        home = tempfile.mkdtemp(prefix="nm", dir=scratch)
        spool = os.path.join(home, "Maildir")
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(spool, sub))
        rc = os.path.join(home, "neomuttrc")
        with open(rc, "w") as f:
            # Only what a non-interactive fetch into a Maildir needs beside the trust line.
            f.write('set pop_host="pop://%s@localhost:%d"\n'
                    'set pop_pass="%s"\n'
                    'set pop_delete=no\n'
                    'set certificate_file="%s"\n'
                    'set mbox_type=Maildir\n'
                    'set spool_file="%s"\n'
                    'set folder="%s"\n'
                    'set header_cache=""\n'
                    'set message_cache_dir=""\n'
                    % (USER, setup.quorlin.port, PASSWORD, setup.certificate, spool, home))
        env = dict(os.environ, HOME=home, TERM="xterm")
        # neomutt wants a terminal: script(1) gives it one.
        command = "neomutt -n -F %s -f %s -e 'push <fetch-mail><quit>'" % (rc, spool)
        run = subprocess.run(["script", "-qfc", command, "/dev/null"], env=env,
                             capture_output=True, timeout=60, stdin=subprocess.DEVNULL)
        stored = read_folder(os.path.join(spool, "cur")) + read_folder(os.path.join(spool, "new"))
        if not stored:
            checks.fail("neomutt fetched nothing (exit %d):\n%s" % (
                run.returncode, run.stdout.decode("utf-8", "replace")[-2000:]))
        compare_stored(checks, "neomutt", setup.messages(), stored)
        setup.check_logins_and_output(checks, "neomutt", 1)
        if b"C: STLS\n" not in setup.quorlin.log_bytes():
            checks.fail("neomutt did not use STLS through quorlin")


def raw_replies(port, lines):
    """Each line sent in turn and its reply read whole (a CAPA or AUTH listing up to ".")."""
    replies = []
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        reader = s.makefile("rb")
        reader.readline()
        for line in lines:
            s.sendall(line + b"\r\n")
            reply = reader.readline()
            if line in (b"CAPA", b"AUTH") and reply.startswith(b"+OK"):
                while not reply.endswith(b"\r\n.\r\n"):
                    reply += reader.readline()
            replies.append(reply)
    return replies


# Dovecot's reply to CAPA without the SASL line, and Quorlin's refusals, as they were before TLS
# toward the mail clients came.
CAPA_BEFORE = (b"+OK\r\nCAPA\r\nTOP\r\nUIDL\r\nRESP-CODES\r\nPIPELINING\r\nAUTH-RESP-CODE\r\n"
               b"USER\r\n.\r\n")
STLS_BEFORE = (b"-ERR Quorlin does not pass STLS on: switch STARTTLS off in the mail client and "
               b"log in with the plain password login (USER and PASS).\r\n")
AUTH_BEFORE = (b"-ERR Quorlin does not pass AUTH on: log in with the plain password login "
               b"(USER and PASS), which it turns into APOP.\r\n")


def case_off(checks, quorlin_binary, scratch):
    lines = [b"CAPA", b"STLS", b"AUTH PLAIN " + SECRETS[2], b"AUTH", b"AUTH LOGIN", b"dXNlcg=="]
    with Setup(quorlin_binary, scratch, ["--client-tls", "off"]) as setup:
        checks.equal("replies with --client-tls off",
                     [CAPA_BEFORE, STLS_BEFORE, AUTH_BEFORE, AUTH_BEFORE, AUTH_BEFORE,
                      AUTH_BEFORE], raw_replies(setup.quorlin.port, lines))
        if os.path.exists(setup.certificate):
            checks.fail("a certificate was made with --client-tls off")
        if net_util.wait_for_port("127.0.0.1", setup.tls_port, 0.2):
            checks.fail("the TLS port listens with --client-tls off")
        banner = setup.quorlin.log_bytes().split(b"\n")[0]
        if not re.match(rb"Quorlin [0-9.]+: listening on 127.0.0.1(?: and ::1)? port %d, "
                        rb"mail server " % setup.quorlin.port, banner):
            checks.fail("the start-up line with --client-tls off: %r" % banner)
    with Setup(quorlin_binary, scratch) as setup:
        capa = raw_replies(setup.quorlin.port, [b"CAPA"])[0]
        checks.equal("CAPA with TLS toward clients on",
                     CAPA_BEFORE[:-3] + b"STLS\r\nSASL PLAIN LOGIN\r\n.\r\n", capa)


def remote_client(host, port, cafile):
    """Run inside the client's namespace; prints the replies as JSON."""
    plain = b"AUTH PLAIN " + SECRETS[2] + b"\r\n"
    replies = {}
    with socket.create_connection((host, port), timeout=10) as s:
        reader = s.makefile("rb")
        replies["greeting"] = reader.readline().decode()
        s.sendall(b"CAPA\r\n")
        capa = reader.readline()
        while capa.startswith(b"+OK") and not capa.endswith(b"\r\n.\r\n"):
            capa += reader.readline()
        replies["capa"] = capa.decode()
        s.sendall(plain)
        replies["auth plain"] = reader.readline().decode()
        s.sendall(b"STLS\r\n")
        replies["stls"] = reader.readline().decode()
        context = ssl.create_default_context(cafile=cafile)
        context.check_hostname = False  # the certificate names this machine, not the veth
        with context.wrap_socket(s, server_hostname="localhost") as tls:
            reader = tls.makefile("rb")
            tls.sendall(plain)
            replies["auth plain inside TLS"] = reader.readline().decode()
            tls.sendall(b"QUIT\r\n")
            replies["quit"] = reader.readline().decode()
    print(json.dumps(replies))


def ip(*args, netns_pid=None):
    command = ["ip"] + list(args)
    if netns_pid is not None:
        command = ["nsenter", "--net=/proc/%d/ns/net" % netns_pid] + command
    subprocess.run(command, check=True, capture_output=True)


def case_remote(checks, quorlin_binary, scratch):
    if os.environ.get("QUORLIN_OWN_NETNS") != "1":
        probe = subprocess.run(["unshare", "--net", "true"], capture_output=True)
        if os.geteuid() != 0 or probe.returncode != 0:
            print("SKIP: no network namespace can be made here: %s" % probe.stderr.decode())
            return SKIPPED
        # Everything in a network namespace of the test's own: nothing of the machine's network
        # is touched.
        return subprocess.run(["unshare", "--net", sys.executable] + sys.argv,
                              env=dict(os.environ, QUORLIN_OWN_NETNS="1")).returncode
    ip("link", "set", "lo", "up")
    client_ns = subprocess.Popen(["unshare", "--net", "sleep", "120"],
                                 preexec_fn=net_util.die_with_parent)
    try:
        wait_until(lambda: os.readlink("/proc/%d/ns/net" % client_ns.pid)
                   != os.readlink("/proc/self/ns/net"))
        ip("link", "add", "qv0", "type", "veth", "peer", "name", "qv1", "netns",
           str(client_ns.pid))
        ip("addr", "add", "10.213.0.1/24", "dev", "qv0")
        ip("link", "set", "qv0", "up")
        ip("addr", "add", "10.213.0.2/24", "dev", "qv1", netns_pid=client_ns.pid)
        ip("link", "set", "qv1", "up", netns_pid=client_ns.pid)
        with Setup(quorlin_binary, scratch, ["--listen-address", "0.0.0.0"]) as setup:
            run = subprocess.run(
                ["nsenter", "--net=/proc/%d/ns/net" % client_ns.pid, sys.executable,
                 os.path.abspath(__file__), "--quorlin", quorlin_binary, "remote-client",
                 "10.213.0.1", str(setup.quorlin.port), setup.certificate],
                capture_output=True, timeout=30)
            if run.returncode != 0:
                checks.fail("the client in its namespace failed: %s" % run.stderr.decode())
                return 1
            replies = json.loads(run.stdout)
            print("from 10.213.0.2: %s" % replies)
            if "SASL" in replies["capa"] or "\r\nSTLS\r\n" not in replies["capa"]:
                checks.fail("CAPA to another machine in clear: %r" % replies["capa"])
            checks.equal("AUTH from another machine in clear",
                         "-ERR Quorlin takes AUTH from another machine only inside TLS: send "
                         "STLS first.\r\n", replies["auth plain"])
            checks.equal("STLS", "+OK Begin TLS negotiation now.\r\n", replies["stls"])
            if not replies["auth plain inside TLS"].startswith("+OK"):
                checks.fail("AUTH inside TLS: %r" % replies["auth plain inside TLS"])
            setup.check_logins_and_output(checks, "another machine", 1)
            if b"C: [2] " in setup.quorlin.log_bytes():
                checks.fail("the client was served twice")
    finally:
        client_ns.kill()
        client_ns.wait()
    return None


def start_once(quorlin_binary, config_dir):
    """quorlin started and stopped in config_dir; its output."""
    quorlin = QuorlinProcess(quorlin_binary, net_util.free_port(), config_dir,
                             expect_greeting=False)
    quorlin.start()
    quorlin.stop()
    return quorlin.log_bytes()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def case_certificate(checks, quorlin_binary, scratch):
    config_dir = tempfile.mkdtemp(prefix="cfg", dir=scratch)
    certificate = os.path.join(config_dir, CERTIFICATE)
    key = os.path.join(config_dir, KEY)
    said = start_once(quorlin_binary, config_dir)
    if b"Quorlin made its own certificate for TLS with mail clients: " + certificate.encode() \
            not in said:
        checks.fail("no notice of the certificate made on the first start: %r" % said)
    names = subprocess.run(["openssl", "x509", "-in", certificate, "-noout", "-ext",
                            "subjectAltName"], capture_output=True, check=True).stdout.decode()
    want = "DNS:localhost, IP Address:127.0.0.1, IP Address:0:0:0:0:0:0:0:1, DNS:%s" % (
        socket.gethostname())
    if want not in names:
        checks.fail("the certificate's names: %r, not %r" % (names, want))
    checks.equal("the key's mode", 0o600, stat.S_IMODE(os.stat(key).st_mode))
    if subprocess.run(["openssl", "x509", "-in", certificate, "-noout", "-checkend",
                       str(4 * 365 * 86400)], capture_output=True).returncode != 0:
        checks.fail("the certificate is valid for less than four years")

    first = read(certificate), read(key)
    said = start_once(quorlin_binary, config_dir)
    checks.equal("certificate and key at the next start", first, (read(certificate), read(key)))
    if b"certificate" in said:
        checks.fail("a notice although the certificate was kept: %r" % said)

    os.remove(key)
    said = start_once(quorlin_binary, config_dir)
    if read(certificate) == first[0] or b"Quorlin made its own certificate" not in said:
        checks.fail("a missing key: not made anew with a notice: %r" % said)

    certs = TestCertificates(tempfile.mkdtemp(prefix="crt", dir=scratch))
    shutil.copyfile(certs.pem("expired"), certificate)
    shutil.copyfile(certs.key("expired"), key)
    said = start_once(quorlin_binary, config_dir)
    if read(certificate) == read(certs.pem("expired")) or \
            b"had expired or was about to and was made anew: " + certificate.encode() not in said:
        checks.fail("an expired certificate: not made anew with a notice: %r" % said)
    checks.equal("the key's mode after it was made anew", 0o600,
                 stat.S_IMODE(os.stat(key).st_mode))


CASES = {"fetchmail": case_fetchmail, "curl": case_curl, "both-sides": case_both_sides,
         "poplib": case_poplib,
         "neomutt": case_neomutt, "off": case_off, "remote": case_remote,
         "certificate": case_certificate}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quorlin", required=True, help="the quorlin binary")
    parser.add_argument("case", choices=sorted(CASES) + ["remote-client"])
    parser.add_argument("rest", nargs="*")
    args = parser.parse_args()
    if args.case == "remote-client":
        remote_client(args.rest[0], int(args.rest[1]), args.rest[2])
        return 0
    return run_in_scratch("qct", OWN_DEADLINE_SECONDS, lambda checks, scratch: CASES[args.case](
        checks, args.quorlin, scratch))


if __name__ == "__main__":
    sys.exit(main())
