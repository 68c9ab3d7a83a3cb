#!/usr/bin/env bash
# Installs, starts and uninstalls the Windows installer under Wine and Xvfb,
# as an admin and a user would:
#   - silent install (/S), twice: the second replaces the first;
#   - the installed folder is the one the installer was made from, every program
#     and DLL verifies against the CA (when given), the uninstall entry names publisher,
#     version and icon;
#   - the program starts from the Start-menu shortcut's target and working
#     folder and shows its main window (screenshot windows-installed.png);
#   - while the program runs, a silent install and the entry's silent uninstall
#     end with 2 and change nothing; after it is closed, an install works;
#   - the uninstall entry's silent command removes the program folder, the
#     shortcut and the entry, and leaves the user's data folder alone.
# Usage: installer-check.sh <setup.exe> <folder it was made from> [CA file]
# STROBIX_SCREENSHOT_DIR, if set, receives the screenshot.
. "$(dirname "$0")/common.sh"
. "$windows/wine.sh"
setup=$(realpath "${1:?usage: installer-check.sh <setup.exe> <folder> [CA file]}")
folder=$(cd "${2:?folder missing}" && pwd)
ca=${3:-}
ensure_packages wine64 wine xvfb xdotool imagemagick liblnk-utils osslsigncode

product='strobix Firmware Updater'
key="HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"
work=$(mktemp -d /tmp/strobix-installer.XXXXXX)
trap 'wine_finish $? "installer-check: logs"' EXIT

verify() { # <file>
    [ -z "$ca" ] && return 0
    osslsigncode verify -in "$1" -CAfile "$ca" >"$work/verify.log" 2>&1 \
        || { cat "$work/verify.log" >&2; fail "signature of $1 does not verify"; }
}
verify "$setup"

wine_session "$work" || fail "no Wine session"
drive_c=$WINEPREFIX/drive_c
localappdata=$(timeout 60 wine cmd /c 'echo %LOCALAPPDATA%' </dev/null 2>/dev/null | tr -d '\r')
data="$(unix_path "$localappdata")/Orvane kelvio GmbH/$product/kelvio"
mkdir -p "$data"
echo "from an earlier update" > "$data/dfu-util.log"

# --- install --------------------------------------------------------------
t0=$SECONDS
for run in first second; do
    timeout 180 wine "$setup" /S </dev/null >"$work/setup-$run.log" 2>&1 || fail "$run silent install failed"
    wine_settle 120 || fail "the prefix did not settle after the $run install"
done
log "two silent installs: $((SECONDS - t0)) s"

location=$(reg_value "$key" InstallLocation)
[ "$location" = "C:\\Program Files\\Orvane kelvio\\$product" ] || fail "installed into '$location'"
installed=$(unix_path "$location")
diff -r -x uninstall.exe -x install.log "$folder" "$installed" >"$work/diff.log" \
    || { cat "$work/diff.log" >&2; fail "the installed folder differs from $folder"; }
if [ -n "$ca" ]; then
    mapfile -t pe < <(pe_files "$installed")
    for f in "${pe[@]}"; do verify "$f"; done
    log "signatures: the installer and ${#pe[@]} programs and DLLs verify"
fi

[ "$(reg_value "$key" DisplayName)" = "$product" ] || fail "uninstall entry: no DisplayName"
[ "$(reg_value "$key" Publisher)" = "Orvane kelvio GmbH" ] || fail "uninstall entry: no Publisher"
[ -n "$(reg_value "$key" DisplayVersion)" ] || fail "uninstall entry: no DisplayVersion"
[ "$(reg_value "$key" DisplayIcon)" = "$location\\strobix-updater.exe,0" ] || fail "uninstall entry: no DisplayIcon"

# --- the USB driver: in the prefix's driver store --------------------------
# Wine's SetupCopyOEMInf keeps the INF's own name where Windows numbers it
# (oem<N>.inf); either way the store holds the INF unchanged.
staged_infs() {
    local f
    for f in "$drive_c/windows/inf"/*.inf; do
        if cmp -s "$f" "$folder/driver/strobix-dfu.inf"; then echo "${f##*/}"; fi
    done
}
[ -n "$(staged_infs)" ] || { cat "$installed/driver/install.log" >&2; fail "the driver package is not in the driver store"; }
grep -q '^in the driver store as ' "$installed/driver/install.log" || fail "the driver step left no log"
stored_cat=$(find "$drive_c/windows/system32/catroot" -name strobix-dfu.cat | head -n1)
cmp -s "$stored_cat" "$folder/driver/strobix-dfu.cat" || fail "the driver's catalog is not in the catalog store"
verify "$installed/driver/strobix-dfu.cat"
log "driver in the driver store as $(staged_infs)"

# --- start from the shortcut ----------------------------------------------
shortcut="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$product.lnk"
[ -f "$shortcut" ] || fail "no Start-menu shortcut for all users"
lnk_field() { lnkinfo "$shortcut" | sed -n "s/^\t$1\t*: //p"; }
target=$(lnk_field 'Local path')
workdir=$(lnk_field 'Working directory')
[ "$workdir" = "$location" ] || fail "the shortcut's working folder is '$workdir'"
[ "$target" = "$location\\strobix-updater.exe" ] || fail "the shortcut points at '$target'"

