#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The monitor on real USB serial drivers: boots a QEMU guest on Debian's stock
# kernel, with an emulated FTDI adapter on its xHCI controller, and runs the
# guest test program there (tst_usb_vm, which also makes a CDC-ACM device of
# the guest's own USB gadget). Meanwhile this script is the far side of the
# FTDI adapter, at the guest's request on its second serial port:
#   plug            attach a new adapter, on a new pseudo-terminal
#   unplug          pull the adapter out
#   start NAME ARG  run imu-sim ARG... as the board on the adapter's
#                   pseudo-terminal; its records go to RUN/NAME.csv and its
#                   standard error to RUN/NAME.err
#   wait | stop     wait for that imu-sim to end | end it (SIGTERM)
# Each request is answered with one line: "ok", "exit STATUS" or "error ...".
#
# Usage: run-vm.sh WORK_DIR GUEST_TEST IMU_SIM
# Needs no root and no KVM: QEMU emulates the machine. Exits 77 (skipped)
# when this machine cannot run the guest, unless IMU_USB_VM_REQUIRED=1, when
# that is a failure. The guest's console, QEMU's monitor, the requests and
# the boards' logs stay in WORK_DIR/run.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1
guest_test=$2
imu_sim=$3
cache=$work/cache
run=$work/run
boot_timeout=120 # seconds until the guest asks for its first adapter
guest_timeout=420

skip() {
    if [[ ${IMU_USB_VM_REQUIRED:-} == 1 ]]; then
        echo "FAILED: $1 (IMU_USB_VM_REQUIRED=1: this test must run)"
        exit 1
    fi
    echo "SKIPPED: $1"
    exit 77
}

command -v qemu-system-x86_64 >/dev/null || skip "no qemu-system-x86_64 (Debian package qemu-system-x86)"
[[ $work != *[[:space:]]* ]] || skip "the build folder's path has a space, which the kernel command line cannot carry"
kernel_log=$("$here/guest-kernel.sh" "$cache" 2>&1)
case $? in
    0) [[ -n $kernel_log ]] && echo "$kernel_log" ;;
    2) skip "$kernel_log" ;;
    *) echo "$kernel_log"; exit 1 ;;
esac

monitor() {
    echo "$*" >&"$to_monitor"
}
plug() {
    plugs=$((plugs + 1))
    local chardev=ftdi$plugs
    monitor "chardev-add pty,id=$chardev"
    # QEMU plugs each adapter into the next free USB port and by default
    # makes its serial number from that port; a real adapter keeps its own.
    monitor "device_add usb-serial,bus=xhci.0,chardev=$chardev,id=ftdi,serial=A50285BI"
    monitor "info chardev"
    pty=
    for _ in $(seq 50); do
        pty=$(tr -d '\r' <"$run/monitor.log" | sed -n "s|^$chardev: filename=pty:||p")
        [[ -n $pty ]] && break
        sleep 0.1
    done
    if [[ -z $pty ]]; then
        echo "error: no pseudo-terminal for $chardev"
        return
    fi
    # QEMU attaches the adapter only while something holds the far end of
    # its pseudo-terminal open, so this script holds it for as long as the
    # adapter is plugged in, raw so that nothing is echoed back to the guest.
    exec {hold}<>"$pty"
    stty -F "$pty" raw -echo
    echo ok
}
unplug() {
    # The board pauses just before the pull, so that no byte is on its way
    # into the adapter while QEMU removes it: a byte arriving then can crash
    # QEMU 7.2. For the guest the line still goes quiet at the pull.
    [[ -n $sim ]] && kill -STOP "$sim" 2>/dev/null && sleep 0.1
    monitor "device_del ftdi"
    exec {hold}>&-
    [[ -n $sim ]] && kill -CONT "$sim" 2>/dev/null
    echo ok
}
start_sim() {
    local name=$1
    shift
    "$imu_sim" --port "$pty" --records "$run/$name.csv" "$@" >/dev/null 2>"$run/$name.err" &
    sim=$!
    echo ok
}
end_sim() {
    [[ -z $sim ]] && { echo "error: no imu-sim running"; return; }
    [[ $1 == stop ]] && kill -TERM "$sim"
    wait "$sim"
    echo "exit $?"
    sim=
}
serve() {
    local request=($1)
    case ${request[0]:-} in
        plug) plug ;;
        unplug) unplug ;;
        start) start_sim "${request[@]:1}" ;;
        wait | stop) end_sim "${request[0]}" ;;
        *) echo "error: unknown request '$1'" ;;
    esac
}

