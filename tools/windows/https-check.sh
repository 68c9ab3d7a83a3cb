#!/usr/bin/env bash
# The Windows program fetches its image over HTTPS (Qt's Schannel backend) under
# Wine, from nginx with TLS on loopback, trusting only a test CA that is placed
# in the prefix's trusted root store, as an admin would place a company CA:
#   good certificate                  -> the image is downloaded and written
#   certificate for another name      -> "Kann Imagedatei nicht herunterladen /
#   expired certificate                   Cannot download image file", no file
# With STROBIX_MINISIGN_KEY (the secret key whose public key the build carries),
# the image is signed, and one more row serves another sound image under the
# same signature: the signature text, no file, the unit untouched.
# The unit is the virtual one behind build.sh's test dfu-util.exe (as in e2e.sh).
# The program's text in the outcome box is read through Ctrl+C, which copies a
# Windows message box's text. Runs in a network namespace of its own (as
# tests/support/common.sh's own_loopback makes it), so the port compiled into
# the program is free.
# Usage: https-check.sh <build folder of build.sh, built for https://localhost:PORT/firmware/> [vu-tool]
#   vu-tool defaults to <repo>/build/virtualunit/vu-tool (built by test.sh).
. "$(dirname "$0")/common.sh"
. "$windows/wine.sh"
# Before the namespace, which has no way out to the package archive.
ensure_packages wine64 wine libgnutls30 xvfb xdotool xclip nginx openssl dfu-util minisign
own_loopback "$0" "$@"
build=$(cd "${1:?usage: https-check.sh <build folder> [vu-tool]}" && pwd)
vutool=${2:-$repo/build/virtualunit/vu-tool}
folder=$build/strobix-updater
[ -f "$build/test-dfu-util/dfu-util.exe" ] || { echo "https-check: no test dfu-util.exe in $build" >&2; exit 1; }
[ -x "$vutool" ] || { echo "https-check: no vu-tool at $vutool (./test.sh builds it)" >&2; exit 1; }

url=$(grep -aoE 'https://localhost:[0-9]+/firmware/' "$folder/strobix-updater.exe" | head -n1 || true)
[ -n "$url" ] || { echo "https-check: the program's firmware URL is not https://localhost:<port>/firmware/" >&2; exit 1; }
port=${url#https://localhost:}; port=${port%%/*}
title='^strobix Firmware Updater$'
work=$(mktemp -d /tmp/strobix-https.XXXXXX)
cleanup() {
    local status=$?
    [ ! -f "$work/nginx/nginx.pid" ] || kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true
    wine_finish "$status" "https-check: logs"
}
trap cleanup EXIT

"$here/../test-certs.sh" "$work/certs"
wine_session "$work" || fail "no Wine session"

trust_root_ca "$work/certs/ca.pem" || fail "cannot add the test CA"

localappdata=$(timeout 60 wine cmd /c 'echo %LOCALAPPDATA%' </dev/null 2>/dev/null | tr -d '\r')
data="$(unix_path "$localappdata")/Orvane kelvio GmbH/strobix Firmware Updater/kelvio"

# The folder with the test dfu-util.exe, on a virtual X21 for Canon.
cp -r "$folder" "$work/app"
cp "$build/test-dfu-util/dfu-util.exe" "$work/app/dfu-util/dfu-util.exe"
"$vutool" init "$work/pristine.state" x21-canon
STROBIX_VU_STATE=$(timeout 60 winepath -w "$work/unit.state")
export STROBIX_VU_STATE STROBIX_VU_MODEL=x21-canon
mkdir -p "$work/www" "$work/nginx/tmp"
# A sound DfuSe image for that unit, where make-images.sh puts the X21's.
head -c 20000 /dev/urandom > "$work/image.bin"
dfuse-pack -b "0x08004000:$work/image.bin" -D 0x0483:0xdf11 "$work/www/SX2100b0.dfu" >/dev/null
signing=${STROBIX_MINISIGN_KEY:+1}
[ -z "$signing" ] || minisign -S -s "$STROBIX_MINISIGN_KEY" -m "$work/www/SX2100b0.dfu" >/dev/null \
    || fail "cannot sign the image with $STROBIX_MINISIGN_KEY"

start_nginx() { # <certificate name>
    cat > "$work/nginx/nginx.conf" <<CONF
user root root;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log info;
events { worker_connections 16; }
http {
    access_log $work/nginx/access.log;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port ssl;
        ssl_certificate $work/certs/$1.pem;
        ssl_certificate_key $work/certs/$1.key;
        location /firmware/ { alias $work/www/; }
    }
}
CONF
    rm -f "$work/nginx/access.log"
    /usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" || fail "nginx did not start"
    poll 100 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null || fail "nginx does not answer"
}
stop_nginx() {
    local pid
    pid=$(cat "$work/nginx/nginx.pid")
    kill -QUIT "$pid"
    poll 100 sh -c "! kill -0 $pid" 2>/dev/null || fail "nginx did not stop"
}

