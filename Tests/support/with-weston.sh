#!/usr/bin/env bash
# Runs a command as a native Wayland client of a private, headless weston: a fresh runtime
# folder (mode 0700) that holds the compositor's socket, GDK_BACKEND=wayland, and no X display
# to fall back to. weston renders with pixman and runs with its debug protocols, so that
# weston-screenshooter can take the screen (it is refused otherwise). KX_WESTON_SEAT names the
# module that gives the compositor a seat (weston/kx-test-seat.c): without it the headless
# compositor has no keyboard, pointer or clipboard. The compositor stops, and the folder goes,
# when the command ends; the command's status is the script's.
set -euo pipefail
runtime="$(mktemp -d "${TMPDIR:-/tmp}/kx-weston.XXXXXX")"
chmod 700 "$runtime"
compositor=""
cleanup() {
  if [[ -n "$compositor" ]]; then
    kill "$compositor" 2>/dev/null || true
    wait "$compositor" 2>/dev/null || true
  fi
  rm -rf "$runtime"
}
trap cleanup EXIT
socket="kx-wayland"
modules=()
[[ -n "${KX_WESTON_SEAT:-}" ]] && modules=(--modules="$KX_WESTON_SEAT")
XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --socket="$socket" --width=1600 --height=1000 \
  --idle-time=0 --use-pixman --debug --no-config "${modules[@]}" --log="$runtime/weston.log" >/dev/null 2>&1 &
compositor=$!
for _ in $(seq 1 200); do
  [[ -S "$runtime/$socket" ]] && break
  if ! kill -0 "$compositor" 2>/dev/null; then
    echo "with-weston: weston did not start:" >&2
    cat "$runtime/weston.log" >&2 2>/dev/null || true
    exit 1
  fi
  sleep 0.05
done
if [[ ! -S "$runtime/$socket" ]]; then
  echo "with-weston: no compositor socket after 10 s" >&2
  exit 1
fi
export XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$socket" GDK_BACKEND=wayland
unset DISPLAY
# Not exec: the compositor is stopped after the command.
status=0
"$@" || status=$?
exit "$status"
