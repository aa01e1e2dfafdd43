#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the project needs to build, test and run,
# skipping those already present. Runs apt-get as root, or through sudo.
#   scripts/install-deps.sh            build, test and run
#   scripts/install-deps.sh --extra    also the fuzzer's, the screenshot's, the
#                                      packaging tools, the USB test's machine
#                                      and the Wayland test's compositor
# IMU_QT_MAJOR (5, the default, or 6) chooses the toolkit, as for CMake.
set -euo pipefail

case ${IMU_QT_MAJOR:-5} in
    5) toolkit=(qtbase5-dev libqt5serialport5-dev libxcb1-dev) wayland=qtwayland5 ;;
    6) toolkit=(qt6-base-dev qt6-serialport-dev) wayland=qt6-wayland ;;
    *) echo "IMU_QT_MAJOR must be 5 or 6, not '$IMU_QT_MAJOR'" >&2; exit 2 ;;
esac

packages=(
    cmake make g++ pkg-config          # build
    "${toolkit[@]}"                    # widgets, serial port, test library
    libqcustomplot-dev                 # the charts' plotting library, for Qt 5 and 6
    libfftw3-dev                       # the noise analysis' spectra
    libboost-math-dev                  # the noise analysis' chi-squared quantiles (headers only)
    fonts-dejavu-core                  # text in the window, also headless
    fonts-liberation2                  # "Courier New" resolves to Liberation Mono, same metrics
    xvfb xauth                         # a display for machines without one
    x11-xserver-utils                  # xrdb: the high-DPI test sets the desktop's font DPI
)
if [[ "${1:-}" == "--extra" ]]; then
    packages+=(
        clang libclang-rt-14-dev       # libFuzzer and the sanitizers' runtime
        imagemagick x11-utils          # screenshots of the window
        libbenchmark-dev valgrind      # benchmarks and leak checks
        python3-numpy                  # the noise benchmark's reference estimator
        desktop-file-utils dpkg-dev    # checking and building the package
        lintian help2man appstream     # the package's checks and manual pages
        qemu-system-x86 busybox-static # the virtual machine with real USB serial drivers
        weston "$wayland"              # a Wayland desktop, headless, and the toolkit's plugin for it
    )
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
        || missing+=("$package")
done
if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "Installing Debian packages: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
# The package lists of a fresh machine are empty; refresh them once.
if ! "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null 2>&1; then
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
