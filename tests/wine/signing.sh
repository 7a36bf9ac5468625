#!/usr/bin/env bash
# scripts/sign.sh with a throwaway CA and code-signing certificate: the executable is
# signed, the package is built around it and signed in turn; both verify against the CA
# and only against it, one flipped byte breaks each signature, a wrong password signs
# nothing; the signed package installs under Wine and its service runs the signed
# executable.
# Usage: signing.sh NoxelAlsSvc.exe NoxelAlsInstallerActions.dll VERSION
#                   packaging/build-msi.cmake CMAKE scripts/sign.sh
source "$(dirname "$0")/lib.sh"
exe=$1
actions=$2
version=$3
build_msi=$4
cmake=$5
sign=$6

keys="$work/keys"
out="$work/out"
mkdir -p "$keys" "$out"

step "a throwaway CA and code-signing certificate"
password="test-$(od -An -tx1 -N12 /dev/urandom | tr -d ' \n')"
printf '%s\n' "$password" >"$keys/password"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/ca.key" -out "$keys/ca.crt" -days 2 \
  -subj "/CN=Noxel Throwaway Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" >"$keys/openssl.log" 2>&1
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/leaf.key" -out "$keys/leaf.crt" -days 2 \
  -CA "$keys/ca.crt" -CAkey "$keys/ca.key" -subj "/CN=Noxel Throwaway Code Signing" \
  -addext "basicConstraints=CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" >>"$keys/openssl.log" 2>&1
openssl pkcs12 -export -inkey "$keys/leaf.key" -in "$keys/leaf.crt" -certfile "$keys/ca.crt" \
  -passout "file:$keys/password" -out "$keys/signing.pfx" >>"$keys/openssl.log" 2>&1

# run_sign ARGUMENT...: sign.sh's exit code, with its output in $work/sign.out.
run_sign() { bash "$sign" "$@" >"$work/sign.out" 2>&1 && echo 0 || echo $?; }
# verify FILE [ARGUMENT...]: "ok" or "fail" from osslsigncode verify, its output in
# $work/verify.out.
verify() { osslsigncode verify "${@:2}" -in "$1" >"$work/verify.out" 2>&1 && echo ok || echo fail; }
# flipped FILE OFFSET: a copy of FILE with the lowest bit of the byte at OFFSET flipped.
flipped() {
  local copy="$1.flipped" byte
  cp "$1" "$copy"
  byte=$(od -An -tu1 -j "$2" -N1 "$copy" | tr -d ' ')
  printf '%b' "\\$(printf '%03o' $((byte ^ 1)))" | dd of="$copy" bs=1 seek="$2" conv=notrunc status=none
  echo "$copy"
}

step "sign.sh: the executable and the custom action DLL, the password from a file"
cp "$exe" "$out/NoxelAlsSvc.exe"
cp "$actions" "$out/NoxelAlsInstallerActions.dll"
expect_equal "sign.sh: exit code" 0 \
  "$(run_sign --pfx "$keys/signing.pfx" --password-file "$keys/password" --ca "$keys/ca.crt" \
    "$out/NoxelAlsSvc.exe" "$out/NoxelAlsInstallerActions.dll")"
expect_equal "sign.sh: what it says" \
  "signed and verified: $out/NoxelAlsSvc.exe
signed and verified: $out/NoxelAlsInstallerActions.dll" "$(cat "$work/sign.out")"

step "the package built around the signed executable, signed with the password from the environment"
"$cmake" -DVERSION="$version" -DEXECUTABLE="$out/NoxelAlsSvc.exe" -DACTIONS="$out/NoxelAlsInstallerActions.dll" \
  -DOUTPUT="$out/NoxelAlsSvc-$version-x64.msi" -P "$build_msi" >"$work/build-msi.log" 2>&1 ||
  { cat "$work/build-msi.log"; exit 1; }
package="$out/NoxelAlsSvc-$version-x64.msi"
expect_equal "sign.sh: exit code" 0 \
  "$(NOXEL_SIGN_PASSWORD=$password run_sign --pfx "$keys/signing.pfx" --ca "$keys/ca.crt" "$package")"
expect_equal "sign.sh: what it says" "signed and verified: $package" "$(cat "$work/sign.out")"

step "osslsigncode verify"
for file in "$out/NoxelAlsSvc.exe" "$out/NoxelAlsInstallerActions.dll" "$package"; do
  expect_equal "$(basename "$file"): verifies against the CA" ok "$(verify "$file" -CAfile "$keys/ca.crt")"
  expect_match "$(basename "$file"): SHA-256, signed by the leaf" \
    '.*Message digest algorithm *: SHA256.*Subject: /CN=Noxel Throwaway Code Signing.*' \
    "$(tr '\n' ' ' <"$work/verify.out")"
  # The system's roots do not know the throwaway CA: the chain is really checked.
  expect_equal "$(basename "$file"): does not verify against the system's roots" fail "$(verify "$file")"
done
# Half-way into the executable lies code; the product's name lies in the package's
# string pool. Both are under the signature.
exe_flipped=$(flipped "$out/NoxelAlsSvc.exe" $(($(stat -c %s "$out/NoxelAlsSvc.exe") / 2)))
expect_equal "the executable with one byte flipped: fails" fail "$(verify "$exe_flipped" -CAfile "$keys/ca.crt")"
name_at=$(grep -boa 'Noxel Ambient Light Sensor Service' "$package" | head -1 | cut -d: -f1)
package_flipped=$(flipped "$package" "$name_at")
expect_equal "the package with one byte flipped: fails" fail "$(verify "$package_flipped" -CAfile "$keys/ca.crt")"
expect_match "the package's digest is reported as a mismatch" '.*MISMATCH.*' "$(tr '\n' ' ' <"$work/verify.out")"

step "sign.sh refuses what it cannot sign, and leaves the file as it was"
cp "$exe" "$out/unsigned.exe"
printf 'not the password\n' >"$keys/wrong"
expect_equal "a wrong password: exit code" 1 \
  "$(run_sign --pfx "$keys/signing.pfx" --password-file "$keys/wrong" "$out/unsigned.exe")"
expect_match "a wrong password: the report" 'signing .*unsigned.exe failed:.*' "$(head -1 "$work/sign.out")"
expect_equal "a wrong password: nothing left beside the file" "" "$(shopt -s nullglob; cd "$out"; echo ./*.signing*)"
expect_equal "no password given: exit code" 2 \
  "$(env -u NOXEL_SIGN_PASSWORD bash "$sign" --pfx "$keys/signing.pfx" "$out/unsigned.exe" >/dev/null 2>&1; echo $?)"
expect_equal "a password option on the command line: exit code" 2 \
  "$(run_sign --pfx "$keys/signing.pfx" --password "$password" "$out/unsigned.exe")"
expect_same_file "refused: the file unchanged" "$exe" "$out/unsigned.exe"

step "the signed package under Wine"
start_prefix
mkdir -p "$WINEPREFIX/drive_c/packages"
cp "$package" "$WINEPREFIX/drive_c/packages/signed.msi"
expect_equal "msiexec /i of the signed package: exit status" 0 "$(msiexec /i 'C:\packages\signed.msi' /qn)"
expect_state "the service runs" RUNNING
expect_same_file "the installed executable is the signed one" \
  "$out/NoxelAlsSvc.exe" "$WINEPREFIX/drive_c/Program Files/Noxel ALS/NoxelAlsSvc.exe"
