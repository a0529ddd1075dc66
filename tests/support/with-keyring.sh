#!/bin/sh
# Runs a command on the private session bus that dbus-run-session made, with an unlocked
# GNOME Keyring answering the Secret Service from a throwaway home:
#   dbus-run-session -- with-keyring.sh COMMAND...
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" XDG_RUNTIME_DIR="$tmp/run"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The keyring's password on standard input creates and unlocks the login keyring.
printf '%s' ormix-test-keyring |
    gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null
# Wait until the daemon owns the name, so nothing activates a second, locked one.
tries=0
until dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
    grep -q 'boolean true'; do
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
        echo "with-keyring: the keyring did not start" >&2
        exit 1
    fi
    sleep 0.1
done
status=0
"$@" || status=$?
exit "$status"
