#!/bin/sh
# Runs one test with a fresh, private HOME so nothing touches the real one.
home=$(mktemp -d "${TMPDIR:-/tmp}/qvtest.XXXXXX") || exit 1
HOME="$home"
XDG_RUNTIME_DIR="$home/runtime"
XDG_CONFIG_HOME="$home/.config"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export HOME XDG_RUNTIME_DIR XDG_CONFIG_HOME
"$@"
rc=$?
rm -rf "$home"
exit $rc
