#!/usr/bin/env bash
# Makes the fixed keys and signatures of CryptoTest with the openssl tool, as
# a publisher makes them. Run once; the results are committed, so that the
# Windows tests under Wine need no openssl. Signatures are random: one whose r
# has fewer than 32 significant bytes is searched for, to prove the padding.
set -euo pipefail
cd "$(dirname "$0")"
printf '# Quillbox manifest\n# Serial: 1\n# Expires: 2030-01-01T00:00:00Z\n' >message.txt
openssl ecparam -name prime256v1 -genkey -noout -out private.pem
openssl pkey -in private.pem -pubout -out public.pem
openssl ecparam -name prime256v1 -genkey -noout -out other-private.pem
openssl pkey -in other-private.pem -pubout -out other-public.pem
openssl ecparam -name prime256v1 -genkey -noout -param_enc explicit -out explicit-private.pem
openssl pkey -in explicit-private.pem -pubout -out explicit-public.pem
openssl ecparam -name prime256v1 -genkey -noout -out compressed-private.pem
openssl pkey -in compressed-private.pem -pubout -ec_conv_form compressed -out compressed-public.pem
openssl ecparam -name secp384r1 -genkey -noout -out p384-private.pem
openssl pkey -in p384-private.pem -pubout -out p384-public.pem
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa-private.pem 2>/dev/null
openssl pkey -in rsa-private.pem -pubout -out rsa-public.pem
openssl dgst -sha256 -sign private.pem -out good.sig message.txt
openssl dgst -sha256 -sign other-private.pem -out other.sig message.txt
openssl dgst -sha256 -sign p384-private.pem -out p384.sig message.txt
# An r below 2^248 is DER-encoded in at most 31 bytes: 0x30 len 0x02 0x1f...
while :; do
  openssl dgst -sha256 -sign private.pem -out short-r.sig message.txt
  [ "$(od -An -tx1 -j3 -N1 short-r.sig | tr -d ' ')" = "1f" ] && break
done
rm -f other-private.pem explicit-private.pem compressed-private.pem p384-private.pem rsa-private.pem
