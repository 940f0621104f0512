#!/usr/bin/env bash
# The setup program as a user runs it, under 64-bit Wine in a fresh prefix of its own: silent
# install with the simulated VCI, the uninstall entry and both registry views, the VIN through
# the installed driver, an upgrade that keeps an edited INI and closes a running Controlpad, a
# driver held by a running host, and the silent uninstall. Needs a display for Controlpad (run
# it under scripts/with-xvfb). Each case is one test; the last line is "N passed, N failed".
#
# usage: tests/installer/setup_test.sh SETUP.EXE PACKAGE32_DIR WORK_DIR
set -u
[ $# -eq 3 ] || { echo "usage: $0 SETUP.EXE PACKAGE32_DIR WORK_DIR" >&2; exit 2; }
package32=$(cd "$2" && pwd)
mkdir -p "$3"
work=$(cd "$3" && pwd)

export WINEPREFIX="$work/wine64" WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: they would be fetched from the network.
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
wineserver -k 2>/dev/null  # a server left from an earlier run of this prefix
rm -rf "$work/wine64" "$work/setup" "$work"/*.txt
mkdir -p "$work/setup"
setup_name=$(basename "$1")
cp "$1" "$work/setup/" || exit 1
setup="$work/setup/$setup_name"
setup_log="${setup%.exe}.log"
version=$(sed -n 's/^Orvex_J2534-\(.*\)-setup\.exe$/\1/p' <<<"$setup_name")

drive_c="$WINEPREFIX/drive_c"
dir32="$drive_c/Program Files (x86)/MIVRA/J2534"
dir64="$drive_c/Program Files/MIVRA/J2534"
win32='C:\Program Files (x86)\MIVRA\J2534'
win64='C:\Program Files\MIVRA\J2534'
start_menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/MIVRA J2534"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvex_J2534'
families=(Orvex TRX4820 TVN)
programs=(Orvex_J2534.dll Orvex_J2534_0202.dll TRX4820_J2534.dll TRX4820_J2534_0202.dll TVN_J2534.dll
          TVN_J2534_0202.dll orvex-register.exe passthru.exe Controlpad.exe VciSim.dll INSTALL.txt
          Orvex_J2534.ini TRX4820_J2534.ini TVN_J2534.ini)

passed=0; failed=0; problems=()
expect() {  # description, test command...
  "${@:2}" || problems+=("$1")
}
case_done() {  # name
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok     $1"; passed=$((passed + 1))
  else
    echo "FAILED $1"; printf '         %s\n' "${problems[@]}"; failed=$((failed + 1))
  fi
  problems=()
}
same_file() { cmp -s "$1" "$2"; }
differs() { ! cmp -s "$1" "$2"; }
unix_path() { local p=${1//\\//}; echo "$drive_c/${p#C:/}"; }
# "KEY NAME DATA" lines of reg query /s output, for the keys below a root in one view.
reg_dump() {  # root, 32|64
  "$wine" reg query "$1" /s "/reg:$2" 2>/dev/null | tr -d '\r' |
    awk -F'    ' '/^HKEY_/ { key = $0; next } NF >= 4 { print key "|" $2 "|" $4 }'
}
reg_value() {  # dump file, key (below HKEY_LOCAL_MACHINE), value name
  KEY="HKEY_LOCAL_MACHINE\\$2" NAME=$3 awk -F'|' '$1 == ENVIRON["KEY"] && $2 == ENVIRON["NAME"] { print $3 }' "$1"
}
expect_value() {  # dump file, key, name, expected data
  local got; got=$(reg_value "$1" "$2" "$3")
  expect "$2 $3 is '$got', not '$4'" [ "$got" = "$4" ]
}
expect_file_value() {  # dump file, key, name, expected Windows path: the value names it and it exists
  expect_value "$@"
  expect "$2 $3 names no existing file" [ -f "$(unix_path "$4")" ]
}
run_setup() {  # arguments...; the exit code in $rc
  (cd "$work/setup" && timeout 300 "$wine" "$setup_name" "$@")
  rc=$?
}
# A snapshot of both folders that any write, replacement or removal changes; the Logs folders
# are left out, for a running host writes its log there.
snapshot() { find "$dir32" "$dir64" -path '*/Logs' -prune -o -printf '%p %s %C@ %i\n' 2>/dev/null | sort; }

start=$SECONDS
timeout 600 "$wine" wineboot -i >/dev/null 2>&1
echo "-- a fresh 64-bit Wine prefix: $((SECONDS - start)) s"

# Install, silent, with the simulated VCI.
run_setup /S /SIM
expect "exit code $rc, not 0" [ "$rc" -eq 0 ]
for f in "${programs[@]}"; do
  for d in "$dir32" "$dir64"; do expect "$d/$f is missing" [ -f "$d/$f" ]; done
done
for f in Orvex_J2534.dll VciSim.dll passthru.exe; do
  expect "the 32-bit folder's $f is not the 32-bit package's" same_file "$dir32/$f" "$package32/$f"
  expect "the 64-bit folder's $f is the 32-bit package's" differs "$dir64/$f" "$package32/$f"
done
expect "no uninstall.exe" [ -f "$dir32/uninstall.exe" ]
for d in "$dir32" "$dir64"; do expect "no $d/Logs" [ -d "$d/Logs" ]; done
for link in "Control panel (32-bit programs)" "Control panel (64-bit programs)" "Logs (32-bit programs)" \
            "Logs (64-bit programs)"; do
  expect "no Start-menu entry $link" [ -f "$start_menu/$link.lnk" ]
done
expect "a failure log after a good install" [ ! -e "$setup_log" ]
case_done "silent install with the simulated VCI into both folders"

# The uninstall entry and the driver entries of each registry view.
reg_dump "$uninstall_key" 32 >"$work/uninstall_entry.txt"
for view in 32 64; do
  { reg_dump 'HKLM\Software\PassThruSupport.04.04' $view; reg_dump 'HKLM\Software\PassThruSupport' $view; } \
    >"$work/drivers$view.txt"
done
key=${uninstall_key#HKLM\\}
e="$work/uninstall_entry.txt"
expect_value "$e" "$key" DisplayName "Orvex J2534 pass-thru driver"
expect_value "$e" "$key" DisplayVersion "$version"
expect_value "$e" "$key" Publisher MIVRA
expect_value "$e" "$key" InstallLocation "$win32"
expect_value "$e" "$key" UninstallString "\"$win32\\uninstall.exe\""
expect_value "$e" "$key" QuietUninstallString "\"$win32\\uninstall.exe\" /S"
expect_value "$e" "$key" DisplayIcon "$win32\\Controlpad.exe,0"
expect_value "$e" "$key" NoModify 0x1
expect_value "$e" "$key" NoRepair 0x1
size=$(reg_value "$e" "$key" EstimatedSize)
expect "EstimatedSize '$size' is not the size of both folders in KiB" \
  [ $((size)) -ge $(($(du -skc "$dir32" "$dir64" | tail -n1 | cut -f1) * 9 / 10)) ]
expect "UninstallString names no existing file" [ -f "$dir32/uninstall.exe" ]
for view in 32 64; do
  folder=$win32; [ $view = 64 ] && folder=$win64
  d="$work/drivers$view.txt"
  for f in "${families[@]}"; do
    key="Software\\PassThruSupport.04.04\\MIVRA $f J2534"
    expect_file_value "$d" "$key" FunctionLibrary "$folder\\${f}_J2534.dll"
    expect_file_value "$d" "$key" ConfigApplication "$folder\\Controlpad.exe"
    expect_value "$d" "$key" APIVersion 04.04
    expect_value "$d" "$key" ProductVersion "$version"
    expect_value "$d" "$key" CAN 0x1
    key="Software\\PassThruSupport\\MIVRA\\$f J2534"
    expect_file_value "$d" "$key" FunctionLibrary "$folder\\${f}_J2534_0202.dll"
    expect_file_value "$d" "$key" ConfigApplication "$folder\\Controlpad.exe"
    expect_value "$d" "$key" APIVersion 02.02
  done
done
case_done "the uninstall entry and both registry views name the installed files"

# A host finds the driver by its registered name and reads the VIN through the simulated VCI.
sed -i 's/^DllName=.*/DllName=VciSim.dll/' "$dir32/Orvex_J2534.ini"
out=$(cd "$dir32" && "$wine" passthru.exe --driver "MIVRA Orvex J2534" vin 2>&1)
rc=$?
expect "passthru exit code $rc, not 0: $out" [ "$rc" -eq 0 ]
expect "no VIN in: $out" grep -q 'F190 = "WVSIM000000000001"' <<<"$out"
expect "the driver wrote no log" [ -s "$dir32/Logs/Orvex_J2534.log" ]
case_done "passthru --driver from the installed 32-bit folder reads the VIN"

# Upgrade over the installation while Controlpad runs: the program files are replaced, the
# edited INI stays with the new reference beside it, the unchanged ones are replaced.
cp "$dir32/Orvex_J2534.ini" "$work/edited.ini"
echo "changed" >>"$dir32/INSTALL.txt"
# The panel works on an INI of its own: its write probe would rewrite the installed one.
echo "[Bench]" >"$work/panel.ini"
WINEDEBUG=+loaddll "$wine" "$dir32/Controlpad.exe" --inipath "Z:${work//\//\\}\\panel.ini" >/dev/null \
  2>"$work/controlpad.txt" &
panel=$!
for _ in $(seq 300); do grep -qs 'winex11' "$work/controlpad.txt" && break; sleep 0.1; done
run_setup /S
expect "exit code $rc, not 0" [ "$rc" -eq 0 ]
for _ in $(seq 50); do kill -0 $panel 2>/dev/null || break; sleep 0.1; done
if kill -0 $panel 2>/dev/null; then
  problems+=("Controlpad still runs")
  kill $panel
fi
wait $panel
panel_rc=$?
expect "Controlpad ended with exit code $panel_rc, not 0" [ $panel_rc -eq 0 ]
expect "the edited INI was changed" same_file "$dir32/Orvex_J2534.ini" "$work/edited.ini"
expect "no new reference beside the edited INI" same_file "$dir32/Orvex_J2534.ini.default" "$package32/Orvex_J2534.ini"
for f in TRX4820_J2534.ini TVN_J2534.ini; do
  expect "$f is not the reference" same_file "$dir32/$f" "$package32/$f"
  expect "a reference beside the unchanged $f" [ ! -e "$dir32/$f.default" ]
done
expect "INSTALL.txt was not replaced" same_file "$dir32/INSTALL.txt" "$package32/INSTALL.txt"
expect "the simulated VCI is gone" [ -f "$dir32/VciSim.dll" ]
expect "a failure log after a good upgrade" [ ! -e "$setup_log" ]
case_done "an upgrade keeps the edited INI, writes the new reference beside it and closes Controlpad"

# A host holding the driver: the setup stops before it changes anything.
(cd "$dir32" && WINEDEBUG=+loaddll exec "$wine" passthru.exe --driver "MIVRA Orvex J2534" --tx 0x7A0 --rx 0x7A8 \
   --timeout 60000 3E00) >/dev/null 2>"$work/host.txt" &
host=$!
for _ in $(seq 300); do grep -qs 'Loaded L".*VciSim.dll' "$work/host.txt" && break; sleep 0.1; done
before=$(snapshot)
run_setup /S
expect "exit code $rc, not 4" [ "$rc" -eq 4 ]
expect "the log does not name the driver in use" grep -q 'Orvex_J2534.dll is in use' "$setup_log"
expect "the folders changed" [ "$before" = "$(snapshot)" ]
kill $host 2>/dev/null
wait $host 2>/dev/null
case_done "a driver held by a running host stops the setup with exit code 4 and nothing changed"

# Silent uninstall: the uninstaller runs on from a copy of itself; the server ends with it.
"$wine" "$dir32/uninstall.exe" /S
timeout 300 wineserver -w
reg_dump "$uninstall_key" 32 >"$work/uninstall_entry.txt"
expect "the uninstall entry is still there" [ ! -s "$work/uninstall_entry.txt" ]
for view in 32 64; do
  left=$({ reg_dump 'HKLM\Software\PassThruSupport.04.04' $view; reg_dump 'HKLM\Software\PassThruSupport' $view; } |
         grep MIVRA | head -n 3)
  expect "driver entries left in the $view-bit view: $left" [ -z "$left" ]
done
left=$(cd "$dir32" && find . -mindepth 1 ! -path ./Logs ! -path ./Logs/Orvex_J2534.log ! -path ./Orvex_J2534.ini)
expect "left in the 32-bit folder: $left" [ -z "$left" ]
expect "the edited INI is gone" same_file "$dir32/Orvex_J2534.ini" "$work/edited.ini"
expect "the driver's log is gone" [ -s "$dir32/Logs/Orvex_J2534.log" ]
expect "the 64-bit folder is still there" [ ! -e "$drive_c/Program Files/MIVRA" ]
expect "the Start-menu folder is still there" [ ! -e "$start_menu" ]
case_done "silent uninstall removes the entries and files, and keeps the logs and the edited INI"

wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
[ $failed -eq 0 ] && rm -rf "$work/wine64"  # 1.3 GB; kept for a look when a case failed
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
