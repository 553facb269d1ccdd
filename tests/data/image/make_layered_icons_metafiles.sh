#!/bin/bash
# Makes the fixtures of the layered-picture, icon, metafile, brush, raw and
# design-file recognizer tests. PSD and ICO come from ImageMagick (convert),
# EMF and WMF from LibreOffice (soffice, headless). Debian has no tool that
# writes PSP, ABR, CRW, X3F, PCB, TPF or GJD files; those are written here
# byte by byte, with the structure each format's reader walks. Run from this
# folder; the tests read only the committed results.
set -eu
cd "$(dirname "$0")"

# Little-endian and big-endian integers as raw bytes.
byte() { printf "\\x$(printf %02x $(( $1 & 255 )))"; }
u16le() { byte "$1"; byte $(( $1 >> 8 )); }
u32le() { u16le $(( $1 & 65535 )); u16le $(( $1 >> 16 )); }
u16be() { byte $(( $1 >> 8 )); byte "$1"; }
u32be() { u16be $(( $1 >> 16 )); u16be $(( $1 & 65535 )); }
# n bytes of a repeating pattern 0..250 (no runs of 0xFF or zeros).
pattern() { local i; for ((i = 0; i < $1; i++)); do byte $(( (i * 7 + $2) % 251 )); done; }
zeros() { head -c "$1" /dev/zero; }

# ---- PSD: a layered run-length document and a raw (uncompressed) one ----
convert -size 40x30 gradient:navy-gold -depth 8 layered.psd
convert -size 24x20 gradient:red-blue -depth 8 -compress none raw.psd

# ---- ICO: one icon holding a 32 x 32 and a 16 x 16 image ----
convert -size 32x32 gradient:white-teal -define icon:auto-resize=32,16 icons.ico

# ---- EMF and WMF: one drawing exported by LibreOffice ----
cat > drawing.svg <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="4cm" height="3cm" viewBox="0 0 40 30">
<rect x="2" y="2" width="20" height="14" fill="#2060c0" stroke="black"/>
<ellipse cx="28" cy="20" rx="9" ry="7" fill="#e0a020"/>
</svg>
SVG
profile=$(mktemp -d)
soffice -env:UserInstallation=file://"$profile" --headless --convert-to emf drawing.svg >/dev/null
soffice -env:UserInstallation=file://"$profile" --headless --convert-to wmf drawing.svg >/dev/null
rm -rf "$profile" drawing.svg

# ---- PSP image file: 36-byte header (version 6.0), three "~BK" blocks ----
{
  printf 'Paint Shop Pro Image File\n\x1a\x00'; zeros 4; u16le 6; u16le 0
  # General image attributes block: id 0, 46 bytes.
  printf '~BK\x00'; u16le 0; u32le 46
  u32le 46; u32le 64; u32le 48; pattern 34 1
  # Creator block: id 12, 60 bytes.
  printf '~BK\x00'; u16le 12; u32le 60; pattern 60 3
  # Composite image bank: id 16, 1200 bytes.
  printf '~BK\x00'; u16le 16; u32le 1200; pattern 1200 5
} > sample.psp

# ---- ABR brush set: version 6.2, "samp", "patt" and "desc" sections ----
{
  u16be 6; u16be 2
  printf '8BIMsamp'; u32be 900; pattern 900 11
  printf '8BIMpatt'; u32be 0
  printf '8BIMdesc'; u32be 120; pattern 120 13
} > brushes.abr

# ---- CRW (CIFF): 26-byte header, a root heap of two records and its table ----
{
  printf 'II'; u32le 26; printf 'HEAPCCDR'; u32le 0x00010002; zeros 8
  pattern 400 17                       # record 1: raw data, heap offset 0
  printf 'Canon EOS fixture camera\x00'; zeros 7   # record 2: 32 bytes at 400
  u16le 2
  u16le 0x2005; u32le 400; u32le 0
  u16le 0x0805; u32le 32; u32le 400
  u32le 432                            # the table's offset in the heap
} > sample.crw

# ---- X3F: header, property section, image section, closing directory ----
{
  printf 'FOVb'; u32le 0x00020002; pattern 16 19; u32le 0; u32le 64; u32le 48; u32le 0   # header: 40 bytes
  printf 'SECp'; u32le 0x00020000; u32le 2; u32le 0; u32le 0; u32le 0; u32le 0
  printf 'C\x00A\x00M\x00\x00\x00F\x00I\x00X\x00\x00\x00'  # property section at 40: 44 bytes
  printf 'SECi'; u32le 0x00020000; u32le 2; u32le 3; u32le 64; u32le 48; u32le 192
  pattern 700 23                                           # image section at 84: 728 bytes
  printf 'SECd'; u32le 0x00020000; u32le 2                 # directory at 812
  u32le 40; u32le 44; printf 'PROP'
  u32le 84; u32le 728; printf 'IMAG'
  u32le 812                                                # pointer to the directory
} > sample.x3f

# ---- PCB: text, closed by "ENDCOMP" and CR LF ----
{
  printf 'PCB FILE 6\r\n'
  for i in 1 2 3 4 5 6 7 8; do printf 'COMP U%d DIP14 %d00 %d50\r\nPIN 1 %d 0\r\n' "$i" "$i" "$i" "$i"; done
  printf 'ENDCOMP\r\n'
} > board.pcb

# ---- TPF3 design file: 0xBC-byte header, size = u32 at 0xB4 + u32 at 0xB8 ----
{
  printf 'TPF3'; u32le 0x00050001; pattern 172 29
  u32le 188; u32le 600; pattern 600 31
} > design.tpf

# ---- GJD design file: "FX" B4 00, data, eight 0xFF and 88 zero bytes ----
{
  printf 'FX\xb4\x00'; u32le 3; pattern 800 37
  printf '\xff\xff\xff\xff\xff\xff\xff\xff'; zeros 88
} > design.gjd
