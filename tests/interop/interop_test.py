"""End to end against a real POP3 server: a POP3 client fetches a mailbox from a private Dovecot
directly (the reference) and through `quorlin --headless`, and every reply is compared.

  relay    - empty blocked list: every reply byte for byte as Dovecot sends it, the login done
             with APOP, a wrong password answered with Dovecot's own "-ERR" line, a password
             with spaces inside and around logging in.
  tagging  - "GB2312" and "big5" blocked: the mail in those character sets and the mail without
             one arrives tagged, everything else byte for byte.
  tagging-options - as tagging, with [Tagging] EncodedWords and CharsetHeader on: the mail
             whose encoded words or further charset lines name a blocked set is tagged too, and
             tagged mail carries X-Quorlin-Charset.
  curl     - curl, which prefers SASL PLAIN when a server offers it, fetches every message
             through quorlin: it must not get to send the password (nor its base64) anywhere.
  cut      - as tagging, with a relay between quorlin and Dovecot that cuts every RETR reply in
             two at several places: the result must not depend on where.
  clients  - two accounts fetched at once through one quorlin, each byte for byte; a scripted
             fetch that half-closes after its commands gets its message; a client that leaves
             before its retrieval was delivered leaves the mailbox as it was.
  slow     - a client that reads an 8 MB message slowly and pauses, with DELE and QUIT sent
             behind its RETR and an idle timeout of one second, gets all of it, and Dovecot
             deletes the message only after that; SIGTERM to quorlin in the pause leaves the
             message on the server.
"""

import argparse
import base64
import os
import poplib
import re
import shutil
import signal
import subprocess
import socket
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import sample_mail  # noqa: E402
from cutting_relay import CuttingRelay  # noqa: E402
from private_dovecot import PrivateDovecot  # noqa: E402
from quorlin_process import QuorlinProcess  # noqa: E402
from raw_pop3 import RawPOP3, first_difference, unstuff  # noqa: E402

USER = "quorlin"
PASSWORD = "Qu0rlin-Secret.7"
WRONG_PASSWORD = "not-the-password"
LOCAL_USER_REPLY = b"+OK Password required.\r\n"
TOP_LINES = 3
# Well inside ctest's TIMEOUT, so that the servers are always stopped by this script.
OWN_DEADLINE_SECONDS = 100


class LoginFailed(Exception):
    pass


class Checks:
    def __init__(self):
        self.failures = []
        self.started = time.monotonic()

    def stop_at_deadline(self, seconds):
        """SIGTERM (ctest's timeout) or `seconds` from now end the run with a failure, through
        the callers' finally blocks, which stop the servers."""
        def stop_now(signum, _frame):
            self.fail("stopped by %s after %.0f s (own deadline %d s)" % (
                signal.Signals(signum).name, time.monotonic() - self.started, seconds))
            raise SystemExit(1)

        signal.signal(signal.SIGTERM, stop_now)
        signal.signal(signal.SIGALRM, stop_now)
        signal.alarm(seconds)

    def fail(self, text):
        self.failures.append(text)
        print("FAIL: " + text, flush=True)

    def equal(self, what, expected, actual):
        if expected == actual:
            return True
        if isinstance(expected, bytes) and isinstance(actual, bytes):
            self.fail("%s differs: %s" % (what, first_difference(expected, actual)))
        else:
            self.fail("%s: expected %r, got %r" % (what, expected, actual))
        return False

    def summary(self):
        """Prints the outcome of the run; the exit status."""
        elapsed = time.monotonic() - self.started
        if self.failures:
            print("\n%d check(s) failed in %.1f s" % (len(self.failures), elapsed))
            return 1
        print("all checks passed in %.1f s" % elapsed)
        return 0


