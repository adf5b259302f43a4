#!/usr/bin/env bash
# A signed release, end to end, with a throwaway certificate authority made here: the
# package and the three programs in it carry signatures that verify against that
# authority, the package still installs and removes under Wine, and a wrong password,
# an expired certificate or a key inside the source tree stop the release step without
# a package that looks signed.
#
#   release_signing_test.sh SOURCE_DIR ORVELCFG ORVELCPL LIBRARY PACKAGE_DIR VERSION UPGRADE_CODE
set -uo pipefail
source_dir=$1 orvelcfg=$2 orvelcpl=$3 library=$4 package_dir=$5 version=$6 upgrade_code=$7
build=$source_dir/packaging/build-package.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check WHAT COMMAND...: one line per check, and a count of the failures
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# The authority, a code-signing certificate valid now and one that expired in 2021.
cd "$work" || exit 1
cat >ca.cnf <<'EOF'
[ca]
default_ca = ca_section
[ca_section]
dir = .
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
[req]
distinguished_name = name
[name]
[authority]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
[signing]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
EOF
: >index.txt
echo 1000 >serial
quiet() { "$@" >/dev/null 2>&1; }
quiet openssl req -config ca.cnf -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem \
  -days 30 -subj "/CN=Orvel Test Authority" -extensions authority || exit 1
make_certificate() {  # NAME START END
  quiet openssl req -config ca.cnf -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" \
    -subj "/CN=Vantor Corporation Test Signing" &&
    quiet openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in "$1.csr" -out "$1.pem" \
      -startdate "$2" -enddate "$3" -extensions signing -notext &&
    quiet openssl pkcs12 -export -in "$1.pem" -inkey "$1.key" -certfile ca.pem -out "$1.p12" \
      -passout pass:"release secret"
}
make_certificate good "$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)" "$(date -u -d '+10 days' +%Y%m%d%H%M%SZ)" || exit 1
make_certificate expired 20200101000000Z 20210101000000Z || exit 1
printf 'release secret\n' >password

release() {  # OUTPUT [VAR=VALUE...]: the release step with these settings
  local output=$1
  shift
  env ORVEL_SIGN_PKCS12="$work/good.p12" ORVEL_SIGN_PASSWORD_FILE="$work/password" \
    ORVEL_SIGN_URL="https://quorin.example/network-driver" ORVEL_SIGN_CA_FILE="$work/ca.pem" \
    ORVEL_SIGN_SOURCE_DIR="$source_dir" "$@" \
    "$build" "$output" "$orvelcfg" "$orvelcpl" "$library" "$version" "$upgrade_code" \
    "$package_dir" >"$output.log" 2>&1
}
verifies() {  # FILE: the signature checks out against the test authority, with SHA-256
  osslsigncode verify -in "$1" -CAfile "$work/ca.pem" >"$1.verify" 2>&1 &&
    grep -q '^Signature verification: ok' "$1.verify" &&
    grep -q 'SHA256' "$1.verify" &&
    grep -q 'Vantor Corporation Test Signing' "$1.verify"
}

signed=$work/out/Orvel.msi
mkdir -p out
check "the release step signs" release "$signed"
cat "$signed.log"
check "the package verifies" verifies "$signed"
msiextract -C inside "$signed" >/dev/null
msidump -s -d inside "$signed" >/dev/null
for program in inside/Orvelcfg.exe inside/Orvelcpl.cpl inside/_Streams/Binary.CustomActions; do
  check "$(basename "$program") in the package verifies" verifies "$program"
  echo "--- osslsigncode verify $(basename "$program"):"
  cat "$program.verify"
done
echo "--- osslsigncode verify Orvel.msi:"
cat "$signed.verify"
check "the product's name and URL are in the signature" \
  grep -q 'https://quorin.example/network-driver' "$signed.verify"

# Refusals: a message, and no package at all.
refused() {  # WHAT MESSAGE VAR=VALUE...
  local what=$1 message=$2 output=$work/out/refused.msi
  shift 2
  release "$output" "$@"
  local status=$?
  check "$what: the step fails" test "$status" -ne 0
  check "$what: it says why" grep -q "$message" "$output.log"
  check "$what: no package is left" test ! -e "$output"
  check "$what: no signed-looking program is left" \
    bash -c "! ls '$work/out/refused-programs/'* 2>/dev/null | xargs -r -n1 osslsigncode verify -CAfile '$work/ca.pem' -in 2>/dev/null | grep -q 'Signature verification: ok'"
}
refused "a wrong password" "the password does not open" ORVEL_SIGN_PASSWORD_FILE= \
  ORVEL_SIGN_PASSWORD=wrong
refused "an expired certificate" "expired" ORVEL_SIGN_PKCS12="$work/expired.p12"
refused "a missing certificate" "missing or cannot be read" ORVEL_SIGN_PKCS12="$work/none.p12"
refused "a key inside the source tree" "source tree" ORVEL_SIGN_SOURCE_DIR="$work"

# The signed package installs and removes as the unsigned one does.
run() { "$source_dir/cmake/wine-run.sh" "$@"; }
windows_path() { echo "Z:${1//\//\\}"; }
drive_c=$ORVEL_WINEPREFIX/drive_c
# Wine's uninstall removes an emptied SysWOW64 too, which a prefix without 32-bit support
# has empty; it is made again after.
syswow64=$drive_c/windows/syswow64
had_syswow64=
[ ! -d "$syswow64" ] || had_syswow64=1
# A fresh Wine prefix lacks the 32-bit view of the MIDI driver slots, which every 64-bit
# Windows has; it goes again after, if it was made here.
drivers32='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
made_drivers32=
if ! run reg query "$drivers32" /reg:32 >/dev/null 2>&1; then
  run reg add "$drivers32" /reg:32 /f >/dev/null 2>&1 && made_drivers32=1
fi
run "$drive_c/windows/system32/msiexec.exe" /i "$(windows_path "$signed")" /qn /norestart
check "the signed package installs" test $? -eq 0
check "the installed applet is the signed one" cmp -s "$drive_c/windows/system32/Orvelcpl.cpl" \
  "$work/out/Orvel-programs/Orvelcpl.cpl"
run "$drive_c/windows/system32/msiexec.exe" /x "$(windows_path "$signed")" /qn /norestart
check "the signed package removes" test $? -eq 0
check "the applet is gone" test ! -e "$drive_c/windows/system32/Orvelcpl.cpl"
[ -z "$made_drivers32" ] || run reg delete "$drivers32" /reg:32 /f >/dev/null 2>&1
[ -z "$had_syswow64" ] || mkdir -p "$syswow64"

echo "release signing: $failures failed checks"
[ "$failures" -eq 0 ]
