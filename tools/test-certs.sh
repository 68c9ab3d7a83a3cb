#!/usr/bin/env bash
# Makes throwaway certificates for one CI or test run, never for a release:
# a test CA, and signed by it
#   codesign.p12 (+ codesign.pass)  code signing, for tools/windows/sign.sh
#   good.pem/.key                   TLS server, localhost, valid now
#   wrong-name.pem/.key             TLS server, valid now, for another host name
#   expired.pem/.key                TLS server, localhost, expired in 2021
# Usage: test-certs.sh <folder>
set -euo pipefail
out=${1:?usage: test-certs.sh <folder>}
mkdir -p "$out"
cd "$out"
rm -rf ca-db; mkdir ca-db; : > ca-db/index.txt

cat > ca.cnf <<'CNF'
[ca]
default_ca = test_ca
[test_ca]
dir = ca-db
database = ca-db/index.txt
new_certs_dir = ca-db
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = any
unique_subject = no
rand_serial = yes
[any]
commonName = supplied
[v3_ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[codesign]
basicConstraints = CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
[server]
basicConstraints = CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:$ENV::SERVER_NAME
CNF

# openssl talks on stderr even when all is well: shown only on failure.
: > openssl.log
trap 'status=$?; [ "$status" -eq 0 ] || cat openssl.log >&2' EXIT
ossl() { openssl "$@" >/dev/null 2>>openssl.log; }
export SERVER_NAME=unused
ossl req -x509 -new -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=strobix test CA $(date +%s)" -config ca.cnf -extensions v3_ca

# <name> <section> <common name> <start> <end>
leaf() {
    ossl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=$3"
    SERVER_NAME=$3 ossl ca -batch -config ca.cnf -extensions "$2" -notext \
        -startdate "$4" -enddate "$5" -in "$1.csr" -out "$1.pem"
    rm -f "$1.csr"
}
now=$(date -u -d '-1 hour' +%Y%m%d%H%M%SZ)
later=$(date -u -d '+2 days' +%Y%m%d%H%M%SZ)
leaf codesign codesign "Orvane kelvio GmbH (test)" "$now" "$later"
leaf good server localhost "$now" "$later"
leaf wrong-name server firmware.other.example "$now" "$later"
leaf expired server localhost 20200101000000Z 20210101000000Z

openssl rand -hex 16 > codesign.pass
ossl pkcs12 -export -inkey codesign.key -in codesign.pem -certfile ca.pem \
    -passout file:codesign.pass -out codesign.p12
