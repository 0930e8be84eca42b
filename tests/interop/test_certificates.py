"""Certificates for the TLS interop tests, made with openssl in a scratch folder by
tests/support/make_test_certificates.sh (which lists them)."""

import os
import subprocess

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "support",
                      "make_test_certificates.sh")


class TestCertificates:
    def __init__(self, folder):
        self.folder = folder
        subprocess.run(["/bin/sh", SCRIPT], cwd=folder, check=True)

    def pem(self, name):
        return os.path.join(self.folder, name + ".pem")

    def key(self, name):
        return os.path.join(self.folder, name + ".key")

    def pair(self, name):
        return self.pem(name), self.key(name)

    def fingerprint(self, name):
        """As openssl prints it: upper-case hex pairs with colons."""
        with open(os.path.join(self.folder, name + ".sha256")) as f:
            return f.read().strip().split("=", 1)[1]
