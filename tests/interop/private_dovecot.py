"""A throw-away Dovecot POP3 server for interop tests.

Everything lives in one temporary folder under /tmp: the configuration, the password file, the
Maildir, the log and the base_dir with master.pid. The folder name is kept short because Dovecot's
unix socket paths in base_dir must stay short.
"""

import grp
import os
import pwd
import shutil
import signal
import subprocess
import tempfile

import net_util

DOVECOT = shutil.which("dovecot") or "/usr/sbin/dovecot"

CONFIG_TEMPLATE = """\
base_dir = {base_dir}
state_dir = {state_dir}
log_path = {log_path}
info_log_path = {log_path}
debug_log_path = {log_path}
instance_name = {instance}
protocols = pop3
listen = 127.0.0.1
{ssl_settings}
disable_plaintext_auth = no
auth_mechanisms = plain apop
auth_verbose = yes
{user_settings}
mail_location = maildir:~/Maildir
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {passwd_path}
}}
userdb {{
  driver = static
  args = uid={mail_uid} gid={mail_gid} home={home_root}/%u
}}
service auth {{
  user = {auth_user}
}}
{other_services}
service pop3-login {{
{login_chroot}
  inet_listener pop3 {{
    address = 127.0.0.1
    port = {port}
  }}
{pop3s_listener}
}}
"""

# With a certificate: STLS on the plain listener and implicit TLS on a second one.
SSL_SETTINGS = """\
ssl = yes
ssl_cert = <{cert}
ssl_key = <{key}"""

POP3S_LISTENER = """\
  inet_listener pop3s {{
    address = 127.0.0.1
    port = {port}
    ssl = yes
  }}"""


class DovecotError(Exception):
    pass


