#!/usr/bin/env bash
# Builds one Windows Installer package of Halvane for Outlook from a build tree's two DLLs:
#   1. copies them to a staging folder, splits their debug information off into
#      <out>/symbols/<arch>/<name>.debug and leaves a debug link in the stripped DLL;
#   2. signs both DLLs (Authenticode);
#   3. runs wixl on installer/HalvaneForOutlook.wxs, sets the conditions of the Office key
#      components with msibuild, and signs the package.
# Usage: build-package.sh --arch x64|x86 --addin HvOut.dll --options HvToolsOpts.dll --out DIR
#        [--icons DIR]... [--objcopy TOOL] [--version V --product-code GUID --name FILE.msi]
# Signing: HV_SIGN_PKCS12 (a .pfx) or HV_SIGN_CERT and HV_SIGN_KEY (PEM), with HV_SIGN_PASSWORD
# when the key has one; without them a throwaway test certificate is made once per checkout in
# build/test-signing (its CA, ca.pem, is what verifies the signatures; it is trusted nowhere).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

arch="" addin="" options="" out="" objcopy="objcopy" version="" product_code="" name=""
icon_dirs=()
while [ $# -gt 0 ]; do
  case "$1" in
    --arch) arch=$2; shift 2 ;;
    --addin) addin=$2; shift 2 ;;
    --options) options=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --icons) icon_dirs+=("$2"); shift 2 ;;
    --objcopy) objcopy=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --product-code) product_code=$2; shift 2 ;;
    --name) name=$2; shift 2 ;;
    *) echo "build-package: unknown argument $1" >&2; exit 2 ;;
  esac
done
case "$arch" in x64|x86) ;; *) echo "build-package: --arch x64 or x86" >&2; exit 2 ;; esac
[ -f "$addin" ] && [ -f "$options" ] && [ -n "$out" ] || { echo "build-package: --addin, --options and --out" >&2; exit 2; }
addin=$(realpath "$addin")
options=$(realpath "$options")
if [ -z "$version" ]; then
  version=$(sed -n 's/^#define HV_VERSION_TEXT "\(.*\)"/\1/p' "$root/common/Version.h")
fi
[ -n "$name" ] || name="HalvaneForOutlook-$version-$arch.msi"

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage="$out/stage-$arch"
symbols="$out/symbols/$arch"
rm -rf "$stage"
mkdir -p "$stage" "$symbols"

# --- signing identity -----------------------------------------------------------------------
sign_args=()
if [ -n "${HV_SIGN_PKCS12:-}" ]; then
  sign_args=(-pkcs12 "$HV_SIGN_PKCS12")
  [ -n "${HV_SIGN_PASSWORD:-}" ] && sign_args+=(-pass "$HV_SIGN_PASSWORD")
elif [ -n "${HV_SIGN_CERT:-}" ] && [ -n "${HV_SIGN_KEY:-}" ]; then
  sign_args=(-certs "$HV_SIGN_CERT" -key "$HV_SIGN_KEY")
  [ -n "${HV_SIGN_PASSWORD:-}" ] && sign_args+=(-pass "$HV_SIGN_PASSWORD")
