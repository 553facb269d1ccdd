#!/bin/sh
# Makes the fixtures of the fixed-size, end-marker and shortcut carving tests:
# sample.pfb, sample.ttf, sample.icc, sample.pfx, sample.iso, sample.tar and
# sample.lnk. Needs: fonts-urw-base35, fonts-dejavu-core, fonttools
# (pyftsubset), libgs-common (its ICC profiles), openssl, genisoimage, tar,
# python3. Run from any folder; writes next to itself.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# --- Type 1 font: the smallest URW font, its text segments given CR line
# ends (the classic form, whose trailer is CR "cleartomark" CR and then the
# end-of-file segment mark 80 03) ---
python3 - /usr/share/fonts/X11/Type1/StandardSymbolsPS.pfb "$here/sample.pfb" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
out = bytearray()
i = 0
while i < len(data):
    assert data[i] == 0x80
    kind = data[i + 1]
    if kind == 3:
        out += b'\x80\x03'
        break
    size = struct.unpack_from('<I', data, i + 2)[0]
    body = data[i + 6:i + 6 + size]
    if kind == 1:
        body = body.replace(b'\r\n', b'\r').replace(b'\n', b'\r')
    out += bytes([0x80, kind]) + struct.pack('<I', len(body)) + body
    i += 6 + size
open(sys.argv[2], 'wb').write(out)
PY

# --- TrueType: a subset of DejaVu Sans with an empty digital-signature
# table, which sorts first among its tables ---
pyftsubset /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf --text="Carve" \
  --output-file=subset.ttf 2>/dev/null
/usr/bin/python3 - subset.ttf "$here/sample.ttf" <<'PY'
import sys
from fontTools.ttLib import TTFont, newTable
font = TTFont(sys.argv[1])
dsig = newTable('DSIG')
dsig.ulVersion, dsig.usFlag, dsig.usNumSigs, dsig.signatureRecords = 1, 0, 0, []
font['DSIG'] = dsig
font.save(sys.argv[2])
PY

# --- ICC profile: ghostscript's sRGB profile ---
cp /usr/share/color/icc/ghostscript/srgb.icc "$here/sample.icc"

# --- PKCS #12 key store: a self-signed EC certificate and its key ---
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 \
  -subj "/CN=carving fixture" -keyout key.pem -out cert.pem 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -passout pass:fixture \
  -out "$here/sample.pfx"
chmod 644 "$here/sample.pfx"

# --- Disc image: one small file, no padding ---
mkdir disc
printf 'A file on a recovered disc image.\n' > disc/readme.txt
genisoimage -quiet -no-pad -V CARVING -o "$here/sample.iso" disc

# --- tar: two members, one block per record ---
mkdir members
printf 'First tar member.\n' > members/one.txt
seq 1 300 > members/two.txt
tar --format=ustar -b 1 --owner=0 --group=0 --numeric-owner --mtime=@1700000000 \
  -cf "$here/sample.tar" -C members one.txt two.txt

# --- Shell link: target ID list, link info, Unicode relative path and two
# extra-data blocks (known folder, tracker) before the terminal block ---
python3 - "$here/sample.lnk" <<'PY'
import struct, sys
clsid = bytes.fromhex('0114020000000000C000000000000046')
flags = 0x01 | 0x02 | 0x08 | 0x80  # ID list, link info, relative path, Unicode
header = struct.pack('<I16sII', 0x4C, clsid, flags, 0x20)
header += struct.pack('<QQQ', 0x01D9000000000000, 0x01D9000000000000, 0x01D9000000000000)
header += struct.pack('<IiIH', 1234, 0, 1, 0) + bytes(10)
assert len(header) == 76
item = b'\x1fP' + bytes.fromhex('E04FD020EA3A6910A2D808002B30309D')  # a root folder item
id_list = struct.pack('<H', len(item) + 2) + item + b'\x00\x00'
id_list = struct.pack('<H', len(id_list)) + id_list
label = b'DATA\x00'
volume = struct.pack('<IIII', 0x10 + len(label), 3, 0x12345678, 0x10) + label
base_path = b'C:\\carve\\target.txt\x00'
suffix = b'\x00'
info_header = 0x1C
volume_at = info_header
base_at = volume_at + len(volume)
suffix_at = base_at + len(base_path)
link_info_size = suffix_at + len(suffix)
link_info = struct.pack('<IIIIIII', link_info_size, info_header, 1, volume_at, base_at, 0, suffix_at)
link_info += volume + base_path + suffix
relative = '.\\target.txt'
rel = struct.pack('<H', len(relative)) + relative.encode('utf-16-le')
known_folder = struct.pack('<II', 0x1C, 0xA000000B) + bytes(range(16)) + struct.pack('<I', 0x14)
tracker = struct.pack('<IIII', 0x60, 0xA0000003, 0x58, 0) + b'carvehost'.ljust(16, b'\x00') + bytes(64)
terminal = b'\x00\x00\x00\x00'
open(sys.argv[1], 'wb').write(header + id_list + link_info + rel + known_folder + tracker + terminal)
PY
