#!/usr/bin/env bash
# Checks the 32-bit product build: the plug-in DLL exports exactly CarrierPluginCreateContext,
# undecorated, and every DLL and EXE imports only DLLs that every Windows has (the maker's
# libraries are loaded by full path at run time, never imported).
#   tools/ci/check_windows_binaries.sh BUILD_DIR
set -euo pipefail

BUILD="${1:?usage: check_windows_binaries.sh BUILD_DIR}"
OBJDUMP="${OBJDUMP:-i686-w64-mingw32-objdump}"
SYSTEM_DLLS="kernel32 advapi32 msvcrt ole32 oleaut32 user32 shell32 ws2_32 iphlpapi fwpuclnt
wtsapi32 userenv rpcrt4 version ntdll secur32 bcrypt crypt32 shlwapi"

fail=0
plugin="$(find "$BUILD" -name tarn_manageable_win_firewall_32.dll -not -path '*/CMakeFiles/*' | head -n 1)"
if [ -z "$plugin" ]; then
    echo "no tarn_manageable_win_firewall_32.dll below $BUILD" >&2
    exit 1
fi
# The export table lists "[ordinal] name" lines after its "[Ordinal/Name Pointer] Table" header.
exports="$("$OBJDUMP" -p "$plugin" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^\s*\[ *[0-9]*\] //p')"
if [ "$exports" != "CarrierPluginCreateContext" ]; then
    echo "$plugin exports: ${exports:-nothing}; expected only CarrierPluginCreateContext" >&2
    fail=1
fi

# The store's own command-line tools are shipped beside the store library and import it.
STORE_TOOLS="orrery.exe tarn_policy.exe"

allowed() {  # allowed BINARY DLL
    case " $(echo $SYSTEM_DLLS) " in *" $2 "*) return 0 ;; esac
    case "$2" in api-ms-win-*) return 0 ;; esac
    [ "$2" = tarn_pyx_orrery_32 ] && case " $STORE_TOOLS " in *" $(basename "$1") "*) return 0 ;; esac
    return 1
}

while IFS= read -r binary; do
    # Only the import tables; delay-loaded DLLs are listed in a section of their own.
    imports="$("$OBJDUMP" -p "$binary" | sed -n '/^The Import Tables/,/^The /p' |
        sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sed 's/\.dll$//')"
    for dll in $imports; do
        if ! allowed "$binary" "$dll"; then
            echo "$binary imports $dll.dll, which is not a system DLL" >&2
            fail=1
        fi
    done
done < <(find "$BUILD" \( -name '*.dll' -o -name '*.exe' \) -not -path '*/CMakeFiles/*')

[ "$fail" -eq 0 ] && echo "windows binaries: exports and imports as they should be"
exit "$fail"
