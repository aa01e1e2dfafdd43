#!/bin/busybox sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The guest's first process: loads the modules, puts a writable tmpfs over
# the host's root (shared read-only over 9p) and switches into it, so the
# guest runs the host's own libraries and the project's build. The kernel
# passes IMU_GUEST_INIT, the program to continue with, from its command line.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for module in $(cat /modules/order); do
    insmod /modules/$module || echo "initramfs: cannot load $module"
done
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144 hostroot /lower
mount -t tmpfs -o size=512m tmpfs /upper
mkdir /upper/data /upper/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work /newroot
umount /proc /sys
mount --move /dev /newroot/dev
exec switch_root /newroot "$IMU_GUEST_INIT"
