#!/bin/sh
# Makes the archive, text-document and executable fixtures of this folder.
# Needs: ghostscript, p7zip-full, gcab, libreoffice, iconv, mingw-w64
# (gcc and windres), python3. Run from any folder; writes next to itself.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# --- PDF: ghostscript, and the same document with an incremental update ---
cat > doc.ps <<'PS'
%!PS
/Helvetica findfont 14 scalefont setfont
72 720 moveto (Recovered document sample) show
72 700 moveto (Second line of text for the carving test.) show
showpage
PS
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -dCompressPages=false \
   -sOutputFile="$here/sample.pdf" doc.ps
python3 - "$here/sample.pdf" "$here/sample-update.pdf" <<'PY'
import re, sys
base = open(sys.argv[1], 'rb').read()
prev = int(re.findall(rb'startxref\s+(\d+)', base)[-1])
size = int(re.findall(rb'/Size\s+(\d+)', base)[-1])
root = re.findall(rb'/Root\s+(\d+ \d+ R)', base)[-1]
obj = b'%d 0 obj\n<</Producer(carving fixture update)>>\nendobj\n' % size
off = len(base) + 1
body = b'\n' + obj
xref_at = len(base) + len(body)
xref = b'xref\n%d 1\n%010d 00000 n \ntrailer\n<</Size %d/Root %s/Info %d 0 R/Prev %d>>\nstartxref\n%d\n%%%%EOF\n' % (
    size, off, size + 1, root, size, prev, xref_at)
open(sys.argv[2], 'wb').write(base + body + xref)
PY

# --- 7-Zip and cabinet: two small members each ---
printf 'Archive member one.\n' > one.txt
seq 1 400 > two.txt
7z a -bd -mx=5 "$here/sample.7z" one.txt two.txt >/dev/null
gcab -c "$here/sample.cab" one.txt two.txt

# --- RAR 4: no free creator, so the blocks are built here: marker block,
# archive header, one stored file block, end-of-archive block ---
python3 - "$here/sample.rar" <<'PY'
import struct, sys, zlib
def block(htype, flags, fields, data=b''):
    size = 7 + len(fields)
    body = struct.pack('<BHH', htype, flags, size) + fields
    crc = zlib.crc32(body) & 0xFFFF
    return struct.pack('<H', crc) + body + data
member = b'Stored RAR member for the carving tests.\n' * 40
name = b'member.txt'
fileds = struct.pack('<IIBIIBBHI', len(member), len(member), 2, zlib.crc32(member),
                     0x5A8C6B21, 20, 0x30, len(name), 0x20) + name
out = b'Rar!\x1a\x07\x00'
out += block(0x73, 0, b'\x00' * 6)
out += block(0x74, 0x8000, fileds, member)
out += block(0x7B, 0x4000, b'')
open(sys.argv[1], 'wb').write(out)
PY

# --- RTF and HTML from LibreOffice; UTF-16 copies of the HTML ---
printf 'Carving sample\n\nA paragraph with {braces} and a backslash \\ inside.\nSecond paragraph.\n' > sample.txt
soffice --headless --convert-to rtf sample.txt >/dev/null 2>&1
soffice --headless --convert-to html sample.txt >/dev/null 2>&1
cp sample.rtf "$here/sample.rtf"
cp sample.html "$here/sample.html"
{ printf '\377\376'; iconv -f UTF-8 -t UTF-16LE sample.html; } > "$here/sample-utf16le.html"
{ printf '\376\377'; iconv -f UTF-8 -t UTF-16BE sample.html; } > "$here/sample-utf16be.html"

# --- MHT: a web archive message as browsers save them, with a 41-character
# boundary and the closing delimiter at its end ---
python3 - "$here/sample.mht" sample.html <<'PY'
import sys
html = open(sys.argv[2], 'rb').read()
b = b'----=_NextPart_000_0000_01D9A2B3.C4D5E6F0'  # 41 characters
msg = (b'From: <Saved by a browser>\r\nSubject: Carving sample\r\nMIME-Version: 1.0\r\n'
       b'Content-Type: multipart/related;\r\n\ttype="text/html";\r\n\tboundary="' + b + b'"\r\n\r\n'
       b'This is a multi-part message in MIME format.\r\n\r\n--' + b + b'\r\n'
       b'Content-Type: text/html; charset="utf-8"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n'
       + html.replace(b'\n', b'\r\n') + b'\r\n\r\n--' + b + b'--\r\n')
open(sys.argv[1], 'wb').write(msg)
PY

# --- Executables: a program and a library with version resources ---
cat > prog.c <<'C'
#include <windows.h>
int main(void) { MessageBoxA(0, "carving sample", "sample", 0); return 0; }
C
cat > lib.c <<'C'
__declspec(dllexport) int SampleAdd(int a, int b) { return a + b; }
C
version_rc() {  # $1 OriginalFilename, $2 file type (1 app, 2 dll)
  cat <<RC
1 VERSIONINFO
FILEVERSION 1,0,0,0
PRODUCTVERSION 1,0,0,0
FILETYPE $2
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "FileDescription", "Carving sample"
      VALUE "FileVersion", "1.0.0.0"
      VALUE "OriginalFilename", "$1"
      VALUE "ProductName", "Carving sample"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
}
version_rc sample.exe 1 > prog.rc
version_rc SAMPLE.DLL 2 > lib.rc
x86_64-w64-mingw32-windres prog.rc -O coff -o prog.res
x86_64-w64-mingw32-windres lib.rc -O coff -o lib.res
x86_64-w64-mingw32-gcc -Os -s -o "$here/sample.exe" prog.c prog.res
x86_64-w64-mingw32-gcc -Os -s -shared -o "$here/sample.dll" lib.c lib.res
