#!/usr/bin/env bash
# Proves that a Windows folder is complete: every DLL that any .exe or .dll in
# it imports is either in the folder (beside the program, or beside the .exe
# that imports it) or a DLL that every Windows installation has, and that no
# file carries the virtual unit (the test dfu-util.exe of build-test-dfu.sh).
# Usage: check-folder.sh <folder>|<zip>
set -euo pipefail
folder=${1:?usage: check-folder.sh <folder>|<zip>}
checking=$folder
objdump=x86_64-w64-mingw32-objdump
if [ -f "$folder" ]; then
    unpacked=$(mktemp -d)
    trap 'rm -rf "$unpacked"' EXIT
    unzip -q "$folder" -d "$unpacked"
    # The zip holds the folder itself.
    folder=$(find "$unpacked" -mindepth 1 -maxdepth 1)
    [ -d "$folder" ] || { echo "$checking does not hold one folder"; exit 1; }
fi

# Windows' own DLLs (lower case). Anything else must be shipped.
system_dlls=" advapi32.dll bcrypt.dll comctl32.dll comdlg32.dll crypt32.dll d3d9.dll d3d11.dll dwmapi.dll
 dwrite.dll dxgi.dll gdi32.dll imm32.dll iphlpapi.dll kernel32.dll mpr.dll msvcrt.dll netapi32.dll ntdll.dll
 ole32.dll oleaut32.dll opengl32.dll rpcrt4.dll secur32.dll setupapi.dll shell32.dll shlwapi.dll user32.dll
 userenv.dll usp10.dll uxtheme.dll version.dll winmm.dll winspool.drv ws2_32.dll wtsapi32.dll dnsapi.dll
 winhttp.dll wininet.dll hid.dll cfgmgr32.dll newdev.dll "

# shellcheck disable=SC2086,SC2116  # joins the lines into one
system_dlls=" $(echo $system_dlls) "
lower() { tr '[:upper:]' '[:lower:]'; }
top_dlls=" $(find "$folder" -maxdepth 1 -type f -iname '*.dll' -printf '%f\n' | lower | tr '\n' ' ') "

bad=0 checked=0
while IFS= read -r -d '' file; do
    checked=$((checked + 1))
    own_dir=$(dirname "$file")
    own_dlls=" $(find "$own_dir" -maxdepth 1 -type f -iname '*.dll' -printf '%f\n' | lower | tr '\n' ' ') "
    if ! imports=$($objdump -p "$file" 2>/dev/null | sed -n 's/^[[:space:]]*DLL Name: //p' | lower); then
        echo "not a PE file: $file"; bad=1; continue
    fi
    for dll in $imports; do
        case "$system_dlls$top_dlls$own_dlls" in
            *" $dll "*) ;;
            *) case "$dll" in
                   api-ms-win-*|ext-ms-win-*) ;;
                   *) echo "MISSING: ${file#"$folder"/} imports $dll"; bad=1 ;;
               esac ;;
        esac
    done
done < <(find "$folder" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)

[ "$checked" -gt 0 ] || { echo "no .exe or .dll in $folder"; exit 1; }
# The unit reads its state file's name from this variable; nothing shipped does.
if units=$(grep -rlaF STROBIX_VU_STATE "$folder"); then
    echo "TEST BUILD, never to be shipped: ${units//"$folder"\//}"; bad=1
fi
if [ "$bad" -ne 0 ]; then
    echo "check-folder: $checking is incomplete"
    exit 1
fi
echo "check-folder: all imports of $checked files are satisfied; no file carries the virtual unit"