# One boot of the guest and its test; returns QEMU's exit status.
run_guest() {
    sim=
    plugs=0
    pty=
    hold=
    rm -rf "$run"
    mkdir -p "$run"
    mkfifo "$run/control.in" "$run/control.out" "$run/monitor.in" "$run/monitor.out"

    qemu-system-x86_64 -accel tcg,thread=multi -cpu max -smp 2 -m 1024 \
        -nodefaults -display none -no-reboot \
        -kernel "$cache/vmlinuz" -initrd "$cache/initramfs.cpio.gz" \
        -append "console=ttyS0 quiet panic=-1 IMU_GUEST_INIT=$here/guest-init.sh IMU_RUN=$run IMU_CACHE=$cache IMU_GUEST_TEST=$guest_test" \
        -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
        -virtfs local,path="$run",mount_tag=run,security_model=none,multidevs=remap \
        -device qemu-xhci,id=xhci \
        -chardev file,id=console,path="$run/console.log" -serial chardev:console \
        -chardev pipe,id=control,path="$run/control" -serial chardev:control \
        -chardev pipe,id=monitor,path="$run/monitor" -mon chardev=monitor,mode=readline \
        2>"$run/qemu.log" &
    qemu=$!
    started=$SECONDS

    # Read-write opens of the FIFOs never block, whoever is on the other side.
    exec {from_guest}<>"$run/control.out" {to_guest}<>"$run/control.in" {to_monitor}<>"$run/monitor.in"
    cat <"$run/monitor.out" >"$run/monitor.log" &

    line=
    while kill -0 "$qemu" 2>/dev/null; do
        # A request may arrive in pieces; it is whole at its newline.
        if IFS= read -r -t 1 part <&"$from_guest"; then
            line+=$part
            echo "[$((SECONDS - started)) s] guest: $line" >>"$run/control.log"
            serve "$line" >&"$to_guest"
            line=
        else
            line+=$part
        fi
        if ((SECONDS - started > guest_timeout)) ||
           { ((plugs == 0)) && ((SECONDS - started > boot_timeout)); }; then
            echo "The guest did not finish in time; stopping it."
            kill "$qemu"
        fi
    done
    wait "$qemu"
    local qemu_status=$?
    [[ -n $sim ]] && kill "$sim" 2>/dev/null
    elapsed=$((SECONDS - started))

    return "$qemu_status"
}

run_guest
qemu_status=$?
# QEMU 7.2 itself crashes now and then in its USB code while an adapter is
# pulled (a segmentation fault in usb_wakeup). That is the emulator's fault,
# not the monitor's, and the guest test is run once more.
if ((qemu_status > 128)) && [[ $(cat "$run/guest-status" 2>/dev/null) != 0 ]]; then
    echo "QEMU itself ended on signal $((qemu_status - 128)) after $((SECONDS - started)) s; running the guest test once more."
    echo "QEMU: $(cat "$run/qemu.log")"
    rm -rf "$run.crashed"
    mv "$run" "$run.crashed"
    echo "(that run's logs are kept in $run.crashed)"
    run_guest
fi
status=$(cat "$run/guest-status" 2>/dev/null)
if [[ $status == 0 ]]; then
    cat "$run/guest-test.txt"
    echo "Guest run: $elapsed s (console: $run/console.log)"
    exit 0
fi
echo "The guest test failed (status '${status:-none}') after $elapsed s. Its console ($run/console.log):"
cat "$run/console.log"
echo "QEMU: $(cat "$run/qemu.log")"
exit 1
