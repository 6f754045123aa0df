#!/usr/bin/env bash
# Checks a Windows plugin library by reading it: its file format (machine
# type), that it exports exactly the one given name, and that it imports only
# from system libraries (no C++ runtime, libgcc or threads DLL). With a
# source folder given, also that no path of the build machine (the folder, or
# a source named relative to the build folder) is left in it.
#
#   scripts/check-dll.sh OBJDUMP LIBRARY.dll FORMAT EXPORT [SOURCE_DIR]
#   e.g. scripts/check-dll.sh i686-w64-mingw32-objdump ulm-be-vex-heartbeat.dll pei-i386 load_vex_heartbeat
set -euo pipefail
objdump=$1 dll=$2 format=$3 export=$4 source_dir=${5:-}
fail() { echo "check-dll: $dll: $*" >&2; exit 1; }

[[ -f "$dll" ]] || fail "no such file"
report=$("$objdump" -p "$dll") || fail "objdump could not read it"

actual_format=$(sed -n 's/.*file format \(.*\)$/\1/p' <<<"$report" | head -n1)
[[ "$actual_format" == "$format" ]] || fail "file format '$actual_format', expected '$format'"

# The export table lists "[Ordinal/Name Pointer] Table" rows as "[   0] name".
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next}
               on && /^[[:space:]]*\[[[:space:]]*[0-9]+\]/ {print $NF; next}
               on && NF == 0 {on=0}' <<<"$report")
[[ "$exports" == "$export" ]] || fail "exports '$(tr '\n' ' ' <<<"$exports")', expected exactly '$export'"

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$report")
[[ -n "$imports" ]] || fail "no import table found"
allowed='^(KERNEL32|msvcrt|ADVAPI32|USER32|ntdll|api-ms-win-[a-z0-9-]+)\.dll$'
while read -r name; do
  grep -Eiq "$allowed" <<<"$name" || fail "imports $name, which is not a system library"
done <<<"$imports"

if [[ -n "$source_dir" ]]; then
  leaked=$(LC_ALL=C grep -aoE "(${source_dir//./\\.}|\\.\\./)[A-Za-z0-9_./-]*" "$dll" | head -n3 || true)
  [[ -z "$leaked" ]] || fail "holds build-machine paths: $(tr '\n' ' ' <<<"$leaked")"
fi

echo "check-dll: $dll: $format, exports $export, imports $(tr '\n' ' ' <<<"$imports")"
