#!/bin/sh
# Signs an executable in place with Authenticode (osslsigncode), with the code-signing
# certificate named by the environment:
#   KELDRIX_SIGN_PKCS12         the certificate and its private key, a PKCS#12 file
#   KELDRIX_SIGN_PASSWORD       the PKCS#12 file's password (may be empty)
#   KELDRIX_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamping server, so that the
#                               signature stays valid after the certificate expires
set -eu
executable="$1"
: "${KELDRIX_SIGN_PKCS12:?names no PKCS#12 file}"
command -v osslsigncode >/dev/null || { echo "osslsigncode is missing (sh scripts/install-dependencies.sh)" >&2; exit 1; }
signed="$executable.signed"
trap 'rm -f "$signed"' EXIT
set -- sign -pkcs12 "$KELDRIX_SIGN_PKCS12" -readpass /dev/stdin -h sha256 -n "KELDRIX Network Helper" \
       -in "$executable" -out "$signed"
[ -n "${KELDRIX_SIGN_TIMESTAMP_URL:-}" ] && set -- "$@" -ts "$KELDRIX_SIGN_TIMESTAMP_URL"
# The password goes through a pipe rather than the command line, which other users can read.
printf '%s' "${KELDRIX_SIGN_PASSWORD:-}" | osslsigncode "$@" >/dev/null
cat "$signed" > "$executable"
