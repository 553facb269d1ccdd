#!/bin/bash
# Builds samples/sample.img: a small synthetic disk image holding real files
# made by real tools, each starting on a 512-byte sector boundary, between
# regions of pseudo-random data and of zeros. The layout (name, offset,
# size) is written to samples/README.
#
# Needs: ImageMagick (convert), exiftool, ghostscript, sox, lame, zip, python3.
# The committed image is what the tests and the README use; running this
# again makes an equivalent image (dates inside the files differ).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"

# A photo with EXIF: camera, dates, software and a GPS position.
convert -seed 7 -size 320x240 plasma:steelblue-orange -quality 85 photo.jpg
exiftool -q -overwrite_original \
  -Make="Examplecam" -Model="EX-100 Mark II" -Software="sample-maker 1.0" \
  -DateTimeOriginal="2024:05:17 10:32:08" -ModifyDate="2024:05:18 08:00:00" \
  -GPSLatitude=48.8584 -GPSLatitudeRef=N -GPSLongitude=2.2945 -GPSLongitudeRef=E \
  -GPSAltitude=35 -GPSAltitudeRef=0 photo.jpg

convert -seed 3 -size 96x64 plasma:green-yellow -depth 8 -strip picture.png
convert -size 96x64 gradient:navy-gold -strip -colors 64 picture.gif
convert -seed 5 -size 64x48 plasma:red-white -strip -type truecolor BMP3:picture.bmp

printf 'A text file kept in a zip archive.\n%.0s' $(seq 1 40) > notes.txt
zip -q -X archive.zip notes.txt

cat > page.ps <<'PS'
%!PS
/Helvetica findfont 24 scalefont setfont
72 700 moveto (A one-page sample document.) show
72 660 moveto (Made with ghostscript for the typerecovery sample.) show
showpage
PS
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=document.pdf page.ps

sox -n -r 8000 -c 1 -b 16 tone.wav synth 1 sine 440
sox -n -r 22050 -c 1 -b 16 melody.wav synth 2 sine 660
lame --quiet -b 32 melody.wav song.mp3

cat > page.html <<'HTML'
<!DOCTYPE html>
<html lang="en">
<head><meta charset="utf-8"><title>Sample page</title></head>
<body>
<h1>Sample page</h1>
<p>An HTML page kept in the typerecovery sample image.</p>
</body>
</html>
HTML

python3 - "$here/sample.img" "$here/README" <<'PY'
import random, sys
image_path, list_path = sys.argv[1], sys.argv[2]
rng = random.Random(20240517)
SECTOR = 512

def random_fill(n):
    data = bytearray(rng.getrandbits(8) for _ in range(n))
    # No filler sector may begin like a file by chance: give every sector
    # a first byte that starts no format.
    for at in range(0, n, SECTOR):
        data[at] = 0x2E
    return bytes(data)

layout = [
    ("zeros", 32768), ("photo.jpg", None), ("random", 12288),
    ("picture.png", None), ("zeros", 4096), ("picture.gif", None),
    ("random", 8192), ("picture.bmp", None), ("zeros", 2048),
    ("archive.zip", None), ("random", 4096), ("document.pdf", None),
    ("zeros", 8192), ("tone.wav", None), ("random", 6144),
    ("song.mp3", None), ("random", 2048), ("page.html", None),
    ("random", 16384), ("zeros", 16384),
]
image = bytearray()
lines = []
for name, size in layout:
    if name == "zeros":
        image += bytes(size)
    elif name == "random":
        image += random_fill(size)
    else:
        data = open(name, "rb").read()
        lines.append("%-13s offset %8d  size %7d" % (name, len(image), len(data)))
        image += data
        # The rest of the file's last sector is slack: zeros here.
        image += bytes(-len(image) % SECTOR)
open(image_path, "wb").write(image)
with open(list_path, "w") as out:
    out.write("samples/sample.img: %d bytes, 512-byte sectors\n" % len(image))
    out.write("Made by samples/make-sample.sh with ImageMagick, exiftool (EXIF camera,\n"
              "dates and GPS in the photo), ghostscript, sox, lame and zip.\n")
    out.write("Files (offset and size in bytes; every file starts on a sector):\n")
    for line in lines:
        out.write("  " + line + "\n")
    out.write("Between them: zero sectors and pseudo-random sectors.\n")
PY
echo "wrote $here/sample.img"
cat "$here/README"
