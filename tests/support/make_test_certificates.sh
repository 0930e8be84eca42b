#!/bin/sh
# Certificates for the TLS tests, made with openssl in the current folder (the unit tests and the
# interop tests both call this):
#   ca       a test authority (what --ca-file points at)
#   good     for 127.0.0.1 and localhost, from ca
#   other    for other.example only, from ca
#   expired  for 127.0.0.1 and localhost, from ca, valid only in January 2020
#   self     for 127.0.0.1 and localhost, self-signed
#   self2    the same names, another self-signed certificate
# and NAME.sha256 with each one's fingerprint as openssl prints it, so that no expectation is
# computed by Quorlin. Keys are readable by all: Dovecot reads them after dropping privileges.
set -e
key() { openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$1.key" \
          -out "$1.csr" -subj "/CN=$2" 2>/dev/null; }
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key \
    -out ca.pem -days 30 -subj "/CN=Quorlin Test CA" 2>/dev/null
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
for n in self self2; do
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout $n.key \
      -out $n.pem -days 30 -subj /CN=localhost \
      -addext subjectAltName=IP:127.0.0.1,DNS:localhost 2>/dev/null
done
for n in ca good other expired self self2; do
  openssl x509 -in $n.pem -noout -fingerprint -sha256 > $n.sha256
done
chmod 644 *.key
