#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The guest's init once it runs on the host's root (under a tmpfs, so writes
# stay in the guest): mounts the usual file systems and the run folder shared
# with the host, starts a udev daemon so the serial ports get their
# descriptions, runs the guest test program and powers off. Its status goes
# to IMU_RUN/guest-status for run-vm.sh.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
# /tmp stays the host's (under the overlay): the build may well be there.
mount -t tmpfs tmpfs /run
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 run "$IMU_RUN"
echo "guest: on the host's root at $(cut -d' ' -f1 /proc/uptime) s"

# udev and its libraries from Debian's packages, unpacked into the guest
# only; the host's /bin and /lib are links into /usr, which must stay so.
for deb in "$IMU_CACHE"/udev/*.deb; do
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C / --keep-directory-symlink
done
/lib/systemd/systemd-udevd --daemon
# Only the serial ports need their properties; the rest would cost seconds.
udevadm trigger --action=add --subsystem-match=tty
udevadm settle --timeout=30

echo "guest: udev ready at $(cut -d' ' -f1 /proc/uptime) s"
mkdir -m 700 /run/user
cd "$IMU_RUN"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/run/user "$IMU_GUEST_TEST" -o "$IMU_RUN/guest-test.txt,txt" -o -,txt
echo $? >"$IMU_RUN/guest-status"
sync
# Power off at once: there is nothing to shut down.
busybox poweroff -f
