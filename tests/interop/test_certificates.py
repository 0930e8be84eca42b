"""Certificates for the TLS interop tests, made with openssl in a scratch folder:

  ca       a test authority (what --ca-file points at)
  good     for 127.0.0.1 and localhost, from ca
  other    for other.example only, from ca
  expired  for 127.0.0.1 and localhost, from ca, valid only in January 2020
  self     for 127.0.0.1 and localhost, self-signed
"""

import os
import subprocess

SCRIPT = r"""
set -e
key() { openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$2" \
          2>/dev/null; }
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 \
    -subj "/CN=Quorlin Interop CA" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' > local.ext
printf 'subjectAltName=DNS:other.example\n' > other.ext
key good localhost
openssl x509 -req -in good.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out good.pem -days 30 \
    -extfile local.ext 2>/dev/null
key other other.example
openssl x509 -req -in other.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out other.pem \
    -days 30 -extfile other.ext 2>/dev/null
key expired localhost
printf '[ca]\ndefault_ca=t\n[t]\ndatabase=index.txt\nnew_certs_dir=.\nserial=serial\n' > ca.cnf
printf 'default_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n' >> ca.cnf
: > index.txt
echo 1000 > serial
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem \
    -startdate 20200101000000Z -enddate 20200201000000Z -extfile local.ext -notext 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -keyout self.key -out self.pem -days 30 \
    -subj /CN=localhost -addext subjectAltName=IP:127.0.0.1,DNS:localhost 2>/dev/null
chmod 644 *.key
"""


class TestCertificates:
    def __init__(self, folder):
        self.folder = folder
        subprocess.run(["/bin/sh", "-c", SCRIPT], cwd=folder, check=True)

    def pem(self, name):
        return os.path.join(self.folder, name + ".pem")

    def key(self, name):
        return os.path.join(self.folder, name + ".key")

    def pair(self, name):
        return self.pem(name), self.key(name)

    def fingerprint(self, name):
        """As openssl prints it: upper-case hex pairs with colons."""
        out = subprocess.run(["openssl", "x509", "-in", self.pem(name), "-noout", "-fingerprint",
                              "-sha256"], check=True, capture_output=True, text=True).stdout
        return out.strip().split("=", 1)[1]
