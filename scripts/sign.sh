#!/usr/bin/env bash
# Signs files in place with an Authenticode signature (SHA-256) by osslsigncode, with the
# certificate and key of a PKCS#12 (.pfx) file, and verifies each signature before the
# signed file replaces the unsigned one: a file is either signed and verified or left as
# it was. Signs NoxelAlsSvc.exe, the MSI package and its custom action DLL alike.
#
# The password comes from a file (--password-file) or from the environment variable
# NOXEL_SIGN_PASSWORD, never from the command line, where every user of the machine can
# read it; osslsigncode reads it through a pipe.
#
# Usage: scripts/sign.sh --pfx FILE [--password-file FILE] [--timestamp URL] [--ca FILE] FILE...
#   --timestamp URL  an RFC 3161 time-stamping server: the signature then stays valid
#                    after the certificate expires
#   --ca FILE        the certificates to verify the chain against (PEM); by default the
#                    system's trusted roots
# The MSI package carries NoxelAlsSvc.exe inside it: sign the executable before the
# package is built, as scripts/release.sh does.
# Exit codes: 0 every file signed and verified, 1 a file failed, 2 bad usage.
set -euo pipefail

usage() {
  sed -n 's/^# Usage: /usage: /p' "$0" >&2
  [ -n "${1:-}" ] && echo "$(basename "$0"): $1" >&2
  exit 2
}

pfx="" password_file="" timestamp="" ca=""
while [ $# -gt 0 ]; do
  case $1 in
    --pfx) [ $# -ge 2 ] || usage "--pfx needs a file"; pfx=$2; shift 2 ;;
    --password-file) [ $# -ge 2 ] || usage "--password-file needs a file"; password_file=$2; shift 2 ;;
    --timestamp) [ $# -ge 2 ] || usage "--timestamp needs a URL"; timestamp=$2; shift 2 ;;
    --ca) [ $# -ge 2 ] || usage "--ca needs a file"; ca=$2; shift 2 ;;
    --) shift; break ;;
    -*) usage "unknown option $1" ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage "no file to sign"
[ -n "$pfx" ] || usage "--pfx is required"
[ -f "$pfx" ] || usage "no PFX file $pfx"
[ -z "$ca" ] || [ -f "$ca" ] || usage "no CA file $ca"
for file in "$@"; do
  [ -f "$file" ] || usage "no file $file"
done
if [ -n "$password_file" ]; then
  [ -f "$password_file" ] || usage "no password file $password_file"
  IFS= read -r password <"$password_file" || [ -n "${password:-}" ] || usage "empty password file"
elif [ -n "${NOXEL_SIGN_PASSWORD+set}" ]; then
  password=$NOXEL_SIGN_PASSWORD
else
  usage "give the PFX password with --password-file or NOXEL_SIGN_PASSWORD"
fi
command -v osslsigncode >/dev/null || { echo "osslsigncode not found: apt-get install osslsigncode" >&2; exit 1; }

verify_options=()
[ -n "$ca" ] && verify_options=(-CAfile "$ca")
sign_options=(-h sha256 -n "Noxel Ambient Light Sensor Service")
[ -n "$timestamp" ] && sign_options+=(-ts "$timestamp")

for file in "$@"; do
  signed="$file.signing"
  log="$file.signing.log"
  # printf is a shell builtin: the password reaches osslsigncode through the pipe alone.
  if ! osslsigncode sign -pkcs12 "$pfx" -readpass <(printf '%s' "$password") "${sign_options[@]}" \
    -in "$file" -out "$signed" >"$log" 2>&1; then
    echo "signing $file failed:" >&2
    sed 's/^/  /' "$log" >&2
    rm -f "$signed" "$log"
    exit 1
  fi
  if ! osslsigncode verify "${verify_options[@]}" -in "$signed" >"$log" 2>&1; then
    echo "the signature of $file does not verify:" >&2
    grep -E 'MISMATCH|[Ff]ail|[Ee]rror|verify' "$log" | sed 's/^/  /' >&2 || true
    rm -f "$signed" "$log"
    exit 1
  fi
  rm -f "$log"
  chmod --reference="$file" "$signed"
  mv "$signed" "$file"
  echo "signed and verified: $file"
done
