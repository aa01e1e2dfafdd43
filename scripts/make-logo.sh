#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the product logo with ImageMagick, transparent background: 266 x 66
# pixels as images/logo.png, and the same drawing at twice the resolution
# (532 x 132) as images/logo@2x.png, which high-density screens show in its
# place. The committed images were made by this script; run it again only to
# change the logo.
#   scripts/make-logo.sh [OUTDIR]   (default images/)
set -euo pipefail
cd "$(dirname "$0")/.."
outdir=${1:-images}
font=$(fc-match -f '%{file}' 'DejaVu Sans:bold')

# draw SCALE OUT: the logo at SCALE times its size. Coordinates below are
# those of the 266 x 66 drawing; `at` maps a position (pixel centres at whole
# numbers) so that the scaled drawing covers the same area, `len` scales a
# length. At scale 1 both give the numbers as written.
draw() {
    local s=$1 out=$2
    at() { awk -v s="$s" -v v="$1" 'BEGIN { print (v + 0.5) * s - 0.5 }'; }
    len() { awk -v s="$s" -v v="$1" 'BEGIN { print v * s }'; }
    local c r
    c=$(at 32.5)
    r=$(at 37)
    convert -size "$(len 266)x$(len 66)" xc:none \
        -fill '#1f5f8b' -draw "roundrectangle $(at 2),$(at 2) $(at 63),$(at 63) $(len 12),$(len 12)" \
        -stroke white -strokewidth "$(len 3)" -fill none \
        -draw "ellipse $c,$c $(len 20),$(len 8) 0,360" \
        -draw "ellipse $c,$c $(len 8),$(len 20) 0,360" \
        -stroke none -fill white -draw "circle $c,$c $c,$r" \
        -font "$font" -fill '#1f5f8b' -pointsize "$(len 30)" -annotate "+$(len 74)+$(len 36)" 'Telvorin' \
        -fill '#5a6b78' -pointsize "$(len 14)" -annotate "+$(len 76)+$(len 57)" 'IMU MONITOR' \
        "PNG32:$out"
    identify "$out"
}

mkdir -p "$outdir"
draw 1 "$outdir/logo.png"
draw 2 "$outdir/logo@2x.png"
