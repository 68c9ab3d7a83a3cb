#!/usr/bin/env bash
# Runs a command in a network namespace of its own, for tests that serve on the
# build's fixed firmware port beside other test runs and ./run.sh.
. "$(dirname "$0")/common.sh"
own_loopback "$0" "$@"
exec "$@"
