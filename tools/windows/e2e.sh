#!/usr/bin/env bash
# Whole updates under Wine with the real parts: the package's strobix-updater.exe,
# the test dfu-util.exe of build-test-dfu.sh (the shipped tool's own object files
# with the virtual unit as its USB layer) as dfu-util\dfu-util.exe, and nginx
# serving make-images.sh's images at the address compiled into the program.
# Each row checks the outcome box's text (copied with Ctrl+C, as on Windows), what
# the unit holds (the Linux vu-tool on the state file the Windows tool wrote) and
# the files left in the data folder.
# It runs in a private network namespace with its own X server, so the program's
# fixed port is free whatever else runs on the machine.
# Usage: e2e.sh <build folder of build.sh> [vu-tool]
#   vu-tool defaults to <repo>/build/virtualunit/vu-tool (built by test.sh).
# STROBIX_SCREENSHOT_DIR, if set, receives windows-update-ok.png.
. "$(dirname "$0")/common.sh"
. "$windows/wine.sh"
# Before the namespace, which has no way out to the package archive.
ensure_packages wine64 wine xvfb xdotool xsel imagemagick x11-utils nginx curl dfu-util python3 iproute2
own_loopback "$0" "$@"

build=$(cd "${1:?usage: e2e.sh <build folder> [vu-tool]}" && pwd)
vutool=${2:-$repo/build/virtualunit/vu-tool}
package=$build/strobix-updater
testdfu=$build/test-dfu-util/dfu-util.exe
[ -f "$package/strobix-updater.exe" ] || { echo "no package folder $package (tools/windows/build.sh)" >&2; exit 1; }
[ -f "$testdfu" ] || { echo "no test dfu-util.exe $testdfu (tools/windows/build.sh)" >&2; exit 1; }
[ -x "$vutool" ] || { echo "no vu-tool at $vutool (./test.sh builds it)" >&2; exit 1; }

title='^strobix Firmware Updater$'
work=$(mktemp -d /tmp/strobix-e2e.XXXXXX)
failed=0
cleanup() {
    local status=$?
    [ ! -d "$work/docroot" ] || STROBIX_NGINX_RUN=$work/nginx "$repo/tools/firmware/nginx.sh" stop "$work/docroot" \
        "${port:-0}" >/dev/null 2>&1 || true
    wine_finish "$status" "e2e: logs and screenshots"
}
trap cleanup EXIT

# The images the rows need; meanwhile the X server and Wine start.
("$repo/tools/firmware/make-images.sh" "$work/images" && "$repo/tools/firmware/make-images.sh" --broken "$work/broken") \
    >"$work/images.log" 2>&1 &
images_pid=$!

