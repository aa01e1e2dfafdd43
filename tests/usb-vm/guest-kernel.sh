#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the guest's kernel and initramfs in CACHE_DIR, reusing them when
# they are there:
#   CACHE_DIR/vmlinuz, CACHE_DIR/initramfs.cpio.gz, CACHE_DIR/udev/*.deb
# The kernel is Debian's stock one (downloaded, never installed); the
# initramfs holds a static busybox, the modules the test needs and
# initramfs-init.sh. The packages in udev/ are unpacked in the guest, so that
# its udev daemon gives the ports their descriptions.
# Exits 2 when a piece cannot be had (no network, no busybox), 1 on a fault.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$1"
cache=$(cd "$1" && pwd)
cd "$cache"

# The USB host controller and the FTDI adapter's driver; the gadget side
# (a dummy controller and the serial gadget) and the ACM driver; virtio, 9p
# and overlayfs for the host's root. usb_f_acm comes before g_serial, which
# asks for it by name only.
modules="xhci-pci ftdi_sio configfs libcomposite usb_f_acm g_serial dummy_hcd cdc-acm
         virtio_pci 9pnet_virtio 9p overlay"
# The folders of the kernel package they and their dependencies live in.
folders="drivers/usb drivers/virtio fs/9p fs/overlayfs fs/netfs fs/fscache fs/configfs net/9p"

# The initramfs has no C library: busybox must be the static one.
busybox=$(command -v busybox || true)
if [[ -z $busybox ]] || ldd "$busybox" >/dev/null 2>&1; then
    echo "no static busybox (Debian package busybox-static)"
    exit 2
fi

package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
if [[ -z $package ]]; then
    echo "apt-cache does not know linux-image-amd64"
    exit 2
fi
# udev needs its own libraries at exactly its version. The host's may be
# older than what the archive still has, so the guest gets the archive's
# udev together with its libudev1 and libsystemd-shared.
udev_packages="udev libudev1 libsystemd-shared"
udev_version=$(apt-cache policy udev 2>/dev/null | awk '/Candidate:/ {print $2; exit}')
if [[ -z $udev_version || $udev_version == "(none)" ]]; then
    echo "apt-cache does not know udev"
    exit 2
fi

# What is cached is made from these; anything else is made again.
key="$package $udev_version $(cat "$here/guest-kernel.sh" "$here/initramfs-init.sh" | md5sum)"
if [[ -s vmlinuz && -s initramfs.cpio.gz && -d udev && $(cat key 2>/dev/null) == "$key" ]]; then
    exit 0
fi
rm -rf key udev udev.deb
downloads=()
for name in $udev_packages; do
    downloads+=("$name=$udev_version")
done
if [[ ! -s $package.deb ]]; then
    rm -f linux-image-*.deb
    downloads+=("$package")
fi
if ! apt-get download -q "${downloads[@]}" >download.log 2>&1; then
    # Package lists older than the archive name files it no longer has: as
    # root, refresh them once and start again with the versions they name.
    if [[ $(id -u) == 0 && -z ${IMU_PACKAGE_LISTS_REFRESHED:-} ]] &&
       apt-get update -q >>download.log 2>&1; then
        IMU_PACKAGE_LISTS_REFRESHED=1 exec "$here/guest-kernel.sh" "$@"
    fi
    echo "cannot download ${downloads[*]}:"
    cat download.log
    exit 2
fi
mkdir udev
for name in $udev_packages; do
    mv "${name}"_*.deb udev/
done
[[ -s $package.deb ]] || mv "${package}"_*.deb "$package.deb"

rm -rf tree initramfs
mkdir tree initramfs
patterns=(./boot/vmlinuz-*)
for folder in $folders; do
    patterns+=("./lib/modules/*/kernel/$folder/*")
done
dpkg-deb --fsys-tarfile "$package.deb" | tar -x -C tree --wildcards "${patterns[@]}"
cp tree/boot/vmlinuz-* vmlinuz

# modules.dep is made by depmod on installation, so the package has none:
# each module's own list of dependencies says what to load before it.
declare -A file_of
while IFS= read -r ko; do
    name=$(basename "$ko" .ko)
    file_of[${name//-/_}]=$ko
done < <(find tree/lib/modules -name '*.ko')
order=()
declare -A loaded
add() {
    local name=${1//-/_} dep
    [[ -n ${loaded[$name]:-} ]] && return
    if [[ -z ${file_of[$name]:-} ]]; then
        echo "module $name is not in the extracted folders" >&2
        exit 1
    fi
    # The module's info strings, NUL-separated, hold "depends=a,b".
    for dep in $(tr '\0' '\n' <"${file_of[$name]}" | sed -n 's/^depends=//p' | tr ',' ' '); do
        add "$dep"
    done
    loaded[$name]=1
    order+=("$name")
}
for module in $modules; do
    add "$module"
done

mkdir -p initramfs/bin initramfs/modules initramfs/dev initramfs/proc initramfs/sys \
         initramfs/lower initramfs/upper initramfs/newroot
cp "$busybox" initramfs/bin/busybox
cp "$here/initramfs-init.sh" initramfs/init
for name in "${order[@]}"; do
    cp "${file_of[$name]}" initramfs/modules/
    basename "${file_of[$name]}" >>initramfs/modules/order
done
(cd initramfs && find . | "$busybox" cpio -o -H newc 2>/dev/null | gzip -1) >initramfs.cpio.gz
rm -rf tree initramfs
echo "$key" >key
echo "guest kernel $package, modules: ${order[*]}"
