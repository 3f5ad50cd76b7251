#!/usr/bin/env bash
# Checks the exe a player downloads: tests/release_exe.sh OBJDUMP EXE
#   - it imports only DLLs that Windows always loads from its own folder (the known DLLs of
#     Windows 10), so nothing planted beside it is loaded at start; MinGW and C++ runtime DLLs
#     in particular would not even be there;
#   - it is stripped.
set -u
objdump=$1 exe=$2
[ -f "$exe" ] || { echo "no $exe: build the windows-release preset first"; exit 1; }

known=" advapi32.dll clbcatq.dll combase.dll comdlg32.dll coml2.dll difxapi.dll gdi32.dll gdiplus.dll
        imagehlp.dll imm32.dll kernel32.dll msctf.dll msvcrt.dll normaliz.dll nsi.dll ntdll.dll ole32.dll
        oleaut32.dll psapi.dll rpcrt4.dll sechost.dll setupapi.dll shcore.dll shell32.dll shlwapi.dll
        user32.dll wldap32.dll ws2_32.dll"
known=" $(echo $known) "
failed=0
imports=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no import table read from $exe"; exit 1; }
for dll in $imports; do
    case "$known" in
    *" $dll "*) echo "imports $dll (a known DLL)" ;;
    *) echo "imports $dll, which is not a known DLL"; failed=1 ;;
    esac
done
if ! "$objdump" -t "$exe" | grep -q '^no symbols'; then
    echo "$exe is not stripped"
    failed=1
fi
[ "$failed" = 0 ] && echo "release exe: imports and stripping as they should be"
exit "$failed"
