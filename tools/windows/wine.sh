# Shared by the Wine checks in tools/windows/ (after common.sh): an X server
# and a fresh 64-bit Wine prefix for one run, and their end.
# shellcheck shell=bash

# Ends the script with its message and a picture of the screen in $work.
fail() {
    echo "${0##*/}: FAIL: $*" >&2
    [ -z "${DISPLAY:-}" ] || import -window root "$work/failure.png" 2>/dev/null || true
    exit 1
}

# Now and then an X request of xdotool's stays unanswered for minutes under
# Wine on a busy machine, a window search with the window long on the screen
# among them: every call is bounded, and the polls that use it ask again.
xdotool() { timeout 10 xdotool "$@"; }

# Prints a visible window whose title matches, or fails when there is none.
# Poll it: xdotool's --sync gives up as soon as a window it looks at goes
# away, as Wine's start-up windows do.
window_named() { # <title regex>
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 | grep .
}

# Starts Xvfb and makes a prefix in <work>/prefix; exports DISPLAY and WINEPREFIX.
wine_session() { # <work folder> [screen WIDTHxHEIGHT]
    local work=$1 t0=$SECONDS
    start_xvfb "${2:-1024x768}" || return 1
    export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
    # No Mono or Gecko installer dialogs: they would wait for a click forever.
    # No winemenubuilder: it would copy Start-menu shortcuts into the host's menus.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    timeout 180 wineboot --init </dev/null >"$work/wineboot.log" 2>&1 || { echo "wineboot failed" >&2; return 1; }
    timeout 120 wineserver -w || { echo "wineserver did not settle" >&2; return 1; }
    log "wine prefix: $((SECONDS - t0)) s"
}

# Puts a CA certificate (PEM) into the prefix's trusted root store, as an
# admin places a company CA: the registry value holds the certificate as
# Windows serialises it, property 32 (the encoded certificate), under the
# SHA-1 thumbprint.
trust_root_ca() { # <PEM file>
    local der le_length thumb
    der=$(openssl x509 -in "$1" -outform DER | od -An -tx1 -v | tr -d ' \n')
    le_length=$(printf '%08x' $((${#der} / 2)) | sed 's/\(..\)\(..\)\(..\)\(..\)/\4\3\2\1/')
    thumb=$(openssl x509 -in "$1" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
    timeout 60 wine reg add "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\$thumb" \
        /v Blob /t REG_BINARY /d "2000000001000000$le_length$der" /f >/dev/null 2>&1
}

# Waits until the prefix's programs have ended, at most <seconds>. Wine's
# desktop process (explorer.exe /desktop) misses the end of a program that quits
# while the desktop starts, and then stays for good, so that `wineserver -w`
# alone would wait for nothing: when it is all that is left beside Wine's own
# services, the prefix is ended.
wine_settle() { # <seconds>
    local end=$((SECONDS + $1)) procs
    until timeout 10 wineserver -w; do
        procs=$(timeout 30 wine winedbg --command 'info proc' </dev/null 2>/dev/null | tr -d '\r' \
            | grep -o "'[^']*'") || procs=
        if grep -qx "'explorer.exe'" <<<"$procs" \
            && ! grep -qvxE "'(explorer|services|svchost|plugplay|winedevice|rpcss|start|winedbg|conhost)\.exe'" <<<"$procs"; then
            log "ending Wine's desktop, which outlived the last program"
            timeout 30 wineserver -k || true
            return 0
        fi
        [ "$SECONDS" -lt "$end" ] || return 1
    done
}

# Ends the prefix's processes, then the script's background ones and the X server.
wine_end() {
    if [ -n "${WINEPREFIX:-}" ]; then timeout 30 wineserver -k 2>/dev/null || true; fi
    stop_all
}

# The end of a check: $work goes when it passed, and stays for a look when not.
wine_finish() { # <exit status> <what $work holds, as "name: logs">
    wine_end
    if [ "$1" -eq 0 ]; then rm -rf "$work"; else echo "$2 kept in $work" >&2; fi
}

# Confirms the outcome box with Return and closes the main window (title
# $title) as a user would; the program ($app_pid) must then end by itself.
# Sets rc to its exit status.
# shellcheck disable=SC2034,SC2154  # title, app_pid and rc are the caller's
close_app() { # <row name>
    xdotool key Return
    poll 200 sh -c "[ \$(xdotool search --onlyvisible --name '$title' | wc -l) -le 1 ]" 2>/dev/null \
        || fail "$1: the box did not close on Return"
    xdotool key alt+F4
    poll 300 ended "$app_pid" || fail "$1: the program did not end after its window was closed"
    rc=0
    wait "$app_pid" || rc=$?
}

# Start's top-left is at (-2, 336) of the 480x480 client area; click inside it.
# Should the X window ever include a frame, the client area is taken as
# centred horizontally and at the bottom.
click_start() {
    # shellcheck disable=SC2034  # set by the eval
    local w=$1 WIDTH HEIGHT X Y SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$w")"
    local ox=$(((WIDTH - 480) / 2)) oy
    oy=$((HEIGHT - 480 - ox))
    # Wine takes a press only where it has seen the pointer arrive: move in
    # two steps, then click as a separate request.
    xdotool mousemove --window "$w" $((70 + ox)) $((385 + oy))
    xdotool mousemove --window "$w" $((74 + ox)) $((389 + oy))
    xdotool click 1
}

# A path in the prefix as Linux sees it.
unix_path() { timeout 60 winepath -u "$1" 2>/dev/null; }

# The value of a REG_SZ or REG_DWORD registry value, empty when there is none.
reg_value() { # <key> <name>
    timeout 60 wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' \
        | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
