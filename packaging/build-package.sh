#!/usr/bin/env bash
# Builds one installation package from Orvel.wxs, the tables wixl cannot write, and the
# programs it carries; with the maker's certificate (see sign-release.sh) it signs the
# programs before they go in and the package itself after, and checks every signature,
# also of the files inside the package. The package build and the signing test call it.
#
#   build-package.sh OUTPUT ORVELCFG ORVELCPL LIBRARY VERSION UPGRADE_CODE PACKAGE_DIR
#
# PACKAGE_DIR holds the driver INF and files; the programs are copied next to OUTPUT,
# into OUTPUT's name with "-programs". Nothing is left at OUTPUT unless all went well.
set -euo pipefail

if [ $# -ne 7 ]; then
  echo "usage: build-package.sh OUTPUT ORVELCFG ORVELCPL LIBRARY VERSION UPGRADE_CODE PACKAGE_DIR" >&2
  exit 2
fi
output=$(realpath -m "$1")
orvelcfg=$2 orvelcpl=$3 library=$4 version=$5 upgrade_code=$6 package_dir=$(realpath "$7")
here=$(cd "$(dirname "$0")" && pwd)
wixl=${ORVEL_WIXL:-wixl}
msibuild=${ORVEL_MSIBUILD:-msibuild}
sign=$here/sign-release.sh
signing=
[ -z "${ORVEL_SIGN_PKCS12:-}${ORVEL_SIGN_CERTIFICATE:-}" ] || signing=1

programs=${output%.msi}-programs
tmp=$output.tmp
rm -f "$output" "$tmp"
inside=
# A step that fails leaves no package and no program copy that may carry a signature.
cleanup() {
  local status=$?
  rm -f "$tmp"
  [ -z "$inside" ] || rm -rf "$inside"
  [ "$status" -eq 0 ] || rm -rf "$programs"
}
trap cleanup EXIT
mkdir -p "$programs"
cp -f "$orvelcfg" "$programs/Orvelcfg.exe"
cp -f "$orvelcpl" "$programs/Orvelcpl.cpl"
cp -f "$library" "$programs/vorvel_custom_action64.dll"
if [ -n "$signing" ]; then
  "$sign" sign "$programs/Orvelcfg.exe" "$programs/Orvelcpl.cpl" \
    "$programs/vorvel_custom_action64.dll"
fi

# wixl takes only paths relative to the folder it runs in.
relative=$(realpath --relative-to="$package_dir" "$programs")
cd "$package_dir"
"$wixl" -a x64 -o "$tmp" -D "OrvelcfgExe=$relative/Orvelcfg.exe" \
  -D "OrvelcplCpl=$relative/Orvelcpl.cpl" -D "CustomActionsDll=$relative/vorvel_custom_action64.dll" \
  -D "ProductVersion=$version" -D "UpgradeCode=$upgrade_code" "$here/Orvel.wxs"
query() { "$msibuild" "$tmp" -q "$1"; }
# wixl has no Error element: the messages go in as a table.
"$msibuild" "$tmp" -i "$here/Error.idt"
# wixl has no PermissionEx: the settings folder's lock-down goes in as a table, which
# Windows Installer 5 applies when CreateFolders makes (or repairs) the folder: owner
# Administrators, SYSTEM and Administrators full control, Users read and execute, nothing
# inherited.
"$msibuild" "$tmp" -i "$here/MsiLockPermissionsEx.idt"
# Nor Component/@Permanent: 16 (permanent) with 256 (64-bit), so that removing the
# product keeps the settings folder even when it is empty.
query "UPDATE \`Component\` SET \`Attributes\` = 272 WHERE \`Component\` = 'SettingsFolder'"
# wixl drops RemoveFolder's Directory and names the component's own folder instead.
query "UPDATE \`RemoveFile\` SET \`DirProperty\` = 'VantorFolder' WHERE \`FileKey\` = 'RemoveVantorFolder'"
# wixl writes Execute="rollback" as immediate: 3393 is a deferred, not impersonated
# rollback DLL action whose result is ignored (1 + 64 + 256 + 1024 + 2048).
query "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = 'RollbackDriver' OR \`Action\` = 'RollbackRootNode' OR \`Action\` = 'RollbackMidiSlot'"
query "UPDATE \`CustomAction\` SET \`Type\` = 3393 WHERE \`Action\` = 'RollbackSetupFileSettings'"
# And Execute="commit": 3649 is a not impersonated commit DLL action whose result is
# ignored (1 + 64 + 512 + 1024 + 2048).
query "UPDATE \`CustomAction\` SET \`Type\` = 3649 WHERE \`Action\` = 'CommitSetupFileSettings'"
# wixl has no Property/@Secure: the public properties that a managed install passes on.
query "UPDATE \`Property\` SET \`Value\` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;SETUPFILE;LAUNCHEDBYINTEGRATOR' WHERE \`Property\` = 'SecureCustomProperties'"
# wixl has no MajorUpgrade/@AllowSameVersionUpgrades: a rebuild of the same version
# (another product code) replaces the installed one too (513: migrate features, maximum
# version inclusive) rather than installing beside it. The row's attributes are part of
# its key, so it is replaced.
query "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'"
query "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`) VALUES ('{$upgrade_code}', '$version', 513, 'WIX_UPGRADE_DETECTED')"

if [ -n "$signing" ]; then
  "$sign" sign "$tmp"
  # What goes out is what was signed: the package, and the programs as it holds them.
  inside=$(mktemp -d)
  mkdir -p "$inside/files" "$inside/streams"
  msiextract -C "$inside/files" "$tmp" >/dev/null
  msidump -s -d "$inside/streams" "$tmp" >/dev/null
  cmp -s "$inside/files/Orvelcfg.exe" "$programs/Orvelcfg.exe" &&
    cmp -s "$inside/files/Orvelcpl.cpl" "$programs/Orvelcpl.cpl" &&
    cmp -s "$inside/streams/_Streams/Binary.CustomActions" "$programs/vorvel_custom_action64.dll" || {
    echo "build-package: the package does not hold the programs that were signed" >&2
    exit 1
  }
  "$sign" verify "$tmp" "$inside/files/Orvelcfg.exe" "$inside/files/Orvelcpl.cpl" \
    "$inside/streams/_Streams/Binary.CustomActions"
fi
mv -f "$tmp" "$output"
