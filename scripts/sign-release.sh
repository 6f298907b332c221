#!/usr/bin/env bash
# Signs a release download with the project's Ed25519 release key and prints
# the line the version file on the update server needs:
#   scripts/sign-release.sh KEYFILE DOWNLOAD     ->  signature=<base64 of 64 bytes>
# Put that line into the version file, or the base64 alone into DOWNLOAD.sig
# beside the download. The public half, for TACHORA_UPDATE_PUBLIC_KEY:
#   scripts/sign-release.sh --public KEYFILE     ->  <base64 of 32 bytes>
# A new key pair: openssl genpkey -algorithm ED25519 -out KEYFILE (keep it
# out of the repository, mode 0600).
set -euo pipefail
usage() { echo "usage: $0 KEYFILE DOWNLOAD | --public KEYFILE" >&2; exit 2; }
[ $# -eq 2 ] || usage
if [ "$1" = "--public" ]; then
  # The DER form of an Ed25519 public key ends with its 32 raw bytes.
  openssl pkey -in "$2" -pubout -outform DER | tail -c 32 | base64 -w0
  echo
  exit 0
fi
KEY="$1"; DOWNLOAD="$2"
[ -f "$KEY" ] || { echo "$0: no key file $KEY" >&2; exit 1; }
[ -f "$DOWNLOAD" ] || { echo "$0: no download $DOWNLOAD" >&2; exit 1; }
sig="$(openssl pkeyutl -sign -rawin -inkey "$KEY" -in "$DOWNLOAD" | base64 -w0)"
echo "signature=$sig"