else
  # A throwaway CA and a code-signing certificate issued by it, shared by the build trees.
  ts="$root/build/test-signing"
  mkdir -p "$ts"
  exec 8>"$ts/.lock"
  flock 8
  if [ ! -f "$ts/signer.pem" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -keyout "$ts/ca.key" -out "$ts/ca.pem" \
      -subj "/O=Halvane/CN=Halvane test signing CA (not trusted)" \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout "$ts/signer.key" -out "$ts/signer.csr" \
      -subj "/O=Halvane/CN=Halvane for Outlook (test build)" 2>/dev/null
    printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
      "extendedKeyUsage=codeSigning" >"$ts/signer.ext"
    openssl x509 -req -in "$ts/signer.csr" -CA "$ts/ca.pem" -CAkey "$ts/ca.key" -CAcreateserial \
      -days 3650 -extfile "$ts/signer.ext" -out "$ts/signer.pem" 2>/dev/null
  fi
  flock -u 8
  sign_args=(-certs "$ts/signer.pem" -key "$ts/signer.key")
fi
sign() {  # file description
  osslsigncode sign "${sign_args[@]}" -h sha256 -n "$2" -i "https://www.halvane.com/" \
    -in "$1" -out "$1.signed" >/dev/null
  mv -f "$1.signed" "$1"
}

# --- the release DLLs: debug information split off, signed ---------------------------------
for dll in "$addin" "$options"; do
  base=$(basename "$dll")
  "$objcopy" --only-keep-debug "$dll" "$symbols/$base.debug"
  (cd "$symbols" && "$objcopy" --strip-debug --add-gnu-debuglink="$base.debug" "$dll" "$stage/$base")
done
sign "$stage/HvOut.dll" "Halvane Add-in for Outlook"
sign "$stage/HvToolsOpts.dll" "Halvane Options for Outlook"

# --- icons beside the DLL, if the build made any --------------------------------------------
defines=(-D "Arch=$arch" -D "Version=$version")
has_icons=0
icons=()
for dir in "${icon_dirs[@]}"; do
  [ -d "$dir" ] || continue
  for ico in "$dir"/*.ico; do [ -f "$ico" ] && icons+=("$ico"); done
done
if [ "${#icons[@]}" -gt 0 ]; then
  {
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo '<Include>'
    n=0
    for ico in "${icons[@]}"; do
      n=$((n + 1))
      cp "$ico" "$stage/"
      echo "  <File Id=\"Icon$n\" Name=\"$(basename "$ico")\" Source=\"$(basename "$ico")\"$([ $n = 1 ] && echo ' KeyPath="yes"') />"
    done
    echo '</Include>'
  } >"$stage/Icons.wxi"
  has_icons=1
fi
defines+=(-D "HasIcons=$has_icons")

# --- the package ----------------------------------------------------------------------------
msi="$out/$name"
rm -f "$msi"
# wixl finds sources relative to the folder it runs in.
(cd "$stage" && wixl -a "$arch" -I "$stage" "${defines[@]}" -o "$msi.unsigned" "$here/HalvaneForOutlook.wxs")
# Conditions: DllRegisterServer puts the add-in key under the user when Outlook's version (the
# text after the last '.' of HKCR\Outlook.Application\CurVer, "11" when unknown) sorts below
# "12" as a byte string, else under the machine. For the versions Office has had (8 to 16) that
# is: missing or no '.', or ending in ".1", ".10" or ".11" (or in '.').
below12='(NOT OUTLOOKCURVER OR NOT (OUTLOOKCURVER >< ".") OR OUTLOOKCURVER >> "." OR OUTLOOKCURVER >> ".1" OR OUTLOOKCURVER >> ".10" OR OUTLOOKCURVER >> ".11")'
msibuild "$msi.unsigned" \
  -q "UPDATE \`Component\` SET \`Condition\` = '$below12' WHERE \`Component\` = 'OfficeKeyUser'" \
  -q "UPDATE \`Component\` SET \`Condition\` = 'NOT $below12' WHERE \`Component\` = 'OfficeKeyMachine'"
# wixl leaves the files' versions out; Windows Installer compares them on upgrade and repair.
for dll in HvOut.dll HvToolsOpts.dll; do
  msibuild "$msi.unsigned" -q "UPDATE \`File\` SET \`Version\` = '$version', \`Language\` = '1033' WHERE \`File\` = '$dll'"
done
# Another product code, for a package that stands for another release in the upgrade tests.
if [ -n "$product_code" ]; then
  msibuild "$msi.unsigned" -q "UPDATE \`Property\` SET \`Value\` = '$product_code' WHERE \`Property\` = 'ProductCode'"
fi
mv -f "$msi.unsigned" "$msi"
sign "$msi" "Halvane for Outlook"
echo "build-package: $msi"
