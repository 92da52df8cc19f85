#!/usr/bin/env bash
# Renders the program picture (src/ui/app/resources/program.xpm, 32 x 32) into the icon theme
# sizes, pixel for pixel (no smoothing), as PNG files committed here. Run it again after
# changing the picture; needs ImageMagick's convert.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src="$here/../../src/ui/app/resources/program.xpm"
for size in 16 32 48 64 128 256; do
    convert "$src" -filter point -scale "${size}x${size}" -strip "PNG32:$here/quindle-$size.png"
done
