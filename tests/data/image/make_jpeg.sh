#!/bin/sh
# Makes the JPEG fixtures of the JPEG tests. Needs ImageMagick (convert) and
# exiftool. Run from this folder; the tests read only the committed results.
set -eu
cd "$(dirname "$0")"

# Baseline (start of frame 0xFFC0) with camera make, model, software, both
# dates and a GPS position north-east, above sea level.
convert -size 64x48 gradient:red-blue -quality 85 -strip jpeg_baseline.jpg
exiftool -q -overwrite_original -Make="Fixture Optics" -Model="FX-64 Compact" \
  -Software="make_jpeg 1.0" -ModifyDate="2024:05:06 07:08:09" \
  -DateTimeOriginal="2024:05:06 07:08:00" \
  -GPSLatitudeRef=N -GPSLatitude=48.858370 -GPSLongitudeRef=E -GPSLongitude=2.294481 \
  -GPSAltitudeRef=0 -GPSAltitude=35.5 jpeg_baseline.jpg

# Progressive (0xFFC2: no baseline frame, so no dimensions from the frame)
# south-west, below sea level, with an XMP packet in a second APP1 segment.
convert -size 64x48 plasma:fractal -seed 5 -quality 80 -interlace Plane -strip \
  jpeg_progressive.jpg
exiftool -q -overwrite_original -Make="Fixture Optics" -Model="FX-48 Pro" \
  -DateTimeOriginal="2023:11:12 13:14:15" \
  -GPSLatitudeRef=S -GPSLatitude=33.856784 -GPSLongitudeRef=W -GPSLongitude=151.215297 \
  -GPSAltitude=12 -GPSAltitudeRef#=1 -XMP-dc:Title="progressive fixture" jpeg_progressive.jpg

# Plain JFIF baseline without EXIF data.
convert -size 48x32 gradient:white-green -quality 90 -strip jpeg_plain.jpg

for f in jpeg_baseline.jpg jpeg_progressive.jpg jpeg_plain.jpg; do
  exiftool -n -s -Make -Model -Software -ModifyDate -DateTimeOriginal \
    -GPSLatitude -GPSLongitude -GPSAltitude -ImageWidth -ImageHeight "$f"
done
