#!/usr/bin/env bash
# Runs a command with a temporary HOME and XDG folders and a fresh, unlocked GNOME keyring on
# the current D-Bus session bus (start it inside `dbus-run-session`), then stops the keyring
# and removes the folders. The account tests use it: their tokens go through a real Secret
# Service and never touch the user's own keyring.
set -euo pipefail
home="$(mktemp -d "${TMPDIR:-/tmp}/kx-keyring.XXXXXX")"
keyring=""
cleanup() {
  [[ -n "$keyring" ]] && kill "$keyring" 2>/dev/null && wait "$keyring" 2>/dev/null
  rm -rf "$home"
}
trap cleanup EXIT
export HOME="$home"
export XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_CACHE_HOME="$home/cache"
export XDG_RUNTIME_DIR="$home/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
if [[ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]]; then
  echo "with-keyring: no D-Bus session; run under dbus-run-session" >&2
  exit 1
fi
# Services that the bus starts on demand (dconf, the accessibility bus) live in the same
# temporary home, not in the user's.
dbus-update-activation-environment HOME XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR 2>/dev/null || true
# The login keyring is created, with this password, and unlocked, so that nothing prompts.
printf 'kx-test' | gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null &
keyring=$!
for _ in $(seq 1 100); do
  if dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true'; then
    break
  fi
  sleep 0.05
done
"$@"
