# shellcheck shell=bash
# Shared by the end-to-end tests: a throwaway Wine prefix per run, started from nothing
# and left with nothing running, and checks that print what was expected and what came.
# Sourced by the test scripts; NOXEL_WINE_KEEP=1 keeps the prefix and logs for a look.
set -euo pipefail

# Wine's own chatter stays out of the checked output; English texts, whatever the host.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d "${TMPDIR:-/tmp}/noxel-wine.XXXXXX")
export WINEPREFIX="$work/prefix"
failures=0
started=$(date +%s)

finish() {
  local status=$?
  # Stops every process of this prefix, the services too; nothing else is touched.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ "$status" -eq 0 ] && [ "$failures" -ne 0 ]; then status=1; fi
  if [ "${NOXEL_WINE_KEEP:-0}" = 1 ]; then
    echo "kept: $work"
  else
    rm -rf "$work"
  fi
  echo "$(basename "$0"): $([ "$status" -eq 0 ] && echo "${success_word:-passed}" || echo FAILED)" \
    "in $(( $(date +%s) - started )) s"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

step() { echo "-- $*"; }

# Shows text with its control characters visible, one line per line of text.
visible() { printf '%s' "$1" | od -An -c | sed 's/^/   /'; }

fail() {
  failures=$((failures + 1))
  echo "FAIL: $1"
}

# expect_equal WHAT EXPECTED ACTUAL
expect_equal() {
  if [ "$2" == "$3" ]; then
    echo "ok: $1"
  else
    fail "$1"
    echo "  expected:"; visible "$2"
    echo "  came:"; visible "$3"
  fi
}

# expect_match WHAT EXTENDED-REGEX ACTUAL (the whole text must match)
expect_match() {
  if [[ "$3" =~ ^($2)$ ]]; then
    echo "ok: $1"
  else
    fail "$1"
    echo "  expected to match: $2"
    echo "  came:"; visible "$3"
  fi
}

# expect_same_file WHAT EXPECTED-FILE ACTUAL-FILE: byte for byte; a difference shows as
# cmp shows it, with the first differing bytes (offset, then octal values).
expect_same_file() {
  if cmp -s "$2" "$3"; then
    echo "ok: $1"
  else
    fail "$1"
    { cmp "$2" "$3"; cmp -l "$2" "$3" | head -8; } 2>&1 | sed 's/^/   /' || true
  fi
}

# wait_until SECONDS COMMAND...: true once COMMAND succeeds, false after SECONDS.
wait_until() {
  local deadline=$(( $(date +%s%N) + $1 * 1000000000 ))
  shift
  until "$@"; do
    [ "$(date +%s%N)" -lt "$deadline" ] || return 1
    sleep 0.2
  done
}

# pause SECONDS: a sleep that an interrupt ends at once (bash runs traps only between
# foreground commands).
pause() {
  sleep "$1" &
  wait $!
}

now() { date +%s.%N; }
# elapsed START: seconds since START, with a tenth.
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# console ARGUMENT...: the standard output of $program run with the arguments, with an
# "x" after it so that trailing line breaks survive, and the exit code after that when
# it is not 0 (so that the comparison of the text fails on it).
console() {
  local out code
  set +e
  out=$(wine "$program" "$@" 2>>"$work/console.err"; code=$?; printf x; exit $code)
  code=$?
  set -e
  printf '%s' "$out"
  [ "$code" -eq 0 ] || printf ' (exit code %s)' "$code"
}

# msiexec ARGUMENT...: its exit status, the low byte of the Windows exit code (1603
# shows as 67).
msiexec() {
  set +e
  wine msiexec "$@" >>"$work/msiexec.out" 2>&1
  echo $?
  set -e
}

# Creates the prefix, lets it settle, then keeps its server and services running. The
# first process after the prefix settles starts the services, which keep its stderr and
# WINEDEBUG: with +eventlog Wine prints every ReportEventW string, to services.log.
start_prefix() {
  step "new Wine prefix in $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >"$work/wineboot.log" 2>&1
  wineserver -w
  # Persistent for 30 s after the last process of ours: services live between commands,
  # and a run killed where no trap can act still ends its server and services.
  wineserver -p30
  WINEDEBUG=-all,+eventlog wine cmd /c exit 2>"$work/services.log"
}

# import_registry FILE: imports a .reg file written in UTF-8. Wine reads an 8-bit file as
# ANSI and widens hex(7) data byte by byte, so it gets the file in UTF-16LE with a BOM.
import_registry() {
  { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$1"; } >"$1.utf16"
  wine reg import "$(wine winepath -w "$1.utf16" 2>/dev/null | tr -d '\r')" >/dev/null 2>&1
}

# reg_values KEY: the values of a key below HKLM as reg.exe shows them, "NAME TYPE DATA"
# a line, nothing when there is no key. Their bytes are the host tests' and the
# conformance run's.
reg_values() {
  wine reg query "HKLM\\$1" 2>/dev/null | tr -d '\r' |
    sed -n 's/^    \([^ ]*\) \{4\}\(REG_[A-Z_]*\) \{4\}\(.*\)$/\1 \2 \3/p'
}

# The Unix path of a Windows path in this prefix.
unix_path() { wine winepath -u "$1" 2>/dev/null | tr -d '\r'; }

# service_state NAME: the STATE word of "sc query", or the error line when there is none
# (scripts/measure-wine.sh reads it).
service_state() {
  local out
  out=$(wine sc query "$1" 2>/dev/null | tr -d '\r')
  if [[ "$out" =~ STATE[[:space:]]*:[[:space:]]*[0-9]+[[:space:]]+([A-Z_]+) ]]; then
    echo "${BASH_REMATCH[1]}"
  else
    echo "$out" | head -1
  fi
}

# ask ARGUMENT...: the answer of the scripts' helper ($probe, tests/wine/probe.cpp).
ask() { wine "$probe" "$@" 2>/dev/null | tr -d '\r'; }

# service_status NAME: how the service manager answers for the service: "ok state S type
# T accepted A exit E", or "fail ERROR".
service_status() { ask service "$1" | sed 's/^[A-Za-z]* = //'; }

name=Noxel_ALS_Service
readonly event_source='SYSTEM\CurrentControlSet\Services\EventLog\Application\Noxel_ALS_Service'
# The probe's answer for a service the manager does not know.
readonly not_installed="fail 1060"  # ERROR_SERVICE_DOES_NOT_EXIST

# is_running NAME: whether the service manager reports the service RUNNING.
is_running() { [[ "$(service_status "$1")" == "ok state RUNNING "* ]]; }
is_gone() { [ "$(service_status $name)" = "$not_installed" ]; }

# expect_running WHAT: the service comes up RUNNING within 20 s.
expect_running() {
  wait_until 20 is_running $name || true
  expect_match "$1" 'ok state RUNNING .*' "$(service_status $name)"
}

# Gone or there: a registry key (reg.exe's path), a file.
key_state() { wine reg query "$1" >/dev/null 2>&1 && echo present || echo gone; }
file_state() { [ -e "$1" ] && echo present || echo gone; }

# put_program EXE DIR: EXE copied into the prefix as C:\DIR\NoxelAlsSvc.exe, which $program
# names from then on.
put_program() {
  mkdir -p "$WINEPREFIX/drive_c/${2//\\//}"
  cp "$1" "$WINEPREFIX/drive_c/${2//\\//}/NoxelAlsSvc.exe"
  program="C:\\$2\\NoxelAlsSvc.exe"
}

# What -install and the MSI register, and how the service manager and the registry show
# it (Wine keeps no failure actions): "config NAME" of the probe for PATH as registered,
# and the event source's values for the message file FILE.
expected_config() {
  printf '%s\n' 'type = 0x00000110' 'start = 3' 'error control = 1' "path = [${1//\\/\\\\}]" 'group = []' \
    'tag = 0' 'dependencies = []' 'account = [LocalSystem]' 'display name = [Noxel Ambient Light Sensor Service]' \
    "description = [Copies the ambient light sensor's calibration from the UEFI firmware into the sensor's registry settings.]"
}
expected_source() { printf 'EventMessageFile REG_EXPAND_SZ %s\nTypesSupported REG_DWORD 0x5\n' "$1"; }

readonly installed='Noxel_ALS_Service is installed.
Noxel_ALS_Service start running.
x'

# remove_within MIN MAX WHAT: -remove stops and deletes the service, taking MIN to MAX s.
remove_within() {
  local begin seconds
  begin=$(now)
  expect_match "-remove: console text" \
    'Stopping Noxel_ALS_Service\.\.*
Noxel_ALS_Service is stopped\.
Noxel_ALS_Service is removed\.
x' "$(console -remove)"
  seconds=$(elapsed "$begin")
  echo "   -remove took $seconds s"
  if awk -v s="$seconds" -v low="$1" -v high="$2" 'BEGIN { exit !(s >= low && s <= high) }'; then
    echo "ok: $3 ($1 to $2 s)"
  else
    fail "-remove took $seconds s; expected $1 to $2 s: $3"
  fi
}

# events: every ReportEventW entry in services.log as "class|first string|second string",
# pairing the lines of one thread (each entry prints its strings one per line).
events() {
  sed -n 's/^\([0-9a-f]*\):\([a-z]*\):eventlog:ReportEventW L"\(.*\)"$/\1|\2|\3/p' "$work/services.log" |
    awk -F'|' '{
      if ($1 in first) { print $2 "|" first[$1] "|" $3; delete first[$1] }
      else first[$1] = $3
    }'
}

# expect_events WHAT TEXT...: the service's event-log entries of the run, in order, each
# an information entry of the service with that text.
expect_events() {
  local what=$1 text expected=""
  shift
  for text in "$@"; do expected+="trace|Noxel_ALS_Service|$text"$'\n'; done
  expect_equal "$what" "${expected%$'\n'}" "$(events)"
}
