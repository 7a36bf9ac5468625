#!/usr/bin/env bash
# scripts/sign.sh with a throwaway code-signing certificate, and the signed package
# under Wine. That a changed byte breaks a signature, and that the system's roots do not
# know the certificate, are osslsigncode's.
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

step "a throwaway code-signing certificate"
password="test-$(od -An -tx1 -N12 /dev/urandom | tr -d ' \n')"
printf '%s\n' "$password" >"$keys/password"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$keys/key.pem" -out "$keys/certificate.pem" -days 2 \
  -subj "/CN=Noxel Throwaway Code Signing" -addext "extendedKeyUsage=codeSigning" >"$keys/openssl.log" 2>&1
openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/certificate.pem" -passout "file:$keys/password" \
  -out "$keys/signing.pfx" >>"$keys/openssl.log" 2>&1

# run_sign ARGUMENT...: sign.sh's exit code, with its output in $work/sign.out.
run_sign() { bash "$sign" "$@" >"$work/sign.out" 2>&1 && echo 0 || echo $?; }

step "sign.sh: the executable and the custom action DLL, the password from a file"
cp "$exe" "$out/NoxelAlsSvc.exe"
cp "$actions" "$out/NoxelAlsInstallerActions.dll"
expect_equal "sign.sh: exit code" 0 \
  "$(run_sign --pfx "$keys/signing.pfx" --password-file "$keys/password" --ca "$keys/certificate.pem" \
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
  "$(NOXEL_SIGN_PASSWORD=$password run_sign --pfx "$keys/signing.pfx" --ca "$keys/certificate.pem" "$package")"
expect_equal "sign.sh: what it says" "signed and verified: $package" "$(cat "$work/sign.out")"

step "osslsigncode verify"
for file in "$out/NoxelAlsSvc.exe" "$out/NoxelAlsInstallerActions.dll" "$package"; do
  verified=$(osslsigncode verify -CAfile "$keys/certificate.pem" -in "$file" 2>&1; echo "exit code $?")
  expect_match "$(basename "$file"): SHA-256, signed by the throwaway certificate, verified" \
    '.*Message digest algorithm *: SHA256.*Subject: /CN=Noxel Throwaway Code Signing.* exit code 0' \
    "${verified//$'\n'/ }"
done

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
