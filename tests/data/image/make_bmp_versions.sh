#!/bin/sh
# Makes a BMP fixture with the version 5 info header (124 bytes) that
# ImageMagick writes for 32-bit pictures with an alpha channel. Needs
# ImageMagick (convert). Run from this folder; the tests read only the
# committed result.
set -eu
cd "$(dirname "$0")"
convert -size 20x14 gradient:red-blue -alpha set -channel A -evaluate set 60% +channel \
  -strip BMP:alpha-v5.bmp
