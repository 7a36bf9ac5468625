# shellcheck shell=bash
# Shared by the end-to-end tests: a throwaway Wine prefix per run, started from nothing
# and left with nothing running, and checks that print what was expected and what came.
# Sourced by the test scripts; NOXEL_WINE_KEEP=1 keeps the prefix and logs for a look.
set -Eeuo pipefail

# Wine's own chatter stays out of the checked output; English texts, whatever the host.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY

work=$(mktemp -d "${TMPDIR:-/tmp}/noxel-wine.XXXXXX")
export WINEPREFIX="$work/prefix"
failures=0
firmware=""  # the firmware directory a script writes variables to, if any

finish() {
  local status=$?
  # Stops every process of this prefix, the services too; nothing else is touched.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ "${NOXEL_WINE_KEEP:-0}" = 1 ]; then
    echo "kept: $work${firmware:+ and the variables in $firmware}"
  else
    rm -rf "$work"
    # A firmware directory outside the prefix outlives it: the variables written there go.
    [ -z "$firmware" ] || rm -f "$firmware"/*-"$guid" || true
  fi
  if [ "$status" -eq 0 ] && [ "$failures" -ne 0 ]; then status=1; fi
  echo "$(basename "$0"): $([ "$status" -eq 0 ] && echo passed || echo FAILED)"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM
# A command that fails outside a check ends the script, inside a function too (-E): say
# which, and where. In a command substitution's subshell a failure is the caller's to
# judge: its output is what the check compares.
trap 'status=$?; [ "$BASHPID" != "$$" ] || echo "FAIL: ${0##*/} line $LINENO${FUNCNAME:+ (in $FUNCNAME)}: \"$BASH_COMMAND\" ended the script (exit code $status)"' ERR

step() { echo "-- $*"; }

# The ARM64 build runs under Debian's arm64 Wine, unpacked in NOXEL_WINE_ARM64, on qemu-user:
# Wine starts its server and services as aarch64 programs, which binfmt_misc hands to
# qemu (scripts/install-dependencies.sh registers it). Its server is started first:
# Wine itself would start the host's.
if [ -n "${NOXEL_WINE_ARM64:-}" ]; then
  grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-aarch64 2>/dev/null || {
    echo "FAIL: aarch64 programs are not registered with binfmt_misc, so arm64 Wine cannot start;" \
      "scripts/install-dependencies.sh test registers them (as root)"
    exit 1
  }
  export QEMU_LD_PREFIX=$NOXEL_WINE_ARM64 WINELOADER=$NOXEL_WINE_ARM64/usr/lib/wine/wine64
  export WINESERVER=$NOXEL_WINE_ARM64/usr/lib/wine/wineserver64
  wine() { "$WINELOADER" "$@"; }
  wineserver() { "$WINESERVER" "$@"; }
  wineboot() { wine wineboot "$@"; }
fi