def run_in_scratch(prefix, deadline, run):
    """Runs run(checks, scratch) with a fresh folder of its own under /tmp; the exit status.
    run may return a status of its own. After a failure, the end of every Quorlin output in the
    folder is printed; the folder goes unless QUORLIN_KEEP_TMP is set."""
    checks = Checks()
    checks.stop_at_deadline(deadline)
    scratch = tempfile.mkdtemp(prefix=prefix, dir="/tmp")
    os.chmod(scratch, 0o755)
    try:
        status = run(checks, scratch)
        if status is not None:
            return status
    except Exception as error:
        checks.fail("%s: %s" % (type(error).__name__, error))
    finally:
        if checks.failures:
            for folder, _dirs, _files in os.walk(scratch):
                if os.path.exists(QuorlinProcess.log_path_in(folder)):
                    print(QuorlinProcess.log_tail_of(folder))
        if not os.environ.get("QUORLIN_KEEP_TMP"):
            shutil.rmtree(scratch, ignore_errors=True)
    return checks.summary()


def config_folder(scratch):
    """Quorlin's settings folder inside a scratch folder, made empty."""
    folder = os.path.join(scratch, "config")
    os.makedirs(folder)
    return folder


def fetch_all(port, message_count=None, user=USER, password=PASSWORD, retry_refused=True):
    """One POP3 session; returns (USER reply, transcript). The transcript is a list of
    (command, exact reply bytes) from PASS to QUIT."""
    client = RawPOP3("127.0.0.1", port, connect_deadline=5.0 if retry_refused else 0.0)
    try:
        user_reply = client.single("USER " + user)
        transcript = [("PASS", client.single("PASS " + password))]
        if not transcript[0][1].startswith(b"+OK"):
            raise LoginFailed("PASS after %r was answered %r" % (user_reply, transcript[0][1]))
        transcript.append(("STAT", client.single("STAT")))
        for command in ("LIST", "UIDL"):
            transcript.append((command, client.multi(command)))
        if message_count is None:
            message_count = int(transcript[1][1].split()[1])
        # RETR then TOP of the same message: the TOP reply follows a RETR directly, so a RETR
        # state that outlives its command would show in it.
        for n in range(1, message_count + 1):
            transcript.append(("LIST %d" % n, client.single("LIST %d" % n)))
            transcript.append(("RETR %d" % n, client.multi("RETR %d" % n)))
            transcript.append(("TOP %d %d" % (n, TOP_LINES),
                               client.multi("TOP %d %d" % (n, TOP_LINES))))
        transcript.append(("QUIT", client.single("QUIT")))
        return user_reply, transcript
    finally:
        client.close()


def wrong_password_reply(port, source_address=None):
    client = RawPOP3("127.0.0.1", port, source_address=source_address)
    try:
        user_reply = client.single("USER " + USER)
        reply = client.single("PASS " + WRONG_PASSWORD)
        client.single("QUIT")
        return user_reply, reply
    finally:
        client.close()


def message_numbers(checks, transcript, messages):
    """Which stored message each number serves, checking that Dovecot serves every stored file
    exactly as written: the reference must be the stored bytes for the comparison to mean
    anything."""
    by_data = {m.data: m for m in messages}
    numbered = {}
    for command, reply in transcript:
        if not command.startswith("RETR "):
            continue
        n = int(command.split()[1])
        body = unstuff(reply)
        message = by_data.get(body)
        if message is None:
            checks.fail("direct %s does not serve any stored message as written" % command)
            continue
        checks.equal("direct %s status line" % command,
                     b"+OK %d octets\r\n" % len(message.data), reply[:reply.index(b"\r\n") + 2])
        numbered[n] = message
    missing = [m.label for m in messages if m not in numbered.values()]
    if missing:
        checks.fail("Dovecot did not serve the stored messages " + ", ".join(missing))
    return numbered


def _field_end(reply, at):
    """Where the header field whose line starts at `at` ends, its continuation lines included."""
    end = reply.index(b"\r\n", at) + 2
    while reply[end:end + 1] in (b" ", b"\t"):
        end = reply.index(b"\r\n", end) + 2
    return end


