#!/usr/bin/env bash
# Signs the files of a release with the maker's Authenticode certificate and checks each
# signature it made. The package build calls it; it reads its settings from the
# environment, never from the repository:
#
#   ORVEL_SIGN_PKCS12             the PKCS#12 file with the certificate and its key, or
#   ORVEL_SIGN_CERTIFICATE and ORVEL_SIGN_KEY   the same as PEM files
#   ORVEL_SIGN_PASSWORD_FILE      a file whose first line is the password, or
#   ORVEL_SIGN_PASSWORD           the password itself (none for an unencrypted PEM key)
#   ORVEL_SIGN_URL                the product's web page, put into every signature
#   ORVEL_SIGN_TIMESTAMP_URL      an RFC 3161 time-stamp server (optional)
#   ORVEL_SIGN_CA_FILE            the certificate authorities the signatures are checked
#                                 against (default: the system's)
#   ORVEL_SIGN_SOURCE_DIR         the source tree, where none of these files may lie
#
#   sign-release.sh check            the settings are usable: files there, outside the
#                                    tree, the password right, the certificate valid now
#   sign-release.sh sign FILE...     signs each file in place (SHA-256)
#   sign-release.sh verify FILE...   checks each file's signature against the chain
#
# Any problem ends it with a message and status 1; a file it could not sign is removed,
# so that nothing unsigned passes for signed.
set -euo pipefail
# A failure inside $(...) ends the script too.
shopt -s inherit_errexit

say() { printf 'sign-release: %s\n' "$*" >&2; }
fail() {
  say "$*"
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 700 "$work"

# A file that must be there and must not come from the source tree.
outside_tree() {
  local what=$1 path=$2
  [ -f "$path" ] && [ -r "$path" ] || fail "$what $path is missing or cannot be read"
  if [ -n "${ORVEL_SIGN_SOURCE_DIR:-}" ]; then
    local real tree
    real=$(realpath "$path")
    tree=$(realpath "$ORVEL_SIGN_SOURCE_DIR")
    case "$real/" in
      "$tree"/*) fail "$what $path lies in the source tree; keep the maker's keys outside it" ;;
    esac
  fi
}

# The password in a file of our own, for openssl and osslsigncode to read: never on a
# command line, where every user of the machine could see it.
password_file() {
  local file=$work/password
  if [ -n "${ORVEL_SIGN_PASSWORD_FILE:-}" ]; then
    outside_tree "the password file" "$ORVEL_SIGN_PASSWORD_FILE"
    head -n 1 "$ORVEL_SIGN_PASSWORD_FILE" | tr -d '\r\n' >"$file"
  else
    printf '%s' "${ORVEL_SIGN_PASSWORD:-}" >"$file"
  fi
  echo "$file"
}

# The signing certificate as PEM, having checked that the password opens the key.
certificate() {
  local pass cert=$work/certificate.pem
  pass=$(password_file)
  if [ -n "${ORVEL_SIGN_PKCS12:-}" ]; then
    outside_tree "the PKCS#12 file" "$ORVEL_SIGN_PKCS12"
    openssl pkcs12 -in "$ORVEL_SIGN_PKCS12" -passin "file:$pass" -noout 2>/dev/null ||
      fail "the password does not open $ORVEL_SIGN_PKCS12, or it is no PKCS#12 file"
    openssl pkcs12 -in "$ORVEL_SIGN_PKCS12" -passin "file:$pass" -nokeys -clcerts 2>/dev/null |
      openssl x509 -out "$cert" 2>/dev/null || fail "$ORVEL_SIGN_PKCS12 holds no certificate"
  elif [ -n "${ORVEL_SIGN_CERTIFICATE:-}" ]; then
    outside_tree "the certificate" "$ORVEL_SIGN_CERTIFICATE"
    outside_tree "the key" "${ORVEL_SIGN_KEY:?ORVEL_SIGN_KEY must name the key of the certificate}"
    openssl pkey -in "$ORVEL_SIGN_KEY" -passin "file:$pass" -noout 2>/dev/null ||
      fail "the password does not open $ORVEL_SIGN_KEY, or it is no private key"
    openssl x509 -in "$ORVEL_SIGN_CERTIFICATE" -out "$cert" 2>/dev/null ||
      fail "$ORVEL_SIGN_CERTIFICATE is no certificate"
  else
    fail "no certificate: set ORVEL_SIGN_PKCS12, or ORVEL_SIGN_CERTIFICATE and ORVEL_SIGN_KEY"
  fi
  echo "$cert"
}

check() {
  local cert
  cert=$(certificate)
  # A signature made with an expired certificate is refused by Windows; so is one made
  # before the certificate was valid.
  openssl x509 -in "$cert" -noout -checkend 0 >/dev/null ||
    fail "the certificate expired on $(openssl x509 -in "$cert" -noout -enddate | cut -d= -f2)"
  local start
  start=$(openssl x509 -in "$cert" -noout -startdate | cut -d= -f2)
  [ "$(date -d "$start" +%s)" -le "$(date +%s)" ] || fail "the certificate is valid only from $start"
  openssl x509 -in "$cert" -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' ||
    fail "the certificate is not one for code signing"
  [ -n "${ORVEL_SIGN_URL:-}" ] || fail "ORVEL_SIGN_URL must name the product's web page"
  echo "$cert"
}

sign() {
  local cert pass
  cert=$(check)
  pass=$(password_file)
  local key=(-pkcs12 "${ORVEL_SIGN_PKCS12:-}")
  [ -n "${ORVEL_SIGN_PKCS12:-}" ] || key=(-certs "$ORVEL_SIGN_CERTIFICATE" -key "$ORVEL_SIGN_KEY")
  local stamp=()
  [ -z "${ORVEL_SIGN_TIMESTAMP_URL:-}" ] || stamp=(-ts "$ORVEL_SIGN_TIMESTAMP_URL")
  local file
  for file in "$@"; do
    [ -f "$file" ] || fail "$file is missing"
    if ! osslsigncode sign "${key[@]}" -readpass "$pass" -h sha256 -n "Quorin Network Driver" \
      -i "$ORVEL_SIGN_URL" "${stamp[@]}" -in "$file" -out "$file.signing" >"$work/log" 2>&1; then
      cat "$work/log" >&2
      rm -f "$file" "$file.signing"
      fail "$file could not be signed; it was removed"
    fi
    mv -f "$file.signing" "$file"
    say "signed $(basename "$file")"
  done
}

verify() {
  local ca=${ORVEL_SIGN_CA_FILE:-/etc/ssl/certs/ca-certificates.crt}
  [ -r "$ca" ] || fail "the certificate authorities $ca cannot be read"
  local file
  for file in "$@"; do
    if ! osslsigncode verify -in "$file" -CAfile "$ca" >"$work/log" 2>&1 ||
      ! grep -q '^Signature verification: ok' "$work/log"; then
      cat "$work/log" >&2
      fail "the signature of $file does not verify against $ca"
    fi
    say "verified $(basename "$file")"
  done
}

command=${1:-}
shift || true
case "$command" in
  check) check >/dev/null ;;
  sign) sign "$@" ;;
  verify) verify "$@" ;;
  *) fail "usage: sign-release.sh check | sign FILE... | verify FILE..." ;;
esac
