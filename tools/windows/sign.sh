#!/usr/bin/env bash
# Signs Windows programs in place (Authenticode, SHA-256) with the maker's
# code-signing certificate, a PKCS#12 file named by STROBIX_SIGN_PKCS12 whose
# password is in STROBIX_SIGN_PASSWORD. The certificate never goes into the
# repository. STROBIX_SIGN_TIMESTAMP, an RFC 3161 server's URL, keeps the
# signatures valid after the certificate expires; releases should set it.
# Without STROBIX_SIGN_PKCS12 the files stay unsigned, and the script says so.
# Usage: sign.sh <file>...
#        sign.sh --warn-untimestamped   (build.sh, at its end)
. "$(dirname "$0")/common.sh"
[ $# -gt 0 ] || { echo "usage: sign.sh <file>..." >&2; exit 2; }

# Said once, where the end of a build's output shows it: a signed build without
# a timestamp must never be released, as its signatures turn invalid the day
# the certificate expires. (CI has no timestamp server and needs none.)
if [ "$1" = --warn-untimestamped ]; then
    [ -n "${STROBIX_SIGN_PKCS12:-}" ] && [ -z "${STROBIX_SIGN_TIMESTAMP:-}" ] || exit 0
    expiry=$(openssl pkcs12 -in "$STROBIX_SIGN_PKCS12" -passin file:<(printf '%s' "${STROBIX_SIGN_PASSWORD:-}") \
        -nokeys -clcerts 2>/dev/null | openssl x509 -noout -enddate 2>/dev/null | cut -d= -f2 || true)
    cat >&2 <<WARN
****************************************************************************
sign: NO TIMESTAMP. This build is signed with $STROBIX_SIGN_PKCS12,
      but STROBIX_SIGN_TIMESTAMP is not set: every signature in it becomes
      invalid when the certificate expires (${expiry:-on a date not read}).
      Do not release it; set STROBIX_SIGN_TIMESTAMP to an RFC 3161 timestamp
      server (docs/windows.md, "Signing").
****************************************************************************
WARN
    exit 0
fi

if [ -z "${STROBIX_SIGN_PKCS12:-}" ]; then
    for f in "$@"; do echo "sign: UNSIGNED (no STROBIX_SIGN_PKCS12): $f" >&2; done
    exit 0
fi
[ -f "$STROBIX_SIGN_PKCS12" ] || { echo "sign: no such file: $STROBIX_SIGN_PKCS12" >&2; exit 1; }
ensure_packages osslsigncode

stamp=()
[ -z "${STROBIX_SIGN_TIMESTAMP:-}" ] || stamp=(-ts "$STROBIX_SIGN_TIMESTAMP")
for f in "$@"; do
    # The password goes through a pipe, never onto a command line that ps shows.
    osslsigncode sign -pkcs12 "$STROBIX_SIGN_PKCS12" -readpass <(printf '%s' "${STROBIX_SIGN_PASSWORD:-}") \
        -h sha256 -n "strobix Firmware Updater" -i "https://www.kelvio.example/" "${stamp[@]}" \
        -in "$f" -out "$f.signed" >/dev/null
    mv "$f.signed" "$f"
    echo "sign: signed $f" >&2
done