def with_tag(reply, header=b""):
    """A RETR reply with the tag behind the header's "Subject: ", plus one space before an
    RFC 2047 encoded word, and `header` behind the Subject field."""
    header_end = reply.index(b"\r\n\r\n")
    at = reply.find(b"\r\nSubject: ", 0, header_end)
    if at < 0:
        raise AssertionError("test data: no Subject line to tag")
    text = at + len(b"\r\nSubject: ")
    space = b" " if reply.startswith(b"=?", text) else b""
    end = _field_end(reply, at + 2)
    return reply[:text] + sample_mail.TAG + space + reply[text:end] + header + reply[end:]


def with_inserted_subject(reply, header=b""):
    """A RETR reply with the line "Subject: [VudOdirOro]" (and `header`) right behind the To
    field, its continuation lines included."""
    header_end = reply.index(b"\r\n\r\n")
    if re.search(rb"\r\n[Ss]ubject: ", reply[:header_end]):
        raise AssertionError("test data: the message already has a Subject line")
    at = reply.find(b"\r\nTo: ", 0, header_end)
    if at < 0:
        raise AssertionError("test data: no To line")
    line_end = _field_end(reply, at + 2)
    return (reply[:line_end] + b"Subject: " + sample_mail.TAG + b"\r\n" + header +
            reply[line_end:])


def with_change(reply, message, options=False):
    """The reply as a client gets it with the blocked list, with EncodedWords and CharsetHeader
    on where `options`."""
    change = message.change(options)
    header = b""
    if options and message.entry is not None:
        header = b"X-Quorlin-Charset: " + message.entry + b"\r\n"
    if change == "tag":
        return with_tag(reply, header)
    if change == "insert":
        return with_inserted_subject(reply, header)
    return reply


def expected_through_proxy(direct, numbered, tagging, options=False):
    expected = []
    for command, reply in direct:
        if tagging and command.startswith("RETR "):
            reply = with_change(reply, numbered[int(command.split()[1])], options)
        expected.append((command, reply))
    return expected


def compare_transcripts(checks, expected, received, numbered):
    checks.equal("number of replies through quorlin", [c for c, _ in expected],
                 [c for c, _ in received])
    for (command, want), (_, got) in zip(expected, received):
        label = command
        if command.startswith(("RETR ", "TOP ", "LIST ")) and " " in command:
            message = numbered.get(int(command.split()[1]))
            if message is not None:
                label = "%s (%s)" % (command, message.label)
        checks.equal("reply to %s through quorlin" % label, want, got)


def login_methods(dovecot):
    return re.findall(r"pop3-login: Info: Login: user=<%s>, method=(\w+)" % USER,
                      dovecot.log_text())


def wait_until(condition, timeout=5.0):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.05)
    return True


def check_quorlin_log(checks, quorlin):
    # The log is read while quorlin runs: a headless proxy's log has to appear as it happens.
    if not wait_until(lambda: b"C: PASS ******" in quorlin.log_bytes()):
        checks.fail('quorlin\'s output shows no "C: PASS ******" line')
    output = quorlin.log_bytes()
    for secret in (PASSWORD, WRONG_PASSWORD, SPACED_PASSWORD):
        if secret.encode() in output:
            checks.fail("quorlin's output shows the password %r" % secret)