t0=$SECONDS
(cd "$(unix_path "$workdir")" && exec timeout 120 wine "$target" </dev/null >"$work/app.log" 2>&1) &
app_pid=$!
background+=("$app_pid")
poll 900 window_named "^$product\$" >/dev/null 2>&1 || fail "the main window did not appear"
win=$(window_named "^$product\$")
drawn() { [ "$(import -window "$win" png:- 2>/dev/null | identify -format '%k' - 2>/dev/null || echo 0)" -gt 100 ]; }
poll 300 drawn 2>/dev/null || fail "the main window was not drawn"
import -window root "$work/windows-installed.png"
if [ -n "${STROBIX_SCREENSHOT_DIR:-}" ]; then
    mkdir -p "$STROBIX_SCREENSHOT_DIR"
    cp "$work/windows-installed.png" "$STROBIX_SCREENSHOT_DIR/"
fi
xdotool key alt+F4
app_ended() { ! kill -0 "$app_pid" 2>/dev/null; }
poll 300 app_ended 2>/dev/null || fail "the program did not end after its window was closed"
timeout 30 wineserver -w || true
log "started from the shortcut: $((SECONDS - t0)) s"

# --- while the program runs -----------------------------------------------
# Its files are held open, so a silent install or uninstall must end with
# exit code 2 and change nothing at all; once the program is closed, both
# work again (the uninstall is the next part's).
t0=$SECONDS
# Every file and folder of the installation with its inode and change time,
# the shortcut, and the uninstall entry.
installation() {
    find "$installed" "$shortcut" -printf '%i %C@ %s %p\n' | sort
    timeout 60 wine reg query "$key" /s </dev/null 2>/dev/null | tr -d '\r'
}
# The entry's quiet uninstall command as a Windows tool runs it: the whole line
# through cmd, which waits for it and passes on its exit code.
quiet_uninstall() { # <log name>
    printf '@%s\r\n' "$(reg_value "$key" QuietUninstallString)" >"$work/quiet-uninstall.bat"
    timeout 120 wine cmd /c "$(timeout 60 winepath -w "$work/quiet-uninstall.bat")" </dev/null >"$work/$1.log" 2>&1
}
(cd "$installed" && exec timeout 300 wine "$installed/strobix-updater.exe" </dev/null >"$work/running.log" 2>&1) &
running_pid=$!
background+=("$running_pid")
poll 900 window_named "^$product\$" >/dev/null 2>&1 || fail "while running: the main window did not appear"
installation >"$work/installation.before"
rc=0; timeout 180 wine "$setup" /S </dev/null >"$work/setup-running.log" 2>&1 || rc=$?
[ "$rc" = 2 ] || fail "setup /S while the program runs ended with $rc, not 2"
installation | diff "$work/installation.before" - >&2 || fail "setup /S while the program runs changed the installation"
rc=0; quiet_uninstall uninstall-running || rc=$?
[ "$rc" = 2 ] || fail "the quiet uninstall while the program runs ended with $rc, not 2"
installation | diff "$work/installation.before" - >&2 || fail "the quiet uninstall while the program runs changed the installation"
xdotool key alt+F4
running_ended() { ! kill -0 "$running_pid" 2>/dev/null; }
poll 300 running_ended 2>/dev/null || fail "while running: the program did not end after its window was closed"
timeout 180 wine "$setup" /S </dev/null >"$work/setup-closed.log" 2>&1 || fail "setup /S after the program was closed failed"
wine_settle 120 || fail "the prefix did not settle after the install"
log "install and uninstall while the program runs, install after: $((SECONDS - t0)) s"

# --- uninstall ------------------------------------------------------------
t0=$SECONDS
quiet=$(reg_value "$key" QuietUninstallString)
[ "$quiet" = "\"$location\\uninstall.exe\" /S /REMOVESELF _?=$location" ] || fail "QuietUninstallString is '$quiet'"
quiet_uninstall uninstall || fail "silent uninstall failed"
# A copy of the uninstaller removes uninstall.exe once the uninstaller has ended.
wine_settle 120 || fail "the prefix did not settle after the uninstall"
log "silent uninstall: $((SECONDS - t0)) s"

[ ! -e "$drive_c/Program Files/Orvane kelvio" ] || fail "left in Program Files: $(find "$drive_c/Program Files/Orvane kelvio")"
left=$(find "$drive_c" -path '*/Start Menu/*' -iname '*strobix*')
[ -z "$left" ] || fail "left in the Start menu: $left"
for k in "$key" "${key/Software/Software\\Wow6432Node}" "${key/HKLM/HKCU}"; do
    ! timeout 60 wine reg query "$k" >/dev/null 2>&1 || fail "uninstall entry left: $k"
done
grep -q "earlier update" "$data/dfu-util.log" || fail "the user's data folder was touched"

# --- the USB driver: out of the store; a store that takes nothing ----------
[ -z "$(staged_infs)" ] || fail "the driver package is still in the driver store: $(staged_infs)"
# With C:\windows\inf a file, no package gets in: the program is installed all
# the same, and the log says why the driver is not.
t0=$SECONDS
mv "$drive_c/windows/inf" "$work/inf"
touch "$drive_c/windows/inf"
timeout 180 wine "$setup" /S </dev/null >"$work/setup-no-driver.log" 2>&1 || fail "the install failed when the driver could not be added"
wine_settle 120 || fail "the prefix did not settle after the install without driver"
rm "$drive_c/windows/inf"
mv "$work/inf" "$drive_c/windows/inf"
[ -f "$installed/strobix-updater.exe" ] || fail "no program after the driver failed"
grep -q '^FAILED: ' "$installed/driver/install.log" || fail "the driver's failure is not in driver\\install.log"
quiet_uninstall uninstall-no-driver || fail "uninstall after the driver failed"
wine_settle 120 || fail "the prefix did not settle after the uninstall without driver"
[ ! -e "$installed" ] || fail "left in Program Files after the driver failed: $(find "$installed")"
log "install with a driver failure: $((SECONDS - t0)) s"

log "installer-check: passed in $((SECONDS - t_start)) s"
