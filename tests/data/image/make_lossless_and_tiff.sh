#!/bin/sh
# Makes the PNG, GIF, BMP and TIFF fixtures of the image recognizer tests.
# Needs ImageMagick (convert) and exiftool. Run from this folder; the tests
# read only the committed results.
set -eu
cd "$(dirname "$0")"

# PNG without time chunks (tIME is not among the chunk types the walk knows).
convert -size 48x32 gradient:navy-orange -define png:exclude-chunks=date,time \
  -strip lossless.png

# GIF87a-style still picture with a global colour table, and an animated
# GIF89a with a loop extension and three frames.
convert -size 40x24 gradient:white-green -colors 16 lossless.gif
convert -delay 20 -size 24x24 xc:red xc:lime xc:blue -loop 0 animated.gif

# Bottom-up BMP with the 40-byte info header.
convert -size 30x20 gradient:yellow-purple BMP3:lossless.bmp

# TIFF in both byte orders: a small uncompressed little-endian one, and a
# big-endian LZW one large enough (over 256 pixels each way) for its
# dimensions to be reported.
convert -size 64x40 gradient:black-cyan -compress none -define tiff:endian=lsb little.tif
convert -size 320x272 gradient:black-cyan -depth 8 -compress lzw -define tiff:endian=msb big.tif

# A TIFF whose first directory lies past its first 64 KiB (the pixel strips
# come first), to be read back from the cached start of the file.
convert -seed 3 -size 160x140 plasma:fractal -depth 8 -compress none \
  -define tiff:endian=lsb large.tif

# Camera-raw sub-types by their make: a big-endian TIFF from a NIKON camera
# is a NEF, a little-endian one made by "SONY" is an SR2. Model, dates and
# GPS fill the picture record.
cp big.tif camera.nef.tif
exiftool -q -overwrite_original -Make="NIKON CORPORATION" -Model="NIKON D90" \
  -Software="fixture" -DateTimeOriginal="2021:06:01 10:20:30" \
  -GPSLatitudeRef=N -GPSLatitude=48.5 -GPSLongitudeRef=E -GPSLongitude=9.25 \
  camera.nef.tif
mv camera.nef.tif camera.nef
cp little.tif camera.sr2.tif
exiftool -q -overwrite_original -Make="SONY" -Model="DSC" camera.sr2.tif
mv camera.sr2.tif camera.sr2
