#!/usr/bin/env bash
# Measures the Windows build and prints what it found, asserting nothing: the size of
# NoxelAlsSvc.exe stripped and the DLLs it imports, beside a minimal C service and a
# minimal C++ service (exceptions, std::vector) built here with the build's own flags,
# and beside the ARM64 build (build/mingw-arm64) when there is one;
# under Wine, its start-to-RUNNING time and its peak resident memory beside the minimal
# services; and how long -remove takes once the worker has ended and while it sleeps
# between attempts.
# Usage: bash scripts/measure-wine.sh [MINGW-BUILD-DIRECTORY]   (default build/mingw,
# made by: cmake --preset mingw && cmake --build --preset mingw)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/mingw}" && pwd)
exe="$build/NoxelAlsSvc.exe"
test_build="$build/tests/wine/NoxelAlsSvcFirmwareDir.exe"
for file in "$exe" "$test_build"; do
  [ -f "$file" ] || { echo "missing $file: build the mingw preset first" >&2; exit 2; }
done
repeats=3

# A throwaway Wine prefix; Wine's own chatter stays out, English texts whatever the host.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
work=$(mktemp -d "${TMPDIR:-/tmp}/noxel-measure.XXXXXX")
export WINEPREFIX="$work/prefix"
# Stops every process of this prefix, the services too; nothing else is touched.
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# pause SECONDS: a sleep that an interrupt ends at once (bash runs traps only between
# foreground commands).
pause() {
  sleep "$1" &
  wait $!
}
# state NAME: the STATE word of "sc query", or "gone" when there is no such service.
state() {
  local out
  out=$(wine sc query "$1" 2>/dev/null | tr -d '\r') || { echo gone; return; }
  [[ "$out" =~ STATE[[:space:]]*:[[:space:]]*[0-9]+[[:space:]]+([A-Z_]+) ]] && echo "${BASH_REMATCH[1]}"
}
# wait_for SECONDS NAME STATE: until the service is in STATE, for at most SECONDS.
wait_for() {
  local tries=$(($1 * 5))
  until [ "$(state "$2")" = "$3" ] || [ $((tries -= 1)) -lt 0 ]; do sleep 0.2; done
}

strip_tool=x86_64-w64-mingw32-strip
objdump_tool=x86_64-w64-mingw32-objdump
imports() { "$objdump_tool" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | paste -sd ' '; }
# The Release flags of the build, so that the minimal services are built the same way.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
compile_flags=$(cache_value CMAKE_CXX_FLAGS_RELEASE)
link_flags="$(cache_value CMAKE_EXE_LINKER_FLAGS) $(cache_value CMAKE_EXE_LINKER_FLAGS_RELEASE)"

# A minimal C service: reports RUNNING at once and stops at once; "start NAME" and
# "stop NAME" time the service manager's calls from the client side.
cat >"$work/minimal.c" <<'EOF'
// msvcrt's printf: MinGW's own would add 24 KB to a service meant to be minimal.
#define __USE_MINGW_ANSI_STDIO 0
#include <windows.h>
#include <stdio.h>

static SERVICE_STATUS_HANDLE handle;
static SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};

static void WINAPI Handler(DWORD control) {
    if (control != SERVICE_CONTROL_STOP) return;
    status.dwCurrentState = SERVICE_STOPPED;
    SetServiceStatus(handle, &status);
}

static void WINAPI Main(DWORD argc, LPWSTR *argv) {
    (void)argc, (void)argv;
    handle = RegisterServiceCtrlHandlerW(L"", Handler);
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    SetServiceStatus(handle, &status);
}

