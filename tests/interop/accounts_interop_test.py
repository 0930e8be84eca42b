"""One Quorlin, three private Dovecots: the default server, and two accounts routed by the login
name. "alice" (from the options file) goes to a plain Dovecot that sees APOP; "bob@example.test"
(from --account, user=bob) to a Dovecot serving TLS on its own test CA, which sees the login
inside TLS. Two clients at once each get their own mailbox byte for byte; a third name goes to
the default server; each Dovecot's log shows only its own user's logins.
"""

import argparse
import os
import re
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import sample_mail  # noqa: E402
from interop_test import (LOCAL_USER_REPLY, PASSWORD, USER, config_folder, fetch_all,  # noqa: E402
                          run_in_scratch, second_account_messages, wait_until)
from private_dovecot import PrivateDovecot  # noqa: E402
from quorlin_process import QuorlinProcess  # noqa: E402
from test_certificates import TestCertificates  # noqa: E402

OWN_DEADLINE_SECONDS = 150
ALICE, ALICE_PASSWORD = "alice", "Al1ce-Mailbox.4"
BOB_LOGIN, BOB, BOB_PASSWORD = "bob@example.test", "bob", "B0b-over TLS.9"
LOGIN = re.compile(r"pop3-login: Info: Login: user=<([^>]*)>, method=(\w+),[^\n]*")


def logins_since(dovecot, mark):
    """(user, method, inside TLS) of each login Dovecot logged after `mark`."""
    return [(m.group(1), m.group(2), ", TLS" in m.group(0))
            for m in LOGIN.finditer(dovecot.log_text()[mark:])]


def alice_messages():
    return [sample_mail.Message(m.label, m.filename, m.data.replace(b"second", b"alice"),
                                "unchanged") for m in second_account_messages()]


def run_accounts(checks, certs, quorlin_binary, config_dir):
    with PrivateDovecot(USER, PASSWORD, sample_mail.build_messages()[:4]) as default, \
            PrivateDovecot(ALICE, ALICE_PASSWORD, alice_messages()) as alice, \
            PrivateDovecot(BOB, BOB_PASSWORD, second_account_messages(),
                           tls=certs.pair("good")) as bob:
        # Straight from each server, for the byte-for-byte comparison.
        direct = {USER: fetch_all(default.port)[1],
                  ALICE: fetch_all(alice.port, None, ALICE, ALICE_PASSWORD)[1],
                  BOB_LOGIN: fetch_all(bob.port, None, BOB, BOB_PASSWORD)[1]}
        marks = {d: len(d.log_text()) for d in (default, alice, bob)}
        open(os.path.join(config_dir, "Quorlin_BatList.ini"), "wb").close()
        with open(os.path.join(config_dir, "Quorlin_Options.ini"), "w") as f:
            f.write("[Account1]\nLogin=%s\nHost=127.0.0.1\nPort=%d\nSecurity=none\n"
                    % (ALICE, alice.port))
        bob_account = "%s=127.0.0.1:%d,security=tls,ca=%s,user=%s" % (
            BOB_LOGIN, bob.tls_port, certs.pem("ca"), BOB)
        with QuorlinProcess(quorlin_binary, default.port, config_dir,
                            ["--account", bob_account]) as quorlin:
            startup = quorlin.log_bytes()
            for line in (b"account alice: 127.0.0.1:%d (plain, APOP)" % alice.port,
                         b"account bob@example.test: 127.0.0.1:%d (TLS), as user bob"
                         % bob.tls_port):
                if line not in startup:
                    checks.fail("start-up lines lack %r: %r" % (line, startup))
            results = {}

            def fetch(login, password):
                try:
                    results[login] = fetch_all(quorlin.port, None, login, password,
                                               retry_refused=False)
                except Exception as error:  # reported below
                    results[login] = error

            threads = [threading.Thread(target=fetch, args=a, daemon=True)
                       for a in ((ALICE, ALICE_PASSWORD), (BOB_LOGIN, BOB_PASSWORD))]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            fetch(USER, PASSWORD)  # a name no account claims: the default server
            for login, result in results.items():
                if isinstance(result, Exception):
                    checks.fail("fetch as %s through quorlin: %s" % (login, result))
                    continue
                checks.equal("reply to USER %s" % login, LOCAL_USER_REPLY, result[0])
                checks.equal("replies to %s" % login, [c for c, _ in direct[login]],
                             [c for c, _ in result[1]])
                for (command, want), (_, got) in zip(direct[login], result[1]):
                    checks.equal("reply to %s for %s through quorlin" % (command, login),
                                 want, got)
            log = quorlin.log_bytes()
            for login in (ALICE, BOB_LOGIN):
                if not re.search(rb"(?m)^S: (\[\d\] )?\(%s\) \+OK" % re.escape(login.encode()),
                                 log):
                    checks.fail("the server log does not name the account %s" % login)
            for secret in (PASSWORD, ALICE_PASSWORD, BOB_PASSWORD):
                if secret.encode() in log:
                    checks.fail("quorlin's output shows the password %r" % secret)
            if not quorlin.running():
                checks.fail("quorlin exited during the test")
        expected = {default: [(USER, "APOP", False)], alice: [(ALICE, "APOP", False)],
                    bob: [(BOB, "PLAIN", True)]}
        for dovecot, want in expected.items():
            wait_until(lambda: logins_since(dovecot, marks[dovecot]))
            checks.equal("logins in the log of the Dovecot of %s" % want[0][0], want,
                         logins_since(dovecot, marks[dovecot]))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quorlin", required=True, help="the quorlin binary")
    args = parser.parse_args()
    return run_in_scratch("qac", OWN_DEADLINE_SECONDS, lambda checks, scratch: run_accounts(
        checks, TestCertificates(scratch), args.quorlin, config_folder(scratch)))


if __name__ == "__main__":
    sys.exit(main())