def wrong_password_replies(direct_port, proxy_port):
    """The replies to a wrong password, directly and through quorlin, tried at the same time.
    Dovecot delays every failed login, and a second failure from the same address longer, so
    the direct attempt comes from another loopback address."""
    results = {}

    def attempt(key, port, source):
        try:
            results[key] = wrong_password_reply(port, source)
        except Exception as error:  # reported by the caller
            results[key] = error

    threads = [threading.Thread(target=attempt, args=("direct", direct_port, ("127.0.0.2", 0)),
                                daemon=True),
               threading.Thread(target=attempt, args=("proxy", proxy_port, None), daemon=True)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for key in ("direct", "proxy"):
        if isinstance(results[key], Exception):
            raise results[key]
    return results["direct"][1], results["proxy"]


def run_relay_case(checks, dovecot, quorlin_binary, config_dir):
    messages = dovecot.messages
    _, direct = fetch_all(dovecot.port)
    numbered = message_numbers(checks, direct, messages)
    plain_logins = login_methods(dovecot)

    open(os.path.join(config_dir, "Quorlin_BatList.ini"), "wb").close()
    with QuorlinProcess(quorlin_binary, dovecot.port, config_dir) as quorlin:
        user_reply, received = fetch_all(quorlin.port, len(messages))
        checks.equal("reply to USER through quorlin", LOCAL_USER_REPLY, user_reply)
        compare_transcripts(checks, expected_through_proxy(direct, numbered, False), received,
                            numbered)
        # Every login that went through quorlin must have been APOP: the password never
        # travels to the server.
        if not wait_until(lambda: len(login_methods(dovecot)) > len(plain_logins)):
            checks.fail("Dovecot logged no login through quorlin")
        checks.equal("login methods Dovecot logged for the session through quorlin", ["APOP"],
                     login_methods(dovecot)[len(plain_logins):])

        started = time.monotonic()
        direct_wrong, (user_reply, wrong) = wrong_password_replies(dovecot.port, quorlin.port)
        print("wrong password answered after %.1f s: %r" % (time.monotonic() - started, wrong))
        if not direct_wrong.startswith(b"-ERR"):
            checks.fail("Dovecot accepted the wrong password: %r" % direct_wrong)
        checks.equal("reply to USER through quorlin (wrong password)", LOCAL_USER_REPLY,
                     user_reply)
        checks.equal("reply to a wrong PASS through quorlin", direct_wrong, wrong)
        failed_apop = re.compile(r"auth failed.*user=<%s>, method=APOP" % USER)
        if not wait_until(lambda: failed_apop.search(dovecot.log_text())):
            checks.fail("Dovecot logged no failed APOP login for the wrong password")

        # As Python's poplib logs in, the password sent as it is.
        try:
            client = poplib.POP3("127.0.0.1", quorlin.port, timeout=10)
            client.user(SPACED_USER)
            client.pass_(SPACED_PASSWORD)
            client.quit()
        except (OSError, poplib.error_proto) as error:
            checks.fail("password %r through quorlin: %s" % (SPACED_PASSWORD, error))

        check_quorlin_log(checks, quorlin)
        if not quorlin.running():
            checks.fail("quorlin exited during the test")


def run_tagging_case(checks, dovecot, quorlin_binary, config_dir, options=False):
    messages = dovecot.messages
    _, direct = fetch_all(dovecot.port)
    numbered = message_numbers(checks, direct, messages)

    write_blocked_list(config_dir)
    switch = b"true" if options else b"false"
    with open(os.path.join(config_dir, "Quorlin_Options.ini"), "wb") as f:
        f.write(b"[Tagging]\nEncodedWords=" + switch + b"\nCharsetHeader=" + switch + b"\n")
    with QuorlinProcess(quorlin_binary, dovecot.port, config_dir) as quorlin:
        user_reply, received = fetch_all(quorlin.port, len(messages))
        checks.equal("reply to USER through quorlin", LOCAL_USER_REPLY, user_reply)
        compare_transcripts(checks, expected_through_proxy(direct, numbered, True, options),
                            received, numbered)
        check_quorlin_log(checks, quorlin)
        # The server log shows a tagged subject line as it was forwarded.
        output = quorlin.log_bytes()
        missing = []
        for message in numbered.values():
            subject = re.search(rb"\r\nSubject: ([ -~]*)\r\n", message.data)
            # How the log shows 8-bit text is not checked here.
            if message.change(options) == "tag" and subject is not None:
                space = b" " if subject.group(1).startswith(b"=?") else b""
                line = b"S: Subject: " + sample_mail.TAG + space + subject.group(1)
                if line not in output:
                    missing.append(line)
        if any(m.label == "header-beyond-the-bound" for m in numbered.values()):
            note = (b"S: Quorlin: the header did not end within the 262144 bytes gathered; "
                    b"the message is relayed untagged.")
            if note not in output:
                missing.append(note)
        if missing:
            checks.fail("quorlin's output lacks the lines %r" % missing)
        if not quorlin.running():
            checks.fail("quorlin exited during the test")


def write_blocked_list(config_dir):
    with open(os.path.join(config_dir, "Quorlin_BatList.ini"), "wb") as f:
        f.write(b"".join(c.encode() + b"\r\n" for c in sample_mail.BLOCKED_CHARSETS))


def run_curl_case(checks, dovecot, quorlin_binary, config_dir):
    messages = dovecot.messages
    _, direct = fetch_all(dovecot.port)
    numbered = message_numbers(checks, direct, messages)
    logins_before = len(login_methods(dovecot))

    write_blocked_list(config_dir)
    with QuorlinProcess(quorlin_binary, dovecot.port, config_dir) as quorlin:
        for n, message in sorted(numbered.items()):
            fetched = subprocess.run(
                ["curl", "--silent", "--show-error", "--max-time", "20", "--user",
                 "%s:%s" % (USER, PASSWORD), "pop3://127.0.0.1:%d/%d" % (quorlin.port, n)],
                capture_output=True, check=False)
            if fetched.returncode != 0:
                checks.fail("curl RETR %d: exit %d, %r" % (n, fetched.returncode,
                                                           fetched.stderr[-300:]))
                continue
            checks.equal("message %d (%s) through curl and quorlin" % (n, message.label),
                         with_change(message.data, message), fetched.stdout)
        if not wait_until(lambda: len(login_methods(dovecot)) >= logins_before + len(numbered)):
            checks.fail("Dovecot logged fewer logins than curl made")
        methods = login_methods(dovecot)[logins_before:]
        print("curl's logins through quorlin, as Dovecot logged them: %s" % sorted(set(methods)))
        checks.equal("login methods of curl through quorlin", ["APOP"] * len(methods), methods)
        output = quorlin.log_bytes()
        plain = base64.b64encode(b"\0" + USER.encode() + b"\0" + PASSWORD.encode())
        for secret in (PASSWORD.encode(), plain, base64.b64encode(PASSWORD.encode())):
            if secret in output:
                checks.fail("quorlin's output shows %r" % secret)
        if not quorlin.running():
            checks.fail("quorlin exited during the test")


def run_cut_case(checks, dovecot, quorlin_binary, config_dir):
    messages = dovecot.messages
    _, direct = fetch_all(dovecot.port)
    numbered = message_numbers(checks, direct, messages)
    expected = expected_through_proxy(direct, numbered, True)

    def inside_subject(reply):
        at = reply.find(b"Subject: ")
        return at + 4 if at >= 0 else len(reply) // 2

    cuts = [("after 1 byte", lambda reply: 1), ("after 2 bytes", lambda reply: 2),
            ("after 100 bytes", lambda reply: 100), ("after 1400 bytes", lambda reply: 1400),
            ('inside "Subject: "', inside_subject)]
    write_blocked_list(config_dir)
    with CuttingRelay(dovecot.port, cuts[0][1]) as relay, \
            QuorlinProcess(quorlin_binary, relay.port, config_dir) as quorlin:
        for name, cut in cuts:
            relay.cut = cut
            made = relay.cuts_made
            _, received = fetch_all(quorlin.port, len(messages))
            if relay.cuts_made - made != len(messages):
                checks.fail("%s: the relay cut %d replies" % (name, relay.cuts_made - made))
            before = len(checks.failures)
            compare_transcripts(checks, expected, received, numbered)
            print("RETR replies cut %s: %s" % (
                name, "as uncut" if len(checks.failures) == before else "DIFFERENT"))
SECOND_USER = "second"
SECOND_PASSWORD = "Sec0nd-Account.3"
# RFC 1939's PASS argument runs to the end of the line: its spaces belong to the password.
SPACED_USER = "spaced"
SPACED_PASSWORD = " pass word "


def second_account_messages():
    """A mailbox of its own, unlike the first account's in size and content."""
    messages = []
    for n in range(3):
        lines = [b"Mail %d for the second account, line %d." % (n, i) for i in range(400 * (n + 1))]
        data = (b"Return-Path: <other@example.org>\r\nFrom: other@example.org\r\n"
                b"To: second@example.org\r\nSubject: Second account, message %d\r\n"
                b"Content-Type: text/plain; charset=us-ascii\r\n\r\n" % n
                + b"\r\n".join(lines) + b"\r\n.leading dot\r\n")
        messages.append(sample_mail.Message("second-%d" % n, "17100000%02d.M%dP2.interop" % (n, n),
                                            data, "unchanged"))
    return messages


def message_count(port, user, password):
    client = RawPOP3("127.0.0.1", port)
    try:
        client.single("USER " + user)
        client.single("PASS " + password)
        count = int(client.single("STAT").split()[1])
        client.single("QUIT")
        return count
    finally:
        client.close()


def scripted_fetch(port, commands, half_close, read=True, timeout=15.0):
    """As `(sleep 1; printf COMMANDS) | socat -t 5 - TCP:...`: waits for the greeting, writes
    every command at once, then shuts its sending side (or closes at once when not reading).
    Returns everything received up to the server's EOF and how long the EOF took after the
    last byte."""
    connection = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    try:
        received = connection.recv(4096)
        connection.sendall(b"".join(c.encode() + b"\r\n" for c in commands))
        if not read:
            return received, None
        if half_close:
            connection.shutdown(socket.SHUT_WR)
        last = time.monotonic()
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                return received, time.monotonic() - last
            received += chunk
            last = time.monotonic()
    finally:
        connection.close()


SLOW_USER = "slow"
SLOW_PASSWORD = "Sl0w-Reader.5"


def slow_account_messages():
    """One message of about 8 MB: more than the kernel's buffers on the way hold, so that a
    client that pauses leaves part of it with quorlin or the server."""
    lines = [b"Line %06d of a long message read slowly, padded to a full line: %s" % (i, b"x" * 20)
             for i in range(90000)]
    data = (b"Return-Path: <big@example.org>\r\nFrom: big@example.org\r\n"
            b"To: slow@example.org\r\nSubject: Big\r\n"
            b"Content-Type: text/plain; charset=us-ascii\r\n\r\n" + b"\r\n".join(lines) + b"\r\n")
    return [sample_mail.Message("slow-0", "1720000000.M1P3.interop", data, "unchanged")]


class SlowReader:
    """Logs in and sends RETR 1, DELE 1 and QUIT at once, through a small receive buffer."""

    def __init__(self, port):
        self.connection = socket.socket()
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 32 * 1024)
        self.connection.settimeout(15.0)
        self.connection.connect(("127.0.0.1", port))
        self.received = self.connection.recv(4096)
        self.connection.sendall(("USER %s\r\nPASS %s\r\nRETR 1\r\nDELE 1\r\nQUIT\r\n"
                                 % (SLOW_USER, SLOW_PASSWORD)).encode())

    def read(self, until_size=None, per_second=None):
        """Reads up to the end of the stream, or until `until_size` bytes came; about
        `per_second` bytes a second when given."""
        while until_size is None or len(self.received) < until_size:
            chunk = self.connection.recv(per_second // 10 if per_second else 65536)
            if not chunk:
                return
            self.received += chunk
            if per_second:
                time.sleep(0.1)

    def close(self):
        self.connection.close()


def start_slow_fetch(checks, dovecot, quorlin):
    """100 KB a second for half a megabyte, then a pause three times the idle timeout: the
    server must not have heard QUIT, and the client is not let go."""
    reader = SlowReader(quorlin.port)
    reader.read(until_size=512 * 1024, per_second=100 * 1024)
    time.sleep(3.0)
    checks.equal("messages on the server while the slow reader pauses", 1,
                 message_count(dovecot.port, SLOW_USER, SLOW_PASSWORD))
    return reader


def run_slow_case(checks, dovecot, quorlin_binary, config_dir):
    open(os.path.join(config_dir, "Quorlin_BatList.ini"), "wb").close()
    direct = dict(fetch_all(dovecot.port, None, SLOW_USER, SLOW_PASSWORD)[1])["RETR 1"]
    with QuorlinProcess(quorlin_binary, dovecot.port, config_dir,
                        ["--idle-timeout", "1"]) as quorlin:
        reader = start_slow_fetch(checks, dovecot, quorlin)
        try:
            reader.read()
        finally:
            reader.close()
        if direct not in reader.received:
            checks.fail("the slow reader did not get the whole message (%d bytes arrived)"
                        % len(reader.received))
        if not re.search(rb"\r\n\.\r\n\+OK[^\r]*\r\n\+OK[^\r]*\r\n$", reader.received):
            checks.fail("the replies to DELE and QUIT did not follow the message: %r"
                        % reader.received[-120:])
        checks.equal("messages on the server after the slow fetch", 0,
                     message_count(dovecot.port, SLOW_USER, SLOW_PASSWORD))

    # The same mailbox again, and SIGTERM while the reader pauses.
    dovecot.stop()
    dovecot.start()
    with QuorlinProcess(quorlin_binary, dovecot.port, config_dir,
                        ["--idle-timeout", "1"]) as quorlin:
        reader = start_slow_fetch(checks, dovecot, quorlin)
        try:
            quorlin.process.send_signal(signal.SIGTERM)
            checks.equal("quorlin's status after SIGTERM", 0, quorlin.process.wait(10))
            reader.read()
        finally:
            reader.close()
        print("SIGTERM mid-RETR: %d of %d bytes delivered" % (len(reader.received), len(direct)))
        checks.equal("messages on the server after SIGTERM mid-RETR", 1,
                     message_count(dovecot.port, SLOW_USER, SLOW_PASSWORD))


def run_clients_case(checks, dovecot, quorlin_binary, config_dir):
    open(os.path.join(config_dir, "Quorlin_BatList.ini"), "wb").close()
    accounts = [(USER, PASSWORD), (SECOND_USER, SECOND_PASSWORD)]
    direct = [fetch_all(dovecot.port, None, u, p)[1] for u, p in accounts]

    with QuorlinProcess(quorlin_binary, dovecot.port, config_dir) as quorlin:
        # Two mail programs at once, one account each.
        results = [None, None]

        def fetch(i):
            try:
                # Not retried: while one is served, the other must not be refused.
                results[i] = fetch_all(quorlin.port, None, *accounts[i], retry_refused=False)
            except Exception as error:  # reported below
                results[i] = error

        threads = [threading.Thread(target=fetch, args=(i,), daemon=True) for i in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for i, (user, _) in enumerate(accounts):
            if isinstance(results[i], Exception):
                checks.fail("fetch of %s through quorlin: %s" % (user, results[i]))
                continue
            checks.equal("reply to USER %s through quorlin" % user, LOCAL_USER_REPLY,
                         results[i][0])
            checks.equal("replies to %s through quorlin" % user, [c for c, _ in direct[i]],
                         [c for c, _ in results[i][1]])
            for (command, want), (_, got) in zip(direct[i], results[i][1]):
                checks.equal("reply to %s for %s through quorlin" % (command, user), want, got)
        if not re.search(rb"(?m)^[SC]: \[[12]\] ", quorlin.log_bytes()):
            checks.fail("quorlin's log does not say which client a line belongs to")

        # The half-closing fetch: every reply arrives, and the mail goes as the client asked.
        before = message_count(dovecot.port, SECOND_USER, SECOND_PASSWORD)
        got, eof_after = scripted_fetch(
            quorlin.port, ["USER " + SECOND_USER, "PASS " + SECOND_PASSWORD, "RETR 1", "DELE 1",
                           "QUIT"], half_close=True)
        retr = dict(direct[1])["RETR 1"]
        if retr not in got:
            checks.fail("the half-closing fetch did not get message 1 (%d bytes arrived, "
                        "ending %r)" % (len(got), got[-80:]))
        if not re.search(rb"\+OK[^\r]*\r\n$", got):
            checks.fail("the half-closing fetch did not get the reply to QUIT: %r" % got[-80:])
        print("half-closing fetch: %d bytes, EOF %.3f s after the last byte" % (len(got), eof_after))
        if eof_after > 1.0:
            checks.fail("EOF came %.1f s after the last byte" % eof_after)
        checks.equal("messages left after the half-closing fetch", before - 1,
                     message_count(dovecot.port, SECOND_USER, SECOND_PASSWORD))

        # A client that sends RETR and DELE but leaves without reading or QUIT: nothing of it
        # was delivered, and the mailbox keeps the message.
        scripted_fetch(quorlin.port, ["USER " + SECOND_USER, "PASS " + SECOND_PASSWORD,
                                      "RETR 1", "DELE 1"], half_close=False, read=False)
        time.sleep(1.0)
        checks.equal("messages left after a fetch that was not delivered", before - 1,
                     message_count(dovecot.port, SECOND_USER, SECOND_PASSWORD))
        if not quorlin.running():
            checks.fail("quorlin exited during the test")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quorlin", required=True, help="the quorlin binary")
    parser.add_argument("case", choices=["relay", "tagging", "tagging-options", "curl", "cut",
                                         "clients", "slow"])
    args = parser.parse_args()
    if not os.access(args.quorlin, os.X_OK):
        print("FAIL: quorlin binary not found or not executable: " + args.quorlin)
        return 1

    checks = Checks()
    checks.stop_at_deadline(OWN_DEADLINE_SECONDS)
    config_dir = tempfile.mkdtemp(prefix="qcf", dir="/tmp")
    dovecot = PrivateDovecot(USER, PASSWORD, sample_mail.build_messages(),
                             [(SECOND_USER, SECOND_PASSWORD, second_account_messages()),
                              (SPACED_USER, SPACED_PASSWORD, []),
                              (SLOW_USER, SLOW_PASSWORD, slow_account_messages())])
    try:
        dovecot.start()
        print("Dovecot on 127.0.0.1:%d, files in %s" % (dovecot.port, dovecot.root), flush=True)
        case = {"relay": run_relay_case, "tagging": run_tagging_case,
                "tagging-options": lambda *a: run_tagging_case(*a, options=True),
                "curl": run_curl_case, "cut": run_cut_case, "clients": run_clients_case,
                "slow": run_slow_case}[args.case]
        case(checks, dovecot, args.quorlin, config_dir)
    except Exception as error:  # a broken connection or a server that did not start
        checks.fail("%s: %s" % (type(error).__name__, error))
    finally:
        try:
            if checks.failures:
                print(dovecot.log_tail())
                print(QuorlinProcess.log_tail_of(config_dir))
        finally:
            dovecot.stop()
            if not os.environ.get("QUORLIN_KEEP_TMP"):
                shutil.rmtree(config_dir, ignore_errors=True)

    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