int wmain(int argc, wchar_t **argv) {
    if (argc == 3) {
        SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
        SC_HANDLE service =
            OpenServiceW(manager, argv[2], SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
        SERVICE_STATUS now;
        ULONGLONG begin = GetTickCount64();
        if (!lstrcmpW(argv[1], L"start")) {
            if (!StartServiceW(service, 0, NULL)) {
                printf("StartServiceW failed: %lu\n", GetLastError());
                return 1;
            }
            while (QueryServiceStatus(service, &now) && now.dwCurrentState != SERVICE_RUNNING) Sleep(5);
        } else if (!ControlService(service, SERVICE_CONTROL_STOP, &now)) {
            printf("ControlService failed: %lu\n", GetLastError());
            return 1;
        }
        printf("%I64u\n", GetTickCount64() - begin);
        return 0;
    }
    SERVICE_TABLE_ENTRYW table[] = {{L"", Main}, {NULL, NULL}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
EOF

# A minimal C++ service: the same, with a std::vector, and a status report that throws
# the Win32 error code as the service's hooks do; with the build's terminate handler.
cat >"$work/minimal-cxx.cpp" <<'EOF'
#include <windows.h>
#include <vector>

static SERVICE_STATUS_HANDLE handle;
static SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};

static void Report(DWORD state) {
    status.dwCurrentState = state;
    if (!SetServiceStatus(handle, &status)) throw GetLastError();
}

static void WINAPI Handler(DWORD control) {
    if (control != SERVICE_CONTROL_STOP) return;
    try {
        Report(SERVICE_STOPPED);
    } catch (DWORD) {
    }
}

static void WINAPI Main(DWORD, LPWSTR*) {
    try {
        handle = RegisterServiceCtrlHandlerW(L"", Handler);
        if (!handle) throw GetLastError();
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
        Report(SERVICE_RUNNING);
    } catch (DWORD) {
    }
}

int wmain() {
    static WCHAR name[] = L"";
    std::vector<SERVICE_TABLE_ENTRYW> table{{name, Main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table.data()) ? 0 : 1;
}
EOF
# shellcheck disable=SC2086 # the flags are words
x86_64-w64-mingw32-gcc $compile_flags -municode $link_flags -o "$work/minimal.exe" "$work/minimal.c"
# shellcheck disable=SC2086
x86_64-w64-mingw32-g++ $compile_flags -municode $link_flags -o "$work/minimal-cxx.exe" \
  "$work/minimal-cxx.cpp" "$root/platform/terminate_handler.cpp"

echo "== size, stripped (minimal services built now with: $compile_flags $link_flags)"
for file in "$exe" "$work/minimal.exe" "$work/minimal-cxx.exe"; do
  "$strip_tool" -o "$work/stripped.exe" "$file"
  printf '%-17s %6s bytes (%s as built); imports: %s\n' "$(basename "$file"):" \
    "$(stat -c %s "$work/stripped.exe")" "$(stat -c %s "$file")" "$(imports "$file")"
done

# The ARM64 build beside it, as linked (stripped already); its times under qemu would
# measure qemu, so it is not run here.
arm64="$root/build/mingw-arm64/NoxelAlsSvc.exe"
if [ -f "$arm64" ]; then
  printf '%-17s %6s bytes; imports: %s\n' "ARM64 build:" "$(stat -c %s "$arm64")" \
    "$(llvm-readobj-14 --coff-imports "$arm64" | sed -n 's/^  Name: //p' | paste -sd ' ')"
else
  echo "ARM64 build: none (cmake --preset mingw-arm64 && cmake --build --preset mingw-arm64)"
fi

mkdir -p "$WINEPREFIX"
wineboot -i >"$work/wineboot.log" 2>&1
wineserver -w
# Persistent for 30 s after the last process: services live between commands.
wineserver -p30
mkdir -p "$WINEPREFIX/drive_c/measure" "$WINEPREFIX/drive_c/noxel-efivars"
cp "$work/minimal.exe" "$work/minimal-cxx.exe" "$exe" "$WINEPREFIX/drive_c/measure/"
cp "$test_build" "$WINEPREFIX/drive_c/measure/NoxelAlsSvcFirmwareDir.exe"
timer='C:\measure\minimal.exe'
wine sc create MinimalService binpath= 'C:\measure\minimal.exe' >/dev/null 2>&1
wine sc create MinimalCxxService binpath= 'C:\measure\minimal-cxx.exe' >/dev/null 2>&1
wine sc create Noxel_ALS_Service binpath= '"C:\measure\NoxelAlsSvc.exe"' >/dev/null 2>&1

# median of the numbers on standard input
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# peak_resident WINDOWS-PATH: the peak resident memory (VmHWM, kB) of this prefix's
# process that runs WINDOWS-PATH without arguments. Wine runs each Windows process as a
# Linux one whose command line is the Windows one.
peak_resident() {
  local dir
  for dir in /proc/[0-9]*; do
    [ "$(tr -d '\0' 2>/dev/null <"$dir/cmdline")" = "$1" ] || continue
    tr '\0' '\n' 2>/dev/null <"$dir/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB$/\1/p' "$dir/status"
    return 0
  done
  echo "?"
}

# run_service NAME PROGRAM: starts NAME and keeps its start-to-RUNNING time, 4 s later
# its peak resident memory, then stops it. Noxel's first attempt fails at once and its
# worker sleeps 10 s; a stop 4 s into that sleep waits about 6 s, inside the 10 s that
# Wine gives a control handler. The minimal services wait the same 4 s.
run_service() {
  wine "$timer" start "$1" 2>/dev/null | tr -d '\r' >>"$work/$1.ms"
  pause 4
  peak_resident "C:\\measure\\$2" >>"$work/$1.kB"
  wine "$timer" stop "$1" >/dev/null 2>&1
  wait_for 20 "$1" STOPPED
}
for _ in $(seq $repeats); do
  run_service MinimalService minimal.exe
  run_service MinimalCxxService minimal-cxx.exe
  run_service Noxel_ALS_Service NoxelAlsSvc.exe
done

# report UNIT: the median of each service's runs, then Noxel's against the minimal C one.
report() {
  local name value minimal=0
  for name in MinimalService MinimalCxxService Noxel_ALS_Service; do
    value=$(median <"$work/$name.$1")
    [ "$name" = MinimalService ] && minimal=$value
    printf '%-18s %6s %s (runs: %s)\n' "$name:" "$value" "$1" "$(paste -sd ' ' "$work/$name.$1")"
  done
  awk -v n="$value" -v m="$minimal" 'BEGIN { if (m > 0) printf "ratio to MinimalService: %.2f\n", n / m }'
}
echo "== start to RUNNING under Wine (median of $repeats)"
report ms
echo "== peak resident memory under Wine: VmHWM 4 s after RUNNING (median of $repeats)"
report kB
for name in MinimalService MinimalCxxService Noxel_ALS_Service; do
  wine sc delete "$name" >/dev/null 2>&1
done
wait_for 10 Noxel_ALS_Service gone

# time_remove PROGRAM: seconds that PROGRAM -remove takes, and its console text.
time_remove() {
  local begin text tenths
  begin=$(date +%s%N)
  text=$(wine "$1" -remove 2>/dev/null | tr -d '\r')
  tenths=$(( ($(date +%s%N) - begin) / 100000000 ))
  echo "$((tenths / 10)).$((tenths % 10)) s: $(printf '%s' "$text" | paste -sd '|')"
}

echo "== -remove while the worker sleeps (stop sent 4 s into a 10 s sleep)"
wine 'C:\measure\NoxelAlsSvc.exe' -install >/dev/null 2>&1
wait_for 20 Noxel_ALS_Service RUNNING
pause 4
echo "NoxelAlsSvc.exe -remove: $(time_remove 'C:\measure\NoxelAlsSvc.exe')"
wait_for 10 Noxel_ALS_Service gone

echo "== -remove once the worker has ended (test build, every variable present)"
guid=bf82486a-80f7-4733-b82c-066bd8f2534b
variable() { printf "$(printf '\\x%s' 07 00 00 00 $2)" >"$WINEPREFIX/drive_c/noxel-efivars/$1-$guid"; }
variable CALIBRATE 'e8 03 2c 01'
variable ALR_CURVE 'ff ff ff ff 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
                    00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00'
variable ALS_CS '19 00 00 00'
variable ALS_FLAG '01'
# No sensor device: the publication takes model 0's key, which exists here.
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Enum\ACPI\NOXL6120\1\Device Parameters' \
  /v ALS_SRC /t REG_DWORD /d 0 /f >/dev/null 2>&1
log="$WINEPREFIX/drive_c/windows/system32/Noxel_AlsSvc.log"
wine 'C:\measure\NoxelAlsSvcFirmwareDir.exe' -install >/dev/null 2>&1
published() { iconv -f UTF-16LE -t UTF-8 "$log" 2>/dev/null | grep -q 'ALS FLAG: 1'; }
for _ in $(seq 100); do published && break; sleep 0.2; done
published || echo "(the transfer did not end within 20 s)"
pause 0.5
echo "NoxelAlsSvcFirmwareDir.exe -remove: $(time_remove 'C:\measure\NoxelAlsSvcFirmwareDir.exe')"
