#!/usr/bin/env bash
# Makes the TLS fixtures of the tests and benchmarks (the files beside this script, committed):
#   ca.pem                    a local certificate authority ("Tarvik Test Authority")
#   server.pem, server.key    a server certificate it signed, for 127.0.0.1 and localhost
#   selfsigned.pem, .key      a self-signed certificate for the same names, which nobody trusts
# Each is valid for 100 years. The authority's key is thrown away: nothing else can be signed
# with it. Run again only to replace them all.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
days=36500
names="subjectAltName=IP:127.0.0.1,DNS:localhost"

openssl ecparam -name prime256v1 -genkey -noout -out "$work/ca.key"
openssl req -x509 -new -key "$work/ca.key" -sha256 -days $days -subj "/CN=Tarvik Test Authority" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out ca.pem

openssl ecparam -name prime256v1 -genkey -noout -out server.key
openssl req -new -key server.key -subj "/CN=127.0.0.1" -out "$work/server.csr"
printf '%s\n' "$names" "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=serverAuth" > "$work/server.ext"
openssl x509 -req -in "$work/server.csr" -CA ca.pem -CAkey "$work/ca.key" -CAcreateserial \
  -CAserial "$work/ca.srl" -sha256 -days $days -extfile "$work/server.ext" -out server.pem

openssl ecparam -name prime256v1 -genkey -noout -out selfsigned.key
openssl req -x509 -new -key selfsigned.key -sha256 -days $days -subj "/CN=127.0.0.1" \
  -addext "$names" -addext "extendedKeyUsage=serverAuth" -out selfsigned.pem