# Ctrl+C in the outcome box puts its title, text and buttons on the clipboard.
# xclip waits for the clipboard's owner, Wine, which once did not answer for
# 13 minutes: each read has a limit, and the next poll copies again.
box_text() {
    xdotool key ctrl+c
    timeout 5 xclip -o -selection clipboard 2>/dev/null | tr -d '\r' | sed -n 4p | grep .
}
box_shown() { box_text >/dev/null; }

run_case() { # <certificate> <expected text in the box> [name of the row]
    local t0=$SECONDS win text app_pid name=${3:-$1}
    start_nginx "$1"
    rm -rf "$data"
    cp "$work/pristine.state" "$work/unit.state"
    (cd "$work/app" && exec timeout 120 wine strobix-updater.exe </dev/null >"$work/app-$name.log" 2>&1) &
    app_pid=$!
    background+=("$app_pid")
    poll 900 window_named "$title" >/dev/null 2>&1 || fail "$name: the main window did not appear"
    win=$(window_named "$title")
    # Start's top-left is at (-2, 336) of the 480x480 window; Wine takes a
    # press only where it has seen the pointer arrive.
    for attempt in 1 2 3; do
        click_start "$win"
        ! poll 150 test -e "$data/dfu-util.log" 2>/dev/null || break
        [ "$attempt" -lt 3 ] || fail "$name: pressing Start did not start the update"
    done
    text=
    poll 600 box_shown 2>/dev/null || fail "$name: no outcome box"
    text=$(box_text)
    [ "$text" = "$2" ] || fail "$name: the box says '$text', not '$2'"
    xdotool key Return
    xdotool key alt+F4
    poll 300 sh -c "! kill -0 $app_pid" 2>/dev/null || fail "$name: the program did not end"
    # Wine's clipboard keeps the prefix alive; ending it also empties the
    # clipboard, so the next box's text cannot be an old one.
    timeout 30 wineserver -k || true
    timeout 30 wineserver -w
    stop_nginx
    log "$name: $text ($((SECONDS - t0)) s)"
}

run_case good "Firmware Update ok"
cmp -s "$work/www/SX2100b0.dfu" "$data/SX2100b0.dfu" || fail "good: the image did not arrive whole"
"$vutool" read "$work/unit.state" 0x08004000 20000 "$work/written.bin" >/dev/null
cmp -s "$work/image.bin" "$work/written.bin" || fail "good: the unit does not hold the image"

for cert in wrong-name expired; do
    run_case "$cert" "Kann Imagedatei nicht herunterladen / Cannot download image file"
    [ ! -e "$data/SX2100b0.dfu" ] || fail "$cert: a file was left behind"
    cmp -s "$work/pristine.state" "$work/unit.state" || fail "$cert: the unit was written after the failed download"
    ! grep -q 'GET /firmware/' "$work/nginx/access.log" || fail "$cert: the request went out over an untrusted connection"
done

if [ -n "$signing" ]; then
    head -c 20000 /dev/urandom > "$work/other.bin"
    dfuse-pack -b "0x08004000:$work/other.bin" -D 0x0483:0xdf11 "$work/www/SX2100b0.dfu" >/dev/null
    run_case good "Signatur der Imagedatei fehlt oder ist ungültig / Image file signature missing or invalid" \
        "changed after signing"
    if [ -e "$data/SX2100b0.dfu" ] || [ -e "$data/SX2100b0.dfu.minisig" ]; then fail "changed after signing: a file was left"; fi
    cmp -s "$work/pristine.state" "$work/unit.state" || fail "changed after signing: the unit was written"
    grep -q 'GET /firmware/SX2100b0.dfu.minisig' "$work/nginx/access.log" || fail "changed after signing: no signature fetched"
    grep -aq 'its signature check failed: the signature by key' "$data/dfu-util.log" \
        || fail "changed after signing: dfu-util.log does not say why"
fi
log "https-check: passed in $((SECONDS - t_start)) s"
