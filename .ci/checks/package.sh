#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package in Release, checks it with lintian (any error or
# warning fails) and appstreamcli, installs it with apt-get on this machine,
# checks that the installed programs start and find every library, plugin and
# font they need, and removes the package again, also on failure.
set -euo pipefail
cd "$(dirname "$0")/../.."

build=build-package
package=telvorin-imu
tools=(imu-monitor-demo imu-sim imu-decode imu-noise)

fail() { echo "package check: $*" >&2; exit 1; }

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || fail "need root or sudo to install the package"
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
# Other checks may be installing packages at the same time: wait for dpkg's
# lock rather than fail on it.
apt=("${sudo[@]}" apt-get -y -q -o DPkg::Lock::Timeout=300)

scripts/install-deps.sh --extra

desktop-file-validate packaging/telvorin-imu.desktop

# Tests and benchmarks are not packaged, so they need not be built here.
rm -f "$build"/"$package"_*.deb
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
      -DIMU_BUILD_TESTS=OFF -DIMU_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j 2 --target package

debs=("$build"/"$package"_*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one $package .deb in $build, found: ${debs[*]}"
deb=$(realpath "${debs[0]}")

# The control fields: the version is the CMake project's, and the Depends
# were computed from the binaries (the Qt GUI library brings the platform
# plugins, QCustomPlot its own runtime), plus the font that gives the
# console's "Courier New" its metrics.
project_version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build"/CPackConfig.cmake)
[[ -n $project_version ]] || fail "no CPACK_PACKAGE_VERSION in $build/CPackConfig.cmake"
[[ $(dpkg-deb -f "$deb" Version) == "$project_version" ]] \
    || fail "package version $(dpkg-deb -f "$deb" Version) is not the project's $project_version"
for field in Maintainer Description Section Homepage; do
    [[ -n $(dpkg-deb -f "$deb" "$field") ]] || fail "the package has no $field field"
done
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt5gui5 libqt5widgets5 libqt5serialport5 libqcustomplot2.1 fonts-liberation2; do
    grep -Eq "(^|[ ,|])$needed( |,|$)" <<<"$depends" || fail "$needed missing from Depends: $depends"
done

# The contents: the programs with their manual pages, the menu entry, the
# icons, the AppStream metadata, the copyright file and the changelog; no
# libraries, headers, tests or benchmarks.
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|')
doc=/usr/share/doc/$package
metainfo=/usr/share/metainfo/example.telvorin.imu.metainfo.xml
for path in /usr/bin/imu-monitor /usr/share/man/man1/imu-monitor.1.gz \
            /usr/share/applications/telvorin-imu.desktop \
            /usr/share/icons/hicolor/scalable/apps/telvorin-imu.svg \
            "$metainfo" "$doc/copyright" "$doc/changelog.gz"; do
    grep -qx "$path" <<<"$contents" || fail "$path missing from the package"
done
grep -Eq '^/usr/share/icons/hicolor/[0-9]+x[0-9]+/apps/telvorin-imu\.png$' <<<"$contents" \
    || fail "no icon under /usr/share/icons/hicolor in the package"
unexpected=$(grep -Ev '/$' <<<"$contents" \
    | grep -Ev '^/usr/bin/(imu-monitor|imu-monitor-demo|imu-sim|imu-decode|imu-noise)$' \
    | grep -Ev '^/usr/share/(applications|icons|doc|man|metainfo)/' || true)
[[ -z $unexpected ]] || fail "unexpected files in the package: $unexpected"
# Every tool this build made is packaged, with its manual page.
for tool in "${tools[@]}"; do
    if [[ -n $(find "$build" -path "$build/packaging" -prune -o -type f -name "$tool" -perm -u+x -print -quit) ]]; then
        grep -qx "/usr/bin/$tool" <<<"$contents" || fail "$tool was built but is not in the package"
        grep -qx "/usr/share/man/man1/$tool.1.gz" <<<"$contents" \
            || fail "$tool has no manual page in the package (is help2man installed?)"
    fi
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Debian's own checks. Info tags (such as the hardening flags a plain CMake
# build leaves out) do not fail. A tag the package must carry anyway belongs
# in the package's lintian overrides file, with the reason.
lintian --fail-on error,warning "$deb" \
    || fail "lintian found errors or warnings in $(basename "$deb")"
echo "lintian: no errors, no warnings"

# The changelog and the AppStream release name the version being packaged.
unpacked=$scratch/unpacked
dpkg-deb -x "$deb" "$unpacked"
changelog_version=$(zcat "$unpacked$doc/changelog.gz" | dpkg-parsechangelog -l - -S Version)
[[ $changelog_version == "$project_version" ]] \
    || fail "the changelog's newest entry is $changelog_version, the package $project_version: add an entry to packaging/changelog"
release_version=$(grep -o '<release version="[^"]*"' "$unpacked$metainfo" | head -n 1 | cut -d '"' -f 2)
[[ $release_version == "$project_version" ]] \
    || fail "the newest release in the AppStream metadata is '$release_version', the package $project_version"
# The metadata on its own, then together with the desktop entry it launches.
appstreamcli validate --no-net "$unpacked$metainfo"
appstreamcli validate-tree --no-net "$unpacked"

if dpkg -s "$package" >/dev/null 2>&1; then
    echo "package check: $package was installed before; replacing it, and removing it afterwards"
fi
cleanup() {
    if dpkg -s "$package" >/dev/null 2>&1; then
        "${apt[@]}" purge "$package" >/dev/null || echo "package check: could not remove $package" >&2
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

# A fresh machine's package lists are empty; refresh them only when needed.
if ! "${apt[@]}" install "$deb" >"$scratch/apt.log" 2>&1; then
    "${apt[@]}" update >/dev/null
    "${apt[@]}" install "$deb" || fail "apt-get could not install $deb"
fi
[[ -x /usr/bin/imu-monitor ]] || fail "/usr/bin/imu-monitor is missing after installing"
desktop-file-validate /usr/share/applications/telvorin-imu.desktop

# Nothing from the build tree may help the installed programs along.
run_installed() {
    (cd / && env -u LD_LIBRARY_PATH -u QT_PLUGIN_PATH -u QT_QPA_PLATFORM_PLUGIN_PATH "$@")
}
missing_pattern='error while loading shared libraries|cannot open shared object|undefined symbol|Could not (find|load) the Qt platform plugin|no Qt platform plugin|could not find or load|Cannot load library|Cannot find font'

# The window has no command-line options: started bare, it must still be
# running when timeout stops it (status 124).
check_monitor_starts() {
    local platform=$1 status=0
    shift
    run_installed "$@" timeout 3 /usr/bin/imu-monitor >"$scratch/out" 2>"$scratch/err" || status=$?
    if [[ $status -ne 124 ]] || grep -Eiq "$missing_pattern" "$scratch/err"; then
        cat "$scratch/err" >&2
        fail "the installed imu-monitor on $platform: status $status, expected 124 (still running after 3 s)"
    fi
    echo "imu-monitor ($platform): still running after 3 s, nothing missing"
}
check_monitor_starts offscreen QT_QPA_PLATFORM=offscreen
# The platform a desktop user gets; its plugin has the most libraries.
if command -v xvfb-run >/dev/null; then
    check_monitor_starts xcb QT_QPA_PLATFORM=xcb xvfb-run -a
fi
# Without any font the window draws no text at all and says nothing about
# it, so look for a font directly.
[[ -n $(fc-list : family) ]] || fail "no font installed: the window would show no text"

for tool in "${tools[@]}"; do
    [[ -e /usr/bin/$tool ]] || continue
    status=0
    run_installed QT_QPA_PLATFORM=offscreen timeout 10 "/usr/bin/$tool" --help \
        >"$scratch/out" 2>"$scratch/err" || status=$?
    if [[ $status -ne 0 ]] || [[ ! -s $scratch/out && ! -s $scratch/err ]] \
        || grep -Eiq "$missing_pattern" "$scratch/err"; then
        cat "$scratch/out" "$scratch/err" >&2
        fail "the installed $tool --help: status $status, expected 0 and a help text"
    fi
    echo "$tool --help: status 0"
done

echo "package check: $(basename "$deb"), $(stat -c %s "$deb") bytes," \
     "installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
echo "Depends: $depends"
echo "Recommends: $(dpkg-deb -f "$deb" Recommends)"
