#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a program as a Wayland client of a private, headless Weston: its own
# runtime folder (mode 0700) and socket, so it meets no other compositor and
# no other test's. The output is 1280 x 900, as the virtual X desktop.
# Weston goes when the program ends, whatever its end.
#   scripts/on-wayland-desktop.sh PROGRAM [ARGUMENT...]
# Exits 77 (reported as skipped by CTest) when Weston or its headless
# backend is missing.
set -euo pipefail
if ! command -v weston >/dev/null; then
    echo "SKIP: weston is missing (scripts/install-deps.sh --extra installs it)" >&2
    exit 77
fi
backend=$(find /usr/lib /usr/lib64 /usr/local/lib -name headless-backend.so -path '*weston*' 2>/dev/null | head -n 1)
if [[ -z $backend ]]; then
    echo "SKIP: Weston's headless backend (headless-backend.so) is missing" >&2
    exit 77
fi

runtime=$(mktemp -d "${TMPDIR:-/tmp}/imu-wayland.XXXXXX")
chmod 0700 "$runtime"
socket=wayland-imu
weston_pid=
program_pid=
cleanup() {
    for pid in $program_pid $weston_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$runtime"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

export XDG_RUNTIME_DIR=$runtime
weston --backend=headless-backend.so --use-pixman --socket="$socket" --idle-time=0 \
    --width=1280 --height=900 --no-config >"$runtime/weston.log" 2>&1 &
weston_pid=$!
for _ in $(seq 100); do
    [[ -S $runtime/$socket ]] && break
    if ! kill -0 "$weston_pid" 2>/dev/null; then
        echo "weston did not start:" >&2
        cat "$runtime/weston.log" >&2
        exit 1
    fi
    sleep 0.1
done
[[ -S $runtime/$socket ]] || { echo "weston opened no socket within 10 s" >&2; exit 1; }

# Only the compositor: no X display to fall back to, no scaling of its own.
env -u DISPLAY -u QT_SCALE_FACTOR -u QT_SCREEN_SCALE_FACTORS -u QT_AUTO_SCREEN_SCALE_FACTOR \
    WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland "$@" &
program_pid=$!
# Waiting in the background lets a TERM or INT end the program and Weston
# at once, instead of after the program.
status=0
wait "$program_pid" || status=$?
program_pid=
exit "$status"
