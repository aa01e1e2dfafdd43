#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the product logo (266 x 66, transparent background) with ImageMagick.
# The committed images/logo.png was made by this script; run it again only to
# change the logo.
set -euo pipefail
cd "$(dirname "$0")/.."
font=$(fc-match -f '%{file}' 'DejaVu Sans:bold')
convert -size 266x66 xc:none \
    -fill '#1f5f8b' -draw 'roundrectangle 2,2 63,63 12,12' \
    -stroke white -strokewidth 3 -fill none \
    -draw 'ellipse 32.5,32.5 20,8 0,360' \
    -draw 'ellipse 32.5,32.5 8,20 0,360' \
    -stroke none -fill white -draw 'circle 32.5,32.5 32.5,37' \
    -font "$font" -fill '#1f5f8b' -pointsize 30 -annotate +74+36 'Telvorin' \
    -fill '#5a6b78' -pointsize 14 -annotate +76+57 'IMU MONITOR' \
    PNG32:images/logo.png
identify images/logo.png