url=$(grep -aoE 'http://127\.0\.0\.1:[0-9]+/firmware/' "$package/strobix-updater.exe" | head -n1 || true)
[ -n "$url" ] || fail "the program's firmware URL is not a loopback http://127.0.0.1:<port>/firmware/ one"
port=${url#http://127.0.0.1:}; port=${port%%/*}

# --- X server, Wine prefix ------------------------------------------------
# Inside the namespace: an X server outside it is not reachable by its abstract socket.
# The ANSI code page must be 1252 (Western), whatever the machine's locale.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
wine_session "$work" || fail "no Wine session"

wait "$images_pid" || { cat "$work/images.log" >&2; fail "make-images.sh failed"; }
mkdir -p "$work/docroot"
STROBIX_NGINX_RUN=$work/nginx "$repo/tools/firmware/nginx.sh" start "$work/docroot" "$port" >"$work/nginx.log" 2>&1 \
    || { cat "$work/nginx.log" >&2; fail "nginx did not start"; }

# --- one row ----------------------------------------------------------------
win_path() { local p=${1//\//\\}; echo "Z:$p"; }

# The next rows run as this user: Local AppData under the user's profile, as
# Windows has it, and the program unpacked into the user's Downloads (a path with
# blanks), with the test tool in place of the shipped one.
set_user() {
    local user=$1 profile="$WINEPREFIX/drive_c/users/$1"
    app="$profile/Downloads/strobix Firmware Updater"
    mkdir -p "$profile/Downloads"
    cp -r "$package" "$app"
    cp "$testdfu" "$app/dfu-util/dfu-util.exe"
    printf 'Windows Registry Editor Version 5.00\r\n\r\n%s\r\n"Local AppData"="C:\\\\users\\\\%s\\\\AppData\\\\Local"\r\n' \
        '[HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders]' "$user" \
        | iconv -f UTF-8 -t UTF-16 > "$work/user.reg"
    timeout 60 wine regedit /s "$(win_path "$work/user.reg")" </dev/null >/dev/null 2>&1 || fail "regedit failed"
    data="$profile/AppData/Local/Orvane kelvio GmbH/strobix Firmware Updater/kelvio"
}

app_pid=
# Sets $win. Polled rather than xdotool's --sync, which gives up when a window it
# looks at goes away, as Wine's start-up windows do.
main_window() { win=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n1) && [ -n "$win" ]; }
# The box's text: Ctrl+C copies a Windows message box, title, text and buttons
# between dashed lines. Until the box is up, the keys reach windows that ignore them.
box_text() {
    xdotool key ctrl+c
    # Only gives Wine a moment to take the copy: a copy that is not there yet
    # fails the check below, and the poll around this asks again.
    sleep 0.2
    local copied
    copied=$(timeout 5 xsel --clipboard --output 2>/dev/null | tr -d '\r') || return 1
    [ "$(grep -c '^-\{20,\}$' <<< "$copied")" -ge 4 ] || return 1
    awk '/^--------------------+$/ { n++; next } n == 2' <<< "$copied" > "$work/box.txt"
}

next_box() { box_text && [ "$(cat "$work/box.txt")" != "$repair_box" ]; }

u32() { od -An -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }
# The unit holds the first <in place> bytes of the image's elements (in order);
# the element broken off reads erased from there, and elements never reached are
# as they were (or lie outside the unit's memory).
check_partial() { # <state> <pristine> <image> <bytes in place>
    local left=$4 at=285 count i address size n held was reached
    count=$(u32 "$3" 281)
    for ((i = 0; i < count; i++)); do
        address=$(u32 "$3" "$at"); size=$(u32 "$3" $((at + 4)))
        reached=$((left > 0 || i == 0))
        n=$((left < size ? left : size)); left=$((left - n))
        held=$work/held.$i was=$work/was.$i
        if ! "$vutool" read "$1" "$address" "$size" "$held" 2>/dev/null; then
            [ "$reached" -eq 0 ] || { echo "element $i is outside the unit"; return 1; }
            at=$((at + 8 + size))
            continue
        fi
        "$vutool" read "$2" "$address" "$size" "$was" || return 1
        if [ "$reached" -eq 0 ]; then
            cmp -s "$held" "$was" || { echo "element $i was changed"; return 1; }
        else
            cmp -s -n "$n" "$held" <(tail -c +$((at + 9)) "$3") || { echo "element $i lacks its first $n bytes"; return 1; }
            [ "$(tail -c +$((n + 1)) "$held" | tr -d '\377' | wc -c)" -eq 0 ] \
                || { echo "element $i holds more than $n bytes"; return 1; }
        fi
        at=$((at + 8 + size))
    done
}

# row <name> <model> <fault> <image the unit asks for, or -> <box text>
#     <unit: whole | unchanged | partial:N> <files in the data folder> <text in dfu-util.log>
#     [<folder the server takes the image from>]
row() {
    local name=$1 model=$2 fault=$3 image=$4 text=$5 memory=$6 files=$7 logtext=$8 images=${9:-$work/images}
    local unit=$work/unit.state pristine=$work/pristine.state t0=$SECONDS rc=0
    "$vutool" init "$pristine" "$model"
    cp "$pristine" "$unit"
    rm -rf "$data" "$work/docroot/"*
    [ "$image" = - ] || cp "$images/$image" "$work/docroot/"
    xsel --clipboard --clear
    (cd "$app" && STROBIX_VU_STATE=$(win_path "$unit") STROBIX_VU_MODEL=$model STROBIX_VU_FAULT=$fault \
        exec timeout 180 wine "$app/strobix-updater.exe" </dev/null >"$work/app.log" 2>&1) &
    app_pid=$!
    win=
    poll 900 main_window 2>/dev/null || fail "$name: the main window did not appear"
    for attempt in 1 2 3; do
        click_start "$win"
        ! poll 150 test -e "$data/dfu-util.log" 2>/dev/null || break
        [ "$attempt" -lt 3 ] || fail "$name: pressing Start did not start the tool"
    done
    poll 1200 box_text 2>/dev/null || fail "$name: no outcome box"
    local problems=()
    # A repair row: the no-driver box first, whose second button is pressed.
    if [ -n "${repair_box:-}" ]; then
        [ "$(cat "$work/box.txt")" = "$repair_box" ] \
            || problems+=("the first box says \"$(cat "$work/box.txt")\", not \"$repair_box\"")
        xsel --clipboard --clear
        # From OK, the default button, to "Treiber installieren / Install driver".
        xdotool key Tab Return
        # The next box may come before a check for the first one's end could see it go.
        poll 1800 next_box 2>/dev/null || fail "$name: no box after the repair"
    fi
    if [ "$name" = "X21 Canon" ] && [ -n "${STROBIX_SCREENSHOT_DIR:-}" ]; then
        mkdir -p "$STROBIX_SCREENSHOT_DIR"
        import -window root "$STROBIX_SCREENSHOT_DIR/windows-update-ok.png"
    fi
    [ "$(cat "$work/box.txt")" = "$text" ] || problems+=("the box says \"$(cat "$work/box.txt")\", not \"$text\"")

    case $memory in
        whole) "$vutool" compare "$unit" "$images/$image" "$pristine" >"$work/unit.txt" 2>&1 \
                   || problems+=("the unit does not hold $image: $(tail -n1 "$work/unit.txt")") ;;
        unchanged) "$vutool" diff "$pristine" "$unit" >"$work/unit.txt" 2>&1 \
                   || problems+=("the unit was changed: $(head -n3 "$work/unit.txt")") ;;
        partial:*) check_partial "$unit" "$pristine" "$images/$image" "${memory#partial:}" >"$work/unit.txt" 2>&1 \
                   || problems+=("the unit is not as a write broken off at ${memory#partial:} bytes leaves it: $(cat "$work/unit.txt")") ;;
    esac

    local found
    found=$(cd "$data" 2>/dev/null && ls | sort | tr '\n' ' ' || true)
    [ "$found" = "$files " ] || problems+=("the data folder holds \"$found\", not \"$files \"")
    [ "$image" = - ] || [ ! -e "$data/$image" ] || cmp -s "$images/$image" "$data/$image" \
        || problems+=("$image in the data folder differs from the server's")
    grep -aqF "$logtext" "$data/dfu-util.log" || problems+=("dfu-util.log lacks \"$logtext\"")

    close_app "$name"
    [ "$rc" -eq 0 ] || problems+=("the program ended with $rc")

    if [ ${#problems[@]} -eq 0 ]; then
        log "ok     $name: \"$text\" ($((SECONDS - t0)) s)"
    else
        log "NOT OK $name:"
        printf '         %s\n' "${problems[@]}" >&2
        cp -r "$data" "$work/data-${name//[^A-Za-z0-9]/_}" 2>/dev/null || true
        failed=$((failed + 1))
    fi
}

ok='Firmware Update ok'
notok='Firmware upgrade NOT ok!'
nounit='Kein kompatibles Gerät gefunden / No compatible device found'
done_text='Done parsing DfuSe file'

set_user 'Anna Berg'
row 'X21 Canon' x21-canon none SX2100b0.dfu "$ok" whole 'SX2100b0.dfu dfu-util.log' "$done_text"
row 'X33 Fuji (third area, -c 1)' x33-fuji none SX330196.dfu "$ok" whole 'SX330196.dfu dfu-util.log' "$done_text"
row 'X58 Pentax (OTP area)' x58-pentax none SX580173.dfu "$ok" whole 'SX580173.dfu dfu-util.log' "$done_text"
row 'no unit' x21-canon absent - "$nounit" unchanged 'dfu-util.log' 'No DFU capable USB device available'
# 2048-byte blocks; the failing block programs its first half.
row 'program-fail:5' x21-canon program-fail:5 SX2100b0.dfu "$notok" partial:$((4 * 2048 + 1024)) \
    'SX2100b0.dfu dfu-util.log' ' failed!'
# The first element's bars reach 100 %; then dfu-util refuses the second, in system memory.
row 'second element cannot be written' x21-canon none SX2100b0.dfu "$notok" partial:20000 \
    'SX2100b0.dfu dfu-util.log' 'is not writeable' "$work/broken/unwritable"
# Names that the ANSI code page (1252 here) cannot spell.
set_user 'Łukasz Żółw'
row 'user Łukasz Żółw' x21-canon none SX2100b0.dfu "$ok" whole 'SX2100b0.dfu dfu-util.log' "$done_text"
set_user '山田'
row 'user 山田' x58-pentax none SX580173.dfu "$ok" whole 'SX580173.dfu dfu-util.log' "$done_text"

# A unit without its driver; the box's second button runs driver\strobix-driver.exe.
repair_box=$(printf '%s\n%s' \
    'Blitzgerät gefunden, aber ohne passenden USB-Treiber / Flash unit found, but without a suitable USB driver' \
    'Klicken Sie auf „Treiber installieren“ und bestätigen Sie die Frage von Windows / Click "Install driver" and confirm Windows'"'"' question')
# The tool fails (as when the question is declined): a driver store that takes nothing.
store="$WINEPREFIX/drive_c/windows/inf"
mv "$store" "$store.away" && touch "$store"
row 'driver repair fails' x21-canon no-driver SX2100b0.dfu "$(printf '%s\n%s' \
    'USB-Treiber wurde nicht installiert: abgelehnt oder fehlgeschlagen / USB driver not installed: declined or failed' \
    'Der Grund steht in driver\install.log im Programmordner und in dfu-util.log / The reason is in driver\install.log in the program folder and in dfu-util.log')" \
    unchanged 'dfu-util.log' 'exit status: 1'
rm "$store" && mv "$store.away" "$store"
# The package goes into the driver store, the unit gets its binding, and the update runs again.
row 'driver repair, then the update' x21-canon no-driver SX2100b0.dfu "$ok" whole 'SX2100b0.dfu dfu-util.log' "$done_text"
repair_box=

[ "$failed" -eq 0 ] || fail "$failed of 10 rows failed"
log "e2e: 10 rows passed in $((SECONDS - t_start)) s"
echo "10 passed, 0 failed"
