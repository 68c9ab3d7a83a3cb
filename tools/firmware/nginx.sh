#!/bin/bash
# Serves a folder of firmware images the way the firmware server does:
# GET http://127.0.0.1:PORT/firmware/NAME returns DOCROOT/NAME.
#
#   nginx.sh start|stop|status DOCROOT [PORT]      (PORT defaults to 48213)
#
# Uses the system's nginx with a configuration of our own. Everything it writes
# (configuration, pid, logs, temp files) goes to a runtime folder beside DOCROOT,
# DOCROOT/../nginx-run-PORT, or to $STROBIX_NGINX_RUN when that is set.
set -euo pipefail
. "$(dirname "$0")/../../tests/support/common.sh"

NGINX=${STROBIX_NGINX:-/usr/sbin/nginx}
POLL_TENTHS=100 # 10 s for starting and for stopping

usage() {
    echo "usage: $0 start|stop|status DOCROOT [PORT]" >&2
    exit 2
}

[ $# -ge 2 ] && [ $# -le 3 ] || usage
action=$1
port=${3:-48213}
case $port in '' | *[!0-9]*) usage ;; esac
[ -d "$2" ] || { echo "$0: no such folder: $2" >&2; exit 2; }
docroot=$(cd "$2" && pwd -P)
run=${STROBIX_NGINX_RUN:-$(dirname "$docroot")/nginx-run-$port}
pidfile=$run/nginx.pid
url=http://127.0.0.1:$port/firmware/

running_pid() {
    local pid
    pid=$(cat "$pidfile" 2>/dev/null) || return 1
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}

answers() {
    local code
    code=$(curl -s -o /dev/null --max-time 2 -w '%{http_code}' "$url" || true)
    [ -n "$code" ] && [ "$code" != 000 ]
}

write_config() {
    mkdir -p "$run/tmp"
    local user=""
    # Workers of a root master would run as nobody, who may not read the images.
    [ "$(id -u)" -eq 0 ] && user="user root root;"
    cat >"$run/nginx.conf" <<CONF
$user
worker_processes 1;
pid $pidfile;
error_log $run/error.log warn;
events { worker_connections 64; }
http {
    access_log $run/access.log;
    client_body_temp_path $run/tmp/body;
    proxy_temp_path $run/tmp/proxy;
    fastcgi_temp_path $run/tmp/fastcgi;
    uwsgi_temp_path $run/tmp/uwsgi;
    scgi_temp_path $run/tmp/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port;
        server_name localhost;
        location /firmware/ {
            alias $docroot/;
        }
        location / {
            return 404;
        }
    }
}
CONF
}

start() {
    if pid=$(running_pid); then
        echo "already running (pid $pid) on port $port"
        return 0
    fi
    if answers; then
        echo "$0: something else answers on port $port" >&2
        return 1
    fi
    write_config
    # -e: nginx opens its error log before reading the configuration.
    "$NGINX" -p "$run" -c "$run/nginx.conf" -e "$run/error.log"
    if poll "$POLL_TENTHS" answers; then
        echo "serving $docroot at $url"
        return 0
    fi
    echo "$0: nginx did not answer on port $port; see $run/error.log" >&2
    return 1
}

stop() {
    local pid
    if ! pid=$(running_pid); then
        echo "not running"
        return 0
    fi
    kill -QUIT "$pid"
    poll "$POLL_TENTHS" ended "$pid" && { echo "stopped"; return 0; }
    kill -KILL "$pid" 2>/dev/null || true
    echo "stopped (killed)"
}

status() {
    local pid
    if pid=$(running_pid); then
        echo "running (pid $pid), serving $docroot at $url"
        return 0
    fi
    echo "not running"
    return 3
}

case $action in
start) start ;;
stop) stop ;;
status) status ;;
*) usage ;;
esac