# expect_equal WHAT EXPECTED ACTUAL; expect_match WHAT EXTENDED-REGEX ACTUAL, which the
# whole text must match; expect_same_file WHAT EXPECTED-FILE ACTUAL-FILE, byte for byte.
expect_equal() { verdict "$1" "$([ "$2" == "$3" ] && echo ok)" "$2" "$3"; }
expect_match() { verdict "$1" "$([[ "$3" =~ ^($2)$ ]] && echo ok)" "$2" "$3"; }
expect_same_file() { expect_equal "$1" "the same bytes" "$(cmp "$2" "$3" 2>&1 && echo the same bytes)"; }
verdict() {
  if [ "$2" = ok ]; then
    echo "ok: $1"
  else
    failures=$((failures + 1))
    printf 'FAIL: %s\n  expected:\n%s\n  came:\n%s\n' "$1" "$(printf '%s\n' "$3" | cat -A | sed 's/^/    /')" \
      "$(printf '%s\n' "$4" | cat -A | sed 's/^/    /')"
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

# console ARGUMENT...: the standard output of $program run with the arguments, with an
# "x" after it so that trailing line breaks survive, and the exit code after that when
# it is not 0 (so that the comparison of the text fails on it).
console() {
  local code=0
  wine "$program" "$@" 2>>"$work/console.err" || code=$?
  printf x
  [ "$code" -eq 0 ] || printf ' (exit code %s)' "$code"
}

# msiexec ARGUMENT...: its exit status, the low byte of the Windows exit code (1603
# shows as 67).
msiexec() { wine msiexec "$@" >>"$work/msiexec.out" 2>&1 && echo 0 || echo $?; }

# Creates the prefix, lets it settle, then keeps its server and services running. The
# first process after the prefix settles starts the services, which keep its stderr and
# WINEDEBUG: with +eventlog Wine prints every ReportEventW string, to services.log.
start_prefix() {
  step "new Wine prefix in $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  [ -z "${NOXEL_WINE_ARM64:-}" ] || wineserver
  wineboot -i >"$work/wineboot.log" 2>&1
  wineserver -w
  # Persistent for 30 s after the last process of ours: services live between commands,
  # and a run killed where no trap can act still ends its server and services.
  wineserver -p30
  if [ -z "${NOXEL_WINE_ARM64:-}" ]; then
    WINEDEBUG=-all,+eventlog wine cmd /c exit 2>"$work/services.log"
  else
    # Under qemu the services shut down slowly between commands, and two services.exe have
    # been seen at once: a cmd that waits on this shell's pipe keeps them up to the end.
    coproc prefix_alive { WINEDEBUG=-all,+eventlog wine cmd >/dev/null 2>"$work/services.log"; }
  fi
  # The next Wine command, started before these services are up, would start its own.
  wait_until 30 services_log_held || {
    echo "FAIL: no services.exe of this prefix writes to services.log within 30 s"
    exit 1
  }
}

# services_log_held: a services.exe has services.log as its stderr.
services_log_held() {
  local fd
  for fd in /proc/[0-9]*/fd/2; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$work/services.log" ] &&
      [[ "$(tr '\0' ' ' 2>/dev/null <"${fd%/fd/2}/cmdline")" == *'system32\services.exe'* ]] && return
  done
  return 1
}

# import_registry FILE: imports a .reg file written in UTF-8. Wine reads an 8-bit file as
# ANSI and widens hex(7) data byte by byte, so it gets the file in UTF-16LE with a BOM.
# reg.exe may fail to start while the machine is loaded; the import is tried again.
import_registry() {
  { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$1"; } >"$1.utf16"
  local path
  path=$(retried 30 wine_path -w "$1.utf16")
  wait_until 30 reg_import "$path"
}
reg_import() { wine reg import "$1" >/dev/null 2>&1; }

# reg_values KEY [/s]: the values of a key below HKLM (with /s, of its subkeys too) as
# reg.exe shows them, "NAME TYPE DATA" a line; nothing when reg.exe says there is no key.
# reg.exe may fail to start while the machine is loaded: it is asked again, and after 30 s
# "reg.exe gave no answer" stands in for the values, so that no check passes on silence.
reg_values() {
  retried 30 reg_answer "$@" | sed -n 's/^    \([^ ]*\) \{4\}\(REG_[A-Z_]*\) \{4\}\(.*\)$/\1 \2 \3/p' ||
    echo "reg.exe gave no answer"
}
# reg_answer KEY [/s]: "answered" and what reg query prints (for a key without values or
# subkeys, Wine's prints an empty line), or "no key"; nothing when reg.exe failed otherwise.
reg_answer() {
  local answer
  if answer=$(wine reg query "HKLM\\$1" "${@:2}" 2>&1); then
    printf 'answered\n%s\n' "$answer" | tr -d '\r'
  elif [[ "$answer" == *'Unable to find the specified registry key'* ]]; then
    echo "no key"
  fi
}

# retried SECONDS COMMAND...: COMMAND's output once it succeeds with some, tried again
# until SECONDS have passed: a Wine program may fail to start while the machine is loaded.
retried() {
  local output
  wait_until "$1" gives_output "${@:2}" && printf '%s\n' "$output"
}
# gives_output COMMAND...: sets the caller's (retried's) output; true when there is some.
gives_output() { output=$("$@") && [ -n "$output" ]; }

wine_path() { wine winepath "$@" 2>/dev/null | tr -d '\r'; }
unix_path() { retried 30 wine_path -u "$1"; }

# device KEY HARDWARE-ID...: a .reg section for KEY below Enum. Wine's setupapi lists every
# instance key under Enum that has a ClassGUID (here the Sensor class) as a present device,
# whether it has hardware IDs or not.
device() {
  local text ids=""
  printf '\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\%s]\n' "$1"
  shift
  for text in "$@"; do ids+="$(printf '%s' "$text" | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 -v | xargs) 00 00 "; done
  [ $# -eq 0 ] || printf '"HardwareID"=hex(7):%s\n' "$(echo $ids 00 00 | tr ' ' ,)"
  printf '"ClassGUID"="{5175d334-c371-4806-b3ba-71fd53c9258d}"\n'
}

# variable NAME HEX-BYTES: one efivarfs file in $firmware under the calibration vendor's
# GUID, attributes (non-volatile, boot service and runtime access) and then the data.
guid=bf82486a-80f7-4733-b82c-066bd8f2534b
variable() {
  mkdir -p "$firmware"
  printf "$(printf '\\x%s' 07 00 00 00 $2)" >"$firmware/$1-$guid"
}

# service_state: the STATE word of "sc query" for the service. Wine's sc says nothing of a
# service it does not know, nor when it fails to start: "gone" only when reg.exe also says
# that the service manager keeps no key for it, else "unknown".
service_state() {
  local state
  state=$(wine sc query "$name" 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *STATE *: [0-9]* *\([A-Z_]*\).*/\1/p') || true
  if [ -n "$state" ]; then
    echo "$state"
  elif [ "$(reg_answer "$service_key")" = "no key" ]; then
    echo gone
  else
    echo unknown
  fi
}
in_state() { [ "$(service_state)" = "$1" ]; }

expect_state() {
  wait_until 20 in_state "$2" || true
  expect_equal "$1" "$2" "$(service_state)"
}

# ask ARGUMENT...: the answer of the scripts' helper ($probe, tests/wine/probe.cpp).
ask() { wine "$probe" "$@" 2>/dev/null | tr -d '\r'; }

name=Noxel_ALS_Service
readonly service_key='SYSTEM\CurrentControlSet\Services\Noxel_ALS_Service'
readonly event_source='SYSTEM\CurrentControlSet\Services\EventLog\Application\Noxel_ALS_Service'

put_program() {
  install -D "$1" "$WINEPREFIX/drive_c/${2//\\//}/NoxelAlsSvc.exe"
  program="C:\\$2\\NoxelAlsSvc.exe"
}

# What -install registers (tests/install_test.cpp) for the executable at PATH: the values
# of the service's key, where Wine's service manager keeps its record (with a preshutdown
# timeout of its own, and no failure actions), and those of the event source.
expected_service() {
  printf '%s\n' \
    "Description REG_SZ Copies the ambient light sensor's calibration from the UEFI firmware into the sensor's registry settings." \
    'DisplayName REG_SZ Noxel Ambient Light Sensor Service' 'ErrorControl REG_DWORD 0x1' \
    "ImagePath REG_SZ $1" 'ObjectName REG_SZ LocalSystem' 'PreshutdownTimeout REG_DWORD 0x2bf20' \
    'Start REG_DWORD 0x3' 'Type REG_DWORD 0x110'
}
expected_source() { printf 'EventMessageFile REG_EXPAND_SZ %s\nTypesSupported REG_DWORD 0x5\n' "$1"; }

# Wine keeps no required-privileges list and answers ERROR_INVALID_LEVEL: -install says so
# and goes on, as it would on Windows.
install_service() {
  expect_equal "-install: console text" $'Noxel_ALS_Service is installed.\nChangeServiceConfig2 failed w/err 0x0000007c\nNoxel_ALS_Service start running.\nx' \
    "$(console -install)"
}

# remove_within SECONDS WHAT: -remove stops and deletes the service within SECONDS.
remove_within() {
  local begin text tenths
  begin=$(date +%s%N)
  text=$(console -remove)
  tenths=$(( ($(date +%s%N) - begin) / 100000000 ))
  expect_match "-remove: console text" 'Stopping Noxel_ALS_Service\.\.*
Noxel_ALS_Service is stopped\.
Noxel_ALS_Service is removed\.
x' "$text"
  expect_equal "$2 (took $((tenths / 10)).$((tenths % 10)) s)" yes \
    "$([ "$tenths" -le $(($1 * 10)) ] && echo yes)"
  expect_state "the service manager knows no service after -remove" gone
}

# events: every ReportEventW entry in services.log as "class|first string|second string",
# pairing the lines of one thread (each entry prints its strings one per line).
events() {
  sed -n 's/^\([0-9a-f]*\):\([a-z]*\):eventlog:ReportEventW L"\(.*\)"$/\1|\2|\3/p' "$work/services.log" |
    awk -F'|' '$1 in first { print $2 "|" first[$1] "|" $3; delete first[$1]; next } { first[$1] = $3 }'
}

# expect_events TEXT...: the service's event-log entries of the run, in order, each an
# information entry of the service with that text.
expect_events() {
  local text expected=""
  for text in "$@"; do expected+="trace|Noxel_ALS_Service|$text"$'\n'; done
  expect_equal "the service's events, as Wine prints them on the services' stderr" "${expected%$'\n'}" \
    "$(events)"
}
