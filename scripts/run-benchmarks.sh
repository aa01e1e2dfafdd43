#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs every benchmark of the project and prints its figures. Each folder
# under bench/ has a run.sh that takes the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
status=0
for runner in bench/*/run.sh; do
    echo "== ${runner%/run.sh}"
    bash "$runner" "$build" || status=1
done
exit $status