class PrivateDovecot:
    """Start with start(), stop with stop(); usable as a context manager."""

    def __init__(self, user, password, messages, others=(), tls=None):
        # messages: objects with .filename and .data, stored as they are in Maildir/new.
        # others: further accounts as (user, password, messages).
        # tls: (certificate file, key file) to serve STLS and implicit TLS (on tls_port).
        self.tls = tls
        self.tls_port = None
        self.user = user
        self.password = password
        self.messages = messages
        self.accounts = [(user, password, messages)] + list(others)
        self.root = None
        self.port = None
        self.process = None
        self._stderr = None

    # Paths --------------------------------------------------------------------------------------

    @property
    def base_dir(self):
        return os.path.join(self.root, "run")

    @property
    def log_path(self):
        return os.path.join(self.root, "dovecot.log")

    @property
    def maildir(self):
        return self.maildir_of(self.user)

    def maildir_of(self, user):
        return os.path.join(self.root, "home", user, "Maildir")

    # Lifecycle ----------------------------------------------------------------------------------

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self, timeout=15.0):
        try:
            self._start(timeout)
        except BaseException:
            self.stop()
            raise

    def _start(self, timeout):
        self.root = tempfile.mkdtemp(prefix="qdv", dir="/tmp")
        # Mail processes run as an unprivileged user, which must be able to walk down to the
        # Maildir.
        os.chmod(self.root, 0o711)
        self.port = net_util.free_port()
        if self.tls:
            self.tls_port = net_util.free_port()
        self._write_files()
        self._stderr = open(os.path.join(self.root, "dovecot.stderr"), "wb")
        # In the foreground, as our child: if this test is killed, the kernel stops Dovecot too.
        self.process = subprocess.Popen([DOVECOT, "-F", "-c", self._config_path()],
                                        stdout=self._stderr, stderr=subprocess.STDOUT,
                                        preexec_fn=net_util.die_with_parent)
        if not net_util.wait_for_port("127.0.0.1", self.port, timeout,
                                      lambda: self.process.poll() is None):
            raise DovecotError("dovecot does not listen on 127.0.0.1:%d (%s)\n%s%s" % (
                self.port, _exit_text(self.process.poll()), self._stderr_text(),
                self.log_tail()))

    def stop(self, timeout=10.0):
        if self.root is None:
            return
        pid = self._master_pid()
        if pid is None and self.process is not None:
            pid = self.process.pid
        if pid is not None:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        if self.process is not None:
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process = None
        if self._stderr is not None:
            self._stderr.close()
        if not os.environ.get("QUORLIN_KEEP_TMP"):
            shutil.rmtree(self.root, ignore_errors=True)
        self.root = None

    # Inspection ---------------------------------------------------------------------------------

    def log_text(self):
        if self.root is None:
            return ""
        try:
            with open(self.log_path, "rb") as f:
                return f.read().decode("utf-8", "replace")
        except OSError:
            return ""

    def log_tail(self, lines=30):
        tail = self.log_text().splitlines()[-lines:]
        return "--- dovecot log (last %d lines) ---\n%s" % (len(tail), "\n".join(tail))

    # Internals ----------------------------------------------------------------------------------

    def _config_path(self):
        return os.path.join(self.root, "dovecot.conf")

    def _stderr_text(self):
        with open(os.path.join(self.root, "dovecot.stderr"), "rb") as f:
            return f.read().decode("utf-8", "replace")

    def _master_pid(self):
        try:
            with open(os.path.join(self.base_dir, "master.pid")) as f:
                return int(f.read().strip())
        except (OSError, ValueError):
            return None

    def _write_files(self):
        if os.geteuid() == 0:
            # Dovecot refuses uid 0 for mail processes.
            mail_uid = pwd.getpwnam("nobody").pw_uid
            mail_gid = grp.getgrnam("nogroup").gr_gid
            auth_user = "root"
            user_settings = ""
            login_chroot = other_services = ""
        else:
            # Unprivileged: every Dovecot process runs as the calling user.
            mail_uid, mail_gid = os.getuid(), os.getgid()
            me = pwd.getpwuid(mail_uid).pw_name
            auth_user = me
            group = grp.getgrgid(mail_gid).gr_name
            user_settings = ("default_internal_user = {0}\ndefault_login_user = {0}\n"
                             "default_internal_group = {1}\n".format(me, group))
            # chroot needs root.
            login_chroot = "  chroot ="
            other_services = "service anvil {\n  chroot =\n}\n"
        os.makedirs(self.base_dir)
        state_dir = os.path.join(self.root, "state")
        os.makedirs(state_dir)
        home_root = os.path.join(self.root, "home")
        for user, _password, messages in self.accounts:
            for sub in ("new", "cur", "tmp"):
                os.makedirs(os.path.join(self.maildir_of(user), sub))
            for message in messages:
                with open(os.path.join(self.maildir_of(user), "new", message.filename),
                          "wb") as f:
                    f.write(message.data)
        for folder, _dirs, files in os.walk(home_root):
            os.chown(folder, mail_uid, mail_gid)
            for name in files:
                os.chown(os.path.join(folder, name), mail_uid, mail_gid)
        passwd_path = os.path.join(self.root, "passwd")
        with open(passwd_path, "w") as f:
            for user, password, _messages in self.accounts:
                f.write("%s:%s\n" % (user, password))
        os.chmod(passwd_path, 0o600)
        with open(self._config_path(), "w") as f:
            f.write(CONFIG_TEMPLATE.format(
                base_dir=self.base_dir, state_dir=state_dir, log_path=self.log_path,
                instance="quorlin-interop-%d" % self.port, user_settings=user_settings,
                passwd_path=passwd_path, mail_uid=mail_uid, mail_gid=mail_gid,
                home_root=home_root, auth_user=auth_user, port=self.port,
                login_chroot=login_chroot, other_services=other_services,
                ssl_settings=(SSL_SETTINGS.format(cert=self.tls[0], key=self.tls[1])
                              if self.tls else "ssl = no"),
                pop3s_listener=(POP3S_LISTENER.format(port=self.tls_port)
                                if self.tls else "")))


def _exit_text(status):
    return "still running" if status is None else "exited with status %d" % status
